#include "core/ReservedMemory.h"

#include "core/HugePages.h"

#include <algorithm>
#include <new>

#include <windows.h>

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
    // Reserved, not committed: nothing is charged to the system's commit limit yet.
    void* data = ::VirtualAlloc(nullptr, m_reserved, MEM_RESERVE, PAGE_NOACCESS);
    if (!data)
        throw std::bad_alloc();
    m_data = static_cast<uint8_t*>(data);
}

ReservedMemory::~ReservedMemory()
{
    ::VirtualFree(m_data, 0, MEM_RELEASE);
}

void ReservedMemory::Commit(size_t size)
{
    if (size <= m_committed)
        return;
    if (size > m_capacity)
        throw std::bad_alloc();
    // In steps of an eighth of what is held, at least 2 MiB: few calls, little ahead.
    const size_t step = std::max(kHugePageSize, m_committed / 8);
    const size_t target = std::min(m_reserved, RoundedUp(std::max(size, m_committed + step), kHugePageSize));
    if (!::VirtualAlloc(m_data + m_committed, target - m_committed, MEM_COMMIT, PAGE_READWRITE))
        throw std::bad_alloc();
    m_committed = target;
}

} // namespace vellumcast::core
