#include "spreadsheet/ods/OdsValues.h"

#include "spreadsheet/numfmt/RawValue.h"

#include <charconv>
#include <cmath>
#include <optional>

namespace vellumcast::spreadsheet::ods {

namespace {

bool Digit(char c)
{
    return c >= '0' && c <= '9';
}

// Reads exactly count digits at text[at] into number.
bool Digits(std::string_view text, size_t at, size_t count, int& number)
{
    if (at + count > text.size())
        return false;
    number = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (!Digit(text[i]))
            return false;
        number = number * 10 + (text[i] - '0');
    }
    return true;
}

std::optional<double> Number(std::string_view text)
{
    double value = 0;
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (failure != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// YYYY-MM-DD, then optionally THH:MM:SS and a fraction: as recorded, the fraction's
// trailing zeros (and a point left alone) dropped. None when the text is no such date;
// asWritten when nothing is dropped.
OdsValue ReadDate(std::string_view text, std::string& out)
{
    int year = 0, month = 0, day = 0;
    if (!Digits(text, 0, 4, year) || text.size() < 10 || text[4] != '-' || !Digits(text, 5, 2, month) || text[7] != '-'
        || !Digits(text, 8, 2, day) || month < 1 || month > 12 || day < 1 || day > 31)
        return {};
    if (text.size() == 10)
        return { OdsValueKind::Date, true };
    int hours = 0, minutes = 0, seconds = 0;
    if (text.size() < 19 || text[10] != 'T' || !Digits(text, 11, 2, hours) || text[13] != ':'
        || !Digits(text, 14, 2, minutes) || text[16] != ':' || !Digits(text, 17, 2, seconds) || hours > 23
        || minutes > 59 || seconds > 59)
        return {};
    std::string_view fraction = text.substr(19);
    if (fraction.empty())
        return { OdsValueKind::Date, true };
    if (fraction[0] != '.' || fraction.size() < 2)
        return {};
    for (const char c : fraction.substr(1)) {
        if (!Digit(c))
            return {};
    }
    if (fraction.back() != '0')
        return { OdsValueKind::Date, true };
    while (fraction.back() == '0')
        fraction.remove_suffix(1);
    if (fraction.size() == 1)
        fraction = {};
    out.append(text.substr(0, 19));
    out.append(fraction);
    return { OdsValueKind::Date, false };
}

// A time of day as most files write it, PTnnHnnMnnS with whole hours under 24 and whole
// minutes and seconds under 60 (one or two digits each), appended as HH:MM:SS; false,
// appending nothing, for any other duration.
bool AppendPlainTimeOfDay(std::string_view text, std::string& out)
{
    if (text.size() < 8 || text[0] != 'P' || text[1] != 'T')
        return false;
    int fields[3] = {};
    // PTnnHnnMnnS with two digits each, as most files write it, is read in place.
    if (text.size() == 11 && text[4] == 'H' && text[7] == 'M' && text[10] == 'S') {
        bool twoDigitFields = true;
        for (const size_t at : { size_t { 2 }, size_t { 5 }, size_t { 8 } })
            twoDigitFields = twoDigitFields && Digit(text[at]) && Digit(text[at + 1]);
        if (twoDigitFields) {
            fields[0] = (text[2] - '0') * 10 + (text[3] - '0');
            fields[1] = (text[5] - '0') * 10 + (text[6] - '0');
            fields[2] = (text[8] - '0') * 10 + (text[9] - '0');
            if (fields[0] > 23 || fields[1] > 59 || fields[2] > 59)
                return false;
            const char shown[8] = { text[2], text[3], ':', text[5], text[6], ':', text[8], text[9] };
            out.append(shown, sizeof shown);
            return true;
        }
    }
    size_t at = 2;
    const char units[3] = { 'H', 'M', 'S' };
    for (int i = 0; i < 3; ++i) {
        const size_t start = at;
        while (at < text.size() && at - start < 3 && Digit(text[at]))
            fields[i] = fields[i] * 10 + (text[at++] - '0');
        if (at == start || at - start > 2 || at == text.size() || text[at] != units[i])
            return false;
        ++at;
    }
    if (at != text.size() || fields[0] > 23 || fields[1] > 59 || fields[2] > 59)
        return false;
    const char shown[8] = { static_cast<char>('0' + fields[0] / 10), static_cast<char>('0' + fields[0] % 10), ':',
        static_cast<char>('0' + fields[1] / 10), static_cast<char>('0' + fields[1] % 10), ':',
        static_cast<char>('0' + fields[2] / 10), static_cast<char>('0' + fields[2] % 10) };
    out.append(shown, sizeof shown);
    return true;
}

// An ISO 8601 duration as OpenDocument records times: [-]P[nD]T[nH][nM][n[.n]S], in days.
std::optional<double> Duration(std::string_view text)
{
    bool negative = false;
    if (!text.empty() && text[0] == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    if (text.empty() || text[0] != 'P')
        return std::nullopt;
    text.remove_prefix(1);
    double seconds = 0;
    bool inTime = false;
    bool any = false;
    while (!text.empty()) {
        if (text[0] == 'T' && !inTime) {
            inTime = true;
            text.remove_prefix(1);
            continue;
        }
        size_t end = 0;
        while (end < text.size() && (Digit(text[end]) || text[end] == '.'))
            ++end;
        if (end == 0 || end == text.size())
            return std::nullopt;
        const auto number = Number(text.substr(0, end));
        if (!number)
            return std::nullopt;
        const char unit = text[end];
        if (unit == 'D' && !inTime)
            seconds += *number * 86400;
        else if (unit == 'H' && inTime)
            seconds += *number * 3600;
        else if (unit == 'M' && inTime)
            seconds += *number * 60;
        else if (unit == 'S' && inTime)
            seconds += *number;
        else
            return std::nullopt;
        any = true;
        text.remove_prefix(end + 1);
    }
    if (!any)
        return std::nullopt;
    return (negative ? -seconds : seconds) / 86400;
}

// How much of text is a number written as the engine writes raw numbers: an optional
// minus, an integer part without leading zeros, a fraction whose trailing zeros (and a
// point left alone) are left out, at most 15 significant digits, at least 0.0001 and not
// zero when negative. Such a decimal is the shortest that reads back as its double (15
// digits always do, and no shorter decimal reads as the same double), so it needs no
// conversion: most files write their values so, and converting every cell's value while
// loading would slow every export. 0 when the number must be read and written again.
size_t RawNumberLength(std::string_view text)
{
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    const char* p = begin;
    const bool negative = p < end && *p == '-';
    if (negative)
        ++p;
    const char* const integerStart = p;
    while (p < end && Digit(*p))
        ++p;
    const auto integerDigits = static_cast<size_t>(p - integerStart);
    if (integerDigits == 0 || integerDigits > 15 || (integerDigits > 1 && *integerStart == '0'))
        return 0;
    const bool integerZero = *integerStart == '0';
    if (p == end)
        return negative && integerZero ? 0 : text.size();
    if (*p != '.' || p + 1 == end)
        return 0;
    const char* const point = p;
    const char* firstNonZero = nullptr;
    const char* lastNonZero = nullptr;
    for (++p; p < end; ++p) {
        if (!Digit(*p))
            return 0;
        if (*p != '0') {
            if (!firstNonZero)
                firstNonZero = p;
            lastNonZero = p;
        }
    }
    if (!lastNonZero) // a whole number: "12.00" is 12
        return negative && integerZero ? 0 : static_cast<size_t>(point - begin);
    size_t significant = integerDigits + static_cast<size_t>(lastNonZero - point);
    if (integerZero) {
        if (firstNonZero - point > 4) // under 0.0001
            return 0;
        significant = static_cast<size_t>(lastNonZero - firstNonZero) + 1;
    }
    return significant <= 15 ? static_cast<size_t>(lastNonZero + 1 - begin) : 0;
}

} // namespace

OdsValueType OdsValueTypeOf(std::string_view type)
{
    // Told apart by their lengths first: every cell asks.
    switch (type.size()) {
    case 4:
        return type == "date" ? OdsValueType::Date : type == "time" ? OdsValueType::Time : OdsValueType::None;
    case 5:
        return type == "float" ? OdsValueType::Number : OdsValueType::None;
    case 6:
        return type == "string" ? OdsValueType::String : OdsValueType::None;
    case 7:
        return type == "boolean" ? OdsValueType::Boolean : OdsValueType::None;
    case 8:
        return type == "currency" ? OdsValueType::Number : OdsValueType::None;
    case 10:
        return type == "percentage" ? OdsValueType::Number : OdsValueType::None;
    default:
        return OdsValueType::None;
    }
}

OdsValue ReadOdsValue(OdsValueType type, std::string_view written, std::string& out, bool duration)
{
    switch (type) {
    case OdsValueType::Number: {
        const size_t raw = RawNumberLength(written);
        if (raw > 0 && raw == written.size())
            return { OdsValueKind::Value, true };
        if (raw > 0) {
            out.append(written.substr(0, raw));
            return { OdsValueKind::Value, false };
        }
        const auto number = Number(written);
        if (!number)
            return {};
        numfmt::AppendRawNumber(*number, out);
        return { OdsValueKind::Value, false };
    }
    case OdsValueType::Date:
        return ReadDate(written, out);
    case OdsValueType::Time: {
        if (!duration && AppendPlainTimeOfDay(written, out))
            return { OdsValueKind::Date, false };
        const auto days = Duration(written);
        if (!days)
            return {};
        if (!duration && *days >= 0 && *days < 1
            && numfmt::AppendIsoDateTime(*days, numfmt::DateTimeParts::Time, numfmt::DateSystem::Date1900, out))
            return { OdsValueKind::Date, false };
        numfmt::AppendRawNumber(*days, out);
        return { OdsValueKind::Value, false };
    }
    case OdsValueType::Boolean:
        if (written == "true" || written == "1") {
            out += "TRUE";
            return { OdsValueKind::Value, false };
        }
        if (written == "false" || written == "0") {
            out += "FALSE";
            return { OdsValueKind::Value, false };
        }
        return {};
    case OdsValueType::None:
    case OdsValueType::String:
        break;
    }
    return {};
}

OdsValueKind AppendOdsValue(std::string_view type, std::string_view value, std::string& out)
{
    const OdsValue read = ReadOdsValue(OdsValueTypeOf(type), value, out);
    if (read.asWritten)
        out.append(value);
    return read.kind;
}

} // namespace vellumcast::spreadsheet::ods
