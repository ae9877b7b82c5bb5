#pragma once
// The small interfaces through which the core talks to people or scripts. The windows,
// the command line and the tests each implement them.

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

// Lets pending window events run. Callers may call it per cell; implementations decide
// how often they really yield.
class Pump {
public:
    virtual ~Pump() = default;
    virtual void Run() = 0;
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
