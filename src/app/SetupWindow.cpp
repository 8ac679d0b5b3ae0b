#include "app/SetupWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

#include "controller/AppState.h"

namespace tessaly {

namespace {

// The step icons stand at the size of a large heading.
constexpr int kIconSize = 26;
constexpr int kIconGap = 12;

enum class Mark { done, warning, step2, step3 };

QPixmap canvas(qreal ratio)
{
    QPixmap pixmap(QSize(kIconSize, kIconSize) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// Drawn rather than taken from a theme when the theme has no such icon: a filled green
// circle with a tick, a filled orange triangle with "!", or a ring around the step's number.
QPixmap drawMark(Mark mark, const QColor& ink, qreal ratio)
{
    QPixmap pixmap = canvas(ratio);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(kIconSize / 100.0, kIconSize / 100.0);
    QPen white(Qt::white, 11, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    switch (mark) {
    case Mark::done: {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x2d, 0xa4, 0x4e));
        painter.drawEllipse(QRectF(4, 4, 92, 92));
        painter.setPen(white);
        painter.drawPolyline(QPolygonF({ QPointF(29, 52), QPointF(44, 67), QPointF(72, 36) }));
        break;
    }
    case Mark::warning: {
        const QColor orange(0xf0, 0x8c, 0x00);
        painter.setPen(QPen(orange, 12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(orange);
        painter.drawPolygon(QPolygonF({ QPointF(50, 11), QPointF(92, 86), QPointF(8, 86) }));
        painter.setPen(white);
        painter.drawLine(QPointF(50, 38), QPointF(50, 60));
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        painter.drawEllipse(QPointF(50, 75), 6.5, 6.5);
        break;
    }
    case Mark::step2:
    case Mark::step3: {
        painter.setPen(QPen(ink, 7));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QRectF(6, 6, 88, 88));
        QFont font = QApplication::font();
        font.setBold(true);
        font.setPixelSize(56);
        painter.setFont(font);
        painter.drawText(QRectF(0, 0, 100, 100), Qt::AlignCenter, mark == Mark::step2 ? "2" : "3");
        break;
    }
    }
    return pixmap;
}

QPixmap markPixmap(Mark mark, const QWidget& where)
{
    const qreal ratio = where.devicePixelRatioF();
    const char* themeName = mark == Mark::done ? "emblem-default"
        : mark == Mark::warning                ? "dialog-warning"
                                               : nullptr;
    // No theme names a numbered circle, so those are always drawn.
    if (themeName && QIcon::hasThemeIcon(QString::fromLatin1(themeName)))
        return QIcon::fromTheme(QString::fromLatin1(themeName)).pixmap(QSize(kIconSize, kIconSize), ratio);
    return drawMark(mark, where.palette().color(QPalette::WindowText), ratio);
}

const char* markName(Mark mark)
{
    switch (mark) {
    case Mark::done:
        return "done";
    case Mark::warning:
        return "warning";
    case Mark::step2:
        return "step-2";
    case Mark::step3:
        return "step-3";
    }
    return "";
}

void showMark(QLabel* icon, Mark mark)
{
    const QString name = QString::fromLatin1(markName(mark));
    if (icon->property(SetupView::kMarkProperty).toString() == name)
        return;
    icon->setProperty(SetupView::kMarkProperty, name);
    icon->setPixmap(markPixmap(mark, *icon));
}

QLabel* paragraph(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

void makeSecondary(QLabel* label)
{
    QPalette palette = label->palette();
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.62f);
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

QLabel* addStep(QVBoxLayout* page, const QString& title, QVBoxLayout*& content, QWidget* parent)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(kIconGap);
    auto* icon = new QLabel(parent);
    icon->setFixedSize(kIconSize, kIconSize);
    row->addWidget(icon, 0, Qt::AlignTop);
    content = new QVBoxLayout;
    content->setSpacing(4);
    auto* heading = paragraph(title, parent);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    heading->setMinimumHeight(kIconSize);
    content->addWidget(heading);
    row->addLayout(content, 1);
    page->addLayout(row);
    return icon;
}

} // namespace

SetupView::SetupView(SetupGuide& guide, QWidget* parent)
    : QWidget(parent)
    , m_guide(guide)
{
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(24, 20, 24, 20);
    page->setSpacing(16);

    auto* header = new QVBoxLayout;
    header->setSpacing(2);
    auto* title = paragraph(QStringLiteral("Set up Tessaly"), this);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
    title->setFont(titleFont);
    header->addWidget(title);
    auto* subtitle = paragraph(QStringLiteral("Three steps. You only do this once."), this);
    makeSecondary(subtitle);
    header->addWidget(subtitle);
    page->addLayout(header);

    QVBoxLayout* content = nullptr;
    m_engineIcon = addStep(page, QStringLiteral("The mirroring engine"), content, this);
    m_engineIcon->setObjectName(QStringLiteral("engineIcon"));
    m_engineLine = paragraph(QString(), this);
    m_engineLine->setObjectName(QStringLiteral("engineLine"));
    content->addWidget(m_engineLine);
    m_install = new QWidget(this);
    auto* install = new QVBoxLayout(m_install);
    install->setContentsMargins(0, 4, 0, 0);
    install->setSpacing(6);
    install->addWidget(paragraph(
        QStringLiteral("Open a terminal and run this line, then quit and reopen Tessaly:"), m_install));
    auto* command = new QLabel(QStringLiteral("sudo apt install adb scrcpy"), m_install);
    command->setObjectName(QStringLiteral("installCommand"));
    command->setTextFormat(Qt::PlainText);
    command->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    command->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    command->setCursor(Qt::IBeamCursor);
    command->setAutoFillBackground(true);
    command->setBackgroundRole(QPalette::Base);
    command->setFrameShape(QFrame::StyledPanel);
    command->setMargin(6);
    install->addWidget(command);
    content->addWidget(m_install);

    m_debuggingIcon = addStep(page, QStringLiteral("On your phone: turn on USB debugging"), content, this);
    m_debuggingIcon->setObjectName(QStringLiteral("debuggingIcon"));
    content->addWidget(paragraph(
        QStringLiteral("1. Open Settings → About phone and tap “Build number” seven times."), this));
    content->addWidget(paragraph(
        QStringLiteral("2. Go back to Settings → System → Developer options and turn on “USB debugging”."),
        this));
    auto* xiaomi = paragraph(QStringLiteral("Xiaomi, POCO and Redmi: tap “OS version” instead of “Build "
                                            "number”, find Developer options under Additional settings, "
                                            "and also turn on “USB debugging (Security settings)” so the "
                                            "computer can click and type."),
        this);
    makeSecondary(xiaomi);
    content->addWidget(xiaomi);

    m_cableIcon = addStep(page, QStringLiteral("Plug in the cable and tap “Allow”"), content, this);
    m_cableIcon->setObjectName(QStringLiteral("cableIcon"));
    content->addWidget(paragraph(QStringLiteral("Connect the phone to this computer with a USB cable and "
                                                "unlock it. Tick “Always allow from this computer”, then tap "
                                                "Allow."),
        this));
    m_phoneLine = paragraph(QString(), this);
    m_phoneLine->setObjectName(QStringLiteral("phoneLine"));
    QFont phoneFont = m_phoneLine->font();
    phoneFont.setBold(true);
    m_phoneLine->setFont(phoneFont);
    content->addWidget(m_phoneLine);
    auto* hint
        = paragraph(QStringLiteral("After this, “Go Wireless” in the menu lets you unplug the cable."), this);
    makeSecondary(hint);
    content->addWidget(hint);
    m_mirror = new QPushButton(QStringLiteral("Mirror Phone"), this);
    m_mirror->setObjectName(QStringLiteral("mirrorButton"));
    m_mirror->setMinimumWidth(120);
    connect(m_mirror, &QPushButton::clicked, this, &SetupView::mirrorRequested);
    content->addSpacing(4);
    content->addWidget(m_mirror, 0, Qt::AlignLeft);

    page->addStretch(1);
    auto* note = paragraph(QStringLiteral("Only want to send files from the phone to this computer? Tick "
                                          "“Receive with Quick Share” in the menu. That needs none of these "
                                          "steps: no cable and no USB debugging."),
        this);
    makeSecondary(note);
    page->addWidget(note);

    connect(&m_guide, &SetupGuide::phoneChanged, this, &SetupView::redraw);
    connect(&m_guide, &SetupGuide::engineLineChanged, this, &SetupView::redraw);
    redraw();
}

SetupView::~SetupView() = default;

void SetupView::redraw()
{
    using Kind = SetupGuide::PhoneStatus::Kind;
    const Kind phone = m_guide.phone().kind;
    const bool found = m_guide.engineFound();
    showMark(m_engineIcon, found ? Mark::done : Mark::warning);
    m_engineLine->setText(QString::fromStdString(m_guide.engineLine()));
    m_install->setVisible(!found);
    showMark(
        m_debuggingIcon, phone == Kind::ready || phone == Kind::waitingForAllow ? Mark::done : Mark::step2);
    showMark(m_cableIcon, phone == Kind::ready ? Mark::done : Mark::step3);
    m_phoneLine->setText(QString::fromStdString(m_guide.phoneLine()));
    m_mirror->setEnabled(m_guide.canMirror());
}

SetupWindowController::SetupWindowController(AppState& state, int pollIntervalMs, QObject* parent)
    : QObject(parent)
    , m_state(state)
    , m_pollIntervalMs(pollIntervalMs)
{
}

SetupWindowController::~SetupWindowController() = default;

void SetupWindowController::show()
{
    if (!m_window)
        createWindow();
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    m_guide->windowOpened();
}

void SetupWindowController::createWindow()
{
    // The guide learns whether the tools are there now, at the first opening.
    m_guide = std::make_unique<SetupGuide>(m_state, m_pollIntervalMs);
    m_window = std::make_unique<QWidget>(
        nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    m_window->setWindowTitle(QStringLiteral("Getting Started"));
    m_window->setFixedSize(kWidth, kHeight);

    auto* view = new SetupView(*m_guide);
    connect(view, &SetupView::mirrorRequested, this, &SetupWindowController::mirrorPhone);
    // Large desktop fonts may need more room than the fixed window has: scroll rather than clip.
    auto* scroll = new QScrollArea(m_window.get());
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidgetResizable(true);
    scroll->setWidget(view);
    auto* layout = new QVBoxLayout(m_window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        m_window->move(screen->availableGeometry().center() - m_window->rect().center());
    m_window->installEventFilter(this);
}

bool SetupWindowController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window.get() && event->type() == QEvent::Close && m_guide)
        m_guide->windowClosed();
    return QObject::eventFilter(watched, event);
}

void SetupWindowController::mirrorPhone()
{
    m_window->close();
    m_state.mirror();
}

} // namespace tessaly
