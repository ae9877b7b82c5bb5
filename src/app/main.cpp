// Vellumcast: lists workbooks, exports them to plain text and saves the texts.

#include "app/AppPorts.h"
#include "app/Form1.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName("Vellumcast");
    QApplication::setOrganizationName("Tamsworth");
    QApplication::setWindowIcon(vellumcast::app::AppIcon());
    // The results window is hidden, not closed, while the main window shows, and the
    // other way round; closing either ends the program through its own handler.
    QApplication::setQuitOnLastWindowClosed(false);

    vellumcast::app::QtSettingsStore store;
    vellumcast::app::Form1 mainWindow(vellumcast::app::DefaultContext(store));
    mainWindow.Form_Load();
    mainWindow.show();
    return QApplication::exec();
}
