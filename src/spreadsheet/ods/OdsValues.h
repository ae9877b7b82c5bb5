#pragma once
// The raw text of an OpenDocument cell's value, read from the attributes that record it
// beside the displayed paragraphs (office:value, office:date-value, office:time-value,
// office:boolean-value), written as the engine writes raw values of other formats.

#include <string>
#include <string_view>

namespace vellumcast::spreadsheet::ods {

enum class OdsValueKind {
    None, // no value beside the text, or one that cannot be read: the text stands
    Value, // a number (a duration as its number of days), TRUE or FALSE
    Date, // a date, a date and time, or a time of day in ISO 8601
};

// The value of a cell of office:value-type type, from its attribute value (office:value,
// office:date-value, office:time-value or office:boolean-value as the type asks), its raw
// text appended to out:
// - float, percentage, currency: the shortest decimal that reads back as the number;
// - date: "2026-12-09" or "2026-12-09T14:05:00" as recorded, fractions of a second
//   without trailing zeros;
// - time: a duration such as PT14H05M00S is the time of day "14:05:00" when it is under
//   a day, else (or negative) its number of days, as a duration format's value is;
// - boolean: TRUE or FALSE.
// Strings and anything malformed give None and append nothing.
OdsValueKind AppendOdsValue(std::string_view type, std::string_view value, std::string& out);

} // namespace vellumcast::spreadsheet::ods
