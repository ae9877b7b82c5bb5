// Arithmetic and mathematical functions: sums and products, rounding, powers and
// logarithms, trigonometry.

#include "spreadsheet/formula/FunctionSupport.h"

#include <cmath>
#include <numeric>

namespace vellumcast::spreadsheet::formula {

namespace {

Value Result(double number)
{
    if (!std::isfinite(number))
        return Value::Error(CellError::Num);
    return Value::Number(number);
}

// The whole part of an argument given as a count or a number of digits.
int64_t WholeArgument(Call& call, size_t i)
{
    const double number = call.Number(i);
    if (!(std::fabs(number) < 1e15))
        Fail(CellError::Num);
    return static_cast<int64_t>(std::trunc(number));
}

// A quotient that must be whole, taken on its 15 significant digits as the application
// takes it, so that 0.3/0.1 counts as 3.
double Quotient15(double a, double b)
{
    return SignificantDigits15(a / b);
}

Value Sum(Call& call)
{
    double sum = 0;
    call.Numbers(0, [&](double number) { sum += number; });
    return Result(sum);
}

Value Product(Call& call)
{
    double product = 1;
    bool any = false;
    call.Numbers(0, [&](double number) {
        product *= number;
        any = true;
    });
    return Result(any ? product : 0);
}

Value SumSquares(Call& call)
{
    double sum = 0;
    call.Numbers(0, [&](double number) { sum += number * number; });
    return Result(sum);
}

Value Round(Call& call)
{
    return Result(RoundToDigits(call.Number(0), WholeArgument(call, 1), Rounding::Nearest));
}

Value RoundUp(Call& call)
{
    return Result(RoundToDigits(call.Number(0), WholeArgument(call, 1), Rounding::Up));
}

Value RoundDown(Call& call)
{
    return Result(RoundToDigits(call.Number(0), WholeArgument(call, 1), Rounding::Down));
}

Value Trunc(Call& call)
{
    const int64_t digits = call.Missing(1) ? 0 : WholeArgument(call, 1);
    return Result(RoundToDigits(call.Number(0), digits, Rounding::Down));
}

Value Int(Call& call)
{
    return Result(std::floor(SignificantDigits15(call.Number(0))));
}

Value Mod(Call& call)
{
    const double number = call.Number(0), divisor = call.Number(1);
    if (divisor == 0)
        Fail(CellError::Div0);
    const double result = number - std::floor(Quotient15(number, divisor)) * divisor;
    // What is left of rounding in the product is no remainder.
    if (std::fabs(result) < std::fabs(divisor) * 1e-15)
        return Value::Number(0);
    return Result(result);
}

Value Quotient(Call& call)
{
    const double number = call.Number(0), divisor = call.Number(1);
    if (divisor == 0)
        Fail(CellError::Div0);
    return Result(std::trunc(Quotient15(number, divisor)));
}

Value Abs(Call& call)
{
    return Result(std::fabs(call.Number(0)));
}

Value Sign(Call& call)
{
    const double number = call.Number(0);
    return Value::Number(number > 0 ? 1 : (number < 0 ? -1 : 0));
}

Value Sqrt(Call& call)
{
    const double number = call.Number(0);
    if (number < 0)
        Fail(CellError::Num);
    return Result(std::sqrt(number));
}

Value Power(Call& call)
{
    return ApplyBinary(Operator::Power, Value::Number(call.Number(0)), Value::Number(call.Number(1)));
}

Value Exp(Call& call)
{
    return Result(std::exp(call.Number(0)));
}

Value Ln(Call& call)
{
    const double number = call.Number(0);
    if (number <= 0)
        Fail(CellError::Num);
    return Result(std::log(number));
}

Value Log10(Call& call)
{
    const double number = call.Number(0);
    if (number <= 0)
        Fail(CellError::Num);
    return Result(std::log10(number));
}

Value Log(Call& call)
{
    const double number = call.Number(0);
    const double base = call.NumberOr(1, 10);
    if (number <= 0 || base <= 0)
        Fail(CellError::Num);
    if (base == 1)
        Fail(CellError::Div0);
    return Result(base == 10 ? std::log10(number) : std::log(number) / std::log(base));
}

Value Pi(Call&)
{
    return Value::Number(3.14159265358979323846);
}

// CEILING and FLOOR of the application's first versions: significance 0 gives 0 and
// #DIV/0! respectively; a positive number with a negative significance is #NUM!.
Value Ceiling(Call& call)
{
    const double number = call.Number(0);
    const double significance = call.Number(1);
    if (significance == 0 || number == 0)
        return Value::Number(0);
    if (number > 0 && significance < 0)
        Fail(CellError::Num);
    if (significance < 0) // both negative: away from zero
        return Result(-std::ceil(Quotient15(-number, -significance)) * -significance);
    return Result(std::ceil(Quotient15(number, significance)) * significance);
}

Value Floor(Call& call)
{
    const double number = call.Number(0);
    const double significance = call.Number(1);
    if (significance == 0)
        Fail(CellError::Div0);
    if (number == 0)
        return Value::Number(0);
    if (number > 0 && significance < 0)
        Fail(CellError::Num);
    if (significance < 0) // both negative: toward zero
        return Result(-std::floor(Quotient15(-number, -significance)) * -significance);
    return Result(std::floor(Quotient15(number, significance)) * significance);
}

// CEILING.MATH and FLOOR.MATH: the significance's sign does not count; mode turns the
// rounding of negative numbers toward or away from zero.
Value CeilingMath(Call& call)
{
    const double number = call.Number(0);
    const double significance = std::fabs(call.NumberOr(1, 1));
    const bool awayFromZero = call.NumberOr(2, 0) != 0;
    if (significance == 0 || number == 0)
        return Value::Number(0);
    if (number > 0)
        return Result(std::ceil(Quotient15(number, significance)) * significance);
    const double steps = Quotient15(-number, significance);
    return Result(-(awayFromZero ? std::ceil(steps) : std::floor(steps)) * significance);
}

Value FloorMath(Call& call)
{
    const double number = call.Number(0);
    const double significance = std::fabs(call.NumberOr(1, 1));
    const bool towardZero = call.NumberOr(2, 0) != 0;
    if (significance == 0 || number == 0)
        return Value::Number(0);
    if (number > 0)
        return Result(std::floor(Quotient15(number, significance)) * significance);
    const double steps = Quotient15(-number, significance);
    return Result(-(towardZero ? std::floor(steps) : std::ceil(steps)) * significance);
}

Value MRound(Call& call)
{
    const double number = call.Number(0);
    const double multiple = call.Number(1);
    if (multiple == 0 || number == 0)
        return Value::Number(0);
    if ((number > 0) != (multiple > 0))
        Fail(CellError::Num);
    const double steps = RoundToDigits(Quotient15(number, multiple), 0, Rounding::Nearest);
    return Result(steps * multiple);
}

Value Even(Call& call)
{
    const double number = call.Number(0);
    const double magnitude = std::ceil(SignificantDigits15(std::fabs(number)));
    const double even = std::fmod(magnitude, 2) == 0 ? magnitude : magnitude + 1;
    return Result(number < 0 ? -even : even);
}

Value Odd(Call& call)
{
    const double number = call.Number(0);
    const double magnitude = std::ceil(SignificantDigits15(std::fabs(number)));
    const double odd = std::fmod(magnitude, 2) == 1 ? magnitude : magnitude + 1;
    return Result(number < 0 ? -odd : odd);
}

Value Fact(Call& call)
{
    const double number = std::trunc(call.Number(0));
    if (number < 0 || number > 170)
        Fail(CellError::Num);
    double product = 1;
    for (int i = 2; i <= static_cast<int>(number); ++i)
        product *= i;
    return Result(product);
}

Value Combin(Call& call)
{
    const double n = std::trunc(call.Number(0));
    const double k = std::trunc(call.Number(1));
    if (n < 0 || k < 0 || n < k || n > 1e9)
        Fail(CellError::Num);
    double result = 1;
    const double smaller = std::min(k, n - k);
    for (double i = 1; i <= smaller; ++i)
        result = result * (n - smaller + i) / i;
    return Result(std::round(result));
}

Value GcdOrLcm(Call& call, bool lcm)
{
    double result = lcm ? 1 : 0;
    call.Numbers(0, [&](double number) {
        number = std::trunc(number);
        if (number < 0 || number >= 9007199254740992.0)
            Fail(CellError::Num);
        const auto a = static_cast<uint64_t>(result), b = static_cast<uint64_t>(number);
        if (lcm) {
            if (a == 0 || b == 0) {
                result = 0;
                return;
            }
            result = static_cast<double>(a / std::gcd(a, b)) * static_cast<double>(b);
        } else {
            result = static_cast<double>(std::gcd(a, b));
        }
    });
    return Result(result);
}

Value Gcd(Call& call)
{
    return GcdOrLcm(call, false);
}

Value Lcm(Call& call)
{
    return GcdOrLcm(call, true);
}

// SUMPRODUCT: arrays of one size multiplied item by item and summed; items that are not
// numbers count as 0, an error anywhere is the result.
Value SumProduct(Call& call)
{
    std::vector<std::shared_ptr<const ArrayValue>> arrays;
    for (size_t i = 0; i < call.Count(); ++i) {
        if (call.Missing(i))
            Fail(CellError::Value);
        const Value& raw = call.Raw(i);
        if (raw.IsError())
            Fail(raw.ErrorValue());
        if (raw.IsReference() && raw.Areas().size() != 1)
            Fail(CellError::Value);
        arrays.push_back(call.Eval().ToArray(raw));
    }
    const ArrayValue& first = *arrays.front();
    for (const auto& array : arrays) {
        if (array->rows != first.rows || array->columns != first.columns)
            Fail(CellError::Value);
    }
    double sum = 0;
    for (size_t k = 0; k < first.items.size(); ++k) {
        double product = 1;
        for (const auto& array : arrays) {
            const Value& item = array->items[k];
            if (item.IsError())
                Fail(item.ErrorValue());
            product *= item.IsNumber() ? item.NumberValue() : 0;
        }
        sum += product;
    }
    return Result(sum);
}

template <double (*F)(double)> Value Unary(Call& call)
{
    return Result(F(call.Number(0)));
}

double Radians(double degrees)
{
    return degrees * 3.14159265358979323846 / 180;
}

double Degrees(double radians)
{
    return radians * 180 / 3.14159265358979323846;
}

double Sin(double x)
{
    return std::sin(x);
}
double Cos(double x)
{
    return std::cos(x);
}
double Tan(double x)
{
    return std::tan(x);
}
double Atan(double x)
{
    return std::atan(x);
}
double Sinh(double x)
{
    return std::sinh(x);
}
double Cosh(double x)
{
    return std::cosh(x);
}
double Tanh(double x)
{
    return std::tanh(x);
}

Value Asin(Call& call)
{
    const double x = call.Number(0);
    if (x < -1 || x > 1)
        Fail(CellError::Num);
    return Result(std::asin(x));
}

Value Acos(Call& call)
{
    const double x = call.Number(0);
    if (x < -1 || x > 1)
        Fail(CellError::Num);
    return Result(std::acos(x));
}

Value Atan2(Call& call)
{
    const double x = call.Number(0), y = call.Number(1);
    if (x == 0 && y == 0)
        Fail(CellError::Div0);
    return Result(std::atan2(y, x));
}

} // namespace

void AddMathFunctions(std::vector<FunctionEntry>& table)
{
    const FunctionEntry specs[] = {
        { "SUM", 4, 1, kAnyCount, Sum, Takes::Any },
        { "PRODUCT", 183, 1, kAnyCount, Product, Takes::Any },
        { "SUMSQ", 321, 1, kAnyCount, SumSquares, Takes::Any },
        { "SUMPRODUCT", 228, 1, kAnyCount, SumProduct, Takes::Arrays },
        { "ROUND", 27, 2, 2, Round },
        { "ROUNDUP", 212, 2, 2, RoundUp },
        { "ROUNDDOWN", 213, 2, 2, RoundDown },
        { "TRUNC", 197, 1, 2, Trunc },
        { "INT", 25, 1, 1, Int },
        { "MOD", 39, 2, 2, Mod },
        { "QUOTIENT", -1, 2, 2, Quotient },
        { "ABS", 24, 1, 1, Abs },
        { "SIGN", 26, 1, 1, Sign },
        { "SQRT", 20, 1, 1, Sqrt },
        { "POWER", 337, 2, 2, Power },
        { "EXP", 21, 1, 1, Exp },
        { "LN", 22, 1, 1, Ln },
        { "LOG10", 23, 1, 1, Log10 },
        { "LOG", 109, 1, 2, Log },
        { "PI", 19, 0, 0, Pi },
        { "CEILING", 288, 2, 2, Ceiling },
        { "FLOOR", 285, 2, 2, Floor },
        { "CEILING.MATH", -1, 1, 3, CeilingMath },
        { "FLOOR.MATH", -1, 1, 3, FloorMath },
        { "MROUND", -1, 2, 2, MRound },
        { "EVEN", 279, 1, 1, Even },
        { "ODD", 298, 1, 1, Odd },
        { "FACT", 184, 1, 1, Fact },
        { "COMBIN", 276, 2, 2, Combin },
        { "GCD", -1, 1, kAnyCount, Gcd, Takes::Any },
        { "LCM", -1, 1, kAnyCount, Lcm, Takes::Any },
        { "RADIANS", 342, 1, 1, Unary<Radians> },
        { "DEGREES", 343, 1, 1, Unary<Degrees> },
        { "SIN", 15, 1, 1, Unary<Sin> },
        { "COS", 16, 1, 1, Unary<Cos> },
        { "TAN", 17, 1, 1, Unary<Tan> },
        { "ATAN", 18, 1, 1, Unary<Atan> },
        { "SINH", 229, 1, 1, Unary<Sinh> },
        { "COSH", 230, 1, 1, Unary<Cosh> },
        { "TANH", 231, 1, 1, Unary<Tanh> },
        { "ASIN", 98, 1, 1, Asin },
        { "ACOS", 99, 1, 1, Acos },
        { "ATAN2", 97, 2, 2, Atan2 },
    };
    table.insert(table.end(), std::begin(specs), std::end(specs));
}

} // namespace vellumcast::spreadsheet::formula
