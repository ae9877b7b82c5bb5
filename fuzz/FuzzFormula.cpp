// Parses arbitrary bytes as a formula of one of the four grammars (the first byte picks
// it: Office Open XML's text, OpenFormula, the legacy tokens or the binary workbook's) and
// computes it in a small workbook, where it stands among numbers, texts, booleans, errors
// and other formulas of the same grammar, which may read it in turn. Parsing never throws
// and computing ends, within its budget, in a value or a formula left blank.

#include "spreadsheet/SheetData.h"
#include "spreadsheet/formula/Parsers.h"
#include "spreadsheet/formula/WorkbookCalc.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using namespace vellumcast::spreadsheet;
using namespace vellumcast::spreadsheet::formula;

class FuzzHost final : public CalcHost {
public:
    FuzzHost(FormulaGrammar grammar, std::string_view body)
        : m_grammar(grammar)
        , m_body(body)
    {
        m_formulas.tabs = { "Data", "Other" };
        m_formulas.names.push_back({ "Rate", -1, FormulaGrammar::A1Text, "Data!$A$1" });
        m_formulas.names.push_back({ "Loop", -1, FormulaGrammar::A1Text, "Loop+1" });
        m_formulas.externBooks.push_back({ true, false, {} });
        m_formulas.externSheets.push_back({ 0, 1, 1 });
        m_formulas.namesRead = true;
    }
    size_t SheetCount() override { return 2; }
    std::string_view SheetName(size_t index) override { return index == 0 ? "Data" : "Other"; }
    void LoadSheet(size_t index, SheetData& into) override
    {
        SheetBuilder builder(into);
        builder.LimitMemory(64 << 20);
        if (index == 0) {
            builder.AddNumber(1, 1, 3, 0);
            builder.AddString(1, 2, "Apple", 0);
            builder.AddBoolean(1, 3, true, 0);
            builder.AddError(1, 4, CellError::NA, 0);
            builder.AddNumber(2, 1, -2.5, 0);
            builder.AddFormula(2, 2, 0, m_grammar, m_body); // B2: the formula itself
            builder.AddFormula(3, 1, 0, FormulaGrammar::A1Text, "B2*2");
            builder.AddFormula(3, 2, 0, FormulaGrammar::A1Text, "SUM(A1:B2)");
        } else {
            builder.AddNumber(1, 1, 10, 0);
            builder.AddFormula(1, 2, 0, m_grammar, m_body);
        }
        builder.Finish();
    }
    std::string_view SharedString(uint32_t) override { return {}; }
    const WorkbookFormulas& Formulas() override { return m_formulas; }
    numfmt::DateSystem DateSystem() override { return numfmt::DateSystem::Date1900; }
    double Now() override { return 45429.5; }
    uint64_t FileSize() override { return m_body.size(); }

private:
    FormulaGrammar m_grammar;
    std::string m_body;
    WorkbookFormulas m_formulas;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const auto grammar = static_cast<FormulaGrammar>(data[0] % 4);
    const std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);
    FuzzHost host(grammar, body);
    TokenContext context;
    context.workbook = &host.Formulas();
    (void)ParseFormula(grammar, body, 2, 2, context);
    CalcBudget budget;
    budget.steps = 200000;
    budget.time = std::chrono::seconds(2);
    budget.memory = 64 << 20;
    WorkbookCalc calc(host, budget);
    for (const auto& [sheet, row, column] :
        { std::tuple { 0u, 2, 2 }, std::tuple { 0u, 3, 1 }, std::tuple { 0u, 3, 2 }, std::tuple { 1u, 1, 2 } })
        (void)calc.ValueAt(sheet, row, column);
    return 0;
}
