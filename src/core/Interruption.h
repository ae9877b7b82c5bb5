#pragma once
// Holds off SIGINT and SIGTERM while files are being replaced, so that a person's Ctrl+C
// or a system shutting down never leaves a half-made temporary file behind: the signal
// is noted, the file under way is finished, and the program then ends as the signal
// would have ended it, with 128 + its number as the exit status. On Windows, Ctrl+C stands
// for SIGINT and Ctrl+Break for SIGTERM (InterruptionWindows.cpp).

namespace vellumcast::core {

class HeldInterruptions {
public:
    // Notes SIGINT and SIGTERM instead of ending at once, until destroyed. Guards may
    // nest; the outermost one puts the earlier handling back.
    HeldInterruptions();
    ~HeldInterruptions();
    HeldInterruptions(const HeldInterruptions&) = delete;
    HeldInterruptions& operator=(const HeldInterruptions&) = delete;

    // The signal noted since the guard was made, or 0.
    static int Pending();

    // When a signal is pending: says on standard error what became of the save, flushes
    // standard output and ends the program with 128 + the signal's number. Returns when
    // none is.
    static void EndIfPending(const char* whatWasDone);

    // What that message starts with, such as a program's name and ": "; none unless set.
    static void SetMessagePrefix(const char* prefix) { s_messagePrefix = prefix; }

private:
    inline static const char* s_messagePrefix = "";
};

} // namespace vellumcast::core
