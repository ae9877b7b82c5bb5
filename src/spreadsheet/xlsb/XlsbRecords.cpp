#include "spreadsheet/xlsb/XlsbRecords.h"

#include "spreadsheet/text/TextEncoding.h"

namespace vellumcast::spreadsheet::xlsb {

namespace {

// A header's fields, or false when the bytes end inside it.
struct Header {
    uint16_t type = 0;
    uint32_t size = 0;
    size_t length = 0; // of the header itself
};

bool ReadHeader(std::span<const uint8_t> bytes, Header& header, const std::string& part)
{
    size_t at = 0;
    uint32_t type = 0;
    for (int i = 0;; ++i) {
        if (at == bytes.size())
            return false;
        const uint8_t byte = bytes[at++];
        type |= static_cast<uint32_t>(byte & 0x7F) << (7 * i);
        if ((byte & 0x80) == 0)
            break;
        if (i == 1)
            Corrupt("a record type of " + part + " runs past two bytes");
    }
    uint32_t size = 0;
    for (int i = 0;; ++i) {
        if (at == bytes.size())
            return false;
        const uint8_t byte = bytes[at++];
        size |= static_cast<uint32_t>(byte & 0x7F) << (7 * i);
        if ((byte & 0x80) == 0)
            break;
        if (i == 3)
            Corrupt("a record size of " + part + " runs past four bytes");
    }
    if (size > kMaxRecordSize)
        throw SpreadsheetError(ErrorCode::TooLarge,
            "a record of " + part + " claims " + std::to_string(size) + " bytes, more than any real record holds");
    header.type = static_cast<uint16_t>(type);
    header.size = size;
    header.length = at;
    return true;
}

} // namespace

size_t RecordSplitter::SplitLong(std::span<const uint8_t> bytes, Record& record) const
{
    Header header;
    if (!ReadHeader(bytes, header, m_part) || bytes.size() - header.length < header.size)
        return 0;
    record.type = header.type;
    record.data = bytes.subspan(header.length, header.size);
    return header.length + header.size;
}

size_t RecordSplitter::NeededAfterHeader(std::span<const uint8_t> bytes) const
{
    Header header;
    if (!ReadHeader(bytes, header, m_part))
        return 0;
    const size_t have = bytes.size() - header.length;
    return have < header.size ? header.size - have : 0;
}

void RecordSplitter::Finish() const
{
    if (!m_carry.empty())
        Corrupt(m_part + " ends inside a record");
}

void RecordCursor::WideString(std::string& out)
{
    const uint32_t units = U32();
    if (units > Remaining() / 2)
        Corrupt("a string runs past the end of its record");
    const uint8_t* p = m_data.data() + m_position;
    const uint8_t* end = p + size_t { units } * 2;
    m_position += size_t { units } * 2;
    // Most text is ASCII: its units are written into the string as it stands until the
    // first that is not, rather than pushed one at a time.
    out.resize(units);
    char* const ascii = out.data();
    size_t written = 0;
    // Four units at a time while all four are: each below 0x80 in both its bytes.
    for (; end - p >= 8; p += 8, written += 4) {
        const uint64_t four = container::LoadU64(p);
        if ((four & 0xFF80FF80FF80FF80u) != 0)
            break;
        ascii[written] = static_cast<char>(four);
        ascii[written + 1] = static_cast<char>(four >> 16);
        ascii[written + 2] = static_cast<char>(four >> 32);
        ascii[written + 3] = static_cast<char>(four >> 48);
    }
    for (; p < end; p += 2, ++written) {
        const uint16_t code = container::LoadU16(p);
        if (code >= 0x80)
            break;
        ascii[written] = static_cast<char>(code);
    }
    out.resize(written);
    // The rest takes at most three bytes a unit (a surrogate pair, four for two).
    if (p < end)
        out.reserve(written + static_cast<size_t>(end - p) / 2 * 3);
    while (p < end) {
        uint32_t code = container::LoadU16(p);
        p += 2;
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
            continue;
        }
        if (code >= 0xD800 && code <= 0xDBFF && p < end) {
            const uint32_t low = container::LoadU16(p);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                p += 2;
            }
        }
        if (code >= 0xD800 && code <= 0xDFFF)
            code = 0xFFFD;
        text::AppendUtf8(code, out);
    }
}

void RecordCursor::NullableWideString(std::string& out)
{
    Need(4);
    if (container::LoadU32(m_data.data() + m_position) == 0xFFFFFFFFu) {
        m_position += 4;
        out.clear();
        return;
    }
    WideString(out);
}

} // namespace vellumcast::spreadsheet::xlsb
