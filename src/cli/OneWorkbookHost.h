#pragma once
// How the command line opens one workbook, and the export run's host for it.

#include "cli/CommandLine.h"
#include "cli/Messages.h"
#include "cli/SpooledResults.h"
#include "cli/Workbooks.h"
#include "export/ExportRun.h"
#include "spreadsheet/Workbook.h"

#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace vellumcast::cli {

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
    const std::string& argument, std::unique_ptr<spreadsheet::Workbook>& workbook, std::string& warnings);

// What the export reads of one workbook of the command line, and the warnings it tells.
class OneWorkbookHost final : public exporting::WorkbookSource, public exporting::ExportRunNotices {
public:
    OneWorkbookHost(const RunSetup& setup, const std::string& argument)
        : m_setup(setup)
        , m_argument(argument)
    {
    }
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

} // namespace vellumcast::cli
