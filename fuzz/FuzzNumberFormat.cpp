// Parses arbitrary bytes as a number-format code and renders with it a value of every
// kind the cells hold: numbers across the whole range (dates among them, in both date
// systems), the values no date can show, NaN and infinities, and text. Parsing never
// throws and rendering never fails, whatever the code.

#include "spreadsheet/numfmt/NumberFormat.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace vellumcast::spreadsheet::numfmt;
    const std::string_view code(reinterpret_cast<const char*>(data), size);
    constexpr double kValues[] = { 0.0, -0.0, 1.0, -1.0, 0.5, -1234.5678, 1.0 / 3.0, 59.0, 60.0, 61.0, 2958465.0,
        2958465.99999, 2958466.0, 1e-310, 1e15, 123456789012.0, -1e300, 1e308, std::numeric_limits<double>::max(),
        std::numeric_limits<double>::lowest(), std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity() };
    (void)NumberFormat::IsValidCode(code);
    (void)NumberFormat::TryParse(code);
    const NumberFormat format = NumberFormat::Parse(code);
    std::string out;
    for (const double value : kValues) {
        format.Format(value, DateSystem::Date1900, out);
        format.Format(value, DateSystem::Date1904, out);
        out.clear();
    }
    if (format.TransformsText()) {
        format.FormatText("", out);
        format.FormatText("text", out);
        format.FormatText(code, out);
    }
    (void)format.IsGeneral();
    return 0;
}
