#include "spreadsheet/xlsx/XlsxReader.h"
#include "spreadsheet/SheetData.h"
#include "spreadsheet/Workbook.h"
#include "support/Failures.h"
#include "support/SheetGrid.h"
#include "support/TempDir.h"
#include "support/XlsxWriter.h"

#include <gtest/gtest.h>

#include <random>

namespace vellumcast::spreadsheet {
namespace {

using testing::Fixture;
using testing::SheetShows;
using testing::XlsxVisibility;
using testing::XlsxWriter;

// The reader's raw output, beneath the displayed texts: kinds, values and style indices.
struct RawWorkbook {
    WorkbookData data;
    std::unique_ptr<WorkbookReader> reader;

    SheetData Load(size_t index)
    {
        SheetData sheet;
        SheetBuilder builder(sheet);
        reader->LoadSheet(index, builder);
        builder.Finish();
        return sheet;
    }
};

RawWorkbook OpenRaw(std::shared_ptr<const FileBytes> bytes)
{
    RawWorkbook book;
    const ReaderContext context { std::move(bytes), "book.xlsx", {} };
    book.reader = xlsx::OpenReader(context, book.data);
    return book;
}

RawWorkbook OpenRawFixture(const std::string& name)
{
    return OpenRaw(FileBytes::OpenFile(Fixture("workbooks/" + name)));
}

RawWorkbook OpenRawBytes(const std::string& bytes)
{
    return OpenRaw(FileBytes::FromBuffer(bytes));
}

std::unique_ptr<Workbook> OpenFixture(const std::string& name)
{
    Application application;
    return application.Open(Fixture("workbooks/" + name));
}

std::unique_ptr<Workbook> OpenBytes(const std::string& bytes)
{
    Application application;
    return application.OpenBytes(bytes, "made.xlsx");
}

void ExpectNumber(const SheetData& sheet, int32_t row, int32_t column, double value, uint32_t style)
{
    const Cell* cell = sheet.Find(row, column);
    ASSERT_NE(cell, nullptr) << testing::CellName(row, column);
    ASSERT_EQ(cell->kind, CellKind::Number) << testing::CellName(row, column);
    EXPECT_DOUBLE_EQ(cell->value.number, value) << testing::CellName(row, column);
    EXPECT_EQ(cell->style, style) << testing::CellName(row, column);
}

ErrorCode LoadError(const std::string& bytes)
{
    return testing::ErrorCodeOf([&] {
        auto book = OpenBytes(bytes);
        for (auto& sheet : book->Worksheets())
            sheet.UsedRange();
    });
}

TEST(XlsxFixtures, DatesKeepTheirSerialsAndStyles)
{
    auto book = OpenRawFixture("date.xlsx");
    EXPECT_EQ(book.data.dateSystem, numfmt::DateSystem::Date1900);
    EXPECT_EQ(book.data.formats.StyleCount(), 4u); // one style per xf of cellXfs, not of cellStyleXfs
    ASSERT_EQ(book.data.sheets.size(), 1u);
    const SheetData sheet = book.Load(0);
    ExpectNumber(sheet, 1, 1, 44197, 1); // 2021-01-01 in yyyy-mm-dd
    ExpectNumber(sheet, 2, 1, 44198, 1);
    ExpectNumber(sheet, 3, 1, 10.6320601851852, 3);
    ExpectNumber(sheet, 1, 2, 15, 2);
    ExpectNumber(sheet, 3, 2, 17, 0);
    const CellRange range = sheet.UsedRange();
    EXPECT_EQ(range.lastRow, 3);
    EXPECT_EQ(range.lastColumn, 2);

    auto shown = OpenFixture("date.xlsx");
    EXPECT_EQ(shown->DateSystemInUse(), numfmt::DateSystem::Date1900);
    EXPECT_EQ(shown->Worksheets()[0].CellText(3, 2), "17"); // General
}

TEST(XlsxFixtures, Date1904System)
{
    auto book = OpenRawFixture("date_1904.xlsx");
    EXPECT_EQ(book.data.dateSystem, numfmt::DateSystem::Date1904); // date1904="true"
    const SheetData sheet = book.Load(0);
    ExpectNumber(sheet, 1, 1, 42735, 1); // 2021-01-01 in the 1904 system
    ExpectNumber(sheet, 2, 1, 42736, 1);
    EXPECT_EQ(OpenFixture("date_1904.xlsx")->DateSystemInUse(), numfmt::DateSystem::Date1904);
}

TEST(XlsxFixtures, MergedCellsShowInTheirTopLeftCellAndFormattedBlanksCount)
{
    auto book = OpenFixture("merge_cells.xlsx");
    EXPECT_TRUE(SheetShows(book->Worksheets()[0],
        {
            { "Row Merge", "", "Not Merged", "" },
            { "Column Merge", "Chunk Merged", "", "" },
            { "", "", "", "" },
            { "", "", "", "" },
        }));
}

TEST(XlsxFixtures, EmptySheetsAreA1)
{
    for (const char* name : { "empty_sheet.xlsx", "errors.xlsx" }) {
        auto book = OpenFixture(name);
        auto& sheet = book->Worksheets().back();
        EXPECT_TRUE(SheetShows(sheet, { { "" } })) << name;
    }
}

TEST(XlsxFixtures, EscapesAreDecoded)
{
    EXPECT_TRUE(SheetShows(OpenFixture("has_x000D_.xlsx")->Worksheets()[0], { { "ABC\r\nDEF" } }));
    EXPECT_TRUE(SheetShows(OpenFixture("has_x000D_inline.xlsx")->Worksheets()[0], { { "ABC\r\nDEF" } }));
}

TEST(XlsxFixtures, InlineStrings)
{
    EXPECT_TRUE(SheetShows(OpenFixture("inlineStr_cdata.xlsx")->Worksheets()[0],
        { { "Hello CDATA", "World" }, { "12345", "NormalText" } }));
    auto book = OpenFixture("inlineStr_with_value.xlsx");
    auto& sheet = book->Worksheets()[0];
    EXPECT_EQ(sheet.Name(), "Requirements");
    EXPECT_EQ(sheet.CellText(1, 1), "NN");
    EXPECT_EQ(sheet.CellText(1, 2), "Hierarchy");
    EXPECT_EQ(sheet.CellText(1, 3), "");
    EXPECT_EQ(sheet.CellText(1, 4), "Outline Number");
}

TEST(XlsxFixtures, NonstandardNamespacePrefixes)
{
    auto book = OpenFixture("nonstandard-xml-ns-prefix.xlsx");
    ASSERT_EQ(book->Worksheets().size(), 1u);
    EXPECT_TRUE(SheetShows(book->Worksheets()[0], { { "a", "b" }, { "1", "3" }, { "2", "4" } }));
}

TEST(XlsxFixtures, ErrorCells)
{
    auto book = OpenFixture("errors.xlsx");
    ASSERT_EQ(book->Worksheets().size(), 3u);
    // Row 20 is recorded but holds no cell, so it does not widen the used range.
    EXPECT_TRUE(SheetShows(book->Worksheets()[0],
        { { "#DIV/0!" }, { "#NAME?" }, { "#VALUE!" }, { "#NULL!" }, { "#REF!" }, { "#NUM!" }, { "#N/A" } }));
    auto raw = OpenRawFixture("errors.xlsx");
    const SheetData sheet = raw.Load(0);
    ASSERT_NE(sheet.Find(1, 1), nullptr);
    EXPECT_EQ(sheet.Find(1, 1)->kind, CellKind::Error);
    EXPECT_EQ(sheet.Find(1, 1)->errorCode, CellError::Div0);
}

TEST(XlsxFixtures, HiddenSheetsStayAndChartSheetsGo)
{
    auto book = OpenFixture("any_sheets.xlsx");
    auto& sheets = book->Worksheets();
    ASSERT_EQ(sheets.size(), 3u);
    EXPECT_EQ(sheets[0].Name(), "Visible");
    EXPECT_EQ(sheets[0].Visibility(), SheetVisibility::Visible);
    EXPECT_EQ(sheets[1].Name(), "Hidden");
    EXPECT_EQ(sheets[1].Visibility(), SheetVisibility::Hidden);
    EXPECT_EQ(sheets[2].Name(), "VeryHidden");
    EXPECT_EQ(sheets[2].Visibility(), SheetVisibility::VeryHidden);
    EXPECT_TRUE(SheetShows(sheets[0],
        { { "1", "2" }, { "3", "4" }, { "5", "6" }, { "", "" },
            { "This workbook contains 4 sheets: Visible, Hidden, VeryHidden and Chart", "" } }));
}

TEST(XlsxFixtures, EmptySharedStrings)
{
    EXPECT_TRUE(SheetShows(OpenFixture("empty_shared_string.xlsx")->Worksheets()[0], { { "abc" }, { "" } }));
    auto book = OpenFixture("empty_shared_string_value.xlsx");
    EXPECT_TRUE(SheetShows(
        book->Worksheets()[0], { { "Name", "City", "Status" }, { "Alice", "", "Active" }, { "", "Berlin", "" } }));
    // An empty <v/> of a shared-string cell is a blank, not shared string 0.
    auto raw = OpenRawFixture("empty_shared_string_value.xlsx");
    const SheetData sheet = raw.Load(0);
    ASSERT_NE(sheet.Find(2, 2), nullptr);
    EXPECT_EQ(sheet.Find(2, 2)->kind, CellKind::Blank);
}

TEST(XlsxFixtures, FormulasShowTheirCachedValues)
{
    EXPECT_TRUE(SheetShows(OpenFixture("non_monotonic_si.xlsx")->Worksheets()[0],
        { { "1", "2", "3" }, { "2", "4", "6" }, { "3", "6", "9" }, { "4", "8", "12" }, { "5", "10", "15" },
            { "6", "12", "18" } }));
    auto ranges = OpenFixture("column_row_ranges.xlsx");
    ASSERT_EQ(ranges->Worksheets().size(), 2u);
    EXPECT_EQ(ranges->Worksheets()[1].Name(), "Row ranges");
    EXPECT_TRUE(SheetShows(ranges->Worksheets()[1],
        { { "0", "0", "0", "0", "0" }, { "0", "0", "0", "0", "0" }, { "0", "0", "0", "0", "0" } }));
}

TEST(XlsxFixtures, EmptyStyleAttributeIsTheDefaultStyle)
{
    EXPECT_TRUE(SheetShows(OpenFixture("empty_s_attribute.xlsx")->Worksheets()[0],
        { { "Name", "Value" }, { "John", "1" }, { "Sophia", "2" }, { "Peter", "3" }, { "Sam", "4" } }));
}

TEST(XlsxFixtures, RichTextAndPrefixedElements)
{
    // Every element under an "x:" prefix, a byte-order mark, and CR LF line ends that XML
    // reads as LF.
    auto prefixed = OpenFixture("richtext-namespaced.xlsx");
    auto& first = prefixed->Worksheets()[0];
    EXPECT_EQ(first.CellText(1, 1), "inline string\nLine 2\nLine 3");
    EXPECT_EQ(first.CellText(1, 8), "shared string\nLine 2\nLine 3");
    EXPECT_EQ(first.CellText(1, 2), "");

    auto runs = OpenFixture("richtext-after-plain.xlsx");
    EXPECT_TRUE(SheetShows(runs->Worksheets()[0],
        { { "abcd", "abcd", "abcd", "abcd" }, { "tvalrval1rval2", "rval1rval2", "rval1rval2", "rval1rval2" } }));

    auto entities = OpenFixture("encoded_entities.xlsx");
    EXPECT_TRUE(SheetShows(entities->Worksheets()[0], { { "&" }, { "\n" } }));
}

TEST(XlsxFixtures, WorkbookPartAtThePackageRootAndCellsWithoutReferences)
{
    auto book = OpenFixture("minimal_package.xlsx");
    ASSERT_FALSE(book->Worksheets().empty());
    auto& sheet = book->Worksheets()[0];
    EXPECT_EQ(sheet.CellText(1, 1), "ARREST BOOKINGS for 01/30/17"); // a plain <t> then a run
    EXPECT_EQ(sheet.CellText(2, 1), "  ");
    EXPECT_EQ(sheet.CellText(3, 1), "BKG_NUM");
    EXPECT_EQ(sheet.CellText(3, 2), "BKG_DT");
    EXPECT_EQ(sheet.CellText(3, 9), "FRST_NM");
}

TEST(XlsxFixtures, IsoDateCells)
{
    auto raw = OpenRawFixture("date_iso.xlsx");
    const SheetData sheet = raw.Load(0);
    ExpectNumber(sheet, 1, 1, 44197, 1);
    ExpectNumber(sheet, 2, 1, 44197 + (10 * 3600 + 10 * 60 + 10) / 86400.0, 2);
    ExpectNumber(sheet, 3, 1, (10 * 3600 + 10 * 60 + 10) / 86400.0, 3);
}

TEST(XlsxFixtures, EveryXlsxFixtureOpensOrFailsCleanly)
{
    // Real files from many writers: each either loads every worksheet or reports one error.
    const char* const names[] = {
        "date_iso.xlsx",
        "date_quoted_format.xlsx",
        "encoded_entities.xlsx",
        "formula.issue.xlsx",
        "header-row.xlsx",
        "hyperlinks.xlsx",
        "inventory-table.xlsx",
        "issue127.xlsx",
        "issue221.xlsm",
        "issue_530.xlsx",
        "issue281.xlsm",
        "issue3.xlsm",
        "issue438.xlsx",
        "issue446.xlsx",
        "issue644.xlsx",
        "issue9.xlsx",
        "issue_174.xlsx",
        "issue_261.xlsx",
        "issue_261_fixed_by_excel.xlsx",
        "issue_391.xlsx",
        "issue_419.xlsx",
        "issue_553.xlsx",
        "issue_565_multi_axis_shared.xlsx",
        "issue_567_absolute_shared.xlsx",
        "issue_644.xlsx",
        "merged_range.xlsx",
        "minimal_package.xlsx",
        "no-header.xlsx",
        "picture.xlsx",
        "picture_richdata.xlsx",
        "pictures_in_cell_and_over_cell.xlsx",
        "pivots.xlsx",
        "readings.xlsx",
        "richtext-after-plain.xlsx",
        "richtext-namespaced.xlsx",
        "issues.xlsx",
    };
    for (const char* name : names) {
        try {
            auto book = OpenFixture(name);
            for (auto& sheet : book->Worksheets()) {
                const CellRange range = sheet.UsedRange();
                EXPECT_LE(range.firstRow, range.lastRow) << name;
            }
        } catch (const SpreadsheetError& error) {
            ADD_FAILURE() << name << ": " << error.what();
        }
    }
}

TEST(XlsxFixtures, DamagedMemberIsOneCleanFailure)
{
    // The workbook relationships of this file inflate to two bytes more than declared and
    // fail their CRC: the package is damaged, and opening it says so.
    try {
        OpenFixture("issue252.xlsx");
        ADD_FAILURE() << "opened";
    } catch (const SpreadsheetError& error) {
        EXPECT_EQ(error.code(), ErrorCode::Corrupt);
    }
}

TEST(XlsxFixtures, BackslashFolderSeparators)
{
    auto book = OpenFixture("issue_530.xlsx");
    EXPECT_FALSE(book->Worksheets().empty());
}

// Password-protected xlsx files are compound files holding an encrypted package: they
// are recognised before this reader and refused by the compound file reader.
TEST(XlsxFixtures, PasswordProtectedWorkbookFailsToOpen)
{
    try {
        OpenFixture("pass_protected.xlsx");
        ADD_FAILURE() << "opened";
    } catch (const SpreadsheetError& error) {
        EXPECT_EQ(error.code(), ErrorCode::PasswordProtected) << error.what();
    }
}

TEST(XlsxWritten, UsedRangeStartsAtTheFirstRecordedCell)
{
    XlsxWriter writer;
    writer.AddSheet("Data").Number(3, 3, 1).Number(3, 4, 2).SharedString(5, 3, "five").Number(4, 5, 3);
    auto book = OpenBytes(writer.Build());
    EXPECT_TRUE(SheetShows(book->Worksheets()[0], { { "1", "2", "" }, { "", "", "3" }, { "five", "", "" } }, 3, 3));
}

TEST(XlsxWritten, MissingReferencesContinueAfterThePreviousCellAndRow)
{
    XlsxWriter writer;
    writer.AddSheet("S").RawSheetData("<row><c><v>1</v></c><c><v>2</v></c><c r=\"E1\"><v>5</v></c><c><v>6</v></c></row>"
                                      "<row r=\"4\"><c><v>7</v></c></row>"
                                      "<row><c r=\"B5\"><v>8</v></c><c><v>9</v></c></row>");
    auto book = OpenBytes(writer.Build());
    EXPECT_TRUE(SheetShows(book->Worksheets()[0],
        { { "1", "2", "", "", "5", "6" }, { "", "", "", "", "", "" }, { "", "", "", "", "", "" },
            { "7", "", "", "", "", "" }, { "", "8", "9", "", "", "" } }));
}

TEST(XlsxWritten, RowsAndCellsOutOfOrder)
{
    XlsxWriter writer;
    writer.AddSheet("S").Number(5, 2, 52).Number(2, 3, 23).Number(2, 1, 21).Number(5, 2, 99);
    auto book = OpenBytes(writer.Build());
    // A cell given twice keeps the last value.
    EXPECT_TRUE(
        SheetShows(book->Worksheets()[0], { { "21", "", "23" }, { "", "", "" }, { "", "", "" }, { "", "99", "" } }, 2));
}

TEST(XlsxWritten, CellKinds)
{
    XlsxWriter writer;
    writer.AddSheet("Kinds")
        .Number(1, 1, 42)
        .SharedString(1, 2, "shared & <escaped>")
        .InlineString(1, 3, "inline")
        .Boolean(1, 4, true)
        .Boolean(1, 5, false)
        .Error(1, 6, "#N/A")
        .Error(1, 7, "#SPILL!")
        .FormulaString(1, 8, "\"a\"&\"b\"", "ab_x000D_")
        .SharedString(1, 9, "")
        .NumberText(1, 10, "-7");
    auto book = OpenBytes(writer.Build());
    EXPECT_TRUE(SheetShows(book->Worksheets()[0],
        { { "42", "shared & <escaped>", "inline", "TRUE", "FALSE", "#N/A", "#SPILL!", "ab\r", "", "-7" } }));
    auto raw = OpenRawBytes(writer.Build());
    const SheetData sheet = raw.Load(0);
    EXPECT_EQ(sheet.Find(1, 2)->kind, CellKind::SharedString);
    EXPECT_EQ(sheet.Find(1, 3)->kind, CellKind::String);
    EXPECT_EQ(sheet.Find(1, 4)->kind, CellKind::Boolean);
    EXPECT_EQ(sheet.Find(1, 7)->kind, CellKind::String); // an error text the engine does not know
}

TEST(XlsxWritten, RichTextRunsJoinAndPhoneticRunsAreLeftOut)
{
    XlsxWriter writer;
    writer.AddSheet("S").RawSheetData(
        "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><r><rPr><b/></rPr><t>bold</t></r><r><t xml:space=\"preserve\"> "
        "plain</t></r><rPh sb=\"0\" eb=\"1\"><t>PHONETIC</t></rPh></is></c></row>");
    EXPECT_EQ(OpenBytes(writer.Build())->Worksheets()[0].CellText(1, 1), "bold plain");
}

TEST(XlsxWritten, StylesFollowCellXfsInOrder)
{
    XlsxWriter writer;
    const uint32_t money = writer.AddStyle("#,##0.00");
    const uint32_t percent = writer.AddBuiltInStyle(10);
    const uint32_t moneyAgain = writer.AddStyle("#,##0.00");
    writer.AddSheet("S")
        .Number(1, 1, 1234.5, money)
        .Number(1, 2, 0.25, percent)
        .Number(1, 3, 1, moneyAgain)
        .Blank(2, 1, percent);
    auto raw = OpenRawBytes(writer.Build());
    EXPECT_EQ(raw.data.formats.StyleCount(), 4u);
    const SheetData sheet = raw.Load(0);
    ExpectNumber(sheet, 1, 1, 1234.5, money);
    ExpectNumber(sheet, 1, 2, 0.25, percent);
    ExpectNumber(sheet, 1, 3, 1, moneyAgain);
    ASSERT_NE(sheet.Find(2, 1), nullptr);
    EXPECT_EQ(sheet.Find(2, 1)->kind, CellKind::Blank);
    EXPECT_EQ(sheet.Find(2, 1)->style, percent);
}

TEST(XlsxWritten, IsoDateCellsBecomeSerialsInTheWorkbooksDateSystem)
{
    const std::string cells = "<row r=\"1\"><c r=\"A1\" t=\"d\" s=\"1\"><v>2021-01-01</v></c>"
                              "<c r=\"B1\" t=\"d\"><v>2021-01-01T12:00:00</v></c>"
                              "<c r=\"C1\" t=\"d\"><v>not a date</v></c></row>";
    for (const bool date1904 : { false, true }) {
        XlsxWriter writer;
        writer.AddStyle("yyyy-mm-dd");
        writer.Date1904(date1904).AddSheet("S").RawSheetData(cells);
        auto raw = OpenRawBytes(writer.Build());
        const SheetData sheet = raw.Load(0);
        const double base = date1904 ? 42735 : 44197;
        ExpectNumber(sheet, 1, 1, base, 1);
        ExpectNumber(sheet, 1, 2, base + 0.5, 0);
        EXPECT_EQ(sheet.Find(1, 3)->kind, CellKind::String);
        EXPECT_EQ(raw.data.dateSystem, date1904 ? numfmt::DateSystem::Date1904 : numfmt::DateSystem::Date1900);
    }
}

TEST(XlsxWritten, HiddenSheetsAndChartSheets)
{
    XlsxWriter writer;
    writer.AddSheet("One");
    writer.AddChartSheet("Chart");
    writer.AddSheet("Two", XlsxVisibility::Hidden).Number(1, 1, 2);
    writer.AddSheet("Three", XlsxVisibility::VeryHidden).Number(1, 1, 3);
    auto book = OpenBytes(writer.Build());
    auto& sheets = book->Worksheets();
    ASSERT_EQ(sheets.size(), 3u);
    EXPECT_EQ(sheets[1].Name(), "Two");
    EXPECT_EQ(sheets[1].Visibility(), SheetVisibility::Hidden);
    EXPECT_EQ(sheets[2].Visibility(), SheetVisibility::VeryHidden);
    EXPECT_EQ(sheets[2].CellText(1, 1), "3");
    EXPECT_TRUE(SheetShows(sheets[0], { { "" } }));
}

TEST(XlsxWritten, CompressedMembersAndManyCells)
{
    XlsxWriter writer;
    auto& sheet = writer.Compress().AddSheet("Big");
    for (int row = 1; row <= 20000; ++row) {
        sheet.Number(row, 1, row);
        sheet.SharedString(row, 2, "s" + std::to_string(row % 10));
    }
    int yields = 0;
    Application application;
    application.SetYield([&] { ++yields; });
    auto book = application.OpenBytes(writer.Build(), "big.xlsx");
    auto& big = book->Worksheets()[0];
    const CellRange range = big.UsedRange();
    EXPECT_EQ(range.lastRow, 20000);
    EXPECT_EQ(range.lastColumn, 2);
    EXPECT_EQ(big.CellText(12345, 1), "12345");
    EXPECT_EQ(big.CellText(12345, 2), "s5");
    EXPECT_GT(yields, 0);
}

TEST(XlsxWritten, OpeningYieldsWhileReadingLargeSharedStrings)
{
    XlsxWriter writer;
    auto& sheet = writer.AddSheet("S");
    for (int i = 0; i < 60000; ++i)
        sheet.SharedString(1 + i / 10, 1 + i % 10, "string number " + std::to_string(i));
    const std::string bytes = writer.Build();
    int yields = 0;
    Application application;
    application.SetYield([&] { ++yields; });
    auto book = application.OpenBytes(bytes, "strings.xlsx");
    EXPECT_GT(yields, 1); // the table spans several inflated chunks
    EXPECT_EQ(book->Worksheets()[0].CellText(6000, 10), "string number 59999");
}

TEST(XlsxWritten, DamagedWorksheetsFail)
{
    struct Case {
        const char* what;
        std::string sheetData;
        ErrorCode expected;
    };
    const Case cases[] = {
        { "row past the last row", "<row r=\"1048577\"><c><v>1</v></c></row>", ErrorCode::Corrupt },
        { "column past the last column", "<row r=\"1\"><c r=\"XFE1\"><v>1</v></c></row>", ErrorCode::Corrupt },
        { "huge reference", "<row r=\"1\"><c r=\"ZZZZZZZZZZ99999999999999\"><v>1</v></c></row>", ErrorCode::Corrupt },
        { "reference without a row", "<row r=\"1\"><c r=\"AB\"><v>1</v></c></row>", ErrorCode::Corrupt },
        { "row number that is no number", "<row r=\"x\"><c><v>1</v></c></row>", ErrorCode::Corrupt },
        { "shared string index that is no number", "<row r=\"1\"><c t=\"s\"><v>abc</v></c></row>", ErrorCode::Corrupt },
        { "malformed XML", "<row r=\"1\"><c><v>1</c></row>", ErrorCode::Corrupt },
        { "a doctype in the middle", "<!DOCTYPE x>", ErrorCode::Corrupt },
    };
    for (const auto& c : cases) {
        XlsxWriter writer;
        writer.AddSheet("S").RawSheetData(c.sheetData);
        EXPECT_EQ(LoadError(writer.Build()), c.expected) << c.what;
    }
    // The cell at the very corner is fine.
    XlsxWriter corner;
    corner.AddSheet("S").RawSheetData("<row r=\"1048576\"><c r=\"XFD1048576\"><v>1</v></c></row>");
    const CellRange range = OpenBytes(corner.Build())->Worksheets()[0].UsedRange();
    EXPECT_EQ(range.lastRow, kMaxRows);
    EXPECT_EQ(range.lastColumn, kMaxColumns);
}

TEST(XlsxWritten, DamageIsReportedWithTheWorkbookAndSheetNames)
{
    XlsxWriter writer;
    writer.AddSheet("Broken").RawSheetData("<row r=\"1\"><c r=\"A0\"><v>1</v></c></row>");
    auto book = OpenBytes(writer.Build());
    try {
        book->Worksheets()[0].UsedRange();
        FAIL();
    } catch (const SpreadsheetError& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find("Broken"), std::string::npos) << message;
        EXPECT_NE(message.find("made.xlsx"), std::string::npos) << message;
    }
}

TEST(XlsxWritten, PackagesWithoutRootRelationshipsFallBackToTheUsualWorkbookPart)
{
    const std::string workbook
        = "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
          "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>"
          "<sheet name=\"Only\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>";
    const std::string rels
        = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
          "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
          "worksheet\" Target=\"/xl/worksheets/only.xml\"/></Relationships>";
    const std::string sheet = "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
                              "<sheetData><row r=\"2\"><c r=\"B2\" t=\"inlineStr\"><is><t>hi</t></is></c></row>"
                              "</sheetData></worksheet>";
    const std::string bytes = testing::ZipWriter()
                                  .Add("xl/workbook.xml", workbook)
                                  .Add("xl/_rels/workbook.xml.rels", rels)
                                  .Add("xl/worksheets/only.xml", sheet, true)
                                  .Finish();
    auto book = OpenBytes(bytes);
    ASSERT_EQ(book->Worksheets().size(), 1u);
    EXPECT_TRUE(SheetShows(book->Worksheets()[0], { { "hi" } }, 2, 2));
}

// A package whose workbook lists sheets (name, r:id) and whose relationships give each id
// a type (the last word of the relationship type) and a part; every worksheet part holds
// one cell naming its sheet.
std::string PackageListing(const std::vector<std::pair<std::string, std::string>>& sheets,
    const std::vector<std::pair<std::string, std::string>>& relationships)
{
    const std::string kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    std::string list, rels;
    for (const auto& [name, id] : sheets)
        list += "<sheet name=\"" + name + "\" sheetId=\"1\" r:id=\"" + id + "\"/>";
    testing::ZipWriter zip;
    for (const auto& [id, type] : relationships) {
        rels += "<Relationship Id=\"" + id + "\" Type=\"" + kRel + type + "\" Target=\"parts/" + id + ".xml\"/>";
        zip.Add("xl/parts/" + id + ".xml",
            "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData><row r=\"1\">"
            "<c r=\"A1\" t=\"inlineStr\"><is><t>"
                + id + "</t></is></c></row></sheetData></worksheet>");
    }
    zip.Add("xl/workbook.xml",
        "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
        "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>"
            + list + "</sheets></workbook>");
    zip.Add("xl/_rels/workbook.xml.rels",
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" + rels
            + "</Relationships>");
    return zip.Finish();
}

// One entry of the sheet list that names no part costs that sheet, with a warning naming
// it, not the workbook.
TEST(XlsxWritten, SheetNamingNoPartIsPassedOverWithAWarning)
{
    auto book
        = OpenBytes(PackageListing({ { "First", "rId1" }, { "Lost", "" }, { "Gone", "rId9" }, { "Last", "rId2" } },
            { { "rId1", "worksheet" }, { "rId2", "worksheet" } }));
    ASSERT_EQ(book->Worksheets().size(), 2u);
    EXPECT_EQ(book->Worksheets()[0].Name(), "First");
    EXPECT_EQ(book->Worksheets()[1].Name(), "Last");
    EXPECT_EQ(book->Worksheets()[1].CellText(1, 1), "rId2");
    ASSERT_EQ(book->Warnings().size(), 2u);
    EXPECT_EQ(book->Warnings()[0], "made.xlsx: the sheet \"Lost\" names no part of the package; it is passed over");
    EXPECT_NE(book->Warnings()[1].find("\"Gone\""), std::string::npos) << book->Warnings()[1];
}

// Chart, dialog and macro sheets are no worksheets: listed apart, where the workbook has
// them, and the macro and dialog sheets said once as passed over.
TEST(XlsxWritten, SheetsOfOtherKindsAreListedApartAndSaid)
{
    auto book = OpenBytes(PackageListing({ { "Macro1", "rId1" }, { "Data", "rId2" }, { "Chart1", "rId3" },
                                             { "Dialog1", "rId4" }, { "Intl", "rId5" }, { "More", "rId6" } },
        { { "rId1", "xlMacrosheet" }, { "rId2", "worksheet" }, { "rId3", "chartsheet" }, { "rId4", "dialogsheet" },
            { "rId5", "xlIntlMacrosheet" }, { "rId6", "worksheet" } }));
    ASSERT_EQ(book->Worksheets().size(), 2u);
    EXPECT_EQ(book->Worksheets()[1].CellText(1, 1), "rId6");
    const auto& others = book->OtherSheets();
    ASSERT_EQ(others.size(), 4u);
    const struct {
        const char* name;
        OtherSheetKind kind;
        size_t worksheetsBefore;
    } expected[] = { { "Macro1", OtherSheetKind::Macro, 0 }, { "Chart1", OtherSheetKind::Chart, 1 },
        { "Dialog1", OtherSheetKind::Dialog, 1 }, { "Intl", OtherSheetKind::Macro, 1 } };
    for (size_t i = 0; i < others.size(); ++i) {
        EXPECT_EQ(others[i].name, expected[i].name);
        EXPECT_EQ(others[i].kind, expected[i].kind) << expected[i].name;
        EXPECT_EQ(others[i].worksheetsBefore, expected[i].worksheetsBefore) << expected[i].name;
    }
    ASSERT_EQ(book->Warnings().size(), 1u);
    EXPECT_EQ(book->Warnings()[0],
        "made.xlsx: it holds 2 macro sheets (\"Macro1\", \"Intl\") and 1 dialog sheet (\"Dialog1\"), which are no "
        "worksheets; they are passed over");
    // Chart sheets hold no cells: nothing is said of them.
    EXPECT_TRUE(OpenBytes(
        PackageListing({ { "C", "rId1" }, { "D", "rId2" } }, { { "rId1", "chartsheet" }, { "rId2", "worksheet" } }))
                    ->Warnings()
                    .empty());
}

// A package of one worksheet: its cells (sheetData content), what follows them (the
// conditional formatting), and the styles part.
std::string PackageWithStyles(const std::string& cells, const std::string& after, const std::string& styles)
{
    const std::string kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    return testing::ZipWriter()
        .Add("xl/workbook.xml",
            "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
            "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>"
            "<sheet name=\"S\" sheetId=\"1\" r:id=\"r1\"/></sheets></workbook>")
        .Add("xl/_rels/workbook.xml.rels",
            "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
            "<Relationship Id=\"r1\" Type=\""
                + kRel + "worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"r2\" Type=\"" + kRel
                + "styles\" Target=\"styles.xml\"/></Relationships>")
        .Add("xl/styles.xml",
            "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">" + styles
                + "</styleSheet>")
        .Add("xl/worksheets/sheet1.xml",
            "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>" + cells
                + "</sheetData>" + after + "</worksheet>",
            true)
        .Finish();
}

// A rule of the cell-value kind whose differential format has a number format shows the
// numbers it holds for in that format, the rule of highest priority first; other rules,
// and cells outside the rule's areas, show as their own style says.
TEST(XlsxWritten, ConditionalNumberFormatsOfCellValueRulesApply)
{
    const std::string styles
        = "<numFmts count=\"1\"><numFmt numFmtId=\"164\" formatCode=\"0.0\"/></numFmts>"
          "<cellXfs count=\"2\"><xf numFmtId=\"0\"/><xf numFmtId=\"164\"/></cellXfs>"
          "<dxfs count=\"4\"><dxf><numFmt numFmtId=\"165\" formatCode=\"&quot;$&quot;#,##0\"/></dxf>"
          "<dxf><font><b/></font></dxf><dxf><numFmt numFmtId=\"10\"/></dxf>"
          "<dxf><numFmt numFmtId=\"166\" formatCode=\"&quot;big &quot;0\"/></dxf></dxfs>";
    std::string cells;
    const char* values[] = { "29", "5", "1234.5", "0.25", "7", "500" };
    for (int c = 0; c < 6; ++c)
        cells += "<c r=\"" + XlsxWriter::Reference(1, c + 1) + "\" s=\"1\"><v>" + values[c] + "</v></c>";
    cells = "<row r=\"1\">" + cells
        + "</row><row r=\"2\"><c r=\"A2\"><v>29</v></c><c r=\"B2\" t=\"inlineStr\">"
          "<is><t>29</t></is></c></row>";
    const std::string rules
        = "<conditionalFormatting sqref=\"A1:C1 A2:B2\">"
          "<cfRule type=\"cellIs\" dxfId=\"3\" priority=\"1\" operator=\"greaterThan\"><formula>1000</formula></cfRule>"
          "<cfRule type=\"cellIs\" dxfId=\"0\" priority=\"2\" operator=\"between\"><formula>10</formula>"
          "<formula>2000</formula></cfRule></conditionalFormatting>"
          "<conditionalFormatting sqref=\"D1:F1\">"
          "<cfRule type=\"cellIs\" dxfId=\"2\" priority=\"3\" operator=\"lessThan\"><formula>1</formula></cfRule>"
          "<cfRule type=\"cellIs\" dxfId=\"1\" priority=\"4\" operator=\"greaterThan\"><formula>0</formula></cfRule>"
          "<cfRule type=\"expression\" dxfId=\"0\" priority=\"5\"><formula>F1&gt;100</formula></cfRule>"
          "<cfRule type=\"cellIs\" dxfId=\"0\" priority=\"6\" operator=\"equal\"><formula>$A$1</formula></cfRule>"
          "</conditionalFormatting>";
    auto book = OpenBytes(PackageWithStyles(cells, rules, styles));
    Worksheet& sheet = book->Worksheets()[0];
    const testing::Grid expected
        = { { "$29", "5.0", "big 1235", "25.00%", "7.0", "500.0" }, { "$29", "29", "", "", "", "" } };
    EXPECT_EQ(testing::TextsOf(sheet), expected);
    // Loaded on a second thread, numbers shown as they load: the same texts.
    SetLoadBesideWalkThreshold(0);
    sheet.Unload();
    std::vector<std::string> shown;
    sheet.VisitRowsWhileLoading(
        [&](const RowBatch& rows) {
            for (size_t r = 0; r < rows.RowCount(); ++r)
                for (size_t i = rows.CellsBegin(r); i < rows.CellsEnd(r); ++i)
                    shown.emplace_back(sheet.TextOf(rows.CellAt(i), rows));
            return true;
        },
        true);
    SetLoadBesideWalkThreshold(uint64_t { 1 } << 20);
    EXPECT_EQ(shown, (std::vector<std::string> { "$29", "5.0", "big 1235", "25.00%", "7.0", "500.0", "$29", "29" }));
    // Without a differential number format the part is read once, as always.
    auto plain = OpenBytes(PackageWithStyles(cells, rules,
        "<cellXfs count=\"2\"><xf numFmtId=\"0\"/><xf numFmtId=\"2\"/></cellXfs><dxfs count=\"1\"><dxf/></dxfs>"));
    EXPECT_EQ(plain->Worksheets()[0].CellText(1, 1), "29.00");
}

// Two members of one name leave it open which is meant, and another reader may take the
// other one: the package is refused as damaged, naming the member.
TEST(XlsxWritten, TwoMembersOfOneNameAreRefused)
{
    const std::string workbook
        = "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheets/></workbook>";
    const std::string bytes = testing::ZipWriter()
                                  .Add("xl/workbook.xml", workbook)
                                  .Add("xl/worksheets/sheet1.xml", "<worksheet/>")
                                  .Add("xl/worksheets/sheet1.xml", "<worksheet/>")
                                  .Finish();
    try {
        OpenBytes(bytes);
        FAIL() << "opened";
    } catch (const SpreadsheetError& error) {
        EXPECT_EQ(error.code(), ErrorCode::Corrupt);
        EXPECT_NE(std::string(error.what()).find("two members named \"xl/worksheets/sheet1.xml\""), std::string::npos)
            << error.what();
    }
}

} // namespace
} // namespace vellumcast::spreadsheet

namespace vellumcast::spreadsheet {
namespace {

// Damaged worksheet XML in a well-formed package: every load either succeeds or fails with
// a SpreadsheetError, never anything else.
TEST(XlsxRobustness, MutatedWorksheetsFailCleanly)
{
    const std::string base = "<row r=\"1\"><c r=\"A1\" s=\"1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"inlineStr\"><is><r>"
                             "<t>a_x000D_&amp;b</t></r><rPh><t>p</t></rPh></is></c><c r=\"C1\" t=\"b\"><v>1</v></c>"
                             "</row><row r=\"3\"><c r=\"D3\" t=\"e\"><v>#N/A</v></c><c t=\"d\"><v>2021-01-01T10:00"
                             "</v></c><c r=\"F3\" t=\"str\"><f>A1</f><v>x</v></c><c r=\"G3\" s=\"2\"/></row>";
    const std::string alphabet = "<>/&;\"'=x_0123456789rstcvfisd#:AZ \r\n\xC3\xFF";
    std::mt19937 random(20261208);
    int loaded = 0;
    for (int round = 0; round < 600; ++round) {
        std::string xml = base;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            const size_t at = random() % xml.size();
            const char c = alphabet[random() % alphabet.size()];
            switch (random() % 3) {
            case 0:
                xml[at] = c;
                break;
            case 1:
                xml.insert(xml.begin() + static_cast<std::ptrdiff_t>(at), c);
                break;
            default:
                xml.erase(at, 1 + random() % 8);
                break;
            }
        }
        XlsxWriter writer;
        writer.AddStyle("0.00");
        writer.AddStyle("General");
        writer.AddSheet("S").RawSheetData(xml);
        try {
            auto book = OpenBytes(writer.Build());
            auto& sheet = book->Worksheets()[0];
            const CellRange range = sheet.UsedRange();
            for (int32_t row = range.firstRow; row <= std::min(range.lastRow, range.firstRow + 10); ++row) {
                for (int32_t column = range.firstColumn; column <= std::min(range.lastColumn, range.firstColumn + 10);
                     ++column)
                    sheet.CellText(row, column);
            }
            ++loaded;
        } catch (const SpreadsheetError&) {
        }
    }
    EXPECT_GT(loaded, 0); // some edits (inside values) keep the XML well formed
}

TEST(XlsxRobustness, DamagedPackagesFailCleanly)
{
    XlsxWriter writer;
    writer.Compress().AddSheet("S").Number(1, 1, 1).SharedString(1, 2, "text");
    testing::ExpectDamagedCopiesFailCleanly(writer.Build(), "made.xlsx", 400, 7);
}

} // namespace
} // namespace vellumcast::spreadsheet
