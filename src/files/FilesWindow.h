#pragma once

#include <functional>
#include <string>

#include <QWidget>

class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace tessaly {

class FileBrowser;
class FileTable;

// The "Phone Files" window: one phone folder as a table, the way around the phone's folders,
// and the copies in both directions. A view of its `FileBrowser`; it keeps no state of its own.
class FilesWindow : public QWidget {
    Q_OBJECT

public:
    explicit FilesWindow(FileBrowser& browser, QWidget* parent = nullptr);

    // Shows the lines behind "Details…"; the application's details window by default.
    std::function<void(const std::string&)> showDetails;

    FileTable& table() const { return *m_table; }
    // Re-reads everything shown from the browser.
    void update();

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QWidget* makeTopBar();
    QWidget* makeBottomBar();
    bool acceptable(const QDropEvent* event) const;
    void placeOverlays();

    FileBrowser& m_browser;
    FileTable* m_table = nullptr;
    QToolButton* m_up = nullptr;
    QToolButton* m_places = nullptr;
    QLabel* m_path = nullptr;
    QLabel* m_link = nullptr;
    QToolButton* m_reload = nullptr;
    QLabel* m_notice = nullptr;
    QProgressBar* m_loading = nullptr;
    QProgressBar* m_copying = nullptr;
    QLabel* m_activity = nullptr;
    QLabel* m_result = nullptr;
    QPushButton* m_details = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_send = nullptr;
    QPushButton* m_save = nullptr;
    QWidget* m_highlight = nullptr;
};

} // namespace tessaly
