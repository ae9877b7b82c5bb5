#include "spreadsheet/SharedStrings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vellumcast::spreadsheet {
namespace {

TEST(SharedStringTable, GivesBackEachStringAsAddedWhateverItHolds)
{
    const std::vector<std::string> strings
        = { "", "a", std::string("nul \0 inside", 12), "", "caf\xC3\xA9", std::string(100000, 'x'), "last" };
    SharedStringTable table;
    EXPECT_TRUE(table.empty());
    for (const std::string& text : strings)
        table.push_back(text);
    ASSERT_EQ(table.size(), strings.size());
    for (size_t i = 0; i < strings.size(); ++i)
        EXPECT_EQ(table[i], strings[i]) << i;
    // Fetching ahead takes any index, as a cell may name a string the workbook lacks: one
    // past the bounds would be read out of them (the sanitizers' builds catch that).
    for (size_t i = 0; i < strings.size() + 3; ++i)
        table.Prefetch(i);
    table.Prefetch(SIZE_MAX);
    // Moving the strings away leaves a table that holds none rather than a broken one.
    SharedStringTable moved = std::move(table);
    EXPECT_EQ(moved.size(), strings.size());
    EXPECT_EQ(table.size(), 0u); // NOLINT(bugprone-use-after-move): what a moved-from table holds
    EXPECT_TRUE(table.empty());
    table.Prefetch(0); // NOLINT(bugprone-use-after-move): a table with no bounds at all
}

TEST(SharedStringTable, ManyStringsKeepTheirBoundsAsTheTextGrows)
{
    SharedStringTable table;
    table.reserve(10);
    std::vector<std::string> strings;
    for (int i = 0; i < 50000; ++i) {
        strings.push_back(std::string(static_cast<size_t>(i % 7), 'a' + static_cast<char>(i % 26)) + std::to_string(i));
        table.push_back(strings.back());
    }
    ASSERT_EQ(table.size(), strings.size());
    for (size_t i = 0; i < strings.size(); ++i)
        ASSERT_EQ(table[i], strings[i]) << i;
}

TEST(SharedStringTable, StringsBeforeAndAfterTheTextOutgrowsNarrowBoundsStayWhole)
{
    // Ends past the limit go to 64 bits: a string crossing it, the ones before and after
    // it, and empty ones on either side read back as added, reserve and moves included.
    SharedStringTable table(100);
    table.reserve(4);
    std::vector<std::string> strings;
    for (int i = 0; i < 40; ++i) {
        strings.push_back(i % 5 == 0 ? std::string() : std::string("s\0", 2) + std::to_string(i));
        table.push_back(strings.back());
        if (i == 20)
            table.reserve(100);
    }
    ASSERT_EQ(table.size(), strings.size());
    for (size_t i = 0; i < strings.size(); ++i)
        ASSERT_EQ(table[i], strings[i]) << i;
    EXPECT_EQ(table.back(), strings.back());
    SharedStringTable moved = std::move(table);
    EXPECT_EQ(moved[39], strings[39]);
    EXPECT_EQ(moved.size(), strings.size());
    EXPECT_TRUE(table.empty()); // NOLINT(bugprone-use-after-move): what a moved-from table holds
}

} // namespace
} // namespace vellumcast::spreadsheet
