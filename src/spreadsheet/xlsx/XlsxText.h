#pragma once
// Small text decoders of the Office Open XML spreadsheet format, apart from the reader so
// they can be tested on their own.

#include "spreadsheet/numfmt/NumberFormat.h"

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

namespace vellumcast::spreadsheet::xlsx {

// An attribute's boolean: "1", "true" or "on".
inline bool IsTrue(std::string_view value)
{
    return value == "1" || value == "true" || value == "on";
}

// The whole of text as an integer; false when it is not one or does not fit.
template <typename Integer> bool ParseInteger(std::string_view text, Integer& value)
{
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

// Appends text with its "_xHHHH_" escapes decoded to UTF-8 ("_x000D_" is a carriage
// return, "_x005F_" an underscore, surrogate pairs joined). Anything else stays as is.
void AppendUnescaped(std::string_view text, std::string& out);

// True when text holds something AppendUnescaped would change.
inline bool HasEscapes(std::string_view text)
{
    return text.find("_x") != std::string_view::npos;
}

// Reads a reference such as "BC12". Values beyond the sheet limits are returned as they
// are (saturated at a large number) so that the caller reports them; false when the text
// is no reference at all.
bool ParseCellReference(std::string_view reference, int32_t& row, int32_t& column);

// The serial number of an ISO 8601 date, date-time or time ("2021-01-02", "2021-01-02T10:30:00Z",
// "10:30:00") in the workbook's date system; false when the text is none of them.
bool IsoDateToSerial(std::string_view text, numfmt::DateSystem system, double& serial);

} // namespace vellumcast::spreadsheet::xlsx
