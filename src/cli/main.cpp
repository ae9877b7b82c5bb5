#include "cli/CommandLine.h"

#include <iostream>
#include <unistd.h>

int main(int argc, char** argv)
{
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return vellumcast::cli::RunCommandLine(arguments, std::cin, std::cout, std::cerr, ::isatty(STDERR_FILENO) != 0);
}
