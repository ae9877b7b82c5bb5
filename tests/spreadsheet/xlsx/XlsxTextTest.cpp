#include "spreadsheet/xlsx/XlsxText.h"

#include <gtest/gtest.h>

namespace vellumcast::spreadsheet::xlsx {
namespace {

std::string Unescaped(std::string_view text)
{
    std::string out;
    AppendUnescaped(text, out);
    return out;
}

TEST(XlsxText, DecodesEscapes)
{
    struct Case {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        { "plain", "plain" },
        { "ABC_x000D_DEF", "ABC\rDEF" },
        { "_x000D__x000A_", "\r\n" },
        { "a_x005F_x000D_b", "a_x000D_b" }, // an escaped underscore keeps the rest literal
        { "_x00e9_ _x00C9_", "\xC3\xA9 \xC3\x89" }, // either hex case
        { "_x20AC_", "\xE2\x82\xAC" },
        { "_xD83D__xDE00_", "\xF0\x9F\x98\x80" }, // a surrogate pair
        { "_xD83D_x", "\xEF\xBF\xBDx" }, // a lone surrogate
        { "_x12_ _xZZZZ_ _x0041", "_x12_ _xZZZZ_ _x0041" },
        { "trailing _x", "trailing _x" },
        { "__x0041_", "_A" },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Unescaped(c.text), c.expected) << c.text;
        if (std::string_view(c.text) != c.expected) {
            EXPECT_TRUE(HasEscapes(c.text)) << c.text;
        }
    }
}

TEST(XlsxText, ParsesCellReferences)
{
    struct Case {
        const char* text;
        bool valid;
        int32_t row;
        int32_t column;
    };
    const Case cases[] = {
        { "A1", true, 1, 1 },
        { "Z9", true, 9, 26 },
        { "AA10", true, 10, 27 },
        { "XFD1048576", true, 1048576, 16384 },
        { "XFE1", true, 1, 16385 },
        { "b2", true, 2, 2 },
        { "A0", true, 0, 1 },
        { "", false, 0, 0 },
        { "A", false, 0, 0 },
        { "12", false, 0, 0 },
        { "A1B", false, 0, 0 },
        { "$A$1", false, 0, 0 },
    };
    for (const auto& c : cases) {
        int32_t row = -1, column = -1;
        EXPECT_EQ(ParseCellReference(c.text, row, column), c.valid) << c.text;
        if (c.valid) {
            EXPECT_EQ(row, c.row) << c.text;
            EXPECT_EQ(column, c.column) << c.text;
        }
    }
    // Saturated, never wrapped into the sheet.
    int32_t row = 0, column = 0;
    ASSERT_TRUE(ParseCellReference("ZZZZZZZZZZZZ99999999999999999", row, column));
    EXPECT_GT(row, 1048576);
    EXPECT_GT(column, 16384);
}

TEST(XlsxText, IsoDatesInBothDateSystems)
{
    struct Case {
        const char* text;
        double serial1900;
        double serial1904;
    };
    // Serials by the definition of each system: 1900-01-01 is 1 with a phantom 1900-02-29
    // as 60; 1904-01-01 is 0.
    const Case cases[] = {
        { "1900-01-01", 1, -1460 },
        { "1900-02-28", 59, -1402 },
        { "1900-03-01", 61, -1401 },
        { "1904-01-01", 1462, 0 },
        { "2021-01-01", 44197, 42735 },
        { "2021-01-01T06:00:00", 44197.25, 42735.25 },
        { "2021-01-01T18:00:00.5Z", 44197.75 + 0.5 / 86400, 42735.75 + 0.5 / 86400 },
        { "2021-01-01T12:00:00+02:00", 44197.5, 42735.5 },
        { "12:00:00", 0.5, 0.5 },
    };
    for (const auto& c : cases) {
        double serial = 0;
        ASSERT_TRUE(IsoDateToSerial(c.text, numfmt::DateSystem::Date1900, serial)) << c.text;
        EXPECT_DOUBLE_EQ(serial, c.serial1900) << c.text;
        ASSERT_TRUE(IsoDateToSerial(c.text, numfmt::DateSystem::Date1904, serial)) << c.text;
        EXPECT_DOUBLE_EQ(serial, c.serial1904) << c.text;
    }
    for (const char* bad : { "", "2021", "2021-13-01", "2021-02-29", "2021-01-01X", "2021-01-01T25:00", "noon" }) {
        double serial = 0;
        EXPECT_FALSE(IsoDateToSerial(bad, numfmt::DateSystem::Date1900, serial)) << bad;
    }
}

} // namespace
} // namespace vellumcast::spreadsheet::xlsx
