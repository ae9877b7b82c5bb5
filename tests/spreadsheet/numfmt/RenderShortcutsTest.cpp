// The shortcuts the renderer takes for common formats give the text its general way does.
#include "spreadsheet/numfmt/NumberFormatParts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <tuple>
#include <vector>

using namespace vellumcast::spreadsheet::numfmt;

namespace {

// The value through the format as parsed, and through the same format with every section
// denied the shortcuts.
std::pair<std::string, std::string> BothWays(const std::string& code, double value, bool date1904 = false)
{
    ParsedFormat fast;
    EXPECT_TRUE(ParseFormatCode(code, fast)) << code;
    ParsedFormat slow = fast;
    slow.quickPath = QuickPath::None;
    for (Section& section : slow.sections) {
        section.plainFixed = false;
        section.plainDateLength = 0;
        section.datePieces.clear();
    }
    std::pair<std::string, std::string> texts;
    RenderNumber(fast, value, date1904, texts.first);
    RenderNumber(slow, value, date1904, texts.second);
    return texts;
}

// The values and the doubles either side of each.
void AddWithNeighbours(std::vector<double>& values, double value)
{
    values.push_back(value);
    values.push_back(std::nextafter(value, 0.0));
    values.push_back(std::nextafter(value, HUGE_VAL));
}

// Values that test rounding shortcuts: ties of a few decimals (x.xx5, whose doubles lie a
// hair either side of the tie the 15 digits settle on), decimals of up to 15 digits and
// random magnitudes from 10^-12 to 10^16, each with its neighbouring doubles.
std::vector<double> RoundingValues(uint64_t seed)
{
    std::vector<double> values;
    for (const double value : { 0.0, 0.5, 1.005, 0.125, 2.675, 1e-9, 4.9e-9, 0.004999, 0.005, 999.995, 999999.995,
             123456789012345.0, 999999999999999.0, 1e15, 0.1 + 0.2, 1234.5, 5e-5, 1.5e-8, 7.0 / 3.0, 1.0000000005,
             9.9999999995, 99999999.995, 9999999999999.5, 1e13, 5e-324, 1e-300, 1e300, 0.015, 1.45, 8.345, 1234.565,
             99999999999.5, 9999999999.5, 4503599627370495.5 })
        AddWithNeighbours(values, value);
    for (int k = -12; k <= 16; ++k)
        AddWithNeighbours(values, std::pow(10.0, k));
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> exponent(-12.0, 16.0);
    for (int i = 0; i < 3000; ++i)
        AddWithNeighbours(values, std::pow(10.0, exponent(random)));
    // Decimals written with d places and a 5 after them: ties of the places shown.
    std::uniform_int_distribution<int64_t> mantissa(0, 999999999);
    std::uniform_int_distribution<int> places(0, 12);
    for (int i = 0; i < 3000; ++i) {
        const int d = places(random);
        AddWithNeighbours(values, (static_cast<double>(mantissa(random)) * 10.0 + 5.0) / std::pow(10.0, d + 1));
    }
    std::uniform_int_distribution<int64_t> cents(0, 1000000000);
    for (int i = 0; i < 2000; ++i)
        values.push_back(static_cast<double>(cents(random)) / 100.0);
    return values;
}

TEST(RenderShortcuts, PlainFixedPointMatchesTheDigitByDigitWay)
{
    const std::vector<std::string> codes
        = { "0", "0.00", "#,##0", "#,##0.00", "0.00%", "0%", "#,##0.000_);(#,##0.000)", "\"$\"#,##0.00", "000.0",
              "#,##0,", "#.00", "0.", "#,##0.00 \"kg\"", "0,000.0", "0.000000000000000", "0.0,,", "#,###", "0.00%%",
              "#,##0.0000000", "\"thirty-two bytes of literal text\"0.00\" and thirty-two bytes after it..\"",
              "[$\u20ac-2] #,##0.00", "0.000%%%%%%%%%%" };
    const std::vector<double> values = RoundingValues(7);
    for (const std::string& code : codes) {
        ParsedFormat parsed;
        ASSERT_TRUE(ParseFormatCode(code, parsed));
        EXPECT_TRUE(parsed.sections[0].plainFixed) << code; // else the comparison tests nothing
        for (const double value : values) {
            for (const double signed_ : { value, -value }) {
                const auto [fast, slow] = BothWays(code, signed_);
                ASSERT_EQ(fast, slow) << code << " " << signed_;
            }
        }
    }
    EXPECT_EQ(BothWays("#,##0.00", 1234567.891).first, "1,234,567.89");
    EXPECT_EQ(BothWays("0.00%", 0.12345).first, "12.35%");
    EXPECT_EQ(BothWays("000.0", 1.25).first, "001.3");
}

TEST(RenderShortcuts, FormatsThePlainWayCannotShowAreLeftToTheGeneralWay)
{
    for (const char* code : { "0.0#", "?,??0.00", "0.00E+00", "# ?/?", "0.0\"x\"0", "General", "00-00", "@", "[h]:mm",
             "\"a literal longer than thirty-two bytes\" 0.00",
             "0.00 \"and a literal longer than thirty-two bytes\"" }) {
        ParsedFormat parsed;
        ASSERT_TRUE(ParseFormatCode(code, parsed));
        for (const Section& section : parsed.sections)
            EXPECT_FALSE(section.plainFixed) << code;
    }
}

TEST(RenderShortcuts, GeneralDecimalsMatchTheDigitByDigitWay)
{
    std::vector<double> values = RoundingValues(5);
    for (const double value : { 1.5, 1.0000000005, 1.00000000049, 9.9999999995, 99999999999.5, 99999999999.4,
             12345678901.2, 1234567890.55, 123456789.125, 0.1 + 0.2 + 1.0, 142857.142857142857, 1e11 - 0.001,
             1.0 + 1e-15, 12345.678905, 9999999999.95, 99999.999995, 1.99999999995 })
        AddWithNeighbours(values, value);
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> exponent(0.0, 11.0);
    for (int i = 0; i < 20000; ++i)
        values.push_back(std::pow(10.0, exponent(random)));
    std::uniform_int_distribution<int64_t> sevenths(-1000000, 1000000);
    for (int i = 0; i < 5000; ++i)
        values.push_back(static_cast<double>(sevenths(random)) / 7.0);
    for (const double value : values) {
        for (const double signed_ : { value, -value }) {
            std::string fast, slow;
            AppendGeneral(signed_, fast);
            AppendGeneral(signed_, slow, false);
            ASSERT_EQ(fast, slow) << signed_;
        }
    }
    std::string text;
    AppendGeneral(142857.0 / 7.0, text);
    EXPECT_EQ(text, "20408.14286");
    text.clear();
    AppendGeneral(99999999999.5, text);
    EXPECT_EQ(text, "1E+11");
}

TEST(RenderShortcuts, PlainDatesMatchTheTokenByTokenWay)
{
    const std::vector<std::string> codes = { "m/d/yyyy", "yyyy\\-mm\\-dd hh:mm", "d-mmm-yy", "mmmm d, yyyy",
        "dddd dd mmmmm", "ddd mmm", "h:mm AM/PM", "h:mm:ss a/p", "hh:mm:ss.000", "mm:ss.0", "ss.00", "yy/m/d h:m:s",
        "[$-409]mmmm;@", "\"Week of\" mmm d, yyyy \"at\" h AM/PM", "mm/dd/yy hh:mm:ss AM/PM",
        "\"Written on the\" d/m/yyyy \"in the year of the date\"", "h:mm", "yyyy" };
    // Written by pieces; the others token by token.
    for (const char* code : { "m/d/yyyy", "yyyy\\-mm\\-dd hh:mm", "h:mm AM/PM", "yy/m/d h:m:s",
             "\"Written on the\" d/m/yyyy \"in the year of the date\"" }) {
        ParsedFormat parsed;
        ASSERT_TRUE(ParseFormatCode(code, parsed));
        EXPECT_FALSE(parsed.sections[0].datePieces.empty()) << code;
    }
    std::vector<double> values = { 0.0, 1.0, 59.0, 60.0, 61.0, 0.5, 0.99999, 0.999999999, 1.0 / 86400.0 / 2.0,
        45291.999994, 2958465.0, 2958465.99999999, 36526.25 };
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> serial(0.0, 2958466.0);
    for (int i = 0; i < 3000; ++i)
        values.push_back(serial(random));
    for (const std::string& code : codes) {
        ParsedFormat parsed;
        ASSERT_TRUE(ParseFormatCode(code, parsed));
        EXPECT_NE(parsed.sections[0].plainDateLength, 0u) << code; // else the comparison tests nothing
        for (const double value : values) {
            for (const bool date1904 : { false, true }) {
                const auto [fast, slow] = BothWays(code, value, date1904);
                ASSERT_EQ(fast, slow) << code << " " << value << (date1904 ? " 1904" : "");
            }
        }
    }
    EXPECT_EQ(BothWays("yyyy\\-mm\\-dd hh:mm", 45292.75).first, "2024-01-01 18:00");
    EXPECT_EQ(BothWays("dddd, mmmm d AM/PM", 45292.75).first, "Monday, January 1 PM");
}

TEST(RenderShortcuts, DatesThePlainWayCannotShowAreLeftToTheGeneralWay)
{
    for (const char* code : { "[h]:mm:ss", "[mm]:ss", "B2yyyy-mm-dd", "bbbb-mm-dd", "e/m/d", "0.00" }) {
        ParsedFormat parsed;
        ASSERT_TRUE(ParseFormatCode(code, parsed));
        for (const Section& section : parsed.sections)
            EXPECT_EQ(section.plainDateLength, 0u) << code;
    }
}

TEST(RenderShortcuts, NearDaysGiveTheDatesOfTheGeneralCivilCalendar)
{
    // Every day of the range, which holds both date systems' years 1900 to 9999 and more.
    for (int32_t days = -1000000; days <= 4000000; ++days) {
        int year = 0, month = 0, day = 0;
        int nearYear = 0, nearMonth = 0, nearDay = 0;
        CivilFromDays(days, year, month, day);
        CivilFromNearDays(days, nearYear, nearMonth, nearDay);
        if (nearYear != year || nearMonth != month || nearDay != day)
            FAIL() << days << ": " << nearYear << "-" << nearMonth << "-" << nearDay << " rather than " << year << "-"
                   << month << "-" << day;
    }
    int year = 0, month = 0, day = 0;
    CivilFromNearDays(-25567, year, month, day);
    EXPECT_EQ(std::tie(year, month, day), std::make_tuple(1900, 1, 1));
}

} // namespace
