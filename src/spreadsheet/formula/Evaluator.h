#pragma once
// Evaluates a parsed formula at a cell, with the application's operator semantics:
// numbers, text and booleans coerced as it coerces them, errors passed on from the first
// operand that holds one, references read through implicit intersection where one value
// is wanted, and arrays item by item. What a formula reads of the workbook comes from an
// EvaluationContext.

#include "spreadsheet/formula/Expression.h"
#include "spreadsheet/numfmt/NumberFormat.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vellumcast::spreadsheet::formula {

struct Position {
    int32_t sheet = 0;
    int32_t row = 1;
    int32_t column = 1;
};

// Where each value lies along a row or column of cells, for exact lookups: the first and
// the last place of each, by LookupIndex::KeyOf.
struct LookupIndex {
    std::unordered_map<std::string, std::pair<int64_t, int64_t>> places;
    // The key of a value as exact lookups match it (text without regard to case); "" for
    // a blank, which is not looked up.
    static std::string KeyOf(const Value& value);
};

// What a formula reads of its workbook. Each call may throw UncomputableFormula (a cell
// whose formula cannot be computed, a budget passed).
class EvaluationContext {
public:
    virtual ~EvaluationContext() = default;
    // The value of a cell, a formula without value computed first; blank when empty.
    virtual Value CellValue(int32_t sheet, int32_t row, int32_t column) = 0;
    // Calls visit for each cell of the area that holds a value or a formula, row by row,
    // left to right; empty cells are passed over.
    virtual void VisitCells(const Area& area, const std::function<void(int32_t, int32_t, const Value&)>& visit) = 0;
    // The bounding box of a sheet's recorded cells: whole columns and rows are read no
    // further than it.
    virtual CellRange UsedRange(int32_t sheet) = 0;
    // The engine's index of the worksheet of this name (as the application compares names,
    // ignoring case), or -1.
    virtual int32_t SheetNamed(std::string_view name) = 0;
    // The parsed formula of a defined name as seen from a sheet (its own names first),
    // or nullptr when the workbook defines no such name.
    virtual const Expression* DefinedName(std::string_view name, int32_t sheet) = 0;
    // Whether the workbook's names are all known, so that one missing is #NAME?.
    virtual bool NamesKnown() = 0;
    // The run's clock as a serial of the workbook's date system.
    virtual double Now() = 0;
    virtual numfmt::DateSystem DateSystem() = 0;
    // Counts work against the budget; throws UncomputableFormula{Budget} past it.
    virtual void Charge(uint64_t steps) = 0;
    // The index of a line of cells (one row or one column), made when first asked for and
    // kept, so that many lookups in one table cost one pass over it; nullptr when the
    // context keeps none and lookups go through the cells.
    virtual const LookupIndex* IndexOf(const Area&) { return nullptr; }
};

// A function's arguments, each evaluated when first asked for and then kept.
class Evaluator;
class Call {
public:
    Call(Evaluator& evaluator, const Node& node);

    size_t Count() const { return m_count; }
    bool Missing(size_t i) const;
    // The argument as it evaluates: a reference, an array or a value.
    const Value& Raw(size_t i);
    // One value: a reference through implicit intersection, an array's first item.
    Value Scalar(size_t i);
    // Coerced as the application coerces arguments; an error, or a value that does not
    // convert, ends the call with that error (FunctionError).
    double Number(size_t i);
    double NumberOr(size_t i, double missing) { return i < m_count && !Missing(i) ? Number(i) : missing; }
    std::string Text(size_t i);
    bool Boolean(size_t i);
    // Every number of the arguments from first on, as SUM takes them: numbers of
    // references and arrays (text, booleans and blanks there passed over), numbers,
    // booleans and numeric text given directly; an error anywhere ends the call.
    void Numbers(size_t first, const std::function<void(double)>& take);

    // The arguments' values, given: a function computed item by item is called with them.
    void Preset(const std::vector<Value>& values)
    {
        for (size_t i = 0; i < values.size() && i < m_values.size(); ++i)
            m_values[i] = values[i];
    }

    Evaluator& Eval() { return m_evaluator; }
    EvaluationContext& Context();
    const Position& At() const;

private:
    Evaluator& m_evaluator;
    const Node& m_node;
    size_t m_count;
    std::vector<std::optional<Value>> m_values;
};

// Ends a function's call with an error value.
struct FunctionError {
    CellError error;
};
[[noreturn]] inline void Fail(CellError error)
{
    throw FunctionError { error };
}

class Evaluator {
public:
    // depth: how many formulas are being computed beneath this one (cells it reads).
    Evaluator(EvaluationContext& context, const Expression& expression, Position at, bool arrayFormula);

    // The formula's value as its cell shows it: a number, text, boolean or error (a blank
    // reference gives 0, an array its first item).
    Value Result();

    // The value of a node as it evaluates: a reference, an array or a value.
    Value Evaluate(uint32_t node);
    // The same, as one value.
    Value EvaluateScalar(uint32_t node) { return ToScalar(Evaluate(node)); }

    // A reference through implicit intersection with the formula's cell, an array's
    // first item; other values as they are.
    Value ToScalar(const Value& value);
    // In an array formula (or an argument that takes arrays), a reference as the array of
    // its cells' values; else ToScalar. Arrays stay arrays.
    Value ToOperand(const Value& value);
    // The values of a reference's single area, or an array, or a value, as an array.
    std::shared_ptr<const ArrayValue> ToArray(const Value& value);

    EvaluationContext& Context() { return m_context; }
    const Expression& Formula() const { return m_expression; }
    const Position& At() const { return m_at; }
    // Whether references in operands are read as arrays (array formulas, SUMPRODUCT's
    // arguments). Returns the previous setting.
    bool SetArrayContext(bool on) { return std::exchange(m_arrayContext, on); }
    bool ArrayContext() const { return m_arrayContext; }

private:
    Value EvaluateReference(const RefNode& ref);
    Value EvaluateName(const Node& node);
    Value EvaluateUnary(const Node& node);
    Value EvaluateBinary(const Node& node);
    Value EvaluateFunction(const Node& node);
    Value ReferenceOperator(Operator op, const Value& left, const Value& right);
    Value Elementwise(const Value& left, const Value& right, Operator op);
    int32_t ResolveSheet(int32_t sheet);

    EvaluationContext& m_context;
    const Expression& m_expression;
    Position m_at;
    bool m_arrayContext;
};

// How deep evaluation runs on this thread, through every formula and name being computed:
// what bounds the stack it takes. Past kMaxEvaluationDepth a formula is not computed.
int EvaluationDepth();
inline constexpr int kMaxEvaluationDepth = 640;

// The scalar operators on cell values, with the application's coercions.
Value ApplyBinary(Operator op, const Value& left, const Value& right);
Value ApplyUnary(Operator op, const Value& operand);

// Coercions of one cell value, as operators and functions coerce their operands: false when
// it does not convert (error set to the error to give).
bool ToNumber(const Value& value, double& number, CellError& error);
bool ToBool(const Value& value, bool& on, CellError& error);
// A value as text: a number as the application writes it into text (up to 15 significant
// digits), TRUE/FALSE, "" for blank; an error gives false.
bool ToText(const Value& value, std::string& text, CellError& error);
std::string NumberToText(double number);
// Text read as a number as the application reads typed text: "12", "1.5E3", "50%",
// "$1,234.50", "(12)", dates and times such as "2024-03-01" or "13:30".
bool TextToNumber(std::string_view text, double& number, numfmt::DateSystem system);

// The comparison of two cell values in the application's order: numbers before text before
// booleans, text without regard to case; blank counts as 0, "" or FALSE beside the other.
int CompareValues(const Value& left, const Value& right);

} // namespace vellumcast::spreadsheet::formula
