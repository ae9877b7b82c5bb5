#pragma once
// Whether a test may hold the program's peak memory to its bound. A sanitizer's allocator
// pads every block and keeps freed ones in quarantine, so there the peak says nothing of
// the program as shipped; the plain build's tests measure it.

namespace vellumcast::testing {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kPeakMemoryMeasurable = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kPeakMemoryMeasurable = false;
#else
inline constexpr bool kPeakMemoryMeasurable = true;
#endif
#else
inline constexpr bool kPeakMemoryMeasurable = true;
#endif

} // namespace vellumcast::testing
