// Worksheets whose used range spans the grid from a few cells: with blank cells left
// out the walk visits only the recorded cells; with them kept it is refused up front,
// naming the workbook, the worksheet and the range.
#include "export/ExportProcedures.h"
#include "support/MemoryWorkbook.h"
#include "support/RecordingPorts.h"

#include <gtest/gtest.h>

using namespace vellumcast;
namespace vt = vellumcast::testing;
using exporting::ExportContext;
using exporting::ResultList;
using vt::MakeWorkbook;
using vt::MemorySheet;

namespace {

options::ExportOptions Options(std::string divider, bool includeBlank, bool quote = false)
{
    options::ExportOptions o;
    o.divider = std::move(divider);
    o.includeBlankCells = includeBlank;
    o.quoteCells = quote;
    return o;
}

struct Harness {
    vt::RecordingReporter reporter;
    vt::CountingPump pump;
    vt::RecordingProgress progress;
    ResultList results;
    ExportContext context { reporter, pump, progress, results };
    int64_t resultNumber = 1;
};

const std::string kPath = "/data/corners.xlsx";

// Two cells at opposite corners of the grid: 17 billion cells as a rectangle.
MemorySheet Corners()
{
    return MemorySheet { "Corners", { { 1, 1, "a" }, { 1048576, 16384, "z" } } };
}

TEST(SparseWalk, BlankCellsLeftOutVisitOnlyTheRecordedCells)
{
    auto book = MakeWorkbook(kPath, { Corners(), vt::SheetFromRows("Small", { { "1", "", "3" } }) });
    Harness h;
    exporting::ExportSheetToTextFile(h.context, book.get(), Options(",", false), kPath, h.resultNumber);
    EXPECT_TRUE(h.reporter.reports.empty());
    ASSERT_EQ(h.results.size(), 2u);
    EXPECT_EQ(h.results[0].text, "a\r\nz\r\n");
    EXPECT_EQ(h.results[1].text, "1,3\r\n");
    EXPECT_LT(h.pump.calls, 3'000'000u); // per line and per recorded cell, not per position

    std::string all;
    exporting::ExportAllSheetsToTextFile(h.context, book.get(), Options(",", false), all);
    EXPECT_EQ(all, "Corners\r\na\r\nz\r\n\r\n\r\n\r\nSmall\r\n1,3\r\n\r\n\r\n\r\n");
}

TEST(SparseWalk, ColumnsTakeTheirCellsTopToBottomWhateverTheStoredOrder)
{
    MemorySheet sheet { "S", { { 1, 2, "b1" }, { 2, 1, "a2" }, { 3, 3, "c3" }, { 5, 1, "a5" }, { 4, 2, "" } } };
    auto book = MakeWorkbook(kPath, { sheet });
    Harness h;
    exporting::ExportColumnToTextFile(h.context, book.get(), Options(";", false), kPath, h.resultNumber);
    ASSERT_EQ(h.results.size(), 3u);
    EXPECT_EQ(h.results[0].text, "a2;a5\r\n");
    EXPECT_EQ(h.results[1].text, "b1\r\n");
    EXPECT_EQ(h.results[2].text, "c3\r\n");
    EXPECT_EQ(h.results[2].ordinal, "3");

    // Row entries keep one per row of the range, blank ones included.
    Harness rows;
    exporting::ExportRowToTextFile(rows.context, book.get(), Options(";", false), kPath, rows.resultNumber);
    ASSERT_EQ(rows.results.size(), 5u);
    EXPECT_EQ(rows.results[0].text, "b1\r\n");
    EXPECT_EQ(rows.results[3].text, "empty file");
    EXPECT_EQ(rows.results[4].text, "a5\r\n");
}

TEST(WorkBudget, AVastRangeWithBlanksKeptIsRefusedBeforeItIsBuilt)
{
    auto book = MakeWorkbook(kPath, { Corners(), vt::SheetFromRows("Small", { { "1", "", "3" } }) }, 1536);
    Harness h;
    exporting::ExportSheetToTextFile(h.context, book.get(), Options(",", true), kPath, h.resultNumber);
    ASSERT_EQ(h.reporter.reports.size(), 1u);
    EXPECT_EQ(h.reporter.reports[0].step, 108);
    const std::string& message = h.reporter.reports[0].description;
    for (const char* part : { "/data/corners.xlsx", "\"Corners\"", "A1:XFD1048576", "17179869184 cells" })
        EXPECT_NE(message.find(part), std::string::npos) << part << " missing from: " << message;
    // The worksheet is passed over and the next one still exports.
    ASSERT_EQ(h.results.size(), 1u);
    EXPECT_EQ(h.results[0].text, "1,,3\r\n");

    std::string all;
    EXPECT_THROW(exporting::ExportAllSheetsToTextFile(h.context, book.get(), Options(",", true), all),
        spreadsheet::SpreadsheetError);
    EXPECT_EQ(all, ""); // refused before its name line, as an unreadable worksheet is
}

TEST(WorkBudget, TheLeastTextCountsDividersAndQuotesEvenWhenCellsFit)
{
    // 26 by 500,000 cells fit the cell budget; a 100-byte divider makes the text alone
    // more than a gigabyte, so only a short divider or no kept blanks may go ahead.
    MemorySheet sheet { "Tall", { { 1, 1, "a" }, { 500000, 26, "z" } } };
    auto book = MakeWorkbook(kPath, { sheet });
    Harness refused;
    exporting::ExportColumnToTextFile(
        refused.context, book.get(), Options(std::string(100, '-'), true), kPath, refused.resultNumber);
    ASSERT_EQ(refused.reporter.reports.size(), 1u);
    EXPECT_NE(refused.reporter.reports[0].description.find("A1:Z500000"), std::string::npos);
    EXPECT_TRUE(refused.results.empty());

    Harness sparse;
    exporting::ExportColumnToTextFile(
        sparse.context, book.get(), Options(std::string(100, '-'), false), kPath, sparse.resultNumber);
    EXPECT_TRUE(sparse.reporter.reports.empty());
    ASSERT_EQ(sparse.results.size(), 26u);
    EXPECT_EQ(sparse.results[25].text, "z\r\n");
}

} // namespace
