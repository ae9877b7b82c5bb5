// A cell's text in each style: raw values of every kind of cell, and which cells the ISO
// dates style takes raw.
#include "spreadsheet/CellValues.h"
#include "spreadsheet/Workbook.h"

#include "support/TempDir.h"
#include "support/XlsxWriter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

std::vector<std::string> RowTexts(Worksheet& sheet, int32_t row, CellTextStyle style)
{
    std::vector<std::string> texts;
    const CellRange range = sheet.UsedRange();
    for (int32_t column = range.firstColumn; column <= range.lastColumn; ++column) {
        texts.emplace_back(sheet.CellText(row, column, style));
    }
    return texts;
}

TEST(WorksheetTextStyles, EveryKindOfCellInEachStyle)
{
    for (const bool date1904 : { false, true }) {
        vellumcast::testing::XlsxWriter writer;
        writer.Date1904(date1904);
        const uint32_t date = writer.AddStyle("d-mmm-yy");
        const uint32_t time = writer.AddStyle("h:mm AM/PM");
        const uint32_t both = writer.AddStyle("m/d/yyyy h:mm");
        const uint32_t elapsed = writer.AddStyle("[h]:mm");
        const uint32_t percent = writer.AddStyle("0.0%");
        const uint32_t text = writer.AddStyle("\"Total: \"@");
        const double day = date1904 ? 46365 - 1462 : 46365; // 2026-12-09
        const double afternoon = day + (14 * 3600 + 5 * 60) / 86400.0;
        writer.AddSheet("S")
            .Number(1, 1, day, date)
            .Number(1, 2, afternoon, time)
            .Number(1, 3, afternoon, both)
            .Number(1, 4, 1.5, elapsed)
            .Number(1, 5, 0.125, percent)
            .SharedString(1, 6, "north", text)
            .Boolean(1, 7, true)
            .Error(1, 8, "#N/A")
            .Number(1, 9, 0.1 + 0.2);
        Application application;
        auto book = application.OpenBytes(writer.Build(), date1904 ? "made-1904.xlsx" : "made.xlsx");
        Worksheet& sheet = book->Worksheets()[0];
        const std::vector<std::string> displayed
            = { "9-Dec-26", "2:05 PM", "12/9/2026 14:05", "36:00", "12.5%", "Total: north", "TRUE", "#N/A", "0.3" };
        EXPECT_EQ(RowTexts(sheet, 1, CellTextStyle::Displayed), displayed);
        EXPECT_EQ(RowTexts(sheet, 1, CellTextStyle::IsoDates),
            std::vector<std::string>({ "2026-12-09", "14:05:00", "2026-12-09T14:05:00", "36:00", "12.5%",
                "Total: north", "TRUE", "#N/A", "0.3" }));
        EXPECT_EQ(RowTexts(sheet, 1, CellTextStyle::Raw),
            std::vector<std::string>({ "2026-12-09", "14:05:00", "2026-12-09T14:05:00", "1.5", "0.125", "north", "TRUE",
                "#N/A", "0.30000000000000004" }));
        // The displayed text is the one the styles leave alone.
        for (int32_t column = 1; column <= 9; ++column)
            EXPECT_EQ(sheet.CellText(1, column), displayed[static_cast<size_t>(column - 1)]);
        EXPECT_TRUE(book->Warnings().empty());
    }
}

TEST(WorksheetTextStyles, DateFixturesInBothSystems)
{
    Application application;
    for (const char* name :
        { "workbooks/date.xlsx", "workbooks/date_1904.xlsx", "workbooks/date.xls", "workbooks/date_1904.xls" }) {
        SCOPED_TRACE(name);
        auto book = application.Open(vellumcast::testing::Fixture(name));
        Worksheet& sheet = book->Worksheets()[0];
        EXPECT_EQ(RowTexts(sheet, 1, CellTextStyle::Raw)[0], "2021-01-01");
        EXPECT_EQ(RowTexts(sheet, 2, CellTextStyle::IsoDates)[0], "2021-01-02");
    }
    auto book = application.Open(vellumcast::testing::Fixture("workbooks/date.xlsx"));
    Worksheet& sheet = book->Worksheets()[0];
    // A3 holds 10.6320601851852 days under [hh]:mm:ss: a duration, displayed unless raw.
    EXPECT_EQ(RowTexts(sheet, 3, CellTextStyle::IsoDates), std::vector<std::string>({ "255:10:10", "17" }));
    EXPECT_EQ(RowTexts(sheet, 3, CellTextStyle::Raw), std::vector<std::string>({ "10.6320601851852", "17" }));
}

} // namespace
