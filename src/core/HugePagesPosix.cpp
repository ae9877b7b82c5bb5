#include "core/HugePages.h"

#include <cstdint>
#include <cstdlib>
#include <new>

#include <sys/mman.h>

namespace vellumcast::core {

void AdviseHugePages(const void* data, size_t size)
{
#ifdef MADV_HUGEPAGE
    const auto begin = reinterpret_cast<uintptr_t>(data);
    const uintptr_t first = (begin + kHugePageSize - 1) & ~(kHugePageSize - 1);
    const uintptr_t last = (begin + size) & ~(kHugePageSize - 1);
    if (last > first)
        madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)data;
    (void)size;
#endif
}

void FreeAligned::operator()(void* data) const
{
    std::free(data);
}

std::unique_ptr<void, FreeAligned> AllocateHugePageAligned(size_t size, bool advise)
{
    const size_t rounded = (size + kHugePageSize - 1) & ~(kHugePageSize - 1);
    void* data = std::aligned_alloc(kHugePageSize, rounded);
    if (!data)
        throw std::bad_alloc();
    if (advise)
        AdviseHugePages(data, rounded);
    return std::unique_ptr<void, FreeAligned>(data);
}

} // namespace vellumcast::core
