#include "core/Files.h"
#include "support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace vellumcast::core;
using vellumcast::testing::ReadBytes;
using vellumcast::testing::TempDir;

TEST(ReadTextFile, GivesEmptyFileForZeroBytesAndNothingForAMissingFile)
{
    TempDir dir;
    EXPECT_EQ(ReadTextFile(dir.Write("empty.txt", "")), "empty file");
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

TEST(WriteTextFile, WritesExactlyTheTextAndReplacesAnExistingFile)
{
    TempDir dir;
    const std::string path = dir.Write("out.txt", "a much longer earlier content");
    WriteTextFile(path, "abc");
    EXPECT_EQ(ReadBytes(path), "abc");
    WriteTextFile(path, "");
    EXPECT_EQ(ReadBytes(path), "");
}

TEST(WriteTextFile, FailsNamingThePathWhenTheFolderIsMissing)
{
    TempDir dir;
    const std::string path = dir.File("no/such/folder/out.txt");
    try {
        WriteTextFile(path, "abc");
        FAIL() << "no failure";
    } catch (const FileError& error) {
        EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
    }
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

TEST(DeleteFileQuietly, IgnoresEveryFailure)
{
    TempDir dir;
    const std::string path = dir.Write("a.txt", "x");
    DeleteFileQuietly(path);
    EXPECT_FALSE(FileExists(path));
    DeleteFileQuietly(path);
    DeleteFileQuietly(dir.Path()); // a folder is not removed and nothing is thrown
    EXPECT_TRUE(FolderExists(dir.Path()));
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
