// A workbook saved as xls, xlsx, ods and XML spreadsheet 2003 exports the same texts from each: the readers feed
// the same cells, styles and date system to the same renderer.

#include "spreadsheet/SpreadsheetError.h"
#include "spreadsheet/Workbook.h"
#include "support/TempDir.h"
#include "support/XlsbWriter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellumcast::spreadsheet {
namespace {

// Expects b to hold the worksheets, used ranges and texts of a, in the same order. An
// OpenDocument spreadsheet has no chart sheets and no "very hidden" state: a chart sheet is
// a table there, after the worksheets, and a very hidden sheet is hidden.
void ExpectSameTexts(Workbook& a, Workbook& b, bool opendocument)
{
    EXPECT_EQ(a.DateSystemInUse(), b.DateSystemInUse());
    if (opendocument)
        ASSERT_GE(b.Worksheets().size(), a.Worksheets().size());
    else
        ASSERT_EQ(b.Worksheets().size(), a.Worksheets().size());
    for (size_t i = 0; i < a.Worksheets().size(); ++i) {
        Worksheet& sa = a.Worksheets()[i];
        Worksheet& sb = b.Worksheets()[i];
        EXPECT_EQ(sa.Name(), sb.Name());
        if (opendocument)
            EXPECT_EQ(sa.Visibility() == SheetVisibility::Visible, sb.Visibility() == SheetVisibility::Visible)
                << sa.Name();
        else
            EXPECT_EQ(sa.Visibility(), sb.Visibility()) << sa.Name();
        const CellRange ra = sa.UsedRange();
        const CellRange rb = sb.UsedRange();
        EXPECT_EQ(ra.firstRow, rb.firstRow) << sa.Name();
        EXPECT_EQ(ra.firstColumn, rb.firstColumn) << sa.Name();
        EXPECT_EQ(ra.lastRow, rb.lastRow) << sa.Name();
        EXPECT_EQ(ra.lastColumn, rb.lastColumn) << sa.Name();
        for (int32_t r = 1; r <= std::max(ra.lastRow, rb.lastRow); ++r) {
            for (int32_t c = 1; c <= std::max(ra.lastColumn, rb.lastColumn); ++c) {
                const std::string textA(sa.CellText(r, c));
                const std::string textB(sb.CellText(r, c));
                EXPECT_EQ(textA, textB) << sa.Name() << " row " << r << " column " << c;
            }
        }
    }
}

TEST(FormatParityTest, WorkbooksSavedInSeveralFormatsExportTheSameTexts)
{
    // The fixtures that are one workbook saved in each format (date.ods and picture.ods
    // hold other content than their namesakes).
    const struct {
        const char* stem;
        std::vector<const char*> others;
    } cases[] = { { "date", { ".xls", ".xml" } }, { "date_1904", { ".xls" } },
        { "any_sheets", { ".xls", ".ods", ".xml" } }, { "issue127", { ".xls", ".ods" } }, { "merge_cells", { ".xls" } },
        { "merged_range", { ".xls" } }, { "picture", { ".xls" } } };
    for (const auto& c : cases) {
        Application application;
        const std::string stem = std::string("workbooks/") + c.stem;
        auto xlsx = application.Open(testing::Fixture(stem + ".xlsx"));
        for (const std::string extension : c.others) {
            SCOPED_TRACE(c.stem + extension);
            auto other = application.Open(testing::Fixture(stem + extension));
            ExpectSameTexts(*xlsx, *other, extension == ".ods");
        }
    }
}

TEST(FormatParityTest, AWorkbookWrittenAsXlsxAndXlsbExportsTheSameTexts)
{
    const auto fill = [](auto& writer) {
        writer.Date1904();
        const uint32_t date = writer.AddBuiltInStyle(14);
        const uint32_t money = writer.AddStyle("\"$\"#,##0.00;[Red]-\"$\"#,##0.00");
        writer.AddSheet("Data")
            .SharedString(1, 1, "name")
            .InlineString(1, 2, "inline")
            .Number(2, 1, 45000.5, date)
            .Number(2, 2, -1234.567, money)
            .Number(2, 3, 1.0 / 3)
            .Boolean(3, 1, true)
            .Error(3, 2, "#DIV/0!")
            .Blank(4, 4, money);
        writer.AddSheet("Hidden", testing::XlsxVisibility::Hidden).SharedString(2, 2, "name");
        writer.AddChartSheet("Chart");
        return writer.Build();
    };
    testing::XlsxWriter xlsxWriter;
    testing::XlsbWriter xlsbWriter;
    Application application;
    auto xlsx = application.OpenBytes(fill(xlsxWriter), "same.xlsx");
    auto xlsb = application.OpenBytes(fill(xlsbWriter), "same.xlsb");
    ExpectSameTexts(*xlsx, *xlsb, false);
}

// Templates, add-ins and the flat form are their formats under other names: each opens
// through its format's reader and shows what the workbook it was made from shows.
TEST(FormatParityTest, TemplatesAndVariantsOpenAsTheirFormats)
{
    const struct {
        const char* base;
        std::vector<const char*> variants;
    } cases[] = { { "date.xlsx", { "date.xltx", "date.xltm", "date.xlam" } }, { "date.xls", { "date.xlt" } },
        { "date.ods", { "date.ots", "date.fods" } }, { "date.xml", { "date-utf16le.xml", "date-utf16be.xml" } },
        { "any_sheets.xml", { "any_sheets-utf16-nobom.xml" } } };
    for (const auto& c : cases) {
        Application application;
        auto base = application.Open(testing::Fixture(std::string("workbooks/") + c.base));
        for (const std::string variant : c.variants) {
            SCOPED_TRACE(variant);
            auto other = application.Open(testing::Fixture("workbooks/" + variant));
            ExpectSameTexts(*base, *other, false);
        }
    }
}

} // namespace
} // namespace vellumcast::spreadsheet
