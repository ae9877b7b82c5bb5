#pragma once
// The reader of legacy binary workbooks (BIFF8 and BIFF5 in a compound file).

#include "spreadsheet/WorkbookReader.h"

#include <memory>

namespace vellumcast::spreadsheet::xls {

// Reads the workbook-wide parts into data and returns the reader of its worksheets.
// Throws SpreadsheetError.
std::unique_ptr<WorkbookReader> OpenReader(const ReaderContext& context, WorkbookData& data);

} // namespace vellumcast::spreadsheet::xls
