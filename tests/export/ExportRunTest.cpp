#include "export/ExportRun.h"
#include "core/ErrorReport.h"
#include "support/RecordingPorts.h"
#include "support/TempDir.h"
#include "support/XlsxWriter.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace vellumcast;
namespace vt = vellumcast::testing;
using exporting::ResultList;

namespace {

class ScriptedHost final : public exporting::ExportRunHost {
public:
    std::vector<std::string> paths;
    std::optional<options::SaveMode> mode = options::SaveMode::EachSheet; // none: no mode chosen
    bool includeBlank = true;
    bool quote = false;
    std::optional<std::string> divider = ",";
    // Changes the options when this workbook's path is asked for, as a person might mid-run.
    std::function<void(size_t)> onPath;

    int noFilesAdded = 0;
    std::vector<bool> busy;
    std::vector<options::SaveMode> layouts;
    int finished = 0;

    size_t WorkbookCount() override { return paths.size(); }
    std::string WorkbookPath(size_t index) override
    {
        if (onPath)
            onPath(index);
        return paths.at(index);
    }
    std::optional<exporting::ChosenOptions> Options() override
    {
        if (!mode)
            return std::nullopt;
        exporting::ChosenOptions chosen { {}, divider.has_value() };
        chosen.options.divider = divider.value_or("not chosen");
        chosen.options.includeBlankCells = includeBlank;
        chosen.options.quoteCells = quote;
        chosen.options.saveMode = *mode;
        return chosen;
    }
    void ShowNoFilesAdded() override { ++noFilesAdded; }
    void SetBusy(bool b) override { busy.push_back(b); }
    void LayoutResults(options::SaveMode shown) override { layouts.push_back(shown); }
    void RunFinished(const ResultList&) override { ++finished; }
};

struct RunRecorder {
    vt::RecordingReporter reporter;
    vt::CountingPump pump;
    vt::RecordingProgress progress;
    ResultList results;
    size_t failed = 0;
    void operator()(ScriptedHost& host)
    {
        failed = exporting::RunExport(host,
            { reporter, pump, progress, { core::LocationText("Form1", "PushButton2_Click"), "Excel1" } }, results);
    }
};

} // namespace

TEST(ExportRun, EmptyListSaysNoFilesAddedAndChangesNothingElse)
{
    ScriptedHost host;
    RunRecorder run;
    run.results.push_back({ "old.txt", "", 0, "old" });
    run.results.AddInput("old.csv");
    run(host);
    EXPECT_EQ(host.noFilesAdded, 1);
    EXPECT_TRUE(run.results.empty());
    EXPECT_TRUE(run.results.Inputs().empty());
    EXPECT_TRUE(host.busy.empty());
    EXPECT_TRUE(host.layouts.empty());
    EXPECT_EQ(host.finished, 0);
}

TEST(ExportRun, WorkbooksInListOrderAndWorksheetOrder)
{
    vt::TempDir dir;
    ScriptedHost host;
    host.paths = { dir.Write("b.csv", "1,2\r\n3,4\r\n"), dir.Write("a.csv", "x\n") };
    RunRecorder run;
    run(host);
    EXPECT_EQ(run.failed, 0u);
    ASSERT_EQ(run.results.size(), 2u);
    EXPECT_EQ(run.results[0].fileName, "b.txt");
    EXPECT_EQ(run.results[0].sheetName, "b");
    EXPECT_EQ(run.results[0].text, "1,2\r\n3,4\r\n");
    EXPECT_EQ(run.results[1].fileName, "a.txt");
    // The results carry the workbooks they came from, for the save never to write over one.
    EXPECT_EQ(run.results.Inputs(), host.paths);
    EXPECT_EQ(host.layouts, std::vector<options::SaveMode> { options::SaveMode::EachSheet });
    EXPECT_EQ(host.finished, 1);
    ASSERT_FALSE(host.busy.empty());
    EXPECT_FALSE(host.busy.back());
}

TEST(ExportRun, AllSheetsModeNamesEachEntryAfterItsWorkbook)
{
    vt::TempDir dir;
    ScriptedHost host;
    host.mode = options::SaveMode::AllSheets;
    host.paths = { dir.Write("Book1.csv", "a,b\n") };
    RunRecorder run;
    run(host);
    ASSERT_EQ(run.results.size(), 1u);
    EXPECT_EQ(run.results[0].fileName, "Book1.txt");
    EXPECT_EQ(run.results[0].sheetName, "");
    EXPECT_EQ(run.results[0].text, "Book1\r\na,b\r\n\r\n\r\n\r\n");
}

TEST(ExportRun, AWorkbookThatCannotBeOpenedIsReportedOnceAndPassedOver)
{
    vt::TempDir dir;
    ScriptedHost host;
    host.paths = { dir.File("missing.xlsx"), dir.Write("ok.csv", "v\n") };
    RunRecorder run;
    run(host);
    ASSERT_EQ(run.reporter.reports.size(), 1u);
    EXPECT_EQ(run.reporter.reports[0].step, 172);
    EXPECT_EQ(run.reporter.reports[0].location, "in Murrelet2/19/2015.Form1.PushButton2_Click ");
    EXPECT_NE(run.reporter.reports[0].description.find("missing.xlsx"), std::string::npos);
    EXPECT_EQ(run.failed, 1u);
    ASSERT_EQ(run.results.size(), 1u);
    EXPECT_EQ(run.results[0].fileName, "ok.txt");
}

TEST(ExportRun, OptionsAreReadAfreshForEveryWorkbook)
{
    vt::TempDir dir;
    ScriptedHost host;
    host.paths = { dir.Write("one.csv", "a,,b\n"), dir.Write("two.csv", "a,,b\n") };
    host.onPath = [&](size_t index) {
        if (index == 1) {
            host.divider = ";";
            host.includeBlank = false;
            host.quote = true;
        }
    };
    RunRecorder run;
    run(host);
    ASSERT_EQ(run.results.size(), 2u);
    EXPECT_EQ(run.results[0].text, "a,,b\r\n");
    EXPECT_EQ(run.results[1].text, "\"a\";\"b\"\r\n");
}

// With no divider option selected the divider stays what the previous workbook used, and
// is empty before any was chosen; it never falls back to one of the choices.
TEST(ExportRun, NoDividerChosenKeepsThePreviousOne)
{
    vt::TempDir dir;
    ScriptedHost host;
    host.paths = { dir.Write("one.csv", "a,b\n"), dir.Write("two.csv", "a,b\n"), dir.Write("three.csv", "a,b\n") };
    host.divider.reset();
    host.onPath = [&](size_t index) {
        if (index == 1)
            host.divider = ";";
        if (index == 2)
            host.divider.reset();
    };
    RunRecorder run;
    run(host);
    ASSERT_EQ(run.results.size(), 3u);
    EXPECT_EQ(run.results[0].text, "ab\r\n");
    EXPECT_EQ(run.results[1].text, "a;b\r\n");
    EXPECT_EQ(run.results[2].text, "a;b\r\n");
}

TEST(ExportRun, AnUnknownSaveModeExportsNothing)
{
    vt::TempDir dir;
    ScriptedHost host;
    host.mode.reset();
    host.paths = { dir.Write("one.csv", "a\n") };
    RunRecorder run;
    run(host);
    EXPECT_TRUE(run.results.empty());
    EXPECT_TRUE(host.layouts.empty());
    EXPECT_EQ(host.finished, 1);
}

TEST(ExportRun, WorkbookWithoutExtensionIsExportedUnderItsWholeName)
{
    vt::TempDir dir;
    ScriptedHost host;
    host.mode = options::SaveMode::EachRow;
    host.paths = { dir.Write("notes", "r1\nr2\n") };
    RunRecorder run;
    run(host);
    ASSERT_EQ(run.results.size(), 2u);
    EXPECT_EQ(run.results[0].fileName, "notes.txt");
    EXPECT_EQ(run.results[1].ordinal, 2);
}

TEST(ExportRun, ProgressCoversTheWholeRun)
{
    vt::TempDir dir;
    ScriptedHost host;
    host.paths = { dir.Write("one.csv", "a\nb\n"), dir.Write("two.csv", "a\nb\n"), dir.File("missing.csv") };
    RunRecorder run;
    // The bar as each next workbook starts: at the share of the workbooks done.
    std::vector<double> atStart;
    host.onPath = [&](size_t index) {
        if (index > 0) {
            ASSERT_FALSE(run.progress.values.empty());
            atStart.push_back(run.progress.values.back());
        }
    };
    run(host);
    ASSERT_EQ(atStart.size(), 2u);
    EXPECT_NEAR(atStart[0], 100.0 / 3, 1e-9);
    EXPECT_NEAR(atStart[1], 200.0 / 3, 1e-9);
    // It never goes back during the run, ends full, and is set back to 0 for the next one.
    ASSERT_GE(run.progress.values.size(), 2u);
    EXPECT_TRUE(std::is_sorted(run.progress.values.begin(), run.progress.values.end() - 1));
    EXPECT_EQ(run.progress.values.end()[-2], 100.0);
    EXPECT_EQ(run.progress.values.back(), 0.0);
}

// An OpenDocument workbook lists its worksheets as the export reads on: damage past the
// first worksheet no longer stops the workbook from opening, so what comes before it is
// exported, in every mode, and the damage is reported once, naming the workbook.
TEST(ExportRun, AWorksheetListDamagedPastTheFirstWorksheetKeepsWhatCameBefore)
{
    const std::string table = "<table:table table:name=\"A\"><table:table-row><table:table-cell "
                              "office:value-type=\"string\"><text:p>kept</text:p></table:table-cell>"
                              "</table:table-row></table:table>";
    const std::string content = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><office:document-content"
                                " xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\""
                                " xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\""
                                " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\">"
                                "<office:body><office:spreadsheet>"
        + table + "<bogus:damage/>" + table + "</office:spreadsheet></office:body></office:document-content>";
    vt::TempDir dir;
    const std::string path = dir.Write("listed.ods",
        vt::ZipWriter()
            .Add("mimetype", "application/vnd.oasis.opendocument.spreadsheet")
            .Add("content.xml", content, true)
            .Finish());
    const struct {
        options::SaveMode mode;
        std::string text;
    } modes[] = { { options::SaveMode::EachSheet, "kept\r\n" }, { options::SaveMode::EachRow, "kept\r\n" },
        { options::SaveMode::EachColumn, "kept\r\n" }, { options::SaveMode::AllSheets, "A\r\nkept\r\n\r\n\r\n\r\n" } };
    for (const auto& mode : modes) {
        SCOPED_TRACE(static_cast<int>(mode.mode));
        ScriptedHost host;
        host.paths = { path };
        host.mode = mode.mode;
        RunRecorder run;
        run(host);
        ASSERT_EQ(run.results.size(), 1u);
        EXPECT_EQ(run.results[0].text, mode.text);
        // Worksheet A is whole in its own text; the workbook's one text is not.
        EXPECT_EQ(run.results[0].cutShort, mode.mode == options::SaveMode::AllSheets);
        EXPECT_EQ(run.failed, 1u);
        ASSERT_EQ(run.reporter.reports.size(), 1u);
        const std::string& said = run.reporter.reports[0].description;
        EXPECT_NE(said.find(path + ": the worksheets past \"A\" cannot be listed"), std::string::npos) << said;
        EXPECT_NE(said.find("not declared"), std::string::npos) << said;
    }
}

// A caller with a loop of its own exports one workbook at a time into its sink, with the
// run's reports, names and progress, and the host's list never asked for.
TEST(ExportRun, OneWorkbookGoesToTheSinkAsInTheRun)
{
    vt::TempDir dir;
    const struct {
        const char* what;
        std::string path;
        bool failed;
        std::vector<std::string> texts;
    } cases[] = {
        { "a workbook", dir.Write("b.csv", "1,2\r\n3,4\r\n"), false, { "1,2\r\n3,4\r\n" } },
        { "cannot be opened", dir.File("missing.xlsx"), true, {} },
    };
    for (const auto& c : cases) {
        ScriptedHost host;
        host.paths = { "never asked for" };
        vt::RecordingReporter reporter;
        vt::CountingPump pump;
        vt::RecordingProgress progress;
        ResultList sink;
        const bool failed = exporting::ExportOneWorkbook(host, host, c.path, { reporter, pump, progress }, sink);
        EXPECT_EQ(failed, c.failed) << c.what;
        EXPECT_EQ(reporter.reports.size(), c.failed ? 1u : 0u) << c.what;
        if (c.failed) {
            EXPECT_EQ(reporter.reports[0].step, 172) << c.what;
        }
        ASSERT_EQ(sink.size(), c.texts.size()) << c.what;
        for (size_t i = 0; i < c.texts.size(); ++i) {
            EXPECT_EQ(sink[i].fileName, "b.txt") << c.what;
            EXPECT_EQ(sink[i].text, c.texts[i]) << c.what;
        }
        EXPECT_TRUE(sink.Inputs().empty()) << c.what; // a sink, not the run's list
        ASSERT_FALSE(progress.values.empty()) << c.what;
        EXPECT_EQ(progress.values.back(), 100) << c.what;
        EXPECT_TRUE(host.busy.empty() && host.layouts.empty() && host.finished == 0) << c.what;
    }
}
