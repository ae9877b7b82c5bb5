#pragma once
// What the command line does with workbooks before and around the export: folders
// searched for workbooks, the worksheet choice, the worksheet listing.

#include "cli/CommandLine.h"
#include "core/Ports.h"
#include "spreadsheet/Workbook.h"

#include <string>
#include <vector>

namespace vellumcast::cli {

// The name standing for a workbook read from standard input, in messages and file names.
inline constexpr std::string_view kStdinName = "stdin";

// The name a workbook argument is shown and its results named by: kStdinName for "-" and
// for a path naming an open descriptor (/dev/fd/N, /proc/self/fd/N: what <(…) gives),
// whose number says nothing of the workbook; the argument itself otherwise.
std::string ShownName(const std::string& argument);

// The workbook arguments with every folder replaced by the workbooks found in it (its
// subfolders too when recursive), in the order the folder import lists them. A folder
// takes the names that match one of extensions (the workbook formats when empty), not
// starting with "~" and not hidden; hidden folders are not entered, nor is the output
// folder when the search comes upon it, and where the output folder is searched, the
// files its texts would be saved as (results::ResultNaming) for the workbooks found are
// left out: a second run never reads the first one's texts. Only regular files are
// taken. Files and "-" are kept as given. On Windows, whose shells leave it to the
// program, an argument with wildcards in its file name stands for the files and folders
// it matches (core::ExpandWildcards); one matching nothing is an error. folders gets, for
// each workbook, the folder it was found in relative to the folder searched ("" for one
// given as it is, or found in the searched folder itself). Scan failures are added to
// errors, a folder that gives nothing to warnings, one line each.
std::vector<std::string> ExpandFolders(
    const CommandLineOptions& options, std::string& errors, std::string& warnings, std::vector<std::string>& folders);

// Leaves in the workbook only the chosen worksheets, in workbook order: those named in
// options.sheets or matched by an include pattern, or all when there is neither; less
// those an exclude pattern matches, and less the hidden and very hidden ones with
// skipHidden. A choice is a worksheet's name (letter case ignored when no name matches
// exactly) or a number counting every worksheet from 1. Returns the numbers of the
// worksheets kept, or none when every one is kept (the list is then left to be read as
// the export goes on). A pattern that matches no worksheet of the workbook, and a
// worksheet named in options.sheets that an exclude pattern or skipHidden leaves out, add
// a warning to warnings, one sentence each. Call before any worksheet is read. Throws
// std::runtime_error naming the workbook (as shownName) and the worksheet it lacks.
std::vector<size_t> SelectWorksheets(spreadsheet::Workbook& workbook, const std::string& shownName,
    const CommandLineOptions& options, std::vector<std::string>& warnings);

// "A1", "AB12": a cell's reference in the A1 style.
std::string CellReference(int32_t row, int32_t column);

// One line per worksheet of workbook: its number (numbers[i] for the i-th worksheet, or
// i + 1 without numbers), name (control characters escaped), visibility ("visible",
// "hidden", "very hidden") and used range ("empty" for a worksheet without content),
// tab-separated. With no numbers, the chart, dialog and macro sheets are listed too where
// the workbook has them: "-", name, visibility and "chart sheet", "dialog sheet" or
// "macro sheet". A worksheet that cannot be read throws.
std::string ListWorksheets(spreadsheet::Workbook& workbook, const std::vector<size_t>& numbers);

} // namespace vellumcast::cli
