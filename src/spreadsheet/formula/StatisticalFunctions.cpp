// Counting, averages, extremes and the conditional aggregates (COUNTIF, SUMIFS and their
// kin). Numbers in references count; text, booleans and empty cells there are passed over
// (the A functions count text as 0 and booleans as 0 or 1); arguments given directly are
// coerced.

#include "spreadsheet/formula/FunctionSupport.h"

#include <algorithm>
#include <cmath>

namespace vellumcast::spreadsheet::formula {

namespace {

std::vector<double> NumbersOf(Call& call, size_t first = 0)
{
    std::vector<double> numbers;
    call.Numbers(first, [&](double number) { numbers.push_back(number); });
    return numbers;
}

Value Average(Call& call)
{
    double sum = 0;
    size_t count = 0;
    call.Numbers(0, [&](double number) {
        sum += number;
        ++count;
    });
    if (count == 0)
        Fail(CellError::Div0);
    return Value::Number(sum / static_cast<double>(count));
}

Value Extreme(Call& call, bool max)
{
    bool any = false;
    double best = 0;
    call.Numbers(0, [&](double number) {
        if (!any || (max ? number > best : number < best))
            best = number;
        any = true;
    });
    return Value::Number(any ? best : 0);
}

Value Min(Call& call)
{
    return Extreme(call, false);
}

Value Max(Call& call)
{
    return Extreme(call, true);
}

// The values of the A functions: numbers, text as 0 and booleans as 0 or 1 in references;
// arguments given directly as the plain functions take them.
std::vector<double> ValuesA(Call& call)
{
    std::vector<double> values;
    for (size_t i = 0; i < call.Count(); ++i) {
        if (call.Missing(i))
            continue;
        const Value& raw = call.Raw(i);
        if (raw.IsReference() || raw.IsArray()) {
            ForEachValue(call, i, [&](const Value& value) {
                if (value.IsError())
                    Fail(value.ErrorValue());
                if (value.IsNumber() || value.IsBoolean())
                    values.push_back(value.NumberValue());
                else if (value.IsText())
                    values.push_back(0);
            });
            continue;
        }
        double number = 0;
        CellError error = CellError::Value;
        if (!ToNumber(raw, number, error))
            Fail(error);
        values.push_back(number);
    }
    return values;
}

Value AverageA(Call& call)
{
    const std::vector<double> values = ValuesA(call);
    if (values.empty())
        Fail(CellError::Div0);
    double sum = 0;
    for (const double value : values)
        sum += value;
    return Value::Number(sum / static_cast<double>(values.size()));
}

Value MinA(Call& call)
{
    const std::vector<double> values = ValuesA(call);
    return Value::Number(values.empty() ? 0 : *std::min_element(values.begin(), values.end()));
}

Value MaxA(Call& call)
{
    const std::vector<double> values = ValuesA(call);
    return Value::Number(values.empty() ? 0 : *std::max_element(values.begin(), values.end()));
}

// COUNT: numbers in references and arrays; numbers, booleans and numeric text given
// directly. Errors are not counted, and not given.
Value Count(Call& call)
{
    double count = 0;
    for (size_t i = 0; i < call.Count(); ++i) {
        if (call.Missing(i))
            continue;
        const Value& raw = call.Raw(i);
        if (raw.IsReference() || raw.IsArray()) {
            ForEachValue(call, i, [&](const Value& value) { count += value.IsNumber() ? 1 : 0; });
            continue;
        }
        double number = 0;
        CellError ignored = CellError::Value;
        if (!raw.IsError() && ToNumber(raw, number, ignored))
            ++count;
    }
    return Value::Number(count);
}

Value CountA(Call& call)
{
    double count = 0;
    for (size_t i = 0; i < call.Count(); ++i) {
        if (call.Missing(i))
            continue;
        ForEachValue(call, i, [&](const Value& value) { count += value.IsBlank() ? 0 : 1; });
    }
    return Value::Number(count);
}

Area WholeArea(Call& call, size_t i)
{
    const Value& raw = call.Raw(i);
    if (raw.IsError())
        Fail(raw.ErrorValue());
    if (!raw.IsReference() || raw.Areas().size() != 1)
        Fail(CellError::Value);
    return raw.Areas()[0];
}

Value CountBlank(Call& call)
{
    const Area area = WholeArea(call, 0);
    double filled = 0;
    call.Context().VisitCells(area, [&](int32_t, int32_t, const Value& value) {
        if (!(value.IsText() && value.TextValue().empty()))
            ++filled;
    });
    return Value::Number(static_cast<double>(area.Rows() * area.Columns()) - filled);
}

Criterion CriterionOf(Call& call, size_t i)
{
    return Criterion(call.Scalar(i), call.Context().DateSystem());
}

Value CountIf(Call& call)
{
    const Area area = WholeArea(call, 0);
    const Criterion criterion = CriterionOf(call, 1);
    double matched = 0, filled = 0;
    call.Context().VisitCells(area, [&](int32_t, int32_t, const Value& value) {
        ++filled;
        matched += criterion.Matches(value) ? 1 : 0;
    });
    if (criterion.MatchesBlank())
        matched += static_cast<double>(area.Rows() * area.Columns()) - filled;
    return Value::Number(matched);
}

// The area of a range the same size as another, from its first cell: what SUMIF and its
// kin make of a sum range given in another size.
Area Sized(const Area& from, const Area& like)
{
    Area area = from;
    area.lastRow = static_cast<int32_t>(std::min<int64_t>(from.firstRow + like.Rows() - 1, kMaxRows));
    area.lastColumn = static_cast<int32_t>(std::min<int64_t>(from.firstColumn + like.Columns() - 1, kMaxColumns));
    return area;
}

// The numbers of the target area whose cells, at the same place in each criteria range,
// meet every criterion. The ranges of the S functions must all be the target's size.
template <typename Take>
void ForMatchingNumbers(Call& call, const Area& target, const std::vector<std::pair<Area, Criterion>>& criteria,
    bool sameSizeRequired, Take&& take)
{
    for (const auto& [area, criterion] : criteria) {
        if (sameSizeRequired && (area.Rows() != target.Rows() || area.Columns() != target.Columns()))
            Fail(CellError::Value);
    }
    call.Context().VisitCells(target, [&](int32_t row, int32_t column, const Value& value) {
        if (!value.IsNumber() && !value.IsError())
            return;
        for (const auto& [area, criterion] : criteria) {
            const Value cell = call.Context().CellValue(
                area.sheet, area.firstRow + (row - target.firstRow), area.firstColumn + (column - target.firstColumn));
            if (!criterion.Matches(cell))
                return;
        }
        if (value.IsError())
            Fail(value.ErrorValue());
        take(value.NumberValue());
    });
}

// SUMIF, AVERAGEIF: range, criterion, then the range whose numbers count (the criteria
// range itself when none is given).
template <typename Take> void OneCriterion(Call& call, Take&& take)
{
    const Area range = WholeArea(call, 0);
    const Criterion criterion = CriterionOf(call, 1);
    const Area target = call.Count() > 2 && !call.Missing(2) ? Sized(WholeArea(call, 2), range) : range;
    ForMatchingNumbers(call, target, { { range, criterion } }, false, take);
}

Value SumIf(Call& call)
{
    double sum = 0;
    OneCriterion(call, [&](double number) { sum += number; });
    return Value::Number(sum);
}

Value AverageIf(Call& call)
{
    double sum = 0, count = 0;
    OneCriterion(call, [&](double number) {
        sum += number;
        ++count;
    });
    if (count == 0)
        Fail(CellError::Div0);
    return Value::Number(sum / count);
}

// SUMIFS, AVERAGEIFS, MAXIFS, MINIFS: the target range, then pairs of a range and a criterion.
template <typename Take> void ManyCriteria(Call& call, Take&& take)
{
    if (call.Count() < 3 || call.Count() % 2 == 0)
        Fail(CellError::Value);
    const Area target = WholeArea(call, 0);
    std::vector<std::pair<Area, Criterion>> criteria;
    for (size_t i = 1; i + 1 < call.Count(); i += 2)
        criteria.emplace_back(WholeArea(call, i), CriterionOf(call, i + 1));
    ForMatchingNumbers(call, target, criteria, true, take);
}

Value SumIfs(Call& call)
{
    double sum = 0;
    ManyCriteria(call, [&](double number) { sum += number; });
    return Value::Number(sum);
}

Value AverageIfs(Call& call)
{
    double sum = 0, count = 0;
    ManyCriteria(call, [&](double number) {
        sum += number;
        ++count;
    });
    if (count == 0)
        Fail(CellError::Div0);
    return Value::Number(sum / count);
}

Value ExtremeIfs(Call& call, bool max)
{
    bool any = false;
    double best = 0;
    ManyCriteria(call, [&](double number) {
        if (!any || (max ? number > best : number < best))
            best = number;
        any = true;
    });
    return Value::Number(any ? best : 0);
}

Value MaxIfs(Call& call)
{
    return ExtremeIfs(call, true);
}

Value MinIfs(Call& call)
{
    return ExtremeIfs(call, false);
}

// COUNTIFS: the places where every range's cell meets its criterion. Places where every
// range is empty are counted without being visited, when empty cells meet every criterion.
Value CountIfs(Call& call)
{
    if (call.Count() < 2 || call.Count() % 2 != 0)
        Fail(CellError::Value);
    std::vector<std::pair<Area, Criterion>> criteria;
    for (size_t i = 0; i + 1 < call.Count(); i += 2)
        criteria.emplace_back(WholeArea(call, i), CriterionOf(call, i + 1));
    const Area& first = criteria.front().first;
    for (const auto& [area, criterion] : criteria) {
        if (area.Rows() != first.Rows() || area.Columns() != first.Columns())
            Fail(CellError::Value);
    }
    const auto matchesAt = [&](int64_t row, int64_t column) {
        for (const auto& [area, criterion] : criteria) {
            const Value cell = call.Context().CellValue(
                area.sheet, static_cast<int32_t>(area.firstRow + row), static_cast<int32_t>(area.firstColumn + column));
            if (!criterion.Matches(cell))
                return false;
        }
        return true;
    };
    // Any criterion that empty cells fail: only its range's filled cells can match.
    for (const auto& [area, criterion] : criteria) {
        if (criterion.MatchesBlank())
            continue;
        double count = 0;
        const Area& base = area;
        call.Context().VisitCells(area, [&](int32_t row, int32_t column, const Value&) {
            count += matchesAt(row - base.firstRow, column - base.firstColumn) ? 1 : 0;
        });
        return Value::Number(count);
    }
    // Every criterion meets empty cells: the places no range fills all match, the others
    // are tried one by one.
    std::vector<std::pair<int64_t, int64_t>> filled;
    for (const auto& [area, criterion] : criteria) {
        const Area& base = area;
        call.Context().VisitCells(area, [&](int32_t row, int32_t column, const Value&) {
            filled.emplace_back(row - base.firstRow, column - base.firstColumn);
        });
    }
    std::sort(filled.begin(), filled.end());
    filled.erase(std::unique(filled.begin(), filled.end()), filled.end());
    double count = static_cast<double>(first.Rows() * first.Columns()) - static_cast<double>(filled.size());
    for (const auto& [row, column] : filled)
        count += matchesAt(row, column) ? 1 : 0;
    return Value::Number(count);
}

Value Median(Call& call)
{
    std::vector<double> numbers = NumbersOf(call);
    if (numbers.empty())
        Fail(CellError::Num);
    std::sort(numbers.begin(), numbers.end());
    const size_t middle = numbers.size() / 2;
    if (numbers.size() % 2 == 1)
        return Value::Number(numbers[middle]);
    return Value::Number((numbers[middle - 1] + numbers[middle]) / 2);
}

Value KthOf(Call& call, bool largest)
{
    std::vector<double> numbers;
    ForEachValue(call, 0, [&](const Value& value) {
        if (value.IsError())
            Fail(value.ErrorValue());
        if (value.IsNumber())
            numbers.push_back(value.NumberValue());
    });
    const double k = std::ceil(call.Number(1));
    if (k < 1 || k > static_cast<double>(numbers.size()))
        Fail(CellError::Num);
    const auto index = static_cast<size_t>(k) - 1;
    if (largest)
        std::nth_element(
            numbers.begin(), numbers.begin() + static_cast<ptrdiff_t>(index), numbers.end(), std::greater<double>());
    else
        std::nth_element(numbers.begin(), numbers.begin() + static_cast<ptrdiff_t>(index), numbers.end());
    return Value::Number(numbers[index]);
}

Value Large(Call& call)
{
    return KthOf(call, true);
}

Value Small(Call& call)
{
    return KthOf(call, false);
}

// RANK: the position of a number among a reference's numbers, largest first unless order
// is given and not 0; equal numbers share the best position.
Value Rank(Call& call)
{
    const double number = call.Number(0);
    const bool ascending = call.Count() > 2 && !call.Missing(2) && call.Number(2) != 0;
    if (!call.Raw(1).IsReference())
        Fail(CellError::Value);
    double before = 0;
    bool present = false;
    ForEachValue(call, 1, [&](const Value& value) {
        if (!value.IsNumber())
            return;
        const double other = value.NumberValue();
        if (other == number)
            present = true;
        else if (ascending ? other < number : other > number)
            ++before;
    });
    if (!present)
        Fail(CellError::NA);
    return Value::Number(before + 1);
}

Value Spread(Call& call, bool sample, bool root)
{
    const std::vector<double> numbers = NumbersOf(call);
    const size_t n = numbers.size();
    if (n == 0 || (sample && n < 2))
        Fail(CellError::Div0);
    double mean = 0;
    for (const double x : numbers)
        mean += x;
    mean /= static_cast<double>(n);
    double squares = 0;
    for (const double x : numbers)
        squares += (x - mean) * (x - mean);
    const double variance = squares / static_cast<double>(sample ? n - 1 : n);
    return Value::Number(root ? std::sqrt(variance) : variance);
}

Value StDev(Call& call)
{
    return Spread(call, true, true);
}

Value StDevP(Call& call)
{
    return Spread(call, false, true);
}

Value Var(Call& call)
{
    return Spread(call, true, false);
}

Value VarP(Call& call)
{
    return Spread(call, false, false);
}

} // namespace

void AddStatisticalFunctions(std::vector<FunctionEntry>& table)
{
    const FunctionEntry specs[] = {
        { "AVERAGE", 5, 1, kAnyCount, Average, Takes::Any },
        { "MIN", 6, 1, kAnyCount, Min, Takes::Any },
        { "MAX", 7, 1, kAnyCount, Max, Takes::Any },
        { "COUNT", 0, 0, kAnyCount, Count, Takes::Any },
        { "COUNTA", 169, 1, kAnyCount, CountA, Takes::Any },
        { "COUNTBLANK", 347, 1, 1, CountBlank, Takes::Any },
        { "AVERAGEA", 361, 1, kAnyCount, AverageA, Takes::Any },
        { "MINA", 363, 1, kAnyCount, MinA, Takes::Any },
        { "MAXA", 362, 1, kAnyCount, MaxA, Takes::Any },
        { "COUNTIF", 346, 2, 2, CountIf, Takes::Any },
        { "SUMIF", 345, 2, 3, SumIf, Takes::Any },
        { "AVERAGEIF", 483, 2, 3, AverageIf, Takes::Any },
        { "COUNTIFS", 481, 2, kAnyCount, CountIfs, Takes::Any },
        { "SUMIFS", 482, 3, kAnyCount, SumIfs, Takes::Any },
        { "AVERAGEIFS", 484, 3, kAnyCount, AverageIfs, Takes::Any },
        { "MAXIFS", -1, 3, kAnyCount, MaxIfs, Takes::Any },
        { "MINIFS", -1, 3, kAnyCount, MinIfs, Takes::Any },
        { "MEDIAN", 227, 1, kAnyCount, Median, Takes::Any },
        { "LARGE", 325, 2, 2, Large, Takes::Any },
        { "SMALL", 326, 2, 2, Small, Takes::Any },
        { "RANK", 216, 2, 3, Rank, Takes::Any },
        { "STDEV", 12, 1, kAnyCount, StDev, Takes::Any },
        { "STDEVP", 193, 1, kAnyCount, StDevP, Takes::Any },
        { "VAR", 46, 1, kAnyCount, Var, Takes::Any },
        { "VARP", 194, 1, kAnyCount, VarP, Takes::Any },
    };
    table.insert(table.end(), std::begin(specs), std::end(specs));
}

} // namespace vellumcast::spreadsheet::formula
