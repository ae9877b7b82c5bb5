#pragma once
// The outlet of the texts the command line prints to standard output.

#include "cli/Messages.h"
#include "cli/SpooledResults.h"
#include "cli/StandardOutput.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace vellumcast::cli {

// UTF-8's byte-order mark.
inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The texts of the workbook whose turn it is, one after another on standard output;
// asked for, one byte-order mark starts the output, as it would start one file holding
// them all. It may be handed texts on the workbook's own thread: a failure of standard
// output is kept for the run's thread (TakeFailures) rather than thrown into the export.
class PrintingOutlet final : public ResultOutlet {
public:
    PrintingOutlet(StandardOutput& out, bool byteOrderMark)
        : m_out(out)
        , m_byteOrderMark(byteOrderMark)
    {
    }
    // What was printed stays printed: the spool sends only what nothing takes back.
    bool TakesBack() const override { return false; }
    void Begin(const exporting::ResultEntry&) override
    {
        if (m_byteOrderMark && !m_markWritten) {
            Write(kByteOrderMark);
            m_markWritten = true;
        }
    }
    using ResultOutlet::Write;
    void Write(std::string_view bytes) override
    {
        if (m_failure)
            return;
        try {
            m_out.Write(bytes);
        } catch (const OutputFailed& failure) {
            m_failure = failure;
        }
    }
    void Cut(uint64_t) override { throw std::logic_error("A text printed cannot be taken back"); }
    void Commit() override { }
    void CommitCutShort() override { }
    void Abandon() override { throw std::logic_error("A text printed cannot be taken back"); }
    void ReadFailed(int code) override
    {
        m_readFailures += ProgramLine(
            "the texts held in a temporary file cannot be read back: " + std::string(std::strerror(code)));
    }
    // What went wrong since the last call: the read failures' lines, returned; a failure
    // of standard output, thrown.
    std::string TakeFailures()
    {
        if (m_failure)
            throw *m_failure;
        return std::exchange(m_readFailures, {});
    }

private:
    StandardOutput& m_out;
    bool m_byteOrderMark;
    bool m_markWritten = false;
    std::optional<OutputFailed> m_failure;
    std::string m_readFailures;
};

} // namespace vellumcast::cli
