// The compound file reader on containers built here byte by byte, so that each damage
// (a looping chain, a sector beyond the file, a cut file, a size the chain cannot hold)
// is exactly the one under test.

#include "spreadsheet/container/Cfb.h"
#include "spreadsheet/SpreadsheetError.h"
#include "spreadsheet/Workbook.h"
#include "support/CfbTestContainer.h"
#include "support/Failures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace vellumcast::spreadsheet {
namespace {

using testing::Container;
using testing::kFree;
using testing::MakeContainer;
using testing::Put16;
using testing::Put32;

std::string Pattern(size_t size)
{
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

std::span<const uint8_t> AsBytes(const std::string& s)
{
    return { reinterpret_cast<const uint8_t*>(s.data()), s.size() };
}

std::string ReadStream(const std::string& container, const std::string& name)
{
    const container::CompoundFile file(AsBytes(container));
    const container::CfbEntry* entry = file.FindStream(name);
    if (!entry)
        return "<none>";
    const auto stream = file.Read(*entry);
    return { reinterpret_cast<const char*>(stream.Bytes().data()), stream.Bytes().size() };
}

ErrorCode FailureOf(const std::string& container, const std::string& name)
{
    return testing::ErrorCodeOf([&] { ReadStream(container, name); });
}

TEST(CfbTest, ReadsRegularAndMiniStreamsWholeAndInOrder)
{
    for (const size_t size : { size_t { 1 }, size_t { 64 }, size_t { 100 }, size_t { 4095 }, size_t { 4096 },
             size_t { 5000 }, size_t { 20000 } }) {
        const std::string content = Pattern(size);
        EXPECT_EQ(ReadStream(MakeContainer("Workbook", content).bytes, "Workbook"), content) << size;
    }
}

TEST(CfbTest, ReadsVersion4ContainersWith4096ByteSectors)
{
    for (const size_t size : { size_t { 100 }, size_t { 4096 }, size_t { 10000 } }) {
        const std::string content = Pattern(size);
        EXPECT_EQ(ReadStream(MakeContainer("Workbook", content, 4096).bytes, "Workbook"), content) << size;
    }
}

TEST(CfbTest, FindsStreamNamesIgnoringLetterCase)
{
    const std::string container = MakeContainer("BOOK", Pattern(5000)).bytes;
    EXPECT_EQ(ReadStream(container, "Book"), Pattern(5000));
    EXPECT_EQ(ReadStream(container, "Workbook"), "<none>");
}

TEST(CfbTest, GathersASectorChainThatIsNotContiguous)
{
    // Swap the order of the stream's two sectors in the chain and in the file.
    std::string s = MakeContainer("Workbook", Pattern(5000)).bytes; // sectors 2..11
    const std::string content = Pattern(5000);
    Put32(s, Container::DirectoryEntry(1) + 116, 3);
    Put32(s, Container::FatEntry(3), 2);
    Put32(s, Container::FatEntry(2), 4);
    std::string first = s.substr(3 * 512, 512), second = s.substr(4 * 512, 512);
    s.replace(3 * 512, 512, second);
    s.replace(4 * 512, 512, first);
    EXPECT_EQ(ReadStream(s, "Workbook"), content);
}

TEST(CfbTest, DamagedContainersFailAsCorrupt)
{
    struct Case {
        const char* what;
        size_t streamSize;
        void (*damage)(std::string&);
    };
    const Case cases[] = {
        { "a chain that loops", 5000, [](std::string& s) { Put32(s, Container::FatEntry(5), 3); } },
        { "a chain that loops onto itself", 5000, [](std::string& s) { Put32(s, Container::FatEntry(2), 2); } },
        { "a sector beyond the file", 5000, [](std::string& s) { Put32(s, Container::FatEntry(4), 5000); } },
        { "a start sector beyond the file", 5000,
            [](std::string& s) { Put32(s, Container::DirectoryEntry(1) + 116, 0x00FFFFFF); } },
        { "a chain ending before the declared size", 5000,
            [](std::string& s) { Put32(s, Container::DirectoryEntry(1) + 120, 9000); } },
        { "a chain that ends on a free sector", 5000, [](std::string& s) { Put32(s, Container::FatEntry(6), kFree); } },
        { "a truncated file", 20000, [](std::string& s) { s.resize(s.size() - 4000); } },
        { "a mini chain that loops", 1000, [](std::string& s) { Put32(s, Container::MiniFatEntry(3), 1); } },
        { "a mini sector beyond the mini stream", 1000,
            [](std::string& s) { Put32(s, Container::MiniFatEntry(2), 500); } },
        { "a mini stream shorter than its streams", 1000,
            [](std::string& s) { Put32(s, Container::DirectoryEntry(0) + 120, 128); } },
        { "a directory chain that loops", 5000, [](std::string& s) { Put32(s, Container::FatEntry(1), 1); } },
        { "an allocation table beyond the file", 5000, [](std::string& s) { Put32(s, 76, 7000); } },
        { "more allocation sectors than the file holds", 5000, [](std::string& s) { Put32(s, 44, 0x10000000); } },
        { "a sector size other than 512 or 4096", 5000, [](std::string& s) { Put16(s, 30, 10); } },
        { "a mini sector size other than 64", 5000, [](std::string& s) { Put16(s, 32, 7); } },
        { "a header cut short", 5000, [](std::string& s) { s.resize(300); } },
    };
    for (const Case& c : cases) {
        std::string s = MakeContainer("Workbook", Pattern(c.streamSize)).bytes;
        c.damage(s);
        EXPECT_EQ(FailureOf(s, "Workbook"), ErrorCode::Corrupt) << c.what;
    }
}

TEST(CfbTest, DirectoryTreeThatLoopsEndsWithoutHanging)
{
    std::string s = MakeContainer("Workbook", Pattern(5000)).bytes;
    Put32(s, Container::DirectoryEntry(1) + 68, 1); // the stream is its own left sibling
    Put32(s, Container::DirectoryEntry(1) + 72, 0); // and the root its right one
    EXPECT_EQ(ReadStream(s, "Workbook"), Pattern(5000));
}

// A small BIFF8 workbook stream: globals with one sheet, a one-string SST, then the sheet
// with a string and a number. It is under 4096 bytes, so it lives in the mini stream.
std::string TinyWorkbookStream()
{
    std::string s;
    auto record = [&](uint16_t type, const std::string& data) {
        std::string header(4, '\0');
        Put16(header, 0, type);
        Put16(header, 2, static_cast<uint16_t>(data.size()));
        s += header + data;
    };
    auto bof = [&](uint16_t kind) {
        std::string d(16, '\0');
        Put16(d, 0, 0x0600);
        Put16(d, 2, kind);
        record(0x0809, d);
    };
    bof(0x0005);
    const size_t boundSheet = s.size() + 4;
    record(0x0085, std::string("\0\0\0\0\0\0\x04\0Data", 12));
    record(0x00FC, std::string("\1\0\0\0\1\0\0\0\5\0\0hello", 16));
    record(0x000A, "");
    Put32(s, boundSheet, static_cast<uint32_t>(s.size()));
    bof(0x0010);
    record(0x00FD, std::string("\0\0\0\0\0\0\0\0\0\0", 10)); // A1: string 0
    std::string number("\1\0\1\0\0\0", 6); // B2: 2.5
    number += std::string("\0\0\0\0\0\0\x04\x40", 8);
    record(0x0203, number);
    record(0x000A, "");
    return s;
}

TEST(CfbTest, OpensAWorkbookKeptInTheMiniStream)
{
    const std::string stream = TinyWorkbookStream();
    ASSERT_LT(stream.size(), 4096u);
    Application application;
    auto workbook = application.OpenBytes(MakeContainer("Workbook", stream).bytes, "tiny.xls");
    ASSERT_EQ(workbook->Worksheets().size(), 1u);
    Worksheet& sheet = workbook->Worksheets()[0];
    EXPECT_EQ(sheet.Name(), "Data");
    const CellRange range = sheet.UsedRange();
    EXPECT_EQ(range.lastRow, 2);
    EXPECT_EQ(range.lastColumn, 2);
    EXPECT_EQ(sheet.CellText(1, 1), "hello");
    EXPECT_EQ(sheet.CellText(2, 2), "2.5");
}

TEST(CfbTest, ContainersWithoutAWorkbookStreamAreRecognised)
{
    Application application;
    auto codeOf = [&](const std::string& bytes) {
        try {
            application.OpenBytes(bytes, "file.xls");
        } catch (const SpreadsheetError& error) {
            return error.code();
        }
        return ErrorCode::NotFound;
    };
    EXPECT_EQ(codeOf(MakeContainer("WordDocument", Pattern(5000)).bytes), ErrorCode::NotAWorkbook);
    EXPECT_EQ(codeOf(MakeContainer("EncryptedPackage", Pattern(5000)).bytes), ErrorCode::PasswordProtected);
    std::string damaged = MakeContainer("Workbook", TinyWorkbookStream()).bytes;
    Put32(damaged, Container::MiniFatEntry(0), 9999); // the stream's second mini sector lies beyond the table
    EXPECT_EQ(codeOf(damaged), ErrorCode::Corrupt);
}

} // namespace
} // namespace vellumcast::spreadsheet
