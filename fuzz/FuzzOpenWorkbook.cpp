// Opens arbitrary bytes as a workbook under each name the engine treats differently and
// reads every cell of every worksheet: whatever the bytes, the engine may only fail with
// a SpreadsheetError, never crash, hang or run out of memory. Every worksheet, however
// small, is also loaded on a second thread handing over its rows, which must give the
// texts of the loaded worksheet.

#include "FuzzWalk.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    vellumcast::spreadsheet::SetLoadBesideWalkThreshold(0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    for (const char* name : { "fuzz.xlsx", "fuzz.csv" })
        vellumcast::fuzz::OpenAndReadEveryCell(bytes, name);
    return 0;
}
