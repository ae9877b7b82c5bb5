// Reads arbitrary bytes as a compound file: the header, the allocation tables, the
// directory and every top-level stream. Whatever the bytes, only SpreadsheetError may come
// out, and no chain may loop.

#include "spreadsheet/SpreadsheetError.h"
#include "spreadsheet/container/Cfb.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace vellumcast::spreadsheet;
    try {
        const container::CompoundFile file(std::span<const uint8_t>(data, size));
        for (const container::CfbEntry& entry : file.TopLevel()) {
            (void)file.FindStream(entry.name);
            try {
                (void)file.Read(entry);
            } catch (const SpreadsheetError&) {
            }
        }
    } catch (const SpreadsheetError&) {
    }
    return 0;
}
