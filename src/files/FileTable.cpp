#include "files/FileTable.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QPainter>
#include <QTimer>

#include "files/FileBrowser.h"
#include "files/FileTableModel.h"
#include "files/PromiseMimeData.h"

namespace tessaly {

FileTable::FileTable(FileBrowser& browser, QWidget* parent)
    : QTableView(parent)
    , m_browser(browser)
    , m_model(new FileTableModel(browser, this))
{
    setModel(m_model);
    setSelectionBehavior(SelectRows);
    setSelectionMode(ExtendedSelection);
    setAlternatingRowColors(true);
    setShowGrid(false);
    setWordWrap(false);
    setFrameShape(NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setIconSize(QSize(18, 18));
    setTextElideMode(Qt::ElideMiddle);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(24);
    QHeaderView* header = horizontalHeader();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setHighlightSections(false);
    header->setMinimumSectionSize(70);
    header->setSectionResizeMode(FileTableModel::NameColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(FileTableModel::SizeColumn, QHeaderView::Interactive);
    header->setSectionResizeMode(FileTableModel::DateColumn, QHeaderView::Interactive);
    header->resizeSection(FileTableModel::SizeColumn, 90);
    header->resizeSection(FileTableModel::DateColumn, 190);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // A click sorts names A to Z first, sizes and dates largest and newest first.
    connect(header, &QHeaderView::sectionClicked, this, [this, header](int column) {
        Qt::SortOrder order = column == FileTableModel::NameColumn ? Qt::AscendingOrder : Qt::DescendingOrder;
        if (column == m_model->sortColumn())
            order = m_model->sortOrder() == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
        header->setSortIndicator(column, order);
        m_model->sort(column, order);
    });
    header->setSortIndicator(FileTableModel::DateColumn, Qt::DescendingOrder);

    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(DragDrop);
    setDefaultDropAction(Qt::CopyAction);

    connect(this, &QAbstractItemView::doubleClicked, this, &FileTable::openRow);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        // Posted: the browser's change notice must not redraw the table inside its own callback.
        QTimer::singleShot(0, this, [this] { m_browser.setSelectedNames(selectedNames()); });
    });
}

std::set<std::string> FileTable::selectedNames() const
{
    std::set<std::string> names;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        names.insert(m_model->file(index.row()).name);
    return names;
}

// One pass over the rows; neighbouring rows make one range, so an all-selected folder is one range.
void FileTable::select(const std::set<std::string>& names)
{
    QItemSelection selection;
    const int rows = m_model->rowCount();
    for (int row = 0; row < rows;) {
        if (names.count(m_model->file(row).name) == 0) {
            ++row;
            continue;
        }
        const int first = row;
        while (row < rows && names.count(m_model->file(row).name) != 0)
            ++row;
        selection.select(m_model->index(first, 0), m_model->index(row - 1, FileTableModel::ColumnCount - 1));
    }
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void FileTable::showListing()
{
    if (m_model->shows(*m_browser.shown(), m_browser.folder()))
        return;
    const bool sameFolder = m_model->folder() == m_browser.folder();
    const std::set<std::string> kept = sameFolder ? selectedNames() : std::set<std::string> {};
    m_model->show(m_browser.shown(), m_browser.folder());
    select(kept);
}

void FileTable::openRow(const QModelIndex& index)
{
    if (!index.isValid())
        return;
    const PhoneFile& file = m_model->file(index.row());
    if (file.kind == PhoneFile::Kind::folder)
        m_browser.open(m_model->folder().child(file.name));
}

void FileTable::startDrag(Qt::DropActions)
{
    const QModelIndexList rows = selectionModel()->selectedRows();
    QMimeData* promised = m_model->mimeData(rows);
    if (promised == nullptr)
        return;
    auto* drag = new QDrag(this);
    drag->setMimeData(promised);
    if (rows.size() == 1)
        drag->setPixmap(m_model->icon(m_model->file(rows.front().row())).pixmap(32, 32));
    m_browser.setDraggingOut(true);
    drag->exec(Qt::CopyAction, Qt::CopyAction);
    m_browser.setDraggingOut(false);
}

bool FileTable::acceptable(const QDropEvent* event) const
{
    return event->source() != this && qobject_cast<const PromiseMimeData*>(event->mimeData()) == nullptr
        && !m_browser.isDraggingOut() && m_browser.isConnected() && event->mimeData()->hasUrls();
}

void FileTable::paintEvent(QPaintEvent* event)
{
    QTableView::paintEvent(event);
    if (m_dropRow < 0)
        return;
    // The folder row a drop would go into.
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
    const QRect row = visualRect(m_model->index(m_dropRow, 0))
                          .united(visualRect(m_model->index(m_dropRow, FileTableModel::ColumnCount - 1)));
    painter.drawRoundedRect(row.adjusted(1, 1, -1, -1), 4, 4);
}

bool answerDrag(QDropEvent* event, bool acceptable)
{
    if (acceptable) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
    return acceptable;
}

void FileTable::dragEnterEvent(QDragEnterEvent* event)
{
    if (answerDrag(event, acceptable(event)))
        m_browser.setDropTarget(true);
}

void FileTable::dragMoveEvent(QDragMoveEvent* event)
{
    if (!answerDrag(event, acceptable(event)))
        return;
    const QModelIndex index = indexAt(event->position().toPoint());
    const int row
        = index.isValid() && m_model->file(index.row()).kind == PhoneFile::Kind::folder ? index.row() : -1;
    if (row != m_dropRow) {
        m_dropRow = row;
        viewport()->update();
    }
}

void FileTable::dragLeaveEvent(QDragLeaveEvent* event)
{
    m_dropRow = -1;
    m_browser.setDropTarget(false);
    QTableView::dragLeaveEvent(event);
}

void FileTable::dropEvent(QDropEvent* event)
{
    m_dropRow = -1;
    m_browser.setDropTarget(false);
    if (!acceptable(event)) {
        event->ignore();
        return;
    }
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty()) {
        event->ignore();
        return;
    }
    const QModelIndex index = indexAt(event->position().toPoint());
    const bool ontoFolder = index.isValid() && m_model->file(index.row()).kind == PhoneFile::Kind::folder;
    m_browser.send(std::vector<QUrl>(urls.begin(), urls.end()),
        ontoFolder ? m_model->folder().child(m_model->file(index.row()).name) : m_model->folder());
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

} // namespace tessaly
