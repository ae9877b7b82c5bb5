#include "cli/CommandLine.h"
#include "core/Process.h"

#include <cwchar>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include "core/WideTextWindows.h"
#endif

namespace {

int Run(std::vector<std::string> arguments)
{
    vellumcast::core::UseBinaryStandardStreams();
    vellumcast::core::UseUtf8Console();
    std::ios::sync_with_stdio(false);
    return vellumcast::cli::RunCommandLine(
        arguments, std::cin, std::cout, std::cerr, vellumcast::core::StandardErrorIsTerminal());
}

} // namespace

#ifdef _WIN32
// The arguments as Windows hands them over, in UTF-16, whatever the code page: every name
// reaches the program as typed. Wildcards are left to the program (ExpandFolders).
int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.push_back(vellumcast::core::Utf8Text(argv[i], std::wcslen(argv[i])));
    return Run(std::move(arguments));
}
#else
int main(int argc, char** argv)
{
    return Run(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
