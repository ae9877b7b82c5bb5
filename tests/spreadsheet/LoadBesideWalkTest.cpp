// Which worksheets load on a second thread while their rows are handed over: those
// whose load reads at least the threshold's bytes, those of unknown size, and none when
// loading beside is turned off.

#include "support/LoadBesideWalk.h"
#include "spreadsheet/Workbook.h"
#include "support/MemoryWorkbook.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

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

} // namespace
} // namespace vellumcast::spreadsheet
