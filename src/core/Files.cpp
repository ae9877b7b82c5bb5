#include "core/Files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vellumcast::core {

bool FileExists(const std::string& path)
{
    struct stat info { };
    return !path.empty() && ::stat(path.c_str(), &info) == 0;
}

bool FolderExists(const std::string& path)
{
    struct stat info { };
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string ReadTextFile(const std::string& path)
{
    if (!FileExists(path))
        return {};
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw FileError("Cannot read " + path + ": " + std::strerror(errno));
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int FileCalls::Open(int folder, const std::string& name, int flags, mode_t mode)
{
    return ::openat(folder, name.c_str(), flags, mode);
}

ssize_t FileCalls::Write(int fd, const char* data, size_t size)
{
    return ::write(fd, data, size);
}

int FileCalls::Close(int fd)
{
    return ::close(fd);
}

int FileCalls::Rename(int folder, const std::string& from, const std::string& to)
{
    return ::renameat(folder, from.c_str(), folder, to.c_str());
}

int FileCalls::Unlink(int folder, const std::string& name)
{
    return ::unlinkat(folder, name.c_str(), 0);
}

FileCalls& SystemFileCalls()
{
    static FileCalls calls;
    return calls;
}

namespace {

constexpr std::string_view kTemporaryStart = ".vellumcast-";
constexpr std::string_view kTemporaryEnd = ".tmp";

// A hidden name, unique within the process, that tells which process made it. It is
// short and does not grow with the file's own name, so a name too long is refused by the
// rename, as a failure of that file alone, and not when the temporary file is created.
std::string TemporaryName()
{
    static std::atomic<unsigned long> serial { 0 };
    return std::string(kTemporaryStart) + std::to_string(::getpid()) + "-" + std::to_string(serial++)
        + std::string(kTemporaryEnd);
}

// The process a temporary name of TemporaryName's form was made by, or 0.
pid_t TemporaryOwner(std::string_view name)
{
    if (!name.starts_with(kTemporaryStart) || !name.ends_with(kTemporaryEnd))
        return 0;
    name = name.substr(kTemporaryStart.size(), name.size() - kTemporaryStart.size() - kTemporaryEnd.size());
    const size_t dash = name.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash + 1 == name.size())
        return 0;
    const auto digits = [](std::string_view text) {
        return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (dash > 9 || !digits(name.substr(0, dash)) || !digits(name.substr(dash + 1)))
        return 0;
    return static_cast<pid_t>(std::stol(std::string(name.substr(0, dash))));
}

// A read-only device fails every file alike. Creating a file fails alike for every name
// when the folder is not writable or no longer exists. A full device is not among them:
// the files that still fit are written.
bool IsFolderWide(int code, bool creating)
{
    switch (code) {
    case EROFS:
        return true;
    case EACCES:
    case EPERM:
    case ENOENT:
    case ENOTDIR:
        return creating;
    default:
        return false;
    }
}

WriteFailure FailureOf(const std::string& path, int code, bool creating)
{
    return { "Cannot write " + path + ": " + std::strerror(code), code, IsFolderWide(code, creating),
        code == ENOSPC || code == EDQUOT };
}

// Writes all of text to fd, going on after short writes. Returns 0 or the errno.
int WriteAll(FileCalls& calls, int fd, std::string_view text)
{
    // Linux writes at most about 2 GiB per call.
    constexpr size_t kMaxChunk = size_t(1) << 30;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = calls.Write(fd, text.data() + done, std::min(text.size() - done, kMaxChunk));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC; // a regular file that takes nothing has no room
        done += static_cast<size_t>(n);
    }
    return 0;
}

// Replaces name in folder (a descriptor, or AT_FDCWD with name a path); shown is the path
// the failures name.
std::optional<WriteFailure> ReplaceAt(
    int folder, const std::string& name, const std::string& shown, std::string_view text, FileCalls& calls)
{
    struct stat existing { };
    const bool replacing
        = ::fstatat(folder, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(existing.st_mode);
    if (replacing && ::faccessat(folder, name.c_str(), W_OK, AT_EACCESS) != 0)
        return FailureOf(shown, errno, false);

    // Beside the file: in the same folder, whose part of name (with AT_FDCWD) comes first.
    const auto slash = name.rfind('/');
    const std::string besides = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = besides + TemporaryName();
        fd = calls.Open(folder, temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return FailureOf(shown, errno, true);
    }
    if (fd < 0)
        return FailureOf(shown, EEXIST, false);
    if (replacing)
        ::fchmod(fd, existing.st_mode & 07777); // at worst the new file has the usual bits

    // The file is not flushed to the device before the rename: an fsync per file makes a
    // save of many small files tens of times slower (bench_save_flush). A failing program
    // or write still never leaves a partial file, and ext4 and Btrfs write out a file
    // renamed over another before the rename itself.
    int code = WriteAll(calls, fd, text);
    if (calls.Close(fd) != 0 && code == 0)
        code = errno;
    if (code == 0 && calls.Rename(folder, temporary, name) != 0)
        code = errno;
    if (code == 0)
        return std::nullopt;
    calls.Unlink(folder, temporary);
    return FailureOf(shown, code, false);
}

} // namespace

std::optional<WriteFailure> ReplaceFile(const std::string& path, std::string_view text, FileCalls& calls)
{
    return ReplaceAt(AT_FDCWD, path, path, text, calls);
}

std::optional<WriteFailure> ReplaceFileIn(
    const OutputFolder& folder, const std::string& name, std::string_view text, FileCalls& calls)
{
    return ReplaceAt(folder.Descriptor(), name, folder.Prefix() + name, text, calls);
}

OutputFolder::OutputFolder(const std::string& path)
    : m_prefix(path.empty() || path.back() == '/' ? path : path + "/")
    , m_fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{
    struct stat info { };
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0) {
        const int code = errno;
        if (m_fd >= 0)
            ::close(m_fd);
        throw FileError("Cannot write into " + path + ": " + std::strerror(code));
    }
    m_device = info.st_dev;
    m_inode = info.st_ino;
}

OutputFolder::~OutputFolder()
{
    ::close(m_fd);
}

bool OutputFolder::StillInPlace() const
{
    struct stat info { };
    return ::stat(m_prefix.c_str(), &info) == 0 && info.st_dev == m_device && info.st_ino == m_inode;
}

void OutputFolder::RemoveStaleTemporaries() const
{
    const int listing = ::openat(m_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0)
        return;
    DIR* entries = ::fdopendir(listing);
    if (!entries) {
        ::close(listing);
        return;
    }
    while (const dirent* entry = ::readdir(entries)) {
        const pid_t owner = TemporaryOwner(entry->d_name);
        if (owner > 0 && ::kill(owner, 0) != 0 && errno == ESRCH)
            ::unlinkat(m_fd, entry->d_name, 0);
    }
    ::closedir(entries);
}

void WriteTextFile(const std::string& path, std::string_view text)
{
    if (const auto failure = ReplaceFile(path, text))
        throw FileError(failure->description);
}

void DeleteFileQuietly(const std::string& path) noexcept
{
    ::unlink(path.c_str());
}

std::string FileNameOfPath(std::string_view path)
{
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string PathWithoutExtension(std::string_view text)
{
    const auto dot = text.rfind('.');
    if (dot == std::string_view::npos)
        throw std::invalid_argument(
            "Invalid procedure call or argument: \"" + std::string(text) + "\" has no extension");
    return std::string(text.substr(0, dot));
}

namespace {

// XDG_DESKTOP_DIR from user-dirs.dirs, with $HOME expanded; empty when not set there.
std::string DesktopFromUserDirs(const std::string& home)
{
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    const std::string config = configHome && *configHome ? configHome : home + "/.config";
    std::ifstream in(config + "/user-dirs.dirs");
    std::string line;
    while (std::getline(in, line)) {
        const std::string key = "XDG_DESKTOP_DIR=";
        const auto start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, key.size(), key) != 0)
            continue;
        std::string value = line.substr(start + key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0)
            value = home + value.substr(5);
        if (!value.empty() && value.front() == '/')
            return value;
    }
    return {};
}

} // namespace

std::string GetDesktopFolder()
{
    const char* home = std::getenv("HOME");
    if (!home || !*home)
        throw std::invalid_argument(
            "Invalid procedure call or argument: the desktop folder is unknown (HOME is not set)");
    std::string homeFolder = home;
    while (homeFolder.size() > 1 && homeFolder.back() == '/')
        homeFolder.pop_back();
    std::string desktop = DesktopFromUserDirs(homeFolder);
    if (desktop.empty())
        desktop = homeFolder + "/Desktop";
    // Many accounts have no desktop folder; the home folder is where a save can go then.
    if (!FolderExists(desktop))
        desktop = homeFolder;
    while (desktop.size() > 1 && desktop.back() == '/')
        desktop.pop_back();
    return desktop == "/" ? desktop : desktop + "/";
}

std::string ProgramFolder()
{
    char buffer[4096];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0)
        return ".";
    std::string path(buffer, static_cast<size_t>(length));
    const auto slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace vellumcast::core
