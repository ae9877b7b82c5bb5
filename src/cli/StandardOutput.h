#pragma once
// Standard output as the command line writes it.

#include "cli/Terminal.h"

#include <cerrno>
#include <ostream>
#include <string_view>

namespace vellumcast::cli {

// Standard output could not be written; errno's value then, 0 when unknown.
struct OutputFailed {
    int code = 0;
};

// Standard output as the run writes it: any failure ends the run (OutputFailed), a
// progress line on the same terminal is erased first.
class StandardOutput {
public:
    StandardOutput(std::ostream& out, Terminal& terminal)
        : m_out(out)
        , m_terminal(terminal)
    {
    }
    void Write(std::string_view text)
    {
        m_terminal.Clear();
        errno = 0;
        m_out.write(text.data(), static_cast<std::streamsize>(text.size()));
        Check();
    }
    void Flush()
    {
        errno = 0;
        m_out.flush();
        Check();
    }

private:
    void Check()
    {
        if (!m_out)
            throw OutputFailed { errno };
    }
    std::ostream& m_out;
    Terminal& m_terminal;
};

} // namespace vellumcast::cli
