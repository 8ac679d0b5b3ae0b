#include "quickshare/ShareCardView.h"

#include <algorithm>

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/DesktopLauncher.h"
#include "quickshare/ShareCard.h"
#include "quickshare/ShareCardSymbol.h"
#include "quickshare/WrappedText.h"

namespace tessaly {

namespace {

using ShareCardText::Action;
using ShareCardText::Tint;

constexpr int kPadding = 18;
constexpr int kSymbolColumn = 36;
constexpr int kProgressSteps = 1000;
constexpr int kTitleLines = 2;

QColor tintColor(Tint tint, const QPalette& palette)
{
    switch (tint) {
    case Tint::accent:
        return palette.color(QPalette::Highlight);
    case Tint::green:
        return { 0x2d, 0xa4, 0x4e };
    case Tint::orange:
        return { 0xe0, 0x7b, 0x00 };
    case Tint::secondary:
        break;
    }
    QColor secondary = palette.color(QPalette::WindowText);
    secondary.setAlphaF(0.55f);
    return secondary;
}

void makeSecondary(QWidget* widget)
{
    QPalette palette = widget->palette();
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.68f);
    palette.setColor(QPalette::WindowText, color);
    widget->setPalette(palette);
}

void scaleFont(QWidget* widget, qreal factor, bool bold)
{
    QFont font = widget->font();
    font.setPointSizeF(font.pointSizeF() * factor);
    font.setBold(bold);
    widget->setFont(font);
}

} // namespace

ShareCardView::ShareCardView(ShareCard& card, DesktopLauncher& desktop)
    : QWidget(
        nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus)
    , m_card(card)
    , m_desktop(desktop)
{
    setWindowTitle(QStringLiteral("Quick Share"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAutoFillBackground(true);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    row->setSpacing(14);
    m_symbol = new QLabel(this);
    m_symbol->setObjectName(QStringLiteral("symbol"));
    m_symbol->setFixedSize(kSymbolColumn, ShareCardSymbol::kSize);
    m_symbol->setAlignment(Qt::AlignCenter);
    row->addWidget(m_symbol, 0, Qt::AlignTop);

    auto* column = new QVBoxLayout;
    column->setSpacing(8);
    m_title = new WrappedText(this, kTitleLines);
    m_title->setObjectName(QStringLiteral("title"));
    scaleFont(m_title, 1.08, true);
    column->addWidget(m_title);
    m_detail = new WrappedText(this, 4);
    m_detail->setObjectName(QStringLiteral("detail"));
    makeSecondary(m_detail);
    column->addWidget(m_detail);
    // The code is the one check the user can make against the phone: it stands out, on its own.
    m_code = new WrappedText(this);
    m_code->setObjectName(QStringLiteral("code"));
    scaleFont(m_code, 1.15, true);
    column->addWidget(m_code);
    m_codeHint = new WrappedText(this);
    m_codeHint->setObjectName(QStringLiteral("codeHint"));
    scaleFont(m_codeHint, 0.92, false);
    makeSecondary(m_codeHint);
    m_codeHint->setText(ShareCardText::codeHint());
    column->addWidget(m_codeHint);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setRange(0, kProgressSteps);
    m_progress->setTextVisible(false);
    m_progress->setFixedHeight(8);
    column->addWidget(m_progress);
    m_progressLine = new WrappedText(this);
    m_progressLine->setObjectName(QStringLiteral("progressLine"));
    scaleFont(m_progressLine, 0.92, false);
    makeSecondary(m_progressLine);
    column->addWidget(m_progressLine);
    m_buttons = new QHBoxLayout;
    m_buttons->setContentsMargins(0, 4, 0, 0);
    column->addLayout(m_buttons);
    row->addLayout(column, 1);
    addButtons();

    connect(&m_card, &ShareCard::phaseChanged, this, &ShareCardView::redraw);
    connect(&m_card, &ShareCard::receivedBytesChanged, this, &ShareCardView::showProgress);
    redraw();
    fitToContent();
}

ShareCardView::~ShareCardView() = default;

void ShareCardView::fitToContent()
{
    layout()->activate();
    setFixedSize(kWidth, layout()->totalHeightForWidth(kWidth));
}

void ShareCardView::redraw()
{
    using Kind = ShareCard::Phase::Kind;
    const Kind phase = m_card.phase().kind;
    // A long sender name loses its end, not the words around it.
    const QString title = m_card.title();
    const QString sender = QString::fromStdString(m_card.share().sender);
    const qsizetype quoted
        = sender.isEmpty() ? -1 : title.indexOf(QStringLiteral("“") + sender + QStringLiteral("”"));
    m_title->setText(title, quoted < 0 ? -1 : quoted + 1, sender.size());
    m_detail->setText(m_card.detail());
    m_code->setText(ShareCardText::codeLine(m_card.share()));
    m_code->setVisible(phase == Kind::asking);
    m_codeHint->setVisible(phase == Kind::asking);
    m_progress->setVisible(phase == Kind::receiving);
    m_progressLine->setVisible(phase == Kind::receiving);
    showSymbol();
    showProgress();
    showButtons();
}

void ShareCardView::showProgress()
{
    const double fraction
        = ShareCardText::progressFraction(m_card.receivedBytes(), m_card.share().totalBytes);
    m_progress->setValue(static_cast<int>(fraction * kProgressSteps));
    m_progressLine->setText(m_card.progressLine());
}

void ShareCardView::showSymbol()
{
    const QColor tint = tintColor(ShareCardText::tint(m_card.phase()), palette());
    m_symbol->setPixmap(ShareCardSymbol::pixmap(m_card.symbol(), tint, devicePixelRatioF()));
}

void ShareCardView::addButtons()
{
    m_buttons->addStretch(1);
    // In this order every phase's buttons stand as they should, leading to trailing.
    for (const Action action : { Action::decline, Action::accept, Action::stop, Action::showInFolder,
             Action::openLink, Action::close }) {
        auto* button = new QPushButton(ShareCardText::actionLabel(action), this);
        button->setObjectName(ShareCardText::actionKey(action));
        // Clicking a card must not pull the focus away from the user's window.
        button->setFocusPolicy(Qt::NoFocus);
        button->setDefault(action == Action::accept);
        connect(button, &QPushButton::clicked, this, [this, action] { act(action); });
        m_buttons->addWidget(button);
        m_actionButtons.emplace_back(action, button);
    }
}

void ShareCardView::showButtons()
{
    const std::vector<Action> shown = ShareCardText::actions(m_card.phase());
    for (const auto& [action, button] : m_actionButtons)
        button->setVisible(std::find(shown.begin(), shown.end(), action) != shown.end());
}

void ShareCardView::act(Action action)
{
    switch (action) {
    case Action::decline:
    case Action::accept:
        m_card.answer(action == Action::accept);
        return;
    case Action::stop:
        m_card.stop();
        return;
    case Action::showInFolder:
        m_desktop.showInFolder(m_card.phase().result.savedFiles);
        break;
    case Action::openLink:
        if (const auto link = m_card.openableLink())
            m_desktop.openLink(*link);
        break;
    case Action::close:
    case Action::copy:
        break;
    }
    m_card.close();
}

void ShareCardView::paintEvent(QPaintEvent*)
{
    // Without a window frame the card needs its own edge to stand out from what is behind it.
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void ShareCardView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        showSymbol();
    QWidget::changeEvent(event);
}

} // namespace tessaly
