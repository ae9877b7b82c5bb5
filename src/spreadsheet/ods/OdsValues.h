#pragma once
// The raw text of an OpenDocument cell's value, read from the attributes that record it
// beside the displayed paragraphs (office:value, office:date-value, office:time-value,
// office:boolean-value), written as the engine writes raw values of other formats.

#include <cstdint>
#include <string>
#include <string_view>

namespace vellumcast::spreadsheet::ods {

enum class OdsValueKind {
    None, // no value beside the text, or one that cannot be read: the text stands
    Value, // a number (a duration as its number of days), TRUE or FALSE
    Date, // a date, a date and time, or a time of day in ISO 8601
};

// The office:value-type of a cell, as far as its value goes: the attribute that records
// the value, and how its raw text is read.
enum class OdsValueType : uint8_t {
    None, // no type, or one unknown: no value
    Number, // float, percentage, currency: office:value
    Date, // office:date-value
    Time, // office:time-value
    Boolean, // office:boolean-value
    String, // office:string-value, a text and no value
};

OdsValueType OdsValueTypeOf(std::string_view type);

struct OdsValue {
    OdsValueKind kind = OdsValueKind::None;
    // The raw text is the attribute as written, nothing appended: most files write their
    // numbers, dates and times of day as the raw texts are written, so that keeping a
    // cell's value costs no conversion.
    bool asWritten = false;
};

// The value of a cell of that type from its attribute as written, as AppendOdsValue
// gives it; when that is the written text itself, asWritten and nothing appended. A time
// whose cell shows a duration (a style counting past a day, such as [HH]:MM) is its
// number of days even under a day, as the same cell of an xlsx is.
OdsValue ReadOdsValue(OdsValueType type, std::string_view written, std::string& out, bool duration = false);

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
