#include "export/ExportBudget.h"

#include <gtest/gtest.h>

using vellumcast::exporting::ExportBudget;

// The limits grow with the file: a larger workbook may cause more work and more text.
TEST(ExportBudget, LimitsGrowWithTheFileAboveAFloor)
{
    const ExportBudget empty(0);
    const ExportBudget megabyte(1 << 20);
    EXPECT_GT(empty.CellLimit(), 0u);
    EXPECT_GT(empty.TextLimit(), 0u);
    EXPECT_GT(megabyte.CellLimit(), empty.CellLimit());
    EXPECT_GT(megabyte.TextLimit(), empty.TextLimit());
    EXPECT_EQ(empty.TextRoom(), empty.TextLimit());
}

// Cells spent stay spent across worksheets; a walk that would pass the limit is refused
// before it starts, one that reaches it exactly is not.
TEST(ExportBudget, CellsSpentCountAgainstEveryLaterWalk)
{
    ExportBudget budget(0);
    const uint64_t limit = budget.CellLimit();
    EXPECT_TRUE(budget.Affords({ limit, 0 }));
    EXPECT_FALSE(budget.Affords({ limit + 1, 0 }));
    budget.SpendCells(limit - 10);
    EXPECT_TRUE(budget.Affords({ 10, 0 }));
    EXPECT_FALSE(budget.Affords({ 11, 0 }));
}

// The texts share their memory with the worksheet being walked; the room never wraps
// below zero when the worksheet alone takes more than the limit, and text given back by a
// dropped composition is room again.
TEST(ExportBudget, TextRoomCountsTheWorksheetAndWhatWasGivenBack)
{
    ExportBudget budget(0);
    const uint64_t limit = budget.TextLimit();
    budget.SetSheetBytes(limit / 2);
    budget.ChargeText(limit / 4);
    EXPECT_EQ(budget.TextRoom(), limit - limit / 2 - limit / 4);
    EXPECT_FALSE(budget.Affords({ 0, budget.TextRoom() + 1 }));
    EXPECT_TRUE(budget.TextFits(budget.TextRoom()));
    EXPECT_FALSE(budget.TextFits(budget.TextRoom() + 1));

    const uint64_t before = budget.TextUsed();
    budget.ChargeText(limit);
    EXPECT_EQ(budget.TextRoom(), 0u);
    EXPECT_FALSE(budget.TextFits(1));
    budget.GiveBackTextTo(before);
    EXPECT_EQ(budget.TextRoom(), limit - limit / 2 - limit / 4);

    budget.SetSheetBytes(limit * 2);
    EXPECT_EQ(budget.TextRoom(), 0u);
    EXPECT_TRUE(budget.TextFits(0));
}
