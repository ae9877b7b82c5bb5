#pragma once
// The text of the error report box.

#include "core/Ports.h"
#include "core/SupportAddress.h"

#include <string>
#include <string_view>

namespace vellumcast::core {

inline constexpr std::string_view kLocationPrefix = "in Murrelet2/19/2015.";

// "in Murrelet2/19/2015." + owner + "." + handler + " "
std::string LocationText(std::string_view owner, std::string_view handler);

// The report's message exactly as the box shows it: description, CR LF, location,
// "at line ", step, CR, CR, the request for a screenshot, then the scan context if any.
std::string ReportErrorMessage(const ErrorReport& report);

} // namespace vellumcast::core
