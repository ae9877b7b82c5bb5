#include "spreadsheet/formula/Numbers.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vellumcast::spreadsheet::formula {

namespace {

// Decodes one UTF-8 sequence at text[at]; a malformed byte stands for itself.
char32_t NextCodePoint(std::string_view text, size_t& at)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = 1;
    char32_t c = lead;
    if (lead >= 0xF0 && lead < 0xF8) {
        length = 4;
        c = lead & 0x07;
    } else if (lead >= 0xE0) {
        length = 3;
        c = lead & 0x0F;
    } else if (lead >= 0xC0) {
        length = 2;
        c = lead & 0x1F;
    }
    if (length == 1 || at + length > text.size()) {
        ++at;
        return lead;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            ++at;
            return lead;
        }
        c = (c << 6) | (byte(at + i) & 0x3F);
    }
    at += length;
    return c;
}

void AppendUtf8(char32_t c, std::string& out)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

template <typename Map> std::string MapCase(std::string_view text, Map map)
{
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[at]);
        if (lead < 0x80) {
            out.push_back(static_cast<char>(map(lead)));
            ++at;
            continue;
        }
        AppendUtf8(map(NextCodePoint(text, at)), out);
    }
    return out;
}

// 15 significant digits of a positive finite number: digits (without point) and the
// power of ten of the first.
struct Digits15 {
    char digits[16] = {};
    int exponent = 0;
};

Digits15 SplitDigits(double magnitude)
{
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.14e", magnitude);
    Digits15 result;
    result.digits[0] = buffer[0];
    std::memcpy(result.digits + 1, buffer + 2, 14);
    result.exponent = std::atoi(buffer + 17);
    return result;
}

double FromDigits(const std::string& digits, int exponentOfLast)
{
    const std::string text = digits + "e" + std::to_string(exponentOfLast);
    return std::strtod(text.c_str(), nullptr);
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

constexpr std::array<std::string_view, 12> kMonthNames = { "JANUARY", "FEBRUARY", "MARCH", "APRIL", "MAY", "JUNE",
    "JULY", "AUGUST", "SEPTEMBER", "OCTOBER", "NOVEMBER", "DECEMBER" };

// A month's name, whole or its first three letters.
int MonthNamed(std::string_view word)
{
    if (word.size() < 3)
        return 0;
    for (size_t m = 0; m < kMonthNames.size(); ++m) {
        const std::string_view name = kMonthNames[m];
        if (word.size() <= name.size() && (word.size() == 3 || word.size() == name.size())
            && EqualIgnoringCase(word, name.substr(0, word.size())))
            return static_cast<int>(m + 1);
    }
    return 0;
}

// Reads a time of day "13:30", "1:30:15.5", "1:30 PM" at text[at]; the fraction of a day.
bool ReadTime(std::string_view text, size_t& at, double& fraction)
{
    const auto number = [&](double& value, bool allowFraction) {
        const size_t start = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9')
            ++at;
        if (allowFraction && at < text.size() && text[at] == '.') {
            ++at;
            while (at < text.size() && text[at] >= '0' && text[at] <= '9')
                ++at;
        }
        if (at == start || at - start > 9)
            return false;
        value = std::strtod(std::string(text.substr(start, at - start)).c_str(), nullptr);
        return true;
    };
    double hours = 0, minutes = 0, seconds = 0;
    if (!number(hours, false) || at >= text.size() || text[at] != ':')
        return false;
    ++at;
    if (!number(minutes, false) || minutes >= 60)
        return false;
    if (at < text.size() && text[at] == ':') {
        ++at;
        if (!number(seconds, true) || seconds >= 60)
            return false;
    }
    size_t probe = at;
    while (probe < text.size() && text[probe] == ' ')
        ++probe;
    if (probe + 1 < text.size() + 1 && probe < text.size()) {
        const std::string_view rest = text.substr(probe);
        const auto meridiem = [&](std::string_view word) {
            return rest.size() >= word.size() && EqualIgnoringCase(rest.substr(0, word.size()), word);
        };
        bool pm = false;
        size_t length = 0;
        if (meridiem("AM"))
            length = 2;
        else if (meridiem("PM"))
            length = 2, pm = true;
        else if (meridiem("A"))
            length = 1;
        else if (meridiem("P"))
            length = 1, pm = true;
        if (length > 0) {
            if (hours < 1 || hours > 12)
                return false;
            hours = std::fmod(hours, 12) + (pm ? 12 : 0);
            at = probe + length;
        }
    }
    fraction = (hours * 3600 + minutes * 60 + seconds) / 86400;
    return true;
}

// Reads a date at text[at]: 2024-03-01, 2024/3/1, 3/1/2024, 3/1/24, 1-Mar-2024, 1 March 2024,
// March 1, 2024.
bool ReadDate(std::string_view text, size_t& at, int& year, int& month, int& day)
{
    const auto integer = [&](int& value, size_t maxDigits) {
        const size_t start = at;
        int v = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < maxDigits)
            v = v * 10 + (text[at++] - '0');
        value = v;
        return at > start;
    };
    const auto word = [&]() {
        const size_t start = at;
        while (at < text.size() && ((text[at] >= 'a' && text[at] <= 'z') || (text[at] >= 'A' && text[at] <= 'Z')))
            ++at;
        return text.substr(start, at - start);
    };
    const auto twoDigitYear = [](int y, size_t digits) { return digits <= 2 ? (y < 30 ? 2000 + y : 1900 + y) : y; };
    const size_t start = at;
    int first = 0;
    if (integer(first, 4)) {
        const size_t firstDigits = at - start;
        if (at >= text.size())
            return false;
        const char separator = text[at];
        if (separator != '-' && separator != '/' && separator != ' ')
            return false;
        ++at;
        if (firstDigits == 4) { // year first
            int m = 0, d = 0;
            if (!integer(m, 2) || at >= text.size() || text[at] != separator)
                return false;
            ++at;
            if (!integer(d, 2))
                return false;
            year = first, month = m, day = d;
            return true;
        }
        int second = 0;
        const size_t secondStart = at;
        if (integer(second, 2)) { // month/day/year
            if (at - secondStart == 0 || at >= text.size() || text[at] != separator || separator == ' ')
                return false;
            ++at;
            const size_t yearStart = at;
            int y = 0;
            if (!integer(y, 4))
                return false;
            year = twoDigitYear(y, at - yearStart), month = first, day = second;
            return true;
        }
        const int m = MonthNamed(word()); // day-month-year
        if (m == 0 || at >= text.size() || (text[at] != separator && text[at] != ' '))
            return false;
        ++at;
        const size_t yearStart = at;
        int y = 0;
        if (!integer(y, 4))
            return false;
        year = twoDigitYear(y, at - yearStart), month = m, day = first;
        return true;
    }
    const int m = MonthNamed(word()); // March 1, 2024
    if (m == 0 || at >= text.size() || text[at] != ' ')
        return false;
    ++at;
    int d = 0;
    if (!integer(d, 2))
        return false;
    if (at < text.size() && text[at] == ',')
        ++at;
    while (at < text.size() && text[at] == ' ')
        ++at;
    const size_t yearStart = at;
    int y = 0;
    if (!integer(y, 4))
        return false;
    year = twoDigitYear(y, at - yearStart), month = m, day = d;
    return true;
}

bool ReadPlainNumber(std::string_view text, double& number)
{
    // Sign, currency, parentheses and percent around digits with groups of three.
    bool negative = false;
    bool parentheses = false;
    bool percent = false;
    size_t at = 0;
    const auto skipSpaces = [&]() {
        while (at < text.size() && text[at] == ' ')
            ++at;
    };
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
        negative = text[at] == '-';
        ++at;
    } else if (at < text.size() && text[at] == '(') {
        parentheses = true;
        ++at;
    }
    skipSpaces();
    if (at < text.size() && text[at] == '$') {
        ++at;
        skipSpaces();
    }
    if (!negative && !parentheses && at < text.size() && (text[at] == '-' || text[at] == '+')) {
        negative = text[at] == '-';
        ++at;
    }
    std::string digits;
    size_t groupDigits = 0;
    bool grouped = false;
    bool any = false;
    while (at < text.size()) {
        const char c = text[at];
        if (c >= '0' && c <= '9') {
            digits.push_back(c);
            ++groupDigits;
            any = true;
            ++at;
        } else if (c == ',' && any && (!grouped || groupDigits == 3)) {
            grouped = true;
            groupDigits = 0;
            ++at;
        } else {
            break;
        }
    }
    if (grouped && groupDigits != 3)
        return false;
    if (at < text.size() && text[at] == '.') {
        digits.push_back('.');
        ++at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            digits.push_back(text[at++]);
            any = true;
        }
    }
    if (!any)
        return false;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        size_t probe = at + 1;
        std::string exponent = "e";
        if (probe < text.size() && (text[probe] == '+' || text[probe] == '-'))
            exponent.push_back(text[probe++]);
        const size_t exponentStart = probe;
        while (probe < text.size() && text[probe] >= '0' && text[probe] <= '9')
            exponent.push_back(text[probe++]);
        if (probe == exponentStart)
            return false;
        digits += exponent;
        at = probe;
    }
    skipSpaces();
    if (at < text.size() && text[at] == '%') {
        percent = true;
        ++at;
        skipSpaces();
    }
    if (parentheses) {
        if (at >= text.size() || text[at] != ')')
            return false;
        ++at;
        negative = true;
    }
    skipSpaces();
    if (at != text.size())
        return false;
    number = std::strtod(digits.c_str(), nullptr);
    if (!std::isfinite(number))
        return false;
    if (percent)
        number /= 100;
    if (negative)
        number = -number;
    return true;
}

} // namespace

char32_t UpperOf(char32_t c)
{
    if (c >= 'a' && c <= 'z')
        return c - 32;
    if (c < 0x80)
        return c;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return c - 32;
    if (c == 0xFF)
        return 0x178;
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) {
        const bool oddLower = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (oddLower ? (c % 2 == 0) : (c % 2 == 1))
            return c - 1;
        return c;
    }
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2)
        return c - 32;
    if (c >= 0x430 && c <= 0x44F)
        return c - 32;
    if (c >= 0x450 && c <= 0x45F)
        return c - 80;
    return c;
}

char32_t LowerOf(char32_t c)
{
    if (c >= 'A' && c <= 'Z')
        return c + 32;
    if (c < 0x80)
        return c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return c + 32;
    if (c == 0x178)
        return 0xFF;
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) {
        const bool oddLower = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (oddLower ? (c % 2 == 1) : (c % 2 == 0))
            return c + 1;
        return c;
    }
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2)
        return c + 32;
    if (c >= 0x410 && c <= 0x42F)
        return c + 32;
    if (c >= 0x400 && c <= 0x40F)
        return c + 80;
    return c;
}

std::string UpperText(std::string_view text)
{
    return MapCase(text, UpperOf);
}

std::string LowerText(std::string_view text)
{
    return MapCase(text, LowerOf);
}

bool EqualIgnoringCase(std::string_view a, std::string_view b)
{
    return CompareTextIgnoringCase(a, b) == 0;
}

int CompareTextIgnoringCase(std::string_view a, std::string_view b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const char32_t x = LowerOf(NextCodePoint(a, i));
        const char32_t y = LowerOf(NextCodePoint(b, j));
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

std::u16string ToUtf16(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const char32_t c = NextCodePoint(text, at);
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::string ToUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD; // half of a pair, cut off by a count of units
        }
        AppendUtf8(c, out);
    }
    return out;
}

size_t Utf16Length(std::string_view text)
{
    size_t length = 0;
    for (size_t at = 0; at < text.size();)
        length += NextCodePoint(text, at) >= 0x10000 ? 2 : 1;
    return length;
}

std::string NumberToText(double number)
{
    if (!std::isfinite(number))
        return "#NUM!";
    if (number == 0)
        return "0";
    std::string out;
    if (number < 0)
        out.push_back('-');
    const Digits15 d = SplitDigits(std::fabs(number));
    std::string digits(d.digits, 15);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    const int exponent = d.exponent;
    if (exponent >= -5 && exponent < 15) {
        if (exponent < 0) {
            out += "0.";
            out.append(static_cast<size_t>(-exponent - 1), '0');
            out += digits;
        } else if (static_cast<int>(digits.size()) <= exponent + 1) {
            out += digits;
            out.append(static_cast<size_t>(exponent + 1) - digits.size(), '0');
        } else {
            out += digits.substr(0, static_cast<size_t>(exponent + 1));
            out.push_back('.');
            out += digits.substr(static_cast<size_t>(exponent + 1));
        }
        return out;
    }
    out.push_back(digits[0]);
    if (digits.size() > 1) {
        out.push_back('.');
        out += digits.substr(1);
    }
    char exponentText[16];
    std::snprintf(exponentText, sizeof exponentText, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    out += exponentText;
    return out;
}

bool TextToNumber(std::string_view text, double& number, numfmt::DateSystem system)
{
    while (!text.empty() && IsSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back()))
        text.remove_suffix(1);
    if (text.empty() || text.size() > 255)
        return false;
    if (ReadPlainNumber(text, number))
        return true;
    // A date, a time, or a date and a time.
    size_t at = 0;
    int year = 0, month = 0, day = 0;
    double serial = 0;
    bool dated = false;
    if (ReadDate(text, at, year, month, day)) {
        if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
            return false;
        if (!SerialOfDate(year, month, day, system, serial))
            return false;
        dated = true;
        while (at < text.size() && text[at] == ' ')
            ++at;
        if (at == text.size()) {
            number = serial;
            return true;
        }
    } else {
        at = 0;
    }
    double fraction = 0;
    if (!ReadTime(text, at, fraction))
        return false;
    while (at < text.size() && text[at] == ' ')
        ++at;
    if (at != text.size())
        return false;
    number = (dated ? serial : 0) + fraction;
    return true;
}

bool IsLeapYear(int64_t year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int64_t year, int month)
{
    constexpr int kDays[] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    if (month < 1 || month > 12)
        return 0;
    return kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

namespace {

// Days from 1970-01-01 to a proleptic Gregorian date (Howard Hinnant's days-from-civil).
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day)
{
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(int64_t days, int& year, int& month, int& day)
{
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthPart = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * monthPart + 2) / 5 + 1);
    month = static_cast<int>(monthPart < 10 ? monthPart + 3 : monthPart - 9);
    year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

const int64_t kDay1900 = DaysFromCivil(1899, 12, 31);
const int64_t kMarch1900 = DaysFromCivil(1900, 3, 1);
const int64_t kDay1904 = DaysFromCivil(1904, 1, 1);
constexpr double kLastSerial1900 = 2958465; // 9999-12-31

} // namespace

bool SerialOfDate(int64_t year, int64_t month, int64_t day, numfmt::DateSystem system, double& serial)
{
    if (year < 0 || year > 9999)
        return false;
    if (year < 1900)
        year += 1900;
    // Months before 1 or past 12 run into the years around.
    year += (month - 1 >= 0 ? (month - 1) / 12 : -((12 - month) / 12));
    month = ((month - 1) % 12 + 12) % 12 + 1;
    if (year < 0 || year > 9999 + 100)
        return false;
    const int64_t firstOfMonth = DaysFromCivil(year, month, 1);
    double value = 0;
    if (system == numfmt::DateSystem::Date1904) {
        value = static_cast<double>(firstOfMonth - kDay1904 + day - 1);
    } else {
        // The first of a month counts the 29 February 1900 that never was from March on;
        // days are then added to the serial, so that 1900-03-00 is that day.
        value = static_cast<double>(firstOfMonth - kDay1900 + (firstOfMonth >= kMarch1900 ? 1 : 0) + day - 1);
    }
    const double last = system == numfmt::DateSystem::Date1904 ? kLastSerial1900 - 1462 : kLastSerial1900;
    if (value < 0 || value > last)
        return false;
    serial = value;
    return true;
}

bool DateOfSerial(double serial, numfmt::DateSystem system, int& year, int& month, int& day)
{
    const double last = system == numfmt::DateSystem::Date1904 ? kLastSerial1900 - 1462 : kLastSerial1900;
    if (!(serial >= 0) || serial >= last + 1)
        return false;
    const auto whole = static_cast<int64_t>(std::floor(serial));
    if (system == numfmt::DateSystem::Date1904) {
        CivilFromDays(kDay1904 + whole, year, month, day);
        return true;
    }
    if (whole == 0) {
        year = 1900, month = 1, day = 0;
        return true;
    }
    if (whole == 60) {
        year = 1900, month = 2, day = 29;
        return true;
    }
    CivilFromDays(kDay1900 + whole - (whole > 60 ? 1 : 0), year, month, day);
    return true;
}

double SignificantDigits15(double number)
{
    if (!std::isfinite(number) || number == 0)
        return number;
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.14e", number);
    return std::strtod(buffer, nullptr);
}

double RoundToDigits(double number, int64_t digits, Rounding rounding)
{
    if (!std::isfinite(number) || number == 0)
        return number;
    digits = std::clamp<int64_t>(digits, -400, 400);
    const bool negative = number < 0;
    const Digits15 d = SplitDigits(std::fabs(number));
    const int64_t keep = d.exponent + digits + 1; // digits kept of the 15
    if (keep >= 15)
        return number;
    const std::string all(d.digits, 15);
    const auto anyNonZero = [&](size_t from) { return all.find_first_not_of('0', from) != std::string::npos; };
    double magnitude = 0;
    if (keep < 0 || (keep == 0 && rounding == Rounding::Nearest && all[0] < '5')) {
        magnitude = rounding == Rounding::Up ? std::pow(10.0, static_cast<double>(-digits)) : 0;
    } else if (keep == 0) {
        magnitude = rounding == Rounding::Down ? 0 : std::pow(10.0, static_cast<double>(-digits));
    } else {
        std::string kept = all.substr(0, static_cast<size_t>(keep));
        const bool up = rounding == Rounding::Nearest ? all[static_cast<size_t>(keep)] >= '5'
            : rounding == Rounding::Up                ? anyNonZero(static_cast<size_t>(keep))
                                                      : false;
        if (up) {
            int i = static_cast<int>(kept.size()) - 1;
            while (i >= 0 && kept[static_cast<size_t>(i)] == '9')
                kept[static_cast<size_t>(i--)] = '0';
            if (i < 0)
                kept.insert(kept.begin(), '1');
            else
                ++kept[static_cast<size_t>(i)];
        }
        magnitude = FromDigits(kept, static_cast<int>(-digits));
    }
    return negative ? -magnitude : magnitude;
}

} // namespace vellumcast::spreadsheet::formula
