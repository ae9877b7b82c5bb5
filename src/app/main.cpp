// Vellumcast: lists workbooks, exports them to plain text and saves the texts.

#include "app/AppPorts.h"
#include "app/Form1.h"

#include <QApplication>
#include <QFileInfo>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName("Vellumcast");
    QApplication::setOrganizationName("Tamsworth");
    // Ties the windows to the installed desktop entry (its icon and name in the panel).
    QApplication::setDesktopFileName("vellumcast");
    QApplication::setWindowIcon(vellumcast::app::AppIcon());
    // The results window is hidden, not closed, while the main window shows, and the
    // other way round; closing either ends the program through its own handler.
    QApplication::setQuitOnLastWindowClosed(false);

    vellumcast::app::QtSettingsStore store;
    vellumcast::app::Form1 mainWindow(vellumcast::app::DefaultContext(store));
    mainWindow.Form_Load();
    // Files given on the command line (a file manager's "Open with") join the list, and
    // the start button takes the focus, ready for the run.
    const QStringList files = QApplication::arguments().mid(1);
    for (const QString& file : files)
        mainWindow.List().Append(QFileInfo(file).absoluteFilePath().toStdString());
    mainWindow.show();
    if (!files.isEmpty())
        mainWindow.findChild<QWidget*>("PushButton2")->setFocus();
    return QApplication::exec();
}
