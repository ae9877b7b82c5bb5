#include "core/ReservedMemory.h"

#include "core/HugePages.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include <sys/mman.h>
#include <unistd.h>

namespace vellumcast::core {

namespace {

size_t RoundedUp(size_t size, size_t unit)
{
    return (size + unit - 1) / unit * unit;
}

} // namespace

ReservedMemory::ReservedMemory(size_t capacity)
    : m_capacity(capacity)
    , m_reserved(RoundedUp(std::max<size_t>(capacity, 1), kHugePageSize))
{
    // No access yet: the addresses are held, and no memory is counted against the system
    // until a part is made usable. They start on a huge page, so that the parts made
    // usable can be given huge pages.
    const size_t mapped = m_reserved + kHugePageSize;
    void* data = ::mmap(nullptr, mapped, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (data == MAP_FAILED)
        throw std::bad_alloc();
    auto* const begin = static_cast<uint8_t*>(data);
    m_data = reinterpret_cast<uint8_t*>(RoundedUp(reinterpret_cast<uintptr_t>(begin), kHugePageSize));
    if (m_data > begin)
        ::munmap(begin, static_cast<size_t>(m_data - begin));
    if (const size_t after = mapped - static_cast<size_t>(m_data - begin) - m_reserved; after > 0)
        ::munmap(m_data + m_reserved, after);
}

ReservedMemory::~ReservedMemory()
{
    ::munmap(m_data, m_reserved);
}

void ReservedMemory::Commit(size_t size)
{
    if (size <= m_committed)
        return;
    if (size > m_capacity)
        throw std::bad_alloc();
    // In steps of an eighth of what is held, at least a huge page: few calls, little ahead.
    const size_t step = std::max(kHugePageSize, m_committed / 8);
    const size_t target = std::min(m_reserved, RoundedUp(std::max(size, m_committed + step), kHugePageSize));
    if (::mprotect(m_data + m_committed, target - m_committed, PROT_READ | PROT_WRITE) != 0)
        throw std::bad_alloc();
    AdviseHugePages(m_data + m_committed, target - m_committed);
    m_committed = target;
}

} // namespace vellumcast::core
