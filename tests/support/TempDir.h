#pragma once
// A temporary folder that is removed with everything in it when the test ends.

#include <filesystem>
#include <string>
#include <vector>

namespace vellumcast::testing {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    // Path() + "/" + name
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    // Writes bytes to Path()/name and returns the full path.
    std::string Write(const std::string& name, const std::string& bytes) const;

private:
    std::string m_path;
};

// Path of a file in the shared fixtures: Fixture("workbooks/date.xlsx").
std::string Fixture(const std::string& relative);
std::string ReadBytes(const std::string& path);
// False where this process cannot make symbolic links: on Windows without the privilege
// or developer mode, and under Wine.
bool CanMakeSymbolicLinks();
// The names of everything in folder, sorted.
std::vector<std::string> FilesIn(const std::string& folder);
// The paths of every workbook in the fixtures and the samples: each format the engine reads.
std::vector<std::string> EveryWorkbook();

} // namespace vellumcast::testing
