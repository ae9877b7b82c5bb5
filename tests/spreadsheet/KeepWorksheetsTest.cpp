// Choosing worksheets through the workbook: only the ones kept are listed and gone
// through, in workbook order, each still reading its own cells.

#include "spreadsheet/Workbook.h"
#include "support/MemoryWorkbook.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellumcast::spreadsheet {
namespace {

std::unique_ptr<Workbook> FourSheets()
{
    std::vector<testing::MemorySheet> sheets;
    for (const std::string name : { "A", "B", "C", "D" })
        sheets.push_back(testing::SheetFromRows(name, { { name + "1", name + "2" } }));
    return testing::MakeWorkbook("/data/book.xlsx", sheets);
}

// The name and first cell of each worksheet gone through in turn.
std::string InTurn(Workbook& book)
{
    std::string seen;
    for (Worksheet& sheet : book.WorksheetsInTurn())
        seen += sheet.Name() + "=" + std::string(sheet.CellText(1, 1)) + " ";
    return seen;
}

TEST(KeepWorksheets, OnlyTheKeptAreListedAndGoneThroughEachWithItsCells)
{
    auto book = FourSheets();
    book->KeepWorksheets({ 1, 3 });
    ASSERT_EQ(book->Worksheets().size(), 2u);
    EXPECT_EQ(book->Worksheets()[0].Name(), "B");
    EXPECT_EQ(book->Worksheets()[1].CellText(1, 2), "D2");
    EXPECT_EQ(InTurn(*book), "B=B1 D=D1 ");
}

TEST(KeepWorksheets, KeepingNoneOrPastTheEndLeavesNothingToGoThrough)
{
    auto book = FourSheets();
    book->KeepWorksheets({ 7 });
    EXPECT_TRUE(book->Worksheets().empty());
    EXPECT_EQ(InTurn(*book), "");
}

TEST(KeepWorksheets, ALoadedWorksheetIsLetGoOfAndTheKeptOneReadsItsOwnCells)
{
    auto book = FourSheets();
    EXPECT_EQ(book->Worksheets()[0].CellText(1, 1), "A1");
    book->KeepWorksheets({ 2 });
    ASSERT_EQ(book->Worksheets().size(), 1u);
    EXPECT_FALSE(book->Worksheets()[0].Loaded());
    EXPECT_EQ(book->Worksheets()[0].CellText(1, 1), "C1");
    EXPECT_EQ(InTurn(*book), "C=C1 ");
}

} // namespace
} // namespace vellumcast::spreadsheet
