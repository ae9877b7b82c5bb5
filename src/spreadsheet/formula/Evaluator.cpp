#include "spreadsheet/formula/Evaluator.h"

#include "spreadsheet/formula/Functions.h"
#include "spreadsheet/formula/Numbers.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vellumcast::spreadsheet::formula {

namespace {

// Defined names may use names in turn; past this depth they are taken for a cycle.
thread_local int t_nameDepth = 0;
// Nodes under evaluation on this thread, in every evaluator.
thread_local int t_evaluationDepth = 0;
constexpr int kMaxNameDepth = 32;

Value NumberOrError(double number)
{
    return std::isfinite(number) ? Value::Number(number) : Value::Error(CellError::Num);
}

// Addition and subtraction as the application gives their last step at a formula's top:
// a result within rounding of zero, from operands that nearly cancel, is zero.
double SnapNearZero(double result, double a, double b)
{
    const double scale = std::max(std::fabs(a), std::fabs(b));
    return std::fabs(result) < scale * 0x1p-49 ? 0.0 : result;
}

int TypeRank(const Value& value)
{
    switch (value.Kind()) {
    case ValueKind::Number:
        return 0;
    case ValueKind::Text:
        return 1;
    case ValueKind::Boolean:
        return 2;
    default:
        return 3;
    }
}

} // namespace

bool ToNumber(const Value& value, double& number, CellError& error)
{
    switch (value.Kind()) {
    case ValueKind::Number:
    case ValueKind::Boolean:
        number = value.NumberValue();
        return true;
    case ValueKind::Blank:
        number = 0;
        return true;
    case ValueKind::Text:
        if (TextToNumber(value.TextValue(), number, numfmt::DateSystem::Date1900))
            return true;
        error = CellError::Value;
        return false;
    case ValueKind::Error:
        error = value.ErrorValue();
        return false;
    default:
        error = CellError::Value;
        return false;
    }
}

bool ToBool(const Value& value, bool& on, CellError& error)
{
    switch (value.Kind()) {
    case ValueKind::Number:
    case ValueKind::Boolean:
        on = value.NumberValue() != 0;
        return true;
    case ValueKind::Blank:
        on = false;
        return true;
    case ValueKind::Text:
        if (EqualIgnoringCase(value.TextValue(), "TRUE")) {
            on = true;
            return true;
        }
        if (EqualIgnoringCase(value.TextValue(), "FALSE")) {
            on = false;
            return true;
        }
        error = CellError::Value;
        return false;
    case ValueKind::Error:
        error = value.ErrorValue();
        return false;
    default:
        error = CellError::Value;
        return false;
    }
}

bool ToText(const Value& value, std::string& text, CellError& error)
{
    switch (value.Kind()) {
    case ValueKind::Number:
        text = NumberToText(value.NumberValue());
        return true;
    case ValueKind::Boolean:
        text = value.BooleanValue() ? "TRUE" : "FALSE";
        return true;
    case ValueKind::Blank:
        text.clear();
        return true;
    case ValueKind::Text:
        text = value.TextValue();
        return true;
    case ValueKind::Error:
        error = value.ErrorValue();
        return false;
    default:
        error = CellError::Value;
        return false;
    }
}

int CompareValues(const Value& left, const Value& right)
{
    // A blank takes the other side's type: 0, "" or FALSE.
    if (left.IsBlank() && right.IsBlank())
        return 0;
    if (left.IsBlank()) {
        if (right.IsText())
            return right.TextValue().empty() ? 0 : -1;
        if (right.IsBoolean())
            return right.BooleanValue() ? -1 : 0;
        return right.NumberValue() > 0 ? -1 : (right.NumberValue() < 0 ? 1 : 0);
    }
    if (right.IsBlank())
        return -CompareValues(right, left);
    const int leftRank = TypeRank(left), rightRank = TypeRank(right);
    if (leftRank != rightRank)
        return leftRank < rightRank ? -1 : 1;
    if (left.IsText())
        return CompareTextIgnoringCase(left.TextValue(), right.TextValue());
    const double a = left.NumberValue(), b = right.NumberValue();
    return a < b ? -1 : (a > b ? 1 : 0);
}

Value ApplyUnary(Operator op, const Value& operand)
{
    if (op == Operator::Plus)
        return operand;
    double number = 0;
    CellError error = CellError::Value;
    if (!ToNumber(operand, number, error))
        return Value::Error(error);
    if (op == Operator::Negate)
        return Value::Number(-number);
    return Value::Number(number / 100);
}

Value ApplyBinary(Operator op, const Value& left, const Value& right)
{
    if (left.IsError())
        return left;
    if (right.IsError())
        return right;
    switch (op) {
    case Operator::Equal:
        return Value::Boolean(CompareValues(left, right) == 0);
    case Operator::NotEqual:
        return Value::Boolean(CompareValues(left, right) != 0);
    case Operator::Less:
        return Value::Boolean(CompareValues(left, right) < 0);
    case Operator::LessEqual:
        return Value::Boolean(CompareValues(left, right) <= 0);
    case Operator::Greater:
        return Value::Boolean(CompareValues(left, right) > 0);
    case Operator::GreaterEqual:
        return Value::Boolean(CompareValues(left, right) >= 0);
    case Operator::Concat: {
        std::string a, b;
        CellError error = CellError::Value;
        if (!ToText(left, a, error) || !ToText(right, b, error))
            return Value::Error(error);
        if (a.size() + b.size() > kMaxTextLength)
            return Value::Error(CellError::Value);
        return Value::Text(a + b);
    }
    default:
        break;
    }
    double a = 0, b = 0;
    CellError error = CellError::Value;
    if (!ToNumber(left, a, error) || !ToNumber(right, b, error))
        return Value::Error(error);
    switch (op) {
    case Operator::Add:
        return NumberOrError(a + b);
    case Operator::Subtract:
        return NumberOrError(a - b);
    case Operator::Multiply:
        return NumberOrError(a * b);
    case Operator::Divide:
        if (b == 0)
            return Value::Error(CellError::Div0);
        return NumberOrError(a / b);
    case Operator::Power:
        if (a == 0 && b == 0)
            return Value::Error(CellError::Num);
        if (a == 0 && b < 0)
            return Value::Error(CellError::Div0);
        return NumberOrError(std::pow(a, b));
    default:
        return Value::Error(CellError::Value);
    }
}

std::string LookupIndex::KeyOf(const Value& value)
{
    switch (value.Kind()) {
    case ValueKind::Number: {
        const double number = value.NumberValue() == 0 ? 0.0 : value.NumberValue(); // -0 is 0
        std::string key(1 + sizeof number, 'n');
        std::memcpy(key.data() + 1, &number, sizeof number);
        return key;
    }
    case ValueKind::Text:
        return "t" + LowerText(value.TextValue());
    case ValueKind::Boolean:
        return value.BooleanValue() ? "b1" : "b0";
    case ValueKind::Error:
        return "e" + std::string(CellErrorText(value.ErrorValue()));
    default:
        return {};
    }
}

// ---- Call ----

Call::Call(Evaluator& evaluator, const Node& node)
    : m_evaluator(evaluator)
    , m_node(node)
    , m_count(node.childCount)
    , m_values(node.childCount)
{
}

EvaluationContext& Call::Context()
{
    return m_evaluator.Context();
}

const Position& Call::At() const
{
    return m_evaluator.At();
}

bool Call::Missing(size_t i) const
{
    if (i >= m_count)
        return true;
    const Expression& formula = m_evaluator.Formula();
    return formula.NodeAt(formula.Child(m_node, static_cast<uint32_t>(i))).kind == NodeKind::Missing;
}

const Value& Call::Raw(size_t i)
{
    std::optional<Value>& value = m_values[i];
    if (!value) {
        const Expression& formula = m_evaluator.Formula();
        value = m_evaluator.Evaluate(formula.Child(m_node, static_cast<uint32_t>(i)));
    }
    return *value;
}

Value Call::Scalar(size_t i)
{
    return m_evaluator.ToScalar(Raw(i));
}

double Call::Number(size_t i)
{
    double number = 0;
    CellError error = CellError::Value;
    if (!ToNumber(Scalar(i), number, error))
        Fail(error);
    return number;
}

std::string Call::Text(size_t i)
{
    std::string text;
    CellError error = CellError::Value;
    if (!ToText(Scalar(i), text, error))
        Fail(error);
    return text;
}

bool Call::Boolean(size_t i)
{
    bool on = false;
    CellError error = CellError::Value;
    if (!ToBool(Scalar(i), on, error))
        Fail(error);
    return on;
}

void Call::Numbers(size_t first, const std::function<void(double)>& take)
{
    for (size_t i = first; i < m_count; ++i) {
        if (Missing(i))
            continue;
        const Value& raw = Raw(i);
        if (raw.IsReference()) {
            for (const Area& area : raw.Areas()) {
                Context().VisitCells(area, [&](int32_t, int32_t, const Value& cell) {
                    if (cell.IsNumber())
                        take(cell.NumberValue());
                    else if (cell.IsError())
                        Fail(cell.ErrorValue());
                });
            }
        } else if (raw.IsArray()) {
            for (const Value& item : raw.ArrayItems().items) {
                if (item.IsNumber())
                    take(item.NumberValue());
                else if (item.IsError())
                    Fail(item.ErrorValue());
            }
        } else {
            double number = 0;
            CellError error = CellError::Value;
            if (!ToNumber(raw, number, error))
                Fail(error);
            take(number);
        }
    }
}

// ---- Evaluator ----

Evaluator::Evaluator(EvaluationContext& context, const Expression& expression, Position at, bool arrayFormula)
    : m_context(context)
    , m_expression(expression)
    , m_at(at)
    , m_arrayContext(arrayFormula)
{
}

Value Evaluator::Result()
{
    const Node& root = m_expression.NodeAt(m_expression.root);
    Value value;
    if (root.kind == NodeKind::Binary && (root.op == Operator::Add || root.op == Operator::Subtract)) {
        // The application's last addition or subtraction: a result within rounding of zero,
        // from operands that nearly cancel, is zero.
        const Value a = ToOperand(Evaluate(m_expression.Child(root, 0)));
        const Value b = ToOperand(Evaluate(m_expression.Child(root, 1)));
        if (a.IsArray() || b.IsArray()) {
            value = Elementwise(a, b, root.op);
        } else {
            value = ApplyBinary(root.op, a, b);
            double x = 0, y = 0;
            CellError ignored = CellError::Value;
            if (value.IsNumber() && ToNumber(a, x, ignored) && ToNumber(b, y, ignored))
                value = Value::Number(SnapNearZero(value.NumberValue(), x, root.op == Operator::Add ? y : -y));
        }
    } else {
        value = Evaluate(m_expression.root);
    }
    value = ToScalar(value);
    if (value.IsBlank())
        return Value::Number(0);
    return value;
}

int32_t Evaluator::ResolveSheet(int32_t sheet)
{
    if (sheet == kOwnSheet)
        return m_at.sheet;
    return m_context.SheetNamed(m_expression.sheets[static_cast<size_t>(sheet)]);
}

int EvaluationDepth()
{
    return t_evaluationDepth;
}

Value Evaluator::Evaluate(uint32_t index)
{
    struct Depth {
        Depth()
        {
            if (++t_evaluationDepth > kMaxEvaluationDepth) {
                --t_evaluationDepth;
                Cannot(Uncomputable::Budget);
            }
        }
        ~Depth() { --t_evaluationDepth; }
    } depth;
    m_context.Charge(1);
    const Node& node = m_expression.NodeAt(index);
    switch (node.kind) {
    case NodeKind::Number:
        return Value::Number(node.number);
    case NodeKind::Text:
        return Value::Text(m_expression.strings[node.index]);
    case NodeKind::Boolean:
        return Value::Boolean(node.boolean);
    case NodeKind::Error:
        return Value::Error(node.error);
    case NodeKind::Missing:
        return Value();
    case NodeKind::Array:
        return Value::Array(m_expression.arrays[node.index]);
    case NodeKind::Reference:
        return EvaluateReference(node.ref);
    case NodeKind::Name:
        return EvaluateName(node);
    case NodeKind::Function:
        return EvaluateFunction(node);
    case NodeKind::Unary:
        return EvaluateUnary(node);
    case NodeKind::Binary:
        return EvaluateBinary(node);
    case NodeKind::Unsupported:
        break;
    }
    Cannot(Uncomputable::Unsupported);
}

Value Evaluator::EvaluateReference(const RefNode& ref)
{
    if (ref.deleted)
        return Value::Error(CellError::Ref);
    if (ref.lastSheet != ref.sheet)
        Cannot(Uncomputable::Unsupported); // 3-D references
    const int32_t sheet = ResolveSheet(ref.sheet);
    if (sheet < 0)
        return Value::Error(CellError::Ref);
    const auto resolve = [](const RefPart& part, int32_t row, int32_t column, int64_t& r, int64_t& c) {
        r = part.rowRelative ? int64_t { row } + part.row : part.row;
        c = part.columnRelative ? int64_t { column } + part.column : part.column;
        return r >= 1 && r <= kMaxRows && c >= 1 && c <= kMaxColumns;
    };
    int64_t r1 = 0, c1 = 0, r2 = 0, c2 = 0;
    if (!resolve(ref.first, m_at.row, m_at.column, r1, c1) || !resolve(ref.last, m_at.row, m_at.column, r2, c2))
        return Value::Error(CellError::Ref);
    Area area;
    area.sheet = sheet;
    area.firstRow = static_cast<int32_t>(std::min(r1, r2));
    area.lastRow = static_cast<int32_t>(std::max(r1, r2));
    area.firstColumn = static_cast<int32_t>(std::min(c1, c2));
    area.lastColumn = static_cast<int32_t>(std::max(c1, c2));
    return Value::Reference(area);
}

Value Evaluator::EvaluateName(const Node& node)
{
    const std::string& name = m_expression.strings[node.index];
    int32_t sheet = m_at.sheet;
    if (node.ref.sheet != kOwnSheet) {
        sheet = ResolveSheet(node.ref.sheet);
        if (sheet < 0)
            return Value::Error(CellError::Ref);
    }
    const Expression* defined = m_context.DefinedName(name, sheet);
    if (!defined) {
        if (m_context.NamesKnown())
            return Value::Error(CellError::Name);
        Cannot(Uncomputable::Unsupported);
    }
    if (t_nameDepth >= kMaxNameDepth)
        Cannot(Uncomputable::Cycle);
    ++t_nameDepth;
    struct Leave {
        ~Leave() { --t_nameDepth; }
    } leave;
    Evaluator inner(m_context, *defined, m_at, m_arrayContext);
    return inner.Evaluate(defined->root);
}

Value Evaluator::EvaluateUnary(const Node& node)
{
    const Value operand = ToOperand(Evaluate(m_expression.Child(node, 0)));
    if (operand.IsArray()) {
        const ArrayValue& items = operand.ArrayItems();
        auto result = std::make_shared<ArrayValue>();
        result->rows = items.rows;
        result->columns = items.columns;
        result->items.reserve(items.items.size());
        for (const Value& item : items.items)
            result->items.push_back(ApplyUnary(node.op, item));
        return Value::Array(std::move(result));
    }
    return ApplyUnary(node.op, operand);
}

Value Evaluator::EvaluateBinary(const Node& node)
{
    const Value left = Evaluate(m_expression.Child(node, 0));
    const Value right = Evaluate(m_expression.Child(node, 1));
    if (node.op == Operator::Range || node.op == Operator::Union || node.op == Operator::Intersect)
        return ReferenceOperator(node.op, left, right);
    const Value a = ToOperand(left);
    const Value b = ToOperand(right);
    if (a.IsArray() || b.IsArray())
        return Elementwise(a, b, node.op);
    return ApplyBinary(node.op, a, b);
}

Value Evaluator::ReferenceOperator(Operator op, const Value& left, const Value& right)
{
    if (left.IsError())
        return left;
    if (right.IsError())
        return right;
    if (!left.IsReference() || !right.IsReference())
        return Value::Error(CellError::Value);
    const std::vector<Area>& a = left.Areas();
    const std::vector<Area>& b = right.Areas();
    if (op == Operator::Union) {
        std::vector<Area> areas = a;
        areas.insert(areas.end(), b.begin(), b.end());
        return Value::Reference(std::move(areas));
    }
    if (a.size() != 1 || b.size() != 1 || a[0].sheet != b[0].sheet)
        return Value::Error(op == Operator::Intersect ? CellError::Null : CellError::Value);
    Area area;
    area.sheet = a[0].sheet;
    if (op == Operator::Range) {
        area.firstRow = std::min(a[0].firstRow, b[0].firstRow);
        area.firstColumn = std::min(a[0].firstColumn, b[0].firstColumn);
        area.lastRow = std::max(a[0].lastRow, b[0].lastRow);
        area.lastColumn = std::max(a[0].lastColumn, b[0].lastColumn);
        return Value::Reference(area);
    }
    area.firstRow = std::max(a[0].firstRow, b[0].firstRow);
    area.firstColumn = std::max(a[0].firstColumn, b[0].firstColumn);
    area.lastRow = std::min(a[0].lastRow, b[0].lastRow);
    area.lastColumn = std::min(a[0].lastColumn, b[0].lastColumn);
    if (area.firstRow > area.lastRow || area.firstColumn > area.lastColumn)
        return Value::Error(CellError::Null);
    return Value::Reference(area);
}

// Two arrays, or an array and a value, item by item. An array of one row or column is
// repeated along the other's; past the smaller of two larger arrays the items are #N/A.
Value Evaluator::Elementwise(const Value& left, const Value& right, Operator op)
{
    const auto shape = [](const Value& value, int32_t& rows, int32_t& columns) {
        rows = value.IsArray() ? value.ArrayItems().rows : 1;
        columns = value.IsArray() ? value.ArrayItems().columns : 1;
    };
    int32_t leftRows = 0, leftColumns = 0, rightRows = 0, rightColumns = 0;
    shape(left, leftRows, leftColumns);
    shape(right, rightRows, rightColumns);
    const int32_t rows = std::max(leftRows, rightRows);
    const int32_t columns = std::max(leftColumns, rightColumns);
    m_context.Charge(static_cast<uint64_t>(rows) * static_cast<uint64_t>(columns));
    const auto item
        = [](const Value& value, int32_t itemRows, int32_t itemColumns, int32_t r, int32_t c, const Value*& out) {
              if (!value.IsArray()) {
                  out = &value;
                  return true;
              }
              const int32_t row = itemRows == 1 ? 0 : r;
              const int32_t column = itemColumns == 1 ? 0 : c;
              if (row >= itemRows || column >= itemColumns)
                  return false;
              out = &value.ArrayItems().At(row, column);
              return true;
          };
    auto result = std::make_shared<ArrayValue>();
    result->rows = rows;
    result->columns = columns;
    result->items.reserve(static_cast<size_t>(rows) * static_cast<size_t>(columns));
    for (int32_t r = 0; r < rows; ++r) {
        for (int32_t c = 0; c < columns; ++c) {
            const Value* a = nullptr;
            const Value* b = nullptr;
            if (!item(left, leftRows, leftColumns, r, c, a) || !item(right, rightRows, rightColumns, r, c, b))
                result->items.push_back(Value::Error(CellError::NA));
            else
                result->items.push_back(ApplyBinary(op, *a, *b));
        }
    }
    return Value::Array(std::move(result));
}

Value Evaluator::ToScalar(const Value& value)
{
    if (value.IsArray()) {
        const ArrayValue& items = value.ArrayItems();
        return items.items.empty() ? Value::Error(CellError::Value) : items.At(0, 0);
    }
    if (!value.IsReference())
        return value;
    const std::vector<Area>& areas = value.Areas();
    if (areas.size() != 1)
        return Value::Error(CellError::Value);
    const Area& area = areas[0];
    if (area.IsCell())
        return m_context.CellValue(area.sheet, area.firstRow, area.firstColumn);
    // Implicit intersection: the cell of the area in the formula's row or column.
    if (area.firstColumn == area.lastColumn && m_at.row >= area.firstRow && m_at.row <= area.lastRow)
        return m_context.CellValue(area.sheet, m_at.row, area.firstColumn);
    if (area.firstRow == area.lastRow && m_at.column >= area.firstColumn && m_at.column <= area.lastColumn)
        return m_context.CellValue(area.sheet, area.firstRow, m_at.column);
    return Value::Error(CellError::Value);
}

Value Evaluator::ToOperand(const Value& value)
{
    if (!value.IsReference())
        return value;
    if (!m_arrayContext)
        return ToScalar(value);
    if (value.Areas().size() != 1)
        return Value::Error(CellError::Value);
    if (value.Areas()[0].IsCell())
        return ToScalar(value);
    return Value::Array(ToArray(value));
}

std::shared_ptr<const ArrayValue> Evaluator::ToArray(const Value& value)
{
    auto array = std::make_shared<ArrayValue>();
    if (value.IsArray())
        return value.SharedArray();
    if (!value.IsReference()) {
        array->rows = array->columns = 1;
        array->items.push_back(value);
        return array;
    }
    if (value.Areas().size() != 1) {
        array->rows = array->columns = 1;
        array->items.push_back(Value::Error(CellError::Value));
        return array;
    }
    Area area = value.Areas()[0];
    // Whole columns and rows are read as far as the sheet has cells.
    const CellRange used = m_context.UsedRange(area.sheet);
    if (area.Rows() == kMaxRows)
        area.lastRow = std::max(area.firstRow, std::min(area.lastRow, used.lastRow));
    if (area.Columns() == kMaxColumns)
        area.lastColumn = std::max(area.firstColumn, std::min(area.lastColumn, used.lastColumn));
    const uint64_t count = static_cast<uint64_t>(area.Rows()) * static_cast<uint64_t>(area.Columns());
    m_context.Charge(count);
    array->rows = static_cast<int32_t>(area.Rows());
    array->columns = static_cast<int32_t>(area.Columns());
    array->items.resize(count);
    m_context.VisitCells(area, [&](int32_t row, int32_t column, const Value& cell) {
        array->items[size_t(row - area.firstRow) * size_t(array->columns) + size_t(column - area.firstColumn)] = cell;
    });
    return array;
}

Value Evaluator::EvaluateFunction(const Node& node)
{
    if (node.function == kUnknownFunction)
        Cannot(Uncomputable::Unsupported);
    const FunctionEntry& entry = FunctionTable()[node.function];
    if (!entry.body)
        Cannot(Uncomputable::Unsupported);
    if (node.childCount < entry.minArgs || (entry.maxArgs != kAnyCount && node.childCount > entry.maxArgs))
        Cannot(Uncomputable::Unreadable);
    const bool wasArray = m_arrayContext;
    if (entry.takes == Takes::Arrays)
        m_arrayContext = true;
    struct Restore {
        bool& flag;
        bool value;
        ~Restore() { flag = value; }
    } restore { m_arrayContext, wasArray };
    if (entry.takes != Takes::Values) {
        Call call(*this, node);
        try {
            return entry.body(call);
        } catch (const FunctionError& failure) {
            return Value::Error(failure.error);
        }
    }
    // One value per argument: an array given is computed item by item.
    std::vector<Value> arguments;
    arguments.reserve(node.childCount);
    int32_t rows = 0, columns = 0;
    for (uint32_t i = 0; i < node.childCount; ++i) {
        arguments.push_back(ToOperand(Evaluate(m_expression.Child(node, i))));
        if (arguments.back().IsArray()) {
            rows = std::max(rows, arguments.back().ArrayItems().rows);
            columns = std::max(columns, arguments.back().ArrayItems().columns);
        }
    }
    const auto compute = [&](const std::vector<Value>& values) {
        Call call(*this, node);
        call.Preset(values);
        try {
            return entry.body(call);
        } catch (const FunctionError& failure) {
            return Value::Error(failure.error);
        }
    };
    if (rows == 0)
        return compute(arguments);
    m_context.Charge(static_cast<uint64_t>(rows) * static_cast<uint64_t>(columns));
    auto result = std::make_shared<ArrayValue>();
    result->rows = rows;
    result->columns = columns;
    std::vector<Value> items(arguments.size());
    for (int32_t r = 0; r < rows; ++r) {
        for (int32_t c = 0; c < columns; ++c) {
            bool outside = false;
            for (size_t i = 0; i < arguments.size(); ++i) {
                if (!arguments[i].IsArray()) {
                    items[i] = arguments[i];
                    continue;
                }
                const ArrayValue& array = arguments[i].ArrayItems();
                const int32_t row = array.rows == 1 ? 0 : r;
                const int32_t column = array.columns == 1 ? 0 : c;
                if (row >= array.rows || column >= array.columns)
                    outside = true;
                else
                    items[i] = array.At(row, column);
            }
            result->items.push_back(outside ? Value::Error(CellError::NA) : compute(items));
        }
    }
    return Value::Array(std::move(result));
}

} // namespace vellumcast::spreadsheet::formula
