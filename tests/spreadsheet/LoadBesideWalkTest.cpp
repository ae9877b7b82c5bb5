// Which worksheets load on a second thread while their rows are handed over: those
// whose load reads at least the threshold's bytes, those of unknown size, and none when
// loading beside is turned off.

#include "support/LoadBesideWalk.h"
#include "spreadsheet/Workbook.h"
#include "support/MemoryWorkbook.h"
#include "support/TempDir.h"
#include "support/XlsbWriter.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace vellumcast::spreadsheet {
namespace {

using testing::ScopedLoadBesideWalkThreshold;

struct HandOver {
    bool everyRow = false;
    size_t cells = 0;
};

HandOver LoadHandingOver(Worksheet& sheet)
{
    HandOver result;
    result.everyRow = sheet.VisitRowsWhileLoading([&](const RowBatch& rows) {
        result.cells += rows.EndCell() - (rows.RowCount() == 0 ? rows.EndCell() : rows.CellsBegin(0));
        return true;
    });
    return result;
}

std::unique_ptr<Workbook> SmallFixture()
{
    Application application;
    return application.Open(testing::Fixture("workbooks/date.xlsx"));
}

TEST(LoadBesideWalk, ASmallWorksheetLoadsBesideOnlyUnderALoweredThreshold)
{
    {
        auto book = SmallFixture();
        const HandOver byDefault = LoadHandingOver(book->Worksheets().front());
        EXPECT_FALSE(byDefault.everyRow);
        EXPECT_EQ(byDefault.cells, 0u);
        EXPECT_FALSE(book->Worksheets().front().Loaded());
    }
    ScopedLoadBesideWalkThreshold lowered(0);
    auto book = SmallFixture();
    Worksheet& sheet = book->Worksheets().front();
    const HandOver beside = LoadHandingOver(sheet);
    EXPECT_TRUE(beside.everyRow);
    EXPECT_GT(beside.cells, 0u);
    EXPECT_EQ(beside.cells, sheet.CellCount());
}

TEST(LoadBesideWalk, TurnedOffEvenAWorksheetOfUnknownSizeLoadsFirst)
{
    const auto sheet = testing::SheetFromRows("Data", { { "a", "b" }, { "c", "d" } });
    {
        auto book = testing::MakeWorkbook("/data/book.xlsx", { sheet });
        EXPECT_TRUE(LoadHandingOver(book->Worksheets().front()).everyRow);
    }
    ScopedLoadBesideWalkThreshold off(kNeverLoadBeside);
    auto book = testing::MakeWorkbook("/data/book.xlsx", { sheet });
    const HandOver handOver = LoadHandingOver(book->Worksheets().front());
    EXPECT_FALSE(handOver.everyRow);
    EXPECT_EQ(handOver.cells, 0u);
}

// A workbook of numbers under formats of every kind, in the 1904 date system, with a
// string under a text format, a Boolean and a number whose style the workbook lacks.
std::string NumbersUnderFormats()
{
    testing::XlsbWriter writer;
    writer.Date1904();
    const std::vector<uint32_t> styles { 0, writer.AddBuiltInStyle(14), writer.AddBuiltInStyle(22),
        writer.AddStyle("0.00%;[Red]-0.00%;\"zero\""), writer.AddStyle(";;;"), writer.AddStyle("# ?/?"),
        writer.AddStyle("[h]:mm:ss"), writer.AddStyle("0.0E+00"), writer.AddStyle("\"n=\"0;\"m=\"0;0;\"t:\"@") };
    auto& sheet = writer.AddSheet("Numbers");
    const double values[] = { 0, -1.5, 0.3333333333333, 45000.75, 1e15, -1e-7, 2958465.99, 123456789.125 };
    int row = 1;
    for (const double value : values) {
        int column = 1;
        for (const uint32_t style : styles)
            sheet.Number(row, column++, value, style);
        ++row;
    }
    sheet.SharedString(row, 1, "words", styles.back());
    sheet.Boolean(row, 2, true);
    sheet.Number(row, 3, 7.25, 999);
    return writer.Build();
}

TEST(LoadBesideWalk, NumbersShownWhileLoadingAreTheTextsTheLoadedSheetShowsAndNoOtherStyleSeesThem)
{
    ScopedLoadBesideWalkThreshold lowered(0);
    Application application;
    const std::string bytes = NumbersUnderFormats();
    auto loaded = application.OpenBytes(bytes, "loaded.xlsb");
    Worksheet& reference = loaded->Worksheets().front();
    for (const bool displayedOnly : { true, false }) {
        SCOPED_TRACE(displayedOnly ? "displayed texts only" : "any text");
        auto book = application.OpenBytes(bytes, "beside.xlsb");
        Worksheet& sheet = book->Worksheets().front();
        std::vector<std::tuple<int32_t, int32_t, std::string>> texts;
        size_t shown = 0, numbers = 0;
        const bool everyRow = sheet.VisitRowsWhileLoading(
            [&](const RowBatch& rows) {
                for (size_t r = 0; r < rows.RowCount(); ++r) {
                    for (size_t i = rows.CellsBegin(r); i < rows.CellsEnd(r); ++i) {
                        const Cell& cell = rows.CellAt(i);
                        shown += cell.kind == CellKind::DisplayedNumber;
                        numbers += cell.kind == CellKind::Number;
                        texts.emplace_back(rows.RowNumber(r), cell.column, sheet.TextOf(cell, rows));
                    }
                }
                return true;
            },
            displayedOnly);
        ASSERT_TRUE(everyRow);
        EXPECT_EQ(shown, displayedOnly ? 72u : 0u);
        EXPECT_EQ(numbers, displayedOnly ? 1u : 73u); // the style the workbook lacks is left to the walk
        EXPECT_EQ(texts.size(), reference.CellCount());
        for (const auto& [row, column, text] : texts)
            EXPECT_EQ(text, reference.CellText(row, column)) << "row " << row << ", column " << column;
        // The budget sees the sheet as it would with numbers left as numbers.
        EXPECT_EQ(sheet.StoredBytes(), reference.StoredBytes());
        // What stays loaded is read in other styles as recorded, numbers with their values.
        for (const CellTextStyle style : { CellTextStyle::Raw, CellTextStyle::IsoDates, CellTextStyle::Displayed }) {
            for (const auto& [row, column, text] : texts)
                EXPECT_EQ(sheet.CellText(row, column, style), reference.CellText(row, column, style))
                    << "row " << row << ", column " << column << ", style " << static_cast<int>(style);
        }
        const HeldRows held = sheet.HoldRows();
        for (size_t i = 0; i < held.Rows().EndCell(); ++i)
            EXPECT_NE(held.Rows().CellAt(i).kind, CellKind::DisplayedNumber);
    }
}

} // namespace
} // namespace vellumcast::spreadsheet
