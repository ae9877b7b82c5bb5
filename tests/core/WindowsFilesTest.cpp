// The file helpers as Windows users reach them: paths typed with backslashes and drives,
// paths past 260 characters, the long-path prefix, wildcards the program expands itself,
// and a file another program holds open. (The Hidden and System attributes: the folder
// scan's tests.)
#ifdef _WIN32

#include "core/Files.h"
#include "core/ReadOnlyFile.h"
#include "support/TempDir.h"
#include "support/WholeFiles.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <windows.h>

using namespace vellumcast::core;
using vellumcast::testing::ReadBytes;
using vellumcast::testing::ReplaceWhole;
using vellumcast::testing::TempDir;

namespace {

std::string Backslashed(std::string path)
{
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::wstring Wide(const std::string& utf8)
{
    const std::u8string text(utf8.begin(), utf8.end());
    return std::filesystem::path(text).wstring();
}

void SetAttributes(const std::string& path, DWORD attributes)
{
    ASSERT_TRUE(::SetFileAttributesW(Wide(path).c_str(), attributes)) << path;
}

// A folder whose path is longer than Windows' usual 260 characters, made through the
// long-path prefix.
std::string LongFolderIn(const TempDir& dir)
{
    std::string folder = Backslashed(dir.Path());
    while (folder.size() < 300)
        folder += "\\folder-with-a-name-of-forty-characters-";
    std::filesystem::create_directories(std::filesystem::path(L"\\\\?\\" + Wide(folder)));
    return folder;
}

} // namespace

TEST(WindowsPaths, BackslashesLongPathsAndThePrefixReachTheSameFiles)
{
    TempDir dir;
    const std::string backslashed = Backslashed(dir.Path());
    ASSERT_EQ(backslashed[1], ':'); // a drive path, as the temporary folder is
    const std::string prefixed = "\\\\?\\" + backslashed;
    const std::string longFolder = LongFolderIn(dir);
    ASSERT_GT(longFolder.size(), 260u);

    for (const std::string& folder : { backslashed, prefixed, longFolder, prefixed + "/forward" }) {
        SCOPED_TRACE(folder);
        if (folder.ends_with("forward"))
            std::filesystem::create_directory(dir.File("forward"));
        ASSERT_TRUE(FolderExists(folder));
        const OutputFolder output(folder);
        EXPECT_EQ(output.Prefix(), WithOneSeparator(folder) + "\\");
        EXPECT_FALSE(ReplaceWhole(output, "Blatt – März.txt", "text"));
        const std::string saved = output.Prefix() + "Blatt – März.txt";
        EXPECT_TRUE(FileExists(saved));
        EXPECT_EQ(ReadTextFile(saved), "text");
        EXPECT_EQ(FileNameOfPath(saved), "Blatt – März.txt");
        EXPECT_EQ(FolderOfPath(saved) + "\\", output.Prefix());
        const auto attributes = AttributesOf(saved);
        ASSERT_TRUE(attributes);
        EXPECT_EQ(attributes->kind, PathAttributes::Kind::File);
        const auto entries = ListFolder(folder);
        EXPECT_TRUE(std::any_of(
            entries.begin(), entries.end(), [](const FolderEntry& entry) { return entry.name == "Blatt – März.txt"; }));
        EXPECT_EQ(ReadOnlyFile(saved).Size(), 4u);
    }
    EXPECT_EQ(ReadBytes(dir.File("Blatt – März.txt")), "text");
}

TEST(WindowsPaths, WildcardsInAFileNameAreExpandedAsWindowsProgramsDo)
{
    TempDir dir;
    for (const char* name : { "b.xlsx", "A.xlsx", "日本.xlsx", "c.csv", "h.xlsx", "ab.xlsx" })
        dir.Write(name, "x");
    SetAttributes(dir.File("h.xlsx"), FILE_ATTRIBUTE_HIDDEN);
    std::filesystem::create_directory(dir.File("d.xlsx"));
    const std::string folder = Backslashed(dir.Path()) + "\\";

    EXPECT_EQ(ExpandWildcards(folder + "*.xlsx"),
        (std::vector<std::string> {
            folder + "A.xlsx", folder + "ab.xlsx", folder + "b.xlsx", folder + "d.xlsx", folder + "日本.xlsx" }));
    EXPECT_EQ(ExpandWildcards(folder + "?.XLSX"),
        (std::vector<std::string> { folder + "A.xlsx", folder + "b.xlsx", folder + "d.xlsx" }));
    EXPECT_EQ(ExpandWildcards(folder + "日*"), (std::vector<std::string> { folder + "日本.xlsx" }));
    EXPECT_EQ(ExpandWildcards(folder + "*.ods"), std::vector<std::string> {});
    // No wildcard, or one in a folder's name, is no pattern: the path is taken as it is.
    EXPECT_FALSE(ExpandWildcards(folder + "b.xlsx"));
    EXPECT_FALSE(ExpandWildcards(folder + "*\\b.xlsx"));
    EXPECT_FALSE(ExpandWildcards("\\\\?\\" + folder + "b.xlsx"));
    EXPECT_EQ(ExpandWildcards("\\\\?\\" + folder + "c.*"), (std::vector<std::string> { "\\\\?\\" + folder + "c.csv" }));
}

// A program such as the spreadsheet application holds a workbook open without sharing it
// for writing or deletion: reading it may still work, replacing it does not, and the
// reason says so rather than "Permission denied".
TEST(WindowsPaths, AFileAnotherProgramHoldsOpenIsSaidToBeSo)
{
    TempDir dir;
    const std::string path = dir.Write("open.txt", "earlier");
    const HANDLE other = ::CreateFileW(
        Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    const auto failure = ReplaceWhole(path, "later");
    std::string readFailure;
    try {
        ReadOnlyFile file(path);
    } catch (const FileReadError& error) {
        readFailure = error.what();
    }
    ::CloseHandle(other);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->description,
        "Cannot write " + OutputFolder(dir.Path()).Prefix() + "open.txt: another program has the file open");
    EXPECT_FALSE(failure->folderWide);
    EXPECT_NE(readFailure.find("another program has the file open"), std::string::npos) << readFailure;
    EXPECT_EQ(ReadBytes(path), "earlier");
}

#endif
