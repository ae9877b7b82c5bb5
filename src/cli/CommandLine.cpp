#include "cli/CommandLine.h"

#include "cli/InOrderJobs.h"
#include "cli/Workbooks.h"
#include "core/ErrorReport.h"
#include "core/Files.h"
#include "core/StepRunner.h"
#include "export/ExportRun.h"
#include "results/SaveResults.h"

#include <algorithm>
#include <cmath>
#include <istream>
#include <iterator>
#include <memory>
#include <ostream>
#include <sched.h>
#include <thread>

namespace vellumcast::cli {

namespace {

// A report as a terminal shows it: CR LF and lone CR become line feeds.
std::string ForTerminal(const std::string& message)
{
    std::string text;
    text.reserve(message.size());
    for (size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '\r') {
            text += '\n';
            if (i + 1 < message.size() && message[i + 1] == '\n')
                ++i;
        } else {
            text += message[i];
        }
    }
    return text;
}

// Collects reports as text, so a workbook exported on another thread says its failures
// in its turn.
class TextReporter final : public core::ErrorReporter {
public:
    explicit TextReporter(std::string& text)
        : m_text(text)
    {
    }
    void Report(const core::ErrorReport& report) override
    {
        m_text += ForTerminal(core::ReportErrorMessage(report));
        m_text += "\n\n";
    }

private:
    std::string& m_text;
};

// Standard error as the run uses it: messages, and on a terminal a progress line that
// each message first moves past.
class Terminal {
public:
    Terminal(std::ostream& err, bool progress)
        : m_err(err)
        , m_progress(progress)
    {
    }
    void Progress(const std::string& text)
    {
        if (!m_progress)
            return;
        m_err << '\r' << text << std::flush;
        m_shown = true;
    }
    void Message(const std::string& text)
    {
        if (text.empty())
            return;
        EndProgress();
        m_err << text << std::flush;
    }
    void EndProgress()
    {
        if (m_shown)
            m_err << '\n';
        m_shown = false;
    }
    bool ShowsProgress() const { return m_progress; }

private:
    std::ostream& m_err;
    bool m_progress;
    bool m_shown = false;
};

// The percentage of the workbook being exported, when one workbook is exported at a time.
class PercentProgress final : public core::Progress {
public:
    PercentProgress(Terminal& terminal, std::string name)
        : m_terminal(terminal)
        , m_name(std::move(name))
    {
    }
    void Set(double percent) override
    {
        const int whole = static_cast<int>(std::floor(percent));
        if (whole == m_last || whole <= 0)
            return;
        m_last = whole;
        m_terminal.Progress(m_name + ": " + std::to_string(std::min(whole, 100)) + "%");
    }

private:
    Terminal& m_terminal;
    std::string m_name;
    int m_last = -1;
};

// What the run shares between its workbooks.
struct RunSetup {
    const CommandLineOptions& options;
    const std::string& stdinBytes; // the bytes of the workbook "-"
};

// Opens a workbook argument ("-" from the bytes read from standard input) and leaves in
// it the chosen worksheets; returns their numbers.
std::vector<size_t> OpenChosen(const RunSetup& setup, spreadsheet::Application& application,
    const std::string& argument, std::unique_ptr<spreadsheet::Workbook>& workbook)
{
    const std::string shown = argument == "-" ? std::string(kStdinName) : argument;
    workbook = argument == "-" ? application.OpenBytes(setup.stdinBytes, shown) : application.Open(argument);
    return SelectWorksheets(*workbook, shown, setup.options.sheets, setup.options.skipHidden);
}

// The export run's host for one workbook of the command line.
class OneWorkbookHost final : public exporting::ExportRunHost {
public:
    OneWorkbookHost(const RunSetup& setup, const std::string& argument, std::string& messages)
        : m_setup(setup)
        , m_argument(argument)
        , m_messages(messages)
    {
    }
    size_t WorkbookCount() override { return 1; }
    std::string WorkbookPath(size_t) override { return m_argument == "-" ? std::string(kStdinName) : m_argument; }
    std::unique_ptr<spreadsheet::Workbook> OpenWorkbook(
        spreadsheet::Application& application, const std::string&) override
    {
        std::unique_ptr<spreadsheet::Workbook> workbook;
        OpenChosen(m_setup, application, m_argument, workbook);
        return workbook;
    }
    std::string SaveModeCaption() override { return std::string(options::SaveModeCaption(Options().saveMode)); }
    bool IncludeBlankCells() override { return Options().includeBlankCells; }
    bool QuoteCells() override { return Options().quoteCells; }
    std::optional<std::string> Divider() override { return Options().divider; }
    void CompleteOptions(options::ExportOptions& options) override
    {
        options.csvQuoting = Options().csvQuoting;
        options.lineFeedOnly = Options().lineFeedOnly;
        options.skipEmptyLines = Options().skipEmptyLines;
    }
    void ShowNoFilesAdded() override { }
    void SetBusy(bool) override { }
    void LayoutResults(options::SaveMode) override { }
    void RunFinished(const exporting::ResultList&) override { }
    void WorkbookWarnings(const std::vector<std::string>& warnings) override
    {
        for (const std::string& warning : warnings)
            m_messages += "vellumcast-cli: warning: " + ForTerminal(warning) + "\n";
    }

private:
    const options::ExportOptions& Options() const { return m_setup.options.exportOptions; }
    const RunSetup& m_setup;
    const std::string& m_argument;
    std::string& m_messages; // printed on standard error in the workbook's turn
};

// What one workbook gave, held until its turn to be printed and saved.
struct WorkbookOutcome {
    exporting::ResultList results;
    std::string listing;
    std::string messages;
    bool failed = false;
};

WorkbookOutcome ExportOne(const RunSetup& setup, const std::string& argument, core::Progress& progress)
{
    WorkbookOutcome outcome;
    TextReporter reporter(outcome.messages);
    core::NoPump pump;
    OneWorkbookHost host(setup, argument, outcome.messages);
    outcome.failed = exporting::RunExport(host, { reporter, pump, progress }, outcome.results) != 0;
    return outcome;
}

WorkbookOutcome ListOne(const RunSetup& setup, const std::string& argument)
{
    WorkbookOutcome outcome;
    TextReporter reporter(outcome.messages);
    core::StepRunner run(reporter, core::LocationText("Form1", "PushButton2_Click"));
    spreadsheet::Application application;
    std::unique_ptr<spreadsheet::Workbook> workbook;
    std::vector<size_t> numbers;
    outcome.failed = !run.Step(172, [&] { numbers = OpenChosen(setup, application, argument, workbook); })
        || !run.Step(108, [&] { outcome.listing = ListWorksheets(*workbook, numbers); });
    return outcome;
}

// Prints the path each result was actually written under, as it is written.
class PathPrinter final : public results::SaveListener {
public:
    explicit PathPrinter(std::ostream& out)
        : m_out(out)
    {
    }
    void Saved(const results::SavedFile& file) override
    {
        if (file.written)
            m_out << file.path << "\n";
    }

private:
    std::ostream& m_out;
};

// The workbooks that are files, which no result may be saved over.
std::vector<std::string> InputFiles(const std::vector<std::string>& workbooks)
{
    std::vector<std::string> files;
    std::copy_if(workbooks.begin(), workbooks.end(), std::back_inserter(files),
        [](const std::string& workbook) { return workbook != "-"; });
    return files;
}

// Prints and saves the outcomes in workbook order, all of them as one save.
class Emitter {
public:
    Emitter(const CommandLineOptions& options, const std::vector<std::string>& workbooks, std::ostream& out,
        Terminal& terminal)
        : m_options(options)
        , m_out(out)
        , m_terminal(terminal)
        , m_saveReporter(m_saveMessages)
        , m_printer(out)
    {
        if (!options.list && options.outputFolder != "-") {
            m_session = std::make_unique<results::SaveSession>(options.outputFolder, options.exportOptions.saveMode,
                InputFiles(workbooks),
                results::SavePorts { m_saveReporter, m_pump, options.quiet ? nullptr : &m_printer });
        }
    }

    void Take(const std::string& argument, WorkbookOutcome outcome)
    {
        m_terminal.Message(outcome.messages);
        m_ok = m_ok && !outcome.failed;
        if (m_options.list)
            PrintListing(argument, outcome);
        else if (m_session)
            Save(outcome.results);
        else
            WriteTexts(outcome.results);
    }

    // Says what the save came to beyond its reports; returns whether everything went well.
    bool Finish()
    {
        if (!m_session)
            return m_ok;
        const results::SaveSummary& summary = m_session->Summary();
        if (const std::string notice = results::SaveNotice(summary); !notice.empty())
            m_terminal.Message("vellumcast-cli: " + ForTerminal(notice) + "\n");
        return m_ok && summary.notWritten == 0;
    }

private:
    void PrintListing(const std::string& argument, const WorkbookOutcome& outcome)
    {
        if (outcome.failed && outcome.listing.empty())
            return;
        if (m_listed++ > 0)
            m_out << '\n';
        m_out << (argument == "-" ? std::string(kStdinName) : argument) << '\n' << outcome.listing;
    }

    void WriteTexts(const exporting::ResultList& results)
    {
        for (const auto& entry : results)
            m_out << entry.text;
        m_out.flush();
        if (!m_out) {
            m_terminal.Message("vellumcast-cli: cannot write to standard output\n");
            m_ok = false;
            m_out.clear();
        }
    }

    void Save(const exporting::ResultList& results)
    {
        m_session->Save(results);
        m_out.flush();
        m_terminal.Message(m_saveMessages);
        m_saveMessages.clear();
    }

    const CommandLineOptions& m_options;
    std::ostream& m_out;
    Terminal& m_terminal;
    std::string m_saveMessages;
    TextReporter m_saveReporter;
    core::NoPump m_pump;
    PathPrinter m_printer;
    std::unique_ptr<results::SaveSession> m_session;
    bool m_ok = true;
    size_t m_listed = 0;
};

unsigned JobCount(const CommandLineOptions& options)
{
    if (options.jobs != 0)
        return options.jobs;
    cpu_set_t allowed;
    if (::sched_getaffinity(0, sizeof(allowed), &allowed) == 0 && CPU_COUNT(&allowed) > 0)
        return static_cast<unsigned>(CPU_COUNT(&allowed));
    return std::max(1u, std::thread::hardware_concurrency());
}

int UsageError(std::ostream& err, const std::string& error)
{
    err << "vellumcast-cli: " << error << "\n\n" << UsageText();
    return 2;
}

} // namespace

int RunCommandLine(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out, std::ostream& err,
    bool progressToTerminal)
{
    std::string error;
    const auto parsed = ParseArguments(arguments, error);
    if (!parsed)
        return UsageError(err, error);
    if (parsed->showHelp) {
        out << UsageText();
        return 0;
    }
    if (parsed->showVersion) {
        out << VersionText();
        return 0;
    }
    const auto fromStdin = std::count(parsed->workbooks.begin(), parsed->workbooks.end(), "-");
    if (fromStdin > 1)
        return UsageError(err, "standard input (-) can be read only once");
    const bool toFolder = !parsed->list && parsed->outputFolder != "-";
    if (toFolder && !core::FolderExists(parsed->outputFolder)) {
        err << "vellumcast-cli: " << parsed->outputFolder
            << (core::FileExists(parsed->outputFolder) ? ": Output folder is a file, not a folder.\n"
                                                       : ": Output folder does not exist.\n");
        return 2;
    }

    Terminal terminal(err, progressToTerminal);
    std::string scanMessages;
    TextReporter scanReporter(scanMessages);
    const std::vector<std::string> workbooks = ExpandFolders(*parsed, scanReporter, err);
    terminal.Message(scanMessages);
    std::string stdinBytes;
    if (fromStdin > 0)
        stdinBytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());

    const RunSetup setup { *parsed, stdinBytes };
    const unsigned jobs = JobCount(*parsed);
    Emitter emitter(*parsed, workbooks, out, terminal);
    const auto work = [&](size_t index) {
        const std::string& argument = workbooks[index];
        if (parsed->list)
            return ListOne(setup, argument);
        if (jobs > 1 || !terminal.ShowsProgress()) {
            core::NoProgress quiet;
            return ExportOne(setup, argument, quiet);
        }
        PercentProgress progress(terminal, core::FileNameOfPath(argument));
        return ExportOne(setup, argument, progress);
    };
    RunInOrder(workbooks.size(), jobs, work, [&](size_t index, WorkbookOutcome outcome) {
        emitter.Take(workbooks[index], std::move(outcome));
        if (jobs > 1)
            terminal.Progress(std::to_string(index + 1) + " of " + std::to_string(workbooks.size()) + " workbooks");
    });
    terminal.EndProgress();
    return emitter.Finish() && scanMessages.empty() ? 0 : 1;
}

} // namespace vellumcast::cli
