#include "spreadsheet/container/Inflate.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

namespace vellumcast::spreadsheet::container {

struct Inflater::State {
    inflate_state stream;
};

Inflater::Inflater()
    : m_state(std::make_unique<State>())
{
    isal_inflate_init(&m_state->stream);
    m_state->stream.crc_flag = ISAL_DEFLATE;
}

Inflater::~Inflater() = default;

void Inflater::SetInput(const uint8_t* data, size_t size)
{
    m_state->stream.next_in = const_cast<uint8_t*>(data);
    m_state->stream.avail_in = static_cast<uint32_t>(size);
}

size_t Inflater::InputLeft() const
{
    return m_state->stream.avail_in;
}

Inflater::Status Inflater::Inflate(uint8_t* out, size_t capacity, size_t& produced)
{
    inflate_state& stream = m_state->stream;
    stream.next_out = out;
    stream.avail_out = static_cast<uint32_t>(capacity);
    const int status = isal_inflate(&stream);
    produced = capacity - stream.avail_out;
    if (status < 0)
        return Status::Damaged;
    return stream.block_state == ISAL_BLOCK_FINISH ? Status::Finished : Status::Going;
}

uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size)
{
    return crc32_gzip_refl(crc, data, size);
}

const char* InflateLibrary()
{
    return "ISA-L";
}

} // namespace vellumcast::spreadsheet::container
