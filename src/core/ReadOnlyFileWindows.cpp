#include "core/ReadOnlyFile.h"
#include "core/WideTextWindows.h"

#include <algorithm>
#include <windows.h>

namespace vellumcast::core {

namespace {

std::string Reason(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return "the file does not exist";
    case ERROR_ACCESS_DENIED:
        return "permission to read the file is denied";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return "another program has the file open";
    default:
        break;
    }
    char* text = nullptr;
    const DWORD length
        = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
            nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string reason = length > 0 ? std::string(text, length) : "system error " + std::to_string(error);
    ::LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.'))
        reason.pop_back();
    return reason;
}

HANDLE HandleOf(intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

} // namespace

ReadOnlyFile::ReadOnlyFile(const std::string& path)
{
    // Other programs may go on writing, renaming or deleting the file while it is read;
    // backup semantics let a folder be opened so that it is refused by name below.
    const HANDLE handle
        = ::CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        throw FileReadError(FileReadError::Kind::Unreadable, Reason(::GetLastError()));
    m_handle = reinterpret_cast<intptr_t>(handle);
    // Devices (NUL, CON, serial ports) and pipes are no files; a folder is one of a kind.
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        ::CloseHandle(handle);
        throw FileReadError(FileReadError::Kind::NotAFile, "it is not a regular file, so it is not a workbook");
    }
    BY_HANDLE_FILE_INFORMATION info {};
    if (!::GetFileInformationByHandle(handle, &info)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(handle);
        throw FileReadError(FileReadError::Kind::Unreadable, Reason(error));
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        ::CloseHandle(handle);
        throw FileReadError(FileReadError::Kind::NotAFile, "it is a folder, not a workbook");
    }
    m_size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

ReadOnlyFile::~ReadOnlyFile()
{
    ::CloseHandle(HandleOf(m_handle));
}

size_t ReadOnlyFile::ReadAt(uint64_t offset, void* out, size_t size) const
{
    auto* bytes = static_cast<char*>(out);
    size_t done = 0;
    while (done < size) {
        // The offset goes with each read, so reads from several threads never share a
        // file position.
        OVERLAPPED at {};
        const uint64_t position = offset + done;
        at.Offset = static_cast<DWORD>(position & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        const auto wanted = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30));
        DWORD got = 0;
        if (!::ReadFile(HandleOf(m_handle), bytes + done, wanted, &got, &at)) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_HANDLE_EOF)
                break;
            throw FileReadError(FileReadError::Kind::Unreadable, Reason(error));
        }
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

} // namespace vellumcast::core
