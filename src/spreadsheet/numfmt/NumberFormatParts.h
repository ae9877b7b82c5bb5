#pragma once
// The parsed form of a number format code: up to four sections, each a list of tokens
// with the facts the renderer needs precomputed (ECMA-376-1 §18.8.31, numFmts).

#include "spreadsheet/numfmt/NumberFormat.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vellumcast::spreadsheet::numfmt {

enum class TokenKind : uint8_t {
    Literal, // text[offset, offset + length)
    Digit, // a 0 # ? placeholder (ch), in part, at index within the part
    Point, // the decimal point of the number
    Exponent, // E+ E- (ch is the letter as written, plus tells whether "+" is shown)
    Slash, // the fraction bar
    Text, // @
    General, // the General format inside a section
    Year, // count 1-2: two digits, more: four
    BuddhistYear, // b: the year plus 543
    EraYear, // e: the year
    Month, // count 1-2 digits, 3 short name, 4 (or more than 5) full name, 5 first letter
    Day, // count 1-2 digits, 3 short weekday, 4+ full weekday
    Hour, // count 1 or 2 digits; twelve-hour when the section has AM/PM
    Minute, // m after an hour or before a second
    Second, // count 1 or 2 digits
    SubSecond, // ".0" ".00" ".000" after seconds: count digits
    AmPm, // text[offset, offset + length) is "AM/PM" (any case, shown upper case) or "A/P" as written
    ElapsedHours, // [h] [hh]: count is the minimum digits
    ElapsedMinutes, // [m] [mm]
    ElapsedSeconds, // [s] [ss]
    FixedDenominator, // the written denominator of ?/16: text[offset, offset + length)
    // Working kinds of the tokenizer, resolved before rendering.
    Comma,
    Percent,
    DigitLiteral, // a literal digit 1-9, kept apart so "?/16" can be read as a fixed denominator
};

enum class DigitPart : uint8_t { Integer, Fraction, ExponentDigits, Numerator, Denominator };

struct Token {
    TokenKind kind = TokenKind::Literal;
    char ch = 0;
    DigitPart part = DigitPart::Integer;
    bool plus = false;
    uint16_t count = 0;
    uint32_t offset = 0;
    uint32_t length = 0;
    uint32_t index = 0;
};

enum class SectionKind : uint8_t { Number, Date, Text };

// The most bytes of literals a plain fixed-point section shows before its number, and after it.
inline constexpr uint32_t kPlainLiteralRoom = 32;

// The values a date piece shows (DatePiece::field).
enum DateField : uint8_t {
    NoField,
    Century,
    YearOfCentury,
    MonthField,
    DayField,
    Hour24,
    Hour12,
    MinuteField,
    SecondField,
    Afternoon
};

// A piece of a plain date section whose fields are all numbers of one or two digits (and
// AM/PM): a field, then up to eight literal characters. Written without a branch: two
// characters from a table of pairs (AM and PM among them), of which the last one or both
// count (none with no field), then eight
// literal characters of which the first literalLength count.
struct DatePiece {
    char literal[8] = {};
    uint8_t literalLength = 0;
    DateField field = NoField;
    uint8_t minDigits = 0; // 0 with no field, 1 for one digit or two, 2 for two (AM/PM too)
};

enum class ConditionOp : uint8_t { None, Less, LessEqual, Greater, GreaterEqual, Equal, NotEqual };

struct Section {
    SectionKind kind = SectionKind::Number;
    std::vector<Token> tokens;
    std::string text; // literal characters of the tokens

    ConditionOp condition = ConditionOp::None;
    double bound = 0.0;
    // A negative number this section takes shows its minus sign: false for the second
    // section of a format without conditions, for a section whose condition is "< 0" or
    // "<= 0", and for the second of three or four sections where only the first has a
    // condition.
    bool minusShown = true;

    // Numbers.
    uint32_t integerDigits = 0; // placeholders before the point (or the numerator)
    uint32_t fractionDigits = 0; // placeholders after the point
    int scale = 0; // decimal exponent applied: +2 per %, -3 per scaling comma
    bool thousands = false;
    bool integerAllZero = true; // every integer placeholder is 0 (fixed digits before an exponent)
    bool exponent = false;
    uint32_t exponentDigits = 0;
    bool fraction = false;
    uint32_t numeratorDigits = 0;
    uint32_t denominatorDigits = 0;
    int64_t fixedDenominator = 0; // ?/8: 8; 0 when the denominator is chosen
    std::string numeratorPattern; // the numerator's placeholders, left to right
    std::string denominatorPattern; // the denominator's placeholders
    bool hasGeneral = false;
    bool hasPlaceholders = false;
    // A plain fixed-point section: literals, then integer placeholders of which the '0's
    // come last (#,##0), then a point and only '0' fraction placeholders, then literals,
    // no exponent or fraction. Its numbers are rounded and written as integers
    // (RenderNumber) rather than digit by digit, between the literals joined.
    bool plainFixed = false;
    bool plainPoint = false; // the point is shown (even with no fraction placeholders)
    uint32_t integerZeros = 0; // the fewest integer digits shown
    // The literals before its placeholders, joined, at the end of the array; and those
    // after them at its start. Sections with more are not plain.
    char plainPrefix[kPlainLiteralRoom] = {};
    char plainSuffix[kPlainLiteralRoom] = {};
    uint8_t plainPrefixLength = 0;
    uint8_t plainSuffixLength = 0;

    // Dates and times.
    bool twelveHour = false;
    uint32_t subSecondDigits = 0; // precision the time is rounded to
    bool needsDate = false; // shows a year, month or day
    bool hijri = false; // years, months and days of the Hijri calendar (B2)
    // The most characters the section shows, when it shows only literals and Gregorian
    // years, months, days, clock times and AM/PM (no elapsed times, Buddhist or era
    // years) in at most kMaxPlainDateLength characters: such sections are written at once
    // into a buffer. 0 for any other.
    uint32_t plainDateLength = 0;
    // A plain date section of numbers (yyyy, yy, m, mm, d, dd, h, hh, m, mm, s, ss), AM/PM
    // and literals: its pieces, written by RenderDate at once. Empty for any other.
    std::vector<DatePiece> datePieces;
    bool showsWeekday = false; // ddd or dddd
    bool showsTime = false; // hours, minutes, seconds or AM/PM

    // Text.
    bool transformsText = false; // anything but a lone @
    bool onlySpacing = false; // every literal is blank space (the accounting "_(@_)")
};

inline constexpr uint32_t kMaxPlainDateLength = 128;

// The way RenderNumber takes a format's numbers before choosing a section: the General
// format, and formats of one number section without a condition (plain fixed-point, or
// dates), go straight to their section's way; any other through the choice of section.
enum class QuickPath : uint8_t { None, General, PlainFixed, Date };

struct ParsedFormat {
    std::array<Section, 4> sections;
    uint32_t sectionCount = 0;
    int textSection = -1; // the section strings take; -1 when they display as stored
    uint32_t numberSections = 0; // sections before the text section
    bool conditional = false; // the first or second section has a condition
    // Without conditions: the section a negative number takes, and the one zero takes.
    uint32_t negativeSection = 0;
    uint32_t zeroSection = 0;
    QuickPath quickPath = QuickPath::None;
    bool general = false; // exactly the General format
    DateTimeParts dateTimeParts = DateTimeParts::None; // what its date sections show, for every value
};

// The bytes of the UTF-8 sequence a lead byte starts (1 for a stray continuation byte).
inline size_t Utf8Length(unsigned char c)
{
    if (c < 0x80)
        return 1;
    if ((c & 0xE0) == 0xC0)
        return 2;
    if ((c & 0xF0) == 0xE0)
        return 3;
    if ((c & 0xF8) == 0xF0)
        return 4;
    return 1;
}

// Parses a whole format code; false when the code is not valid (the caller then uses General).
bool ParseFormatCode(std::string_view code, ParsedFormat& parsed);

// Howard Hinnant's civil-from-days: days since 1970-01-01 to a proleptic Gregorian date.
void CivilFromDays(int64_t days, int& year, int& month, int& day);

// The same date as CivilFromDays for days from -1,000,000 to 4,000,000 (the years -768 to
// 12,921), with multiplications and shifts of 32 bits rather than divisions: Neri and
// Schneider's Euclidean affine functions ("Euclidean affine functions and their
// application to calendar algorithms", 2022). Days are counted from a 1 March 82 eras of
// 400 years before 0000-03-01, so that every count is positive; the year, and the day and
// month of a year that starts in March, are each a product's high and low parts.
inline void CivilFromNearDays(int32_t days, int& year, int& month, int& day)
{
    constexpr uint32_t kEras = 82;
    const auto shifted = static_cast<uint32_t>(days + 719468 + 146097 * static_cast<int32_t>(kEras));
    const uint32_t centuryPart = 4 * shifted + 3;
    const uint32_t century = centuryPart / 146097;
    const uint32_t dayOfCentury = centuryPart % 146097 / 4;
    const uint64_t yearPart = uint64_t { 2939745 } * (4 * dayOfCentury + 3);
    const auto yearOfCentury = static_cast<uint32_t>(yearPart >> 32);
    const uint32_t dayOfYear = static_cast<uint32_t>(yearPart) / 2939745 / 4; // from 1 March
    const uint32_t monthPart = 2141 * dayOfYear + 197913;
    const uint32_t monthFromMarch = monthPart >> 16; // 3 to 14
    const bool nextYear = dayOfYear >= 306; // January and February
    day = static_cast<int>((monthPart & 0xFFFF) / 2141 + 1);
    month = static_cast<int>(nextYear ? monthFromMarch - 12 : monthFromMarch);
    year = static_cast<int>(100 * century + yearOfCentury) - static_cast<int>(400 * kEras) + (nextYear ? 1 : 0);
}

// Appends a number in the General format (the 11-character rule). shortcuts false takes the
// digit by digit way for every value, for tests that compare the two.
void AppendGeneral(double value, std::string& out, bool shortcuts = true);

// Appends a number through a parsed format.
void RenderNumber(const ParsedFormat& format, double value, bool date1904, std::string& out);

// Appends a string through the text section.
void RenderText(const ParsedFormat& format, std::string_view text, std::string& out);

} // namespace vellumcast::spreadsheet::numfmt
