#pragma once
// The conversions formulas share: text compared and cased as the application compares and
// cases it, numbers written into text and read from it, dates as serials of either date
// system, and rounding to decimal places as the application rounds.

#include "spreadsheet/numfmt/NumberFormat.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace vellumcast::spreadsheet::formula {

// The most characters (UTF-16 units) a text value may hold; longer is #VALUE!.
inline constexpr size_t kMaxTextLength = 32767;

bool EqualIgnoringCase(std::string_view a, std::string_view b);
// Below 0, 0 or above 0, letters compared without regard to case.
int CompareTextIgnoringCase(std::string_view a, std::string_view b);
std::string UpperText(std::string_view text);
std::string LowerText(std::string_view text);
// The case of one code point, for letters of the Latin, Greek and Cyrillic scripts.
char32_t UpperOf(char32_t c);
char32_t LowerOf(char32_t c);

// UTF-8 and the UTF-16 units the application counts text in (LEN, MID, FIND).
std::u16string ToUtf16(std::string_view text);
std::string ToUtf8(std::u16string_view text);
size_t Utf16Length(std::string_view text);

// A number as the application writes it into text: up to 15 significant digits, plain
// from 1E-5 to below 1E15 and in scientific notation ("1.5E+20") beyond.
std::string NumberToText(double number);
// Text as the application reads a typed value in US English: "12", " -1.5E3 ", "50%",
// "$1,234.50", "(12)", "2024-03-01", "3/1/2024", "1-Mar-2024", "13:30", "1:30 PM".
bool TextToNumber(std::string_view text, double& number, numfmt::DateSystem system);

// The serial of a date, as DATE computes it: months past 12 and days past a month's end
// run on into the next ones, and before 1 run back. False for years outside 0 to 9999
// (0 to 1899 count from 1900) and dates before the system's first day.
bool SerialOfDate(int64_t year, int64_t month, int64_t day, numfmt::DateSystem system, double& serial);
// The date of a serial's whole days; false for a negative serial or one past 9999-12-31.
// Serial 0 of the 1900 system is 1900-01-00 and 60 is 1900-02-29, as the application has them.
bool DateOfSerial(double serial, numfmt::DateSystem system, int& year, int& month, int& day);
bool IsLeapYear(int64_t year);
int DaysInMonth(int64_t year, int month);

// A number rounded to digits decimal places (negative: to tens, hundreds, …) as the
// application rounds: on its 15 significant digits, halves away from zero, or always up
// or down (away from or toward zero).
enum class Rounding { Nearest, Up, Down };
double RoundToDigits(double number, int64_t digits, Rounding rounding);
// The number's 15 significant digits, which the application computes with where a value
// must be whole (INT, MOD, comparisons of criteria).
double SignificantDigits15(double number);

} // namespace vellumcast::spreadsheet::formula
