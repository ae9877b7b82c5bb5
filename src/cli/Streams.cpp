#include "cli/Streams.h"

#include "core/Files.h"

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

std::string ReadStream(const std::function<ssize_t(char*, size_t)>& read, uint64_t limit)
{
    constexpr size_t kChunk = size_t(1) << 20;
    std::string bytes;
    try {
        for (;;) {
            const size_t before = bytes.size();
            // One byte past the limit tells a stream of exactly the limit from a longer one.
            const size_t room = static_cast<size_t>(std::min<uint64_t>(kChunk, limit + 1 - before));
            bytes.resize(before + room);
            const ssize_t got = read(bytes.data() + before, room);
            if (got < 0 && errno == EINTR) {
                bytes.resize(before);
                continue;
            }
            if (got < 0)
                throw std::runtime_error(std::strerror(errno));
            bytes.resize(before + static_cast<size_t>(got));
            if (got == 0)
                return bytes;
            if (bytes.size() > limit)
                throw std::runtime_error("it holds more than " + SizeText(limit)
                    + ", the most read from standard input or a pipe; save it to a file and name the file");
        }
    } catch (const std::bad_alloc&) {
        throw std::runtime_error("it does not fit in memory (" + std::to_string(bytes.size() >> 20)
            + " MiB read); save it to a file and name the file");
    }
}

std::string ReadNamedStream(const std::string& path)
{
    const int fd = core::OpenForReading(path);
    if (fd < 0)
        throw std::runtime_error(std::strerror(errno));
    try {
        std::string bytes = ReadStream([fd](char* buffer, size_t size) { return core::ReadSome(fd, buffer, size); });
        core::CloseFile(fd);
        return bytes;
    } catch (...) {
        core::CloseFile(fd);
        throw;
    }
}

} // namespace vellumcast::cli
