#pragma once
// What both windows look like and find: stored check box values, the program's data
// files, its icon and hand pointer, placement on the screen and the plain colours.

#include <QCursor>
#include <QIcon>
#include <QString>
#include <Qt>
#include <string>

class QWidget;

namespace vellumcast::app {

// A check box value as stored: 0 cleared, 1 checked, 2 greyed.
int CheckValue(Qt::CheckState state);
Qt::CheckState CheckStateFor(int value);

// An optional file or folder of the program's (the skin, the pointers, the samples) by its
// name: beside the program, else in its data folder PREFIX/share/vellumcast where an
// installation puts it; the path beside the program when neither holds it.
std::string ProgramDataPath(const std::string& programFolder, const std::string& name);

// The application's icon: "vellumcast" from the icon theme, else the bundled picture.
QIcon AppIcon();
// The hand pointer: HAND-M.CUR from the program folder when it loads, else the
// platform's pointing hand. Throws when the file is there but cannot be read.
QCursor LoadCursorFile(const QString& path);
// Puts the window in the middle of the available area of its screen, made no larger than
// that area.
void CenterOnScreen(QWidget* window);
// The window, its frames, check boxes, option buttons and labels on the button-face colour.
void SetPlainColours(QWidget* window);

} // namespace vellumcast::app
