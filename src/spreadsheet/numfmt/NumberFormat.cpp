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

size_t NumberFormat::MemoryUse() const
{
    if (!m_parsed)
        return 0;
    size_t bytes = sizeof(ParsedFormat);
    for (const Section& section : m_parsed->sections) {
        bytes += section.tokens.capacity() * sizeof(Token) + section.text.capacity()
            + section.numeratorPattern.capacity() + section.denominatorPattern.capacity()
            + section.datePieces.capacity() * sizeof(DatePiece);
    }
    return bytes;
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

bool NumberFormat::IsDateTime() const
{
    for (uint32_t i = 0; i < m_parsed->sectionCount; ++i) {
        if (m_parsed->sections[i].kind == SectionKind::Date)
            return true;
    }
    return false;
}

DateTimeParts NumberFormat::DateTimeShown() const
{
    return m_parsed->dateTimeParts;
}

bool NumberFormat::IsDateOrTimeFormat() const
{
    const DateTimeParts parts = m_parsed->dateTimeParts;
    return parts == DateTimeParts::Date || parts == DateTimeParts::Time || parts == DateTimeParts::DateAndTime;
}

namespace {

// ECMA-376-1 §18.8.30 (numFmt), with the codes the application shows in US English for the
// ids whose code depends on the locale (5-8, 14, 22, 37-44). 14 and 22 show four-digit years;
// 37 to 40 leave the room of a parenthesis after a positive number, as 5 to 8 do.
constexpr BuiltInFormat BuiltIns[] = {
    { 0, "General" },
    { 1, "0" },
    { 2, "0.00" },
    { 3, "#,##0" },
    { 4, "#,##0.00" },
    { 5, "\"$\"#,##0_);\\(\"$\"#,##0\\)" },
    { 6, "\"$\"#,##0_);[Red]\\(\"$\"#,##0\\)" },
    { 7, "\"$\"#,##0.00_);\\(\"$\"#,##0.00\\)" },
    { 8, "\"$\"#,##0.00_);[Red]\\(\"$\"#,##0.00\\)" },
    { 9, "0%" },
    { 10, "0.00%" },
    { 11, "0.00E+00" },
    { 12, "# ?/?" },
    { 13, "# ?\?/?\?" },
    { 14, "m/d/yyyy" },
    { 15, "d-mmm-yy" },
    { 16, "d-mmm" },
    { 17, "mmm-yy" },
    { 18, "h:mm AM/PM" },
    { 19, "h:mm:ss AM/PM" },
    { 20, "h:mm" },
    { 21, "h:mm:ss" },
    { 22, "m/d/yyyy h:mm" },
    { 37, "#,##0_);(#,##0)" },
    { 38, "#,##0_);[Red](#,##0)" },
    { 39, "#,##0.00_);(#,##0.00)" },
    { 40, "#,##0.00_);[Red](#,##0.00)" },
    { 41, "_(* #,##0_);_(* \\(#,##0\\);_(* \"-\"_);_(@_)" },
    { 42, "_(\"$\"* #,##0_);_(\"$\"* \\(#,##0\\);_(\"$\"* \"-\"_);_(@_)" },
    { 43, "_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"??_);_(@_)" },
    { 44, "_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)" },
    { 45, "mm:ss" },
    { 46, "[h]:mm:ss" },
    { 47, "mmss.0" },
    { 48, "##0.0E+0" },
    { 49, "@" },
};

// Ids without a code of their own in US English: the East Asian date and time ids show as
// the short date or the time, the Thai ids as their Western counterparts.
constexpr struct {
    int id;
    int sameAs;
} BuiltInAliases[] = {
    { 27, 14 },
    { 28, 14 },
    { 29, 14 },
    { 30, 14 },
    { 31, 14 },
    { 36, 14 },
    { 50, 14 },
    { 51, 14 },
    { 52, 14 },
    { 53, 14 },
    { 54, 14 },
    { 55, 14 },
    { 56, 14 },
    { 57, 14 },
    { 58, 14 },
    { 71, 14 },
    { 72, 14 },
    { 32, 21 },
    { 33, 21 },
    { 34, 21 },
    { 35, 21 },
    { 59, 1 },
    { 60, 2 },
    { 61, 3 },
    { 62, 4 },
    { 67, 9 },
    { 68, 10 },
    { 69, 12 },
    { 70, 13 },
    { 73, 15 },
    { 74, 16 },
    { 75, 17 },
    { 76, 20 },
    { 77, 21 },
    { 78, 22 },
    { 79, 45 },
    { 80, 46 },
    { 81, 47 },
};

} // namespace

std::span<const BuiltInFormat> BuiltInFormats()
{
    return BuiltIns;
}

std::string_view BuiltInFormatCode(int id)
{
    for (const auto& alias : BuiltInAliases) {
        if (alias.id == id) {
            id = alias.sameAs;
            break;
        }
    }
    for (const BuiltInFormat& format : BuiltIns) {
        if (format.id == id)
            return format.code;
    }
    return "General";
}

} // namespace vellumcast::spreadsheet::numfmt
