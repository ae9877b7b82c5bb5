#pragma once
// File and path helpers shared by every layer. Paths are UTF-8, spelt as the system spells
// them (Paths.h: "/", and on Windows "\", drives, shares and long paths); no helper
// normalises a path. FilesPosix.cpp and FilesWindows.cpp hold each system's calls.

#include "core/Paths.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace vellumcast::core {

// True when the path names anything whose modification time can be read: a file or a folder.
bool FileExists(const std::string& path);

// True when the path names an existing folder.
bool FolderExists(const std::string& path);

// What tells a file or folder from every other one: its device and inode, or on Windows
// its volume's serial number and its file index.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity of what path names, following links; none when it cannot be looked at.
std::optional<FileIdentity> IdentityOf(const std::string& path);

// The absolute path of what path names, with links, "." and ".." resolved and "/" as
// separator; "" when it cannot be resolved (nothing of that name, say).
std::string RealPath(const std::string& path);

// True when the folder's entries may be listed and opened by this process.
bool CanListFolder(const std::string& path);

// What a folder search needs to know of a file or folder. Links are followed for its
// kind; hidden and system are the entry's own.
struct PathAttributes {
    enum class Kind {
        File, // a regular file
        Folder,
        Other, // a device, a pipe, a broken link, or what cannot be examined
    };
    Kind kind = Kind::Other;
    // A name starting with "." on every system (so a tree searched from Linux and from
    // Windows gives the same workbooks), and on Windows the Hidden attribute too.
    bool hidden = false;
    bool system = false; // Windows' System attribute; never elsewhere
    // Nobody may write it: no write permission bit or none for this process; on Windows
    // the ReadOnly attribute. Only AttributesOf tells it.
    bool readOnly = false;
};

struct FolderEntry {
    std::string name;
    PathAttributes attributes;
};

// Every entry of folder but "." and "..", in the order the system lists them. Throws
// FileError naming the folder when it cannot be listed.
std::vector<FolderEntry> ListFolder(const std::string& folder);

// The attributes of what path names; none when nothing of that name can be examined.
std::optional<PathAttributes> AttributesOf(const std::string& path);

// The paths a workbook argument holding wildcards ("*" any run of characters, "?" one)
// in its file name stands for, where the program and not the shell expands them: on
// Windows, whose shells pass "*.xlsx" on as it is. Matched by the system as every
// Windows program matches (letter case ignored, short 8.3 names too), files and folders
// alike, hidden and system ones left out, sorted by name with letter case ignored, each
// the argument's folder part as typed followed by the name; empty when nothing matches.
// None when the argument is no such pattern, and always on POSIX, whose shells expand
// wildcards before the program starts (a "*" reaching it is part of a name).
std::optional<std::vector<std::string>> ExpandWildcards(const std::string& argument);

// True when path names a pipe or a device (read once, to its end) rather than a file.
bool IsStreamPath(const std::string& path);

// Opens path for reading its bytes exactly as they are: a descriptor for ReadSome and
// CloseFile, or -1 with errno set.
int OpenForReading(const std::string& path);
// Reads up to size bytes: how many were read, 0 at the end, or -1 with errno set.
ssize_t ReadSome(int fd, char* buffer, size_t size);
void CloseFile(int fd);

// A file name as the file system compares names: two names of one key name one file. On
// Windows, whose file systems ignore case, it is the name in upper case; elsewhere the name.
std::string FileNameKey(const std::string& name);

// The whole file as bytes; a missing file gives "".
std::string ReadTextFile(const std::string& path);

// The system calls a replacing write makes, one per virtual, so a test can make any of
// them fail the way a file system would (a write that stops after N bytes, a chosen
// errno). Each returns what the POSIX call returns and sets errno as it does. Names are
// relative to the folder descriptor (AT_FDCWD: to the working folder). On Windows, which
// has no calls relative to a folder, the folder is -1 and names are whole paths; Open
// takes the C runtime's _O_ flags and Close flushes the file to the device first.
class FileCalls {
public:
    virtual ~FileCalls() = default;
    virtual int Open(int folder, const std::string& name, int flags, mode_t mode);
    virtual ssize_t Write(int fd, const char* data, size_t size);
    virtual int Close(int fd);
    virtual int Rename(int folder, const std::string& from, const std::string& to);
    // Rename, except that a file (or anything else) already named to stays: fails with
    // EEXIST then, and from stays as it was.
    virtual int RenameNew(int folder, const std::string& from, const std::string& to);
    virtual int Unlink(int folder, const std::string& name);
    // Cuts the open file to its first size bytes; the next write goes at its new end.
    virtual int Truncate(int fd, uint64_t size);
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

// A folder that files are saved into, opened once: every file is created relative to the
// handle, so a folder moved or exchanged for a symbolic link while a save goes on cannot
// send the files elsewhere.
class OutputFolder {
public:
    // Throws FileError naming the folder when it cannot be opened.
    explicit OutputFolder(const std::string& path);
    // The folder name inside parent, made when missing: never a link followed, so it
    // lies inside parent. Throws FileError naming it when it cannot be made or opened, or
    // is anything but a folder.
    OutputFolder(const OutputFolder& parent, const std::string& name);
    ~OutputFolder();
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

    // The path, ending in "/".
    const std::string& Prefix() const { return m_prefix; }
    // The folder's descriptor; -1 on Windows, where files are named by whole paths.
    int Descriptor() const { return m_fd; }

    // True while the path still names the folder that was opened.
    bool StillInPlace() const;

    // Removes the temporary files of replacing writes that no process writes any more
    // (killed in the middle of a save). A write in progress holds a lock on its file,
    // which every process sees, in any PID namespace and on any host sharing the folder;
    // where the file system has no locks, a file untouched for a day is taken as stale.
    void RemoveStaleTemporaries() const;

    // The names of the entries the folder holds that are not folders: files, links and
    // the like, each of which a file saved under its name would replace.
    std::vector<std::string> FileNames() const;

private:
    std::string m_prefix;
    int m_fd = -1;
    // Windows: the folder held open, which keeps it from being moved or deleted meanwhile.
    intptr_t m_handle = 0;
    // Which folder it is: device and inode, or volume serial number and file index.
    uint64_t m_device = 0;
    uint64_t m_inode = 0;
};

namespace detail {

// A temporary file written beside the file it is to replace. Names are relative to the
// folder descriptor (AT_FDCWD: to the working folder; on Windows -1, names whole paths).
struct Replacement {
    int folder = -1;
    std::string name; // the file to replace
    std::string temporary; // the file written meanwhile
    std::string shown; // the path failures name
    int fd = -1; // open while the text is being written
    // Held from the temporary file's creation until it is renamed or removed, so that no
    // other run takes it for the leftover of a killed one: a descriptor holding a lock on
    // POSIX, a handle on Windows; -1 when none could be had.
    intptr_t hold = -1;
};

} // namespace detail

// A replacing write made as the text comes: begun, written in pieces, cut back, then
// committed or abandoned. Until it is committed the text lies in a temporary file beside
// the file of that name, so that file is always the earlier one or the whole new text,
// never part of it, and no temporary file stays behind. The text is written exactly,
// with no line break added. Commit flushes and renames over the file: one already there
// keeps its permission bits, one that is not writable is refused as opening it for
// writing would be, and a symbolic link of that name is replaced itself, never
// followed. Failures name the path and say why. A step that fails removes the
// temporary file and ends the write: it returns the failure, and later steps do nothing
// and return none. Destroyed uncommitted, the write is abandoned.
class PendingFile {
public:
    PendingFile() = default;
    ~PendingFile() { Abandon(); }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // Begins replacing name in folder (abandoning a write under way).
    std::optional<WriteFailure> Begin(
        const OutputFolder& folder, const std::string& name, FileCalls& calls = SystemFileCalls());
    // True from a Begin that succeeded until the write is committed, abandoned or failed.
    bool IsOpen() const { return m_file.fd >= 0; }
    std::optional<WriteFailure> Write(std::string_view bytes);
    // Takes the text back to its first size bytes (a text no longer stays as it is); what
    // is written next follows them.
    std::optional<WriteFailure> Cut(uint64_t size);
    // Ends the write as failed with the errno code, for a text that cannot be had whole.
    std::optional<WriteFailure> Fail(int code);
    std::optional<WriteFailure> Commit();
    // Commit that never replaces a file: where something already has the name, otherName
    // (given the name taken) gives another to try, and none, or no otherName, ends the
    // write with EEXIST, that file kept as it was.
    std::optional<WriteFailure> CommitNew(
        const std::function<std::optional<std::string>(const std::string& taken)>& otherName = {});
    // Removes the temporary file; the file of that name stays as it was.
    void Abandon() noexcept;
    // The name in the folder the write is for: Begin's, or the one CommitNew put it under.
    const std::string& Name() const { return m_name; }

private:
    FileCalls* m_calls = nullptr;
    const OutputFolder* m_folder = nullptr;
    std::string m_name;
    detail::Replacement m_file;
    uint64_t m_size = 0; // the bytes written so far
};

// A temporary file that no folder lists, for bytes held out of memory: in folder, else in
// TemporaryFolder(); gone once closed or when the process ends. Null, with errno set,
// when none can be made.
std::FILE* OpenAnonymousTemporaryFile(const std::string& folder = {});
// The temporary folder: TMPDIR, else the system's (/tmp; on Windows, the user's).
std::string TemporaryFolder();
// The system's temporary folder, whatever TMPDIR says.
std::string SystemTemporaryFolder();

// The user's desktop folder (XDG_DESKTOP_DIR, else ~/Desktop; on Windows the shell's
// Desktop folder) when it exists, else the home folder, followed by exactly one "/".
// Throws std::invalid_argument when no home folder is known.
std::string GetDesktopFolder();

// The folder holding the running executable, without a trailing "/".
std::string ProgramFolder();

class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace vellumcast::core
