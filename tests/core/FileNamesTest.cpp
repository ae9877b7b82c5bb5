// What the file helpers promise on every system alike: UTF-8 names whatever the script,
// bytes written exactly (no line end altered), folders told apart by identity, and a
// replaced file that is whole or untouched.
#include "core/Files.h"
#include "support/TempDir.h"
#include "support/WholeFiles.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

using namespace vellumcast::core;
using vellumcast::testing::ReplaceWhole;
using vellumcast::testing::TempDir;

namespace {

std::filesystem::path PathOf(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string BytesAt(const std::string& utf8)
{
    std::ifstream in(PathOf(utf8), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

size_t EntriesIn(const std::string& utf8)
{
    return static_cast<size_t>(
        std::distance(std::filesystem::directory_iterator(PathOf(utf8)), std::filesystem::directory_iterator()));
}

} // namespace

TEST(FileNames, ASaveIntoAFolderWithANonAsciiNameKeepsEveryName)
{
    TempDir dir;
    const std::string folder = dir.File("Ablage Zürich 東京 Ελλάδα");
    ASSERT_TRUE(std::filesystem::create_directory(PathOf(folder)));
    EXPECT_TRUE(FolderExists(folder));
    EXPECT_FALSE(FolderExists(dir.File("Ablage Zurich")));

    const OutputFolder output(folder);
    EXPECT_TRUE(output.StillInPlace());
    EXPECT_FALSE(ReplaceWhole(output, "Übersicht_Blatt1 – März.txt", "Größe;€\n"));
    const std::string saved = folder + "/Übersicht_Blatt1 – März.txt";
    EXPECT_TRUE(FileExists(saved));
    EXPECT_EQ(BytesAt(saved), "Größe;€\n");
    EXPECT_EQ(ReadTextFile(saved), "Größe;€\n");
    EXPECT_EQ(EntriesIn(folder), 1u); // no temporary file left beside it
    EXPECT_EQ(FileNameOfPath(RealPath(saved)), "Übersicht_Blatt1 – März.txt");
}

TEST(FileNames, LineEndsAreWrittenExactlyAsGiven)
{
    TempDir dir;
    const std::string texts[] = { "a\r\nb\r\n", "a\nb\n", "lone\rreturn\r", "\r\n\r\n\n" };
    for (const std::string& text : texts) {
        EXPECT_FALSE(ReplaceWhole(dir.File("lines.txt"), text));
        EXPECT_EQ(BytesAt(dir.File("lines.txt")), text);
    }
}

TEST(FileNames, RealPathAndIdentityTellTheSameFolderHoweverItIsSpelt)
{
    TempDir dir;
    std::filesystem::create_directories(PathOf(dir.File("one/sub")));
    std::filesystem::create_directory(PathOf(dir.File("two")));
    const std::string real = RealPath(dir.File("one"));
    ASSERT_FALSE(real.empty());
    EXPECT_EQ(RealPath(dir.File("one/sub/..")), real);
    EXPECT_EQ(real.find('\\'), std::string::npos);
    EXPECT_EQ(RealPath(dir.File("missing")), "");

    ASSERT_TRUE(IdentityOf(dir.File("one")));
    EXPECT_EQ(IdentityOf(dir.File("one/sub/..")), IdentityOf(dir.File("one")));
    EXPECT_NE(IdentityOf(dir.File("two")), IdentityOf(dir.File("one")));
    EXPECT_FALSE(IdentityOf(dir.File("missing")));
}

// A file another program is reading is replaced whole or not at all. POSIX renames over it
// and the reader keeps the text it opened; Windows refuses to replace a file open without
// delete sharing, and the earlier file stays as it was, with no temporary file beside it.
TEST(FileNames, AFileOpenElsewhereIsReplacedWholeOrLeftAsItWas)
{
    TempDir dir;
    const std::string path = dir.Write("open.txt", "earlier");
    EXPECT_FALSE(ReplaceWhole(path, "second"));
    EXPECT_EQ(BytesAt(path), "second");
#ifdef _WIN32
    const HANDLE reader = ::CreateFileW(PathOf(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    const auto failure = ReplaceWhole(path, "third");
    ::CloseHandle(reader);
    ASSERT_TRUE(failure);
    EXPECT_NE(failure->description.find(path), std::string::npos);
    EXPECT_FALSE(failure->folderWide);
    EXPECT_EQ(BytesAt(path), "second");
#else
    std::ifstream reader(path, std::ios::binary);
    EXPECT_FALSE(ReplaceWhole(path, "third"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(reader), std::istreambuf_iterator<char>()), "second");
    EXPECT_EQ(BytesAt(path), "third");
#endif
    EXPECT_EQ(EntriesIn(dir.Path()), 1u);
}
