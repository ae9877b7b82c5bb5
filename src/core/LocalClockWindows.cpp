#include "core/LocalClock.h"

#include <windows.h>

namespace vellumcast::core {

LocalDateTime LocalNow()
{
    SYSTEMTIME local {};
    ::GetLocalTime(&local);
    return { local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond, local.wMilliseconds };
}

} // namespace vellumcast::core
