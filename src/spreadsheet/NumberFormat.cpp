// Placeholder renderer: General for every code, until the format language lands.
#include "spreadsheet/NumberFormat.h"

#include <cmath>
#include <cstdio>

namespace vellumcast::spreadsheet {

namespace detail {
struct ParsedFormat {};
} // namespace detail

NumberFormat::NumberFormat() = default;

NumberFormat NumberFormat::Parse(std::string_view)
{
    return NumberFormat();
}

void NumberFormat::Format(double value, DateSystem, std::string& out) const
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.10g", value);
    out += buffer;
}

void NumberFormat::FormatText(std::string_view text, std::string& out) const
{
    out += text;
}

bool NumberFormat::TransformsText() const
{
    return false;
}

bool NumberFormat::IsGeneral() const
{
    return true;
}

std::string_view BuiltInFormatCode(int)
{
    return "General";
}

} // namespace vellumcast::spreadsheet
