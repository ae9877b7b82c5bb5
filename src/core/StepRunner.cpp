#include "core/StepRunner.h"

#include <new>
#include <stdexcept>
#include <system_error>

namespace vellumcast::core {

std::string DescribeFailure(std::exception_ptr failure)
{
    try {
        if (failure)
            std::rethrow_exception(failure);
    } catch (const std::bad_alloc&) {
        return "Out of memory";
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "Unknown failure";
    }
    return "Unknown failure";
}

void StepRunner::Fail(int number, std::exception_ptr failure)
{
    const std::string description = DescribeFailure(failure);
    Report(number, description, std::move(failure));
}

void StepRunner::Fail(int number, const std::string& description)
{
    Report(number, description, nullptr);
}

void StepRunner::Report(int number, const std::string& description, std::exception_ptr failure)
{
    ErrorReport report;
    report.failure = std::move(failure);
    report.description = description;
    report.location = m_location;
    report.step = number;
    report.hasScanContext = m_hasScanContext;
    report.scanFolder = m_scanFolder;
    report.scanFile = m_scanFile;
    try {
        m_reporter.Report(report);
    } catch (...) {
        // A reporter that fails must not take the handler down with it.
    }
}

} // namespace vellumcast::core
