// Composing lines while the worksheet loads on a second thread must give the bytes the
// walk of the loaded worksheet gives. With the threshold lowered every worksheet takes
// the second-thread path, so every workbook fixture, in every save mode, is exported
// both ways and the transcripts (entries, reports, warnings) compared byte for byte.

#include "export/ExportProcedures.h"
#include "support/ExportHarness.h"
#include "support/LoadBesideWalk.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

using namespace vellumcast;
namespace vt = vellumcast::testing;
using options::SaveMode;

namespace {

void Transcribe(const exporting::ResultList& results, std::string& out)
{
    for (const auto& entry : results) {
        out += "entry " + entry.fileName.Copy() + " | " + entry.sheetName.Copy() + " | " + std::to_string(entry.ordinal)
            + "\n" + entry.text.Copy() + "\n";
    }
}

// Everything an export of the workbook at path in mode leaves behind, as one text.
std::string ExportTranscript(const std::string& path, SaveMode mode, const options::ExportOptions& options)
{
    vt::ExportHarness h;
    spreadsheet::Application application;
    std::string out;
    try {
        auto book = application.Open(path);
        if (mode == SaveMode::AllSheets) {
            std::string text;
            try {
                exporting::ExportAllSheetsToTextFile(h.context, book.get(), options, text);
            } catch (const std::exception& error) {
                out += std::string("failed: ") + error.what() + "\n";
            }
            out += "text\n" + text + "\n";
        } else if (mode == SaveMode::EachSheet) {
            exporting::ExportSheetToTextFile(h.context, book.get(), options, path, h.resultNumber);
        } else if (mode == SaveMode::EachRow) {
            exporting::ExportRowToTextFile(h.context, book.get(), options, path, h.resultNumber);
        } else {
            exporting::ExportColumnToTextFile(h.context, book.get(), options, path, h.resultNumber);
        }
        for (const std::string& warning : book->Warnings())
            out += "warning " + warning + "\n";
    } catch (const std::exception& error) {
        out += std::string("cannot open: ") + error.what() + "\n";
    }
    Transcribe(h.results, out);
    for (const auto& report : h.reporter.reports)
        out += "report " + std::to_string(report.step) + " " + report.description + "\n";
    return out;
}

// Fails naming the first byte where the two transcripts part, with a little of each.
void ExpectSameBytes(const std::string& beside, const std::string& loadedFirst)
{
    if (beside == loadedFirst)
        return;
    const auto parted = std::mismatch(beside.begin(), beside.end(), loadedFirst.begin(), loadedFirst.end());
    const size_t at = static_cast<size_t>(parted.first - beside.begin());
    const size_t from = at > 40 ? at - 40 : 0;
    ADD_FAILURE() << "the texts part at byte " << at << " of " << beside.size() << " / " << loadedFirst.size()
                  << "\nloaded beside: ..." << beside.substr(from, 120) << "\nloaded first:  ..."
                  << loadedFirst.substr(from, 120);
}

options::ExportOptions Options(SaveMode mode, bool blankCells, bool quote)
{
    options::ExportOptions o;
    o.saveMode = mode;
    o.divider = ",";
    o.includeBlankCells = blankCells;
    o.quoteCells = quote;
    return o;
}

} // namespace

TEST(LoadBesideWalkParity, EveryFixtureInEveryModeGivesTheBytesOfTheLoadedWalk)
{
    const std::vector<std::string> workbooks = vt::EveryWorkbook();
    ASSERT_GT(workbooks.size(), 100u);
    size_t opened = 0;
    for (const std::string& path : workbooks) {
        for (const SaveMode mode :
            { SaveMode::AllSheets, SaveMode::EachSheet, SaveMode::EachRow, SaveMode::EachColumn }) {
            for (const bool blankCells : { true, false }) {
                const options::ExportOptions options = Options(mode, blankCells, !blankCells);
                SCOPED_TRACE(path + ", mode " + std::to_string(static_cast<int>(mode))
                    + (blankCells ? ", blanks kept" : ", blanks left out, quoted"));
                std::string beside;
                std::string loadedFirst;
                {
                    vt::ScopedLoadBesideWalkThreshold lowered(0);
                    beside = ExportTranscript(path, mode, options);
                }
                {
                    vt::ScopedLoadBesideWalkThreshold off(spreadsheet::kNeverLoadBeside);
                    loadedFirst = ExportTranscript(path, mode, options);
                }
                ExpectSameBytes(beside, loadedFirst);
                opened += beside.find("cannot open: ") == std::string::npos;
            }
        }
    }
    // Most fixtures open, so the comparison is mostly of texts, not of two failures.
    EXPECT_GT(opened, 6 * workbooks.size());
}
