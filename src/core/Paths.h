#pragma once
// Paths as texts: where a path's file name starts, which folder holds it, how a name is
// put after a folder. No file is looked at. Windows paths are spelt with "\" or "/",
// may start with a drive ("C:\data", or "C:data" relative to drive C's current folder),
// a share ("\\server\share\data") or the long-path prefix ("\\?\C:\data",
// "\\?\UNC\server\share\data"); POSIX paths know "/" alone, and a "\" or ":" there is
// part of a name. Every function takes the style of the system it runs on unless told.

#include <string>
#include <string_view>

namespace vellumcast::core {

enum class PathStyle { Posix, Windows };

#ifdef _WIN32
inline constexpr PathStyle kSystemPathStyle = PathStyle::Windows;
#else
inline constexpr PathStyle kSystemPathStyle = PathStyle::Posix;
#endif

// True for "/", and on Windows for "\" too.
bool IsPathSeparator(char c, PathStyle style = kSystemPathStyle);

// How many characters of path its root takes: "/" (1); on Windows also "\" (1), "C:" (2),
// "C:\" (3), "\\server\share\" and the long-path forms "\\?\C:\" and
// "\\?\UNC\server\share\" whole. 0 for a relative path.
size_t PathRootLength(std::string_view path, PathStyle style = kSystemPathStyle);

// The text after the last separator or the root: "report" of "C:\x\report", "" of
// "C:\x\" and of "C:"; the whole text when there is neither.
std::string FileNameOfPath(std::string_view path, PathStyle style = kSystemPathStyle);

// The folder that holds what path names, as path spells it: the text before its file
// name without the separators that end it, unless they are the root's ("/", "C:\",
// "\\server\share\"); "." for a name alone.
std::string FolderOfPath(std::string_view path, PathStyle style = kSystemPathStyle);

// The path without the separators that end it, unless they are its root's: "data//"
// gives "data", "/" and "C:\" stay.
std::string WithoutEndingSeparators(std::string_view path, PathStyle style = kSystemPathStyle);

// The path with one kind of separator: on Windows a path holding a "\" has its "/" made
// "\" too (as the long-path form needs); a path spelt with "/" alone keeps them. POSIX
// paths are kept as they are.
std::string WithOneSeparator(std::string_view path, PathStyle style = kSystemPathStyle);

// folder, then name, with one separator between them: the one folder is spelt with
// ("\" on Windows when it has none), none when folder ends in one or is a drive alone
// ("C:"). The result holds one kind of separator (WithOneSeparator); an empty folder
// gives name alone.
std::string JoinPath(std::string_view folder, std::string_view name, PathStyle style = kSystemPathStyle);

// The text before the last "."; throws std::invalid_argument when there is none.
std::string PathWithoutExtension(std::string_view text);

} // namespace vellumcast::core
