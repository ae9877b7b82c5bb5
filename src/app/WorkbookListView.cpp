#include "app/WorkbookListView.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>

namespace vellumcast::app {

WorkbookListView::WorkbookListView(worklist::WorkbookList& list, QWidget* parent)
    : QTreeView(parent)
    , m_list(list)
    , m_dragCursor(Qt::ClosedHandCursor)
{
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(false); // entries never leave the list as data
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDropIndicatorShown(false);
    setAllColumnsShowFocus(true);
    header()->setStretchLastSection(false);
    // A long path loses its middle, not the file name at its end.
    setTextElideMode(Qt::ElideMiddle);
}

QStringList LocalPaths(const QMimeData* data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            paths << url.toLocalFile();
    }
    return paths;
}

bool AcceptAsCopy(QDropEvent* event)
{
    // The list only reads what is dropped. A drop completed as a move would let the source
    // delete the person's workbook, so the drop is a copy, or a link where no copy is offered.
    for (Qt::DropAction action : { Qt::CopyAction, Qt::LinkAction }) {
        if (event->possibleActions() & action) {
            event->setDropAction(action);
            event->accept();
            return true;
        }
    }
    return false;
}

std::optional<size_t> WorkbookListView::SelectedPosition() const
{
    if (!selectionModel())
        return std::nullopt;
    const QModelIndexList rows = selectionModel()->selectedRows();
    if (rows.isEmpty() || rows.first().row() < 0)
        return std::nullopt;
    return static_cast<size_t>(rows.first().row());
}

void WorkbookListView::SelectPosition(size_t position)
{
    if (!model() || position >= static_cast<size_t>(model()->rowCount()))
        return;
    const QModelIndex index = model()->index(static_cast<int>(position), 0);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void WorkbookListView::mousePressEvent(QMouseEvent* event)
{
    QTreeView::mousePressEvent(event);
    if (!m_editable)
        return;
    // A press on an entry selects it and makes it the dragged entry; a press on empty
    // space keeps the entry dragged last.
    if (indexAt(event->position().toPoint()).isValid()) {
        viewport()->setCursor(m_dragCursor);
        m_drag.ItemClicked(m_list, SelectedPosition());
    }
    m_drag.ButtonPressed();
}

void WorkbookListView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_editable || !m_drag.ButtonDown()) {
        QTreeView::mouseMoveEvent(event);
        return;
    }
    const QModelIndex under = indexAt(event->position().toPoint());
    std::optional<size_t> underPosition;
    if (under.isValid())
        underPosition = static_cast<size_t>(under.row());
    const int screenY = static_cast<int>(event->globalPosition().y());
    if (const auto swap = m_drag.PointerMoved(m_list, underPosition, screenY)) {
        SelectPosition(swap->select);
        if (swap->scrollTo)
            scrollTo(model()->index(static_cast<int>(*swap->scrollTo), 0));
    }
    event->accept();
}

void WorkbookListView::mouseReleaseEvent(QMouseEvent* event)
{
    m_drag.ButtonReleased();
    viewport()->unsetCursor();
    QTreeView::mouseReleaseEvent(event);
}

void WorkbookListView::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The double-click removes the entry selected now, wherever it was double-clicked.
    QTreeView::mouseDoubleClickEvent(event);
    if (m_editable)
        emit RemoveRequested();
}

void WorkbookListView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Delete) {
        if (m_editable)
            emit RemoveRequested();
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void WorkbookListView::dragEnterEvent(QDragEnterEvent* event)
{
    // Only local files and folders can be dropped: a web link or a remote item is refused
    // while it is dragged, not silently dropped.
    if (!m_editable || LocalPaths(event->mimeData()).isEmpty() || !AcceptAsCopy(event))
        event->ignore();
}

void WorkbookListView::dragMoveEvent(QDragMoveEvent* event)
{
    if (!m_editable || LocalPaths(event->mimeData()).isEmpty() || !AcceptAsCopy(event))
        event->ignore();
}

void WorkbookListView::dropEvent(QDropEvent* event)
{
    const QStringList paths = m_editable ? LocalPaths(event->mimeData()) : QStringList();
    if (paths.isEmpty() || !AcceptAsCopy(event)) {
        event->ignore();
        return;
    }
    emit PathsDropped(paths);
}

} // namespace vellumcast::app
