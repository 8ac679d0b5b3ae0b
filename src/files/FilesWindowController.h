#pragma once

#include <memory>

#include <QObject>

namespace tessaly {

class FileBrowser;
class FilesWindow;

// Opens the one files window: made on first use and kept, also when closed.
class FilesWindowController : public QObject {
    Q_OBJECT

public:
    explicit FilesWindowController(FileBrowser& browser, QObject* parent = nullptr);
    ~FilesWindowController() override;

    // The application's controller, over `FileBrowser::shared()`.
    static FilesWindowController& shared();

    // Opens the window or brings it forward; the listing is read again either way.
    void show();
    FilesWindow* window() const { return m_window.get(); }

private:
    FileBrowser& m_browser;
    std::unique_ptr<FilesWindow> m_window;
};

} // namespace tessaly
