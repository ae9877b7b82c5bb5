// Prints what the engine reads of a workbook, for comparing it cell by cell with another
// spreadsheet program or reader:
//   dump_cells BOOK        the displayed text of each cell (bench/peers/compare_heldout.py)
//   dump_cells --raw BOOK  raw values, merged areas and hidden rows and columns
//                          (bench/peers/compare_raw_openpyxl.py)
// Output, one line each, fields divided by tabs; a backslash, tab, carriage return or line
// feed in a name or text is written as \\, \t, \r or \n.
// - displayed: "sheet NAME" for a worksheet, then "ROW COLUMN TEXT" (1-based) for each of
//   its cells with a text, in row order;
// - raw: "sheet NAME FIRSTROW FIRSTCOLUMN LASTROW LASTCOLUMN" (the used range), then
//   "cell ROW COLUMN TEXT" for each cell with a raw text, "merge FIRSTROW FIRSTCOLUMN
//   LASTROW LASTCOLUMN" for each merged area, "row ROW" and "column COLUMN" for each hidden
//   row and column of the used range.

#include "spreadsheet/Workbook.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

using namespace vellumcast::spreadsheet;

namespace {

std::string Escaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// Prints each cell of the worksheet with a text in style, after prefix.
void PrintCells(Worksheet& sheet, CellTextStyle style, const char* prefix)
{
    const RowBatch rows = sheet.Rows();
    for (size_t r = 0; r < rows.RowCount(); ++r) {
        for (size_t i = rows.CellsBegin(r); i < rows.CellsEnd(r); ++i) {
            const Cell& cell = rows.CellAt(i);
            const std::string_view text = sheet.TextOf(cell, rows, style);
            if (!text.empty())
                std::printf("%s%d\t%d\t%s\n", prefix, rows.RowNumber(r), cell.column, Escaped(text).c_str());
        }
    }
}

void PrintLayout(Worksheet& sheet, const CellRange& range)
{
    for (const CellRange& area : sheet.MergedAreas())
        std::printf("merge\t%d\t%d\t%d\t%d\n", area.firstRow, area.firstColumn, area.lastRow, area.lastColumn);
    for (int32_t row = 1; row <= range.lastRow; ++row) {
        if (sheet.RowHidden(row))
            std::printf("row\t%d\n", row);
    }
    for (int32_t column = 1; column <= range.lastColumn; ++column) {
        if (sheet.ColumnHidden(column))
            std::printf("column\t%d\n", column);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const bool raw = argc == 3 && std::strcmp(argv[1], "--raw") == 0;
    if (argc != 2 && !raw) {
        std::fprintf(stderr, "usage: dump_cells [--raw] BOOK\n");
        return 2;
    }
    try {
        Application application;
        auto book = application.Open(argv[argc - 1]);
        for (auto& sheet : book->Worksheets()) {
            if (!raw) {
                std::printf("sheet\t%s\n", Escaped(sheet.Name()).c_str());
                PrintCells(sheet, CellTextStyle::Displayed, "");
            } else {
                const CellRange range = sheet.UsedRange();
                std::printf("sheet\t%s\t%d\t%d\t%d\t%d\n", Escaped(sheet.Name()).c_str(), range.firstRow,
                    range.firstColumn, range.lastRow, range.lastColumn);
                PrintCells(sheet, CellTextStyle::Raw, "cell\t");
                PrintLayout(sheet, range);
            }
            sheet.Unload();
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
