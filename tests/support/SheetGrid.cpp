#include "support/SheetGrid.h"

namespace vellumcast::testing {

std::string CellName(int32_t row, int32_t column)
{
    std::string letters;
    for (int32_t c = column; c > 0; c = (c - 1) / 26)
        letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
    return letters + std::to_string(row);
}

Grid TextsOf(spreadsheet::Worksheet& sheet)
{
    const spreadsheet::CellRange range = sheet.UsedRange();
    Grid grid;
    for (int32_t row = range.firstRow; row <= range.lastRow; ++row) {
        auto& line = grid.emplace_back();
        for (int32_t column = range.firstColumn; column <= range.lastColumn; ++column)
            line.emplace_back(sheet.CellText(row, column));
    }
    return grid;
}

::testing::AssertionResult SheetShows(
    spreadsheet::Worksheet& sheet, const Grid& expected, int32_t firstRow, int32_t firstColumn)
{
    const spreadsheet::CellRange range = sheet.UsedRange();
    const int32_t rows = static_cast<int32_t>(expected.size());
    const int32_t columns = expected.empty() ? 0 : static_cast<int32_t>(expected.front().size());
    const std::string wantedRange
        = CellName(firstRow, firstColumn) + ":" + CellName(firstRow + rows - 1, firstColumn + columns - 1);
    const std::string actualRange
        = CellName(range.firstRow, range.firstColumn) + ":" + CellName(range.lastRow, range.lastColumn);
    if (wantedRange != actualRange)
        return ::testing::AssertionFailure()
            << "sheet \"" << sheet.Name() << "\": used range " << actualRange << ", expected " << wantedRange;
    for (int32_t r = 0; r < rows; ++r) {
        for (int32_t c = 0; c < static_cast<int32_t>(expected[static_cast<size_t>(r)].size()); ++c) {
            const std::string actual(sheet.CellText(firstRow + r, firstColumn + c));
            const std::string& wanted = expected[static_cast<size_t>(r)][static_cast<size_t>(c)];
            if (actual != wanted)
                return ::testing::AssertionFailure()
                    << "sheet \"" << sheet.Name() << "\", cell " << CellName(firstRow + r, firstColumn + c)
                    << ": shows \"" << actual << "\", expected \"" << wanted << "\"";
        }
    }
    return ::testing::AssertionSuccess();
}

} // namespace vellumcast::testing
