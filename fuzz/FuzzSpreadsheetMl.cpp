// Reads arbitrary bytes as an XML spreadsheet of 2003, and every cell of it.

#include "FuzzWalk.h"
#include "spreadsheet/spreadsheetml/SpreadsheetMlReader.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    vellumcast::fuzz::ReadEveryCellWith(vellumcast::spreadsheet::spreadsheetml::OpenReader,
        std::string(reinterpret_cast<const char*>(data), size), "fuzz.xml");
    return 0;
}
