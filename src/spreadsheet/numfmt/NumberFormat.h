#pragma once
// Number formats: a format code is parsed once and then renders many values as the
// spreadsheet application displays them in a column wide enough to hold them.

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vellumcast::spreadsheet::numfmt {

enum class DateSystem : unsigned char { Date1900, Date1904 };

// What a format shows of a number taken as a point in time.
enum class DateTimeParts : unsigned char {
    None, // no date or time: a number format
    Date, // only calendar parts (year, month, day, weekday)
    Time, // only clock parts (hours, minutes, seconds, AM/PM)
    DateAndTime,
    Elapsed, // a duration: [h], [m] or [s] counts past a day, so the value is no point in time
};

struct ParsedFormat;

class NumberFormat {
public:
    // The General format.
    NumberFormat();

    // Never throws: a code that cannot be parsed gives the General format.
    static NumberFormat Parse(std::string_view code);

    // The parsed format, or nothing when the code is not a valid format code.
    static std::optional<NumberFormat> TryParse(std::string_view code);

    // True when Parse takes the code as written rather than falling back to General.
    static bool IsValidCode(std::string_view code);

    // Appends the displayed text of a number: the section the value selects, dates and times
    // in the given date system; a date or time format shows a run of '#' for a value no
    // date can show (negative, or past 9999-12-31). NaN and infinities show "#NUM!".
    void Format(double value, DateSystem system, std::string& out) const;

    // Appends the displayed text of a string cell (the text section, with "@" as the text).
    void FormatText(std::string_view text, std::string& out) const;

    // False when a string cell displays exactly as stored (the common case), so callers
    // can skip FormatText.
    bool TransformsText() const;

    bool IsGeneral() const;

    // About how many bytes the parsed format holds (0 for General, which shares none).
    size_t MemoryUse() const;

    // True when some section shows numbers as dates or times.
    bool IsDateTime() const;

    // What the format's date and time sections show together, worked out once when the
    // format is parsed. A format with an elapsed part in any section is Elapsed; otherwise
    // the parts of every section that shows dates or times (colours, literals and quoted
    // text play no part).
    DateTimeParts DateTimeShown() const;
    // A date, a time of day or both: a format whose numbers stand for points in time.
    bool IsDateOrTimeFormat() const;
    // A duration format such as [h]:mm:ss.
    bool IsElapsedTimeFormat() const { return DateTimeShown() == DateTimeParts::Elapsed; }

private:
    std::shared_ptr<const ParsedFormat> m_parsed;
};

struct BuiltInFormat {
    int id;
    std::string_view code;
};

// Every built-in format id that has a code of its own, in id order.
std::span<const BuiltInFormat> BuiltInFormats();

// The format code of a built-in format id, with the fallback the application uses for
// ids that have no code of their own ("General" when nothing else applies).
std::string_view BuiltInFormatCode(int id);

} // namespace vellumcast::spreadsheet::numfmt
