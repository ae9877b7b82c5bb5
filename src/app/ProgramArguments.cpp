#include "app/ProgramArguments.h"

#include <QDir>

#ifndef VELLUMCAST_VERSION
#define VELLUMCAST_VERSION "unknown"
#endif

namespace vellumcast::app {

ProgramArguments ParseProgramArguments(const QStringList& arguments, const QString& workingFolder)
{
    ProgramArguments parsed;
    bool options = true;
    for (const QString& argument : arguments) {
        if (options && argument == "--") {
            options = false;
        } else if (options && (argument == "--help" || argument == "-h")) {
            parsed.help = true;
        } else if (options && (argument == "--version" || argument == "-V")) {
            parsed.version = true;
        } else if (options && argument.startsWith('-') && argument != "-") {
            if (parsed.error.isEmpty())
                parsed.error = "unknown option " + argument + " (a file of that name follows --)";
        } else if (!argument.isEmpty()) {
            parsed.paths << QDir::cleanPath(QDir(workingFolder).absoluteFilePath(argument));
        }
    }
    return parsed;
}

QString ProgramUsageText()
{
    return "Usage: vellumcast [OPTIONS] [--] [WORKBOOK|FOLDER]...\n"
           "Opens the Vellumcast window, which exports workbooks to plain text files.\n"
           "Each WORKBOOK is listed; each FOLDER is searched for workbooks with its\n"
           "subfolders, as a dropped folder is.\n"
           "\n"
           "  -h, --help     show this text\n"
           "  -V, --version  show the version\n"
           "\n"
           "vellumcast-cli exports from the command line without a window.\n";
}

QString NoDisplayText(const QString& display, const QString& wayland, const QString& why)
{
    QString text;
    if (display.isEmpty() && wayland.isEmpty()) {
        text = "vellumcast: there is no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is set)";
    } else {
        QStringList named;
        if (!display.isEmpty())
            named << "DISPLAY=" + display;
        if (!wayland.isEmpty())
            named << "WAYLAND_DISPLAY=" + wayland;
        text = "vellumcast: the display cannot be opened (" + named.join(", ") + ")";
        if (!why.isEmpty())
            text += ": " + why;
    }
    return text
        + "\nvellumcast-cli exports workbooks without a display, e.g. vellumcast-cli --output FOLDER book.xlsx\n";
}

QString ProgramVersionText()
{
    return QString("vellumcast ") + VELLUMCAST_VERSION + "\n";
}

} // namespace vellumcast::app
