#pragma once
// Where the export procedures find the cells of each line they compose: the recorded
// cells of a loaded worksheet, line by line, and the rows the engine hands over while it
// still loads one. Internal to the export layer.

#include "spreadsheet/Workbook.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace vellumcast::exporting {

// Whether a walk goes along rows (one line per row) or down columns.
enum class Lines { Rows, Columns };

// The cells of each line that the file records, in line order, for walks that leave
// blank cells out: they visit what exists, never the whole rectangle.
class RecordedLines {
public:
    RecordedLines(spreadsheet::Worksheet& sheet, Lines lines)
        : m_rows(sheet.Rows())
        , m_columns(lines == Lines::Columns)
    {
        if (m_columns)
            m_order = m_rows.ColumnMajorOrder();
    }

    // The rows the cells visited lie in, to read their texts.
    const spreadsheet::RowBatch& Rows() const { return m_rows; }

    // Visits the recorded cells of line `position`; positions must come in ascending order.
    template <typename Visit> void ForEachOn(int32_t position, Visit&& visit)
    {
        if (m_columns) {
            for (; m_next < m_order.size() && m_rows.CellAt(m_order[m_next]).column == position; ++m_next)
                visit(m_rows.CellAt(m_order[m_next]));
            return;
        }
        while (m_next < m_rows.RowCount() && m_rows.RowNumber(m_next) < position)
            ++m_next;
        if (m_next == m_rows.RowCount() || m_rows.RowNumber(m_next) != position)
            return;
        for (size_t i = m_rows.CellsBegin(m_next); i < m_rows.CellsEnd(m_next); ++i)
            visit(m_rows.CellAt(i));
    }

private:
    spreadsheet::RowBatch m_rows;
    bool m_columns;
    std::vector<uint32_t> m_order;
    size_t m_next = 0;
};

// The lines of a worksheet composed while it loads, one per row: the row each line
// stands for, and with blank cells kept the columns every line spans, taken from the
// first rows handed over. Once loaded they must turn out to be the used range's.
class StreamedLines {
public:
    explicit StreamedLines(bool blankCellsKept)
        : m_blankCellsKept(blankCellsKept)
    {
    }

    // Takes in a batch of rows; false when one reaches past the columns composed so far.
    bool Take(const spreadsheet::RowBatch& rows)
    {
        int32_t first = spreadsheet::kMaxColumns, last = 1;
        for (size_t r = 0; r < rows.RowCount(); ++r) {
            first = std::min<int32_t>(first, rows.CellAt(rows.CellsBegin(r)).column);
            last = std::max<int32_t>(last, rows.CellAt(rows.CellsEnd(r) - 1).column);
        }
        if (m_next == 0) {
            // The file's own word on the columns, when it spans the first rows: a row further
            // down that reaches wider then needs no second walk.
            const spreadsheet::CellRange& hint = rows.Expected();
            const bool hintFits = hint.lastRow > 0 && hint.firstColumn <= first && hint.lastColumn >= last;
            m_firstRow = m_next = rows.RowNumber(0);
            m_firstColumn = hintFits ? hint.firstColumn : first;
            m_lastColumn = hintFits ? hint.lastColumn : last;
            return true;
        }
        return !m_blankCellsKept || (first >= m_firstColumn && last <= m_lastColumn);
    }

    // Whether the lines composed are those of the loaded worksheet's used range.
    bool Matches(const spreadsheet::CellRange& range) const
    {
        return m_next != 0 && range.firstRow == m_firstRow && range.lastRow == m_next - 1
            && (!m_blankCellsKept || (range.firstColumn == m_firstColumn && range.lastColumn == m_lastColumn));
    }

    int32_t FirstRow() const { return m_firstRow; }
    int32_t Next() const { return m_next; } // the row of the next line
    void Advance() { ++m_next; }
    int32_t FirstColumn() const { return m_firstColumn; }
    int32_t LastColumn() const { return m_lastColumn; }
    uint64_t Width() const { return static_cast<uint64_t>(m_lastColumn - m_firstColumn) + 1; }

private:
    bool m_blankCellsKept;
    int32_t m_firstRow = 0;
    int32_t m_next = 0;
    int32_t m_firstColumn = 1;
    int32_t m_lastColumn = 1;
};

} // namespace vellumcast::exporting
