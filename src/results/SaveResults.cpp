#include "results/SaveResults.h"

#include "core/ErrorReport.h"
#include "core/Files.h"
#include "core/StepRunner.h"
#include "export/ExportProcedures.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unordered_map>
#include <unordered_set>

namespace vellumcast::results {

std::string SafeNamePart(std::string_view text)
{
    std::string safe(text);
    for (char& c : safe) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '/' || byte < 0x20 || byte == 0x7F)
            c = '_';
    }
    return safe;
}

std::string SavedFileName(options::SaveMode mode, const exporting::ResultEntry& entry)
{
    std::string name = SafeNamePart(exporting::FileStem(entry.fileName.Copy()));
    if (mode != options::SaveMode::AllSheets) {
        name += '_';
        name += SafeNamePart(entry.sheetName);
        if (mode == options::SaveMode::EachRow || mode == options::SaveMode::EachColumn) {
            name += '_';
            if (entry.ordinal > 0)
                name += std::to_string(entry.ordinal);
        }
    }
    name += ".txt";
    return name;
}

namespace {

// Names of the run's own workbooks that lie in folder, listed and with links resolved: a
// result never takes one of them.
std::unordered_set<std::string> InputNamesIn(const std::string& folder, const std::vector<std::string>& inputs)
{
    std::unordered_set<std::string> names;
    struct stat target { };
    if (::stat(folder.c_str(), &target) != 0)
        return names;
    auto addIfInFolder = [&](const std::string& path) {
        const auto slash = path.rfind('/');
        const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
        struct stat info { };
        if (::stat(parent.c_str(), &info) == 0 && info.st_dev == target.st_dev && info.st_ino == target.st_ino)
            names.insert(core::FileNameOfPath(path));
    };
    for (const auto& input : inputs) {
        addIfInFolder(input);
        if (char* resolved = ::realpath(input.c_str(), nullptr)) {
            addIfInFolder(resolved);
            std::free(resolved);
        }
    }
    return names;
}

std::string CountOfResults(size_t count)
{
    return std::to_string(count) + (count == 1 ? " result was" : " results were");
}

void Tally(SaveSummary& summary, const SavedFile& file)
{
    if (!file.written) {
        ++summary.notWritten;
        return;
    }
    ++summary.written;
    if (file.renamed) {
        ++summary.renamed;
        if (summary.renamedNames.size() < kRenamedNamesKept)
            summary.renamedNames.push_back(core::FileNameOfPath(file.path));
    }
}

// The one report of a failure that ended the save, with the results it left unwritten.
std::string StoppedDescription(const core::WriteFailure& failure, size_t left, size_t total)
{
    return failure.description + ". Saving stopped: " + std::to_string(left) + " of " + std::to_string(total)
        + (total == 1 ? " result " : " results ") + (left == 1 ? "was" : "were") + " not written.";
}

} // namespace

// The names one save has used and the names it must not use.
class NameClaims {
public:
    explicit NameClaims(std::unordered_set<std::string> reserved)
        : m_reserved(std::move(reserved))
    {
    }

    // Claims name (which ends in ".txt"), or when it is taken the first free
    // "STEM (N).txt" from N = 2.
    std::string Claim(std::string name, bool& renamed)
    {
        renamed = Taken(name);
        if (renamed) {
            const std::string stem = name.substr(0, name.size() - 4);
            // Names are only ever added, so every N below the last one given is still taken.
            unsigned long& number = m_nextNumber.try_emplace(stem, 2).first->second;
            do
                name = stem + " (" + std::to_string(number++) + ").txt";
            while (Taken(name));
        }
        m_used.insert(name);
        return name;
    }

private:
    bool Taken(const std::string& name) const { return m_used.count(name) != 0 || m_reserved.count(name) != 0; }

    std::unordered_set<std::string> m_reserved;
    std::unordered_set<std::string> m_used;
    std::unordered_map<std::string, unsigned long> m_nextNumber;
};

SaveSummary SaveResults(const std::string& folder, std::optional<options::SaveMode> mode,
    const std::vector<std::string>& inputs, const exporting::ResultList& results, SavePorts ports)
{
    core::StepRunner run(ports.reporter, core::LocationText("Form2", "PushButton6_Click"));
    SaveSummary summary;
    bool exists = false;
    run.Step(106, [&] { exists = core::FolderExists(folder); });
    if (!exists) {
        summary.outcome = SaveOutcome::FolderMissing;
        return summary;
    }
    if (!mode)
        return summary;
    SaveSession session(folder, *mode, inputs, ports);
    session.Save(results);
    return session.Summary();
}

SaveSession::SaveSession(
    const std::string& folder, options::SaveMode mode, const std::vector<std::string>& inputs, SavePorts ports)
    : m_mode(mode)
    , m_prefix(folder.empty() || folder.back() == '/' ? folder : folder + "/")
    , m_ports(ports)
    , m_names(std::make_unique<NameClaims>(InputNamesIn(folder, inputs)))
{
}

SaveSession::~SaveSession() = default;

void SaveSession::Save(const exporting::ResultList& part)
{
    if (m_summary.stopped) {
        m_summary.notWritten += part.size();
        m_index += part.size();
        return;
    }
    core::StepRunner run(m_ports.reporter, core::LocationText("Form2", "PushButton6_Click"));
    // The all-sheets mode walks the results too, so a workbook without a result never
    // shifts the names of the others.
    const int writeStep = m_mode == options::SaveMode::AllSheets ? 134
        : m_mode == options::SaveMode::EachSheet                 ? 162
                                                                 : 190;
    core::FileCalls& files = m_ports.files ? *m_ports.files : core::SystemFileCalls();
    for (size_t i = 0; i < part.size(); ++i) {
        m_ports.pump.Run();
        if (m_ports.pump.StopRequested()) {
            // Stopped between files: those written stay, the rest are not written.
            m_summary.stopped = true;
            m_summary.notWritten += part.size() - i;
            m_index += part.size() - i;
            return;
        }
        SavedFile file;
        file.index = m_index++;
        std::optional<core::WriteFailure> failure;
        file.written = run.Step(writeStep, [&] {
            file.path = m_prefix + m_names->Claim(SavedFileName(m_mode, part[i]), file.renamed);
            failure = core::ReplaceFile(file.path, part[i].text, files);
        }) && !failure;
        m_summary.stopped = failure && failure->folderWide;
        if (failure && !m_summary.stopped)
            run.Fail(writeStep, failure->description);
        Tally(m_summary, file);
        if (m_ports.listener)
            m_ports.listener->Saved(file);
        if (m_summary.stopped) {
            // One report instead of one per remaining result: they would all fail alike.
            const size_t left = part.size() - i;
            m_summary.notWritten += left - 1;
            m_index += left - 1;
            run.Fail(writeStep, StoppedDescription(*failure, left, part.size()));
            return;
        }
    }
}

std::string SaveNotice(const SaveSummary& summary)
{
    std::string notice;
    if (summary.renamed > 0) {
        notice += CountOfResults(summary.renamed)
            + " saved under a new name, because the name was used earlier in this save or is a workbook of the "
              "list:\r\n";
        for (const auto& name : summary.renamedNames)
            notice += name + "\r\n";
        if (summary.renamed > summary.renamedNames.size())
            notice += "and " + std::to_string(summary.renamed - summary.renamedNames.size()) + " more.\r\n";
    }
    if (summary.notWritten > 0)
        notice += CountOfResults(summary.notWritten) + " not written.\r\n";
    if (!notice.empty())
        notice.resize(notice.size() - 2);
    return notice;
}

} // namespace vellumcast::results
