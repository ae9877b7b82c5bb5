#pragma once
// The desktop program's own command line: --help and --version, which print and end the
// program before any window (or display) is needed, and the workbooks and folders to list.

#include <QString>
#include <QStringList>

namespace vellumcast::app {

struct ProgramArguments {
    bool help = false;
    bool version = false;
    QString error; // an option the program does not know
    // Files and folders as absolute, clean paths, in the order given.
    QStringList paths;
};

// Reads the arguments after the program's name. "--" ends the options, so a file named
// "--help" can still be listed; relative paths are taken from workingFolder.
ProgramArguments ParseProgramArguments(const QStringList& arguments, const QString& workingFolder);

QString ProgramUsageText();
QString ProgramVersionText();

// What the program says when no window can be opened: which display it tried (display and
// wayland are $DISPLAY and $WAYLAND_DISPLAY, "" when unset), why, as Qt put it (may be
// ""), and that vellumcast-cli exports without one.
QString NoDisplayText(const QString& display, const QString& wayland, const QString& why);

} // namespace vellumcast::app
