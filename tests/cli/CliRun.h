#pragma once
// Runs the command line in-process with its streams captured.

#include "cli/CommandLine.h"

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

} // namespace vellumcast::testing
