// Number formats: parsing once into sections (NumberFormatParse.cpp) and rendering
// many values (NumberFormatRender.cpp); the built-in formats of US English.
#include "spreadsheet/numfmt/NumberFormat.h"

#include "spreadsheet/numfmt/NumberFormatParts.h"

namespace vellumcast::spreadsheet::numfmt {

namespace {

const std::shared_ptr<const ParsedFormat>& GeneralFormat()
{
    static const std::shared_ptr<const ParsedFormat> general = [] {
        auto parsed = std::make_shared<ParsedFormat>();
        ParseFormatCode("General", *parsed);
        return std::shared_ptr<const ParsedFormat>(std::move(parsed));
    }();
    return general;
}

} // namespace

NumberFormat::NumberFormat()
    : m_parsed(GeneralFormat())
{
}

NumberFormat NumberFormat::Parse(std::string_view code)
{
    NumberFormat format;
    if (auto parsed = TryParse(code))
        format = std::move(*parsed);
    return format;
}

std::optional<NumberFormat> NumberFormat::TryParse(std::string_view code)
{
    auto parsed = std::make_shared<ParsedFormat>();
    if (!ParseFormatCode(code, *parsed))
        return std::nullopt;
    NumberFormat format;
    if (!parsed->general)
        format.m_parsed = std::move(parsed);
    return format;
}

bool NumberFormat::IsValidCode(std::string_view code)
{
    ParsedFormat parsed;
    return ParseFormatCode(code, parsed);
}

void NumberFormat::Format(double value, DateSystem system, std::string& out) const
{
    RenderNumber(*m_parsed, value, system == DateSystem::Date1904, out);
}

void NumberFormat::FormatText(std::string_view text, std::string& out) const
{
    RenderText(*m_parsed, text, out);
}

bool NumberFormat::TransformsText() const
{
    return m_parsed->textSection >= 0 && m_parsed->sections[static_cast<size_t>(m_parsed->textSection)].transformsText;
}

bool NumberFormat::IsGeneral() const
{
    return m_parsed->general;
}

std::string_view BuiltInFormatCode(int id)
{
    // ECMA-376-1 §18.8.30 (numFmt), with the codes the application shows in US English
    // for the ids whose code depends on the locale (5-8, 14, 22, 37-44).
    switch (id) {
    case 0:
        return "General";
    case 1:
        return "0";
    case 2:
        return "0.00";
    case 3:
        return "#,##0";
    case 4:
        return "#,##0.00";
    case 5:
        return "\"$\"#,##0_);\\(\"$\"#,##0\\)";
    case 6:
        return "\"$\"#,##0_);[Red]\\(\"$\"#,##0\\)";
    case 7:
        return "\"$\"#,##0.00_);\\(\"$\"#,##0.00\\)";
    case 8:
        return "\"$\"#,##0.00_);[Red]\\(\"$\"#,##0.00\\)";
    case 9:
        return "0%";
    case 10:
        return "0.00%";
    case 11:
        return "0.00E+00";
    case 12:
        return "# ?/?";
    case 13:
        return "# ?\?/?\?";
    case 14:
        return "m/d/yyyy";
    case 15:
        return "d-mmm-yy";
    case 16:
        return "d-mmm";
    case 17:
        return "mmm-yy";
    case 18:
        return "h:mm AM/PM";
    case 19:
        return "h:mm:ss AM/PM";
    case 20:
        return "h:mm";
    case 21:
        return "h:mm:ss";
    case 22:
        return "m/d/yyyy h:mm";
    case 37:
        return "#,##0 ;(#,##0)";
    case 38:
        return "#,##0 ;[Red](#,##0)";
    case 39:
        return "#,##0.00;(#,##0.00)";
    case 40:
        return "#,##0.00;[Red](#,##0.00)";
    case 41:
        return "_(* #,##0_);_(* \\(#,##0\\);_(* \"-\"_);_(@_)";
    case 42:
        return "_(\"$\"* #,##0_);_(\"$\"* \\(#,##0\\);_(\"$\"* \"-\"_);_(@_)";
    case 43:
        return "_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"??_);_(@_)";
    case 44:
        return "_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)";
    case 45:
        return "mm:ss";
    case 46:
        return "[h]:mm:ss";
    case 47:
        return "mmss.0";
    case 48:
        return "##0.0E+0";
    case 49:
        return "@";
    default:
        break;
    }
    // Ids without a code of their own in US English: the East Asian date and time ids show
    // as the short date or the time, the Thai ids as their Western counterparts.
    switch (id) {
    case 27:
    case 28:
    case 29:
    case 30:
    case 31:
    case 36:
    case 50:
    case 51:
    case 52:
    case 53:
    case 54:
    case 55:
    case 56:
    case 57:
    case 58:
    case 71:
    case 72:
        return BuiltInFormatCode(14);
    case 32:
    case 33:
    case 34:
    case 35:
        return BuiltInFormatCode(21);
    case 59:
        return BuiltInFormatCode(1);
    case 60:
        return BuiltInFormatCode(2);
    case 61:
        return BuiltInFormatCode(3);
    case 62:
        return BuiltInFormatCode(4);
    case 67:
        return BuiltInFormatCode(9);
    case 68:
        return BuiltInFormatCode(10);
    case 69:
        return BuiltInFormatCode(12);
    case 70:
        return BuiltInFormatCode(13);
    case 73:
        return BuiltInFormatCode(15);
    case 74:
        return BuiltInFormatCode(16);
    case 75:
        return BuiltInFormatCode(17);
    case 76:
        return BuiltInFormatCode(20);
    case 77:
        return BuiltInFormatCode(21);
    case 78:
        return BuiltInFormatCode(22);
    case 79:
        return BuiltInFormatCode(45);
    case 80:
        return BuiltInFormatCode(46);
    case 81:
        return BuiltInFormatCode(47);
    default:
        return "General";
    }
}

} // namespace vellumcast::spreadsheet::numfmt
