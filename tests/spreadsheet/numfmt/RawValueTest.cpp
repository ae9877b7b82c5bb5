// Raw numbers against std::to_chars's own shortest form, ISO dates against serials counted
// here from the civil calendar, and which formats are dates, times or durations.
#include "spreadsheet/numfmt/RawValue.h"
#include "spreadsheet/numfmt/NumberFormat.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <random>
#include <string>

using namespace vellumcast::spreadsheet::numfmt;

namespace {

std::string Raw(double value)
{
    std::string out;
    AppendRawNumber(value, out);
    return out;
}

// A decimal text reduced to its sign, its significant digits (no leading or trailing
// zeros) and the power of ten of its first digit, whichever form it is written in.
struct Digits {
    bool negative = false;
    std::string digits;
    int exponent = 0;
    bool operator==(const Digits&) const = default;
};

Digits Normalised(const std::string& text)
{
    Digits d;
    size_t at = 0;
    if (at < text.size() && text[at] == '-') {
        d.negative = true;
        ++at;
    }
    int pointAt = -1;
    std::string all;
    for (; at < text.size() && text[at] != 'e' && text[at] != 'E'; ++at) {
        if (text[at] == '.')
            pointAt = static_cast<int>(all.size());
        else
            all += text[at];
    }
    const int written = at < text.size() ? std::atoi(text.c_str() + at + 1) : 0;
    if (pointAt < 0)
        pointAt = static_cast<int>(all.size());
    const size_t first = all.find_first_not_of('0');
    if (first == std::string::npos)
        return d;
    const size_t last = all.find_last_not_of('0');
    d.digits = all.substr(first, last - first + 1);
    d.exponent = pointAt - static_cast<int>(first) - 1 + written;
    return d;
}

// std::to_chars's shortest round trip in its %g-like form (its plain form writes large
// integers with every digit of their binary value).
std::string Shortest(double value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general);
    return std::string(buffer, result.ptr);
}

// The fewest significant digits printf needs for a text that reads back as the value.
size_t FewestDigitsPrintfNeeds(double value)
{
    for (int precision = 0; precision < 17; ++precision) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.*e", precision, value);
        if (std::strtod(buffer, nullptr) == value)
            return static_cast<size_t>(precision) + 1;
    }
    return 17;
}

// The raw text is the shortest round trip, in the form its magnitude calls for.
void ExpectRawRoundTrip(double value)
{
    const std::string raw = Raw(value);
    const double magnitude = std::fabs(value);
    const bool plain = value == 0.0 || (magnitude >= 1e-5 && magnitude < 1e21);
    EXPECT_EQ(raw.find_first_of("eE") == std::string::npos, plain) << raw;
    EXPECT_EQ(raw.find('e'), std::string::npos) << raw;
    EXPECT_EQ(Normalised(raw), Normalised(Shortest(value))) << raw << " vs " << Shortest(value);
    EXPECT_EQ(Normalised(raw).digits.size(), FewestDigitsPrintfNeeds(value)) << raw;
    EXPECT_EQ(std::strtod(raw.c_str(), nullptr), value) << raw;
}

TEST(RawNumber, EdgeValuesAreWrittenInTheirForm)
{
    const double max = std::numeric_limits<double>::max();
    const struct {
        double value;
        const char* expected;
    } cases[] = {
        { 0.0, "0" },
        { -0.0, "0" },
        { 1.0, "1" },
        { -1.5, "-1.5" },
        { 0.1 + 0.2, "0.30000000000000004" },
        { 0.1, "0.1" },
        { 1e15, "1000000000000000" },
        { -1e15, "-1000000000000000" },
        { 9007199254740992.0, "9007199254740992" },
        { 1e15 + 0.5, "1000000000000000.5" },
        { 1e20, "100000000000000000000" },
        { 1e21, "1E+21" },
        { 123456789012345678901.0, "123456789012345680000" },
        { 999999999999999.0, "999999999999999" },
        { 999999999999999.9, "999999999999999.9" },
        { 1e15 + 2, "1000000000000002" },
        { 1e-5, "0.00001" },
        { -1e-5, "-0.00001" },
        { 1.2345e-5, "0.000012345" },
        { 9.999999999999999e-6, "9.999999999999999E-06" },
        { 1e-7, "1E-07" },
        { 123456789.125, "123456789.125" },
        { 44927.5, "44927.5" },
        { 1e100, "1E+100" },
        { max, "1.7976931348623157E+308" },
        { -max, "-1.7976931348623157E+308" },
        { std::numeric_limits<double>::min(), "2.2250738585072014E-308" },
        { std::numeric_limits<double>::denorm_min(), "5E-324" },
        { -std::numeric_limits<double>::denorm_min(), "-5E-324" },
        { std::numeric_limits<double>::quiet_NaN(), "#NUM!" },
        { std::numeric_limits<double>::infinity(), "#NUM!" },
        { -std::numeric_limits<double>::infinity(), "#NUM!" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(Raw(c.value), c.expected) << c.expected;
    std::string out = "kept:";
    AppendRawNumber(2.5, out);
    EXPECT_EQ(out, "kept:2.5");
}

TEST(RawNumber, ValuesNextToTheFormBoundariesRoundTrip)
{
    for (const double boundary : { 1e15, 1e21, 1e-5 }) {
        double below = boundary, above = boundary;
        for (int i = 0; i < 50; ++i) {
            below = std::nextafter(below, 0.0);
            above = std::nextafter(above, 1e300);
            ExpectRawRoundTrip(below);
            ExpectRawRoundTrip(-above);
        }
    }
}

TEST(RawNumber, RandomBitPatternsMatchTheShortestRoundTrip)
{
    std::mt19937_64 random(20261209);
    for (int i = 0; i < 20000; ++i) {
        const double value = std::bit_cast<double>(random());
        if (std::isfinite(value))
            ExpectRawRoundTrip(value);
    }
}

TEST(RawNumber, RandomEverydayMagnitudesMatchTheShortestRoundTrip)
{
    std::mt19937_64 random(1904);
    std::uniform_real_distribution<double> power(-9.0, 18.0);
    std::uniform_int_distribution<int64_t> cents(-10000000, 10000000);
    for (int i = 0; i < 10000; ++i) {
        ExpectRawRoundTrip(std::pow(10.0, power(random)));
        ExpectRawRoundTrip(static_cast<double>(cents(random)) / 100.0);
    }
}

// Howard Hinnant's days-from-civil, written here apart from the engine's inverse of it.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(year - era * 400);
    const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// The 1900 system counts from 1899-12-31 and holds the day 1900-02-29 that never was;
// the 1904 system counts from 1904-01-01.
int64_t SerialOf(int year, unsigned month, unsigned day, DateSystem system)
{
    const int64_t days = DaysFromCivil(year, month, day);
    if (system == DateSystem::Date1904)
        return days - DaysFromCivil(1904, 1, 1);
    const int64_t serial = days - DaysFromCivil(1899, 12, 31);
    return serial >= 60 ? serial + 1 : serial;
}

std::string Iso(double serial, DateTimeParts parts, DateSystem system = DateSystem::Date1900)
{
    std::string out;
    if (!AppendIsoDateTime(serial, parts, system, out)) {
        EXPECT_EQ(out, "") << "text appended although the serial has no date";
        return "(none)";
    }
    return out;
}

std::string CivilText(int year, unsigned month, unsigned day)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", year, month, day);
    return text;
}

bool IsLeap(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

unsigned DaysInMonth(int year, unsigned month)
{
    static const unsigned days[] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    return month == 2 && IsLeap(year) ? 29 : days[month - 1];
}

TEST(IsoDateTime, EveryMonthEndAndStartInBothSystems)
{
    for (const DateSystem system : { DateSystem::Date1900, DateSystem::Date1904 }) {
        const int firstYear = system == DateSystem::Date1904 ? 1904 : 1900;
        size_t checked = 0;
        for (int year = firstYear; year <= 9999; year += year < 2200 ? 1 : 37) {
            for (unsigned month = 1; month <= 12; ++month) {
                for (const unsigned day : { 1u, 28u, DaysInMonth(year, month) }) {
                    const double serial = static_cast<double>(SerialOf(year, month, day, system));
                    EXPECT_EQ(Iso(serial, DateTimeParts::Date, system), CivilText(year, month, day));
                    ++checked;
                }
            }
        }
        EXPECT_GT(checked, 10000u);
        EXPECT_EQ(
            Iso(static_cast<double>(SerialOf(9999, 12, 31, system)) + 0.5, DateTimeParts::Date, system), "9999-12-31");
    }
}

TEST(IsoDateTime, TheFirstDaysOfEachSystem)
{
    EXPECT_EQ(Iso(0, DateTimeParts::Date), "1899-12-31");
    EXPECT_EQ(Iso(1, DateTimeParts::Date), "1900-01-01");
    EXPECT_EQ(Iso(59, DateTimeParts::Date), "1900-02-28");
    EXPECT_EQ(Iso(60, DateTimeParts::Date), "(none)"); // 1900-02-29 never was
    EXPECT_EQ(Iso(60.5, DateTimeParts::DateAndTime), "(none)");
    EXPECT_EQ(Iso(60.5, DateTimeParts::Time), "12:00:00"); // a time of day needs no date
    EXPECT_EQ(Iso(61, DateTimeParts::Date), "1900-03-01");
    EXPECT_EQ(Iso(0.25, DateTimeParts::DateAndTime), "1899-12-31T06:00:00");
    EXPECT_EQ(Iso(0, DateTimeParts::Date, DateSystem::Date1904), "1904-01-01");
    EXPECT_EQ(Iso(60, DateTimeParts::Date, DateSystem::Date1904), "1904-03-01");
    EXPECT_EQ(Iso(46365, DateTimeParts::Date), "2026-12-09");
    EXPECT_EQ(Iso(46365 - 1462, DateTimeParts::Date, DateSystem::Date1904), "2026-12-09");
}

TEST(IsoDateTime, TimesWithFractionsOfSeconds)
{
    const double day = static_cast<double>(SerialOf(2026, 12, 9, DateSystem::Date1900));
    const struct {
        int64_t millisecond;
        const char* time;
    } cases[] = {
        { 0, "00:00:00" },
        { (14 * 3600 + 5 * 60) * 1000, "14:05:00" },
        { (14 * 3600 + 5 * 60) * 1000 + 250, "14:05:00.25" },
        { (14 * 3600 + 5 * 60) * 1000 + 500, "14:05:00.5" },
        { 1, "00:00:00.001" },
        { 10, "00:00:00.01" },
        { 100, "00:00:00.1" },
        { 999, "00:00:00.999" },
        { 86399999, "23:59:59.999" },
        { 43200000, "12:00:00" },
    };
    for (const auto& c : cases) {
        const double serial = day + static_cast<double>(c.millisecond) / 86400000.0;
        EXPECT_EQ(Iso(serial, DateTimeParts::Time), c.time);
        EXPECT_EQ(Iso(serial, DateTimeParts::DateAndTime), std::string("2026-12-09T") + c.time);
        EXPECT_EQ(Iso(serial, DateTimeParts::Date), "2026-12-09");
    }
}

TEST(IsoDateTime, RandomMillisecondsReadBackOnEveryDay)
{
    std::mt19937_64 random(86400);
    std::uniform_int_distribution<int> years(1904, 9999);
    std::uniform_int_distribution<int64_t> milliseconds(0, 86399999);
    for (int i = 0; i < 20000; ++i) {
        const int year = years(random);
        const unsigned month = static_cast<unsigned>(i % 12 + 1);
        const unsigned day = static_cast<unsigned>(i % static_cast<int>(DaysInMonth(year, month)) + 1);
        const int64_t ms = milliseconds(random);
        for (const DateSystem system : { DateSystem::Date1900, DateSystem::Date1904 }) {
            const double serial
                = static_cast<double>(SerialOf(year, month, day, system)) + static_cast<double>(ms) / 86400000.0;
            char time[32];
            std::snprintf(time, sizeof time, "T%02d:%02d:%02d.%03d", static_cast<int>(ms / 3600000),
                static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60), static_cast<int>(ms % 1000));
            std::string expected = CivilText(year, month, day) + time;
            while (expected.back() == '0')
                expected.pop_back();
            if (expected.back() == '.')
                expected.pop_back();
            ASSERT_EQ(Iso(serial, DateTimeParts::DateAndTime, system), expected) << serial;
        }
    }
}

TEST(IsoDateTime, HalfAMillisecondBeforeMidnightCarriesIntoTheNextDay)
{
    const double day = static_cast<double>(SerialOf(2026, 12, 31, DateSystem::Date1900));
    const double late = day + 86399.9995 / 86400.0;
    EXPECT_EQ(Iso(late, DateTimeParts::DateAndTime), "2027-01-01T00:00:00");
    EXPECT_EQ(Iso(late, DateTimeParts::Date), "2027-01-01");
    EXPECT_EQ(Iso(late, DateTimeParts::Time), "00:00:00");
    const double earlier = day + 86399.9994 / 86400.0;
    EXPECT_EQ(Iso(earlier, DateTimeParts::DateAndTime), "2026-12-31T23:59:59.999");
    EXPECT_EQ(Iso(day + 0.0005 / 86400.0, DateTimeParts::Time), "00:00:00.001");
    EXPECT_EQ(Iso(day + 0.0004 / 86400.0, DateTimeParts::Time), "00:00:00");
    // The last moment of 9999 rounds past the last day a date can have.
    const double last = static_cast<double>(SerialOf(9999, 12, 31, DateSystem::Date1900));
    EXPECT_EQ(Iso(last + 86399.9999 / 86400.0, DateTimeParts::Date), "(none)");
    EXPECT_EQ(Iso(last + 86399.4 / 86400.0, DateTimeParts::DateAndTime), "9999-12-31T23:59:59.4");
}

TEST(IsoDateTime, SerialsNoDateCanShowGiveNothing)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    for (const DateTimeParts parts : { DateTimeParts::Date, DateTimeParts::Time, DateTimeParts::DateAndTime }) {
        for (const double serial : { -1.0, -0.0001, -1e300, nan, infinity, -infinity, 2958466.0, 1e300 })
            EXPECT_EQ(Iso(serial, parts), "(none)") << serial;
        EXPECT_EQ(Iso(2957004.0, parts, DateSystem::Date1904), "(none)");
    }
    EXPECT_EQ(Iso(2957003.0, DateTimeParts::Date, DateSystem::Date1904), "9999-12-31");
    EXPECT_EQ(Iso(1.5, DateTimeParts::None), "(none)");
    EXPECT_EQ(Iso(1.5, DateTimeParts::Elapsed), "(none)");
}

std::string RawUnder(std::string_view code, double value, DateSystem system = DateSystem::Date1900)
{
    std::string out;
    AppendRawValue(value, NumberFormat::Parse(code), system, out);
    return out;
}

TEST(RawValue, DatesUnderDateFormatsAndNumbersUnderTheRest)
{
    const double when = 46365 + (14 * 3600 + 5 * 60) / 86400.0;
    EXPECT_EQ(RawUnder("yyyy-mm-dd", when), "2026-12-09");
    EXPECT_EQ(RawUnder("d-mmm-yy", when), "2026-12-09");
    EXPECT_EQ(RawUnder("h:mm AM/PM", when), "14:05:00");
    EXPECT_EQ(RawUnder("m/d/yyyy h:mm", when), "2026-12-09T14:05:00");
    EXPECT_EQ(RawUnder("m/d/yyyy h:mm", when - 1462, DateSystem::Date1904), "2026-12-09T14:05:00");
    EXPECT_EQ(RawUnder("[Red]\"on \"dddd", when), "2026-12-09");
    EXPECT_EQ(RawUnder("[h]:mm", 1.5), "1.5"); // a duration stays a number of days
    EXPECT_EQ(RawUnder("0.00%", 0.125), "0.125");
    EXPECT_EQ(RawUnder("General", 1e20), "100000000000000000000");
    EXPECT_EQ(RawUnder("\"yyyy\"0", 46365), "46365"); // quoted letters are no date
    EXPECT_EQ(RawUnder("yyyy-mm-dd", 60), "60"); // the day that never was
    EXPECT_EQ(RawUnder("yyyy-mm-dd", -1), "-1");
    EXPECT_EQ(RawUnder("yyyy-mm-dd", 3e6), "3000000");
}

TEST(DateTimeShown, EveryBuiltInFormat)
{
    const std::map<int, DateTimeParts> dated = {
        { 14, DateTimeParts::Date },
        { 15, DateTimeParts::Date },
        { 16, DateTimeParts::Date },
        { 17, DateTimeParts::Date },
        { 18, DateTimeParts::Time },
        { 19, DateTimeParts::Time },
        { 20, DateTimeParts::Time },
        { 21, DateTimeParts::Time },
        { 22, DateTimeParts::DateAndTime },
        { 45, DateTimeParts::Time },
        { 46, DateTimeParts::Elapsed },
        { 47, DateTimeParts::Time },
    };
    for (const BuiltInFormat& builtIn : BuiltInFormats()) {
        const auto found = dated.find(builtIn.id);
        const DateTimeParts expected = found == dated.end() ? DateTimeParts::None : found->second;
        const NumberFormat format = NumberFormat::Parse(builtIn.code);
        EXPECT_EQ(format.DateTimeShown(), expected) << builtIn.id << " " << builtIn.code;
        EXPECT_EQ(format.IsDateOrTimeFormat(), expected != DateTimeParts::None && expected != DateTimeParts::Elapsed)
            << builtIn.id;
        EXPECT_EQ(format.IsElapsedTimeFormat(), expected == DateTimeParts::Elapsed) << builtIn.id;
    }
    // The East Asian date ids show as the short date.
    EXPECT_EQ(NumberFormat::Parse(BuiltInFormatCode(57)).DateTimeShown(), DateTimeParts::Date);
    EXPECT_EQ(NumberFormat::Parse(BuiltInFormatCode(32)).DateTimeShown(), DateTimeParts::Time);
}

TEST(DateTimeShown, CodesWithLiteralsColoursAndSections)
{
    const struct {
        const char* code;
        DateTimeParts parts;
    } cases[] = {
        { "yyyy-mm-dd hh:mm:ss", DateTimeParts::DateAndTime },
        { "\"kl \"hh:mm:ss;@", DateTimeParts::Time },
        { "[$-409]mmmm d, yyyy;@", DateTimeParts::Date },
        { "[Blue]dddd", DateTimeParts::Date },
        { "mm:ss.000", DateTimeParts::Time },
        { "hh\"h\"mm", DateTimeParts::Time },
        { "\"yyyy-mm-dd\"", DateTimeParts::None },
        { "\\d0", DateTimeParts::None },
        { "0.00;yyyy", DateTimeParts::Date }, // negatives show as a year
        { "0;0;0;yyyy", DateTimeParts::None }, // the fourth section is for text
        { "[mm]:ss", DateTimeParts::Elapsed },
        { "[ss]", DateTimeParts::Elapsed },
        { "[=0]?;[<4.16666666666667][hh]:mm:ss;[hh]:mm", DateTimeParts::Elapsed },
        { "yyyy;[h]:mm", DateTimeParts::Elapsed }, // any duration section: not a point in time
        { "h:mm;yyyy", DateTimeParts::DateAndTime },
        { "General", DateTimeParts::None },
        { "@", DateTimeParts::None },
        { "0.00E+00", DateTimeParts::None },
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(NumberFormat::IsValidCode(c.code)) << c.code;
        EXPECT_EQ(NumberFormat::Parse(c.code).DateTimeShown(), c.parts) << c.code;
    }
    EXPECT_EQ(NumberFormat().DateTimeShown(), DateTimeParts::None);
}

} // namespace
