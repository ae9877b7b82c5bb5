#include "core/HugePages.h"

#include <malloc.h>
#include <new>

namespace vellumcast::core {

// Windows gives large pages only to accounts holding the "lock pages in memory" right and
// only for VirtualAlloc'd memory; the buffers are aligned alike so the rest of the program
// does not change, and the advice is not given.
void AdviseHugePages(const void*, size_t) { }

void FreeAligned::operator()(void* data) const
{
    ::_aligned_free(data);
}

std::unique_ptr<void, FreeAligned> AllocateHugePageAligned(size_t size, bool)
{
    const size_t rounded = (size + kHugePageSize - 1) & ~(kHugePageSize - 1);
    void* data = ::_aligned_malloc(rounded, kHugePageSize);
    if (!data)
        throw std::bad_alloc();
    return std::unique_ptr<void, FreeAligned>(data);
}

} // namespace vellumcast::core
