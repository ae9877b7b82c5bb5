#include "core/Process.h"

#include <algorithm>
#include <sched.h>
#include <thread>
#include <unistd.h>

namespace vellumcast::core {

long CurrentProcessId()
{
    return static_cast<long>(::getpid());
}

unsigned UsableCores()
{
    cpu_set_t allowed;
    if (::sched_getaffinity(0, sizeof(allowed), &allowed) == 0 && CPU_COUNT(&allowed) > 0)
        return static_cast<unsigned>(CPU_COUNT(&allowed));
    return std::max(1u, std::thread::hardware_concurrency());
}

void UseBinaryStandardStreams() { }

void UseUtf8Console() { }

void RestoreConsole() noexcept { }

bool StandardErrorIsTerminal()
{
    return ::isatty(STDERR_FILENO) != 0;
}

} // namespace vellumcast::core
