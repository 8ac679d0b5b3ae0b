#pragma once

#include <functional>
#include <set>

#include <QObject>

class QAction;
class QActionGroup;
class QMenu;

namespace tessaly {

class AppState;

// The tray menu: a view of the controller. It keeps no state of its own; every redraw
// reads the controller, every choice calls it.
class MenuContent : public QObject {
    Q_OBJECT

public:
    explicit MenuContent(AppState& state, QObject* parent = nullptr);
    ~MenuContent() override;

    // An action carrying this property titles the items after it rather than being one.
    static constexpr const char* kHeadingProperty = "heading";

    QMenu* menu() const { return m_menu; }

    // Another view of this content (the Tessaly window) counts as an open menu while shown.
    void viewShown(const QObject* view);
    void viewHidden(const QObject* view);

    // Re-reads every text, visibility, check mark and enabled state from the controller.
    void update();

signals:
    void quitRequested();
    void setupGuideRequested();
    void pairingRequested();

private:
    // Counts `menu` among the open views: the controller hears of the first opening and the last
    // closing only, however many submenus come and go in between.
    void watchOpening(QMenu* menu);
    QAction* addText(QMenu* into = nullptr);
    static void setText(QAction* item, const QString& text);
    static void showLine(QAction* item, bool shown);
    QAction* addToggle(const QString& text, std::function<void(bool)> apply);
    // The "Phone" submenu: one checkable item per ready phone, rebuilt when they change.
    void updatePhones();

    AppState& m_state;
    QMenu* m_menu;
    std::set<const QObject*> m_openViews;
    int m_titleIndent = -1;

    QAction* m_status = nullptr;
    QAction* m_mirroringLine = nullptr;
    QAction* m_pocketLines = nullptr;
    QAction* m_quality = nullptr;
    QAction* m_qualityChecking = nullptr;
    QMenu* m_phoneMenu = nullptr;
    QActionGroup* m_phoneItems = nullptr;
    QAction* m_mirror = nullptr;
    QAction* m_stopMirroring = nullptr;
    QAction* m_saveScreenshot = nullptr;
    QAction* m_phoneFiles = nullptr;
    QAction* m_goWireless = nullptr;
    QAction* m_pairOverWiFi = nullptr;
    QMenu* m_hotspotMenu = nullptr;
    QAction* m_connectHotspot = nullptr;
    QAction* m_disconnectWireless = nullptr;
    QAction* m_wirelessWarning = nullptr;
    QAction* m_hotspotData = nullptr;
    QAction* m_busy = nullptr;
    QActionGroup* m_presets = nullptr;
    QAction* m_pocketMode = nullptr;
    QAction* m_stayAwake = nullptr;
    QAction* m_realKeyboard = nullptr;
    QAction* m_audio = nullptr;
    QAction* m_showFPS = nullptr;
    QAction* m_autoDisable = nullptr;
    QAction* m_launchAtLogin = nullptr;
    QAction* m_quickShare = nullptr;
    QAction* m_quickShareLine = nullptr;
    QAction* m_lastErrorDetails = nullptr;
    QAction* m_quit = nullptr;
};

} // namespace tessaly
