#include "spreadsheet/FormatDetection.h"
#include "spreadsheet/Workbook.h"
#include "support/Failures.h"
#include "support/SheetGrid.h"

#include <gtest/gtest.h>

#include <string>

namespace vellumcast::spreadsheet {
namespace {

using testing::Grid;
using testing::SheetShows;

// A workbook as the application writes it, around the given styles and worksheets.
std::string Book(const std::string& styles, const std::string& worksheets, const std::string& options = {})
{
    return "<?xml version=\"1.0\"?>\n<?mso-application progid=\"Excel.Sheet\"?>\n"
           "<Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\""
           " xmlns:x=\"urn:schemas-microsoft-com:office:excel\""
           " xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\""
           " xmlns:html=\"http://www.w3.org/TR/REC-html40\">"
        + options + "<Styles><Style ss:ID=\"Default\" ss:Name=\"Normal\"><NumberFormat/></Style>" + styles + "</Styles>"
        + worksheets + "</Workbook>";
}

std::string Sheet(const std::string& name, const std::string& rows, const std::string& options = {})
{
    return "<Worksheet ss:Name=\"" + name + "\"><Table>" + rows + "</Table>"
        + (options.empty() ? ""
                           : "<WorksheetOptions xmlns=\"urn:schemas-microsoft-com:office:excel\">" + options
                    + "</WorksheetOptions>")
        + "</Worksheet>";
}

std::string Style(const std::string& id, const std::string& format, const std::string& parent = {})
{
    return "<Style ss:ID=\"" + id + "\"" + (parent.empty() ? "" : " ss:Parent=\"" + parent + "\"") + ">"
        + (format.empty() ? "" : "<NumberFormat ss:Format=\"" + format + "\"/>") + "</Style>";
}

std::string Cell(const std::string& type, const std::string& value, const std::string& attributes = {})
{
    return "<Cell" + attributes + "><Data ss:Type=\"" + type + "\">" + value + "</Data></Cell>";
}

TEST(SpreadsheetMl, IsRecognisedByContent)
{
    const std::string book = Book({}, Sheet("S", "<Row>" + Cell("String", "x") + "</Row>"));
    Application application;
    for (const char* name : { "book.xml", "book.xls", "book" }) {
        auto opened = application.OpenBytes(book, name);
        EXPECT_EQ(opened->Worksheets().at(0).CellText(1, 1), "x") << name;
    }
    // Another declared encoding is converted; text that only mentions the namespace is text.
    std::string latin = Book({}, Sheet("S", "<Row>" + Cell("String", "caf\xE9") + "</Row>"));
    latin.replace(0, latin.find("?>"), "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"");
    EXPECT_EQ(application.OpenBytes(latin, "latin.xml")->Worksheets().at(0).CellText(1, 1), "caf\xC3\xA9");
    auto text = application.OpenBytes("see urn:schemas-microsoft-com:office:spreadsheet,1\n", "notes.dat");
    EXPECT_EQ(text->Worksheets().at(0).CellText(1, 2), "1");
}

// The application saves in the code page of the system it runs on: a Russian one writes
// windows-1251. Single-byte code pages are read through the system's tables; a name no
// table answers, or a code page of two-byte characters, is refused by name.
TEST(SpreadsheetMl, SingleByteCodePagesAreReadAndOthersRefusedByName)
{
    Application application;
    const auto withEncoding = [](const std::string& encoding, const std::string& text) {
        std::string book = Book({}, Sheet("S", "<Row>" + Cell("String", text) + "</Row>"));
        book.replace(0, book.find("?>"), "<?xml version=\"1.0\" encoding=\"" + encoding + "\"");
        return book;
    };
    const struct {
        const char* encoding;
        std::string bytes;
        const char* utf8;
    } read[] = {
        { "windows-1251", "\xC4\xE0\xF2\xE0 \xB9", "\xD0\x94\xD0\xB0\xD1\x82\xD0\xB0 \xE2\x84\x96" }, // Дата №
        { "WINDOWS-1252", "\x80 \x93x\x94", "\xE2\x82\xAC \xE2\x80\x9Cx\xE2\x80\x9D" }, // € “x”
        { "cp1250", "\x8A", "\xC5\xA0" }, // Š
        { "iso-8859-5", "\xB4", "\xD0\x94" }, // Д
        { "KOI8-R", "\xE4", "\xD0\x94" }, // Д
    };
    for (const auto& c : read) {
        auto book = application.OpenBytes(withEncoding(c.encoding, c.bytes), "coded.xml");
        EXPECT_EQ(book->Worksheets().at(0).CellText(1, 1), c.utf8) << c.encoding;
    }
    for (const char* encoding : { "x-no-such-encoding", "shift_jis", "cp932" }) {
        testing::ExpectFailure([&] { application.OpenBytes(withEncoding(encoding, "x"), "coded.xml"); },
            ErrorCode::Corrupt, { "coded.xml", "unknown encoding" });
    }
}

TEST(SpreadsheetMl, CellKindsDisplayAsTheApplicationShowsThem)
{
    const std::string styles = Style("date", "Short Date") + Style("fixed", "Fixed") + Style("time", "Medium Time");
    const std::string row1 = "<Row>" + Cell("Number", "1234.5") + Cell("Number", "0.1", " ss:StyleID=\"fixed\"")
        + Cell("String", "  text &amp; more ") + Cell("Boolean", "1") + Cell("Boolean", "0") + "</Row>";
    const std::string row2 = "<Row>" + Cell("DateTime", "2024-02-29T00:00:00.000", " ss:StyleID=\"date\"")
        + Cell("DateTime", "1899-12-31T13:45:00.000", " ss:StyleID=\"time\"") + Cell("Error", "#DIV/0!")
        + Cell("Error", "#N/A") + Cell("Number", "12345678901234") + "</Row>";
    // Rich text: the runs' text, joined; a comment's text is not the cell's.
    const std::string row3 = "<Row><Cell><ss:Data ss:Type=\"String\" xmlns=\"http://www.w3.org/TR/REC-html40\">"
                             "<B>bold</B> and <Font html:Color=\"#FF0000\">red</Font></ss:Data>"
                             "<Comment><ss:Data><B>note</B></ss:Data></Comment></Cell>"
                             "<Cell ss:StyleID=\"date\"><Data ss:Type=\"Number\">45000</Data></Cell></Row>";
    Application application;
    auto book = application.OpenBytes(Book(styles, Sheet("Kinds", row1 + row2 + row3)), "kinds.xml");
    EXPECT_TRUE(SheetShows(book->Worksheets().at(0),
        { { "1234.5", "0.10", "  text & more ", "TRUE", "FALSE" },
            { "2/29/2024", "1:45 PM", "#DIV/0!", "#N/A", "1.23457E+13" },
            { "bold and red", "3/15/2023", "", "", "" } }));
}

TEST(SpreadsheetMl, NamedFormatsMapToTheirCodes)
{
    struct Case {
        const char* format;
        const char* value;
        const char* expected;
    };
    const Case cases[] = {
        { "General", "0.5", "0.5" },
        { "General Number", "1234.5", "1234.5" },
        { "General Date", "45000.75", "3/15/2023 18:00" },
        { "Long Date", "45000", "Wednesday, March 15, 2023" },
        { "Medium Date", "45000", "15-Mar-23" },
        { "Short Date", "45000", "3/15/2023" },
        { "Long Time", "0.75", "6:00:00 PM" },
        { "Medium Time", "0.75", "6:00 PM" },
        { "Short Time", "0.75", "18:00" },
        { "Currency", "-1234.5", "($1,234.50)" },
        { "Euro Currency", "1234.5", "\xE2\x82\xAC 1,234.50" },
        { "Fixed", "1234.567", "1234.57" },
        { "Standard", "1234.567", "1,234.57" },
        { "Percent", "0.1234", "12.34%" },
        { "Scientific", "1234.5", "1.23E+03" },
        { "Yes/No", "2", "Yes" },
        { "Yes/No", "0", "No" },
        { "True/False", "-1", "True" },
        { "On/Off", "0", "Off" },
        { "0", "2.5", "3" },
        { "0.00", "2.5", "2.50" },
        { "#,##0.0", "1234.56", "1,234.6" },
    };
    std::string styles, rows;
    for (size_t i = 0; i < std::size(cases); ++i) {
        styles += Style("s" + std::to_string(i), cases[i].format);
        rows += "<Row>" + Cell("Number", cases[i].value, " ss:StyleID=\"s" + std::to_string(i) + "\"") + "</Row>";
    }
    Application application;
    auto book = application.OpenBytes(Book(styles, Sheet("Formats", rows)), "formats.xml");
    Worksheet& sheet = book->Worksheets().at(0);
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(sheet.CellText(static_cast<int32_t>(i) + 1, 1), cases[i].expected) << cases[i].format;
}

TEST(SpreadsheetMl, StylesInheritThroughTheirParentsAndRowsAndColumns)
{
    // s2 has no format of its own: it takes its parent's, which takes its own parent's.
    // A loop of parents ends in General rather than for ever.
    const std::string styles = Style("s0", "0.000") + Style("s1", {}, "s0") + Style("s2", {}, "s1")
        + Style("loopA", {}, "loopB") + Style("loopB", {}, "loopA") + Style("pct", "0%");
    const std::string rows = "<Column ss:Index=\"3\" ss:StyleID=\"pct\"/>"
                             "<Row>"
        + Cell("Number", "1", " ss:StyleID=\"s2\"") + Cell("Number", "1", " ss:StyleID=\"loopA\"")
        + Cell("Number", "0.5") + Cell("Number", "0.5", " ss:StyleID=\"unknown\"") + "</Row>"
        + "<Row ss:StyleID=\"s0\">" + Cell("Number", "2") + "</Row>";
    Application application;
    auto book = application.OpenBytes(Book(styles, Sheet("Styles", rows)), "styles.xml");
    EXPECT_TRUE(SheetShows(book->Worksheets().at(0), { { "1.000", "1", "50%", "0.5" }, { "2.000", "", "", "" } }));
}

// Each style is resolved once and a cell finds its column's style by search: a long chain
// of parents and thousands of styled columns cost no more than their number.
TEST(SpreadsheetMl, LongParentChainsAndManyColumnStylesResolve)
{
    constexpr int kStyles = 20000;
    std::string styles = Style("c0", "0.0");
    for (int i = 1; i < kStyles; ++i)
        styles += Style("c" + std::to_string(i), {}, "c" + std::to_string(i - 1));
    std::string rows;
    for (int column = 1; column <= 5000; ++column)
        rows += "<Column ss:StyleID=\"c" + std::to_string(column % 2 == 0 ? kStyles - 1 : 0) + "\"/>";
    rows += "<Row>";
    for (int column = 1; column <= 5000; ++column)
        rows += Cell("Number", std::to_string(column));
    rows += "</Row>";
    Application application;
    auto book = application.OpenBytes(Book(styles, Sheet("Deep", rows)), "deep.xml");
    Worksheet& sheet = book->Worksheets().at(0);
    EXPECT_EQ(sheet.CellText(1, 1), "1.0");
    EXPECT_EQ(sheet.CellText(1, 4998), "4998.0");
}

TEST(SpreadsheetMl, IndexGapsAndMergesPlaceCellsInTheGrid)
{
    // B1 spans B1:C2, so the next cell of row 1 is D1; E3 spans E3:E5 and makes row 5 part
    // of the used range though nothing is written there.
    const std::string rows = "<Row ss:Index=\"1\">" + Cell("String", "a")
        + Cell("String", "b", " ss:MergeAcross=\"1\" ss:MergeDown=\"1\"") + Cell("String", "d") + "</Row>" + "<Row>"
        + Cell("String", "a2") + Cell("String", "d2", " ss:Index=\"4\"") + "</Row>" + "<Row ss:Index=\"3\">"
        + Cell("String", "e3", " ss:Index=\"5\" ss:MergeDown=\"2\"") + "</Row>";
    Application application;
    auto book = application.OpenBytes(Book({}, Sheet("Grid", rows)), "grid.xml");
    Worksheet& sheet = book->Worksheets().at(0);
    EXPECT_TRUE(SheetShows(sheet,
        { { "a", "b", "", "d", "" }, { "a2", "", "", "d2", "" }, { "", "", "", "", "e3" }, { "", "", "", "", "" },
            { "", "", "", "", "" } }));

    // A row span leaves empty rows; a used range may start past A1.
    const std::string spans = "<Row ss:Index=\"2\" ss:Span=\"2\">" + Cell("String", "x", " ss:Index=\"3\"") + "</Row>"
        + "<Row>" + Cell("String", "y", " ss:Index=\"3\"") + "</Row>";
    auto spanned = application.OpenBytes(Book({}, Sheet("Spans", spans)), "spans.xml");
    Worksheet& other = spanned->Worksheets().at(0);
    EXPECT_EQ(other.UsedRange().firstRow, 2);
    EXPECT_EQ(other.UsedRange().firstColumn, 3);
    EXPECT_EQ(other.UsedRange().lastRow, 5);
    EXPECT_EQ(other.CellText(5, 3), "y");
}

TEST(SpreadsheetMl, WorkbookPartsListSheetsVisibilityAndDateSystem)
{
    const std::string sheets = Sheet("Shown", "<Row>" + Cell("Number", "1", " ss:StyleID=\"d\"") + "</Row>")
        + Sheet("Hidden", "<Row>" + Cell("String", "h") + "</Row>", "<Visible>SheetHidden</Visible>")
        + Sheet("Deep", {}, "<Visible>SheetVeryHidden</Visible>")
        + Sheet("Last", "<Row>" + Cell("String", "l") + "</Row>");
    const std::string options
        = "<ExcelWorkbook xmlns=\"urn:schemas-microsoft-com:office:excel\"><Date1904/></ExcelWorkbook>";
    Application application;
    auto book = application.OpenBytes(Book(Style("d", "yyyy-mm-dd"), sheets, options), "parts.xml");
    auto& list = book->Worksheets();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].Name(), "Shown");
    EXPECT_EQ(list[1].Visibility(), SheetVisibility::Hidden);
    EXPECT_EQ(list[2].Visibility(), SheetVisibility::VeryHidden);
    EXPECT_EQ(list[3].Visibility(), SheetVisibility::Visible);
    EXPECT_EQ(book->DateSystemInUse(), numfmt::DateSystem::Date1904);
    EXPECT_EQ(list[0].CellText(1, 1), "1904-01-02");
    // Each worksheet loads its own table, in any order.
    EXPECT_EQ(list[3].CellText(1, 1), "l");
    EXPECT_EQ(list[1].CellText(1, 1), "h");
    EXPECT_FALSE(list[2].UsedRange().lastRow > 1);
}

TEST(SpreadsheetMl, DamageIsReportedNotGuessed)
{
    Application application;
    const auto codeOf = [&](const std::string& bytes) {
        return testing::ErrorCodeOf([&] {
            auto book = application.OpenBytes(bytes, "bad.xml");
            for (auto& sheet : book->Worksheets())
                sheet.UsedRange();
        });
    };
    EXPECT_EQ(codeOf(Book({}, Sheet("S", "<Row>" + Cell("String", "x", " ss:Index=\"abc\"") + "</Row>"))),
        ErrorCode::Corrupt);
    EXPECT_EQ(codeOf(Book({}, Sheet("S", "<Row>" + Cell("String", "x", " ss:Index=\"16385\"") + "</Row>"))),
        ErrorCode::Corrupt);
    EXPECT_EQ(codeOf(Book({}, Sheet("S", "<Row ss:Index=\"99999999999\">" + Cell("String", "x") + "</Row>"))),
        ErrorCode::Corrupt);
    EXPECT_EQ(codeOf(Book({}, Sheet("S", "<Row>" + Cell("String", "x")))), ErrorCode::Corrupt);
    // The namespace without the Workbook root is some other XML.
    EXPECT_EQ(codeOf("<?xml version=\"1.0\"?><Other xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\"/>"),
        ErrorCode::NotAWorkbook);
    EXPECT_EQ(codeOf("<?xml version=\"1.0\"?><data><row>1</row></data>"), ErrorCode::NotAWorkbook);
}

// The document as UTF-16 code units, little- or big-endian, after a byte-order mark or none.
std::string Utf16(const std::string& utf8, bool bigEndian, bool mark)
{
    std::string out = mark ? (bigEndian ? "\xFE\xFF" : "\xFF\xFE") : "";
    const auto put = [&](uint32_t unit) {
        const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        out += bigEndian ? std::string { high, low } : std::string { low, high };
    };
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        uint32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k)
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += length;
        if (code >= 0x10000) {
            put(0xD800 + ((code - 0x10000) >> 10));
            put(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            put(code);
        }
    }
    return out;
}

TEST(SpreadsheetMl, Utf16DocumentsReadAsTheirUtf8Form)
{
    // Text past ASCII and past the first plane, a number through a style, and a second
    // worksheet lying beyond the first megabyte, so that the conversion goes on across
    // pieces and the reader passes over the first table.
    std::string rows;
    for (int r = 0; r < 20000; ++r)
        rows += "<Row>" + Cell("String", "caf\xC3\xA9 \xF0\x9F\x98\x80 " + std::to_string(r)) + "</Row>";
    std::string book = Book(Style("p", "0.0%"),
        Sheet("Premi\xC3\xA8re", rows)
            + Sheet("Second", "<Row>" + Cell("Number", "0.25", " ss:StyleID=\"p\"") + "</Row>"));
    book.replace(0, book.find("?>"), "<?xml version=\"1.0\" encoding=\"UTF-16\"");
    Application application;
    for (const bool bigEndian : { false, true }) {
        for (const bool mark : { true, false }) {
            SCOPED_TRACE(std::string(bigEndian ? "big" : "little") + (mark ? " with its mark" : " without a mark"));
            const std::string bytes = Utf16(book, bigEndian, mark);
            ASSERT_GT(bytes.size(), size_t { 2 } << 20);
            auto opened = application.OpenBytes(bytes, "wide.xml");
            auto& sheets = opened->Worksheets();
            ASSERT_EQ(sheets.size(), 2u);
            EXPECT_EQ(sheets[0].Name(), "Premi\xC3\xA8re");
            EXPECT_EQ(sheets[1].CellText(1, 1), "25.0%");
            EXPECT_EQ(sheets[0].CellText(1, 1), "caf\xC3\xA9 \xF0\x9F\x98\x80 0");
            EXPECT_EQ(sheets[0].CellText(20000, 1), "caf\xC3\xA9 \xF0\x9F\x98\x80 19999");
        }
    }
}

TEST(SpreadsheetMl, DamagedOrForeignUtf16IsRefused)
{
    Application application;
    const auto readAll = [&](const std::string& bytes) {
        return [&application, bytes] {
            auto book = application.OpenBytes(bytes, "wide.xml");
            for (auto& sheet : book->Worksheets())
                sheet.UsedRange();
        };
    };
    const std::string good = Utf16(Book({}, Sheet("S", "<Row>" + Cell("String", "x") + "</Row>")), false, true);
    // A lone surrogate in a cell, and the document cut in the middle of a code unit.
    std::string surrogate = good;
    const size_t x = surrogate.find(std::string("x\0<\0", 4));
    ASSERT_NE(x, std::string::npos);
    surrogate.replace(x, 2, std::string("\x00\xDC", 2));
    testing::ExpectFailure(readAll(surrogate), ErrorCode::Corrupt, { "wide.xml", "byte " + std::to_string(x) });
    testing::ExpectFailure(readAll(good + "<"), ErrorCode::Corrupt, { "wide.xml", "UTF-16" });
    // UTF-16 XML of another kind is no workbook, nor a table of its markup.
    EXPECT_EQ(testing::ErrorCodeOf(readAll(Utf16("<?xml version=\"1.0\"?><data><row>1</row></data>", false, true))),
        ErrorCode::NotAWorkbook);
}

// The application writes a control character of a cell's text as a reference the XML
// rules forbid (&#7;) and reads it back as the character: so is it read here, the rest
// of the document reading as always, wherever the document's pieces are cut.
TEST(SpreadsheetMl, ControlCharacterReferencesReadAsTheApplicationReadsThem)
{
    Application application;
    const struct {
        const char* written;
        std::string read;
    } cases[] = {
        { "a&#7;b",
            "a\x07"
            "b" },
        { "&#x1F;&#X1b;&#0;", std::string("\x1F\x1B\0", 3) },
        { "line&#10;tab&#9;&amp;&#65;", "line\ntab\t&A" },
        { "&#00007;", "\x07" },
        { "&#8;&#xC;&#x7f;", "\x08\x0C\x7F" },
    };
    for (const auto& c : cases) {
        const std::string book = Book({},
            Sheet("S", "<Row>" + Cell("String", c.written) + Cell("String", "next") + "</Row>")
                + Sheet("T", "<Row>" + Cell("Number", "2") + "</Row>"));
        auto opened = application.OpenBytes(book, "controls.xml");
        auto& sheets = opened->Worksheets();
        ASSERT_EQ(sheets.size(), 2u) << c.written;
        EXPECT_EQ(sheets[0].CellText(1, 1), c.read) << c.written;
        EXPECT_EQ(sheets[0].CellText(1, 2), "next") << c.written;
        EXPECT_EQ(sheets[1].CellText(1, 1), "2") << c.written;
    }
    // A reference cut by the end of the reader's first megabyte, at each of its bytes.
    const std::string reference = "&#x1B;";
    for (size_t cut = 1; cut < reference.size(); ++cut) {
        const std::string head = Book({}, "");
        std::string book = head.substr(0, head.rfind("</Workbook>"));
        const std::string start = "<Worksheet ss:Name=\"S\"><Table><Row><Cell><Data ss:Type=\"String\">";
        book += "<!--" + std::string((size_t { 1 } << 20) - book.size() - start.size() - 4 - 3 - cut, 'x') + "-->";
        book += start + reference + "z</Data></Cell></Row></Table></Worksheet></Workbook>";
        ASSERT_EQ(book.find(reference), (size_t { 1 } << 20) - cut);
        auto opened = application.OpenBytes(book, "cut.xml");
        EXPECT_EQ(opened->Worksheets().at(0).CellText(1, 1), "\x1Bz") << "cut after " << cut;
    }
}

} // namespace
} // namespace vellumcast::spreadsheet
