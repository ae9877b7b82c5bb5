#include "export/WalkCharges.h"

#include "core/Numbers.h"

#include <algorithm>

namespace vellumcast::exporting {

using spreadsheet::CellRange;
using spreadsheet::ErrorCode;
using spreadsheet::SpreadsheetError;
using spreadsheet::Worksheet;

namespace {

std::string CellName(int32_t row, int32_t column)
{
    std::string letters;
    for (int32_t c = column; c > 0; c = (c - 1) / 26)
        letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
    return letters + std::to_string(row);
}

std::string RangeName(const CellRange& range)
{
    return CellName(range.firstRow, range.firstColumn) + ":" + CellName(range.lastRow, range.lastColumn);
}

// The used range cut after the last row and the last column that hold a value; at least
// its first cell.
CellRange ContentRange(Worksheet& sheet, const CellRange& range)
{
    CellRange content { range.firstRow, range.firstColumn, range.firstRow, range.firstColumn };
    const spreadsheet::RowBatch rows = sheet.Rows();
    for (size_t r = 0; r < rows.RowCount(); ++r) {
        for (size_t i = rows.CellsBegin(r); i < rows.CellsEnd(r); ++i) {
            const spreadsheet::Cell& cell = rows.CellAt(i);
            if (cell.kind == spreadsheet::CellKind::Blank)
                continue;
            content.lastRow = std::max(content.lastRow, rows.RowNumber(r));
            content.lastColumn = std::max<int32_t>(content.lastColumn, cell.column);
        }
    }
    return content;
}

// The parts of range that content leaves out: the columns right of it, beside its rows,
// and the rows below it, across the whole range.
std::string LeftOut(const CellRange& range, const CellRange& content)
{
    std::string parts;
    if (content.lastColumn < range.lastColumn)
        parts = RangeName({ range.firstRow, content.lastColumn + 1, content.lastRow, range.lastColumn });
    if (content.lastRow < range.lastRow) {
        parts += parts.empty() ? "" : " and ";
        parts += RangeName({ content.lastRow + 1, range.firstColumn, range.lastRow, range.lastColumn });
    }
    return parts;
}

} // namespace

std::string SheetOf(Worksheet& sheet, const spreadsheet::Workbook& workbook)
{
    return workbook.Path() + ": the worksheet \"" + sheet.Name() + "\"";
}

void WalkCharges::ChargeWalk(Worksheet& sheet, Lines lines, CellRange& range)
{
    m_budget.SetSheetBytes(sheet.StoredBytes());
    if (Affordable(CostOf(sheet, lines, range)))
        return m_budget.SpendCells(CostOf(sheet, lines, range).cells);
    const CellRange content = ContentRange(sheet, range);
    if ((content.lastRow < range.lastRow || content.lastColumn < range.lastColumn)
        && Affordable(CostOf(sheet, lines, content))) {
        m_workbook->Warn("the worksheet \"" + sheet.Name() + "\" is exported as " + RangeName(content)
            + ": its used range " + RangeName(range) + " runs on past its last value over empty cells ("
            + LeftOut(range, content) + "), left out since walking them would pass what a workbook of "
            + core::GroupedNumber(m_workbook->FileSize()) + " bytes may cause");
        range = content;
        return m_budget.SpendCells(CostOf(sheet, lines, range).cells);
    }
    const WalkCost cost = CostOf(sheet, lines, range);
    throw SpreadsheetError(ErrorCode::TooLarge,
        SheetOf(sheet, *m_workbook) + " cannot be exported: its used range " + RangeName(range) + " makes "
            + core::GroupedNumber(cost.cells) + " cells to visit and at least "
            + core::GroupedNumber(LeastText(cost.lineCount, cost.width)) + " bytes of text, more than a workbook of "
            + core::GroupedNumber(m_workbook->FileSize()) + " bytes may cause ("
            + core::GroupedNumber(m_budget.CellLimit()) + " cells, " + core::GroupedNumber(m_budget.TextLimit())
            + " bytes of text)");
}

WalkCharges::WalkCost WalkCharges::CostOf(Worksheet& sheet, Lines lines, const CellRange& range) const
{
    const uint64_t rowCount = static_cast<uint64_t>(range.lastRow - range.firstRow) + 1;
    const uint64_t columnCount = static_cast<uint64_t>(range.lastColumn - range.firstColumn) + 1;
    const uint64_t lineCount = lines == Lines::Rows ? rowCount : columnCount;
    const uint64_t width = lines == Lines::Rows ? columnCount : rowCount;
    return { m_options.includeBlankCells ? rowCount * columnCount
                                         : lineCount + sheet.CellCount() + m_reader.FilledCells(sheet, range),
        lineCount, width };
}

uint64_t WalkCharges::LeastText(uint64_t lineCount, uint64_t width) const
{
    if (!m_options.includeBlankCells)
        return 0;
    const uint64_t perLine = (width - 1) * m_options.divider.size() + (m_options.quoteCells ? 2 * width : 0);
    return lineCount * (perLine > 0 ? perLine + 2 : 0);
}

void WalkCharges::RefuseText(Worksheet& sheet) const
{
    throw SpreadsheetError(ErrorCode::TooLarge,
        SheetOf(sheet, *m_workbook) + " cannot be exported: its texts and the worksheet's cells grow past "
            + core::GroupedNumber(m_budget.TextLimit()) + " bytes, more than a workbook of "
            + core::GroupedNumber(m_workbook->FileSize()) + " bytes may give");
}

} // namespace vellumcast::exporting
