#pragma once
// A file-system fault injector: the real system calls, except that writes can stop after
// a number of bytes and any call can fail with a chosen errno, as a full disk, a quota,
// a failing device or a refused name would make it.

#include "core/Files.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <string>

namespace vellumcast::testing {

class FaultyFileCalls final : public core::FileCalls {
public:
    // Which call fails, and with what.
    int openError = 0;
    size_t bytesBeforeWriteFails = std::numeric_limits<size_t>::max();
    int writeError = ENOSPC;
    size_t bytesPerWrite = std::numeric_limits<size_t>::max(); // smaller: short writes
    int closeError = 0;
    int renameError = 0;
    int truncateError = 0;
    // The calls of the first failAfterFiles files succeed, then those of failingFiles files fail.
    size_t failAfterFiles = 0;
    size_t failingFiles = std::numeric_limits<size_t>::max();

    size_t filesOpened = 0;
    size_t unlinks = 0;

    int Open(int folder, const std::string& name, int flags, mode_t mode) override
    {
        ++filesOpened;
        m_written = 0;
        if (Failing() && openError)
            return Fail(openError);
        return core::FileCalls::Open(folder, name, flags, mode);
    }
    ssize_t Write(int fd, const char* data, size_t size) override
    {
        if (Failing() && m_written >= bytesBeforeWriteFails)
            return Fail(writeError);
        size = std::min({ size, bytesPerWrite, Failing() ? bytesBeforeWriteFails - m_written : size });
        const ssize_t n = core::FileCalls::Write(fd, data, size);
        if (n > 0)
            m_written += static_cast<size_t>(n);
        return n;
    }
    int Close(int fd) override
    {
        const int result = core::FileCalls::Close(fd);
        return Failing() && closeError ? Fail(closeError) : result;
    }
    int Rename(int folder, const std::string& from, const std::string& to) override
    {
        return Failing() && renameError ? Fail(renameError) : core::FileCalls::Rename(folder, from, to);
    }
    int Unlink(int folder, const std::string& name) override
    {
        ++unlinks;
        return core::FileCalls::Unlink(folder, name);
    }
    int Truncate(int fd, uint64_t size) override
    {
        if (Failing() && truncateError)
            return Fail(truncateError);
        const int result = core::FileCalls::Truncate(fd, size);
        if (result == 0)
            m_written = std::min<size_t>(m_written, static_cast<size_t>(size));
        return result;
    }

private:
    bool Failing() const { return filesOpened > failAfterFiles && filesOpened - failAfterFiles <= failingFiles; }
    static int Fail(int code)
    {
        errno = code;
        return -1;
    }

    size_t m_written = 0; // bytes written to the file opened last
};

} // namespace vellumcast::testing
