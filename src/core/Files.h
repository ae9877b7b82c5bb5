#pragma once
// File and path helpers shared by every layer. Paths use "/" as separator; no helper
// normalises a path, callers build paths by plain concatenation.

#include <stdexcept>
#include <string>
#include <string_view>

namespace vellumcast::core {

// True when the path names anything whose modification time can be read: a file or a folder.
bool FileExists(const std::string& path);

// True when the path names an existing folder.
bool FolderExists(const std::string& path);

// The whole file as bytes. A missing file gives "", a 0-byte file the text "empty file".
std::string ReadTextFile(const std::string& path);

// Creates or empties the file and writes the text exactly, adding no line break.
// Throws FileError naming the path when the file cannot be written.
void WriteTextFile(const std::string& path, std::string_view text);

// Deletes the named file; every failure is ignored.
void DeleteFileQuietly(const std::string& path) noexcept;

// The text after the last "/", or the whole text without one.
std::string FileNameOfPath(std::string_view path);

// The text before the last "."; throws std::invalid_argument when there is none.
std::string PathWithoutExtension(std::string_view text);

// The user's desktop folder (XDG_DESKTOP_DIR, else ~/Desktop) when it exists, else the
// home folder, followed by exactly one "/".
// Throws std::invalid_argument when no home folder is known.
std::string GetDesktopFolder();

// The folder holding the running executable, without a trailing "/".
std::string ProgramFolder();

class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace vellumcast::core
