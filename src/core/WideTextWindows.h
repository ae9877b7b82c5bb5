#pragma once
// Windows only: the program's UTF-8 text to the UTF-16 the wide Windows calls take, and
// back, for paths and messages.

#include <algorithm>
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

// A path as the wide Windows calls take it: WideText, and a path too long for the calls'
// usual limit (260 characters for a file, 248 for a folder one creates) made absolute
// under the "\\?\" prefix, which lifts the limit on every Windows whatever its long-path
// setting. Shorter paths stay as they are, relative ones and device names included.
inline std::wstring WidePath(const std::string& utf8)
{
    constexpr size_t kLongestUsual = 247;
    std::wstring wide = WideText(utf8);
    // The prefixed form takes no "/", "." or ".." and no relative path: the system's own
    // rules resolve them first, and a path that has the prefix already gets "\" for "/".
    const bool prefixed = wide.starts_with(L"\\\\?\\");
    if (prefixed || wide.size() > kLongestUsual)
        std::replace(wide.begin(), wide.end(), L'/', L'\\');
    if (prefixed || wide.size() <= kLongestUsual || wide.starts_with(L"\\\\.\\"))
        return wide;
    const DWORD size = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return wide;
    std::wstring full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size)
        return wide;
    full.resize(length);
    if (full.starts_with(L"\\\\?\\") || full.starts_with(L"\\\\.\\"))
        return full;
    if (full.starts_with(L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

} // namespace vellumcast::core
