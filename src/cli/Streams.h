#pragma once
// Workbooks that arrive through a stream rather than a file: standard input ("-") and
// paths naming a pipe or a terminal (/dev/stdin, <(…), a FIFO). They are read whole,
// within a stated limit, into memory whose addresses are reserved for the limit at once
// and taken as the bytes arrive, so the read costs the stream's size and never a copy;
// they are then opened from there.

#include "spreadsheet/FileBytes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>

namespace vellumcast::cli {

// The most a stream workbook may hold.
inline constexpr uint64_t kStreamLimit = uint64_t(2) << 30; // 2 GiB

// Whether path names a pipe or a character device (a terminal) rather than a file.
bool IsStream(const std::string& path);

// Reads what read gives (bytes into a buffer of the given size; 0 at the end, -1 on a
// failure with errno set) until the end. Throws std::runtime_error with the reason when
// the read fails, the stream holds more than limit bytes, or its bytes do not fit in
// memory, so a stream too large is refused rather than ending the program.
std::shared_ptr<const spreadsheet::FileBytes> ReadStream(
    const std::function<ssize_t(char*, size_t)>& read, uint64_t limit = kStreamLimit);

// Opens the stream at path (waiting for a pipe's writer, as any reader of it does) and
// reads it with ReadStream.
std::shared_ptr<const spreadsheet::FileBytes> ReadNamedStream(const std::string& path);

} // namespace vellumcast::cli
