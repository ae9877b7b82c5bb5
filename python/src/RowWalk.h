#pragma once
// One worksheet's rows as the command line composes its lines, cell by cell rather than as
// text: the same rows (its used range, the hidden ones left out when asked, empty ones left
// out when asked), the same cells (every column of the range with blank cells kept, or
// only those holding text) and the same texts, or the values behind them, typed. Rows are
// handed on in chunks as they are read: while the worksheet loads on a second thread when
// the engine finds that worth it, else from the loaded worksheet.

#include "core/Ports.h"
#include "export/CellReader.h"
#include "export/ExportBudget.h"
#include "export/WalkCharges.h"
#include "options/ExportOptions.h"
#include "spreadsheet/Workbook.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellumcast::python {

// What a cell handed on holds. Displayed values are all Text (Blank gives "").
enum class CellType : uint8_t {
    Blank, // no value: None when typed, else ""
    Text,
    Number, // number
    Boolean, // number is 0 or 1
    Error, // error, as the engine numbers it (spreadsheet::CellError)
    Date, // the text is YYYY-MM-DD
    Time, // the text is HH:MM:SS[.fff]
    DateTime, // the text is YYYY-MM-DDTHH:MM:SS[.fff]
};

struct OutCell {
    double number = 0;
    uint32_t offset = 0; // of its text in the chunk's texts
    uint32_t length = 0;
    CellType type = CellType::Blank;
    uint8_t error = 0;
};

// Rows handed on together. Row i's cells are cells[rowEnds[i - 1]] up to cells[rowEnds[i]].
struct RowChunk {
    std::vector<int32_t> rowNumbers;
    std::vector<uint32_t> rowEnds;
    std::vector<OutCell> cells;
    std::string texts;
    // The columns (from 1) the cells of each row stand in, given when they change: with
    // blank cells kept every row spans them; without, rows hold only their cells with text.
    std::optional<std::vector<int32_t>> columns;

    std::string_view TextOf(const OutCell& cell) const
    {
        return std::string_view(texts).substr(cell.offset, cell.length);
    }
    bool Empty() const { return rowNumbers.empty() && !columns; }
};

struct RowOptions {
    // includeBlankCells, skipEmptyLines, cellValues, fillMerged, skipHiddenRows and
    // skipHiddenColumns, as the command line takes them.
    options::ExportOptions cells;
    bool typed = false; // raw values as numbers, booleans, dates and errors rather than texts
    bool stream = true; // rows handed on while the worksheet loads, when the engine loads it beside
};

class RowWalk {
public:
    // emit takes each chunk; false when nobody reads them any more, which ends the walk.
    RowWalk(spreadsheet::Workbook& workbook, spreadsheet::Worksheet& sheet, const RowOptions& options, core::Pump& pump,
        std::function<bool(RowChunk&&)> emit);

    // Walks the worksheet, handing every row on; the last chunk goes before it returns.
    // Throws as the engine does (SpreadsheetError naming the workbook and worksheet), and
    // Stopped once the pump stops the walk.
    void Run();

private:
    // The rows handed over while the worksheet loads. Returns whether they were every row.
    bool Stream();
    bool StreamBatch(const spreadsheet::RowBatch& rows);
    // The loaded worksheet's rows, those already handed on while it loaded checked
    // against it rather than handed on again.
    void WalkLoaded();

    // One row of the lines: r is its index in rows, or exporting::kNoRow for a row without cells.
    void AddLine(int32_t row, const spreadsheet::RowBatch& rows, size_t r, int32_t firstColumn, int32_t lastColumn);
    void AddLayoutLine(int32_t row, const spreadsheet::RowBatch& rows, size_t r);
    // Adds the cell (nullptr: none recorded there) to the row under way; area: the merged
    // area whose first cell's value it shows.
    void AddCell(const spreadsheet::Cell* cell, const spreadsheet::RowBatch& rows);
    void AddAreaCell(const spreadsheet::CellRange& area);
    void AddTyped(const spreadsheet::Cell* cell, const spreadsheet::RowBatch& rows);
    void AddText(CellType type, std::string_view text, double number = 0, uint8_t error = 0);
    void BeginRow(int32_t row);
    void EndRow();
    void Flush();
    void SetColumns(std::vector<int32_t> columns);

    spreadsheet::Workbook& m_workbook;
    spreadsheet::Worksheet& m_sheet;
    RowOptions m_options;
    core::Pump& m_pump;
    std::function<bool(RowChunk&&)> m_emit;
    exporting::CellReader m_reader;
    options::ExportOptions m_charged; // the options the walk is charged by
    exporting::ExportBudget m_budget;
    exporting::WalkCharges m_charges;
    RowChunk m_chunk;
    std::string m_scratch;
    bool m_consumerGone = false;

    // The row under way.
    int32_t m_currentRow = 0;
    size_t m_rowStart = 0;
    size_t m_rowTextStart = 0;
    bool m_rowHasText = false;

    // What was handed on: how many rows and their fingerprint (each row without its
    // trailing blank cells, so that a row handed on narrower than the range checks alike).
    uint64_t m_rowsOut = 0;
    uint64_t m_fingerprint = 0;
    uint64_t m_emittedRows = 0; // of those, the rows that went
    uint64_t m_emittedFingerprint = 0;
    // While the loaded worksheet's rows are checked against those handed on before: how
    // many rows and what fingerprint they must come to.
    std::optional<std::pair<uint64_t, uint64_t>> m_checking;

    std::vector<int32_t> m_columns; // those the rows span, with blank cells kept
    // The columns the streamed lines span, and the row of the next line; 0 before any.
    int32_t m_firstColumn = 0;
    int32_t m_lastColumn = 0;
    int32_t m_firstRow = 0;
    int32_t m_nextRow = 0;
};

// Parses the engine's ISO 8601 text of a date, a time of day or both. false for any other text.
struct IsoParts {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, microsecond = 0;
    bool date = false, time = false;
};
bool ParseIso(std::string_view text, IsoParts& parts);

} // namespace vellumcast::python
