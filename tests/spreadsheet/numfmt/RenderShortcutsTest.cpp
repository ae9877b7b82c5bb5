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
// denied the plain fixed-point shortcut.
std::pair<std::string, std::string> BothWays(const std::string& code, double value)
{
    ParsedFormat fast;
    EXPECT_TRUE(ParseFormatCode(code, fast)) << code;
    ParsedFormat slow = fast;
    for (Section& section : slow.sections)
        section.plainFixed = false;
    std::pair<std::string, std::string> texts;
    RenderNumber(fast, value, false, texts.first);
    RenderNumber(slow, value, false, texts.second);
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

} // namespace
