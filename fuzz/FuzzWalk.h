#pragma once
// What the fuzz targets share: reading every cell of a workbook within a budget, and
// opening bytes with one reader, so each target exercises the parser it is named after.

#include "spreadsheet/SpreadsheetError.h"
#include "spreadsheet/Workbook.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace vellumcast::fuzz {

// Loads the worksheet on a second thread, reading each cell of the rows handed over, as
// an export composing while it loads does. When the rows were the whole worksheet, their
// texts must be those of the loaded worksheet: a difference aborts, as a finding. Stops
// taking rows after a million cells. A failed load is left to the walk that follows,
// which is given the same failure.
inline void HandOverEveryRow(spreadsheet::Worksheet& sheet)
{
    struct Seen {
        int32_t row;
        int32_t column;
        std::string text;
    };
    std::vector<Seen> seen;
    try {
        const bool everyRow = sheet.VisitRowsWhileLoading([&](const spreadsheet::RowBatch& rows) {
            for (size_t r = 0; r < rows.RowCount(); ++r) {
                for (size_t i = rows.CellsBegin(r); i < rows.CellsEnd(r); ++i) {
                    const spreadsheet::Cell& cell = rows.CellAt(i);
                    seen.push_back({ rows.RowNumber(r), cell.column, std::string(sheet.TextOf(cell, rows)) });
                }
            }
            return seen.size() < (size_t { 1 } << 20);
        });
        if (!everyRow)
            return;
    } catch (const spreadsheet::SpreadsheetError&) {
        return;
    }
    if (sheet.CellCount() != seen.size())
        std::abort();
    const spreadsheet::RowBatch loaded = sheet.Rows();
    size_t next = 0;
    for (size_t r = 0; r < loaded.RowCount(); ++r) {
        for (size_t i = loaded.CellsBegin(r); i < loaded.CellsEnd(r); ++i, ++next) {
            const spreadsheet::Cell& cell = loaded.CellAt(i);
            if (loaded.RowNumber(r) != seen[next].row || cell.column != seen[next].column
                || sheet.TextOf(cell, loaded) != seen[next].text)
                std::abort();
        }
    }
}

// Reads every cell of every worksheet, going through them in turn as an export does, and
// then lists them all; a valid sheet may span the whole grid, so the walk stops after a
// million cells, and asks what the layout holds. With handOverRows each worksheet is
// first loaded handing over its rows. Throws what the engine throws.
inline void ReadEveryCell(spreadsheet::Workbook& book, bool handOverRows = false)
{
    int64_t budget = 1 << 20;
    for (spreadsheet::Worksheet& sheet : book.WorksheetsInTurn()) {
        if (handOverRows)
            HandOverEveryRow(sheet);
        const spreadsheet::CellRange range = sheet.UsedRange();
        for (int32_t row = range.firstRow; row <= range.lastRow && budget > 0; ++row)
            for (int32_t column = range.firstColumn; column <= range.lastColumn && budget > 0; ++column, --budget)
                sheet.CellText(row, column);
        sheet.MergedAreas();
        sheet.HiddenRowCount();
        sheet.HiddenColumnCount();
    }
    book.Worksheets();
}

// Opens bytes as a workbook under name, hands over each worksheet's rows and reads every
// cell. The engine may fail only with a SpreadsheetError; anything else escapes and ends
// the fuzzer as a finding.
inline void OpenAndReadEveryCell(std::string bytes, const std::string& name)
{
    try {
        spreadsheet::Application application;
        auto book = application.OpenBytes(std::move(bytes), name);
        ReadEveryCell(*book, true);
    } catch (const spreadsheet::SpreadsheetError&) {
    }
}

// Reads bytes with one format's reader, whatever their content looks like, and every cell.
template <typename OpenReader> void ReadEveryCellWith(OpenReader openReader, std::string bytes, const std::string& name)
{
    try {
        const uint64_t size = bytes.size();
        spreadsheet::ReaderContext context { spreadsheet::FileBytes::FromBuffer(std::move(bytes)), name, {} };
        spreadsheet::WorkbookData data;
        auto reader = openReader(context, data);
        spreadsheet::Workbook book(name, std::move(reader), std::move(data), {}, size);
        ReadEveryCell(book);
    } catch (const spreadsheet::SpreadsheetError&) {
    }
}

} // namespace vellumcast::fuzz
