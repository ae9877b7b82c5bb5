#include "spreadsheet/xls/Biff.h"
#include "spreadsheet/text/TextEncoding.h"

#include "spreadsheet/SpreadsheetError.h"
#include "spreadsheet/container/ByteCursor.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace vellumcast::spreadsheet::xls {

namespace {

// A high surrogate waits for its low half; a lone half becomes U+FFFD.
void AppendUtf16Unit(uint16_t unit, uint32_t& pendingHigh, std::string& out)
{
    if (pendingHigh) {
        if (unit >= 0xDC00 && unit < 0xE000) {
            text::AppendUtf8(0x10000 + ((pendingHigh - 0xD800) << 10) + (unit - 0xDC00u), out);
            pendingHigh = 0;
            return;
        }
        text::AppendUtf8(0xFFFD, out);
        pendingHigh = 0;
    }
    if (unit >= 0xD800 && unit < 0xDC00)
        pendingHigh = unit;
    else if (unit >= 0xDC00 && unit < 0xE000)
        text::AppendUtf8(0xFFFD, out);
    else
        text::AppendUtf8(unit, out);
}

} // namespace

bool BiffRecordReader::Next(BiffRecord& record)
{
    if (m_position >= m_stream.size())
        return false;
    // Some writers pad the stream's last sector with zeros after the final EOF.
    if (m_stream.size() - m_position < 4)
        return false;
    const uint8_t* header = m_stream.data() + m_position;
    const uint16_t type = container::LoadU16(header);
    const uint16_t length = container::LoadU16(header + 2);
    if (length > m_stream.size() - m_position - 4)
        Corrupt("a record of the workbook stream runs past its end");
    record.type = type;
    record.offset = m_position;
    record.data = m_stream.subspan(m_position + 4, length);
    record.continues.clear();
    m_position += 4 + size_t { length };
    while (m_stream.size() - m_position >= 4 && container::LoadU16(m_stream.data() + m_position) == biff::kContinue) {
        const uint16_t more = container::LoadU16(m_stream.data() + m_position + 2);
        if (more > m_stream.size() - m_position - 4)
            Corrupt("a record of the workbook stream runs past its end");
        record.continues.push_back(m_stream.subspan(m_position + 4, more));
        m_position += 4 + size_t { more };
    }
    return true;
}

FragmentCursor::FragmentCursor(const BiffRecord& record)
    : m_current(record.data)
    , m_fragments(&record.continues)
{
}

bool FragmentCursor::Advance()
{
    while (m_next < m_fragments->size()) {
        m_current = (*m_fragments)[m_next++];
        m_position = 0;
        if (!m_current.empty())
            return true;
    }
    return false;
}

bool FragmentCursor::AtEnd()
{
    return m_position >= m_current.size() && !Advance();
}

uint64_t FragmentCursor::Remaining() const
{
    uint64_t total = m_current.size() - m_position;
    for (size_t i = m_next; i < m_fragments->size(); ++i)
        total += (*m_fragments)[i].size();
    return total;
}

uint8_t FragmentCursor::U8()
{
    if (AtEnd())
        Corrupt("a record of the workbook stream ends too early");
    return m_current[m_position++];
}

uint16_t FragmentCursor::U16()
{
    if (m_current.size() - m_position >= 2) {
        const uint16_t value = container::LoadU16(m_current.data() + m_position);
        m_position += 2;
        return value;
    }
    const uint16_t low = U8();
    return static_cast<uint16_t>(low | (U8() << 8));
}

uint32_t FragmentCursor::U32()
{
    const uint32_t low = U16();
    return low | (static_cast<uint32_t>(U16()) << 16);
}

void FragmentCursor::Skip(uint64_t count)
{
    while (count > 0) {
        if (AtEnd())
            Corrupt("a record of the workbook stream ends too early");
        const uint64_t here = std::min<uint64_t>(count, m_current.size() - m_position);
        m_position += static_cast<size_t>(here);
        count -= here;
    }
}

void FragmentCursor::ReadBytes(size_t count, std::string& out)
{
    while (count > 0) {
        if (AtEnd())
            Corrupt("a string of the workbook stream ends too early");
        const size_t here = std::min(count, m_current.size() - m_position);
        out.append(reinterpret_cast<const char*>(m_current.data() + m_position), here);
        m_position += here;
        count -= here;
    }
}

void FragmentCursor::ReadChars(size_t count, bool sixteenBit, std::string& out)
{
    uint32_t pendingHigh = 0;
    while (count > 0) {
        if (m_position >= m_current.size()) {
            // The characters continue in the next fragment, which opens with its own flags.
            if (!Advance())
                Corrupt("a string of the workbook stream ends too early");
            sixteenBit = (m_current[m_position++] & 0x01) != 0;
            continue;
        }
        const size_t available = m_current.size() - m_position;
        const uint8_t* data = m_current.data() + m_position;
        if (sixteenBit) {
            const size_t here = std::min(count, available / 2);
            if (here == 0) { // an odd byte before the boundary holds no character
                m_position = m_current.size();
                continue;
            }
            for (size_t i = 0; i < here; ++i)
                AppendUtf16Unit(container::LoadU16(data + 2 * i), pendingHigh, out);
            m_position += 2 * here;
            count -= here;
        } else {
            const size_t here = std::min(count, available);
            for (size_t i = 0; i < here; ++i) {
                const uint8_t byte = data[i];
                if (byte < 0x80) {
                    out += static_cast<char>(byte);
                } else {
                    out += static_cast<char>(0xC0 | (byte >> 6));
                    out += static_cast<char>(0x80 | (byte & 0x3F));
                }
            }
            m_position += here;
            count -= here;
        }
    }
    if (pendingHigh)
        text::AppendUtf8(0xFFFD, out);
}

void ReadUnicodeStringBody(FragmentCursor& cursor, size_t count, std::string& out)
{
    const uint8_t flags = cursor.U8();
    uint16_t runs = 0;
    uint32_t extended = 0;
    if (flags & 0x08)
        runs = cursor.U16();
    if (flags & 0x04)
        extended = cursor.U32();
    cursor.ReadChars(count, (flags & 0x01) != 0, out);
    // Formatting runs (4 bytes each) and phonetic data carry nothing displayed.
    cursor.Skip(4ull * runs + extended);
}

std::vector<std::string> ReadSharedStrings(const BiffRecord& record, const std::function<void()>& yield)
{
    FragmentCursor cursor(record);
    cursor.U32(); // total references
    const uint32_t declared = cursor.U32();
    std::vector<std::string> strings;
    // Each string takes at least three bytes, whatever count the file declares.
    strings.reserve(static_cast<size_t>(std::min<uint64_t>(declared, cursor.Remaining() / 3)));
    // Some writers declare fewer strings than they store, and cells refer to all of them:
    // every complete string is kept. Bytes after the declared count that do not form a
    // string are padding.
    while (!cursor.AtEnd()) {
        std::string text;
        try {
            const uint16_t count = cursor.U16();
            ReadUnicodeStringBody(cursor, count, text);
        } catch (const SpreadsheetError&) {
            if (strings.size() >= declared)
                break;
            throw;
        }
        strings.push_back(std::move(text));
        if (yield && strings.size() % 4096 == 0)
            yield();
    }
    return strings;
}

CodePageDecoder::CodePageDecoder()
{
    SetCodePage(1252);
}

CodePageDecoder::~CodePageDecoder() = default;

void CodePageDecoder::SetCodePage(uint16_t codePage)
{
    auto converter = core::CodePageConverter::Open(codePage);
    if (!converter) {
        if (m_converter)
            return; // keep the code page in use
        converter = core::CodePageConverter::Open(1252);
        codePage = 1252;
        if (!converter)
            return; // Latin-1 bytes as code points, below
    }
    m_converter = std::move(converter);
    m_codePage = codePage;
}

void CodePageDecoder::Append(std::span<const uint8_t> text, std::string& out)
{
    // ASCII reads the same in every code page but UTF-16.
    if (m_codePage != 1200 && std::all_of(text.begin(), text.end(), [](uint8_t byte) { return byte < 0x80; })) {
        out.append(reinterpret_cast<const char*>(text.data()), text.size());
        return;
    }
    if (!m_converter) {
        for (const uint8_t byte : text)
            text::AppendUtf8(byte, out);
        return;
    }
    while (!text.empty()) {
        text = text.subspan(m_converter->Convert(text, out));
        if (text.empty())
            break;
        // A byte the code page does not define (or a cut UTF-16 unit) shows as U+FFFD.
        text::AppendUtf8(0xFFFD, out);
        text = text.subspan(m_codePage == 1200 ? std::min<size_t>(2, text.size()) : 1);
    }
}

} // namespace vellumcast::spreadsheet::xls
