#pragma once
// What the fuzz targets share: reading every cell of a workbook within a budget, and
// opening bytes with one reader, so each target exercises the parser it is named after.

#include "spreadsheet/SpreadsheetError.h"
#include "spreadsheet/Workbook.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vellumcast::fuzz {

// Reads every cell of every worksheet, going through them in turn as an export does, and
// then lists them all; a valid sheet may span the whole grid, so the walk stops after a
// million cells, and asks what the layout holds. Throws what the engine throws.
inline void ReadEveryCell(spreadsheet::Workbook& book)
{
    int64_t budget = 1 << 20;
    for (spreadsheet::Worksheet& sheet : book.WorksheetsInTurn()) {
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

// Opens bytes as a workbook under name and reads every cell. The engine may fail only
// with a SpreadsheetError; anything else escapes and ends the fuzzer as a finding.
inline void OpenAndReadEveryCell(std::string bytes, const std::string& name)
{
    try {
        spreadsheet::Application application;
        auto book = application.OpenBytes(std::move(bytes), name);
        ReadEveryCell(*book);
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
