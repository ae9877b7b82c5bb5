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
// trailing zeros (and a point left alone) dropped.
bool AppendDate(std::string_view text, std::string& out)
{
    int year = 0, month = 0, day = 0;
    if (!Digits(text, 0, 4, year) || text.size() < 10 || text[4] != '-' || !Digits(text, 5, 2, month) || text[7] != '-'
        || !Digits(text, 8, 2, day) || month < 1 || month > 12 || day < 1 || day > 31)
        return false;
    if (text.size() == 10) {
        out.append(text);
        return true;
    }
    int hours = 0, minutes = 0, seconds = 0;
    if (text.size() < 19 || text[10] != 'T' || !Digits(text, 11, 2, hours) || text[13] != ':'
        || !Digits(text, 14, 2, minutes) || text[16] != ':' || !Digits(text, 17, 2, seconds) || hours > 23
        || minutes > 59 || seconds > 59)
        return false;
    std::string_view fraction = text.substr(19);
    if (!fraction.empty()) {
        if (fraction[0] != '.' || fraction.size() < 2)
            return false;
        for (const char c : fraction.substr(1)) {
            if (!Digit(c))
                return false;
        }
        while (fraction.back() == '0')
            fraction.remove_suffix(1);
        if (fraction.size() == 1)
            fraction = {};
    }
    out.append(text.substr(0, 19));
    out.append(fraction);
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

// Whether text is a number written as the engine writes raw numbers already: an optional
// minus, an integer part without leading zeros, a fraction without trailing zeros, at most
// 15 significant digits, at least 0.0001 and not zero when negative. Such a decimal is the
// shortest that reads back as its double (15 digits always do, and no shorter decimal
// reads as the same double), so it needs no conversion: most files write their values so,
// and converting every cell's value while loading would slow every export.
bool IsRawNumberAlready(std::string_view text)
{
    size_t at = text.empty() || text[0] != '-' ? 0 : 1;
    const bool negative = at == 1;
    const size_t integerStart = at;
    while (at < text.size() && Digit(text[at]))
        ++at;
    const size_t integerDigits = at - integerStart;
    if (integerDigits == 0 || (integerDigits > 1 && text[integerStart] == '0'))
        return false;
    const bool integerZero = text[integerStart] == '0';
    size_t significant = integerZero ? 0 : integerDigits;
    if (at == text.size())
        return significant <= 15 && !(negative && integerZero);
    if (text[at] != '.' || at + 1 == text.size() || text.back() == '0')
        return false;
    size_t leadingZeros = 0;
    for (size_t i = at + 1; i < text.size(); ++i) {
        if (!Digit(text[i]))
            return false;
        if (significant == 0 && text[i] == '0')
            ++leadingZeros;
        else
            ++significant;
    }
    return significant <= 15 && leadingZeros < 4;
}

} // namespace

OdsValueKind AppendOdsValue(std::string_view type, std::string_view value, std::string& out)
{
    if (type == "float" || type == "percentage" || type == "currency") {
        if (IsRawNumberAlready(value)) {
            out.append(value);
            return OdsValueKind::Value;
        }
        const auto number = Number(value);
        if (!number)
            return OdsValueKind::None;
        numfmt::AppendRawNumber(*number, out);
        return OdsValueKind::Value;
    }
    if (type == "date")
        return AppendDate(value, out) ? OdsValueKind::Date : OdsValueKind::None;
    if (type == "time") {
        const auto days = Duration(value);
        if (!days)
            return OdsValueKind::None;
        if (*days >= 0 && *days < 1
            && numfmt::AppendIsoDateTime(*days, numfmt::DateTimeParts::Time, numfmt::DateSystem::Date1900, out))
            return OdsValueKind::Date;
        numfmt::AppendRawNumber(*days, out);
        return OdsValueKind::Value;
    }
    if (type == "boolean") {
        if (value == "true" || value == "1") {
            out += "TRUE";
            return OdsValueKind::Value;
        }
        if (value == "false" || value == "0") {
            out += "FALSE";
            return OdsValueKind::Value;
        }
    }
    return OdsValueKind::None;
}

} // namespace vellumcast::spreadsheet::ods
