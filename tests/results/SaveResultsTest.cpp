#include "results/SaveResults.h"
#include "support/FaultyFileCalls.h"
#include "support/RecordingPorts.h"
#include "support/TempDir.h"
#include "support/WholeFiles.h"

#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace vellumcast;
namespace vt = vellumcast::testing;
using exporting::ResultEntry;
using exporting::ResultList;
using options::SaveMode;
using vt::FilesIn;
using vt::ReadBytes;
using vt::TempDir;

namespace {

struct Save {
    vt::RecordingReporter reporter;
    vt::CountingPump pump;
    std::vector<std::string> inputs;
    core::FileCalls* files = nullptr;
    results::SaveSummary summary;
    results::SaveOutcome operator()(const std::string& folder, std::optional<SaveMode> mode, const ResultList& list)
    {
        summary = results::SaveResults(folder, mode, inputs, list, { reporter, pump, nullptr, files });
        return summary.outcome;
    }
};

ResultList SheetsOfB(const std::vector<std::string>& sheets)
{
    ResultList list;
    for (const auto& sheet : sheets)
        list.push_back({ "b.txt", sheet, 0, "text of " + sheet + " #" + std::to_string(list.size()) });
    return list;
}

} // namespace

TEST(SavedFileName, EachModeNamesItsFile)
{
    const ResultEntry entry { "sales.2015.txt", "North", 7, "t" };
    EXPECT_EQ(results::SavedFileName(SaveMode::AllSheets, entry), "sales.2015.txt");
    EXPECT_EQ(results::SavedFileName(SaveMode::EachSheet, entry), "sales.2015_North.txt");
    EXPECT_EQ(results::SavedFileName(SaveMode::EachRow, entry), "sales.2015_North_7.txt");
    EXPECT_EQ(results::SavedFileName(SaveMode::EachColumn, entry), "sales.2015_North_7.txt");
}

TEST(SavedFileName, NamesFromInsideAWorkbookStayInsideTheFolder)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        { "../x", "b_.._x.txt" },
        { "a/b", "b_a_b.txt" },
        { "x\\y", "b_x_y.txt" },
        { "tab\there\nnl", "b_tab_here_nl.txt" },
        { "/", "b__.txt" },
    };
    for (const auto& [sheet, expected] : cases)
        EXPECT_EQ(results::SavedFileName(SaveMode::EachSheet, { "b.txt", sheet, 0, "" }), expected) << sheet;
}

// One rule on every system, so a save gives the same names on Linux and Windows.
TEST(SafeFileName, NamesWindowsForbidsBecomeSafeAndOthersStay)
{
    const std::pair<std::string, std::string> cases[] = {
        { "q?.txt", "q_.txt" },
        { "a:b.txt", "a_b.txt" }, // an alternate data stream on NTFS otherwise
        { "x\\y/z.txt", "x_y_z.txt" },
        { "<\"*|>.txt", "_____.txt" },
        { std::string("nul\0\x1F\x7F.txt", 10), "nul___.txt" },
        { "CON.txt", "CON_.txt" },
        { "nul.txt", "nul_.txt" },
        { "Com1.txt", "Com1_.txt" },
        { "lpt9.csv.txt", "lpt9_.csv.txt" },
        { "AUX .txt", "AUX_ .txt" },
        { "COM\xC2\xB9.txt", "COM\xC2\xB9_.txt" }, // a superscript one
        { "CONOUT$.txt", "CONOUT$_.txt" },
        { "PRN", "PRN_" },
        { "COM10.txt", "COM10.txt" },
        { "CONSOLE.txt", "CONSOLE.txt" },
        { "CON_North.txt", "CON_North.txt" },
        { "x.CON.txt", "x.CON.txt" },
        { "dots...", "dots___" },
        { "space ", "space_" },
        { ".hidden.txt", ".hidden.txt" },
        { "Größe – März.txt", "Größe – März.txt" },
    };
    for (const auto& [name, safe] : cases)
        EXPECT_EQ(results::SafeFileName(name), safe) << name;
    // Through each way a name is made: the results window's names and templates.
    EXPECT_EQ(results::SavedFileName(SaveMode::AllSheets, { "dir/con.xlsx", "", 0, "" }), "con_.txt");
    EXPECT_EQ(results::SavedFileName(SaveMode::EachSheet, { "b.xlsx", "q?", 0, "" }), "b_q_.txt");
    EXPECT_EQ(results::TemplateFileName("{sheet}", "b.xlsx", { "b.txt", "CON", 0, "t" }), "CON_.txt");
    EXPECT_EQ(results::TemplateFileName("{book}", "nul.tar.gz", { "b.txt", "", 0, "t" }), "nul_.tar.txt");
}

// A name no system takes as it is never stops the save: every result is written.
TEST(SaveResults, SheetNamesWindowsForbidsAreAllSaved)
{
    TempDir dir;
    Save save;
    const ResultList list = SheetsOfB({ "q?", "x\\y", "a:b", "CON", "nul", "<\"|*>", "North" });
    ASSERT_EQ(save(dir.Path(), SaveMode::EachSheet, list), results::SaveOutcome::Saved);
    EXPECT_TRUE(save.reporter.reports.empty());
    EXPECT_EQ(save.summary.written, list.size());
    EXPECT_EQ(FilesIn(dir.Path()),
        (std::vector<std::string> {
            "b_CON.txt", "b_North.txt", "b______.txt", "b_a_b.txt", "b_nul.txt", "b_q_.txt", "b_x_y.txt" }));
    TempDir named;
    results::SaveSession session(named.Path(), SaveMode::EachSheet, {}, { save.reporter, save.pump });
    session.SetNameTemplate("{sheet}");
    session.Save(list, "b.xlsx");
    EXPECT_EQ(session.Summary().written, list.size());
    EXPECT_EQ(FilesIn(named.Path()),
        (std::vector<std::string> {
            "CON_.txt", "North.txt", "_____.txt", "a_b.txt", "nul_.txt", "q_.txt", "x_y.txt" }));
    EXPECT_EQ(ReadBytes(named.File("CON_.txt")), "text of CON #3");
}

TEST(SaveResults, WritesExactBytesInEveryMode)
{
    const ResultList list = { { "sales.txt", "North", 1, "a\tb\r\n" }, { "sales.txt", "South", 2, "" } };
    for (SaveMode mode : { SaveMode::EachSheet, SaveMode::EachRow, SaveMode::EachColumn }) {
        TempDir dir;
        Save save;
        EXPECT_EQ(save(dir.Path(), mode, list), results::SaveOutcome::Saved);
        const std::string first = dir.File(results::SavedFileName(mode, list[0]));
        const std::string second = dir.File(results::SavedFileName(mode, list[1]));
        EXPECT_EQ(ReadBytes(first), "a\tb\r\n");
        EXPECT_EQ(ReadBytes(second), ""); // a result with no text is zero bytes
        EXPECT_EQ(FilesIn(dir.Path()).size(), 2u);
        EXPECT_TRUE(save.reporter.reports.empty());
    }
}

// Without a mode given, each result is named by the mode it was made in, and a failure
// is reported at the step of that mode.
TEST(SaveResults, ResultsOfSeveralModesAreEachNamedByTheirOwn)
{
    TempDir dir;
    vt::RecordingReporter reporter;
    vt::CountingPump pump;
    const ResultList list
        = { { "b.txt", "", 0, "all", SaveMode::AllSheets }, { "b.txt", "S", 0, "sheet", SaveMode::EachSheet },
              { "b.txt", "S", 2, "row", SaveMode::EachRow }, { "b.txt", "S", 3, "column", SaveMode::EachColumn } };
    const auto summary = results::SaveResults(dir.Path(), {}, list, { reporter, pump });
    EXPECT_EQ(summary.written, 4u);
    EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string> { "b.txt", "b_S.txt", "b_S_2.txt", "b_S_3.txt" }));
    EXPECT_EQ(ReadBytes(dir.File("b_S_3.txt")), "column");

    TempDir other;
    std::filesystem::create_directory(other.File("b_S.txt"));
    const auto blocked = results::SaveResults(other.Path(), {}, list, { reporter, pump });
    EXPECT_EQ(blocked.written, 3u);
    ASSERT_EQ(reporter.reports.size(), 1u);
    EXPECT_EQ(reporter.reports[0].step, 162);
}

TEST(SaveResults, AllSheetsWalksTheResultsSoNamesKeepTheirTexts)
{
    TempDir dir;
    Save save;
    const ResultList list = { { "first.txt", "", 0, "one" }, { "third.txt", "", 0, "three" } };
    save(dir.Path() + "/", SaveMode::AllSheets, list);
    EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string> { "first.txt", "third.txt" }));
    EXPECT_EQ(ReadBytes(dir.File("third.txt")), "three");
}

TEST(SaveResults, EveryResultGetsAFileOfItsOwnInListOrder)
{
    TempDir dir;
    Save save;
    // "x/y" and "x_y" meet in one safe name; "S (2)" meets the name the second "S" takes;
    // "s" differs from "S" by case only, which is another name on Linux and the same one on
    // Windows, where it is numbered past every "S" taken so as not to write over one.
    const ResultList list = SheetsOfB({ "S", "S", "x/y", "S (2)", "x_y", "S", "s" });
    save(dir.Path(), SaveMode::EachSheet, list);
#ifdef _WIN32
    const std::string lowerCase = "b_s (4).txt";
#else
    const std::string lowerCase = "b_s.txt";
#endif
    const std::vector<std::string> expected
        = { "b_S.txt", "b_S (2).txt", "b_x_y.txt", "b_S (2) (2).txt", "b_x_y (2).txt", "b_S (3).txt", lowerCase };
    for (size_t i = 0; i < list.size(); ++i)
        EXPECT_EQ(ReadBytes(dir.File(expected[i])), list[i].text) << expected[i];
    EXPECT_EQ(FilesIn(dir.Path()).size(), list.size());
    EXPECT_EQ(save.summary.written, list.size());
    std::vector<std::string> renamed { "b_S (2).txt", "b_S (2) (2).txt", "b_x_y (2).txt", "b_S (3).txt" };
    if (lowerCase != "b_s.txt")
        renamed.push_back(lowerCase);
    EXPECT_EQ(save.summary.renamed, renamed.size());
    EXPECT_EQ(save.summary.renamedNames, renamed);
    EXPECT_TRUE(save.reporter.reports.empty());
}

TEST(SaveResults, SavingAgainReplacesTheEarlierSavesFilesOnePerName)
{
    TempDir dir;
    Save save;
    save(dir.Path(), SaveMode::EachSheet, SheetsOfB({ "S", "S" }));
    const ResultList again = { { "b.txt", "S", 0, "new one" }, { "b.txt", "S", 0, "new two" } };
    save(dir.Path(), SaveMode::EachSheet, again);
    EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string> { "b_S (2).txt", "b_S.txt" }));
    EXPECT_EQ(ReadBytes(dir.File("b_S.txt")), "new one");
    EXPECT_EQ(ReadBytes(dir.File("b_S (2).txt")), "new two");
}

TEST(SaveResults, AWorkbookOfTheRunIsNeverWrittenOver)
{
    if (!vt::CanMakeSymbolicLinks())
        GTEST_SKIP() << "symbolic links need a privilege on Windows, and Wine makes none";
    TempDir dir;
    const std::string data = dir.Write("data.txt", "a\tb\n");
    std::filesystem::create_directory(dir.File("sub"));
    std::filesystem::create_directory(dir.File("links"));
    const std::string other = dir.Write("sub/other.txt", "other\n");
    std::filesystem::create_symlink(dir.File("data.txt"), dir.File("links/alias.txt"));
    const ResultList list = { { "data.txt", "", 0, "exported data" }, { "other.txt", "", 0, "exported other" },
        { "alias.txt", "", 0, "exported alias" }, { "data.txt", "", 0, "data again" } };
    Save save;
    // The same workbook spelled another way, another in a second folder, and one listed
    // through a link whose target lies in the output folder.
    save.inputs = { dir.Path() + "/./data.txt", other, dir.File("links/alias.txt") };
    save(dir.Path() + "/", SaveMode::AllSheets, list);
    EXPECT_EQ(ReadBytes(data), "a\tb\n");
    EXPECT_EQ(ReadBytes(dir.File("data (2).txt")), "exported data");
    EXPECT_EQ(ReadBytes(dir.File("other.txt")), "exported other"); // not the workbook: another folder
    EXPECT_EQ(ReadBytes(other), "other\n");
    EXPECT_EQ(ReadBytes(dir.File("alias.txt")), "exported alias"); // the link's own name is not in this folder
    EXPECT_EQ(ReadBytes(dir.File("data (3).txt")), "data again");

    // The link's folder as output: its own name and the file it points to are both kept.
    Save intoLinks;
    intoLinks.inputs = { dir.File("links/alias.txt") };
    intoLinks(dir.File("links"), SaveMode::AllSheets, { { "alias.txt", "", 0, "x" } });
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("links/alias.txt")));
    EXPECT_EQ(ReadBytes(dir.File("links/alias (2).txt")), "x");
    EXPECT_EQ(ReadBytes(data), "a\tb\n");
}

TEST(SaveResults, AFailureEveryLaterFileWouldMeetIsReportedOnceAndEndsTheSave)
{
    // The folder becomes unwritable, or its device read-only, before the second file.
    for (const int code : { EACCES, EROFS }) {
        TempDir dir;
        vt::FaultyFileCalls calls;
        calls.failAfterFiles = 1;
        calls.openError = code;
        Save save;
        save.files = &calls;
        save(dir.Path(), SaveMode::EachRow, SheetsOfB({ "A", "B", "C", "D", "E" }));
        ASSERT_EQ(save.reporter.reports.size(), 1u) << code;
        EXPECT_EQ(save.reporter.reports[0].step, 190);
        EXPECT_EQ(save.reporter.reports[0].description,
            "Cannot write " + dir.File("b_B_.txt") + ": " + std::strerror(code)
                + ". Saving stopped: 4 of 5 results were not written.");
        EXPECT_EQ(calls.filesOpened, 2u) << "no attempt after the failure";
        EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string> { "b_A_.txt" });
        EXPECT_TRUE(save.summary.stopped);
        EXPECT_EQ(save.summary.written, 1u);
        EXPECT_EQ(save.summary.notWritten, 4u);
    }
}

TEST(SaveResults, AFullDevicePassesOverWhatDoesNotFitAndSaysWhyOnceAtTheEnd)
{
    // Room for 14 bytes a file: "text of A #0" fits, "text of Long B #1" does not. The
    // smaller results after a larger one that did not fit are still written.
#ifdef EDQUOT
    for (const int code : { ENOSPC, EDQUOT }) {
#else
    for (const int code : { ENOSPC }) { // Windows tells a used-up quota as a full disk
#endif
        TempDir dir;
        vt::FaultyFileCalls calls;
        calls.bytesBeforeWriteFails = 14;
        calls.writeError = code;
        Save save;
        save.files = &calls;
        save(dir.Path(), SaveMode::EachSheet, SheetsOfB({ "A", "Long B", "C", "Long D", "E" }));
        EXPECT_TRUE(save.reporter.reports.empty()) << save.reporter.reports[0].description;
        EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string> { "b_A.txt", "b_C.txt", "b_E.txt" }));
        EXPECT_FALSE(save.summary.stopped);
        EXPECT_EQ(save.summary.written, 3u);
        EXPECT_EQ(save.summary.notWritten, 2u);
        EXPECT_EQ(save.summary.notWrittenForSpace, 2u);
        EXPECT_EQ(save.summary.spaceFailure, std::strerror(code));
        EXPECT_EQ(results::SaveNotice(save.summary),
            "2 results were not written, 2 of them for lack of space (" + std::string(std::strerror(code))
                + "):\r\nb_Long B.txt: no space was left for it\r\nb_Long D.txt: no space was left for it");
    }
}

TEST(SaveResults, AFailureOfOneFileIsReportedAloneAndTheOthersAreWritten)
{
    TempDir dir;
    const std::string earlier = dir.Write("b_B.txt", "earlier");
    vt::FaultyFileCalls calls;
    calls.failAfterFiles = 1;
    calls.bytesBeforeWriteFails = 1;
    calls.writeError = EIO;
    calls.failingFiles = 1;
    Save save;
    save.files = &calls;
    save(dir.Path(), SaveMode::EachSheet, SheetsOfB({ "A", "B", "C" }));
    ASSERT_EQ(save.reporter.reports.size(), 1u);
    EXPECT_EQ(save.reporter.reports[0].step, 162);
    EXPECT_EQ(save.reporter.reports[0].description, "Cannot write " + earlier + ": " + std::strerror(EIO));
    EXPECT_EQ(ReadBytes(earlier), "earlier");
    EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string> { "b_A.txt", "b_B.txt", "b_C.txt" }));
    EXPECT_FALSE(save.summary.stopped);
    EXPECT_EQ(save.summary.notWritten, 1u);
    EXPECT_EQ(save.summary.written, 2u);
}

TEST(SaveNotice, TellsRenamedAndUnwrittenResults)
{
    results::SaveSummary summary;
    EXPECT_EQ(results::SaveNotice(summary), "");
    summary.renamed = 1;
    summary.renamedNames = { "a (2).txt" };
    EXPECT_EQ(results::SaveNotice(summary),
        "1 result was saved under a new name, because the name was used earlier in this save, is a workbook of the "
        "list or is too long:\r\na (2).txt");
    summary.renamed = 12;
    summary.renamedNames.assign(results::kRenamedNamesKept, "a (2).txt");
    summary.notWritten = 3;
    const std::string notice = results::SaveNotice(summary);
    EXPECT_EQ(notice.rfind("12 results were saved", 0), 0u) << notice;
    EXPECT_NE(notice.find("a (2).txt\r\nand 2 more.\r\n3 results were not written."), std::string::npos) << notice;
    summary.notWrittenForSpace = 1;
    summary.spaceFailure = "Disk quota exceeded";
    EXPECT_NE(results::SaveNotice(summary).find("3 results were not written, 1 of them for lack of space (Disk quota "
                                                "exceeded)."),
        std::string::npos);
}

TEST(SaveResults, MissingFolderOrAFileGivenAsFolderWritesNothing)
{
    TempDir dir;
    Save save;
    const ResultList list = { { "b.txt", "S", 0, "t" } };
    EXPECT_EQ(save(dir.File("missing"), SaveMode::EachSheet, list), results::SaveOutcome::FolderMissing);
    EXPECT_EQ(save(dir.Write("plain", "x"), SaveMode::EachSheet, list), results::SaveOutcome::FolderMissing);
    EXPECT_EQ(save("", SaveMode::EachSheet, list), results::SaveOutcome::FolderMissing);
    EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string> { "plain" });
}

TEST(SaveResults, AnUnwritableFileIsReportedAndTheOthersAreWritten)
{
#ifndef _WIN32
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes read-only files anyway";
#endif
    TempDir dir;
    Save save;
    const std::string locked = dir.Write("b_B.txt", "old");
    ::chmod(locked.c_str(), 0444);
    const ResultList list = { { "b.txt", "A", 0, "a" }, { "b.txt", "B", 0, "b" }, { "b.txt", "C", 0, "c" } };
    save(dir.Path(), SaveMode::EachSheet, list);
    ASSERT_EQ(save.reporter.reports.size(), 1u);
    EXPECT_EQ(save.reporter.reports[0].step, 162);
    EXPECT_EQ(save.reporter.reports[0].location, "in Murrelet2/19/2015.Form2.PushButton6_Click ");
    EXPECT_EQ(ReadBytes(dir.File("b_A.txt")), "a");
    EXPECT_EQ(ReadBytes(dir.File("b_C.txt")), "c");
    EXPECT_EQ(ReadBytes(locked), "old");
}

TEST(SaveResults, AFolderInTheWayOfAFileIsReportedAndTheOthersAreWritten)
{
    // Works as root too: a folder named like the file cannot be replaced by a write.
    TempDir dir;
    Save save;
    std::filesystem::create_directory(dir.File("b_B.txt"));
    const ResultList list = { { "b.txt", "A", 0, "a" }, { "b.txt", "B", 0, "b" }, { "b.txt", "C", 0, "c" } };
    save(dir.Path(), SaveMode::EachSheet, list);
    ASSERT_EQ(save.reporter.reports.size(), 1u);
    EXPECT_NE(save.reporter.reports[0].description.find("b_B.txt"), std::string::npos);
    EXPECT_EQ(ReadBytes(dir.File("b_C.txt")), "c");
}

TEST(SaveResults, NoModeWritesNothingButSucceeds)
{
    TempDir dir;
    Save save;
    EXPECT_EQ(save(dir.Path(), std::nullopt, { { "b.txt", "S", 0, "t" } }), results::SaveOutcome::Saved);
    EXPECT_TRUE(FilesIn(dir.Path()).empty());
}

TEST(SaveResults, SavingTwiceLeavesOneFilePerName)
{
    TempDir dir;
    Save save;
    save(dir.Path(), SaveMode::EachSheet, { { "b.txt", "S", 0, "first" } });
    save(dir.Path(), SaveMode::EachSheet, { { "b.txt", "S", 0, "second" } });
    EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string> { "b_S.txt" });
    EXPECT_EQ(ReadBytes(dir.File("b_S.txt")), "second");
}

namespace {

// Hears each saved file, as a caller printing the names does.
struct RecordingListener final : results::SaveListener {
    std::vector<results::SavedFile> files;
    void Saved(const results::SavedFile& file) override { files.push_back(file); }
};

} // namespace

TEST(SaveSession, PartsAreNamedAsOneSaveOfTheWholeList)
{
    const ResultList whole = SheetsOfB({ "S", "x/y", "S", "x_y", "S (2)", "S" });
    TempDir once, inParts;
    Save save;
    save(once.Path(), SaveMode::EachSheet, whole);

    vt::RecordingReporter reporter;
    vt::CountingPump pump;
    RecordingListener listener;
    results::SaveSession session(inParts.Path(), SaveMode::EachSheet, {}, { reporter, pump, &listener });
    // Parts of one, none, two and three results: a name claimed in one part counts in the next.
    for (const auto& [first, count] : std::vector<std::pair<size_t, size_t>> { { 0, 1 }, { 1, 0 }, { 1, 2 }, { 3, 3 } })
        session.Save(ResultList(whole.begin() + first, whole.begin() + first + count));
    EXPECT_EQ(FilesIn(inParts.Path()), FilesIn(once.Path()));
    for (const auto& name : FilesIn(once.Path()))
        EXPECT_EQ(ReadBytes(inParts.File(name)), ReadBytes(once.File(name))) << name;
    EXPECT_EQ(session.Summary().renamedNames, save.summary.renamedNames);
    EXPECT_EQ(session.Summary().written, whole.size());
    ASSERT_EQ(listener.files.size(), whole.size());
    for (size_t i = 0; i < whole.size(); ++i)
        EXPECT_EQ(listener.files[i].index, i);
    EXPECT_TRUE(reporter.reports.empty());
}

TEST(SaveSession, AfterAFailureEveryLaterFileWouldMeetLaterPartsAreCountedNotTried)
{
    TempDir dir;
    vt::FaultyFileCalls calls;
    calls.failAfterFiles = 1;
    calls.openError = EACCES;
    vt::RecordingReporter reporter;
    vt::CountingPump pump;
    results::SaveSession session(dir.Path(), SaveMode::EachRow, {}, { reporter, pump, nullptr, &calls });
    session.Save(SheetsOfB({ "A" }));
    session.Save(SheetsOfB({ "B", "C" }));
    session.Save(SheetsOfB({ "D", "E", "F" }));
    ASSERT_EQ(reporter.reports.size(), 1u);
    // The report counts nothing its part alone cannot know; the summary counts them all.
    EXPECT_NE(
        reporter.reports[0].description.find("Saving stopped, so no later result was written."), std::string::npos)
        << reporter.reports[0].description;
    EXPECT_EQ(calls.filesOpened, 2u);
    EXPECT_EQ(session.Summary().written, 1u);
    EXPECT_EQ(session.Summary().notWritten, 5u);
    EXPECT_EQ(results::SaveNotice(session.Summary()),
        "5 results were not written:\r\nb_B_.txt: it could not be written\r\nb_C_.txt: saving stopped before it\r\n"
        "b_D_.txt: saving stopped before it\r\nb_E_.txt: saving stopped before it\r\nb_F_.txt: saving stopped "
        "before it");
}

TEST(NameTemplate, FieldsAreFilledAndEveryNameStaysInsideTheFolder)
{
    const ResultEntry row { "sales.2015.txt", "North/East", 7, "t" };
    EXPECT_EQ(
        results::TemplateFileName("{book}.{ext}_{sheet}", "in/sales.2015.xlsx", row), "sales.2015.xlsx_North_East.txt");
    EXPECT_EQ(results::TemplateFileName("{n}-{sheet}", "sales.ods", row), "7-North_East.txt");
    // No extension, no ordinal: the fields are empty; a "/" of the template itself is no folder.
    EXPECT_EQ(results::TemplateFileName("../{book}[{ext}]{n}", "stdin", { "stdin.txt", "", 0, "t" }), ".._stdin[].txt");
    EXPECT_EQ(results::TemplateFileName("{sheet}", "b.xlsx", { "b.txt", "", 0, "t" }), "b.txt");
    EXPECT_FALSE(results::NameTemplateProblem("{book}{ext}{sheet}{n} plain"));
    EXPECT_TRUE(results::NameTemplateProblem("{Book}"));
    EXPECT_TRUE(results::NameTemplateProblem("{book"));
}

TEST(NameTemplate, AFolderStartsTheNameAndNumbersArePadded)
{
    const ResultEntry row { "X.txt", "S", 7, "t" };
    const struct {
        const char* pattern;
        const char* folder;
        const char* name;
    } cases[] = {
        { "{dir}/{book}", "a/sub", "a/sub/X.txt" }, { "{dir}{book}", "a/sub", "a/sub/X.txt" },
        { "{dir}/{book}", "", "X.txt" },
        // The folder's pieces are made safe, and none can climb out of the output folder.
        { "{dir}/{book}", "../a/./b\x01/", "a/b_/X.txt" }, { "{dir}/{book}", "..", "X.txt" },
        { "{book}_{n:03}", "a", "X_007.txt" }, { "{book}_{n:1}_{n:09}", "", "X_{n_1}_000000007.txt" },
        { "{book}/{n:03}", "a", "X_007.txt" }, // a "/" of the template is no folder
    };
    for (const auto& c : cases)
        EXPECT_EQ(results::TemplateFileName(c.pattern, "in/X.xlsx", row, c.folder), c.name) << c.pattern;
    EXPECT_EQ(results::TemplateFileName("{book}_{n:03}", "X.xlsx", { "X.txt", "S", 0, "t" }), "X_.txt");
    EXPECT_FALSE(results::NameTemplateProblem("{dir}/{book}_{n:03}"));
    EXPECT_TRUE(results::NameTemplateProblem("{book}{dir}"));
    EXPECT_TRUE(results::NameTemplateProblem("{n:0}"));
    EXPECT_TRUE(results::NameTemplateProblem("{n:010}"));
    EXPECT_TRUE(results::NameTemplateProblem("{n:3}"));
}

TEST(NameTemplate, ANamingTellsTheFilesItGivesAWorkbook)
{
    const struct {
        SaveMode mode;
        std::optional<std::string> pattern;
        const char* path; // within the output folder
        const char* workbook;
        const char* folder;
        bool gives;
    } cases[] = {
        { SaveMode::AllSheets, std::nullopt, "Sales.txt", "d/Sales.xlsx", "", true },
        { SaveMode::AllSheets, std::nullopt, "Sales (2).txt", "d/Sales.xlsx", "", true },
        { SaveMode::AllSheets, std::nullopt, "Sales_x.txt", "d/Sales.xlsx", "", false },
        { SaveMode::AllSheets, std::nullopt, "Sales.csv", "d/Sales.xlsx", "", false },
        { SaveMode::EachSheet, std::nullopt, "Contacts_Contacts.txt", "Contacts.csv", "", true },
        { SaveMode::EachSheet, std::nullopt, "Contacts_Contacts_Contacts.txt", "Contacts.csv", "", true },
        { SaveMode::EachSheet, std::nullopt, "Contacts.txt", "Contacts.csv", "", false },
        { SaveMode::EachSheet, std::nullopt, "Contactsx_A.txt", "Contacts.csv", "", false },
        { SaveMode::EachRow, std::nullopt, "b_S_12.txt", "b.ods", "", true },
        { SaveMode::EachRow, std::nullopt, "b_S_x.txt", "b.ods", "", false },
        { SaveMode::EachRow, std::nullopt, "b_S_1_2.txt", "b.ods", "", true }, // the sheet "S_1"
        { SaveMode::EachSheet, "{book}.{ext}_{sheet}", "b.ods_S.txt", "b.ods", "", true },
        { SaveMode::EachSheet, "{book}.{ext}_{sheet}", "b.xlsx_S.txt", "b.ods", "", false },
        { SaveMode::EachRow, "{dir}/{book}_{n:03}", "a/sub/b_007.txt", "t/a/sub/b.ods", "a/sub", true },
        { SaveMode::EachRow, "{dir}/{book}_{n:03}", "b_007.txt", "t/a/sub/b.ods", "a/sub", false },
        { SaveMode::EachRow, "{dir}/{book}_{n:03}", "a/b_007.txt", "t/a/sub/b.ods", "a/sub", false },
        { SaveMode::EachSheet, "{sheet}", "anything.txt", "b.ods", "", true },
    };
    for (const auto& c : cases) {
        const results::ResultNaming naming(c.mode, c.pattern);
        EXPECT_EQ(naming.Gives(c.path, c.workbook, c.folder), c.gives) << c.path << " of " << c.workbook;
    }
}

TEST(NameTemplate, ASessionMakesTheFoldersOfATreeInsideTheOutputFolderOnly)
{
    TempDir dir;
    vt::RecordingReporter reporter;
    vt::CountingPump pump;
    {
        results::SaveSession session(dir.Path(), SaveMode::EachSheet, {}, { reporter, pump });
        session.SetNameTemplate("{dir}/{book}");
        session.Save(SheetsOfB({ "S" }), "t/a/b.xlsx", "a");
        session.Save(SheetsOfB({ "S" }), "t/a/sub/b.xlsx", "a/sub");
        session.Save(SheetsOfB({ "S", "T" }), "t/b.xlsx", "");
        EXPECT_EQ(session.Summary().written, 4u);
        EXPECT_EQ(session.Summary().renamed, 1u);
    }
    EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string> { "a", "b (2).txt", "b.txt" }));
    EXPECT_EQ(ReadBytes(dir.File("a/b.txt")), "text of S #0");
    EXPECT_EQ(ReadBytes(dir.File("a/sub/b.txt")), "text of S #0");
    EXPECT_TRUE(reporter.reports.empty());
#ifndef _WIN32
    // A link or a file where a folder would be is never written through.
    TempDir outside;
    std::filesystem::create_symlink(outside.Path(), dir.File("link"));
    dir.Write("file", "kept");
    results::SaveSession session(dir.Path(), SaveMode::EachSheet, {}, { reporter, pump });
    session.SetNameTemplate("{dir}/{book}");
    session.Save(SheetsOfB({ "S" }), "t/link/b.xlsx", "link");
    session.Save(SheetsOfB({ "S" }), "t/file/b.xlsx", "file");
    session.Save(SheetsOfB({ "S" }), "t/new/b.xlsx", "new");
    EXPECT_TRUE(FilesIn(outside.Path()).empty());
    EXPECT_EQ(ReadBytes(dir.File("file")), "kept");
    EXPECT_EQ(session.Summary().written, 1u);
    EXPECT_EQ(session.Summary().notWritten, 2u);
    ASSERT_EQ(reporter.reports.size(), 2u);
    EXPECT_NE(reporter.reports[0].description.find("link/"), std::string::npos) << reporter.reports[0].description;
#endif
}

TEST(NameTemplate, ASessionNamesFromTheTemplateAndNumbersRepeats)
{
    TempDir dir;
    vt::RecordingReporter reporter;
    vt::CountingPump pump;
    results::SaveSession session(dir.Path(), SaveMode::EachSheet, {}, { reporter, pump });
    session.SetNameTemplate("{book}.{ext}_{sheet}");
    session.Save(SheetsOfB({ "S", "S" }), "/data/b.xlsx");
    session.Save(SheetsOfB({ "S" }), "/data/b.ods");
    EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string> { "b.ods_S.txt", "b.xlsx_S (2).txt", "b.xlsx_S.txt" }));
    EXPECT_EQ(session.Summary().renamed, 1u);
}

TEST(SaveResults, ANameTooLongForTheFileSystemIsShortenedAtACharacterBoundary)
{
    std::string sheet;
    for (int i = 0; i < 130; ++i)
        sheet += "\xC3\xA9"; // é: 260 bytes in all
    const ResultList list
        = { { "b.txt", sheet, 0, "first" }, { "b.txt", sheet, 0, "second" }, { "b.txt", "short", 0, "third" } };
    TempDir dir;
    Save save;
    ASSERT_EQ(save(dir.Path(), SaveMode::EachSheet, list), results::SaveOutcome::Saved);
    EXPECT_TRUE(save.reporter.reports.empty());
    EXPECT_EQ(save.summary.written, 3u);
    EXPECT_EQ(save.summary.renamed, 2u); // both long ones, the first shortened, the second numbered too
    std::map<std::string, std::string> named; // text -> name
    for (const auto& name : FilesIn(dir.Path())) {
        named[ReadBytes(dir.File(name))] = name;
        EXPECT_LE(name.size(), results::kLongestFileName) << name;
        EXPECT_TRUE(name.ends_with(".txt")) << name;
    }
    ASSERT_EQ(named.size(), 3u);
    // The cut falls between two characters: "b_", then as many whole é as fit.
    EXPECT_EQ(named["first"], "b_" + sheet.substr(0, 248) + ".txt");
    EXPECT_EQ(named["second"], "b_" + sheet.substr(0, 244) + " (2).txt");
    EXPECT_EQ(named["third"], "b_short.txt");
}

namespace {

// The real system calls, with an action before each file is opened: what another
// program or a person does while the save goes on.
class CallsWithAnAction final : public core::FileCalls {
public:
    std::function<void(size_t file)> beforeOpen;
    int Open(int folder, const std::string& name, int flags, mode_t mode) override
    {
        beforeOpen(m_opened++);
        return core::FileCalls::Open(folder, name, flags, mode);
    }

private:
    size_t m_opened = 0;
};

} // namespace

TEST(SaveSession, AFolderReplacedByALinkDuringTheSaveEndsItNamingTheFolder)
{
    // After the first file the folder is moved away and a link to another folder takes
    // its name: the files must neither follow the link nor go on into the moved folder.
#ifdef _WIN32
    GTEST_SKIP() << "Windows does not let a folder held open by the save be moved, and links need a privilege";
#else
    TempDir dir;
    const std::string out = dir.File("out");
    const std::string elsewhere = dir.File("elsewhere");
    ASSERT_EQ(::mkdir(out.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(elsewhere.c_str(), 0700), 0);
    CallsWithAnAction calls;
    calls.beforeOpen = [&](size_t file) {
        if (file == 1) {
            ASSERT_EQ(::rename(out.c_str(), dir.File("moved").c_str()), 0);
            ASSERT_EQ(::symlink(elsewhere.c_str(), out.c_str()), 0);
        }
    };
    vt::RecordingReporter reporter;
    vt::CountingPump pump;
    results::SaveSession session(out, SaveMode::EachSheet, {}, { reporter, pump, nullptr, &calls });
    session.Save(SheetsOfB({ "A", "B" }));
    session.Save(SheetsOfB({ "C", "D" }));
    EXPECT_EQ(FilesIn(dir.File("moved")), (std::vector<std::string> { "b_A.txt", "b_B.txt" }));
    EXPECT_TRUE(FilesIn(elsewhere).empty());
    ASSERT_EQ(reporter.reports.size(), 1u);
    EXPECT_EQ(reporter.reports[0].description,
        "Cannot write into " + out
            + ": the folder was moved or replaced during the save. Saving stopped, so no later result was written.");
    EXPECT_EQ(session.Summary().written, 2u);
    EXPECT_EQ(session.Summary().notWritten, 2u);
#endif
}

TEST(SaveSession, TemporaryFilesOfSavesThatWereKilledAreRemoved)
{
#ifdef _WIN32
    GTEST_SKIP() << "the process that has ended is made with fork";
#else
    TempDir dir;
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ASSERT_GT(gone, 0);
    ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
    // A save still under way holds its file; one that no run holds is a leftover, even
    // under the number of a process that runs (numbers are reused, and mean nothing in
    // another PID namespace).
    const core::OutputFolder folder(dir.Path());
    core::PendingFile underWay;
    ASSERT_FALSE(underWay.Begin(folder, "b_Z.txt"));
    const std::string running = FilesIn(dir.Path()).at(0);
    const std::string stale = ".vellumcast-" + std::to_string(gone) + "-7.tmp";
    const std::string unheld = ".vellumcast-" + std::to_string(::getpid()) + "-100000.tmp";
    for (const std::string& name : { stale, unheld, std::string(".vellumcast-x-1.tmp"), std::string("a.tmp") })
        dir.Write(name, "partial");
    vt::RecordingReporter reporter;
    vt::CountingPump pump;
    results::SaveSession session(dir.Path(), SaveMode::EachSheet, {}, { reporter, pump });
    session.Save(SheetsOfB({ "A" }));
    EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string> { running, ".vellumcast-x-1.tmp", "a.tmp", "b_A.txt" }));
    ASSERT_FALSE(underWay.Write("whole"));
    ASSERT_FALSE(underWay.Commit());
    EXPECT_EQ(ReadBytes(dir.File("b_Z.txt")), "whole");
#endif
}

TEST(SaveSessionDeathTest, AnInterruptionFinishesTheFileUnderWayAndEndsTheProgram)
{
    // The signal comes while the second file is being written: it is finished, no
    // temporary file is left, the third is not written, and the status says which signal.
#ifdef _WIN32
    GTEST_SKIP() << "a Windows process cannot send itself SIGINT or SIGTERM; Ctrl+C comes from a console";
#else
    for (const int signal : { SIGINT, SIGTERM }) {
        TempDir dir;
        const auto save = [&] {
            CallsWithAnAction calls;
            calls.beforeOpen = [&](size_t file) {
                if (file == 1)
                    ::kill(::getpid(), signal);
            };
            vt::RecordingReporter reporter;
            vt::CountingPump pump;
            results::SaveSession session(dir.Path(), SaveMode::EachSheet, {}, { reporter, pump, nullptr, &calls });
            session.Save(SheetsOfB({ "A", "B", "C" }));
            std::_Exit(0);
        };
        EXPECT_EXIT(save(), ::testing::ExitedWithCode(128 + signal), "Interrupted by SIG");
        EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string> { "b_A.txt", "b_B.txt" })) << signal;
        EXPECT_EQ(ReadBytes(dir.File("b_B.txt")), "text of B #1");
    }
#endif
}

// A result saved as its text comes ends as Save would save its final text: with the
// leading bytes, a name from the template and the numbering of repeats, each abandoned
// result giving its name back as if it had never begun.
TEST(SaveSession, ATextWrittenAsItComesIsSavedAsSaveWouldSaveItsEnd)
{
    TempDir whole, asItComes;
    vt::RecordingReporter reporter;
    vt::CountingPump pump;
    RecordingListener wholeHeard, comingHeard;
    results::SaveSession once(whole.Path(), SaveMode::EachSheet, {}, { reporter, pump, &wholeHeard });
    results::SaveSession session(asItComes.Path(), SaveMode::EachSheet, {}, { reporter, pump, &comingHeard });
    for (auto* each : { &once, &session }) {
        each->SetNameTemplate("{book}_{sheet}");
        each->SetLeadingBytes("\xEF\xBB\xBF");
    }
    once.Save(SheetsOfB({ "S", "S", "T" }), "b.xlsx");

    const ResultList sheets = SheetsOfB({ "S", "S", "T" });
    session.SetWorkbook("b.xlsx");
    session.Begin(sheets[0]);
    session.Write("text of S #0");
    session.Commit();
    // Dropped twice before it is written: neither "(2)" nor "(3)" stays taken.
    for (int dropped = 0; dropped < 2; ++dropped) {
        session.Begin(sheets[1]);
        session.Write("taken back");
        session.Abandon();
    }
    session.Begin(sheets[1]);
    session.Write("text of S #1 and more");
    session.Cut(12);
    session.Write("");
    session.Commit();
    session.Begin(sheets[2]);
    session.Write("text of ");
    session.Cut(0);
    session.Write("text of ");
    session.Write("T #2");
    session.Commit();

    EXPECT_EQ(FilesIn(asItComes.Path()), FilesIn(whole.Path()));
    EXPECT_EQ(FilesIn(whole.Path()), (std::vector<std::string> { "b_S (2).txt", "b_S.txt", "b_T.txt" }));
    for (const auto& name : FilesIn(whole.Path()))
        EXPECT_EQ(ReadBytes(asItComes.File(name)), ReadBytes(whole.File(name))) << name;
    ASSERT_EQ(comingHeard.files.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(comingHeard.files[i].index, wholeHeard.files[i].index);
        EXPECT_EQ(core::FileNameOfPath(comingHeard.files[i].path), core::FileNameOfPath(wholeHeard.files[i].path));
    }
    EXPECT_EQ(session.Summary().written, 3u);
    EXPECT_EQ(session.Summary().renamed, once.Summary().renamed);
    EXPECT_TRUE(reporter.reports.empty());
}

// A write that fails while the text comes is told once, at Commit, naming the file, and
// leaves no file of any kind; one that is abandoned after failing is never told.
TEST(SaveSession, AWriteFailingWhileTheTextComesIsToldAtCommitAndLeavesNothing)
{
    for (const int code : { EIO, ENOSPC }) {
        TempDir dir;
        vt::FaultyFileCalls calls;
        calls.bytesBeforeWriteFails = 10;
        calls.writeError = code;
        calls.failAfterFiles = 1;
        vt::RecordingReporter reporter;
        vt::CountingPump pump;
        RecordingListener listener;
        results::SaveSession session(dir.Path(), SaveMode::EachSheet, {}, { reporter, pump, &listener, &calls });
        const ResultList sheets = SheetsOfB({ "A", "B", "C" });
        session.Save(ResultList(sheets.begin(), sheets.begin() + 1));
        session.Begin(sheets[1]);
        session.Write("more than ten bytes");
        EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string> { "b_A.txt" }) << code;
        session.Write("written after the failure");
        session.Cut(3);
        EXPECT_TRUE(reporter.reports.empty());
        session.Commit();
        EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string> { "b_A.txt" }) << code;
        if (code == ENOSPC) {
            EXPECT_TRUE(reporter.reports.empty()); // told once in the summary
            EXPECT_EQ(session.Summary().notWrittenForSpace, 1u);
        } else {
            ASSERT_EQ(reporter.reports.size(), 1u);
            EXPECT_EQ(
                reporter.reports[0].description, "Cannot write " + dir.File("b_B.txt") + ": " + std::strerror(EIO));
        }
        // Failing again, then taken back: nothing is told, and the save goes on.
        session.Begin(sheets[2]);
        session.Write("more than ten bytes");
        session.Abandon();
        calls.failingFiles = 2;
        session.Save(ResultList(sheets.begin() + 2, sheets.end()));
        EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string> { "b_A.txt", "b_C.txt" })) << code;
        EXPECT_EQ(reporter.reports.size(), code == ENOSPC ? 0u : 1u);
        EXPECT_EQ(session.Summary().written, 2u);
        EXPECT_EQ(session.Summary().notWritten, 1u);
        ASSERT_EQ(listener.files.size(), 3u);
        EXPECT_FALSE(listener.files[1].written);
        EXPECT_EQ(listener.files[2].index, 2u);
    }
}

TEST(SaveSessionDeathTest, AnInterruptionWhileATextComesRemovesItsFileAndEndsTheProgram)
{
#ifdef _WIN32
    GTEST_SKIP() << "a Windows process cannot send itself SIGINT or SIGTERM; Ctrl+C comes from a console";
#else
    for (const int signal : { SIGINT, SIGTERM }) {
        TempDir dir;
        const auto save = [&] {
            vt::RecordingReporter reporter;
            vt::CountingPump pump;
            results::SaveSession session(dir.Path(), SaveMode::EachSheet, {}, { reporter, pump });
            const ResultList sheets = SheetsOfB({ "A", "B" });
            session.Begin(sheets[0]);
            session.Write("whole");
            session.Commit();
            session.Begin(sheets[1]);
            session.Write("begun");
            ::kill(::getpid(), signal);
            session.Write("never written");
            std::_Exit(0);
        };
        EXPECT_EXIT(save(), ::testing::ExitedWithCode(128 + signal), "Interrupted by SIG.*was removed");
        EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string> { "b_A.txt" })) << signal;
    }
#endif
}

// A text cut short by its workbook's failure never takes the place of a file: where the
// name is free the windows may still write it, the command line never does, and a save
// that keeps the folder's files gives it the next free name.
TEST(SaveResults, ATextCutShortNeverReplacesAFile)
{
    struct Case {
        results::ExistingFiles existing;
        results::CutShortTexts cutShort;
        bool earlier; // the folder holds a good earlier b.txt
        std::vector<std::string> files;
        std::string inB; // b.txt afterwards
    };
    using results::CutShortTexts;
    using results::ExistingFiles;
    const Case cases[] = {
        { ExistingFiles::Replace, CutShortTexts::WhereFree, true, { "b.txt", "c.txt" }, "good" },
        { ExistingFiles::Replace, CutShortTexts::WhereFree, false, { "b.txt", "c.txt" }, "part" },
        { ExistingFiles::Keep, CutShortTexts::WhereFree, true, { "b (2).txt", "b.txt", "c.txt" }, "good" },
        { ExistingFiles::Replace, CutShortTexts::NotWritten, true, { "b.txt", "c.txt" }, "good" },
        { ExistingFiles::Replace, CutShortTexts::NotWritten, false, { "c.txt" }, "" },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(std::to_string(&test - cases));
        TempDir dir;
        if (test.earlier)
            dir.Write("b.txt", "good");
        vt::RecordingReporter reporter;
        vt::CountingPump pump;
        results::SaveSession session(dir.Path(), SaveMode::AllSheets, {}, { reporter, pump }, 2);
        session.SetExistingFiles(test.existing);
        session.SetCutShortTexts(test.cutShort);
        ResultEntry partial { "b.txt", "", 0, "part", SaveMode::AllSheets };
        partial.cutShort = true;
        session.Save(ResultList { partial, { "c.txt", "", 0, "whole" } });
        EXPECT_EQ(FilesIn(dir.Path()), test.files);
        EXPECT_EQ(ReadBytes(dir.File("b.txt")), test.inB);
        EXPECT_EQ(ReadBytes(dir.File("c.txt")), "whole");
        EXPECT_TRUE(reporter.reports.empty());
        const bool written = test.files.size() == 3 || (test.inB == "part");
        EXPECT_EQ(session.Summary().notWrittenCutShort, written ? 0u : 1u);
        if (!written) {
            ASSERT_EQ(session.Summary().notWrittenFiles.size(), 1u);
            EXPECT_EQ(results::NotWrittenLine(session.Summary().notWrittenFiles[0]),
                "b.txt: its text is cut short by a failure of its workbook");
        }
    }
}

namespace {

// The real calls, except that a file takes the name a result is about to be put in place
// under, as another program writing into the folder would.
class NameTakenMeanwhile final : public core::FileCalls {
public:
    std::string folder;
    std::string takes; // the file name taken, once
    int RenameNew(int at, const std::string& from, const std::string& to) override
    {
        if (!takes.empty() && core::FileNameOfPath(to) == takes) {
            vellumcast::testing::WriteFile(folder + "/" + takes, "theirs");
            takes.clear();
        }
        return core::FileCalls::RenameNew(at, from, to);
    }
};

} // namespace

// Keeping the folder's files: a new text takes the next free "(N)" name, also when a file
// takes its name while the save goes on, and the names are counted as renamed.
TEST(SaveResults, KeepingTheFoldersFilesGivesTheNewTextsFreeNames)
{
    TempDir dir;
    dir.Write("b_S.txt", "mine");
    dir.Write("b_S (2).txt", "mine too");
    NameTakenMeanwhile calls;
    calls.folder = dir.Path();
    calls.takes = "b_T.txt";
    Save save;
    save.files = &calls;
    const ResultList list = SheetsOfB({ "S", "T", "U" });
    save.summary = results::SaveResults(dir.Path(), SaveMode::EachSheet, {}, list,
        { save.reporter, save.pump, nullptr, &calls }, results::ExistingFiles::Keep);
    EXPECT_EQ(FilesIn(dir.Path()),
        (std::vector<std::string> { "b_S (2).txt", "b_S (3).txt", "b_S.txt", "b_T (2).txt", "b_T.txt", "b_U.txt" }));
    EXPECT_EQ(ReadBytes(dir.File("b_S.txt")), "mine");
    EXPECT_EQ(ReadBytes(dir.File("b_S (2).txt")), "mine too");
    EXPECT_EQ(ReadBytes(dir.File("b_T.txt")), "theirs");
    EXPECT_EQ(ReadBytes(dir.File("b_S (3).txt")), list[0].text);
    EXPECT_EQ(ReadBytes(dir.File("b_T (2).txt")), list[1].text);
    EXPECT_EQ(save.summary.written, 3u);
    EXPECT_EQ(save.summary.renamedNames, (std::vector<std::string> { "b_S (3).txt", "b_T (2).txt" }));
    EXPECT_NE(results::RenamedNotice(save.summary).find("a file kept in the folder"), std::string::npos);
    EXPECT_TRUE(save.reporter.reports.empty());
}

// What the windows ask about: the files the save would replace under the names it would
// give, neither texts cut short nor folders counted, nor the run's own workbooks.
TEST(FilesToReplace, CountsTheFilesASaveWouldReplaceAndNamesTheFirst)
{
    TempDir dir;
    for (const char* name : { "b_S.txt", "b_S (2).txt", "b_U.txt", "b_V.txt", "other.txt" })
        dir.Write(name, "mine");
    std::filesystem::create_directory(dir.File("b_T.txt"));
    ResultList list;
    for (const char* sheet : { "S", "S", "T" })
        list.push_back({ "b.txt", sheet, 0, "new", SaveMode::EachSheet });
    ResultEntry partial { "b.txt", "U", 0, "part", SaveMode::EachSheet };
    partial.cutShort = true;
    list.push_back(partial);
    list.push_back({ "b_V.txt", "", 0, "v", SaveMode::AllSheets }); // named as a workbook of the list
    const auto inTheWay = results::FilesToReplace(dir.Path(), { dir.File("b_V.txt") }, list, 1);
    EXPECT_EQ(inTheWay.count, 2u);
    EXPECT_EQ(inTheWay.names, std::vector<std::string> { "b_S.txt" });
    EXPECT_EQ(results::FilesToReplace(dir.File("missing"), {}, list, 1).count, 0u);
}

namespace {

// A person pressing Escape after the first file.
class StopAfterFirst final : public core::Pump {
public:
    void Run() override { m_stop = ++m_runs > 1; }
    bool StopRequested() const override { return m_stop; }

private:
    size_t m_runs = 0;
    bool m_stop = false;
};

} // namespace

// How a save ends: "Done." only when every result was written, and every result not
// written named, with numbers grouped one way.
TEST(SaveNotice, EverySaveThatLeftResultsUnwrittenSaysHowManyAndNamesThem)
{
    TempDir dir;
    vt::RecordingReporter reporter;
    StopAfterFirst stop;
    const auto stopped
        = results::SaveResults(dir.Path(), SaveMode::EachSheet, {}, SheetsOfB({ "A", "B", "C" }), { reporter, stop });
    EXPECT_TRUE(stopped.stopAsked);
    EXPECT_EQ(results::SaveHeadline(stopped), "Saving was stopped: 1 of 3 results were written.");
    EXPECT_EQ(results::SaveNotice(stopped),
        "2 results were not written:\r\nb_B.txt: saving stopped before it\r\nb_C.txt: saving stopped before it");

    results::SaveSummary summary;
    EXPECT_EQ(results::SaveHeadline(summary), "Done.");
    summary.written = 16'927;
    summary.notWritten = 483'074;
    EXPECT_EQ(results::SaveHeadline(summary), "16,927 of 500,001 results were written.");
    summary.notWrittenFiles.assign(results::kNotWrittenNamesKept, { "/out/x.txt", results::NotWrittenReason::Failed });
    const std::string notice = results::SaveNotice(summary);
    EXPECT_TRUE(notice.starts_with("483,074 results were not written:\r\nx.txt: it could not be written\r\n"))
        << notice;
    EXPECT_TRUE(notice.ends_with("\r\nand 482,074 more.")) << notice;
    summary.written = 0;
    EXPECT_EQ(results::SaveHeadline(summary), "No result was written.");
}
