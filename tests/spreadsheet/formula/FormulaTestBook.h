#pragma once
// A workbook held in memory for formula tests: sheets of cells written as text ("12",
// "'text", "TRUE", "#N/A", "=A1*2"), defined names, a fixed clock. A formula is computed
// as the engine computes those a file saves without a value.

#include "spreadsheet/SheetData.h"
#include "spreadsheet/formula/Numbers.h"
#include "spreadsheet/formula/WorkbookCalc.h"
#include "spreadsheet/xlsx/XlsxText.h"

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vellumcast::testing {

namespace formula = spreadsheet::formula;

class FormulaTestBook final : public formula::CalcHost {
public:
    struct TestSheet {
        std::string name;
        std::map<std::pair<int32_t, int32_t>, std::string> cells; // (row, column) → content
    };

    // Cells by reference ("B3"), added to the sheet of that name (made when new).
    FormulaTestBook& Set(const std::string& sheet, const std::string& reference, std::string content)
    {
        int32_t row = 0, column = 0;
        spreadsheet::xlsx::ParseCellReference(reference, row, column);
        SheetNamed(sheet).cells[{ row, column }] = std::move(content);
        return *this;
    }
    FormulaTestBook& Name(std::string name, std::string body, int32_t scope = -1)
    {
        formula::DefinedName defined;
        defined.name = std::move(name);
        defined.body = std::move(body);
        defined.scope = scope;
        m_formulas.names.push_back(std::move(defined));
        return *this;
    }
    FormulaTestBook& Date1904()
    {
        m_system = spreadsheet::numfmt::DateSystem::Date1904;
        return *this;
    }

    // The value of a cell, its formula computed; the calculation is made on first use.
    formula::Value ValueAt(const std::string& sheet, const std::string& reference)
    {
        int32_t row = 0, column = 0;
        spreadsheet::xlsx::ParseCellReference(reference, row, column);
        return Calc().ValueAt(IndexOf(sheet), row, column);
    }
    formula::WorkbookCalc& Calc(const formula::CalcBudget* budget = nullptr)
    {
        if (!m_calc) {
            m_formulas.namesRead = true;
            m_formulas.tabs.clear();
            for (const TestSheet& sheet : m_sheets)
                m_formulas.tabs.push_back(sheet.name);
            m_calc = budget ? std::make_unique<formula::WorkbookCalc>(*this, *budget)
                            : std::make_unique<formula::WorkbookCalc>(*this);
        }
        return *m_calc;
    }
    size_t IndexOf(const std::string& sheet) const
    {
        for (size_t i = 0; i < m_sheets.size(); ++i) {
            if (m_sheets[i].name == sheet)
                return i;
        }
        return SIZE_MAX;
    }
    size_t Loads() const { return m_loads; }

    // CalcHost
    size_t SheetCount() override { return m_sheets.size(); }
    std::string_view SheetName(size_t index) override { return m_sheets[index].name; }
    void LoadSheet(size_t index, spreadsheet::SheetData& into) override
    {
        ++m_loads;
        spreadsheet::SheetBuilder builder(into);
        for (const auto& [place, content] : m_sheets[index].cells)
            Add(builder, place.first, place.second, content);
        builder.Finish();
    }
    std::string_view SharedString(uint32_t) override { return {}; }
    const formula::WorkbookFormulas& Formulas() override { return m_formulas; }
    spreadsheet::numfmt::DateSystem DateSystem() override { return m_system; }
    double Now() override { return m_now - (m_system == spreadsheet::numfmt::DateSystem::Date1904 ? 1462 : 0); }
    uint64_t FileSize() override { return 4096; }

    // 2024-05-17 13:30 in the 1900 date system.
    double m_now = 45429.5625;

private:
    TestSheet& SheetNamed(const std::string& name)
    {
        for (TestSheet& sheet : m_sheets) {
            if (sheet.name == name)
                return sheet;
        }
        m_sheets.push_back({ name, {} });
        return m_sheets.back();
    }

    static void Add(spreadsheet::SheetBuilder& builder, int32_t row, int32_t column, const std::string& content)
    {
        using spreadsheet::CellError;
        CellError error = CellError::Null;
        if (content.empty()) {
            builder.AddBlank(row, column, 0);
        } else if (content[0] == '=') {
            builder.AddFormula(row, column, 0, formula::FormulaGrammar::A1Text, content.substr(1));
        } else if (content[0] == '\'') {
            builder.AddString(row, column, content.substr(1), 0);
        } else if (content == "TRUE" || content == "FALSE") {
            builder.AddBoolean(row, column, content == "TRUE", 0);
        } else if (spreadsheet::CellErrorFromText(content, error)) {
            builder.AddError(row, column, error, 0);
        } else {
            builder.AddNumber(row, column, std::stod(content), 0);
        }
    }

    std::vector<TestSheet> m_sheets;
    formula::WorkbookFormulas m_formulas;
    spreadsheet::numfmt::DateSystem m_system = spreadsheet::numfmt::DateSystem::Date1900;
    std::unique_ptr<formula::WorkbookCalc> m_calc;
    size_t m_loads = 0;
};

// A value as the tables write it: 3.5, "text", TRUE, #N/A; "blank" for none.
inline std::string Shown(const formula::Value& value)
{
    switch (value.Kind()) {
    case formula::ValueKind::Number:
        return formula::NumberToText(value.NumberValue());
    case formula::ValueKind::Text:
        return "\"" + value.TextValue() + "\"";
    case formula::ValueKind::Boolean:
        return value.BooleanValue() ? "TRUE" : "FALSE";
    case formula::ValueKind::Error:
        return std::string(spreadsheet::CellErrorText(value.ErrorValue()));
    case formula::ValueKind::Blank:
        return "blank";
    default:
        return "?";
    }
}

} // namespace vellumcast::testing
