// The options of how cells are read for the lines: merged areas filled, hidden rows and
// columns left out, raw values and ISO dates, in every save mode and every format that
// records a layout.
#include "TestPaths.h"
#include "export/ExportProcedures.h"
#include "support/ExportHarness.h"
#include "support/LoadBesideWalk.h"
#include "support/TempDir.h"
#include "support/XlsxWriter.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>

using namespace vellumcast;
namespace vt = vellumcast::testing;

namespace {

// The worksheet "Layout" of the layout workbooks: A1:C1, E2:E4 and D5:E6 merged, rows 3
// and 5 and columns B and D hidden.
const char* const kLayoutFormats[] = { "layout.xlsx", "layout.xls", "layout.ods", "layout.fods", "layout.xml" };

options::ExportOptions Plain()
{
    options::ExportOptions o;
    o.divider = ",";
    o.quoteCells = false;
    o.lineFeedOnly = true;
    return o;
}

std::unique_ptr<spreadsheet::Workbook> OpenFixture(spreadsheet::Application& application, const std::string& name)
{
    return application.Open(std::string(VELLUMCAST_FIXTURES_DIR) + "/workbooks/" + name);
}

// The texts of each save mode but all sheets, one per entry, "ordinal:text" for lines.
std::vector<std::string> Export(const std::string& fixture, options::ExportOptions o)
{
    spreadsheet::Application application;
    auto book = OpenFixture(application, fixture);
    vt::ExportHarness h;
    o.saveMode = options::SaveMode::EachSheet;
    exporting::ExportSheetToTextFile(h.context, book.get(), o, fixture, h.resultNumber);
    EXPECT_TRUE(h.reporter.reports.empty()) << fixture;
    std::vector<std::string> texts;
    for (const auto& entry : h.results)
        texts.push_back(std::string(entry.text.View()));
    return texts;
}

std::vector<std::string> ExportLines(const std::string& fixture, options::ExportOptions o, options::SaveMode mode)
{
    spreadsheet::Application application;
    auto book = OpenFixture(application, fixture);
    vt::ExportHarness h;
    o.saveMode = mode;
    if (mode == options::SaveMode::EachRow)
        exporting::ExportRowToTextFile(h.context, book.get(), o, fixture, h.resultNumber);
    else
        exporting::ExportColumnToTextFile(h.context, book.get(), o, fixture, h.resultNumber);
    EXPECT_TRUE(h.reporter.reports.empty()) << fixture;
    std::vector<std::string> lines;
    for (const auto& entry : h.results) {
        if (entry.sheetName.View() == "Layout")
            lines.push_back(std::to_string(entry.ordinal) + ":" + std::string(entry.text.View()));
    }
    return lines;
}

const std::string kLayoutAsIs = "Title,,,d1,e1\n1,2,3,4,Side\nhidden row,,,,\na4,,,,\na5,,,Block,\na6,,,,\n";

} // namespace

TEST(CellReadingOptions, DefaultsKeepEveryByteOnBothWalks)
{
    for (const char* fixture : kLayoutFormats) {
        for (const uint64_t threshold : { uint64_t { 0 }, spreadsheet::kNeverLoadBeside }) {
            vt::ScopedLoadBesideWalkThreshold beside(threshold);
            const auto texts = Export(fixture, Plain());
            ASSERT_EQ(texts.size(), 2u) << fixture;
            EXPECT_EQ(texts[0], kLayoutAsIs) << fixture;
            EXPECT_EQ(texts[1], "x\n") << fixture;
        }
    }
}

TEST(CellReadingOptions, MergedAreasFilledInEveryFormatWithBlankCellsKeptOrNot)
{
    for (const char* fixture : kLayoutFormats) {
        for (const uint64_t threshold : { uint64_t { 0 }, spreadsheet::kNeverLoadBeside }) {
            vt::ScopedLoadBesideWalkThreshold beside(threshold);
            auto o = Plain();
            o.fillMerged = true;
            EXPECT_EQ(Export(fixture, o)[0],
                "Title,Title,Title,d1,e1\n1,2,3,4,Side\nhidden row,,,,Side\na4,,,,Side\na5,,,Block,Block\n"
                "a6,,,Block,Block\n")
                << fixture;
            o.includeBlankCells = false;
            // The cells of an area count as holding text: none of them is left out.
            EXPECT_EQ(Export(fixture, o)[0],
                "Title,Title,Title,d1,e1\n1,2,3,4,Side\nhidden row,Side\na4,Side\na5,Block,Block\na6,Block,Block\n")
                << fixture;
        }
    }
}

TEST(CellReadingOptions, HiddenRowsAndColumnsLeftOutApartOrTogether)
{
    for (const char* fixture : kLayoutFormats) {
        auto o = Plain();
        o.skipHiddenRows = true;
        EXPECT_EQ(Export(fixture, o)[0], "Title,,,d1,e1\n1,2,3,4,Side\na4,,,,\na6,,,,\n") << fixture;
        o.skipHiddenRows = false;
        o.skipHiddenColumns = true;
        EXPECT_EQ(Export(fixture, o)[0], "Title,,e1\n1,3,Side\nhidden row,,\na4,,\na5,,\na6,,\n") << fixture;
        o.skipHiddenRows = true;
        o.fillMerged = true;
        // The area D5:E6 starts in a hidden row and column, yet E6 still shows its text.
        EXPECT_EQ(Export(fixture, o)[0], "Title,Title,e1\n1,3,Side\na4,,Side\na6,,Block\n") << fixture;
        o.includeBlankCells = false;
        EXPECT_EQ(Export(fixture, o)[0], "Title,Title,e1\n1,3,Side\na4,Side\na6,Block\n") << fixture;
        // A worksheet hiding nothing is as it was.
        EXPECT_EQ(Export(fixture, o)[1], "x\n") << fixture;
    }
}

TEST(CellReadingOptions, RowOrdinalsCountWorksheetRowsWhenHiddenRowsAreLeftOut)
{
    for (const char* fixture : kLayoutFormats) {
        auto o = Plain();
        o.skipHiddenRows = true;
        o.skipHiddenColumns = true;
        EXPECT_EQ(ExportLines(fixture, o, options::SaveMode::EachRow),
            (std::vector<std::string> { "1:Title,,e1\n", "2:1,3,Side\n", "4:a4,,\n", "6:a6,,\n" }))
            << fixture;
        EXPECT_EQ(ExportLines(fixture, o, options::SaveMode::EachColumn),
            (std::vector<std::string> { "1:Title,1,a4,a6\n", "3:,3,,\n", "5:e1,Side,,\n" }))
            << fixture;
    }
}

TEST(CellReadingOptions, MergedAreasFilledDownColumns)
{
    for (const char* fixture : kLayoutFormats) {
        for (const bool blankKept : { true, false }) {
            auto o = Plain();
            o.fillMerged = true;
            o.includeBlankCells = blankKept;
            const auto columns = ExportLines(fixture, o, options::SaveMode::EachColumn);
            const std::vector<std::string> expected = blankKept
                ? std::vector<std::string> { "1:Title,1,hidden row,a4,a5,a6\n", "2:Title,2,,,,\n", "3:Title,3,,,,\n",
                      "4:d1,4,,,Block,Block\n", "5:e1,Side,Side,Side,Block,Block\n" }
                : std::vector<std::string> { "1:Title,1,hidden row,a4,a5,a6\n", "2:Title,2\n", "3:Title,3\n",
                      "4:d1,4,Block,Block\n", "5:e1,Side,Side,Side,Block,Block\n" };
            EXPECT_EQ(columns, expected) << fixture << " blank cells kept: " << blankKept;
        }
    }
}

TEST(CellReadingOptions, AllSheetsModeTakesTheLayoutToo)
{
    spreadsheet::Application application;
    auto book = OpenFixture(application, "layout.xlsx");
    vt::ExportHarness h;
    auto o = Plain();
    o.fillMerged = true;
    o.skipHiddenRows = true;
    o.skipHiddenColumns = true;
    std::string text;
    exporting::ExportAllSheetsToTextFile(h.context, book.get(), o, text);
    EXPECT_EQ(text, "Layout\nTitle,Title,e1\n1,3,Side\na4,,Side\na6,,Block\n\n\n\nPlain\nx\n\n\n\n");
}

namespace {

// The shortest decimal that reads back to value, as std::to_chars writes it: plainly from
// 1e-5 up to 1e21, else in scientific notation, its exponent as the General format writes it.
std::string Shortest(double value)
{
    char buffer[64];
    const double magnitude = std::fabs(value);
    const bool plain = magnitude >= 1e-5 && magnitude < 1e21;
    const auto result = std::to_chars(
        buffer, buffer + sizeof buffer, value, plain ? std::chars_format::fixed : std::chars_format::scientific);
    std::string text(buffer, result.ptr);
    if (const auto e = text.find('e'); e != std::string::npos)
        text[e] = 'E';
    return text;
}

// The calendar date of a serial day, counted independently of the engine: days from
// 1970-01-01 to a civil date (Howard Hinnant's algorithm, run backwards).
std::string CivilDate(int64_t daysSinceEpoch)
{
    int64_t z = daysSinceEpoch + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld", static_cast<long long>(y), static_cast<long long>(m),
        static_cast<long long>(d));
    return text;
}

// The 1900 system counts 1899-12-30 as day 0 from day 61 on (day 60 being its 29 February
// 1900); the 1904 system counts 1904-01-01 as day 0. 1970-01-01 is 25569 and 24107.
std::string DateOfSerial(int64_t serial, bool date1904)
{
    return CivilDate(serial - (date1904 ? 24107 : 25569));
}

} // namespace

TEST(CellReadingOptions, RawNumbersAreTheShortestDecimalAndDatesFollowTheDateSystem)
{
    const double numbers[] = { 0.1, 1.0 / 3, 123456789.125, -2.5e-7, 1e21, 0.30000000000000004, 42, 1e-5 };
    const int64_t serials[] = { 61, 366, 25569, 36526, 44927, 2957000 };
    for (const bool date1904 : { false, true }) {
        vt::XlsxWriter writer;
        writer.Date1904(date1904);
        const uint32_t money = writer.AddStyle("#,##0.00");
        const uint32_t date = writer.AddBuiltInStyle(14);
        const uint32_t elapsed = writer.AddStyle("[h]:mm");
        auto& sheet = writer.AddSheet("S");
        int row = 1;
        for (const double n : numbers)
            sheet.Number(row++, 1, n, money);
        for (const int64_t serial : serials)
            sheet.Number(row++, 1, static_cast<double>(serial), date);
        sheet.Number(row++, 1, 1.5, elapsed);
        sheet.Boolean(row, 1, true);
        sheet.Error(row + 1, 1, "#N/A");
        sheet.InlineString(row + 2, 1, "1,5 text");
        vt::TempDir dir;
        const std::string path = writer.Save(dir.Path() + "/values.xlsx");

        auto textOnce = [&](options::CellValues values) {
            spreadsheet::Application application;
            auto book = application.Open(path);
            vt::ExportHarness h;
            auto o = Plain();
            o.cellValues = values;
            exporting::ExportSheetToTextFile(h.context, book.get(), o, path, h.resultNumber);
            return h.results.size() == 1 ? std::string(h.results[0].text.View()) : std::string();
        };
        // Composed while the worksheet loads or from the loaded worksheet, the same bytes.
        auto text = [&](options::CellValues values) {
            std::string beside;
            {
                vt::ScopedLoadBesideWalkThreshold always(0);
                beside = textOnce(values);
            }
            vt::ScopedLoadBesideWalkThreshold never(spreadsheet::kNeverLoadBeside);
            const std::string loaded = textOnce(values);
            EXPECT_EQ(beside, loaded);
            return loaded;
        };
        std::string raw;
        std::string iso;
        for (const double n : numbers)
            raw += Shortest(n) + "\n";
        for (const int64_t serial : serials) {
            raw += DateOfSerial(serial, date1904) + "\n";
            iso += DateOfSerial(serial, date1904) + "\n";
        }
        raw += "1.5\nTRUE\n#N/A\n1,5 text\n"; // a duration's raw text is its number of days
        EXPECT_EQ(text(options::CellValues::Raw), raw) << "1904: " << date1904;

        // ISO dates: other numbers keep their format, dates are as raw, the duration displays.
        const std::string displayed = text(options::CellValues::Displayed);
        const std::string isoText = text(options::CellValues::IsoDates);
        const size_t datesAt = isoText.find(iso);
        ASSERT_NE(datesAt, std::string::npos) << isoText;
        EXPECT_EQ(isoText.substr(0, datesAt), displayed.substr(0, datesAt));
        EXPECT_NE(isoText.find("0.10\n0.33\n123,456,789.13\n-0.00\n"), std::string::npos) << isoText;
        EXPECT_NE(isoText.find(iso + "36:00\nTRUE\n#N/A\n1,5 text\n"), std::string::npos) << isoText;
        EXPECT_EQ(displayed.find(iso), std::string::npos) << displayed;
    }
}
