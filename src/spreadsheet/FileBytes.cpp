#include "core/HugePages.h"
#include "spreadsheet/WorkbookReader.h"
#include "spreadsheet/container/Zip.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace vellumcast::spreadsheet {

namespace {

class BufferBytes final : public FileBytes {
public:
    explicit BufferBytes(std::string bytes)
        : m_bytes(std::move(bytes))
    {
    }
    std::span<const uint8_t> Bytes() const override
    {
        return { reinterpret_cast<const uint8_t*>(m_bytes.data()), m_bytes.size() };
    }

private:
    std::string m_bytes;
};

// Bytes read from a file into memory that is not cleared first: a file of hundreds of
// megabytes is written to memory once, not twice, on huge pages once it is large.
class ReadBytes final : public FileBytes {
public:
    explicit ReadBytes(size_t size)
        : m_size(size)
    {
        if (size >= core::kHugePageSize) {
            m_huge = core::AllocateHugePageAligned(size);
            m_data = static_cast<uint8_t*>(m_huge.get());
        } else {
            m_small = std::make_unique_for_overwrite<uint8_t[]>(size);
            m_data = m_small.get();
        }
    }
    std::span<const uint8_t> Bytes() const override { return { m_data, m_size }; }
    uint8_t* Data() { return m_data; }

private:
    std::unique_ptr<void, core::FreeAligned> m_huge;
    std::unique_ptr<uint8_t[]> m_small;
    uint8_t* m_data;
    size_t m_size;
};

std::string SystemReason(int error)
{
    switch (error) {
    case ENOENT:
        return "the file does not exist";
    case EACCES:
    case EPERM:
        return "permission to read the file is denied";
    default:
        return std::strerror(error);
    }
}

// Closes the descriptor however the read ends.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd)
        : m_fd(fd)
    {
    }
    ~FileDescriptor() { ::close(m_fd); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

void RequireRegularFile(const struct stat& info)
{
    if (S_ISDIR(info.st_mode))
        throw SpreadsheetError(ErrorCode::NotAFile, "it is a folder, not a workbook");
    if (!S_ISREG(info.st_mode))
        throw SpreadsheetError(ErrorCode::NotAFile, "it is not a regular file, so it is not a workbook");
}

// Reads exactly size bytes. A file that another program shortens meanwhile ends early:
// that is a damaged workbook, not a crash, which a mapping of it would have been.
std::shared_ptr<const FileBytes> ReadWhole(int fd, size_t size)
{
    auto bytes = std::make_shared<ReadBytes>(size);
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, bytes->Data() + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw SpreadsheetError(ErrorCode::NotFound, SystemReason(errno));
        if (got == 0)
            throw SpreadsheetError(ErrorCode::Corrupt,
                "the file is damaged: it shrank from " + std::to_string(size) + " to " + std::to_string(done)
                    + " bytes while it was read");
        done += static_cast<size_t>(got);
    }
    return bytes;
}

// Reads exactly size bytes from offset into out; false when the file ends sooner.
bool ReadAt(int fd, uint64_t offset, size_t size, uint8_t* out)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, out + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw SpreadsheetError(ErrorCode::NotFound, SystemReason(errno));
        if (got == 0)
            return false;
        done += static_cast<size_t>(got);
    }
    return true;
}

// A file is judged by what its format keeps at its start and its end before it is read
// whole: a ZIP package by the directory at its end, so that gigabytes that only begin
// like one are refused after reading a few kilobytes rather than all of them.
void CheckBeforeReading(int fd, size_t size)
{
    uint8_t head[4];
    if (size < sizeof head || !ReadAt(fd, 0, sizeof head, head) || std::memcmp(head, "PK\x03\x04", 4) != 0)
        return;
    const size_t tailSize = std::min(size, container::kArchiveEndReach);
    auto tail = std::make_unique_for_overwrite<uint8_t[]>(tailSize);
    if (!ReadAt(fd, size - tailSize, tailSize, tail.get()))
        return; // shrinking: the read reports it
    try {
        container::CheckArchiveEnd({ tail.get(), tailSize }, size);
    } catch (const SpreadsheetError& error) {
        throw SpreadsheetError(error.code(), std::string("it is not a workbook: ") + error.what());
    }
}

} // namespace

std::shared_ptr<const FileBytes> FileBytes::ReadFile(const std::string& path)
{
    // Non-blocking, so that a FIFO without a writer cannot hold the open; the type check
    // right after it refuses every file that is not a regular one.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        throw SpreadsheetError(ErrorCode::NotFound, SystemReason(errno));
    const FileDescriptor file(fd);
    struct stat info { };
    if (::fstat(fd, &info) != 0)
        throw SpreadsheetError(ErrorCode::NotFound, SystemReason(errno));
    RequireRegularFile(info);
    CheckBeforeReading(fd, static_cast<size_t>(info.st_size));
    return ReadOpenFile(fd, static_cast<size_t>(info.st_size));
}

std::shared_ptr<const FileBytes> FileBytes::ReadOpenFile(int fd, size_t size)
{
    return ReadWhole(fd, size);
}

std::shared_ptr<const FileBytes> FileBytes::FromBuffer(std::string bytes)
{
    return std::make_shared<BufferBytes>(std::move(bytes));
}

} // namespace vellumcast::spreadsheet
