#pragma once
// Ports that remember what they were given, for assertions.

#include "core/ErrorReport.h"
#include "core/Ports.h"

#include <functional>
#include <vector>

namespace vellumcast::testing {

class RecordingReporter final : public core::ErrorReporter {
public:
    void Report(const core::ErrorReport& report) override { reports.push_back(report); }
    std::vector<core::ErrorReport> reports;
};

class CountingPump final : public core::Pump {
public:
    void Run() override
    {
        ++calls;
        if (onRun)
            onRun();
    }
    size_t calls = 0;
    std::function<void()> onRun; // what a person does while events are processed
};

class RecordingProgress final : public core::Progress {
public:
    void Set(double percent) override { values.push_back(percent); }
    std::vector<double> values;
};

} // namespace vellumcast::testing
