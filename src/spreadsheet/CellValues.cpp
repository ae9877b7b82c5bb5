// Raw cell texts over the raw number and ISO date writers of numfmt/.
#include "spreadsheet/CellValues.h"

#include "spreadsheet/numfmt/RawValue.h"

namespace vellumcast::spreadsheet {

bool TakesRawText(CellTextStyle style, const Cell& cell, const numfmt::NumberFormat& format)
{
    switch (style) {
    case CellTextStyle::Displayed:
        return false;
    case CellTextStyle::IsoDates:
        return cell.kind == CellKind::Number && format.IsDateOrTimeFormat();
    case CellTextStyle::Raw:
        return true;
    }
    return false;
}

std::string_view RawCellText(const Cell& cell, std::string_view storedText, const numfmt::NumberFormat& format,
    numfmt::DateSystem system, std::string& scratch)
{
    switch (cell.kind) {
    case CellKind::Blank:
        return {};
    case CellKind::Number:
        scratch.clear();
        numfmt::AppendRawValue(cell.value.number, format, system, scratch);
        return scratch;
    case CellKind::SharedString:
    case CellKind::String:
    case CellKind::TextWithValue:
    case CellKind::TextWithDate:
    case CellKind::DisplayedNumber:
        return storedText;
    case CellKind::Boolean:
        return cell.value.number != 0 ? "TRUE" : "FALSE";
    case CellKind::Error:
        return CellErrorText(cell.errorCode);
    }
    return {};
}

} // namespace vellumcast::spreadsheet
