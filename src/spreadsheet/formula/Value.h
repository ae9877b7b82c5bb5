#pragma once
// The values a formula computes with: the cell values (blank, number, text, boolean,
// error), references to areas of worksheets, and arrays of cell values.

#include "spreadsheet/Cell.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vellumcast::spreadsheet::formula {

enum class ValueKind : uint8_t { Blank, Number, Text, Boolean, Error, Reference, Array };

// A rectangle of one worksheet; sheet is the engine's worksheet index.
struct Area {
    int32_t sheet = 0;
    int32_t firstRow = 1;
    int32_t firstColumn = 1;
    int32_t lastRow = 1;
    int32_t lastColumn = 1;

    int64_t Rows() const { return int64_t { lastRow } - firstRow + 1; }
    int64_t Columns() const { return int64_t { lastColumn } - firstColumn + 1; }
    bool IsCell() const { return firstRow == lastRow && firstColumn == lastColumn; }
};

struct ArrayValue;

class Value {
public:
    Value() = default;
    static Value Number(double number)
    {
        Value value(ValueKind::Number);
        value.m_number = number;
        return value;
    }
    static Value Text(std::string text)
    {
        Value value(ValueKind::Text);
        value.m_text = std::move(text);
        return value;
    }
    static Value Boolean(bool on)
    {
        Value value(ValueKind::Boolean);
        value.m_number = on ? 1 : 0;
        return value;
    }
    static Value Error(CellError error)
    {
        Value value(ValueKind::Error);
        value.m_error = error;
        return value;
    }
    static Value Reference(std::vector<Area> areas);
    static Value Reference(const Area& area) { return Reference(std::vector<Area> { area }); }
    static Value Array(std::shared_ptr<const ArrayValue> array);

    ValueKind Kind() const { return m_kind; }
    bool IsBlank() const { return m_kind == ValueKind::Blank; }
    bool IsNumber() const { return m_kind == ValueKind::Number; }
    bool IsText() const { return m_kind == ValueKind::Text; }
    bool IsBoolean() const { return m_kind == ValueKind::Boolean; }
    bool IsError() const { return m_kind == ValueKind::Error; }
    bool IsReference() const { return m_kind == ValueKind::Reference; }
    bool IsArray() const { return m_kind == ValueKind::Array; }

    double NumberValue() const { return m_number; } // a number's, or a boolean's 0 or 1
    bool BooleanValue() const { return m_number != 0; }
    const std::string& TextValue() const { return m_text; }
    CellError ErrorValue() const { return m_error; }
    const std::vector<Area>& Areas() const { return *m_areas; }
    const ArrayValue& ArrayItems() const { return *m_array; }
    const std::shared_ptr<const ArrayValue>& SharedArray() const { return m_array; }

private:
    explicit Value(ValueKind kind)
        : m_kind(kind)
    {
    }
    ValueKind m_kind = ValueKind::Blank;
    CellError m_error = CellError::Null;
    double m_number = 0;
    std::string m_text;
    std::shared_ptr<const std::vector<Area>> m_areas;
    std::shared_ptr<const ArrayValue> m_array;
};

// A rectangle of cell values (no references, no nested arrays), row by row.
struct ArrayValue {
    int32_t rows = 0;
    int32_t columns = 0;
    std::vector<Value> items;

    const Value& At(int32_t row, int32_t column) const { return items[size_t(row) * size_t(columns) + size_t(column)]; }
};

inline Value Value::Reference(std::vector<Area> areas)
{
    Value value(ValueKind::Reference);
    value.m_areas = std::make_shared<const std::vector<Area>>(std::move(areas));
    return value;
}

inline Value Value::Array(std::shared_ptr<const ArrayValue> array)
{
    Value value(ValueKind::Array);
    value.m_array = std::move(array);
    return value;
}

// Why a formula has no value the engine can stand behind: its cell stays blank.
enum class Uncomputable : uint8_t {
    Unsupported, // a function, reference or construct the engine does not compute
    Cycle, // the formula depends on itself
    Budget, // past the work, depth or time one workbook's formulas may take
    Unreadable, // the formula cannot be parsed
};

// Thrown while evaluating; the evaluation is abandoned and the formula left blank.
struct UncomputableFormula {
    Uncomputable reason;
};

[[noreturn]] inline void Cannot(Uncomputable reason)
{
    throw UncomputableFormula { reason };
}

} // namespace vellumcast::spreadsheet::formula
