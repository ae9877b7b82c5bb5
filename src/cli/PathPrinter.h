#pragma once
// The paths the command line's save writes, printed as it writes them.

#include "cli/Messages.h"
#include "cli/StandardOutput.h"
#include "results/SaveResults.h"

namespace vellumcast::cli {

// Prints the path each result was actually written under, as it is written.
class PathPrinter final : public results::SaveListener {
public:
    explicit PathPrinter(StandardOutput& out)
        : m_out(out)
    {
    }
    void Saved(const results::SavedFile& file) override
    {
        if (file.written)
            m_out.Write(Escaped(file.path) + "\n");
    }

private:
    StandardOutput& m_out;
};

} // namespace vellumcast::cli
