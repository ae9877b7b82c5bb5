#include "worklist/WorkbookList.h"
#include "worklist/ReorderDrag.h"

#include <gtest/gtest.h>

using namespace vellumcast::worklist;

namespace {

WorkbookList ListOf(std::initializer_list<const char*> paths)
{
    WorkbookList list;
    for (const char* path : paths)
        list.Append(path);
    return list;
}

std::vector<std::string> Texts(const WorkbookList& list)
{
    return list.Paths();
}

TEST(WorkbookListTest, EntriesAreNeitherUniqueNorSorted)
{
    WorkbookList list = ListOf({ "/b.xls", "/a.xls", "/b.xls" });
    EXPECT_EQ(Texts(list), (std::vector<std::string> { "/b.xls", "/a.xls", "/b.xls" }));
    list.Insert(1, "/c.xls");
    EXPECT_EQ(Texts(list), (std::vector<std::string> { "/b.xls", "/c.xls", "/a.xls", "/b.xls" }));
    EXPECT_THROW(list.Insert(9, "/x"), std::out_of_range);
    EXPECT_THROW(list.Remove(4), std::out_of_range);
}

TEST(WorkbookListTest, MoveUpTradesPlacesWithTheEntryAbove)
{
    WorkbookList list = ListOf({ "/1", "/2", "/3" });
    auto select = MoveUp(list, 2);
    ASSERT_EQ(select, 1u);
    EXPECT_EQ(Texts(list), (std::vector<std::string> { "/1", "/3", "/2" }));
    select = MoveUp(list, *select); // repeated clicks keep moving the same entry
    ASSERT_EQ(select, 0u);
    EXPECT_EQ(Texts(list), (std::vector<std::string> { "/3", "/1", "/2" }));
    EXPECT_FALSE(MoveUp(list, 0)); // the first entry stays
    EXPECT_FALSE(MoveUp(list, std::nullopt));
    EXPECT_EQ(Texts(list), (std::vector<std::string> { "/3", "/1", "/2" }));
}

TEST(WorkbookListTest, MoveDownTradesPlacesWithTheEntryBelow)
{
    WorkbookList list = ListOf({ "/1", "/2", "/3" });
    auto select = MoveDown(list, 0);
    ASSERT_EQ(select, 1u);
    EXPECT_EQ(Texts(list), (std::vector<std::string> { "/2", "/1", "/3" }));
    select = MoveDown(list, *select);
    ASSERT_EQ(select, 2u);
    EXPECT_EQ(Texts(list), (std::vector<std::string> { "/2", "/3", "/1" }));
    EXPECT_FALSE(MoveDown(list, 2)); // the last entry stays
    // Nothing selected: nothing moves, the first entry is to be selected.
    EXPECT_EQ(MoveDown(list, std::nullopt), 0u);
    EXPECT_EQ(Texts(list), (std::vector<std::string> { "/2", "/3", "/1" }));
    WorkbookList empty;
    EXPECT_FALSE(MoveDown(empty, std::nullopt));
}

TEST(WorkbookListTest, RemoveSelectedNeedsASelection)
{
    WorkbookList list = ListOf({ "/1", "/2" });
    RemoveSelected(list, std::nullopt);
    EXPECT_EQ(list.Count(), 2u);
    RemoveSelected(list, 1);
    EXPECT_EQ(Texts(list), (std::vector<std::string> { "/1" }));
}

// A screen row between the two scroll thresholds: no scrolling.
constexpr int kMiddle = 330;

TEST(ReorderDragTest, SlowWalkMovesTheDraggedPathDown)
{
    WorkbookList list = ListOf({ "/1", "/2", "/3", "/4", "/5" });
    ReorderDrag drag;
    drag.ItemClicked(list, 1);
    drag.ButtonPressed();
    std::optional<ReorderDrag::Swap> swap;
    EXPECT_FALSE(drag.PointerMoved(list, 1, kMiddle)); // still over its own entry
    for (size_t over : { 2u, 2u, 3u, 4u }) {
        swap = drag.PointerMoved(list, over, kMiddle);
        if (swap) {
            EXPECT_EQ(swap->select, over);
        }
    }
    EXPECT_EQ(Texts(list), (std::vector<std::string> { "/1", "/3", "/4", "/5", "/2" }));
    ASSERT_TRUE(swap);
    EXPECT_EQ(swap->select, 4u); // the selection follows the dragged path
}

TEST(ReorderDragTest, AJumpSwapsOnlyTheTwoEnds)
{
    WorkbookList list = ListOf({ "/1", "/2", "/3", "/4", "/5" });
    ReorderDrag drag;
    drag.ItemClicked(list, 0);
    drag.ButtonPressed();
    ASSERT_TRUE(drag.PointerMoved(list, 3, kMiddle));
    EXPECT_EQ(Texts(list), (std::vector<std::string> { "/4", "/2", "/3", "/1", "/5" }));
}

TEST(ReorderDragTest, EqualTextsNeverTradePlaces)
{
    WorkbookList list = ListOf({ "/same", "/same", "/other" });
    ReorderDrag drag;
    drag.ItemClicked(list, 0);
    drag.ButtonPressed();
    EXPECT_FALSE(drag.PointerMoved(list, 1, kMiddle));
    EXPECT_EQ(Texts(list), (std::vector<std::string> { "/same", "/same", "/other" }));
}

TEST(ReorderDragTest, NothingMovesWithoutAPressedButton)
{
    WorkbookList list = ListOf({ "/1", "/2", "/3" });
    ReorderDrag drag;
    drag.ItemClicked(list, 0);
    EXPECT_FALSE(drag.PointerMoved(list, 2, kMiddle));
    drag.ButtonPressed();
    drag.ButtonReleased();
    EXPECT_FALSE(drag.PointerMoved(list, 2, kMiddle));
    EXPECT_EQ(Texts(list), (std::vector<std::string> { "/1", "/2", "/3" }));
    // Over empty space nothing happens either.
    drag.ButtonPressed();
    EXPECT_FALSE(drag.PointerMoved(list, std::nullopt, kMiddle));
}

TEST(ReorderDragTest, PressOnEmptySpaceDragsTheLastDraggedEntryAgain)
{
    WorkbookList list = ListOf({ "/1", "/2", "/3" });
    ReorderDrag drag;
    drag.ItemClicked(list, 0);
    drag.ButtonPressed();
    ASSERT_TRUE(drag.PointerMoved(list, 1, kMiddle));
    drag.ButtonReleased();
    drag.ButtonPressed(); // no item click this time
    ASSERT_TRUE(drag.PointerMoved(list, 2, kMiddle));
    EXPECT_EQ(Texts(list), (std::vector<std::string> { "/2", "/3", "/1" }));
}

TEST(ReorderDragTest, ARemovedDraggedEntrySwapsNothing)
{
    for (int removal = 0; removal < 3; ++removal) {
        WorkbookList list = ListOf({ "/1", "/2", "/3" });
        ReorderDrag drag;
        drag.ItemClicked(list, 1);
        if (removal == 0)
            list.Remove(1);
        else if (removal == 1)
            list.Clear();
        else
            MoveUp(list, 1); // moving re-creates the entry
        drag.ButtonPressed();
        const auto before = Texts(list);
        EXPECT_FALSE(drag.PointerMoved(list, 0, kMiddle)) << removal;
        EXPECT_EQ(Texts(list), before) << removal;
    }
}

TEST(ReorderDragTest, ScrollsByScreenRowAfterASwap)
{
    struct Case {
        size_t from, over;
        int screenY;
        std::optional<size_t> scroll;
    };
    const Case cases[] = {
        { 2, 1, 304, 0u }, // high on the screen: the entry above
        { 1, 0, 100, std::nullopt }, // the first entry has none above
        { 0, 1, 365, 2u }, // low on the screen: the entry below
        { 1, 2, 900, std::nullopt }, // the last entry has none below
        { 0, 1, 305, std::nullopt }, // between the thresholds nothing scrolls
        { 0, 1, 364, std::nullopt },
    };
    for (const auto& c : cases) {
        WorkbookList list = ListOf({ "/1", "/2", "/3" });
        ReorderDrag drag;
        drag.ItemClicked(list, c.from);
        drag.ButtonPressed();
        const auto swap = drag.PointerMoved(list, c.over, c.screenY);
        ASSERT_TRUE(swap);
        EXPECT_EQ(swap->scrollTo, c.scroll) << c.from << "->" << c.over << " at " << c.screenY;
    }
}

} // namespace
