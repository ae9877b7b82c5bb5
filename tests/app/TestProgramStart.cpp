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

    QTemporaryDir m_work;

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

    // Without a display the program says so, and that vellumcast-cli needs none, instead
    // of Qt's plugin messages and an abort (exit status 134): whether no display is named
    // or the one named cannot be reached.
    void withoutADisplayItSaysSoAndEnds_data()
    {
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("said");
        QTest::newRow("none named") << QString() << QString()
                                    << "vellumcast: there is no display to open the window on (neither DISPLAY nor "
                                       "WAYLAND_DISPLAY is set)\n";
        QTest::newRow("none named, X11 asked for") << QString() << "xcb"
                                                   << "vellumcast: there is no display to open the window on";
        QTest::newRow("one that cannot be reached") << ":4917"
                                                    << "xcb"
                                                    << "vellumcast: the display cannot be opened (DISPLAY=:4917): ";
    }
    void withoutADisplayItSaysSoAndEnds()
    {
        QFETCH(QString, display);
        QFETCH(QString, platform);
        QFETCH(QString, said);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
            environment.remove(name);
        if (!display.isEmpty())
            environment.insert("DISPLAY", display);
        if (!platform.isEmpty())
            environment.insert("QT_QPA_PLATFORM", platform);
        const QString book = WriteFile(m_work.path(), "book.csv", "1\n");
        QProcess program;
        program.setProcessEnvironment(environment);
        program.start(VELLUMCAST_PROGRAM, { book });
        QVERIFY(program.waitForFinished(20000));
        const QString error = QString::fromLocal8Bit(program.readAllStandardError());
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        QVERIFY2(error.startsWith(said), qPrintable(error));
        QVERIFY2(error.endsWith("\nvellumcast-cli exports workbooks without a display, e.g. vellumcast-cli --output "
                                "FOLDER book.xlsx\n"),
            qPrintable(error));
        QCOMPARE(error.count('\n'), 2); // no message of Qt's besides
    }
};

QTEST_MAIN(TestProgramStart)
#include "TestProgramStart.moc"
