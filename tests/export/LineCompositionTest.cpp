#include "export/LineComposer.h"

#include <gtest/gtest.h>

using vellumcast::exporting::LineComposer;
using vellumcast::options::ExportOptions;

namespace {

struct LineCase {
    std::string divider;
    bool includeBlank;
    bool quote;
    std::vector<std::string> cells;
    std::string expected; // without the CR LF; "<none>" when no line is written
};

// The line with its line end, or "<none>" when no line is written.
std::string ComposeWith(const ExportOptions& options, const std::vector<std::string>& cells)
{
    LineComposer composer(options);
    std::string out;
    composer.Begin(out);
    for (const auto& cell : cells)
        composer.Add(cell);
    if (!composer.End())
        return "<none>";
    return out;
}

std::string Compose(const LineCase& c)
{
    ExportOptions options;
    options.divider = c.divider;
    options.includeBlankCells = c.includeBlank;
    options.quoteCells = c.quote;
    const std::string out = ComposeWith(options, c.cells);
    if (out == "<none>")
        return out;
    EXPECT_EQ(out.substr(out.size() - 2), "\r\n");
    return out.substr(0, out.size() - 2);
}

ExportOptions CsvOptions(std::string divider)
{
    ExportOptions options;
    options.divider = std::move(divider);
    options.csvQuoting = true;
    options.lineFeedOnly = true;
    return options;
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

TEST(LineComposition, CsvQuotingWrapsOnlyCellsThatNeedItAndDoublesQuotes)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        { { "plain", "", "42" }, "plain,,42\n" },
        { { "a,b", "c" }, "\"a,b\",c\n" },
        { { "say \"hi\"" }, "\"say \"\"hi\"\"\"\n" },
        { { "\"" }, "\"\"\"\"\n" },
        { { "two\nlines", "cr\rhere", "crlf\r\nend" }, "\"two\nlines\",\"cr\rhere\",\"crlf\r\nend\"\n" },
        { { " leading space", "semi;colon" }, " leading space,semi;colon\n" },
    };
    for (const auto& [cells, expected] : cases)
        EXPECT_EQ(ComposeWith(CsvOptions(","), cells), expected) << cells.front();
    // The divider decides, whatever it is; an empty divider never forces quotes.
    EXPECT_EQ(ComposeWith(CsvOptions(" | "), { "a | b", "a|b" }), "\"a | b\" | a|b\n");
    EXPECT_EQ(ComposeWith(CsvOptions("\t"), { "a,b", "c\td" }), "a,b\t\"c\td\"\n");
    EXPECT_EQ(ComposeWith(CsvOptions(""), { "a", "b" }), "ab\n");
    // CSV quoting wins over plain quoting of every cell.
    ExportOptions both = CsvOptions(",");
    both.quoteCells = true;
    EXPECT_EQ(ComposeWith(both, { "x", "y,z" }), "x,\"y,z\"\n");
}

TEST(LineComposition, SkippedEmptyLinesAreThoseWithoutAnyText)
{
    ExportOptions options;
    options.divider = ",";
    options.skipEmptyLines = true;
    EXPECT_EQ(ComposeWith(options, { "", "", "" }), "<none>");
    EXPECT_EQ(ComposeWith(options, { "", "x", "" }), "\"\",\"x\",\"\"\r\n");
    options.quoteCells = false;
    EXPECT_EQ(ComposeWith(options, { "" }), "<none>");
    EXPECT_EQ(ComposeWith(options, { " " }), " \r\n");
    // The composer starts afresh for every line.
    LineComposer composer(options);
    std::string out;
    composer.Begin(out);
    composer.Add("x");
    EXPECT_TRUE(composer.End());
    composer.Begin(out);
    composer.Add("");
    EXPECT_FALSE(composer.End());
    EXPECT_EQ(out, "x\r\n");
    // A line is composed after what the text already holds, and one that writes nothing
    // leaves that untouched.
    composer.Begin(out);
    composer.Add("y");
    composer.Add("");
    EXPECT_TRUE(composer.End());
    EXPECT_EQ(out, "x\r\ny,\r\n");
    options.skipEmptyLines = true;
    LineComposer skipping(options);
    skipping.Begin(out);
    skipping.Add("");
    skipping.Add("");
    EXPECT_FALSE(skipping.End());
    EXPECT_EQ(out, "x\r\ny,\r\n");
}
