#pragma once
// How the export reads the cells of the lines it composes: each cell's text in the style
// asked for (as displayed, raw, or displayed with ISO 8601 dates) and, when asked, the
// worksheet's layout applied to the lines: every cell of a merged area carrying the text
// of the area's first cell, the rows and columns the workbook hides left out. Internal to
// the export layer.

#include "export/LineSources.h"
#include "options/ExportOptions.h"
#include "spreadsheet/Workbook.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace vellumcast::exporting {

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

    // Starts the walk of the worksheet's range along lines. With the layout used the
    // worksheet is loaded whole for it.
    void Begin(spreadsheet::Worksheet& sheet, Lines lines, const spreadsheet::CellRange& range);
    // Moves to line `position`, positions ascending; false when the line is hidden and
    // left out.
    bool StartLine(int32_t position);
    // Whether the cells at `across` on every line are hidden and left out.
    bool AcrossHidden(int32_t across) const;
    // The text of the cell at `across` on the current line: its own, or when filling
    // merged areas, that of the first cell of the area holding it.
    std::string_view TextAt(int32_t across);

    // A cell of the current line holding text when blank cells are left out: a recorded
    // cell, or one of a merged area being filled.
    struct LineCell {
        int32_t across;
        const spreadsheet::Cell* cell; // nullptr for a cell of area
        const spreadsheet::CellRange* area;
    };
    // The current line's cells holding text, in order, hidden ones left out. For walks
    // with the layout used; the others visit RecordedLines.
    const std::vector<LineCell>& LineCells();
    std::string_view TextOf(const LineCell& cell);

    // A recorded cell's text, of the loaded worksheet or of rows handed over.
    std::string_view TextOf(
        spreadsheet::Worksheet& sheet, const spreadsheet::Cell& cell, const spreadsheet::RowBatch& rows)
    {
        return sheet.TextOf(cell, rows, m_style);
    }

private:
    // A recorded cell in column order: where it lies and its index in the cells.
    struct ColumnCell {
        int32_t column;
        int32_t row;
        uint32_t index;
    };

    int32_t LineFirst(const spreadsheet::CellRange& area) const;
    int32_t LineLast(const spreadsheet::CellRange& area) const;
    int32_t AcrossFirst(const spreadsheet::CellRange& area) const;
    int32_t AcrossLast(const spreadsheet::CellRange& area) const;
    const spreadsheet::CellRange* AreaAt(int32_t across) const;
    std::string_view FirstCellText(const spreadsheet::CellRange& area);
    void AddRecorded(int32_t across, const spreadsheet::Cell& cell);

    spreadsheet::CellTextStyle m_style;
    bool m_fillMerged;
    bool m_skipHiddenRows;
    bool m_skipHiddenColumns;

    spreadsheet::Worksheet* m_sheet = nullptr;
    bool m_rows = true; // the lines are rows
    spreadsheet::CellRange m_range;
    int32_t m_position = 0;
    std::vector<spreadsheet::CellRange> m_areas; // merged areas within range, by their first line
    size_t m_nextArea = 0;
    std::vector<const spreadsheet::CellRange*> m_active; // those crossing the current line, by first across
    size_t m_nextRow = 0; // walking rows: the next of the cells' rows to look at
    std::vector<ColumnCell> m_columnCells; // walking columns: the recorded cells in column order
    size_t m_nextColumnCell = 0;
    std::vector<LineCell> m_lineCells;
    spreadsheet::RowBatch m_lineRows; // the rows m_lineCells' cells lie in
};

} // namespace vellumcast::exporting
