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

void CellReader::Begin(spreadsheet::Worksheet& sheet, Lines lines, const CellRange& range)
{
    m_sheet = &sheet;
    m_rows = lines == Lines::Rows;
    m_range = range;
    m_position = 0;
    m_areas.clear();
    m_nextArea = 0;
    m_active.clear();
    m_nextRow = 0;
    m_columnCells.clear();
    m_nextColumnCell = 0;
    if (!UsesLayout())
        return;
    if (m_fillMerged) {
        // Kept whole, not clipped: the text filled in is the first cell's even when the
        // area starts before the range.
        for (const CellRange& area : sheet.MergedAreas()) {
            CellRange within = area;
            if (Clip(range, within))
                m_areas.push_back(area);
        }
        // By row already; a walk down columns meets them by column.
        if (!m_rows)
            std::stable_sort(m_areas.begin(), m_areas.end(),
                [](const CellRange& a, const CellRange& b) { return a.firstColumn < b.firstColumn; });
    }
    if (!m_rows) {
        const spreadsheet::RowBatch rows = sheet.Rows();
        m_columnCells.reserve(rows.EndCell());
        for (size_t r = 0; r < rows.RowCount(); ++r) {
            for (size_t i = rows.CellsBegin(r); i < rows.CellsEnd(r); ++i)
                m_columnCells.push_back({ rows.CellAt(i).column, rows.RowNumber(r), static_cast<uint32_t>(i) });
        }
        // Stable: each column's cells stay in row order.
        std::stable_sort(m_columnCells.begin(), m_columnCells.end(),
            [](const ColumnCell& a, const ColumnCell& b) { return a.column < b.column; });
    }
}

int32_t CellReader::LineFirst(const CellRange& area) const
{
    return m_rows ? area.firstRow : area.firstColumn;
}
int32_t CellReader::LineLast(const CellRange& area) const
{
    return m_rows ? area.lastRow : area.lastColumn;
}
int32_t CellReader::AcrossFirst(const CellRange& area) const
{
    return std::max(m_rows ? area.firstColumn : area.firstRow, m_rows ? m_range.firstColumn : m_range.firstRow);
}
int32_t CellReader::AcrossLast(const CellRange& area) const
{
    return std::min(m_rows ? area.lastColumn : area.lastRow, m_rows ? m_range.lastColumn : m_range.lastRow);
}

bool CellReader::StartLine(int32_t position)
{
    m_position = position;
    if (m_fillMerged) {
        std::erase_if(m_active, [&](const CellRange* area) { return LineLast(*area) < position; });
        bool added = false;
        for (; m_nextArea < m_areas.size() && LineFirst(m_areas[m_nextArea]) <= position; ++m_nextArea) {
            if (LineLast(m_areas[m_nextArea]) >= position) {
                m_active.push_back(&m_areas[m_nextArea]);
                added = true;
            }
        }
        if (added)
            std::sort(m_active.begin(), m_active.end(),
                [&](const CellRange* a, const CellRange* b) { return AcrossFirst(*a) < AcrossFirst(*b); });
    }
    const bool hidden = m_rows ? m_skipHiddenRows && m_sheet->RowHidden(position)
                               : m_skipHiddenColumns && m_sheet->ColumnHidden(position);
    return !hidden;
}

bool CellReader::AcrossHidden(int32_t across) const
{
    return m_rows ? m_skipHiddenColumns && m_sheet->ColumnHidden(across)
                  : m_skipHiddenRows && m_sheet->RowHidden(across);
}

const CellRange* CellReader::AreaAt(int32_t across) const
{
    // The active areas cross the line at disjoint spans, in order.
    auto after = std::upper_bound(m_active.begin(), m_active.end(), across,
        [&](int32_t value, const CellRange* area) { return value < AcrossFirst(*area); });
    if (after == m_active.begin())
        return nullptr;
    const CellRange* area = *(after - 1);
    return across <= AcrossLast(*area) ? area : nullptr;
}

std::string_view CellReader::FirstCellText(const CellRange& area)
{
    return m_sheet->CellText(area.firstRow, area.firstColumn, m_style);
}

std::string_view CellReader::TextAt(int32_t across)
{
    if (const CellRange* area = m_fillMerged ? AreaAt(across) : nullptr)
        return FirstCellText(*area);
    return m_rows ? m_sheet->CellText(m_position, across, m_style) : m_sheet->CellText(across, m_position, m_style);
}

void CellReader::AddRecorded(int32_t across, const Cell& cell)
{
    if (!AcrossHidden(across))
        m_lineCells.push_back({ across, &cell, nullptr });
}

const std::vector<CellReader::LineCell>& CellReader::LineCells()
{
    m_lineCells.clear();
    // Asked afresh for each line: the worksheet is loaded again if it was let go of.
    m_lineRows = m_sheet->Rows();
    const spreadsheet::RowBatch& rows = m_lineRows;
    if (m_rows) {
        while (m_nextRow < rows.RowCount() && rows.RowNumber(m_nextRow) < m_position)
            ++m_nextRow;
        if (m_nextRow < rows.RowCount() && rows.RowNumber(m_nextRow) == m_position) {
            for (size_t i = rows.CellsBegin(m_nextRow); i < rows.CellsEnd(m_nextRow); ++i)
                AddRecorded(rows.CellAt(i).column, rows.CellAt(i));
        }
    } else {
        while (m_nextColumnCell < m_columnCells.size() && m_columnCells[m_nextColumnCell].column < m_position)
            ++m_nextColumnCell;
        for (; m_nextColumnCell < m_columnCells.size() && m_columnCells[m_nextColumnCell].column == m_position;
             ++m_nextColumnCell) {
            const ColumnCell& at = m_columnCells[m_nextColumnCell];
            AddRecorded(at.row, rows.CellAt(at.index));
        }
    }
    if (m_active.empty())
        return m_lineCells;
    // Every cell of an area crossing the line stands in place of what is recorded there.
    std::vector<LineCell> recorded;
    recorded.swap(m_lineCells);
    size_t next = 0;
    for (const CellRange* area : m_active) {
        const int32_t first = AcrossFirst(*area);
        const int32_t last = AcrossLast(*area);
        for (; next < recorded.size() && recorded[next].across < first; ++next)
            m_lineCells.push_back(recorded[next]);
        for (; next < recorded.size() && recorded[next].across <= last; ++next) { }
        for (int32_t across = first; across <= last; ++across) {
            if (!AcrossHidden(across))
                m_lineCells.push_back({ across, nullptr, area });
        }
    }
    m_lineCells.insert(m_lineCells.end(), recorded.begin() + static_cast<std::ptrdiff_t>(next), recorded.end());
    return m_lineCells;
}

std::string_view CellReader::TextOf(const LineCell& cell)
{
    return cell.area ? FirstCellText(*cell.area) : m_sheet->TextOf(*cell.cell, m_lineRows, m_style);
}

} // namespace vellumcast::exporting
