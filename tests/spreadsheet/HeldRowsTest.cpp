// A walk that lets events run between its cells holds the worksheet's rows: letting the
// worksheet go meanwhile frees neither the rows held nor their texts, and the worksheet
// loads anew, apart from them.

#include "spreadsheet/Workbook.h"
#include "support/MemoryWorkbook.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace vellumcast::spreadsheet {
namespace {

std::string TextsOf(Worksheet& sheet, const RowBatch& rows)
{
    std::string texts;
    for (size_t r = 0; r < rows.RowCount(); ++r) {
        for (size_t i = rows.CellsBegin(r); i < rows.CellsEnd(r); ++i)
            texts += std::string(sheet.TextOf(rows.CellAt(i), rows)) + "|";
    }
    return texts;
}

TEST(HeldRows, OutliveTheWorksheetLettingGoAndItsLoadingAnew)
{
    auto sheetData = testing::SheetFromRows("S", { { "alpha", "1" }, { std::string(300, 'x'), "beta" } });
    sheetData.loads = std::make_shared<int>(0);
    auto book = testing::MakeWorkbook("/work/held.xlsx", { sheetData, testing::SheetFromRows("T", { { "t" } }) });
    Worksheet& sheet = book->Worksheets()[0];
    const HeldRows held = sheet.HoldRows();
    const std::string before = TextsOf(sheet, held.Rows());
    ASSERT_EQ(before, "alpha|1|" + std::string(300, 'x') + "|beta|");

    sheet.Unload();
    EXPECT_FALSE(sheet.Loaded());
    EXPECT_EQ(TextsOf(sheet, held.Rows()), before);
    // Loading another worksheet lets this one go again; loading it anew fills other cells.
    EXPECT_EQ(book->Worksheets()[1].CellText(1, 1), "t");
    EXPECT_EQ(sheet.CellText(2, 2), "beta");
    EXPECT_EQ(*sheetData.loads, 2);
    EXPECT_EQ(TextsOf(sheet, held.Rows()), before);
    EXPECT_EQ(TextsOf(sheet, sheet.Rows()), before);
}

} // namespace
} // namespace vellumcast::spreadsheet
