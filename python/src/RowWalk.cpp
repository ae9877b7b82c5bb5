#include "RowWalk.h"

#include "Stopping.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace vellumcast::python {

using exporting::kNoRow;
using spreadsheet::Cell;
using spreadsheet::CellKind;
using spreadsheet::CellRange;
using spreadsheet::CellTextStyle;
using spreadsheet::RowBatch;

namespace {

constexpr size_t kCellsPerChunk = 8192;
constexpr size_t kTextBytesPerChunk = 512 * 1024;
constexpr uint64_t kFingerprintStart = 14695981039346656037ULL;

void Mix(uint64_t& hash, const void* data, size_t size)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) {
        hash ^= bytes[i];
        hash *= 1099511628211ULL;
    }
}

bool Digits(std::string_view text, size_t at, size_t count, int& value)
{
    if (at + count > text.size())
        return false;
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// HH:MM:SS[.fraction] from at to the text's end.
bool ParseTime(std::string_view text, size_t at, IsoParts& parts)
{
    if (!Digits(text, at, 2, parts.hour) || text.size() < at + 8 || text[at + 2] != ':' || text[at + 5] != ':'
        || !Digits(text, at + 3, 2, parts.minute) || !Digits(text, at + 6, 2, parts.second))
        return false;
    size_t i = at + 8;
    if (i < text.size()) {
        if (text[i] != '.' || i + 1 == text.size())
            return false;
        int scale = 100000;
        for (++i; i < text.size(); ++i) {
            if (text[i] < '0' || text[i] > '9')
                return false;
            parts.microsecond += (text[i] - '0') * scale; // digits past the microsecond are cut
            scale /= 10;
        }
    }
    parts.time = true;
    return parts.hour < 24 && parts.minute < 60 && parts.second < 60;
}

// The walk is charged as the command line's text of its cells would be, a divider and a
// pair of quotes a cell (what its --csv charges too): rows of thousands of blank cells
// over a used range that runs on past its values are cut where its lines are.
options::ExportOptions ChargedOptions(options::ExportOptions options)
{
    options.divider = "\t";
    options.quoteCells = true;
    return options;
}

} // namespace

bool ParseIso(std::string_view text, IsoParts& parts)
{
    parts = {};
    if (text.size() >= 8 && text[2] == ':')
        return ParseTime(text, 0, parts);
    if (text.size() < 10 || text[4] != '-' || text[7] != '-' || !Digits(text, 0, 4, parts.year)
        || !Digits(text, 5, 2, parts.month) || !Digits(text, 8, 2, parts.day))
        return false;
    if (parts.year < 1 || parts.month < 1 || parts.month > 12 || parts.day < 1 || parts.day > 31)
        return false;
    parts.date = true;
    if (text.size() == 10)
        return true;
    return text[10] == 'T' && ParseTime(text, 11, parts);
}

RowWalk::RowWalk(spreadsheet::Workbook& workbook, spreadsheet::Worksheet& sheet, const RowOptions& options,
    core::Pump& pump, std::function<bool(RowChunk&&)> emit)
    : m_workbook(workbook)
    , m_sheet(sheet)
    , m_options(options)
    , m_pump(pump)
    , m_emit(std::move(emit))
    , m_reader(options.cells)
    , m_charged(ChargedOptions(options.cells))
    , m_budget(workbook.FileSize())
    , m_charges(m_budget, m_charged, m_reader, &workbook)
{
}

void RowWalk::Run()
{
    if (!Stream())
        WalkLoaded();
    Flush();
}

bool RowWalk::Stream()
{
    if (!m_options.stream || m_sheet.Loaded() || m_reader.UsesLayout())
        return false;
    m_fingerprint = kFingerprintStart;
    std::exception_ptr failure;
    const bool everyRow = m_sheet.VisitRowsWhileLoading(
        [&](const RowBatch& rows) {
            try {
                return StreamBatch(rows);
            } catch (...) {
                failure = std::current_exception();
                return false;
            }
        },
        m_reader.Style() == CellTextStyle::Displayed && !m_options.typed);
    if (m_pump.StopRequested() || m_consumerGone)
        throw Stopped();
    if (failure)
        std::rethrow_exception(failure);
    if (!everyRow || m_nextRow == 0)
        return false;
    // A worksheet whose only cell is an empty A1 has no content, as the export judges it:
    // its one line is still held here, never handed on.
    if (m_rowsOut == 1 && m_chunk.rowNumbers.size() == 1 && m_firstRow == 1 && m_lastColumn == 1) {
        const CellRange range = m_sheet.UsedRange();
        if (range.lastRow == 1 && range.lastColumn == 1 && m_sheet.CellText(1, 1).empty())
            m_chunk = RowChunk();
    }
    return true;
}

bool RowWalk::StreamBatch(const RowBatch& rows)
{
    if (m_pump.StopRequested() || m_consumerGone)
        return false;
    if (rows.RowCount() == 0)
        return true;
    const bool blankKept = m_options.cells.includeBlankCells;
    int32_t first = spreadsheet::kMaxColumns, last = 1;
    for (size_t r = 0; r < rows.RowCount(); ++r) {
        first = std::min<int32_t>(first, rows.CellAt(rows.CellsBegin(r)).column);
        last = std::max<int32_t>(last, rows.CellAt(rows.CellsEnd(r) - 1).column);
    }
    if (m_nextRow == 0) {
        // The file's own word on the columns, when it spans the first rows, as the export takes it.
        const CellRange& hint = rows.Expected();
        const bool hintFits = hint.lastRow > 0 && hint.firstColumn <= first && hint.lastColumn >= last;
        m_firstRow = m_nextRow = rows.RowNumber(0);
        m_firstColumn = hintFits ? hint.firstColumn : first;
        m_lastColumn = hintFits ? hint.lastColumn : last;
        if (blankKept) {
            std::vector<int32_t> columns;
            for (int32_t column = m_firstColumn; column <= m_lastColumn; ++column)
                columns.push_back(column);
            SetColumns(std::move(columns));
        }
    } else if (blankKept) {
        // Cells left of the columns handed on would move every cell of the rows before:
        // the loaded worksheet decides. Cells further right only lengthen the rows from here.
        if (first < m_firstColumn)
            return false;
        if (last > m_lastColumn) {
            std::vector<int32_t> columns = m_columns;
            for (int32_t column = m_lastColumn + 1; column <= last; ++column)
                columns.push_back(column);
            m_lastColumn = last;
            SetColumns(std::move(columns));
        }
    }
    // The walk's budget, as the export's: a few kilobytes must not make billions of cells.
    const uint64_t lines = static_cast<uint64_t>(rows.LastRowNumber() - m_firstRow) + 1;
    const uint64_t width = static_cast<uint64_t>(m_lastColumn - m_firstColumn) + 1;
    m_budget.SetSheetBytes(rows.StoredBytes());
    if (!(blankKept ? m_charges.Affordable(lines * width, lines, width)
                    : m_charges.Affordable(lines + rows.EndCell(), lines, 1)))
        return false;

    constexpr size_t kPrefetchAhead = 4;
    for (size_t r = 0; r < rows.RowCount(); ++r) {
        if (r + kPrefetchAhead < rows.RowCount())
            m_sheet.PrefetchTexts(rows, r + kPrefetchAhead);
        const int32_t row = rows.RowNumber(r);
        for (; m_nextRow < row; ++m_nextRow)
            AddLine(m_nextRow, rows, kNoRow, m_firstColumn, m_lastColumn);
        AddLine(row, rows, r, m_firstColumn, m_lastColumn);
        ++m_nextRow;
        if (m_pump.StopRequested() || m_consumerGone)
            return false;
    }
    return true;
}

void RowWalk::WalkLoaded()
{
    // Rows handed on already cannot be taken back: the loaded worksheet's first rows must
    // come to the same, and only those after them are handed on.
    m_chunk = RowChunk();
    if (m_emittedRows > 0)
        m_checking.emplace(m_emittedRows, m_emittedFingerprint);
    m_rowsOut = 0;
    m_fingerprint = kFingerprintStart;

    CellRange range = m_sheet.UsedRange();
    const bool empty = range.lastRow == 1 && range.lastColumn == 1 && m_sheet.CellText(1, 1).empty();
    if (!empty) {
        m_charges.ChargeWalk(m_sheet, exporting::Lines::Rows, range);

        const spreadsheet::HeldRows held = m_sheet.HoldRows();
        const RowBatch& rows = held.Rows();
        m_reader.Begin(m_sheet, range);
        if (m_options.cells.includeBlankCells) {
            std::vector<int32_t> columns;
            for (int32_t column = range.firstColumn; column <= range.lastColumn; ++column) {
                if (!m_reader.ColumnLeftOut(column))
                    columns.push_back(column);
            }
            SetColumns(std::move(columns));
        }
        size_t r = 0;
        for (int32_t row = range.firstRow; row <= range.lastRow; ++row) {
            if (m_pump.StopRequested() || m_consumerGone)
                throw Stopped();
            while (r < rows.RowCount() && rows.RowNumber(r) < row)
                ++r;
            const size_t at = r < rows.RowCount() && rows.RowNumber(r) == row ? r : kNoRow;
            if (!m_reader.StartRow(row))
                continue;
            if (m_reader.UsesLayout())
                AddLayoutLine(row, rows, at);
            else
                AddLine(row, rows, at, range.firstColumn, range.lastColumn);
        }
    }
    if (m_checking) {
        throw std::runtime_error("The worksheet \"" + m_sheet.Name() + "\" of " + m_workbook.Path()
            + " gave fewer rows once loaded whole than were read while it loaded; read it with stream=False");
    }
}

void RowWalk::AddLine(int32_t row, const RowBatch& rows, size_t r, int32_t firstColumn, int32_t lastColumn)
{
    BeginRow(row);
    const bool blankKept = m_options.cells.includeBlankCells;
    if (r == kNoRow) {
        if (blankKept) {
            for (int32_t column = firstColumn; column <= lastColumn; ++column)
                AddCell(nullptr, rows);
        }
    } else {
        size_t i = rows.CellsBegin(r);
        const size_t end = rows.CellsEnd(r);
        if (!blankKept) {
            for (; i < end; ++i)
                AddCell(&rows.CellAt(i), rows);
        } else {
            for (int32_t column = firstColumn; column <= lastColumn; ++column) {
                const Cell* cell = i < end && rows.CellAt(i).column == column ? &rows.CellAt(i++) : nullptr;
                AddCell(cell, rows);
            }
        }
    }
    EndRow();
}

void RowWalk::AddLayoutLine(int32_t row, const RowBatch& rows, size_t r)
{
    BeginRow(row);
    for (const exporting::CellReader::LineCell& cell : m_reader.RowCells(rows, r, m_options.cells.includeBlankCells)) {
        if (cell.area)
            AddAreaCell(*cell.area);
        else
            AddCell(cell.cell, rows);
    }
    EndRow();
}

void RowWalk::AddCell(const Cell* cell, const RowBatch& rows)
{
    if (m_options.typed) {
        AddTyped(cell, rows);
        return;
    }
    AddText(CellType::Text, cell ? m_reader.TextOf(m_sheet, *cell, rows) : std::string_view());
}

void RowWalk::AddAreaCell(const CellRange& area)
{
    if (!m_options.typed) {
        AddText(CellType::Text, m_reader.AreaText(area));
        return;
    }
    // The value of the area's first cell, found among the loaded rows.
    const RowBatch rows = m_sheet.Rows();
    size_t low = 0, high = rows.RowCount();
    while (low < high) {
        const size_t middle = (low + high) / 2;
        if (rows.RowNumber(middle) < area.firstRow)
            low = middle + 1;
        else
            high = middle;
    }
    const Cell* found = nullptr;
    if (low < rows.RowCount() && rows.RowNumber(low) == area.firstRow) {
        for (size_t i = rows.CellsBegin(low); i < rows.CellsEnd(low) && !found; ++i) {
            if (rows.CellAt(i).column == area.firstColumn)
                found = &rows.CellAt(i);
        }
    }
    AddTyped(found, rows);
}

void RowWalk::AddTyped(const Cell* cell, const RowBatch& rows)
{
    if (!cell) {
        AddText(CellType::Blank, {});
        return;
    }
    const auto raw = [&] { return m_sheet.TextOf(*cell, rows, CellTextStyle::Raw, m_scratch); };
    IsoParts parts;
    const auto dated = [&](std::string_view text) {
        if (!ParseIso(text, parts))
            return false;
        AddText(parts.date && parts.time ? CellType::DateTime : parts.date ? CellType::Date : CellType::Time, text);
        return true;
    };
    switch (cell->kind) {
    case CellKind::Blank:
        AddText(CellType::Blank, {});
        return;
    case CellKind::Boolean:
        AddText(CellType::Boolean, {}, cell->value.number != 0 ? 1 : 0);
        return;
    case CellKind::Error:
        AddText(CellType::Error, {}, 0, static_cast<uint8_t>(cell->errorCode));
        return;
    case CellKind::Number: {
        // The raw text says whether the format shows a date or a time, by the workbook's date system.
        if (dated(raw()))
            return;
        if (!std::isfinite(cell->value.number)) // what the raw text shows as #NUM!
            AddText(CellType::Error, {}, 0, static_cast<uint8_t>(spreadsheet::CellError::Num));
        else
            AddText(CellType::Number, {}, cell->value.number);
        return;
    }
    case CellKind::TextWithValue: {
        const std::string_view text = raw();
        if (text == "TRUE" || text == "FALSE") {
            AddText(CellType::Boolean, {}, text == "TRUE" ? 1 : 0);
            return;
        }
        double number = 0;
        const auto result = std::from_chars(text.data(), text.data() + text.size(), number);
        if (result.ec == std::errc() && result.ptr == text.data() + text.size() && !text.empty())
            AddText(CellType::Number, {}, number);
        else
            AddText(CellType::Text, text);
        return;
    }
    case CellKind::TextWithDate: {
        const std::string_view text = raw();
        if (!dated(text))
            AddText(CellType::Text, text);
        return;
    }
    case CellKind::SharedString:
    case CellKind::String:
    case CellKind::DisplayedNumber:
        AddText(CellType::Text, raw());
        return;
    }
    AddText(CellType::Text, raw());
}

void RowWalk::AddText(CellType type, std::string_view text, double number, uint8_t error)
{
    const bool empty = type == CellType::Blank || (type == CellType::Text && text.empty());
    if (empty && !m_options.cells.includeBlankCells)
        return; // as the export leaves a blank cell out
    m_rowHasText = m_rowHasText || !empty;
    OutCell cell;
    cell.type = type;
    cell.number = number;
    cell.error = error;
    cell.offset = static_cast<uint32_t>(m_chunk.texts.size());
    cell.length = static_cast<uint32_t>(text.size());
    m_chunk.texts.append(text);
    m_chunk.cells.push_back(cell);
}

void RowWalk::BeginRow(int32_t row)
{
    m_currentRow = row;
    m_rowStart = m_chunk.cells.size();
    m_rowTextStart = m_chunk.texts.size();
    m_rowHasText = false;
}

void RowWalk::EndRow()
{
    // As a line that comes out empty, or of blank cells only when empty lines are skipped.
    if (m_chunk.cells.size() == m_rowStart || (m_options.cells.skipEmptyLines && !m_rowHasText)) {
        m_chunk.cells.resize(m_rowStart);
        m_chunk.texts.resize(m_rowTextStart);
        return;
    }
    // The fingerprint of the row without its trailing blank cells, for the check that
    // rows handed on while loading are the loaded worksheet's.
    size_t end = m_chunk.cells.size();
    while (end > m_rowStart
        && (m_chunk.cells[end - 1].type == CellType::Blank
            || (m_chunk.cells[end - 1].type == CellType::Text && m_chunk.cells[end - 1].length == 0)))
        --end;
    uint64_t hash = m_fingerprint;
    Mix(hash, &m_currentRow, sizeof m_currentRow);
    for (size_t i = m_rowStart; i < end; ++i) {
        const OutCell& cell = m_chunk.cells[i];
        Mix(hash, &cell.type, 1);
        Mix(hash, &cell.error, 1);
        Mix(hash, &cell.number, sizeof cell.number);
        Mix(hash, m_chunk.texts.data() + cell.offset, cell.length);
        Mix(hash, "\x1f", 1);
    }
    Mix(hash, "\n", 1);
    m_fingerprint = hash;
    ++m_rowsOut;
    if (m_checking) {
        // A row handed on before: checked, not handed on again.
        m_chunk.cells.resize(m_rowStart);
        m_chunk.texts.resize(m_rowTextStart);
        if (m_rowsOut == m_checking->first) {
            if (m_fingerprint != m_checking->second) {
                throw std::runtime_error("The worksheet \"" + m_sheet.Name() + "\" of " + m_workbook.Path()
                    + " gave other rows once loaded whole than those read while it loaded (its cells are out of "
                      "order); read it with stream=False");
            }
            m_checking.reset();
        }
        return;
    }
    m_chunk.rowNumbers.push_back(m_currentRow);
    m_chunk.rowEnds.push_back(static_cast<uint32_t>(m_chunk.cells.size()));
    if (m_chunk.cells.size() >= kCellsPerChunk || m_chunk.texts.size() >= kTextBytesPerChunk)
        Flush();
}

void RowWalk::Flush()
{
    if (m_chunk.Empty() || m_consumerGone)
        return;
    m_emittedRows = m_rowsOut;
    m_emittedFingerprint = m_fingerprint;
    if (!m_emit(std::move(m_chunk)))
        m_consumerGone = true;
    m_chunk = RowChunk();
}

void RowWalk::SetColumns(std::vector<int32_t> columns)
{
    Flush(); // the columns hold for the rows from here on
    m_columns = columns;
    m_chunk.columns = std::move(columns);
}

} // namespace vellumcast::python
