#pragma once
// The command-line front end: exports workbooks with the same engine and export code as
// the windows, and saves each result under the name the results window would give it.

#include "cli/SheetPatterns.h"
#include "options/ExportOptions.h"
#include "spreadsheet/WorkbookReader.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace vellumcast::cli {

struct CommandLineOptions {
    options::ExportOptions exportOptions; // the main window's first-start defaults
    bool dividerGiven = false; // --csv alone means comma-separated
    bool isoDates = false; // --dates iso: displayed values take ISO dates, raw ones have them
    spreadsheet::DelimitedTextOptions delimitedText; // --input-divider, --input-encoding
    std::string outputFolder = "."; // "-": the texts go to standard output; made when missing
    std::optional<std::string> nameTemplate; // how saved files are named; none: the results window's names
    std::vector<std::string> workbooks; // files, folders to search, "-" for standard input
    std::vector<std::string> sheets; // worksheet names or numbers from 1; empty: all
    SheetPatterns patterns; // --include and --exclude: worksheets chosen by name
    bool skipHidden = false;
    bool byteOrderMark = false; // every file written starts with a UTF-8 byte-order mark
    bool noCompute = false; // formulas saved without a value stay blank rather than computed
    bool noClobber = false; // files already in the output folder stay; new texts take "(N)" names
    bool failEmpty = false; // a run that exports no text at all fails
    bool list = false; // list the worksheets instead of exporting
    std::vector<std::string> extensions; // what a folder search takes; empty: every readable format
    bool recursive = false; // folders are searched with their subfolders
    unsigned jobs = 0; // workbooks exported at once; 0: the number of cores
    bool quiet = false; // only errors are printed: no file names, warnings, notices or progress
    // --password-file: where the password of encrypted workbooks is read; never the
    // password itself, which ps would show to every user.
    std::optional<std::string> passwordFile;
    // The password, read from passwordFile or VELLUMCAST_PASSWORD before the run.
    std::optional<std::string> password;
    bool showHelp = false;
    bool showVersion = false;
};

// Parses the arguments (without the program name). Returns nothing and sets error on bad usage.
std::optional<CommandLineOptions> ParseArguments(const std::vector<std::string>& arguments, std::string& error);

std::string UsageText();
std::string VersionText(); // "vellumcast-cli VERSION"

// Runs the whole command: 0 when every workbook was exported and saved, 1 when any
// failed, a file, the output folder or standard output could not be written, or (with
// failEmpty) nothing was exported, 2 on bad usage. progressToTerminal shows a progress
// line on err (not with quiet); in reads the workbook named "-".
int RunCommandLine(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out, std::ostream& err,
    bool progressToTerminal);

} // namespace vellumcast::cli
