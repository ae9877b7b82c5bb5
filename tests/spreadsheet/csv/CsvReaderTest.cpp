#include "spreadsheet/csv/CsvReader.h"
#include "spreadsheet/Workbook.h"
#include "support/SheetGrid.h"

#include <cstdint>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace vellumcast::spreadsheet {
namespace {

using testing::Grid;

// Every cell of the used range, row by row, as displayed.
// ASCII text written in code units of width bytes (2: UTF-16, 4: UTF-32), in either
// byte order, after the byte-order mark when one is asked for.
std::string Wide(std::string_view ascii, size_t width, bool bigEndian, bool mark = false)
{
    std::string bytes;
    const auto unit = [&](uint32_t code) {
        for (size_t i = 0; i < width; ++i) {
            const size_t shift = 8 * (bigEndian ? width - 1 - i : i);
            bytes += static_cast<char>((code >> shift) & 0xFF);
        }
    };
    if (mark)
        unit(0xFEFF);
    for (const char c : ascii)
        unit(static_cast<unsigned char>(c));
    return bytes;
}

Grid ReadGrid(const std::string& bytes, const std::string& name = "data.csv", DelimitedTextOptions options = {})
{
    Application application;
    application.ReadDelimitedTextAs(options);
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
    // Large files are read a piece at a time, their fields copied: the same cells.
    csv::SetWholeTextLimit(0);
    EXPECT_EQ(ReadGrid(c.bytes, c.name), c.expected) << c.what << ", read in pieces";
    csv::SetWholeTextLimit(uint64_t { 256 } << 20);
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
        // UTF-16 is tab-separated whatever the name says, as the application writes it.
        CsvCase { "UTF-16BE with its mark, a lone surrogate", std::string("\xFE\xFF\0a\0,\xD8\x3D\0b", 10), "data.csv",
            { { "a,"
                "\xEF\xBF\xBD"
                "b" } } },
        CsvCase { "sep= names the divider and is no row", "sep=;\r\na;b,c\n1;2\n", "a.csv",
            { { "a", "b,c" }, { "1", "2" } } },
        CsvCase { "sep= after a byte-order mark, under a tab name", "\xEF\xBB\xBFSEP=|\nx|y\tz\n", "a.tsv",
            { { "x", "y\tz" } } },
        CsvCase { "sep= with more after it is an ordinary line", "sep=;;\na,b\n", "a.csv",
            { { "sep=;;", "" }, { "a", "b" } } },
        CsvCase { "sep= alone, nothing after", "sep=,", "a.csv", { { "" } } },
        CsvCase { "tabs and no comma: tab-separated whatever the name", "a\t\"b,c\"\n1\t2\n", "export.dat",
            { { "a", "b,c" }, { "1", "2" } } },
        CsvCase { "a comma outside quotes: comma-separated", "a\tb,c\n", "export.dat", { { "a\tb", "c" } } },
        CsvCase { "a .csv is comma-separated even with tabs only", "a\tb\n", "a.csv", { { "a\tb" } } },
        CsvCase {
            "a .txt is tab-separated, as the application saves text", "a,b\tc\n", "notes.txt", { { "a,b", "c" } } },
        CsvCase { "a .txt of commas is one cell a line", "a,b\n", "notes.txt", { { "a,b" } } },
        CsvCase { "sep= names the divider of a .txt too", "sep=,\na,b\n", "notes.txt", { { "a", "b" } } },
        CsvCase { "Unicode Text: UTF-16LE with its mark, commas never quoted",
            Wide("North\t2/1/2020\t1,200\r\nSouth\t\t7\r\n", 2, false, true), "report.csv",
            { { "North", "2/1/2020", "1,200" }, { "South", "", "7" } } },
        CsvCase { "UTF-16 with its mark and a sep= line", Wide("sep=,\na,b\tc\n", 2, true, true), "a.txt",
            { { "a", "b\tc" } } },
        CsvCase { "UTF-16LE without a mark, by its zero bytes", Wide("a\tb\nc\td\n", 2, false), "Book1.txt",
            { { "a", "b" }, { "c", "d" } } },
        CsvCase { "UTF-16BE without a mark", Wide("x\ty\n", 2, true), "export", { { "x", "y" } } },
        CsvCase { "UTF-32LE with its mark", Wide("a\tb\n", 4, false, true), "a.csv", { { "a", "b" } } },
        CsvCase { "UTF-32BE without a mark", Wide("a\tb\n", 4, true), "a.csv", { { "a", "b" } } },
        CsvCase { "a .csv of semicolons, decimal commas", "Name;Price\nApple;1,50\nPear;12,05\n", "a.csv",
            { { "Name", "Price" }, { "Apple", "1,50" }, { "Pear", "12,05" } } },
        CsvCase { "a .csv of semicolons and no comma", "a;b\nc;\"d;e\"\n", "a.csv", { { "a", "b" }, { "c", "d;e" } } },
        CsvCase { "semicolons that divide every line alike, commas that do not", "a;b,c;d\ne;f;g\n", "a.csv",
            { { "a", "b,c", "d" }, { "e", "f", "g" } } },
        CsvCase {
            "one line of both: commas win unless they are decimal marks", "x;y,z\n", "a.csv", { { "x;y", "z" } } },
        CsvCase { "commas dividing every line beside stray semicolons", "a,b;c\nd,e\n", "a.csv",
            { { "a", "b;c" }, { "d", "e" } } },
        CsvCase { "semicolons under a name that says nothing", "a;b\n", "export.dat", { { "a", "b" } } },
        CsvCase { "semicolons inside quotes do not count", "\"a;b\",c\n", "a.csv", { { "a;b", "c" } } },
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
    for (const uint64_t whole : { uint64_t { 256 } << 20, uint64_t { 0 } }) {
        csv::SetWholeTextLimit(whole); // read whole, then in pieces
        auto latin = application.OpenBytes(bytes, "big.csv");
        Worksheet& other = latin->Worksheets().front();
        ASSERT_EQ(other.UsedRange().lastRow, 3);
        EXPECT_EQ(other.CellText(3, 1), "caf\xC3\xA9");
        // The first line's two bytes were read as two Windows-1252 characters then.
        EXPECT_EQ(other.CellText(1, 1).substr(piece - 1), "\xC3\x83\xC2\xA9");
    }
    csv::SetWholeTextLimit(uint64_t { 256 } << 20);
}

// Text read in pieces is judged UTF-8 over the whole file too, a character cut by the
// end of a piece of the judgement included.
TEST(CsvLargeFiles, TextReadInPiecesIsJudgedOverTheWholeFile)
{
    csv::SetWholeTextLimit(0);
    const size_t piece = size_t { 8 } << 20;
    for (const size_t before : { piece - 1, piece - 2, piece - 3 }) {
        std::string bytes = "\xC3\xA9," + std::string(before - 3, 'a') + "\xF0\x9F\x98\x80\n";
        Application application;
        auto utf8 = application.OpenBytes(bytes, "big.csv");
        EXPECT_EQ(utf8->Worksheets().front().CellText(1, 1), "\xC3\xA9") << before;
        bytes += "\xE9\n";
        auto latin = application.OpenBytes(bytes, "big.csv");
        EXPECT_EQ(latin->Worksheets().front().CellText(1, 1), "\xC3\x83\xC2\xA9") << before;
    }
    csv::SetWholeTextLimit(uint64_t { 256 } << 20);
}

// What a person says of the text overrides what its name and content suggest.
TEST(CsvReader, TheDividerAndEncodingSaidAreTaken)
{
    const struct {
        const char* what;
        std::string bytes;
        std::string name;
        DelimitedTextOptions options;
        Grid expected;
    } cases[] = {
        { "a divider said beats the name", "a;b,c\n", "a.csv", { ';', TextEncoding::Auto }, { { "a", "b,c" } } },
        { "a divider said beats a sep= line, which is still no row", "sep=,\na|b,c\n", "a.csv",
            { '|', TextEncoding::Auto }, { { "a", "b,c" } } },
        { "a divider said for UTF-16", Wide("a,b\tc\n", 2, false, true), "a.txt", { ',', TextEncoding::Auto },
            { { "a", "b\tc" } } },
        { "Windows-1252 said for text that is valid UTF-8", "\xC3\xA9,x\n", "a.csv", { 0, TextEncoding::Windows1252 },
            { { "\xC3\x83\xC2\xA9", "x" } } },
        { "UTF-8 said: damage becomes U+FFFD", "caf\xE9,\xC3\xA9\n", "a.csv", { 0, TextEncoding::Utf8 },
            { { "caf\xEF\xBF\xBD", "\xC3\xA9" } } },
        { "UTF-16LE said for text that does not look like it", "\x41\x30\x42\x30", "a.txt",
            { 0, TextEncoding::Utf16LE }, { { "\xE3\x81\x81\xE3\x81\x82" } } },
        { "UTF-16BE said: its own mark is no text", Wide("a\tb\n", 2, true, true), "a.txt",
            { 0, TextEncoding::Utf16BE }, { { "a", "b" } } },
        { "UTF-32LE said", Wide("a\tb\n", 4, false), "a.txt", { 0, TextEncoding::Utf32LE }, { { "a", "b" } } },
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadGrid(c.bytes, c.name, c.options), c.expected) << c.what;
}

// An empty csv is an empty worksheet, as the application opens it; an empty file under a
// workbook's name is still nothing.
TEST(CsvReader, AnEmptyTextIsAnEmptyWorksheet)
{
    Application application;
    for (const char* name : { "empty.csv", "EMPTY.TXT", "empty.tsv" }) {
        auto book = application.OpenBytes("", name);
        ASSERT_EQ(book->Worksheets().size(), 1u) << name;
        Worksheet& sheet = book->Worksheets().front();
        EXPECT_EQ(sheet.UsedRange().lastRow, 1) << name;
        EXPECT_EQ(sheet.CellText(1, 1), "") << name;
        EXPECT_EQ(sheet.CellCount(), 0u) << name;
    }
    for (const char* name : { "empty.xlsx", "empty" }) {
        try {
            application.OpenBytes("", name);
            ADD_FAILURE() << name << " opened";
        } catch (const SpreadsheetError& error) {
            EXPECT_EQ(error.code(), ErrorCode::NotAWorkbook) << name;
            EXPECT_NE(std::string(error.what()).find("the file is empty"), std::string::npos) << error.what();
        }
    }
    // A byte-order mark alone is text of no lines too.
    EXPECT_EQ(ReadGrid("\xFF\xFE", "bom.txt"), (Grid { { "" } }));
}

// UTF-16 is converted a megabyte of the file at a time: a line end, a doubled quote, a
// closing quote or a separator cut by a piece's end reads as if the text were whole.
TEST(CsvReader, Utf16ReadsAlikeWhereverItsPiecesAreCut)
{
    constexpr size_t kUnitsInFirstPiece = size_t { 1 } << 19; // 1 MiB of UTF-16 after the mark
    const struct {
        const char* what;
        std::string before; // ends at the first piece's end
        std::string after;
        Grid expected; // the rows after the first, a line of filler
    } cases[] = {
        { "CR | LF", "\na\tb\r", "\nc\td\n", { { "a", "b" }, { "c", "d" } } },
        { "an empty line's CR | LF", "\n\r", "\nc\td\n", { { "", "" }, { "c", "d" } } },
        { "quote | quote", "\n\"p\"", "\"q\"\tz\n", { { "p\"q", "z" } } },
        { "closing quote | separator", "\n\"p\"", "\tz\n", { { "p", "z" } } },
        { "inside quotes", "\n\"p\tq", "r\"\n", { { "p\tqr" } } },
        { "separator | line end", "\na\t", "\n", { { "a", "" } } },
        { "separator | end of text", "\na\t", "", { { "a", "" } } },
        { "in a plain field", "\nab", "cd\te\n", { { "abcd", "e" } } },
    };
    for (const auto& c : cases) {
        std::string text = std::string(kUnitsInFirstPiece - c.before.size(), 'x') + c.before + c.after;
        const Grid grid = ReadGrid(Wide(text, 2, false, true), "pieces.txt");
        ASSERT_EQ(grid.size(), c.expected.size() + 1) << c.what;
        EXPECT_EQ(grid[0][0].size(), kUnitsInFirstPiece - c.before.size()) << c.what;
        for (size_t r = 0; r < c.expected.size(); ++r)
            EXPECT_EQ(grid[r + 1], c.expected[r]) << c.what << " row " << r + 2;
    }
}

TEST(CsvReader, RefusesAUtf16FieldLongerThanACellMayHold)
{
    std::string text = "a\t";
    text.append((16u << 20) + 1, 'y');
    Application application;
    auto book = application.OpenBytes(Wide(text, 2, false, true), "long.txt");
    try {
        book->Worksheets().front().UsedRange();
        FAIL() << "expected TooLarge";
    } catch (const SpreadsheetError& error) {
        EXPECT_EQ(error.code(), ErrorCode::TooLarge);
        EXPECT_NE(std::string(error.what()).find("field 2 of line 1"), std::string::npos) << error.what();
    }
}

} // namespace
} // namespace vellumcast::spreadsheet
