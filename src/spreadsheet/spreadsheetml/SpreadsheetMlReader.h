#pragma once
// The reader of XML spreadsheets of 2003 (a Workbook in the namespace
// urn:schemas-microsoft-com:office:spreadsheet, usually named .xml).

#include "spreadsheet/WorkbookReader.h"

#include <memory>
#include <string_view>

namespace vellumcast::spreadsheet::spreadsheetml {

// True when the first bytes of a document look like such a workbook.
bool LooksLikeSpreadsheetMl(std::string_view head);

// Reads the styles and the list of worksheets into data and returns the reader of their
// cells. Throws SpreadsheetError.
std::unique_ptr<WorkbookReader> OpenReader(const ReaderContext& context, WorkbookData& data);

} // namespace vellumcast::spreadsheet::spreadsheetml
