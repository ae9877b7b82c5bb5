#include "spreadsheet/spreadsheetml/ControlReferences.h"

#include <cstdint>
#include <cstring>

namespace vellumcast::spreadsheet::spreadsheetml {

namespace {

// The private character standing for control character c is U+10FF00 + c, in UTF-8
// F4 8F BC 80+c: a plane no writer uses for text, whose references XML allows.
constexpr std::string_view kStandInLead = "\xF4\x8F\xBC";
constexpr size_t kLongestReference = 12; // "&#x0000001F;"

bool IsForbiddenControl(uint32_t code)
{
    return code < 0x20 && code != 0x9 && code != 0xA && code != 0xD;
}

// The code of the character reference starting at text[at] ("&#7;", "&#x1F;"), with its
// length; false for anything else, a reference cut short by the text's end included.
bool ReadReference(std::string_view text, size_t at, uint32_t& code, size_t& length)
{
    size_t i = at + 2;
    if (i > text.size() || text[at + 1] != '#')
        return false;
    const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
    if (hex)
        ++i;
    const size_t digitsAt = i;
    code = 0;
    for (; i < text.size() && i - digitsAt < 9; ++i) {
        const char d = text[i];
        uint32_t value = 0;
        if (d >= '0' && d <= '9')
            value = static_cast<uint32_t>(d - '0');
        else if (hex && d >= 'a' && d <= 'f')
            value = static_cast<uint32_t>(d - 'a' + 10);
        else if (hex && d >= 'A' && d <= 'F')
            value = static_cast<uint32_t>(d - 'A' + 10);
        else
            break;
        code = code * (hex ? 16 : 10) + value;
    }
    if (i == digitsAt || i >= text.size() || text[i] != ';')
        return false;
    length = i + 1 - at;
    return true;
}

} // namespace

std::string_view ControlReferences::Rewrite(std::string_view piece, bool final)
{
    std::string_view text = piece;
    if (!m_held.empty()) {
        m_held.append(piece);
        m_out.swap(m_held);
        m_held.clear();
        text = m_out;
    }
    // Where a reference might be cut by the piece's end: held back for the next piece.
    size_t keep = text.size();
    if (!final) {
        const size_t tail = text.size() > kLongestReference ? text.size() - kLongestReference : 0;
        const size_t amp = text.rfind('&');
        if (amp != std::string_view::npos && amp >= tail && text.find(';', amp) == std::string_view::npos)
            keep = amp;
    }
    // Most pieces hold no such reference: they pass as they are.
    size_t first = std::string_view::npos;
    for (size_t at = text.find("&#"); at < keep; at = text.find("&#", at + 2)) {
        uint32_t code = 0;
        size_t length = 0;
        if (ReadReference(text.substr(0, keep), at, code, length) && IsForbiddenControl(code)) {
            first = at;
            break;
        }
    }
    std::string rewritten;
    if (first != std::string_view::npos) {
        rewritten.reserve(keep + 64);
        size_t copied = 0;
        for (size_t at = first; at < keep; at = text.find("&#", at + 1)) {
            uint32_t code = 0;
            size_t length = 0;
            if (!ReadReference(text.substr(0, keep), at, code, length) || !IsForbiddenControl(code))
                continue;
            rewritten.append(text.substr(copied, at - copied));
            static constexpr char kDigits[] = "0123456789ABCDEF";
            rewritten += "&#x10FF";
            rewritten += kDigits[code >> 4];
            rewritten += kDigits[code & 0xF];
            rewritten += ';';
            copied = at + length;
        }
        rewritten.append(text.substr(copied, keep - copied));
    }
    const std::string_view rest = text.substr(keep);
    std::string held(rest);
    if (first != std::string_view::npos) {
        m_out.swap(rewritten);
    } else if (text.data() != m_out.data()) {
        m_held = std::move(held);
        return piece.substr(0, keep);
    } else {
        m_out.resize(keep);
    }
    m_held = std::move(held);
    return m_out;
}

void AppendRestoringControls(std::string_view text, std::string& out)
{
    size_t copied = 0;
    for (size_t at = text.find(kStandInLead); at != std::string_view::npos; at = text.find(kStandInLead, at + 1)) {
        if (at + 4 > text.size())
            break;
        const auto last = static_cast<unsigned char>(text[at + 3]);
        if (last < 0x80 || last > 0x9F)
            continue;
        out.append(text.substr(copied, at - copied));
        out += static_cast<char>(last - 0x80);
        copied = at + 4;
        at += 3;
    }
    out.append(text.substr(copied));
}

} // namespace vellumcast::spreadsheet::spreadsheetml
