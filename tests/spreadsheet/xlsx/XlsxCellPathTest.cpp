// Cells read by the worksheet's direct path must give exactly the events the scanner's
// general path gives, and what the general path refuses must still be refused.
#include "spreadsheet/xlsx/XlsxCellPath.h"
#include "spreadsheet/SpreadsheetError.h"
#include "support/Failures.h"
#include "support/XmlEventLog.h"

#include <gtest/gtest.h>

#include <string>

namespace vellumcast::spreadsheet::xlsx {
namespace {

// Counts the cells the direct path takes, so that a test knows it ran.
class CountingPath final : public xml::XmlDirectPath {
public:
    explicit CountingPath(xml::XmlHandler& handler)
        : m_cells(handler)
    {
    }
    size_t ReadElement(std::string_view from, const xml::XmlScanner& scanner) override
    {
        const size_t used = m_cells.ReadElement(from, scanner);
        taken += used > 0;
        return used;
    }
    size_t taken = 0;

private:
    CellDirectPath m_cells;
};

struct Scanned {
    std::string log;
    size_t taken = 0;
};

Scanned Scan(const std::string& document, size_t pieceSize, bool direct)
{
    testing::XmlEventLog events;
    CountingPath path(events);
    xml::XmlScanner scanner(events, direct ? &path : nullptr);
    for (size_t at = 0; at < document.size(); at += pieceSize)
        scanner.Feed(std::string_view(document).substr(at, pieceSize), at + pieceSize >= document.size());
    events.Flush();
    return { events.log, path.taken };
}

std::string Worksheet(const std::string& cells)
{
    return "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" xmlns:x14ac=\"urn:x14ac\">"
           "<sheetData><row r=\"1\">"
        + cells + "</row></sheetData></worksheet>";
}

TEST(CellDirectPath, GivesTheGeneralPathsEventsWhereverThePiecesAreCut)
{
    const std::string document = Worksheet(
        // Taken directly: values or none, any attributes of letters, white space in the tag.
        "<c r=\"A1\"><v>1</v></c><c r=\"B1\" s=\"3\" t=\"s\"><v>12</v></c><c r=\"C1\"/><c r=\"D1\" s='2'></c>"
        "<c r=\"E1\"\n\ts=\"1\" ><v> 3 </v></c><c r=\"F1\"><v></v></c>"
        "<c r=\"G1\" s=\"1\" t=\"e\" cm=\"1\" vm=\"2\" ph=\"1\"><v>#N/A</v></c>"
        // Left to the general path: spaces around '=', a formula, an inline string, a
        // reference, a prefixed attribute, a line end, non-ASCII text, a spaced end tag,
        // white space between elements, another element, a value with attributes.
        "<c r='H1' t = \"b\"><v>1</v></c><c r=\"I1\"><f>SUM(A1:B1)</f><v>13</v></c>"
        "<c r=\"J1\" t=\"inlineStr\"><is><t>a &amp; b</t></is></c><c r=\"K1\"><v>1&#48;</v></c>"
        "<c r=\"L1\" x14ac:dy=\"0.25\"><v>2</v></c><c r=\"M1\"><v>line\r\nend</v></c>"
        "<c r=\"N1\" t=\"str\"><v>caf\xC3\xA9</v></c><c r=\"O1\"><v>4</v></c ><c r=\"P1\">\n<v>5</v>\n</c>"
        "<cx r=\"Q1\"/><c r=\"R1\"><v xml:space=\"preserve\">6</v></c><c r=\"S1\" t=\"a&lt;b\"/>");
    const Scanned general = Scan(document, document.size(), false);
    const Scanned whole = Scan(document, document.size(), true);
    EXPECT_EQ(whole.log, general.log);
    EXPECT_EQ(whole.taken, 7u);
    for (size_t piece = 1; piece < document.size(); ++piece)
        ASSERT_EQ(Scan(document, piece, true).log, general.log) << "in pieces of " << piece;
}

TEST(CellDirectPath, RefusesWhatTheGeneralPathRefuses)
{
    const char* const cells[] = {
        "<c r=\"A1\" r=\"B1\"/>", // an attribute given twice
        "<c r=\"A1\"><v>&bogus;</v></c>",
        "<c r=\"A1\"><v>a]]>b</v></c>",
        "<c r=\"A1\"><v>\x01</v></c>",
        "<c r=\"A1\"><v>1</v></d>",
        "<c r=\"A1\"><v>1</w></c>",
        "<c r=\"A1\"s=\"1\"/>", // no space between attributes
        "<c r=A1/>",
        "<c r=\"A1\" 1s=\"1\"/>",
    };
    for (const char* cell : cells) {
        for (const bool direct : { false, true }) {
            const ErrorCode code = testing::ErrorCodeOf([&] { Scan(Worksheet(cell), 1000, direct); });
            EXPECT_EQ(code, ErrorCode::Corrupt) << cell << (direct ? " with" : " without") << " the direct path";
        }
    }
}

} // namespace
} // namespace vellumcast::spreadsheet::xlsx
