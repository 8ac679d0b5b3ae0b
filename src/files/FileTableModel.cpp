#include "files/FileTableModel.h"

#include <set>

#include <QApplication>
#include <QLocale>
#include <QMimeDatabase>
#include <QPalette>
#include <QStyle>
#include <QTimeZone>

#include "files/FileBrowser.h"
#include "files/PromiseMimeData.h"

namespace tessaly {

FileTableModel::FileTableModel(FileBrowser& browser, QObject* parent)
    : QAbstractTableModel(parent)
    , m_browser(browser)
{
}

bool FileTableModel::shows(const FileOrder& shown, const PhoneFolder& folder) const
{
    return m_order && folder == m_folder && (m_order.get() == &shown || m_order->files() == shown.files());
}

bool FileTableModel::show(std::shared_ptr<const FileOrder> shown, const PhoneFolder& folder)
{
    if (shows(*shown, folder))
        return false;
    beginResetModel();
    m_order = std::move(shown);
    m_folder = folder;
    m_rows = m_order->sorted(static_cast<FileOrder::Key>(m_sortColumn), m_sortOrder == Qt::AscendingOrder);
    endResetModel();
    return true;
}

int FileTableModel::rowOf(const std::string& name) const
{
    for (std::size_t row = 0; row < m_rows.size(); ++row) {
        if (file(static_cast<int>(row)).name == name)
            return static_cast<int>(row);
    }
    return -1;
}

int FileTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int FileTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString FileTableModel::sizeText(const PhoneFile& file)
{
    if (file.kind == PhoneFile::Kind::folder)
        return QStringLiteral("—");
    return QLocale().formattedDataSize(file.size, 1, QLocale::DataSizeSIFormat);
}

QString FileTableModel::dateText(std::int64_t seconds, const QDateTime& now)
{
    const QLocale locale;
    const QDateTime when = QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toLocalTime();
    QString format = locale.timeFormat(QLocale::ShortFormat);
    format.remove(QStringLiteral(":ss")); // the C locale's short time still has seconds
    const QString time = locale.toString(when.time(), format);
    const qint64 daysAgo = when.date().daysTo(now.date());
    if (daysAgo == 0)
        return QStringLiteral("Today at ") + time;
    if (daysAgo == 1)
        return QStringLiteral("Yesterday at ") + time;
    return locale.toString(when.date(), QStringLiteral("d MMM yyyy")) + QStringLiteral(" at ") + time;
}

QIcon FileTableModel::icon(const PhoneFile& file) const
{
    const bool folder = file.kind == PhoneFile::Kind::folder;
    const auto dot = file.name.rfind('.');
    const QString key = folder ? QStringLiteral("/")
                               : (dot == std::string::npos || dot == 0
                                       ? QString()
                                       : QString::fromStdString(file.name.substr(dot + 1)).toLower());
    if (const auto cached = m_icons.constFind(key); cached != m_icons.constEnd())
        return *cached;
    QStyle* style = QApplication::style();
    QIcon icon;
    if (folder) {
        icon = QIcon::fromTheme(QStringLiteral("folder"), style->standardIcon(QStyle::SP_DirIcon));
    } else {
        const QMimeType type = key.isEmpty()
            ? QMimeDatabase().mimeTypeForName(QStringLiteral("application/octet-stream"))
            : QMimeDatabase().mimeTypeForFile(QStringLiteral("x.") + key, QMimeDatabase::MatchExtension);
        icon = QIcon::fromTheme(type.iconName(),
            QIcon::fromTheme(type.genericIconName(), style->standardIcon(QStyle::SP_FileIcon)));
    }
    m_icons.insert(key, icon);
    return icon;
}

QVariant FileTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const PhoneFile& entry = file(index.row());
    switch (role) {
    case Qt::DisplayRole:
        if (index.column() == NameColumn)
            return QString::fromStdString(entry.name);
        if (index.column() == SizeColumn)
            return sizeText(entry);
        return dateText(entry.modified, QDateTime::currentDateTime());
    case Qt::DecorationRole:
        return index.column() == NameColumn ? QVariant(icon(entry)) : QVariant();
    case Qt::TextAlignmentRole:
        return index.column() == SizeColumn ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                            : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::ForegroundRole:
        if (index.column() != NameColumn) {
            QColor secondary = QApplication::palette().color(QPalette::Text);
            secondary.setAlphaF(0.6f);
            return secondary;
        }
        return {};
    default:
        return {};
    }
}

QVariant FileTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const QStringList titles
        = { QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Date Modified") };
    return titles.value(section);
}

Qt::ItemFlags FileTableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsDragEnabled;
    if (file(index.row()).kind == PhoneFile::Kind::folder)
        flags |= Qt::ItemIsDropEnabled;
    return flags;
}

void FileTableModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= ColumnCount)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // Rows move, so the selection (held as persistent indexes) follows the names.
    const QModelIndexList before = persistentIndexList();
    std::vector<std::size_t> entries;
    for (const QModelIndex& index : before)
        entries.push_back(m_rows[static_cast<std::size_t>(index.row())]);
    m_sortColumn = column;
    m_sortOrder = order;
    if (m_order)
        m_rows = m_order->sorted(static_cast<FileOrder::Key>(column), order == Qt::AscendingOrder);
    std::vector<int> rowOfEntry(m_rows.size());
    for (std::size_t row = 0; row < m_rows.size(); ++row)
        rowOfEntry[m_rows[row]] = static_cast<int>(row);
    QModelIndexList after;
    for (std::size_t i = 0; i < entries.size(); ++i)
        after << index(rowOfEntry[entries[i]], before[static_cast<qsizetype>(i)].column());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

QStringList FileTableModel::mimeTypes() const
{
    return { QStringLiteral("text/uri-list") };
}

QMimeData* FileTableModel::mimeData(const QModelIndexList& indexes) const
{
    std::vector<PromisedFile> promises;
    std::set<int> rows;
    for (const QModelIndex& index : indexes) {
        if (!rows.insert(index.row()).second)
            continue;
        if (auto promised = m_browser.promise(file(index.row())))
            promises.push_back(std::move(*promised));
    }
    if (promises.empty())
        return nullptr;
    return new PromiseMimeData(std::move(promises));
}

} // namespace tessaly
