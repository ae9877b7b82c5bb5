#pragma once
// The four export procedures: each turns one opened workbook into texts. They compose
// every text in memory (nothing is written beside the workbook) and hand it to a sink
// as a result entry, exactly as if it had been written to a file and read back.

#include "core/Ports.h"
#include "export/ResultList.h"
#include "export/ResultSink.h"
#include "options/ExportOptions.h"
#include "spreadsheet/Workbook.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace vellumcast::exporting {

// What a procedure reports through and writes into.
struct ExportContext {
    core::ErrorReporter& reporter;
    core::Pump& pump;
    core::Progress& progress;
    ResultSink& results; // where each text goes as it is composed
    // The owner the procedures' failure reports name before the procedure; none when empty.
    std::string_view procedureOwner = {};
};

// One entry per worksheet with content; its text holds one line per row. Failures are
// reported with the step's number and the procedure goes on.
void ExportSheetToTextFile(ExportContext& context, spreadsheet::Workbook* workbook,
    const options::ExportOptions& options, const std::string& workbookPath, int64_t& resultNumber);

// One entry per row of every worksheet with content.
void ExportRowToTextFile(ExportContext& context, spreadsheet::Workbook* workbook, const options::ExportOptions& options,
    const std::string& workbookPath, int64_t& resultNumber);

// One entry per column of every worksheet with content; the column's cells on one line.
void ExportColumnToTextFile(ExportContext& context, spreadsheet::Workbook* workbook,
    const options::ExportOptions& options, const std::string& workbookPath, int64_t& resultNumber);

// The whole workbook as one text: per worksheet its name line, its rows and three empty
// lines. Records nothing itself; the first failure is thrown to the caller, and text holds
// what was composed up to it. When the sink holds less than every text whole and has an
// entry under way, what is composed goes on to that entry as it grows, and text holds
// only what has not gone yet.
void ExportAllSheetsToTextFile(
    ExportContext& context, spreadsheet::Workbook* workbook, const options::ExportOptions& options, std::string& text);

// The stem of a file name or path: the file name without its last extension; a name
// without an extension is its own stem. Folders in the path never count.
std::string FileStem(const std::string& path);

// The list name of a workbook's results: its stem, then ".txt".
std::string ResultFileName(const std::string& workbookPath);

} // namespace vellumcast::exporting
