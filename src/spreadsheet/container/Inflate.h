#pragma once
// Raw deflate streams (ZIP method 8) inflated piece by piece, and the CRC-32 of ZIP
// members. Built on ISA-L, or on zlib where ISA-L is missing (the CMake option
// VELLUMCAST_ZLIB): the ZIP reader does not know which.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vellumcast::spreadsheet::container {

class Inflater {
public:
    Inflater();
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    enum class Status { Going, Finished, Damaged };

    // The next compressed bytes, at most 1 GiB; call once the previous ones are used up.
    void SetInput(const uint8_t* data, size_t size);
    // Compressed bytes given and not yet used.
    size_t InputLeft() const;
    // Inflates into out, up to capacity bytes; produced says how many were written.
    // Finished once the stream's last block is done.
    Status Inflate(uint8_t* out, size_t capacity, size_t& produced);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// The CRC-32 of data, continuing from crc (0 to start).
uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t size);

// The library in use: "ISA-L" or "zlib".
const char* InflateLibrary();

} // namespace vellumcast::spreadsheet::container
