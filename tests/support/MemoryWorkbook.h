#pragma once
// Workbooks built in memory for tests of the export code: each worksheet is a list of
// cells given by position and displayed text.

#include "spreadsheet/Workbook.h"

#include <memory>
#include <string>
#include <vector>

namespace vellumcast::testing {

struct MemoryCell {
    int32_t row;
    int32_t column;
    std::string text; // "" records a formatted blank cell
};

struct MemorySheet {
    std::string name;
    std::vector<MemoryCell> cells;
    bool failsToLoad = false; // LoadSheet throws, as a damaged worksheet would
    // LoadSheet succeeds this many times, then throws, as a file changed underneath would.
    int loadsBeforeFailing = -1;
    // LoadSheet throws after adding this many cells, part way through the worksheet.
    int cellsBeforeFailing = -1;
    // Counts the loads, when set.
    std::shared_ptr<int> loads = nullptr;
    // The used range the file claims, as an xlsx dimension does; lastRow 0 for none.
    spreadsheet::CellRange claimed { 0, 0, 0, 0 };
    // The reader says how far it has read (by cells), as one without a dimension does.
    bool notesRead = false;
};

// fileSize stands for the size of the workbook's file, which bounds the work it may cause.
std::unique_ptr<spreadsheet::Workbook> MakeWorkbook(
    const std::string& path, std::vector<MemorySheet> sheets, uint64_t fileSize = 0);

// A sheet from rows of texts starting at (firstRow, firstColumn); "" cells are left out.
MemorySheet SheetFromRows(const std::string& name, const std::vector<std::vector<std::string>>& rows,
    int32_t firstRow = 1, int32_t firstColumn = 1);

} // namespace vellumcast::testing
