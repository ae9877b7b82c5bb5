#pragma once
// File and path helpers shared by every layer. Paths use "/" as separator; no helper
// normalises a path, callers build paths by plain concatenation.

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace vellumcast::core {

// True when the path names anything whose modification time can be read: a file or a folder.
bool FileExists(const std::string& path);

// True when the path names an existing folder.
bool FolderExists(const std::string& path);

// The whole file as bytes; a missing file gives "".
std::string ReadTextFile(const std::string& path);

// The system calls a replacing write makes, one per virtual, so a test can make any of
// them fail the way a file system would (a write that stops after N bytes, a chosen
// errno). Each returns what the POSIX call returns and sets errno as it does. Names are
// relative to the folder descriptor (AT_FDCWD: to the working folder).
class FileCalls {
public:
    virtual ~FileCalls() = default;
    virtual int Open(int folder, const std::string& name, int flags, mode_t mode);
    virtual ssize_t Write(int fd, const char* data, size_t size);
    virtual int Close(int fd);
    virtual int Rename(int folder, const std::string& from, const std::string& to);
    virtual int Unlink(int folder, const std::string& name);
};

// The real system calls.
FileCalls& SystemFileCalls();

// Why a file could not be written.
struct WriteFailure {
    std::string description; // "Cannot write PATH: REASON"
    int code = 0; // the errno
    // The failure concerns the folder or its device, not this file: the folder cannot be
    // written to or is gone, or the device is read-only. Every later file written into
    // the same folder would fail the same way.
    bool folderWide = false;
    // The device is full or the quota used up: a smaller file may still fit.
    bool noSpace = false;
};

// Replaces the file with the text, all or nothing: the text goes to a temporary file
// beside it, which is renamed over path only once complete, so a failure leaves an
// earlier file exactly as it was and no temporary file behind. The text is written
// exactly, with no line break added. A file already there keeps its permission bits; one
// that is not writable is refused as opening it for writing would be. A symbolic link of
// that name is replaced itself, never followed. Returns the failure, if any.
std::optional<WriteFailure> ReplaceFile(
    const std::string& path, std::string_view text, FileCalls& calls = SystemFileCalls());

// A folder that files are saved into, opened once: every file is created relative to the
// handle, so a folder moved or exchanged for a symbolic link while a save goes on cannot
// send the files elsewhere.
class OutputFolder {
public:
    // Throws FileError naming the folder when it cannot be opened.
    explicit OutputFolder(const std::string& path);
    ~OutputFolder();
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

    // The path, ending in "/".
    const std::string& Prefix() const { return m_prefix; }
    int Descriptor() const { return m_fd; }

    // True while the path still names the folder that was opened.
    bool StillInPlace() const;

    // Removes the temporary files of replacing writes whose process is gone (killed in
    // the middle of a save); those of running processes are theirs.
    void RemoveStaleTemporaries() const;

private:
    std::string m_prefix;
    int m_fd;
    dev_t m_device;
    ino_t m_inode;
};

// ReplaceFile for the file name in folder.
std::optional<WriteFailure> ReplaceFileIn(
    const OutputFolder& folder, const std::string& name, std::string_view text, FileCalls& calls = SystemFileCalls());

// ReplaceFile that throws FileError naming the path when the file cannot be written.
void WriteTextFile(const std::string& path, std::string_view text);

// Deletes the named file; every failure is ignored.
void DeleteFileQuietly(const std::string& path) noexcept;

// The text after the last "/", or the whole text without one.
std::string FileNameOfPath(std::string_view path);

// The text before the last "."; throws std::invalid_argument when there is none.
std::string PathWithoutExtension(std::string_view text);

// The user's desktop folder (XDG_DESKTOP_DIR, else ~/Desktop) when it exists, else the
// home folder, followed by exactly one "/".
// Throws std::invalid_argument when no home folder is known.
std::string GetDesktopFolder();

// The folder holding the running executable, without a trailing "/".
std::string ProgramFolder();

class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace vellumcast::core
