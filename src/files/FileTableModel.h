#pragma once

#include <memory>
#include <string>
#include <vector>

#include <QAbstractTableModel>
#include <QDateTime>
#include <QHash>
#include <QIcon>

#include "files/FileOrder.h"
#include "phone/PhoneFiles.h"

namespace tessaly {

class FileBrowser;

// The rows of the files table: one listing of one folder, in the chosen order.
class FileTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { NameColumn, SizeColumn, DateColumn, ColumnCount };

    explicit FileTableModel(FileBrowser& browser, QObject* parent = nullptr);

    // Whether `shown` of `folder` is what the rows show already.
    bool shows(const FileOrder& shown, const PhoneFolder& folder) const;
    // Takes the browser's listing; false when it is the one already shown.
    bool show(std::shared_ptr<const FileOrder> shown, const PhoneFolder& folder);
    const PhoneFolder& folder() const { return m_folder; }
    const PhoneFile& file(int row) const { return m_order->files()[m_rows[static_cast<std::size_t>(row)]]; }
    int rowOf(const std::string& name) const;
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    void sort(int column, Qt::SortOrder order) override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }

    // "1.2 MB" (decimal units); "—" for a folder.
    static QString sizeText(const PhoneFile& file);
    // Medium date and short time; "Today" and "Yesterday" for recent days.
    static QString dateText(std::int64_t seconds, const QDateTime& now);
    QIcon icon(const PhoneFile& file) const;

private:
    void arrange();

    FileBrowser& m_browser;
    std::shared_ptr<const FileOrder> m_order; // none before the first listing
    PhoneFolder m_folder;
    std::vector<std::size_t> m_rows;
    int m_sortColumn = DateColumn;
    Qt::SortOrder m_sortOrder = Qt::DescendingOrder;
    mutable QHash<QString, QIcon> m_icons;
};

} // namespace tessaly
