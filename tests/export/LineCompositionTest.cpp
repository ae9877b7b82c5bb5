#include "export/LineComposer.h"

#include <gtest/gtest.h>

using vellumcast::exporting::LineComposer;

namespace {

struct LineCase {
    std::string divider;
    bool includeBlank;
    bool quote;
    std::vector<std::string> cells;
    std::string expected; // without the CR LF; "<none>" when no line is written
};

std::string Compose(const LineCase& c)
{
    LineComposer composer(c.divider, c.includeBlank, c.quote);
    composer.Begin();
    for (const auto& cell : c.cells)
        composer.Add(cell);
    std::string out;
    if (!composer.End(out))
        return "<none>";
    EXPECT_EQ(out.substr(out.size() - 2), "\r\n");
    return out.substr(0, out.size() - 2);
}

} // namespace

TEST(LineComposition, EveryBlankAndQuoteCombination)
{
    const std::vector<LineCase> cases = {
        { ",", false, false, { "a", "", "b" }, "a,b" },
        { ",", true, false, { "a", "", "b" }, "a,,b" },
        { ",", true, true, { "a", "", "b" }, "\"a\",\"\",\"b\"" },
        { ",", false, true, { "a", "", "b" }, "\"a\",\"b\"" },
        { "\t", true, false, { "", "", "" }, "\t\t" },
        { ",", true, false, { "", "", "" }, ",," },
        { ",", false, false, { "", "", "" }, "<none>" },
        { ",", false, true, { "", "" }, "<none>" },
        { ",", true, true, { "" }, "\"\"" },
        { "", true, false, { "a", "b", "c" }, "abc" },
        { "", true, false, { "", "" }, "<none>" },
        { ", ", true, false, { "a", "b" }, "a, b" },
        { " | ", false, false, { "x", "", "y" }, "x | y" },
        { " ", true, false, { "x" }, "x" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(Compose(c), c.expected)
            << "divider \"" << c.divider << "\" blank " << c.includeBlank << " quote " << c.quote;
}

TEST(LineComposition, CellsKeepTheirQuotesDividersAndLineFeeds)
{
    EXPECT_EQ(Compose({ ",", true, true, { "say \"hi\", then go", "x" }, "" }), "\"say \"hi\", then go\",\"x\"");
    EXPECT_EQ(Compose({ ",", true, false, { "two\nlines", "x" }, "" }), "two\nlines,x");
    // A cell that ends in the divider loses only the divider added after it.
    EXPECT_EQ(Compose({ ",", true, false, { "a,", "b," }, "" }), "a,,b,");
    EXPECT_EQ(Compose({ "  ", true, false, { "  ", "  " }, "" }), "      ");
}
