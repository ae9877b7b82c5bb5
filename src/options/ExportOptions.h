#pragma once
// The export options: how cells become text and how the output is cut into files.

#include <string>
#include <string_view>

namespace vellumcast::options {

enum class SaveMode { AllSheets, EachSheet, EachRow, EachColumn };

// What text a cell gives: as displayed; as displayed with dates and times in ISO 8601;
// or raw, what the cell holds (numbers unformatted, dates in ISO 8601).
enum class CellValues { Displayed, IsoDates, Raw };

// How lines are written: as text (the divider and quoting options apply), or as JSON
// Lines, each line a JSON array of its cells' texts (typed with raw values).
enum class LineFormat { Text, JsonLines };

// What becomes of the line breaks inside a cell's text: kept; each (CR LF, CR or LF)
// made one space; or written as \r and \n, a backslash as \\.
enum class CellBreaks { Keep, Space, Escape };

struct ExportOptions {
    std::string divider = "\t";
    bool includeBlankCells = true;
    bool quoteCells = true;
    SaveMode saveMode = SaveMode::AllSheets;
    // Choices the windows do not offer; their defaults keep the windows' bytes.
    bool csvQuoting = false; // quote only cells that need it and double their quotes
    bool lineFeedOnly = false; // end lines in LF instead of CR LF
    bool skipEmptyLines = false; // leave out lines whose cells are all blank
    CellValues cellValues = CellValues::Displayed;
    bool fillMerged = false; // every cell of a merged area gives the text of the area's first cell
    bool skipHiddenRows = false; // rows the workbook hides are left out of the lines
    bool skipHiddenColumns = false; // columns the workbook hides are left out of the lines
    LineFormat lineFormat = LineFormat::Text;
    CellBreaks cellBreaks = CellBreaks::Keep;
};

// The five divider choices of the main window, in their order.
enum class DividerChoice { Tab, Comma, CommaSpace, Space, Other };
// The divider a choice stands for; Other gives otherText exactly as typed.
std::string DividerFor(DividerChoice choice, std::string_view otherText);

} // namespace vellumcast::options
