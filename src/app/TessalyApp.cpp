#include "app/TessalyApp.h"

#include <csignal>
#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QMenu>
#include <QScreen>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoroFuture>

#include "app/MenuContent.h"
#include "app/MenuPlacement.h"
#include "app/MenuWindow.h"
#include "app/PairingWindow.h"
#include "app/SetupWindow.h"
#include "app/TrayIcon.h"
#include "controller/AppState.h"
#include "controller/WirelessPairing.h"
#include "phone/ADBChoice.h"
#include "platform/AvahiBrowser.h"

namespace tessaly {

namespace {

int g_signalPipe[2] = { -1, -1 };

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
}

} // namespace

TessalyApp::TessalyApp(AppState& state, TrayWatch::Settings tray, QObject* parent)
    : QObject(parent)
    , m_state(state)
    , m_menu(std::make_unique<MenuContent>(state))
    , m_setupWindow(std::make_unique<SetupWindowController>(state))
{
    QApplication::setQuitOnLastWindowClosed(false);
    connect(m_menu.get(), &MenuContent::quitRequested, this, &TessalyApp::quit);
    // The controller asks for the guide on the first launch; the menu whenever the user wants it.
    connect(&m_state, &AppState::setupGuideRequested, m_setupWindow.get(), &SetupWindowController::show);
    connect(
        m_menu.get(), &MenuContent::setupGuideRequested, m_setupWindow.get(), &SetupWindowController::show);
    connect(m_menu.get(), &MenuContent::pairingRequested, this, [this] {
        QCoro::connect(openPairing(this, m_state.adb() ? m_state.adb()->executable : ""), this, [] {});
    });
    // However the event loop ends (menu, session manager, signal), tidy up exactly once.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (!std::exchange(m_cleanedUp, true))
            m_state.cleanupForQuit();
    });

    // Created and shown even without a tray: Qt docks the icon as soon as a panel offers one
    // (a login where this starts before the panel). Until then the window stands in for it.
    m_window = std::make_unique<MenuWindow>(*m_menu);
    m_trayWatch = std::make_unique<TrayWatch>(std::move(tray));
    const auto followTray = [this](bool missing) {
        if (missing)
            std::fputs("Tessaly: this desktop has no system tray yet, so the Tessaly window shows the "
                       "menu; the icon appears when a panel with a tray starts.\n",
                stderr);
        m_window->setTrayMissing(missing);
    };
    connect(m_trayWatch.get(), &TrayWatch::trayMissingChanged, this, followTray);
    if (m_trayWatch->trayMissing())
        followTray(true);
    m_panelDrawsIcon = TrayIcon::statusNotifierHostPresent();
    m_tray = std::make_unique<QSystemTrayIcon>();
    m_tray->setToolTip(QStringLiteral("Tessaly"));
    m_tray->setContextMenu(m_menu->menu());
    // A left click opens the same menu as a right click, beside the panel rather than over it.
    // A panel that draws the menu itself shows it on a right click and asks for nothing.
    connect(
        m_tray.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context)
                openMenuBesidePanel();
        });
    connect(&m_state, &AppState::changed, this, &TessalyApp::updateIcon);
    updateIcon();
    m_tray->show();

    QTimer::singleShot(0, this, [this] { m_state.start(); });
}

TessalyApp::~TessalyApp() = default;

void TessalyApp::updateIcon()
{
    m_tray->setIcon(TrayIcon::icon(m_state.isMirroring(),
        TrayIcon::shownNumber(m_state.showFPS(), m_state.isMirroring(), m_state.fps()), m_panelDrawsIcon));
}

void TessalyApp::showWindow(const QString& activationToken)
{
    // Qt's Wayland window hands the token to the compositor on activation and then drops it.
    if (!activationToken.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", activationToken.toUtf8());
    m_window->bringForward();
}

void TessalyApp::openMenuBesidePanel()
{
    QMenu* menu = m_menu->menu();
    const QPoint cursor = QCursor::pos();
    std::optional<QRect> panel = MenuPlacement::panelUnderPointer();
    if (!panel && m_tray->geometry().isValid())
        panel = m_tray->geometry();
    const QScreen* screen = QGuiApplication::screenAt(cursor);
    const QRect area = screen ? screen->geometry() : QRect(cursor, QSize(1, 1));
    const QPoint place = MenuPlacement::position(panel, cursor, menu->sizeHint(), area);
    // Qt's own tray has already opened it at the cursor on a right click.
    if (menu->isVisible())
        menu->move(place);
    else
        menu->popup(place);
}

QCoro::Task<> TessalyApp::openPairing(QPointer<TessalyApp> self, std::string adb)
{
    // The window opens with the code to scan, or with the explanation straight away when this adb
    // is too old to pair: its version is known first (asked once per executable). The future is a
    // variable of its own: GCC 12 destroys a lambda's captures twice when it is a temporary inside
    // a co_await.
    if (!adb.empty()) {
        QFuture<void> asked = QtConcurrent::run([adb] { ADBChoice::version(adb); });
        co_await asked;
    }
    if (!self)
        co_return;
    if (!self->m_pairingWindow)
        self->m_pairingWindow = std::make_unique<PairingWindow>(std::make_unique<WirelessPairing>(
            self->m_state, [] { return std::make_unique<AvahiBrowser>(); }));
    self->m_pairingWindow->open();
}

void TessalyApp::quit()
{
    QCoreApplication::quit();
}

void TessalyApp::routeTerminationSignals()
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        char buffer[16];
        while (::read(g_signalPipe[0], buffer, sizeof buffer) > 0) { }
        QCoreApplication::quit();
    });
    struct sigaction action { };
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : { SIGINT, SIGTERM, SIGHUP })
        sigaction(signal, &action, nullptr);
}

} // namespace tessaly
