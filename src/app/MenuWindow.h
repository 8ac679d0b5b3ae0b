#pragma once

#include <QWidget>

class QAction;
class QLabel;

namespace tessaly {

class MenuContent;

// The "Tessaly" window: the tray menu's own items laid out as a window, for desktops without a
// tray and for a second start. It draws every line, button and toggle from the menu's actions
// and follows their changes, so the menu stays the one place that knows what is shown when.
class MenuWindow : public QWidget {
    Q_OBJECT

public:
    explicit MenuWindow(MenuContent& content, QWidget* parent = nullptr);
    ~MenuWindow() override;

    // No tray to show the icon in: the window opens with a word on how to get one, once per
    // time the tray goes missing; when a tray comes, a window opened for that reason goes.
    void setTrayMissing(bool missing);

    // Shows the window and asks for the focus (a second start, the application menu).
    void bringForward();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* viewOf(QAction* action);
    QWidget* lineOf(QAction* action, bool heading);
    void placeOnce();

    MenuContent& m_content;
    QLabel* m_trayHint = nullptr;
    bool m_trayMissing = false;
    bool m_shownForMissingTray = false;
    bool m_placed = false;
};

} // namespace tessaly
