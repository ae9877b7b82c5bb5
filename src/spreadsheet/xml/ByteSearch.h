#pragma once
// Searches for bytes in XML text, shared by the scanner and the formats' direct paths.
// Most runs in spreadsheet XML (a value, a number, a name) are a few bytes long, where a
// call to memchr costs more than looking, so short distances are searched inline first.

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vellumcast::spreadsheet::xml {

// The first c in [from, end), or end.
inline const char* FindByte(const char* from, const char* end, char c)
{
#if defined(__SSE2__)
    const __m128i wanted = _mm_set1_epi8(c);
    for (int step = 0; step < 4 && end - from >= 16; ++step) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        const auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, wanted)));
        if (mask != 0)
            return from + __builtin_ctz(mask);
        from += 16;
    }
#endif
    const char* const shortEnd = end - from > 24 ? from + 24 : end;
    for (; from < shortEnd; ++from) {
        if (*from == c)
            return from;
    }
    if (from == end)
        return end;
    const void* found = std::memchr(from, c, static_cast<size_t>(end - from));
    return found ? static_cast<const char*>(found) : end;
}

// The first byte in [from, end) that is one of Bytes, or end: sixteen bytes at a time,
// each compared with every byte of the set.
template <char... Bytes> const char* FindAnyOf(const char* from, const char* end)
{
#if defined(__SSE2__)
    while (end - from >= 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        __m128i hit = _mm_setzero_si128();
        ((hit = _mm_or_si128(hit, _mm_cmpeq_epi8(block, _mm_set1_epi8(Bytes)))), ...);
        const int mask = _mm_movemask_epi8(hit);
        if (mask != 0)
            return from + __builtin_ctz(static_cast<unsigned>(mask));
        from += 16;
    }
#endif
    for (; from < end; ++from) {
        const char c = *from;
        if (((c == Bytes) || ...))
            return from;
    }
    return end;
}

} // namespace vellumcast::spreadsheet::xml
