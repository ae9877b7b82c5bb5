#include "export/CellReader.h"

#include <algorithm>

namespace vellumcast::exporting {

using spreadsheet::Cell;
using spreadsheet::CellRange;
using spreadsheet::CellTextStyle;

namespace {

CellTextStyle StyleOf(options::CellValues values)
{
    switch (values) {
    case options::CellValues::Displayed:
        return CellTextStyle::Displayed;
    case options::CellValues::IsoDates:
        return CellTextStyle::IsoDates;
    case options::CellValues::Raw:
        return CellTextStyle::Raw;
    }
    return CellTextStyle::Displayed;
}

// The part of area within range; false when none is.
bool Clip(const CellRange& range, CellRange& area)
{
    area.firstRow = std::max(area.firstRow, range.firstRow);
    area.firstColumn = std::max(area.firstColumn, range.firstColumn);
    area.lastRow = std::min(area.lastRow, range.lastRow);
    area.lastColumn = std::min(area.lastColumn, range.lastColumn);
    return area.firstRow <= area.lastRow && area.firstColumn <= area.lastColumn;
}

} // namespace

CellReader::CellReader(const options::ExportOptions& options)
    : m_style(StyleOf(options.cellValues))
    , m_fillMerged(options.fillMerged)
    , m_skipHiddenRows(options.skipHiddenRows)
    , m_skipHiddenColumns(options.skipHiddenColumns)
{
}

uint64_t CellReader::FilledCells(spreadsheet::Worksheet& sheet, const CellRange& range) const
{
    if (!m_fillMerged)
        return 0;
    uint64_t cells = 0;
    for (CellRange area : sheet.MergedAreas()) {
        if (Clip(range, area))
            cells += static_cast<uint64_t>(area.lastRow - area.firstRow + 1)
                * static_cast<uint64_t>(area.lastColumn - area.firstColumn + 1);
    }
    return cells;
}

void CellReader::Begin(spreadsheet::Worksheet& sheet, const CellRange& range)
{
    m_sheet = &sheet;
    m_range = range;
    m_areas.clear();
    m_nextArea = 0;
    m_active.clear();
    if (!m_fillMerged)
        return;
    // Kept whole, not clipped: the text filled in is the first cell's even when the area
    // starts before the range. The worksheet gives them by first row.
    for (const CellRange& area : sheet.MergedAreas()) {
        CellRange within = area;
        if (Clip(range, within))
            m_areas.push_back(area);
    }
}

bool CellReader::StartLayoutRow(int32_t row)
{
    if (m_fillMerged) {
        std::erase_if(m_active, [&](const CellRange* area) { return area->lastRow < row; });
        bool added = false;
        for (; m_nextArea < m_areas.size() && m_areas[m_nextArea].firstRow <= row; ++m_nextArea) {
            if (m_areas[m_nextArea].lastRow >= row) {
                m_active.push_back(&m_areas[m_nextArea]);
                added = true;
            }
        }
        if (added)
            std::sort(m_active.begin(), m_active.end(),
                [](const CellRange* a, const CellRange* b) { return a->firstColumn < b->firstColumn; });
    }
    return !(m_skipHiddenRows && m_sheet->RowHidden(row));
}

const CellRange* CellReader::AreaAt(int32_t column) const
{
    // The active areas cross the row at disjoint spans, in order.
    auto after = std::upper_bound(m_active.begin(), m_active.end(), column,
        [](int32_t value, const CellRange* area) { return value < area->firstColumn; });
    if (after == m_active.begin())
        return nullptr;
    const CellRange* area = *(after - 1);
    return column <= area->lastColumn ? area : nullptr;
}

void CellReader::AddRecorded(const Cell& cell)
{
    if (!ColumnLeftOut(cell.column))
        m_lineCells.push_back({ cell.column, &cell, nullptr });
}

const std::vector<CellReader::LineCell>& CellReader::RowCells(
    const spreadsheet::RowBatch& rows, size_t r, bool blankCellsKept)
{
    m_lineCells.clear();
    size_t i = r == kNoRow ? 0 : rows.CellsBegin(r);
    const size_t end = r == kNoRow ? 0 : rows.CellsEnd(r);
    if (blankCellsKept) {
        for (int32_t column = m_range.firstColumn; column <= m_range.lastColumn; ++column) {
            for (; i < end && rows.CellAt(i).column < column; ++i) { }
            if (ColumnLeftOut(column))
                continue;
            const CellRange* area = m_fillMerged ? AreaAt(column) : nullptr;
            const Cell* cell = i < end && rows.CellAt(i).column == column ? &rows.CellAt(i) : nullptr;
            m_lineCells.push_back({ column, area ? nullptr : cell, area });
        }
        return m_lineCells;
    }
    for (; i < end; ++i)
        AddRecorded(rows.CellAt(i));
    if (m_active.empty())
        return m_lineCells;
    // Every cell of an area crossing the row stands in place of what is recorded there.
    std::vector<LineCell> recorded;
    recorded.swap(m_lineCells);
    size_t next = 0;
    for (const CellRange* area : m_active) {
        const int32_t first = std::max(area->firstColumn, m_range.firstColumn);
        const int32_t last = std::min(area->lastColumn, m_range.lastColumn);
        for (; next < recorded.size() && recorded[next].column < first; ++next)
            m_lineCells.push_back(recorded[next]);
        for (; next < recorded.size() && recorded[next].column <= last; ++next) { }
        for (int32_t column = first; column <= last; ++column) {
            if (!ColumnLeftOut(column))
                m_lineCells.push_back({ column, nullptr, area });
        }
    }
    m_lineCells.insert(m_lineCells.end(), recorded.begin() + static_cast<std::ptrdiff_t>(next), recorded.end());
    return m_lineCells;
}

} // namespace vellumcast::exporting
