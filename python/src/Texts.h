#pragma once
// The texts of a workbook as the command line makes them: the same export run over a
// fresh engine workbook, opened and cut down to one worksheet as the command line's
// --sheet does; and a run of many workbooks saved into a folder as one save, the command
// line's file names and all, each workbook's outcome told apart.

#include "Book.h"
#include "core/Ports.h"
#include "options/ExportOptions.h"

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace vellumcast::python {

struct TextEntry {
    std::string sheet; // empty for the whole workbook's text
    int64_t number = 0; // the row or column within the used range, from 1; 0 where there is none
    std::string text;
};

// Collects the failures reports tell of.
class CollectingReporter final : public core::ErrorReporter {
public:
    void Report(const core::ErrorReport& report) override { m_reports.push_back(report); }
    const std::vector<core::ErrorReport>& Reports() const { return m_reports; }
    void Clear() { m_reports.clear(); }
    // Throws the first failure, its message telling of every one: the engine's error when
    // it was one (so its code says what kind), else a std::runtime_error.
    void ThrowIfAny() const;

private:
    std::vector<core::ErrorReport> m_reports;
};

// Every text of the workbook (only the worksheet at sheet, from 0, when given) in the order
// the command line writes them. Throws the first failure (CollectingReporter::ThrowIfAny);
// returns early, with what was composed, once pump stops the run. What the workbook warns
// of is added to warnings. Call without the GIL.
std::vector<TextEntry> ExportTexts(Book& book, const options::ExportOptions& options, std::optional<size_t> sheet,
    core::Pump& pump, std::vector<std::string>& warnings);

// What became of one workbook of ExportFiles.
struct FileOutcome {
    std::string path;
    bool ok = true;
    std::vector<std::string> messages; // its failures, as the command line says them after its name
    std::vector<std::string> warnings;
    std::vector<std::string> written; // the files written, in the order written
};

struct SaveChoice {
    std::string folder;
    std::optional<std::string> nameTemplate;
    bool byteOrderMark = false;
    bool keepExisting = false; // files already in the folder stay; a new text takes the next free name
    std::vector<std::string> inputs; // every workbook of the whole run: none is written over
};

// Exports the workbooks at paths one after another and saves their texts into the folder as
// one save, as the command line does. Throws std::invalid_argument when the folder does
// not exist. Call without the GIL.
std::vector<FileOutcome> ExportFiles(const std::vector<std::string>& paths, const options::ExportOptions& options,
    const SaveChoice& save, core::Pump& pump);

} // namespace vellumcast::python
