#include "core/Files.h"
#include "core/FilesDetail.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
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

namespace {

PathAttributes::Kind KindOf(const struct stat& info)
{
    if (S_ISREG(info.st_mode))
        return PathAttributes::Kind::File;
    return S_ISDIR(info.st_mode) ? PathAttributes::Kind::Folder : PathAttributes::Kind::Other;
}

bool IsHiddenName(std::string_view name)
{
    return !name.empty() && name.front() == '.';
}

} // namespace

std::vector<FolderEntry> ListFolder(const std::string& folder)
{
    DIR* listing = ::opendir(folder.c_str());
    if (!listing)
        throw FileError("Path not found: " + folder + " (" + std::strerror(errno) + ")");
    std::vector<FolderEntry> entries;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        FolderEntry found { std::string(name), {} };
        struct stat info { };
        // Followed, as a link stands for what it names; a broken one is no file.
        if (::fstatat(::dirfd(listing), entry->d_name, &info, 0) == 0)
            found.attributes.kind = KindOf(info);
        found.attributes.hidden = IsHiddenName(name);
        entries.push_back(std::move(found));
    }
    ::closedir(listing);
    return entries;
}

std::optional<PathAttributes> AttributesOf(const std::string& path)
{
    struct stat info { };
    if (path.empty() || ::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    PathAttributes attributes;
    attributes.kind = KindOf(info);
    attributes.hidden = IsHiddenName(FileNameOfPath(path));
    // Not writable by anyone counts as read-only, even for a user whom permissions do not stop.
    attributes.readOnly = (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0;
    return attributes;
}

std::optional<std::vector<std::string>> ExpandWildcards(const std::string&)
{
    return std::nullopt; // the shell has done it
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

int FileCalls::RenameNew(int folder, const std::string& from, const std::string& to)
{
#ifdef RENAME_NOREPLACE
    if (::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return -1;
#endif
    // A file system that cannot rename without replacing: a second name is made, which
    // fails where the name is taken, and the first one removed.
    if (::linkat(folder, from.c_str(), folder, to.c_str(), 0) == 0) {
        ::unlinkat(folder, from.c_str(), 0);
        return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS && errno != EMLINK)
        return -1;
    // Nor that (FAT, some network file systems): looked at first, then renamed.
    struct stat taken { };
    if (::fstatat(folder, to.c_str(), &taken, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return -1;
    }
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

std::string ReasonOf(int code)
{
    return std::strerror(code);
}

namespace {

enum class Lock { Held, Busy, Unsupported };

// Takes an advisory lock on the whole file without waiting: exclusive for the run that
// writes it, shared for one looking whether it is still written. An open file
// description's lock (OFD, or flock where the kernel has none) is the description's own,
// so closing another descriptor of the file never lets go of it, and it reaches other
// PID namespaces and, through the lock protocol of NFS, other hosts.
Lock TryLock(int fd, bool exclusive)
{
#ifdef F_OFD_SETLK
    struct flock range { };
    range.l_type = exclusive ? F_WRLCK : F_RDLCK;
    range.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &range) == 0)
        return Lock::Held;
    if (errno == EAGAIN || errno == EACCES)
        return Lock::Busy;
    if (errno != EINVAL)
        return Lock::Unsupported;
#endif
    if (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0)
        return Lock::Held;
    return errno == EWOULDBLOCK ? Lock::Busy : Lock::Unsupported;
}

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Holds the temporary file just made as file.fd: a descriptor of its own holding the lock,
// so that the file can be closed (and its failures seen) before it is renamed while
// still held. False when another run is looking at it as a leftover this very moment
// (it removes it): the caller makes another.
bool HoldTemporary(Replacement& file)
{
    const int hold = ::fcntl(file.fd, F_DUPFD_CLOEXEC, 0);
    if (hold < 0)
        return true; // no descriptor to spare: written unheld, as where there are no locks
    const Lock lock = TryLock(hold, true);
    if (lock == Lock::Unsupported) {
        ::close(hold);
        return true;
    }
    // Taken first by a run looking for leftovers, or removed by it before the lock was had.
    struct stat opened { };
    struct stat named { };
    const bool ours = lock == Lock::Held && ::fstat(hold, &opened) == 0
        && ::fstatat(file.folder, file.temporary.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(opened, named);
    if (!ours) {
        ::close(hold);
        return false;
    }
    file.hold = hold;
    return true;
}

} // namespace

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
        if (file.fd >= 0 && !HoldTemporary(file)) {
            calls.Close(file.fd);
            file.fd = -1;
        }
    }
    if (file.fd < 0)
        return FailureOf(file.shown, EEXIST, false);
    if (replacing)
        ::fchmod(file.fd, existing.st_mode & 07777); // at worst the new file has the usual bits
    return std::nullopt;
}

void ReleaseHold(Replacement& file) noexcept
{
    if (file.hold >= 0)
        ::close(static_cast<int>(file.hold));
    file.hold = -1;
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

OutputFolder::OutputFolder(const std::string& path)
    : m_prefix(JoinPath(path, ""))
    , m_fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{
    struct stat info { };
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0) {
        const int code = errno;
        if (m_fd >= 0)
            ::close(m_fd);
        throw FileError("Cannot write into " + path + ": " + detail::ReasonOf(code));
    }
    m_device = info.st_dev;
    m_inode = info.st_ino;
}

OutputFolder::OutputFolder(const OutputFolder& parent, const std::string& name)
    : m_prefix(parent.Prefix() + name + "/")
{
    const auto fail = [&](int code) { throw FileError("Cannot write into " + m_prefix + ": " + std::strerror(code)); };
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        fail(EINVAL);
    if (::mkdirat(parent.m_fd, name.c_str(), 0777) != 0 && errno != EEXIST)
        fail(errno);
    m_fd = ::openat(parent.m_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info { };
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0) {
        // A link where the folder would be is refused as a file there is.
        const int code = errno == ELOOP ? ENOTDIR : errno;
        if (m_fd >= 0)
            ::close(m_fd);
        fail(code);
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

namespace {

// Lists the folder's entries, calling each with its name and type (DT_UNKNOWN where the
// file system does not tell).
template <typename Each> void ListFolder(int folder, Each&& each)
{
    const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0)
        return;
    DIR* entries = ::fdopendir(listing);
    if (!entries) {
        ::close(listing);
        return;
    }
    while (const dirent* entry = ::readdir(entries)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            each(name, entry->d_type);
    }
    ::closedir(entries);
}

} // namespace

void OutputFolder::RemoveStaleTemporaries() const
{
    ListFolder(m_fd, [&](std::string_view name, unsigned char) {
        if (!detail::IsTemporaryName(name))
            return;
        const std::string file(name);
        const int fd = ::openat(m_fd, file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0)
            return;
        struct stat opened { };
        bool stale = false;
        if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode)) {
            switch (detail::TryLock(fd, false)) {
            case detail::Lock::Held:
                stale = true; // no run holds it
                break;
            case detail::Lock::Busy:
                break;
            case detail::Lock::Unsupported:
                stale = std::time(nullptr) - opened.st_mtime > detail::kStaleSeconds;
                break;
            }
        }
        // Removed only while it is still the file looked at, and before letting go of the
        // lock, so that a run making it this moment sees it gone and makes another.
        struct stat named { };
        if (stale && ::fstatat(m_fd, file.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && detail::SameFile(opened, named))
            ::unlinkat(m_fd, file.c_str(), 0);
        ::close(fd);
    });
}

std::vector<std::string> OutputFolder::FileNames() const
{
    std::vector<std::string> names;
    ListFolder(m_fd, [&](std::string_view name, unsigned char type) {
        struct stat info { };
        const bool folder = type == DT_DIR
            || (type == DT_UNKNOWN && ::fstatat(m_fd, std::string(name).c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0
                && S_ISDIR(info.st_mode));
        if (!folder)
            names.emplace_back(name);
    });
    return names;
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
