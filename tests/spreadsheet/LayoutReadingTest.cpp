// Every reader reads the merged areas and the hidden rows and columns of a worksheet: the
// same workbook saved in each format gives the same layout, and crafted files give one
// that stays in the grid and in bounds.

#include "spreadsheet/SpreadsheetError.h"
#include "spreadsheet/Workbook.h"
#include "support/SheetGrid.h"
#include "support/TempDir.h"
#include "support/XlsbWriter.h"
#include "support/XlsxWriter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellumcast::spreadsheet {
namespace {

using testing::Fixture;
using testing::XlsbWriter;
using testing::XlsxWriter;

std::string Areas(Worksheet& sheet)
{
    std::string text;
    for (const CellRange& area : sheet.MergedAreas())
        text += (text.empty() ? "" : " ") + testing::CellName(area.firstRow, area.firstColumn) + ":"
            + testing::CellName(area.lastRow, area.lastColumn);
    return text;
}

// "3 5": the hidden rows among the first count.
std::string HiddenRows(Worksheet& sheet, int32_t count)
{
    std::string text;
    for (int32_t row = 1; row <= count; ++row)
        if (sheet.RowHidden(row))
            text += (text.empty() ? "" : " ") + std::to_string(row);
    return text;
}

std::string HiddenColumns(Worksheet& sheet, int32_t count)
{
    std::string text;
    for (int32_t column = 1; column <= count; ++column)
        if (sheet.ColumnHidden(column))
            text += (text.empty() ? "" : " ") + std::to_string(column);
    return text;
}

std::unique_ptr<Workbook> OpenBytes(const std::string& bytes, const std::string& name)
{
    Application application;
    return application.OpenBytes(bytes, name);
}

// The layout workbook, written by hand as flat XML and saved by LibreOffice as the others:
// A1:C1, E2:E4 and D5:E6 merged, rows 3 and 5 and columns B and D hidden; a second
// worksheet holds none of it.
class LayoutFixture : public ::testing::TestWithParam<const char*> { };

TEST_P(LayoutFixture, MergedAreas)
{
    Application application;
    auto book = application.Open(Fixture(std::string("workbooks/layout.") + GetParam()));
    Worksheet& sheet = book->Worksheets().at(0);
    EXPECT_EQ(Areas(sheet), "A1:C1 E2:E4 D5:E6");
    EXPECT_EQ(Areas(book->Worksheets().at(1)), "");
}

TEST_P(LayoutFixture, HiddenRows)
{
    Application application;
    auto book = application.Open(Fixture(std::string("workbooks/layout.") + GetParam()));
    Worksheet& sheet = book->Worksheets().at(0);
    EXPECT_EQ(HiddenRows(sheet, 10), "3 5");
    EXPECT_EQ(sheet.HiddenRowCount(), 2);
    EXPECT_EQ(HiddenRows(book->Worksheets().at(1), 10), "");
}

TEST_P(LayoutFixture, HiddenColumns)
{
    Application application;
    auto book = application.Open(Fixture(std::string("workbooks/layout.") + GetParam()));
    Worksheet& sheet = book->Worksheets().at(0);
    EXPECT_EQ(HiddenColumns(sheet, 10), "2 4");
    EXPECT_EQ(sheet.HiddenColumnCount(), 2);
    EXPECT_EQ(HiddenColumns(book->Worksheets().at(1), 10), "");
}

TEST_P(LayoutFixture, TheCellsStayAsTheyWere)
{
    Application application;
    auto book = application.Open(Fixture(std::string("workbooks/layout.") + GetParam()));
    Worksheet& sheet = book->Worksheets().at(0);
    EXPECT_EQ(sheet.CellText(1, 1), "Title");
    EXPECT_EQ(sheet.CellText(3, 1), "hidden row");
    EXPECT_EQ(sheet.CellText(5, 4), "Block");
    EXPECT_EQ(sheet.CellText(2, 5), "Side");
    // Unloading lets go of the layout with the cells; asking loads both again.
    sheet.Unload();
    EXPECT_EQ(Areas(sheet), "A1:C1 E2:E4 D5:E6");
}

INSTANTIATE_TEST_SUITE_P(EachFormat, LayoutFixture, ::testing::Values("xlsx", "xls", "ods", "fods", "xml"));

// Workbooks of other origins saved as both xlsx and xls: the two readers agree.
TEST(LayoutParity, XlsxAndXlsGiveTheSameMergedAreas)
{
    Application application;
    for (const std::string name : { "merge_cells", "merged_range" }) {
        auto xlsx = application.Open(Fixture("workbooks/" + name + ".xlsx"));
        auto xls = application.Open(Fixture("workbooks/" + name + ".xls"));
        ASSERT_EQ(xlsx->Worksheets().size(), xls->Worksheets().size()) << name;
        for (size_t i = 0; i < xlsx->Worksheets().size(); ++i) {
            const std::string areas = Areas(xlsx->Worksheets()[i]);
            EXPECT_NE(areas, "") << name;
            EXPECT_EQ(areas, Areas(xls->Worksheets()[i])) << name;
        }
    }
}

// The same layout written by the test writer of binary workbooks.
TEST(XlsbLayout, MergedAreasHiddenRowsAndHiddenColumns)
{
    XlsbWriter writer;
    writer.AddSheet("Layout")
        .HiddenColumns(2, 2)
        .HiddenColumns(4, 4, true) // by a width of zero
        .SharedString(1, 1, "Title")
        .SharedString(2, 5, "Side")
        .HiddenRow(3)
        .SharedString(3, 1, "hidden row")
        .HiddenRow(5)
        .SharedString(5, 4, "Block")
        .SharedString(6, 1, "a6")
        .Merge(1, 1, 1, 3)
        .Merge(2, 5, 4, 5)
        .Merge(5, 4, 6, 5);
    writer.AddSheet("Plain").SharedString(1, 1, "x");
    auto book = OpenBytes(writer.Build(), "layout.xlsb");
    Worksheet& sheet = book->Worksheets().at(0);
    EXPECT_EQ(Areas(sheet), "A1:C1 E2:E4 D5:E6");
    EXPECT_EQ(HiddenRows(sheet, 10), "3 5");
    EXPECT_EQ(HiddenColumns(sheet, 10), "2 4");
    EXPECT_EQ(sheet.CellText(5, 4), "Block");
    EXPECT_EQ(sheet.CellText(6, 1), "a6");
    Worksheet& plain = book->Worksheets().at(1);
    EXPECT_EQ(Areas(plain), "");
    EXPECT_EQ(HiddenRows(plain, 10), "");
}

TEST(XlsbLayout, CraftedAreasStayInTheGrid)
{
    XlsbWriter writer;
    writer.AddSheet("Crafted")
        .HiddenColumns(16380, 0x7FFFFFFF) // a last column far past the grid
        .SharedString(1, 1, "a")
        .Merge(2, 2, 4, 4)
        .Merge(3, 3, 5, 5) // overlaps the first
        .Merge(1, 16384, 0x7FFFFFFF, 0x7FFFFFFF) // far past the grid
        .Raw(XlsbWriter::Record(0, XlsbWriter::U32(1))); // a row header too short for flags
    auto book = OpenBytes(writer.Build(), "crafted.xlsb");
    Worksheet& sheet = book->Worksheets().at(0);
    EXPECT_EQ(Areas(sheet), "XFD1:XFD1048576 B2:D4");
    EXPECT_TRUE(sheet.ColumnHidden(16384));
    EXPECT_FALSE(sheet.ColumnHidden(16379));
    EXPECT_FALSE(sheet.RowHidden(2));
}

TEST(XlsxLayout, HiddenRowsByFlagOrByTheirOwnZeroHeight)
{
    XlsxWriter writer;
    writer.AddSheet("Rows").RawSheetData(
        "<row r=\"1\" hidden=\"1\"/>"
        "<row r=\"2\" hidden=\"true\"><c r=\"A2\"><v>1</v></c></row>"
        "<row r=\"3\" ht=\"0\" customHeight=\"1\"/>"
        "<row r=\"4\" ht=\"0\"/>" // a cached height only
        "<row r=\"5\" hidden=\"0\" ht=\"15\"/>"
        "<row r=\"6\" ht=\"0.0\" customHeight=\"true\"><c r=\"B6\"><v>2</v></c></row>");
    auto book = OpenBytes(writer.Build(), "rows.xlsx");
    Worksheet& sheet = book->Worksheets().at(0);
    EXPECT_EQ(HiddenRows(sheet, 8), "1 2 3 6");
    EXPECT_EQ(sheet.CellText(6, 2), "2");
    EXPECT_EQ(sheet.HiddenRowCount(), 3); // of the used range A2:B6
}

TEST(XlsxLayout, HiddenColumnsByFlagOrByZeroWidth)
{
    XlsxWriter writer;
    writer.AddSheet("Columns").Number(1, 1, 1).AroundSheetData(
        "<cols><col min=\"2\" max=\"3\" hidden=\"1\"/><col min=\"5\" max=\"5\" width=\"0\"/>"
        "<col min=\"6\" max=\"6\" width=\"8.5\" hidden=\"false\"/>"
        "<col min=\"x\" max=\"7\" hidden=\"1\"/>" // unreadable: nothing
        "<col min=\"16000\" max=\"99999\" hidden=\"1\"/></cols>",
        {});
    auto book = OpenBytes(writer.Build(), "columns.xlsx");
    Worksheet& sheet = book->Worksheets().at(0);
    EXPECT_EQ(HiddenColumns(sheet, 8), "2 3 5");
    EXPECT_TRUE(sheet.ColumnHidden(16384));
    EXPECT_EQ(sheet.HiddenColumnCount(), 0); // the used range is A1 alone
}

TEST(XlsxLayout, CraftedMergesOverlapOrReachPastTheGrid)
{
    XlsxWriter writer;
    writer.AddSheet("Merges").Number(1, 1, 1).AroundSheetData({},
        "<mergeCells><mergeCell ref=\"B2:D4\"/><mergeCell ref=\"C3:E5\"/><mergeCell ref=\"D4:B2\"/>"
        "<mergeCell ref=\"A1\"/><mergeCell ref=\"nonsense\"/><mergeCell ref=\"XFD1:XFE1048577\"/>"
        "<mergeCell ref=\"A1048576:B1048577\"/></mergeCells>");
    auto book = OpenBytes(writer.Build(), "merges.xlsx");
    EXPECT_EQ(Areas(book->Worksheets().at(0)), "XFD1:XFD1048576 B2:D4 A1048576:B1048576");
}

TEST(XlsxLayout, ARowHiddenOneByOneAMillionTimes)
{
    std::string rows;
    for (int32_t row = kMaxRows - 1; row >= 1; row -= 2) // every odd row, in reverse
        rows += "<row r=\"" + std::to_string(row) + "\" hidden=\"1\"/>";
    XlsxWriter writer;
    writer.AddSheet("Rows").RawSheetData(rows + "<row r=\"1048576\"><c r=\"A1048576\"><v>1</v></c></row>");
    auto book = OpenBytes(writer.Build(), "rows.xlsx");
    Worksheet& sheet = book->Worksheets().at(0);
    EXPECT_TRUE(sheet.RowHidden(1048575));
    EXPECT_FALSE(sheet.RowHidden(1048576));
    EXPECT_EQ(sheet.HiddenRowCount(), 0); // the used range is the last row alone
}

// A table whose rows and columns are repeated, hidden as a whole or in part.
std::string OdsContent(const std::string& table)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
           "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
           "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
           "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
           "office:mimetype=\"application/vnd.oasis.opendocument.spreadsheet\"><office:body><office:spreadsheet>"
           "<table:table table:name=\"T\">"
        + table + "</table:table></office:spreadsheet></office:body></office:document>";
}

TEST(OdsLayout, RepeatedRowsAndColumnsHideTheirWholeRun)
{
    auto book = OpenBytes(
        OdsContent(
            "<table:table-column table:number-columns-repeated=\"2\"/>"
            "<table:table-header-columns><table:table-column table:number-columns-repeated=\"3\" "
            "table:visibility=\"collapse\"/></table:table-header-columns>"
            "<table:table-column table:visibility=\"filter\"/>"
            "<table:table-column table:number-columns-repeated=\"16378\" table:visibility=\"visible\"/>"
            "<table:table-row><table:table-cell office:value-type=\"string\"><text:p>a</text:p>"
            "</table:table-cell></table:table-row>"
            "<table:table-row table:number-rows-repeated=\"2\" table:visibility=\"filter\"/>"
            "<table:table-row-group><table:table-row><table:table-cell/></table:table-row></table:table-row-group>"
            "<table:table-row table:number-rows-repeated=\"1048572\" table:visibility=\"collapse\">"
            "<table:table-cell/></table:table-row>"),
        "repeat.fods");
    Worksheet& sheet = book->Worksheets().at(0);
    EXPECT_EQ(HiddenColumns(sheet, 8), "3 4 5 6");
    EXPECT_EQ(HiddenRows(sheet, 6), "2 3 5 6");
    EXPECT_TRUE(sheet.RowHidden(1048576));
    EXPECT_EQ(sheet.CellText(1, 1), "a");
}

TEST(OdsLayout, SpannedCellsInARepeatedRowMergeEachCopy)
{
    auto book
        = OpenBytes(OdsContent("<table:table-row table:number-rows-repeated=\"3\">"
                               "<table:table-cell table:number-columns-spanned=\"2\" office:value-type=\"string\">"
                               "<text:p>m</text:p></table:table-cell><table:covered-table-cell/></table:table-row>"
                               "<table:table-row><table:table-cell table:number-rows-spanned=\"99999999\" "
                               "table:number-columns-spanned=\"1\"/></table:table-row>"),
            "spans.fods");
    EXPECT_EQ(Areas(book->Worksheets().at(0)), "A1:B1 A2:B2 A3:B3 A4:A1048576");
}

TEST(OdsLayout, SpansRepeatedAMillionTimesCostWhatRepeatedCellsCost)
{
    // A million areas of 16 bytes fit the repetition budget of any workbook.
    auto book = OpenBytes(OdsContent("<table:table-row table:number-rows-repeated=\"1048576\">"
                                     "<table:table-cell table:number-columns-spanned=\"2\"/>"
                                     "<table:covered-table-cell/></table:table-row>"),
        "spans.fods");
    EXPECT_EQ(book->Worksheets().at(0).MergedAreas().size(), 1048576u);

    // Three to a row take more than a small file may repeat into.
    const std::string span = "<table:table-cell table:number-columns-spanned=\"2\"/><table:covered-table-cell/>";
    book = OpenBytes(OdsContent("<table:table-row table:number-rows-repeated=\"1048576\">" + span + span + span
                         + "</table:table-row>"),
        "spans.fods");
    try {
        book->Worksheets().at(0).MergedAreas();
        FAIL() << "no error";
    } catch (const SpreadsheetError& error) {
        EXPECT_EQ(error.code(), ErrorCode::TooLarge) << error.what();
    }
}

TEST(SpreadsheetMlLayout, HiddenSpansZeroSizesAndMerges)
{
    const std::string xml = "<?xml version=\"1.0\"?><Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\" "
                            "xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\"><Worksheet ss:Name=\"S\"><Table>"
                            "<Column ss:Hidden=\"1\" ss:Span=\"1\"/><Column ss:Width=\"20\"/>"
                            "<Column ss:Index=\"5\" ss:Width=\"0\"/>"
                            "<Row ss:Hidden=\"1\" ss:Span=\"2\"><Cell><Data ss:Type=\"String\">a</Data></Cell></Row>"
                            "<Row ss:Height=\"0\"><Cell ss:MergeAcross=\"1\" ss:MergeDown=\"1\"><Data "
                            "ss:Type=\"String\">m</Data></Cell></Row>"
                            "<Row ss:Index=\"7\"><Cell ss:Index=\"3\" ss:MergeDown=\"1048569\"/></Row>"
                            "</Table></Worksheet></Workbook>";
    auto book = OpenBytes(xml, "layout.xml");
    Worksheet& sheet = book->Worksheets().at(0);
    EXPECT_EQ(HiddenColumns(sheet, 6), "1 2 5");
    EXPECT_EQ(HiddenRows(sheet, 8), "1 2 3 4");
    EXPECT_EQ(Areas(sheet), "A4:B5 C7:C1048576");
}

} // namespace
} // namespace vellumcast::spreadsheet
