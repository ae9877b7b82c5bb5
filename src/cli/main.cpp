#include "cli/CommandLine.h"
#include "core/Process.h"

#include <iostream>

int main(int argc, char** argv)
{
    vellumcast::core::UseBinaryStandardStreams();
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return vellumcast::cli::RunCommandLine(
        arguments, std::cin, std::cout, std::cerr, vellumcast::core::StandardErrorIsTerminal());
}
