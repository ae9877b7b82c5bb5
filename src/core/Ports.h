#pragma once
// The small interfaces through which the core talks to people or scripts. The windows,
// the command line and the tests each implement them.

#include <cstddef>
#include <exception>
#include <string>

namespace vellumcast::core {

// One failure of a numbered step, as the error report shows it.
struct ErrorReport {
    std::string description;
    std::string location; // "in Murrelet2/19/2015.Form1.PushButton2_Click "
    int step = 0;
    // The folder import adds the folder being scanned and the file being handled.
    bool hasScanContext = false;
    std::string scanFolder;
    std::string scanFile;
    // The failure itself when it came as an exception, for callers that tell kinds of
    // failure apart by its type (the Python module raises a class per engine error code).
    std::exception_ptr failure;
};

class ErrorReporter {
public:
    virtual ~ErrorReporter() = default;
    virtual void Report(const ErrorReport& report) = 0;
};

// An ErrorReporter for handlers that say nothing about their failures.
class SilentReporter final : public ErrorReporter {
public:
    void Report(const ErrorReport&) override { }
};

// Counts the reports that pass through it to another reporter, so a caller can tell
// whether the work it ran reported a failure.
class CountingReporter final : public ErrorReporter {
public:
    explicit CountingReporter(ErrorReporter& inner)
        : m_inner(inner)
    {
    }
    void Report(const ErrorReport& report) override
    {
        ++m_count;
        m_inner.Report(report);
    }
    size_t Count() const { return m_count; }

private:
    ErrorReporter& m_inner;
    size_t m_count = 0;
};

// Lets pending window events run. Callers may call it per cell; implementations decide
// how often they really yield.
class Pump {
public:
    virtual ~Pump() = default;
    virtual void Run() = 0;
    // True once the person asked the work in progress to stop. Long work checks it at its
    // safe points (the export between cells, a save between files, a folder search
    // between folders), ends there and keeps what it has done.
    virtual bool StopRequested() const { return false; }
};

class NoPump final : public Pump {
public:
    void Run() override { }
};

// A percentage from 0 to 100 for the progress bar.
class Progress {
public:
    virtual ~Progress() = default;
    virtual void Set(double percent) = 0;
};

class NoProgress final : public Progress {
public:
    void Set(double) override { }
};

} // namespace vellumcast::core
