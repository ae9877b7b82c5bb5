#pragma once
// The export run: walks the workbook list, opens each workbook in a fresh engine, reads
// the options afresh for it, runs the procedure of the save mode and collects the
// results. The windows and the command line each provide a host.

#include "core/Ports.h"
#include "export/ResultList.h"
#include "export/ResultSink.h"
#include "options/ExportOptions.h"
#include "spreadsheet/Workbook.h"

#include <optional>
#include <string>
#include <vector>

namespace vellumcast::exporting {

// The options as a host shows them at one moment.
struct ChosenOptions {
    options::ExportOptions options;
    // False when no divider option is selected: the run then keeps the divider of the
    // workbook before (none before the first), whatever options.divider holds.
    bool dividerChosen = true;
};

// What the run reads of each workbook: the options as they stand now, and its opening.
class WorkbookSource {
public:
    virtual ~WorkbookSource() = default;

    // The options as they stand now, read before the loop and again for every workbook;
    // none exports nothing (no save mode is chosen).
    virtual std::optional<ChosenOptions> Options() = 0;

    // Opens the workbook at path (as WorkbookPath gave it). The command line reads
    // standard input and leaves out worksheets here; a throw is the opening's failure.
    virtual std::unique_ptr<spreadsheet::Workbook> OpenWorkbook(
        spreadsheet::Application& application, const std::string& path)
    {
        return application.Open(path);
    }
};

// What the run reads: the workbook list, and each workbook's options and opening.
class ExportRunSource : public WorkbookSource {
public:
    virtual size_t WorkbookCount() = 0;
    virtual std::string WorkbookPath(size_t index) = 0; // 0-based
};

// What the run tells as it goes, for a window to show; each notice does nothing unless
// a listener wants it.
class ExportRunNotices {
public:
    virtual ~ExportRunNotices() = default;

    virtual void ShowNoFilesAdded() { } // "No files added."
    virtual void SetBusy(bool busy) { (void)busy; } // the busy pointer
    virtual void LayoutResults(options::SaveMode mode) { (void)mode; } // the results list's columns
    // Called as each workbook's results arrive, so a window can show them as they come.
    virtual void ResultsAdded(const ResultList& results, size_t firstNew)
    {
        (void)results;
        (void)firstNew;
    }
    // What a workbook holds that shows other than stored, each kind once per workbook
    // (Workbook::Warnings); nothing that interrupts the run.
    virtual void WorkbookWarnings(const std::vector<std::string>& warnings) { (void)warnings; }
    virtual void RunStarting() { }
    // Called as the export of the workbook at index (0-based) begins.
    virtual void WorkbookStarting(size_t index) { (void)index; }
    // Called before RunFinished when a stop asked for ended the run: the workbooks from
    // firstLeftOut (0-based) on were not exported, that one's results taken back if it
    // was under way.
    virtual void RunStopped(size_t firstLeftOut) { (void)firstLeftOut; }
    virtual void RunFinished(const ResultList& results) { (void)results; } // show the results
};

// A run's host: what it reads, and what it tells.
class ExportRunHost : public ExportRunSource, public ExportRunNotices { };

// Where a run's failure reports say they happened, as the caller names its places: the
// run's own steps, and the owner whose procedures (ExportSheetToTextFile, ...) the
// walk's steps are named after. Empty names no place.
struct ReportPlaces {
    std::string run;
    std::string procedures;
};

struct ExportRunPorts {
    core::ErrorReporter& reporter;
    core::Pump& pump;
    core::Progress& progress;
    ReportPlaces places = {};
};

// Runs the export. Returns the number of workbooks that could not be opened or exported.
size_t RunExport(ExportRunHost& host, ExportRunPorts ports, ResultList& results);

// The same, each text handed to sink as it is composed and kept nowhere else: the host
// hears of no results (ResultsAdded is not called, RunFinished gets an empty list).
size_t RunExport(ExportRunHost& host, ExportRunPorts ports, ResultSink& sink);

// Exports the one workbook at path into sink, as the run exports each of its list, for a
// caller with a loop of its own: source gives its options and opens it, notices hears of
// its warnings, and the progress goes from 0 to 100. Returns whether anything failed
// (and was reported).
bool ExportOneWorkbook(
    WorkbookSource& source, ExportRunNotices& notices, const std::string& path, ExportRunPorts ports, ResultSink& sink);

} // namespace vellumcast::exporting
