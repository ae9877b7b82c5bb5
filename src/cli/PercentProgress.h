#pragma once
// The progress line of one workbook exported at a time.

#include "cli/Terminal.h"
#include "core/Ports.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

namespace vellumcast::cli {

// The percentage of the workbook being exported, when one workbook is exported at a time.
class PercentProgress final : public core::Progress {
public:
    PercentProgress(Terminal& terminal, std::string name)
        : m_terminal(terminal)
        , m_name(std::move(name))
    {
    }
    void Set(double percent) override
    {
        const int whole = static_cast<int>(std::floor(percent));
        if (whole == m_last || whole <= 0)
            return;
        m_last = whole;
        m_terminal.Progress(m_name + ": " + std::to_string(std::min(whole, 100)) + "%");
    }

private:
    Terminal& m_terminal;
    std::string m_name;
    int m_last = -1;
};

} // namespace vellumcast::cli
