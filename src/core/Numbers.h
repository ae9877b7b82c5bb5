#pragma once
// Numbers as messages show them.

#include <cstdint>
#include <string>

namespace vellumcast::core {

// The number with its digits grouped by threes with commas, the one grouping every
// message of the windows and the command line uses: "7", "16,927", "500,001".
inline std::string GroupedNumber(uint64_t number)
{
    std::string digits = std::to_string(number);
    for (size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, 1, ',');
    return digits;
}

} // namespace vellumcast::core
