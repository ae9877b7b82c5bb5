#include "core/Files.h"
#include "core/FilesDetail.h"
#include "core/Process.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
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

std::optional<FileIdentity> IdentityOf(const std::string& path)
{
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return FileIdentity { static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino) };
}

std::string FileNameKey(const std::string& name)
{
    return name;
}

std::string RealPath(const std::string& path)
{
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return {};
    std::string real(resolved);
    std::free(resolved);
    return real;
}

bool CanListFolder(const std::string& path)
{
    return ::access(path.c_str(), R_OK | X_OK) == 0;
}

bool IsStreamPath(const std::string& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode));
}

int OpenForReading(const std::string& path)
{
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
}

ssize_t ReadSome(int fd, char* buffer, size_t size)
{
    return ::read(fd, buffer, size);
}

void CloseFile(int fd)
{
    ::close(fd);
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

int FileCalls::Truncate(int fd, uint64_t size)
{
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0)
        return -1;
    return ::lseek(fd, static_cast<off_t>(size), SEEK_SET) < 0 ? -1 : 0;
}

namespace detail {

std::optional<WriteFailure> BeginReplacement(Replacement& file, FileCalls& calls)
{
    struct stat existing { };
    const bool replacing
        = ::fstatat(file.folder, file.name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(existing.st_mode);
    if (replacing && ::faccessat(file.folder, file.name.c_str(), W_OK, AT_EACCESS) != 0)
        return FailureOf(file.shown, errno, false);

    // Beside the file: in the same folder, whose part of name (with AT_FDCWD) comes first.
    const auto slash = file.name.rfind('/');
    const std::string besides = slash == std::string::npos ? std::string() : file.name.substr(0, slash + 1);
    for (int attempt = 0; attempt < 100 && file.fd < 0; ++attempt) {
        file.temporary = besides + TemporaryName();
        file.fd = calls.Open(file.folder, file.temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (file.fd < 0 && errno != EEXIST)
            return FailureOf(file.shown, errno, true);
    }
    if (file.fd < 0)
        return FailureOf(file.shown, EEXIST, false);
    if (replacing)
        ::fchmod(file.fd, existing.st_mode & 07777); // at worst the new file has the usual bits
    return std::nullopt;
}

Replacement ReplacementIn(const OutputFolder& folder, const std::string& name)
{
    return { folder.Descriptor(), name, {}, folder.Prefix() + name, -1 };
}

} // namespace detail

std::string SystemTemporaryFolder()
{
    return "/tmp";
}

std::string TemporaryFolder()
{
    const char* folder = std::getenv("TMPDIR");
    return folder && *folder ? std::string(folder) : SystemTemporaryFolder();
}

std::FILE* OpenAnonymousTemporaryFile(const std::string& folder)
{
    std::string path = (folder.empty() ? TemporaryFolder() : folder) + "/.vellumcast-XXXXXX";
    const int fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    ::unlink(path.c_str()); // nameless from now on: it goes when closed
    std::FILE* file = ::fdopen(fd, "w+b");
    if (!file) {
        const int code = errno;
        ::close(fd);
        errno = code;
    }
    return file;
}

std::optional<WriteFailure> ReplaceFile(const std::string& path, std::string_view text, FileCalls& calls)
{
    return detail::Replace({ AT_FDCWD, path, {}, path, -1 }, detail::WholeText(text), calls);
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
        const long owner = detail::TemporaryOwner(entry->d_name);
        if (owner > 0 && ProcessIsGone(owner))
            ::unlinkat(m_fd, entry->d_name, 0);
    }
    ::closedir(entries);
}

void DeleteFileQuietly(const std::string& path) noexcept
{
    ::unlink(path.c_str());
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
