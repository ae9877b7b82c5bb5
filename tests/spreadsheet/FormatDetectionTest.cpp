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

SpreadsheetError ErrorOf(const std::string& bytes)
{
    try {
        Application().OpenBytes(bytes, "book.txt");
    } catch (const SpreadsheetError& error) {
        return error;
    }
    ADD_FAILURE() << "opened: " << bytes;
    return SpreadsheetError(ErrorCode::Unsupported, "");
}

ErrorCode OpenFails(const std::string& path)
{
    return testing::ErrorCodeOf([&] { Application().Open(path); });
}

TEST(FormatDetection, RecognisesContentWhateverTheName)
{
    // Each fixture opens under a name that is not its own, so only its content decides.
    Application application;
    for (const char* fixture : { "workbooks/date.ods", "workbooks/date.xlsx", "workbooks/date.xls" }) {
        auto book = application.OpenBytes(ReadBytes(Fixture(fixture)), "renamed.csv");
        ASSERT_EQ(book->Worksheets().size(), 1u) << fixture;
        EXPECT_EQ(book->Worksheets()[0].Name(), "Sheet1") << fixture;
        EXPECT_EQ(book->Worksheets()[0].CellText(1, 2), "15") << fixture;
    }
    // A flat OpenDocument file is read as one, and refused for holding no spreadsheet.
    const SpreadsheetError flat = ErrorOf("<?xml version=\"1.0\"?><office:document xmlns:office=\"x\"/>");
    EXPECT_EQ(flat.code(), ErrorCode::NotAWorkbook);
    EXPECT_NE(std::string(flat.what()).find("an OpenDocument file, but no spreadsheet"), std::string::npos)
        << flat.what();
    EXPECT_EQ(application.OpenBytes("a,b\n1,2\n", "book.csv")->Worksheets()[0].CellText(2, 2), "2");
    // UTF-16 and UTF-32 text is text, with its byte-order mark or without.
    for (const std::string& wide : { std::string("\xFF\xFE"
                                                 "a\0\t\0b\0",
                                         8),
             std::string("\xFE\xFF\0a\0\t\0b", 8), std::string("a\0\t\0b\0", 6),
             std::string("\xFF\xFE\0\0a\0\0\0\t\0\0\0b\0\0\0", 16), std::string("\0\0\0a\0\0\0\t\0\0\0b", 12) })
        EXPECT_EQ(application.OpenBytes(wide, "book.txt")->Worksheets()[0].CellText(1, 2), "b");
    // Zero bytes at both parities alike are no text of any width.
    EXPECT_EQ(ErrorOf(std::string("a\0\0b\0\0c\0\0d\0\0", 12)).code(), ErrorCode::NotAWorkbook);
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
    EXPECT_EQ(OpenFails(dir.Write("zero.xlsx", "")), ErrorCode::NotAWorkbook);
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

// A Gnumeric workbook carries OpenDocument metadata, but is said to be what it is, saved
// compressed (as Gnumeric does) or not.
TEST(FormatDetection, SaysAGnumericWorkbookIsOne)
{
    const std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                            "<gnm:Workbook xmlns:gnm=\"http://www.gnumeric.org/v10.dtd\" "
                            "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\">"
                            "<office:document-meta office:version=\"1.2\"/><gnm:Sheets/></gnm:Workbook>";
    const std::string gzip = std::string("\x1F\x8B\x08\x08\0\0\0\0\0\x03", 10) + "book.gnumeric" + std::string(1, '\0')
        + testing::Deflate(xml) + std::string(8, '\0');
    for (const std::string& bytes : { xml, gzip }) {
        try {
            Application().OpenBytes(bytes, "book.gnumeric");
            ADD_FAILURE() << "opened";
        } catch (const SpreadsheetError& error) {
            EXPECT_EQ(error.code(), ErrorCode::Unsupported);
            EXPECT_NE(std::string(error.what()).find("it is a Gnumeric workbook"), std::string::npos) << error.what();
        }
    }
}

} // namespace
} // namespace vellumcast::spreadsheet
