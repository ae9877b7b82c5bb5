#include "worklist/FolderScan.h"

#include "core/ErrorReport.h"
#include "core/Files.h"
#include "support/RecordingPorts.h"
#include "support/TempDir.h"
#include "support/WholeFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sys/stat.h>
#ifdef _WIN32
#include <windows.h>
#endif

using namespace vellumcast;
using namespace vellumcast::worklist;
namespace fs = std::filesystem;

namespace {

using vellumcast::testing::RecordingReporter;
using CallbackPump = vellumcast::testing::CountingPump;

void Touch(const std::string& path)
{
    fs::create_directories(fs::path(path).parent_path());
    vellumcast::testing::WriteFile(path, "x");
}

std::vector<std::string> Import(const std::string& folder, const std::string& answer,
    RecordingReporter* reporter = nullptr, CallbackPump* pump = nullptr)
{
    RecordingReporter ownReporter;
    CallbackPump ownPump;
    core::StepRunner run(reporter ? *reporter : ownReporter, core::LocationText("Form1", "PushButton5_Click"));
    WorkbookList list;
    ImportFolder(list, folder, PatternForAnswer(answer), run, pump ? *pump : ownPump);
    return list.Paths();
}

TEST(FolderScanTest, TheTreeIsWalkedBreadthFirst)
{
    vellumcast::testing::TempDir dir;
    const std::string top = dir.Path();
    Touch(top + "/a.xls");
    Touch(top + "/S1/b.xls");
    Touch(top + "/S1/T/c.xls");
    Touch(top + "/S2/d.xls");
    EXPECT_EQ(Import(top, "xls"),
        (std::vector<std::string> { top + "/a.xls", top + "/S1/b.xls", top + "/S2/d.xls", top + "/S1/T/c.xls" }));
}

TEST(FolderScanTest, CollectSubfoldersGroupsEachLevelByParent)
{
    vellumcast::testing::TempDir dir;
    const std::string top = dir.Path() + "/";
    for (const char* folder : { "A/A1", "A/A2/deep", "B/B1", "C", ".hidden/inner" })
        fs::create_directories(top + folder);
    std::vector<std::string> folders { top };
    core::NoPump pump;
    CollectSubfolders(folders, true, pump);
    EXPECT_EQ(folders,
        (std::vector<std::string> { top, top + "A/", top + "B/", top + "C/", top + "A/A1/", top + "A/A2/",
            top + "B/B1/", top + "A/A2/deep/" }));
    std::vector<std::string> oneLevel { top };
    CollectSubfolders(oneLevel, false, pump);
    EXPECT_EQ(oneLevel, (std::vector<std::string> { top, top + "A/", top + "B/", top + "C/" }));
}

TEST(FolderScanTest, SymbolicLinkLoopsAreFollowedOnce)
{
    if (!vellumcast::testing::CanMakeSymbolicLinks())
        GTEST_SKIP() << "symbolic links need a privilege on Windows, and Wine makes none";
    vellumcast::testing::TempDir dir;
    const std::string top = dir.Path();
    Touch(top + "/A/a.xls");
    fs::create_directory_symlink(top, top + "/A/up"); // a loop back to the top
    fs::create_directory_symlink(top + "/A", top + "/Alink"); // a second way into A
    const auto paths = Import(top, "xls");
    EXPECT_EQ(paths, (std::vector<std::string> { top + "/A/a.xls" }));
}

TEST(FolderScanTest, TildeNamesAndHiddenWritableFilesAreSkipped)
{
    vellumcast::testing::TempDir dir;
    const std::string top = dir.Path();
    Touch(top + "/~$lock.xls");
    Touch(top + "/.hidden.xls");
    Touch(top + "/.readonly.xls");
    ::chmod((top + "/.readonly.xls").c_str(), 0444);
    Touch(top + "/plain.xls");
    Touch(top + "/.secret/in.xls"); // a hidden folder is not entered
    EXPECT_EQ(Import(top, "xls"), (std::vector<std::string> { top + "/.readonly.xls", top + "/plain.xls" }));
}

TEST(FolderScanTest, TheAnswerBecomesTheListingPattern)
{
    vellumcast::testing::TempDir dir;
    const std::string top = dir.Path();
    for (const char* name : { "a.xls", "b.XLSX", "c.xlsm", "d.txt", "e.csv", "f.xl", "noext", "g.xlb2" })
        Touch(top + "/" + name);
    fs::create_directory(top + "/sub.xls"); // a folder is never taken as a file
    struct Case {
        const char* answer;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        { "xls", { "a.xls", "b.XLSX", "c.xlsm" } },
        { "*", { "a.xls", "b.XLSX", "c.xlsm", "d.txt", "e.csv", "f.xl", "g.xlb2", "noext" } },
        { "txt", { "d.txt" } },
        { "xl*", { "a.xls", "b.XLSX", "c.xlsm", "f.xl", "g.xlb2" } },
        { "x?s", { "a.xls" } },
        { "doc", {} },
    };
    for (const auto& c : cases) {
        std::vector<std::string> expected;
        for (const auto& name : c.names)
            expected.push_back(top + "/" + name);
        EXPECT_EQ(Import(top, c.answer), expected) << c.answer;
    }
}

TEST(FolderScanTest, TheExtensionMayBeTypedWithItsDotOrStar)
{
    vellumcast::testing::TempDir dir;
    const std::string top = dir.Path();
    for (const char* name : { "a.xlsx", "b.ods", "c.xls" })
        Touch(top + "/" + name);
    for (const char* answer : { "xlsx", ".xlsx", "*.xlsx", " *.XLSX " })
        EXPECT_EQ(Import(top, answer), (std::vector<std::string> { top + "/a.xlsx" })) << answer;
    for (const char* answer : { "ods", ".ods", "*.ods" })
        EXPECT_EQ(Import(top, answer), (std::vector<std::string> { top + "/b.ods" })) << answer;
    EXPECT_EQ(Import(top, "*.*"), Import(top, "*"));
    EXPECT_EQ(Import(top, "*.*").size(), 3u);
}

TEST(FolderScanTest, BrokenLinksAndOtherNonFilesArePassedOverWithoutAReport)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no FIFOs in its file system";
#else
    vellumcast::testing::TempDir dir;
    const std::string top = dir.Path();
    Touch(top + "/kept.xls");
    Touch(top + "/sub/also.xls");
    fs::create_symlink(top + "/missing.xls", top + "/broken.xls");
    fs::create_symlink(top + "/kept.xls", top + "/link.xls"); // a working link is a file like any other
    ASSERT_EQ(::mkfifo((top + "/pipe.xls").c_str(), 0644), 0);
    RecordingReporter reporter;
    EXPECT_EQ(Import(top, "xls", &reporter),
        (std::vector<std::string> { top + "/kept.xls", top + "/link.xls", top + "/sub/also.xls" }));
    EXPECT_TRUE(reporter.reports.empty());

    // A dropped folder follows the same rule.
    WorkbookList dropped;
    core::NoPump pump;
    DropPaths(dropped, { top }, pump);
    EXPECT_EQ(
        dropped.Paths(), (std::vector<std::string> { top + "/kept.xls", top + "/link.xls", top + "/sub/also.xls" }));
#endif
}

TEST(FolderScanTest, WildcardMatchTable)
{
    struct Case {
        const char* pattern;
        const char* name;
        bool match;
    };
    const Case cases[] = {
        { "*.xls", "Book.XLS", true },
        { "*.xls", "book.xlsx", true },
        { "*.xls", "book.xl", false },
        { "*.xls", "xls", false },
        { "*.*", "README", true },
        { "*.*", ".profile", true },
        { "a?c.txt", "abc.txt", true },
        { "a?c.txt", "ac.txt", false },
        { "*.txt", "a.txt.bak", false },
        { "*.xlsx", "a.xlsxx", false },
        { "*.x*s", "a.xyzs", true },
        { "**.csv", "a.csv", true },
    };
    for (const auto& c : cases)
        EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.match) << c.pattern << " / " << c.name;
}

TEST(FolderScanTest, TheRootFolderGivesSingleSeparators)
{
    EXPECT_EQ(ComposePath("/", "Book1.xls"), "/Book1.xls");
    EXPECT_EQ(ComposePath("/data/", "Book1.xls"), "/data/Book1.xls");
#ifndef _WIN32
    // On Windows "//home/" starts a share's path, whose two separators stay.
    EXPECT_EQ(ComposePath("//", "Book1.xls"), "/Book1.xls");
    EXPECT_EQ(ComposePath("//home/", "Book1.xls"), "/home/Book1.xls");
#else
    EXPECT_EQ(ComposePath("C:\\", "Book1.xls"), "C:\\Book1.xls");
    EXPECT_EQ(ComposePath("C:\\\\", "Book1.xls"), "C:\\Book1.xls");
    EXPECT_EQ(ComposePath("\\\\server\\share\\", "Book1.xls"), "\\\\server\\share\\Book1.xls");
    EXPECT_EQ(ComposePath("\\\\server\\share\\\\in\\", "Book1.xls"), "\\\\server\\share\\in\\Book1.xls");
#endif
}

// Windows marks what a search should pass over with attributes rather than a leading dot:
// hidden and system folders are not entered, and such files are left out unless they are
// read-only. The paths found keep the backslashes the folder was given with.
TEST(FolderScanTest, HiddenAndSystemAttributesAreHonouredOnWindows)
{
#ifndef _WIN32
    GTEST_SKIP() << "only Windows has the Hidden and System attributes";
#else
    vellumcast::testing::TempDir dir;
    std::string top = dir.Path();
    std::replace(top.begin(), top.end(), '/', '\\');
    for (const char* file : { "a.xls", "h.xls", "r.xls", "s.xls", "Sub\\b.xls", "Hidden\\in.xls", "System\\in.xls" })
        Touch(top + "\\" + file);
    const auto set = [&](const char* name, DWORD attributes) {
        ASSERT_TRUE(::SetFileAttributesW(fs::path(top + "\\" + name).c_str(), attributes)) << name;
    };
    set("h.xls", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
    set("r.xls", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    set("s.xls", FILE_ATTRIBUTE_SYSTEM);
    set("Hidden", FILE_ATTRIBUTE_HIDDEN);
    set("System", FILE_ATTRIBUTE_SYSTEM);
    EXPECT_EQ(
        Import(top, "xls"), (std::vector<std::string> { top + "\\a.xls", top + "\\r.xls", top + "\\Sub\\b.xls" }));
    set("r.xls", FILE_ATTRIBUTE_NORMAL); // for the folder's removal
#endif
}

TEST(FolderScanTest, AFileThatVanishesBeforeFilteringIsReportedAndStillListed)
{
    vellumcast::testing::TempDir dir;
    const std::string top = dir.Path();
    Touch(top + "/gone.xls");
    RecordingReporter reporter;
    CallbackPump pump;
    // The pump runs between the listing and the filter of each name.
    pump.onRun = [&] {
        if (pump.calls == 3) // two turns while collecting folders, then the one before filtering
            fs::remove(top + "/gone.xls");
    };
    const auto paths = Import(top, "xls", &reporter, &pump);
    EXPECT_EQ(paths, (std::vector<std::string> { top + "/gone.xls" }));
    ASSERT_EQ(reporter.reports.size(), 1u);
    const auto& report = reporter.reports.front();
    EXPECT_EQ(report.step, 126);
    EXPECT_TRUE(report.hasScanContext);
    EXPECT_EQ(report.scanFolder, top + "/");
    EXPECT_EQ(report.scanFile, "gone.xls");
    EXPECT_NE(core::ReportErrorMessage(report).find("name: " + top + "/\r\nf(x): gone.xls"), std::string::npos);
}

TEST(FolderScanTest, AMissingFolderIsOneReportAndNothingListed)
{
    RecordingReporter reporter;
    EXPECT_TRUE(Import("/nonexistent-vellumcast-folder", "xls", &reporter).empty());
    ASSERT_EQ(reporter.reports.size(), 1u);
    EXPECT_EQ(reporter.reports.front().step, 118);
}

TEST(DropPathsTest, FoldersAreImportedWithAllFilesAndFilesTakenAsTheyAre)
{
    vellumcast::testing::TempDir dir;
    const std::string top = dir.Path();
    Touch(top + "/A/one.xls");
    Touch(top + "/A/sub/two.ods");
    Touch(top + "/A/~skip.xls");
    Touch(top + "/B/three.csv");
    Touch(top + "/~direct.xls");
    Touch(top + "/.hidden.txt");
    core::NoPump pump;

    WorkbookList twoFolders;
    DropPaths(twoFolders, { top + "/A", top + "/B" }, pump);
    EXPECT_EQ(twoFolders.Paths(),
        (std::vector<std::string> { top + "/A/one.xls", top + "/A/sub/two.ods", top + "/B/three.csv" }));

    WorkbookList folderAndFile;
    DropPaths(folderAndFile, { top + "/B", top + "/~direct.xls", top + "/.hidden.txt" }, pump);
    EXPECT_EQ(folderAndFile.Paths(),
        (std::vector<std::string> { top + "/B/three.csv", top + "/~direct.xls", top + "/.hidden.txt" }));

    // A path that no longer exists is taken as a file; the export run will say it cannot open it.
    WorkbookList vanished;
    DropPaths(vanished, { top + "/nothing.xls" }, pump);
    EXPECT_EQ(vanished.Paths(), (std::vector<std::string> { top + "/nothing.xls" }));
}

TEST(ListFolderFilesTest, HiddenFilesAreListedFoldersAreNot)
{
    vellumcast::testing::TempDir dir;
    const std::string top = dir.Path();
    Touch(top + "/b.xls");
    Touch(top + "/.a.xls");
    Touch(top + "/C.xls");
    fs::create_directory(top + "/d.xls");
    EXPECT_EQ(ListFolderFiles(top, "*.*"), (std::vector<std::string> { ".a.xls", "b.xls", "C.xls" }));
    EXPECT_EQ(ListFolderFiles(top + "/", "*.xls"), (std::vector<std::string> { ".a.xls", "b.xls", "C.xls" }));
    EXPECT_THROW(ListFolderFiles(top + "/missing", "*.*"), core::FileError);
}

} // namespace
