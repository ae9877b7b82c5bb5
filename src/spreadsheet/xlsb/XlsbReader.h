#pragma once
// The reader of binary workbooks (xlsb, and the same package saved as a template or add-in).

#include "spreadsheet/WorkbookReader.h"

#include <memory>

namespace vellumcast::spreadsheet::xlsb {

// Reads the workbook-wide parts into data and returns the reader of its worksheets.
// Throws SpreadsheetError.
std::unique_ptr<WorkbookReader> OpenReader(const ReaderContext& context, WorkbookData& data);

} // namespace vellumcast::spreadsheet::xlsb
