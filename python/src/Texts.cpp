#include "Texts.h"

#include "cli/Messages.h"
#include "core/Files.h"
#include "export/ExportRun.h"
#include "export/ResultList.h"
#include "results/SaveResults.h"
#include "spreadsheet/SpreadsheetError.h"

#include <stdexcept>

namespace vellumcast::python {

using spreadsheet::SpreadsheetError;

namespace {

// The export run's host for one workbook read from bytes at hand, opened as the command
// line opens it: recorded values kept only when they are asked for, and only the chosen
// worksheet left in it.
class OneBookHost final : public exporting::ExportRunHost {
public:
    OneBookHost(std::shared_ptr<const spreadsheet::FileBytes> bytes, std::string name,
        const options::ExportOptions& options, std::optional<size_t> sheet)
        : m_bytes(std::move(bytes))
        , m_name(std::move(name))
        , m_options(options)
        , m_sheet(sheet)
    {
    }
    size_t WorkbookCount() override { return 1; }
    std::string WorkbookPath(size_t) override { return m_name; }
    std::unique_ptr<spreadsheet::Workbook> OpenWorkbook(
        spreadsheet::Application& application, const std::string&) override
    {
        application.KeepRecordedValues(m_options.cellValues != options::CellValues::Displayed);
        auto workbook = m_bytes ? application.OpenFrom(m_bytes, m_name) : application.Open(m_name);
        if (m_sheet)
            workbook->KeepWorksheets({ *m_sheet });
        return workbook;
    }
    std::optional<exporting::ChosenOptions> Options() override { return exporting::ChosenOptions { m_options }; }
    void WorkbookWarnings(const std::vector<std::string>& warnings) override
    {
        m_warnings.insert(m_warnings.end(), warnings.begin(), warnings.end());
    }
    const std::vector<std::string>& Warnings() const { return m_warnings; }

private:
    std::shared_ptr<const spreadsheet::FileBytes> m_bytes; // none: the file at m_name
    std::string m_name;
    const options::ExportOptions& m_options;
    std::optional<size_t> m_sheet;
    std::vector<std::string> m_warnings;
};

// Hears of the files a save writes.
class WrittenFiles final : public results::SaveListener {
public:
    void Saved(const results::SavedFile& file) override
    {
        if (file.written)
            m_paths.push_back(file.path);
    }
    std::vector<std::string> Take() { return std::exchange(m_paths, {}); }

private:
    std::vector<std::string> m_paths;
};

// The command line's line for a failure of subject, without its line end.
std::string CommandLineMessage(const std::string& subject, const std::string& description)
{
    std::string line = cli::ErrorLine(subject, description);
    while (!line.empty() && line.back() == '\n')
        line.pop_back();
    return line;
}

} // namespace

void CollectingReporter::ThrowIfAny() const
{
    if (m_reports.empty())
        return;
    std::string message;
    for (const core::ErrorReport& report : m_reports)
        message += (message.empty() ? "" : "\n") + report.description;
    for (const core::ErrorReport& report : m_reports) {
        if (!report.failure)
            continue;
        try {
            std::rethrow_exception(report.failure);
        } catch (const SpreadsheetError& error) {
            throw SpreadsheetError(error.code(), message);
        } catch (...) {
        }
    }
    throw std::runtime_error(message);
}

std::vector<TextEntry> ExportTexts(Book& book, const options::ExportOptions& options, std::optional<size_t> sheet,
    core::Pump& pump, std::vector<std::string>& warnings)
{
    OneBookHost host(book.Bytes(), book.Name(), options, sheet);
    CollectingReporter reporter;
    core::NoProgress progress;
    exporting::ResultList results;
    exporting::RunExport(host, { reporter, pump, progress }, results);
    warnings = host.Warnings();
    if (pump.StopRequested())
        return {};
    reporter.ThrowIfAny();
    std::vector<TextEntry> texts;
    texts.reserve(results.size());
    for (const exporting::ResultEntry& entry : results)
        texts.push_back({ entry.sheetName.Copy(), entry.ordinal, entry.text.Copy() });
    return texts;
}

std::vector<FileOutcome> ExportFiles(const std::vector<std::string>& paths, const options::ExportOptions& options,
    const SaveChoice& save, core::Pump& pump)
{
    if (!core::FolderExists(save.folder))
        throw std::invalid_argument(save.folder + ": the output folder does not exist");
    CollectingReporter saveReports;
    WrittenFiles written;
    results::SaveSession session(save.folder, options.saveMode, save.inputs, { saveReports, pump, &written });
    session.SetNameTemplate(save.nameTemplate);
    // A text cut short is a result not written: a file is whole or not there.
    session.SetCutShortTexts(results::CutShortTexts::NotWritten);
    if (save.keepExisting)
        session.SetExistingFiles(results::ExistingFiles::Keep);
    if (save.byteOrderMark)
        session.SetLeadingBytes("\xEF\xBB\xBF");
    std::vector<FileOutcome> outcomes;
    for (const std::string& path : paths) {
        if (pump.StopRequested())
            break;
        FileOutcome outcome;
        outcome.path = path;
        OneBookHost host(nullptr, path, options, std::nullopt);
        CollectingReporter reporter;
        core::NoProgress progress;
        exporting::ResultList results;
        exporting::RunExport(host, { reporter, pump, progress }, results);
        saveReports.Clear();
        session.Save(results, path);
        for (const core::ErrorReport& report : reporter.Reports())
            outcome.messages.push_back(CommandLineMessage(path, report.description));
        for (const core::ErrorReport& report : saveReports.Reports())
            outcome.messages.push_back(CommandLineMessage(save.folder, report.description));
        outcome.ok = outcome.messages.empty();
        outcome.warnings = host.Warnings();
        outcome.written = written.Take();
        outcomes.push_back(std::move(outcome));
    }
    return outcomes;
}

} // namespace vellumcast::python
