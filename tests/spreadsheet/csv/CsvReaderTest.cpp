#include "spreadsheet/Workbook.h"
#include "support/SheetGrid.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace vellumcast::spreadsheet {
namespace {

using testing::Grid;

// Every cell of the used range, row by row, as displayed.
Grid ReadGrid(const std::string& bytes, const std::string& name = "data.csv")
{
    Application application;
    auto book = application.OpenBytes(bytes, name);
    EXPECT_EQ(book->Worksheets().size(), 1u);
    Worksheet& sheet = book->Worksheets().front();
    const CellRange range = sheet.UsedRange();
    EXPECT_EQ(range.firstRow, 1);
    EXPECT_EQ(range.firstColumn, 1);
    return testing::TextsOf(sheet);
}

struct CsvCase {
    const char* what;
    std::string bytes;
    std::string name;
    Grid expected;
};

void PrintTo(const CsvCase& c, std::ostream* out)
{
    *out << c.what;
}

class CsvReaderCases : public ::testing::TestWithParam<CsvCase> { };

TEST_P(CsvReaderCases, ReadsFieldsAsWritten)
{
    const CsvCase& c = GetParam();
    EXPECT_EQ(ReadGrid(c.bytes, c.name), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Csv, CsvReaderCases,
    ::testing::Values(CsvCase { "numbers and dates stay text", "1.50,01/02/2020,=A1\n007,1e3,TRUE\n", "a.csv",
                          { { "1.50", "01/02/2020", "=A1" }, { "007", "1e3", "TRUE" } } },
        CsvCase { "quoted separators, doubled quotes", "\"a,b\",\"say \"\"hi\"\"\",\"\"\n", "a.csv",
            { { "a,b", "say \"hi\"", "" } } },
        CsvCase { "line breaks inside quotes", "\"one\ntwo\",x\r\n\"three\r\nfour\",y\r\n", "a.csv",
            { { "one\ntwo", "x" }, { "three\r\nfour", "y" } } },
        CsvCase {
            "stray quotes in plain fields are literal", "ab\"c,5\" screen\n", "a.csv", { { "ab\"c", "5\" screen" } } },
        CsvCase { "text after a closing quote is kept", "\"ab\"cd,e\n", "a.csv", { { "abcd", "e" } } },
        CsvCase { "ragged lines: widest sets the range", "a\nb,c,d\n,\n", "a.csv",
            { { "a", "", "" }, { "b", "c", "d" }, { "", "", "" } } },
        CsvCase { "only separators", ",,,\n,,,\n", "a.csv", { { "", "", "", "" }, { "", "", "", "" } } },
        CsvCase { "trailing separator at the end of the file", "a,b,", "a.csv", { { "a", "b", "" } } },
        CsvCase { "CR-only line ends", "a,b\rc,d\r", "a.csv", { { "a", "b" }, { "c", "d" } } },
        CsvCase { "no final line end", "a,b\nc,d", "a.csv", { { "a", "b" }, { "c", "d" } } },
        CsvCase { "empty lines take up their rows", "a\n\n\nb\n\n", "a.csv", { { "a" }, { "" }, { "" }, { "b" } } },
        CsvCase { "quote never closed takes the rest", "a,\"b,c\nd\n", "a.csv", { { "a", "b,c\nd\n" } } },
        CsvCase { "lone quote at the very end", "a,\"", "a.csv", { { "a", "" } } },
        CsvCase { "tab separator under .tsv", "a,b\tc\n", "a.tsv", { { "a,b", "c" } } },
        CsvCase { "tab separator under .txt", "x\t\"y\tz\"\n", "notes.TXT", { { "x", "y\tz" } } },
        CsvCase { "UTF-8 with a byte order mark", "\xEF\xBB\xBF\xC3\xA9t\xC3\xA9,\xE2\x82\xAC\n", "a.csv",
            { { "\xC3\xA9t\xC3\xA9", "\xE2\x82\xAC" } } },
        CsvCase { "Windows-1252 when not UTF-8", "caf\xE9,\x80 5,\x93q\x94\n", "a.csv",
            { { "caf\xC3\xA9", "\xE2\x82\xAC 5", "\xE2\x80\x9Cq\xE2\x80\x9D" } } },
        // The application's "Unicode Text": UTF-16 with a byte-order mark, tab-separated.
        CsvCase { "UTF-16LE with its mark, a pair of surrogates",
            std::string("\xFF\xFE"
                        "a\0\t\0\xE9\0\n\0\x3D\xD8\x00\xDE\t\0x\0",
                18),
            "Book1.txt", { { "a", "\xC3\xA9" }, { "\xF0\x9F\x98\x80", "x" } } },
        CsvCase { "UTF-16BE with its mark, a lone surrogate", std::string("\xFE\xFF\0a\0,\xD8\x3D\0b", 10), "data.csv",
            { { "a",
                "\xEF\xBF\xBD"
                "b" } } },
        CsvCase { "sep= names the divider and is no row", "sep=;\r\na;b,c\n1;2\n", "a.csv",
            { { "a", "b,c" }, { "1", "2" } } },
        CsvCase { "sep= after a byte-order mark, under a tab name", "\xEF\xBB\xBFSEP=|\nx|y\tz\n", "a.tsv",
            { { "x", "y\tz" } } },
        CsvCase {
            "sep= with more after it is an ordinary line", "sep=;;\na;b\n", "a.csv", { { "sep=;;" }, { "a;b" } } },
        CsvCase { "sep= alone, nothing after", "sep=,", "a.csv", { { "" } } },
        CsvCase { "tabs and no comma: tab-separated whatever the name", "a\t\"b,c\"\n1\t2\n", "export.dat",
            { { "a", "b,c" }, { "1", "2" } } },
        CsvCase { "a comma outside quotes: comma-separated", "a\tb,c\n", "export.dat", { { "a\tb", "c" } } },
        CsvCase { "a .csv is comma-separated even with tabs only", "a\tb\n", "a.csv", { { "a\tb" } } },
        CsvCase { "a .txt of commas is comma-separated", "a,b\n", "notes.txt", { { "a", "b" } } },
        CsvCase { "a .tsv keeps its tab with commas in it", "a,b\tc\n", "a.tsv", { { "a,b", "c" } } },
        CsvCase { "no name: judged by content", "a\tb\n", "stdin", { { "a", "b" } } }),
    [](const ::testing::TestParamInfo<CsvCase>& param) { return "Case" + std::to_string(param.index); });

TEST(CsvReader, NamesTheWorksheetAfterTheFileStem)
{
    Application application;
    auto book = application.OpenBytes("a\n", "/some/folder/sales.2024.csv");
    EXPECT_EQ(book->Worksheets().front().Name(), "sales.2024");
    auto plain = application.OpenBytes("a\n", "/some/folder/README");
    EXPECT_EQ(plain->Worksheets().front().Name(), "README");
}

TEST(CsvReader, WhitespaceOnlyFileHasOneCell)
{
    EXPECT_EQ(ReadGrid(" \n"), (Grid { { " " } }));
    // A file of line ends only records nothing: the used range is A1.
    Application application;
    auto book = application.OpenBytes("\r\n\r\n", "blank.csv");
    EXPECT_FALSE(book->Worksheets().front().UsedRange().lastRow > 1);
    EXPECT_EQ(book->Worksheets().front().CellText(1, 1), "");
}

TEST(CsvReader, RefusesMoreRowsThanASheetHolds)
{
    std::string bytes(static_cast<size_t>(kMaxRows) + 1, '\n');
    bytes += "x";
    Application application;
    auto book = application.OpenBytes(bytes, "tall.csv");
    try {
        book->Worksheets().front().UsedRange();
        FAIL() << "expected TooLarge";
    } catch (const SpreadsheetError& error) {
        EXPECT_EQ(error.code(), ErrorCode::TooLarge);
    }
}

TEST(CsvReader, RefusesAFieldLongerThanACellMayHoldQuotedOrNot)
{
    const std::string huge((16u << 20) + 1, 'y');
    Application application;
    for (const std::string& line : { "a," + huge + "\n", "a,\"" + huge + "\"\n" }) {
        auto book = application.OpenBytes(line, "long-line.csv");
        try {
            book->Worksheets().front().UsedRange();
            ADD_FAILURE() << "expected TooLarge";
        } catch (const SpreadsheetError& error) {
            EXPECT_EQ(error.code(), ErrorCode::TooLarge);
            EXPECT_NE(std::string(error.what()).find("long-line.csv"), std::string::npos) << error.what();
            EXPECT_NE(std::string(error.what()).find("field 2 of line 1"), std::string::npos) << error.what();
        }
    }
    // Just within the bound is an ordinary cell.
    auto fits = application.OpenBytes(huge.substr(1), "fits.csv");
    EXPECT_EQ(fits->Worksheets().front().CellText(1, 1).size(), 16u << 20);
}

TEST(CsvReader, AcceptsExactlyTheSheetLimits)
{
    std::string bytes(static_cast<size_t>(kMaxColumns) - 1, ',');
    bytes += "last";
    Application application;
    auto book = application.OpenBytes(bytes, "wide.csv");
    EXPECT_EQ(book->Worksheets().front().UsedRange().lastColumn, kMaxColumns);
    EXPECT_EQ(book->Worksheets().front().CellText(1, kMaxColumns), "last");

    auto wider = application.OpenBytes(bytes + ",", "wider.csv");
    EXPECT_THROW(wider->Worksheets().front().UsedRange(), SpreadsheetError);
}

// An empty field shows as a missing cell, so only a line's first and last are recorded:
// a file of nothing but commas must not cost a cell (16 bytes) per byte.
TEST(CsvReader, EmptyFieldsRecordOnlyWhatTheUsedRangeNeeds)
{
    Application application;
    auto book = application.OpenBytes(",,,,,,,,,a,,,,\n" + std::string(10000, ',') + "\n\"q\",,\n", "commas.csv");
    Worksheet& sheet = book->Worksheets().front();
    const CellRange range = sheet.UsedRange();
    EXPECT_EQ(range.firstColumn, 1);
    EXPECT_EQ(range.lastColumn, 10001);
    EXPECT_EQ(range.lastRow, 3);
    EXPECT_EQ(sheet.CellCount(), 7u);
    EXPECT_EQ(sheet.CellText(1, 10), "a");
    EXPECT_EQ(sheet.CellText(1, 9), "");
    EXPECT_EQ(sheet.CellText(3, 1), "q");
}

// The cells point into the file's text (or its conversion) rather than copy it; that
// text must outlive every load of the sheet, the first and any after an unload.
TEST(CsvReader, CellsReadTheSameAfterTheSheetIsLoadedAgain)
{
    for (const std::string& bytes :
        { std::string("a,\"b\"\"c\",\"d\"\n"), std::string("caf\xE9,\"b\"\"c\",\"d\"\n") }) {
        Application application;
        auto book = application.OpenBytes(bytes, "again.csv");
        Worksheet& sheet = book->Worksheets().front();
        const Grid first = testing::TextsOf(sheet);
        sheet.Unload();
        EXPECT_EQ(testing::TextsOf(sheet), first);
        EXPECT_EQ(first.at(0).at(1), "b\"c");
        EXPECT_EQ(first.at(0).at(2), "d");
    }
}

// The encoding is checked piece by piece in large files; a character that straddles two
// pieces must not make the file look like Windows-1252, and a bad byte far in must.
TEST(CsvLargeFiles, EncodingIsJudgedOverTheWholeFile)
{
    const size_t piece = size_t { 8 } << 20;
    std::string bytes(piece - 1, 'a');
    bytes += "\xC3\xA9\n"; // "é" across the first piece's end
    bytes += std::string(1000, 'b') + "\n";
    size_t yields = 0;
    Application application;
    application.SetYield([&] { ++yields; });
    auto utf8 = application.OpenBytes(bytes, "big.csv");
    Worksheet& sheet = utf8->Worksheets().front();
    ASSERT_EQ(sheet.UsedRange().lastRow, 2);
    EXPECT_EQ(sheet.CellText(1, 1).substr(piece - 1), "\xC3\xA9");
    EXPECT_GE(yields, 2u);

    bytes += "caf\xE9\n"; // Windows-1252 past the first piece
    auto latin = application.OpenBytes(bytes, "big.csv");
    Worksheet& other = latin->Worksheets().front();
    ASSERT_EQ(other.UsedRange().lastRow, 3);
    EXPECT_EQ(other.CellText(3, 1), "caf\xC3\xA9");
    // The first line's two bytes were read as two Windows-1252 characters then.
    EXPECT_EQ(other.CellText(1, 1).substr(piece - 1), "\xC3\x83\xC2\xA9");
}

} // namespace
} // namespace vellumcast::spreadsheet
