#pragma once
// Runs the command line in-process with its streams captured.

#include "cli/CommandLine.h"

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace vellumcast::testing {

struct CliRun {
    int status = -1;
    std::string out, err;
};

inline CliRun RunCli(const std::vector<std::string>& arguments, const std::string& input = {})
{
    std::istringstream in(input);
    std::ostringstream out, err;
    CliRun run;
    run.status = cli::RunCommandLine(arguments, in, out, err, false);
    run.out = out.str();
    run.err = err.str();
    return run;
}

// The names in folder, sorted.
inline std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace vellumcast::testing
