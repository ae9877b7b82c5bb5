#pragma once
// ListView1 of the main window: shows the workbook list, takes files and folders dropped
// from a file manager (text/uri-list only), removes the selected entry on a double-click
// or Delete, and reorders entries when one is dragged over the others.

#include "worklist/ReorderDrag.h"
#include "worklist/WorkbookList.h"

#include <QCursor>
#include <QStringList>
#include <QTreeView>
#include <optional>

class QMimeData;

class QDropEvent;

namespace vellumcast::app {

// The local files and folders among dragged data, in order; remote items and web links
// are left out.
QStringList LocalPaths(const QMimeData* data);

// Accepts a drag or drop as a copy, or as a link when the source offers no copy; false
// (nothing accepted) when it offers neither.
bool AcceptAsCopy(QDropEvent* event);

class WorkbookListView final : public QTreeView {
    Q_OBJECT
public:
    WorkbookListView(worklist::WorkbookList& list, QWidget* parent = nullptr);

    // The selected position, none without a selection.
    std::optional<size_t> SelectedPosition() const;
    void SelectPosition(size_t position);

    // While a command runs, the list takes no edits, drops or drags.
    void SetEditable(bool editable) { m_editable = editable; }

    // The pointer shown over the list while an entry is dragged.
    void SetDragCursor(const QCursor& cursor) { m_dragCursor = cursor; }

signals:
    void RemoveRequested();
    void PathsDropped(const QStringList& paths);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    worklist::WorkbookList& m_list;
    worklist::ReorderDrag m_drag;
    QCursor m_dragCursor;
    bool m_editable = true;
};

} // namespace vellumcast::app
