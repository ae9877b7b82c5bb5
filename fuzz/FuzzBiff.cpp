// Reads arbitrary bytes as a BIFF workbook stream: record by record with the shared
// string table decoded, and whole, as the stream of a sound compound file opened by the
// xls reader with every cell read. Only SpreadsheetError may come out.

#include "FuzzWalk.h"
#include "spreadsheet/xls/Biff.h"
#include "spreadsheet/xls/XlsReader.h"
#include "support/CfbTestContainer.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace vellumcast::spreadsheet;
    try {
        xls::BiffRecordReader records(std::span<const uint8_t>(data, size));
        xls::BiffRecord record;
        while (records.Next(record)) {
            if (record.type == xls::biff::kSst)
                (void)xls::ReadSharedStrings(record);
        }
    } catch (const SpreadsheetError&) {
    }
    const std::string stream(reinterpret_cast<const char*>(data), size);
    vellumcast::fuzz::ReadEveryCellWith(
        xls::OpenReader, vellumcast::testing::MakeContainer("Workbook", stream, 4096).bytes, "fuzz.xls");
    return 0;
}
