#pragma once
// The direct path of worksheet XML: cells written the usual way, <c r="B2" s="1" t="s">
// with a plain <v> value or none, are read without the scanner's general tag handling,
// and they are most of a worksheet. Anything else (a formula, an inline string, a
// prefixed, escaped or non-ASCII attribute, a reference or a line end in the value) goes
// the general way, which gives the same events.

#include "spreadsheet/xml/XmlScanner.h"

#include <array>
#include <cstddef>
#include <string_view>

namespace vellumcast::spreadsheet::xlsx {

class CellDirectPath final : public xml::XmlDirectPath {
public:
    explicit CellDirectPath(xml::XmlHandler& handler)
        : m_handler(handler)
    {
    }
    size_t ReadElement(std::string_view from, const xml::XmlScanner& scanner) override;

private:
    static constexpr size_t kMaxAttributes = 8;
    xml::XmlHandler& m_handler;
    // The cell's attributes as the scanner reports them: names and values, each ending
    // in '\0', copied into m_text, and the pointers to them ending in nullptr.
    std::array<char, 256> m_text {};
    std::array<const char*, 2 * kMaxAttributes + 1> m_attributes {};
};

} // namespace vellumcast::spreadsheet::xlsx
