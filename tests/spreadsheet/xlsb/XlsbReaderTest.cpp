#include "spreadsheet/xlsb/XlsbReader.h"
#include "spreadsheet/FormatDetection.h"
#include "spreadsheet/Workbook.h"
#include "spreadsheet/xlsb/XlsbRecords.h"
#include "support/Failures.h"
#include "support/SheetGrid.h"
#include "support/XlsbWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace vellumcast::spreadsheet {
namespace {

using testing::SheetShows;
using testing::XlsbWriter;
using testing::XlsxVisibility;

std::unique_ptr<Workbook> Open(const XlsbWriter& writer)
{
    Application application;
    return application.OpenBytes(writer.Build(), "made.xlsb");
}

// The first worksheet of a workbook whose sheet holds these records among its cells.
std::unique_ptr<Workbook> OpenWithRecords(std::string records)
{
    XlsbWriter writer;
    writer.AddSheet("Data").Raw(std::move(records));
    return Open(writer);
}

ErrorCode LoadError(const std::string& bytes)
{
    return testing::ErrorCodeOf([&] {
        Application application;
        auto book = application.OpenBytes(bytes, "made.xlsb");
        for (auto& sheet : book->Worksheets())
            sheet.UsedRange();
    });
}

std::string Cell(uint16_t type, uint32_t column, std::string_view value)
{
    return XlsbWriter::Record(type, XlsbWriter::U32(column) + XlsbWriter::U32(0) + std::string(value));
}

std::string RowHeader(uint32_t row)
{
    return XlsbWriter::Record(xlsb::brt::kRowHeader, XlsbWriter::U32(row) + std::string(13, '\0'));
}

// The RK form of a double: its top 30 bits, with the low bits for "integer" and "÷ 100".
uint32_t RkOfDouble(double value)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return static_cast<uint32_t>(bits >> 32) & 0xFFFFFFFCu;
}

uint32_t RkOfInteger(int32_t value, bool divided = false)
{
    return (static_cast<uint32_t>(value) << 2) | 0x02 | (divided ? 0x01 : 0);
}

TEST(XlsbCells, NumbersInTheirFullAndCompactForms)
{
    XlsbWriter writer;
    writer.AddSheet("Data")
        .Number(1, 1, 3.25)
        .Number(1, 2, -1e300)
        .Rk(2, 1, RkOfInteger(42))
        .Rk(2, 2, RkOfInteger(-7))
        .Rk(2, 3, RkOfInteger(1234, true)) // 12.34
        .Rk(3, 1, RkOfDouble(0.5))
        .Rk(3, 2, RkOfDouble(1.5) | 0x01); // 0.015
    auto book = Open(writer);
    EXPECT_TRUE(SheetShows(
        book->Worksheets()[0], { { "3.25", "-1E+300", "" }, { "42", "-7", "12.34" }, { "0.5", "0.015", "" } }));
}

TEST(XlsbCells, StringsInlineSharedAndRich)
{
    XlsbWriter writer;
    writer.AddSheet("Data")
        .InlineString(1, 1, "inline")
        .SharedString(1, 2, "shared")
        .SharedString(1, 3, "shared")
        .RichString(2, 1, "rich text")
        .InlineString(2, 2, "Ünïcödé 😀 line\nbreak")
        .InlineString(2, 3, "");
    auto book = Open(writer);
    EXPECT_TRUE(SheetShows(
        book->Worksheets()[0], { { "inline", "shared", "shared" }, { "rich text", "Ünïcödé 😀 line\nbreak", "" } }));
}

TEST(XlsbCells, UnpairedSurrogatesBecomeReplacementCharacters)
{
    // "a", a lone high surrogate, "b", a lone low surrogate.
    const std::string text = XlsbWriter::U32(4) + XlsbWriter::U16('a') + XlsbWriter::U16(0xD800) + XlsbWriter::U16('b')
        + XlsbWriter::U16(0xDC00);
    auto book = OpenWithRecords(RowHeader(0) + Cell(xlsb::brt::kCellSt, 0, text));
    EXPECT_EQ(book->Worksheets()[0].CellText(1, 1),
        "a\xEF\xBF\xBD"
        "b\xEF\xBF\xBD");
}

TEST(XlsbRecords, WideStringsTurnToUtf8WhereverTheirAsciiRunsEnd)
{
    // ASCII before, between and after other characters, a NUL, a pair of surrogates, and a
    // high surrogate that ends the string; a string read into one that held a longer text.
    const auto units = [](std::initializer_list<uint16_t> codes) {
        std::string bytes = XlsbWriter::U32(static_cast<uint32_t>(codes.size()));
        for (const uint16_t code : codes)
            bytes += XlsbWriter::U16(code);
        return bytes;
    };
    // Runs of four or more, read four at a time, end at a unit whose high byte alone is
    // set (U+0141, whose low byte is "A"), at U+0080, and short of a whole four.
    const std::string bytes = units({ 'a', 'b', 0, 0xE9, 'c', 0xD83D, 0xDE00, 'd', 0xD800 }) + units({ 'x', 'y' })
        + units({}) + units({ 0x20AC })
        + units({ 'p', 'q', 'r', 's', 't', 0x0141, 'u', 'v', 'w', 'x', 0x7F, 0x80, 'y', 'z', 'a', 'b', 'c', 'd' });
    const xlsb::Record record { 0, std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()) };
    xlsb::RecordCursor cursor(record);
    std::string text = "a longer text than any of these";
    cursor.WideString(text);
    EXPECT_EQ(text,
        std::string("ab\0\xC3\xA9"
                    "c\xF0\x9F\x98\x80"
                    "d\xEF\xBF\xBD",
            14));
    cursor.WideString(text);
    EXPECT_EQ(text, "xy");
    cursor.WideString(text);
    EXPECT_EQ(text, "");
    cursor.WideString(text);
    EXPECT_EQ(text, "\xE2\x82\xAC");
    cursor.WideString(text);
    EXPECT_EQ(text, "pqrst\xC5\x81uvwx\x7F\xC2\x80yzabcd");
    EXPECT_EQ(cursor.Remaining(), 0u);
}

TEST(XlsbCells, BooleansErrorsAndFormattedBlanks)
{
    XlsbWriter writer;
    const uint32_t percent = writer.AddStyle("0%");
    auto& sheet = writer.AddSheet("Data").Boolean(1, 1, true).Boolean(1, 2, false).Blank(1, 3, percent);
    const char* errors[] = { "#NULL!", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#N/A" };
    for (int i = 0; i < 7; ++i)
        sheet.Error(2, i + 1, errors[i]);
    auto book = Open(writer);
    EXPECT_TRUE(SheetShows(book->Worksheets()[0],
        { { "TRUE", "FALSE", "", "", "", "", "" },
            { "#NULL!", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#N/A" } }));
}

TEST(XlsbCells, FormulasShowTheirCachedValues)
{
    XlsbWriter writer;
    const uint32_t money = writer.AddStyle("#,##0.00");
    writer.AddSheet("Data")
        .FormulaNumber(1, 1, 1234.5, money)
        .FormulaString(1, 2, "\"x\"", "cached")
        .FormulaBoolean(1, 3, true)
        .FormulaError(1, 4, "#N/A");
    auto book = Open(writer);
    EXPECT_TRUE(SheetShows(book->Worksheets()[0], { { "1,234.50", "cached", "TRUE", "#N/A" } }));
}

TEST(XlsbCells, CellsPlaceByRowHeaderAndColumn)
{
    // Rows may skip; a later row header moves on; the used range starts where cells do.
    XlsbWriter writer;
    writer.AddSheet("Data").Dimension(1, 1, 1, 1).InlineString(3, 2, "B3").InlineString(5, 4, "D5");
    auto book = Open(writer);
    EXPECT_TRUE(SheetShows(book->Worksheets()[0], { { "B3", "", "" }, { "", "", "" }, { "", "", "D5" } }, 3, 2));
}

TEST(XlsbWorkbook, SheetNamesVisibilityAndChartSheets)
{
    XlsbWriter writer;
    writer.AddSheet("First").Number(1, 1, 1);
    writer.AddChartSheet("Chart");
    writer.AddSheet("Hidden one", XlsxVisibility::Hidden).Number(1, 1, 2);
    writer.AddSheet("Ünïcödé", XlsxVisibility::VeryHidden);
    auto book = Open(writer);
    auto& sheets = book->Worksheets();
    ASSERT_EQ(sheets.size(), 3u);
    EXPECT_EQ(sheets[0].Name(), "First");
    EXPECT_EQ(sheets[0].Visibility(), SheetVisibility::Visible);
    EXPECT_EQ(sheets[1].Name(), "Hidden one");
    EXPECT_EQ(sheets[1].Visibility(), SheetVisibility::Hidden);
    EXPECT_EQ(sheets[2].Name(), "Ünïcödé");
    EXPECT_EQ(sheets[2].Visibility(), SheetVisibility::VeryHidden);
    EXPECT_TRUE(SheetShows(sheets[2], { { "" } }));
}

TEST(XlsbWorkbook, IsDetectedByContentAndNotAsXlsx)
{
    // The package has no xl/workbook.xml, so the xlsx reader would refuse it.
    XlsbWriter writer;
    writer.AddSheet("Data").InlineString(1, 1, "binary");
    Application application;
    for (const char* name : { "book.xlsb", "book.xlsx", "book" }) {
        auto book = application.OpenBytes(writer.Build(), name);
        ASSERT_EQ(book->Worksheets().size(), 1u) << name;
        EXPECT_EQ(book->Worksheets()[0].Name(), "Data") << name;
        EXPECT_EQ(book->Worksheets()[0].CellText(1, 1), "binary") << name;
    }
}

TEST(XlsbWorkbook, TheWorkbookPartIsWhereThePackageSaysEvenUnderAnotherName)
{
    XlsbWriter writer;
    writer.AddSheet("Data").InlineString(1, 1, "found");
    testing::ZipWriter zip;
    for (auto& [name, data] : writer.Parts()) {
        if (name == "_rels/.rels") {
            const size_t at = data.find("xl/workbook.bin");
            zip.Add(name, data.replace(at, 15, "xl/book.bin"));
        } else if (name == "xl/workbook.bin") {
            zip.Add("xl/book.bin", data);
        } else if (name == "xl/_rels/workbook.bin.rels") {
            zip.Add("xl/_rels/book.bin.rels", data);
        } else {
            zip.Add(name, data);
        }
    }
    Application application;
    auto book = application.OpenBytes(zip.Finish(), "renamed.xlsb");
    EXPECT_TRUE(SheetShows(book->Worksheets()[0], { { "found" } }));
}

TEST(XlsbSharedStrings, RichAndPhoneticItemsGiveTheirTextAlone)
{
    // Items flagged rich (formatting runs follow the text) and extended (phonetic text
    // follows): only the text is the string.
    const std::string runs
        = XlsbWriter::U32(2) + XlsbWriter::U16(0) + XlsbWriter::U16(1) + XlsbWriter::U16(2) + XlsbWriter::U16(0);
    const std::string phonetic
        = XlsbWriter::U16(0) + XlsbWriter::U16(0) + XlsbWriter::WideString("ruby") + XlsbWriter::U32(0);
    const std::string part = XlsbWriter::Record(xlsb::brt::kBeginSst, XlsbWriter::U32(3) + XlsbWriter::U32(3))
        + XlsbWriter::Record(xlsb::brt::kSstItem, "\x01" + XlsbWriter::WideString("rich") + runs)
        + XlsbWriter::Record(xlsb::brt::kSstItem, "\x03" + XlsbWriter::WideString("both") + runs + phonetic)
        + XlsbWriter::Record(xlsb::brt::kSstItem, std::string(1, '\0') + XlsbWriter::WideString("plain"));
    XlsbWriter writer;
    writer.AddSheet("Data").SharedString(1, 1, "a").SharedString(1, 2, "b").SharedString(1, 3, "c");
    testing::ZipWriter zip;
    for (auto& [name, data] : writer.Parts())
        zip.Add(name, name == "xl/sharedStrings.bin" ? part : data);
    Application application;
    auto book = application.OpenBytes(zip.Finish(), "strings.xlsb");
    EXPECT_TRUE(SheetShows(book->Worksheets()[0], { { "rich", "both", "plain" } }));
}

TEST(XlsbStyles, NumberFormatsBuiltInCustomAndTheDateSystems)
{
    for (const bool date1904 : { false, true }) {
        XlsbWriter writer;
        writer.Date1904(date1904);
        const uint32_t date = writer.AddBuiltInStyle(14);
        const uint32_t percent = writer.AddBuiltInStyle(10);
        const uint32_t custom = writer.AddStyle("yyyy-mm-dd hh:mm");
        const uint32_t text = writer.AddStyle("\"n=\"0.0;\"neg \"0.0;\"zero\";@\"!\"");
        writer.AddSheet("Data")
            .Number(1, 1, 45000, date)
            .Rk(1, 2, RkOfInteger(25, true), percent)
            .Number(1, 3, 45000.75, custom)
            .Number(2, 1, 3.14159, text)
            .Number(2, 2, -2, text)
            .Number(2, 3, 0, text)
            .InlineString(3, 1, "s", text);
        auto book = Open(writer);
        EXPECT_EQ(book->DateSystemInUse(), date1904 ? numfmt::DateSystem::Date1904 : numfmt::DateSystem::Date1900);
        if (date1904)
            EXPECT_TRUE(SheetShows(book->Worksheets()[0],
                { { "3/16/2027", "25.00%", "2027-03-16 18:00" }, { "n=3.1", "neg 2.0", "zero" }, { "s!", "", "" } }));
        else
            EXPECT_TRUE(SheetShows(book->Worksheets()[0],
                { { "3/15/2023", "25.00%", "2023-03-15 18:00" }, { "n=3.1", "neg 2.0", "zero" }, { "s!", "", "" } }));
    }
}

TEST(XlsbRecords, PiecesOfAnySizeSplitIntoTheSameRecords)
{
    // Headers of one to six bytes: types past 127 take two bytes, sizes past 127 two and more.
    const std::string bytes = XlsbWriter::Record(0, "") + XlsbWriter::Record(5, "abc")
        + XlsbWriter::Record(617, std::string(200, 'x')) + XlsbWriter::Record(16383, std::string(20000, 'y'))
        + XlsbWriter::Record(1, "z");
    const auto data = std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    for (const size_t piece : { size_t { 1 }, size_t { 2 }, size_t { 5 }, size_t { 199 }, bytes.size() }) {
        xlsb::RecordSplitter splitter("the part");
        std::vector<std::pair<uint16_t, std::string>> records;
        for (size_t at = 0; at < data.size(); at += piece) {
            splitter.Feed(data.subspan(at, std::min(piece, data.size() - at)), [&](const xlsb::Record& record) {
                records.emplace_back(
                    record.type, std::string(reinterpret_cast<const char*>(record.data.data()), record.data.size()));
                return true;
            });
        }
        splitter.Finish();
        SCOPED_TRACE(piece);
        ASSERT_EQ(records.size(), 5u);
        EXPECT_EQ(records[1], std::make_pair(uint16_t { 5 }, std::string("abc")));
        EXPECT_EQ(records[2].first, 617);
        EXPECT_EQ(records[2].second.size(), 200u);
        EXPECT_EQ(records[3].first, 16383);
        EXPECT_EQ(records[3].second, std::string(20000, 'y'));
        EXPECT_EQ(records[4], std::make_pair(uint16_t { 1 }, std::string("z")));
    }
}

TEST(XlsbRecords, RecordsWithOneByteHeadersSplitAlikeWhereverAPieceEnds)
{
    // The longest records a one-byte size allows, among short ones, cut at every place.
    std::string bytes;
    for (int i = 0; i < 6; ++i)
        bytes += XlsbWriter::Record(static_cast<uint16_t>(i + 1), std::string(i % 2 == 0 ? 127 : 3, char('a' + i)));
    const auto data = std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    for (size_t piece = 1; piece <= 140; ++piece) {
        xlsb::RecordSplitter splitter("the part");
        std::string joined;
        size_t count = 0;
        for (size_t at = 0; at < data.size(); at += piece) {
            splitter.Feed(data.subspan(at, std::min(piece, data.size() - at)), [&](const xlsb::Record& record) {
                EXPECT_EQ(record.type, count + 1);
                EXPECT_EQ(record.data.size(), count % 2 == 0 ? 127u : 3u);
                joined.append(reinterpret_cast<const char*>(record.data.data()), record.data.size());
                ++count;
                return true;
            });
        }
        splitter.Finish();
        ASSERT_EQ(count, 6u) << piece;
        EXPECT_EQ(joined,
            std::string(127, 'a') + std::string(3, 'b') + std::string(127, 'c') + std::string(3, 'd')
                + std::string(127, 'e') + std::string(3, 'f'))
            << piece;
    }
}

TEST(XlsbRecords, ALargeCompressedSheetReadsAcrossInflatedPieces)
{
    // Enough records that the inflated part arrives in several pieces and records straddle them.
    XlsbWriter writer;
    writer.Compress();
    auto& sheet = writer.AddSheet("Data");
    for (int row = 1; row <= 30000; ++row)
        sheet.Rk(row, 1, RkOfInteger(row)).InlineString(row, 2, "row " + std::to_string(row)).Number(row, 3, row / 8.0);
    auto book = Open(writer);
    auto& loaded = book->Worksheets()[0];
    EXPECT_EQ(loaded.UsedRange().lastRow, 30000);
    for (const int row : { 1, 4097, 17777, 30000 }) {
        EXPECT_EQ(loaded.CellText(row, 1), std::to_string(row));
        EXPECT_EQ(loaded.CellText(row, 2), "row " + std::to_string(row));
    }
    EXPECT_EQ(loaded.CellText(30000, 3), "3750");

    // Inflated ahead on a second thread or between the records on the reading one, the
    // part gives the same records, and a reader that stops is not called again.
    const std::string bytes = writer.Build();
    const container::ZipArchive archive(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    const container::ZipEntry* part = archive.Find("xl/worksheets/sheet1.bin");
    ASSERT_NE(part, nullptr);
    ASSERT_GT(part->uncompressedSize, 1u << 20); // large enough to be read ahead, in many chunks
    std::string records[2];
    for (const bool ahead : { true, false }) {
        xlsb::ReadRecords(
            archive, *part, "the worksheet part",
            [&](const xlsb::Record& record) {
                records[ahead] += std::to_string(record.type) + ':';
                records[ahead].append(reinterpret_cast<const char*>(record.data.data()), record.data.size());
                return true;
            },
            {}, ahead);
        size_t calls = 0;
        xlsb::ReadRecords(
            archive, *part, "the worksheet part", [&](const xlsb::Record&) { return ++calls < 1000; }, {}, ahead);
        EXPECT_EQ(calls, 1000u) << ahead;
    }
    EXPECT_GT(records[false].size(), part->uncompressedSize);
    EXPECT_TRUE(records[false] == records[true]);
}

TEST(XlsbHostile, DamagedRecordsAreCorrupt)
{
    const struct {
        const char* what;
        std::string records;
    } cases[] = {
        { "a type of three bytes", std::string("\x81\x81\x01\x00", 4) },
        { "a size of five bytes", std::string("\x01\x80\x80\x80\x80\x01", 6) },
        { "a part ending inside a record", std::string("\x05\x10\x00\x00", 4) },
        { "a cell shorter than its fields", RowHeader(0) + XlsbWriter::Record(xlsb::brt::kCellReal, "\0\0\0\0") },
        // A cell whose column and style are there but not its whole value.
        { "a number cut short", RowHeader(0) + Cell(xlsb::brt::kCellReal, 0, std::string(7, '\0')) },
        { "a formula's number cut short", RowHeader(0) + Cell(xlsb::brt::kFmlaNum, 0, std::string(4, '\0')) },
        { "a compact number cut short", RowHeader(0) + Cell(xlsb::brt::kCellRk, 0, std::string(3, '\0')) },
        { "a shared string index cut short", RowHeader(0) + Cell(xlsb::brt::kCellIsst, 1, "") },
        { "a boolean without its value", RowHeader(0) + Cell(xlsb::brt::kCellBool, 2, "") },
        { "a row header without its row", XlsbWriter::Record(xlsb::brt::kRowHeader, "\0\0") },
        { "a string longer than its record", RowHeader(0) + Cell(xlsb::brt::kCellSt, 0, XlsbWriter::U32(1000) + "ab") },
        { "a row beyond the grid", RowHeader(1048576) + Cell(xlsb::brt::kCellBool, 0, "\x01") },
        { "a column beyond the grid", RowHeader(0) + Cell(xlsb::brt::kCellBool, 16384, "\x01") },
    };
    for (const auto& c : cases) {
        XlsbWriter writer;
        writer.AddSheet("Data").Raw(c.records);
        EXPECT_EQ(LoadError(writer.Build()), ErrorCode::Corrupt) << c.what;
    }
    // The last row and column of the grid are in it.
    auto book = OpenWithRecords(RowHeader(1048575) + Cell(xlsb::brt::kCellBool, 16383, "\x01"));
    EXPECT_EQ(book->Worksheets()[0].CellText(1048576, 16384), "TRUE");
}

TEST(XlsbHostile, RecordsClaimingMoreThanAnyRealOneAreRefusedBeforeTheyAreRead)
{
    // A header claiming 200 MiB, followed by a few bytes: refused at once, not buffered.
    std::string header = std::string("\x06", 1);
    for (uint32_t size = 200u << 20; size != 0; size >>= 7)
        header.push_back(static_cast<char>((size & 0x7F) | (size >> 7 ? 0x80 : 0)));
    XlsbWriter writer;
    writer.AddSheet("Data").Raw(header + "abcd");
    EXPECT_EQ(LoadError(writer.Build()), ErrorCode::TooLarge);
}

TEST(XlsbHostile, DamagedWorkbookWideParts)
{
    XlsbWriter writer;
    writer.AddStyle("0.0");
    writer.AddSheet("Data").SharedString(1, 1, "x");
    for (const char* part : { "xl/workbook.bin", "xl/styles.bin", "xl/sharedStrings.bin" }) {
        testing::ZipWriter zip;
        for (auto& [name, data] : writer.Parts()) // cut inside the closing record
            zip.Add(name, name == part ? data.substr(0, data.size() - 2) : data);
        EXPECT_EQ(LoadError(zip.Finish()), ErrorCode::Corrupt) << part;
    }
    // A sheet that names no relationship of the package is passed over with a warning.
    testing::ZipWriter zip;
    for (auto& [name, data] : writer.Parts())
        zip.Add(name, name == "xl/_rels/workbook.bin.rels" ? std::string("<Relationships/>") : data);
    auto book = Application().OpenBytes(zip.Finish(), "made.xlsb");
    EXPECT_TRUE(book->Worksheets().empty());
    ASSERT_EQ(book->Warnings().size(), 1u);
    EXPECT_EQ(book->Warnings()[0], "made.xlsb: the sheet \"Data\" names no part of the package; it is passed over");
}

TEST(XlsbHostile, MoreSharedStringsThanTheFileCouldHoldAreRefused)
{
    // 1.2 million empty items deflate to a few kilobytes: far more than a file that small
    // holds in earnest.
    const std::string item = XlsbWriter::Record(xlsb::brt::kSstItem, std::string(1, '\0') + XlsbWriter::U32(0));
    std::string part = XlsbWriter::Record(xlsb::brt::kBeginSst, XlsbWriter::U32(0) + XlsbWriter::U32(0));
    part.reserve(part.size() + item.size() * 1200000);
    for (int i = 0; i < 1200000; ++i)
        part += item;
    XlsbWriter writer;
    writer.AddSheet("Data").SharedString(1, 1, "a");
    testing::ZipWriter zip;
    for (auto& [name, data] : writer.Parts())
        zip.Add(name, name == "xl/sharedStrings.bin" ? part : data, true);
    const std::string bytes = zip.Finish();
    testing::ExpectFailure(
        [&] {
            Application application;
            application.OpenBytes(bytes, "many.xlsb");
        },
        ErrorCode::TooLarge, { "shared strings" });
}

TEST(XlsbHostile, AnIndexPastTheSharedStringsShowsNothingRatherThanFailing)
{
    auto book = OpenWithRecords(RowHeader(0) + Cell(xlsb::brt::kCellIsst, 0, XlsbWriter::U32(99)));
    EXPECT_EQ(book->Worksheets()[0].CellText(1, 1), "");
}

} // namespace
} // namespace vellumcast::spreadsheet
