#include "spreadsheet/container/Inflate.h"

#include "spreadsheet/SpreadsheetError.h"

#include <zlib.h>

#include <algorithm>

namespace vellumcast::spreadsheet::container {

struct Inflater::State {
    z_stream stream {};
};

Inflater::Inflater()
    : m_state(std::make_unique<State>())
{
    // Negative window bits: a raw deflate stream, without zlib's header and trailer.
    if (inflateInit2(&m_state->stream, -MAX_WBITS) != Z_OK)
        throw SpreadsheetError(ErrorCode::Corrupt, "the inflater cannot start (out of memory)");
}

Inflater::~Inflater()
{
    inflateEnd(&m_state->stream);
}

void Inflater::SetInput(const uint8_t* data, size_t size)
{
    m_state->stream.next_in = const_cast<Bytef*>(data);
    m_state->stream.avail_in = static_cast<uInt>(size);
}

size_t Inflater::InputLeft() const
{
    return m_state->stream.avail_in;
}

Inflater::Status Inflater::Inflate(uint8_t* out, size_t capacity, size_t& produced)
{
    z_stream& stream = m_state->stream;
    stream.next_out = out;
    stream.avail_out = static_cast<uInt>(capacity);
    const int status = inflate(&stream, Z_NO_FLUSH);
    produced = capacity - stream.avail_out;
    if (status == Z_STREAM_END)
        return Status::Finished;
    // Z_BUF_ERROR only says no progress was possible; the caller sees that from the counts.
    return status == Z_OK || status == Z_BUF_ERROR ? Status::Going : Status::Damaged;
}

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size)
{
    // zlib takes at most 4 GiB at a time.
    while (size > 0) {
        const auto piece = static_cast<uInt>(std::min<size_t>(size, 1u << 30));
        crc = static_cast<uint32_t>(crc32(crc, data, piece));
        data += piece;
        size -= piece;
    }
    return crc;
}

const char* InflateLibrary()
{
    return "zlib";
}

} // namespace vellumcast::spreadsheet::container
