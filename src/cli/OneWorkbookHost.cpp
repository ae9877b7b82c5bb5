#include "cli/OneWorkbookHost.h"

#include "cli/Streams.h"

#include <cerrno>
#include <stdexcept>
#include <utility>

namespace vellumcast::cli {

std::vector<size_t> OpenChosen(const RunSetup& setup, spreadsheet::Application& application,
    const std::string& argument, std::unique_ptr<spreadsheet::Workbook>& workbook, std::string& warnings)
{
    const std::string shown = ShownName(argument);
    if (setup.options.password)
        application.SetPasswordSource([&setup] { return setup.options.password; });
    application.KeepRecordedValues(setup.options.exportOptions.cellValues != options::CellValues::Displayed);
    spreadsheet::FormulaOptions formulas;
    formulas.compute = !setup.options.noCompute;
    application.SetFormulaOptions(formulas);
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

} // namespace vellumcast::cli
