// Date and time functions, on serials of the workbook's date system (1900, with the
// application's 29 February 1900, or 1904). TODAY and NOW read the run's clock.

#include "spreadsheet/formula/FunctionSupport.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace vellumcast::spreadsheet::formula {

namespace {

using numfmt::DateSystem;

// A serial argument: a number, or text read as a date; negative is #NUM!.
double SerialArgument(Call& call, size_t i)
{
    const Value value = call.Scalar(i);
    double serial = 0;
    if (value.IsText()) {
        if (!TextToNumber(value.TextValue(), serial, call.Context().DateSystem()))
            Fail(CellError::Value);
    } else {
        serial = call.Number(i);
    }
    if (serial < 0)
        Fail(CellError::Num);
    return serial;
}

struct Date {
    int year = 1900;
    int month = 1;
    int day = 1;
};

Date DateArgument(Call& call, size_t i)
{
    Date date;
    if (!DateOfSerial(SerialArgument(call, i), call.Context().DateSystem(), date.year, date.month, date.day))
        Fail(CellError::Num);
    return date;
}

Value SerialResult(Call& call, int64_t year, int64_t month, int64_t day)
{
    double serial = 0;
    if (!SerialOfDate(year, month, day, call.Context().DateSystem(), serial))
        Fail(CellError::Num);
    return Value::Number(serial);
}

int64_t Whole(Call& call, size_t i)
{
    const double number = call.Number(i);
    if (!(std::fabs(number) < 1e9))
        Fail(CellError::Num);
    return static_cast<int64_t>(std::trunc(number));
}

Value DateOf(Call& call)
{
    return SerialResult(call, Whole(call, 0), Whole(call, 1), Whole(call, 2));
}

Value Year(Call& call)
{
    return Value::Number(DateArgument(call, 0).year);
}

Value Month(Call& call)
{
    return Value::Number(DateArgument(call, 0).month);
}

Value Day(Call& call)
{
    return Value::Number(DateArgument(call, 0).day);
}

// The seconds of a serial's time of day, rounded to the nearest second as the
// application shows and splits them.
int64_t SecondsOfDay(double serial)
{
    const double fraction = serial - std::floor(serial);
    const auto seconds = static_cast<int64_t>(std::floor(fraction * 86400 + 0.5));
    return seconds % 86400;
}

Value Hour(Call& call)
{
    return Value::Number(static_cast<double>(SecondsOfDay(SerialArgument(call, 0)) / 3600));
}

Value Minute(Call& call)
{
    return Value::Number(static_cast<double>(SecondsOfDay(SerialArgument(call, 0)) / 60 % 60));
}

Value Second(Call& call)
{
    return Value::Number(static_cast<double>(SecondsOfDay(SerialArgument(call, 0)) % 60));
}

Value Time(Call& call)
{
    const int64_t hours = Whole(call, 0), minutes = Whole(call, 1), seconds = Whole(call, 2);
    if (hours > 32767 || minutes > 32767 || seconds > 32767)
        Fail(CellError::Num);
    const int64_t total = hours * 3600 + minutes * 60 + seconds;
    if (total < 0)
        Fail(CellError::Num);
    return Value::Number(static_cast<double>(total % 86400) / 86400);
}

Value Today(Call& call)
{
    return Value::Number(std::floor(call.Context().Now()));
}

Value Now(Call& call)
{
    return Value::Number(call.Context().Now());
}

// The day of the week counted from Sunday (0) to Saturday (6).
int WeekdayFromSunday(double serial, DateSystem system)
{
    const auto days = static_cast<int64_t>(std::floor(serial));
    // The 1900 system's serial 1 is a Sunday (counting the 29 February it has); the 1904
    // system's serial 0, 1 January 1904, a Friday.
    return static_cast<int>((days + (system == DateSystem::Date1904 ? 5 : 6)) % 7);
}

Value Weekday(Call& call)
{
    const double serial = SerialArgument(call, 0);
    const int64_t type = call.Missing(1) ? 1 : Whole(call, 1);
    const int sunday0 = WeekdayFromSunday(serial, call.Context().DateSystem());
    switch (type) {
    case 1:
    case 17:
        return Value::Number(sunday0 + 1);
    case 2:
    case 11:
        return Value::Number((sunday0 + 6) % 7 + 1);
    case 3:
        return Value::Number((sunday0 + 6) % 7);
    case 12: // Tuesday to Saturday as 1, …
    case 13:
    case 14:
    case 15:
    case 16: {
        const int firstDay = static_cast<int>(type - 10); // from Monday (1) on
        return Value::Number((sunday0 - firstDay + 7) % 7 + 1);
    }
    default:
        Fail(CellError::Num);
    }
}

Value EDate(Call& call)
{
    const Date start = DateArgument(call, 0);
    const int64_t months = Whole(call, 1);
    const int64_t month = start.month - 1 + months;
    const int64_t year = start.year + (month >= 0 ? month / 12 : -((11 - month) / 12));
    const int monthOfYear = static_cast<int>(((month % 12) + 12) % 12 + 1);
    if (year < 1900 || year > 9999)
        Fail(CellError::Num);
    const int day = std::min(start.day, DaysInMonth(year, monthOfYear));
    return SerialResult(call, year, monthOfYear, day);
}

Value EoMonth(Call& call)
{
    const Date start = DateArgument(call, 0);
    const int64_t months = Whole(call, 1);
    const int64_t month = start.month - 1 + months;
    const int64_t year = start.year + (month >= 0 ? month / 12 : -((11 - month) / 12));
    const int monthOfYear = static_cast<int>(((month % 12) + 12) % 12 + 1);
    if (year < 1900 || year > 9999)
        Fail(CellError::Num);
    return SerialResult(call, year, monthOfYear, DaysInMonth(year, monthOfYear));
}

Value Days(Call& call)
{
    const double end = std::floor(SerialArgument(call, 0));
    const double start = std::floor(SerialArgument(call, 1));
    return Value::Number(end - start);
}

// DATEDIF: whole years ("Y"), months ("M") or days ("D") from start to end, or what is left
// of them past whole months ("MD"), years ("YM") or years in days ("YD").
Value DateDif(Call& call)
{
    const double startSerial = std::floor(SerialArgument(call, 0));
    const double endSerial = std::floor(SerialArgument(call, 1));
    const std::string unit = UpperText(call.Text(2));
    if (startSerial > endSerial)
        Fail(CellError::Num);
    const Date start = DateArgument(call, 0), end = DateArgument(call, 1);
    int64_t months = (int64_t { end.year } - start.year) * 12 + (end.month - start.month);
    if (end.day < start.day)
        --months;
    if (unit == "D")
        return Value::Number(endSerial - startSerial);
    if (unit == "M")
        return Value::Number(static_cast<double>(months));
    if (unit == "Y")
        return Value::Number(static_cast<double>(months / 12));
    if (unit == "YM")
        return Value::Number(static_cast<double>(months % 12));
    if (unit == "MD") {
        if (end.day >= start.day)
            return Value::Number(end.day - start.day);
        // Days from the start's day in the month before the end's month.
        int year = end.year, month = end.month - 1;
        if (month == 0) {
            month = 12;
            --year;
        }
        return Value::Number(DaysInMonth(year, month) - start.day + end.day);
    }
    if (unit == "YD") {
        int64_t year = end.year;
        if (end.month < start.month || (end.month == start.month && end.day < start.day))
            --year;
        double anniversary = 0;
        const int day = std::min(start.day, DaysInMonth(year, start.month));
        if (!SerialOfDate(year, start.month, day, call.Context().DateSystem(), anniversary))
            Fail(CellError::Num);
        return Value::Number(endSerial - anniversary);
    }
    Fail(CellError::Num);
}

Value DateValue(Call& call)
{
    const Value value = call.Scalar(0);
    double serial = 0;
    if (!value.IsText() || !TextToNumber(value.TextValue(), serial, call.Context().DateSystem()) || serial < 1)
        Fail(CellError::Value);
    return Value::Number(std::floor(serial));
}

Value TimeValue(Call& call)
{
    const Value value = call.Scalar(0);
    double serial = 0;
    if (!value.IsText() || !TextToNumber(value.TextValue(), serial, call.Context().DateSystem()) || serial < 0)
        Fail(CellError::Value);
    return Value::Number(serial - std::floor(serial));
}

// The holidays of NETWORKDAYS and WORKDAY: whole serials.
std::set<int64_t> Holidays(Call& call, size_t i)
{
    std::set<int64_t> days;
    if (i >= call.Count())
        return days;
    ForEachValue(call, i, [&](const Value& value) {
        if (value.IsError())
            Fail(value.ErrorValue());
        if (value.IsNumber())
            days.insert(static_cast<int64_t>(std::floor(value.NumberValue())));
        else if (!value.IsBlank())
            Fail(CellError::Value);
    });
    return days;
}

bool IsWorkday(int64_t serial, DateSystem system, const std::set<int64_t>& holidays)
{
    const int weekday = WeekdayFromSunday(static_cast<double>(serial), system);
    return weekday != 0 && weekday != 6 && holidays.count(serial) == 0;
}

Value NetworkDays(Call& call)
{
    auto start = static_cast<int64_t>(std::floor(SerialArgument(call, 0)));
    auto end = static_cast<int64_t>(std::floor(SerialArgument(call, 1)));
    const std::set<int64_t> holidays = Holidays(call, 2);
    const DateSystem system = call.Context().DateSystem();
    const bool backward = end < start;
    if (backward)
        std::swap(start, end);
    call.Context().Charge(static_cast<uint64_t>(end - start) / 64);
    // Whole weeks at once, then the days left one by one.
    const int64_t weeks = (end - start + 1) / 7;
    int64_t count = weeks * 5;
    for (int64_t day = start + weeks * 7; day <= end; ++day)
        count += IsWorkday(day, system, {}) ? 1 : 0;
    for (const int64_t holiday : holidays) {
        if (holiday >= start && holiday <= end && IsWorkday(holiday, system, {}))
            --count;
    }
    return Value::Number(static_cast<double>(backward ? -count : count));
}

Value Workday(Call& call)
{
    auto day = static_cast<int64_t>(std::floor(SerialArgument(call, 0)));
    const int64_t days = Whole(call, 1);
    const std::set<int64_t> holidays = Holidays(call, 2);
    const DateSystem system = call.Context().DateSystem();
    const int64_t step = days < 0 ? -1 : 1;
    call.Context().Charge(static_cast<uint64_t>(std::llabs(days)));
    for (int64_t left = std::llabs(days); left > 0;) {
        day += step;
        if (day < 0)
            Fail(CellError::Num);
        if (IsWorkday(day, system, holidays))
            --left;
    }
    return Value::Number(static_cast<double>(day));
}

// WEEKNUM: the week holding 1 January is week 1; weeks start on Sunday (type 1) or
// Monday (type 2 and 11), or on the day types 12 to 17 name; type 21 is the ISO week.
int IsoWeek(Call& call, double serial);

Value WeekNum(Call& call)
{
    const double serial = SerialArgument(call, 0);
    const int64_t type = call.Missing(1) ? 1 : Whole(call, 1);
    if (type == 21)
        return Value::Number(IsoWeek(call, serial));
    int firstDay = 0; // Sunday
    if (type == 2 || type == 11)
        firstDay = 1;
    else if (type >= 12 && type <= 17)
        firstDay = static_cast<int>(type - 10) % 7;
    else if (type != 1)
        Fail(CellError::Num);
    int year = 0, month = 0, day = 0;
    if (!DateOfSerial(serial, call.Context().DateSystem(), year, month, day))
        Fail(CellError::Num);
    double january1 = 0;
    if (!SerialOfDate(year, 1, 1, call.Context().DateSystem(), january1))
        Fail(CellError::Num);
    const int offset = (WeekdayFromSunday(january1, call.Context().DateSystem()) - firstDay + 7) % 7;
    return Value::Number(std::floor((std::floor(serial) - january1 + offset) / 7) + 1);
}

int IsoWeek(Call& call, double serial)
{
    const DateSystem system = call.Context().DateSystem();
    // The week's Thursday decides its year.
    const double days = std::floor(serial);
    const int mondayBased = (WeekdayFromSunday(days, system) + 6) % 7;
    const double thursday = days - mondayBased + 3;
    int year = 0, month = 0, day = 0;
    if (!DateOfSerial(std::max(thursday, 0.0), system, year, month, day))
        Fail(CellError::Num);
    double january1 = 0;
    if (!SerialOfDate(year, 1, 1, system, january1))
        Fail(CellError::Num);
    return static_cast<int>(std::floor((thursday - january1) / 7)) + 1;
}

Value IsoWeekNum(Call& call)
{
    return Value::Number(IsoWeek(call, SerialArgument(call, 0)));
}

} // namespace

void AddDateFunctions(std::vector<FunctionEntry>& table)
{
    const FunctionEntry specs[] = {
        { "DATE", 65, 3, 3, DateOf },
        { "YEAR", 69, 1, 1, Year },
        { "MONTH", 68, 1, 1, Month },
        { "DAY", 67, 1, 1, Day },
        { "HOUR", 71, 1, 1, Hour },
        { "MINUTE", 72, 1, 1, Minute },
        { "SECOND", 73, 1, 1, Second },
        { "TIME", 66, 3, 3, Time },
        { "TODAY", 221, 0, 0, Today, Takes::Values, true },
        { "NOW", 74, 0, 0, Now, Takes::Values, true },
        { "WEEKDAY", 70, 1, 2, Weekday },
        { "EDATE", -1, 2, 2, EDate },
        { "EOMONTH", -1, 2, 2, EoMonth },
        { "DAYS", -1, 2, 2, Days },
        { "DATEDIF", 351, 3, 3, DateDif },
        { "DATEVALUE", 140, 1, 1, DateValue },
        { "TIMEVALUE", 141, 1, 1, TimeValue },
        { "NETWORKDAYS", -1, 2, 3, NetworkDays, Takes::Any },
        { "WORKDAY", -1, 2, 3, Workday, Takes::Any },
        { "WEEKNUM", -1, 1, 2, WeekNum },
        { "ISOWEEKNUM", -1, 1, 1, IsoWeekNum },
    };
    table.insert(table.end(), std::begin(specs), std::end(specs));
}

} // namespace vellumcast::spreadsheet::formula
