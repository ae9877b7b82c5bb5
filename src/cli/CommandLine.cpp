#include "cli/CommandLine.h"

#include "core/ErrorReport.h"
#include "core/Files.h"
#include "export/ExportRun.h"
#include "results/SaveResults.h"

#include <cmath>
#include <ostream>

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

class StreamReporter final : public core::ErrorReporter {
public:
    StreamReporter(std::ostream& err, bool& progressShown)
        : m_err(err)
        , m_progressShown(progressShown)
    {
    }
    void Report(const core::ErrorReport& report) override
    {
        if (m_progressShown) {
            m_err << '\n';
            m_progressShown = false;
        }
        m_err << ForTerminal(core::ReportErrorMessage(report)) << "\n\n";
        m_err.flush();
    }

private:
    std::ostream& m_err;
    bool& m_progressShown;
};

class TerminalProgress final : public core::Progress {
public:
    TerminalProgress(std::ostream& err, bool enabled, bool& shown)
        : m_err(err)
        , m_enabled(enabled)
        , m_shown(shown)
    {
    }
    void SetWorkbook(const std::string& name)
    {
        m_name = name;
        m_last = -1;
    }
    void Set(double percent) override
    {
        if (!m_enabled)
            return;
        const int whole = static_cast<int>(std::floor(percent));
        if (whole == m_last || whole <= 0)
            return;
        m_last = whole;
        m_err << "\r" << m_name << ": " << std::min(whole, 100) << "%" << std::flush;
        m_shown = true;
    }

private:
    std::ostream& m_err;
    bool m_enabled;
    bool& m_shown;
    std::string m_name;
    int m_last = -1;
};

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

class CommandLineHost final : public exporting::ExportRunHost {
public:
    CommandLineHost(const CommandLineOptions& options, TerminalProgress& progress)
        : m_options(options)
        , m_progress(progress)
    {
    }
    size_t WorkbookCount() override { return m_options.workbooks.size(); }
    std::string WorkbookPath(size_t index) override
    {
        m_progress.SetWorkbook(core::FileNameOfPath(m_options.workbooks[index]));
        return m_options.workbooks[index];
    }
    std::string SaveModeCaption() override
    {
        return std::string(options::SaveModeCaption(m_options.exportOptions.saveMode));
    }
    bool IncludeBlankCells() override { return m_options.exportOptions.includeBlankCells; }
    bool QuoteCells() override { return m_options.exportOptions.quoteCells; }
    std::optional<std::string> Divider() override { return m_options.exportOptions.divider; }
    void ShowNoFilesAdded() override { }
    void SetBusy(bool) override { }
    void LayoutResults(options::SaveMode) override { }
    void RunFinished(const exporting::ResultList&) override { }

private:
    const CommandLineOptions& m_options;
    TerminalProgress& m_progress;
};

} // namespace

std::string UsageText()
{
    return "Usage: vellumcast-cli [OPTIONS] WORKBOOK...\n"
           "Exports every cell of each workbook, as displayed, into .txt files.\n"
           "\n"
           "  --mode all|sheet|row|column   one text per workbook (default), worksheet, row or column\n"
           "  --divider tab|comma|comma-space|space|TEXT\n"
           "                                what stands between neighbouring cells (default: tab)\n"
           "  --skip-blank                  leave blank cells out (default: keep them)\n"
           "  --no-quotes                   do not wrap cells in double quotes (default: quote)\n"
           "  --output DIR                  folder for the .txt files (default: the current folder)\n"
           "  --help                        show this text\n"
           "\n"
           "Reads xlsx, xlsm, xltx, xltm, xls, ods, fods and csv/tsv/txt, recognised by content.\n"
           "Exit status: 0 all exported, 1 a workbook or a file failed, 2 bad usage.\n";
}

std::optional<CommandLineOptions> ParseArguments(const std::vector<std::string>& arguments, std::string& error)
{
    CommandLineOptions parsed;
    bool onlyFiles = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (onlyFiles || argument.empty() || argument[0] != '-' || argument == "-") {
            parsed.workbooks.push_back(argument);
            continue;
        }
        if (argument == "--") {
            onlyFiles = true;
            continue;
        }
        std::string name = argument;
        std::optional<std::string> value;
        if (const auto equals = argument.find('='); equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
        }
        auto takeValue = [&]() -> std::optional<std::string> {
            if (value)
                return value;
            if (i + 1 >= arguments.size()) {
                error = name + " needs a value";
                return std::nullopt;
            }
            return arguments[++i];
        };
        if (name == "--help" || name == "-h") {
            parsed.showHelp = true;
        } else if (name == "--skip-blank") {
            parsed.exportOptions.includeBlankCells = false;
        } else if (name == "--no-quotes") {
            parsed.exportOptions.quoteCells = false;
        } else if (name == "--mode") {
            const auto mode = takeValue();
            if (!mode)
                return std::nullopt;
            if (*mode == "all")
                parsed.exportOptions.saveMode = options::SaveMode::AllSheets;
            else if (*mode == "sheet")
                parsed.exportOptions.saveMode = options::SaveMode::EachSheet;
            else if (*mode == "row")
                parsed.exportOptions.saveMode = options::SaveMode::EachRow;
            else if (*mode == "column")
                parsed.exportOptions.saveMode = options::SaveMode::EachColumn;
            else {
                error = "unknown mode \"" + *mode + "\" (all, sheet, row or column)";
                return std::nullopt;
            }
        } else if (name == "--divider") {
            const auto divider = takeValue();
            if (!divider)
                return std::nullopt;
            using options::DividerChoice;
            if (*divider == "tab")
                parsed.exportOptions.divider = options::DividerFor(DividerChoice::Tab, {});
            else if (*divider == "comma")
                parsed.exportOptions.divider = options::DividerFor(DividerChoice::Comma, {});
            else if (*divider == "comma-space")
                parsed.exportOptions.divider = options::DividerFor(DividerChoice::CommaSpace, {});
            else if (*divider == "space")
                parsed.exportOptions.divider = options::DividerFor(DividerChoice::Space, {});
            else
                parsed.exportOptions.divider = options::DividerFor(DividerChoice::Other, *divider);
        } else if (name == "--output" || name == "-o") {
            const auto folder = takeValue();
            if (!folder)
                return std::nullopt;
            parsed.outputFolder = *folder;
        } else {
            error = "unknown option " + name;
            return std::nullopt;
        }
    }
    if (!parsed.showHelp && parsed.workbooks.empty()) {
        error = "no workbook given";
        return std::nullopt;
    }
    return parsed;
}

int RunCommandLine(
    const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err, bool progressToTerminal)
{
    std::string error;
    const auto parsed = ParseArguments(arguments, error);
    if (!parsed) {
        err << "vellumcast-cli: " << error << "\n\n" << UsageText();
        return 2;
    }
    if (parsed->showHelp) {
        out << UsageText();
        return 0;
    }
    if (!core::FolderExists(parsed->outputFolder)) {
        err << "vellumcast-cli: " << parsed->outputFolder << ": Output folder does not exist.\n";
        return 2;
    }

    bool progressShown = false;
    StreamReporter reporter(err, progressShown);
    TerminalProgress progress(err, progressToTerminal, progressShown);
    core::NoPump pump;
    CommandLineHost host(*parsed, progress);
    exporting::ResultList results;
    const size_t failedWorkbooks = exporting::RunExport(host, { reporter, pump, progress }, results);
    if (progressShown) {
        err << '\n';
        progressShown = false;
    }

    PathPrinter printer(out);
    const auto saved = results::SaveResults(
        parsed->outputFolder, parsed->exportOptions.saveMode, parsed->workbooks, results, { reporter, pump, &printer });
    if (const std::string notice = results::SaveNotice(saved); !notice.empty())
        err << "vellumcast-cli: " << ForTerminal(notice) << "\n";
    return failedWorkbooks == 0 && saved.notWritten == 0 ? 0 : 1;
}

} // namespace vellumcast::cli
