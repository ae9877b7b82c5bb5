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

} // namespace vellumcast::app
