#pragma once
// The shared strings of a workbook: one block of text and where each string ends. A
// workbook's cells look their strings up in no order while they are exported; two compact
// arrays keep those lookups in the processor's caches far more often than a separately
// allocated string apiece would. The ends are kept in 32 bits while the text fits them
// (every real workbook's does), half the memory the lookups miss the caches on, and in 64
// bits once it outgrows them.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vellumcast::spreadsheet {

class SharedStringTable {
public:
    SharedStringTable() = default;
    // A table whose ends stay in 32 bits up to narrowLimit bytes of text, for tests that
    // cross that limit without 4 GiB of text.
    explicit SharedStringTable(uint64_t narrowLimit)
        : m_narrowLimit(narrowLimit)
    {
    }

    // A table moved from holds no bounds at all, and no strings.
    size_t size() const
    {
        const size_t bounds = m_wide ? m_wideBounds.size() : m_bounds.size();
        return bounds == 0 ? 0 : bounds - 1;
    }
    bool empty() const { return size() == 0; }
    void reserve(size_t count)
    {
        if (m_wide)
            m_wideBounds.reserve(count + 1);
        else
            m_bounds.reserve(count + 1);
    }
    // Room for this many bytes of text, so that the text is not copied as it grows: each
    // copy would touch fresh pages, which cost more than the copying.
    void ReserveText(size_t bytes) { m_text.reserve(bytes); }
    void push_back(std::string_view text)
    {
        m_text.append(text);
        if (!m_wide && m_text.size() > m_narrowLimit)
            Widen();
        if (m_wide)
            m_wideBounds.push_back(m_text.size());
        else
            m_bounds.push_back(static_cast<uint32_t>(m_text.size()));
    }
    std::string_view back() const { return (*this)[size() - 1]; }
    // The string at index, which lies below size(); valid until the next push_back.
    std::string_view operator[](size_t index) const
    {
        if (m_wide)
            return std::string_view(m_text).substr(m_wideBounds[index], m_wideBounds[index + 1] - m_wideBounds[index]);
        return std::string_view(m_text).substr(m_bounds[index], m_bounds[index + 1] - m_bounds[index]);
    }

    // Asks the processor to fetch the string at index (an index past the table is
    // ignored) into its caches, so that reading it a little later does not wait on memory:
    // strings are looked up in no order, and a table of thousands outgrows the caches.
    // Where each string starts is read at once: those ends take far less room than the
    // text, and stay in the caches far more often.
    void Prefetch(size_t index) const
    {
        if (index < size())
            PrefetchAddress(m_text.data() + (m_wide ? m_wideBounds[index] : m_bounds[index]));
    }

private:
    static void PrefetchAddress(const void* address)
    {
#if defined(__GNUC__) && defined(__x86_64__)
        // GCC drops __builtin_prefetch from a loop with no other effect; this it keeps.
        asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(address)));
#else
        __builtin_prefetch(address);
#endif
    }

    // Moves the ends to 64 bits, for text past m_narrowLimit bytes.
    void Widen()
    {
        m_wideBounds.assign(m_bounds.begin(), m_bounds.end());
        m_bounds = {};
        m_wide = true;
    }

    std::string m_text;
    // String i runs from bound i to bound i + 1: in m_bounds while the text fits 32 bits,
    // else in m_wideBounds.
    std::vector<uint32_t> m_bounds { 0 };
    std::vector<uint64_t> m_wideBounds;
    uint64_t m_narrowLimit = UINT32_MAX;
    bool m_wide = false;
};

} // namespace vellumcast::spreadsheet
