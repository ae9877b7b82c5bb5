#pragma once
// Windows only, and only until the workbook reads go through core/ReadOnlyFile: the few
// POSIX calls spreadsheet/FileBytes.cpp makes, on the C runtime's. Every open is binary,
// so no byte of a workbook is taken for a line end.

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <sys/types.h>

#define O_CLOEXEC _O_BINARY
#define O_NONBLOCK 0
#define O_NOCTTY 0

// As pread, the file position is left where it was; unlike pread, it is not safe to
// call from two threads on one descriptor at once (FileBytes.cpp does not).
inline ssize_t pread(int fd, void* buffer, size_t size, long long offset)
{
    const long long position = _lseeki64(fd, 0, SEEK_CUR);
    if (position < 0 || _lseeki64(fd, offset, SEEK_SET) < 0)
        return -1;
    const int got = _read(fd, buffer, static_cast<unsigned>(size < (1u << 30) ? size : (1u << 30)));
    _lseeki64(fd, position, SEEK_SET);
    return got;
}
