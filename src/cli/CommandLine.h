#pragma once
// The command-line front end: exports workbooks with the same engine and export code as
// the windows, and saves each result under the name the results window would give it.

#include "options/ExportOptions.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace vellumcast::cli {

struct CommandLineOptions {
    options::ExportOptions exportOptions; // the main window's first-start defaults
    std::string outputFolder = ".";
    std::vector<std::string> workbooks;
    bool showHelp = false;
};

// Parses the arguments (without the program name). Returns nothing and sets error on bad usage.
std::optional<CommandLineOptions> ParseArguments(const std::vector<std::string>& arguments, std::string& error);

std::string UsageText();

// Runs the whole command: 0 when every workbook was exported and saved, 1 when any
// failed, 2 on bad usage. progressToTerminal shows a progress line on err.
int RunCommandLine(
    const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err, bool progressToTerminal);

} // namespace vellumcast::cli
