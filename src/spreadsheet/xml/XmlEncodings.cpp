#include "spreadsheet/xml/XmlEncodings.h"

#include "core/CodePages.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string>

namespace vellumcast::spreadsheet::xml {

namespace {

std::optional<uint16_t> NumberAfter(std::string_view name, std::string_view prefix, int base = 0)
{
    if (!name.starts_with(prefix))
        return std::nullopt;
    name.remove_prefix(prefix.size());
    unsigned value = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), value);
    if (error != std::errc() || end != name.data() + name.size() || value == 0 || value + base > 65535)
        return std::nullopt;
    return static_cast<uint16_t>(value + base);
}

// The code point of the one character utf8 holds, or -1.
int OneCharacter(const std::string& utf8)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    if (utf8.size() == 1 && bytes[0] < 0x80)
        return bytes[0];
    if (utf8.size() == 2 && (bytes[0] & 0xE0) == 0xC0)
        return ((bytes[0] & 0x1F) << 6) | (bytes[1] & 0x3F);
    if (utf8.size() == 3 && (bytes[0] & 0xF0) == 0xE0)
        return ((bytes[0] & 0x0F) << 12) | ((bytes[1] & 0x3F) << 6) | (bytes[2] & 0x3F);
    return -1;
}

} // namespace

std::optional<uint16_t> CodePageOfEncoding(std::string_view declared)
{
    std::string name(declared);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    if (name == "koi8-r")
        return 20866;
    if (name == "koi8-u")
        return 21866;
    if (name == "macintosh")
        return 10000;
    for (std::string_view prefix : { "windows-", "cp", "x-cp", "ibm" }) {
        if (const auto page = NumberAfter(name, prefix))
            return page;
    }
    return NumberAfter(name, "iso-8859-", 28590); // as Windows numbers them: 28595 is ISO 8859-5
}

std::optional<std::array<int, 256>> SingleByteTable(uint16_t codePage)
{
    const auto converter = core::CodePageConverter::Open(codePage);
    if (!converter)
        return std::nullopt;
    std::array<int, 256> table {};
    for (int byte = 0; byte < 256; ++byte) {
        const auto value = static_cast<uint8_t>(byte);
        std::string utf8;
        table[byte] = converter->Convert({ &value, 1 }, utf8) == 1 ? OneCharacter(utf8) : -1;
        // A byte that begins a character of two is no single-byte code page's.
        const uint8_t pair[] = { value, 0x41 };
        if (table[byte] < 0 && converter->Convert(pair, utf8) == 2)
            return std::nullopt;
        // Expat reads the markup itself: an encoding must keep ASCII as it is.
        if (byte < 0x80 && table[byte] != byte)
            return std::nullopt;
    }
    return table;
}

} // namespace vellumcast::spreadsheet::xml
