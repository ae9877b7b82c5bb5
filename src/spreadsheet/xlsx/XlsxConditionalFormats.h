#pragma once
// Number formats that conditional formatting of the cell-value kind gives cells: a rule
// such as "greater than 10" whose differential format (dxf) holds a number format shows
// the numbers it holds for in that format, as the application shows them. Other kinds of
// rule (expressions, top ten, data bars, text) and rules comparing with anything but a
// number are left out (docs/number-formats.md).

#include "spreadsheet/Cell.h"
#include "spreadsheet/container/Zip.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace vellumcast::spreadsheet::xlsx {

// The style standing for each differential format's number format, by dxf index;
// kNoDxfStyle for a differential format without one.
inline constexpr uint32_t kNoDxfStyle = UINT32_MAX;

class ConditionalNumberFormats {
public:
    enum class Op : uint8_t { Less, LessEqual, Equal, NotEqual, GreaterEqual, Greater, Between, NotBetween };
    struct Rule {
        std::vector<CellRange> ranges;
        Op op = Op::Equal;
        double first = 0;
        double second = 0;
        uint32_t style = 0;
        int64_t priority = 0;
    };

    bool Empty() const { return m_rules.empty(); }
    // Adds a rule; rules are asked in the order of their priority (1 first).
    void Add(Rule rule);
    // The style of the rule of highest priority that holds for this number in this cell,
    // or style when none does.
    uint32_t StyleFor(int32_t row, int32_t column, double value, uint32_t style) const;

private:
    std::vector<Rule> m_rules;
};

// The rules of a worksheet part of the cell-value kind whose differential format has a
// number format (dxfStyles[dxfId] other than kNoDxfStyle). Reads the part through,
// passing over its cells: worth it only for workbooks whose styles hold such formats.
// Throws SpreadsheetError as reading the part does.
ConditionalNumberFormats ReadConditionalNumberFormats(
    const container::ZipArchive& archive, const container::ZipEntry& entry, const std::vector<uint32_t>& dxfStyles);

} // namespace vellumcast::spreadsheet::xlsx
