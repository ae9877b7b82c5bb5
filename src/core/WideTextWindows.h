#pragma once
// Windows only: the program's UTF-8 text to the UTF-16 the wide Windows calls take, and
// back, for paths and messages.

#include <string>
#include <windows.h>

namespace vellumcast::core {

// Bytes that are not UTF-8 become U+FFFD, which names no file, so the call that takes the
// name fails for want of the file rather than acting on another one.
inline std::wstring WideText(const std::string& utf8)
{
    if (utf8.empty())
        return {};
    const int size = static_cast<int>(utf8.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(std::max(length, 0)), L'\0');
    if (length > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

inline std::string Utf8Text(const wchar_t* wide, size_t size)
{
    if (size == 0)
        return {};
    const int wideSize = static_cast<int>(size);
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide, wideSize, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(std::max(length, 0)), '\0');
    if (length > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, wide, wideSize, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

inline std::string Utf8Text(const std::wstring& wide)
{
    return Utf8Text(wide.data(), wide.size());
}

} // namespace vellumcast::core
