// Formulas saved without values in whole workbooks: which cells are computed, how their
// values show, what is kept, and what is said of the formulas left blank.

#include "FormulaTestBook.h"
#include "spreadsheet/Workbook.h"
#include "support/LoadBesideWalk.h"
#include "support/XlsxWriter.h"

#include <gtest/gtest.h>

using namespace vellumcast;
using namespace vellumcast::spreadsheet;
using vellumcast::testing::XlsxWriter;

namespace {

std::unique_ptr<Workbook> Open(const XlsxWriter& writer, bool compute = true)
{
    Application application;
    FormulaOptions options;
    options.compute = compute;
    options.now = 45429.5625; // 2024-05-17 13:30
    application.SetFormulaOptions(options);
    return application.OpenBytes(writer.Build(), "book.xlsx");
}

std::string Text(Workbook& workbook, size_t sheet, const char* reference)
{
    int32_t row = 0, column = 0;
    xlsx::ParseCellReference(reference, row, column);
    return std::string(workbook.Worksheets()[sheet].CellText(row, column));
}

std::vector<std::string> FormulaWarnings(const Workbook& workbook)
{
    std::vector<std::string> found;
    for (const std::string& warning : workbook.Warnings()) {
        if (warning.find("formula") != std::string::npos)
            found.push_back(warning);
    }
    return found;
}

} // namespace

TEST(WorkbookFormulas, StoredValuesAreKeptAndOnlyMissingOnesComputed)
{
    XlsxWriter writer;
    writer.AddSheet("S").RawSheetData("<row r=\"1\"><c r=\"A1\"><v>2</v></c><c r=\"B1\"><v>3</v></c>"
                                      "<c r=\"C1\"><f>A1*B1</f><v>99</v></c>" // a stale value stays
                                      "<c r=\"D1\"><f>A1*B1</f><v></v></c>" // what report libraries write
                                      "<c r=\"E1\"><f>A1*B1</f></c>"
                                      "<c r=\"F1\" t=\"str\"><f>\"\"</f><v></v></c>" // an empty text saved
                                      "<c r=\"G1\" t=\"str\"><f>A1&amp;\"x\"</f></c>"
                                      "<c r=\"H1\" t=\"b\"><f>A1&gt;1</f></c>"
                                      "<c r=\"I1\"><f>1/0</f></c>"
                                      "<c r=\"J1\"><f>C1+1</f></c></row>");
    auto workbook = Open(writer);
    const std::pair<const char*, const char*> cells[] = { { "C1", "99" }, { "D1", "6" }, { "E1", "6" }, { "F1", "" },
        { "G1", "2x" }, { "H1", "TRUE" }, { "I1", "#DIV/0!" }, { "J1", "100" } };
    for (const auto& [cell, text] : cells)
        EXPECT_EQ(Text(*workbook, 0, cell), text) << cell;
    EXPECT_TRUE(FormulaWarnings(*workbook).empty());
}

TEST(WorkbookFormulas, SharedFormulasTakeTheTextOfTheirAnchor)
{
    XlsxWriter writer;
    std::string rows;
    for (int r = 1; r <= 4; ++r) {
        const std::string n = std::to_string(r);
        rows += "<row r=\"" + n + "\"><c r=\"A" + n + "\"><v>" + n + "</v></c>";
        if (r == 1)
            rows += "<c r=\"B1\"><f t=\"shared\" ref=\"B1:C4\" si=\"0\">A1*10+$A$1</f><v>11</v></c>"
                    "<c r=\"C1\"><f t=\"shared\" si=\"0\"/></c>";
        else
            rows += "<c r=\"B" + n + "\"><f t=\"shared\" si=\"0\"/></c><c r=\"C" + n
                + "\"><f t=\"shared\" si=\"0\"/></c>";
        rows += "</row>";
    }
    writer.AddSheet("S").RawSheetData(rows);
    auto workbook = Open(writer);
    // B takes A×10 + A1; C, one column on, B×10 + A1: the absolute part stays.
    const std::pair<const char*, const char*> cells[]
        = { { "B1", "11" }, { "B2", "21" }, { "B4", "41" }, { "C1", "111" }, { "C2", "211" }, { "C4", "411" } };
    for (const auto& [cell, text] : cells)
        EXPECT_EQ(Text(*workbook, 0, cell), text) << cell;
}

TEST(WorkbookFormulas, ValuesShowThroughTheirCellsNumberFormat)
{
    XlsxWriter writer;
    const uint32_t percent = writer.AddStyle("0.0%");
    const uint32_t date = writer.AddStyle("yyyy-mm-dd");
    const uint32_t money = writer.AddStyle("\"$\"#,##0.00;(\"$\"#,##0.00)");
    const uint32_t text = writer.AddStyle("\"[\"@\"]\"");
    writer.AddSheet("S").RawSheetData("<row r=\"1\"><c r=\"A1\" s=\"" + std::to_string(percent)
        + "\"><f>1/4</f><v></v></c>" + "<c r=\"B1\" s=\"" + std::to_string(date) + "\"><f>DATE(2024,3,1)</f><v></v></c>"
        + "<c r=\"C1\" s=\"" + std::to_string(money) + "\"><f>-1234.5</f><v></v></c>" + "<c r=\"D1\" s=\""
        + std::to_string(text) + "\"><f>\"x\"</f><v></v></c>"
        + "<c r=\"E1\"><f>DATE(2024,3,1)</f><v></v></c>" // General: the serial
        + "<c r=\"F1\"><f>1/3</f><v></v></c></row>");
    auto workbook = Open(writer);
    const std::pair<const char*, const char*> cells[] = { { "A1", "25.0%" }, { "B1", "2024-03-01" },
        { "C1", "($1,234.50)" }, { "D1", "[x]" }, { "E1", "45352" }, { "F1", "0.333333333" } };
    for (const auto& [cell, shown] : cells)
        EXPECT_EQ(Text(*workbook, 0, cell), shown) << cell;
}

TEST(WorkbookFormulas, DefinedNamesOtherSheetsAndTheRunsClock)
{
    XlsxWriter writer;
    writer.AddSheet("Main").RawSheetData("<row r=\"1\"><c r=\"A1\"><f>Rate*'Q1 sales'!B2</f></c>"
                                         "<c r=\"B1\"><f>Local</f></c><c r=\"C1\"><f>TODAY()</f></c>"
                                         "<c r=\"D1\"><f>SUM('Q1 sales'!B:B)</f></c><c r=\"E1\"><f>Gone+1</f></c>"
                                         "</row>");
    writer.AddChartSheet("Chart");
    writer.AddSheet("Q1 sales")
        .RawSheetData("<row r=\"2\"><c r=\"B2\"><v>7</v></c><c r=\"C2\"><f>B2*2</f></c></row>"
                      "<row r=\"3\"><c r=\"B3\"><f>C2+1</f></c></row>");
    writer.DefinedName("Rate", "0.5").DefinedName("Local", "'Q1 sales'!$B$2", 0).DefinedName("Local", "99", 2);
    auto workbook = Open(writer);
    EXPECT_EQ(Text(*workbook, 0, "A1"), "3.5");
    EXPECT_EQ(Text(*workbook, 0, "B1"), "7"); // the sheet's own name, not the other sheet's
    EXPECT_EQ(Text(*workbook, 0, "C1"), "45429");
    EXPECT_EQ(Text(*workbook, 0, "D1"), "22"); // 7 and the formula B3 computed on the other sheet
    EXPECT_EQ(Text(*workbook, 0, "E1"), "#NAME?");
    EXPECT_EQ(Text(*workbook, 1, "B3"), "15");
}

TEST(WorkbookFormulas, FormulasLeftBlankAreCountedOnceWithTheFirstOfThem)
{
    XlsxWriter writer;
    writer.AddSheet("First").RawSheetData("<row r=\"2\"><c r=\"A2\"><v>1</v></c><c r=\"C2\"><f>FOO(A2)</f></c>"
                                          "<c r=\"D2\"><f>A2+1</f></c></row>"
                                          "<row r=\"3\"><c r=\"B3\"><f>B4</f></c></row>" // a cycle of two
                                          "<row r=\"4\"><c r=\"B4\"><f>B3</f></c></row>");
    writer.AddSheet("Second sheet").RawSheetData("<row r=\"1\"><c r=\"A1\"><f>INDIRECT(\"A2\")</f></c></row>");
    for (const bool compute : { true, false }) {
        SCOPED_TRACE(compute ? "computed" : "not computed");
        auto workbook = Open(writer, compute);
        EXPECT_EQ(Text(*workbook, 0, "C2"), "");
        EXPECT_EQ(Text(*workbook, 0, "B3"), "");
        EXPECT_EQ(Text(*workbook, 0, "D2"), compute ? "2" : "");
        // Loaded again, the worksheet is not counted twice.
        workbook->Worksheets()[0].Unload();
        EXPECT_EQ(Text(*workbook, 0, "B4"), "");
        EXPECT_EQ(Text(*workbook, 1, "A1"), "");
        const auto warnings = FormulaWarnings(*workbook);
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_NE(warnings[0].find(compute ? "4 formula(s)" : "5 formula(s)"), std::string::npos) << warnings[0];
        EXPECT_NE(warnings[0].find("First!C2"), std::string::npos) << warnings[0];
        EXPECT_TRUE(warnings[0].starts_with("book.xlsx: ")) << warnings[0];
    }
}

TEST(WorkbookFormulas, RowsHandedOverWhileLoadingStopAtTheFirstFormula)
{
    const vellumcast::testing::ScopedLoadBesideWalkThreshold always(0);
    XlsxWriter writer;
    std::string rows;
    for (int r = 1; r <= 3000; ++r) {
        const std::string n = std::to_string(r);
        rows += "<row r=\"" + n + "\"><c r=\"A" + n + "\"><v>" + n + "</v></c>";
        // The last row sums every row before it: a formula reads ahead of where it stands.
        if (r == 1)
            rows += "<c r=\"B1\"><f>SUM(A:A)</f></c>";
        rows += "</row>";
    }
    writer.AddSheet("S").RawSheetData(rows);
    for (const bool compute : { true, false }) {
        auto workbook = Open(writer, compute);
        size_t visited = 0;
        const bool whole = workbook->Worksheets()[0].VisitRowsWhileLoading([&](const RowBatch& batch) {
            visited += batch.RowCount();
            return true;
        });
        EXPECT_EQ(whole, !compute);
        EXPECT_EQ(Text(*workbook, 0, "B1"), compute ? "4501500" : "");
    }
}

TEST(WorkbookFormulas, LongChainsCyclesAndTheBudget)
{
    // A chain of formulas each reading the next: far deeper than any stack would take.
    vellumcast::testing::FormulaTestBook chain;
    constexpr int kLength = 20000;
    for (int r = 1; r < kLength; ++r)
        chain.Set("S", "A" + std::to_string(r), "=A" + std::to_string(r + 1) + "+1");
    chain.Set("S", "A" + std::to_string(kLength), "1");
    EXPECT_EQ(vellumcast::testing::Shown(chain.ValueAt("S", "A1")), std::to_string(kLength));

    // Each formula of a chain nested deep: the stack they take together stays bounded.
    vellumcast::testing::FormulaTestBook nested;
    const std::string open(100, '('), close(100, ')');
    for (int r = 1; r < 300; ++r)
        nested.Set("S", "A" + std::to_string(r), "=" + open + "A" + std::to_string(r + 1) + close + "+1");
    nested.Set("S", "A300", "0");
    EXPECT_EQ(vellumcast::testing::Shown(nested.ValueAt("S", "A1")), "299");

    // The chain closed into a ring: a cycle, however long.
    vellumcast::testing::FormulaTestBook ring;
    for (int r = 1; r <= 200; ++r)
        ring.Set("S", "A" + std::to_string(r), "=A" + std::to_string(r % 200 + 1) + "+1");
    EXPECT_EQ(vellumcast::testing::Shown(ring.ValueAt("S", "A1")), "blank");
    EXPECT_EQ(vellumcast::testing::Shown(ring.ValueAt("S", "A150")), "blank");

    // Past the budget of work, a formula stays blank rather than take its time.
    vellumcast::testing::FormulaTestBook heavy;
    heavy.Set("S", "A1", "=SUMPRODUCT(ROW(B1:B5000)*1)").Set("S", "A2", "=1+1");
    formula::CalcBudget budget;
    budget.steps = 1000;
    budget.time = std::chrono::seconds(60);
    budget.memory = 1 << 30;
    heavy.Calc(&budget);
    EXPECT_EQ(vellumcast::testing::Shown(heavy.ValueAt("S", "A1")), "blank");
}
