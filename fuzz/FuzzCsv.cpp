// Reads arbitrary bytes as delimited text, under names that say comma, tab or nothing (the
// content deciding), and every cell of it.

#include "FuzzWalk.h"
#include "spreadsheet/csv/CsvReader.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    for (const char* name : { "fuzz.csv", "fuzz.tsv", "fuzz" })
        vellumcast::fuzz::ReadEveryCellWith(vellumcast::spreadsheet::csv::OpenReader, bytes, name);
    return 0;
}
