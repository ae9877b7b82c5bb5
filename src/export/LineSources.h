#pragma once
// The lines the export procedures compose from a worksheet's rows, whether it is loaded
// or still loading. Internal to the export layer.

#include "spreadsheet/Workbook.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace vellumcast::exporting {

// Whether a walk goes along rows (one line per row) or down columns.
enum class Lines { Rows, Columns };

// The rows a worksheet's lines are composed from, in order: the row of the next line, and
// with blank cells kept the columns every line spans. Of a loaded worksheet they are its
// range, fixed. Of one composed while it loads they are taken from the first rows handed
// over, and once it is loaded they must turn out to be its used range.
class RowLines {
public:
    // Lines to be taken from the rows handed over.
    explicit RowLines(bool blankCellsKept)
        : m_blankCellsKept(blankCellsKept)
    {
    }
    // The lines of range.
    explicit RowLines(const spreadsheet::CellRange& range)
        : m_blankCellsKept(true)
        , m_fixed(true)
        , m_firstRow(range.firstRow)
        , m_next(range.firstRow)
        , m_lastRow(range.lastRow)
        , m_firstColumn(range.firstColumn)
        , m_lastColumn(range.lastColumn)
    {
    }

    // Takes in a batch of rows; false when one reaches past the columns composed so far.
    bool Take(const spreadsheet::RowBatch& rows)
    {
        if (m_fixed)
            return true;
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

    // Whether the lines are a range given beforehand.
    bool Fixed() const { return m_fixed; }
    int32_t FirstRow() const { return m_firstRow; }
    int32_t LastRow() const { return m_lastRow; } // the grid's last row unless fixed
    int32_t Next() const { return m_next; } // the row of the next line
    void Advance() { ++m_next; }
    int32_t FirstColumn() const { return m_firstColumn; }
    int32_t LastColumn() const { return m_lastColumn; }
    uint64_t Width() const { return static_cast<uint64_t>(m_lastColumn - m_firstColumn) + 1; }

private:
    bool m_blankCellsKept;
    bool m_fixed = false;
    int32_t m_firstRow = 0;
    int32_t m_next = 0;
    int32_t m_lastRow = spreadsheet::kMaxRows;
    int32_t m_firstColumn = 1;
    int32_t m_lastColumn = 1;
};

} // namespace vellumcast::exporting
