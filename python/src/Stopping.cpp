#include "Stopping.h"

#include <pybind11/pybind11.h>

namespace vellumcast::python {

namespace {

thread_local core::Pump* t_pump = nullptr;

// Python's main thread, as the module saw it when first imported (imports run there).
unsigned long MainThreadIdent()
{
    static const unsigned long ident = [] {
        pybind11::gil_scoped_acquire gil;
        return pybind11::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();
    }();
    return ident;
}

} // namespace

bool OnMainThread()
{
    return PyThread_get_thread_ident() == MainThreadIdent();
}

StoppingPump::StoppingPump(bool checkSignals)
    : m_checkSignals(checkSignals)
{
}

void StoppingPump::CheckSignals()
{
    // Taking the GIL may wait for another Python thread: a few checks a second are enough.
    const auto now = std::chrono::steady_clock::now();
    if (now < m_nextCheck)
        return;
    m_nextCheck = now + std::chrono::milliseconds(20);
    const pybind11::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) {
        m_interrupted = true;
        RequestStop();
        throw Stopped();
    }
}

PumpOnThisThread::PumpOnThisThread(core::Pump& pump)
    : m_before(t_pump)
{
    t_pump = &pump;
}

PumpOnThisThread::~PumpOnThisThread()
{
    t_pump = m_before;
}

std::function<void()> YieldToPump()
{
    return [] {
        if (t_pump)
            t_pump->Run();
    };
}

} // namespace vellumcast::python
