#include "cli/CommandLine.h"

#include "cli/Emitter.h"
#include "cli/InOrderJobs.h"
#include "cli/Messages.h"
#include "cli/OneWorkbookHost.h"
#include "cli/PercentProgress.h"
#include "cli/SpooledResults.h"
#include "cli/StandardOutput.h"
#include "cli/Terminal.h"
#include "cli/Workbooks.h"
#include "core/Files.h"
#include "core/Interruption.h"
#include "core/Numbers.h"
#include "core/Process.h"
#include "core/StepRunner.h"
#include "export/ExportRun.h"
#include "export/ExportSteps.h"
#include "results/SaveResults.h"
#include "spreadsheet/encryption/Passwords.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <utility>
#include <vector>

namespace vellumcast::cli {

namespace {

WorkbookOutcome ExportOne(
    const RunSetup& setup, const std::string& argument, core::Progress& progress, const OutletSlot& turn)
{
    WorkbookOutcome outcome;
    outcome.results = SpooledResults(SpooledResults::kMemoryBytes, &turn, &setup.spool);
    LineReporter reporter(outcome.errors, ShownName(argument));
    core::NoPump pump;
    OneWorkbookHost host(setup, argument);
    outcome.failed
        = exporting::ExportOneWorkbook(host, host, ShownName(argument), { reporter, pump, progress }, outcome.results);
    if (!outcome.failed) // a worksheet that failed was reported as such, not as empty
        host.WarnOfEmptyChosen(outcome.results);
    outcome.warnings = host.Warnings();
    return outcome;
}

WorkbookOutcome ListOne(const RunSetup& setup, const std::string& argument)
{
    WorkbookOutcome outcome;
    LineReporter reporter(outcome.errors, ShownName(argument));
    core::StepRunner run(reporter, {}); // the lines name the workbook, not a place
    spreadsheet::Application application;
    std::unique_ptr<spreadsheet::Workbook> workbook;
    std::vector<size_t> numbers;
    outcome.failed = !run.Step(exporting::steps::run::kOpenWorkbook, [&] {
        numbers = OpenChosen(setup, application, argument, workbook, outcome.warnings);
    }) || !run.Step(exporting::steps::sheet::kUsedRange, [&] { outcome.listing = ListWorksheets(*workbook, numbers); });
    return outcome;
}

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
