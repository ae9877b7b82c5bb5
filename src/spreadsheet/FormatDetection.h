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

enum class WorkbookFormat {
    Unknown,
    Xlsx, // Office Open XML (xlsx, xlsm, xltx, xltm)
    Xlsb, // the same package with binary record parts (xlsb)
    Xls, // compound file: a BIFF workbook stream, or an encrypted package the xls reader refuses
    Ods, // OpenDocument spreadsheet package
    FlatOds, // OpenDocument flat XML (fods)
    SpreadsheetMl, // XML spreadsheet of 2003
    DelimitedText, // csv, tsv, txt
};

// Looks at the first bytes (and, for ZIP packages, the member names). Name-based hints
// (csv versus tsv) are the readers' business.
WorkbookFormat DetectFormat(std::span<const uint8_t> bytes);

// The file extensions of the workbook formats read, without the dot: what a folder search
// takes when not told otherwise. Plain text files (txt, tsv, tab) are read as well, but
// are no workbooks of their own kind, so a search takes them only when asked to.
std::vector<std::string> WorkbookExtensions();

// Opens the reader for the detected format. Throws SpreadsheetError.
std::unique_ptr<WorkbookReader> OpenReader(const ReaderContext& context, WorkbookData& data);

} // namespace vellumcast::spreadsheet
