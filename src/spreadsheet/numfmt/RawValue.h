#pragma once
// The raw text of a number, as a program reading the output would want it rather than as
// the spreadsheet application displays it: the shortest decimal that reads back as the
// same double, or, under a date or time format, the point in time in ISO 8601.

#include "spreadsheet/numfmt/NumberFormat.h"

#include <string>

namespace vellumcast::spreadsheet::numfmt {

// Appends the shortest decimal that reads back (strtod, from_chars) as exactly this double.
// Magnitudes from 1e-5 up to but not including 1e21 are written plainly ("0.00001",
// "123.45", "9007199254740992", the shortest digits padded with zeros past them); others
// with an exponent of at least two digits, a sign and an upper-case E, as the General
// format writes them ("1E+21", "1.5E-07", "5E-324").
// Negative zero is written "0"; NaN and the infinities, which no cell can hold, "#NUM!" as
// the displayed text shows them.
void AppendRawNumber(double value, std::string& out);

// Appends a serial of the date system in ISO 8601: "2026-12-09" for Date,
// "14:05:00" for Time (the time of day: whole days are dropped) and
// "2026-12-09T14:05:00" for DateAndTime. The time is rounded to the millisecond, and the
// fraction of a second written only when the rounded value has one, without trailing
// zeros ("14:05:00.25"); rounding may carry into the next day. Serial 0 of the 1900
// system is 1899-12-31, the day before serial 1. Returns false, appending nothing, for
// parts that are not a date or time, a negative or non-finite serial, a serial past
// 9999-12-31, and a date on serial 60 of the 1900 system: the day 1900-02-29 the
// application counts but that never was has no ISO form.
bool AppendIsoDateTime(double serial, DateTimeParts parts, DateSystem system, std::string& out);

// Appends the raw text of a number cell with this format: the ISO date or time when the
// format shows dates or times and the serial has one, the raw number otherwise (elapsed
// formats included: a duration is written as its number of days).
void AppendRawValue(double value, const NumberFormat& format, DateSystem system, std::string& out);

} // namespace vellumcast::spreadsheet::numfmt
