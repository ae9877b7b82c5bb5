#pragma once
// The number format of every cell style of a workbook, each code parsed once.

#include "spreadsheet/numfmt/NumberFormat.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vellumcast::spreadsheet {

class CellFormats {
public:
    // Appends a style with this format code and returns its index. Styles that share a
    // code share one parsed format; a code that cannot be read (damaged, or longer than
    // any real one) formats as General and is counted.
    uint32_t AddStyle(std::string_view code);

    // Appends a style with a built-in format id (numfmt::BuiltInFormatCode).
    uint32_t AddBuiltInStyle(int id) { return AddStyle(numfmt::BuiltInFormatCode(id)); }

    // The format of a style; General for an index no style has.
    const numfmt::NumberFormat& ForStyle(uint32_t style) const
    {
        return style < m_styleFormats.size() ? m_formats[m_styleFormats[style]] : m_general;
    }

    size_t StyleCount() const { return m_styleFormats.size(); }

    // How many distinct codes could not be read and format as General instead.
    size_t UnreadableCodes() const { return m_unreadableCodes; }

private:
    numfmt::NumberFormat m_general;
    std::vector<numfmt::NumberFormat> m_formats;
    std::vector<uint32_t> m_styleFormats;
    std::unordered_map<std::string, uint32_t> m_byCode;
    size_t m_unreadableCodes = 0;
};

} // namespace vellumcast::spreadsheet
