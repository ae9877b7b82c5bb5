#include "spreadsheet/encryption/Passwords.h"

namespace vellumcast::spreadsheet::encryption {

std::vector<uint8_t> Utf16Password(std::string_view utf8)
{
    std::vector<uint8_t> out;
    out.reserve(utf8.size() * 2);
    const auto put = [&](uint32_t unit) {
        out.push_back(static_cast<uint8_t>(unit & 0xFF));
        out.push_back(static_cast<uint8_t>(unit >> 8));
    };
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<uint8_t>(utf8[i]);
        const size_t length = lead < 0x80 ? 1
            : (lead >> 5) == 0x06         ? 2
            : (lead >> 4) == 0x0E         ? 3
            : (lead >> 3) == 0x1E         ? 4
                                          : 0;
        uint32_t code = lead;
        bool valid = length > 0 && i + length <= utf8.size();
        if (valid && length > 1) {
            code = lead & (0x7F >> length);
            for (size_t k = 1; k < length && valid; ++k) {
                const auto next = static_cast<uint8_t>(utf8[i + k]);
                valid = (next & 0xC0) == 0x80;
                code = (code << 6) | (next & 0x3F);
            }
        }
        if (!valid) {
            put(lead);
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            put(0xD800 + (code >> 10));
            put(0xDC00 + (code & 0x3FF));
        } else {
            put(code);
        }
        i += length;
    }
    return out;
}

void Wipe(std::string& password)
{
    volatile char* bytes = password.data();
    for (size_t i = 0; i < password.size(); ++i)
        bytes[i] = 0;
    password.clear();
}

} // namespace vellumcast::spreadsheet::encryption
