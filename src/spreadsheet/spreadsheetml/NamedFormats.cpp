#include "spreadsheet/spreadsheetml/NamedFormats.h"

#include "spreadsheet/numfmt/NumberFormat.h"

#include <algorithm>
#include <cctype>

namespace vellumcast::spreadsheet::spreadsheetml {

namespace {

struct NamedFormat {
    std::string_view name;
    int builtInId; // the built-in format the name stands for, or -1 when code says it
    std::string_view code;
};

// The names the application writes for its built-in formats, and the few it accepts
// that no built-in format has (the long date, the euro and the yes/no kinds).
constexpr NamedFormat kNamedFormats[] = {
    { "General", 0, {} },
    { "General Number", 0, {} },
    { "General Date", 22, {} },
    { "Long Date", -1, "dddd, mmmm d, yyyy" },
    { "Medium Date", 15, {} },
    { "Short Date", 14, {} },
    { "Long Time", 19, {} },
    { "Medium Time", 18, {} },
    { "Short Time", 20, {} },
    { "Currency", 8, {} },
    { "Euro Currency", -1, "[$\xE2\x82\xAC-2]\\ #,##0.00" },
    { "Fixed", 2, {} },
    { "Standard", 4, {} },
    { "Percent", 10, {} },
    { "Scientific", 11, {} },
    { "Yes/No", -1, "\"Yes\";\"Yes\";\"No\"" },
    { "True/False", -1, "\"True\";\"True\";\"False\"" },
    { "On/Off", -1, "\"On\";\"On\";\"Off\"" },
};

bool SameIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

} // namespace

std::string_view FormatCodeOfName(std::string_view format)
{
    for (const NamedFormat& named : kNamedFormats) {
        if (SameIgnoringCase(format, named.name))
            return named.builtInId >= 0 ? numfmt::BuiltInFormatCode(named.builtInId) : named.code;
    }
    return format;
}

} // namespace vellumcast::spreadsheet::spreadsheetml
