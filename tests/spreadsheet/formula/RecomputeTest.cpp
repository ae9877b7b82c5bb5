// Real workbooks saved by the spreadsheet application and other programs, with their
// formulas' values: every formula is computed anew from its tokens or text and compared
// with the value saved. A formula the engine leaves blank is no fault; a different value is.

#include "TestPaths.h"
#include "spreadsheet/FileBytes.h"
#include "spreadsheet/FormatDetection.h"
#include "spreadsheet/SheetData.h"
#include "spreadsheet/formula/Numbers.h"
#include "spreadsheet/formula/WorkbookCalc.h"
#include "support/TempDir.h"
#include "support/XlsbWriter.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace vellumcast::spreadsheet;
using namespace vellumcast::spreadsheet::formula;

namespace {

// A workbook's reader as the calculation's host, every formula captured with its value.
class ReaderHost final : public CalcHost {
public:
    explicit ReaderHost(const std::string& path)
        : m_bytes(FileBytes::OpenFile(path))
    {
        ReaderContext context(m_bytes, path.substr(path.rfind('/') + 1), {});
        m_reader = OpenReader(context, m_data);
        m_reader->ListSheets(SIZE_MAX, m_data.sheets);
    }
    size_t SheetCount() override { return m_data.sheets.size(); }
    std::string_view SheetName(size_t index) override { return m_data.sheets[index].name; }
    void LoadSheet(size_t index, SheetData& into) override
    {
        SheetBuilder builder(into);
        builder.CaptureEveryFormula();
        builder.KeepValuesForFormulas();
        m_reader->LoadSheet(index, builder);
        builder.Finish();
    }
    std::string_view SharedString(uint32_t index) override
    {
        return index < m_data.sharedStrings.size() ? m_data.sharedStrings[index] : std::string_view();
    }
    const WorkbookFormulas& Formulas() override { return m_data.formulas; }
    numfmt::DateSystem DateSystem() override { return m_data.dateSystem; }
    double Now() override { return 45429.5625; }
    uint64_t FileSize() override { return m_bytes->Size(); }

private:
    std::shared_ptr<const FileBytes> m_bytes;
    WorkbookData m_data;
    std::unique_ptr<WorkbookReader> m_reader;
};

bool Same(const Value& computed, const Value& saved)
{
    if (computed.IsNumber() && saved.IsNumber()) {
        const double a = computed.NumberValue(), b = saved.NumberValue();
        return a == b || std::fabs(a - b) <= 1e-12 * std::max(std::fabs(a), std::fabs(b));
    }
    // Some writers save every formula's value as the empty text (xls_formula_columns_beyond_z.xls):
    // there is nothing to compare with.
    if (saved.IsText() && saved.TextValue().empty())
        return true;
    if (computed.Kind() != saved.Kind())
        return false;
    if (computed.IsText())
        return computed.TextValue() == saved.TextValue();
    if (computed.IsError())
        return computed.ErrorValue() == saved.ErrorValue();
    return computed.NumberValue() == saved.NumberValue();
}

struct Tally {
    size_t formulas = 0;
    size_t computed = 0;
    std::vector<std::string> differences;
};

Tally Recompute(const std::string& path)
{
    Tally tally;
    ReaderHost host(path);
    WorkbookCalc calc(host);
    for (size_t sheet = 0; sheet < host.SheetCount(); ++sheet) {
        const SheetData* data = calc.LoadedSheet(sheet);
        if (!data)
            continue;
        const auto& cells = data->Formulas().cells;
        for (uint32_t f = 0; f < cells.size(); ++f) {
            if (!cells[f].valued)
                continue;
            ++tally.formulas;
            const Value computed = calc.Recompute(sheet, f);
            if (computed.IsBlank())
                continue;
            ++tally.computed;
            const Value saved = calc.ValueAt(sheet, cells[f].row, cells[f].column);
            if (!Same(computed, saved))
                tally.differences.push_back(CellName(host.SheetName(sheet), cells[f].row, cells[f].column) + ": "
                    + NumberToText(computed.NumberValue()) + " " + computed.TextValue() + " against "
                    + NumberToText(saved.NumberValue()) + " " + saved.TextValue());
        }
    }
    return tally;
}

} // namespace

TEST(Recompute, SavedFormulasComputeToTheirSavedValues)
{
    struct Book {
        const char* file;
        size_t leastComputed; // the parsers must read at least this many of its formulas
    };
    const Book books[] = {
        { "xls_formula.xls", 1 },
        { "xls_formula_columns_beyond_z.xls", 1 },
        { "issue_646_unsupported_formula_function.xls", 0 },
        { "formula-date-format.xls", 1 },
        { "xls_cross_sheet_chart.xls", 0 },
        { "formula.issue.xlsx", 1 },
        { "shared_formula_simple.xlsx", 1 },
        { "shared_formula_reversed.xlsx", 1 },
        { "issue_565_multi_axis_shared.xlsx", 1 },
        { "issue_567_absolute_shared.xlsx", 1 },
        { "string-ref.xlsx", 0 },
        { "issues.xlsx", 0 },
        { "issues.xls", 0 },
    };
    for (const Book& book : books) {
        const Tally tally = Recompute(std::string(VELLUMCAST_FIXTURES_DIR) + "/workbooks/" + book.file);
        std::cout << book.file << ": " << tally.computed << " of " << tally.formulas << " formulas computed\n";
        EXPECT_GE(tally.computed, book.leastComputed) << book.file;
        for (const std::string& difference : tally.differences)
            ADD_FAILURE() << book.file << " " << difference;
    }
}

namespace {

// Parsed-expression tokens of the binary workbook ([MS-XLSB] 2.5.98.16), rows and columns
// from 1.
std::string PtgRef(int row, int column)
{
    using vellumcast::testing::XlsbWriter;
    return "\x24" + XlsbWriter::U32(static_cast<uint32_t>(row - 1)) + XlsbWriter::U16(0xC000 | (column - 1));
}
std::string PtgArea(int firstRow, int firstColumn, int lastRow, int lastColumn)
{
    using vellumcast::testing::XlsbWriter;
    return "\x25" + XlsbWriter::U32(static_cast<uint32_t>(firstRow - 1))
        + XlsbWriter::U32(static_cast<uint32_t>(lastRow - 1)) + XlsbWriter::U16(0xC000 | (firstColumn - 1))
        + XlsbWriter::U16(0xC000 | (lastColumn - 1));
}
std::string PtgInt(int value)
{
    return "\x1E" + vellumcast::testing::XlsbWriter::U16(static_cast<uint32_t>(value));
}
std::string PtgStr(std::string_view ascii)
{
    std::string token = "\x17" + vellumcast::testing::XlsbWriter::U16(static_cast<uint32_t>(ascii.size()));
    for (const char c : ascii)
        token += std::string { c, '\0' };
    return token;
}
std::string PtgFunc(uint16_t tab)
{
    return "\x21" + vellumcast::testing::XlsbWriter::U16(tab);
}
std::string PtgFuncVar(uint8_t arguments, uint16_t tab)
{
    return "\x22" + std::string(1, static_cast<char>(arguments)) + vellumcast::testing::XlsbWriter::U16(tab);
}
constexpr char kAdd = '\x03', kMul = '\x05', kDiv = '\x06', kConcat = '\x08', kGreater = '\x0D';

} // namespace

// A binary workbook saves every formula with its value, which is kept; its tokens are
// read by the same parsers and evaluator as the legacy format's, checked here against the
// values saved beside them. A stale value must show as a difference, not be passed over.
TEST(Recompute, BinaryWorkbookFormulasComputeFromTheirTokens)
{
    vellumcast::testing::XlsbWriter writer;
    writer.AddSheet("Data")
        .Number(1, 1, 2)
        .Number(1, 2, 3)
        .FormulaNumber(1, 3, 5, 0, PtgRef(1, 1) + PtgRef(1, 2) + kAdd)
        // ROUND(SUM(A1:C1)/3,2)
        .FormulaNumber(
            1, 4, 3.33, 0, PtgArea(1, 1, 1, 3) + PtgFuncVar(1, 4) + PtgInt(3) + kDiv + PtgInt(2) + PtgFunc(27))
        .FormulaBoolean(1, 5, false, PtgRef(1, 1) + PtgRef(1, 2) + kGreater)
        .FormulaError(1, 6, "#DIV/0!", PtgRef(1, 1) + PtgInt(0) + kDiv)
        .FormulaString(1, 7, "", "2 and 3", PtgRef(1, 1) + PtgStr(" and ") + kConcat + PtgRef(1, 2) + kConcat)
        // IF(A1>B1,"more",C1*2)
        .FormulaNumber(2, 1, 10, 0,
            PtgRef(1, 1) + PtgRef(1, 2) + kGreater + PtgStr("more") + PtgRef(1, 3) + PtgInt(2) + kMul
                + PtgFuncVar(3, 1))
        .FormulaNumber(2, 2, 99, 0, PtgRef(1, 1) + PtgRef(1, 2) + kMul); // stale: A1*B1 is 6
    const vellumcast::testing::TempDir folder;
    const Tally tally = Recompute(writer.Save(folder.File("formulas.xlsb")));
    EXPECT_EQ(tally.formulas, 7u);
    EXPECT_EQ(tally.computed, 7u);
    ASSERT_EQ(tally.differences.size(), 1u);
    EXPECT_EQ(tally.differences[0].substr(0, tally.differences[0].find(':')), "Data!B2");
}
