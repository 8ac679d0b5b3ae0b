#include "app/PairingWindow.h"

#include <QCloseEvent>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "app/ErrorAlerts.h"
#include "app/QrCodeView.h"
#include "controller/WirelessPairing.h"

namespace tessaly {

namespace {

constexpr int kWidth = 560;

QLabel* wrappedLabel(const QString& text = {})
{
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QString text(const std::string& utf8)
{
    return QString::fromStdString(utf8);
}

QString duration(double seconds)
{
    const int whole = qRound(seconds);
    if (whole >= 60 && whole % 60 == 0)
        return whole == 60 ? QStringLiteral("1 minute") : QStringLiteral("%1 minutes").arg(whole / 60);
    return whole == 1 ? QStringLiteral("1 second") : QStringLiteral("%1 seconds").arg(whole);
}

} // namespace

PairingWindow::PairingWindow(std::unique_ptr<WirelessPairing> pairing, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_pairing(std::move(pairing))
{
    setWindowTitle(QStringLiteral("Pair over Wi-Fi"));
    setFixedWidth(kWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 16);
    layout->setSpacing(12);

    QLabel* heading = wrappedLabel(QStringLiteral("Pair your phone over Wi-Fi, no cable needed"));
    QFont bold = heading->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    heading->setFont(bold);
    layout->addWidget(heading);

    m_codeArea = new QWidget;
    auto* codeRow = new QHBoxLayout(m_codeArea);
    codeRow->setContentsMargins(0, 0, 0, 0);
    codeRow->setSpacing(16);
    m_qr = new QrCodeView;
    m_qr->setFixedSize(232, 232);
    codeRow->addWidget(m_qr, 0, Qt::AlignTop);
    QLabel* steps = wrappedLabel(
        QStringLiteral("1. On your phone (Android 11 or later), open Settings → Developer options → "
                       "Wireless debugging and switch it on.\n\n"
                       "2. Tap “Pair device with QR code”.\n\n"
                       "3. Point the phone at this code. Keep the phone and this computer on the same "
                       "home Wi-Fi.\n\n"
                       "The code works for %1.")
            .arg(duration(m_pairing->codeLifetime())));
    codeRow->addWidget(steps, 1, Qt::AlignTop);
    layout->addWidget(m_codeArea);

    m_status = wrappedLabel();
    m_status->setObjectName(kStatus);
    layout->addWidget(m_status);

    // The friendly-error shape of the alerts, inside the window: icon, title, advice, details.
    // Plain layouts rather than a widget of their own: the window's height then follows the
    // wrapped advice.
    auto* errorRow = new QHBoxLayout;
    m_errorIcon = new QLabel;
    m_errorIcon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(40, 40));
    errorRow->addWidget(m_errorIcon, 0, Qt::AlignTop);
    auto* errorText = new QVBoxLayout;
    m_errorTitle = wrappedLabel();
    m_errorTitle->setObjectName(kErrorTitle);
    QFont titleFont = m_errorTitle->font();
    titleFont.setBold(true);
    m_errorTitle->setFont(titleFont);
    m_errorAdvice = wrappedLabel();
    m_errorAdvice->setObjectName(kErrorAdvice);
    m_errorAdvice->setTextInteractionFlags(Qt::TextSelectableByMouse);
    errorText->addWidget(m_errorTitle);
    errorText->addWidget(m_errorAdvice);
    errorRow->addLayout(errorText, 1);
    layout->addLayout(errorRow);

    auto* buttons = new QHBoxLayout;
    m_showDetails = new QPushButton(QStringLiteral("Show Details"));
    m_showDetails->setObjectName(kShowDetails);
    m_tryAgain = new QPushButton(QStringLiteral("Try Again"));
    m_tryAgain->setObjectName(kTryAgain);
    m_cancel = new QPushButton(QStringLiteral("Cancel"));
    m_cancel->setObjectName(kCancel);
    buttons->addWidget(m_showDetails);
    buttons->addStretch(1);
    buttons->addWidget(m_tryAgain);
    buttons->addWidget(m_cancel);
    layout->addLayout(buttons);

    connect(m_showDetails, &QPushButton::clicked, this, [this] {
        if (const auto& error = m_pairing->error())
            ErrorAlerts::buildDetailsWindow(text(error->details))->exec();
    });
    connect(m_tryAgain, &QPushButton::clicked, this, [this] { m_pairing->start(); });
    connect(m_cancel, &QPushButton::clicked, this, &QWidget::close);
    connect(m_pairing.get(), &WirelessPairing::changed, this, &PairingWindow::redraw);
    redraw();
}

PairingWindow::~PairingWindow() = default;

void PairingWindow::open()
{
    m_pairing->start();
    show();
    raise();
    activateWindow();
}

void PairingWindow::closeEvent(QCloseEvent* event)
{
    m_pairing->cancel();
    event->accept();
}

void PairingWindow::redraw()
{
    const WirelessPairing& pairing = *m_pairing;
    const bool running = pairing.isRunning();
    const bool connected = pairing.stage() == WirelessPairing::Stage::connected;
    const auto& error = pairing.stage() == WirelessPairing::Stage::failed ? pairing.error() : std::nullopt;

    // The code belongs to the attempt under way; a finished or failed one has spent it, and none is
    // shown before adb is known to be able to pair.
    const bool codeShown = running && pairing.stage() != WirelessPairing::Stage::checkingAdb;
    m_qr->setText(codeShown ? pairing.qrText() : std::string());
    m_codeArea->setVisible(codeShown);
    m_qr->setSpent(pairing.stage() == WirelessPairing::Stage::pairing
        || pairing.stage() == WirelessPairing::Stage::connecting);

    m_status->setVisible(!error && pairing.stage() != WirelessPairing::Stage::idle);
    m_status->setText(connected ? QStringLiteral("✅ ") + text(pairing.status())
                + QStringLiteral("\nNext: choose “Mirror Phone” in the Tessaly menu.")
                                : QStringLiteral("⏳ ") + text(pairing.status()));

    m_errorIcon->setVisible(error.has_value());
    m_errorTitle->setVisible(error.has_value());
    m_errorAdvice->setVisible(error.has_value());
    m_errorTitle->setText(error ? text(error->title) : QString());
    m_errorAdvice->setText(error ? text(error->advice) : QString());
    m_showDetails->setVisible(error && !error->details.empty());
    // A newer adb needs a restart of Tessaly; another try would say the same.
    m_tryAgain->setVisible(error && !pairing.needsNewerAdb());
    m_cancel->setText(running ? QStringLiteral("Cancel") : QStringLiteral("Close"));
    // The height that the wrapped texts need at the window's fixed width.
    layout()->activate();
    setFixedHeight(layout()->totalHeightForWidth(kWidth));
}

} // namespace tessaly
