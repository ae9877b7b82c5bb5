// Prints every worksheet of a workbook and the displayed text of each cell that has one,
// for comparing the engine with another spreadsheet program cell by cell:
// dump_cells BOOK
// Output, one line each: "sheet<TAB>NAME" for a worksheet, then "ROW<TAB>COLUMN<TAB>TEXT"
// (1-based) for its non-empty cells in row order; a backslash, tab, carriage return or
// line feed in a name or text is written as \\, \t, \r or \n.

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

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: dump_cells BOOK\n");
        return 2;
    }
    try {
        Application application;
        auto book = application.Open(argv[1]);
        for (auto& sheet : book->Worksheets()) {
            std::printf("sheet\t%s\n", Escaped(sheet.Name()).c_str());
            const SheetData& cells = sheet.Cells();
            const auto& rows = cells.Rows();
            for (size_t r = 0; r < rows.size(); ++r) {
                const size_t end = r + 1 < rows.size() ? rows[r + 1].begin : sheet.CellCount();
                for (size_t i = rows[r].begin; i < end; ++i) {
                    const Cell& cell = cells.CellAt(i);
                    const std::string_view text = sheet.TextOf(cell);
                    if (!text.empty())
                        std::printf("%d\t%d\t%s\n", rows[r].row, cell.column, Escaped(text).c_str());
                }
            }
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
