#include "spreadsheet/text/TextEncoding.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace vellumcast::spreadsheet::text {

namespace {

// Code points of the bytes 0x80-0x9F; the rest of the code page equals Latin-1.
constexpr uint16_t kHighControls[32] = {
    0x20AC,
    0x0081,
    0x201A,
    0x0192,
    0x201E,
    0x2026,
    0x2020,
    0x2021,
    0x02C6,
    0x2030,
    0x0160,
    0x2039,
    0x0152,
    0x008D,
    0x017D,
    0x008F,
    0x0090,
    0x2018,
    0x2019,
    0x201C,
    0x201D,
    0x2022,
    0x2013,
    0x2014,
    0x02DC,
    0x2122,
    0x0161,
    0x203A,
    0x0153,
    0x009D,
    0x017E,
    0x0178,
};

bool IsContinuation(uint8_t byte)
{
    return (byte & 0xC0) == 0x80;
}

} // namespace

bool IsValidUtf8(std::string_view bytes)
{
    return ValidUtf8Prefix(bytes) == bytes.size();
}

bool IsAscii(std::string_view bytes)
{
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, 8);
        if ((word & 0x8080808080808080ull) != 0)
            return false;
    }
    for (; i < bytes.size(); ++i) {
        if (data[i] >= 0x80)
            return false;
    }
    return true;
}

void AppendUtf8Repaired(std::string_view bytes, std::string& out)
{
    while (!bytes.empty()) {
        const size_t valid = ValidUtf8Prefix(bytes);
        out.append(bytes.substr(0, valid));
        if (valid == bytes.size())
            return;
        AppendUtf8(0xFFFD, out);
        bytes.remove_prefix(valid + 1);
    }
}

size_t ValidUtf8Prefix(std::string_view bytes)
{
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    const size_t size = bytes.size();
    size_t i = 0;
    while (i < size) {
        // Most text is ASCII: check eight bytes at a time.
        if (i + 8 <= size) {
            uint64_t word;
            std::memcpy(&word, data + i, 8);
            if ((word & 0x8080808080808080ull) == 0) {
                i += 8;
                continue;
            }
        }
        const uint8_t lead = data[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        size_t length;
        uint8_t low = 0x80, high = 0xBF; // the allowed range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0)
                low = 0xA0; // overlong
            else if (lead == 0xED)
                high = 0x9F; // surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0)
                low = 0x90; // overlong
            else if (lead == 0xF4)
                high = 0x8F; // past U+10FFFF
        } else {
            return i;
        }
        if (size - i < length)
            return i;
        if (data[i + 1] < low || data[i + 1] > high)
            return i;
        for (size_t k = 2; k < length; ++k) {
            if (!IsContinuation(data[i + k]))
                return i;
        }
        i += length;
    }
    return size;
}

std::string Windows1252ToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    AppendWindows1252(bytes, out);
    return out;
}

void AppendWindows1252(std::string_view bytes, std::string& out)
{
    for (const char c : bytes) {
        const auto byte = static_cast<uint8_t>(c);
        if (byte < 0x80) {
            out.push_back(c);
            continue;
        }
        const uint32_t code = byte < 0xA0 ? kHighControls[byte - 0x80] : byte;
        if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
}

void AppendUtf8(uint32_t code, std::string& out)
{
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

ByteOrderMark ByteOrderMarkOf(std::string_view bytes)
{
    if (bytes.starts_with("\xEF\xBB\xBF"))
        return ByteOrderMark::Utf8;
    if (bytes.starts_with("\xFE\xFF"))
        return ByteOrderMark::Utf16BE;
    if (bytes.starts_with("\xFF\xFE") && !bytes.starts_with(std::string_view("\xFF\xFE\0\0", 4)))
        return ByteOrderMark::Utf16LE;
    return ByteOrderMark::None;
}

size_t ByteOrderMarkLength(ByteOrderMark mark)
{
    switch (mark) {
    case ByteOrderMark::None:
        return 0;
    case ByteOrderMark::Utf8:
        return 3;
    case ByteOrderMark::Utf16LE:
    case ByteOrderMark::Utf16BE:
        return 2;
    }
    return 0;
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian)
{
    constexpr uint32_t kReplacement = 0xFFFD;
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    const size_t units = bytes.size() / 2;
    const auto unitAt = [&](size_t i) -> uint32_t {
        const uint8_t first = data[2 * i], second = data[2 * i + 1];
        return bigEndian ? (uint32_t { first } << 8) | second : (uint32_t { second } << 8) | first;
    };
    std::string out;
    out.reserve(units + units / 2);
    for (size_t i = 0; i < units; ++i) {
        const uint32_t unit = unitAt(i);
        if (unit < 0x80) {
            out.push_back(static_cast<char>(unit));
        } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units && unitAt(i + 1) >= 0xDC00
            && unitAt(i + 1) <= 0xDFFF) {
            AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (unitAt(i + 1) - 0xDC00), out);
            ++i;
        } else {
            AppendUtf8(unit >= 0xD800 && unit <= 0xDFFF ? kReplacement : unit, out);
        }
    }
    if (bytes.size() % 2 != 0)
        AppendUtf8(kReplacement, out);
    return out;
}

ByteOrderMark Utf16XmlOrder(std::string_view head)
{
    const ByteOrderMark mark = ByteOrderMarkOf(head);
    if (mark == ByteOrderMark::Utf16LE || mark == ByteOrderMark::Utf16BE)
        return mark;
    if (head.starts_with(std::string_view("<\0", 2)) && !head.starts_with(std::string_view("<\0\0", 3)))
        return ByteOrderMark::Utf16LE;
    if (head.starts_with(std::string_view("\0<", 2)))
        return ByteOrderMark::Utf16BE;
    return ByteOrderMark::None;
}

bool Utf16Decoder::Decode(std::string_view piece, bool final, std::string& out)
{
    const auto* data = reinterpret_cast<const uint8_t*>(piece.data());
    size_t at = 0;
    // Takes the next byte: the held ones first, then the piece's.
    const auto unitAt = [&](size_t index) -> uint32_t {
        const auto byte = [&](size_t i) -> uint32_t { return i < m_heldCount ? m_held[i] : data[i - m_heldCount]; };
        const uint32_t first = byte(index), second = byte(index + 1);
        return m_bigEndian ? (first << 8) | second : (second << 8) | first;
    };
    const size_t total = m_heldCount + piece.size();
    out.reserve(out.size() + total + total / 2);
    while (at + 2 <= total) {
        const uint32_t unit = unitAt(at);
        if (unit < 0x80) {
            out.push_back(static_cast<char>(unit));
            at += 2;
        } else if (unit < 0xD800 || unit > 0xDFFF) {
            AppendUtf8(unit, out);
            at += 2;
        } else if (unit <= 0xDBFF && at + 4 <= total) {
            const uint32_t low = unitAt(at + 2);
            if (low < 0xDC00 || low > 0xDFFF) {
                m_damageAt = m_consumed + at;
                return false;
            }
            AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), out);
            at += 4;
        } else if (unit <= 0xDBFF && !final) {
            break; // the pair's second half comes with the next piece
        } else {
            m_damageAt = m_consumed + at;
            return false;
        }
    }
    if (final && at != total) {
        m_damageAt = m_consumed + at;
        return false;
    }
    // Keep what is left (at most a high surrogate and one byte) for the next piece.
    uint8_t rest[3];
    const size_t left = total - at;
    for (size_t i = 0; i < left; ++i)
        rest[i] = static_cast<uint8_t>(at + i < m_heldCount ? m_held[at + i] : data[at + i - m_heldCount]);
    std::copy(rest, rest + left, m_held);
    m_heldCount = static_cast<uint8_t>(left);
    m_consumed += at;
    return true;
}

namespace {

// Whether the whole units of data read in one byte order as text: no control character
// but tab, line feed and carriage return, and every surrogate in a pair (a high one may
// end the head, its pair cut off). Binary files with zeros at one parity fail it.
bool ReadsAsUtf16(const uint8_t* data, size_t whole, bool bigEndian)
{
    bool wantLow = false;
    for (size_t i = 0; i < whole; i += 2) {
        const uint32_t unit
            = bigEndian ? (uint32_t { data[i] } << 8) | data[i + 1] : data[i] | (uint32_t { data[i + 1] } << 8);
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (low != wantLow || (unit < 0x20 && unit != '\t' && unit != '\n' && unit != '\r'))
            return false;
        wantLow = unit >= 0xD800 && unit <= 0xDBFF;
    }
    return true;
}

} // namespace

TextFormFound TextFormOf(std::string_view head)
{
    if (head.starts_with(std::string_view("\xFF\xFE\0\0", 4)))
        return { TextForm::Utf32LE, 4 };
    if (head.starts_with(std::string_view("\0\0\xFE\xFF", 4)))
        return { TextForm::Utf32BE, 4 };
    if (head.starts_with("\xFF\xFE"))
        return { TextForm::Utf16LE, 2 };
    if (head.starts_with("\xFE\xFF"))
        return { TextForm::Utf16BE, 2 };
    const auto* data = reinterpret_cast<const uint8_t*>(head.data());
    if (head.size() < 4 || std::memchr(data, 0, head.size()) == nullptr)
        return {};
    // UTF-16: zero bytes at one parity (the high bytes of ASCII characters), at the other
    // only as rarely as characters such as U+3000 put them there; never a zero unit, which
    // the ASCII characters of UTF-32 give instead.
    size_t zeroEven = 0, zeroOdd = 0;
    bool zeroUnit = false;
    const size_t whole = head.size() / 2 * 2;
    for (size_t i = 0; i < whole; i += 2) {
        zeroUnit |= data[i] == 0 && data[i + 1] == 0;
        zeroEven += data[i] == 0 ? 1 : 0;
        zeroOdd += data[i + 1] == 0 ? 1 : 0;
    }
    if (!zeroUnit) {
        if (zeroOdd > 0 && zeroEven * 20 <= zeroOdd && ReadsAsUtf16(data, whole, false))
            return { TextForm::Utf16LE, 0 };
        if (zeroEven > 0 && zeroOdd * 20 <= zeroEven && ReadsAsUtf16(data, whole, true))
            return { TextForm::Utf16BE, 0 };
        return {};
    }
    // UTF-32: every whole unit a character, in one byte order or the other.
    const size_t units32 = head.size() / 4;
    for (const TextForm form : { TextForm::Utf32LE, TextForm::Utf32BE }) {
        bool every = true;
        for (size_t i = 0; i < units32 && every; ++i) {
            const uint8_t* u = data + 4 * i;
            const uint32_t code = form == TextForm::Utf32LE
                ? u[0] | (uint32_t { u[1] } << 8) | (uint32_t { u[2] } << 16) | (uint32_t { u[3] } << 24)
                : u[3] | (uint32_t { u[2] } << 8) | (uint32_t { u[1] } << 16) | (uint32_t { u[0] } << 24);
            every = code != 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        }
        if (every)
            return { form, 0 };
    }
    return {};
}

uint32_t WideTextDecoder::UnitAt(const uint8_t* u) const
{
    switch (m_form) {
    case TextForm::Utf16LE:
        return u[0] | (uint32_t { u[1] } << 8);
    case TextForm::Utf16BE:
        return u[1] | (uint32_t { u[0] } << 8);
    case TextForm::Utf32LE:
        return u[0] | (uint32_t { u[1] } << 8) | (uint32_t { u[2] } << 16) | (uint32_t { u[3] } << 24);
    case TextForm::Utf32BE:
        return u[3] | (uint32_t { u[2] } << 8) | (uint32_t { u[1] } << 16) | (uint32_t { u[0] } << 24);
    case TextForm::Bytes:
        break;
    }
    return u[0];
}

void WideTextDecoder::Decode(std::string_view piece, bool final, std::string& out)
{
    constexpr uint32_t kReplacement = 0xFFFD;
    std::string_view bytes = piece;
    if (!m_held.empty()) {
        m_held.append(piece);
        bytes = m_held;
    }
    const size_t unit = m_form == TextForm::Utf32LE || m_form == TextForm::Utf32BE ? 4 : 2;
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    out.reserve(out.size() + bytes.size() / unit + bytes.size() / (2 * unit) + 4);
    size_t at = 0;
    while (at + unit <= bytes.size()) {
        const uint32_t code = UnitAt(data + at);
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
            at += unit;
        } else if (code < 0xD800 || (code > 0xDFFF && code <= 0x10FFFF)) {
            AppendUtf8(code, out);
            at += unit;
        } else if (unit == 2 && code <= 0xDBFF && at + 4 > bytes.size() && !final) {
            break; // the pair's second half comes with the next piece
        } else if (unit == 2 && code <= 0xDBFF && at + 4 <= bytes.size()) {
            const uint32_t low = UnitAt(data + at + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00), out);
                at += 4;
            } else {
                AppendUtf8(kReplacement, out);
                at += 2;
            }
        } else {
            AppendUtf8(kReplacement, out);
            at += unit;
        }
    }
    std::string rest(bytes.substr(at));
    m_held = std::move(rest);
    if (final && !m_held.empty()) {
        AppendUtf8(kReplacement, out);
        m_held.clear();
    }
}

} // namespace vellumcast::spreadsheet::text
