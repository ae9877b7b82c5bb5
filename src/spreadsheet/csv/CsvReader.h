#pragma once
// The reader of delimited text (csv, tsv, txt, tab).

#include "spreadsheet/WorkbookReader.h"

#include <memory>

namespace vellumcast::spreadsheet::csv {

// Reads the workbook-wide parts into data and returns the reader of its worksheets.
// Throws SpreadsheetError.
std::unique_ptr<WorkbookReader> OpenReader(const ReaderContext& context, WorkbookData& data);

} // namespace vellumcast::spreadsheet::csv
