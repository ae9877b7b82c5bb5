#include "spreadsheet/FormatDetection.h"
#include "spreadsheet/Workbook.h"
#include "support/Failures.h"
#include "support/TempDir.h"
#include "support/XlsxWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

namespace vellumcast::spreadsheet {
namespace {

using testing::Fixture;
using testing::ReadBytes;

std::span<const uint8_t> AsBytes(const std::string& text)
{
    return { reinterpret_cast<const uint8_t*>(text.data()), text.size() };
}

ErrorCode OpenFails(const std::string& path)
{
    return testing::ErrorCodeOf([&] { Application().Open(path); });
}

TEST(FormatDetection, RecognisesContentWhateverTheName)
{
    struct Case {
        const char* fixture;
        WorkbookFormat format;
    };
    const Case cases[] = {
        { "workbooks/date.ods", WorkbookFormat::Ods },
        { "workbooks/date.xlsx", WorkbookFormat::Xlsx },
        { "workbooks/date.xls", WorkbookFormat::Xls },
    };
    for (const Case& c : cases)
        EXPECT_EQ(DetectFormat(AsBytes(ReadBytes(Fixture(c.fixture)))), c.format) << c.fixture;
    EXPECT_EQ(
        DetectFormat(AsBytes("<?xml version=\"1.0\"?><office:document xmlns:office=\"x\"/>")), WorkbookFormat::FlatOds);
    EXPECT_EQ(DetectFormat(AsBytes("a,b\n1,2\n")), WorkbookFormat::DelimitedText);
    // UTF-16 text is text only with its byte-order mark; UTF-32 is not read.
    EXPECT_EQ(DetectFormat(AsBytes(std::string("\xFF\xFE"
                                               "a\0\t\0b\0",
                  8))),
        WorkbookFormat::DelimitedText);
    EXPECT_EQ(DetectFormat(AsBytes(std::string("\xFE\xFF\0a\0\t\0b", 8))), WorkbookFormat::DelimitedText);
    EXPECT_EQ(DetectFormat(AsBytes(std::string("a\0\t\0b\0", 6))), WorkbookFormat::Unknown);
    EXPECT_EQ(DetectFormat(AsBytes(std::string("\xFF\xFE\0\0a\0\0\0", 8))), WorkbookFormat::Unknown);
}

TEST(FormatDetection, OpensAnOdsNamedLikeAnotherFormat)
{
    testing::TempDir dir;
    for (const char* name : { "renamed.xlsx", "renamed.xls", "renamed.csv", "renamed" }) {
        const std::string path = dir.Path() + "/" + name;
        std::filesystem::copy_file(Fixture("workbooks/date.ods"), path);
        Application application;
        auto book = application.Open(path);
        ASSERT_EQ(book->Worksheets().size(), 1u) << name;
        EXPECT_EQ(book->Worksheets()[0].Name(), "Sheet1") << name;
        EXPECT_EQ(book->Worksheets()[0].CellText(1, 2), "15") << name;
    }
    // Delimited text under a text name, whatever the file says it is, or under any name
    // but a zipped workbook's.
    Application application;
    auto text = application.Open(dir.Write("numbers.tab", "1\t2\n"));
    EXPECT_EQ(text->Worksheets()[0].CellText(1, 2), "2");
    for (const char* name : { "export.dat", "report.xls", "noextension" }) {
        auto other = application.Open(dir.Write(name, "1\t2\n"));
        EXPECT_EQ(other->Worksheets()[0].CellText(1, 2), "2") << name;
    }
}

TEST(FormatDetection, RefusesWhatIsNoWorkbook)
{
    testing::TempDir dir;
    EXPECT_EQ(OpenFails(dir.Write("notes.xlsx", "just some text\n")), ErrorCode::NotAWorkbook);
    EXPECT_EQ(OpenFails(dir.Write("zero.csv", "")), ErrorCode::NotAWorkbook);
    EXPECT_EQ(OpenFails(dir.Write("zero.ods", "")), ErrorCode::NotAWorkbook);

    std::mt19937 random(12345);
    std::string noise(4096, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    EXPECT_EQ(OpenFails(dir.Write("noise.ods", noise)), ErrorCode::NotAWorkbook);
    EXPECT_EQ(OpenFails(dir.Write("noise.csv", noise)), ErrorCode::NotAWorkbook);
    // A ZIP archive that is neither package.
    testing::ZipWriter zip;
    zip.Add("readme.txt", "hello");
    EXPECT_EQ(OpenFails(dir.Write("archive.ods", zip.Finish())), ErrorCode::NotAWorkbook);
}

} // namespace
} // namespace vellumcast::spreadsheet
