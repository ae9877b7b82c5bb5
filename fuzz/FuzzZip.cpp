// Reads arbitrary bytes as a ZIP archive: the central directory, every member by name,
// and each member's inflated bytes both ways (on the calling thread and read ahead).
// Whatever the bytes, only SpreadsheetError may come out.

#include "spreadsheet/SpreadsheetError.h"
#include "spreadsheet/container/Zip.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace vellumcast::spreadsheet;
    try {
        const container::ZipArchive archive(std::span<const uint8_t>(data, size));
        for (const container::ZipEntry& entry : archive.Entries()) {
            (void)archive.Find(entry.name);
            try {
                (void)archive.ReadAll(entry, 16u << 20);
            } catch (const SpreadsheetError&) {
            }
            try {
                size_t seen = 0;
                archive.ReadAhead(entry, [&](std::string_view chunk) {
                    seen += chunk.size();
                    return seen < (16u << 20);
                });
            } catch (const SpreadsheetError&) {
            }
        }
    } catch (const SpreadsheetError&) {
    }
    return 0;
}
