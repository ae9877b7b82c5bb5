// Real workbooks saved by the spreadsheet application and other programs, with their
// formulas' values: every formula is computed anew from its tokens or text and compared
// with the value saved. A formula the engine leaves blank is no fault; a different value is.

#include "TestPaths.h"
#include "spreadsheet/FileBytes.h"
#include "spreadsheet/FormatDetection.h"
#include "spreadsheet/SheetData.h"
#include "spreadsheet/formula/Numbers.h"
#include "spreadsheet/formula/WorkbookCalc.h"

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

Tally Recompute(const std::string& file)
{
    Tally tally;
    ReaderHost host(std::string(VELLUMCAST_FIXTURES_DIR) + "/workbooks/" + file);
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
        const Tally tally = Recompute(book.file);
        std::cout << book.file << ": " << tally.computed << " of " << tally.formulas << " formulas computed\n";
        EXPECT_GE(tally.computed, book.leastComputed) << book.file;
        for (const std::string& difference : tally.differences)
            ADD_FAILURE() << book.file << " " << difference;
    }
}
