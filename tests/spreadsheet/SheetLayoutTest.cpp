#include "spreadsheet/SheetLayout.h"
#include "spreadsheet/SpreadsheetError.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellumcast::spreadsheet {
namespace {

// "A1:C2 D5:E6", the areas in order.
std::string Areas(const SheetLayout& layout)
{
    std::string text;
    for (const CellRange& area : layout.MergedAreas())
        text += (text.empty() ? "" : " ") + std::to_string(area.firstRow) + "," + std::to_string(area.firstColumn) + ":"
            + std::to_string(area.lastRow) + "," + std::to_string(area.lastColumn);
    return text;
}

std::string Intervals(const IntervalSet& set)
{
    std::string text;
    for (const IntervalSet::Interval& interval : set.Intervals())
        text += (text.empty() ? "" : " ") + std::to_string(interval.first) + "-" + std::to_string(interval.last);
    return text;
}

TEST(IntervalSet, JoinsNeighboursAndOverlapsInAnyOrder)
{
    IntervalSet inOrder;
    inOrder.Add(1, 1);
    inOrder.Add(2, 3); // adjacent
    inOrder.Add(3, 3); // inside
    inOrder.Add(5, 5); // a gap of one
    inOrder.Normalise();
    EXPECT_EQ(Intervals(inOrder), "1-3 5-5");

    IntervalSet shuffled;
    shuffled.Add(9, 12);
    shuffled.Add(5, 5);
    shuffled.Add(1, 2);
    shuffled.Add(3, 4); // joins 1-2 and 5 once sorted
    shuffled.Add(10, 20);
    shuffled.Normalise();
    EXPECT_EQ(Intervals(shuffled), "1-5 9-20");
}

TEST(IntervalSet, AnswersMembershipAndCountsWithinARange)
{
    IntervalSet set;
    set.Add(3, 3);
    set.Add(6, 9);
    set.Add(20, 1048576);
    set.Normalise();
    EXPECT_FALSE(set.Contains(2));
    EXPECT_TRUE(set.Contains(3));
    EXPECT_FALSE(set.Contains(4));
    EXPECT_TRUE(set.Contains(6));
    EXPECT_TRUE(set.Contains(9));
    EXPECT_FALSE(set.Contains(10));
    EXPECT_TRUE(set.Contains(1048576));
    EXPECT_EQ(set.CountWithin(1, 10), 5);
    EXPECT_EQ(set.CountWithin(7, 8), 2); // inside one interval
    EXPECT_EQ(set.CountWithin(4, 5), 0); // between two
    EXPECT_EQ(set.CountWithin(9, 25), 7); // the end of one, the start of another
    EXPECT_EQ(set.CountWithin(1, 1048576), 1 + 4 + 1048557);
    EXPECT_EQ(IntervalSet().CountWithin(1, 100), 0);
}

TEST(IntervalSet, AMillionSeparateRowsInReverseAreSortedOnce)
{
    IntervalSet set;
    for (int32_t row = 1048575; row >= 1; row -= 2)
        set.Add(row, row);
    set.Normalise();
    ASSERT_EQ(set.Intervals().size(), 524288u);
    EXPECT_TRUE(set.Contains(1));
    EXPECT_FALSE(set.Contains(2));
    EXPECT_TRUE(set.Contains(1048575));
    EXPECT_EQ(set.CountWithin(1, 1048576), 524288);
}

TEST(SheetLayoutMerges, AreNormalisedIntoTheGrid)
{
    SheetLayout layout;
    layout.AddMerge({ 4, 3, 2, 1 }); // corners swapped: A2:C4
    layout.AddMerge({ 1, 16380, 1, 20000 }); // past the last column: clipped
    layout.AddMerge({ 1048570, 1, 2000000, 1 }); // past the last row: clipped
    layout.AddMerge({ 1048577, 1, 1048580, 2 }); // wholly below the grid
    layout.AddMerge({ -5, 0, 0, 3 }); // wholly above it
    layout.AddMerge({ 7, 7, 7, 7 }); // a single cell is no merge
    layout.AddMerge({ 0, 0, 1, 1 }); // a single cell once clipped
    layout.Finish();
    EXPECT_EQ(Areas(layout), "1,16380:1,16384 2,1:4,3 1048570,1:1048576,1");
}

TEST(SheetLayoutMerges, OverlappingAreasKeepTheOneThatStartsFirst)
{
    SheetLayout layout;
    layout.AddMerge({ 2, 2, 4, 4 }); // B2:D4
    layout.AddMerge({ 3, 3, 5, 5 }); // C3:E5 overlaps it
    layout.AddMerge({ 1, 1, 2, 2 }); // A1:B2 starts first and shares B2: B2:D4 goes
    layout.AddMerge({ 3, 1, 3, 2 }); // A3:B3 touches C3:E5 at no cell
    layout.AddMerge({ 5, 1, 5, 5 }); // A5:E5 shares E5 with C3:E5
    layout.AddMerge({ 6, 1, 6, 5 }); // below everything
    layout.AddMerge({ 3, 3, 5, 5 }); // the same area again
    layout.Finish();
    EXPECT_EQ(Areas(layout), "1,1:2,2 3,1:3,2 3,3:5,5 6,1:6,5");
}

TEST(SheetLayoutMerges, AnAreaInsideAnotherOrAcrossAColumnOfThemGoes)
{
    SheetLayout layout;
    layout.AddMerge({ 1, 1, 100, 100 });
    layout.AddMerge({ 50, 50, 51, 51 }); // inside it, starting later
    for (int32_t row = 200; row < 210; ++row)
        layout.AddMerge({ row, 1, row, 2 }); // a column of areas
    layout.AddMerge({ 150, 2, 300, 2 }); // starts above them and runs through them
    layout.Finish();
    EXPECT_EQ(layout.MergedAreas().size(), 2u);
    EXPECT_EQ(Areas(layout), "1,1:100,100 150,2:300,2");
}

TEST(SheetLayoutHidden, RowsAndColumnsAreClippedToTheGrid)
{
    SheetLayout layout;
    layout.HideRows(0, 2);
    layout.HideRows(1048570, int64_t { 1 } << 40);
    layout.HideRows(5, 4); // nothing
    layout.HideColumns(16384, 16390);
    layout.HideColumns(20000, 30000); // wholly past the grid
    layout.Finish();
    EXPECT_EQ(Intervals(layout.HiddenRows()), "1-2 1048570-1048576");
    EXPECT_EQ(Intervals(layout.HiddenColumns()), "16384-16384");
}

TEST(SheetLayoutHidden, AWholeGridOfHiddenRowsTakesOneInterval)
{
    SheetLayout layout;
    layout.LimitMemory(64);
    for (int32_t row = 1; row <= kMaxRows; ++row)
        layout.HideRows(row, row);
    layout.Finish();
    EXPECT_EQ(Intervals(layout.HiddenRows()), "1-1048576");
}

TEST(SheetLayoutMemory, EntriesPastTheLimitAreRefused)
{
    SheetLayout layout;
    layout.LimitMemory(10 * sizeof(CellRange));
    for (int32_t row = 1; row <= 10; ++row)
        layout.AddMerge({ row, 1, row, 2 });
    try {
        layout.HideRows(1, 1);
        FAIL() << "no error";
    } catch (const SpreadsheetError& error) {
        EXPECT_EQ(error.code(), ErrorCode::TooLarge);
    }
    layout.Clear();
    layout.AddMerge({ 1, 1, 2, 2 }); // cleared, the room is there again
    layout.Finish();
    EXPECT_EQ(layout.MergedAreas().size(), 1u);
}

} // namespace
} // namespace vellumcast::spreadsheet
