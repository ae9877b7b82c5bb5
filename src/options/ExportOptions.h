#pragma once
// The export options: how cells become text and how the output is cut into files.

#include <optional>
#include <string>
#include <string_view>

namespace vellumcast::options {

enum class SaveMode { AllSheets, EachSheet, EachRow, EachColumn };

// The captions that identify the save modes in the window, the settings and the run.
inline constexpr std::string_view kAllSheetsCaption = "Save all sheets to a text file";
inline constexpr std::string_view kEachSheetCaption = "Save each sheet to a text file";
inline constexpr std::string_view kEachRowCaption = "Save each row to a text file";
inline constexpr std::string_view kEachColumnCaption = "Save each column to a text file";

std::string_view SaveModeCaption(SaveMode mode);
// The mode with exactly this caption (case-sensitive), or none.
std::optional<SaveMode> SaveModeFromCaption(std::string_view caption);

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
