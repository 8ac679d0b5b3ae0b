#pragma once

#include <optional>
#include <set>
#include <string>

#include <QTableView>

#include "phone/PhoneFiles.h"

namespace tessaly {

class FileBrowser;
// Takes a drag as a copy when `acceptable`, else refuses it; gives `acceptable` back.
bool answerDrag(QDropEvent* event, bool acceptable);

class FileTableModel;

// The table of the files window: sortable columns, rows dragged out as files, files dropped
// onto a folder row go into that folder and anywhere else into the shown folder.
class FileTable : public QTableView {
    Q_OBJECT

public:
    explicit FileTable(FileBrowser& browser, QWidget* parent = nullptr);

    FileTableModel& tableModel() const { return *m_model; }
    // Shows the browser's listing; the selection survives within one folder, by name.
    void showListing();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool acceptable(const QDropEvent* event) const;
    std::set<std::string> selectedNames() const;
    void select(const std::set<std::string>& names);
    void openRow(const QModelIndex& index);

    FileBrowser& m_browser;
    FileTableModel* m_model;
    int m_dropRow = -1;
};

} // namespace tessaly
