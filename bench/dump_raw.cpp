// Prints what the engine reads of a workbook beyond displayed texts, for comparing it with
// another reader (bench/compare_raw_openpyxl.py): each worksheet's raw cell values, merged
// areas and hidden rows and columns.
// dump_raw BOOK
// Output, one line each, fields divided by tabs: "sheet NAME FIRSTROW FIRSTCOLUMN LASTROW
// LASTCOLUMN" (the used range) for a worksheet, then "cell ROW COLUMN TEXT" for each of its
// cells with a raw text, "merge FIRSTROW FIRSTCOLUMN LASTROW LASTCOLUMN" for each merged
// area, "row ROW" and "column COLUMN" for each hidden row and column of the used range. A
// backslash, tab, carriage return or line feed is written as \\, \t, \r or \n.

#include "spreadsheet/Workbook.h"

#include <cstdio>
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
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: dump_raw BOOK\n");
        return 2;
    }
    try {
        Application application;
        auto book = application.Open(argv[1]);
        for (auto& sheet : book->Worksheets()) {
            const CellRange range = sheet.UsedRange();
            std::printf("sheet\t%s\t%d\t%d\t%d\t%d\n", Escaped(sheet.Name()).c_str(), range.firstRow, range.firstColumn,
                range.lastRow, range.lastColumn);
            const SheetData& cells = sheet.Cells();
            const auto& rows = cells.Rows();
            for (size_t r = 0; r < rows.size(); ++r) {
                const size_t end = r + 1 < rows.size() ? rows[r + 1].begin : sheet.CellCount();
                for (size_t i = rows[r].begin; i < end; ++i) {
                    const Cell& cell = cells.CellAt(i);
                    const std::string_view text = sheet.TextOf(cell, CellTextStyle::Raw);
                    if (!text.empty())
                        std::printf("cell\t%d\t%d\t%s\n", rows[r].row, cell.column, Escaped(text).c_str());
                }
            }
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
            sheet.Unload();
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
