// Reading a file at chosen offsets: what a reader asks for, short only at the end, from
// several threads at once, and nothing but regular files.
#include "core/ReadOnlyFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace vellumcast::core {
namespace {

using testing::TempDir;

std::string ReadString(const ReadOnlyFile& file, uint64_t offset, size_t size)
{
    std::string out(size, '\0');
    out.resize(file.ReadAt(offset, out.data(), size));
    return out;
}

TEST(ReadOnlyFile, ReadsWhatIsAskedAndShortOnlyAtTheEnd)
{
    TempDir dir;
    const ReadOnlyFile file(dir.Write("digits.bin", "0123456789"));
    EXPECT_EQ(file.Size(), 10u);
    EXPECT_EQ(ReadString(file, 3, 4), "3456");
    EXPECT_EQ(ReadString(file, 0, 10), "0123456789");
    EXPECT_EQ(ReadString(file, 7, 10), "789");
    EXPECT_EQ(ReadString(file, 10, 1), "");
    EXPECT_EQ(ReadString(file, uint64_t { 1 } << 40, 4), "");
}

TEST(ReadOnlyFile, ThreadsReadingAtOnceEachGetTheirOwnOffsets)
{
    std::string content;
    for (int i = 0; i < 4096; ++i)
        content += static_cast<char>('a' + i % 26);
    TempDir dir;
    const ReadOnlyFile file(dir.Write("letters.bin", content));
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (size_t t = 0; t < wrong.size(); ++t) {
        threads.emplace_back([&, t] {
            for (size_t at = t; at + 64 <= content.size(); at += 61)
                wrong[t] += ReadString(file, at, 64) != content.substr(at, 64);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

TEST(ReadOnlyFile, RefusesWhatIsNoRegularFileAndSaysWhy)
{
    TempDir dir;
    const auto failure = [](const std::string& path) {
        try {
            ReadOnlyFile file(path);
        } catch (const FileReadError& error) {
            return std::make_pair(error.kind(), std::string(error.what()));
        }
        return std::make_pair(FileReadError::Kind::Unreadable, std::string("opened"));
    };
    EXPECT_EQ(failure(dir.Path()),
        std::make_pair(FileReadError::Kind::NotAFile, std::string("it is a folder, not a workbook")));
    EXPECT_EQ(failure(dir.File("missing.xlsx")),
        std::make_pair(FileReadError::Kind::Unreadable, std::string("the file does not exist")));
    const ReadOnlyFile empty(dir.Write("empty.csv", ""));
    EXPECT_EQ(empty.Size(), 0u);
}

} // namespace
} // namespace vellumcast::core
