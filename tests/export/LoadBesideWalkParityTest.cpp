// Composing lines while the worksheet loads on a second thread must give the bytes the
// walk of the loaded worksheet gives. With the threshold lowered every worksheet takes
// the second-thread path, so every workbook fixture, in every save mode, is exported
// both ways and the transcripts (entries, reports, warnings) compared byte for byte.

#include "export/ExportProcedures.h"
#include "support/ExportHarness.h"
#include "support/LoadBesideWalk.h"
#include "support/TempDir.h"
#include "support/XlsbWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <random>
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

// Numbers are formatted while they load when only displayed texts are read: random values
// under formats of every kind, in both date systems, must give the bytes the loaded walk
// gives, and raw values and ISO dates, which load numbers as numbers, as well. The sheet
// holds more cells than one block of the cell store, so cells and texts are let go of as
// they are read.
TEST(LoadBesideWalkParity, RandomNumbersUnderEveryKindOfFormatGiveTheBytesOfTheLoadedWalk)
{
    const std::vector<std::string> codes { "General", "0", "0.00", "#,##0.00;[Red]-#,##0.00", "0%", "0.00E+00", "# ?/?",
        "# ?\?/16", "m/d/yyyy", "d-mmm-yy h:mm AM/PM", "[h]:mm:ss", "mm:ss.0", "yyyy-mm-dd hh:mm:ss", "dddd, mmmm d",
        ";;;", "\"pos \"0;\"neg \"0;\"zero\";\"text \"@", "[>=1000]#,##0,\"k\";[<0]-0.0;0.000", "0.00_);(0.00)",
        "#,##0.00 [$€-407]", "@", "000-00-0000", "?.???" };
    vt::TempDir dir;
    std::mt19937_64 random(20261210);
    std::uniform_int_distribution<int> pick(0, 7);
    const auto randomValue = [&]() -> double {
        switch (pick(random)) {
        case 0:
            return static_cast<double>(std::uniform_int_distribution<int64_t>(-2000000, 2000000)(random));
        case 1:
            return std::uniform_real_distribution<double>(-1, 1)(random);
        case 2: // dates and times, past the year 9999 too
            return std::uniform_real_distribution<double>(0, 3100000)(random);
        case 3: // halves and thousandths, where rounding ties
            return std::uniform_int_distribution<int>(-100000, 100000)(random) / 200.0;
        case 4:
            return std::ldexp(std::uniform_real_distribution<double>(-1, 1)(random),
                std::uniform_int_distribution<int>(-60, 70)(random));
        case 5: // about the 1900 system's leap day
            return std::uniform_int_distribution<int>(55, 65)(random)
                + std::uniform_int_distribution<int>(0, 3)(random) / 4.0;
        case 6:
            return -std::uniform_real_distribution<double>(0, 5000)(random);
        }
        return 0;
    };
    constexpr int kRows = 10000;
    for (const bool date1904 : { false, true }) {
        vt::XlsbWriter writer;
        writer.Date1904(date1904).Compress();
        std::vector<uint32_t> styles;
        for (const std::string& code : codes)
            styles.push_back(writer.AddStyle(code));
        for (int id = 1; id <= 49; ++id)
            styles.push_back(writer.AddBuiltInStyle(id));
        auto& sheet = writer.AddSheet("Random");
        for (int row = 1; row <= kRows; ++row) {
            for (int column = 1; column <= static_cast<int>(styles.size()) / 5; ++column)
                sheet.Number(row, column, randomValue(), styles[random() % styles.size()]);
        }
        const std::string path = writer.Save(dir.File(date1904 ? "random1904.xlsb" : "random1900.xlsb"));
        for (const options::CellValues values :
            { options::CellValues::Displayed, options::CellValues::Raw, options::CellValues::IsoDates }) {
            SCOPED_TRACE(
                std::string(date1904 ? "1904" : "1900") + ", values " + std::to_string(static_cast<int>(values)));
            options::ExportOptions options = Options(SaveMode::EachSheet, true, false);
            options.cellValues = values;
            std::string beside;
            std::string loadedFirst;
            {
                vt::ScopedLoadBesideWalkThreshold lowered(0);
                beside = ExportTranscript(path, SaveMode::EachSheet, options);
            }
            {
                vt::ScopedLoadBesideWalkThreshold off(spreadsheet::kNeverLoadBeside);
                loadedFirst = ExportTranscript(path, SaveMode::EachSheet, options);
            }
            EXPECT_GT(beside.size(), size_t { kRows } * 100);
            ExpectSameBytes(beside, loadedFirst);
        }
    }
}
