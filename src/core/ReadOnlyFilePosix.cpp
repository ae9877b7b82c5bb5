#include "core/ReadOnlyFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vellumcast::core {

namespace {

std::string Reason(int error)
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

void RequireRegularFile(int fd)
{
    struct stat info { };
    if (::fstat(fd, &info) != 0)
        throw FileReadError(FileReadError::Kind::Unreadable, Reason(errno));
    if (S_ISDIR(info.st_mode))
        throw FileReadError(FileReadError::Kind::NotAFile, "it is a folder, not a workbook");
    if (!S_ISREG(info.st_mode))
        throw FileReadError(FileReadError::Kind::NotAFile, "it is not a regular file, so it is not a workbook");
}

} // namespace

ReadOnlyFile::ReadOnlyFile(const std::string& path)
{
    // Non-blocking, so that a FIFO without a writer cannot hold the open; the type check
    // right after it refuses every file that is not a regular one.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        throw FileReadError(FileReadError::Kind::Unreadable, Reason(errno));
    m_handle = fd;
    try {
        RequireRegularFile(fd);
        const off_t end = ::lseek(fd, 0, SEEK_END);
        if (end < 0)
            throw FileReadError(FileReadError::Kind::Unreadable, Reason(errno));
        m_size = static_cast<uint64_t>(end);
    } catch (...) {
        ::close(fd);
        throw;
    }
}

ReadOnlyFile::~ReadOnlyFile()
{
    ::close(static_cast<int>(m_handle));
}

size_t ReadOnlyFile::ReadAt(uint64_t offset, void* out, size_t size) const
{
    auto* bytes = static_cast<char*>(out);
    size_t done = 0;
    while (done < size) {
        const ssize_t got
            = ::pread(static_cast<int>(m_handle), bytes + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw FileReadError(FileReadError::Kind::Unreadable, Reason(errno));
        if (got == 0)
            break;
        done += static_cast<size_t>(got);
    }
    return done;
}

} // namespace vellumcast::core
