#include "core/Process.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <thread>
#include <windows.h>

namespace vellumcast::core {

long CurrentProcessId()
{
    return static_cast<long>(::GetCurrentProcessId());
}

unsigned UsableCores()
{
    DWORD_PTR processMask = 0;
    DWORD_PTR systemMask = 0;
    if (::GetProcessAffinityMask(::GetCurrentProcess(), &processMask, &systemMask) && processMask != 0)
        return static_cast<unsigned>(std::popcount(static_cast<unsigned long long>(processMask)));
    return std::max(1u, std::thread::hardware_concurrency());
}

void UseBinaryStandardStreams()
{
    std::fflush(stdout);
    std::fflush(stderr);
    ::_setmode(::_fileno(stdin), _O_BINARY);
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
}

bool StandardErrorIsTerminal()
{
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

} // namespace vellumcast::core
