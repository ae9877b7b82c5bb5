#pragma once
// A buffer of unknown final size that never moves: its addresses are reserved for the
// most it may hold at once, and memory is taken only as it is filled. Reading a stream
// into it costs the stream's size, where a buffer grown by doubling and copying peaks at
// twice that.

#include <cstddef>
#include <cstdint>

namespace vellumcast::core {

class ReservedMemory {
public:
    // Reserves addresses for capacity bytes, taking no memory yet. Throws std::bad_alloc.
    explicit ReservedMemory(size_t capacity);
    ~ReservedMemory();
    ReservedMemory(const ReservedMemory&) = delete;
    ReservedMemory& operator=(const ReservedMemory&) = delete;

    uint8_t* Data() const { return m_data; }
    size_t Capacity() const { return m_capacity; }
    // Makes the first size bytes (at most the capacity) usable, keeping what those before
    // hold; memory is taken in steps, a little ahead. Throws std::bad_alloc.
    void Commit(size_t size);

private:
    uint8_t* m_data = nullptr;
    size_t m_capacity = 0;
    size_t m_reserved = 0; // the addresses reserved: the capacity in whole pages
    size_t m_committed = 0;
};

} // namespace vellumcast::core
