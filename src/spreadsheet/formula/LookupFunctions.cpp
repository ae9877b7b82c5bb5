// Lookup and reference functions. An approximate match searches data the application
// expects sorted; on data that is not sorted its result depends on how it searches, so
// the engine computes such a lookup only when the data is sorted.

#include "spreadsheet/formula/FunctionSupport.h"

#include <cmath>

namespace vellumcast::spreadsheet::formula {

namespace {

int64_t Index(Call& call, size_t i)
{
    const double number = call.Number(i);
    if (!(std::fabs(number) < 1e9))
        Fail(CellError::Value);
    return static_cast<int64_t>(std::trunc(number));
}

// The values along a row or column of a grid, read as they are asked for.
class Line {
public:
    Line(const Grid& grid, bool alongRows, int64_t fixed)
        : m_grid(grid)
        , m_alongRows(alongRows)
        , m_fixed(fixed)
    {
    }
    int64_t Size() const { return m_alongRows ? m_grid.Rows() : m_grid.Columns(); }
    Value At(int64_t i) const { return m_alongRows ? m_grid.At(i, m_fixed) : m_grid.At(m_fixed, i); }
    // The cells of the line, when it is a reference's.
    bool AreaOf(Area& area) const
    {
        if (!m_grid.IsReference())
            return false;
        area = m_grid.AreaOf();
        if (m_alongRows)
            area.firstColumn = area.lastColumn = static_cast<int32_t>(area.firstColumn + m_fixed);
        else
            area.firstRow = area.lastRow = static_cast<int32_t>(area.firstRow + m_fixed);
        return true;
    }

private:
    const Grid& m_grid;
    bool m_alongRows;
    int64_t m_fixed;
};

bool SameType(const Value& a, const Value& b)
{
    return a.Kind() == b.Kind();
}

// Whether a candidate equals the lookup value: same type, text without regard to case,
// with "*", "?" and "~" as wildcards when asked.
bool Equal(const Value& lookup, const Value& candidate, const std::u16string* pattern)
{
    if (!SameType(lookup, candidate))
        return false;
    if (lookup.IsText()) {
        if (pattern)
            return WildcardMatch(LowerUtf16(candidate.TextValue()), *pattern);
        return EqualIgnoringCase(lookup.TextValue(), candidate.TextValue());
    }
    if (lookup.IsError())
        return lookup.ErrorValue() == candidate.ErrorValue();
    return lookup.NumberValue() == candidate.NumberValue();
}

enum class Search { Exact, ExactWildcards, NextSmaller, NextLarger };

// The position of the match along the line, or -1. first-to-last unless reversed.
int64_t FindIn(Call& call, const Line& line, const Value& lookup, Search search, bool reversed)
{
    const int64_t size = line.Size();
    std::u16string pattern;
    const bool wildcards = search == Search::ExactWildcards && lookup.IsText()
        && lookup.TextValue().find_first_of("*?~") != std::string::npos;
    // An exact match in a long line of cells is found through its index.
    Area area;
    if ((search == Search::Exact || (search == Search::ExactWildcards && !wildcards)) && line.AreaOf(area)) {
        const std::string key = LookupIndex::KeyOf(lookup);
        if (const LookupIndex* index = key.empty() ? nullptr : call.Context().IndexOf(area)) {
            const auto found = index->places.find(key);
            if (found == index->places.end())
                return -1;
            return reversed ? found->second.second : found->second.first;
        }
    }
    call.Context().Charge(static_cast<uint64_t>(size));
    if (wildcards)
        pattern = LowerUtf16(lookup.TextValue());
    int64_t best = -1;
    Value bestValue;
    for (int64_t k = 0; k < size; ++k) {
        const int64_t i = reversed ? size - 1 - k : k;
        const Value candidate = line.At(i);
        if (Equal(lookup, candidate, wildcards ? &pattern : nullptr))
            return i;
        if ((search == Search::NextSmaller || search == Search::NextLarger) && SameType(lookup, candidate)) {
            const int order = CompareValues(candidate, lookup);
            const bool side = search == Search::NextSmaller ? order < 0 : order > 0;
            if (side
                && (best < 0
                    || (search == Search::NextSmaller ? CompareValues(candidate, bestValue) > 0
                                                      : CompareValues(candidate, bestValue) < 0))) {
                best = i;
                bestValue = candidate;
            }
        }
    }
    return best;
}

// An approximate match in sorted data: the last position whose value of the lookup's type
// is at most the lookup (descending: at least), or -1. Data out of order is not computed.
int64_t FindSorted(Call& call, const Line& line, const Value& lookup, bool descending)
{
    const int64_t size = line.Size();
    call.Context().Charge(static_cast<uint64_t>(size));
    Value previous;
    bool havePrevious = false;
    int64_t found = -1;
    for (int64_t i = 0; i < size; ++i) {
        const Value candidate = line.At(i);
        if (candidate.IsBlank())
            continue;
        if (havePrevious) {
            const int order = CompareValues(previous, candidate);
            if (descending ? order < 0 : order > 0)
                Cannot(Uncomputable::Unsupported);
        }
        previous = candidate;
        havePrevious = true;
        if (!SameType(lookup, candidate))
            continue;
        const int order = CompareValues(candidate, lookup);
        if (descending ? order >= 0 : order <= 0)
            found = i;
    }
    return found;
}

Value LookupValue(Call& call, size_t i)
{
    const Value lookup = call.Scalar(i);
    if (lookup.IsError())
        Fail(lookup.ErrorValue());
    if (lookup.IsBlank())
        Fail(CellError::NA);
    return lookup;
}

// VLOOKUP and HLOOKUP: the lookup in the table's first column (row), the value from the
// index-th column (row) of the row (column) found.
Value TableLookup(Call& call, bool vertical)
{
    const Value lookup = LookupValue(call, 0);
    const Grid table(call, 1);
    if (!table.Valid())
        Fail(CellError::Value);
    const int64_t index = Index(call, 2);
    const bool approximate = call.Missing(3) ? call.Count() < 4 : call.Boolean(3);
    if (index < 1)
        Fail(CellError::Value);
    if (index > (vertical ? table.Columns() : table.Rows()))
        Fail(CellError::Ref);
    const Line keys(table, vertical, 0);
    const int64_t found = approximate ? FindSorted(call, keys, lookup, false)
                                      : FindIn(call, keys, lookup, Search::ExactWildcards, false);
    if (found < 0)
        Fail(CellError::NA);
    return vertical ? table.At(found, index - 1) : table.At(index - 1, found);
}

Value VLookup(Call& call)
{
    return TableLookup(call, true);
}

Value HLookup(Call& call)
{
    return TableLookup(call, false);
}

// A grid that is one row or one column, as a line; false for anything wider.
bool AsLine(const Grid& grid, bool& alongRows)
{
    if (grid.Columns() == 1) {
        alongRows = true;
        return true;
    }
    if (grid.Rows() == 1) {
        alongRows = false;
        return true;
    }
    return false;
}

Value Match(Call& call)
{
    const Value lookup = LookupValue(call, 0);
    const Grid grid(call, 1);
    const int64_t type = call.Missing(2) ? 1 : Index(call, 2);
    bool alongRows = true;
    if (!grid.Valid() || !AsLine(grid, alongRows))
        Fail(CellError::NA);
    const Line line(grid, alongRows, 0);
    int64_t found = -1;
    if (type == 0)
        found = FindIn(call, line, lookup, Search::ExactWildcards, false);
    else
        found = FindSorted(call, line, lookup, type < 0);
    if (found < 0)
        Fail(CellError::NA);
    return Value::Number(static_cast<double>(found + 1));
}

// XLOOKUP and XMATCH's modes: match (0 exact, -1 or next smaller, 1 or next larger,
// 2 wildcards) and search (1 first to last, -1 last to first, 2 and -2 binary in
// ascending or descending data).
int64_t ModernFind(Call& call, const Line& line, const Value& lookup, size_t matchArg, size_t searchArg)
{
    const int64_t match = call.Missing(matchArg) ? 0 : Index(call, matchArg);
    const int64_t search = call.Missing(searchArg) ? 1 : Index(call, searchArg);
    if (match < -1 || match > 2 || (search != 1 && search != -1 && search != 2 && search != -2))
        Fail(CellError::Value);
    if (search == 2 || search == -2) {
        // A binary search finds what a linear one finds in data that is sorted; the
        // data's order is checked as a sorted match checks it.
        FindSorted(call, line, lookup, search == -2);
    }
    const Search mode = match == 0 ? Search::Exact
        : match == 2               ? Search::ExactWildcards
        : match == -1              ? Search::NextSmaller
                                   : Search::NextLarger;
    return FindIn(call, line, lookup, mode, search == -1);
}

Value XLookup(Call& call)
{
    const Value lookup = call.Scalar(0);
    if (lookup.IsError())
        return lookup;
    const Grid keys(call, 1);
    const Grid results(call, 2);
    bool alongRows = true;
    if (!keys.Valid() || !results.Valid() || !AsLine(keys, alongRows))
        Fail(CellError::Value);
    if ((alongRows ? results.Rows() : results.Columns()) != (alongRows ? keys.Rows() : keys.Columns()))
        Fail(CellError::Value);
    const int64_t found = ModernFind(call, Line(keys, alongRows, 0), lookup, 4, 5);
    if (found < 0) {
        if (call.Count() > 3 && !call.Missing(3))
            return call.Raw(3);
        Fail(CellError::NA);
    }
    if (alongRows)
        return results.Part(found, 0, found, results.Columns() - 1);
    return results.Part(0, found, results.Rows() - 1, found);
}

Value XMatch(Call& call)
{
    const Value lookup = call.Scalar(0);
    if (lookup.IsError())
        return lookup;
    const Grid keys(call, 1);
    bool alongRows = true;
    if (!keys.Valid() || !AsLine(keys, alongRows))
        Fail(CellError::Value);
    const int64_t found = ModernFind(call, Line(keys, alongRows, 0), lookup, 2, 3);
    if (found < 0)
        Fail(CellError::NA);
    return Value::Number(static_cast<double>(found + 1));
}

// LOOKUP: the vector form, or the array form that searches the first row or column of a
// grid (the longer side) and gives the last; sorted data only.
Value Lookup(Call& call)
{
    const Value lookup = LookupValue(call, 0);
    const Grid grid(call, 1);
    if (!grid.Valid())
        Fail(CellError::NA);
    bool alongRows = true;
    if (call.Count() < 3) {
        alongRows = grid.Rows() >= grid.Columns();
        const int64_t found = FindSorted(call, Line(grid, alongRows, 0), lookup, false);
        if (found < 0)
            Fail(CellError::NA);
        return alongRows ? grid.At(found, grid.Columns() - 1) : grid.At(grid.Rows() - 1, found);
    }
    if (!AsLine(grid, alongRows))
        Fail(CellError::NA);
    const int64_t found = FindSorted(call, Line(grid, alongRows, 0), lookup, false);
    if (found < 0)
        Fail(CellError::NA);
    const Grid results(call, 2);
    bool resultAlongRows = true;
    if (!results.Valid() || !AsLine(results, resultAlongRows))
        Fail(CellError::NA);
    if (found >= (resultAlongRows ? results.Rows() : results.Columns()))
        Fail(CellError::NA);
    return resultAlongRows ? results.At(found, 0) : results.At(0, found);
}

// INDEX: the cell (or the row or column, for 0) of a grid; a reference stays a reference.
Value IndexOf(Call& call)
{
    const Value& raw = call.Raw(0);
    Value source = raw;
    if (raw.IsReference() && raw.Areas().size() > 1) {
        const int64_t area = call.Count() > 3 && !call.Missing(3) ? Index(call, 3) : 1;
        if (area < 1 || area > static_cast<int64_t>(raw.Areas().size()))
            Fail(CellError::Ref);
        source = Value::Reference(raw.Areas()[static_cast<size_t>(area - 1)]);
    }
    const Grid grid(call, source);
    int64_t row = call.Missing(1) ? 0 : Index(call, 1);
    int64_t column = call.Count() > 2 && !call.Missing(2) ? Index(call, 2) : 0;
    if (row < 0 || column < 0)
        Fail(CellError::Value);
    // A single row or column takes one number as the position along it.
    if (call.Count() < 3 && grid.Rows() == 1 && grid.Columns() > 1) {
        column = row;
        row = 1;
    }
    if (row > grid.Rows() || column > grid.Columns())
        Fail(CellError::Ref);
    if (row == 0 && column == 0)
        return grid.Part(0, 0, grid.Rows() - 1, grid.Columns() - 1);
    if (row == 0)
        return grid.Part(0, column - 1, grid.Rows() - 1, column - 1);
    if (column == 0) {
        if (grid.Columns() == 1)
            return grid.Part(row - 1, 0, row - 1, 0);
        return grid.Part(row - 1, 0, row - 1, grid.Columns() - 1);
    }
    return grid.Part(row - 1, column - 1, row - 1, column - 1);
}

Value Choose(Call& call)
{
    const int64_t index = Index(call, 0);
    if (index < 1 || index >= static_cast<int64_t>(call.Count()))
        Fail(CellError::Value);
    return call.Raw(static_cast<size_t>(index));
}

// ROW and COLUMN: of the formula's cell, or of a reference's first cell; a reference of
// several in an array formula gives them all.
Value RowOrColumn(Call& call, bool row)
{
    if (call.Count() == 0 || call.Missing(0))
        return Value::Number(row ? call.At().row : call.At().column);
    const Value& raw = call.Raw(0);
    if (!raw.IsReference() || raw.Areas().size() != 1)
        Fail(CellError::Value);
    const Area& area = raw.Areas()[0];
    const int32_t first = row ? area.firstRow : area.firstColumn;
    const int64_t count = row ? area.Rows() : area.Columns();
    if (count == 1 || !call.Eval().ArrayContext() || count > 65536)
        return Value::Number(first);
    auto array = std::make_shared<ArrayValue>();
    array->rows = row ? static_cast<int32_t>(count) : 1;
    array->columns = row ? 1 : static_cast<int32_t>(count);
    for (int64_t i = 0; i < count; ++i)
        array->items.push_back(Value::Number(static_cast<double>(first + i)));
    return Value::Array(std::move(array));
}

Value Row(Call& call)
{
    return RowOrColumn(call, true);
}

Value Column(Call& call)
{
    return RowOrColumn(call, false);
}

Value Rows(Call& call)
{
    const Value& raw = call.Raw(0);
    if (raw.IsReference()) {
        if (raw.Areas().size() != 1)
            Fail(CellError::Ref);
        return Value::Number(static_cast<double>(raw.Areas()[0].Rows()));
    }
    if (raw.IsArray())
        return Value::Number(raw.ArrayItems().rows);
    if (raw.IsError())
        return raw;
    return Value::Number(1);
}

Value Columns(Call& call)
{
    const Value& raw = call.Raw(0);
    if (raw.IsReference()) {
        if (raw.Areas().size() != 1)
            Fail(CellError::Ref);
        return Value::Number(static_cast<double>(raw.Areas()[0].Columns()));
    }
    if (raw.IsArray())
        return Value::Number(raw.ArrayItems().columns);
    if (raw.IsError())
        return raw;
    return Value::Number(1);
}

Value Transpose(Call& call)
{
    const auto source = call.Eval().ToArray(call.Raw(0));
    auto result = std::make_shared<ArrayValue>();
    result->rows = source->columns;
    result->columns = source->rows;
    result->items.reserve(source->items.size());
    for (int32_t r = 0; r < result->rows; ++r) {
        for (int32_t c = 0; c < result->columns; ++c)
            result->items.push_back(source->At(c, r));
    }
    return Value::Array(std::move(result));
}

// The @ operator (stored as SINGLE): one value, by implicit intersection.
Value Single(Call& call)
{
    return call.Scalar(0);
}

// OFFSET: the reference moved by rows and columns, of the height and width given or its own.
Value Offset(Call& call)
{
    const Value& raw = call.Raw(0);
    if (!raw.IsReference() || raw.Areas().size() != 1)
        Fail(CellError::Value);
    const Area& base = raw.Areas()[0];
    const int64_t rows = Index(call, 1), columns = Index(call, 2);
    const int64_t height = call.Count() > 3 && !call.Missing(3) ? Index(call, 3) : base.Rows();
    const int64_t width = call.Count() > 4 && !call.Missing(4) ? Index(call, 4) : base.Columns();
    if (height == 0 || width == 0)
        Fail(CellError::Ref);
    Area area;
    area.sheet = base.sheet;
    const int64_t firstRow = base.firstRow + rows, firstColumn = base.firstColumn + columns;
    const int64_t lastRow = firstRow + (height > 0 ? height - 1 : height + 1);
    const int64_t lastColumn = firstColumn + (width > 0 ? width - 1 : width + 1);
    const auto inGrid = [](int64_t row, int64_t column) {
        return row >= 1 && row <= kMaxRows && column >= 1 && column <= kMaxColumns;
    };
    if (!inGrid(firstRow, firstColumn) || !inGrid(lastRow, lastColumn))
        Fail(CellError::Ref);
    area.firstRow = static_cast<int32_t>(std::min(firstRow, lastRow));
    area.lastRow = static_cast<int32_t>(std::max(firstRow, lastRow));
    area.firstColumn = static_cast<int32_t>(std::min(firstColumn, lastColumn));
    area.lastColumn = static_cast<int32_t>(std::max(firstColumn, lastColumn));
    return Value::Reference(area);
}

} // namespace

void AddLookupFunctions(std::vector<FunctionEntry>& table)
{
    const FunctionEntry specs[] = {
        { "VLOOKUP", 102, 3, 4, VLookup, Takes::Any },
        { "HLOOKUP", 101, 3, 4, HLookup, Takes::Any },
        { "MATCH", 64, 2, 3, Match, Takes::Any },
        { "XLOOKUP", -1, 3, 6, XLookup, Takes::Any },
        { "XMATCH", -1, 2, 4, XMatch, Takes::Any },
        { "LOOKUP", 28, 2, 3, Lookup, Takes::Any },
        { "INDEX", 29, 2, 4, IndexOf, Takes::Any },
        { "CHOOSE", 100, 2, kAnyCount, Choose, Takes::Lazily },
        { "ROW", 8, 0, 1, Row, Takes::Any },
        { "COLUMN", 9, 0, 1, Column, Takes::Any },
        { "ROWS", 76, 1, 1, Rows, Takes::Any },
        { "COLUMNS", 77, 1, 1, Columns, Takes::Any },
        { "TRANSPOSE", 83, 1, 1, Transpose, Takes::Arrays },
        { "SINGLE", -1, 1, 1, Single, Takes::Any },
        { "OFFSET", 78, 3, 5, Offset, Takes::Any },
    };
    table.insert(table.end(), std::begin(specs), std::end(specs));
}

} // namespace vellumcast::spreadsheet::formula
