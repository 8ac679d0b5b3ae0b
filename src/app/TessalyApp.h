#pragma once

#include <memory>
#include <string>

#include <QObject>
#include <QPointer>

#include <QCoroTask>

#include "app/TrayWatch.h"

class QSocketNotifier;
class QSystemTrayIcon;

namespace tessaly {

class AppState;
class MenuContent;
class MenuWindow;
class PairingWindow;
class SetupWindowController;

// The application itself: a tray icon with its menu, and the Tessaly window with the same
// content where no tray shows the icon. It starts the controller once the event loop runs and
// lets it clean up however the process ends.
class TessalyApp : public QObject {
    Q_OBJECT

public:
    explicit TessalyApp(AppState& state, TrayWatch::Settings tray = {}, QObject* parent = nullptr);
    ~TessalyApp() override;

    MenuContent& menu() const { return *m_menu; }
    MenuWindow& window() const { return *m_window; }

    // Brings the Tessaly window forward (another start asked for it). Wayland lets it take the
    // focus only with the launcher's `activationToken`.
    void showWindow(const QString& activationToken = {});
    SetupWindowController& setupWindow() const { return *m_setupWindow; }
    // None until "Pair over Wi-Fi (QR code)…" was first chosen.
    PairingWindow* pairingWindow() const { return m_pairingWindow.get(); }

    // Makes SIGINT, SIGTERM and SIGHUP quit through the normal path, so the controller's
    // clean-up runs for them too.
    static void routeTerminationSignals();

private:
    void updateIcon();
    void openMenuBesidePanel();
    static QCoro::Task<> openPairing(QPointer<TessalyApp> self, std::string adb);
    void quit();

    AppState& m_state;
    std::unique_ptr<MenuContent> m_menu;
    std::unique_ptr<SetupWindowController> m_setupWindow;
    std::unique_ptr<PairingWindow> m_pairingWindow;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    // After the menu content, which it shows, and before it in destruction.
    std::unique_ptr<MenuWindow> m_window;
    std::unique_ptr<TrayWatch> m_trayWatch;
    bool m_panelDrawsIcon = false;
    bool m_cleanedUp = false;
};

} // namespace tessaly
