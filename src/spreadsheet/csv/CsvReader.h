#pragma once
// The reader of delimited text (csv, tsv, txt, tab).

#include "spreadsheet/WorkbookReader.h"

#include <cstdint>
#include <memory>

namespace vellumcast::spreadsheet::csv {

// Reads the workbook-wide parts into data and returns the reader of its worksheets.
// Throws SpreadsheetError.
std::unique_ptr<WorkbookReader> OpenReader(const ReaderContext& context, WorkbookData& data);

// The largest byte-wide text read whole, its cells pointing into it (256 MiB by default);
// a larger one is read a piece at a time, its fields copied, so that no more of it is
// read than its fields need. Tests set 0 to read every text in pieces.
void SetWholeTextLimit(uint64_t bytes);

} // namespace vellumcast::spreadsheet::csv
