#include "cli/Streams.h"

#include "core/Files.h"
#include "core/ReservedMemory.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>

namespace vellumcast::cli {

namespace {

std::string SizeText(uint64_t bytes)
{
    if (bytes >= (uint64_t(1) << 30) && bytes % (uint64_t(1) << 30) == 0)
        return std::to_string(bytes >> 30) + " GiB";
    return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

} // namespace

bool IsStream(const std::string& path)
{
    return path != "-" && core::IsStreamPath(path);
}

std::shared_ptr<const spreadsheet::FileBytes> ReadStream(
    const std::function<ssize_t(char*, size_t)>& read, uint64_t limit)
{
    constexpr size_t kChunk = size_t(1) << 20;
    size_t size = 0;
    try {
        // One byte past the limit tells a stream of exactly the limit from a longer one.
        // Where the addresses for all of it are not to be had (a limit on them), fewer
        // are reserved, and a stream past them does not fit.
        std::shared_ptr<core::ReservedMemory> memory;
        for (uint64_t capacity = limit + 1; !memory;) {
            try {
                memory = std::make_shared<core::ReservedMemory>(static_cast<size_t>(capacity));
            } catch (const std::bad_alloc&) {
                if (capacity <= kChunk)
                    throw;
                capacity /= 2;
            }
        }
        for (;;) {
            if (size == memory->Capacity())
                throw std::bad_alloc();
            const size_t room = std::min(kChunk, memory->Capacity() - size);
            memory->Commit(size + room);
            const ssize_t got = read(reinterpret_cast<char*>(memory->Data()) + size, room);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                throw std::runtime_error(std::strerror(errno));
            size += static_cast<size_t>(got);
            if (got == 0) {
                const std::span<const uint8_t> bytes(memory->Data(), size);
                return spreadsheet::FileBytes::Holding(std::move(memory), bytes);
            }
            if (size > limit)
                throw std::runtime_error("it holds more than " + SizeText(limit)
                    + ", the most read from standard input or a pipe; save it to a file and name the file");
        }
    } catch (const std::bad_alloc&) {
        throw std::runtime_error("it does not fit in memory (" + std::to_string(size >> 20)
            + " MiB read); save it to a file and name the file");
    }
}

std::shared_ptr<const spreadsheet::FileBytes> ReadNamedStream(const std::string& path)
{
    const int fd = core::OpenForReading(path);
    if (fd < 0)
        throw std::runtime_error(std::strerror(errno));
    try {
        auto bytes = ReadStream([fd](char* buffer, size_t size) { return core::ReadSome(fd, buffer, size); });
        core::CloseFile(fd);
        return bytes;
    } catch (...) {
        core::CloseFile(fd);
        throw;
    }
}

} // namespace vellumcast::cli
