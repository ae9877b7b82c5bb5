// A cell's text in each style: raw values of every kind of cell, and which cells the ISO
// dates style takes raw.
#include "spreadsheet/CellValues.h"

#include <gtest/gtest.h>

#include <string>

using namespace vellumcast::spreadsheet;
using vellumcast::spreadsheet::numfmt::DateSystem;
using vellumcast::spreadsheet::numfmt::NumberFormat;

namespace {

Cell NumberCell(double value)
{
    Cell cell;
    cell.kind = CellKind::Number;
    cell.value.number = value;
    return cell;
}

Cell KindCell(CellKind kind)
{
    Cell cell;
    cell.kind = kind;
    cell.value.number = 0;
    return cell;
}

TEST(RawCellText, EveryKindOfCell)
{
    const NumberFormat general;
    const NumberFormat date = NumberFormat::Parse("m/d/yyyy");
    const NumberFormat text = NumberFormat::Parse("\"Total: \"@");
    std::string scratch;
    auto raw = [&](const Cell& cell, const NumberFormat& format, std::string_view stored = {}) {
        return std::string(RawCellText(cell, stored, format, DateSystem::Date1900, scratch));
    };
    EXPECT_EQ(raw(NumberCell(0.1 + 0.2), general), "0.30000000000000004");
    EXPECT_EQ(raw(NumberCell(-0.0), NumberFormat::Parse("0.00")), "0");
    EXPECT_EQ(raw(NumberCell(46365), date), "2026-12-09");
    EXPECT_EQ(raw(NumberCell(-3), date), "-3");
    // A string is written as stored, whatever its format's text section adds.
    EXPECT_EQ(raw(KindCell(CellKind::String), text, "north"), "north");
    EXPECT_EQ(raw(KindCell(CellKind::SharedString), date, "07/08/2026"), "07/08/2026");
    EXPECT_EQ(raw(KindCell(CellKind::Blank), date), "");
    Cell yes = KindCell(CellKind::Boolean);
    yes.value.number = 1;
    EXPECT_EQ(raw(yes, general), "TRUE");
    EXPECT_EQ(raw(KindCell(CellKind::Boolean), date), "FALSE");
    const struct {
        CellError error;
        const char* code;
    } errors[] = { { CellError::NA, "#N/A" }, { CellError::Div0, "#DIV/0!" }, { CellError::Value, "#VALUE!" },
        { CellError::Ref, "#REF!" }, { CellError::Name, "#NAME?" }, { CellError::Num, "#NUM!" },
        { CellError::Null, "#NULL!" } };
    for (const auto& e : errors) {
        Cell cell = KindCell(CellKind::Error);
        cell.errorCode = e.error;
        EXPECT_EQ(raw(cell, date), e.code);
    }
}

TEST(RawCellText, TheDateSystemOfTheWorkbookApplies)
{
    std::string scratch;
    const NumberFormat date = NumberFormat::Parse("yyyy-mm-dd h:mm");
    EXPECT_EQ(RawCellText(NumberCell(0.75), {}, date, DateSystem::Date1904, scratch), "1904-01-01T18:00:00");
    EXPECT_EQ(RawCellText(NumberCell(0.75), {}, date, DateSystem::Date1900, scratch), "1899-12-31T18:00:00");
}

TEST(TakesRawText, OnlyTheIsoDatesStyleLooksAtTheFormat)
{
    const NumberFormat date = NumberFormat::Parse("d-mmm-yy");
    const NumberFormat time = NumberFormat::Parse("h:mm AM/PM");
    const NumberFormat elapsed = NumberFormat::Parse("[h]:mm:ss");
    const NumberFormat percent = NumberFormat::Parse("0%");
    const Cell number = NumberCell(46365.5);
    for (const NumberFormat* format : { &date, &time, &elapsed, &percent }) {
        EXPECT_FALSE(TakesRawText(CellTextStyle::Displayed, number, *format));
        EXPECT_TRUE(TakesRawText(CellTextStyle::Raw, number, *format));
        EXPECT_TRUE(TakesRawText(CellTextStyle::Raw, KindCell(CellKind::String), *format));
    }
    EXPECT_TRUE(TakesRawText(CellTextStyle::IsoDates, number, date));
    EXPECT_TRUE(TakesRawText(CellTextStyle::IsoDates, number, time));
    EXPECT_FALSE(TakesRawText(CellTextStyle::IsoDates, number, elapsed));
    EXPECT_FALSE(TakesRawText(CellTextStyle::IsoDates, number, percent));
    // Text and booleans under a date format still display (a text section may apply).
    EXPECT_FALSE(TakesRawText(CellTextStyle::IsoDates, KindCell(CellKind::String), date));
    EXPECT_FALSE(TakesRawText(CellTextStyle::IsoDates, KindCell(CellKind::Boolean), date));
}

} // namespace
