// A workbook saved both as xls and as xlsx exports the same texts: the two readers feed
// the same cells, styles and date system to the same renderer.

#include "spreadsheet/SpreadsheetError.h"
#include "spreadsheet/Workbook.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace vellumcast::spreadsheet {
namespace {

TEST(XlsParityTest, WorkbooksSavedInBothFormatsExportTheSameTexts)
{
    for (const char* stem :
        { "date", "date_1904", "any_sheets", "issue127", "merge_cells", "merged_range", "picture" }) {
        SCOPED_TRACE(stem);
        Application application;
        auto xls = application.Open(testing::Fixture(std::string("workbooks/") + stem + ".xls"));
        auto xlsx = application.Open(testing::Fixture(std::string("workbooks/") + stem + ".xlsx"));
        EXPECT_EQ(xls->DateSystemInUse(), xlsx->DateSystemInUse());
        ASSERT_EQ(xls->Worksheets().size(), xlsx->Worksheets().size());
        for (size_t i = 0; i < xls->Worksheets().size(); ++i) {
            Worksheet& a = xls->Worksheets()[i];
            Worksheet& b = xlsx->Worksheets()[i];
            EXPECT_EQ(a.Name(), b.Name());
            EXPECT_EQ(a.Visibility(), b.Visibility()) << a.Name();
            const CellRange ra = a.UsedRange();
            const CellRange rb = b.UsedRange();
            EXPECT_EQ(ra.firstRow, rb.firstRow) << a.Name();
            EXPECT_EQ(ra.firstColumn, rb.firstColumn) << a.Name();
            EXPECT_EQ(ra.lastRow, rb.lastRow) << a.Name();
            EXPECT_EQ(ra.lastColumn, rb.lastColumn) << a.Name();
            for (int32_t r = 1; r <= std::max(ra.lastRow, rb.lastRow); ++r) {
                for (int32_t c = 1; c <= std::max(ra.lastColumn, rb.lastColumn); ++c) {
                    const std::string textA(a.CellText(r, c));
                    const std::string textB(b.CellText(r, c));
                    EXPECT_EQ(textA, textB) << a.Name() << " row " << r << " column " << c;
                }
            }
        }
    }
}

} // namespace
} // namespace vellumcast::spreadsheet
