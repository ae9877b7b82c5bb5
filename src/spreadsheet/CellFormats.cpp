#include "spreadsheet/CellFormats.h"

namespace vellumcast::spreadsheet {

uint32_t CellFormats::AddStyle(std::string_view code)
{
    auto [it, inserted] = m_byCode.try_emplace(std::string(code), static_cast<uint32_t>(m_formats.size()));
    if (inserted) {
        auto parsed = numfmt::NumberFormat::TryParse(code);
        if (!parsed)
            ++m_unreadableCodes;
        m_formats.push_back(parsed ? std::move(*parsed) : numfmt::NumberFormat());
    }
    m_styleFormats.push_back(it->second);
    return static_cast<uint32_t>(m_styleFormats.size() - 1);
}

} // namespace vellumcast::spreadsheet
