#pragma once
// The export options: how cells become text and how the output is cut into files.

#include <string>
#include <string_view>

namespace vellumcast::options {

enum class SaveMode { AllSheets, EachSheet, EachRow, EachColumn };

struct ExportOptions {
    std::string divider = "\t";
    bool includeBlankCells = true;
    bool quoteCells = true;
    SaveMode saveMode = SaveMode::AllSheets;
    // Choices the windows do not offer; their defaults keep the windows' bytes.
    bool csvQuoting = false; // quote only cells that need it and double their quotes
    bool lineFeedOnly = false; // end lines in LF instead of CR LF
    bool skipEmptyLines = false; // leave out lines whose cells are all blank
};

// The five divider choices of the main window, in their order.
enum class DividerChoice { Tab, Comma, CommaSpace, Space, Other };
// The divider a choice stands for; Other gives otherText exactly as typed.
std::string DividerFor(DividerChoice choice, std::string_view otherText);

} // namespace vellumcast::options
