#pragma once
// Filling the workbook list in bulk: folder trees, dropped files and folders.
//
// Folder collections hold paths that end in a separator: the one the chosen folder is
// spelt with (core::JoinPath), so the paths found use one kind of separator as it does.
// A root ("/", "C:\") gets no second one; ComposePath makes a doubled separator single.

#include "core/Ports.h"
#include "core/StepRunner.h"
#include "worklist/WorkbookList.h"

#include <string>
#include <string_view>
#include <vector>

namespace vellumcast::worklist {

// Appends to folders every folder below its members, breadth-first: all direct subfolders
// of the members (grouped by member, in listing order), then the next level, and so on,
// with no depth limit. Hidden folders (names starting with ".", and on Windows those with
// the Hidden or System attribute) and folders that cannot be listed are not entered, and a
// folder reached twice (a symbolic-link loop, two links to one folder) is taken once.
// recurse false takes one level only. Runs the pump per listed entry and per new folder.
// A folder that cannot be listed contributes nothing.
void CollectSubfolders(std::vector<std::string>& folders, bool recurse, core::Pump& pump);

// The names of the regular files directly in folder whose names match pattern, hidden
// ones included, in listing order: by name, letter case ignored, as the platform's file
// dialogs show them. Folders, broken links and entries that cannot be examined are left
// out. Throws core::FileError when the folder cannot be listed.
std::vector<std::string> ListFolderFiles(std::string folder, std::string_view pattern);

// The file-name wildcard match: "*" any run, "?" one character, letter case ignored. A
// trailing ".*" also takes names without a dot, and a three-letter extension such as
// "xls" also takes longer extensions that begin with it (".xlsx", ".xlsm").
bool WildcardMatch(std::string_view pattern, std::string_view name);

// The collection member (ending in a separator) followed by the name, with every doubled
// separator made single: "//" and "a.xls" give "/a.xls". The two that start a Windows
// share ("\\server\share\") stay.
std::string ComposePath(std::string_view member, std::string_view name);

// True when the file is hidden (or on Windows a system file) and not read-only: the file
// filter leaves it out. A hidden file that is read-only is kept, as one whose attributes
// are more than hidden and archive. Throws core::FileError when the file cannot be
// examined; the caller appends it all the same.
bool IsHiddenWritableFile(const std::string& path);

// The folder import of one chosen (or dropped) folder: the folder and every folder below
// it, then each one's files matching pattern that pass the file filter, appended in
// order. Failures are reported through run with the step numbers of the folder import
// (112 collecting, 118 listing, 122 to 126 filtering) and the scan context of the folder
// and file at hand; a file whose attributes cannot be read is appended all the same.
// withSubfolders false takes the folder's own files only.
void ImportFolder(WorkbookList& list, const std::string& folder, std::string_view pattern, core::StepRunner& run,
    core::Pump& pump, bool withSubfolders = true);

// The answer of the extension question as a listing pattern: "*." + answer, where an
// answer typed as ".xlsx" or "*.xlsx" counts as "xlsx".
std::string PatternForAnswer(std::string_view answer);

// Dropped paths, in order: a folder is imported with "*.*" (subfolders and the file filter
// included); anything else is appended unchanged, whatever its name or type.
void DropPaths(WorkbookList& list, const std::vector<std::string>& paths, core::Pump& pump);

} // namespace vellumcast::worklist
