#include "spreadsheet/xlsx/XlsxConditionalFormats.h"

#include "spreadsheet/xlsx/XlsxText.h"
#include "spreadsheet/xml/XmlScanner.h"
#include "spreadsheet/xml/XmlText.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string>

namespace vellumcast::spreadsheet::xlsx {

namespace {

using Op = ConditionalNumberFormats::Op;

std::optional<Op> OpOf(std::string_view name)
{
    static constexpr std::pair<std::string_view, Op> kOps[]
        = { { "lessThan", Op::Less }, { "lessThanOrEqual", Op::LessEqual }, { "equal", Op::Equal },
              { "notEqual", Op::NotEqual }, { "greaterThanOrEqual", Op::GreaterEqual }, { "greaterThan", Op::Greater },
              { "between", Op::Between }, { "notBetween", Op::NotBetween } };
    for (const auto& [word, op] : kOps) {
        if (name == word)
            return op;
    }
    return std::nullopt;
}

// A formula that is a number written out ("10", "-2.5", "1E3"); nothing for any other.
std::optional<double> Constant(std::string_view formula)
{
    while (!formula.empty() && (formula.front() == ' ' || formula.front() == '='))
        formula.remove_prefix(1);
    while (!formula.empty() && formula.back() == ' ')
        formula.remove_suffix(1);
    if (!formula.empty() && formula.front() == '+')
        formula.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(formula.data(), formula.data() + formula.size(), value);
    if (formula.empty() || error != std::errc() || end != formula.data() + formula.size())
        return std::nullopt;
    return value;
}

// "A1:B3 D4": the areas of a sqref; references that cannot be read are left out.
std::vector<CellRange> Areas(std::string_view sqref)
{
    std::vector<CellRange> areas;
    while (!sqref.empty()) {
        const size_t space = sqref.find(' ');
        std::string_view one = sqref.substr(0, space);
        sqref = space == std::string_view::npos ? std::string_view() : sqref.substr(space + 1);
        if (one.empty())
            continue;
        const size_t colon = one.find(':');
        CellRange area;
        const std::string_view last = colon == std::string_view::npos ? one : one.substr(colon + 1);
        if (ParseCellReference(one.substr(0, colon), area.firstRow, area.firstColumn)
            && ParseCellReference(last, area.lastRow, area.lastColumn))
            areas.push_back(area);
    }
    return areas;
}

class RulesHandler final : public xml::XmlHandler {
public:
    explicit RulesHandler(const std::vector<uint32_t>& dxfStyles)
        : m_dxfStyles(dxfStyles)
    {
    }

    void StartElement(std::string_view, std::string_view localName, const xml::XmlAttributes& attributes) override
    {
        if (localName == "sheetData") {
            scanner->SkipContent(); // the cells are read by the load that follows
        } else if (localName == "conditionalFormatting") {
            m_areas = Areas(attributes.Get("sqref"));
        } else if (localName == "cfRule") {
            m_rule.reset();
            m_formulas.clear();
            uint32_t dxf = 0;
            const auto op = OpOf(attributes.Get("operator"));
            if (attributes.Get("type") != "cellIs" || !op || !ParseInteger(attributes.Get("dxfId"), dxf)
                || dxf >= m_dxfStyles.size() || m_dxfStyles[dxf] == kNoDxfStyle || m_areas.empty())
                return;
            ConditionalNumberFormats::Rule rule;
            rule.ranges = m_areas;
            rule.op = *op;
            rule.style = m_dxfStyles[dxf];
            if (!ParseInteger(attributes.Get("priority"), rule.priority))
                rule.priority = INT64_MAX;
            m_rule = std::move(rule);
        } else if (localName == "formula" && m_rule) {
            m_inFormula = true;
            m_formulas.emplace_back();
        }
    }

    void EndElement(std::string_view, std::string_view localName) override
    {
        if (localName == "formula") {
            m_inFormula = false;
        } else if (localName == "cfRule" && m_rule) {
            const bool two = m_rule->op == Op::Between || m_rule->op == Op::NotBetween;
            const auto first = m_formulas.size() >= 1 ? Constant(m_formulas[0]) : std::nullopt;
            const auto second = m_formulas.size() >= 2 ? Constant(m_formulas[1]) : std::nullopt;
            if (first && (!two || second)) {
                m_rule->first = *first;
                m_rule->second = second.value_or(0);
                rules.Add(std::move(*m_rule));
            }
            m_rule.reset();
        } else if (localName == "conditionalFormatting") {
            m_areas.clear();
        }
    }

    void Characters(std::string_view text) override
    {
        if (m_inFormula && m_formulas.back().size() < 256)
            m_formulas.back().append(text);
    }

    ConditionalNumberFormats rules;
    xml::XmlScanner* scanner = nullptr;

private:
    const std::vector<uint32_t>& m_dxfStyles;
    std::vector<CellRange> m_areas;
    std::optional<ConditionalNumberFormats::Rule> m_rule;
    std::vector<std::string> m_formulas;
    bool m_inFormula = false;
};

bool Holds(Op op, double value, double first, double second)
{
    const double low = std::min(first, second), high = std::max(first, second);
    switch (op) {
    case Op::Less:
        return value < first;
    case Op::LessEqual:
        return value <= first;
    case Op::Equal:
        return value == first;
    case Op::NotEqual:
        return value != first;
    case Op::GreaterEqual:
        return value >= first;
    case Op::Greater:
        return value > first;
    case Op::Between:
        return value >= low && value <= high;
    case Op::NotBetween:
        return value < low || value > high;
    }
    return false;
}

} // namespace

void ConditionalNumberFormats::Add(Rule rule)
{
    const auto at = std::upper_bound(m_rules.begin(), m_rules.end(), rule.priority,
        [](int64_t priority, const Rule& other) { return priority < other.priority; });
    m_rules.insert(at, std::move(rule));
}

uint32_t ConditionalNumberFormats::StyleFor(int32_t row, int32_t column, double value, uint32_t style) const
{
    for (const Rule& rule : m_rules) {
        const bool inside = std::any_of(rule.ranges.begin(), rule.ranges.end(), [&](const CellRange& area) {
            return row >= area.firstRow && row <= area.lastRow && column >= area.firstColumn
                && column <= area.lastColumn;
        });
        if (inside && Holds(rule.op, value, rule.first, rule.second))
            return rule.style;
    }
    return style;
}

ConditionalNumberFormats ReadConditionalNumberFormats(
    const container::ZipArchive& archive, const container::ZipEntry& entry, const std::vector<uint32_t>& dxfStyles)
{
    // The parts every writer gives in UTF-8 are passed over quickly; one in another
    // encoding is left without its rules.
    RulesHandler handler(dxfStyles);
    xml::XmlScanner scanner(handler);
    handler.scanner = &scanner;
    bool first = true, readable = true;
    archive.ReadUntil(entry, [&](std::string_view chunk) {
        if (first) {
            first = false;
            readable = xml::ScannerReads(chunk);
        }
        if (readable)
            scanner.Feed(chunk, false);
        return readable;
    });
    if (!readable)
        return {};
    scanner.Feed({}, true);
    return std::move(handler.rules);
}

} // namespace vellumcast::spreadsheet::xlsx
