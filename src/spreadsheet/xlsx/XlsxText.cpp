#include "spreadsheet/xlsx/XlsxText.h"
#include "spreadsheet/text/TextEncoding.h"

#include <algorithm>
#include <charconv>

namespace vellumcast::spreadsheet::xlsx {

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The code unit of an "_xHHHH_" escape at text[at], or -1.
int EscapeAt(std::string_view text, size_t at)
{
    if (at + 7 > text.size() || text[at] != '_' || text[at + 1] != 'x' || text[at + 6] != '_')
        return -1;
    int value = 0;
    for (size_t i = at + 2; i < at + 6; ++i) {
        const int digit = HexValue(text[i]);
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day)
{
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// Reads exactly `digits` decimal digits.
bool Digits(std::string_view& text, size_t digits, int& value)
{
    if (text.size() < digits)
        return false;
    value = 0;
    for (size_t i = 0; i < digits; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    text.remove_prefix(digits);
    return true;
}

bool Expect(std::string_view& text, char c)
{
    if (text.empty() || text.front() != c)
        return false;
    text.remove_prefix(1);
    return true;
}

// "HH:MM[:SS[.fff]]" followed by an optional zone, as a fraction of a day.
bool ParseTime(std::string_view text, double& fraction)
{
    int hour = 0, minute = 0, second = 0;
    if (!Digits(text, 2, hour) || !Expect(text, ':') || !Digits(text, 2, minute))
        return false;
    double seconds = 0;
    if (Expect(text, ':')) {
        if (!Digits(text, 2, second))
            return false;
        seconds = second;
        if (!text.empty() && (text.front() == '.' || text.front() == ',')) {
            text.remove_prefix(1);
            double scale = 0.1;
            while (!text.empty() && text.front() >= '0' && text.front() <= '9') {
                seconds += (text.front() - '0') * scale;
                scale /= 10;
                text.remove_prefix(1);
            }
        }
    }
    // The zone is ignored: the application stores local wall-clock times.
    if (!text.empty() && text != "Z") {
        if (text.front() != '+' && text.front() != '-')
            return false;
    }
    if (hour > 24 || minute > 59 || second > 60)
        return false;
    fraction = (hour * 3600.0 + minute * 60.0 + seconds) / 86400.0;
    return true;
}

} // namespace

void AppendUnescaped(std::string_view text, std::string& out)
{
    size_t at = 0;
    while (at < text.size()) {
        const size_t found = text.find("_x", at);
        if (found == std::string_view::npos)
            break;
        const int unit = EscapeAt(text, found);
        if (unit < 0) {
            out.append(text.substr(at, found + 2 - at));
            at = found + 2;
            continue;
        }
        out.append(text.substr(at, found - at));
        at = found + 7;
        uint32_t code = static_cast<uint32_t>(unit);
        if (code >= 0xD800 && code <= 0xDBFF) {
            const int low = EscapeAt(text, at);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<uint32_t>(low) - 0xDC00);
                at += 7;
            } else {
                code = 0xFFFD;
            }
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        text::AppendUtf8(code, out);
    }
    out.append(text.substr(at));
}

bool ParseCellReference(std::string_view reference, int32_t& row, int32_t& column)
{
    constexpr int64_t kSaturate = 1ll << 30;
    size_t at = 0;
    int64_t col = 0;
    while (at < reference.size()) {
        char c = reference[at];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c < 'A' || c > 'Z')
            break;
        col = std::min<int64_t>(col * 26 + (c - 'A' + 1), kSaturate);
        ++at;
    }
    if (at == 0 || at == reference.size())
        return false;
    int64_t r = 0;
    for (; at < reference.size(); ++at) {
        const char c = reference[at];
        if (c < '0' || c > '9')
            return false;
        r = std::min<int64_t>(r * 10 + (c - '0'), kSaturate);
    }
    row = static_cast<int32_t>(r);
    column = static_cast<int32_t>(col);
    return true;
}

bool IsoDateToSerial(std::string_view text, numfmt::DateSystem system, double& serial)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    if (text.size() >= 5 && text[2] == ':')
        return ParseTime(text, serial);

    std::string_view rest = text;
    int year = 0, month = 0, day = 0;
    if (!Digits(rest, 4, year) || !Expect(rest, '-') || !Digits(rest, 2, month) || !Expect(rest, '-')
        || !Digits(rest, 2, day))
        return false;
    constexpr int kDays[] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0))
        return false;
    double fraction = 0;
    if (!rest.empty()) {
        if (rest.front() != 'T' && rest.front() != ' ')
            return false;
        rest.remove_prefix(1);
        if (!ParseTime(rest, fraction))
            return false;
    }

    const int64_t days = DaysFromCivil(year, month, day);
    double whole = 0;
    if (system == numfmt::DateSystem::Date1904) {
        whole = static_cast<double>(days - DaysFromCivil(1904, 1, 1));
    } else {
        // The 1900 system counts a 29 February 1900 that never was: from March 1900 on,
        // serials are one more than the days since 1899-12-31.
        whole = static_cast<double>(days - DaysFromCivil(1899, 12, 31));
        if (days >= DaysFromCivil(1900, 3, 1))
            whole += 1;
    }
    serial = whole + fraction;
    return true;
}

} // namespace vellumcast::spreadsheet::xlsx
