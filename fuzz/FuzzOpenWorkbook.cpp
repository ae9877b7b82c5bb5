// Opens arbitrary bytes as a workbook under each name the engine treats differently and
// reads every cell of every worksheet: whatever the bytes, the engine may only fail with
// a SpreadsheetError, never crash, hang or run out of memory.

#include "spreadsheet/Workbook.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace vellumcast::spreadsheet;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    for (const char* name : { "fuzz.xlsx", "fuzz.csv" }) {
        try {
            Application application;
            auto book = application.OpenBytes(bytes, name);
            for (Worksheet& sheet : book->Worksheets()) {
                const CellRange range = sheet.UsedRange();
                // Bound the walk: a valid sheet may legitimately span the whole grid.
                int64_t budget = 1 << 20;
                for (int32_t row = range.firstRow; row <= range.lastRow && budget > 0; ++row)
                    for (int32_t column = range.firstColumn; column <= range.lastColumn && budget > 0;
                         ++column, --budget)
                        sheet.CellText(row, column);
            }
        } catch (const SpreadsheetError&) {
        }
    }
    return 0;
}
