#include "core/Files.h"
#include "core/FilesDetail.h"
#include "core/WideTextWindows.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <fcntl.h>
#include <io.h>
#include <shlobj.h>
#include <sys/stat.h>
#include <windows.h>

namespace vellumcast::core {

namespace {

using detail::kOpenElsewhere;

DWORD Attributes(const std::string& path)
{
    return path.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(WidePath(path).c_str());
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
        return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return kOpenElsewhere;
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

// Why path cannot be replaced or removed, once Windows has refused it with "access
// denied": a file another program holds open without sharing its deletion is refused
// so, as a file nobody may change is. Asking for the right to delete it tells them apart.
int RefusedFor(const std::string& path)
{
    const HANDLE probe
        = ::CreateFileW(WidePath(path).c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        ::CloseHandle(probe);
        return EACCES;
    }
    const DWORD error = ::GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? kOpenElsewhere : EACCES;
}

// FailWithLastError for a call that replaces or removes path.
int FailReplacing(const std::string& path)
{
    const DWORD error = ::GetLastError();
    errno = error == ERROR_ACCESS_DENIED ? RefusedFor(path) : ErrnoOf(error);
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
    return ::CreateFileW(WidePath(path).c_str(), FILE_READ_ATTRIBUTES,
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

namespace {

// The kind of what an entry with these attributes names. A link (a reparse point) is
// looked through to what it names, which a broken one does not have.
PathAttributes::Kind KindOf(DWORD attributes, const std::string& path)
{
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        const HANDLE handle = OpenToLookAt(path);
        if (handle == INVALID_HANDLE_VALUE)
            return PathAttributes::Kind::Other;
        BY_HANDLE_FILE_INFORMATION info {};
        const bool known = ::GetFileInformationByHandle(handle, &info) != 0;
        ::CloseHandle(handle);
        if (!known)
            return PathAttributes::Kind::Other;
        attributes = info.dwFileAttributes;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return PathAttributes::Kind::Folder;
    return (attributes & FILE_ATTRIBUTE_DEVICE) != 0 ? PathAttributes::Kind::Other : PathAttributes::Kind::File;
}

PathAttributes AttributesFrom(DWORD attributes, const std::string& name, const std::string& path)
{
    PathAttributes found;
    found.kind = KindOf(attributes, path);
    found.hidden = (attributes & FILE_ATTRIBUTE_HIDDEN) != 0 || (!name.empty() && name.front() == '.');
    found.system = (attributes & FILE_ATTRIBUTE_SYSTEM) != 0;
    found.readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    return found;
}

// Calls each with the name and attributes of every entry the system lists for pattern (a
// folder followed by a name that may hold wildcards), "." and ".." left out. False, with
// the system's error, when the listing fails; a pattern nothing matches lists nothing.
template <typename Each> bool ListMatching(const std::string& pattern, Each&& each)
{
    WIN32_FIND_DATAW entry {};
    const HANDLE search = ::FindFirstFileExW(
        WidePath(pattern).c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE)
        return ::GetLastError() == ERROR_FILE_NOT_FOUND; // nothing matches (an empty drive has no "." either)
    do {
        const std::string name = Utf8Text(entry.cFileName, std::wcslen(entry.cFileName));
        if (name != "." && name != "..")
            each(name, entry.dwFileAttributes);
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
    return true;
}

} // namespace

std::vector<FolderEntry> ListFolder(const std::string& folder)
{
    std::vector<FolderEntry> entries;
    const bool listed = ListMatching(JoinPath(folder, "*"), [&](const std::string& name, DWORD attributes) {
        entries.push_back({ name, AttributesFrom(attributes, name, JoinPath(folder, name)) });
    });
    if (!listed || !FolderExists(folder))
        throw FileError("Path not found: " + folder + " (" + detail::ReasonOf(ErrnoOf(::GetLastError())) + ")");
    return entries;
}

std::optional<PathAttributes> AttributesOf(const std::string& path)
{
    const DWORD attributes = Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return std::nullopt;
    return AttributesFrom(attributes, FileNameOfPath(path), path);
}

std::optional<std::vector<std::string>> ExpandWildcards(const std::string& argument)
{
    const std::string name = FileNameOfPath(argument);
    const std::string folder = argument.substr(0, argument.size() - name.size());
    const size_t root = PathRootLength(argument);
    const auto wild = [](std::string_view text) { return text.find_first_of("*?") != std::string_view::npos; };
    // Wildcards in a folder's name are not expanded, by Windows programs either: such an
    // argument names no file, as it says.
    if (!wild(name) || wild(std::string_view(folder).substr(std::min(root, folder.size()))))
        return std::nullopt;
    std::vector<std::pair<std::string, std::string>> found; // the name's key, the name
    ListMatching(argument, [&](const std::string& match, DWORD attributes) {
        const PathAttributes matched = AttributesFrom(attributes, match, folder + match);
        if (!matched.hidden && !matched.system)
            found.emplace_back(FileNameKey(match), match);
    });
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (const auto& [key, match] : found)
        paths.push_back(folder + match);
    return paths;
}

bool IsStreamPath(const std::string& path)
{
    const HANDLE handle = ::CreateFileW(WidePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const DWORD type = ::GetFileType(handle);
    ::CloseHandle(handle);
    return type == FILE_TYPE_PIPE || type == FILE_TYPE_CHAR;
}

int OpenForReading(const std::string& path)
{
    return ::_wopen(WidePath(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
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
    return ::_wopen(WidePath(name).c_str(), flags, mode);
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
    if (::MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    return FailReplacing(to);
}

int FileCalls::RenameNew(int, const std::string& from, const std::string& to)
{
    // Without MOVEFILE_REPLACE_EXISTING a name already taken fails the move.
    if (::MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_WRITE_THROUGH))
        return 0;
    return FailWithLastError();
}

int FileCalls::Unlink(int, const std::string& name)
{
    if (::DeleteFileW(WidePath(name).c_str()))
        return 0;
    return FailReplacing(name);
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

std::string ReasonOf(int code)
{
    return code == kOpenElsewhere ? "another program has the file open" : std::strerror(code);
}

std::optional<WriteFailure> BeginReplacement(Replacement& file, FileCalls& calls)
{
    // A read-only file is refused, as it is where the permission bits say so.
    const DWORD existing = Attributes(file.name);
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY) == 0
        && (existing & FILE_ATTRIBUTE_READONLY) != 0)
        return FailureOf(file.shown, EACCES, false);

    // In the same folder, whatever its root ("C:\", "C:" or none).
    const std::string besides = file.name.substr(0, file.name.size() - FileNameOfPath(file.name).size());
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
    const HANDLE hold = ::CreateFileW(WidePath(file.temporary).c_str(), GENERIC_READ,
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
    return ::CreateFileW(WidePath(path).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

} // namespace

std::string SystemTemporaryFolder()
{
    return TemporaryFolder();
}

std::string TemporaryFolder()
{
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, path);
    return length > 0 && length <= MAX_PATH ? Utf8Text(path, length) : std::string(".");
}

std::FILE* OpenAnonymousTemporaryFile(const std::string& folder)
{
    // A file of a name of its own, deleted by the system once its handle is closed.
    static std::atomic<unsigned> made { 0 };
    const std::string base = folder.empty() ? TemporaryFolder() : folder;
    const std::string path = base + (base.ends_with('\\') || base.ends_with('/') ? "" : "\\") + ".vellumcast-"
        + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(made++) + ".tmp";
    const HANDLE handle = ::CreateFileW(WideText(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = ErrnoOf(::GetLastError());
        return nullptr;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(handle);
        errno = EIO;
        return nullptr;
    }
    std::FILE* file = ::_fdopen(fd, "w+b");
    if (!file) {
        ::_close(fd);
        errno = EIO;
    }
    return file;
}

OutputFolder::OutputFolder(const std::string& path)
    : m_prefix(JoinPath(path, ""))
{
    const HANDLE handle = OpenFolder(path);
    const bool folder = handle != INVALID_HANDLE_VALUE && FolderExists(path);
    const auto identity = folder ? IdentityOfHandle(handle) : std::nullopt;
    if (!identity) {
        const int code = handle == INVALID_HANDLE_VALUE ? ErrnoOf(::GetLastError()) : ENOTDIR;
        if (handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle);
        throw FileError("Cannot write into " + path + ": " + detail::ReasonOf(code));
    }
    m_handle = reinterpret_cast<intptr_t>(handle);
    m_device = identity->device;
    m_inode = identity->inode;
}

namespace {

// Makes the folder name inside parent unless it is there; its path. Throws FileError when
// it cannot be made, or what has the name is a link or no folder.
std::string MadeSubfolder(const OutputFolder& parent, const std::string& name)
{
    const std::string path = parent.Prefix() + name;
    const auto fail = [&](int code) { throw FileError("Cannot write into " + path + "/: " + std::strerror(code)); };
    if (name.empty() || name == "." || name == ".." || name.find_first_of("/\\") != std::string::npos)
        fail(EINVAL);
    if (!::CreateDirectoryW(WideText(path).c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        fail(ErrnoOf(::GetLastError()));
    const DWORD attributes = Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        fail(ErrnoOf(::GetLastError()));
    // A junction or link would lead outside the output folder.
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        fail(ENOTDIR);
    return path;
}

} // namespace

OutputFolder::OutputFolder(const OutputFolder& parent, const std::string& name)
    : OutputFolder(MadeSubfolder(parent, name))
{
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
    const HANDLE search = ::FindFirstFileW(WidePath(m_prefix + ".vellumcast-*.tmp").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::string name = Utf8Text(entry.cFileName, std::wcslen(entry.cFileName));
        if (!detail::IsTemporaryName(name) || (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            continue;
        // Opened alone: that fails while any run holds the file open, on this host or
        // another sharing the folder. Opened, it is removed as it is closed.
        const HANDLE stale = ::CreateFileW(WidePath(m_prefix + name).c_str(), GENERIC_READ | DELETE, 0, nullptr,
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
    const HANDLE search = ::FindFirstFileW(WidePath(m_prefix + "*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            names.push_back(Utf8Text(entry.cFileName, std::wcslen(entry.cFileName)));
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
    return names;
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
