// Rendering of numbers, dates and strings through a parsed number format. Everything is
// appended to the caller's string: no allocation of its own.
#include "spreadsheet/numfmt/NumberFormatParts.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

namespace vellumcast::spreadsheet::numfmt {

namespace {

constexpr char kDigitPairs[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                               "4041424344454647484950515253545556575859606162636465666768697071727374757677787980"
                               "81828384858687888990919293949596979899";

// The pairs, then AM and PM as pairs 100 and 101, and two characters that a piece with no
// field reads and does not keep.
constexpr char kDigitPairsAmPm[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                                   "4041424344454647484950515253545556575859606162636465666768697071727374757677787980"
                                   "81828384858687888990919293949596979899AMPM";

// Appends [begin, end) as a pointer and a length: std::string's append of two iterators
// goes through its general replace, several times the work.
inline void AppendRange(std::string& out, const char* begin, const char* end)
{
    out.append(begin, static_cast<size_t>(end - begin));
}

// AppendRange for the few bytes most numbers take: up to 16 go as a copy of a fixed size,
// which the compiler writes inline where a call to memcpy would cost more than the copy.
// The 16 bytes from begin must lie in one buffer; those past end are dropped at once.
inline void AppendShort(std::string& out, const char* begin, const char* end)
{
    const auto length = static_cast<size_t>(end - begin);
    if (length > 16) {
        out.append(begin, length);
        return;
    }
    const size_t size = out.size();
    out.append(begin, 16);
    out.resize(size + length);
}

// Writes the `count` last decimal digits of v (zeros in front when v has fewer) so that
// they end at `end`, two at a time, and leaves in v the digits before them; returns where
// they begin.
template <typename Unsigned> inline char* PutDigitsBefore(char* end, Unsigned& v, uint32_t count)
{
    for (; count >= 2; count -= 2, v /= 100) {
        end -= 2;
        std::memcpy(end, kDigitPairs + 2 * (v % 100), 2);
    }
    if (count == 1) {
        *--end = static_cast<char>('0' + v % 10);
        v /= 10;
    }
    return end;
}

// Writes v in decimal without leading zeros so that it ends at `end`; returns where it
// begins. In 32 bits where v fits them, whose divisions by constants cost less.
template <typename Unsigned> inline char* PutNumberBefore(char* end, Unsigned v)
{
    for (; v >= 100; v /= 100) {
        end -= 2;
        std::memcpy(end, kDigitPairs + 2 * (v % 100), 2);
    }
    if (v >= 10) {
        end -= 2;
        std::memcpy(end, kDigitPairs + 2 * v, 2);
    } else {
        *--end = static_cast<char>('0' + v);
    }
    return end;
}

// The application keeps 15 significant digits of a number; everything shown is derived
// from them, rounded half away from zero on the decimal digits (so 1.005 shows 1.01).
struct Decimal {
    char digits[20] = {};
    int count = 0; // significant digits, no trailing zeros; 0 for zero
    int point = 0; // digits before the decimal point: value = 0.d1d2... x 10^point

    char At(int i) const { return i >= 0 && i < count ? digits[i] : '0'; }
    bool Zero() const { return count == 0; }
};

void StripZeros(Decimal& d)
{
    // Eight zeros at a time first: a decimal of a few places rounded to 15 digits ends in many.
    constexpr uint64_t kEightZeros = 0x3030303030303030u;
    for (uint64_t last = 0; d.count >= 8; d.count -= 8) {
        std::memcpy(&last, d.digits + d.count - 8, sizeof last);
        if (last != kEightZeros)
            break;
    }
    while (d.count > 0 && d.digits[d.count - 1] == '0')
        --d.count;
}

// The digits of "d.ddde+XX" (scientific notation as std::to_chars writes it).
void ReadScientific(const char* p, const char* end, Decimal& d)
{
    d.digits[d.count++] = *p++;
    if (p < end && *p == '.')
        ++p;
    while (p < end && *p != 'e' && d.count < static_cast<int>(sizeof d.digits))
        d.digits[d.count++] = *p++;
    while (p < end && *p != 'e')
        ++p;
    int exponent = 0;
    if (p < end && *p == 'e') {
        ++p;
        const bool negative = *p == '-';
        ++p;
        while (p < end)
            exponent = exponent * 10 + (*p++ - '0');
        if (negative)
            exponent = -exponent;
    }
    d.point = exponent + 1;
    StripZeros(d);
}

constexpr double kPowersOfTen[] = { 1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14,
    1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22 }; // every one exact as a double

// The value rounded to 15 significant digits as an integer n of 15 digits (16 when the
// rounding carries to 10^15) with value ~ n x 10^-scale; false when this short way cannot
// be sure of it. The value is scaled by an exact power of ten to between 10^14 and 10^15,
// where every integer and every integer and a half is a double: the product, rounded to
// the nearest double, lies on the same side of each as the exact product does, so the
// integer nearest to it is the one nearest to the exact product, which is the rounding
// wanted. Only a product of exactly an integer and a half leaves the side unknown.
bool RoundToFifteenDigits(double absValue, uint64_t& n, int& scale)
{
    if (!(absValue >= 1e-8 && absValue < 1e15))
        return false;
    uint64_t bits = 0;
    std::memcpy(&bits, &absValue, sizeof bits);
    const int binaryExponent = static_cast<int>((bits >> 52) & 0x7FF) - 1023;
    // floor(binaryExponent x log10(2)): the decimal exponent, or one less.
    const int decimalExponent = (binaryExponent * 78913) >> 18;
    scale = 14 - decimalExponent;
    if (scale < 0 || scale > 22)
        return false;
    double scaled = absValue * kPowersOfTen[scale];
    if (scaled >= 1e15 && scale > 0)
        scaled = absValue * kPowersOfTen[--scale];
    else if (scaled < 1e14 && scale < 22)
        scaled = absValue * kPowersOfTen[++scale];
    const double whole = std::floor(scaled);
    const double fraction = scaled - whole;
    if (!(whole >= 1e14 - 1 && whole < 1e15) || fraction == 0.5)
        return false;
    n = static_cast<uint64_t>(whole) + (fraction > 0.5 ? 1 : 0);
    return n >= 100000000000000u;
}

// absValue x 10^power rounded half up to an integer, as the digit by digit way rounds the 15
// significant digits the application keeps of absValue, from one product: the 15 digits lie
// within half a unit of their last place of absValue, under 0.5 x 10^-14 of its size, and
// the product within 2^-53 of its size from the exact one. So where the product lies
// further than 10^-14 of its size from the nearest integer and a half, the 15 digits
// scaled lie on the same side of it and round to the same integer. False when the product
// lies nearer (a tie of the 15 digits among them), or is 10^13 or more: from 5 x 10^13 on
// that distance takes in every product, and the floor is taken in 64 bits. power lies
// between -22 and 22: every such power of ten is a double, so the product is rounded once.
bool RoundScaled(double absValue, int power, uint64_t& rounded)
{
    const double product = power >= 0 ? absValue * kPowersOfTen[power] : absValue / kPowersOfTen[-power];
    if (!(product < 1e13))
        return false;
    const auto whole = static_cast<uint64_t>(product); // the floor: the product is not negative
    const double fromHalf = (product - static_cast<double>(whole)) - 0.5; // both exact below 2^52
    const double margin = product * 1e-14;
    if (fromHalf <= margin && fromHalf >= -margin)
        return false;
    rounded = whole + (fromHalf > 0.0 ? 1 : 0);
    return true;
}

// The value rounded to 15 significant digits, as the application keeps numbers.
Decimal ToDecimal(double absValue)
{
    Decimal d;
    if (!(absValue > 0.0))
        return d;
    uint64_t n = 0;
    int scale = 0;
    if (RoundToFifteenDigits(absValue, n, scale)) {
        // Two digits at a time from the last, the eight last digits and those before them
        // apart so that the two runs of divisions do not wait on each other.
        const int length = n >= 1000000000000000u ? 16 : 15;
        const auto writeDigits = [](uint32_t part, char* end, int count) {
            for (; count >= 2; count -= 2, part /= 100) {
                end -= 2;
                std::memcpy(end, kDigitPairs + 2 * (part % 100), 2);
            }
            if (count == 1)
                end[-1] = static_cast<char>('0' + part);
        };
        writeDigits(static_cast<uint32_t>(n % 100000000), d.digits + length, 8);
        writeDigits(static_cast<uint32_t>(n / 100000000), d.digits + length - 8, length - 8);
        d.count = length;
        d.point = length - scale;
        StripZeros(d);
        return d;
    }
    char buffer[40];
    // "d.ddddddddddddddde+XX"
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, absValue, std::chars_format::scientific, 14);
    ReadScientific(buffer, result.ptr, d);
    return d;
}

constexpr uint64_t kIntegerPowersOfTen[] = { 1u, 10u, 100u, 1000u, 10000u, 100000u, 1000000u, 10000000u, 100000000u,
    1000000000u, 10000000000u, 100000000000u, 1000000000000u, 10000000000000u, 100000000000000u, 1000000000000000u,
    10000000000000000u, 100000000000000000u, 1000000000000000000u, 10000000000000000000u };

// n divided by 10^k, and the remainder. Each power has a function of its own, whose
// constant divisor the compiler turns into a multiplication: a division instruction by a
// divisor known only at run time takes many times longer, and a number is divided twice.
struct QuotientAndRemainder {
    uint64_t quotient;
    uint64_t remainder;
};
template <size_t K> QuotientAndRemainder DivideByTenTo(uint64_t n)
{
    return { n / kIntegerPowersOfTen[K], n % kIntegerPowersOfTen[K] };
}
template <size_t... K>
constexpr std::array<QuotientAndRemainder (*)(uint64_t), sizeof...(K)> DividersByTen(std::index_sequence<K...>)
{
    return { &DivideByTenTo<K>... };
}
constexpr auto kDividersByTen = DividersByTen(std::make_index_sequence<std::size(kIntegerPowersOfTen)>());

// k lies below 20.
QuotientAndRemainder DividePowerOfTen(uint64_t n, size_t k)
{
    return kDividersByTen[k](n);
}

// n / 10^k rounded half up, k from 1 to 19.
uint64_t RoundedDivision(uint64_t n, size_t k)
{
    const QuotientAndRemainder division = DividePowerOfTen(n, k);
    return division.quotient + (division.remainder >= kIntegerPowersOfTen[k] / 2 ? 1 : 0);
}

// Keeps `keep` significant digits (counted from the first one), rounding half up.
void RoundDigits(Decimal& d, int keep)
{
    if (d.Zero() || keep >= d.count)
        return;
    if (keep < 0) {
        d.count = 0;
        return;
    }
    const bool up = d.digits[keep] >= '5';
    d.count = keep;
    if (up) {
        int i = keep - 1;
        while (i >= 0 && d.digits[i] == '9')
            --i;
        if (i < 0) {
            d.digits[0] = '1';
            d.count = 1;
            ++d.point;
        } else {
            ++d.digits[i];
            d.count = i + 1;
        }
    }
    StripZeros(d);
}

void RoundFraction(Decimal& d, int fractionDigits)
{
    RoundDigits(d, d.point + fractionDigits);
}

// Appends value in decimal, padded with zeros to minDigits. The one or two characters of a
// date's fields are pushed one by one: appending them as a piece costs a call and a copy.
void AppendInt(uint64_t value, std::string& out, int minDigits = 1)
{
    if (value < 100 && minDigits <= 2) {
        if (value >= 10 || minDigits == 2)
            out.push_back(kDigitPairs[2 * value]);
        out.push_back(kDigitPairs[2 * value + 1]);
        return;
    }
    char buffer[20];
    char* const end = buffer + sizeof buffer;
    char* p = PutNumberBefore(end, value);
    if (minDigits > static_cast<int>(sizeof buffer)) { // more zeros than the buffer holds
        out.append(static_cast<size_t>(minDigits) - static_cast<size_t>(end - p), '0');
        minDigits = 0;
    }
    while (end - p < minDigits)
        *--p = '0';
    AppendRange(out, p, end);
}

// Plain decimal notation of d: integer digits, then the fraction digits there are.
void AppendPlain(const Decimal& d, std::string& out)
{
    if (d.Zero()) {
        out += '0';
        return;
    }
    if (d.point <= 0) {
        out += "0.";
        out.append(static_cast<size_t>(-d.point), '0');
        out.append(d.digits, static_cast<size_t>(d.count));
        return;
    }
    for (int i = 0; i < d.point; ++i)
        out += d.At(i);
    if (d.count > d.point) {
        out += '.';
        out.append(d.digits + d.point, static_cast<size_t>(d.count - d.point));
    }
}

void AppendScientific(Decimal d, std::string& out)
{
    int exponent = d.point - 1;
    Decimal rounded = d;
    RoundDigits(rounded, exponent <= -100 || exponent >= 100 ? 5 : 6);
    exponent = rounded.point - 1;
    out += rounded.digits[0];
    if (rounded.count > 1) {
        out += '.';
        out.append(rounded.digits + 1, static_cast<size_t>(rounded.count - 1));
    }
    out += exponent < 0 ? "E-" : "E+";
    AppendInt(static_cast<uint64_t>(exponent < 0 ? -exponent : exponent), out, 2);
}

constexpr const char* Hashes = "########";

const char* const MonthNames[12] = { "January", "February", "March", "April", "May", "June", "July", "August",
    "September", "October", "November", "December" };
const char* const DayNames[7] = { "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday" };

// The Hijri months have no short names of their own: "mmm" shows the full name as well.
const char* const HijriMonthNames[12] = { "محرم", "صفر", "ربيع الأول", "ربيع الثاني", "جمادى الأولى", "جمادى الثانية",
    "رجب", "شعبان", "رمضان", "شوال", "ذو القعدة", "ذو الحجة" };

// The tabular Hijri calendar of the Kuwaiti algorithm: 30-year cycles of 10,631 days with
// leap years 2, 5, 7, 10, 13, 16, 18, 21, 24, 26 and 29, and day 0 (1 Muharram 1 AH) on
// 622-07-15 of the Julian calendar. `z` counts days since 1970-01-01.
void HijriFromDays(int64_t z, int& year, int& month, int& day)
{
    constexpr int64_t EpochFrom1970 = 1948439 - 2440588;
    const int64_t d = z - EpochFrom1970;
    const int64_t cycles = (d >= 0 ? d : d - 10630) / 10631;
    int64_t rest = d - cycles * 10631;
    auto leap = [](int64_t y) { return (14 + 11 * y) % 30 < 11; };
    int64_t y = 1;
    while (rest >= (leap(y) ? 355 : 354)) {
        rest -= leap(y) ? 355 : 354;
        ++y;
    }
    int m = 1;
    while (true) {
        const int length = m % 2 == 1 || (m == 12 && leap(y)) ? 30 : 29;
        if (rest < length || m == 12)
            break;
        rest -= length;
        ++m;
    }
    year = static_cast<int>(cycles * 30 + y);
    month = m;
    day = static_cast<int>(rest + 1);
}

void AppendMonthName(const char* name, uint16_t count, std::string& out)
{
    const size_t length = std::strlen(name);
    if (count == 5) // the first letter, a whole UTF-8 sequence
        out.append(name, std::min(length, Utf8Length(static_cast<unsigned char>(name[0]))));
    else if (count == 3 && static_cast<unsigned char>(name[0]) < 0x80)
        out.append(name, 3);
    else
        out.append(name, length);
}

// Emits the placeholder `index` (0 = leftmost) of a run of `places` placeholders that shows
// the `length` digits given by digitAt(0..length-1); digits beyond the placeholders go
// before the leftmost one. With thousands, a separator follows every third position.
template <typename DigitAt>
void EmitPlaceholder(
    char ch, uint32_t index, uint32_t places, int length, const DigitAt& digitAt, bool thousands, std::string& out)
{
    auto separator = [&](int position, bool blank) {
        if (thousands && position > 0 && position % 3 == 0)
            out += blank ? ' ' : ',';
    };
    const int position = static_cast<int>(places) - 1 - static_cast<int>(index);
    if (index == 0) {
        for (int p = length - 1; p >= static_cast<int>(places); --p) {
            out += digitAt(length - 1 - p);
            separator(p, false);
        }
    }
    if (position < length) {
        out += digitAt(length - 1 - position);
        separator(position, false);
    } else if (ch == '0') {
        out += '0';
        separator(position, false);
    } else if (ch == '?') {
        out += ' ';
        separator(position, true);
    }
}

void AppendLiteral(const Section& section, const Token& token, std::string& out)
{
    out.append(section.text, token.offset, token.length);
}

size_t CodePoints(const char* begin, const char* end)
{
    size_t count = 0;
    for (const char* p = begin; p < end; ++p)
        count += (static_cast<unsigned char>(*p) & 0xC0) != 0x80 ? 1 : 0;
    return count;
}

void RenderFraction(const Section& s, double x, std::string& out)
{
    const bool hasInteger = s.integerDigits > 0;
    double whole = 0.0;
    double numerator = 0.0;
    int64_t denominator = 1;
    if (x >= 1e15) {
        // Beyond the digits a number keeps there is no fraction left to show.
        if (hasInteger)
            whole = std::floor(x);
        else
            numerator = std::floor(x);
        denominator = s.fixedDenominator > 0 ? s.fixedDenominator : 1;
        if (!hasInteger)
            numerator *= static_cast<double>(denominator);
    } else if (s.fixedDenominator > 0) {
        denominator = s.fixedDenominator;
        const double d = static_cast<double>(denominator);
        if (hasInteger) {
            whole = std::floor(x);
            numerator = std::floor((x - whole) * d + 0.5);
            if (numerator >= d) {
                whole += 1.0;
                numerator = 0.0;
            }
        } else {
            numerator = std::floor(x * d + 0.5);
        }
    } else {
        // The last continued-fraction convergent whose denominator fits the placeholders
        // (up to seven digits), as the application chooses it.
        const uint32_t digits = s.denominatorDigits < 1 ? 1 : (s.denominatorDigits > 7 ? 7 : s.denominatorDigits);
        int64_t maxDenominator = 1;
        for (uint32_t i = 0; i < digits; ++i)
            maxDenominator *= 10;
        --maxDenominator;
        // The expansion runs on the fractional part (the integer part only adds whole * q to
        // each numerator), which keeps every product within 64 bits.
        const double integerPart = std::floor(x);
        int64_t p0 = 0, q0 = 1, p1 = 1, q1 = 0;
        double b = x - integerPart;
        for (int step = 0; step < 64; ++step) {
            const double a = std::floor(b);
            if (a > static_cast<double>(maxDenominator))
                break;
            const int64_t ai = static_cast<int64_t>(a);
            const int64_t p = ai * p1 + p0;
            const int64_t q = ai * q1 + q0;
            if (q > maxDenominator)
                break;
            p0 = p1, q0 = q1, p1 = p, q1 = q;
            const double rest = b - a;
            if (rest < 5e-10)
                break;
            b = 1.0 / rest;
        }
        if (q1 == 0)
            q1 = 1, p1 = 0;
        denominator = q1;
        if (hasInteger) {
            whole = integerPart + static_cast<double>(p1 / q1);
            numerator = static_cast<double>(p1 % q1);
        } else {
            numerator = integerPart * static_cast<double>(q1) + static_cast<double>(p1);
        }
    }

    const Decimal wholeDigits = ToDecimal(whole);
    int wholeLength = wholeDigits.Zero() ? 0 : wholeDigits.point;
    const bool forceZero = wholeLength == 0 && numerator == 0.0;
    if (forceZero)
        wholeLength = 1;
    auto wholeAt = [&](int i) { return forceZero ? '0' : wholeDigits.At(i); };

    const Decimal numeratorDigits = ToDecimal(numerator);
    const int numeratorLength = numeratorDigits.Zero() ? 1 : numeratorDigits.point;
    auto numeratorAt = [&](int i) { return numeratorDigits.Zero() ? '0' : numeratorDigits.At(i); };
    const uint32_t chosenWidth = s.fixedDenominator > 0 ? 0 : (s.denominatorDigits > 7 ? 7 : s.denominatorDigits);
    const uint32_t numeratorWidth = s.numeratorDigits > chosenWidth ? s.numeratorDigits : chosenWidth;

    const bool blank = hasInteger && numerator == 0.0;
    size_t blankFrom = std::string::npos;
    size_t blankTo = std::string::npos;
    bool numeratorDone = false;
    bool denominatorDone = false;
    for (const Token& token : s.tokens) {
        switch (token.kind) {
        case TokenKind::Literal:
            AppendLiteral(s, token, out);
            break;
        case TokenKind::FixedDenominator:
            AppendLiteral(s, token, out);
            blankTo = out.size();
            break;
        case TokenKind::Digit:
            if (token.part == DigitPart::Integer) {
                EmitPlaceholder(token.ch, token.index, s.integerDigits, wholeLength, wholeAt, s.thousands, out);
            } else if (token.part == DigitPart::Numerator) {
                if (numeratorDone)
                    break;
                numeratorDone = true;
                blankFrom = out.size();
                const uint32_t extra = numeratorWidth - s.numeratorDigits;
                for (uint32_t i = 0; i < numeratorWidth; ++i) {
                    const char ch = i < extra ? '?' : s.numeratorPattern[i - extra];
                    EmitPlaceholder(ch, i, numeratorWidth, numeratorLength, numeratorAt, false, out);
                }
            } else if (token.part == DigitPart::Denominator) {
                if (denominatorDone)
                    break;
                denominatorDone = true;
                char buffer[24];
                auto result = std::to_chars(buffer, buffer + sizeof buffer, denominator);
                out.append(buffer, result.ptr);
                // The denominator stands left, padded to its placeholders: a space for '?'
                // and for '0' too, whose zero after the digits would show another number
                // ("2 0" or "20" for 2 under ??0), nothing for '#'.
                const uint32_t width = s.denominatorDigits > 7 ? 7 : s.denominatorDigits;
                for (uint32_t i = static_cast<uint32_t>(result.ptr - buffer); i < width; ++i) {
                    const char ch = i < s.denominatorPattern.size() ? s.denominatorPattern[i] : '?';
                    if (ch == '?' || ch == '0')
                        out += ' ';
                }
                blankTo = out.size();
            }
            break;
        case TokenKind::Slash:
            out += '/';
            break;
        case TokenKind::General:
            AppendGeneral(x, out);
            break;
        default:
            break;
        }
    }
    if (blank && blankFrom != std::string::npos && blankTo != std::string::npos && blankTo > blankFrom) {
        const size_t spaces = CodePoints(out.data() + blankFrom, out.data() + blankTo);
        out.replace(blankFrom, blankTo - blankFrom, spaces, ' ');
    }
}

// The number of a plain fixed-point section, `rounded` its value times 10^fractionDigits,
// written so that it ends at `end`: the fraction digits, the point, then the integer with
// its separators. Returns where it begins.
template <typename Unsigned> char* PutPlainFixedBefore(const Section& s, Unsigned rounded, char* end)
{
    Unsigned integer = rounded; // the fraction digits taken off as they are written
    char* p = PutDigitsBefore(end, integer, s.fractionDigits);
    if (s.plainPoint)
        *--p = '.';
    if (s.integerZeros <= 1) { // no zeros to pad with: a group of three digits at a time
        if (s.thousands) {
            for (; integer >= 1000; integer /= 1000) {
                const auto group = static_cast<uint32_t>(integer % 1000);
                p -= 4;
                p[0] = ',';
                p[1] = static_cast<char>('0' + group / 100);
                std::memcpy(p + 2, kDigitPairs + 2 * (group % 100), 2);
            }
        }
        if (integer != 0 || s.integerZeros == 1)
            p = PutNumberBefore(p, integer);
    } else {
        for (uint32_t position = 0; integer != 0 || position < s.integerZeros; ++position, integer /= 10) {
            if (s.thousands && position > 0 && position % 3 == 0)
                *--p = ',';
            *--p = static_cast<char>('0' + integer % 10);
        }
    }
    return p;
}

// A plain fixed-point section (Section::plainFixed) renders x, not negative, with its
// integer and fraction taken as integers, and a minus sign in front when asked: the 15
// digits the application keeps, rounded half up to the fraction placeholders, as
// RenderDecimalSection rounds the digits themselves. False, with nothing appended, for a
// value that way cannot take (beyond 10^15 or below 10^-8, or scaled past what 64 bits
// hold); the digit by digit way takes it. Called from RenderNumber directly, so that the
// common numbers pass through no function that sets up the general way.
__attribute__((noinline)) bool RenderPlainFixed(const Section& s, double x, bool minus, std::string& out)
{
    uint64_t rounded = 0; // x x 10^(scale + fractionDigits), rounded
    const int power = s.scale + static_cast<int>(s.fractionDigits);
    if (x != 0.0 && !(power >= -22 && power <= 22 && RoundScaled(x, power, rounded))) {
        uint64_t n = 0;
        int scale = 0;
        if (!RoundToFifteenDigits(x, n, scale))
            return false;
        // x ~ n x 10^-scale, shown as x x 10^s.scale with fractionDigits after the point.
        const int drop = scale - power;
        if (drop < -4 || drop >= static_cast<int>(std::size(kIntegerPowersOfTen)))
            return false; // n < 10^16 times 10^4 still fits in 64 bits
        if (drop <= 0) {
            rounded = n * kIntegerPowersOfTen[-drop];
        } else {
            rounded = RoundedDivision(n, static_cast<size_t>(drop));
        }
    }
    if (s.integerZeros > 256)
        return false;

    // Right to left into a buffer: the fraction, the point, then the integer with its
    // separators: 15 fraction digits, a point, 256 integer digits (20 at most, or the
    // integer placeholders' zeros) and a separator for every three of them at most. The
    // literals around and the minus sign go on either side, so that the text is appended
    // at once.
    char buffer[1 + kPlainLiteralRoom + 16 + 256 + 86 + kPlainLiteralRoom];
    char* const numberEnd = buffer + sizeof buffer - kPlainLiteralRoom;
    // In 32 bits where the number fits them, as most do: their divisions cost less.
    char* p = rounded <= UINT32_MAX ? PutPlainFixedBefore(s, static_cast<uint32_t>(rounded), numberEnd)
                                    : PutPlainFixedBefore(s, rounded, numberEnd);
    // The literals are copied whole, from arrays of their room's size: the prefix lies at
    // the end of its array, the suffix at the start of its own.
    std::memcpy(p - kPlainLiteralRoom, s.plainPrefix, kPlainLiteralRoom);
    p -= s.plainPrefixLength;
    if (minus)
        *--p = '-';
    std::memcpy(numberEnd, s.plainSuffix, kPlainLiteralRoom);
    AppendShort(out, p, numberEnd + s.plainSuffixLength); // the suffix's room follows
    return true;
}

void RenderDecimalSection(const Section& s, double x, std::string& out)
{
    Decimal d = ToDecimal(x);
    if (!d.Zero())
        d.point += s.scale;
    int exponent = 0;
    if (s.exponent) {
        if (!d.Zero()) {
            const int places = static_cast<int>(s.integerDigits);
            auto chooseExponent = [&](int e) {
                if (places == 0)
                    return e + 1;
                if (!s.integerAllZero && places > 1) {
                    // Engineering style: the exponent is a multiple of the integer placeholders.
                    const int q = e >= 0 ? e / places : -((-e + places - 1) / places);
                    return q * places;
                }
                return e - places + 1;
            };
            const int e = d.point - 1;
            exponent = chooseExponent(e);
            d.point = e - exponent + 1;
            RoundFraction(d, static_cast<int>(s.fractionDigits));
            if (!d.Zero()) {
                const int rounded = d.point - 1 + exponent;
                if (rounded != e) {
                    exponent = chooseExponent(rounded);
                    d.point = rounded - exponent + 1;
                }
            }
        }
    } else {
        RoundFraction(d, static_cast<int>(s.fractionDigits));
    }

    const int integerLength = d.Zero() || d.point <= 0 ? 0 : d.point;
    auto integerAt = [&](int i) { return d.At(i); };

    // Fraction placeholders from this index on show trailing zeros as nothing (#) or a space (?).
    uint32_t hiddenFrom = s.fractionDigits;
    for (size_t i = s.tokens.size(); i-- > 0;) {
        const Token& token = s.tokens[i];
        if (token.kind != TokenKind::Digit || token.part != DigitPart::Fraction)
            continue;
        if (token.ch == '0' || d.At(d.point + static_cast<int>(token.index)) != '0')
            break;
        hiddenFrom = token.index;
    }

    char exponentBuffer[16];
    int exponentLength = 0;
    if (s.exponent) {
        auto result = std::to_chars(
            exponentBuffer, exponentBuffer + sizeof exponentBuffer, exponent < 0 ? -exponent : exponent);
        exponentLength = static_cast<int>(result.ptr - exponentBuffer);
    }
    auto exponentAt = [&](int i) { return exponentBuffer[i]; };

    for (const Token& token : s.tokens) {
        switch (token.kind) {
        case TokenKind::Literal:
            AppendLiteral(s, token, out);
            break;
        case TokenKind::Digit:
            if (token.part == DigitPart::Integer) {
                EmitPlaceholder(token.ch, token.index, s.integerDigits, integerLength, integerAt, s.thousands, out);
            } else if (token.part == DigitPart::Fraction) {
                if (token.index < hiddenFrom)
                    out += d.At(d.point + static_cast<int>(token.index));
                else if (token.ch == '?')
                    out += ' ';
            } else if (token.part == DigitPart::ExponentDigits) {
                EmitPlaceholder(
                    token.ch == '#' ? '#' : '0', token.index, s.exponentDigits, exponentLength, exponentAt, false, out);
            }
            break;
        case TokenKind::Point:
            if (s.integerDigits == 0) {
                // ".00" still shows the integer digits before the point.
                for (int i = 0; i < integerLength; ++i) {
                    out += d.At(i);
                    const int position = integerLength - 1 - i;
                    if (s.thousands && position > 0 && position % 3 == 0)
                        out += ',';
                }
            }
            out += '.';
            break;
        case TokenKind::Exponent:
            out += token.ch == 'e' ? 'e' : 'E';
            if (exponent < 0)
                out += '-';
            else if (token.plus)
                out += '+';
            if (s.exponentDigits == 0)
                out.append(exponentBuffer, static_cast<size_t>(exponentLength));
            break;
        case TokenKind::General:
            AppendGeneral(x, out);
            break;
        default:
            break;
        }
    }
}

// The fields of a point in time that a date section shows.
struct DateFields {
    int year = 1900;
    int month = 1;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int weekday = 0;
    int64_t subTicks = 0; // of the seconds, in units of the sub-second digits shown
};

inline char* PutTwoDigits(char* p, int value)
{
    std::memcpy(p, kDigitPairs + 2 * value, 2);
    return p + 2;
}

inline char* PutDigits(char* p, int value, bool two)
{
    if (two || value >= 10)
        return PutTwoDigits(p, value);
    *p = static_cast<char>('0' + value);
    return p + 1;
}

// A date section of pieces (Section::datePieces), written into a buffer at once with no
// branch for a piece. The year lies between 0 and 9999.
void RenderDatePieces(const Section& s, const DateFields& f, std::string& out)
{
    uint32_t values[Afternoon + 1] = {};
    const auto year = static_cast<uint32_t>(f.year);
    values[Century] = year / 100;
    values[YearOfCentury] = year % 100;
    values[MonthField] = static_cast<uint32_t>(f.month);
    values[DayField] = static_cast<uint32_t>(f.day);
    if (s.showsTime) {
        const auto hour = static_cast<uint32_t>(f.hour);
        values[Hour24] = hour;
        values[MinuteField] = static_cast<uint32_t>(f.minute);
        values[SecondField] = static_cast<uint32_t>(f.second);
        if (s.twelveHour) {
            values[Hour12] = hour % 12 == 0 ? 12 : hour % 12;
            values[Afternoon] = hour >= 12 ? 101 : 100; // "PM" and "AM" follow the pairs
        }
    }
    // Each piece may write ten characters beyond its own.
    char buffer[kMaxPlainDateLength + 2 + sizeof(DatePiece::literal)];
    char* p = buffer;
    for (const DatePiece& piece : s.datePieces) {
        const uint32_t value = values[piece.field];
        // Two digits from 10 on, else as many as the piece shows at least (none for no field).
        const uint32_t width = value >= 10 ? 2 : piece.minDigits;
        std::memcpy(p, kDigitPairsAmPm + 2 * value + 2 - width, 2);
        p += width;
        std::memcpy(p, piece.literal, sizeof piece.literal);
        p += piece.literalLength;
    }
    AppendShort(out, buffer, p);
}

// A plain date section (Section::plainDateLength) written into a buffer at once: the
// characters of a date go one or two at a time, each a check and a store of the string's
// length apiece were they appended. The year lies between 0 and 9999.
void RenderPlainDate(const Section& s, const DateFields& f, std::string& out)
{
    char buffer[kMaxPlainDateLength];
    char* p = buffer;
    for (const Token& token : s.tokens) {
        switch (token.kind) {
        case TokenKind::Literal:
            if (token.length == 1) { // a separator, mostly: no call for it
                *p++ = s.text[token.offset];
            } else {
                std::memcpy(p, s.text.data() + token.offset, token.length);
                p += token.length;
            }
            break;
        case TokenKind::Year:
            if (token.count > 2)
                p = PutTwoDigits(p, f.year / 100);
            p = PutTwoDigits(p, f.year % 100);
            break;
        case TokenKind::Month:
            if (token.count <= 2) {
                p = PutDigits(p, f.month, token.count == 2);
            } else {
                const char* name = MonthNames[f.month - 1];
                const size_t length = token.count == 5 ? 1 : token.count == 3 ? 3 : std::strlen(name);
                std::memcpy(p, name, length);
                p += length;
            }
            break;
        case TokenKind::Day:
            if (token.count <= 2) {
                p = PutDigits(p, f.day, token.count == 2);
            } else {
                const char* name = DayNames[f.weekday];
                const size_t length = token.count == 3 ? 3 : std::strlen(name);
                std::memcpy(p, name, length);
                p += length;
            }
            break;
        case TokenKind::Hour:
            p = PutDigits(p, s.twelveHour ? (f.hour % 12 == 0 ? 12 : f.hour % 12) : f.hour, token.count >= 2);
            break;
        case TokenKind::Minute:
            p = PutDigits(p, f.minute, token.count >= 2);
            break;
        case TokenKind::Second:
            p = PutDigits(p, f.second, token.count >= 2);
            break;
        case TokenKind::SubSecond: {
            *p++ = '.';
            char digits[3] = { '0', '0', '0' };
            int64_t rest = f.subTicks;
            for (int i = static_cast<int>(s.subSecondDigits) - 1; i >= 0; --i) {
                digits[i] = static_cast<char>('0' + rest % 10);
                rest /= 10;
            }
            for (uint32_t i = 0; i < token.count; ++i)
                *p++ = i < 3 ? digits[i] : '0';
            break;
        }
        case TokenKind::AmPm:
            if (token.length == 5) {
                std::memcpy(p, f.hour >= 12 ? "PM" : "AM", 2);
                p += 2;
            } else {
                *p++ = s.text[token.offset + (f.hour >= 12 ? 2 : 0)];
            }
            break;
        default:
            break;
        }
    }
    out.append(buffer, static_cast<size_t>(p - buffer));
}

void RenderDate(const Section& s, double value, bool date1904, std::string& out)
{
    const uint64_t ticksPerSecond = kIntegerPowersOfTen[s.subSecondDigits]; // up to three digits
    const uint32_t maxSerial = date1904 ? 2957003 : 2958465; // 9999-12-31
    if (!(value >= 0.0) || value >= static_cast<double>(maxSerial + 1)) {
        out += Hashes;
        return;
    }
    // Round to the precision shown (seconds, or the fraction of seconds), carrying into
    // minutes, hours and days. The product is not negative: truncating it takes its floor.
    const auto ticks = static_cast<uint64_t>(value * 86400.0 * static_cast<double>(ticksPerSecond) + 0.5);
    // Whole seconds, the common case, need no division by a divisor known only now.
    const uint64_t totalSeconds = ticksPerSecond == 1 ? ticks : ticks / ticksPerSecond;
    const int64_t subTicks = ticksPerSecond == 1 ? 0 : static_cast<int64_t>(ticks % ticksPerSecond);
    const uint64_t wholeDays = totalSeconds / 86400;
    if (wholeDays > maxSerial) {
        out += Hashes;
        return;
    }
    // Within a day and the date range, everything is 32 bits.
    const auto days = static_cast<uint32_t>(wholeDays);
    const auto secondOfDay = static_cast<uint32_t>(totalSeconds - wholeDays * 86400);
    int hour = 0, minute = 0, second = 0;
    if (s.showsTime) {
        hour = static_cast<int>(secondOfDay / 3600);
        minute = static_cast<int>(secondOfDay / 60 % 60);
        second = static_cast<int>(secondOfDay % 60);
    }

    int year = 1900, month = 1, day = 0;
    const uint32_t serial1900 = date1904 ? days + 1462 : days;
    const int weekday = s.showsWeekday ? static_cast<int>((serial1900 + 6) % 7) : 0;
    const auto signedDays = static_cast<int32_t>(days);
    if (s.needsDate && s.hijri) {
        // The Hijri calendar has no fictitious leap day: serials up to 60 count from 1899-12-31.
        HijriFromDays(date1904 ? signedDays - 24107 : signedDays - (days <= 60 ? 25568 : 25569), year, month, day);
    } else if (s.needsDate) {
        // Serial 1 is 1900-01-01 (1970-01-01 is serial 25569); the 1900 system counts the
        // nonexistent 1900-02-29 as serial 60, and serial 0 shows as 1900-01-00.
        if (date1904) {
            CivilFromNearDays(signedDays - 24107, year, month, day);
        } else if (days == 0) {
            year = 1900, month = 1, day = 0;
        } else if (days == 60) {
            year = 1900, month = 2, day = 29;
        } else {
            CivilFromNearDays(signedDays - (days < 60 ? 25568 : 25569), year, month, day);
        }
    }
    if (s.plainDateLength != 0 && year >= 0 && year <= 9999) {
        if (!s.datePieces.empty())
            RenderDatePieces(s, { year, month, day, hour, minute, second, weekday, subTicks }, out);
        else
            RenderPlainDate(s, { year, month, day, hour, minute, second, weekday, subTicks }, out);
        return;
    }

    for (const Token& token : s.tokens) {
        switch (token.kind) {
        case TokenKind::Literal:
            AppendLiteral(s, token, out);
            break;
        case TokenKind::Year:
            if (token.count <= 2)
                AppendInt(static_cast<uint64_t>(year % 100), out, 2);
            else
                AppendInt(static_cast<uint64_t>(year), out, 4);
            break;
        case TokenKind::BuddhistYear:
            if (token.count <= 2)
                AppendInt(static_cast<uint64_t>((year + 543) % 100), out, 2);
            else
                AppendInt(static_cast<uint64_t>(year + 543), out, 4);
            break;
        case TokenKind::EraYear:
            AppendInt(static_cast<uint64_t>(year), out);
            break;
        case TokenKind::Month:
            if (token.count <= 2)
                AppendInt(static_cast<uint64_t>(month), out, token.count);
            else
                AppendMonthName(s.hijri ? HijriMonthNames[month - 1] : MonthNames[month - 1], token.count, out);
            break;
        case TokenKind::Day:
            if (token.count <= 2)
                AppendInt(static_cast<uint64_t>(day), out, token.count);
            else if (token.count == 3)
                out.append(DayNames[weekday], 3);
            else
                out += DayNames[weekday];
            break;
        case TokenKind::Hour: {
            int shown = hour;
            if (s.twelveHour)
                shown = hour % 12 == 0 ? 12 : hour % 12;
            AppendInt(static_cast<uint64_t>(shown), out, token.count >= 2 ? 2 : 1);
            break;
        }
        case TokenKind::Minute:
            AppendInt(static_cast<uint64_t>(minute), out, token.count >= 2 ? 2 : 1);
            break;
        case TokenKind::Second:
            AppendInt(static_cast<uint64_t>(second), out, token.count >= 2 ? 2 : 1);
            break;
        case TokenKind::SubSecond: {
            out += '.';
            char buffer[8] = { '0', '0', '0', '0', '0', '0', '0', '0' };
            int64_t rest = subTicks;
            for (int i = static_cast<int>(s.subSecondDigits) - 1; i >= 0; --i) {
                buffer[i] = static_cast<char>('0' + rest % 10);
                rest /= 10;
            }
            for (uint32_t i = 0; i < token.count; ++i)
                out += i < 8 ? buffer[i] : '0';
            break;
        }
        case TokenKind::AmPm: {
            const bool pm = hour >= 12;
            if (token.length == 5)
                out += pm ? "PM" : "AM";
            else
                out += s.text[token.offset + (pm ? 2 : 0)];
            break;
        }
        case TokenKind::ElapsedHours:
            AppendInt(static_cast<uint64_t>(totalSeconds / 3600), out, token.count);
            break;
        case TokenKind::ElapsedMinutes:
            AppendInt(static_cast<uint64_t>(totalSeconds / 60), out, token.count);
            break;
        case TokenKind::ElapsedSeconds:
            AppendInt(static_cast<uint64_t>(totalSeconds), out, token.count);
            break;
        default:
            break;
        }
    }
}

bool Matches(ConditionOp op, double bound, double value)
{
    switch (op) {
    case ConditionOp::Less:
        return value < bound;
    case ConditionOp::LessEqual:
        return value <= bound;
    case ConditionOp::Greater:
        return value > bound;
    case ConditionOp::GreaterEqual:
        return value >= bound;
    case ConditionOp::Equal:
        return value == bound;
    case ConditionOp::NotEqual:
        return value != bound;
    case ConditionOp::None:
        break;
    }
    return true;
}

} // namespace

void CivilFromDays(int64_t z, int& year, int& month, int& day)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

namespace {

// The integer digits of a value from 1 to 10^11: from its binary exponent, which tells the
// decimal one or one less, and one comparison.
int IntegerDigits(double value)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const int binaryExponent = static_cast<int>((bits >> 52) & 0x7FF) - 1023;
    const int decimalExponent = (binaryExponent * 78913) >> 18; // floor(binaryExponent x log10(2))
    return decimalExponent + 1 + (value >= kPowersOfTen[decimalExponent + 1] ? 1 : 0);
}

// General's decimal notation of a value from 1 to 10^11 that is no integer: its 15 digits
// rounded half up to the eleven characters, written so that it ends at `end` at most, and
// `end` moved to the end of what was written. Rounded from one product where RoundScaled
// can (nearly always), else from the 15-digit integer RoundToFifteenDigits gives. Returns
// where the text begins, or nullptr when the value is one the digit by digit way takes (at
// a tie neither way can settle, or rounded up to 10^11, shown in scientific notation).
char* GeneralDecimalBefore(char*& end, double value)
{
    // Ten significant digits, or the integer of eleven: "12345.67891", "12345678901".
    const int integerDigits = IntegerDigits(value);
    const int fractionDigits = integerDigits <= 9 ? 10 - integerDigits : 0;
    uint64_t rounded = 0;
    if (!RoundScaled(value, fractionDigits, rounded)) {
        uint64_t n = 0;
        int scale = 0;
        if (!RoundToFifteenDigits(value, n, scale))
            return nullptr;
        // n has 15 digits (16 when rounded up to 10^15); its exponent tells the digits kept.
        const int exponent = (n >= 1000000000000000u ? 16 : 15) - scale - 1;
        if (exponent < 0 || exponent > 10)
            return nullptr;
        const int kept = exponent >= 9 ? 0 : 9 - exponent;
        rounded = RoundedDivision(n, static_cast<size_t>(scale - kept)); // by 10^4 to 10^6
        if (kept != fractionDigits) // rounded up to the next power of ten: 10^integerDigits
            rounded *= kIntegerPowersOfTen[fractionDigits - kept];
    }
    if (fractionDigits == 0 && rounded >= 100000000000u)
        return nullptr;
    // The fraction's digits, then its trailing zeros taken back, and the point unless
    // they all were.
    char* p = PutDigitsBefore(end, rounded, static_cast<uint32_t>(fractionDigits));
    while (end > p && end[-1] == '0')
        --end;
    if (end > p)
        *--p = '.';
    else
        end = p;
    return PutNumberBefore(p, rounded);
}

} // namespace

void AppendGeneral(double value, std::string& out, bool shortcuts)
{
    if (!std::isfinite(value)) {
        out += "#NUM!";
        return;
    }
    const bool negative = value < 0.0;
    const double magnitude = std::fabs(value);
    if (magnitude < 1e11) {
        // Written into a buffer, the sign in front, and appended at once; room for
        // AppendShort's copy follows.
        char buffer[48];
        char* p = nullptr;
        char* last = buffer + 32;
        const auto whole = static_cast<uint64_t>(magnitude);
        if (static_cast<double>(whole) == magnitude) // 0 included
            p = whole <= UINT32_MAX ? PutNumberBefore(last, static_cast<uint32_t>(whole))
                                    : PutNumberBefore(last, whole);
        else if (shortcuts && magnitude >= 1.0)
            p = GeneralDecimalBefore(last, magnitude);
        if (p) {
            if (negative)
                *--p = '-';
            AppendShort(out, p, last);
            return;
        }
    }
    if (negative)
        out += '-';
    value = magnitude;
    // Eleven characters: a decimal notation that fits them, or the scientific one
    // (d.ddddE+XX) when that shows more of the number.
    const Decimal d = ToDecimal(value);
    const int exponent = d.point - 1;
    if (exponent >= 0 && exponent <= 10) {
        Decimal r = d;
        RoundFraction(r, exponent >= 9 ? 0 : 9 - exponent);
        if (r.point <= 11) {
            AppendPlain(r, out);
            return;
        }
    } else if (exponent < 0 && exponent > -10) {
        Decimal r = d;
        RoundFraction(r, 9);
        Decimal sci = d;
        RoundDigits(sci, 6);
        if (!r.Zero() && r.count >= sci.count) {
            AppendPlain(r, out);
            return;
        }
    }
    AppendScientific(d, out);
}

namespace {

// Any number through any format: the section its value takes, then that section's way.
__attribute__((noinline)) void RenderAnyNumber(
    const ParsedFormat& format, double value, bool date1904, std::string& out)
{
    if (!std::isfinite(value)) {
        out += "#NUM!";
        return;
    }
    if (format.general || format.numberSections == 0) {
        AppendGeneral(value, out);
        return;
    }
    const uint32_t n = format.numberSections;
    uint32_t index = 0;
    if (!format.conditional) {
        if (value < 0.0)
            index = format.negativeSection;
        else if (value == 0.0)
            index = format.zeroSection;
    } else {
        const Section& first = format.sections[0];
        const Section& second = format.sections[1];
        const bool firstMatches = first.condition != ConditionOp::None ? Matches(first.condition, first.bound, value)
                                                                       : (n >= 3 ? value > 0.0 : value >= 0.0);
        bool secondMatches = false;
        if (n >= 2) {
            secondMatches = second.condition != ConditionOp::None ? Matches(second.condition, second.bound, value)
                                                                  : (n == 2 || value < 0.0);
        }
        index = firstMatches ? 0 : secondMatches ? 1 : (n >= 3 ? 2 : n - 1);
    }
    const Section& section = format.sections[index];
    const bool minus = value < 0.0 && section.minusShown;
    switch (section.kind) {
    case SectionKind::Text:
        AppendGeneral(value, out);
        return;
    case SectionKind::Date:
        if (value < 0.0) {
            out += Hashes;
            return;
        }
        RenderDate(section, value, date1904, out);
        return;
    case SectionKind::Number:
        break;
    }
    const double magnitude = std::fabs(value);
    if (section.fraction) {
        // Percent signs may scale a value past the largest number (and zero times that
        // to no number at all): shown as the number error, as an infinity is.
        const double scaled
            = section.scale == 0 || magnitude == 0.0 ? magnitude : magnitude * std::pow(10.0, section.scale);
        if (!std::isfinite(scaled)) {
            out += "#NUM!";
            return;
        }
        if (minus)
            out += '-';
        RenderFraction(section, scaled, out);
        return;
    }
    if (section.plainFixed && RenderPlainFixed(section, magnitude, minus, out))
        return;
    if (minus)
        out += '-';
    RenderDecimalSection(section, magnitude, out);
}

} // namespace

void RenderNumber(const ParsedFormat& format, double value, bool date1904, std::string& out)
{
    // The formats of one section that most cells have go their way at once.
    switch (format.quickPath) {
    case QuickPath::General:
        AppendGeneral(value, out);
        return;
    case QuickPath::PlainFixed:
        if (RenderPlainFixed(format.sections[0], std::fabs(value), value < 0.0, out))
            return;
        break;
    case QuickPath::Date:
        if (std::isfinite(value)) {
            RenderDate(format.sections[0], value, date1904, out);
            return;
        }
        break;
    case QuickPath::None:
        break;
    }
    RenderAnyNumber(format, value, date1904, out);
}

void RenderText(const ParsedFormat& format, std::string_view text, std::string& out)
{
    if (format.textSection < 0) {
        out += text;
        return;
    }
    const Section& section = format.sections[static_cast<size_t>(format.textSection)];
    if (text.empty() && section.onlySpacing)
        return; // an empty string stays empty rather than showing the padding around it
    for (const Token& token : section.tokens) {
        if (token.kind == TokenKind::Literal)
            AppendLiteral(section, token, out);
        else if (token.kind == TokenKind::Text || token.kind == TokenKind::General)
            out += text; // General shows a string as it is
    }
}

} // namespace vellumcast::spreadsheet::numfmt
