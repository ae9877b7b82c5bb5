// The xls reader on real workbooks. Each expectation comes from the file's records as the
// BIFF format defines them (cell records decoded by hand: row and column, XF index, RK or
// IEEE value, SST index). Values are checked as numbers with their style, since how a
// number format renders them is the format renderer's business.

#include "spreadsheet/SheetData.h"
#include "spreadsheet/SpreadsheetError.h"
#include "spreadsheet/Workbook.h"
#include "spreadsheet/container/Cfb.h"
#include "spreadsheet/xls/XlsReader.h"
#include "support/Failures.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellumcast::spreadsheet {
namespace {

std::string Path(const std::string& name)
{
    return testing::Fixture("workbooks/" + name);
}

// The reader itself, for the values behind the texts.
struct Opened {
    WorkbookData data;
    std::unique_ptr<WorkbookReader> reader;

    explicit Opened(const std::string& name)
    {
        ReaderContext context { FileBytes::OpenFile(Path(name)), name, {} };
        reader = xls::OpenReader(context, data);
    }

    SheetData Load(size_t index)
    {
        SheetData sheet;
        SheetBuilder builder(sheet);
        reader->LoadSheet(index, builder);
        builder.Finish();
        return sheet;
    }

    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const SheetEntry& sheet : data.sheets)
            names.push_back(sheet.name);
        return names;
    }
};

void ExpectNumber(const SheetData& sheet, int32_t row, int32_t column, double value, uint32_t style)
{
    const Cell* cell = sheet.Find(row, column);
    ASSERT_NE(cell, nullptr) << row << "," << column;
    EXPECT_EQ(cell->kind, CellKind::Number) << row << "," << column;
    EXPECT_DOUBLE_EQ(cell->value.number, value) << row << "," << column;
    EXPECT_EQ(cell->style, style) << row << "," << column;
}

void ExpectRange(const CellRange& range, int32_t lastRow, int32_t lastColumn)
{
    EXPECT_EQ(range.firstRow, 1);
    EXPECT_EQ(range.firstColumn, 1);
    EXPECT_EQ(range.lastRow, lastRow);
    EXPECT_EQ(range.lastColumn, lastColumn);
}

TEST(XlsFixtureTest, DatesKeepTheirSerialNumbersStylesAndDateSystem)
{
    // Both files: MULRK A1:B1 and A2:B2, NUMBER A3, RK B3; XF 21 is "yyyy\-mm\-dd",
    // XF 22 "[hh]:mm:ss". The 1904 file stores 2021-01-01 as 42735 instead of 44197.
    for (const auto& [name, system, first] : { std::tuple { "date.xls", numfmt::DateSystem::Date1900, 44197.0 },
             std::tuple { "date_1904.xls", numfmt::DateSystem::Date1904, 42735.0 } }) {
        Opened book(name);
        EXPECT_EQ(book.data.dateSystem, system) << name;
        EXPECT_EQ(book.Names(), std::vector<std::string> { "Sheet1" });
        EXPECT_EQ(book.data.formats.StyleCount(), 23u) << "one style per XF record";
        const SheetData sheet = book.Load(0);
        ExpectRange(sheet.UsedRange(), 3, 2);
        ExpectNumber(sheet, 1, 1, first, 21);
        ExpectNumber(sheet, 1, 2, 15, 15);
        ExpectNumber(sheet, 2, 1, first + 1, 21);
        ExpectNumber(sheet, 2, 2, 16, 15);
        ExpectNumber(sheet, 3, 1, 10.632060185185185, 22);
        ExpectNumber(sheet, 3, 2, 17, 15);
    }
}

TEST(XlsFixtureTest, FormulaResultsAreTheirCachedValues)
{
    {
        Opened book("formula-date-format.xls"); // RK A1 and FORMULA A2, both with the date XF
        EXPECT_EQ(book.data.dateSystem, numfmt::DateSystem::Date1904);
        const SheetData sheet = book.Load(0);
        ExpectNumber(sheet, 1, 1, 41331, 22);
        ExpectNumber(sheet, 2, 1, 41332, 22);
    }
    {
        Opened book("issue_646_unsupported_formula_function.xls"); // a function no one knows, cached 1
        ExpectNumber(book.Load(0), 1, 1, 1, 15);
    }
    Application application;
    auto workbook = application.Open(Path("issues.xls"));
    ASSERT_EQ(workbook->Worksheets().size(), 5u);
    Worksheet& types = workbook->Worksheets()[0];
    EXPECT_EQ(types.Name(), "datatypes");
    EXPECT_EQ(types.CellText(3, 1), "ab"); // a string result, from the STRING record after it
    EXPECT_EQ(types.CellText(4, 1), "FALSE"); // a Boolean result
    EXPECT_EQ(types.CellText(5, 1), "test");
    Worksheet& issue6 = workbook->Worksheets()[4];
    EXPECT_EQ(issue6.CellText(3, 1), "ab");
    EXPECT_EQ(issue6.CellText(4, 1), "FALSE");
    ExpectRange(issue6.UsedRange(), 6, 1); // the formatted BLANK in A6 counts
}

TEST(XlsFixtureTest, EmptyStringsAreRecordedCells)
{
    {
        // An empty shared string in A1 and a formula whose cached result is FALSE in B1.
        Application application;
        auto workbook = application.Open(Path("empty-string.xls"));
        Worksheet& sheet = workbook->Worksheets()[0];
        ExpectRange(sheet.UsedRange(), 1, 2);
        EXPECT_EQ(sheet.CellText(1, 1), "");
        EXPECT_EQ(sheet.CellText(1, 2), "FALSE");
    }
    {
        // A formula with the empty-string result type, on a sheet named in UTF-16 (Лист1).
        Opened book("issue343.xls");
        EXPECT_EQ(book.Names(),
            std::vector<std::string> { "\xD0\x9B\xD0\xB8\xD1\x81\xD1\x82"
                                       "1" });
        const SheetData sheet = book.Load(0);
        const Cell* cell = sheet.Find(1, 1);
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(cell->kind, CellKind::String);
        EXPECT_EQ(sheet.TextOf(*cell), "");
    }
}

TEST(XlsFixtureTest, MergedCellsKeepTheirTextsInTheFirstCellAndBlanksElsewhere)
{
    Application application;
    {
        auto workbook = application.Open(Path("merge_cells.xls"));
        Worksheet& sheet = workbook->Worksheets()[0];
        ExpectRange(sheet.UsedRange(), 4, 4); // MULBLANK rows 3 and 4 reach column D
        EXPECT_EQ(sheet.CellText(1, 1), "Row Merge");
        EXPECT_EQ(sheet.CellText(1, 2), "");
        EXPECT_EQ(sheet.CellText(1, 3), "Not Merged");
        EXPECT_EQ(sheet.CellText(2, 1), "Column Merge");
        EXPECT_EQ(sheet.CellText(2, 2), "Chunk Merged");
        EXPECT_EQ(sheet.CellText(4, 4), "");
    }
    {
        auto workbook = application.Open(Path("merged_range.xls"));
        ASSERT_EQ(workbook->Worksheets().size(), 2u);
        Worksheet& sheet = workbook->Worksheets()[0];
        EXPECT_EQ(sheet.Name(), "Sheet1");
        ExpectRange(sheet.UsedRange(), 4, 8);
        // Each string names its own cell; the strings carry phonetic data to skip.
        const char* expected[4][8]
            = { { "A1", "B1", "C1", "", "E1", "F1", "G1", "H1" }, { "", "", "", "", "", "", "", "" },
                  { "A3", "B3", "C3", "", "E3", "F3", "G3", "H3" }, { "A4", "B4", "C4", "", "E4", "F4", "G4", "H4" } };
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 8; ++c)
                EXPECT_EQ(sheet.CellText(r + 1, c + 1), expected[r][c]) << r + 1 << "," << c + 1;
        EXPECT_EQ(workbook->Worksheets()[1].Name(), "Sheet2");
    }
}

TEST(XlsFixtureTest, Biff5WorkbooksReadEightBitStrings)
{
    // Excel 5 records: LABEL strings in the Macintosh code page, BOOLERR, MULRK, NUMBER.
    for (const char* name : { "biff5_write.xls", "issue_643_biff5_formula.xls" }) {
        Application application;
        auto workbook = application.Open(Path(name));
        ASSERT_EQ(workbook->Worksheets().size(), 1u) << name;
        Worksheet& sheet = workbook->Worksheets()[0];
        EXPECT_EQ(sheet.Name(), "SheetJS");
        ExpectRange(sheet.UsedRange(), 4, 4);
        const char* expected[4][4] = { { "1", "2", "3", "" }, { "TRUE", "FALSE", "", "sheetjs" },
            { "foo", "bar", nullptr, "0.3" }, { "baz", nullptr, "qux", "" } };
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) {
                if (expected[r][c]) {
                    EXPECT_EQ(sheet.CellText(r + 1, c + 1), expected[r][c]) << name << " " << r + 1 << "," << c + 1;
                }
            }
        Opened book(name);
        const SheetData cells = book.Load(0);
        ExpectNumber(cells, 3, 3, 41689.604166666664, 62);
        if (std::string(name) == "issue_643_biff5_formula.xls")
            ExpectNumber(cells, 4, 2, 1, 0); // a BIFF5 FORMULA record with a cached number
        else
            EXPECT_EQ(cells.Find(4, 2), nullptr);
    }
    {
        // Globals written as BIFF5, sheet BOFs claiming BIFF8: the globals decide.
        Opened book("misc_biff5_parsing.xls");
        std::vector<std::string> names;
        for (int i = 1; i <= 11; ++i)
            names.push_back("Sheet" + std::to_string(i));
        EXPECT_EQ(book.Names(), names);
        for (size_t i = 0; i < names.size(); ++i)
            EXPECT_FALSE(book.Load(i).HasCells());
    }
    {
        // FORMAT records in the BIFF5 layout; the workbook loads with all its cells.
        Application application;
        auto workbook = application.Open(Path("malformed_format.xls"));
        Worksheet& sheet = workbook->Worksheets()[0];
        EXPECT_EQ(sheet.Name(), "2014");
        EXPECT_EQ(sheet.CellText(1, 1), "GENNAIO");
        EXPECT_EQ(sheet.CellText(1, 3), "FEBBRAIO");
        EXPECT_EQ(sheet.CellText(1, 17), "SETTEMBRE");
    }
}

TEST(XlsFixtureTest, RichAndUnicodeSharedStrings)
{
    Application application;
    auto workbook = application.Open(Path("biff5-rich-text-string.xls"));
    Worksheet& sheet = workbook->Worksheets()[0];
    // SST 0: 16-bit characters with three formatting runs.
    EXPECT_EQ(sheet.CellText(1, 1),
        "ELECTORAL DIVISION OF SOMERSET EAST ; FIELD-C\xC3\x93RN\xC3\x8BTCY No. 5, "
        "ZWAGERSH\xC3\x93\xC3\x8AN.");
    EXPECT_EQ(sheet.CellText(3, 1), "No.");
    EXPECT_EQ(sheet.CellText(3, 2), "Surname in full.");
    EXPECT_EQ(sheet.CellText(3, 8), "ri \xE2\x96\xA0 s g \xE2\x80\xA2rM S \xE2\x80\x99"); // SST 52, rich 16-bit
    EXPECT_EQ(sheet.CellText(4, 1), "1788");
    EXPECT_EQ(sheet.CellText(4, 2), "McNally");

    auto chinese = application.Open(Path("issue219.xls"));
    EXPECT_EQ(chinese->Worksheets()[0].Name(),
        "\xE5\xB7\xA5\xE4\xBD\x9C\xE8\xA1\xA8"
        "1"); // 工作表1
    EXPECT_EQ(chinese->Worksheets()[0].CellText(1, 1), "a"); // its phonetic data skipped

    auto continued = application.Open(Path("sst_continue.xls"));
    Worksheet& list = continued->Worksheets()[0];
    ExpectRange(list.UsedRange(), 136, 1);
    EXPECT_EQ(list.CellText(134, 1), "This is a long string with a serial number at the end 0134");
    EXPECT_EQ(list.CellText(135, 1), "This is a long string with a serial num");
    EXPECT_EQ(list.CellText(136, 1), "New CONTINUE block"); // the first string of the CONTINUE record
}

TEST(XlsFixtureTest, SheetListsKeepWorksheetsOnlyWithTheirVisibility)
{
    Opened sheets("any_sheets.xls"); // Visible, Hidden, VeryHidden and a chart sheet
    ASSERT_EQ(sheets.data.sheets.size(), 3u);
    EXPECT_EQ(sheets.Names(), (std::vector<std::string> { "Visible", "Hidden", "VeryHidden" }));
    EXPECT_EQ(sheets.data.sheets[0].visibility, SheetVisibility::Visible);
    EXPECT_EQ(sheets.data.sheets[1].visibility, SheetVisibility::Hidden);
    EXPECT_EQ(sheets.data.sheets[2].visibility, SheetVisibility::VeryHidden);

    Opened many("issue127.xls");
    EXPECT_EQ(many.Names(),
        (std::vector<std::string> { "Sheet1", "Sheet2", "Sheet3", "Sheet4", "Sheet5", "Sheet6", "Sheet7", "Sheet8" }));

    Opened pictures("picture.xls"); // pictures only: two sheets without cells
    EXPECT_EQ(pictures.Names(), (std::vector<std::string> { "Sheet1", "Sheet2" }));
    EXPECT_FALSE(pictures.Load(0).HasCells());
    EXPECT_FALSE(pictures.Load(1).HasCells());

    // The stream is named "BOOK"; its one sheet is empty.
    Application application;
    auto capital = application.Open(Path("capitalized_wbook_stream.xls"));
    ASSERT_EQ(capital->Worksheets().size(), 1u);
    EXPECT_EQ(capital->Worksheets()[0].Name(), "Sheet1");
    ExpectRange(capital->Worksheets()[0].UsedRange(), 1, 1);
    EXPECT_EQ(capital->Worksheets()[0].CellText(1, 1), "");
}

TEST(XlsFixtureTest, OptionalRecordsAndFormattedBlanks)
{
    Opened book("optional_records.xls");
    EXPECT_EQ(book.Names(), (std::vector<std::string> { "Orig Sched", "Summary Sched" }));
    const SheetData sheet = book.Load(0);
    ExpectNumber(sheet, 2, 1, 36892, 40);
    ExpectNumber(sheet, 4, 1, 36951, 42);
    const Cell* blank = sheet.Find(1, 32); // BLANK at row 0, column 31 with XF 39
    ASSERT_NE(blank, nullptr);
    EXPECT_EQ(blank->kind, CellKind::Blank);
    EXPECT_EQ(blank->style, 39u);
    EXPECT_GE(sheet.UsedRange().lastColumn, 32);

    Opened blanks("issue_271.xls"); // rows of MULBLANK 26 columns wide
    const SheetData first = blanks.Load(0);
    EXPECT_GE(first.UsedRange().lastColumn, 26);
    EXPECT_EQ(first.Find(1, 26)->kind, CellKind::Blank);
}

// issue_385.xls is encrypted with RC4 under the application's default password, which
// opens it as the application does; pass_protected.xlsx needs a password of its own.
TEST(XlsFixtureTest, DefaultPasswordWorkbookOpens)
{
    auto book = Application().Open(Path("issue_385.xls"));
    ASSERT_EQ(book->Worksheets().size(), 1u);
    EXPECT_EQ(book->Worksheets()[0].Name(), "Sheet1");
}

TEST(XlsFixtureTest, LibreOfficesPasswordWorkbookOpensWithItsPassword)
{
    Application application;
    EXPECT_EQ(testing::ErrorCodeOf([&] { application.Open(Path("libreoffice-password.xls")); }),
        ErrorCode::PasswordProtected);
    application.SetPasswordSource([] { return std::optional<std::string>("s3cret"); });
    auto book = application.Open(Path("libreoffice-password.xls"));
    ASSERT_EQ(book->Worksheets().size(), 1u);
    Worksheet& sheet = book->Worksheets()[0];
    EXPECT_EQ(sheet.Name(), "data");
    EXPECT_EQ(sheet.CellText(1, 1), "Name");
    EXPECT_EQ(sheet.CellText(2, 2), "12.5");
    EXPECT_EQ(sheet.CellText(3, 1), "South");
    EXPECT_EQ(sheet.CellText(3, 2), "-3");
    EXPECT_EQ(sheet.UsedRange().lastRow, 3);
}

TEST(XlsFixtureTest, PasswordProtectedWorkbooksSaySo)
{
    Application application;
    for (const char* name : { "pass_protected.xlsx" }) {
        try {
            application.Open(Path(name));
            ADD_FAILURE() << name << " opened";
        } catch (const SpreadsheetError& error) {
            EXPECT_EQ(error.code(), ErrorCode::PasswordProtected) << name;
            EXPECT_NE(std::string(error.what()).find("the workbook is password-protected"), std::string::npos);
        }
    }
}

TEST(XlsFixtureTest, HostileWorkbooksFailOrLoad)
{
    // Sizes and counts declared far beyond the file (a root entry of 8 TiB, stream sizes
    // with garbage high words, an SST count of 7668 for 892 strings) must cost nothing;
    // OOM_alloc3's directory chain leaves the file after two sectors and is corrupt.
    struct Case {
        const char* name;
        bool opens;
    };
    for (const Case& c : { Case { "OOM_alloc.xls", true }, Case { "OOM_alloc2.xls", true },
             Case { "OOM_alloc3.xls", false }, Case { "gh548_incorrect_sst_unique_count.xls", true } }) {
        bool opened = false;
        size_t sheetFailures = 0;
        try {
            Application application;
            auto workbook = application.Open(Path(c.name));
            opened = true;
            for (Worksheet& sheet : workbook->Worksheets()) {
                try {
                    const CellRange range = sheet.UsedRange();
                    for (int32_t r = range.firstRow; r <= range.lastRow; ++r)
                        for (int32_t col = range.firstColumn; col <= range.lastColumn; ++col)
                            sheet.CellText(r, col);
                } catch (const SpreadsheetError&) {
                    ++sheetFailures;
                }
            }
        } catch (const SpreadsheetError& error) {
            EXPECT_EQ(error.code(), ErrorCode::Corrupt) << c.name;
        }
        EXPECT_EQ(opened, c.opens) << c.name;
        EXPECT_EQ(sheetFailures, 0u) << c.name;
    }
}

TEST(XlsFixtureTest, DamagedCopiesOfRealWorkbooksFailCleanly)
{
    // Random byte changes and cuts anywhere in the file: every copy either opens and
    // exports or fails with a SpreadsheetError that names the workbook.
    for (const char* name : { "issues.xls", "biff5_write.xls", "sst_continue.xls", "merged_range.xls" })
        testing::ExpectDamagedCopiesFailCleanly(testing::ReadBytes(Path(name)), name, 150, 20260);
}

TEST(XlsFixtureTest, SharedStringCountsThatDisagreeWithTheTableStillResolve)
{
    // gh548: the SST declares 7668 strings but holds fewer; the count must neither reserve
    // memory for all of them nor make the reader fail.
    Opened book("gh548_incorrect_sst_unique_count.xls");
    ASSERT_GE(book.data.sharedStrings.size(), 6u);
    EXPECT_EQ(book.data.sharedStrings[0], "Title:");
    EXPECT_EQ(book.data.sharedStrings[1], "Period:");
    EXPECT_EQ(book.data.sharedStrings[2], "Source:");
    EXPECT_EQ(book.data.sharedStrings[3], "Published:");
    // The table holds 892 strings, the last "11th May 2023"; the cells use indices up to 891.
    ASSERT_EQ(book.data.sharedStrings.size(), 892u);
    EXPECT_EQ(book.data.sharedStrings.back(), "11th May 2023");
}

// Old programs saved the workbook stream on its own, without the compound file around
// it: it reads as the same workbook. A stream of the versions before Excel 5 says which
// format it is rather than that it is none.
TEST(XlsFixtureTest, WorkbookStreamsSavedOnTheirOwnReadAsInTheirCompoundFile)
{
    Application application;
    for (const char* name : { "date.xls", "biff5_write.xls" }) {
        const std::string file = testing::ReadBytes(Path(name));
        const container::CompoundFile compound(std::span(reinterpret_cast<const uint8_t*>(file.data()), file.size()));
        const container::CfbEntry* entry = compound.FindStream("Workbook");
        if (!entry)
            entry = compound.FindStream("Book");
        ASSERT_NE(entry, nullptr) << name;
        const container::CfbStream workbook = compound.Read(*entry);
        const auto stream = workbook.Bytes();
        auto whole = application.Open(Path(name));
        auto alone = application.OpenBytes(std::string(stream.begin(), stream.end()), "alone.xls");
        ASSERT_EQ(alone->Worksheets().size(), whole->Worksheets().size()) << name;
        for (size_t i = 0; i < whole->Worksheets().size(); ++i) {
            Worksheet& expected = whole->Worksheets()[i];
            Worksheet& actual = alone->Worksheets()[i];
            EXPECT_EQ(actual.Name(), expected.Name()) << name;
            const CellRange range = expected.UsedRange();
            ASSERT_EQ(actual.UsedRange().lastRow, range.lastRow) << name;
            for (int32_t row = range.firstRow; row <= range.lastRow; ++row) {
                for (int32_t column = range.firstColumn; column <= range.lastColumn; ++column)
                    EXPECT_EQ(std::string(actual.CellText(row, column)), std::string(expected.CellText(row, column)));
            }
        }
    }
    const std::string biff2 { "\x09\x00\x04\x00\x02\x00\x10\x00\x0A\x00\x00\x00", 12 };
    testing::ExpectFailure(
        [&] { application.OpenBytes(biff2, "old.xls"); }, ErrorCode::Unsupported, { "old.xls", "older than Excel 5" });
}

} // namespace
} // namespace vellumcast::spreadsheet
