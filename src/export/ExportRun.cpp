#include "export/ExportRun.h"

#include "core/ErrorReport.h"
#include "core/StepRunner.h"
#include "export/ExportProcedures.h"
#include "export/ExportSteps.h"
#include "spreadsheet/Workbook.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace vellumcast::exporting {

namespace {

// The bar covers the whole run: the workbooks done, and the share of the current one
// that the export procedures report.
class RunProgress final : public core::Progress {
public:
    RunProgress(core::Progress& bar, size_t count)
        : m_bar(bar)
        , m_count(static_cast<double>(count))
    {
    }
    void StartWorkbook(size_t index) { m_done = static_cast<double>(index); }
    void Set(double percent) override
    {
        const double share = std::isfinite(percent) ? std::clamp(percent, 0.0, 100.0) / 100.0 : 0.0;
        m_bar.Set((m_done + share) / m_count * 100.0);
    }

private:
    core::Progress& m_bar;
    double m_count;
    double m_done = 0;
};

// Runs the procedure of the save mode of options on one opened workbook.
void RunProcedure(core::StepRunner& run, ExportContext& context, spreadsheet::Workbook* workbook,
    const options::ExportOptions& options, const std::string& path, int64_t& resultNumber)
{
    ResultSink& results = context.results;
    switch (options.saveMode) {
    case options::SaveMode::AllSheets: {
        std::string text;
        // The text composed before a failure is still listed, as a partly written file
        // would have been, but marked as cut short, so that no save puts it in the place
        // of a whole text. The entry is under way from the start, so that what is
        // composed may go on to the sink as it grows.
        results.Begin(ResultEntry { ResultFileName(path), {}, 0, {}, options.saveMode });
        const bool whole = run.Step(
            steps::run::kComposeAllSheets, [&] { ExportAllSheetsToTextFile(context, workbook, options, text); });
        run.Step(steps::run::kListAllSheets, [&] {
            results.Write(std::move(text));
            if (whole)
                results.Commit();
            else
                results.CommitCutShort();
        });
        return;
    }
    case options::SaveMode::EachSheet:
        run.Step(
            steps::run::kEachSheet, [&] { ExportSheetToTextFile(context, workbook, options, path, resultNumber); });
        return;
    case options::SaveMode::EachRow:
        run.Step(steps::run::kEachRow, [&] { ExportRowToTextFile(context, workbook, options, path, resultNumber); });
        return;
    case options::SaveMode::EachColumn:
        run.Step(
            steps::run::kEachColumn, [&] { ExportColumnToTextFile(context, workbook, options, path, resultNumber); });
        return;
    }
}

// Opens the workbook at path and exports it with the options as they stand now; a
// workbook that cannot be opened is reported once and passed over. divider is the one
// chosen last, kept when none is chosen now.
void ExportWorkbook(WorkbookSource& source, ExportRunNotices& notices, const ExportRunPorts& ports,
    core::StepRunner& run, ExportContext context, ResultList* list, const std::string& path, std::string& divider,
    int64_t& resultNumber)
{
    spreadsheet::Application application;
    application.SetYield([&] { ports.pump.Run(); });
    std::unique_ptr<spreadsheet::Workbook> workbook;
    if (!run.Step(steps::run::kOpenWorkbook, [&] { workbook = source.OpenWorkbook(application, path); }))
        return;
    std::optional<ChosenOptions> chosen;
    run.Step(steps::run::kReadOptions, [&] { chosen = source.Options(); });
    if (chosen && chosen->dividerChosen)
        divider = chosen->options.divider;
    const size_t firstNew = list ? list->size() : 0;
    const SinkMark before = context.results.Mark();
    if (chosen) {
        options::ExportOptions options = chosen->options;
        options.divider = divider;
        RunProcedure(run, context, workbook.get(), options, path, resultNumber);
    }
    // A workbook stopped half-way is left out rather than listed as if whole.
    if (ports.pump.StopRequested())
        context.results.RollBack(before);
    if (list && list->size() > firstNew)
        notices.ResultsAdded(*list, firstNew);
    if (!workbook->Warnings().empty())
        notices.WorkbookWarnings(workbook->Warnings());
    // The workbook is discarded as this returns, never saved.
}

// Runs the export into sink; list, when given, is the sink itself and the host hears of it.
size_t RunExportTo(ExportRunHost& host, ExportRunPorts ports, ResultSink& results, ResultList* list)
{
    core::CountingReporter reporter(ports.reporter);
    core::StepRunner run(reporter, ports.places.run);

    run.Step(steps::run::kClearResults, [&] {
        if (list)
            list->clear();
    });
    size_t count = 0;
    run.Step(steps::run::kCountWorkbooks, [&] { count = host.WorkbookCount(); });
    if (count == 0) {
        run.Step(steps::run::kNoFilesAdded, [&] { host.ShowNoFilesAdded(); });
        return 0;
    }
    host.RunStarting();
    run.Step(steps::run::kBusy, [&] { host.SetBusy(true); });
    run.Step(steps::run::kLayoutResults, [&] {
        if (auto chosen = host.Options())
            host.LayoutResults(chosen->options.saveMode);
    });
    int64_t resultNumber = 1;
    std::string divider;
    size_t failedWorkbooks = 0;
    RunProgress progress(ports.progress, count);

    std::optional<size_t> stoppedAt; // the first workbook a stop left out
    for (size_t i = 0; i < count; ++i) {
        const size_t reportsBefore = reporter.Count();
        ports.pump.Run();
        if (ports.pump.StopRequested()) {
            stoppedAt = stoppedAt.value_or(i);
            break;
        }
        progress.StartWorkbook(i);
        host.WorkbookStarting(i);
        std::string path;
        run.Step(steps::run::kReadPath, [&] { path = host.WorkbookPath(i); });
        if (list && !path.empty())
            list->AddInput(path);
        run.Step(steps::run::kBusyForWorkbook, [&] { host.SetBusy(true); });

        ExportWorkbook(host, host, ports, run, { reporter, ports.pump, progress, results, ports.places.procedures },
            list, path, divider, resultNumber);
        if (!ports.pump.StopRequested())
            run.Step(steps::run::kWorkbookDone, [&] { progress.Set(100); });
        else
            stoppedAt = stoppedAt.value_or(i); // its results were taken back
        run.Step(steps::run::kNotBusyForWorkbook, [&] { host.SetBusy(false); });
        if (reporter.Count() > reportsBefore)
            ++failedWorkbooks;
    }

    if (stoppedAt)
        host.RunStopped(*stoppedAt);
    run.Step(steps::run::kShowResults, [&] {
        if (list) {
            host.RunFinished(*list);
        } else {
            const ResultList none;
            host.RunFinished(none);
        }
    });
    ports.progress.Set(0); // ready for the next run
    run.Step(steps::run::kNotBusy, [&] { host.SetBusy(false); });
    return failedWorkbooks;
}

} // namespace

size_t RunExport(ExportRunHost& host, ExportRunPorts ports, ResultList& results)
{
    return RunExportTo(host, ports, results, &results);
}

size_t RunExport(ExportRunHost& host, ExportRunPorts ports, ResultSink& sink)
{
    return RunExportTo(host, ports, sink, nullptr);
}

bool ExportOneWorkbook(
    WorkbookSource& source, ExportRunNotices& notices, const std::string& path, ExportRunPorts ports, ResultSink& sink)
{
    core::CountingReporter reporter(ports.reporter);
    core::StepRunner run(reporter, ports.places.run);
    RunProgress progress(ports.progress, 1);
    std::string divider;
    int64_t resultNumber = 1;
    ExportWorkbook(source, notices, ports, run, { reporter, ports.pump, progress, sink, ports.places.procedures },
        nullptr, path, divider, resultNumber);
    if (!ports.pump.StopRequested())
        run.Step(steps::run::kWorkbookDone, [&] { progress.Set(100); });
    return reporter.Count() > 0;
}

} // namespace vellumcast::exporting
