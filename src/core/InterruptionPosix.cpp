#include "core/Interruption.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <string>
#include <unistd.h>

namespace vellumcast::core {

namespace {

volatile std::sig_atomic_t g_pending = 0;

extern "C" void NoteSignal(int signal)
{
    g_pending = signal;
}

std::mutex g_mutex;
int g_depth = 0;
struct sigaction g_previousInt { };
struct sigaction g_previousTerm { };

} // namespace

HeldInterruptions::HeldInterruptions()
{
    const std::lock_guard lock(g_mutex);
    if (g_depth++ > 0)
        return;
    g_pending = 0;
    struct sigaction noting { };
    noting.sa_handler = NoteSignal;
    sigemptyset(&noting.sa_mask);
    noting.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &noting, &g_previousInt);
    ::sigaction(SIGTERM, &noting, &g_previousTerm);
    // A signal the program was started to ignore stays ignored.
    if (g_previousInt.sa_handler == SIG_IGN)
        ::sigaction(SIGINT, &g_previousInt, nullptr);
    if (g_previousTerm.sa_handler == SIG_IGN)
        ::sigaction(SIGTERM, &g_previousTerm, nullptr);
}

HeldInterruptions::~HeldInterruptions()
{
    const std::lock_guard lock(g_mutex);
    if (--g_depth > 0)
        return;
    ::sigaction(SIGINT, &g_previousInt, nullptr);
    ::sigaction(SIGTERM, &g_previousTerm, nullptr);
    // One that came after the last look is handled as it would have been without the guard.
    if (const int signal = g_pending)
        ::raise(signal);
}

int HeldInterruptions::Pending()
{
    return g_pending;
}

void HeldInterruptions::EndIfPending(const char* whatWasDone)
{
    const int signal = g_pending;
    if (signal == 0)
        return;
    std::cout.flush();
    std::fflush(nullptr);
    const std::string message = std::string(s_messagePrefix) + "Interrupted by "
        + (signal == SIGINT ? "SIGINT" : "SIGTERM") + ": " + whatWasDone + "\n";
    (void)!::write(STDERR_FILENO, message.data(), message.size());
    // Other threads may be exporting still: nothing of theirs is run on the way out.
    ::_exit(128 + signal);
}

} // namespace vellumcast::core
