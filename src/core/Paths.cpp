#include "core/Paths.h"

#include <algorithm>
#include <stdexcept>

namespace vellumcast::core {

namespace {

bool IsLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The separator a path built on path takes.
char SeparatorOf(std::string_view path, PathStyle style)
{
    if (style == PathStyle::Posix)
        return '/';
    if (path.find('\\') == std::string_view::npos && path.find('/') != std::string_view::npos)
        return '/';
    return '\\';
}

// The root of a Windows path (see PathRootLength).
size_t WindowsRootLength(std::string_view path)
{
    const auto separator = [&](size_t at) { return at < path.size() && (path[at] == '\\' || path[at] == '/'); };
    const auto drive = [&](size_t at) { return at + 1 < path.size() && IsLetter(path[at]) && path[at + 1] == ':'; };
    // The end of the name that starts at, and the separator after it when there is one.
    const auto throughName = [&](size_t at) {
        while (at < path.size() && !separator(at))
            ++at;
        return separator(at) ? at + 1 : at;
    };
    if (drive(0))
        return separator(2) ? 3 : 2;
    if (!separator(0))
        return 0;
    if (!separator(1))
        return 1; // the current drive's root
    size_t at = 2;
    if (path.size() > 3 && (path[2] == '?' || path[2] == '.') && separator(3)) {
        // "\\?\C:\", "\\?\UNC\server\share\", or a volume or device: "\\?\Volume{…}\".
        at = 4;
        const std::string_view unc = path.substr(4, 3);
        const bool isUnc = unc.size() == 3 && (unc[0] == 'U' || unc[0] == 'u') && (unc[1] == 'N' || unc[1] == 'n')
            && (unc[2] == 'C' || unc[2] == 'c') && separator(7);
        if (!isUnc) {
            if (drive(4))
                return separator(6) ? 7 : 6;
            return throughName(4);
        }
        at = 8;
    }
    // A share: the server's name, then the share's.
    const size_t server = throughName(at);
    return separator(server - 1) ? throughName(server) : server;
}

} // namespace

bool IsPathSeparator(char c, PathStyle style)
{
    return c == '/' || (c == '\\' && style == PathStyle::Windows);
}

size_t PathRootLength(std::string_view path, PathStyle style)
{
    if (style == PathStyle::Windows)
        return WindowsRootLength(path);
    return !path.empty() && path.front() == '/' ? 1 : 0;
}

std::string FileNameOfPath(std::string_view path, PathStyle style)
{
    const size_t root = PathRootLength(path, style);
    size_t start = path.size();
    while (start > root && !IsPathSeparator(path[start - 1], style))
        --start;
    return std::string(path.substr(start));
}

std::string WithoutEndingSeparators(std::string_view path, PathStyle style)
{
    const size_t root = PathRootLength(path, style);
    size_t end = path.size();
    while (end > root && IsPathSeparator(path[end - 1], style))
        --end;
    return std::string(path.substr(0, end));
}

std::string FolderOfPath(std::string_view path, PathStyle style)
{
    const size_t end = path.size() - FileNameOfPath(path, style).size();
    return end == 0 ? "." : WithoutEndingSeparators(path.substr(0, end), style);
}

std::string WithOneSeparator(std::string_view path, PathStyle style)
{
    std::string one(path);
    if (style == PathStyle::Windows && one.find('\\') != std::string::npos)
        std::replace(one.begin(), one.end(), '/', '\\');
    return one;
}

std::string JoinPath(std::string_view folder, std::string_view name, PathStyle style)
{
    if (folder.empty())
        return std::string(name);
    std::string joined = WithOneSeparator(folder, style);
    // "C:" is the current folder of drive C: "C:name" is in it, "C:\name" would not be.
    const bool driveAlone
        = style == PathStyle::Windows && joined.size() == 2 && joined[1] == ':' && PathRootLength(joined, style) == 2;
    if (!IsPathSeparator(joined.back(), style) && !driveAlone)
        joined += SeparatorOf(joined, style);
    joined += name;
    return joined;
}

std::string PathWithoutExtension(std::string_view text)
{
    const auto dot = text.rfind('.');
    if (dot == std::string_view::npos)
        throw std::invalid_argument(
            "Invalid procedure call or argument: \"" + std::string(text) + "\" has no extension");
    return std::string(text.substr(0, dot));
}

} // namespace vellumcast::core
