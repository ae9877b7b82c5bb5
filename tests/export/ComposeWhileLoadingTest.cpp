// The exports compose their lines while the worksheet loads on a second thread.
// Whatever the shape of the sheet, the texts must be the ones the walk of the loaded
// worksheet gives: the same export on a worksheet loaded beforehand is the yardstick.
#include "export/ExportProcedures.h"
#include "support/ExportHarness.h"
#include "support/MemoryWorkbook.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

using namespace vellumcast;
namespace vt = vellumcast::testing;
using vt::MakeWorkbook;
using vt::MemorySheet;

namespace {

const std::string kPath = "/data/book.xlsx";

using Harness = vt::ExportHarness;

// Rows of ten cells, enough for several batches handed over during the load, with
// every tenth row empty and a gap of rows after row 100.
MemorySheet LargeSheet(int32_t rows)
{
    MemorySheet sheet { "Data", {} };
    for (int32_t row = 1; row <= rows; ++row) {
        if (row % 10 == 0)
            continue;
        const int32_t at = row > 100 ? row + 50 : row;
        for (int32_t column = 2; column <= 11; ++column)
            sheet.cells.push_back({ at, column, column == 5 ? "" : std::to_string(row * 100 + column) });
    }
    return sheet;
}

// The sheet with one more cell, in its place in row-major order.
MemorySheet With(MemorySheet sheet, vt::MemoryCell cell)
{
    const auto at = std::find_if(sheet.cells.begin(), sheet.cells.end(),
        [&](const vt::MemoryCell& c) { return c.row > cell.row || (c.row == cell.row && c.column > cell.column); });
    sheet.cells.insert(at, std::move(cell));
    return sheet;
}

struct Shape {
    std::string name;
    MemorySheet sheet;
};

// The plain sheet and its variants: a row far down reaching past the columns of the
// first rows or left of them, a row given after the rows below it, and a cell given
// twice (the last value is kept).
std::vector<Shape> Shapes(const MemorySheet& plain)
{
    MemorySheet unordered = plain;
    unordered.cells.push_back({ 10, 3, "back" });
    MemorySheet twice = plain;
    twice.cells.push_back({ 30050, 11, "again" });
    return { { "plain", plain }, { "wide late", With(plain, { 29000, 14, "late" }) },
        { "left late", With(plain, { 29001, 1, "left" }) }, { "unordered", unordered }, { "twice", twice } };
}

// Runs check(sheet, blankCells, quote) on every shape with blank cells kept or left out,
// quoted or not.
template <typename Check> void ForEveryShapeAndOption(const std::vector<Shape>& shapes, Check&& check)
{
    for (const Shape& shape : shapes) {
        for (const bool blankCells : { true, false }) {
            for (const bool quote : { false, true }) {
                SCOPED_TRACE(
                    shape.name + (blankCells ? ", blanks kept" : ", blanks left out") + (quote ? ", quoted" : ""));
                check(shape.sheet, blankCells, quote);
            }
        }
    }
}

std::string SheetText(const MemorySheet& sheet, const options::ExportOptions& options, Harness& h)
{
    auto book = MakeWorkbook(kPath, { sheet });
    exporting::ExportSheetToTextFile(h.context, book.get(), options, kPath, h.resultNumber);
    return h.results.empty() ? std::string("(none)") : h.results.back().text.Copy();
}

using LineExport = void (*)(
    exporting::ExportContext&, spreadsheet::Workbook*, const options::ExportOptions&, const std::string&, int64_t&);

// The entries of a row or column export; with loadFirst the worksheet is loaded
// beforehand, so the export walks it rather than composing while it loads.
exporting::ResultList LineEntries(
    LineExport lineExport, const MemorySheet& sheet, bool loadFirst, const options::ExportOptions& options)
{
    Harness h;
    auto book = MakeWorkbook(kPath, { sheet });
    if (loadFirst)
        book->Worksheets().front().UsedRange();
    lineExport(h.context, book.get(), options, kPath, h.resultNumber);
    EXPECT_TRUE(h.reporter.reports.empty());
    EXPECT_FALSE(h.progress.values.empty());
    return std::move(h.results);
}

std::string RowByRowText(const MemorySheet& sheet, const options::ExportOptions& options)
{
    Harness h;
    auto book = MakeWorkbook(kPath, { sheet });
    book->Worksheets().front().UsedRange();
    exporting::ExportRowToTextFile(h.context, book.get(), options, kPath, h.resultNumber);
    std::string text;
    for (const auto& entry : h.results)
        text += entry.text;
    return text;
}

options::ExportOptions Options(bool blankCells, bool quote)
{
    options::ExportOptions o;
    o.divider = "\t";
    o.includeBlankCells = blankCells;
    o.quoteCells = quote;
    return o;
}

} // namespace

TEST(ComposeWhileLoading, LargeSheetsOfEveryShapeGiveTheRowByRowText)
{
    // Several blocks of cells, let go of as they are read.
    ForEveryShapeAndOption(Shapes(LargeSheet(30000)), [](const MemorySheet& sheet, bool blankCells, bool quote) {
        Harness h;
        const std::string text = SheetText(sheet, Options(blankCells, quote), h);
        const std::string expected = RowByRowText(sheet, Options(blankCells, quote));
        const auto differ = std::mismatch(text.begin(), text.end(), expected.begin(), expected.end());
        EXPECT_EQ(text.size(), expected.size());
        EXPECT_TRUE(differ.first == text.end())
            << "first difference at byte " << (differ.first - text.begin()) << ": \""
            << text.substr(static_cast<size_t>(differ.first - text.begin()), 40) << "\"";
        EXPECT_TRUE(h.reporter.reports.empty());
        ASSERT_FALSE(h.progress.values.empty());
        EXPECT_DOUBLE_EQ(h.progress.values.back(), 100.0);
    });
}

// The row and column exports compose every line while the worksheet loads.
TEST(ComposeWhileLoading, LinesOfEveryShapeGiveTheWalksLines)
{
    for (const LineExport lineExport : { exporting::ExportRowToTextFile, exporting::ExportColumnToTextFile }) {
        SCOPED_TRACE(lineExport == exporting::ExportRowToTextFile ? "rows" : "columns");
        std::vector<Shape> shapes = Shapes(LargeSheet(30000));
        const auto plainLoads = shapes.front().sheet.loads = std::make_shared<int>(0);
        ForEveryShapeAndOption(shapes, [&](const MemorySheet& sheet, bool blankCells, bool quote) {
            const auto composed = LineEntries(lineExport, sheet, false, Options(blankCells, quote));
            const auto walked = LineEntries(lineExport, sheet, true, Options(blankCells, quote));
            ASSERT_EQ(composed.size(), walked.size());
            for (size_t i = 0; i < walked.size(); ++i) {
                EXPECT_EQ(composed[i].ordinal, walked[i].ordinal);
                EXPECT_EQ(composed[i].sheetName, walked[i].sheetName);
                EXPECT_TRUE(composed[i].text == walked[i].text) << "line " << walked[i].ordinal << " differs";
            }
        });
        // The plain sheet was read once each time: its lines were composed while it loaded.
        EXPECT_EQ(*plainLoads, 8);
    }
}

// Without a used range from the file, how far the reader has read tells how far the
// export is; with neither, only the end of the worksheet does.
TEST(ComposeWhileLoading, ProgressFollowsTheShareReadWhenTheFileGivesNoRange)
{
    MemorySheet sheet = LargeSheet(30000);
    for (const bool notesRead : { false, true }) {
        SCOPED_TRACE(notesRead ? "notes read" : "says nothing");
        sheet.notesRead = notesRead;
        Harness h;
        SheetText(sheet, Options(true, false), h);
        ASSERT_FALSE(h.progress.values.empty());
        EXPECT_TRUE(std::is_sorted(h.progress.values.begin(), h.progress.values.end()));
        EXPECT_DOUBLE_EQ(h.progress.values.back(), 100.0);
        // Told about every thousandth of the way (and when the estimate moves), not per row.
        EXPECT_LT(h.progress.values.size(), 30000u / 10);
        if (notesRead)
            EXPECT_LT(h.progress.values.front(), 10.0);
        else
            EXPECT_GT(h.progress.values.front(), 80.0);
    }
}

// A worksheet that must be loaded whole before its walk (merged areas filled) tells how
// far its load is, as the file's used range says, before the walk tells the rest: a long
// load does not keep the progress still and then end it all at once.
TEST(ComposeWhileLoading, ALoadBeforeTheWalkMovesTheProgressAsItGoes)
{
    MemorySheet sheet = LargeSheet(30000);
    sheet.claimed = { 1, 2, 30050, 11 };
    options::ExportOptions options = Options(true, false);
    options.fillMerged = true;
    Harness h;
    SheetText(sheet, options, h);
    const std::vector<double>& values = h.progress.values;
    ASSERT_FALSE(values.empty());
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    EXPECT_DOUBLE_EQ(values.back(), 100.0);
    // The load's shares (one per few thousand cells) take the first two thirds; the walk,
    // told every thousandth of its way, the last third.
    const auto loading = std::count_if(values.begin(), values.end(), [](double v) { return v < 66.0; });
    EXPECT_GE(loading, 10);
    EXPECT_LT(loading, std::count_if(values.begin(), values.end(), [](double v) { return v > 67.0; }));
}

// A row far down that reaches wider than the first rows makes the sheet's lines be
// composed a second time, unless the file said how wide it is; a file that claims too
// much costs that second time, never a wrong text. Every line and cell composed runs
// the pump once, which shows the work done.
TEST(ComposeWhileLoading, TheColumnsTheFileClaimsSpareASecondWalk)
{
    const MemorySheet plain = LargeSheet(30000);
    const struct {
        const char* name;
        spreadsheet::CellRange claimed;
    } cases[] = {
        { "no claim", { 0, 0, 0, 0 } },
        { "claimed rightly", { 1, 2, 30050, 14 } },
        { "claimed too wide", { 1, 1, 30050, 20 } },
    };
    size_t pumped[3] = {};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(cases[i].name);
        MemorySheet sheet = With(plain, { 29000, 14, "late" });
        sheet.claimed = cases[i].claimed;
        sheet.loads = std::make_shared<int>(0);
        Harness h;
        const std::string text = SheetText(sheet, Options(true, false), h);
        EXPECT_LE(*sheet.loads, 2);
        EXPECT_TRUE(text == RowByRowText(sheet, Options(true, false)));
        pumped[i] = h.pump.calls;
    }
    EXPECT_GT(pumped[0], pumped[1] * 3 / 2);
    EXPECT_GT(pumped[2], pumped[1] * 3 / 2);
}

TEST(ComposeWhileLoading, ASheetFailingPartWayIsReportedOnceAndReadOnce)
{
    MemorySheet broken = LargeSheet(8000);
    broken.cellsBeforeFailing = 60000; // after rows were handed over and composed
    broken.loads = std::make_shared<int>(0);
    Harness h;
    EXPECT_EQ(SheetText(broken, Options(true, false), h), "(none)");
    ASSERT_EQ(h.reporter.reports.size(), 1u);
    EXPECT_EQ(h.reporter.reports[0].step, 108);
    EXPECT_NE(h.reporter.reports[0].description.find("damaged"), std::string::npos);
    EXPECT_EQ(*broken.loads, 1);
}

TEST(ComposeWhileLoading, AllSheetsKeepsNothingOfASheetFailingPartWay)
{
    MemorySheet broken = LargeSheet(8000);
    broken.name = "Broken";
    broken.cellsBeforeFailing = 60000;
    auto book = MakeWorkbook(kPath, { vt::SheetFromRows("First", { { "1" } }), broken });
    Harness h;
    std::string text;
    EXPECT_THROW(exporting::ExportAllSheetsToTextFile(h.context, book.get(), Options(true, false), text),
        spreadsheet::SpreadsheetError);
    EXPECT_EQ(text, "First\r\n1\r\n\r\n\r\n\r\n");
}

// A sink that holds little, so texts are handed over as they are composed, and whose
// hand-over fails from its failAt-th piece on, as a temporary file on a full disk does.
class FullDiskSink final : public exporting::ResultSink {
public:
    explicit FullDiskSink(size_t failAt)
        : m_failAt(failAt)
    {
    }
    void Begin(const exporting::ResultEntry&) override { }
    using ResultSink::Write;
    void Write(std::string_view) override
    {
        if (++appends >= m_failAt)
            throw std::runtime_error("Cannot hold the texts in a temporary file: No space left on device");
    }
    void Cut(uint64_t) override { }
    void Commit() override { }
    void CommitCutShort() override { }
    void Abandon() override { }
    exporting::SinkMark Mark() const override { return {}; }
    void RollBack(const exporting::SinkMark&) override { }
    size_t HoldLimit() const override { return 4096; }

    size_t appends = 0;

private:
    size_t m_failAt;
};

TEST(ComposeWhileLoading, ATextThatCannotBeHandedOverFailsItsWorksheetWithoutASecondWalk)
{
    // The failure ends the export, for the run to report: a walk of the loaded worksheet
    // would only meet it again, after composing the text anew.
    for (const bool eachSheet : { true, false }) {
        SCOPED_TRACE(eachSheet ? "each sheet" : "each row");
        MemorySheet sheet = LargeSheet(8000);
        sheet.loads = std::make_shared<int>(0);
        auto book = MakeWorkbook(kPath, { sheet });
        Harness h;
        FullDiskSink sink(5);
        exporting::ExportContext context { h.reporter, h.pump, h.progress, sink };
        const options::ExportOptions options = Options(true, false);
        try {
            if (eachSheet)
                exporting::ExportSheetToTextFile(context, book.get(), options, kPath, h.resultNumber);
            else
                exporting::ExportRowToTextFile(context, book.get(), options, kPath, h.resultNumber);
            ADD_FAILURE() << "the failure to hand the text over was not passed on";
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find("No space left on device"), std::string::npos) << error.what();
        }
        EXPECT_EQ(sink.appends, 5u);
        EXPECT_EQ(*sheet.loads, 1);
    }
}
