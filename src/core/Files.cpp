#include "core/Files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

std::string ReadTextFile(const std::string& path)
{
    if (!FileExists(path))
        return {};
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw FileError("Cannot read " + path + ": " + std::strerror(errno));
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.empty())
        return "empty file";
    return text;
}

void WriteTextFile(const std::string& path, std::string_view text)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        throw FileError("Cannot write " + path + ": " + std::strerror(errno));
    const size_t written = text.empty() ? 0 : std::fwrite(text.data(), 1, text.size(), file);
    const int writeError = written == text.size() ? 0 : errno;
    if (std::fclose(file) != 0 || writeError != 0)
        throw FileError("Cannot write " + path + ": " + std::strerror(writeError ? writeError : errno));
}

void DeleteFileQuietly(const std::string& path) noexcept
{
    ::unlink(path.c_str());
}

std::string FileNameOfPath(std::string_view path)
{
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string PathWithoutExtension(std::string_view text)
{
    const auto dot = text.rfind('.');
    if (dot == std::string_view::npos)
        throw std::invalid_argument(
            "Invalid procedure call or argument: \"" + std::string(text) + "\" has no extension");
    return std::string(text.substr(0, dot));
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
