// The shortcuts the renderer takes for common formats give the text its general way does.
#include "spreadsheet/numfmt/NumberFormatParts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
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
    for (Section& section : slow.sections) {
        section.plainFixed = false;
        section.plainDateLength = 0;
    }
    std::pair<std::string, std::string> texts;
    RenderNumber(fast, value, date1904, texts.first);
    RenderNumber(slow, value, date1904, texts.second);
    return texts;
}

TEST(RenderShortcuts, PlainFixedPointMatchesTheDigitByDigitWay)
{
    const std::vector<std::string> codes = { "0", "0.00", "#,##0", "#,##0.00", "0.00%", "0%", "#,##0.000_);(#,##0.000)",
        "\"$\"#,##0.00", "000.0", "#,##0,", "#.00", "0.", "#,##0.00 \"kg\"", "0,000.0", "0.000000000000000" };
    std::vector<double> values = { 0.0, 0.5, 1.005, 0.125, 2.675, 1e-9, 4.9e-9, 0.004999, 0.005, 999.995, 999999.995,
        123456789012345.0, 999999999999999.0, 1e15, 0.1 + 0.2, 1234.5, 5e-5, 1.5e-8, 7.0 / 3.0 };
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> exponent(-9.0, 15.0);
    for (int i = 0; i < 4000; ++i)
        values.push_back(std::pow(10.0, exponent(random)));
    std::uniform_int_distribution<int64_t> cents(0, 1000000000);
    for (int i = 0; i < 2000; ++i)
        values.push_back(static_cast<double>(cents(random)) / 100.0);
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
    for (const char* code :
        { "0.0#", "?,??0.00", "0.00E+00", "# ?/?", "0.0\"x\"0", "General", "00-00", "@", "[h]:mm" }) {
        ParsedFormat parsed;
        ASSERT_TRUE(ParseFormatCode(code, parsed));
        for (const Section& section : parsed.sections)
            EXPECT_FALSE(section.plainFixed) << code;
    }
}

TEST(RenderShortcuts, GeneralDecimalsMatchTheDigitByDigitWay)
{
    std::vector<double> values
        = { 1.5, 1.0000000005, 1.00000000049, 9.9999999995, 99999999999.5, 99999999999.4, 12345678901.2, 1234567890.55,
              123456789.125, 0.1 + 0.2 + 1.0, 142857.142857142857, 1e11 - 0.001, 2.675, 1.0 + 1e-15, 7.0 / 3.0 };
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> exponent(0.0, 11.0);
    for (int i = 0; i < 20000; ++i)
        values.push_back(std::pow(10.0, exponent(random)));
    std::uniform_int_distribution<int64_t> sevenths(-1000000, 1000000);
    for (int i = 0; i < 5000; ++i)
        values.push_back(static_cast<double>(sevenths(random)) / 7.0);
    for (const double value : values) {
        std::string fast, slow;
        AppendGeneral(value, fast);
        AppendGeneral(value, slow, false);
        ASSERT_EQ(fast, slow) << value;
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
        "[$-409]mmmm;@", "\"Week of\" mmm d, yyyy \"at\" h AM/PM" };
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

} // namespace
