#pragma once

#include <memory>

#include <QObject>

class QSocketNotifier;
class QSystemTrayIcon;

namespace tessaly {

class AppState;
class MenuContent;
class PairingWindow;
class SetupWindowController;

// The application itself: a tray icon with its menu and no main window. It starts the
// controller once the event loop runs and lets it clean up however the process ends.
class TessalyApp : public QObject {
    Q_OBJECT

public:
    explicit TessalyApp(AppState& state, QObject* parent = nullptr);
    ~TessalyApp() override;

    MenuContent& menu() const { return *m_menu; }
    SetupWindowController& setupWindow() const { return *m_setupWindow; }

    // Makes SIGINT, SIGTERM and SIGHUP quit through the normal path, so the controller's
    // clean-up runs for them too.
    static void routeTerminationSignals();

private:
    void updateIcon();
    void quit();

    AppState& m_state;
    std::unique_ptr<MenuContent> m_menu;
    std::unique_ptr<SetupWindowController> m_setupWindow;
    std::unique_ptr<PairingWindow> m_pairingWindow;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    bool m_panelDrawsIcon = false;
    bool m_cleanedUp = false;
};

} // namespace tessaly
