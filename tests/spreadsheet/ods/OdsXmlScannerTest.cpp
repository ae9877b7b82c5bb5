#include "spreadsheet/ods/OdsXmlScanner.h"
#include "support/Failures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellumcast::spreadsheet::ods {
namespace {

struct Recorded {
    std::vector<std::string> cells; // "row,column=text"
    std::vector<SheetEntry> sheets;
};

class RecordingSink final : public OdsCellSink {
public:
    bool Add(int32_t row, int32_t column, std::string_view text) override
    {
        cells.push_back(std::to_string(row) + "," + std::to_string(column) + "=" + std::string(text));
        return true;
    }
    std::vector<std::string> cells;
};

// Scans the document in pieces of pieceSize bytes (0: all at once), loading table target.
Recorded Scan(const std::string& document, size_t pieceSize = 0, size_t target = 0, bool directCells = true)
{
    RecordingSink sink;
    OdsContentHandler handler(target, &sink, uint64_t { 1 } << 30);
    OdsXmlScanner scanner(handler, directCells);
    if (pieceSize == 0) {
        scanner.Feed(document, true);
    } else {
        for (size_t at = 0; at < document.size(); at += pieceSize)
            scanner.Feed(std::string_view(document).substr(at, pieceSize), at + pieceSize >= document.size());
    }
    return { sink.cells, handler.Sheets() };
}

ErrorCode ScanFails(const std::string& document)
{
    return testing::ErrorCodeOf([&] { Scan(document); });
}

const std::string kNamespaces
    = " xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\""
      " xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\""
      " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\""
      " xmlns:calcext=\"urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0\"";

std::string Document(const std::string& tables)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- saved by hand -->\n<office:document-content" + kNamespaces
        + "><office:body><office:spreadsheet>" + tables
        + "</office:spreadsheet></office:body></office:document-content>\n";
}

TEST(OdsXmlScanner, GivesTheSameResultWhereverThePiecesAreCut)
{
    const std::string document = Document(
        "<table:table table:name=\"A &amp; B\"><table:table-row>"
        "<table:table-cell office:value-type='string' office:string-value=\"a>b\"><text:p>x &lt;&#x263A;&#65;"
        "<![CDATA[<raw> & ]]></text:p></table:table-cell>"
        "<!-- a comment with <tags> --><?pi data?>"
        "<table:table-cell   table:number-columns-repeated = \"2\" ><text:p>r</text:p></table:table-cell >"
        "<table:table-cell/><table:table-cell office:value-type=\"float\" office:value=\"7\"/>"
        "</table:table-row></table:table>");
    const Recorded whole = Scan(document);
    const std::vector<std::string> expected = { "1,1=x <\xE2\x98\xBA"
                                                "A<raw> & ",
        "1,2=r", "1,3=r", "1,5=7" };
    EXPECT_EQ(whole.cells, expected);
    ASSERT_EQ(whole.sheets.size(), 1u);
    EXPECT_EQ(whole.sheets[0].name, "A & B");
    for (size_t size = 1; size <= 64; ++size) {
        const Recorded cut = Scan(document, size);
        EXPECT_EQ(cut.cells, expected) << "pieces of " << size;
        EXPECT_EQ(cut.sheets.size(), 1u) << "pieces of " << size;
    }
}

TEST(OdsXmlScanner, ReadsLongNamesAndValuesAndLookAlikePrefixesWhereverCut)
{
    // Names, values and text longer than the scanner's sixteen-byte steps, white space of
    // every kind around '=', and prefixes that differ in one byte or in length only.
    const std::string table = "urn:oasis:names:tc:opendocument:xmlns:table:1.0";
    const std::string longValue = "a value longer than sixty-four bytes, with a > and a ' inside: 0123456789";
    const std::string longText = "a paragraph longer than sixty-four bytes, so the search for its end runs on";
    const std::string document = "<office:document-content" + kNamespaces + " xmlns:t=\"" + table + "\" xmlns:tb=\""
        + table + "\" xmlns:tabletab=\"" + table + "\" xmlns:averylongtableprefix=\"" + table
        + "\" xmlns:tt=\"urn:other\" xmlns:tabletac=\"urn:other\" xmlns:tablf=\"urn:other\">"
          "<office:body><office:spreadsheet><t:table t:name=\"S\"><tb:table-row>"
          "<tabletab:table-cell tabletac:number-columns-repeated=\"3\"><text:p>a</text:p></tabletab:table-cell>"
          "<averylongtableprefix:table-cell\n\taverylongtableprefix:number-columns-repeated\t=\r\n'2'>"
          "<text:p>"
        + longText
        + "</text:p></averylongtableprefix:table-cell\n>"
          "<tb:table-cell tt:number-columns-repeated=\"4\"\ttb:number-columns-repeated=\"2\"   "
          "office:value-type=\"string\" office:string-value=\""
        + longValue
        + "\"/>"
          "<tablf:table-cell><text:p>ignored</text:p></tablf:table-cell>"
          "<table:table-cell><text:p>z</text:p></table:table-cell>"
          "</tb:table-row></t:table></office:spreadsheet></office:body></office:document-content>";
    const std::vector<std::string> expected
        = { "1,1=a", "1,2=" + longText, "1,3=" + longText, "1,4=" + longValue, "1,5=" + longValue, "1,6=z" };
    EXPECT_EQ(Scan(document).cells, expected);
    for (size_t size = 1; size <= 40; ++size)
        EXPECT_EQ(Scan(document, size).cells, expected) << "pieces of " << size;
    // Two pieces, cut at every byte.
    for (size_t cut = 1; cut < document.size(); ++cut) {
        RecordingSink sink;
        OdsContentHandler handler(0, &sink, uint64_t { 1 } << 30);
        OdsXmlScanner scanner(handler);
        scanner.Feed(std::string_view(document).substr(0, cut), false);
        scanner.Feed(std::string_view(document).substr(cut), true);
        EXPECT_EQ(sink.cells, expected) << "cut at " << cut;
    }
}

TEST(OdsXmlScanner, ReadsPlainCellsAsTheGeneralPathDoes)
{
    // Cells written the usual way take a direct path; a second prefix for the table
    // namespace turns it off. Both must give the same cells, however the pieces are cut.
    const std::string rows
        = "<table:table table:name=\"S\"><table:table-row>"
          "<table:table-cell office:value-type=\"float\" office:value=\"1\" calcext:value-type=\"float\">"
          "<text:p>1.00</text:p></table:table-cell>"
          "<table:table-cell office:value-type='string'><text:p>  two   words  </text:p></table:table-cell>"
          "<table:table-cell table:number-columns-repeated=\"3\"><text:p>x</text:p>\n  <text:p/><text:p>y</text:p>"
          "</table:table-cell >"
          "<table:table-cell office:value-type=\"float\" office:value=\"7\"/>"
          "<table:table-cell office:value-type=\"boolean\" office:boolean-value=\"true\" ></table:table-cell>"
          "<table:covered-table-cell "
          "table:number-columns-repeated=\"2\"><text:p>hidden</text:p></table:covered-table-cell>"
          "<table:table-cell office:value-type=\"string\" office:string-value=\"a\tb\"/>"
          "<table:table-cell><text:p>a<text:s text:c=\"2\"/>b<text:span>c</text:span></text:p></table:table-cell>"
          "<table:table-cell><office:annotation><text:p>note</text:p></office:annotation><text:p>shown</text:p>"
          "</table:table-cell>"
          "<table:table-cell table:number-columns-repeated=\"2\"/><table:table-cell><text:p>&lt;last&gt;</text:p>"
          "</table:table-cell>"
          // Names met before, in another order, one the start of another.
          "<table:table-cell office:value=\"8\" office:value-type=\"float\"/>"
          "<table:table-cell office:value-type=\"float\" office:value=\"9\"/></table:table-row>"
          "<table:table-row table:number-rows-repeated=\"2\"><table:table-cell><text:p>r</text:p></table:table-cell>"
          "</table:table-row></table:table>";
    const std::string fast = Document(rows);
    std::string general = fast;
    general.insert(general.find("<office:body>") - 1, " xmlns:tb=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\"");
    const std::vector<std::string> expected
        = { "1,1=1.00", "1,2=two words ", "1,3=x\n\ny", "1,4=x\n\ny", "1,5=x\n\ny", "1,6=7", "1,7=TRUE", "1,10=a b",
              "1,11=a  bc", "1,12=shown", "1,15=<last>", "1,16=8", "1,17=9", "2,1=r", "3,1=r" };
    EXPECT_EQ(Scan(fast).cells, expected);
    EXPECT_EQ(Scan(general).cells, expected);
    EXPECT_EQ(Scan(fast, 0, 0, false).cells, expected);
    for (size_t size = 1; size <= 48; ++size) {
        EXPECT_EQ(Scan(fast, size).cells, expected) << "pieces of " << size;
        EXPECT_EQ(Scan(general, size).cells, expected) << "pieces of " << size;
    }
}

// A sink that records each cell with the value kept beside its text, and the merges.
class ValueSink final : public OdsCellSink {
public:
    bool Add(int32_t row, int32_t column, std::string_view text) override
    {
        return AddWithValue(row, column, text, {}, OdsValueKind::None);
    }
    bool AddWithValue(
        int32_t row, int32_t column, std::string_view text, std::string_view value, OdsValueKind kind) override
    {
        cells.push_back(std::to_string(row) + "," + std::to_string(column) + "=" + std::string(text) + "|"
            + std::string(value) + "|" + std::to_string(static_cast<int>(kind)));
        return true;
    }
    SheetLayout* Layout() override { return &layout; }
    std::vector<std::string> cells;
    SheetLayout layout;
};

TEST(OdsXmlScanner, ReadsACellsAttributesInOnePassAsLookupsDo)
{
    // The direct path finds a cell's attributes in one pass over them, the general path
    // by looking each up: every value type, the attribute of another type beside it,
    // names alike in length or spelling, and names of the other namespace.
    const std::string cells
        = "<table:table table:name=\"S\"><table:table-row>"
          "<table:table-cell office:date-value=\"2020-01-02\" office:value=\"5\" office:value-type=\"date\">"
          "<text:p>02/01/20</text:p></table:table-cell>"
          "<table:table-cell office:value-type=\"time\" office:time-value=\"PT36H\" office:date-value=\"2020-01-02\">"
          "<text:p>36:00</text:p></table:table-cell>"
          "<table:table-cell office:boolean-value=\"1\" office:value-type=\"boolean\"><text:p>WAHR</text:p>"
          "</table:table-cell>"
          "<table:table-cell office:value-type=\"percentage\" office:value=\"0.5\" office:string-value=\"x\">"
          "<text:p>50%</text:p></table:table-cell>"
          "<table:table-cell office:value-type=\"string\" office:string-value=\"shown\" office:value=\"3\"/>"
          "<table:table-cell office:value-type=\"float\" office:valuf=\"4\" office:values=\"4\"/>"
          "<table:table-cell table:value-type=\"float\" table:value=\"6\"><text:p>six</text:p></table:table-cell>"
          "<table:table-cell office:number-columns-repeated=\"3\" table:number-columns-repeatee=\"3\">"
          "<text:p>one</text:p></table:table-cell>"
          "<table:table-cell table:number-rows-spanned=\"2\" office:value-type=\"currency\" office:value=\"1.50\""
          " table:number-columns-spanned=\"3\"><text:p>1,50 \xE2\x82\xAC</text:p></table:table-cell>"
          "<table:covered-table-cell table:number-columns-repeated=\"2\"/>"
          "<table:table-cell table:number-columns-repeated=\"2\" office:value-type=\"float\" office:value=\"7\">"
          "<text:p>7</text:p></table:table-cell>"
          "</table:table-row></table:table>";
    const std::vector<std::string> expected
        = { "1,1=02/01/20|2020-01-02|2", "1,2=36:00|1.5|1", "1,3=WAHR|TRUE|1", "1,4=50%|0.5|1", "1,5=shown||0",
              "1,7=six||0", "1,8=one||0", "1,9=1,50 \xE2\x82\xAC|1.5|1", "1,12=7||0", "1,13=7||0" };
    for (const bool direct : { true, false }) {
        ValueSink sink;
        OdsContentHandler handler(0, &sink, uint64_t { 1 } << 30);
        OdsXmlScanner scanner(handler, direct);
        scanner.Feed(Document(cells), true);
        EXPECT_EQ(sink.cells, expected) << (direct ? "direct" : "general");
        ASSERT_EQ(sink.layout.MergedAreas().size(), 1u) << (direct ? "direct" : "general");
        const CellRange merge = sink.layout.MergedAreas()[0];
        EXPECT_EQ(std::vector<int32_t>({ merge.firstRow, merge.firstColumn, merge.lastRow, merge.lastColumn }),
            std::vector<int32_t>({ 1, 9, 2, 11 }))
            << (direct ? "direct" : "general");
    }
}

TEST(OdsXmlScanner, ResolvesPrefixesThroughDeclaredNamespaces)
{
    // Any prefix a writer chose works; a redeclared prefix holds only inside its element.
    const std::string document
        = "<d:document-content xmlns:d=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\""
          " xmlns:t=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\"><d:body><d:spreadsheet>"
          "<t:table t:name=\"S\"><t:table-row>"
          "<t:table-cell><p xmlns=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\">default</p></t:table-cell>"
          "<t:table-cell xmlns:x=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"><x:p>scoped</x:p></t:table-cell>"
          "<t:table-cell/>"
          "<t:table-cell xmlns:t=\"urn:other\" t:number-columns-repeated=\"3\"><t:table-cell/></t:table-cell>"
          "<t:table-cell/>"
          "<t:table-cell><u:p xmlns:u=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\">last</u:p></t:table-cell>"
          "</t:table-row></t:table></d:spreadsheet></d:body></d:document-content>";
    // The cell in urn:other is an unknown element.
    EXPECT_EQ(Scan(document).cells, (std::vector<std::string> { "1,1=default", "1,2=scoped", "1,5=last" }));
    // A prefix out of scope is refused, as a namespace-aware parser must, on either path.
    std::string unbound = document;
    unbound.replace(unbound.find("<t:table-cell/>"), 15, "<t:table-cell><x:p>unbound</x:p></t:table-cell>");
    EXPECT_EQ(ScanFails(unbound), ErrorCode::Corrupt);
    std::string unboundAttribute = document;
    unboundAttribute.replace(unboundAttribute.find("<t:table-cell/>"), 15, "<t:table-cell y:a=\"1\"/>");
    EXPECT_EQ(ScanFails(unboundAttribute), ErrorCode::Corrupt);
}

TEST(OdsXmlScanner, TheDirectPathRefusesWhatTheGeneralPathRefuses)
{
    // Cells shaped the usual way but holding what XML does not allow: the direct path
    // must not take them, so both paths refuse them alike.
    const char* const cells[] = {
        "<table:table-cell><text:p>bad \xC3 byte</text:p></table:table-cell>",
        "<table:table-cell><text:p>control \x01 char</text:p></table:table-cell>",
        "<table:table-cell office:value=\"\xFF\"><text:p>x</text:p></table:table-cell>",
        "<table:table-cell office:value=\"1\" office:value=\"2\"><text:p>x</text:p></table:table-cell>",
        "<table:table-cell other:value=\"1\"><text:p>x</text:p></table:table-cell>",
        "<table:table-cell office:1value=\"1\"><text:p>x</text:p></table:table-cell>",
        "<table:table-cell><text:p>&bogus;</text:p></table:table-cell>",
        "<table:table-cell><text:p>a]]>b</text:p></table:table-cell>",
    };
    for (const char* cell : cells) {
        const std::string document = Document(
            std::string("<table:table table:name=\"S\"><table:table-row>") + cell + "</table:table-row></table:table>");
        for (const bool direct : { true, false }) {
            try {
                Scan(document, 0, 0, direct);
                ADD_FAILURE() << (direct ? "direct" : "general") << " path accepted " << cell;
            } catch (const SpreadsheetError& error) {
                EXPECT_EQ(error.code(), ErrorCode::Corrupt) << cell;
            }
        }
    }
}

TEST(OdsXmlScanner, RefusesBrokenOrHostileDocuments)
{
    EXPECT_EQ(ScanFails("<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY a \"aaaa\">]><x>&a;</x>"), ErrorCode::Corrupt);
    EXPECT_EQ(ScanFails(Document("<table:table><table:table-row>").substr(0, 300)), ErrorCode::Corrupt);
    EXPECT_EQ(ScanFails("<x>&nbsp;</x>"), ErrorCode::Corrupt);
    EXPECT_EQ(ScanFails("<x>&#0;</x>"), ErrorCode::Corrupt);
    EXPECT_EQ(ScanFails("<x>&#xD800;</x>"), ErrorCode::Corrupt);
    EXPECT_EQ(ScanFails("<x>&#99999999999;</x>"), ErrorCode::Corrupt);
    EXPECT_EQ(ScanFails("<x a=\"1></x>"), ErrorCode::Corrupt);
    EXPECT_EQ(ScanFails("<x></x></y>"), ErrorCode::Corrupt);
    EXPECT_EQ(ScanFails("<x/><y/>"), ErrorCode::Corrupt);
    EXPECT_EQ(ScanFails(""), ErrorCode::Corrupt);
    EXPECT_EQ(ScanFails("<x><!-- never closed </x>"), ErrorCode::Corrupt);
    // A quote inside an attribute's name opens a value that never closes, in a cell too.
    EXPECT_EQ(ScanFails(Document("<table:table table:name=\"S\"><table:table-row>"
                                 "<table:table-cell table:number-columns-repe'ated=\"2\"><text:p>x</text:p>"
                                 "</table:table-cell></table:table-row></table:table>")),
        ErrorCode::Corrupt);
    std::string deep;
    for (int i = 0; i < 300; ++i)
        deep += "<a>";
    EXPECT_EQ(ScanFails(deep), ErrorCode::Corrupt);
    // End tags name the element they close, in a row around direct-path cells too.
    EXPECT_EQ(ScanFails(Document("<table:table table:name=\"S\"><table:table-row>"
                                 "<table:table-cell><text:p>x</text:p></table:table-cell>"
                                 "</table:table-column></table:table>")),
        ErrorCode::Corrupt);
    EXPECT_EQ(ScanFails("<a><b></a></b>"), ErrorCode::Corrupt);
}

} // namespace
} // namespace vellumcast::spreadsheet::ods
