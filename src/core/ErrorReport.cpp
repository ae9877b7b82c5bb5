#include "core/ErrorReport.h"

namespace vellumcast::core {

std::string LocationText(std::string_view owner, std::string_view handler)
{
    std::string text(kLocationPrefix);
    text += owner;
    text += '.';
    text += handler;
    text += ' ';
    return text;
}

std::string ReportErrorMessage(const ErrorReport& report)
{
    std::string message = report.description;
    message += "\r\n";
    message += report.location;
    message += "at line ";
    message += std::to_string(report.step);
    message += "\r\r";
    message += "Please email screenshot of this message to ";
    message += kSupportAddress;
    if (report.hasScanContext) {
        message += "name: ";
        message += report.scanFolder;
        message += "\r\n";
        message += "f(x): ";
        message += report.scanFile;
    }
    return message;
}

} // namespace vellumcast::core
