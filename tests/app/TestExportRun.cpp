// The export run through the windows and the results window: columns and rows per save
// mode, the preview, failures, "< Back", word wrap, the output folder and saving.

#include "AppTestSupport.h"

#include "app/Form1.h"
#include "app/Form2.h"
#include "app/ListModels.h"
#include "results/SaveResults.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QTreeView>
#include <map>
#include <memory>
#include <set>

using namespace vellumcast;
using namespace vellumcast::apptest;

namespace {

struct Row {
    QString preview, sheet, ordinal;
    QByteArray text;
};

QList<Row> RowsOf(app::Form2& results)
{
    QList<Row> rows;
    auto* model = results.ListView()->model();
    for (int r = 0; r < model->rowCount(); ++r) {
        Row row;
        row.preview = model->index(r, 0).data().toString();
        if (model->columnCount() > 1)
            row.sheet = model->index(r, 1).data().toString();
        if (model->columnCount() > 2)
            row.ordinal = model->index(r, 2).data().toString();
        row.text = QByteArray::fromStdString(results.Results().at(static_cast<size_t>(r)).text.Copy());
        rows << row;
    }
    return rows;
}

QStringList Headers(QTreeView* view)
{
    QStringList headers;
    for (int c = 0; c < view->model()->columnCount(); ++c)
        headers << view->model()->headerData(c, Qt::Horizontal).toString() + " "
                + QString::number(view->header()->sectionSize(c));
    return headers;
}

// The headers of designed widths ("Name W") as a view shows them: at those widths, or
// widened in proportion to fill a wider viewport.
QStringList AsShown(QTreeView* view, const QStringList& designed)
{
    int total = 0;
    for (const QString& header : designed)
        total += header.section(' ', -1).toInt();
    const int available = view->viewport()->width();
    QStringList shown;
    int start = 0, soFar = 0;
    for (const QString& header : designed) {
        soFar += header.section(' ', -1).toInt();
        const int end = available > total ? static_cast<int>(qint64 { available } * soFar / total) : soFar;
        shown << header.section(' ', 0, -2) + " " + QString::number(end - start);
        start = end;
    }
    return shown;
}

QString Describe(const QList<Row>& rows)
{
    QStringList lines;
    for (const auto& row : rows)
        lines << row.preview + "|" + row.sheet + "|" + row.ordinal + "|"
                + QString::fromUtf8(row.text.toPercentEncoding());
    return lines.join("\n");
}

} // namespace

class TestExportRun : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<FreshEnvironment> m_env;
    std::unique_ptr<LoggingStore> m_store;
    std::unique_ptr<ScriptedPrompts> m_prompts;
    bool m_ended = false;

    std::unique_ptr<app::Form1> NewWindow()
    {
        auto window = std::make_unique<app::Form1>(ContextFor(*m_store, *m_env, &m_ended));
        window->Form_Load();
        window->show();
        return window;
    }

    // Two workbooks: w1 with a 2×2 sheet holding a blank cell, w2 with one cell.
    QStringList TwoWorkbooks()
    {
        return { WriteFile(m_env->Work(), "in/w1.csv", "a,b\nc,\n"), WriteFile(m_env->Work(), "other/w2.csv", "x\n") };
    }

    void SetUpOptions(app::Form1& window, int modeIndex)
    {
        QTest::mouseClick(Find<QRadioButton>(&window, "Option2"), Qt::LeftButton); // ","
        QTest::mouseClick(Find<QCheckBox>(&window, "Check4"), Qt::LeftButton); // no quotes
        Find<QComboBox>(&window, "Combo1")->setCurrentIndex(modeIndex);
    }

    void Run(app::Form1& window, const QStringList& paths)
    {
        window.List().Clear();
        for (const auto& path : paths)
            window.List().Append(path.toStdString());
        window.PushButton2_Click();
    }

private slots:
    void init()
    {
        m_env = std::make_unique<FreshEnvironment>();
        m_store = std::make_unique<LoggingStore>();
        m_prompts = std::make_unique<ScriptedPrompts>();
        m_ended = false;
    }
    void cleanup()
    {
        m_prompts.reset();
        m_store.reset();
        m_env.reset();
    }

    void aRunInEachSaveMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("headers");
        QTest::addColumn<QString>("rows");
        const auto rows = [](const QList<Row>& list) { return Describe(list); };
        QTest::newRow("all sheets") << 0 << QStringList { "Preview 466" }
                                    << rows({ { "w1.txt", "", "", "w1\r\na,b\r\nc,\r\n\r\n\r\n\r\n" },
                                           { "w2.txt", "", "", "w2\r\nx\r\n\r\n\r\n\r\n" } });
        QTest::newRow("each sheet") << 1 << QStringList { "Preview 400", "Sheet 100" }
                                    << rows({ { "w1.txt", "w1", "", "a,b\r\nc,\r\n" },
                                           { "w2.txt", "w2", "", "x\r\n" } });
        QTest::newRow("each row") << 2 << QStringList { "Preview 300", "Sheet 100", "Row 80" }
                                  << rows({ { "w1.txt", "w1", "1", "a,b\r\n" }, { "w1.txt", "w1", "2", "c,\r\n" },
                                         { "w2.txt", "w2", "1", "x\r\n" } });
        QTest::newRow("each column") << 3 << QStringList { "Preview 300", "Sheet 100", "Column 80" }
                                     << rows({ { "w1.txt", "w1", "1", "a,c\r\n" }, { "w1.txt", "w1", "2", "b,\r\n" },
                                            { "w2.txt", "w2", "1", "x\r\n" } });
    }

    void aRunInEachSaveMode()
    {
        QFETCH(int, mode);
        QFETCH(QStringList, headers);
        QFETCH(QString, rows);
        auto window = NewWindow();
        SetUpOptions(*window, mode);
        Run(*window, TwoWorkbooks());
        QVERIFY2(m_prompts->shown.isEmpty(), qPrintable(m_prompts->shown.isEmpty() ? "" : m_prompts->shown[0].text));
        app::Form2* results = window->ResultsWindow();
        QVERIFY(results);
        QVERIFY(results->isVisible());
        QVERIFY(!window->isVisible());
        QCOMPARE(Headers(results->ListView()), AsShown(results->ListView(), headers));
        QCOMPARE(Describe(RowsOf(*results)), rows);
        // The preview shows the first result until an entry is chosen.
        auto* preview = Find<QPlainTextEdit>(results, "Text2");
        QVERIFY(preview->isReadOnly());
        QCOMPARE(preview->toPlainText(),
            QString::fromStdString(results->Results().front().text.Copy()).replace("\r\n", "\n"));
        QVERIFY(window->CommandsEnabled());
        QVERIFY(!app::BusyPointer::Shown());
    }

    void choosingAnEntryShowsItsText()
    {
        auto window = NewWindow();
        SetUpOptions(*window, 2);
        const QString empty = WriteFile(m_env->Work(), "blank.csv", ",\n");
        QTest::mouseClick(Find<QCheckBox>(window.get(), "Check3"), Qt::LeftButton); // blank cells left out
        Run(*window, TwoWorkbooks() << empty);
        app::Form2* results = window->ResultsWindow();
        QVERIFY(QTest::qWaitForWindowExposed(results));
        auto* view = results->ListView();
        auto* preview = Find<QPlainTextEdit>(results, "Text2");
        view->setCurrentIndex(view->model()->index(2, 0));
        QCOMPARE(preview->toPlainText(), QString("x\n"));
        view->setCurrentIndex(view->model()->index(1, 0));
        QCOMPARE(preview->toPlainText(), QString("c\n"));
        // A row whose cells are all blank, blanks left out: labelled "empty file" in the preview...
        view->setCurrentIndex(view->model()->index(3, 0));
        QCOMPARE(preview->toPlainText(), QString("empty file"));
        // ... but saved as zero bytes: the label is no part of the data.
        const QString out = m_env->Work() + "/out";
        QDir().mkpath(out);
        Find<QLineEdit>(results, "Text1")->setText(out);
        results->PushButton6_Click();
        QCOMPARE(ReadFile(out + "/blank_blank_1.txt"), QByteArray());
        QVERIFY(QFileInfo::exists(out + "/blank_blank_1.txt"));
    }

    // The files are named by the mode the results were made in, not by the mode the
    // main window shows when they are saved.
    void savingNamesTheResultsByTheModeTheyWereMadeIn()
    {
        auto window = NewWindow();
        SetUpOptions(*window, 2); // each row
        Run(*window, TwoWorkbooks());
        Find<QComboBox>(window.get(), "Combo1")->setCurrentIndex(0); // all sheets, after the run
        app::Form2* results = window->ResultsWindow();
        const QString out = m_env->Work() + "/out";
        QDir().mkpath(out);
        Find<QLineEdit>(results, "Text1")->setText(out);
        results->PushButton6_Click();
        QCOMPARE(QDir(out).entryList(QDir::Files), (QStringList { "w1_w1_1.txt", "w1_w1_2.txt", "w2_w2_1.txt" }));
        QCOMPARE(ReadFile(out + "/w1_w1_2.txt"), QByteArray("c,\r\n"));
    }

    void aWorkbookThatCannotBeOpenedIsOneReport()
    {
        auto window = NewWindow();
        SetUpOptions(*window, 1);
        QStringList paths = TwoWorkbooks();
        const QString broken = WriteFile(m_env->Work(), "broken.xlsx", "PK\x03\x04 not really a zip");
        paths.insert(1, broken);
        paths.insert(2, m_env->Work() + "/missing.xls");
        Run(*window, paths);
        const QStringList errors = m_prompts->Texts("error");
        QCOMPARE(errors.size(), 2);
        for (const QString& error : errors) {
            QVERIFY2(error.endsWith("\r\nin Murrelet2/19/2015.Form1.PushButton2_Click at line 172\r\rPlease email "
                                    "screenshot of this message to "
                         + Support()),
                qPrintable(error));
        }
        QVERIFY(errors[0].contains("broken.xlsx"));
        QVERIFY(errors[1].contains("missing.xls"));
        QCOMPARE(m_prompts->Of("error").first().title, QString("Application Error"));
        QCOMPARE(RowsOf(*window->ResultsWindow()).size(), 2);
        QVERIFY(window->ResultsWindow()->isVisible());
    }

    // A workbook exported in part is told in a message, and its results still arrive.
    void aWorksheetCutAtItsContentIsToldInAMessage()
    {
        auto window = NewWindow();
        SetUpOptions(*window, 1);
        const QString path = QString(VELLUMCAST_SOURCE_DIR) + "/tests/fixtures/workbooks/issue_174.xlsx";
        Run(*window, { path });
        QVERIFY(m_prompts->Texts("error").isEmpty());
        const QStringList messages = m_prompts->Texts("message");
        QCOMPARE(messages.size(), 1);
        QVERIFY2(
            messages[0].startsWith(path + ": the worksheet \"Sheet1\" is exported as A1:K2"), qPrintable(messages[0]));
        QCOMPARE(RowsOf(*window->ResultsWindow()).size(), 1);
    }

    void anEmptyListSaysNoFilesAdded()
    {
        auto window = NewWindow();
        window->PushButton2_Click();
        QCOMPARE(m_prompts->Texts("message"), QStringList { "No files added." });
        QCOMPARE(m_prompts->Of("message").first().title, QString("Vellumcast"));
        QVERIFY(!window->ResultsWindow() || !window->ResultsWindow()->isVisible());
        QVERIFY(window->isVisible());
        QVERIFY(!app::BusyPointer::Shown());
    }

    void backAndASecondRunWithFewerEntries()
    {
        auto window = NewWindow();
        SetUpOptions(*window, 2);
        Run(*window, TwoWorkbooks());
        app::Form2* results = window->ResultsWindow();
        QCOMPARE(RowsOf(*results).size(), 3);
        QTest::mouseClick(Find<QPushButton>(results, "PushButton8"), Qt::LeftButton);
        QVERIFY(window->isVisible());
        QVERIFY(!results->isVisible());
        QCOMPARE(RowsOf(*results).size(), 3); // the results stay until the next run

        const QString single = WriteFile(m_env->Work(), "single.csv", "only\n");
        Run(*window, { single });
        QCOMPARE(Describe(RowsOf(*results)), Describe({ { "single.txt", "single", "1", "only\r\n" } }));
        QCOMPARE(Find<QPlainTextEdit>(results, "Text2")->toPlainText(), QString("only\n"));

        // A run without results leaves the preview empty, not showing the last run's text.
        QTest::mouseClick(Find<QPushButton>(results, "PushButton8"), Qt::LeftButton);
        Run(*window, { m_env->Work() + "/nothing-here.csv" });
        QVERIFY(RowsOf(*results).isEmpty());
        QCOMPARE(Find<QPlainTextEdit>(results, "Text2")->toPlainText(), QString());
    }

    void theResultsWindowRestoresAndWritesItsSettings()
    {
        QDir(m_env->Home()).mkdir("Desktop");
        auto window = NewWindow();
        Run(*window, { TwoWorkbooks().first() });
        app::Form2* results = window->ResultsWindow();
        const std::string desktop = m_env->Home().toStdString() + "/Desktop/";
        QCOMPARE(Find<QLineEdit>(results, "Text1")->text().toStdString(), desktop);
        QCOMPARE(m_store->Stored("Output Folder"), desktop); // written back without a touch
        auto* wrap = Find<QCheckBox>(results, "Check1");
        QCOMPARE(wrap->text(), QString("Use word wrap"));
        QVERIFY(wrap->isChecked());
        auto* preview = Find<QPlainTextEdit>(results, "Text2");
        QCOMPARE(preview->lineWrapMode(), QPlainTextEdit::WidgetWidth); // checked wraps at the box's width
        QVERIFY(QTest::qWaitForWindowExposed(results));
        QTest::mouseClick(wrap, Qt::LeftButton);
        QCOMPARE(preview->lineWrapMode(), QPlainTextEdit::NoWrap);
        QCOMPARE(m_store->Stored("Word Wrap"), std::string("0"));
        Find<QLineEdit>(results, "Text1")->clear();
        QTest::keyClicks(Find<QLineEdit>(results, "Text1"), "/o");
        QCOMPARE(m_store->Stored("Output Folder"), std::string("/o"));

        // Captions and names of the other controls.
        QCOMPARE(Find<QPushButton>(results, "PushButton6")->text(), QString("Save Results To Text File"));
        QCOMPARE(Find<QPushButton>(results, "PushButton7")->text(), QString("..."));
        QCOMPARE(Find<QPushButton>(results, "PushButton8")->text(), QString("< Back"));
        QCOMPARE(
            Find<QWidget>(results, "Frame1")->property("title").toString(), QString("Save Results To This Folder"));
        QCOMPARE(Find<QWidget>(results, "Frame2")->property("title").toString(), QString("Viewing Options"));
        QCOMPARE(results->windowTitle(), QString("Vellumcast"));
        QVERIFY(results->ListView()->y() < preview->y());
        QVERIFY(preview->y() < Find<QWidget>(results, "Frame1")->y());

        // A new program run restores both.
        app::Form1 second(ContextFor(*m_store, *m_env));
        second.Form_Load();
        second.List().Append(TwoWorkbooks().first().toStdString());
        second.PushButton2_Click();
        QCOMPARE(Find<QLineEdit>(second.ResultsWindow(), "Text1")->text(), QString("/o"));
        QVERIFY(!Find<QCheckBox>(second.ResultsWindow(), "Check1")->isChecked());
        QCOMPARE(Find<QPlainTextEdit>(second.ResultsWindow(), "Text2")->lineWrapMode(), QPlainTextEdit::NoWrap);
    }

    void aRunWritesNoSetting()
    {
        auto window = NewWindow();
        SetUpOptions(*window, 1);
        Run(*window, TwoWorkbooks()); // the first run also loads the results window
        QTest::mouseClick(Find<QPushButton>(window->ResultsWindow(), "PushButton8"), Qt::LeftButton);
        m_store->writes.clear();
        Run(*window, TwoWorkbooks());
        // Only the main window's size and place, kept as it hides for the results.
        for (const auto& [key, value] : m_store->writes)
            QCOMPARE(key, std::string("Main Window"));
    }

    void theCommandsAreDisabledWhileARunGoesOn()
    {
        auto window = NewWindow();
        QByteArray big;
        for (int r = 0; r < 60000; ++r)
            big += "1,2,3,4,5,6,7,8\n";
        const QString path = WriteFile(m_env->Work(), "big.csv", big);
        bool sawDisabled = false, sawEnabledStart = false;
        QTimer probe;
        probe.setInterval(5);
        connect(&probe, &QTimer::timeout, this, [&] {
            if (!window->isVisible())
                return;
            if (!Find<QPushButton>(window.get(), "PushButton2")->isEnabled()
                && !Find<QPushButton>(window.get(), "PushButton7")->isEnabled())
                sawDisabled = true;
            else
                sawEnabledStart = true;
            // A second start or a clear in the middle of the run does nothing.
            window->PushButton2_Click();
        });
        probe.start();
        Run(*window, { path, path });
        probe.stop();
        QVERIFY(sawDisabled);
        QVERIFY(!sawEnabledStart);
        QCOMPARE(RowsOf(*window->ResultsWindow()).size(), 2);
        QVERIFY(window->CommandsEnabled());
    }

    void savingWritesEveryResultUnderItsName_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("all sheets") << 0 << QStringList { "w1.txt", "w2.txt" };
        QTest::newRow("each sheet") << 1 << QStringList { "w1_w1.txt", "w2_w2.txt" };
        QTest::newRow("each row") << 2 << QStringList { "w1_w1_1.txt", "w1_w1_2.txt", "w2_w2_1.txt" };
        QTest::newRow("each column") << 3 << QStringList { "w1_w1_1.txt", "w1_w1_2.txt", "w2_w2_1.txt" };
    }

    void savingWritesEveryResultUnderItsName()
    {
        QFETCH(int, mode);
        QFETCH(QStringList, files);
        auto window = NewWindow();
        SetUpOptions(*window, mode);
        Run(*window, TwoWorkbooks());
        app::Form2* results = window->ResultsWindow();
        const QString out = m_env->Work() + "/out";
        QDir().mkpath(out);
        Find<QLineEdit>(results, "Text1")->setText(out + "/"); // the trailing "/" the picker adds
        QTest::mouseClick(Find<QPushButton>(results, "PushButton6"), Qt::LeftButton);
        QCOMPARE(m_prompts->Texts("message"), QStringList { "Done." });
        QCOMPARE(QDir(out).entryList(QDir::Files, QDir::Name), files);
        const auto& held = results->Results();
        for (int i = 0; i < files.size(); ++i)
            QCOMPARE(
                ReadFile(out + "/" + files[i]), QByteArray::fromStdString(held[static_cast<size_t>(i)].text.Copy()));
        QVERIFY(results->CommandsEnabled());
    }

    void aMissingFolderOrAFileWritesNothing()
    {
        auto window = NewWindow();
        Run(*window, TwoWorkbooks());
        app::Form2* results = window->ResultsWindow();
        const QString file = WriteFile(m_env->Work(), "plain-file", "x");
        for (const QString& folder : { m_env->Work() + "/absent", file, QString() }) {
            m_prompts->shown.clear();
            Find<QLineEdit>(results, "Text1")->setText(folder);
            results->PushButton6_Click();
            QCOMPARE(m_prompts->Texts("message"), QStringList { "Output folder does not exist." });
            QCOMPARE(m_prompts->Of("message").first().title, QString("Vellumcast"));
        }
        QVERIFY(!QFileInfo::exists(m_env->Work() + "/absent"));
    }

    void anUnwritableFileIsReportedAndTheOthersAreWritten()
    {
        auto window = NewWindow();
        SetUpOptions(*window, 1);
        Run(*window, TwoWorkbooks());
        app::Form2* results = window->ResultsWindow();
        const QString out = m_env->Work() + "/out";
        QDir().mkpath(out + "/w1_w1.txt"); // a folder where the first file should go: no one can write it
        Find<QLineEdit>(results, "Text1")->setText(out);
        results->PushButton6_Click();
        const QStringList errors = m_prompts->Texts("error");
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].endsWith("\r\nin Murrelet2/19/2015.Form2.PushButton6_Click at line 162\r\rPlease email "
                                    "screenshot of this message to "
                     + Support()),
            qPrintable(errors[0]));
        QCOMPARE(ReadFile(out + "/w2_w2.txt"), QByteArray("x\r\n"));
        // The error box says why; the last message names it among the results not written.
        QCOMPARE(m_prompts->Texts("message"),
            QStringList { "1 of 2 results were written.\r\n1 result was not written:\r\nw1_w1.txt: it could not be "
                          "written" });
    }

    void namesFromInsideAWorkbookStayInsideTheFolder()
    {
        auto window = NewWindow();
        SetUpOptions(*window, 1);
        Run(*window, { TwoWorkbooks().first() });
        app::Form2* results = window->ResultsWindow();
        auto& held = results->Results();
        held.clear();
        const auto sheet = options::SaveMode::EachSheet; // as the run above made its results
        held.push_back({ "b.txt", "../x", 0, "one", sheet });
        held.push_back({ "b.txt", "a/b", 0, "two", sheet });
        held.push_back({ "b.txt", "c\x01\nd", 0, "three", sheet });
        held.push_back({ "b.txt", "same", 0, "first", sheet });
        held.push_back({ "b.txt", "same", 0, "second", sheet }); // a duplicate gets a file of its own
        const QString out = m_env->Work() + "/deep/out";
        QDir().mkpath(out);
        Find<QLineEdit>(results, "Text1")->setText(out);
        results->PushButton6_Click();
        const QStringList messages = m_prompts->Texts("message");
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].startsWith("Done.\r\n1 result was saved under a new name")
                && messages[0].endsWith("\r\nb_same (2).txt"),
            qPrintable(messages[0]));
        QCOMPARE(
            QDir(m_env->Work() + "/deep").entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList { "out" });
        QCOMPARE(QDir(out).entryList(QDir::Files, QDir::Name),
            (QStringList { "b_.._x.txt", "b_a_b.txt", "b_c__d.txt", "b_same (2).txt", "b_same.txt" }));
        QCOMPARE(ReadFile(out + "/b_same.txt"), QByteArray("first"));
        QCOMPARE(ReadFile(out + "/b_same (2).txt"), QByteArray("second"));
    }

    void theFolderPickerAddsTheTrailingSeparator()
    {
        auto window = NewWindow();
        Run(*window, { TwoWorkbooks().first() });
        app::Form2* results = window->ResultsWindow();
        auto* folder = Find<QLineEdit>(results, "Text1");
        const QString before = folder->text();
        results->PushButton7_Click(); // cancelled
        QCOMPARE(folder->text(), before);
        QCOMPARE(m_prompts->Texts("folder"), QStringList { "Please select folder:" });
        m_prompts->folders.push_back("/srv/texts");
        results->PushButton7_Click();
        QCOMPARE(folder->text(), QString("/srv/texts/"));
        QCOMPARE(m_store->Stored("Output Folder"), std::string("/srv/texts/"));
        m_prompts->folders.push_back("/");
        results->PushButton7_Click();
        QCOMPARE(folder->text(), QString("/"));
    }

    void closingTheResultsWindowEndsTheProgram()
    {
        auto window = NewWindow();
        Run(*window, { TwoWorkbooks().first() });
        QVERIFY(!m_ended);
        window->ResultsWindow()->close();
        QVERIFY(m_ended);
    }

    void aHugeTextIsPreviewedInPartAndSavedWhole()
    {
        std::string huge;
        for (int line = 0; huge.size() < 3 * app::kPreviewLimit; ++line)
            huge += "line " + std::to_string(line) + ",\xC3\xA9t\xC3\xA9\r\n";
        const QString preview = app::PreviewText(huge);
        QVERIFY(preview.size() < static_cast<qsizetype>(app::kPreviewLimit) + 200);
        QVERIFY(preview.startsWith("line 0,\u00e9t\u00e9\r\nline 1,"));
        QVERIFY(preview.endsWith("KiB; saving writes the whole text.]"));
        QVERIFY(!preview.contains(QChar::ReplacementCharacter));
        QCOMPARE(app::PreviewText("short"), QString("short"));
        const std::string noBreaks(app::kPreviewLimit + 5, 'x');
        QVERIFY(
            app::PreviewText(noBreaks).startsWith(QString(static_cast<qsizetype>(app::kPreviewLimit), 'x') + "\n["));

        auto window = NewWindow();
        SetUpOptions(*window, 1);
        Run(*window, { TwoWorkbooks().first() });
        app::Form2* results = window->ResultsWindow();
        // The first result's text made huge, the others kept.
        exporting::ResultList changed;
        for (size_t i = 0; i < results->Results().size(); ++i) {
            exporting::ResultEntry entry = results->Results()[i];
            if (i == 0)
                entry.text = huge;
            changed.push_back(entry);
        }
        results->Results() = std::move(changed);
        const QString out = m_env->Work() + "/out";
        QDir().mkpath(out);
        Find<QLineEdit>(results, "Text1")->setText(out);
        results->PushButton6_Click();
        QCOMPARE(ReadFile(out + "/w1_w1.txt").size(), static_cast<qsizetype>(huge.size()));
    }

    void theSamplesRunAndSaveInEachMode_data()
    {
        QTest::addColumn<int>("mode");
        for (int mode = 0; mode < 4; ++mode)
            QTest::newRow(qPrintable(QString("mode %1").arg(mode))) << mode;
    }

    void theSamplesRunAndSaveInEachMode()
    {
        QFETCH(int, mode);
        auto context = ContextFor(*m_store, *m_env);
        context.programFolder = VELLUMCAST_SOURCE_DIR; // the committed Samples/
        app::Form1 window(context);
        window.Form_Load();
        window.show();
        window.PushButton6_Click(); // no answer queued: the folder stays closed
        QCOMPARE(window.List().Count(), size_t(4));
        SetUpOptions(window, mode);
        window.PushButton2_Click();
        QVERIFY2(m_prompts->Of("error").isEmpty(), qPrintable(m_prompts->Texts("error").join("\n")));
        app::Form2* results = window.ResultsWindow();
        const auto& held = results->Results();
        QVERIFY(held.size() >= 4);
        // Every sample shows its hidden worksheet too.
        if (mode != 0) {
            bool hidden = false;
            for (const auto& entry : held)
                hidden = hidden || entry.sheetName == "Hidden Notes";
            QVERIFY(hidden);
        }
        const QString out = m_env->Work() + "/samples-out";
        QDir().mkpath(out);
        Find<QLineEdit>(results, "Text1")->setText(out);
        results->PushButton6_Click();
        // Sales.xlsx, .xls and .ods share their names: the later ones are told and renamed.
        const QStringList messages = m_prompts->Texts("message");
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].startsWith("Done.\r\n") && messages[0].contains(" saved under a new name"),
            qPrintable(messages[0]));
        // Every result has its own file; the first of each name keeps the plain name.
        QCOMPARE(QDir(out).entryList(QDir::Files).size(), static_cast<qsizetype>(held.size()));
        const auto saveMode
            = *options::SaveModeFromCaption(options::SaveModeCaption(static_cast<options::SaveMode>(mode)));
        std::set<QString> seen;
        for (const auto& entry : held) {
            const QString name = QString::fromStdString(results::SavedFileName(saveMode, entry));
            if (seen.insert(name).second)
                QCOMPARE(ReadFile(out + "/" + name), QByteArray::fromStdString(entry.text.Copy()));
        }
    }
};

QTEST_MAIN(TestExportRun)
#include "TestExportRun.moc"
