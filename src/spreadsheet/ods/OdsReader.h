#pragma once
// The reader of OpenDocument spreadsheets, packaged (ods, ots) or flat (fods).

#include "spreadsheet/WorkbookReader.h"

#include <memory>

namespace vellumcast::spreadsheet::ods {

// Reads the workbook-wide parts into data and returns the reader of its worksheets.
// Throws SpreadsheetError.
std::unique_ptr<WorkbookReader> OpenReader(const ReaderContext& context, WorkbookData& data);
// A flat document is one XML file instead of a package.
std::unique_ptr<WorkbookReader> OpenFlatReader(const ReaderContext& context, WorkbookData& data);

} // namespace vellumcast::spreadsheet::ods
