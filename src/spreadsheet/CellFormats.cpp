#include "spreadsheet/CellFormats.h"

namespace vellumcast::spreadsheet {

uint32_t CellFormats::AddStyle(std::string_view code)
{
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
