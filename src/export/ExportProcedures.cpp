#include "export/ExportProcedures.h"

#include "core/ErrorReport.h"
#include "core/Files.h"
#include "core/StepRunner.h"
#include "export/LineComposer.h"

#include <algorithm>

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

std::string ResultText(std::string composed)
{
    if (composed.empty())
        return "empty file";
    return composed;
}

namespace {

// What the procedures share: the worksheet walk with its emptiness test, the progress
// and the recording of entries.
class SheetWalker {
public:
    SheetWalker(ExportContext& context, const char* procedure, const options::ExportOptions& options,
        const std::string& workbookPath)
        : m_context(context)
        , m_runner(context.reporter, core::LocationText("Excel1", procedure))
        , m_composer(options.divider, options.includeBlankCells, options.quoteCells)
        , m_fileName(ResultFileName(workbookPath))
    {
    }

    core::StepRunner& Runner() { return m_runner; }
    LineComposer& Composer() { return m_composer; }

    // Reads the used range (step 108). A worksheet that cannot be read is reported once
    // and passed over, rather than failing again for every cell. Returns false for a
    // worksheet to pass over: unreadable, or without content.
    bool Prepare(Worksheet& sheet, CellRange& range)
    {
        m_context.pump.Run(); // 102
        if (!m_runner.Step(108, [&] { range = sheet.UsedRange(); }))
            return false;
        bool hasContent = true; // 116
        if (range.lastRow == 1 && range.lastColumn == 1) { // 118
            if (m_runner.Test(120, [&] { return sheet.CellText(1, 1).empty(); })) // 120
                hasContent = false; // 122
        }
        return hasContent; // 124
    }

    // Composes the line of the cells (row, firstColumn..lastColumn) or, across, of
    // (firstRow..lastRow, column) into out; label is the step of the cell read.
    void ComposeRow(Worksheet& sheet, int32_t row, const CellRange& range, int label, std::string& out)
    {
        m_composer.Begin();
        for (int32_t column = range.firstColumn; column <= range.lastColumn; ++column) {
            m_context.pump.Run();
            ReadAndAdd(sheet, row, column, label);
        }
        m_composer.End(out);
    }

    void ComposeColumn(Worksheet& sheet, int32_t column, const CellRange& range, int label, std::string& out)
    {
        m_composer.Begin();
        for (int32_t row = range.firstRow; row <= range.lastRow; ++row) {
            m_context.pump.Run();
            ReadAndAdd(sheet, row, column, label);
        }
        m_composer.End(out);
    }

    void Record(const std::string& sheetName, std::string ordinal, std::string composed, int64_t& resultNumber)
    {
        m_runner.Step(180, [&] {
            m_context.results.push_back(
                ResultEntry { m_fileName, sheetName, std::move(ordinal), ResultText(std::move(composed)) });
        });
        ++resultNumber;
    }

    void SetProgress(int32_t position, int32_t last)
    {
        m_context.progress.Set((static_cast<double>(position) + 1.0) / (static_cast<double>(last) + 1.0) * 100.0);
    }

private:
    void ReadAndAdd(Worksheet& sheet, int32_t row, int32_t column, int label)
    {
        // A failed read keeps the previous cell's text, as the step would have left it.
        try {
            m_lastText.assign(sheet.CellText(row, column));
        } catch (...) {
            m_runner.Fail(label, std::current_exception());
        }
        m_composer.Add(m_lastText);
    }

    ExportContext& m_context;
    core::StepRunner m_runner;
    LineComposer m_composer;
    std::string m_fileName;
    std::string m_lastText;
};

// Once a few hundred rows are composed, reserves room for the whole text from their average
// length, so a text of hundreds of megabytes is not copied again and again as it grows. The
// first rows need not be typical (long texts above a used range that runs on empty to the
// last row of the sheet), so the reservation is capped and growth does the rest.
void ReserveFromSample(std::string& text, size_t sheetStart, int32_t row, const CellRange& range)
{
    constexpr int32_t kSampleRows = 512;
    constexpr double kMaxReserve = 256.0 * 1024 * 1024;
    const int64_t done = static_cast<int64_t>(row) - range.firstRow + 1;
    const int64_t total = static_cast<int64_t>(range.lastRow) - range.firstRow + 1;
    if (done != kSampleRows || total < 4 * kSampleRows)
        return;
    const double estimate
        = static_cast<double>(text.size() - sheetStart) / static_cast<double>(done) * static_cast<double>(total);
    text.reserve(sheetStart + static_cast<size_t>(std::min(estimate * 1.05, kMaxReserve)) + 4096);
}

bool NoWorkbook(core::StepRunner& runner, Workbook* workbook)
{
    if (workbook)
        return false;
    runner.Fail(100, "Object variable not set: no workbook is open");
    return true;
}

} // namespace

void ExportSheetToTextFile(ExportContext& context, Workbook* workbook, const options::ExportOptions& options,
    const std::string& workbookPath, int64_t& resultNumber)
{
    SheetWalker walker(context, "ExportSheetToTextFile", options, workbookPath);
    if (NoWorkbook(walker.Runner(), workbook))
        return;
    for (Worksheet& sheet : workbook->Worksheets()) {
        CellRange range;
        if (!walker.Prepare(sheet, range))
            continue;
        std::string text;
        for (int32_t row = range.firstRow; row <= range.lastRow; ++row) {
            walker.SetProgress(row, range.lastRow);
            context.pump.Run();
            walker.ComposeRow(sheet, row, range, 140, text);
            ReserveFromSample(text, 0, row, range);
        }
        walker.Record(sheet.Name(), {}, std::move(text), resultNumber);
        sheet.Unload();
    }
}

void ExportRowToTextFile(ExportContext& context, Workbook* workbook, const options::ExportOptions& options,
    const std::string& workbookPath, int64_t& resultNumber)
{
    SheetWalker walker(context, "ExportRowToTextFile", options, workbookPath);
    if (NoWorkbook(walker.Runner(), workbook))
        return;
    for (Worksheet& sheet : workbook->Worksheets()) {
        CellRange range;
        if (!walker.Prepare(sheet, range))
            continue;
        int64_t ordinal = 1;
        for (int32_t row = range.firstRow; row <= range.lastRow; ++row, ++ordinal) {
            walker.SetProgress(row, range.lastRow);
            context.pump.Run();
            std::string text;
            walker.ComposeRow(sheet, row, range, 142, text);
            walker.Record(sheet.Name(), std::to_string(ordinal), std::move(text), resultNumber);
        }
        sheet.Unload();
    }
}

void ExportColumnToTextFile(ExportContext& context, Workbook* workbook, const options::ExportOptions& options,
    const std::string& workbookPath, int64_t& resultNumber)
{
    SheetWalker walker(context, "ExportColumnToTextFile", options, workbookPath);
    if (NoWorkbook(walker.Runner(), workbook))
        return;
    for (Worksheet& sheet : workbook->Worksheets()) {
        CellRange range;
        if (!walker.Prepare(sheet, range))
            continue;
        int64_t ordinal = 1;
        for (int32_t column = range.firstColumn; column <= range.lastColumn; ++column, ++ordinal) {
            context.pump.Run();
            walker.SetProgress(column, range.lastColumn);
            std::string text;
            walker.ComposeColumn(sheet, column, range, 142, text);
            walker.Record(sheet.Name(), std::to_string(ordinal), std::move(text), resultNumber);
        }
        sheet.Unload();
    }
}

void ExportAllSheetsToTextFile(
    ExportContext& context, Workbook* workbook, const options::ExportOptions& options, std::string& text)
{
    if (!workbook)
        throw std::runtime_error("Object variable not set: no workbook is open");
    LineComposer composer(options.divider, options.includeBlankCells, options.quoteCells);
    for (Worksheet& sheet : workbook->Worksheets()) {
        context.pump.Run();
        const CellRange range = sheet.UsedRange();
        text += sheet.Name();
        text += "\r\n";
        const size_t sheetStart = text.size();
        const bool hasContent = !(range.lastRow == 1 && range.lastColumn == 1 && sheet.CellText(1, 1).empty());
        if (hasContent) {
            for (int32_t row = range.firstRow; row <= range.lastRow; ++row) {
                context.progress.Set(
                    (static_cast<double>(row) + 1.0) / (static_cast<double>(range.lastRow) + 1.0) * 100.0);
                context.pump.Run();
                composer.Begin();
                for (int32_t column = range.firstColumn; column <= range.lastColumn; ++column) {
                    context.pump.Run();
                    composer.Add(sheet.CellText(row, column));
                }
                composer.End(text);
                ReserveFromSample(text, sheetStart, row, range);
            }
        }
        text += "\r\n\r\n\r\n";
        sheet.Unload();
    }
}

} // namespace vellumcast::exporting
