// Text functions. Positions and lengths count UTF-16 units, as the application counts
// characters; case-insensitive matching folds the Latin, Greek and Cyrillic letters.

#include "spreadsheet/formula/FunctionSupport.h"

#include <cmath>

namespace vellumcast::spreadsheet::formula {

namespace {

// A count or position argument, truncated; below minimum is #VALUE!.
int64_t Count(Call& call, size_t i, int64_t minimum)
{
    const double number = call.Number(i);
    if (number < static_cast<double>(minimum))
        Fail(CellError::Value);
    return number >= 1e9 ? int64_t { 1000000000 } : static_cast<int64_t>(std::trunc(number));
}

Value TextResult(std::string text)
{
    if (text.size() > kMaxTextLength && Utf16Length(text) > kMaxTextLength)
        return Value::Error(CellError::Value);
    return Value::Text(std::move(text));
}

Value Left(Call& call)
{
    const std::u16string text = ToUtf16(call.Text(0));
    const int64_t count = call.Missing(1) ? 1 : Count(call, 1, 0);
    return Value::Text(ToUtf8(std::u16string_view(text).substr(0, static_cast<size_t>(count))));
}

Value Right(Call& call)
{
    const std::u16string text = ToUtf16(call.Text(0));
    const auto count = static_cast<size_t>(call.Missing(1) ? 1 : Count(call, 1, 0));
    const size_t start = count >= text.size() ? 0 : text.size() - count;
    return Value::Text(ToUtf8(std::u16string_view(text).substr(start)));
}

Value Mid(Call& call)
{
    const std::u16string text = ToUtf16(call.Text(0));
    const int64_t start = Count(call, 1, 1);
    const int64_t count = Count(call, 2, 0);
    if (static_cast<size_t>(start) > text.size())
        return Value::Text("");
    return Value::Text(
        ToUtf8(std::u16string_view(text).substr(static_cast<size_t>(start - 1), static_cast<size_t>(count))));
}

Value Len(Call& call)
{
    return Value::Number(static_cast<double>(Utf16Length(call.Text(0))));
}

Value Upper(Call& call)
{
    return Value::Text(UpperText(call.Text(0)));
}

Value Lower(Call& call)
{
    return Value::Text(LowerText(call.Text(0)));
}

// The first letter of each run of letters in upper case, the others in lower case; any
// character that has no case (a digit, an apostrophe) ends a run.
Value Proper(Call& call)
{
    std::u16string text = ToUtf16(call.Text(0));
    bool inWord = false;
    for (char16_t& unit : text) {
        if (unit >= 0xD800 && unit < 0xE000) {
            inWord = false;
            continue;
        }
        const bool letter = UpperOf(unit) != unit || LowerOf(unit) != unit;
        if (letter)
            unit = static_cast<char16_t>(inWord ? LowerOf(unit) : UpperOf(unit));
        inWord = letter;
    }
    return Value::Text(ToUtf8(text));
}

// Spaces (U+0020 only) at both ends removed and runs of them inside made one.
Value Trim(Call& call)
{
    const std::string text = call.Text(0);
    std::string out;
    out.reserve(text.size());
    bool pendingSpace = false;
    for (const char c : text) {
        if (c == ' ') {
            pendingSpace = !out.empty();
            continue;
        }
        if (pendingSpace)
            out.push_back(' ');
        pendingSpace = false;
        out.push_back(c);
    }
    return Value::Text(std::move(out));
}

Value Clean(Call& call)
{
    std::string text = call.Text(0);
    std::erase_if(text, [](char c) { return static_cast<unsigned char>(c) < 32; });
    return Value::Text(std::move(text));
}

Value Substitute(Call& call)
{
    const std::string text = call.Text(0);
    const std::string old = call.Text(1);
    const std::string replacement = call.Text(2);
    const int64_t instance = call.Missing(3) ? 0 : Count(call, 3, 1);
    if (old.empty())
        return Value::Text(text);
    std::string out;
    size_t at = 0;
    int64_t seen = 0;
    for (;;) {
        const size_t found = text.find(old, at);
        if (found == std::string::npos)
            break;
        ++seen;
        out.append(text, at, found - at);
        out += (instance == 0 || seen == instance) ? replacement : old;
        at = found + old.size();
        if (out.size() > 4 * kMaxTextLength)
            Fail(CellError::Value);
    }
    out.append(text, at, std::string::npos);
    return TextResult(std::move(out));
}

Value Replace(Call& call)
{
    std::u16string text = ToUtf16(call.Text(0));
    const int64_t start = Count(call, 1, 1);
    const int64_t count = Count(call, 2, 0);
    const std::u16string replacement = ToUtf16(call.Text(3));
    const size_t from = std::min(static_cast<size_t>(start - 1), text.size());
    text.replace(from, static_cast<size_t>(count), replacement);
    return TextResult(ToUtf8(text));
}

// FIND (case and wildcards as written) and SEARCH (any case, "*" and "?" as wildcards):
// the position of the first match from start, or #VALUE!.
Value FindOrSearch(Call& call, bool search)
{
    const std::u16string needle = search ? LowerUtf16(call.Text(0)) : ToUtf16(call.Text(0));
    const std::u16string haystack = search ? LowerUtf16(call.Text(1)) : ToUtf16(call.Text(1));
    const int64_t start = call.Missing(2) ? 1 : Count(call, 2, 1);
    if (static_cast<size_t>(start) > haystack.size() + 1)
        Fail(CellError::Value);
    if (needle.empty())
        return Value::Number(static_cast<double>(start));
    if (static_cast<size_t>(start) > haystack.size())
        Fail(CellError::Value);
    if (search && needle.find_first_of(u"*?~") != std::u16string::npos) {
        for (size_t from = static_cast<size_t>(start - 1); from < haystack.size(); ++from) {
            for (size_t end = from; end <= haystack.size(); ++end) {
                if (WildcardMatch(std::u16string_view(haystack).substr(from, end - from), needle))
                    return Value::Number(static_cast<double>(from + 1));
            }
            call.Context().Charge(haystack.size());
        }
        Fail(CellError::Value);
    }
    const size_t found = haystack.find(needle, static_cast<size_t>(start - 1));
    if (found == std::u16string::npos)
        Fail(CellError::Value);
    return Value::Number(static_cast<double>(found + 1));
}

Value Find(Call& call)
{
    return FindOrSearch(call, false);
}

Value Search(Call& call)
{
    return FindOrSearch(call, true);
}

Value Exact(Call& call)
{
    return Value::Boolean(call.Text(0) == call.Text(1));
}

Value Rept(Call& call)
{
    const std::string text = call.Text(0);
    const int64_t times = Count(call, 1, 0);
    if (text.empty() || times == 0)
        return Value::Text("");
    if (static_cast<uint64_t>(times) * Utf16Length(text) > kMaxTextLength)
        Fail(CellError::Value);
    std::string out;
    out.reserve(text.size() * static_cast<size_t>(times));
    for (int64_t i = 0; i < times; ++i)
        out += text;
    return Value::Text(std::move(out));
}

// Windows-1252, the code page CHAR and CODE count in, from 0x80 to 0x9F.
constexpr char16_t kWindows1252High[32] = { 0x20AC, 0x81, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6,
    0x2030, 0x0160, 0x2039, 0x0152, 0x8D, 0x017D, 0x8F, 0x90, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D, 0x017E, 0x0178 };

Value Char(Call& call)
{
    const double number = std::trunc(call.Number(0));
    if (number < 1 || number > 255)
        Fail(CellError::Value);
    const auto code = static_cast<int>(number);
    const char16_t unit = code >= 0x80 && code < 0xA0 ? kWindows1252High[code - 0x80] : static_cast<char16_t>(code);
    return Value::Text(ToUtf8(std::u16string(1, unit)));
}

Value Code(Call& call)
{
    const std::u16string text = ToUtf16(call.Text(0));
    if (text.empty())
        Fail(CellError::Value);
    const char16_t unit = text[0];
    if (unit < 0x80 || (unit >= 0xA0 && unit < 0x100))
        return Value::Number(unit);
    for (int i = 0; i < 32; ++i) {
        if (kWindows1252High[i] == unit)
            return Value::Number(0x80 + i);
    }
    return Value::Number('?');
}

Value Concatenate(Call& call)
{
    std::string out;
    for (size_t i = 0; i < call.Count(); ++i) {
        out += call.Text(i);
        if (out.size() > 4 * kMaxTextLength)
            Fail(CellError::Value);
    }
    return TextResult(std::move(out));
}

// The text of every value of an argument, empty cells included as "" where they lie
// between others: CONCAT and TEXTJOIN read references whole.
void ForEachText(Call& call, size_t i, const std::function<void(const std::string&)>& take)
{
    if (call.Missing(i)) {
        take({});
        return;
    }
    const Value& raw = call.Raw(i);
    const auto each = [&](const Value& value) {
        std::string text;
        CellError error = CellError::Value;
        if (!ToText(value, text, error))
            Fail(error);
        take(text);
    };
    if (raw.IsReference() || raw.IsArray()) {
        const Grid grid(call, raw);
        if (!grid.Valid())
            Fail(CellError::Value);
        call.Context().Charge(static_cast<uint64_t>(grid.Rows() * grid.Columns()));
        for (int64_t r = 0; r < grid.Rows(); ++r) {
            for (int64_t c = 0; c < grid.Columns(); ++c)
                each(grid.At(r, c));
        }
        return;
    }
    each(raw);
}

Value Concat(Call& call)
{
    std::string out;
    for (size_t i = 0; i < call.Count(); ++i) {
        ForEachText(call, i, [&](const std::string& text) {
            out += text;
            if (out.size() > 4 * kMaxTextLength)
                Fail(CellError::Value);
        });
    }
    return TextResult(std::move(out));
}

Value TextJoin(Call& call)
{
    const std::string divider = call.Text(0);
    const bool skipEmpty = call.Boolean(1);
    std::string out;
    bool first = true;
    for (size_t i = 2; i < call.Count(); ++i) {
        ForEachText(call, i, [&](const std::string& text) {
            if (skipEmpty && text.empty())
                return;
            if (!first)
                out += divider;
            out += text;
            first = false;
            if (out.size() > 4 * kMaxTextLength)
                Fail(CellError::Value);
        });
    }
    return TextResult(std::move(out));
}

Value ValueOf(Call& call)
{
    const Value value = call.Scalar(0);
    if (value.IsNumber() || value.IsBlank())
        return Value::Number(value.NumberValue());
    if (value.IsError())
        return value;
    if (!value.IsText())
        Fail(CellError::Value);
    double number = 0;
    if (!TextToNumber(value.TextValue(), number, call.Context().DateSystem()))
        Fail(CellError::Value);
    return Value::Number(number);
}

// TEXT: a value through a number format code, as a cell of that format displays it.
Value Text(Call& call)
{
    const Value value = call.Scalar(0);
    if (value.IsError())
        return value;
    const std::string code = call.Text(1);
    const std::optional<numfmt::NumberFormat> format = numfmt::NumberFormat::TryParse(code);
    if (!format)
        Fail(CellError::Value);
    std::string out;
    double number = 0;
    if (value.IsNumber() || value.IsBlank()) {
        number = value.NumberValue();
    } else if (value.IsBoolean()) {
        return Value::Text(value.BooleanValue() ? "TRUE" : "FALSE");
    } else if (!TextToNumber(value.TextValue(), number, call.Context().DateSystem())) {
        format->FormatText(value.TextValue(), out);
        return Value::Text(std::move(out));
    }
    format->Format(number, call.Context().DateSystem(), out);
    // A format that shows no number of the value's section shows a run of '#' for a
    // date no calendar holds; the application's TEXT gives #VALUE! for it.
    if (!out.empty() && out.find_first_not_of('#') == std::string::npos && format->IsDateTime())
        Fail(CellError::Value);
    return Value::Text(std::move(out));
}

// FIXED: rounded to decimals places, with thousands separators unless asked not to.
Value Fixed(Call& call)
{
    const double number = call.Number(0);
    const int64_t decimals = call.Missing(1) ? 2 : static_cast<int64_t>(std::trunc(call.Number(1)));
    const bool noCommas = call.Missing(2) ? false : call.Boolean(2);
    if (decimals > 127)
        Fail(CellError::Value);
    const double rounded = RoundToDigits(number, decimals, Rounding::Nearest);
    std::string code = noCommas ? "0" : "#,##0";
    if (decimals > 0)
        code += "." + std::string(static_cast<size_t>(decimals), '0');
    std::string out;
    numfmt::NumberFormat::Parse(code + ";-" + code).Format(rounded, call.Context().DateSystem(), out);
    return Value::Text(std::move(out));
}

// HYPERLINK shows its caption: the friendly name when given, else the link itself.
Value Hyperlink(Call& call)
{
    if (call.Count() > 1 && !call.Missing(1))
        return call.Scalar(1);
    return call.Scalar(0);
}

} // namespace

void AddTextFunctions(std::vector<FunctionEntry>& table)
{
    const FunctionEntry specs[] = {
        { "LEFT", 115, 1, 2, Left },
        { "RIGHT", 116, 1, 2, Right },
        { "MID", 31, 3, 3, Mid },
        { "LEN", 32, 1, 1, Len },
        { "UPPER", 113, 1, 1, Upper },
        { "LOWER", 112, 1, 1, Lower },
        { "PROPER", 114, 1, 1, Proper },
        { "TRIM", 118, 1, 1, Trim },
        { "CLEAN", 162, 1, 1, Clean },
        { "SUBSTITUTE", 120, 3, 4, Substitute },
        { "REPLACE", 119, 4, 4, Replace },
        { "FIND", 124, 2, 3, Find },
        { "SEARCH", 82, 2, 3, Search },
        { "EXACT", 117, 2, 2, Exact },
        { "REPT", 30, 2, 2, Rept },
        { "CHAR", 111, 1, 1, Char },
        { "CODE", 121, 1, 1, Code },
        { "CONCATENATE", 336, 1, kAnyCount, Concatenate },
        { "CONCAT", -1, 1, kAnyCount, Concat, Takes::Any },
        { "TEXTJOIN", -1, 3, kAnyCount, TextJoin, Takes::Any },
        { "VALUE", 33, 1, 1, ValueOf },
        { "TEXT", 48, 2, 2, Text },
        { "FIXED", 14, 1, 3, Fixed },
        { "HYPERLINK", 359, 1, 2, Hyperlink, Takes::Lazily },
    };
    table.insert(table.end(), std::begin(specs), std::end(specs));
}

} // namespace vellumcast::spreadsheet::formula
