#pragma once
// What the function groups share: reading an argument's cells, the criteria of COUNTIF and
// its kin, and the grid an argument lays out (a reference's area or an array).

#include "spreadsheet/formula/Functions.h"
#include "spreadsheet/formula/Numbers.h"

#include <functional>
#include <memory>
#include <string>

namespace vellumcast::spreadsheet::formula {

// Calls visit for every value of an argument: each non-empty cell of a reference, each
// item of an array, or the value itself.
void ForEachValue(Call& call, size_t i, const std::function<void(const Value&)>& visit);

// An argument's single area, whole columns and rows cut to the sheet's used range; false
// when the argument is not one area.
bool SingleArea(Call& call, size_t i, Area& area);

// A rectangle of values to look through by position: a reference's area (read cell by
// cell as asked) or an array.
class Grid {
public:
    // From an argument: a reference of one area or an array; anything else is one value.
    Grid(Call& call, size_t i);
    Grid(Call& call, const Value& value);
    int64_t Rows() const { return m_rows; }
    int64_t Columns() const { return m_columns; }
    Value At(int64_t row, int64_t column) const; // from 0
    bool IsReference() const { return m_isReference; }
    const Area& AreaOf() const { return m_area; }
    // The reference to one cell or a part of the area (from 0, inclusive).
    Value Part(int64_t firstRow, int64_t firstColumn, int64_t lastRow, int64_t lastColumn) const;
    bool Valid() const { return m_valid; }

private:
    void From(const Value& value);
    Call& m_call;
    bool m_valid = true;
    bool m_isReference = false;
    Area m_area;
    std::shared_ptr<const ArrayValue> m_array;
    Value m_single;
    int64_t m_rows = 1;
    int64_t m_columns = 1;
};

// A criterion of COUNTIF, SUMIF and their kin: "=x", "<>x", "<5", ">=2024-01-01", "a*b?",
// a number, a boolean or an error, as the application matches cells against it.
class Criterion {
public:
    Criterion(const Value& criterion, numfmt::DateSystem system);
    bool Matches(const Value& cell) const;
    // Whether an empty cell matches: then cells passed over as empty count too.
    bool MatchesBlank() const { return m_matchesBlank; }

private:
    enum class Op { Equal, NotEqual, Less, LessEqual, Greater, GreaterEqual };
    Op m_op = Op::Equal;
    Value m_operand;
    bool m_numeric = false; // the operand reads as a number
    double m_number = 0;
    bool m_wildcards = false;
    bool m_matchesBlank = false;
    std::u16string m_pattern; // the text operand, lower case, for wildcard matching
};

// Whether text matches a pattern of "*" (any run), "?" (any character) and "~" (the next
// character as itself), letters compared without regard to case.
bool WildcardMatch(std::u16string_view text, std::u16string_view pattern);
std::u16string LowerUtf16(std::string_view text);

} // namespace vellumcast::spreadsheet::formula
