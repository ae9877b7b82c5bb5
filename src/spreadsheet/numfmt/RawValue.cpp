// Raw numbers through the shortest round-trip form of std::to_chars, and serials as ISO 8601
// dates and times.
#include "spreadsheet/numfmt/RawValue.h"

#include "spreadsheet/numfmt/NumberFormatParts.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace vellumcast::spreadsheet::numfmt {

namespace {

constexpr int64_t MillisecondsPerDay = 86'400'000;

// The serial of 9999-12-31, the last day a date can show.
int64_t LastSerial(DateSystem system)
{
    return system == DateSystem::Date1904 ? 2957003 : 2958465;
}

// The days since 1970-01-01 of a day serial; false for serial 60 of the 1900 system, the
// 1900-02-29 that system counts although the year had no such day.
bool DaysSince1970(int64_t serial, DateSystem system, int64_t& days)
{
    if (system == DateSystem::Date1904) {
        days = serial - 24107;
        return true;
    }
    if (serial == 60)
        return false;
    days = serial - (serial < 60 ? 25568 : 25569);
    return true;
}

void AppendPadded(int64_t value, int width, std::string& out)
{
    char digits[20];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0);
    for (int i = count; i < width; ++i)
        out += '0';
    while (count > 0)
        out += digits[--count];
}

void AppendDate(int64_t daysSince1970, std::string& out)
{
    int year = 0, month = 0, day = 0;
    CivilFromDays(daysSince1970, year, month, day);
    AppendPadded(year, 4, out);
    out += '-';
    AppendPadded(month, 2, out);
    out += '-';
    AppendPadded(day, 2, out);
}

void AppendTime(int64_t millisecondOfDay, std::string& out)
{
    const int64_t second = millisecondOfDay / 1000;
    AppendPadded(second / 3600, 2, out);
    out += ':';
    AppendPadded(second / 60 % 60, 2, out);
    out += ':';
    AppendPadded(second % 60, 2, out);
    int64_t fraction = millisecondOfDay % 1000;
    if (fraction == 0)
        return;
    int width = 3;
    for (; fraction % 10 == 0; fraction /= 10)
        --width;
    out += '.';
    AppendPadded(fraction, width, out);
}

// "-1.2345e+20" written out plainly: "-123450000000000000000". The exponent is not negative.
void AppendPlainFromScientific(const char* begin, const char* end, std::string& out)
{
    const char* e = std::find(begin, end, 'e');
    int exponent = 0;
    std::from_chars(e + (e[1] == '+' ? 2 : 1), end, exponent);
    if (*begin == '-')
        out += *begin++;
    std::string digits;
    for (const char* p = begin; p < e; ++p) {
        if (*p != '.')
            digits += *p;
    }
    const size_t integerDigits = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= integerDigits) {
        out += digits;
        out.append(integerDigits - digits.size(), '0');
    } else {
        out.append(digits, 0, integerDigits);
        out += '.';
        out.append(digits, integerDigits);
    }
}

} // namespace

void AppendRawNumber(double value, std::string& out)
{
    if (!std::isfinite(value)) {
        out += "#NUM!";
        return;
    }
    if (value == 0.0) { // negative zero too
        out += '0';
        return;
    }
    const double magnitude = std::fabs(value);
    // Plain: a sign, "0.0000" and 17 significant digits at most; exponent form is shorter.
    // From 10^15 to 10^21 too, so that whole numbers are written in full
    // (9007199254740992), as the loaders of databases take integers.
    char buffer[48];
    if (magnitude >= 1e15 && magnitude < 1e21) {
        // std::to_chars's fixed form would write every digit of the binary value
        // (123456789012345683968); the shortest digits are padded with zeros instead.
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
        AppendPlainFromScientific(buffer, result.ptr, out);
        return;
    }
    const bool plain = magnitude >= 1e-5 && magnitude < 1e15;
    const auto result = std::to_chars(
        buffer, buffer + sizeof buffer, value, plain ? std::chars_format::fixed : std::chars_format::scientific);
    std::replace(buffer, result.ptr, 'e', 'E');
    out.append(buffer, result.ptr);
}

bool AppendIsoDateTime(double serial, DateTimeParts parts, DateSystem system, std::string& out)
{
    if (parts != DateTimeParts::Date && parts != DateTimeParts::Time && parts != DateTimeParts::DateAndTime)
        return false;
    if (!(serial >= 0.0) || !(serial < static_cast<double>(LastSerial(system) + 1)))
        return false;
    const double wholeDays = std::floor(serial);
    int64_t day = static_cast<int64_t>(wholeDays);
    // To the microsecond first, then half up to the millisecond: a time whose decimal ends
    // in half a millisecond rounds up whichever side of it the binary serial falls.
    const int64_t microseconds = std::llround((serial - wholeDays) * (MillisecondsPerDay * 1000.0));
    int64_t millisecond = (microseconds + 500) / 1000;
    if (millisecond >= MillisecondsPerDay) {
        millisecond -= MillisecondsPerDay;
        ++day;
    }
    if (parts != DateTimeParts::Time) {
        int64_t daysSince1970 = 0;
        if (day > LastSerial(system) || !DaysSince1970(day, system, daysSince1970))
            return false;
        AppendDate(daysSince1970, out);
    }
    if (parts == DateTimeParts::DateAndTime)
        out += 'T';
    if (parts != DateTimeParts::Date)
        AppendTime(millisecond, out);
    return true;
}

void AppendRawValue(double value, const NumberFormat& format, DateSystem system, std::string& out)
{
    if (format.IsDateOrTimeFormat() && AppendIsoDateTime(value, format.DateTimeShown(), system, out))
        return;
    AppendRawNumber(value, out);
}

} // namespace vellumcast::spreadsheet::numfmt
