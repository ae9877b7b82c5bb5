#pragma once
// A bounds-checked reader of little-endian values over a byte span. Reading past the end
// throws SpreadsheetError(Corrupt) with the caller's description of what was being read.

#include "spreadsheet/SpreadsheetError.h"

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

namespace vellumcast::spreadsheet::container {

inline uint16_t LoadU16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t LoadU32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16)
        | (static_cast<uint32_t>(p[3]) << 24);
}

// Built from two 32-bit halves, which the compiler reads in one load each; a loop over the
// eight bytes stays a loop.
inline uint64_t LoadU64(const uint8_t* p)
{
    return LoadU32(p) | (uint64_t { LoadU32(p + 4) } << 32);
}

inline double LoadF64(const uint8_t* p)
{
    const uint64_t bits = LoadU64(p);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

class ByteCursor {
public:
    ByteCursor(std::span<const uint8_t> bytes, const char* what)
        : m_bytes(bytes)
        , m_what(what)
    {
    }

    // A cursor that starts at an offset read from the file; one past the end simply has
    // nothing left to read.
    ByteCursor(std::span<const uint8_t> bytes, size_t start, const char* what)
        : m_bytes(bytes)
        , m_what(what)
        , m_position(start)
    {
    }

    size_t Position() const { return m_position; }
    size_t Remaining() const { return m_position < m_bytes.size() ? m_bytes.size() - m_position : 0; }
    bool AtEnd() const { return m_position >= m_bytes.size(); }
    bool Has(size_t count) const { return count <= Remaining(); }

    uint8_t U8()
    {
        Need(1);
        return m_bytes[m_position++];
    }
    uint16_t U16()
    {
        Need(2);
        const uint16_t value = LoadU16(m_bytes.data() + m_position);
        m_position += 2;
        return value;
    }
    uint32_t U32()
    {
        Need(4);
        const uint32_t value = LoadU32(m_bytes.data() + m_position);
        m_position += 4;
        return value;
    }
    uint64_t U64()
    {
        const uint64_t low = U32();
        const uint64_t high = U32();
        return low | (high << 32);
    }
    double F64()
    {
        Need(8);
        const double value = LoadF64(m_bytes.data() + m_position);
        m_position += 8;
        return value;
    }
    std::span<const uint8_t> Take(size_t count)
    {
        Need(count);
        const auto part = m_bytes.subspan(m_position, count);
        m_position += count;
        return part;
    }
    std::string_view Text(size_t count)
    {
        const auto part = Take(count);
        return { reinterpret_cast<const char*>(part.data()), part.size() };
    }
    void Skip(size_t count)
    {
        Need(count);
        m_position += count;
    }

private:
    void Need(size_t count) const
    {
        if (count > Remaining())
            throw SpreadsheetError(ErrorCode::Corrupt, std::string(m_what) + " ends too early");
    }

    std::span<const uint8_t> m_bytes;
    const char* m_what;
    size_t m_position = 0;
};

} // namespace vellumcast::spreadsheet::container
