#include "cli/CommandLine.h"

#include "cli/InOrderJobs.h"
#include "cli/Messages.h"
#include "cli/SpooledResults.h"
#include "cli/Streams.h"
#include "cli/Workbooks.h"
#include "core/ErrorReport.h"
#include "core/Files.h"
#include "core/Interruption.h"
#include "core/Numbers.h"
#include "core/Process.h"
#include "core/StepRunner.h"
#include "export/ExportRun.h"
#include "results/SaveResults.h"
#include "spreadsheet/encryption/Passwords.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <istream>
#include <iterator>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

namespace vellumcast::cli {

namespace {

// Standard error as the run uses it: errors always, warnings and notices unless quiet,
// and on a terminal a progress line that is erased before anything else is printed and
// when the work ends.
class Terminal {
public:
    Terminal(std::ostream& err, bool progress, bool quiet)
        : m_err(err)
        , m_progress(progress && !quiet)
        , m_quiet(quiet)
    {
    }
    void Progress(const std::string& text)
    {
        if (!m_progress)
            return;
        std::string shown = Escaped(text);
        if (shown.size() > kProgressWidth) {
            size_t cut = kProgressWidth;
            while (cut > 0 && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80)
                --cut; // between two UTF-8 characters
            shown.resize(cut);
        }
        m_err << kErase << shown << std::flush;
        m_shown = true;
    }
    void Clear()
    {
        if (m_shown)
            m_err << kErase << std::flush;
        m_shown = false;
    }
    void Error(const std::string& lines)
    {
        if (lines.empty())
            return;
        Clear();
        m_err << lines << std::flush;
    }
    void Note(const std::string& lines)
    {
        if (!m_quiet)
            Error(lines);
    }
    bool ShowsProgress() const { return m_progress; }

private:
    static constexpr const char* kErase = "\r\033[K"; // to the line's start, then clear it
    static constexpr size_t kProgressWidth = 72; // one line of the narrowest usual terminal
    std::ostream& m_err;
    bool m_progress;
    bool m_quiet;
    bool m_shown = false;
};

// Standard output could not be written; errno's value then, 0 when unknown.
struct OutputFailed {
    int code = 0;
};

// Standard output as the run writes it: any failure ends the run (OutputFailed), a
// progress line on the same terminal is erased first.
class StandardOutput {
public:
    StandardOutput(std::ostream& out, Terminal& terminal)
        : m_out(out)
        , m_terminal(terminal)
    {
    }
    void Write(std::string_view text)
    {
        m_terminal.Clear();
        errno = 0;
        m_out.write(text.data(), static_cast<std::streamsize>(text.size()));
        Check();
    }
    void Flush()
    {
        errno = 0;
        m_out.flush();
        Check();
    }

private:
    void Check()
    {
        if (!m_out)
            throw OutputFailed { errno };
    }
    std::ostream& m_out;
    Terminal& m_terminal;
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
    std::istream& in; // the workbook "-"
    SpoolFolder& spool; // where texts held out of memory go
};

// Opens a workbook argument and leaves in it the chosen worksheets; returns their numbers.
// Standard input and paths naming a pipe or a terminal are read whole first, within the
// stream limit. What the choice warns of is added to warnings as lines.
std::vector<size_t> OpenChosen(const RunSetup& setup, spreadsheet::Application& application,
    const std::string& argument, std::unique_ptr<spreadsheet::Workbook>& workbook, std::string& warnings)
{
    const std::string shown = ShownName(argument);
    if (setup.options.password)
        application.SetPasswordSource([&setup] { return setup.options.password; });
    application.KeepRecordedValues(setup.options.exportOptions.cellValues != options::CellValues::Displayed);
    application.ReadDelimitedTextAs(setup.options.delimitedText);
    if (argument == "-" || IsStream(argument)) {
        std::shared_ptr<const spreadsheet::FileBytes> bytes;
        try {
            bytes = argument != "-" ? ReadNamedStream(argument) : ReadStream([&](char* buffer, size_t size) {
                setup.in.read(buffer, static_cast<std::streamsize>(size));
                if (setup.in.bad()) {
                    errno = EIO;
                    return ssize_t(-1);
                }
                return static_cast<ssize_t>(setup.in.gcount());
            });
        } catch (const std::runtime_error& error) {
            throw std::runtime_error("Cannot open " + shown + ": " + error.what());
        }
        workbook = application.OpenFrom(std::move(bytes), shown);
    } else {
        workbook = application.Open(argument);
    }
    std::vector<std::string> choiceWarnings;
    auto numbers = SelectWorksheets(*workbook, shown, setup.options, choiceWarnings);
    for (const std::string& warning : choiceWarnings)
        warnings += WarningLine(shown, warning);
    return numbers;
}

// The export run's host for one workbook of the command line.
class OneWorkbookHost final : public exporting::ExportRunHost {
public:
    OneWorkbookHost(const RunSetup& setup, const std::string& argument)
        : m_setup(setup)
        , m_argument(argument)
    {
    }
    size_t WorkbookCount() override { return 1; }
    std::string WorkbookPath(size_t) override { return ShownName(m_argument); }
    std::unique_ptr<spreadsheet::Workbook> OpenWorkbook(
        spreadsheet::Application& application, const std::string&) override
    {
        std::unique_ptr<spreadsheet::Workbook> workbook;
        OpenChosen(m_setup, application, m_argument, workbook, m_warnings);
        if (!m_setup.options.sheets.empty()) {
            for (const auto& sheet : workbook->Worksheets())
                m_chosen.push_back(sheet.Name());
        }
        return workbook;
    }
    std::optional<exporting::ChosenOptions> Options() override { return exporting::ChosenOptions { Chosen() }; }
    void ShowNoFilesAdded() override { }
    void SetBusy(bool) override { }
    void LayoutResults(options::SaveMode) override { }
    void RunFinished(const exporting::ResultList&) override { }
    void WorkbookWarnings(const std::vector<std::string>& warnings) override
    {
        for (const std::string& warning : warnings)
            m_warnings += WarningLine(ShownName(m_argument), warning);
    }

    // The worksheets named with --sheet that gave no text, said as warnings: a person
    // who asked for one is told why no file came of it.
    void WarnOfEmptyChosen(const SpooledResults& results)
    {
        if (Chosen().saveMode == options::SaveMode::AllSheets)
            return;
        std::unordered_set<std::string_view> exported;
        for (size_t i = 0; i < results.size(); ++i)
            exported.insert(results.Head(i).sheetName.View());
        for (const auto& name : m_chosen) {
            if (exported.count(name) == 0)
                m_warnings += WarningLine(
                    ShownName(m_argument), "the worksheet \"" + name + "\" is empty, so no text was written for it");
        }
    }
    const std::string& Warnings() const { return m_warnings; }

private:
    const options::ExportOptions& Chosen() const { return m_setup.options.exportOptions; }
    const RunSetup& m_setup;
    const std::string& m_argument;
    std::string m_warnings; // printed in the workbook's turn, unless quiet
    std::vector<std::string> m_chosen; // the worksheets named with --sheet, when any
};

// The results not written named at the end of a run, one line each; beyond them a count.
constexpr size_t kNotWrittenPrinted = 20;

// UTF-8's byte-order mark.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// What one workbook gave: its texts as far as they were not passed on in its turn, and
// its messages, held until its turn to be printed.
struct WorkbookOutcome {
    SpooledResults results;
    std::string listing;
    std::string errors;
    std::string warnings;
    bool failed = false;
};

WorkbookOutcome ExportOne(
    const RunSetup& setup, const std::string& argument, core::Progress& progress, const OutletSlot& turn)
{
    WorkbookOutcome outcome;
    outcome.results = SpooledResults(SpooledResults::kMemoryBytes, &turn, &setup.spool);
    LineReporter reporter(outcome.errors, ShownName(argument));
    core::NoPump pump;
    OneWorkbookHost host(setup, argument);
    outcome.failed = exporting::RunExport(host, { reporter, pump, progress }, outcome.results) != 0;
    if (!outcome.failed) // a worksheet that failed was reported as such, not as empty
        host.WarnOfEmptyChosen(outcome.results);
    outcome.warnings = host.Warnings();
    return outcome;
}

WorkbookOutcome ListOne(const RunSetup& setup, const std::string& argument)
{
    WorkbookOutcome outcome;
    LineReporter reporter(outcome.errors, ShownName(argument));
    core::StepRunner run(reporter, core::LocationText("Form1", "PushButton2_Click"));
    spreadsheet::Application application;
    std::unique_ptr<spreadsheet::Workbook> workbook;
    std::vector<size_t> numbers;
    outcome.failed
        = !run.Step(172, [&] { numbers = OpenChosen(setup, application, argument, workbook, outcome.warnings); })
        || !run.Step(108, [&] { outcome.listing = ListWorksheets(*workbook, numbers); });
    return outcome;
}

// Prints the path each result was actually written under, as it is written.
class PathPrinter final : public results::SaveListener {
public:
    explicit PathPrinter(StandardOutput& out)
        : m_out(out)
    {
    }
    void Saved(const results::SavedFile& file) override
    {
        if (file.written)
            m_out.Write(Escaped(file.path) + "\n");
    }

private:
    StandardOutput& m_out;
};

// The workbooks that are files, which no result may be saved over.
std::vector<std::string> InputFiles(const std::vector<std::string>& workbooks)
{
    std::vector<std::string> files;
    std::copy_if(workbooks.begin(), workbooks.end(), std::back_inserter(files),
        [](const std::string& workbook) { return workbook != "-"; });
    return files;
}

// The texts of the workbook whose turn it is, one after another on standard output;
// asked for, one byte-order mark starts the output, as it would start one file holding
// them all. It may be handed texts on the workbook's own thread: a failure of standard
// output is kept for the run's thread (TakeFailures) rather than thrown into the export.
class PrintingOutlet final : public ResultOutlet {
public:
    PrintingOutlet(StandardOutput& out, bool byteOrderMark)
        : m_out(out)
        , m_byteOrderMark(byteOrderMark)
    {
    }
    bool TakesPieces() const override { return true; }
    void Begin(const exporting::ResultEntry&) override
    {
        if (m_byteOrderMark && !m_markWritten) {
            Write(kByteOrderMark);
            m_markWritten = true;
        }
    }
    void Write(std::string_view bytes) override
    {
        if (m_failure)
            return;
        try {
            m_out.Write(bytes);
        } catch (const OutputFailed& failure) {
            m_failure = failure;
        }
    }
    void ReadFailed(int code) override
    {
        m_readFailures += ProgramLine(
            "the texts held in a temporary file cannot be read back: " + std::string(std::strerror(code)));
    }
    // What went wrong since the last call: the read failures' lines, returned; a failure
    // of standard output, thrown.
    std::string TakeFailures()
    {
        if (m_failure)
            throw *m_failure;
        return std::exchange(m_readFailures, {});
    }

private:
    StandardOutput& m_out;
    bool m_byteOrderMark;
    bool m_markWritten = false;
    std::optional<OutputFailed> m_failure;
    std::string m_readFailures;
};

// The texts of the workbook whose turn it is, each saved into the output folder: once
// whole, or as it comes when it is pending; what the save prints and reports is kept as
// PrintingOutlet keeps its failures.
class SavingOutlet final : public ResultOutlet {
public:
    explicit SavingOutlet(results::SaveSession& session)
        : m_session(session)
    {
    }
    // The workbook whose texts come next, and the folder it was found in.
    void SetWorkbook(std::string shownName, std::string folder)
    {
        m_shownName = std::move(shownName);
        m_folder = std::move(folder);
    }
    bool TakesPieces() const override { return false; }
    void Save(const exporting::ResultEntry& head, const core::TextPieces& text) override
    {
        if (m_failure)
            return;
        try {
            m_session.Save(head, text, m_shownName, m_folder);
        } catch (const OutputFailed& failure) {
            m_failure = failure;
        }
    }
    void ReadFailed(int) override { } // the save reports a text it cannot have
    bool TakesPending() const override { return true; }
    void BeginPending(const exporting::ResultEntry& head) override
    {
        m_pendingBegun = !m_failure;
        if (m_pendingBegun)
            m_session.Begin(head, m_shownName, m_folder);
    }
    void WritePending(std::string_view bytes) override
    {
        if (m_pendingBegun)
            m_session.Write(bytes);
    }
    void CutPending(uint64_t size) override
    {
        if (m_pendingBegun)
            m_session.Cut(size);
    }
    void CommitPending(bool cutShort) override
    {
        if (!std::exchange(m_pendingBegun, false))
            return;
        try {
            if (cutShort)
                m_session.CommitCutShort();
            else
                m_session.Commit();
        } catch (const OutputFailed& failure) {
            m_failure = failure;
        }
    }
    void AbandonPending() override
    {
        if (std::exchange(m_pendingBegun, false))
            m_session.Abandon();
    }
    void RethrowFailure()
    {
        if (m_failure)
            throw *m_failure;
    }

private:
    results::SaveSession& m_session;
    std::string m_shownName;
    std::string m_folder;
    std::optional<OutputFailed> m_failure;
    bool m_pendingBegun = false; // a pending text was begun in the session
};

// The results a save did not write: how many and why, then each named on a line of its
// own, up to kNotWrittenPrinted of them, and how many more there are.
std::string NotWrittenLines(const results::SaveSummary& summary)
{
    std::string lines = ProgramLine(results::NotWrittenNotice(summary));
    const size_t named = std::min(summary.notWrittenFiles.size(), kNotWrittenPrinted);
    for (size_t i = 0; i < named; ++i) {
        const results::NotWrittenFile& file = summary.notWrittenFiles[i];
        lines += ErrorLine(file.path, "not written: " + std::string(results::NotWrittenWhy(file.why)));
    }
    if (summary.notWritten > named)
        lines += ProgramLine("and " + core::GroupedNumber(summary.notWritten - named) + " more not written.");
    return lines;
}

// Prints and saves the outcomes in workbook order, all of them as one save.
class Emitter {
public:
    Emitter(const CommandLineOptions& options, const std::vector<std::string>& workbooks,
        const std::vector<std::string>& folders, StandardOutput& out, Terminal& terminal)
        : m_options(options)
        , m_workbooks(workbooks)
        , m_folders(folders)
        , m_out(out)
        , m_terminal(terminal)
        , m_saveReporter(m_saveMessages, options.outputFolder)
        , m_printer(out)
    {
        if (!options.list && options.outputFolder != "-") {
            m_session = std::make_unique<results::SaveSession>(options.outputFolder, options.exportOptions.saveMode,
                InputFiles(workbooks),
                results::SavePorts { m_saveReporter, m_pump, options.quiet ? nullptr : &m_printer });
            m_session->SetNameTemplate(options.nameTemplate);
            // A text cut short is a result not written: a file is whole or not there.
            m_session->SetCutShortTexts(results::CutShortTexts::NotWritten);
            if (options.noClobber)
                m_session->SetExistingFiles(results::ExistingFiles::Keep);
            if (options.byteOrderMark)
                m_session->SetLeadingBytes(std::string(kByteOrderMark));
            m_saving = std::make_unique<SavingOutlet>(*m_session);
        } else if (!options.list) {
            m_printing = std::make_unique<PrintingOutlet>(out, options.byteOrderMark);
        }
    }

    // Where the texts of the workbook at index go in its turn; none when nothing is written.
    ResultOutlet* TurnOf(size_t index)
    {
        if (m_saving) {
            m_saving->SetWorkbook(ShownName(m_workbooks[index]), m_folders[index]);
            return m_saving.get();
        }
        return m_printing.get();
    }

    void Take(size_t index, WorkbookOutcome outcome)
    {
        const std::string& argument = m_workbooks[index];
        m_terminal.Error(outcome.errors);
        m_terminal.Note(outcome.warnings);
        m_ok = m_ok && !outcome.failed;
        if (m_options.list)
            m_exported += outcome.listing.empty() ? 0 : 1;
        for (size_t i = 0; i < outcome.results.size(); ++i)
            m_exported += outcome.results.TextSize(i) > 0 ? 1 : 0;
        if (m_options.list)
            PrintListing(argument, outcome);
        else if (m_session)
            Save(index, outcome.results);
        else
            WriteTexts(outcome.results);
    }

    // Says what the save came to beyond its reports; returns whether everything went well.
    bool Finish()
    {
        m_out.Flush();
        bool ok = m_ok;
        if (m_session) {
            const results::SaveSummary& summary = m_session->Summary();
            if (summary.renamed > 0)
                m_terminal.Note(ProgramLine(results::RenamedNotice(summary)));
            if (summary.notWritten > 0)
                m_terminal.Error(NotWrittenLines(summary));
            ok = ok && summary.notWritten == 0;
        }
        if (m_options.failEmpty && m_exported == 0) {
            m_terminal.Error(ProgramLine(
                m_options.list ? "no workbook was listed (--fail-empty)" : "no text was exported (--fail-empty)"));
            ok = false;
        }
        return ok;
    }

private:
    void PrintListing(const std::string& argument, const WorkbookOutcome& outcome)
    {
        if (outcome.failed && outcome.listing.empty())
            return;
        m_out.Write((m_listed++ > 0 ? "\n" : "") + Escaped(ShownName(argument)) + "\n" + outcome.listing);
    }

    // What of the workbook's texts its turn did not pass on yet, then what went wrong.
    void WriteTexts(SpooledResults& results)
    {
        results.PassOnRest(*m_printing);
        const std::string failures = m_printing->TakeFailures();
        m_terminal.Error(failures);
        m_ok = m_ok && failures.empty();
        m_out.Flush();
    }

    void Save(size_t index, SpooledResults& results)
    {
        m_saving->SetWorkbook(ShownName(m_workbooks[index]), m_folders[index]);
        results.PassOnRest(*m_saving);
        m_saving->RethrowFailure();
        m_out.Flush();
        m_terminal.Error(m_saveMessages);
        m_saveMessages.clear();
    }

    const CommandLineOptions& m_options;
    const std::vector<std::string>& m_workbooks;
    const std::vector<std::string>& m_folders; // each workbook's, relative to the folder searched
    StandardOutput& m_out;
    Terminal& m_terminal;
    std::string m_saveMessages;
    LineReporter m_saveReporter;
    core::NoPump m_pump;
    PathPrinter m_printer;
    std::unique_ptr<results::SaveSession> m_session;
    std::unique_ptr<SavingOutlet> m_saving;
    std::unique_ptr<PrintingOutlet> m_printing;
    bool m_ok = true;
    size_t m_listed = 0;
    size_t m_exported = 0; // the texts exported that hold anything, or the workbooks listed
};

unsigned JobCount(const CommandLineOptions& options)
{
    if (options.jobs != 0)
        return options.jobs;
    return core::UsableCores();
}

// Makes the output folder with the folders it lies in, as mkdir -p does; what is wrong
// when it cannot be made or is no folder, else "".
std::string MakeOutputFolder(const std::string& folder)
{
    if (core::FolderExists(folder))
        return {};
    if (core::FileExists(folder))
        return "the output folder is a file, not a folder";
    std::error_code failure;
    std::filesystem::create_directories(std::filesystem::path(std::u8string(folder.begin(), folder.end())), failure);
    if (core::FolderExists(folder))
        return {};
    return "the output folder cannot be made: "
        + (failure ? failure.message() : std::string("a file stands where one of its folders would be"));
}

int UsageError(std::ostream& err, const std::string& error)
{
    err << ProgramLine(error) << "Try 'vellumcast-cli --help'.\n" << std::flush;
    return 2;
}

// Standard output failed: a closed pipe ends the run quietly, as if SIGPIPE had; any
// other failure is said.
int OutputFailure(Terminal& terminal, const OutputFailed& failure)
{
    if (failure.code != EPIPE) {
        terminal.Error(ProgramLine("standard output: "
            + std::string(failure.code != 0 ? std::strerror(failure.code) : "it cannot be written")));
    }
    terminal.Clear();
    return 1;
}

int Run(const CommandLineOptions& options, std::istream& in, StandardOutput& out, Terminal& terminal)
{
    if (options.showHelp || options.showVersion) {
        out.Write(options.showHelp ? UsageText() : VersionText());
        out.Flush();
        return 0;
    }
    std::string scanMessages;
    std::string scanWarnings;
    std::vector<std::string> folders;
    const std::vector<std::string> workbooks = ExpandFolders(options, scanMessages, scanWarnings, folders);
    terminal.Error(scanMessages);
    terminal.Note(scanWarnings);

    // Texts held out of memory go to the temporary folder; should no file be made there,
    // to the output folder's file system, or to the system's temporary folder when they
    // go to standard output.
    SpoolFolder spool(options.list        ? std::string()
            : options.outputFolder == "-" ? core::SystemTemporaryFolder()
                                          : options.outputFolder);
    const RunSetup setup { options, in, spool };
    // Jobs beyond the workbooks would only hide one workbook's progress behind a count.
    const auto jobs = static_cast<unsigned>(std::clamp<size_t>(workbooks.size(), 1, JobCount(options)));
    Emitter emitter(options, workbooks, folders, out, terminal);
    // The workbook whose turn it is writes its texts as they come; the others hold them.
    std::vector<OutletSlot> turns(workbooks.size());
    const auto work = [&](size_t index) {
        const std::string& argument = workbooks[index];
        if (options.list)
            return ListOne(setup, argument);
        if (jobs > 1 || !terminal.ShowsProgress()) {
            core::NoProgress quiet;
            return ExportOne(setup, argument, quiet, turns[index]);
        }
        PercentProgress progress(terminal, core::FileNameOfPath(ShownName(argument)));
        return ExportOne(setup, argument, progress, turns[index]);
    };
    const auto take = [&](size_t index, WorkbookOutcome outcome) {
        if (const std::string notice = spool.TakeNotice(); !notice.empty())
            terminal.Note(ProgramLine(notice));
        emitter.Take(index, std::move(outcome));
        if (jobs > 1)
            terminal.Progress(
                core::GroupedNumber(index + 1) + " of " + core::GroupedNumber(workbooks.size()) + " workbooks");
    };
    RunInOrder(workbooks.size(), jobs, work, take,
        [&](size_t index) { turns[index].store(emitter.TurnOf(index), std::memory_order_release); });
    const bool ok = emitter.Finish() && scanMessages.empty();
    terminal.Clear();
    return ok ? 0 : 1;
}

} // namespace

// The password from --password-file (its first line) or else VELLUMCAST_PASSWORD; the
// problem with the file, when there is one, goes to error. Nothing said names the password.
std::optional<std::string> ReadPassword(const CommandLineOptions& options, std::string& error)
{
    if (!options.passwordFile) {
        const char* variable = std::getenv("VELLUMCAST_PASSWORD");
        if (variable && *variable)
            return std::string(variable);
        return std::nullopt;
    }
    const std::string& file = *options.passwordFile;
    if (!core::FileExists(file)) {
        error = ErrorLine(file, "the password file does not exist");
        return std::nullopt;
    }
    std::string password = core::ReadTextFile(file);
    if (const size_t end = password.find_first_of("\r\n"); end != std::string::npos) {
        std::string line = password.substr(0, end);
        spreadsheet::encryption::Wipe(password);
        password = std::move(line);
    }
    if (password.empty())
        error = ErrorLine(file, "the password file is empty");
    else
        return password;
    return std::nullopt;
}

int RunCommandLine(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out, std::ostream& err,
    bool progressToTerminal)
{
    std::string error;
    auto parsed = ParseArguments(arguments, error);
    if (!parsed)
        return UsageError(err, error);
    parsed->password = ReadPassword(*parsed, error);
    if (!error.empty()) {
        err << error << std::flush;
        return 2;
    }
    if (std::count(parsed->workbooks.begin(), parsed->workbooks.end(), "-") > 1)
        return UsageError(err, "standard input (-) can be read only once");
    const bool toFolder = !parsed->list && parsed->outputFolder != "-" && !parsed->showHelp && !parsed->showVersion;
    if (toFolder) {
        if (const std::string problem = MakeOutputFolder(parsed->outputFolder); !problem.empty()) {
            err << ErrorLine(parsed->outputFolder, problem) << std::flush;
            return 1;
        }
    }
    // A signal that ends a save says so as the program's other messages do.
    core::HeldInterruptions::SetMessagePrefix("vellumcast-cli: ");
    Terminal terminal(err, progressToTerminal, parsed->quiet);
    StandardOutput output(out, terminal);
    try {
        return Run(*parsed, in, output, terminal);
    } catch (const OutputFailed& failure) {
        return OutputFailure(terminal, failure);
    }
}

} // namespace vellumcast::cli
