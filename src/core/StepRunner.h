#pragma once
// Runs the numbered steps of a handler. A step that throws becomes one report with
// the step's number, and the handler goes on with its next step: nothing is retried
// and no handler gives up early. Every handler uses this; none catches by hand.

#include "core/Ports.h"

#include <exception>
#include <string>
#include <utility>

namespace vellumcast::core {

// The description a failure shows in its report.
std::string DescribeFailure(std::exception_ptr failure);

class StepRunner {
public:
    StepRunner(ErrorReporter& reporter, std::string location)
        : m_reporter(reporter)
        , m_location(std::move(location))
    {
    }

    // Runs one step. Returns false when it failed (and was reported).
    template <typename F> bool Step(int number, F&& body)
    {
        try {
            std::forward<F>(body)();
            return true;
        } catch (...) {
            Fail(number, std::current_exception());
            return false;
        }
    }

    // Runs the test of a branch. A test that fails is reported and counts as true, so the
    // steps it guards run.
    template <typename F> bool Test(int number, F&& test)
    {
        try {
            return static_cast<bool>(std::forward<F>(test)());
        } catch (...) {
            Fail(number, std::current_exception());
            return true;
        }
    }

    // Reports a failure that did not arrive as an exception.
    void Fail(int number, std::exception_ptr failure);
    void Fail(int number, const std::string& description);

    // Extra lines of the folder import's reports.
    void SetScanContext(std::string folder, std::string file)
    {
        m_hasScanContext = true;
        m_scanFolder = std::move(folder);
        m_scanFile = std::move(file);
    }

private:
    void Report(int number, const std::string& description, std::exception_ptr failure);

    ErrorReporter& m_reporter;
    std::string m_location;
    bool m_hasScanContext = false;
    std::string m_scanFolder;
    std::string m_scanFile;
};

} // namespace vellumcast::core
