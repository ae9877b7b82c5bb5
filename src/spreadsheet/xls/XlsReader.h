#pragma once
// The reader of legacy binary workbooks (BIFF8 and BIFF5, in a compound file or bare).

#include "spreadsheet/WorkbookReader.h"

#include <memory>

namespace vellumcast::spreadsheet::xls {

// Reads the workbook-wide parts into data and returns the reader of its worksheets.
// Throws SpreadsheetError.
std::unique_ptr<WorkbookReader> OpenReader(const ReaderContext& context, WorkbookData& data);
// As OpenReader, for a workbook stream saved without its compound file.
std::unique_ptr<WorkbookReader> OpenBareStreamReader(const ReaderContext& context, WorkbookData& data);

} // namespace vellumcast::spreadsheet::xls
