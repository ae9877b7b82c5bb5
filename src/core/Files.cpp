#include "core/Files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
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
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.empty())
        return "empty file";
    return text;
}

int FileCalls::Open(const std::string& path, int flags, mode_t mode)
{
    return ::open(path.c_str(), flags, mode);
}

ssize_t FileCalls::Write(int fd, const char* data, size_t size)
{
    return ::write(fd, data, size);
}

int FileCalls::Close(int fd)
{
    return ::close(fd);
}

int FileCalls::Rename(const std::string& from, const std::string& to)
{
    return ::rename(from.c_str(), to.c_str());
}

int FileCalls::Unlink(const std::string& path)
{
    return ::unlink(path.c_str());
}

FileCalls& SystemFileCalls()
{
    static FileCalls calls;
    return calls;
}

namespace {

// A hidden name in path's folder, unique within the process. It is short and does not
// grow with path's own name, so a name too long is refused by the rename, as a failure
// of that file alone, and not when the temporary file is created.
std::string TemporaryPathBeside(const std::string& path)
{
    static std::atomic<unsigned long> serial { 0 };
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    return folder + ".vellumcast-" + std::to_string(::getpid()) + "-" + std::to_string(serial++) + ".tmp";
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

} // namespace

std::optional<WriteFailure> ReplaceFile(const std::string& path, std::string_view text, FileCalls& calls)
{
    struct stat existing { };
    const bool replacing = ::lstat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
    if (replacing && ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
        return FailureOf(path, errno, false);

    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = TemporaryPathBeside(path);
        fd = calls.Open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return FailureOf(path, errno, true);
    }
    if (fd < 0)
        return FailureOf(path, EEXIST, false);
    if (replacing)
        ::fchmod(fd, existing.st_mode & 07777); // at worst the new file has the usual bits

    // The file is not flushed to the device before the rename: an fsync per file makes a
    // save of many small files tens of times slower (bench_save_flush). A failing program
    // or write still never leaves a partial file, and ext4 and Btrfs write out a file
    // renamed over another before the rename itself.
    int code = WriteAll(calls, fd, text);
    if (calls.Close(fd) != 0 && code == 0)
        code = errno;
    if (code == 0 && calls.Rename(temporary, path) != 0)
        code = errno;
    if (code == 0)
        return std::nullopt;
    calls.Unlink(temporary);
    return FailureOf(path, code, false);
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
