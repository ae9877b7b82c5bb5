#include "spreadsheet/CellFormats.h"

namespace vellumcast::spreadsheet {

uint32_t CellFormats::AddStyle(std::string_view code)
{
    if (m_styleFormats.size() >= kMaxStyles)
        throw SpreadsheetError(ErrorCode::TooLarge,
            "it declares more than " + std::to_string(kMaxStyles) + " cell styles, more than any workbook holds");
    auto [it, inserted] = m_byCode.try_emplace(std::string(code), static_cast<uint32_t>(m_codes.size()));
    if (inserted) {
        // Checked now, so that the workbook says at once that it holds unreadable codes;
        // the format itself is kept only once a cell uses it.
        if (!numfmt::NumberFormat::IsValidCode(code))
            ++m_unreadableCodes;
        m_codes.push_back({ std::string(code), nullptr });
    }
    m_styleFormats.push_back(it->second);
    return static_cast<uint32_t>(m_styleFormats.size() - 1);
}

std::span<const numfmt::NumberFormat* const> CellFormats::ParsedByStyle()
{
    if (m_overLimit || m_tooManyToParse)
        return {};
    if (m_parsedByStyle.size() == m_styleFormats.size())
        return m_parsedByStyle;
    // Parsed aside first: if they do not fit together, none is kept, and each code is
    // parsed when a cell first uses it, as it would have been. The memory they take is the
    // sum of what each takes, so when the sum fits, parsing them one by one fits as well.
    std::vector<std::pair<uint32_t, numfmt::NumberFormat>> parsed;
    uint64_t cost = 0;
    for (uint32_t i = 0; i < m_codes.size(); ++i) {
        if (m_codes[i].parsed)
            continue;
        numfmt::NumberFormat format = numfmt::NumberFormat::Parse(m_codes[i].text);
        cost += format.MemoryUse() + m_codes[i].text.size();
        if (m_memoryUsed + cost > m_memoryLimit) {
            m_tooManyToParse = true; // not tried again: the same codes would not fit again
            return {};
        }
        parsed.emplace_back(i, std::move(format));
    }
    m_memoryUsed += cost;
    for (auto& [code, format] : parsed)
        m_codes[code].parsed = &m_parsed.emplace_back(std::move(format));
    m_parsedByStyle.clear();
    m_parsedByStyle.reserve(m_styleFormats.size());
    for (const uint32_t code : m_styleFormats)
        m_parsedByStyle.push_back(m_codes[code].parsed);
    return m_parsedByStyle;
}

const numfmt::NumberFormat& CellFormats::General()
{
    static const numfmt::NumberFormat general;
    return general;
}

const numfmt::NumberFormat& CellFormats::Parse(const Code& code) const
{
    numfmt::NumberFormat format = numfmt::NumberFormat::Parse(code.text);
    const uint64_t cost = format.MemoryUse() + code.text.size();
    if (m_memoryUsed + cost > m_memoryLimit) {
        m_overLimit = true;
        code.parsed = &General();
        return General();
    }
    m_memoryUsed += cost;
    code.parsed = &m_parsed.emplace_back(std::move(format));
    return *code.parsed;
}

} // namespace vellumcast::spreadsheet
