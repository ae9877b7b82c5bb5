#include "export/LineComposer.h"

#include <gtest/gtest.h>

#include <iterator>
#include <random>

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

namespace {

// The line as the composer's rules make it, put together in the plainest way.
std::string PlainLine(const ExportOptions& options, const std::vector<std::string>& cells)
{
    std::string line;
    bool any = false, added = false;
    for (const std::string& cell : cells) {
        if (cell.empty() && !options.includeBlankCells)
            continue;
        any = any || !cell.empty();
        const bool csvQuoted = options.csvQuoting
            && (cell.find_first_of("\"\r\n") != std::string::npos
                || (!options.divider.empty() && cell.find(options.divider) != std::string::npos));
        std::string field = cell;
        if (csvQuoted) {
            field.clear();
            for (const char c : cell)
                field += c == '"' ? std::string("\"\"") : std::string(1, c);
            field = "\"" + field + "\"";
        } else if (options.quoteCells && !options.csvQuoting) {
            field = "\"" + cell + "\"";
        }
        line += (added ? options.divider : "") + field;
        added = true;
    }
    // A cell added writes at least its divider, so only cells adding nothing at all leave
    // no line.
    if ((line.empty() && (!added || options.divider.empty())) || (options.skipEmptyLines && !any))
        return "<none>";
    return line + (options.lineFeedOnly ? "\n" : "\r\n");
}

} // namespace

// Lines far longer than what the composer gathers before passing it on, cells of every
// length from none to thousands of bytes, and dividers of several bytes: the bytes come
// out as if each cell were appended in turn.
TEST(LineComposition, LongLinesAndLongCellsComeOutWhole)
{
    std::mt19937 random(7);
    const std::string alphabet = "ab,\" |\t\r\nxyz";
    const auto cellOf = [&](size_t length) {
        std::string cell;
        for (size_t i = 0; i < length; ++i)
            cell += alphabet[random() % alphabet.size()];
        return cell;
    };
    const size_t lengths[] = { 0, 1, 3, 4, 7, 8, 15, 16, 17, 100, 509, 510, 511, 512, 513, 3000 };
    for (const char* divider : { "\t", " | ", "", ", " }) {
        for (int flags = 0; flags < 16; ++flags) {
            ExportOptions options;
            options.divider = divider;
            options.includeBlankCells = (flags & 1) != 0;
            options.quoteCells = (flags & 2) != 0;
            options.csvQuoting = (flags & 4) != 0;
            options.skipEmptyLines = (flags & 8) != 0;
            for (int line = 0; line < 20; ++line) {
                std::vector<std::string> cells(random() % 120);
                for (std::string& cell : cells)
                    cell = cellOf(lengths[random() % std::size(lengths)] % (line % 4 == 3 ? 1 : 4096));
                // The text already holds earlier lines, which a line must leave alone.
                LineComposer composer(options);
                std::string out = "before\n";
                composer.Begin(out);
                for (const std::string& cell : cells)
                    composer.Add(cell);
                const bool written = composer.End();
                const std::string expected = PlainLine(options, cells);
                ASSERT_EQ(written ? out.substr(7) : "<none>", expected)
                    << "divider \"" << divider << "\" flags " << flags << " line " << line;
                ASSERT_EQ(out.substr(0, 7), "before\n");
            }
        }
    }
}

// Columns are composed side by side, a cell at a time to each: what each has composed
// counts what it has yet to pass on to its text.
TEST(LineComposition, ComposersSideBySideKeepTheirOwnLines)
{
    ExportOptions options;
    options.divider = ",";
    std::vector<std::string> texts(3);
    std::vector<LineComposer> composers(3, LineComposer(options));
    for (size_t c = 0; c < 3; ++c)
        composers[c].Begin(texts[c]);
    std::vector<std::string> expected(3);
    for (int row = 0; row < 300; ++row) {
        for (size_t c = 0; c < 3; ++c) {
            const std::string cell = std::to_string(row * 3 + static_cast<int>(c));
            composers[c].Add(cell);
            expected[c] += (row ? "," : "") + ("\"" + cell + "\"");
        }
        ASSERT_EQ(composers[1].Composed(), expected[1].size() + 1) << row; // the divider after the last
    }
    for (size_t c = 0; c < 3; ++c) {
        EXPECT_TRUE(composers[c].End());
        EXPECT_EQ(texts[c], expected[c] + "\r\n");
    }
}

namespace {

using vellumcast::spreadsheet::CellKind;

// One JSON line from cells of the given kinds, with raw values (typed) or displayed ones.
std::string JsonLine(const std::vector<std::pair<std::string, CellKind>>& cells, bool typed, bool blankCells = true)
{
    ExportOptions options;
    options.lineFormat = vellumcast::options::LineFormat::JsonLines;
    options.cellValues = typed ? vellumcast::options::CellValues::Raw : vellumcast::options::CellValues::Displayed;
    options.includeBlankCells = blankCells;
    options.divider = ";"; // JSON has its own
    LineComposer composer(options);
    std::string out;
    composer.Begin(out);
    for (const auto& [text, kind] : cells)
        composer.Add(text, kind);
    return composer.End() ? out : "<none>";
}

} // namespace

TEST(LineComposition, JsonLinesEscapeEveryTextAsJsonRequires)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        { "plain", "\"plain\"" },
        { "say \"hi\"", "\"say \\\"hi\\\"\"" },
        { "back\\slash", "\"back\\\\slash\"" },
        { "two\r\nlines\ttab", "\"two\\r\\nlines\\ttab\"" },
        { std::string("nul\0bell\x07\x1f", 10), "\"nul\\u0000bell\\u0007\\u001f\"" },
        { "\x7f kept, / kept", "\"\x7f kept, / kept\"" },
        { "\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80", "\"\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80\"" }, // ü € 😀
        // Bytes that are no UTF-8 (a stray continuation, an overlong form, a surrogate, a
        // character cut short) become U+FFFD each, so the line stays Unicode text.
        { "a\x80z", "\"a\xEF\xBF\xBDz\"" },
        { "\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\"" },
        { "\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"" },
        { "\xE2\x82", "\"\xEF\xBF\xBD\xEF\xBF\xBD\"" },
    };
    for (const auto& [text, json] : cases)
        EXPECT_EQ(JsonLine({ { text, CellKind::String } }, false), "[" + json + "]\n") << text;
    // A cell longer than the composer's buffer, every byte of it escaped.
    const std::string quotes(2000, '"');
    std::string escaped;
    for (size_t i = 0; i < quotes.size(); ++i)
        escaped += "\\\"";
    EXPECT_EQ(
        JsonLine({ { "a", CellKind::String }, { quotes, CellKind::String } }, false), "[\"a\",\"" + escaped + "\"]\n");
}

TEST(LineComposition, JsonLinesTypeRawNumbersLogicalValuesAndBlanks)
{
    const struct {
        std::string text;
        CellKind kind;
        const char* typed; // with raw values
    } cases[] = {
        { "1234.5", CellKind::Number, "1234.5" },
        { "-0.001", CellKind::Number, "-0.001" },
        { "1E+21", CellKind::Number, "1E+21" },
        { "2026-12-09", CellKind::Number, "\"2026-12-09\"" }, // a date: ISO text
        { "14:05:00", CellKind::Number, "\"14:05:00\"" },
        { "TRUE", CellKind::Boolean, "true" },
        { "FALSE", CellKind::TextWithValue, "false" },
        { "12", CellKind::TextWithValue, "12" },
        { "", CellKind::Blank, "null" },
        { "123", CellKind::String, "\"123\"" }, // text that looks like a number stays text
        { "TRUE", CellKind::SharedString, "\"TRUE\"" },
        { "", CellKind::String, "\"\"" },
        { "#N/A", CellKind::Error, "\"#N/A\"" },
        // A number's text that JSON would not read as one stays a string.
        { "007", CellKind::Number, "\"007\"" },
        { "1.", CellKind::Number, "\"1.\"" },
        { ".5", CellKind::Number, "\".5\"" },
        { "1e", CellKind::Number, "\"1e\"" },
        { "NaN", CellKind::Number, "\"NaN\"" },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JsonLine({ { c.text, c.kind } }, true), std::string("[") + c.typed + "]\n") << c.text;
        // As displayed, every cell is its text.
        EXPECT_EQ(JsonLine({ { c.text, c.kind } }, false).substr(0, 2), "[\"") << c.text;
    }
    // Blank cells left out leave them out of the array; a line of none gives no line.
    EXPECT_EQ(JsonLine({ { "", CellKind::Blank }, { "1", CellKind::Number } }, true, false), "[1]\n");
    EXPECT_EQ(JsonLine({ { "", CellKind::Blank } }, true, false), "<none>");
    EXPECT_EQ(JsonLine({ { "", CellKind::Blank }, { "", CellKind::Blank } }, true), "[null,null]\n");
    // A blank's null is longer than its text: a long line of them, and one after a long
    // string, fill the composer's buffer to its end and run past it in the line.
    for (const size_t lead : { size_t(0), size_t(80), size_t(85) }) {
        std::vector<std::pair<std::string, CellKind>> cells;
        std::string expected = "[";
        if (lead) {
            cells.push_back({ std::string(lead, 'x'), CellKind::String });
            expected += "\"" + std::string(lead, 'x') + "\",";
        }
        for (int i = 0; i < 400; ++i) {
            cells.push_back({ "", CellKind::Blank });
            expected += i ? ",null" : "null";
        }
        EXPECT_EQ(JsonLine(cells, true), expected + "]\n") << lead;
    }
}

TEST(LineComposition, JsonLinesNameEachWorksheetAndEndInLineFeeds)
{
    ExportOptions options;
    options.lineFormat = vellumcast::options::LineFormat::JsonLines;
    const LineComposer json(options);
    std::string out;
    json.AddSheetLine(out, "Q1 \"draft\"");
    json.AddSheetEnd(out);
    EXPECT_EQ(out, "{\"sheet\": \"Q1 \\\"draft\\\"\"}\n");
    EXPECT_EQ(json.LineEnd(), "\n");
    // Text keeps its name line and three empty lines.
    const LineComposer text { ExportOptions() };
    out.clear();
    text.AddSheetLine(out, "Q1");
    text.AddSheetEnd(out);
    EXPECT_EQ(out, "Q1\r\n\r\n\r\n\r\n");
}

TEST(LineComposition, LineBreaksInCellsAreKeptMadeSpacesOrEscaped)
{
    using vellumcast::options::CellBreaks;
    const std::vector<std::string> cells = { "a\r\nb", "c\rd\ne", "back\\slash", "\n\n", "plain" };
    const struct {
        CellBreaks breaks;
        bool csv;
        const char* line;
    } cases[] = {
        { CellBreaks::Keep, false, "a\r\nb|c\rd\ne|back\\slash|\n\n|plain\n" },
        { CellBreaks::Space, false, "a b|c d e|back\\slash|  |plain\n" },
        { CellBreaks::Escape, false, "a\\r\\nb|c\\rd\\ne|back\\\\slash|\\n\\n|plain\n" },
        // CSV quotes a cell for its line breaks only while it has them.
        { CellBreaks::Keep, true, "\"a\r\nb\"|\"c\rd\ne\"|back\\slash|\"\n\n\"|plain\n" },
        { CellBreaks::Space, true, "a b|c d e|back\\slash|  |plain\n" },
    };
    for (const auto& c : cases) {
        ExportOptions options = c.csv ? CsvOptions("|") : ExportOptions();
        options.divider = "|";
        options.quoteCells = false;
        options.lineFeedOnly = true;
        options.cellBreaks = c.breaks;
        EXPECT_EQ(ComposeWith(options, cells), c.line) << static_cast<int>(c.breaks) << " csv " << c.csv;
    }
    // In JSON Lines line breaks are escaped anyway: escape changes nothing, space does.
    ExportOptions json;
    json.lineFormat = vellumcast::options::LineFormat::JsonLines;
    json.cellBreaks = CellBreaks::Escape;
    EXPECT_EQ(ComposeWith(json, { "a\nb\\" }), "[\"a\\nb\\\\\"]\n");
    json.cellBreaks = CellBreaks::Space;
    EXPECT_EQ(ComposeWith(json, { "a\nb\\" }), "[\"a b\\\\\"]\n");
}
