#include "export/ExportProcedures.h"

#include "core/Files.h"
#include "export/ExportSteps.h"
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
    // A worksheet that fails gives no entries: those that went are taken back.
    const HandOverScope handing(walker.HandOver(), text, head, &lineEnds, &ordinals);
    const LineMarks marks { &lineEnds, &ordinals };
    const auto streamed = walker.WalkWhileLoading(sheet, steps::walk::kLineTexts, text, marks);
    CellRange range;
    if (streamed == SheetWalker::Streamed::PassedOver
        || (streamed == SheetWalker::Streamed::No && !walker.Prepare(sheet, Lines::Rows, range)))
        return;
    if (streamed == SheetWalker::Streamed::No)
        walker.Walk(sheet, range, steps::walk::kLineTexts, text, marks);
    walker.RecordLines(sheet, std::move(text), lineEnds, ordinals, resultNumber);
}

// The column lines of a worksheet, each an entry with a text of its own: composed side by
// side from its rows, while it loads or from the loaded worksheet.
void ExportColumnLines(SheetWalker& walker, Worksheet& sheet, int64_t& resultNumber)
{
    std::vector<std::string> texts;
    const auto streamed = walker.ColumnsWhileLoading(sheet, steps::walk::kLineTexts, texts);
    if (streamed == SheetWalker::Streamed::PassedOver)
        return;
    CellRange range;
    if (streamed == SheetWalker::Streamed::Composed)
        range = sheet.UsedRange();
    else if (walker.Prepare(sheet, Lines::Columns, range))
        walker.WalkColumns(sheet, range, steps::walk::kLineTexts, texts);
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
        {
            std::string text;
            // A worksheet that fails gives no entry: what went of it is taken back.
            const HandOverScope handing(walker.HandOver(), text,
                ResultEntry { ResultFileName(workbookPath), sheet.Name(), 0, {}, options.saveMode });
            const auto streamed = walker.WalkWhileLoading(sheet, steps::walk::kSheetText, text);
            if (streamed == SheetWalker::Streamed::PassedOver)
                continue;
            CellRange range;
            if (streamed == SheetWalker::Streamed::No) {
                if (!walker.Prepare(sheet, Lines::Rows, range))
                    continue;
                walker.Walk(sheet, range, steps::walk::kSheetText, text);
            }
            if (walker.HandOver().EntryBegun())
                walker.EndHandedEntry(sheet, std::move(text), resultNumber);
            else
                walker.Record(sheet, sheet.Name(), 0, std::move(text), resultNumber);
        }
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
        {
            // Each worksheet's text may be handed over as it grows and taken back up to its
            // name line; what went before is handed over first.
            HandOverScope handing(walker.HandOver(), text, std::nullopt);
            const size_t nameStart = text.size();
            handing.TakeBackOnFailureTo(nameStart);
            walker.AddSheetLine(text, sheet.Name());
            const auto streamed = walker.WalkWhileLoading(sheet, steps::walk::kAllSheets, text);
            if (streamed == SheetWalker::Streamed::No) {
                // Prepared before the name goes in, so that a failure leaves the text as it was.
                walker.HandOver().TakeBack(text, nameStart);
                handing.KeepOnFailure(); // what was composed up to the failure stays
                CellRange range;
                const bool hasContent = walker.Prepare(sheet, Lines::Rows, range);
                walker.AddSheetLine(text, sheet.Name());
                if (hasContent)
                    walker.Walk(sheet, range, steps::walk::kAllSheets, text);
            }
        }
        walker.AddSheetEnd(text);
        sheet.Unload();
    }
}

} // namespace vellumcast::exporting
