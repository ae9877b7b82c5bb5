#include "spreadsheet/SheetData.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

using namespace vellumcast::spreadsheet;

namespace {

double NumberAt(const SheetData& data, int32_t row, int32_t column)
{
    const Cell* cell = data.Find(row, column);
    return cell && cell->kind == CellKind::Number ? cell->value.number : -1;
}

} // namespace

TEST(SheetBuilder, OrderedCellsGiveTheirBoundingBox)
{
    SheetData data;
    SheetBuilder builder(data);
    builder.AddNumber(3, 4, 1, 0);
    builder.AddBlank(3, 7, 5);
    builder.AddString(9, 3, "text", 0);
    builder.Finish();
    const CellRange range = data.UsedRange();
    EXPECT_EQ(range.firstRow, 3);
    EXPECT_EQ(range.firstColumn, 3);
    EXPECT_EQ(range.lastRow, 9);
    EXPECT_EQ(range.lastColumn, 7);
    EXPECT_EQ(data.TextOf(*data.Find(9, 3)), "text");
    EXPECT_EQ(data.Find(3, 5), nullptr);
    EXPECT_EQ(data.Find(3, 3), nullptr);
    EXPECT_EQ(data.Find(4, 4), nullptr);
    EXPECT_EQ(data.Find(9, 4), nullptr);
}

TEST(SheetBuilder, NoCellsIsTheSingleCellA1)
{
    SheetData data;
    SheetBuilder builder(data);
    builder.Finish();
    const CellRange range = data.UsedRange();
    EXPECT_EQ(range.firstRow, 1);
    EXPECT_EQ(range.lastRow, 1);
    EXPECT_EQ(range.firstColumn, 1);
    EXPECT_EQ(range.lastColumn, 1);
    EXPECT_EQ(data.Find(1, 1), nullptr);
}

TEST(SheetBuilder, CellsOutOfOrderAreSortedAndTheLastOfTwinsWins)
{
    SheetData data;
    SheetBuilder builder(data);
    builder.AddNumber(5, 2, 52, 0);
    builder.AddNumber(2, 9, 29, 0);
    builder.AddNumber(5, 1, 51, 0);
    builder.AddNumber(2, 9, 290, 0); // the same cell again
    builder.AddNumber(7, 3, 73, 0);
    builder.Finish();
    EXPECT_EQ(data.CellCount(), 4u);
    EXPECT_EQ(NumberAt(data, 2, 9), 290);
    EXPECT_EQ(NumberAt(data, 5, 1), 51);
    EXPECT_EQ(NumberAt(data, 5, 2), 52);
    EXPECT_EQ(NumberAt(data, 7, 3), 73);
    const CellRange range = data.UsedRange();
    EXPECT_EQ(range.firstRow, 2);
    EXPECT_EQ(range.firstColumn, 1);
    EXPECT_EQ(range.lastColumn, 9);
}

TEST(SheetBuilder, ManyCellsAcrossStorageBlocksStayAddressable)
{
    SheetData data;
    size_t yields = 0;
    SheetBuilder builder(data, [&] { ++yields; });
    for (int32_t row = 1; row <= 30000; ++row)
        for (int32_t column = 1; column <= 7; column += 2)
            builder.AddNumber(row, column, row * 100 + column, 0);
    builder.Finish();
    EXPECT_EQ(data.CellCount(), 120000u);
    EXPECT_GT(yields, 20u);
    // Sequential and random look-ups alike.
    for (int32_t row : { 1, 16384, 16385, 29999, 30000, 7 })
        EXPECT_EQ(NumberAt(data, row, 7), row * 100 + 7) << row;
    EXPECT_EQ(data.Find(16384, 2), nullptr);
    EXPECT_EQ(data.Find(30001, 1), nullptr);
}

TEST(SheetBuilder, CoordinatesOutsideTheSheetAreRefused)
{
    SheetData data;
    SheetBuilder builder(data);
    EXPECT_THROW(builder.AddNumber(0, 1, 1, 0), SpreadsheetError);
    EXPECT_THROW(builder.AddNumber(kMaxRows + 1, 1, 1, 0), SpreadsheetError);
    EXPECT_THROW(builder.AddNumber(1, kMaxColumns + 1, 1, 0), SpreadsheetError);
    builder.AddNumber(kMaxRows, kMaxColumns, 1, 0);
    builder.Finish();
    EXPECT_EQ(data.UsedRange().lastColumn, kMaxColumns);
}

TEST(SheetBuilder, SharedAndStoredTextsReadBackAlikeLoadedOrHandedOver)
{
    // Texts in the reader's own buffer and texts copied to the pool share one offset
    // space; rows handed over during the load must read both as the finished sheet does.
    auto file = std::make_shared<const std::string>("alpha,beta");
    const std::string_view text(*file);
    SheetData data;
    SheetBuilder builder(data);
    builder.ShareText(file, text);
    std::vector<FinishedRows> batches;
    builder.PublishTo([&](FinishedRows&& rows) {
        batches.push_back(std::move(rows));
        return true;
    });
    builder.AddSharedText(1, 1, text.substr(6, 4), 0);
    builder.AddString(1, 2, "copied", 0);
    builder.AddSharedText(2, 1, text.substr(0, 5), 0);
    builder.PublishRest();
    builder.Finish();
    file.reset(); // the sheet keeps the text alive
    EXPECT_EQ(data.TextOf(*data.Find(1, 1)), "beta");
    EXPECT_EQ(data.TextOf(*data.Find(1, 2)), "copied");
    EXPECT_EQ(data.TextOf(*data.Find(2, 1)), "alpha");
    std::vector<std::string> handedOver;
    for (const FinishedRows& batch : batches) {
        const RowBatch rows = batch.View();
        for (size_t i = rows.CellsBegin(0); i < rows.EndCell(); ++i)
            handedOver.emplace_back(rows.StoredText(rows.CellAt(i)));
    }
    EXPECT_EQ(handedOver, (std::vector<std::string> { "beta", "copied", "alpha" }));
}

TEST(CellErrors, TextsRoundTrip)
{
    for (auto error : { CellError::Null, CellError::Div0, CellError::Value, CellError::Ref, CellError::Name,
             CellError::Num, CellError::NA, CellError::GettingData }) {
        CellError back = CellError::Null;
        ASSERT_TRUE(CellErrorFromText(CellErrorText(error), back));
        EXPECT_EQ(back, error);
    }
    CellError ignored;
    EXPECT_FALSE(CellErrorFromText("#WHAT?", ignored));
    EXPECT_EQ(CellErrorText(CellError::Div0), "#DIV/0!");
}

// Rows handed over while loading are read a few batches behind, as the export does;
// the memory of cells, rows and texts read is reused, never that of those still to be
// read, and the used range still starts at the first row let go of.
TEST(SheetBuilder, HandedOverRowsStayReadableUntilTheReaderIsDoneWithThem)
{
    constexpr int32_t kFirstRow = 3, kRows = 60000, kColumns = 9; // several blocks of cells
    size_t storedBytes[2] = {};
    for (const bool readerLetsGo : { false, true }) {
        SCOPED_TRACE(readerLetsGo ? "reader lets go" : "reader keeps all");
        SheetData data;
        SheetBuilder builder(data);
        std::deque<FinishedRows> waiting;
        int32_t nextRow = kFirstRow;
        size_t batches = 0;
        const auto read = [&](const FinishedRows& batch) {
            const RowBatch rows = batch.View();
            for (size_t r = 0; r < rows.RowCount(); ++r, ++nextRow) {
                ASSERT_EQ(rows.RowNumber(r), nextRow);
                ASSERT_EQ(rows.CellsEnd(r) - rows.CellsBegin(r), size_t { kColumns });
                for (size_t i = rows.CellsBegin(r); i < rows.CellsEnd(r); ++i) {
                    const Cell& cell = rows.CellAt(i);
                    if (cell.column == 2)
                        ASSERT_EQ(rows.StoredText(cell), "r" + std::to_string(nextRow));
                    else
                        ASSERT_EQ(cell.value.number, nextRow * 100.0 + cell.column);
                }
            }
            if (readerLetsGo)
                builder.DoneWith(rows.EndCell());
        };
        builder.PublishTo([&](FinishedRows&& rows) {
            waiting.push_back(std::move(rows));
            ++batches;
            if (waiting.size() > 6) {
                read(waiting.front());
                waiting.pop_front();
            }
            return true;
        });
        for (int32_t row = kFirstRow; row < kFirstRow + kRows; ++row) {
            // A stored text in the first column: the pool of texts is let go of too.
            builder.AddString(row, 2, "r" + std::to_string(row), 0);
            for (int32_t column = 3; column <= kColumns + 1; ++column)
                builder.AddNumber(row, column, row * 100.0 + column, 0);
        }
        builder.PublishRest();
        for (; !waiting.empty(); waiting.pop_front())
            read(waiting.front());
        builder.Finish();
        EXPECT_GT(batches, 10u);
        EXPECT_EQ(nextRow, kFirstRow + kRows);
        EXPECT_EQ(data.ReadThrough(), readerLetsGo);
        EXPECT_EQ(data.CellCount(), size_t { kRows } * kColumns);
        const CellRange range = data.UsedRange();
        EXPECT_EQ(range.firstRow, kFirstRow);
        EXPECT_EQ(range.lastRow, kFirstRow + kRows - 1);
        EXPECT_EQ(range.firstColumn, 2);
        EXPECT_EQ(range.lastColumn, kColumns + 1);
        storedBytes[readerLetsGo] = data.StoredBytes();
    }
    // What the load took is counted alike, whatever was let go of since.
    EXPECT_EQ(storedBytes[true], storedBytes[false]);
}

// Cells after the last one of their row, or starting the next row, take a shorter way in
// than any other; what holds for every cell must hold for them too.
TEST(SheetBuilder, TheMemoryLimitStopsTheCellThatWouldPassIt)
{
    for (const size_t textEvery : { size_t { 0 }, size_t { 1 }, size_t { 7 } }) {
        for (const uint64_t limit : { uint64_t { 1000 }, uint64_t { 70000 }, uint64_t { 1 } << 20 }) {
            SCOPED_TRACE("a text every " + std::to_string(textEvery) + " cells, limit " + std::to_string(limit));
            SheetData data;
            SheetBuilder builder(data);
            builder.LimitMemory(limit);
            size_t added = 0;
            const std::string text(37, 't');
            bool refused = false;
            for (int32_t row = 1; !refused && row <= 100000; ++row) {
                for (int32_t column = 1; column <= 10; ++column) {
                    const bool withText = textEvery != 0 && added % textEvery == 0;
                    try {
                        if (withText)
                            builder.AddString(row, column, text, 0);
                        else
                            builder.AddNumber(row, column, 1, 0);
                    } catch (const SpreadsheetError& error) {
                        EXPECT_EQ(error.code(), ErrorCode::TooLarge);
                        // Refused only when the cell would not have fitted.
                        EXPECT_GT(data.StoredBytes() + sizeof(Cell) + (withText ? text.size() : 0), limit);
                        refused = true;
                        break;
                    }
                    ++added;
                    ASSERT_LE(data.StoredBytes(), limit);
                }
            }
            EXPECT_TRUE(refused);
            EXPECT_EQ(data.CellCount(), added);
        }
    }
}

TEST(SheetBuilder, YieldRunsOnceEveryFewThousandCellsInOrderOrNot)
{
    for (const bool ordered : { true, false }) {
        SCOPED_TRACE(ordered ? "in order" : "out of order");
        SheetData data;
        size_t yields = 0;
        SheetBuilder builder(data, [&] { ++yields; });
        constexpr int32_t kRows = 5000, kColumns = 9;
        for (int32_t row = 1; row <= kRows; ++row) {
            builder.AddString(ordered ? row : kRows + 1 - row, 1, "first", 0);
            for (int32_t column = 2; column <= kColumns; ++column)
                builder.AddNumber(ordered ? row : kRows + 1 - row, column, column, 0);
        }
        builder.Finish();
        EXPECT_EQ(yields, size_t { kRows } * kColumns / SheetBuilder::kYieldEvery);
        EXPECT_EQ(data.CellCount(), size_t { kRows } * kColumns);
    }
}

TEST(SheetBuilder, CellsBreakingARunInOrderAreSortedAndOutsideOnesRefused)
{
    struct Step {
        int32_t row, column;
    };
    const struct {
        const char* what;
        std::vector<Step> steps;
        std::vector<std::pair<int32_t, int32_t>> kept; // (row, column) in order, each holding its last value
    } cases[] = {
        { "a column again in its row", { { 1, 1 }, { 1, 2 }, { 1, 3 }, { 1, 2 }, { 1, 4 } },
            { { 1, 1 }, { 1, 2 }, { 1, 3 }, { 1, 4 } } },
        { "an earlier column in its row", { { 2, 3 }, { 2, 5 }, { 2, 1 }, { 3, 1 } },
            { { 2, 1 }, { 2, 3 }, { 2, 5 }, { 3, 1 } } },
        { "an earlier row", { { 4, 1 }, { 4, 2 }, { 5, 1 }, { 5, 2 }, { 4, 3 }, { 6, 1 } },
            { { 4, 1 }, { 4, 2 }, { 4, 3 }, { 5, 1 }, { 5, 2 }, { 6, 1 } } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SheetData data;
        SheetBuilder builder(data);
        for (size_t i = 0; i < c.steps.size(); ++i)
            builder.AddNumber(c.steps[i].row, c.steps[i].column, static_cast<double>(i), 0);
        builder.Finish();
        std::vector<std::pair<int32_t, int32_t>> kept;
        for (size_t r = 0; r < data.Rows().size(); ++r) {
            const size_t end = r + 1 < data.Rows().size() ? data.Rows()[r + 1].begin : data.CellCount();
            for (size_t i = data.Rows()[r].begin; i < end; ++i)
                kept.emplace_back(data.Rows()[r].row, data.CellAt(i).column);
        }
        EXPECT_EQ(kept, c.kept);
        // Each cell holds the value given last for its place.
        for (size_t i = 0; i < c.steps.size(); ++i) {
            size_t last = i;
            for (size_t j = i + 1; j < c.steps.size(); ++j)
                if (c.steps[j].row == c.steps[i].row && c.steps[j].column == c.steps[i].column)
                    last = j;
            EXPECT_EQ(NumberAt(data, c.steps[i].row, c.steps[i].column), static_cast<double>(last));
        }
    }

    // Places outside the sheet are refused however the cells before them came.
    for (const Step outside : { Step { 2, 0 }, Step { kMaxRows + 1, 1 }, Step { 1, kMaxColumns + 1 }, Step { 0, 5 } }) {
        SheetData data;
        SheetBuilder builder(data);
        builder.AddNumber(1, 1, 1, 0);
        builder.AddNumber(1, 2, 2, 0);
        EXPECT_THROW(builder.AddNumber(outside.row, outside.column, 3, 0), SpreadsheetError)
            << outside.row << ", " << outside.column;
        builder.Finish();
        EXPECT_EQ(data.CellCount(), 2u);
    }
}

// Numbers shown as text while loading take room of their own: the sheet's limit refuses
// the very cell it refuses when they stay numbers, and past the texts' own bound the
// numbers stay numbers (what they read back as is checked below).
TEST(SheetBuilder, NumbersShownTakeRoomOfTheirOwnAndStayNumbersPastIt)
{
    const numfmt::NumberFormat padded = numfmt::NumberFormat::Parse("\"a long literal that pads every number\" 0.00");
    const numfmt::NumberFormat general;
    const std::vector<const numfmt::NumberFormat*> formats { &general, &padded };
    for (const uint64_t limit : { uint64_t { 1000 }, uint64_t { 70000 }, uint64_t { 1 } << 20 }) {
        SCOPED_TRACE("limit " + std::to_string(limit));
        size_t added[2] = { 0, 0 };
        for (const bool shown : { false, true }) {
            SheetData data;
            SheetBuilder builder(data);
            builder.LimitMemory(limit);
            if (shown)
                builder.ShowNumbers(formats, numfmt::DateSystem::Date1900);
            try {
                for (int32_t row = 1; row <= 100000; ++row) {
                    for (int32_t column = 1; column <= 10; ++column) {
                        builder.AddNumber(row, column, row + column / 8.0, column % 2);
                        ++added[shown];
                    }
                }
            } catch (const SpreadsheetError& error) {
                EXPECT_EQ(error.code(), ErrorCode::TooLarge);
            }
            EXPECT_EQ(data.NumbersShown(), shown);
            EXPECT_LE(data.StoredBytes(), limit);
            EXPECT_LE(data.ShownBytes(), limit);
            size_t asText = 0;
            for (size_t i = 0; i < data.CellCount(); ++i)
                asText += data.CellAt(i).kind == CellKind::DisplayedNumber;
            EXPECT_EQ(asText > 0, shown);
            EXPECT_LT(asText, data.CellCount());
        }
        EXPECT_EQ(added[true], added[false]);
    }
}

// A load may turn showing numbers off and on as it publishes rows, in the middle of adding
// a cell: every cell still reads back, as its text or as its number, in its place.
TEST(SheetBuilder, NumbersShownOnAndOffBetweenBatchesReadBackInTheirPlaces)
{
    const numfmt::NumberFormat fixed = numfmt::NumberFormat::Parse("0.000");
    const std::vector<const numfmt::NumberFormat*> formats { &fixed };
    SheetData data;
    SheetBuilder builder(data);
    builder.ShowNumbers(formats, numfmt::DateSystem::Date1900);
    std::vector<FinishedRows> batches;
    builder.PublishTo([&](FinishedRows&& rows) {
        batches.push_back(std::move(rows));
        builder.ShowingNumbers(batches.size() % 2 == 0);
        return true;
    });
    constexpr int32_t kRows = 40000, kColumns = 5;
    for (int32_t row = 1; row <= kRows; ++row) {
        for (int32_t column = 1; column <= kColumns; ++column)
            builder.AddNumber(row, column, row + column / 1000.0, 0);
    }
    builder.PublishRest();
    builder.Finish();
    ASSERT_GT(batches.size(), 4u);
    size_t kinds[2] = { 0, 0 };
    int32_t nextRow = 1;
    for (const FinishedRows& batch : batches) {
        const RowBatch rows = batch.View();
        for (size_t r = 0; r < rows.RowCount(); ++r, ++nextRow) {
            ASSERT_EQ(rows.RowNumber(r), nextRow);
            for (size_t i = rows.CellsBegin(r); i < rows.CellsEnd(r); ++i) {
                const Cell& cell = rows.CellAt(i);
                const double value = nextRow + cell.column / 1000.0;
                std::string expected;
                fixed.Format(value, numfmt::DateSystem::Date1900, expected);
                ++kinds[cell.kind == CellKind::DisplayedNumber];
                if (cell.kind == CellKind::DisplayedNumber)
                    ASSERT_EQ(rows.StoredText(cell), expected) << "row " << nextRow;
                else
                    ASSERT_EQ(cell.value.number, value) << "row " << nextRow;
            }
        }
        // What a batch counts of the sheet leaves out the texts shown, whichever they are.
        EXPECT_EQ(rows.StoredBytes(), rows.EndCell() * sizeof(Cell));
    }
    EXPECT_EQ(nextRow, kRows + 1);
    EXPECT_GT(kinds[0], 0u);
    EXPECT_GT(kinds[1], 0u);
    EXPECT_EQ(data.StoredBytes(), data.CellCount() * sizeof(Cell));
}
