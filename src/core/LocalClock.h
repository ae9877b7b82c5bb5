#pragma once
// The date and time of the machine's clock in its own time zone, as the system tells them:
// LocalClockPosix.cpp and LocalClockWindows.cpp.

namespace vellumcast::core {

struct LocalDateTime {
    int year = 1970;
    int month = 1; // 1 to 12
    int day = 1; // 1 to 31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// Now, in the local time zone.
LocalDateTime LocalNow();

} // namespace vellumcast::core
