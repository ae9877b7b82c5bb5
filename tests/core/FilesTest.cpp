#include "core/Files.h"
#include "core/Process.h"
#include "support/FaultyFileCalls.h"
#include "support/TempDir.h"
#include "support/WholeFiles.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>

using namespace vellumcast::core;
using vellumcast::testing::FaultyFileCalls;
using vellumcast::testing::FilesIn;
using vellumcast::testing::ReadBytes;
using vellumcast::testing::ReplaceWhole;
using vellumcast::testing::TempDir;

TEST(ReadTextFile, GivesNothingForAnEmptyOrMissingFile)
{
    TempDir dir;
    EXPECT_EQ(ReadTextFile(dir.Write("empty.txt", "")), "");
    EXPECT_EQ(ReadTextFile(dir.File("missing.txt")), "");
    EXPECT_EQ(ReadTextFile(dir.Write("abc.txt", "abc")), "abc");
}

TEST(ReadTextFile, ReadsEveryByteUnchanged)
{
    TempDir dir;
    const std::string bytes("\xFF\xFE"
                            "a\0b\r\nc\r",
        9);
    EXPECT_EQ(ReadTextFile(dir.Write("bom.txt", bytes)), bytes);
}

// Windows tells a used-up quota as a full disk.
#ifdef EDQUOT
constexpr int kQuotaUsedUp = EDQUOT;
#else
constexpr int kQuotaUsedUp = ENOSPC;
#endif

TEST(WholeReplacement, AFailureAtAnyPointLeavesTheEarlierFileAndNothingElse)
{
    struct Case {
        const char* what;
        void (*inject)(FaultyFileCalls&);
        int code;
        bool folderWide;
    };
    const Case cases[] = {
        { "folder not writable", [](FaultyFileCalls& c) { c.openError = EACCES; }, EACCES, true },
        { "folder gone", [](FaultyFileCalls& c) { c.openError = ENOENT; }, ENOENT, true },
        { "disk full half-way",
            [](FaultyFileCalls& c) {
                c.bytesBeforeWriteFails = 5;
                c.writeError = ENOSPC;
            },
            ENOSPC, false },
        { "quota at once",
            [](FaultyFileCalls& c) {
                c.bytesBeforeWriteFails = 0;
                c.writeError = kQuotaUsedUp;
            },
            kQuotaUsedUp, false },
        { "device error",
            [](FaultyFileCalls& c) {
                c.bytesBeforeWriteFails = 3;
                c.writeError = EIO;
            },
            EIO, false },
        { "error on close", [](FaultyFileCalls& c) { c.closeError = EIO; }, EIO, false },
        { "name refused", [](FaultyFileCalls& c) { c.renameError = ENAMETOOLONG; }, ENAMETOOLONG, false },
    };
    for (const auto& test : cases) {
        TempDir dir;
        const std::string path = dir.Write("Big_S.txt", "the earlier save");
        FaultyFileCalls calls;
        test.inject(calls);
        const auto failure = ReplaceWhole(path, "a new text longer than the space left", calls);
        ASSERT_TRUE(failure) << test.what;
        EXPECT_EQ(failure->code, test.code) << test.what;
        EXPECT_EQ(failure->folderWide, test.folderWide) << test.what;
        EXPECT_EQ(failure->noSpace, test.code == ENOSPC || test.code == kQuotaUsedUp) << test.what;
        EXPECT_EQ(failure->description, "Cannot write " + path + ": " + std::strerror(test.code)) << test.what;
        EXPECT_EQ(ReadBytes(path), "the earlier save") << test.what;
        EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string> { "Big_S.txt" }) << test.what;
    }
}

TEST(WholeReplacement, ShortWritesStillWriteEveryByte)
{
    TempDir dir;
    FaultyFileCalls calls;
    calls.bytesPerWrite = 3;
    const std::string text = "0123456789abcdefg\r\n";
    EXPECT_FALSE(ReplaceWhole(dir.File("out.txt"), text, calls));
    EXPECT_EQ(ReadBytes(dir.File("out.txt")), text);
    EXPECT_EQ(calls.unlinks, 0u);
}

TEST(WholeReplacement, KeepsTheEarlierFilesPermissionsAndReplacesALinkInsteadOfFollowingIt)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no permission bits, and symbolic links need a privilege";
#else
    TempDir dir;
    const std::string kept = dir.Write("kept.txt", "old");
    ::chmod(kept.c_str(), 0640);
    EXPECT_FALSE(ReplaceWhole(kept, "new"));
    struct stat info { };
    ASSERT_EQ(::stat(kept.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadBytes(kept), "new");

    // A link in the output folder pointing elsewhere: the file it points to is not touched.
    std::filesystem::create_directory(dir.File("elsewhere"));
    const std::string target = dir.Write("elsewhere/book.txt", "a workbook");
    std::filesystem::create_symlink(target, dir.File("link.txt"));
    EXPECT_FALSE(ReplaceWhole(dir.File("link.txt"), "exported"));
    EXPECT_EQ(ReadBytes(target), "a workbook");
    EXPECT_FALSE(std::filesystem::is_symlink(dir.File("link.txt")));
    EXPECT_EQ(ReadBytes(dir.File("link.txt")), "exported");
#endif
}

// A pending file holds the text beside the earlier file until committed: cut back and
// written on, the file put in place holds exactly the bytes kept; abandoned (also by
// being destroyed), nothing but the earlier file stays.
TEST(PendingFile, CommitsExactlyWhatWasKeptAndAbandoningLeavesTheEarlierFile)
{
    TempDir dir;
    const std::string path = dir.Write("Big_S.txt", "the earlier save");
    OutputFolder folder(dir.Path());
    {
        PendingFile file;
        ASSERT_FALSE(file.Begin(folder, "Big_S.txt"));
        EXPECT_FALSE(file.Write("0123456789"));
        EXPECT_FALSE(file.Cut(4));
        EXPECT_FALSE(file.Write("abc"));
        EXPECT_FALSE(file.Cut(7)); // the whole text: nothing goes
        EXPECT_FALSE(file.Write(""));
        EXPECT_EQ(FilesIn(dir.Path()).size(), 2u); // the earlier file and the one under way
        EXPECT_EQ(ReadBytes(path), "the earlier save");
        EXPECT_FALSE(file.Commit());
        EXPECT_FALSE(file.IsOpen());
    }
    EXPECT_EQ(ReadBytes(path), "0123abc");
    EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string> { "Big_S.txt" });

    for (const bool destroyed : { false, true }) {
        std::optional<PendingFile> file(std::in_place);
        ASSERT_FALSE(file->Begin(folder, "Big_S.txt"));
        ASSERT_FALSE(file->Write("never put in place"));
        if (destroyed)
            file.reset();
        else
            file->Abandon();
        EXPECT_EQ(ReadBytes(path), "0123abc") << destroyed;
        EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string> { "Big_S.txt" }) << destroyed;
    }
}

TEST(PendingFile, AFailingStepRemovesItsFileNamesThePathAndEndsTheWrite)
{
    struct Case {
        const char* what;
        void (*inject)(FaultyFileCalls&);
        int code;
    };
    const Case cases[] = {
        { "folder not writable", [](FaultyFileCalls& c) { c.openError = EACCES; }, EACCES },
        { "disk full half-way",
            [](FaultyFileCalls& c) {
                c.bytesBeforeWriteFails = 12;
                c.writeError = ENOSPC;
            },
            ENOSPC },
        { "cut refused", [](FaultyFileCalls& c) { c.truncateError = EIO; }, EIO },
        { "error on close", [](FaultyFileCalls& c) { c.closeError = EIO; }, EIO },
        { "name refused", [](FaultyFileCalls& c) { c.renameError = ENAMETOOLONG; }, ENAMETOOLONG },
    };
    for (const auto& test : cases) {
        TempDir dir;
        const std::string path = dir.Write("Big_S.txt", "the earlier save");
        OutputFolder folder(dir.Path());
        FaultyFileCalls calls;
        test.inject(calls);
        PendingFile file;
        // The first failure is the only one; the steps after it do nothing.
        std::optional<WriteFailure> failure = file.Begin(folder, "Big_S.txt", calls);
        for (const auto& step :
            { +[](PendingFile& f) { return f.Write("first piece "); }, +[](PendingFile& f) { return f.Cut(6); },
                +[](PendingFile& f) { return f.Write("second piece"); }, +[](PendingFile& f) { return f.Commit(); } }) {
            auto later = step(file);
            ASSERT_FALSE(failure && later) << test.what;
            if (!failure)
                failure = std::move(later);
        }
        ASSERT_TRUE(failure) << test.what;
        EXPECT_EQ(failure->code, test.code) << test.what;
        EXPECT_EQ(failure->description, "Cannot write " + path + ": " + std::strerror(test.code)) << test.what;
        EXPECT_FALSE(file.IsOpen()) << test.what;
        EXPECT_EQ(ReadBytes(path), "the earlier save") << test.what;
        EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string> { "Big_S.txt" }) << test.what;
    }
}

// A pending file is told live by the hold its writer keeps on it, never by the process
// its name gives: one held under a number no process here has (as a run in another PID
// namespace, or on another host, looks from here) stays, one no run holds goes even under
// the number of a live process, and a write in progress is put in place after another
// run's clean-up.
TEST(OutputFolder, RemovesThePendingFilesNoRunHoldsWhateverProcessTheirNamesGive)
{
#ifdef _WIN32
    GTEST_SKIP() << "a file being written cannot be renamed on Windows, which this test does to it";
#else
    TempDir dir;
    const OutputFolder folder(dir.Path());
    PendingFile elsewhere;
    ASSERT_FALSE(elsewhere.Begin(folder, "elsewhere.txt"));
    const std::string foreign = ".vellumcast-999999999-7.tmp";
    std::filesystem::rename(dir.File(FilesIn(dir.Path()).at(0)), dir.File(foreign));
    PendingFile running;
    ASSERT_FALSE(running.Begin(folder, "running.txt"));
    ASSERT_FALSE(running.Write("first half, "));
    const std::string leftover = ".vellumcast-" + std::to_string(CurrentProcessId()) + "-100000.tmp";
    for (const std::string& name : { leftover, std::string(".vellumcast-x-1.tmp"), std::string("a.tmp") })
        dir.Write(name, "partial");

    OutputFolder(dir.Path()).RemoveStaleTemporaries(); // what another run's save does first

    const std::vector<std::string> files = FilesIn(dir.Path());
    const auto has = [&](const std::string& name) { return std::count(files.begin(), files.end(), name) == 1; };
    EXPECT_TRUE(has(foreign));
    EXPECT_FALSE(has(leftover));
    EXPECT_TRUE(has(".vellumcast-x-1.tmp") && has("a.tmp"));
    EXPECT_EQ(files.size(), 4u); // and the running write's own
    ASSERT_FALSE(running.Write("second half"));
    ASSERT_FALSE(running.Commit());
    EXPECT_EQ(ReadBytes(dir.File("running.txt")), "first half, second half");
    elsewhere.Abandon();
#endif
}

TEST(FileExists, IsTrueForFilesAndFoldersOnly)
{
    TempDir dir;
    EXPECT_TRUE(FileExists(dir.Write("a.txt", "x")));
    EXPECT_TRUE(FileExists(dir.Path()));
    EXPECT_FALSE(FileExists(dir.File("*.txt")));
    EXPECT_FALSE(FileExists(""));
    EXPECT_TRUE(FolderExists(dir.Path()));
    EXPECT_FALSE(FolderExists(dir.File("a.txt")));
}

TEST(PathHelpers, CutAtTheLastSeparatorAndTheLastDot)
{
    EXPECT_EQ(FileNameOfPath("report"), "report");
    EXPECT_EQ(FileNameOfPath("/x/"), "");
    EXPECT_EQ(FileNameOfPath("/data/sales.2015.xls"), "sales.2015.xls");
    EXPECT_EQ(PathWithoutExtension("book.xlsx"), "book");
    EXPECT_EQ(PathWithoutExtension("archive.tar.gz"), "archive.tar");
    EXPECT_EQ(FileNameOfPath(PathWithoutExtension("/data/sales.2015.xls")), "sales.2015");
    EXPECT_THROW(PathWithoutExtension("report"), std::invalid_argument);
}

#ifndef _WIN32
// HOME and the XDG user folders are how POSIX desktops name the desktop folder.
class DesktopFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_home = std::getenv("HOME") ? std::getenv("HOME") : "";
        const char* config = std::getenv("XDG_CONFIG_HOME");
        m_config = config ? config : "";
        m_hadConfig = config != nullptr;
    }
    void TearDown() override
    {
        ::setenv("HOME", m_home.c_str(), 1);
        if (m_hadConfig)
            ::setenv("XDG_CONFIG_HOME", m_config.c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
    }
    std::string m_home, m_config;
    bool m_hadConfig = false;
};

TEST_F(DesktopFolder, TheDesktopWhenItExistsElseHomeWithOneSeparator)
{
    TempDir dir;
    ::setenv("HOME", (dir.Path() + "/").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
    EXPECT_EQ(GetDesktopFolder(), dir.Path() + "/"); // a fresh account without ~/Desktop
    std::filesystem::create_directory(dir.Path() + "/Desktop");
    EXPECT_EQ(GetDesktopFolder(), dir.Path() + "/Desktop/");
}

TEST_F(DesktopFolder, FollowsTheUserDirsFileWhenThatFolderExists)
{
    TempDir dir;
    ::setenv("HOME", dir.Path().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
    dir.Write("user-dirs.dirs", "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch/\"\n");
    std::filesystem::create_directory(dir.Path() + "/Desktop");
    EXPECT_EQ(GetDesktopFolder(), dir.Path() + "/"); // named but missing: not the English fallback either
    std::filesystem::create_directory(dir.Path() + "/Schreibtisch");
    EXPECT_EQ(GetDesktopFolder(), dir.Path() + "/Schreibtisch/");
}

TEST_F(DesktopFolder, FailsWithoutAHome)
{
    ::unsetenv("HOME");
    EXPECT_THROW(GetDesktopFolder(), std::invalid_argument);
}
#endif
