#include "spreadsheet/Workbook.h"
#include "support/Failures.h"
#include "support/SheetGrid.h"
#include "support/TempDir.h"
#include "support/XlsxWriter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellumcast::spreadsheet {
namespace {

using testing::Fixture;
using testing::Grid;

Grid ReadGrid(Worksheet& sheet)
{
    return testing::TextsOf(sheet);
}

std::string Range(Worksheet& sheet)
{
    const CellRange r = sheet.UsedRange();
    return testing::XlsxWriter::Reference(r.firstRow, r.firstColumn) + ":"
        + testing::XlsxWriter::Reference(r.lastRow, r.lastColumn);
}

// The XML declaration and the root element, with the namespaces the tests use.
std::string Header(const std::string& root)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><" + root
        + " xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\""
          " xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\""
          " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\""
          " xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\""
          " xmlns:number=\"urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0\""
          " xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\""
          " xmlns:dc=\"http://purl.org/dc/elements/1.1/\">";
}

// An .ods package whose content.xml body holds these tables.
std::string Package(const std::string& tables, const std::string& styles = {}, const std::string& manifest = {})
{
    testing::ZipWriter zip;
    zip.Add("mimetype", "application/vnd.oasis.opendocument.spreadsheet");
    zip.Add("content.xml",
        Header("office:document-content") + "<office:automatic-styles>" + styles
            + "</office:automatic-styles><office:body><office:spreadsheet>" + tables
            + "</office:spreadsheet></office:body></office:document-content>",
        true);
    if (!manifest.empty())
        zip.Add("META-INF/manifest.xml", manifest);
    return zip.Finish();
}

std::string Table(const std::string& name, const std::string& rows)
{
    return "<table:table table:name=\"" + name + "\">" + rows + "</table:table>";
}

std::string Cell(const std::string& paragraphs, const std::string& attributes = " office:value-type=\"string\"")
{
    return "<table:table-cell" + attributes + ">" + paragraphs + "</table:table-cell>";
}

Grid ReadOne(const std::string& rows)
{
    Application application;
    auto book = application.OpenBytes(Package(Table("S", rows)), "t.ods");
    return ReadGrid(book->Worksheets().front());
}

TEST(OdsReader, ReadsDisplayedTextOfFixtures)
{
    Application application;
    auto date = application.Open(Fixture("workbooks/date.ods"));
    ASSERT_EQ(date->Worksheets().size(), 1u);
    EXPECT_EQ(ReadGrid(date->Worksheets()[0]),
        (Grid {
            { "01/01/2021", "15" }, { "01/01/2021 10:10 AM", "16" }, { "10:10:10", "17" }, { "10:10:10.12", "18" } }));

    // A merged cell shows its text once; the covered cells under it are empty even when
    // they keep an old value.
    auto covered = application.Open(Fixture("workbooks/covered.ods"));
    EXPECT_EQ(ReadGrid(covered->Worksheets()[0]), (Grid { { "a1" }, { "a2" } }));
    auto merged = application.Open(Fixture("workbooks/merged_cells.ods"));
    EXPECT_EQ(ReadGrid(merged->Worksheets()[0]), (Grid { { "A", "B", "C" }, { "A", "B", "C" }, { "", "", "C" } }));

    auto special = application.Open(Fixture("workbooks/unusual_cells.ods"));
    EXPECT_EQ(ReadGrid(special->Worksheets()[0]),
        (Grid { { "Split\nLine" }, { "Value  With spaces" }, { "Value   With 3 spaces" },
            { " Value   With spaces before and after " }, { "  Value   With 2 spaces before and after  " } }));
}

TEST(OdsReader, CoveredCellsAreEmptyWhateverTheyStillHold)
{
    // A 2 by 3 merge: the covered cells keep old paragraphs, values or both, repeated or
    // not, and the cell after them still lands in its own column.
    const std::string covered = "<table:covered-table-cell office:value-type=\"string\"><text:p>old</text:p>"
                                "</table:covered-table-cell>"
                                "<table:covered-table-cell office:value-type=\"float\" office:value=\"7\"/>";
    const Grid grid = ReadOne("<table:table-row>"
                              "<table:table-cell table:number-columns-spanned=\"3\" table:number-rows-spanned=\"2\""
                              " office:value-type=\"string\"><text:p>merged</text:p></table:table-cell>"
        + covered + Cell("<text:p>right</text:p>") + "</table:table-row><table:table-row>"
        + "<table:covered-table-cell table:number-columns-repeated=\"2\" office:value-type=\"float\""
          " office:value=\"3\"><text:p>3</text:p></table:covered-table-cell>"
        + covered.substr(0, covered.find("<table:covered-table-cell office:value-type=\"float\""))
        + Cell("<text:p>below</text:p>") + "</table:table-row>");
    EXPECT_EQ(grid, (Grid { { "merged", "", "", "right" }, { "", "", "", "below" } }));
}

TEST(OdsReader, CountsRepeatedRowsAndColumns)
{
    Application application;
    auto book = application.Open(Fixture("workbooks/number_rows_repeated.ods"));
    auto& sheets = book->Worksheets();
    ASSERT_EQ(sheets.size(), 3u);
    const Grid expected
        = { { "A", "B" }, { "C", "D" }, { "C", "D" }, { "", "" }, { "", "" }, { "C", "D" }, { "", "" }, { "C", "D" } };
    // Each sheet has the same block, one row lower than the sheet before; the empty
    // rows repeated to the sheet's end leave the used range alone.
    EXPECT_EQ(Range(sheets[0]), "A1:B8");
    EXPECT_EQ(ReadGrid(sheets[0]), expected);
    EXPECT_EQ(Range(sheets[1]), "A2:B9");
    EXPECT_EQ(ReadGrid(sheets[1]), expected);
    EXPECT_EQ(Range(sheets[2]), "A3:B10");

    auto empty = application.Open(Fixture("workbooks/multi-empty.ods"));
    EXPECT_EQ(Range(empty->Worksheets()[0]), "A1:A13");
    EXPECT_EQ(empty->Worksheets()[0].CellText(13, 1), "zzz");
    EXPECT_EQ(empty->Worksheets()[0].CellText(6, 1), "");
}

TEST(OdsReader, ListsSheetsInOrderWithHiddenOnes)
{
    Application application;
    auto book = application.Open(Fixture("workbooks/any_sheets.ods"));
    auto& sheets = book->Worksheets();
    ASSERT_EQ(sheets.size(), 4u);
    EXPECT_EQ(sheets[0].Name(), "Visible");
    EXPECT_EQ(sheets[0].Visibility(), SheetVisibility::Visible);
    EXPECT_EQ(sheets[1].Name(), "Hidden");
    EXPECT_EQ(sheets[1].Visibility(), SheetVisibility::Hidden);
    EXPECT_EQ(sheets[2].Name(), "VeryHidden");
    EXPECT_EQ(sheets[2].Visibility(), SheetVisibility::Hidden);
    EXPECT_EQ(sheets[3].Name(), "Chart");
    EXPECT_EQ(ReadGrid(sheets[0]),
        (Grid { { "1", "2" }, { "3", "4" }, { "5", "6" }, { "", "" },
            { "This workbook contains 4 sheets: Visible, Hidden, VeryHidden and Chart", "" } }));
    EXPECT_EQ(Range(sheets[1]), "A1:A1");

    auto eight = application.Open(Fixture("workbooks/issue127.ods"));
    ASSERT_EQ(eight->Worksheets().size(), 8u);
    EXPECT_EQ(eight->Worksheets()[7].Name(), "Sheet8");
    EXPECT_FALSE(eight->Worksheets()[7].UsedRange().lastRow > 1);

    // Sheet names in any script; a picture anchored in a cell is not its text.
    auto picture = application.Open(Fixture("workbooks/picture.ods"));
    ASSERT_EQ(picture->Worksheets().size(), 3u);
    EXPECT_EQ(picture->Worksheets()[0].Name(),
        "\xE5\xB7\xA5\xE4\xBD\x9C\xE8\xA1\xA8"
        "1");
    EXPECT_EQ(picture->Worksheets()[0].CellText(1, 1), "");
}

// Going through the worksheets in turn lists each only once the one before is done
// with, whether that one was read, read part way or not at all; the names, visibility
// and cells come out as the whole list gives them, and the damage past the last
// worksheet is found only when the list is read on to it.
TEST(OdsReader, WorksheetsInTurnAreListedAsTheReadsGoOn)
{
    const std::vector<std::string> fixtures { "workbooks/any_sheets.ods", "workbooks/issue127.ods",
        "workbooks/issues.ods", "workbooks/picture.ods" };
    for (const std::string& fixture : fixtures) {
        SCOPED_TRACE(fixture);
        for (const int readEvery : { 1, 2, 3 }) {
            Application application;
            auto whole = application.Open(Fixture(fixture));
            auto& listed = whole->Worksheets();
            auto book = application.Open(Fixture(fixture));
            size_t index = 0;
            for (Worksheet& sheet : book->WorksheetsInTurn()) {
                ASSERT_LT(index, listed.size());
                EXPECT_EQ(sheet.Name(), listed[index].Name());
                EXPECT_EQ(sheet.Visibility(), listed[index].Visibility());
                if (index % readEvery == 0) {
                    EXPECT_EQ(ReadGrid(sheet), ReadGrid(listed[index])) << sheet.Name();
                }
                ++index;
            }
            EXPECT_EQ(index, listed.size());
            EXPECT_EQ(book->Worksheets().size(), listed.size());
        }
    }

    const std::string row = "<table:table-row>" + Cell("<text:p>ok</text:p>") + "</table:table-row>";
    Application application;
    auto book = application.OpenBytes(Package(Table("A", row) + Table("B", row) + "<bogus:x/>"), "t.ods");
    auto inTurn = book->WorksheetsInTurn();
    auto sheet = inTurn.begin();
    for (const std::string name : { "A", "B" }) {
        ASSERT_FALSE(sheet == inTurn.end());
        EXPECT_EQ((*sheet).Name(), name);
        EXPECT_EQ(ReadGrid(*sheet), (Grid { { "ok" } })); // damage past a worksheet is not its own
        ++sheet;
    }
    EXPECT_EQ(testing::ErrorCodeOf([&] { (void)(sheet == inTurn.end()); }), ErrorCode::Corrupt);
    EXPECT_EQ(testing::ErrorCodeOf([&] { book->Worksheets(); }), ErrorCode::Corrupt);
}

TEST(OdsReader, LoadsSheetsInAnyOrderAndAgain)
{
    Application application;
    auto book = application.Open(Fixture("workbooks/issues.ods"));
    auto& sheets = book->Worksheets();
    ASSERT_GE(sheets.size(), 6u);
    EXPECT_EQ(sheets[5].Name(), "spc_chrs");
    EXPECT_EQ(sheets[5].CellText(1, 1), "&");
    EXPECT_EQ(sheets[5].CellText(2, 1), "<");
    EXPECT_EQ(sheets[5].CellText(4, 1), "aaa ' aaa");
    EXPECT_EQ(sheets[0].Name(), "datatypes");
    EXPECT_EQ(ReadGrid(sheets[0]), (Grid { { "1" }, { "1.5" }, { "ab" }, { "FALSE" }, { "test" }, { "10/20/2016" } }));
    EXPECT_EQ(sheets[2].CellText(3, 2), "c");
    // The first sheet again, after others were loaded.
    EXPECT_EQ(sheets[0].CellText(6, 1), "10/20/2016");
}

TEST(OdsReader, ADamagedWorksheetFailsAloneWhenItIsLoaded)
{
    // Opening lists the worksheets without reading their cells, so damage inside one is
    // found when that worksheet is loaded, and the others still read.
    const std::string row = "<table:table-row>" + Cell("<text:p>ok</text:p>") + "</table:table-row>";
    const std::string damaged = "<table:table-row>" + Cell("<text:p>&bogus;</text:p>") + "</table:table-row>";
    const std::string nested = "<table:table table:name=\"inner\"><table:table-row/></table:table>";
    Application application;
    auto book = application.OpenBytes(
        Package(Table("A", row) + Table("B", damaged) + Table("C", row + nested) + Table("D", row)), "t.ods");
    auto& sheets = book->Worksheets();
    ASSERT_EQ(sheets.size(), 4u);
    EXPECT_EQ(sheets[2].Name(), "C");
    EXPECT_EQ(sheets[3].Name(), "D");
    EXPECT_EQ(testing::ErrorCodeOf([&] { sheets[1].UsedRange(); }), ErrorCode::Corrupt);
    for (const size_t index : { size_t(3), size_t(0), size_t(2) })
        EXPECT_EQ(ReadGrid(sheets[index]), (Grid { { "ok" } })) << sheets[index].Name();
}

TEST(OdsReader, RefusesEncryptedPackages)
{
    Application application;
    try {
        application.Open(Fixture("workbooks/pass_protected.ods"));
        FAIL() << "expected PasswordProtected";
    } catch (const SpreadsheetError& error) {
        EXPECT_EQ(error.code(), ErrorCode::PasswordProtected);
        EXPECT_NE(std::string(error.what()).find("password-protected"), std::string::npos);
    }
}

TEST(OdsReader, RepeatedFilledCellsCannotExhaustMemory)
{
    // A filled cell repeated a billion times in a row repeated a billion times.
    Application application;
    auto book = application.Open(Fixture("workbooks/issue_594_dos.ods"));
    testing::ExpectFailure(
        [&] { book->Worksheets().front().UsedRange(); }, ErrorCode::TooLarge, { "issue_594_dos.ods" });
}

TEST(OdsReader, RepetitionMayAddOnlyWhatASmallSheetHoldsBeyondItsText)
{
    // Each repeated copy of a short cell costs 16 bytes more than the text it exports, so
    // repetition is bounded near 32 MiB: 1,500 rows of 1,000 three-letter cells (28.5 MB)
    // load, 2,000 rows (38 MB) are refused, whichever worksheet is read first.
    const auto rows = [](int count) {
        return "<table:table-row table:number-rows-repeated=\"" + std::to_string(count) + "\">"
            + Cell("<text:p>abc</text:p>", " table:number-columns-repeated=\"1000\"") + "</table:table-row>";
    };
    Application application;
    auto within = application.OpenBytes(Package(Table("S", rows(1500))), "within.ods");
    EXPECT_EQ(Range(within->Worksheets().front()), "A1:ALL1500");
    for (const std::string& tables : { Table("S", rows(2000)), Table("A", "") + Table("S", rows(2000)) }) {
        auto over = application.OpenBytes(Package(tables), "over.ods");
        testing::ExpectFailure(
            [&] { over->Worksheets().back().UsedRange(); }, ErrorCode::TooLarge, { "over.ods", "\"S\"" });
    }
}

TEST(OdsReader, SpacesExpandedFromAFewBytesAreBoundedByTheFile)
{
    // text:s asks for 65,535 spaces in 20 bytes: 200,000 such cells compress to a few
    // hundred kilobytes and would expand to 13 GB. The sheet is refused once its texts
    // pass what a file of this size may hold.
    const std::string cell = Cell("<text:p><text:s text:c=\"65535\"/></text:p>");
    std::string row = "<table:table-row>";
    for (int i = 0; i < 100; ++i)
        row += cell;
    row += "</table:table-row>";
    std::string rows;
    for (int i = 0; i < 2000; ++i)
        rows += row;
    Application application;
    auto book = application.OpenBytes(Package(Table("Spaces", rows)), "spaces.ods");
    testing::ExpectFailure(
        [&] { book->Worksheets().front().UsedRange(); }, ErrorCode::TooLarge, { "spaces.ods", "\"Spaces\"" });
}

TEST(OdsReader, ResolvesParagraphMarkup)
{
    struct Case {
        const char* what;
        std::string cell;
        std::string expected;
    };
    const Case cases[] = {
        { "paragraphs joined by line breaks", "<text:p>one</text:p><text:p>two</text:p><text:p/>", "one\ntwo\n" },
        { "spans and links give their text", "<text:p>a<text:span>b<text:a>c</text:a></text:span>d</text:p>", "abcd" },
        { "text:s, text:tab, text:line-break",
            "<text:p>a<text:s text:c=\"3\"/>b<text:tab/>c<text:line-break/>d</text:p>", "a   b\tc\nd" },
        { "white space in the XML collapses", "<text:p>\n  a \t\n b  </text:p>", "a b " },
        { "annotations are no cell text",
            "<office:annotation><dc:creator>me</dc:creator><text:p>note</text:p></office:annotation><text:p>shown</"
            "text:p>",
            "shown" },
        { "a drawing anchored in the cell is no cell text",
            "<draw:frame><draw:text-box><text:p>shape</text:p></draw:text-box></draw:frame><text:p>x</text:p>", "x" },
        { "a huge space count is bounded", "<text:p>a<text:s text:c=\"999999999999\"/></text:p>",
            "a" + std::string(65535, ' ') },
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadOne("<table:table-row>" + Cell(c.cell) + "</table:table-row>"), (Grid { { c.expected } }))
            << c.what;
}

TEST(OdsReader, ShowsValuesWithoutParagraphs)
{
    const std::string row = "<table:table-row>" + Cell("", " office:value-type=\"float\" office:value=\"2.5\"")
        + Cell("", " office:value-type=\"date\" office:date-value=\"2020-01-02\"")
        + Cell("", " office:value-type=\"boolean\" office:boolean-value=\"true\"")
        + Cell("", " office:value-type=\"string\" office:string-value=\"s\"")
        + Cell("", " office:value-type=\"time\" office:time-value=\"PT1H\"")
        + Cell("<text:p>shown</text:p>", " office:value-type=\"float\" office:value=\"9\"") + "</table:table-row>";
    EXPECT_EQ(ReadOne(row), (Grid { { "2.5", "2020-01-02", "TRUE", "s", "PT1H", "shown" } }));
}

TEST(OdsReader, MaterialisesRepeatedFilledCellsWithinSheetLimits)
{
    // Styled empty cells never count; filled ones count once per repetition.
    const std::string rows = "<table:table-header-rows><table:table-row>" + Cell("<text:p>h</text:p>")
        + "</table:table-row></table:table-header-rows>"
          "<table:table-row-group><table:table-row table:number-rows-repeated=\"2\">"
          "<table:table-cell table:style-name=\"ce1\" table:number-columns-repeated=\"5\"/>"
        + Cell("<text:p>x</text:p>", " table:number-columns-repeated=\"2\"")
        + "<table:table-cell table:style-name=\"ce1\" table:number-columns-repeated=\"16000\"/>"
          "</table:table-row></table:table-row-group>"
          "<table:table-row table:number-rows-repeated=\"1048000\"><table:table-cell "
          "table:number-columns-repeated=\"16384\"/></table:table-row>";
    Application application;
    auto book = application.OpenBytes(Package(Table("S", rows)), "t.ods");
    Worksheet& sheet = book->Worksheets().front();
    EXPECT_EQ(Range(sheet), "A1:G3");
    EXPECT_EQ(sheet.CellText(1, 1), "h");
    EXPECT_EQ(sheet.CellText(2, 6), "x");
    EXPECT_EQ(sheet.CellText(3, 7), "x");
    EXPECT_EQ(sheet.CellText(2, 5), "");

    // A filled row repeated past the last row stops at it; a cell repeated past the last
    // column stops at it.
    const std::string edge = "<table:table-row table:number-rows-repeated=\"1048574\"/>"
                             "<table:table-row table:number-rows-repeated=\"99\">"
        + Cell("<text:p>y</text:p>", " table:number-columns-repeated=\"16383\"")
        + Cell("<text:p>z</text:p>", " table:number-columns-repeated=\"7\"") + Cell("<text:p>lost</text:p>")
        + "</table:table-row>" + "<table:table-row>" + Cell("<text:p>lost</text:p>") + "</table:table-row>";
    auto tall = application.OpenBytes(Package(Table("S", edge)), "t.ods");
    Worksheet& last = tall->Worksheets().front();
    EXPECT_EQ(Range(last), "A1048575:XFD1048576");
    EXPECT_EQ(last.CellText(kMaxRows, kMaxColumns - 1), "y");
    EXPECT_EQ(last.CellText(kMaxRows, kMaxColumns), "z");
}

TEST(OdsReader, ReadsFlatDocuments)
{
    const std::string flat = Header("office:document")
        + "<office:automatic-styles><style:style style:name=\"ta2\" style:family=\"table\">"
          "<style:table-properties table:display=\"false\"/></style:style></office:automatic-styles>"
          "<office:body><office:spreadsheet>"
        + Table("One", "<table:table-row>" + Cell("<text:p>1</text:p>") + "</table:table-row>")
        + "<table:table table:name=\"Two\" table:style-name=\"ta2\"><table:table-row>" + Cell("<text:p>2</text:p>")
        + "</table:table-row></table:table></office:spreadsheet></office:body></office:document>";
    testing::TempDir dir;
    Application application;
    auto book = application.Open(dir.Write("flat.fods", flat));
    ASSERT_EQ(book->Worksheets().size(), 2u);
    EXPECT_EQ(book->Worksheets()[1].Name(), "Two");
    EXPECT_EQ(book->Worksheets()[1].Visibility(), SheetVisibility::Hidden);
    EXPECT_EQ(book->Worksheets()[1].CellText(1, 1), "2");
    EXPECT_EQ(book->Worksheets()[0].CellText(1, 1), "1");
}

TEST(OdsReader, ReadsContentInOtherEncodings)
{
    std::string content = Header("office:document-content")
        + "<office:body><office:spreadsheet><table:table table:name=\"Caf\xE9\"><table:table-row>"
        + Cell("<text:p>cr\xE8me</text:p>")
        + "</table:table-row></table:table></office:spreadsheet>"
          "</office:body></office:document-content>";
    content.replace(content.find("UTF-8"), 5, "ISO-8859-1");
    // The declaration padded past its first kilobyte names the encoding all the same.
    std::string padded = content;
    padded.insert(padded.find(" encoding"), std::string(1100, ' '));
    for (const std::string& document : { content, padded }) {
        testing::ZipWriter zip;
        zip.Add("mimetype", "application/vnd.oasis.opendocument.spreadsheet");
        zip.Add("content.xml", document);
        Application application;
        auto book = application.OpenBytes(zip.Finish(), "latin1.ods");
        EXPECT_EQ(book->Worksheets()[0].Name(), "Caf\xC3\xA9");
        EXPECT_EQ(book->Worksheets()[0].CellText(1, 1), "cr\xC3\xA8me");
    }
}

TEST(OdsReader, ReportsDamage)
{
    Application application;
    // Content cut off in the middle of a table.
    testing::ZipWriter zip;
    zip.Add("mimetype", "application/vnd.oasis.opendocument.spreadsheet");
    zip.Add("content.xml",
        Header("office:document-content")
            + "<office:body><office:spreadsheet><table:table table:name=\"S\">"
              "<table:table-row><table:table-cell>");
    try {
        auto book = application.OpenBytes(zip.Finish(), "cut.ods");
        book->Worksheets().front().UsedRange();
        FAIL() << "expected Corrupt";
    } catch (const SpreadsheetError& error) {
        EXPECT_EQ(error.code(), ErrorCode::Corrupt);
    }
    // A package without content.
    testing::ZipWriter empty;
    empty.Add("mimetype", "application/vnd.oasis.opendocument.spreadsheet");
    try {
        application.OpenBytes(empty.Finish(), "empty.ods");
        FAIL() << "expected Corrupt";
    } catch (const SpreadsheetError& error) {
        EXPECT_EQ(error.code(), ErrorCode::Corrupt);
    }
    // An encryption entry in the manifest for content.xml.
    const std::string manifest
        = "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\">"
          "<manifest:file-entry manifest:full-path=\"content.xml\"><manifest:encryption-data/></manifest:file-entry>"
          "</manifest:manifest>";
    try {
        application.OpenBytes(Package(Table("S", ""), "", manifest), "locked.ods");
        FAIL() << "expected PasswordProtected";
    } catch (const SpreadsheetError& error) {
        EXPECT_EQ(error.code(), ErrorCode::PasswordProtected);
    }
    // As OpenOffice.org 2 wrote it: its own namespace, and a document type naming the definition.
    const std::string older = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE manifest:manifest PUBLIC "
                              "\"-//OpenOffice.org//DTD Manifest 1.0//EN\" \"Manifest.dtd\">"
                              "<manifest:manifest xmlns:manifest=\"http://openoffice.org/2001/manifest\">"
                              "<manifest:file-entry manifest:full-path=\"content.xml\"><manifest:encryption-data/>"
                              "</manifest:file-entry></manifest:manifest>";
    EXPECT_EQ(testing::ErrorCodeOf([&] { application.OpenBytes(Package(Table("S", ""), "", older), "old.ods"); }),
        ErrorCode::PasswordProtected);
}

// A time under a day shown by a style that counts past a day ([HH]:MM) is a duration,
// its raw value a number of days as in xlsx, its ISO text the one displayed; under any
// other style it stays a time of day. The style is the cell's own, else its column's.
TEST(OdsReader, DurationsUnderADayAreNumbersOfDays)
{
    const std::string styles
        = "<number:time-style style:name=\"N1\" number:truncate-on-overflow=\"false\"><number:hours/>"
          "<number:text>:</number:text><number:minutes/></number:time-style>"
          "<number:time-style style:name=\"N2\"><number:hours/><number:text>:</number:text><number:minutes/>"
          "</number:time-style>"
          "<style:style style:name=\"ce1\" style:family=\"table-cell\" style:data-style-name=\"N1\"/>"
          "<style:style style:name=\"ce2\" style:family=\"table-cell\" style:data-style-name=\"N2\"/>";
    const auto time = [](const std::string& style, const std::string& text) {
        return Cell("<text:p>" + text + "</text:p>",
            (style.empty() ? "" : " table:style-name=\"" + style + "\"")
                + " office:value-type=\"time\" office:time-value=\"PT01H30M00S\"");
    };
    const std::string rows = "<table:table-column table:default-cell-style-name=\"ce1\"/>"
                             "<table:table-column table:number-columns-repeated=\"3\"/><table:table-row>"
        + time("", "90:00") + time("ce1", "01:30") + time("ce2", "01:30") + time("", "01:30") + "</table:table-row>";
    Application application;
    auto book = application.OpenBytes(Package(Table("S", rows), styles), "durations.ods");
    Worksheet& sheet = book->Worksheets().front();
    const char* raw[] = { "0.0625", "0.0625", "01:30:00", "01:30:00" };
    const char* iso[] = { "90:00", "01:30", "01:30:00", "01:30:00" };
    for (int c = 1; c <= 4; ++c) {
        EXPECT_EQ(sheet.CellText(1, c, CellTextStyle::Raw), raw[c - 1]) << c;
        EXPECT_EQ(sheet.CellText(1, c, CellTextStyle::IsoDates), iso[c - 1]) << c;
    }
}

} // namespace
} // namespace vellumcast::spreadsheet
