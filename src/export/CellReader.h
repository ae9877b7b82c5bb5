#pragma once
// How the export reads the cells of the lines it composes: each cell's text in the style
// asked for (as displayed, raw, or displayed with ISO 8601 dates) and, when asked, the
// worksheet's layout applied to its rows: every cell of a merged area carrying the text
// of the area's first cell, the rows and columns the workbook hides left out. Internal to
// the export layer.

#include "options/ExportOptions.h"
#include "spreadsheet/Workbook.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vellumcast::exporting {

// A row of a batch that holds no cells.
inline constexpr size_t kNoRow = SIZE_MAX;

class CellReader {
public:
    explicit CellReader(const options::ExportOptions& options);

    spreadsheet::CellTextStyle Style() const { return m_style; }

    // Whether the lines depend on the worksheet's layout. Merged areas and hidden rows are
    // known only once a worksheet is loaded whole (some formats record them after the
    // cells), so such a worksheet is loaded before it is walked, never composed while it
    // loads.
    bool UsesLayout() const { return m_fillMerged || m_skipHiddenRows || m_skipHiddenColumns; }

    // The cells a walk leaving blank cells out visits beyond the recorded ones: those of
    // the merged areas within range, when they are filled.
    uint64_t FilledCells(spreadsheet::Worksheet& sheet, const spreadsheet::CellRange& range) const;

    // Starts the walk of the loaded worksheet's range, row by row.
    void Begin(spreadsheet::Worksheet& sheet, const spreadsheet::CellRange& range);
    // Moves to row `row`, rows ascending; false when the row is hidden and left out.
    bool StartRow(int32_t row) { return !UsesLayout() || StartLayoutRow(row); }
    // Whether the column is hidden and left out.
    bool ColumnLeftOut(int32_t column) const { return m_skipHiddenColumns && m_sheet->ColumnHidden(column); }

    // A cell of the current row as the layout makes it: a recorded cell, a cell of a merged
    // area being filled, or a blank one (neither).
    struct LineCell {
        int32_t column;
        const spreadsheet::Cell* cell;
        const spreadsheet::CellRange* area;
    };
    // The current row's cells in order, those of hidden columns left out: with blank
    // cells kept every column of the range, else those that may hold text. Row r of rows
    // holds the recorded ones (kNoRow: none). For walks that use the layout.
    const std::vector<LineCell>& RowCells(const spreadsheet::RowBatch& rows, size_t r, bool blankCellsKept);
    // The text a merged area shows in each of its cells: its first cell's.
    // Its kind is taken to be text's.
    std::string_view AreaText(const spreadsheet::CellRange& area)
    {
        m_lastKind = spreadsheet::CellKind::String;
        return m_sheet->CellText(area.firstRow, area.firstColumn, m_style, NextScratch());
    }

    // A recorded cell's text, of the loaded worksheet or of rows handed over.
    std::string_view TextOf(
        spreadsheet::Worksheet& sheet, const spreadsheet::Cell& cell, const spreadsheet::RowBatch& rows)
    {
        m_lastKind = cell.kind;
        return sheet.TextOf(cell, rows, m_style, NextScratch());
    }
    // The text of a place that records no cell: "".
    std::string_view NoCell()
    {
        m_lastKind = spreadsheet::CellKind::Blank;
        return {};
    }
    // The kind of the cell read last (Blank for none), which types its text in JSON Lines.
    spreadsheet::CellKind LastKind() const { return m_lastKind; }

private:
    // Texts made for a read (formatted numbers) go to two scratch texts in turn: the text
    // read before stays whole while the next is read, whether or not that read fails.
    std::string& NextScratch()
    {
        m_turn ^= 1;
        return m_scratch[m_turn];
    }
    bool StartLayoutRow(int32_t row);
    const spreadsheet::CellRange* AreaAt(int32_t column) const;
    void AddRecorded(const spreadsheet::Cell& cell);

    spreadsheet::CellTextStyle m_style;
    bool m_fillMerged;
    bool m_skipHiddenRows;
    bool m_skipHiddenColumns;

    spreadsheet::Worksheet* m_sheet = nullptr;
    spreadsheet::CellRange m_range;
    std::vector<spreadsheet::CellRange> m_areas; // merged areas within range, by their first row
    size_t m_nextArea = 0;
    std::vector<const spreadsheet::CellRange*> m_active; // those crossing the current row, by first column
    std::vector<LineCell> m_lineCells;
    std::string m_scratch[2];
    unsigned m_turn = 0;
    spreadsheet::CellKind m_lastKind = spreadsheet::CellKind::Blank;
};

} // namespace vellumcast::exporting
