// Logical functions (IF and its kin, AND, OR, NOT) and the information functions
// (ISBLANK and the other IS functions, NA, N, T, ERROR.TYPE).

#include "spreadsheet/formula/FunctionSupport.h"

#include <cmath>

namespace vellumcast::spreadsheet::formula {

namespace {

// A condition as IF takes it: a number, a boolean, or TRUE or FALSE as text.
bool Condition(const Value& value)
{
    bool on = false;
    CellError error = CellError::Value;
    if (!ToBool(value, on, error))
        Fail(error);
    return on;
}

// Picks, item by item, the item of whenTrue or whenFalse (each an array or a value).
Value PickItems(const ArrayValue& conditions, const Value& whenTrue, const Value& whenFalse)
{
    auto result = std::make_shared<ArrayValue>();
    result->rows = conditions.rows;
    result->columns = conditions.columns;
    const auto item = [](const Value& value, int32_t r, int32_t c) {
        if (!value.IsArray())
            return value;
        const ArrayValue& array = value.ArrayItems();
        const int32_t row = array.rows == 1 ? 0 : r, column = array.columns == 1 ? 0 : c;
        if (row >= array.rows || column >= array.columns)
            return Value::Error(CellError::NA);
        return array.At(row, column);
    };
    for (int32_t r = 0; r < conditions.rows; ++r) {
        for (int32_t c = 0; c < conditions.columns; ++c) {
            const Value& condition = conditions.At(r, c);
            bool on = false;
            CellError error = CellError::Value;
            if (!ToBool(condition, on, error))
                result->items.push_back(Value::Error(error));
            else
                result->items.push_back(item(on ? whenTrue : whenFalse, r, c));
        }
    }
    return Value::Array(std::move(result));
}

Value If(Call& call)
{
    const Value condition = call.Eval().ToOperand(call.Raw(0));
    if (condition.IsArray()) {
        const Value whenTrue = call.Count() > 1 ? call.Eval().ToOperand(call.Raw(1)) : Value::Boolean(true);
        const Value whenFalse = call.Count() > 2 ? call.Eval().ToOperand(call.Raw(2)) : Value::Boolean(false);
        return PickItems(condition.ArrayItems(), whenTrue, whenFalse);
    }
    if (Condition(condition))
        return call.Count() > 1 ? call.Raw(1) : Value::Boolean(true);
    // IF(FALSE, x) without a third argument is FALSE.
    return call.Count() > 2 ? call.Raw(2) : Value::Boolean(false);
}

Value Ifs(Call& call)
{
    if (call.Count() % 2 != 0)
        Fail(CellError::NA);
    for (size_t i = 0; i + 1 < call.Count(); i += 2) {
        if (Condition(call.Scalar(i)))
            return call.Raw(i + 1);
    }
    return Value::Error(CellError::NA);
}

// IFERROR and IFNA: the value, or the alternative when it is an error (of that kind). An
// empty cell is the empty text.
Value IfErrorOf(Call& call, bool onlyNA)
{
    const Value value = call.Eval().ToOperand(call.Raw(0));
    const auto caught
        = [&](const Value& item) { return item.IsError() && (!onlyNA || item.ErrorValue() == CellError::NA); };
    const auto alternative = [&]() {
        const Value other = call.Scalar(1);
        return other.IsBlank() ? Value::Text("") : other;
    };
    if (value.IsArray()) {
        auto result = std::make_shared<ArrayValue>(value.ArrayItems());
        for (Value& item : result->items) {
            if (caught(item))
                item = alternative();
        }
        return Value::Array(std::move(result));
    }
    if (caught(value))
        return alternative();
    if (value.IsBlank())
        return Value::Text("");
    return value;
}

Value IfError(Call& call)
{
    return IfErrorOf(call, false);
}

Value IfNa(Call& call)
{
    return IfErrorOf(call, true);
}

// AND, OR and XOR: the booleans and numbers of their arguments; text and empty cells in
// references are passed over; no logical value at all is #VALUE!.
template <typename Combine> Value Logical(Call& call, bool start, Combine combine)
{
    bool result = start;
    bool any = false;
    for (size_t i = 0; i < call.Count(); ++i) {
        if (call.Missing(i))
            continue;
        const Value& raw = call.Raw(i);
        if (raw.IsReference() || raw.IsArray()) {
            ForEachValue(call, i, [&](const Value& item) {
                if (item.IsError())
                    Fail(item.ErrorValue());
                if (item.IsNumber() || item.IsBoolean()) {
                    result = combine(result, item.NumberValue() != 0);
                    any = true;
                }
            });
            continue;
        }
        result = combine(result, Condition(raw));
        any = true;
    }
    if (!any)
        Fail(CellError::Value);
    return Value::Boolean(result);
}

Value And(Call& call)
{
    return Logical(call, true, [](bool a, bool b) { return a && b; });
}

Value Or(Call& call)
{
    return Logical(call, false, [](bool a, bool b) { return a || b; });
}

Value Xor(Call& call)
{
    return Logical(call, false, [](bool a, bool b) { return a != b; });
}

Value Not(Call& call)
{
    return Value::Boolean(!call.Boolean(0));
}

Value True(Call&)
{
    return Value::Boolean(true);
}

Value False(Call&)
{
    return Value::Boolean(false);
}

Value Switch(Call& call)
{
    const Value subject = call.Scalar(0);
    if (subject.IsError())
        return subject;
    size_t i = 1;
    for (; i + 1 < call.Count(); i += 2) {
        const Value candidate = call.Scalar(i);
        if (candidate.IsError())
            return candidate;
        if (ApplyBinary(Operator::Equal, subject, candidate).BooleanValue())
            return call.Raw(i + 1);
    }
    if (i < call.Count())
        return call.Raw(i); // the default
    return Value::Error(CellError::NA);
}

Value IsBlank(Call& call)
{
    return Value::Boolean(call.Scalar(0).IsBlank());
}

Value IsNumber(Call& call)
{
    return Value::Boolean(call.Scalar(0).IsNumber());
}

Value IsText(Call& call)
{
    return Value::Boolean(call.Scalar(0).IsText());
}

Value IsNonText(Call& call)
{
    return Value::Boolean(!call.Scalar(0).IsText());
}

Value IsLogical(Call& call)
{
    return Value::Boolean(call.Scalar(0).IsBoolean());
}

Value IsError(Call& call)
{
    return Value::Boolean(call.Scalar(0).IsError());
}

Value IsErr(Call& call)
{
    const Value value = call.Scalar(0);
    return Value::Boolean(value.IsError() && value.ErrorValue() != CellError::NA);
}

Value IsNa(Call& call)
{
    const Value value = call.Scalar(0);
    return Value::Boolean(value.IsError() && value.ErrorValue() == CellError::NA);
}

Value IsRef(Call& call)
{
    return Value::Boolean(call.Raw(0).IsReference());
}

Value Parity(Call& call, bool even)
{
    const Value value = call.Scalar(0);
    if (value.IsBoolean() || (value.IsText() && !value.TextValue().empty())) {
        double ignored = 0;
        if (value.IsBoolean() || !TextToNumber(value.TextValue(), ignored, call.Context().DateSystem()))
            Fail(CellError::Value);
    }
    const double number = std::trunc(call.Number(0));
    return Value::Boolean((std::fmod(std::fabs(number), 2) == 0) == even);
}

Value IsEven(Call& call)
{
    return Parity(call, true);
}

Value IsOdd(Call& call)
{
    return Parity(call, false);
}

Value Na(Call&)
{
    return Value::Error(CellError::NA);
}

Value ErrorType(Call& call)
{
    const Value value = call.Scalar(0);
    if (!value.IsError())
        return Value::Error(CellError::NA);
    return Value::Number(static_cast<int>(value.ErrorValue()) + 1);
}

Value N(Call& call)
{
    const Value value = call.Scalar(0);
    if (value.IsNumber() || value.IsBoolean())
        return Value::Number(value.NumberValue());
    if (value.IsError())
        return value;
    return Value::Number(0);
}

Value T(Call& call)
{
    const Value value = call.Scalar(0);
    if (value.IsText() || value.IsError())
        return value;
    return Value::Text("");
}

} // namespace

void AddLogicalFunctions(std::vector<FunctionEntry>& table)
{
    const FunctionEntry specs[] = {
        { "IF", 1, 2, 3, If, Takes::Lazily },
        { "IFS", -1, 2, kAnyCount, Ifs, Takes::Lazily },
        { "IFERROR", 480, 2, 2, IfError, Takes::Lazily },
        { "IFNA", -1, 2, 2, IfNa, Takes::Lazily },
        { "SWITCH", -1, 3, kAnyCount, Switch, Takes::Lazily },
        { "AND", 36, 1, kAnyCount, And, Takes::Any },
        { "OR", 37, 1, kAnyCount, Or, Takes::Any },
        { "XOR", -1, 1, kAnyCount, Xor, Takes::Any },
        { "NOT", 38, 1, 1, Not },
        { "TRUE", 34, 0, 0, True },
        { "FALSE", 35, 0, 0, False },
        { "ISBLANK", 129, 1, 1, IsBlank },
        { "ISNUMBER", 128, 1, 1, IsNumber },
        { "ISTEXT", 127, 1, 1, IsText },
        { "ISNONTEXT", 190, 1, 1, IsNonText },
        { "ISLOGICAL", 198, 1, 1, IsLogical },
        { "ISERROR", 3, 1, 1, IsError },
        { "ISERR", 126, 1, 1, IsErr },
        { "ISNA", 2, 1, 1, IsNa },
        { "ISREF", 105, 1, 1, IsRef, Takes::Any },
        { "ISEVEN", -1, 1, 1, IsEven },
        { "ISODD", -1, 1, 1, IsOdd },
        { "NA", 10, 0, 0, Na },
        { "ERROR.TYPE", 261, 1, 1, ErrorType },
        { "N", 131, 1, 1, N },
        { "T", 130, 1, 1, T },
    };
    table.insert(table.end(), std::begin(specs), std::end(specs));
}

} // namespace vellumcast::spreadsheet::formula
