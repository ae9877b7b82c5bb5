#include "core/Files.h"
#include "core/FilesDetail.h"
#include "core/WideTextWindows.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <fcntl.h>
#include <io.h>
#include <shlobj.h>
#include <sys/stat.h>
#include <windows.h>

// A macro for ReplaceFileA or ReplaceFileW, which would rename this file's ReplaceFile.
#undef ReplaceFile

namespace vellumcast::core {

namespace {

DWORD Attributes(const std::string& path)
{
    return path.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(WideText(path).c_str());
}

// The errno that stands for a Windows error, so failures read as they do elsewhere.
int ErrnoOf(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
        return EINVAL;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    default:
        return EIO;
    }
}

int FailWithLastError()
{
    errno = ErrnoOf(::GetLastError());
    return -1;
}

// Windows writes both separators; the program's paths show "/" only.
std::string WithSlashes(std::string path)
{
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

} // namespace

bool FileExists(const std::string& path)
{
    return Attributes(path) != INVALID_FILE_ATTRIBUTES;
}

bool FolderExists(const std::string& path)
{
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

namespace {

// Opens what path names, file or folder, only to ask about it.
HANDLE OpenToLookAt(const std::string& path)
{
    return ::CreateFileW(WideText(path).c_str(), FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
        nullptr);
}

std::optional<FileIdentity> IdentityOfHandle(HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION info {};
    if (!::GetFileInformationByHandle(handle, &info))
        return std::nullopt;
    return FileIdentity { info.dwVolumeSerialNumber,
        (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow };
}

} // namespace

std::optional<FileIdentity> IdentityOf(const std::string& path)
{
    const HANDLE handle = OpenToLookAt(path);
    if (handle == INVALID_HANDLE_VALUE)
        return std::nullopt;
    const auto identity = IdentityOfHandle(handle);
    ::CloseHandle(handle);
    return identity;
}

std::string FileNameKey(const std::string& name)
{
    std::wstring wide = WideText(name);
    const int size = static_cast<int>(wide.size());
    if (size > 0)
        ::LCMapStringEx(
            LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(), size, wide.data(), size, nullptr, nullptr, 0);
    return Utf8Text(wide);
}

std::string RealPath(const std::string& path)
{
    const HANDLE handle = OpenToLookAt(path);
    if (handle == INVALID_HANDLE_VALUE)
        return {};
    std::wstring buffer(MAX_PATH, L'\0');
    DWORD length = ::GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
    if (length >= buffer.size()) {
        buffer.resize(length + 1);
        length = ::GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
    }
    ::CloseHandle(handle);
    if (length == 0 || length >= buffer.size())
        return {};
    std::string real = WithSlashes(Utf8Text(buffer.data(), length));
    // "//?/C:/x" and "//?/UNC/server/share" are C:/x and //server/share as people write them.
    if (real.starts_with("//?/UNC/"))
        return "//" + real.substr(8);
    if (real.starts_with("//?/"))
        return real.substr(4);
    return real;
}

bool CanListFolder(const std::string& path)
{
    // Windows tells listing rights only by listing; a folder that refuses shows no entries.
    return FolderExists(path);
}

bool IsStreamPath(const std::string& path)
{
    const HANDLE handle = ::CreateFileW(WideText(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const DWORD type = ::GetFileType(handle);
    ::CloseHandle(handle);
    return type == FILE_TYPE_PIPE || type == FILE_TYPE_CHAR;
}

int OpenForReading(const std::string& path)
{
    return ::_wopen(WideText(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

ssize_t ReadSome(int fd, char* buffer, size_t size)
{
    return ::_read(fd, buffer, static_cast<unsigned>(std::min<size_t>(size, 1u << 30)));
}

void CloseFile(int fd)
{
    ::_close(fd);
}

int FileCalls::Open(int, const std::string& name, int flags, mode_t mode)
{
    return ::_wopen(WideText(name).c_str(), flags, mode);
}

ssize_t FileCalls::Write(int fd, const char* data, size_t size)
{
    return ::_write(fd, data, static_cast<unsigned>(std::min<size_t>(size, 1u << 30)));
}

int FileCalls::Close(int fd)
{
    // NTFS may put a rename on the device before the data of the file renamed, so a crash
    // could leave an empty file where the earlier one was: the data goes first.
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    const bool flushed = handle == INVALID_HANDLE_VALUE || ::FlushFileBuffers(handle);
    const int code = flushed ? 0 : ErrnoOf(::GetLastError());
    if (::_close(fd) != 0)
        return -1;
    if (code != 0) {
        errno = code;
        return -1;
    }
    return 0;
}

int FileCalls::Rename(int, const std::string& from, const std::string& to)
{
    if (::MoveFileExW(WideText(from).c_str(), WideText(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    return FailWithLastError();
}

int FileCalls::RenameNew(int, const std::string& from, const std::string& to)
{
    // Without MOVEFILE_REPLACE_EXISTING a name already taken fails the move.
    if (::MoveFileExW(WideText(from).c_str(), WideText(to).c_str(), MOVEFILE_WRITE_THROUGH))
        return 0;
    return FailWithLastError();
}

int FileCalls::Unlink(int, const std::string& name)
{
    if (::DeleteFileW(WideText(name).c_str()))
        return 0;
    return FailWithLastError();
}

int FileCalls::Truncate(int fd, uint64_t size)
{
    const errno_t code = ::_chsize_s(fd, static_cast<__int64>(size));
    if (code != 0) {
        errno = code;
        return -1;
    }
    return ::_lseeki64(fd, static_cast<__int64>(size), SEEK_SET) < 0 ? -1 : 0;
}

namespace detail {

std::optional<WriteFailure> BeginReplacement(Replacement& file, FileCalls& calls)
{
    // A read-only file is refused, as it is where the permission bits say so.
    const DWORD existing = Attributes(file.name);
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY) == 0
        && (existing & FILE_ATTRIBUTE_READONLY) != 0)
        return FailureOf(file.shown, EACCES, false);

    const auto slash = file.name.find_last_of("/\\");
    const std::string besides = slash == std::string::npos ? std::string() : file.name.substr(0, slash + 1);
    for (int attempt = 0; attempt < 100 && file.fd < 0; ++attempt) {
        file.temporary = besides + TemporaryName();
        file.fd = calls.Open(
            -1, file.temporary, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
        if (file.fd < 0 && errno != EEXIST)
            return FailureOf(file.shown, errno, true);
    }
    if (file.fd < 0)
        return FailureOf(file.shown, EEXIST, false);
    // The write's own descriptor, which shares no deletion, keeps other runs from opening
    // the file alone while it is written; this second handle keeps them from it between
    // the descriptor's close and the rename, which it lets through by sharing deletion.
    const HANDLE hold = ::CreateFileW(WideText(file.temporary).c_str(), GENERIC_READ,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hold != INVALID_HANDLE_VALUE)
        file.hold = reinterpret_cast<intptr_t>(hold);
    return std::nullopt;
}

void ReleaseHold(Replacement& file) noexcept
{
    if (file.hold != -1)
        ::CloseHandle(reinterpret_cast<HANDLE>(file.hold));
    file.hold = -1;
}

Replacement ReplacementIn(const OutputFolder& folder, const std::string& name)
{
    const std::string path = folder.Prefix() + name;
    return { -1, path, {}, path, -1 };
}

} // namespace detail

namespace {

// The folder, opened as a folder; sharing without FILE_SHARE_DELETE keeps it from being
// renamed or removed while the handle is held.
HANDLE OpenFolder(const std::string& path)
{
    return ::CreateFileW(WideText(path).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

} // namespace

std::FILE* OpenAnonymousTemporaryFile()
{
    return std::tmpfile(); // in the user's temporary folder, deleted when closed
}

std::optional<WriteFailure> ReplaceFile(const std::string& path, std::string_view text, FileCalls& calls)
{
    return detail::Replace({ -1, path, {}, path, -1 }, detail::WholeText(text), calls);
}

OutputFolder::OutputFolder(const std::string& path)
    : m_prefix(path.empty() || path.back() == '/' || path.back() == '\\' ? path : path + "/")
{
    const HANDLE handle = OpenFolder(path);
    const bool folder = handle != INVALID_HANDLE_VALUE && FolderExists(path);
    const auto identity = folder ? IdentityOfHandle(handle) : std::nullopt;
    if (!identity) {
        const int code = handle == INVALID_HANDLE_VALUE ? ErrnoOf(::GetLastError()) : ENOTDIR;
        if (handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle);
        throw FileError("Cannot write into " + path + ": " + std::strerror(code));
    }
    m_handle = reinterpret_cast<intptr_t>(handle);
    m_device = identity->device;
    m_inode = identity->inode;
}

OutputFolder::~OutputFolder()
{
    ::CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

bool OutputFolder::StillInPlace() const
{
    return IdentityOf(m_prefix) == FileIdentity { m_device, m_inode };
}

void OutputFolder::RemoveStaleTemporaries() const
{
    WIN32_FIND_DATAW entry {};
    const HANDLE search = ::FindFirstFileW(WideText(m_prefix + ".vellumcast-*.tmp").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::string name = Utf8Text(entry.cFileName, std::wcslen(entry.cFileName));
        if (!detail::IsTemporaryName(name) || (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            continue;
        // Opened alone: that fails while any run holds the file open, on this host or
        // another sharing the folder. Opened, it is removed as it is closed.
        const HANDLE stale = ::CreateFileW(WideText(m_prefix + name).c_str(), GENERIC_READ | DELETE, 0, nullptr,
            OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (stale != INVALID_HANDLE_VALUE)
            ::CloseHandle(stale);
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
}

std::vector<std::string> OutputFolder::FileNames() const
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW entry {};
    const HANDLE search = ::FindFirstFileW(WideText(m_prefix + "*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            names.push_back(Utf8Text(entry.cFileName, std::wcslen(entry.cFileName)));
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
    return names;
}

void DeleteFileQuietly(const std::string& path) noexcept
{
    try {
        ::DeleteFileW(WideText(path).c_str());
    } catch (...) {
    }
}

std::string GetDesktopFolder()
{
    std::string desktop;
    PWSTR known = nullptr;
    if (::SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, &known) == S_OK)
        desktop = WithSlashes(Utf8Text(known, std::wcslen(known)));
    ::CoTaskMemFree(known);
    // Without a desktop folder, the profile folder is where a save can go.
    if (!FolderExists(desktop)) {
        const wchar_t* profile = ::_wgetenv(L"USERPROFILE");
        if (!profile || !*profile)
            throw std::invalid_argument(
                "Invalid procedure call or argument: the desktop folder is unknown (USERPROFILE is not set)");
        desktop = WithSlashes(Utf8Text(profile, std::wcslen(profile)));
    }
    while (desktop.size() > 1 && desktop.back() == '/')
        desktop.pop_back();
    return desktop + "/";
}

std::string ProgramFolder()
{
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return ".";
        if (length < buffer.size()) {
            const std::string path = WithSlashes(Utf8Text(buffer.data(), length));
            return path.substr(0, path.rfind('/'));
        }
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace vellumcast::core
