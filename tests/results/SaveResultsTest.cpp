#include "results/SaveResults.h"
#include "support/RecordingPorts.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vellumcast;
namespace vt = vellumcast::testing;
using exporting::ResultEntry;
using exporting::ResultList;
using options::SaveMode;
using vt::ReadBytes;
using vt::TempDir;

namespace {

std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct Save {
    vt::RecordingReporter reporter;
    vt::CountingPump pump;
    results::SaveOutcome operator()(const std::string& folder, std::optional<SaveMode> mode, const ResultList& list)
    {
        return results::SaveResults(folder, mode, list, reporter, pump);
    }
};

} // namespace

TEST(SavedFileName, EachModeNamesItsFile)
{
    const ResultEntry entry { "sales.2015.txt", "North", "7", "t" };
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
        { "tab\there\nnl", "b_tab_here_nl.txt" },
        { "/", "b__.txt" },
    };
    for (const auto& [sheet, expected] : cases)
        EXPECT_EQ(results::SavedFileName(SaveMode::EachSheet, { "b.txt", sheet, "", "" }), expected) << sheet;
}

TEST(SaveResults, WritesExactBytesInEveryMode)
{
    const ResultList list = { { "sales.txt", "North", "1", "a\tb\r\n" }, { "sales.txt", "South", "2", "empty file" } };
    for (SaveMode mode : { SaveMode::EachSheet, SaveMode::EachRow, SaveMode::EachColumn }) {
        TempDir dir;
        Save save;
        EXPECT_EQ(save(dir.Path(), mode, list), results::SaveOutcome::Saved);
        const std::string first = dir.File(results::SavedFileName(mode, list[0]));
        const std::string second = dir.File(results::SavedFileName(mode, list[1]));
        EXPECT_EQ(ReadBytes(first), "a\tb\r\n");
        EXPECT_EQ(ReadBytes(second), "empty file");
        EXPECT_EQ(FilesIn(dir.Path()).size(), 2u);
        EXPECT_TRUE(save.reporter.reports.empty());
    }
}

TEST(SaveResults, AllSheetsWalksTheResultsSoNamesKeepTheirTexts)
{
    TempDir dir;
    Save save;
    const ResultList list = { { "first.txt", "", "", "one" }, { "third.txt", "", "", "three" } };
    save(dir.Path() + "/", SaveMode::AllSheets, list);
    EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string> { "first.txt", "third.txt" }));
    EXPECT_EQ(ReadBytes(dir.File("third.txt")), "three");
}

TEST(SaveResults, DuplicateNamesAreReplacedInListOrder)
{
    TempDir dir;
    Save save;
    const ResultList list = { { "b.txt", "S", "", "earlier" }, { "b.txt", "S", "", "later" } };
    save(dir.Path(), SaveMode::EachSheet, list);
    EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string> { "b_S.txt" });
    EXPECT_EQ(ReadBytes(dir.File("b_S.txt")), "later");
}

TEST(SaveResults, MissingFolderOrAFileGivenAsFolderWritesNothing)
{
    TempDir dir;
    Save save;
    const ResultList list = { { "b.txt", "S", "", "t" } };
    EXPECT_EQ(save(dir.File("missing"), SaveMode::EachSheet, list), results::SaveOutcome::FolderMissing);
    EXPECT_EQ(save(dir.Write("plain", "x"), SaveMode::EachSheet, list), results::SaveOutcome::FolderMissing);
    EXPECT_EQ(save("", SaveMode::EachSheet, list), results::SaveOutcome::FolderMissing);
    EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string> { "plain" });
}

TEST(SaveResults, AnUnwritableFileIsReportedAndTheOthersAreWritten)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes read-only files anyway";
    TempDir dir;
    Save save;
    const std::string locked = dir.Write("b_B.txt", "old");
    ::chmod(locked.c_str(), 0444);
    const ResultList list = { { "b.txt", "A", "", "a" }, { "b.txt", "B", "", "b" }, { "b.txt", "C", "", "c" } };
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
    const ResultList list = { { "b.txt", "A", "", "a" }, { "b.txt", "B", "", "b" }, { "b.txt", "C", "", "c" } };
    save(dir.Path(), SaveMode::EachSheet, list);
    ASSERT_EQ(save.reporter.reports.size(), 1u);
    EXPECT_NE(save.reporter.reports[0].description.find("b_B.txt"), std::string::npos);
    EXPECT_EQ(ReadBytes(dir.File("b_C.txt")), "c");
}

TEST(SaveResults, NoModeWritesNothingButSucceeds)
{
    TempDir dir;
    Save save;
    EXPECT_EQ(save(dir.Path(), std::nullopt, { { "b.txt", "S", "", "t" } }), results::SaveOutcome::Saved);
    EXPECT_TRUE(FilesIn(dir.Path()).empty());
}

TEST(SaveResults, SavingTwiceLeavesOneFilePerName)
{
    TempDir dir;
    Save save;
    save(dir.Path(), SaveMode::EachSheet, { { "b.txt", "S", "", "first" } });
    save(dir.Path(), SaveMode::EachSheet, { { "b.txt", "S", "", "second" } });
    EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string> { "b_S.txt" });
    EXPECT_EQ(ReadBytes(dir.File("b_S.txt")), "second");
}
