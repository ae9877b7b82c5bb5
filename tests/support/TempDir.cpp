#include "support/TempDir.h"

#include "TestPaths.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>

namespace vellumcast::testing {

// A new folder of a random name, made by this process alone (create_directory fails for
// one that exists), as mkdtemp makes it but on every system.
TempDir::TempDir()
{
    thread_local std::mt19937_64 random(std::random_device {}());
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path folder = base / ("vellumcast-test-" + std::to_string(random() % 1000000007));
        if (std::filesystem::create_directory(folder)) {
            m_path = folder.generic_string();
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir()
{
    std::error_code ignored;
    // Folders made read-only by a test must not outlive it.
    for (auto it = std::filesystem::recursive_directory_iterator(m_path, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
            std::filesystem::perm_options::add | std::filesystem::perm_options::nofollow, ignored);
    }
    std::filesystem::remove_all(m_path, ignored);
}

std::string TempDir::Write(const std::string& name, const std::string& bytes) const
{
    const std::string path = File(name);
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    return path;
}

std::string Fixture(const std::string& relative)
{
    return std::string(VELLUMCAST_FIXTURES_DIR) + "/" + relative;
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool CanMakeSymbolicLinks()
{
    static const bool can = [] {
        const TempDir dir;
        std::error_code error;
        std::filesystem::create_symlink(dir.File("target"), dir.File("link"), error);
        return !error;
    }();
    return can;
}

std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> EveryWorkbook()
{
    std::vector<std::string> paths;
    for (const std::string& folder : { Fixture("workbooks"), std::string(VELLUMCAST_SOURCE_DIR) + "/Samples" }) {
        for (const std::string& name : FilesIn(folder)) {
            if (name.rfind("LICENSE", 0) != 0)
                paths.push_back(folder + "/" + name);
        }
    }
    return paths;
}

} // namespace vellumcast::testing
