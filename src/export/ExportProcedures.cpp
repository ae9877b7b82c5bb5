#include "export/ExportProcedures.h"

#include "core/Files.h"
#include "export/SheetWalker.h"

#include <optional>
#include <string>
#include <vector>

namespace vellumcast::exporting {

using spreadsheet::CellRange;
using spreadsheet::Workbook;
using spreadsheet::Worksheet;

std::string FileStem(const std::string& path)
{
    const std::string name = core::FileNameOfPath(path);
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string ResultFileName(const std::string& workbookPath)
{
    return FileStem(workbookPath) + ".txt";
}

namespace {

// The row lines of a worksheet, each an entry: composed into one text that their entries
// share, while it loads or from the loaded worksheet. Whole lines go on to the sink as they
// come, when it holds little.
void ExportRowLines(SheetWalker& walker, Worksheet& sheet, const ResultEntry& head, int64_t& resultNumber)
{
    std::string text;
    std::vector<size_t> lineEnds;
    std::vector<int64_t> ordinals; // each line's place in the used range, as lines may be left out
    walker.HandOver().Start(text, head, &lineEnds, &ordinals);
    const LineMarks marks { &lineEnds, &ordinals };
    try {
        const auto streamed = walker.WalkWhileLoading(sheet, 142, text, marks);
        CellRange range;
        if (streamed == SheetWalker::Streamed::PassedOver
            || (streamed == SheetWalker::Streamed::No && !walker.Prepare(sheet, Lines::Rows, range))) {
            walker.HandOver().Stop();
            return;
        }
        if (streamed == SheetWalker::Streamed::No)
            walker.Walk(sheet, range, 142, text, marks);
    } catch (...) {
        // A worksheet that fails gives no entries: those that went are taken back.
        walker.HandOver().TakeBack(text, 0);
        walker.HandOver().Stop();
        throw;
    }
    walker.RecordLines(sheet, std::move(text), lineEnds, ordinals, resultNumber);
    walker.HandOver().Stop();
}

// The column lines of a worksheet, each an entry with a text of its own: composed side by
// side from its rows, while it loads or from the loaded worksheet.
void ExportColumnLines(SheetWalker& walker, Worksheet& sheet, int64_t& resultNumber)
{
    std::vector<std::string> texts;
    const auto streamed = walker.ColumnsWhileLoading(sheet, 142, texts);
    if (streamed == SheetWalker::Streamed::PassedOver)
        return;
    CellRange range;
    if (streamed == SheetWalker::Streamed::Composed)
        range = sheet.UsedRange();
    else if (walker.Prepare(sheet, Lines::Columns, range))
        walker.WalkColumns(sheet, range, 142, texts);
    walker.RecordColumns(sheet, range.firstColumn, texts, resultNumber);
}

// One entry per line of every worksheet: rows or columns.
void ExportLines(ExportContext& context, Workbook* workbook, const options::ExportOptions& options,
    const std::string& workbookPath, int64_t& resultNumber, Lines lines, const char* procedure)
{
    SheetWalker walker(context, procedure, options, workbookPath, workbook);
    if (!walker.HasWorkbook())
        return;
    for (Worksheet& sheet : workbook->WorksheetsInTurn()) {
        if (context.pump.StopRequested())
            break;
        if (lines == Lines::Columns)
            ExportColumnLines(walker, sheet, resultNumber);
        else
            ExportRowLines(walker, sheet,
                ResultEntry { ResultFileName(workbookPath), sheet.Name(), 1, {}, options.saveMode }, resultNumber);
        sheet.Unload();
    }
}

} // namespace

void ExportSheetToTextFile(ExportContext& context, Workbook* workbook, const options::ExportOptions& options,
    const std::string& workbookPath, int64_t& resultNumber)
{
    SheetWalker walker(context, "ExportSheetToTextFile", options, workbookPath, workbook);
    if (!walker.HasWorkbook())
        return;
    for (Worksheet& sheet : workbook->WorksheetsInTurn()) {
        if (context.pump.StopRequested())
            break;
        std::string text;
        walker.HandOver().Start(
            text, ResultEntry { ResultFileName(workbookPath), sheet.Name(), 0, {}, options.saveMode });
        try {
            const auto streamed = walker.WalkWhileLoading(sheet, 140, text);
            if (streamed == SheetWalker::Streamed::PassedOver) {
                walker.HandOver().Stop();
                continue;
            }
            CellRange range;
            if (streamed == SheetWalker::Streamed::No) {
                if (!walker.Prepare(sheet, Lines::Rows, range)) {
                    walker.HandOver().Stop();
                    continue;
                }
                walker.Walk(sheet, range, 140, text);
            }
        } catch (...) {
            // A worksheet that fails gives no entry: what went of it is taken back.
            walker.HandOver().TakeBack(text, 0);
            walker.HandOver().Stop();
            throw;
        }
        if (walker.HandOver().EntryBegun())
            walker.EndHandedEntry(sheet, std::move(text), resultNumber);
        else
            walker.Record(sheet, sheet.Name(), 0, std::move(text), resultNumber);
        walker.HandOver().Stop();
        sheet.Unload();
    }
}

void ExportRowToTextFile(ExportContext& context, Workbook* workbook, const options::ExportOptions& options,
    const std::string& workbookPath, int64_t& resultNumber)
{
    ExportLines(context, workbook, options, workbookPath, resultNumber, Lines::Rows, "ExportRowToTextFile");
}

void ExportColumnToTextFile(ExportContext& context, Workbook* workbook, const options::ExportOptions& options,
    const std::string& workbookPath, int64_t& resultNumber)
{
    ExportLines(context, workbook, options, workbookPath, resultNumber, Lines::Columns, "ExportColumnToTextFile");
}

void ExportAllSheetsToTextFile(
    ExportContext& context, Workbook* workbook, const options::ExportOptions& options, std::string& text)
{
    // Without a runner: the first failure ends the export and reaches the caller.
    SheetWalker walker(context, "ExportAllSheetsToTextFile", options, {}, workbook, false);
    walker.HasWorkbook();
    for (Worksheet& sheet : workbook->WorksheetsInTurn()) {
        if (context.pump.StopRequested())
            break;
        // Each worksheet's text may be handed over as it grows and taken back up to its
        // name line; what went before is handed over first.
        walker.HandOver().Start(text, std::nullopt);
        const size_t nameStart = text.size();
        walker.AddSheetLine(text, sheet.Name());
        auto streamed = SheetWalker::Streamed::No;
        try {
            streamed = walker.WalkWhileLoading(sheet, 0, text);
        } catch (...) {
            walker.HandOver().TakeBack(text, nameStart);
            walker.HandOver().Stop();
            throw;
        }
        if (streamed == SheetWalker::Streamed::No) {
            // Prepared before the name goes in, so that a failure leaves the text as it was.
            walker.HandOver().TakeBack(text, nameStart);
            CellRange range;
            bool hasContent = false;
            try {
                hasContent = walker.Prepare(sheet, Lines::Rows, range);
            } catch (...) {
                walker.HandOver().Stop();
                throw;
            }
            walker.AddSheetLine(text, sheet.Name());
            if (hasContent) {
                try {
                    walker.Walk(sheet, range, 0, text);
                } catch (...) {
                    walker.HandOver().Stop(); // what was composed up to the failure stays
                    throw;
                }
            }
        }
        walker.HandOver().Stop();
        walker.AddSheetEnd(text);
        sheet.Unload();
    }
}

} // namespace vellumcast::exporting
