#pragma once
// The text a cell gives in each of the ways an export can ask for it: as displayed, raw
// (what the cell holds, numbers unformatted and dates in ISO 8601), or as displayed with
// only its dates and times in ISO 8601.

#include "spreadsheet/Cell.h"
#include "spreadsheet/numfmt/NumberFormat.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace vellumcast::spreadsheet {

enum class CellTextStyle : uint8_t {
    Displayed, // as the spreadsheet application displays it
    IsoDates, // as displayed, but a number under a date or time format as in Raw
    Raw, // what the cell holds
};

// Whether the cell's text in this style is its raw text rather than its displayed one.
// Under IsoDates only numbers whose format shows dates or times are; a duration format
// ([h]:mm) still displays.
bool TakesRawText(CellTextStyle style, const Cell& cell, const numfmt::NumberFormat& format);

// The raw text of a cell (a formula's cached value alike): a number as
// numfmt::AppendRawValue writes it, a string as stored (storedText: the caller looks up
// shared strings; the format's text section is not applied), TRUE or FALSE, an error's code
// such as "#N/A", "" for a blank cell; a DisplayedNumber, whose value is gone, its text.
// The view is into storedText, a constant, or scratch.
std::string_view RawCellText(const Cell& cell, std::string_view storedText, const numfmt::NumberFormat& format,
    numfmt::DateSystem system, std::string& scratch);

} // namespace vellumcast::spreadsheet
