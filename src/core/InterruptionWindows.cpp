#include "core/Interruption.h"
#include "core/Process.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>
#include <windows.h>

namespace vellumcast::core {

namespace {

// Ctrl+C stands for SIGINT, Ctrl+Break for SIGTERM: the numbers and exit statuses are the
// same as elsewhere, so scripts read them alike.
constexpr int kSigTerm = 15;

volatile LONG g_pending = 0;

// Runs on a thread of its own that Windows starts for the event. Returning TRUE keeps the
// process alive; closing the console or logging off cannot be held, so they are let through.
BOOL WINAPI NoteConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
        ::InterlockedExchange(&g_pending, SIGINT);
        return TRUE;
    case CTRL_BREAK_EVENT:
        ::InterlockedExchange(&g_pending, kSigTerm);
        return TRUE;
    default:
        return FALSE;
    }
}

std::mutex g_mutex;
int g_depth = 0;

[[noreturn]] void EndWith(int signal)
{
    std::cout.flush();
    std::fflush(nullptr);
    RestoreConsole(); // no exit handler runs
    std::_Exit(128 + signal);
}

} // namespace

HeldInterruptions::HeldInterruptions()
{
    const std::lock_guard lock(g_mutex);
    if (g_depth++ > 0)
        return;
    ::InterlockedExchange(&g_pending, 0);
    ::SetConsoleCtrlHandler(NoteConsoleEvent, TRUE);
}

HeldInterruptions::~HeldInterruptions()
{
    const std::lock_guard lock(g_mutex);
    if (--g_depth > 0)
        return;
    ::SetConsoleCtrlHandler(NoteConsoleEvent, FALSE);
    // One that came after the last look ends the program as it would have without the guard.
    if (const int signal = static_cast<int>(g_pending))
        EndWith(signal);
}

int HeldInterruptions::Pending()
{
    return static_cast<int>(g_pending);
}

void HeldInterruptions::EndIfPending(const char* whatWasDone)
{
    const int signal = static_cast<int>(g_pending);
    if (signal == 0)
        return;
    const std::string message = std::string(s_messagePrefix) + "Interrupted by "
        + (signal == SIGINT ? "Ctrl+C" : "Ctrl+Break") + ": " + whatWasDone + "\n";
    std::cout.flush();
    std::fputs(message.c_str(), stderr);
    // Other threads may be exporting still: nothing of theirs is run on the way out.
    EndWith(signal);
}

} // namespace vellumcast::core
