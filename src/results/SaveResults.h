#pragma once
// Saving the results of a run as text files in an output folder.

#include "core/Ports.h"
#include "export/ResultList.h"
#include "options/ExportOptions.h"

#include <optional>
#include <string>
#include <vector>

namespace vellumcast::results {

// The name a result is saved under: the stem of its fileName, then "_" + sheet name and
// "_" + ordinal where the mode has them, then ".txt". A "/" or control character coming
// from inside a workbook becomes "_", and a name that would be "." or ".." is escaped, so
// the file always lands inside the output folder.
std::string SavedFileName(options::SaveMode mode, const exporting::ResultEntry& entry);

// Makes a text from inside a workbook safe as part of a file name.
std::string SafeNamePart(const std::string& text);

enum class SaveOutcome { Saved, FolderMissing };

struct SavedFile {
    std::string path;
    bool written = false;
};

// Writes every result into folder (which may end in "/"), each under SavedFileName, in
// list order, so a later entry of the same name replaces an earlier one. Each file that
// cannot be written is reported through reporter (location "…Form2.PushButton6_Click ")
// and the others are still written. A folder that does not exist writes nothing and gives
// FolderMissing. Pump runs once per entry. mode none: nothing is written.
SaveOutcome SaveResults(const std::string& folder, std::optional<options::SaveMode> mode,
    const exporting::ResultList& results, core::ErrorReporter& reporter, core::Pump& pump,
    std::vector<SavedFile>* saved = nullptr);

} // namespace vellumcast::results
