#pragma once
// A regular file opened for reading at chosen offsets, so that a reader takes from a file
// only the parts it needs. Reads are positional (pread, or ReadFile with an offset on
// Windows) into buffers the caller owns, rather than a mapping of the file: a file that
// another program shortens while it is open then reads short, which the caller reports
// as damage, where a mapping would kill the process with SIGBUS on touching the lost
// pages. One POSIX and one Windows implementation; the rest of the program sees neither.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace vellumcast::core {

// Why a file could not be opened or read; what() says it in words.
class FileReadError : public std::runtime_error {
public:
    enum class Kind {
        NotAFile, // a folder, a device, a FIFO: anything but a regular file
        Unreadable, // missing, not permitted, or failing to read
    };
    FileReadError(Kind kind, const std::string& reason)
        : std::runtime_error(reason)
        , m_kind(kind)
    {
    }
    Kind kind() const { return m_kind; }

private:
    Kind m_kind;
};

class ReadOnlyFile {
public:
    // Opens path (UTF-8) without blocking, so a FIFO without a writer cannot hold the
    // open, and refuses anything but a regular file. Throws FileReadError.
    explicit ReadOnlyFile(const std::string& path);
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // The size when the file was opened.
    uint64_t Size() const { return m_size; }

    // Reads up to size bytes from offset into out and returns how many it read: fewer
    // only where the file ends. Safe to call from several threads at once, since no
    // shared file position is used. Throws FileReadError(Unreadable).
    size_t ReadAt(uint64_t offset, void* out, size_t size) const;

private:
    intptr_t m_handle; // a descriptor, or a Windows HANDLE
    uint64_t m_size = 0;
};

} // namespace vellumcast::core
