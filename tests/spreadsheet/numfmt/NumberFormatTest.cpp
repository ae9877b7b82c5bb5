// Number format behaviour by feature, each table written from the application's documented
// display (Excel, US English, a column wide enough for the text).
#include "spreadsheet/numfmt/NumberFormat.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

using vellumcast::spreadsheet::numfmt::BuiltInFormat;
using vellumcast::spreadsheet::numfmt::BuiltInFormatCode;
using vellumcast::spreadsheet::numfmt::BuiltInFormats;
using vellumcast::spreadsheet::numfmt::DateSystem;
using vellumcast::spreadsheet::numfmt::NumberFormat;

namespace {

struct Case {
    const char* code;
    double value;
    const char* expected;
};

std::string Show(std::string_view code, double value, DateSystem system = DateSystem::Date1900)
{
    std::string out;
    NumberFormat::Parse(code).Format(value, system, out);
    return out;
}

std::string ShowText(std::string_view code, std::string_view text)
{
    std::string out;
    NumberFormat::Parse(code).FormatText(text, out);
    return out;
}

void CheckCases(std::initializer_list<Case> cases)
{
    for (const Case& c : cases) {
        EXPECT_TRUE(NumberFormat::IsValidCode(c.code)) << c.code;
        EXPECT_EQ(Show(c.code, c.value), c.expected) << "format " << c.code << " value " << c.value;
    }
}

TEST(NumberFormat, DigitPlaceholdersAndRounding)
{
    CheckCases({
        { "0", 0.5, "1" },
        { "0", 2.5, "3" },
        { "0", -2.5, "-3" },
        { "0.00", 1.005, "1.01" }, // rounded on the 15 significant digits, not the binary value
        { "0.00", 2.675, "2.68" },
        { "0.00", -1.005, "-1.01" },
        { "0.00", 0.0, "0.00" },
        { "00000", 123, "00123" },
        { "#", 0, "" },
        { "#.##", 1, "1." },
        { "0.##", 1.5, "1.5" },
        { "0.0?", 1.5, "1.5 " },
        { "???0", 12, "  12" },
        { ".00", 1.5, "1.50" },
        { "#,##0", 1234567, "1,234,567" },
        { "#,##0.00", -1234.567, "-1,234.57" },
        { "0,000", 5, "0,005" },
        { "#,##0,", 1234567, "1,235" },
        { "0.0,,", 1234567, "1.2" },
        { "0%", 0.125, "13%" },
        { "0.0%", 0.1234, "12.3%" },
        { "000-00-0000", 123456789, "123-45-6789" },
        { "0.00", 1e20, "100000000000000000000.00" },
        { "0", 123456789012345678.0, "123456789012346000" }, // 15 significant digits are kept
        { "0", -0.4, "-0" },
    });
}

TEST(NumberFormat, Scientific)
{
    CheckCases({
        { "0.00E+00", 12345, "1.23E+04" },
        { "0.00E+00", 0.00012345, "1.23E-04" },
        { "0.00E-00", 12345, "1.23E04" },
        { "0.00E-00", 0.00012345, "1.23E-04" },
        { "0.00e+00", 12345, "1.23e+04" },
        { "0.00E+00", 0, "0.00E+00" },
        { "0.00E+00", 9.999, "1.00E+01" }, // rounding moves the exponent
        { "0.00E+00", 1e300, "1.00E+300" },
        { "0.00E+00", -5e-324, "-4.94E-324" },
        { "##0.0E+0", 12345, "12.3E+3" },
        { "##0.0E+0", 999999, "1.0E+6" },
        { "00.00E+00", 12345, "12.35E+03" },
    });
}

TEST(NumberFormat, Fractions)
{
    CheckCases({
        { "# ?/?", 0.5, " 1/2" },
        { "# ?/?", 0, "0    " },
        { "# ?/?", 2.999, "3    " },
        { "0 ?/?", 0.25, "0 1/4" },
        { "?/?", 0.75, "3/4" },
        { "# ?/4", 1.125, "1 1/4" }, // half away from zero on the fixed denominator
        { "# ?/4", 1.9, "2    " },
        { "?/8", 1.5, "12/8" },
        { "# ?\?/?\?", -0.5, "-  1/2 " },
        // '0' in the denominator pads with a space: a zero after it would show another number.
        { "#\\ ?0/??0", 0.5, "   1/2  " },
        { "#\\ ?0/??0", 2.25, "2   1/4  " },
        { "#\\ ?0/??0", 2, "2        " },
        { "00/00", 0.625, "05/8 " },
    });
    EXPECT_EQ(Show("# ?/?", 1e300), "1" + std::string(300, '0') + "    ");
}

TEST(NumberFormat, SectionsChooseBySign)
{
    CheckCases({
        { "0;(0)", -5, "(5)" }, // the second section shows no minus of its own
        { "0;(0)", 5, "5" },
        { "0;(0)", 0, "0" },
        { "0;-0;\"zero\"", 0, "zero" },
        { "0;-0;\"zero\"", -2, "-2" },
        { "0", -5, "-5" },
        { "\"Value \"0", -5, "-Value 5" }, // one section: the minus comes first
        { "0.00;;", -1, "" },
        { "0.00;;", 0, "" },
        { ";;;", 3, "" },
        { "0;-0;0;@", -7, "-7" },
        { "0;@", -7, "-7" }, // a text section in second place leaves the first for all numbers
        { "0;0;@", 0, "0" },
    });
}

TEST(NumberFormat, Conditions)
{
    CheckCases({
        { "[>999999]#,,\"M\";[>999]#,\"K\";#", 1234567, "1M" },
        { "[>999999]#,,\"M\";[>999]#,\"K\";#", 12345, "12K" },
        { "[>999999]#,,\"M\";[>999]#,\"K\";#", 5, "5" },
        { "[>999999]#,,\"M\";[>999]#,\"K\";#", -5, "-5" },
        { "[<=-25]0;[>=25]0;0", -30, "-30" }, // a condition other than "< 0" keeps the sign
        { "[<=-25]0;[>=25]0;0", 30, "30" },
        { "[<=-25]0;[>=25]0;0", -5, "-5" },
        // A second section taken by its own condition shows no minus: its literals say it.
        { "[Blue][>100]0;[Red][<-100]-0;0.00", -150, "-150" },
        { "[Blue][>100]0;[Red][<-100]-0;0.00", -50, "-50.00" },
        { "[>=25]0;[<-25]0;0", -30, "30" },
        { "[>=25]0;[<-25]0;0", -5, "-5" },
        { "[=0]\"none\";0.00", -2, "-2.00" }, // a second section without one keeps it
        { "[<0]\"neg \"0;0", -5, "neg 5" },
        { "[<0]\"neg \"0;0", 5, "5" },
        { "[=0]\"none\";0.00", 0, "none" },
        { "[=0]\"none\";0.00", -5, "-5.00" },
        { "[Red][<>50]General;[Blue]000", 50, "050" },
        { "[Red][<>50]General;[Blue]000", 7.5, "7.5" },
        { "[<=9999999]###-####;(###) ###-####", 5551234, "555-1234" },
        { "[<=9999999]###-####;(###) ###-####", 2125551234, "(212) 555-1234" },
        { "[=0]?;[<4.16666666666667][hh]:mm:ss;[hh]:mm", 0.5, "12:00:00" },
        { "[=0]?;[<4.16666666666667][hh]:mm:ss;[hh]:mm", 5, "120:00" },
    });
}

TEST(NumberFormat, LiteralsEscapesSpacingAndFill)
{
    CheckCases({
        { "\\$0.00", 5, "$5.00" },
        { "\"$\"#,##0.00", 1234.5, "$1,234.50" },
        { "0\" units\"", 5, "5 units" },
        { "$-+/():!^&'~{}<>= 0", 5, "$-+/():!^&'~{}<>= 5" },
        { "_(0_)", 5, " 5 " },
        { "*-0", 5, "5" },
        { "**0", 5, "5" },
        { "0\\%", 5, "5%" },
        { "\\#\\r\\e\\c", 1, "#rec" },
        { "0.00\"°\"", 21.5, "21.50°" },
        { "#,##0.00 €", 1234.5, "1,234.50 €" },
        { "[Red]0.00", 5, "5.00" },
        { "[Color 10]0", 5, "5" },
        { "[COLOR10]0", 5, "5" },
        { "[Blue]General", 0.5, "0.5" },
        { "General\" pcs\"", 3, "3 pcs" },
    });
}

TEST(NumberFormat, CurrencyAndLocaleTags)
{
    CheckCases({
        { "[$€-407]#,##0.00", 1234.5, "€1,234.50" },
        { "#,##0.00\\ [$€-40C]", 1234.5, "1,234.50 €" },
        { "[$USD]\\ 0", 5, "USD 5" },
        { "[$-409]0.00", 5, "5.00" },
        { "[$$-409]#,##0", 1234.5, "$1,235" },
        { "[$RD$-1C0A]#,##0.00", 2, "RD$2.00" },
        { "[$-F800]dddd\\,\\ mmmm\\ dd\\,\\ yyyy", 45000, "Wednesday, March 15, 2023" },
        // The system's long date and time show the US English forms, whatever follows them.
        { "[$-F800]dddd\\,\\ mmmm\\ dd\\,\\ yyyy", 44995, "Friday, March 10, 2023" },
        { "[$-F800]dddd\\,\\ d\\.\\ mmmm\\ yyyy", 45000.5, "Wednesday, March 15, 2023" },
        { "[$-x-sysdate]dddd\\,\\ mmmm\\ dd\\,\\ yyyy", 44995, "Friday, March 10, 2023" },
        { "[$-F400]h:mm:ss\\ AM/PM", 45000.75, "6:00:00 PM" },
        { "[$-F400]HH:mm:ss", 0.25, "6:00:00 AM" },
        { "[$-x-systime]h:mm:ss\\ AM/PM", 0.5, "12:00:00 PM" },
        { "[$-409]h:mm\\ AM/PM;@", 0.75, "6:00 PM" },
    });
}

TEST(NumberFormat, TextSections)
{
    EXPECT_EQ(ShowText("\"Haha!\"\\ @\\ \"Yeah!\"", "x"), "Haha! x Yeah!");
    EXPECT_TRUE(NumberFormat::Parse("\"Haha!\"\\ @\\ \"Yeah!\"").TransformsText());
    EXPECT_EQ(ShowText("0;-0;0;\"text: \"@", "x"), "text: x");
    EXPECT_EQ(ShowText("0;-0;0;\"fixed\"", "x"), "fixed");
    EXPECT_EQ(ShowText("_(@_)", "x"), " x ");
    EXPECT_EQ(ShowText("@@", "ab"), "abab");

    // Formats without a text section, and a lone @, leave strings as they are.
    for (const char* code : { "0.00", "General", "@", "m/d/yyyy", "0;-0;0" }) {
        EXPECT_EQ(ShowText(code, "as stored"), "as stored") << code;
        EXPECT_FALSE(NumberFormat::Parse(code).TransformsText()) << code;
    }

    // Numbers in a format that has only a text section show as General.
    EXPECT_EQ(Show("@", 1234.5), "1234.5");
    EXPECT_EQ(Show("\"Haha!\"\\ @", 1e12), "1E+12");
    EXPECT_EQ(Show("[Blue]@", -3), "-3");
}

TEST(NumberFormat, Dates1900)
{
    CheckCases({
        { "m/d/yyyy", 0, "1/0/1900" },
        { "m/d/yyyy", 1, "1/1/1900" },
        { "m/d/yyyy", 59, "2/28/1900" },
        { "m/d/yyyy", 60, "2/29/1900" }, // the day that never was
        { "m/d/yyyy", 61, "3/1/1900" },
        { "m/d/yyyy", 45000, "3/15/2023" },
        { "dddd", 1, "Sunday" },
        { "dddd", 60, "Wednesday" },
        { "dddd", 61, "Thursday" },
        { "ddd dd", 45000, "Wed 15" },
        { "mmm mmmm mmmmm", 45000, "Mar March M" },
        { "yy", 45000, "23" },
        { "yyyy-mm-dd", 2958465, "9999-12-31" },
        { "yyyy-mm-dd", 2958466, "########" },
        { "yyyy-mm-dd", -1, "########" },
        { "[h]:mm", -0.5, "########" },
        { "d-mmm-yy", 36526, "1-Jan-00" },
        { "yyyy/m/d", 73051, "2100/1/1" },
    });
}

TEST(NumberFormat, Dates1904)
{
    const struct {
        const char* code;
        double value;
        const char* expected;
    } cases[] = {
        { "m/d/yyyy", 0, "1/1/1904" },
        { "m/d/yyyy", 43538, "3/15/2023" },
        { "dddd", 0, "Friday" },
        { "yyyy-mm-dd", 2957003, "9999-12-31" },
        { "yyyy-mm-dd", 2957004, "########" },
        { "h:mm", 0.25, "6:00" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(Show(c.code, c.value, DateSystem::Date1904), c.expected) << c.code << " " << c.value;
}

TEST(NumberFormat, TimesAndRounding)
{
    auto at = [](int h, int m, double s) { return (h * 3600 + m * 60 + s) / 86400.0; };
    CheckCases({
        { "yyyy-mm-dd hh:mm:ss", 45000.5, "2023-03-15 12:00:00" },
        { "h:mm:ss", at(23, 59, 59.6), "0:00:00" }, // rounds into the next day
        { "yyyy-mm-dd hh:mm", 45000 + at(23, 59, 59.7), "2023-03-16 00:00" }, // and the date follows
        { "h:mm", at(10, 30, 59.6), "10:31" }, // rounded to the second first
        { "h:mm", at(10, 30, 40), "10:30" }, // minutes are not rounded
        { "mm:ss.0", at(0, 1, 1.26), "01:01.3" },
        { "mm:ss.00", at(0, 0, 59.996), "01:00.00" },
        { "hh:mm:ss.000", at(1, 2, 3.4567), "01:02:03.457" },
        { "h:mm AM/PM", 0, "12:00 AM" },
        { "h:mm AM/PM", 0.5, "12:00 PM" },
        { "h:mm AM/PM", 0.75, "6:00 PM" },
        { "h:mm am/pm", 0.75, "6:00 PM" },
        { "h A/P", 0.75, "6 P" },
        { "h a/p", 0.25, "6 a" },
        { "hh:mm", 0.75, "18:00" },
        { "m:ss", at(0, 5, 7), "5:07" }, // m before seconds is minutes
        { "h:m", at(9, 5, 0), "9:5" }, // m after an hour is minutes
        { "yyyy m d", 45000, "2023 3 15" }, // otherwise the month
        { "[h]:mm:ss", 1.5, "36:00:00" }, // elapsed time beyond a day
        { "[h]:mm:ss", 100.25, "2406:00:00" },
        // Minimum digits past the twenty of the largest integer: exactly that many.
        { "[hhhhhhhhhhhhhhhhhhhhhhhhh]", 1.5, "0000000000000000000000036" },
        { "[ssssssssssssssssssss]", 1.0, "00000000000000086400" },
        { "[sssssssssssssssssssss]", 1.0, "000000000000000086400" },
        { "[mm]:ss", 0.1, "144:00" },
        { "[s]", 1, "86400" },
        { "[hh]", 0.01, "00" },
        { "mmss.0", at(0, 2, 3.46), "0203.5" },
    });
}

TEST(NumberFormat, General)
{
    CheckCases({
        { "General", 0, "0" },
        { "General", -0.0, "0" },
        { "General", 0.1 + 0.2, "0.3" },
        { "General", 99999999999.5, "1E+11" },
        { "General", 12345678901.4, "12345678901" },
        { "General", -1234.5, "-1234.5" },
        { "General", 1e308, "1E+308" },
        { "General", 1.23456789e-100, "1.2346E-100" },
        { "GENERAL", 2.5, "2.5" },
    });
    EXPECT_TRUE(NumberFormat().IsGeneral());
    EXPECT_TRUE(NumberFormat::Parse("General").IsGeneral());
    EXPECT_TRUE(NumberFormat::Parse("general").IsGeneral());
    EXPECT_FALSE(NumberFormat::Parse("0.00").IsGeneral());
}

TEST(NumberFormat, InvalidCodesFallBackToGeneral)
{
    const char* bad[] = {
        "\"abc", // unterminated quote
        "[Red", // unterminated bracket
        "0]", // stray bracket
        "0;0;0;0;0", // five sections
        "[Purple]0", // no such colour
        "[<abc]0", // a condition without a number
        "0\\", // an escape with nothing to escape
        "0_", // spacing with no character
        "0*", // a fill with no character
        "[$-409", // unterminated locale
    };
    for (const char* code : bad) {
        EXPECT_FALSE(NumberFormat::IsValidCode(code)) << code;
        EXPECT_FALSE(NumberFormat::TryParse(code).has_value()) << code;
        const NumberFormat format = NumberFormat::Parse(code);
        EXPECT_TRUE(format.IsGeneral()) << code;
        std::string out;
        format.Format(1234.5, DateSystem::Date1900, out);
        EXPECT_EQ(out, "1234.5") << code;
    }
    EXPECT_TRUE(NumberFormat::IsValidCode(""));
    EXPECT_TRUE(NumberFormat::Parse("").IsGeneral());
}

TEST(NumberFormat, HostileValuesAndCodes)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const char* code : { "General", "0.00", "# ?/?", "0.00E+00", "yyyy-mm-dd", "[h]:mm", "0%", "@" }) {
        EXPECT_EQ(Show(code, nan), "#NUM!") << code;
        EXPECT_EQ(Show(code, inf), "#NUM!") << code;
        EXPECT_EQ(Show(code, -inf), "#NUM!") << code;
    }
    EXPECT_EQ(Show("[h]:mm", 1e9), "########");
    EXPECT_EQ(Show("0", 1e308).size(), 309u);
    EXPECT_EQ(Show("#,##0", -1e308).size(), 1u + 309u + 102u);
    EXPECT_EQ(Show("0.00E+00", std::numeric_limits<double>::denorm_min()), "4.94E-324");

    // Long codes are accepted up to a bound, refused beyond it; neither crashes.
    const std::string zeros(4000, '0');
    EXPECT_TRUE(NumberFormat::IsValidCode(zeros));
    EXPECT_EQ(Show(zeros, 7).size(), 4000u);
    EXPECT_FALSE(NumberFormat::IsValidCode(std::string(5000, '0')));
    EXPECT_EQ(Show(std::string(2000, '%') + "0", 1).size() > 0, true);
    EXPECT_EQ(Show("0" + std::string(2000, ','), 1e300), "0");
    EXPECT_TRUE(NumberFormat::IsValidCode("[" + std::string(3000, 'h') + "]"));
    for (const char* code : { "\"", "[", "]", ";", "\\", "_", "*", "E+", "0E+", "/", "?/", "/?", "0/0", "[>]", "[$]",
             "[=1e999]0", "0.0.0.0", "#,#,#,", "AM/PM", "A/P;a/p", "ss.000000000" }) {
        std::string out;
        const NumberFormat format = NumberFormat::Parse(code);
        format.Format(-12.5, DateSystem::Date1900, out);
        format.Format(0.3, DateSystem::Date1904, out);
        format.FormatText("t", out);
    }
}

TEST(NumberFormat, EveryBuiltInIdParsesAndRenders)
{
    // Every id falls back to a code that parses; the table holds each id once, in order.
    for (int id = -5; id < 300; ++id)
        EXPECT_TRUE(NumberFormat::IsValidCode(BuiltInFormatCode(id))) << id;
    int previous = -1;
    for (const BuiltInFormat& format : BuiltInFormats()) {
        EXPECT_GT(format.id, previous);
        previous = format.id;
        EXPECT_TRUE(NumberFormat::IsValidCode(format.code)) << format.id << ": " << format.code;
        EXPECT_EQ(BuiltInFormatCode(format.id), format.code);
        EXPECT_EQ(NumberFormat::Parse(format.code).IsGeneral(), format.id == 0) << format.id;
        // The accounting formats have four sections: the ; separators are where they belong.
        if (format.code.starts_with("_(")) {
            int separators = 0;
            bool quoted = false;
            for (char c : format.code) {
                quoted = c == '"' ? !quoted : quoted;
                separators += !quoted && c == ';' ? 1 : 0;
            }
            EXPECT_EQ(separators, 3) << format.id;
        }
    }
    EXPECT_EQ(previous, 49);

    const struct {
        int id;
        double value;
        const char* expected;
    } cases[] = {
        { 0, 1234.5, "1234.5" },
        { 1, 1234.5, "1235" },
        { 2, 1234.5, "1234.50" },
        { 3, 1234.5, "1,235" },
        { 4, -1234.5, "-1,234.50" },
        { 5, -1234.5, "($1,235)" },
        { 6, 1234.5, "$1,235 " },
        { 7, -1234.5, "($1,234.50)" },
        { 8, 1234.5, "$1,234.50 " },
        { 9, 0.5, "50%" },
        { 10, 0.5, "50.00%" },
        { 11, 1234.5, "1.23E+03" },
        { 12, 1.5, "1 1/2" },
        { 13, 0.25, "  1/4 " },
        { 14, 45000, "3/15/2023" },
        { 15, 45000, "15-Mar-23" },
        { 16, 45000, "15-Mar" },
        { 17, 45000, "Mar-23" },
        { 18, 0.75, "6:00 PM" },
        { 19, 0.75, "6:00:00 PM" },
        { 20, 0.75, "18:00" },
        { 21, 0.75, "18:00:00" },
        { 22, 45000.5, "3/15/2023 12:00" },
        { 37, -1234, "(1,234)" },
        { 37, 1234, "1,234 " },
        { 38, -1234, "(1,234)" },
        { 39, -1234, "(1,234.00)" },
        { 39, 59.5, "59.50 " }, // the room of the parenthesis, as 37 leaves it
        { 40, 1234, "1,234.00 " },
        { 41, 1234, " 1,234 " },
        { 41, -1234, " (1,234)" },
        { 41, 0, " - " },
        { 42, 1234, " $1,234 " },
        { 43, 1234.5, " 1,234.50 " },
        { 43, 0, " -   " },
        { 44, -1234.5, " $(1,234.50)" },
        { 44, 0, " $-   " },
        { 45, 0.0423, "00:55" },
        { 46, 1.5, "36:00:00" },
        { 47, 0.0014, "0201.0" },
        { 48, 12345, "12.3E+3" },
        { 49, 12, "12" },
        { 27, 45000, "3/15/2023" },
        { 32, 0.75, "18:00:00" },
        { 59, 3.7, "4" },
        { 80, 1.5, "36:00:00" },
        { 200, 1.25, "1.25" },
    };
    for (const auto& c : cases) {
        std::string out;
        NumberFormat::Parse(BuiltInFormatCode(c.id)).Format(c.value, DateSystem::Date1900, out);
        EXPECT_EQ(out, c.expected) << "id " << c.id << " value " << c.value;
    }
    std::string text;
    NumberFormat::Parse(BuiltInFormatCode(44)).FormatText("n/a", text);
    EXPECT_EQ(text, " n/a ");
}

} // namespace

namespace {

TEST(NumberFormat, FractionsScaledPastEveryNumberShowTheNumberError)
{
    // Found by fuzzing: percent signs enough to scale any value but zero past the largest
    // number (and zero, multiplied by that, to no number at all) made the fraction
    // renderer convert an infinity or a NaN to an integer.
    std::ifstream in(vellumcast::testing::Fixture("regressions/numfmt-fraction-scaled-past-every-number.txt"));
    std::string code;
    std::getline(in, code);
    ASSERT_EQ(code.size(), 205u);
    const std::string percents(200, '%');
    for (const double value : { 1.0, -1.0, 0.001, 1e300 })
        EXPECT_EQ(Show(code, value), "#NUM!") << value;
    EXPECT_EQ(Show(code, 0.0), "0    " + percents);
    EXPECT_EQ(Show("?/?" + percents, 0.0), "0/1" + percents);
    EXPECT_EQ(Show("#,##0 ?/?%", 0.5), "50    %");
}

TEST(NumberFormat, FractionsOfLargeValues)
{
    // Improper fractions of large values: the numerator outgrows its placeholders.
    EXPECT_EQ(Show("?/???????", 123456789012.75), "493827156051/4      ");
    EXPECT_EQ(Show("# ??????\?/???????", 123456789012.75), "123456789012       3/4      ");
}

} // namespace

namespace {

TEST(NumberFormat, GeneralInTheTextSectionShowsTheString)
{
    const char* code = "[Red][<-25]General;[Blue][>25]General;[Green]General;[Yellow]General\\ ";
    EXPECT_EQ(ShowText(code, "abc"), "abc ");
    EXPECT_EQ(Show(code, -30), "-30");
    EXPECT_EQ(Show(code, 30), "30");
    EXPECT_EQ(Show(code, 3), "3");
}

// Random codes built from the characters that mean something in the format language,
// rendered with awkward values: no crash, no runaway output (run under the sanitizers too).
TEST(NumberFormat, RandomCodesNeverBreak)
{
    static constexpr char Alphabet[] = "0#?.,%E+-e/@\"\\_*[]$;:hHmMsSdDyYAP/ 1234abg<>=GeneralRdBlu€年";
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double values[] = { 0.0, -0.0, 1.0, -1.5, 0.5, 1e-300, -1e300, 2958465.999999, 45000.123456, 1e15 + 0.5, nan,
        0.3, 7e-11, 99999999999.5 };
    uint64_t seed = 0x9E3779B97F4A7C15ull;
    auto next = [&seed] {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        return seed;
    };
    size_t valid = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string code;
        const size_t length = next() % 24;
        for (size_t i = 0; i < length; ++i)
            code += Alphabet[next() % (sizeof Alphabet - 1)];
        valid += NumberFormat::IsValidCode(code) ? 1 : 0;
        const NumberFormat format = NumberFormat::Parse(code);
        for (double value : values) {
            std::string out;
            format.Format(value, (round & 1) ? DateSystem::Date1904 : DateSystem::Date1900, out);
            ASSERT_LT(out.size(), 2000u) << code;
        }
        std::string text;
        format.FormatText("text", text);
        ASSERT_LT(text.size(), 2000u) << code;
    }
    EXPECT_GT(valid, 100u); // the generator does reach the renderer, not only the fallback
}

} // namespace

namespace {

TEST(NumberFormat, TruncatedUtf8AfterAnEscapeEndsTheCode)
{
    // "\" followed by the first byte of a three-byte character, and nothing after it.
    for (const char* code : { "0\\\xE2", "0_\xE2", "0*\xF0\x9F", "0;\\\xE2" }) {
        std::string out;
        NumberFormat::Parse(code).Format(5, DateSystem::Date1900, out);
        EXPECT_FALSE(out.empty()) << code;
    }
}

// Corners of the format language, each checked against what the format's own rules make of it.
TEST(NumberFormat, LettersThatAreNoTokenShowAsThemselves)
{
    CheckCases({
        { "x0", 5, "x5" },
        { "x", 5, "x" },
        { "x", 0, "x" },
        { "x", -5, "-x" }, // one section: the sign stays
        { "0 kn", 12.4, "12 kn" },
        { "0 kph", 0.5, "0 kp12" }, // h is an hour: the section shows a time
        { "0.0 \\k;(0.0) \\k", -1.25, "(1.3) k" },
        // A near-miss of AM/PM is plain text, and leaves the clock at 24 hours.
        { "h AM/P", 0.75, "18 AM/P" },
        { "h:mm AM", 0.75, "18:00 AM" },
        { "h a", 0.75, "18 a" },
    });
}

TEST(NumberFormat, GeneralKeepsTheTextAroundIt)
{
    CheckCases({
        { "General\\ \\k\\g", 5, "5 kg" },
        { "General\\ \\k\\g", -2.5, "-2.5 kg" },
        { "\\[General\\]", 1234567.891, "[1234567.891]" },
        { "[Blue]General\\ ", 3, "3 " },
        { "\\#General;\\(General\\)", -0.5, "(0.5)" },
    });
    EXPECT_EQ(ShowText("0;0;0;General\\ \\k\\g", "ten"), "ten kg");
}

TEST(NumberFormat, FractionalSecondsAfterHoursOrMinutes)
{
    // 23:59:59.94: whole seconds round up into the next day; tenths of a second do not.
    const double beforeMidnight = (86400.0 - 0.06) / 86400.0;
    // 12:00:00.864
    const double noon = 0.50001;
    CheckCases({
        { "h", beforeMidnight, "0" }, { "h.0", beforeMidnight, "23.9" }, { "hh.00", noon, "12.86" },
        { "h:mm.000", noon, "12:00.864" }, { "[h].0", 1 + noon, "36.9" }, { "[mm].00", noon, "720.86" },
        { "mm.00", noon, "01.00" }, // "mm" alone is the month: the point is plain text
    });
}

TEST(NumberFormat, AmPmInAnyCase)
{
    CheckCases({
        { "h am/pm", 0.75, "6 PM" },
        { "h Am/pM", 0.25, "6 AM" },
        { "h:mm a/p", 0.75, "6:00 p" }, // A/P keeps the case it is written in
        { "h:mm A/P", 0.25, "6:00 A" },
    });
}

TEST(NumberFormat, DigitsBeyondFifteenAreZeros)
{
    CheckCases({
        { "0.00000000000000000000", 1.0 / 3.0, "0.33333333333333300000" },
        { "0", 1180591620717411303424.0, "1180591620717410000000" }, // 2^70
        { "#,##0", 123456789012345678.0, "123,456,789,012,346,000" },
        { "0.000000000000000000E+00", 2.0 / 3.0, "6.666666666666670000E-01" },
    });
}

// Fifteen significant digits in scientific form show exactly the value rounded to 15
// digits, as C's %.14E rounds it, for values of every kind: whole numbers, everyday
// decimals, values next to powers of ten and to the 15-digit boundary, and random bits.
TEST(NumberFormat, FifteenDigitsAreTheValueRoundedAsPrintfRoundsIt)
{
    std::vector<double> values = { 0.1 + 0.2, 1.0 / 3.0, 2.0 / 3.0, 1e15 - 1, 1e15, 1e15 + 2, 999999999999999.9,
        9.999999999999995, 9.9999999999999953, 0.30000000000000004, 123456789012345.67, 1234567890123456.0,
        9007199254740993.0, 5e-324, std::numeric_limits<double>::max(), std::numeric_limits<double>::min(), 1.005,
        2.675, 0.5, 38429.89, 0.3291, 1e-5, 1e22, 1e23 };
    std::mt19937_64 random(1209);
    for (int i = 0; i < 4000; ++i) {
        values.push_back(static_cast<double>(random() % 1000000000000000000ull)); // whole, up to 18 digits
        values.push_back(static_cast<double>(random() % 10000000) / 100.0); // two decimals
        values.push_back(static_cast<double>(random() % 100000000000000000ull) / 1e17 * std::pow(10.0, i % 40 - 20));
        // Sixteen digits ending in 5: halfway between two 15-digit decimals, but for the
        // binary value's error, which decides the rounding.
        const std::string halfway
            = std::to_string(100000000000000 + random() % 900000000000000) + "5e" + std::to_string(i % 30 - 25);
        values.push_back(std::strtod(halfway.c_str(), nullptr));
        double bits = 0;
        const uint64_t pattern = random();
        std::memcpy(&bits, &pattern, sizeof bits);
        if (std::isfinite(bits) && bits != 0)
            values.push_back(bits);
    }
    for (int e = -20; e <= 20; ++e) { // the doubles around each power of ten
        const double power = std::pow(10.0, e);
        values.insert(values.end(), { std::nextafter(power, 0.0), power, std::nextafter(power, 1e300) });
    }
    for (const double value : values) {
        char expected[40];
        std::snprintf(expected, sizeof expected, "%.14E", value);
        ASSERT_EQ(Show("0.00000000000000E+00", value), expected) << std::hexfloat << value;
    }
}

TEST(NumberFormat, CalendarPrefixes)
{
    // 2016-07-28 is 23 Shawwal 1437 and 2023-07-18 is 1 Muharram 1445 in the tabular calendar.
    CheckCases({
        { "B1dd/mm/yyyy", 42579, "28/07/2016" },
        { "B2dd/mm/yyyy", 42579, "23/10/1437" },
        { "B2yyyy-mm-dd", 45125, "1445-01-01" },
        { "B2yyyy-mm-dd", 45124, "1444-12-29" }, // 1444 is a common year: Dhu al-Hijjah has 29 days
        { "B2yy/m/d h:mm", 45125.75, "45/1/1 18:00" },
        { "B2mmmm", 45008, "رمضان" },
        { "B2mmmmm", 45008, "ر" },
        { "B2dd/mm/yyyy", -1, "########" },
    });
    EXPECT_EQ(Show("B2dd/mm/yyyy", 41117, DateSystem::Date1904), "23/10/1437");
}

TEST(NumberFormat, EmptyStringInAPaddedTextSection)
{
    EXPECT_EQ(ShowText(BuiltInFormatCode(44), ""), "");
    EXPECT_EQ(ShowText(BuiltInFormatCode(44), "ab"), " ab ");
    EXPECT_EQ(ShowText("_-* #,##0_-;\\-* #,##0_-;_-* \"-\"_-;_-@_-", ""), "");
    EXPECT_EQ(ShowText("0;0;0;\"x\"@", ""), "x"); // text that is more than padding stays
}

} // namespace
