#pragma once
// How work the module does without the GIL is stopped: by a Ctrl-C the waiting Python
// thread sees, or by the caller (an iterator closed). The engine and the export reach the
// stop through the pump of the work under way, which the engine's yields and the walks
// call now and then; a stop requested is thrown from there as Stopped, so a long load
// ends at its next yield rather than at its end.

#include "core/Ports.h"
#include "spreadsheet/SpreadsheetError.h"

#include <atomic>
#include <chrono>
#include <functional>

namespace vellumcast::python {

// Thrown from a pump's Run once a stop was requested. A SpreadsheetError, so that the
// engine lets go of a worksheet loaded half-way as it does for a damaged one; callers
// tell it apart by asking the pump, never by the message.
class Stopped : public spreadsheet::SpreadsheetError {
public:
    Stopped()
        : SpreadsheetError(spreadsheet::ErrorCode::Unsupported, "stopped")
    {
    }
};

class StoppingPump final : public core::Pump {
public:
    // checkSignals: the work runs on Python's main thread, which released the GIL for it;
    // the pump then takes the GIL back now and then to let Python handle a Ctrl-C.
    explicit StoppingPump(bool checkSignals = false);

    void Run() override
    {
        if (m_stop.load(std::memory_order_relaxed))
            throw Stopped();
        if (m_checkSignals && ++m_calls % kCallsBetweenChecks == 0)
            CheckSignals();
    }
    bool StopRequested() const override { return m_stop.load(std::memory_order_relaxed); }

    // From any thread: the work stops at its next safe point.
    void RequestStop() { m_stop.store(true, std::memory_order_relaxed); }
    // Whether Python raised an exception (KeyboardInterrupt) from a signal handler while
    // the work ran: it is set on the calling thread, to be raised once the work is undone.
    bool Interrupted() const { return m_interrupted; }

private:
    static constexpr unsigned kCallsBetweenChecks = 1024;
    void CheckSignals();

    std::atomic<bool> m_stop { false };
    bool m_checkSignals;
    bool m_interrupted = false;
    unsigned m_calls = 0;
    std::chrono::steady_clock::time_point m_nextCheck;
};

// Whether the calling thread is Python's main thread, the one that handles signals.
bool OnMainThread();

// Makes pump the one the engine's yields call on this thread while the guard lives: the
// engine keeps the yield it was opened with, and a workbook serves many calls in turn.
class PumpOnThisThread {
public:
    explicit PumpOnThisThread(core::Pump& pump);
    ~PumpOnThisThread();
    PumpOnThisThread(const PumpOnThisThread&) = delete;
    PumpOnThisThread& operator=(const PumpOnThisThread&) = delete;

private:
    core::Pump* m_before;
};

// The yield every engine workbook of the module is opened with: runs the pump of the
// work under way on this thread, if any.
std::function<void()> YieldToPump();

} // namespace vellumcast::python
