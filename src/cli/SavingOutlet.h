#pragma once
// The outlet of the texts the command line saves into its output folder.

#include "cli/SpooledResults.h"
#include "cli/StandardOutput.h"
#include "results/SaveResults.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace vellumcast::cli {

// The texts of the workbook whose turn it is, each saved into the output folder as it
// comes (results::SaveSession); what the save prints and reports is kept as
// PrintingOutlet keeps its failures, and once a failure is kept nothing more is saved.
class SavingOutlet final : public ResultOutlet {
public:
    explicit SavingOutlet(results::SaveSession& session)
        : m_session(session)
    {
    }
    // The workbook whose texts come next, and the folder it was found in.
    void SetWorkbook(std::string shownName, std::string folder)
    {
        m_session.SetWorkbook(std::move(shownName), std::move(folder));
    }
    // A file is put in place only once committed.
    bool TakesBack() const override { return true; }
    void Begin(const exporting::ResultEntry& head) override
    {
        m_begun = !m_failure;
        if (m_begun)
            m_session.Begin(head);
    }
    using ResultOutlet::Write;
    void Write(std::string_view bytes) override
    {
        if (m_begun)
            m_session.Write(bytes);
    }
    void Cut(uint64_t size) override
    {
        if (m_begun)
            m_session.Cut(size);
    }
    void Commit() override { End(false); }
    void CommitCutShort() override { End(true); }
    void Abandon() override
    {
        if (std::exchange(m_begun, false))
            m_session.Abandon();
    }
    // The save reports the file it could not write whole.
    void ReadFailed(int code) override
    {
        if (m_begun)
            m_session.Fail(code);
    }
    void RethrowFailure()
    {
        if (m_failure)
            throw *m_failure;
    }

private:
    void End(bool cutShort)
    {
        if (!std::exchange(m_begun, false))
            return;
        try {
            if (cutShort)
                m_session.CommitCutShort();
            else
                m_session.Commit();
        } catch (const OutputFailed& failure) {
            m_failure = failure;
        }
    }

    results::SaveSession& m_session;
    std::optional<OutputFailed> m_failure;
    bool m_begun = false; // a text was begun in the session
};

} // namespace vellumcast::cli
