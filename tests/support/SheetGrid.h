#pragma once
// Compares a worksheet's displayed texts with an expected grid, naming the first cell that
// differs, and loads a worksheet's raw cells for tests that look beneath the texts.

#include "spreadsheet/Workbook.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellumcast::testing {

using Grid = std::vector<std::vector<std::string>>;

// The texts of the worksheet's used range, row by row.
Grid TextsOf(spreadsheet::Worksheet& sheet);

// Success when the used range starts at (firstRow, firstColumn) and holds exactly expected.
::testing::AssertionResult SheetShows(
    spreadsheet::Worksheet& sheet, const Grid& expected, int32_t firstRow = 1, int32_t firstColumn = 1);

// "C3"
std::string CellName(int32_t row, int32_t column);

} // namespace vellumcast::testing
