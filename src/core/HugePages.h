#pragma once
// Large buffers that are filled once and read through (a worksheet's cells, a text being
// composed, a workbook's bytes) cost one page fault per 4 KiB first touched, and on a
// virtual machine a fault costs microseconds. Transparent huge pages make it one fault
// per 2 MiB. Linux only grants them where a program asks (the usual "madvise" setting).

#include <cstddef>
#include <memory>

namespace vellumcast::core {

inline constexpr size_t kHugePageSize = size_t { 2 } << 20;

// Asks for huge pages on the whole 2 MiB pages inside [data, data + size). Only a hint:
// nothing happens where the kernel has them off, and small buffers are left alone.
void AdviseHugePages(const void* data, size_t size);

struct FreeAligned {
    void operator()(void* data) const;
};

// size bytes aligned to a huge page, uninitialised; advised as above when advise is set
// (a buffer that may stay nearly empty is better without: a huge page is cleared whole).
// Throws std::bad_alloc.
std::unique_ptr<void, FreeAligned> AllocateHugePageAligned(size_t size, bool advise = true);

} // namespace vellumcast::core
