#include "files/FilesWindowController.h"

#include <QGuiApplication>
#include <QScreen>

#include "controller/AppState.h"
#include "files/FileBrowser.h"
#include "files/FilesWindow.h"

namespace tessaly {

FilesWindowController::FilesWindowController(FileBrowser& browser, QObject* parent)
    : QObject(parent)
    , m_browser(browser)
{
}

FilesWindowController::~FilesWindowController() = default;

FilesWindowController& FilesWindowController::shared()
{
    static FilesWindowController controller(FileBrowser::shared());
    return controller;
}

void FilesWindowController::show()
{
    if (!m_window) {
        m_window = std::make_unique<FilesWindow>(m_browser);
        m_window->showDetails
            = [](const std::string& text) { AppState::shared().presenter().showDetails(text); };
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = m_window->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            m_window->move(frame.topLeft());
        }
    }
    // An active window does not become active again, and a compositor may refuse to activate
    // a window it did not see asked for (Wayland): either way the folder is read here.
    if (m_window->isActiveWindow() || !m_window->isVisible())
        m_browser.reload();
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

} // namespace tessaly
