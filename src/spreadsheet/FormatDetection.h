#pragma once
// Recognises a workbook's format by its content, never by its name, and opens the
// reader of that format. Every format is one row of the table in FormatDetection.cpp.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/WorkbookReader.h"

namespace vellumcast::spreadsheet {

// The file extensions of the workbook formats read, without the dot: what a folder search
// takes when not told otherwise. Plain text files (txt, tsv, tab) are read as well, but
// are no workbooks of their own kind, so a search takes them only when asked to.
std::vector<std::string> WorkbookExtensions();

// Recognises the format by the first bytes (and, for ZIP packages, the member names; the
// directory read for them is handed to the package's reader) and opens its reader.
// Name-based hints (csv versus tsv) are the readers' business. Throws SpreadsheetError.
std::unique_ptr<WorkbookReader> OpenReader(const ReaderContext& context, WorkbookData& data);

} // namespace vellumcast::spreadsheet
