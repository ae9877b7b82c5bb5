// The desktop program's own command line: what it prints without opening a window, and
// the paths it lists.

#include "AppTestSupport.h"

#include "app/ProgramArguments.h"

#include <QProcess>
#include <QProcessEnvironment>

using namespace vellumcast;
using namespace vellumcast::apptest;

class TestProgramStart : public QObject {
    Q_OBJECT

private slots:
    void optionsAndPathsAreTold()
    {
        const auto parsed = app::ParseProgramArguments(
            { "book.xlsx", "--help", "../in/./sheets", "--", "--version", "-" }, "/work/out");
        QVERIFY(parsed.help);
        QVERIFY(!parsed.version); // after --, a name
        QVERIFY(parsed.error.isEmpty());
        QCOMPARE(parsed.paths,
            (QStringList { "/work/out/book.xlsx", "/work/in/sheets", "/work/out/--version", "/work/out/-" }));

        const auto unknown = app::ParseProgramArguments({ "--frobnicate", "a.xls" }, "/w");
        QVERIFY(unknown.error.contains("--frobnicate"));
        QVERIFY(app::ParseProgramArguments({ "-V" }, "/w").version);
    }

    // --help and --version print and end, even where no display can be opened.
    void helpAndVersionNeedNoDisplay()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
            environment.remove(name);
        environment.insert("QT_QPA_PLATFORM", "xcb"); // fails at once without a display
        const auto run = [&](const QStringList& arguments) {
            QProcess program;
            program.setProcessEnvironment(environment);
            program.start(VELLUMCAST_PROGRAM, arguments);
            if (!program.waitForFinished(20000))
                program.kill();
            return std::make_pair(program.exitCode(), QString::fromLocal8Bit(program.readAllStandardOutput()));
        };
        const auto help = run({ "--help" });
        QCOMPARE(help.first, 0);
        QVERIFY2(help.second.startsWith("Usage: vellumcast "), qPrintable(help.second));
        const auto version = run({ "--version" });
        QCOMPARE(version.first, 0);
        QVERIFY2(version.second.startsWith("vellumcast "), qPrintable(version.second));
        QCOMPARE(run({ "--no-such-option" }).first, 2);
    }
};

QTEST_MAIN(TestProgramStart)
#include "TestProgramStart.moc"
