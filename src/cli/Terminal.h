#pragma once
// The command line's terminal: standard error and the progress line.

#include "cli/Messages.h"

#include <cstddef>
#include <ostream>
#include <string>

namespace vellumcast::cli {

// Standard error as the run uses it: errors always, warnings and notices unless quiet,
// and on a terminal a progress line that is erased before anything else is printed and
// when the work ends.
class Terminal {
public:
    Terminal(std::ostream& err, bool progress, bool quiet)
        : m_err(err)
        , m_progress(progress && !quiet)
        , m_quiet(quiet)
    {
    }
    void Progress(const std::string& text)
    {
        if (!m_progress)
            return;
        std::string shown = Escaped(text);
        if (shown.size() > kProgressWidth) {
            size_t cut = kProgressWidth;
            while (cut > 0 && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80)
                --cut; // between two UTF-8 characters
            shown.resize(cut);
        }
        m_err << kErase << shown << std::flush;
        m_shown = true;
    }
    void Clear()
    {
        if (m_shown)
            m_err << kErase << std::flush;
        m_shown = false;
    }
    void Error(const std::string& lines)
    {
        if (lines.empty())
            return;
        Clear();
        m_err << lines << std::flush;
    }
    void Note(const std::string& lines)
    {
        if (!m_quiet)
            Error(lines);
    }
    bool ShowsProgress() const { return m_progress; }

private:
    static constexpr const char* kErase = "\r\033[K"; // to the line's start, then clear it
    static constexpr size_t kProgressWidth = 72; // one line of the narrowest usual terminal
    std::ostream& m_err;
    bool m_progress;
    bool m_quiet;
    bool m_shown = false;
};

} // namespace vellumcast::cli
