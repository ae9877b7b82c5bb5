#include "export/ExportRun.h"

#include "core/ErrorReport.h"
#include "core/StepRunner.h"
#include "export/ExportProcedures.h"
#include "spreadsheet/Workbook.h"

#include <algorithm>
#include <cmath>

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

// Runs the export into sink; list, when given, is the sink itself and the host hears of it.
size_t RunExportTo(ExportRunHost& host, ExportRunPorts ports, ResultSink& results, ResultList* list)
{
    core::CountingReporter reporter(ports.reporter);
    core::StepRunner run(reporter, core::LocationText("Form1", "PushButton2_Click"));

    run.Step(100, [&] {
        if (list)
            list->clear();
    });
    size_t count = 0;
    run.Step(102, [&] { count = host.WorkbookCount(); });
    if (count == 0) {
        run.Step(284, [&] { host.ShowNoFilesAdded(); });
        return 0;
    }
    host.RunStarting();
    run.Step(104, [&] { host.SetBusy(true); });
    run.Step(106, [&] {
        if (auto chosen = host.Options())
            host.LayoutResults(chosen->options.saveMode);
    });
    int64_t resultNumber = 1; // 162
    std::string divider;
    size_t failedWorkbooks = 0;
    RunProgress progress(ports.progress, count);

    for (size_t i = 0; i < count; ++i) {
        const size_t reportsBefore = reporter.Count();
        ports.pump.Run(); // 166
        if (ports.pump.StopRequested())
            break;
        progress.StartWorkbook(i);
        host.WorkbookStarting(i);
        std::string path;
        run.Step(168, [&] { path = host.WorkbookPath(i); });
        run.Step(170, [&] { host.SetBusy(true); });

        spreadsheet::Application application;
        application.SetYield([&] { ports.pump.Run(); });
        std::unique_ptr<spreadsheet::Workbook> workbook;
        // A workbook that cannot be opened is reported once and passed over.
        if (run.Step(172, [&] { workbook = host.OpenWorkbook(application, path); })) {
            std::optional<ChosenOptions> chosen;
            run.Step(180, [&] { chosen = host.Options(); });
            if (chosen && chosen->dividerChosen)
                divider = chosen->options.divider;
            options::ExportOptions options = chosen ? chosen->options : options::ExportOptions {};
            options.divider = divider;
            const std::optional<options::SaveMode> mode = chosen ? std::optional(options.saveMode) : std::nullopt;
            const size_t firstNew = list ? list->size() : 0;
            const SinkMark before = results.Mark();
            ExportContext context { reporter, ports.pump, progress, results };
            if (mode == options::SaveMode::AllSheets) {
                std::string text;
                // The text composed before a failure is still listed, as a partly
                // written file would have been. The entry is under way from the start,
                // so that what is composed may go on to the sink as it grows.
                results.BeginEntry(ResultEntry { ResultFileName(path), {}, 0, {}, *mode });
                run.Step(222, [&] { ExportAllSheetsToTextFile(context, workbook.get(), options, text); });
                run.Step(234, [&] {
                    results.Append(std::move(text));
                    results.EndEntry();
                });
            } else if (mode == options::SaveMode::EachSheet) {
                run.Step(254, [&] { ExportSheetToTextFile(context, workbook.get(), options, path, resultNumber); });
            } else if (mode == options::SaveMode::EachRow) {
                run.Step(258, [&] { ExportRowToTextFile(context, workbook.get(), options, path, resultNumber); });
            } else if (mode == options::SaveMode::EachColumn) {
                run.Step(262, [&] { ExportColumnToTextFile(context, workbook.get(), options, path, resultNumber); });
            }
            // A workbook stopped half-way is left out rather than listed as if whole.
            if (ports.pump.StopRequested())
                results.RollBack(before);
            if (list && list->size() > firstNew)
                host.ResultsAdded(*list, firstNew);
            if (!workbook->Warnings().empty())
                host.WorkbookWarnings(workbook->Warnings());
            workbook.reset(); // 264 to 268: the workbook is discarded, never saved
        }
        if (!ports.pump.StopRequested())
            run.Step(270, [&] { progress.Set(100); });
        run.Step(272, [&] { host.SetBusy(false); });
        if (reporter.Count() > reportsBefore)
            ++failedWorkbooks;
    }

    run.Step(278, [&] {
        if (list) {
            host.RunFinished(*list);
        } else {
            const ResultList none;
            host.RunFinished(none);
        }
    });
    ports.progress.Set(0); // ready for the next run
    run.Step(282, [&] { host.SetBusy(false); });
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

} // namespace vellumcast::exporting
