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

// The texts of the workbook whose turn it is, each saved into the output folder: once
// whole, or as it comes when it is pending; what the save prints and reports is kept as
// PrintingOutlet keeps its failures.
class SavingOutlet final : public ResultOutlet {
public:
    explicit SavingOutlet(results::SaveSession& session)
        : m_session(session)
    {
    }
    // The workbook whose texts come next, and the folder it was found in.
    void SetWorkbook(std::string shownName, std::string folder)
    {
        m_shownName = std::move(shownName);
        m_folder = std::move(folder);
    }
    bool TakesPieces() const override { return false; }
    void Save(const exporting::ResultEntry& head, const core::TextPieces& text) override
    {
        if (m_failure)
            return;
        try {
            m_session.Save(head, text, m_shownName, m_folder);
        } catch (const OutputFailed& failure) {
            m_failure = failure;
        }
    }
    void ReadFailed(int) override { } // the save reports a text it cannot have
    bool TakesPending() const override { return true; }
    void BeginPending(const exporting::ResultEntry& head) override
    {
        m_pendingBegun = !m_failure;
        if (m_pendingBegun)
            m_session.Begin(head, m_shownName, m_folder);
    }
    void WritePending(std::string_view bytes) override
    {
        if (m_pendingBegun)
            m_session.Write(bytes);
    }
    void CutPending(uint64_t size) override
    {
        if (m_pendingBegun)
            m_session.Cut(size);
    }
    void CommitPending(bool cutShort) override
    {
        if (!std::exchange(m_pendingBegun, false))
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
    void AbandonPending() override
    {
        if (std::exchange(m_pendingBegun, false))
            m_session.Abandon();
    }
    void RethrowFailure()
    {
        if (m_failure)
            throw *m_failure;
    }

private:
    results::SaveSession& m_session;
    std::string m_shownName;
    std::string m_folder;
    std::optional<OutputFailed> m_failure;
    bool m_pendingBegun = false; // a pending text was begun in the session
};

} // namespace vellumcast::cli
