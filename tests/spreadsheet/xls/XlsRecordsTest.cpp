// The xls reader on workbook streams built here record by record: each cell record type
// and formula result, the sheet list rules, and the records that stop a workbook.

#include "spreadsheet/SpreadsheetError.h"
#include "spreadsheet/Workbook.h"
#include "spreadsheet/xls/XlsReader.h"
#include "support/CfbTestContainer.h"
#include "support/Failures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellumcast::spreadsheet {
namespace {

using testing::Put16;
using testing::Put32;

std::string U16(uint16_t v)
{
    std::string s(2, '\0');
    Put16(s, 0, v);
    return s;
}

std::string U32(uint32_t v)
{
    std::string s(4, '\0');
    Put32(s, 0, v);
    return s;
}

std::string F64(double v)
{
    std::string s(8, '\0');
    std::memcpy(s.data(), &v, 8); // the test machines are little-endian, as the format
    return s;
}

std::string Record(uint16_t type, const std::string& data)
{
    return U16(type) + U16(static_cast<uint16_t>(data.size())) + data;
}

std::string Bof(uint16_t version, uint16_t kind)
{
    return Record(0x0809, U16(version) + U16(kind) + std::string(12, '\0'));
}

std::string Cell(uint16_t row, uint16_t column, uint16_t xf)
{
    return U16(row) + U16(column) + U16(xf);
}

std::string Compressed(const std::string& text)
{
    return U16(static_cast<uint16_t>(text.size())) + std::string(1, '\0') + text;
}

struct Sheet {
    std::string name;
    uint8_t type = 0; // BOUNDSHEET sheet type
    uint8_t state = 0; // visibility
    std::string records; // between the sheet's BOF and EOF
};

// A BIFF8 workbook: globals (the given extra records, the sheet list, an SST) and the sheets.
std::string Workbook(const std::vector<Sheet>& sheets, const std::string& globals = {},
    const std::vector<std::string>& strings = {}, uint16_t version = 0x0600)
{
    const bool biff8 = version == 0x0600;
    std::string s = Bof(version, 0x0005) + globals;
    std::vector<size_t> positions;
    for (const Sheet& sheet : sheets) {
        positions.push_back(s.size() + 4);
        std::string name = biff8
            ? std::string(1, static_cast<char>(sheet.name.size())) + std::string(1, '\0') + sheet.name
            : std::string(1, static_cast<char>(sheet.name.size())) + sheet.name;
        s += Record(0x0085,
            U32(0) + std::string(1, static_cast<char>(sheet.state)) + std::string(1, static_cast<char>(sheet.type))
                + name);
    }
    if (biff8) {
        std::string sst = U32(static_cast<uint32_t>(strings.size())) + U32(static_cast<uint32_t>(strings.size()));
        for (const std::string& text : strings)
            sst += Compressed(text);
        s += Record(0x00FC, sst);
    }
    s += Record(0x000A, "");
    for (size_t i = 0; i < sheets.size(); ++i) {
        Put32(s, positions[i], static_cast<uint32_t>(s.size()));
        s += Bof(version, sheets[i].type == 2 ? 0x0020 : 0x0010) + sheets[i].records + Record(0x000A, "");
    }
    return testing::MakeContainer("Workbook", s).bytes;
}

ErrorCode FailureOf(const std::string& bytes, bool load = false)
{
    return testing::ErrorCodeOf([&] {
        auto workbook = Application().OpenBytes(bytes, "test.xls");
        if (load)
            for (Worksheet& sheet : workbook->Worksheets())
                sheet.UsedRange();
    });
}

TEST(XlsRecordsTest, EveryCellRecordGivesItsCells)
{
    std::string cells;
    cells += Record(0x00FD, Cell(0, 0, 0) + U32(1)); // A1 LABELSST
    cells += Record(0x0204, Cell(0, 1, 0) + U16(2) + std::string("\x01\xAC\x20\x41\x00", 5)); // B1 LABEL 16-bit
    cells += Record(0x00D6, Cell(0, 2, 0) + Compressed("rich") + U16(1) + U32(0)); // C1 RSTRING
    cells += Record(0x0203, Cell(1, 0, 0) + F64(-2.5)); // A2 NUMBER
    cells += Record(0x027E, Cell(1, 1, 0) + U32((1234u << 2) | 3)); // B2 RK 12.34
    cells += Record(
        0x00BD, U16(2) + U16(0) + U16(0) + U32((7u << 2) | 2) + U16(0) + U32(0x3FF00000) + U16(1)); // A3:B3 MULRK 7, 1
    cells += Record(0x0205, Cell(3, 0, 0) + std::string("\x01\x00", 2)); // A4 TRUE
    cells += Record(0x0205, Cell(3, 1, 0) + std::string("\x07\x01", 2)); // B4 #DIV/0!
    cells += Record(0x0205, Cell(3, 2, 0) + std::string("\x2A\x01", 2)); // C4 #N/A
    cells += Record(0x0201, Cell(4, 3, 0)); // D5 BLANK
    cells += Record(0x00BE, U16(5) + U16(0) + std::string(10, '\0') + U16(4)); // A6:E6 MULBLANK
    Application application;
    auto workbook = application.OpenBytes(Workbook({ { "Cells", 0, 0, cells } }, {}, { "zero", "one" }), "cells.xls");
    Worksheet& sheet = workbook->Worksheets()[0];
    const CellRange range = sheet.UsedRange();
    EXPECT_EQ(range.lastRow, 6);
    EXPECT_EQ(range.lastColumn, 5);
    const char* expected[4][3] = { { "one",
                                       "\xE2\x82\xAC"
                                       "A",
                                       "rich" },
        { "-2.5", "12.34", "" }, { "7", "1", "" }, { "TRUE", "#DIV/0!", "#N/A" } };
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(sheet.CellText(r + 1, c + 1), expected[r][c]) << r + 1 << "," << c + 1;
    EXPECT_EQ(sheet.CellText(5, 4), "");
}

TEST(XlsRecordsTest, FormulasGiveTheirCachedResults)
{
    auto formula = [](uint16_t row, const std::string& result) {
        return Record(0x0006, Cell(row, 0, 0) + result + U16(0) + U32(0) + U16(0));
    };
    auto special = [](uint8_t type, uint8_t value) {
        std::string r(8, '\0');
        r[0] = static_cast<char>(type);
        r[2] = static_cast<char>(value);
        r[6] = r[7] = '\xFF';
        return r;
    };
    std::string cells;
    cells += formula(0, F64(42));
    cells += formula(1, special(0, 0)) + Record(0x04BC, std::string(10, '\0'))
        + Record(0x0207, Compressed("after a shared formula"));
    // A string result whose characters continue, as 16-bit ones, in a CONTINUE record.
    cells += formula(2, special(0, 0))
        + Record(0x0207,
            U16(4)
                + std::string("\x00"
                              "ab",
                    3))
        + Record(0x003C,
            std::string("\x01"
                        "c\0d\0",
                5));
    cells += formula(3, special(1, 1));
    cells += formula(4, special(2, 0x17));
    cells += formula(5, special(3, 0));
    cells += formula(6, special(0, 0)); // its STRING record is missing: the cell stays, blank
    cells += Record(0x0203, Cell(7, 0, 0) + F64(8));
    Application application;
    auto workbook = application.OpenBytes(Workbook({ { "F", 0, 0, cells } }), "f.xls");
    Worksheet& sheet = workbook->Worksheets()[0];
    const char* expected[] = { "42", "after a shared formula", "abcd", "TRUE", "#REF!", "", "", "8" };
    for (int r = 0; r < 8; ++r)
        EXPECT_EQ(sheet.CellText(r + 1, 1), expected[r]) << r + 1;
    EXPECT_EQ(sheet.UsedRange().lastRow, 8);
}

TEST(XlsRecordsTest, SheetListHoldsWorksheetsOnly)
{
    const std::string dialog = Record(0x0081, std::string("\x11\x04", 2)); // WSBOOL with fDialog
    const std::string chart = Bof(0x0600, 0x0020) + Record(0x0203, Cell(9, 9, 0) + F64(1)) + Record(0x000A, "");
    const std::string bytes = Workbook({ { "Data", 0, 0, Record(0x0203, Cell(0, 0, 0) + F64(5)) + chart },
        { "Macro", 1, 0, "" }, { "Chart", 2, 0, "" }, { "Dialog", 0, 0, dialog }, { "Module", 6, 0, "" },
        { "Hidden", 0, 1, "" }, { "Deep", 0, 2, "" } });
    Application application;
    auto workbook = application.OpenBytes(bytes, "list.xls");
    auto& sheets = workbook->Worksheets();
    ASSERT_EQ(sheets.size(), 3u);
    EXPECT_EQ(sheets[0].Name(), "Data");
    EXPECT_EQ(sheets[1].Name(), "Hidden");
    EXPECT_EQ(sheets[1].Visibility(), SheetVisibility::Hidden);
    EXPECT_EQ(sheets[2].Name(), "Deep");
    EXPECT_EQ(sheets[2].Visibility(), SheetVisibility::VeryHidden);
    // The chart embedded in the first sheet keeps its cells to itself.
    const CellRange range = sheets[0].UsedRange();
    EXPECT_EQ(range.lastRow, 1);
    EXPECT_EQ(range.lastColumn, 1);
    // The sheets of other kinds stand apart where they were, the dialog sheet told by its
    // WSBOOL among them; the macro and dialog sheets are said once.
    const auto& others = workbook->OtherSheets();
    ASSERT_EQ(others.size(), 3u);
    const std::pair<const char*, OtherSheetKind> kinds[] = { { "Macro", OtherSheetKind::Macro },
        { "Chart", OtherSheetKind::Chart }, { "Dialog", OtherSheetKind::Dialog } };
    for (size_t i = 0; i < others.size(); ++i) {
        EXPECT_EQ(others[i].name, kinds[i].first);
        EXPECT_EQ(others[i].kind, kinds[i].second) << kinds[i].first;
        EXPECT_EQ(others[i].worksheetsBefore, 1u) << kinds[i].first;
    }
    ASSERT_EQ(workbook->Warnings().size(), 1u);
    EXPECT_NE(
        workbook->Warnings()[0].find("1 macro sheet (\"Macro\") and 1 dialog sheet (\"Dialog\")"), std::string::npos)
        << workbook->Warnings()[0];
}

TEST(XlsRecordsTest, StylesFollowXfRecordsInOrder)
{
    std::string globals = Record(0x0022, U16(1));
    globals += Record(0x041E, U16(164) + Compressed("0.000"));
    globals += Record(0x041E, U16(165)); // cut short: skipped, its XF falls back
    for (const uint16_t format : { 0, 164, 14, 165 })
        globals += Record(0x00E0, U16(0) + U16(format) + std::string(16, '\0'));
    const std::string bytes = Workbook({ { "S", 0, 0, Record(0x0203, Cell(0, 0, 3) + F64(1.5)) } }, globals);
    WorkbookData data;
    xls::OpenReader(ReaderContext { FileBytes::FromBuffer(bytes), "styles.xls", {} }, data);
    EXPECT_EQ(data.formats.StyleCount(), 4u);
    Application application;
    auto workbook = application.OpenBytes(bytes, "styles.xls");
    EXPECT_EQ(workbook->DateSystemInUse(), numfmt::DateSystem::Date1904);
    EXPECT_EQ(workbook->Worksheets()[0].CellText(1, 1), "1.5"); // XF 3: General, its FORMAT being damaged
}

TEST(XlsRecordsTest, Biff5StringsUseTheCodePage)
{
    const std::string cells = Record(0x0204, Cell(0, 0, 0) + U16(3) + "\xCF\xF0\xE8")
        + Record(0x00D6, Cell(0, 1, 0) + U16(2) + "\x80!" + std::string(1, '\0'));
    const std::string bytes = Workbook({ { "\xCB\xE8\xF1\xF2", 0, 0, cells } }, Record(0x0042, U16(1251)), {}, 0x0500);
    Application application;
    auto workbook = application.OpenBytes(bytes, "biff5.xls");
    Worksheet& sheet = workbook->Worksheets()[0];
    EXPECT_EQ(sheet.Name(), "\xD0\x9B\xD0\xB8\xD1\x81\xD1\x82"); // Лист
    EXPECT_EQ(sheet.CellText(1, 1), "\xD0\x9F\xD1\x80\xD0\xB8"); // При
    EXPECT_EQ(sheet.CellText(1, 2), "\xD0\x82!"); // 0x80 is Ђ in 1251, not the Latin euro sign
}

TEST(XlsRecordsTest, RecordsThatStopTheWorkbook)
{
    const Sheet plain { "S", 0, 0, Record(0x0203, Cell(0, 0, 0) + F64(1)) };
    EXPECT_EQ(FailureOf(Workbook({ plain }, Record(0x002F, std::string(6, '\0')))), ErrorCode::PasswordProtected);
    EXPECT_EQ(FailureOf(testing::MakeContainer("Workbook", Record(0x0409, std::string(6, '\0'))).bytes),
        ErrorCode::Unsupported); // BIFF4
    EXPECT_EQ(FailureOf(testing::MakeContainer("Workbook", Record(0x0203, std::string(14, '\0'))).bytes),
        ErrorCode::Corrupt); // no BOF
    EXPECT_EQ(FailureOf(testing::MakeContainer("Workbook", Bof(0x0600, 0x0005) + U16(0x0203) + U16(200)).bytes),
        ErrorCode::Corrupt); // a record longer than the stream

    // Damage inside a sheet fails when the sheet is loaded.
    EXPECT_EQ(FailureOf(Workbook({ { "S", 0, 0, Record(0x0203, Cell(0, 0, 0)) } }), true), ErrorCode::Corrupt);
    EXPECT_EQ(FailureOf(Workbook({ { "S", 0, 0,
                            Record(0x00BD, U16(0) + U16(16383) + U16(0) + U32(2) + U16(0) + U32(2) + U16(16384)) } }),
                  true),
        ErrorCode::Corrupt); // a MULRK running past the last column
}

TEST(XlsRecordsTest, SheetPositionMustPointAtTheSheet)
{
    // The BOUNDSHEET position of this workbook is set to the globals' EOF instead.
    std::string s = Bof(0x0600, 0x0005);
    const size_t position = s.size() + 4;
    s += Record(0x0085, U32(0) + std::string("\0\0\x01\0S", 5));
    const size_t eof = s.size();
    s += Record(0x000A, "") + Bof(0x0600, 0x0010) + Record(0x000A, "");
    Put32(s, position, static_cast<uint32_t>(eof));
    EXPECT_EQ(FailureOf(testing::MakeContainer("Workbook", s).bytes, true), ErrorCode::Corrupt);
    Put32(s, position, 0x7FFFFFFF);
    EXPECT_EQ(FailureOf(testing::MakeContainer("Workbook", s).bytes, true), ErrorCode::Corrupt);
}

} // namespace
} // namespace vellumcast::spreadsheet
