#pragma once
// Push buttons with an object name, a caption and keyboard shortcuts that leave the
// caption as it is.

#include "options/Settings.h"

#include <QComboBox>
#include <QKeySequence>
#include <QList>
#include <QObject>
#include <string>
#include <string_view>
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

// The window's size and place as stored under key, kept inside the available area of a
// screen; false (and the window as it was) when none is stored or the value is no window
// geometry.
bool RestoreGeometry(QWidget* window, options::SettingsStore& store, const options::SettingKey& key);
void SaveGeometry(QWidget* window, options::SettingsStore& store, const options::SettingKey& key);
// The check of a stored window geometry that only Qt can make (options::SettingCheck):
// "" for any other key, an empty value or one in the form of Qt's saved geometries.
std::string WindowGeometryProblem(const options::SettingKey& key, std::string_view stored);

// Makes the window no larger than the available area of its screen (the one holding its
// centre, else the primary) and moves it inside that area.
void FitToScreen(QWidget* window);

// Lays a window's controls on a page that scrolls inside it, so the window can be made
// smaller than its controls need (a small screen, a large scale factor) and what does not
// fit is scrolled to. Returns the page, for the window's layout. The window asks for the
// page's whole size while the screen has room for it.
QWidget* ScrollingPage(QWidget* window);

// A drop-down list that assistive technology reads by its accessible name, with its
// current item as its value; a plain QComboBox reads as its current item on Linux.
class NamedComboBox final : public QComboBox {
    Q_OBJECT
public:
    explicit NamedComboBox(QWidget* parent = nullptr);
};

// Makes assistive technology read the program's windows as windows (not as plain panes)
// and the named drop-down lists by their names. Once per program; more calls do nothing.
void InstallAccessibleInterfaces();

} // namespace vellumcast::app
