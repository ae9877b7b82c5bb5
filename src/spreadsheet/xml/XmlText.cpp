#include "spreadsheet/xml/XmlText.h"

#include "spreadsheet/SpreadsheetError.h"

#include <array>
#include <cstdint>

namespace vellumcast::spreadsheet::xml {

namespace {

void AppendUtf8(uint32_t code, char*& out)
{
    if (code < 0x80) {
        *out++ = static_cast<char>(code);
    } else if (code < 0x800) {
        *out++ = static_cast<char>(0xC0 | (code >> 6));
        *out++ = static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (code >> 12));
        *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (code & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (code >> 18));
        *out++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool IsXmlChar(uint32_t code)
{
    return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF)
        || (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
}

// Writes the character the reference name (between '&' and ';') stands for; false when
// it stands for none XML allows.
bool DecodeReference(std::string_view name, char*& out)
{
    if (name == "lt")
        *out++ = '<';
    else if (name == "gt")
        *out++ = '>';
    else if (name == "amp")
        *out++ = '&';
    else if (name == "quot")
        *out++ = '"';
    else if (name == "apos")
        *out++ = '\'';
    else if (name.size() >= 2 && name[0] == '#') {
        uint32_t code = 0;
        const bool hex = name[1] == 'x';
        const std::string_view digits = name.substr(hex ? 2 : 1);
        if (digits.empty() || digits.size() > 8)
            return false;
        for (const char d : digits) {
            uint32_t value = 0;
            if (d >= '0' && d <= '9')
                value = static_cast<uint32_t>(d - '0');
            else if (hex && d >= 'a' && d <= 'f')
                value = static_cast<uint32_t>(d - 'a' + 10);
            else if (hex && d >= 'A' && d <= 'F')
                value = static_cast<uint32_t>(d - 'A' + 10);
            else
                return false;
            code = code * (hex ? 16 : 10) + value;
        }
        if (!IsXmlChar(code))
            return false;
        AppendUtf8(code, out);
    } else {
        return false;
    }
    return true;
}

} // namespace

bool IsValidUtf8(const unsigned char* p, const unsigned char* end)
{
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        size_t length = 0;
        uint32_t code = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            code = c & 0x1Fu;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            code = c & 0x0Fu;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            code = c & 0x07u;
        } else {
            return false;
        }
        if (static_cast<size_t>(end - p) < length)
            return false;
        for (size_t i = 1; i < length; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (p[i] & 0x3Fu);
        }
        if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF) || code == 0xFFFE || code == 0xFFFF))
            || (length == 4 && (code < 0x10000 || code > 0x10FFFF)))
            return false;
        p += length;
    }
    return true;
}

namespace {

// The kinds of byte CheckText tells apart, as bits to gather over a run.
enum ByteKind : uint8_t {
    kOtherControl = 1,
    kLineOrTab = 2, // '\n' or '\t'
    kReturn = 4,
    kAmpersand = 8,
    kLessThan = 16,
    kHigh = 32, // from 0x80: part of a non-ASCII character
};

constexpr std::array<uint8_t, 256> ByteKinds()
{
    std::array<uint8_t, 256> kinds {};
    for (int c = 0; c < 0x20; ++c)
        kinds[c] = kOtherControl;
    kinds['\n'] = kinds['\t'] = kLineOrTab;
    kinds['\r'] = kReturn;
    kinds['&'] = kAmpersand;
    kinds['<'] = kLessThan;
    for (int c = 0x80; c < 0x100; ++c)
        kinds[c] = kHigh;
    return kinds;
}

constexpr std::array<uint8_t, 256> kByteKinds = ByteKinds();

} // namespace

// The kinds of every byte are gathered without a branch, four at a time, and judged once:
// the text of a cell is a few bytes long, and nearly always plain.
unsigned CheckText(const char* begin, const char* end, bool attribute, bool raw)
{
    const auto* p = reinterpret_cast<const unsigned char*>(begin);
    const auto* const stop = reinterpret_cast<const unsigned char*>(end);
    unsigned kinds = 0;
    for (; stop - p >= 4; p += 4)
        kinds |= kByteKinds[p[0]] | kByteKinds[p[1]] | kByteKinds[p[2]] | kByteKinds[p[3]];
    for (; p < stop; ++p)
        kinds |= kByteKinds[*p];
    if (kinds == 0)
        return kPlain;
    // Other control characters, and "<" (only possible in attribute values).
    if ((kinds & kOtherControl) || ((kinds & kLessThan) && !raw))
        return kBad;
    unsigned result = kPlain;
    if (kinds & kHigh)
        result |= kNonAscii;
    if ((kinds & kReturn) || ((kinds & kAmpersand) && !raw) || ((kinds & kLineOrTab) && attribute))
        result |= kDecode;
    return result;
}

bool IsNameStart(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
}

bool IsNameChar(unsigned char c)
{
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

bool IsName(std::string_view name)
{
    if (name.empty() || !IsNameStart(static_cast<unsigned char>(name[0])))
        return false;
    bool nonAscii = false;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (!IsNameChar(u))
            return false;
        nonAscii |= u >= 0x80;
    }
    return !nonAscii
        || IsValidUtf8(reinterpret_cast<const unsigned char*>(name.data()),
            reinterpret_cast<const unsigned char*>(name.data() + name.size()));
}

void Malformed(const std::string& why)
{
    throw SpreadsheetError(ErrorCode::Corrupt, "the XML is malformed (" + why + ")");
}

char* DecodeInPlace(char* begin, char* end, bool attribute)
{
    char* out = begin;
    for (char* p = begin; p < end;) {
        const char c = *p;
        if (c == '&') {
            char* semicolon = p + 1;
            while (semicolon < end && semicolon - p <= 12 && *semicolon != ';')
                ++semicolon;
            if (semicolon >= end || *semicolon != ';')
                return nullptr;
            if (!DecodeReference(std::string_view(p + 1, static_cast<size_t>(semicolon - p - 1)), out))
                return nullptr;
            p = semicolon + 1;
        } else if (c == '\r') {
            *out++ = attribute ? ' ' : '\n';
            p += (p + 1 < end && p[1] == '\n') ? 2 : 1;
        } else if (attribute && (c == '\n' || c == '\t')) {
            *out++ = ' ';
            ++p;
        } else {
            *out++ = c;
            ++p;
        }
    }
    return out;
}

void AppendDecoded(std::string_view text, bool attribute, std::string& out)
{
    const size_t start = out.size();
    out.append(text);
    char* begin = out.data() + start;
    char* end = DecodeInPlace(begin, begin + text.size(), attribute);
    if (!end)
        Malformed("a character or entity reference is not valid; only the predefined entities are allowed");
    out.resize(start + static_cast<size_t>(end - begin));
}

bool IsUtf8Document(std::string_view head)
{
    if (head.starts_with("\xFE\xFF") || head.starts_with("\xFF\xFE")
        || (head.size() >= 2 && (head[0] == '\0' || head[1] == '\0')))
        return false;
    if (head.starts_with("\xEF\xBB\xBF"))
        head.remove_prefix(3);
    if (!head.starts_with("<?xml"))
        return true;
    const std::string_view declaration = head.substr(0, head.find("?>"));
    const size_t at = declaration.find("encoding");
    if (at == std::string_view::npos)
        return true;
    // A declaration the scanner cannot read goes to Expat, which says what is wrong.
    const size_t quote = declaration.find_first_of("\"'", at);
    if (quote == std::string_view::npos)
        return false;
    const size_t close = declaration.find(declaration[quote], quote + 1);
    if (close == std::string_view::npos)
        return false;
    std::string name(declaration.substr(quote + 1, close - quote - 1));
    for (char& c : name)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return name == "utf-8" || name == "utf8";
}

bool ScannerReads(std::string_view firstPiece)
{
    return IsUtf8Document(firstPiece);
}

} // namespace vellumcast::spreadsheet::xml
