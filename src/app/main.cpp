// Vellumcast: lists workbooks, exports them to plain text and saves the texts.

#include "app/AppPorts.h"
#include "app/Form1.h"
#include "app/LookAndFeel.h"
#include "app/ProgramArguments.h"

#include <QApplication>
#include <QDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

// While the application starts, what Qt says is held back: when no display can be opened,
// Qt's plugin messages and its abort give way to one sentence and exit status 1; otherwise
// they are told as they came.
bool g_starting = false;
std::vector<std::pair<QtMsgType, QString>> g_startMessages;
QtMessageHandler g_qtHandler = nullptr;

void StartMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (!g_starting)
        return g_qtHandler(type, context, message);
    if (type != QtFatalMsg) {
        g_startMessages.emplace_back(type, message);
        return;
    }
    // Qt's first word on the display says why ("could not connect to display :1"), else
    // its first warning (a platform plugin that cannot be found).
    QString why;
    for (const auto& [kind, text] : g_startMessages) {
        if (kind == QtDebugMsg || kind == QtInfoMsg)
            continue;
        if (why.isEmpty() || text.contains("display", Qt::CaseInsensitive))
            why = text.trimmed();
        if (text.contains("display", Qt::CaseInsensitive))
            break;
    }
    const QString text
        = vellumcast::app::NoDisplayText(qEnvironmentVariable("DISPLAY"), qEnvironmentVariable("WAYLAND_DISPLAY"), why);
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    std::_Exit(1);
}

} // namespace

int main(int argc, char* argv[])
{
    // --help and --version answer before the application starts, so they need no display.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const auto parsed = vellumcast::app::ParseProgramArguments(arguments, QDir::currentPath());
    if (!parsed.error.isEmpty()) {
        std::fprintf(stderr, "vellumcast: %s\nTry 'vellumcast --help'.\n", qPrintable(parsed.error));
        return 2;
    }
    if (parsed.help || parsed.version) {
        const QString text = parsed.help ? vellumcast::app::ProgramUsageText() : vellumcast::app::ProgramVersionText();
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }

    g_starting = true;
    g_qtHandler = qInstallMessageHandler(StartMessage);
    QApplication application(argc, argv);
    g_starting = false;
    for (const auto& [type, message] : std::exchange(g_startMessages, {}))
        g_qtHandler(type, QMessageLogContext(), message);

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
    mainWindow.show();
    // Files and folders given on the command line (a file manager's "Open with") join the
    // list as dropped ones do, once the window shows, since a folder may take a while to
    // search; then the start button takes the focus, ready for the run.
    if (!parsed.paths.isEmpty()) {
        QTimer::singleShot(0, &mainWindow, [&mainWindow, paths = parsed.paths] {
            mainWindow.DropPaths(paths);
            mainWindow.findChild<QWidget*>("PushButton2")->setFocus();
        });
    }
    return QApplication::exec();
}
