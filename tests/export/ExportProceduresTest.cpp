#include "export/ExportProcedures.h"
#include "support/ExportHarness.h"
#include "support/MemoryWorkbook.h"

#include <gtest/gtest.h>

using namespace vellumcast;
namespace vt = vellumcast::testing;
using exporting::ExportContext;
using vt::MakeWorkbook;
using vt::MemorySheet;
using vt::SheetFromRows;

namespace {

options::ExportOptions Options(std::string divider, bool includeBlank, bool quote)
{
    options::ExportOptions o;
    o.divider = std::move(divider);
    o.includeBlankCells = includeBlank;
    o.quoteCells = quote;
    return o;
}

using Harness = vt::ExportHarness;

const std::string kPath = "/data/my.dir/sales.2015.xlsx";

} // namespace

TEST(SheetExport, OneEntryPerWorksheetWithContent)
{
    Harness h;
    auto book = MakeWorkbook(kPath,
        { SheetFromRows("Data", { { "a", "b" }, { "c", "d" } }), MemorySheet { "Empty", {} },
            SheetFromRows("Only", { { "x" } }) });
    exporting::ExportSheetToTextFile(h.context, book.get(), Options(",", true, false), kPath, h.resultNumber);
    ASSERT_EQ(h.results.size(), 2u);
    EXPECT_EQ(h.results[0].fileName, "sales.2015.txt");
    EXPECT_EQ(h.results[0].sheetName, "Data");
    EXPECT_EQ(h.results[0].ordinal, 0);
    EXPECT_EQ(h.results[0].text, "a,b\r\nc,d\r\n");
    EXPECT_EQ(h.results[1].sheetName, "Only");
    EXPECT_EQ(h.results[1].text, "x\r\n");
    EXPECT_EQ(h.resultNumber, 3);
    EXPECT_TRUE(h.reporter.reports.empty());
}

TEST(SheetExport, UsedRangeStartingAtC3WritesNothingAboveOrLeftOfIt)
{
    Harness h;
    auto book = MakeWorkbook(kPath, { SheetFromRows("S", { { "a", "b" }, { "", "d" } }, 3, 3) });
    exporting::ExportSheetToTextFile(h.context, book.get(), Options("\t", true, true), kPath, h.resultNumber);
    ASSERT_EQ(h.results.size(), 1u);
    EXPECT_EQ(h.results[0].text, "\"a\"\t\"b\"\r\n\"\"\t\"d\"\r\n");
}

TEST(SheetExport, BlankOnlyWorksheetGivesAnEmptyText)
{
    Harness h;
    // Formatted blank cells make a used range, but every line composes to nothing.
    auto book = MakeWorkbook(kPath, { MemorySheet { "Blank", { { 1, 1, "" }, { 2, 3, "" } } } });
    exporting::ExportSheetToTextFile(h.context, book.get(), Options(",", false, false), kPath, h.resultNumber);
    ASSERT_EQ(h.results.size(), 1u);
    EXPECT_EQ(h.results[0].text, ""); // no word the workbook lacks
}

TEST(SheetExport, SingleBlankA1CountsAsEmpty)
{
    Harness h;
    auto book = MakeWorkbook(kPath, { MemorySheet { "A1", { { 1, 1, "" } } }, MemorySheet { "None", {} } });
    exporting::ExportSheetToTextFile(h.context, book.get(), Options(",", true, false), kPath, h.resultNumber);
    EXPECT_TRUE(h.results.empty());
    EXPECT_EQ(h.resultNumber, 1);
}

TEST(SheetExport, WorkbookWithoutWorksheetsGivesNothing)
{
    Harness h;
    auto book = MakeWorkbook(kPath, {});
    exporting::ExportSheetToTextFile(h.context, book.get(), Options(",", true, false), kPath, h.resultNumber);
    EXPECT_TRUE(h.results.empty());
    EXPECT_TRUE(h.reporter.reports.empty());
}

TEST(SheetExport, UnreadableWorksheetIsReportedOnceAndTheNextStillExports)
{
    Harness h;
    MemorySheet broken = SheetFromRows("Broken", { { "a" } });
    broken.failsToLoad = true;
    auto book = MakeWorkbook(kPath, { broken, SheetFromRows("Good", { { "g" } }) });
    exporting::ExportSheetToTextFile(h.context, book.get(), Options(",", true, false), kPath, h.resultNumber);
    ASSERT_EQ(h.reporter.reports.size(), 1u);
    EXPECT_EQ(h.reporter.reports[0].location, "in Murrelet2/19/2015.Excel1.ExportSheetToTextFile ");
    EXPECT_EQ(h.reporter.reports[0].step, 108);
    EXPECT_NE(h.reporter.reports[0].description.find("Broken"), std::string::npos);
    ASSERT_EQ(h.results.size(), 1u);
    EXPECT_EQ(h.results[0].sheetName, "Good");
}

// A cell that cannot be read is reported and the line goes on with the text read last, as
// the cell variable still held it. The worksheet is let go at every event pump and can be
// loaded only twice: for its used range and for its first cell.
TEST(CellReadFailure, KeepsThePreviousCellsTextInRowsAndColumns)
{
    using Procedure
        = void (*)(ExportContext&, spreadsheet::Workbook*, const options::ExportOptions&, const std::string&, int64_t&);
    const struct {
        Procedure procedure;
        int step;
    } cases[] = { { exporting::ExportSheetToTextFile, 140 }, { exporting::ExportRowToTextFile, 142 },
        { exporting::ExportColumnToTextFile, 142 } };
    // Blank cells kept or left out, and with the layout applied: the walk holds the cells
    // it reads, so letting them go is safe.
    options::ExportOptions withLayout = Options(",", false, false);
    withLayout.fillMerged = true;
    const struct {
        options::ExportOptions options;
        int loads;
    } optionSets[] = { { Options(",", true, false), 3 }, { Options(",", false, false), 3 }, { withLayout, 2 } };
    for (const auto& c : cases) {
        for (const auto& [options, loads] : optionSets) {
            Harness h;
            MemorySheet sheet = SheetFromRows("S", { { "a", "b", "c" } });
            // Without the layout every export loads the sheet once beside its walk; unloaded
            // meanwhile (as here, by every pump), that load is dropped and the walk reads anew.
            sheet.loadsBeforeFailing = loads;
            auto book = MakeWorkbook(kPath, { sheet });
            h.pump.onRun = [&] { book->Worksheets()[0].Unload(); };
            c.procedure(h.context, book.get(), options, kPath, h.resultNumber);
            std::string texts;
            for (const auto& entry : h.results)
                texts += entry.text.Copy() + "|";
            const bool across = c.procedure == exporting::ExportColumnToTextFile;
            EXPECT_EQ(texts, across ? "a\r\n|a\r\n|a\r\n|" : "a,a,a\r\n|");
            ASSERT_EQ(h.reporter.reports.size(), 2u);
            EXPECT_EQ(h.reporter.reports[1].step, c.step);
            EXPECT_NE(h.reporter.reports[1].description.find("damaged"), std::string::npos);
        }
    }
}

// The text a failed read keeps may be the last one of the worksheet walked before, whose
// cells are gone by then: it is kept, never read from where they were.
TEST(CellReadFailure, TheFirstReadOfAWorksheetKeepsTheLastTextOfTheOneBefore)
{
    options::ExportOptions withLayout = Options(",", true, false);
    withLayout.fillMerged = true;
    const struct {
        options::ExportOptions options;
        int loads;
    } optionSets[] = { { Options(",", true, false), 2 }, { withLayout, 1 } };
    for (const auto& [options, loads] : optionSets) {
        Harness h;
        const std::string last(40, 's');
        MemorySheet first = SheetFromRows("First", { { "p", "q" }, { "r", last } });
        MemorySheet second = SheetFromRows("Second", { { "a", "b" } });
        second.loadsBeforeFailing = loads; // every read of the walk loads it again, and fails
        auto book = MakeWorkbook(kPath, { first, second });
        // The first worksheet is let go once walked, its cells freed.
        h.pump.onRun = [&] {
            book->Worksheets()[0].Unload();
            book->Worksheets()[1].Unload();
        };
        exporting::ExportSheetToTextFile(h.context, book.get(), options, kPath, h.resultNumber);
        ASSERT_EQ(h.results.size(), 2u);
        EXPECT_EQ(h.results[0].text.Copy(), "p,q\r\nr," + last + "\r\n");
        EXPECT_EQ(h.results[1].text.Copy(), last + "," + last + "\r\n");
        EXPECT_FALSE(h.reporter.reports.empty());
    }
}

// Long rows above a used range that runs on empty to the sheet's last row must not make
// the export reserve memory for a million long rows.
TEST(SheetExport, LongFirstRowsOverAnEmptyMillionDoNotReserveForAMillionLongRows)
{
    Harness h;
    MemorySheet sheet { "S", {} };
    for (int32_t row = 1; row <= 512; ++row)
        sheet.cells.push_back({ row, 1, std::string(4096, 'x') });
    sheet.cells.push_back({ 1048576, 1, "end" });
    auto book = MakeWorkbook(kPath, { sheet });
    exporting::ExportSheetToTextFile(h.context, book.get(), Options(",", true, false), kPath, h.resultNumber);
    ASSERT_EQ(h.results.size(), 1u);
    const std::string text = h.results[0].text.Copy();
    EXPECT_EQ(text.size(), 512u * 4098u + (1048576u - 513u) * 2u + 5u);
    EXPECT_LE(text.capacity(), 2 * text.size() + (256u << 20)) << "reserved " << (text.capacity() >> 20) << " MiB";
}

TEST(SheetExport, NoWorkbookIsReportedAndNothingIsRecorded)
{
    Harness h;
    exporting::ExportSheetToTextFile(h.context, nullptr, Options(",", true, false), kPath, h.resultNumber);
    ASSERT_EQ(h.reporter.reports.size(), 1u);
    EXPECT_TRUE(h.results.empty());
}

TEST(SheetExport, ProgressFollowsTheRowNumberNotTheFirstRow)
{
    Harness h;
    auto book = MakeWorkbook(kPath, { SheetFromRows("S", { { "a" }, { "b" }, { "c" } }, 2, 1) });
    exporting::ExportSheetToTextFile(h.context, book.get(), Options(",", true, false), kPath, h.resultNumber);
    ASSERT_EQ(h.progress.values.size(), 3u);
    EXPECT_DOUBLE_EQ(h.progress.values[0], 3.0 / 5.0 * 100.0);
    EXPECT_DOUBLE_EQ(h.progress.values[2], 100.0);
    EXPECT_GE(h.pump.calls, 3u + 3u); // per row and per cell
}

TEST(RowExport, OrdinalsCountWithinTheUsedRange)
{
    Harness h;
    auto book = MakeWorkbook(kPath,
        { SheetFromRows("North", { { "a", "b" }, { "", "" }, { "e", "f" } }, 5, 2),
            SheetFromRows("South", { { "s" } }) });
    // Row 6 has no recorded cells but is inside the used range.
    exporting::ExportRowToTextFile(h.context, book.get(), Options("\t", false, false), kPath, h.resultNumber);
    ASSERT_EQ(h.results.size(), 4u);
    EXPECT_EQ(h.results[0].ordinal, 1);
    EXPECT_EQ(h.results[0].text, "a\tb\r\n");
    EXPECT_EQ(h.results[1].ordinal, 2);
    EXPECT_EQ(h.results[1].text, "");
    EXPECT_EQ(h.results[2].ordinal, 3);
    EXPECT_EQ(h.results[3].sheetName, "South");
    EXPECT_EQ(h.results[3].ordinal, 1);
    EXPECT_EQ(h.resultNumber, 5);
    // A worksheet's rows lie one after another in the one text they were composed in.
    const std::string_view first = h.results[0].text, third = h.results[2].text;
    EXPECT_EQ(third.data(), first.data() + first.size());
}

TEST(RowExport, BlankRowWithBlanksIncludedIsDividersOnly)
{
    Harness h;
    auto book = MakeWorkbook(kPath, { MemorySheet { "S", { { 1, 1, "a" }, { 2, 1, "" }, { 1, 3, "c" } } } });
    exporting::ExportRowToTextFile(h.context, book.get(), Options("\t", true, false), kPath, h.resultNumber);
    ASSERT_EQ(h.results.size(), 2u);
    EXPECT_EQ(h.results[1].text, "\t\t\r\n");
}

TEST(RowExport, SkippedEmptyLinesGiveNoEntryAndKeepTheOthersNumbers)
{
    // Row 2 and column B hold only blank cells: with empty lines skipped they give no
    // entry (so no file), blank cells kept or not, and the rest keep their ordinals.
    const MemorySheet sheet { "S", { { 1, 1, "a" }, { 2, 2, "" }, { 3, 3, "c" } } };
    for (const bool blanks : { false, true }) {
        auto options = Options(",", blanks, false);
        options.skipEmptyLines = true;
        Harness rows;
        auto book = MakeWorkbook(kPath, { sheet });
        exporting::ExportRowToTextFile(rows.context, book.get(), options, kPath, rows.resultNumber);
        ASSERT_EQ(rows.results.size(), 2u) << blanks;
        EXPECT_EQ(rows.results[0].ordinal, 1);
        EXPECT_EQ(rows.results[1].ordinal, 3);
        EXPECT_EQ(rows.results[1].text, blanks ? ",,c\r\n" : "c\r\n");
        Harness columns;
        book = MakeWorkbook(kPath, { sheet });
        exporting::ExportColumnToTextFile(columns.context, book.get(), options, kPath, columns.resultNumber);
        ASSERT_EQ(columns.results.size(), 2u) << blanks;
        EXPECT_EQ(columns.results[1].ordinal, 3);
    }
}

TEST(ColumnExport, EachColumnIsOneLineTopToBottom)
{
    Harness h;
    auto book = MakeWorkbook(kPath, { SheetFromRows("S", { { "a", "b", "c" }, { "d", "e", "f" } }, 1, 4) });
    exporting::ExportColumnToTextFile(h.context, book.get(), Options(",", true, false), kPath, h.resultNumber);
    ASSERT_EQ(h.results.size(), 3u);
    EXPECT_EQ(h.results[0].text, "a,d\r\n");
    EXPECT_EQ(h.results[1].text, "b,e\r\n");
    EXPECT_EQ(h.results[2].text, "c,f\r\n");
    EXPECT_EQ(h.results[0].ordinal, 1);
    EXPECT_EQ(h.results[2].ordinal, 3);
}

TEST(ColumnExport, BlankColumnSkippedGivesAnEmptyText)
{
    Harness h;
    auto book = MakeWorkbook(kPath, { MemorySheet { "S", { { 1, 1, "a" }, { 3, 3, "c" } } } });
    exporting::ExportColumnToTextFile(h.context, book.get(), Options(",", false, false), kPath, h.resultNumber);
    ASSERT_EQ(h.results.size(), 3u);
    EXPECT_EQ(h.results[1].text, "");
    EXPECT_EQ(h.results[2].text, "c\r\n");
}

TEST(ColumnExport, AThousandCellColumnIsOneLine)
{
    Harness h;
    MemorySheet sheet { "Tall", {} };
    for (int32_t r = 1; r <= 1000; ++r)
        sheet.cells.push_back({ r, 1, "v" });
    auto book = MakeWorkbook(kPath, { sheet });
    exporting::ExportColumnToTextFile(h.context, book.get(), Options(",", true, false), kPath, h.resultNumber);
    ASSERT_EQ(h.results.size(), 1u);
    EXPECT_EQ(h.results[0].text.size(), 1000u * 2 - 1 + 2);
    EXPECT_EQ(h.results[0].text.View().find('\r'), 1999u);
}

TEST(AllSheetsExport, NameLineRowsAndThreeEmptyLinesPerWorksheet)
{
    Harness h;
    auto book = MakeWorkbook(kPath,
        { SheetFromRows("Data", { { "a", "b" }, { "c", "d" } }), MemorySheet { "Notes", {} },
            MemorySheet { "Blank", { { 1, 1, "" }, { 2, 2, "" } } } });
    std::string text;
    exporting::ExportAllSheetsToTextFile(h.context, book.get(), Options(",", false, false), text);
    EXPECT_EQ(text,
        "Data\r\na,b\r\nc,d\r\n\r\n\r\n\r\n"
        "Notes\r\n\r\n\r\n\r\n"
        "Blank\r\n\r\n\r\n\r\n");
}

TEST(AllSheetsExport, FirstFailureEndsItKeepingWhatWasComposed)
{
    Harness h;
    MemorySheet broken = SheetFromRows("Broken", { { "a" } });
    broken.failsToLoad = true;
    auto book
        = MakeWorkbook(kPath, { SheetFromRows("First", { { "1" } }), broken, SheetFromRows("Never", { { "n" } }) });
    std::string text;
    EXPECT_THROW(exporting::ExportAllSheetsToTextFile(h.context, book.get(), Options(",", true, false), text),
        spreadsheet::SpreadsheetError);
    EXPECT_EQ(text, "First\r\n1\r\n\r\n\r\n\r\n");
}

TEST(ResultNames, StemComesFromTheFileNameAlone)
{
    EXPECT_EQ(exporting::ResultFileName("/data/my.dir/Book1.xlsx"), "Book1.txt");
    EXPECT_EQ(exporting::ResultFileName("/data/my.dir/book"), "book.txt");
    EXPECT_EQ(exporting::ResultFileName("sales.2015.xlsx"), "sales.2015.txt");
}

TEST(SheetExport, LongWorksheetsComposeEveryRowAcrossTheGrowthEstimate)
{
    // Rows grow longer further down, so the estimate taken early falls short.
    Harness h;
    MemorySheet sheet { "Long", {} };
    std::string expected;
    for (int32_t r = 1; r <= 5000; ++r) {
        const std::string text(static_cast<size_t>(r / 100 + 1), 'x');
        sheet.cells.push_back({ r, 1, text });
        expected += text + "\r\n";
    }
    auto book = MakeWorkbook(kPath, { sheet });
    exporting::ExportSheetToTextFile(h.context, book.get(), Options(",", true, false), kPath, h.resultNumber);
    ASSERT_EQ(h.results.size(), 1u);
    EXPECT_EQ(h.results[0].text, expected);
    std::string all;
    exporting::ExportAllSheetsToTextFile(h.context, book.get(), Options(",", true, false), all);
    EXPECT_EQ(all, "Long\r\n" + expected + "\r\n\r\n\r\n");
}

// Worksheets whose used range spans the grid from a few cells: with blank cells left
// out the walk visits only the recorded cells; with them kept it is refused up front,
// naming the workbook, the worksheet and the range.
namespace {

const std::string kCornersPath = "/data/corners.xlsx";

// Two cells at opposite corners of the grid: 17 billion cells as a rectangle.
MemorySheet Corners()
{
    return MemorySheet { "Corners", { { 1, 1, "a" }, { 1048576, 16384, "z" } } };
}

TEST(SparseWalk, BlankCellsLeftOutVisitOnlyTheRecordedCells)
{
    auto book = MakeWorkbook(kCornersPath, { Corners(), vt::SheetFromRows("Small", { { "1", "", "3" } }) });
    Harness h;
    exporting::ExportSheetToTextFile(h.context, book.get(), Options(",", false, false), kCornersPath, h.resultNumber);
    EXPECT_TRUE(h.reporter.reports.empty());
    ASSERT_EQ(h.results.size(), 2u);
    EXPECT_EQ(h.results[0].text, "a\r\nz\r\n");
    EXPECT_EQ(h.results[1].text, "1,3\r\n");
    EXPECT_LT(h.pump.calls, 3'000'000u); // per line and per recorded cell, not per position

    std::string all;
    exporting::ExportAllSheetsToTextFile(h.context, book.get(), Options(",", false, false), all);
    EXPECT_EQ(all, "Corners\r\na\r\nz\r\n\r\n\r\n\r\nSmall\r\n1,3\r\n\r\n\r\n\r\n");
}

TEST(SparseWalk, ColumnsTakeTheirCellsTopToBottomWhateverTheStoredOrder)
{
    MemorySheet sheet { "S", { { 1, 2, "b1" }, { 2, 1, "a2" }, { 3, 3, "c3" }, { 5, 1, "a5" }, { 4, 2, "" } } };
    auto book = MakeWorkbook(kCornersPath, { sheet });
    Harness h;
    exporting::ExportColumnToTextFile(h.context, book.get(), Options(";", false, false), kCornersPath, h.resultNumber);
    ASSERT_EQ(h.results.size(), 3u);
    EXPECT_EQ(h.results[0].text, "a2;a5\r\n");
    EXPECT_EQ(h.results[1].text, "b1\r\n");
    EXPECT_EQ(h.results[2].text, "c3\r\n");
    EXPECT_EQ(h.results[2].ordinal, 3);

    // Row entries keep one per row of the range, blank ones included.
    Harness rows;
    exporting::ExportRowToTextFile(
        rows.context, book.get(), Options(";", false, false), kCornersPath, rows.resultNumber);
    ASSERT_EQ(rows.results.size(), 5u);
    EXPECT_EQ(rows.results[0].text, "b1\r\n");
    EXPECT_EQ(rows.results[3].text, "");
    EXPECT_EQ(rows.results[4].text, "a5\r\n");
}

TEST(WorkBudget, AVastRangeWithBlanksKeptIsRefusedBeforeItIsBuilt)
{
    auto book = MakeWorkbook(kCornersPath, { Corners(), vt::SheetFromRows("Small", { { "1", "", "3" } }) }, 1536);
    Harness h;
    exporting::ExportSheetToTextFile(h.context, book.get(), Options(",", true, false), kCornersPath, h.resultNumber);
    ASSERT_EQ(h.reporter.reports.size(), 1u);
    EXPECT_EQ(h.reporter.reports[0].step, 108);
    const std::string& message = h.reporter.reports[0].description;
    for (const char* part : { "/data/corners.xlsx", "\"Corners\"", "A1:XFD1048576", "17,179,869,184 cells" })
        EXPECT_NE(message.find(part), std::string::npos) << part << " missing from: " << message;
    // The worksheet is passed over and the next one still exports.
    ASSERT_EQ(h.results.size(), 1u);
    EXPECT_EQ(h.results[0].text, "1,,3\r\n");

    std::string all;
    EXPECT_THROW(exporting::ExportAllSheetsToTextFile(h.context, book.get(), Options(",", true, false), all),
        spreadsheet::SpreadsheetError);
    EXPECT_EQ(all, ""); // refused before its name line, as an unreadable worksheet is
}

// Formatted blank cells out to the grid's corner: the used range is 17 billion cells, the
// values two rows of three columns.
MemorySheet ValuesOverAnEmptyGrid()
{
    return MemorySheet { "Styled", { { 1, 1, "a" }, { 2, 3, "c" }, { 1048576, 16384, "" } } };
}

TEST(WorkBudget, AUsedRangeRunningOnOverEmptyCellsIsCutAtItsLastValueWithAWarning)
{
    const auto options = Options(",", true, false);
    auto book = MakeWorkbook(kCornersPath, { ValuesOverAnEmptyGrid(), vt::SheetFromRows("Small", { { "1" } }) });
    Harness sheets;
    exporting::ExportSheetToTextFile(sheets.context, book.get(), options, kCornersPath, sheets.resultNumber);
    EXPECT_TRUE(sheets.reporter.reports.empty());
    ASSERT_EQ(sheets.results.size(), 2u);
    EXPECT_EQ(sheets.results[0].text, "a,,\r\n,,c\r\n");
    EXPECT_EQ(sheets.results[1].text, "1\r\n");
    ASSERT_EQ(book->Warnings().size(), 1u);
    const std::string& warning = book->Warnings()[0];
    for (const char* part :
        { "/data/corners.xlsx: ", "\"Styled\"", "exported as A1:C2", "A1:XFD1048576", "D1:XFD2 and A3:XFD1048576" })
        EXPECT_NE(warning.find(part), std::string::npos) << part << " missing from: " << warning;

    // Every mode walks the same cut range.
    Harness rows, columns;
    exporting::ExportRowToTextFile(rows.context, book.get(), options, kCornersPath, rows.resultNumber);
    ASSERT_EQ(rows.results.size(), 3u);
    EXPECT_EQ(rows.results[1].text, ",,c\r\n");
    exporting::ExportColumnToTextFile(columns.context, book.get(), options, kCornersPath, columns.resultNumber);
    ASSERT_EQ(columns.results.size(), 4u);
    EXPECT_EQ(columns.results[2].text, ",c\r\n");
    std::string all;
    exporting::ExportAllSheetsToTextFile(sheets.context, book.get(), options, all);
    EXPECT_EQ(all, "Styled\r\na,,\r\n,,c\r\n\r\n\r\n\r\nSmall\r\n1\r\n\r\n\r\n\r\n");
}

TEST(WorkBudget, AUsedRangeThatFitsIsWalkedWholeAndUnwarned)
{
    // Blank cells left out: the walk visits only the recorded cells, so nothing is cut and
    // the lines are as they always were.
    auto book = MakeWorkbook(kCornersPath, { ValuesOverAnEmptyGrid() });
    Harness h;
    exporting::ExportSheetToTextFile(h.context, book.get(), Options(",", false, false), kCornersPath, h.resultNumber);
    ASSERT_EQ(h.results.size(), 1u);
    EXPECT_EQ(h.results[0].text, "a\r\nc\r\n");
    EXPECT_TRUE(book->Warnings().empty());
    // A modest styled margin within the budget stays part of the walk.
    auto margin = MakeWorkbook(kCornersPath, { MemorySheet { "Margin", { { 1, 1, "a" }, { 3, 3, "" } } } });
    Harness kept;
    exporting::ExportSheetToTextFile(
        kept.context, margin.get(), Options(",", true, false), kCornersPath, kept.resultNumber);
    ASSERT_EQ(kept.results.size(), 1u);
    EXPECT_EQ(kept.results[0].text, "a,,\r\n,,\r\n,,\r\n");
    EXPECT_TRUE(margin->Warnings().empty());
}

TEST(WorkBudget, TheLeastTextCountsDividersAndQuotesEvenWhenCellsFit)
{
    // 26 by 500,000 cells fit the cell budget; a 100-byte divider makes the text alone
    // more than a gigabyte, so only a short divider or no kept blanks may go ahead.
    MemorySheet sheet { "Tall", { { 1, 1, "a" }, { 500000, 26, "z" } } };
    auto book = MakeWorkbook(kCornersPath, { sheet });
    Harness refused;
    exporting::ExportColumnToTextFile(
        refused.context, book.get(), Options(std::string(100, '-'), true, false), kCornersPath, refused.resultNumber);
    ASSERT_EQ(refused.reporter.reports.size(), 1u);
    EXPECT_NE(refused.reporter.reports[0].description.find("A1:Z500000"), std::string::npos);
    EXPECT_TRUE(refused.results.empty());

    Harness sparse;
    exporting::ExportColumnToTextFile(
        sparse.context, book.get(), Options(std::string(100, '-'), false, false), kCornersPath, sparse.resultNumber);
    EXPECT_TRUE(sparse.reporter.reports.empty());
    ASSERT_EQ(sparse.results.size(), 26u);
    EXPECT_EQ(sparse.results[25].text, "z\r\n");
}

} // namespace

TEST(WorkBudget, ATextIsRefusedBeforeItGrowsPastTheBudgetEvenWithinOneLine)
{
    // One row of 70 cells of 1 MiB makes a 70 MiB line; a workbook of 1 MiB may take
    // 128 MiB for its texts and the worksheet's stored cells, which leaves 58 MiB for the
    // text. The refusal names the workbook and worksheet, and what the all-sheets export
    // keeps never passed the budget: the line was not composed first.
    const std::vector<std::string> row(70, std::string(size_t { 1 } << 20, 'x'));
    auto book = MakeWorkbook(kPath, { SheetFromRows("Wide", { row }) }, uint64_t { 1 } << 20);
    Harness h;
    try {
        exporting::ExportSheetToTextFile(h.context, book.get(), Options(",", true, false), kPath, h.resultNumber);
        ADD_FAILURE() << "a text past the budget was composed";
    } catch (const spreadsheet::SpreadsheetError& error) {
        EXPECT_EQ(error.code(), spreadsheet::ErrorCode::TooLarge);
        const std::string message = error.what();
        for (const char* part : { "/data/my.dir/sales.2015.xlsx", "\"Wide\"", "grow past" })
            EXPECT_NE(message.find(part), std::string::npos) << part << " missing from: " << message;
    }
    EXPECT_TRUE(h.results.empty());

    std::string all;
    EXPECT_THROW(exporting::ExportAllSheetsToTextFile(h.context, book.get(), Options(",", true, false), all),
        spreadsheet::SpreadsheetError);
    EXPECT_GT(all.size(), size_t { 50 } << 20);
    EXPECT_LE(all.size(), size_t { 58 } << 20);
}
