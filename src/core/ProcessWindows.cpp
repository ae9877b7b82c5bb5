#include "core/Process.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdio>
#include <cstdlib>
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

namespace {

// What UseUtf8Console changed, to be given back: the code page (0: unchanged) and the
// modes of the standard output and error consoles.
std::atomic<UINT> g_codePage { 0 };
struct ConsoleMode {
    DWORD which;
    DWORD mode;
    bool changed;
};
ConsoleMode g_modes[] = { { STD_OUTPUT_HANDLE, 0, false }, { STD_ERROR_HANDLE, 0, false } };

void RestoreAtExit()
{
    RestoreConsole();
}

// Ctrl+C and the like while no save holds them off end the program without its exit
// handlers: the console is given back first, and the event goes on to end it.
BOOL WINAPI RestoreOnEvent(DWORD)
{
    RestoreConsole();
    return FALSE;
}

} // namespace

void UseUtf8Console()
{
    bool console = false;
    for (ConsoleMode& saved : g_modes) {
        const HANDLE handle = ::GetStdHandle(saved.which);
        DWORD mode = 0;
        if (!::GetConsoleMode(handle, &mode))
            continue;
        console = true;
        const DWORD wanted = mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING;
        if (wanted != mode && ::SetConsoleMode(handle, wanted)) {
            saved.mode = mode;
            saved.changed = true;
        }
    }
    if (!console)
        return;
    const UINT codePage = ::GetConsoleOutputCP();
    if (codePage != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8))
        g_codePage = codePage;
    std::atexit(RestoreAtExit);
    ::SetConsoleCtrlHandler(RestoreOnEvent, TRUE);
}

void RestoreConsole() noexcept
{
    if (const UINT codePage = g_codePage.exchange(0))
        ::SetConsoleOutputCP(codePage);
    for (ConsoleMode& saved : g_modes) {
        if (saved.changed)
            ::SetConsoleMode(::GetStdHandle(saved.which), saved.mode);
        saved.changed = false;
    }
}

bool StandardErrorIsTerminal()
{
    // A console too old for escape sequences would show the progress line's as text.
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0
        && (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

} // namespace vellumcast::core
