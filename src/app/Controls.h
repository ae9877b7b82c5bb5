#pragma once
// Push buttons with an object name, a caption and keyboard shortcuts that leave the
// caption as it is.

#include "options/Settings.h"

#include <QKeySequence>
#include <QList>
#include <QObject>
#include <vector>

class QPushButton;
class QTreeView;
class QWidget;

namespace vellumcast::app {

// A push button that Enter clicks while it has the focus. Each of keys clicks it from
// anywhere in its window, only while it is enabled; the tool tip names the keys.
QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, const QList<QKeySequence>& keys = {});

// Keeps a list's columns at their design widths, or, while its viewport is wider than
// they are together, widens them in proportion to fill it, so long paths are not cut in
// a large window.
class ColumnsFollowWidth final : public QObject {
public:
    explicit ColumnsFollowWidth(QTreeView* view);
    void SetDesignWidths(std::vector<int> widths);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Fit();

    QTreeView* m_view;
    QWidget* m_viewport;
    std::vector<int> m_widths;
};

// The window's size and place as stored under key; false (and the window as it was) when
// none is stored or the value is no window geometry.
bool RestoreGeometry(QWidget* window, options::SettingsStore& store, const options::SettingKey& key);
void SaveGeometry(QWidget* window, options::SettingsStore& store, const options::SettingKey& key);

} // namespace vellumcast::app
