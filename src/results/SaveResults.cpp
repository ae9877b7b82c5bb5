#include "results/SaveResults.h"

#include "core/ErrorReport.h"
#include "core/Files.h"
#include "core/Interruption.h"
#include "core/StepRunner.h"
#include "export/ExportProcedures.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
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

std::optional<std::string> NameTemplateProblem(std::string_view pattern)
{
    static constexpr std::string_view kFields[] = { "{book}", "{ext}", "{sheet}", "{n}" };
    for (size_t at = pattern.find('{'); at != std::string_view::npos; at = pattern.find('{', at + 1)) {
        const size_t close = pattern.find('}', at);
        if (close == std::string_view::npos)
            return "has a \"{\" that is not closed";
        const std::string_view field = pattern.substr(at, close - at + 1);
        if (std::find(std::begin(kFields), std::end(kFields), field) == std::end(kFields))
            return "knows no " + std::string(field) + " (only {book}, {ext}, {sheet} and {n})";
    }
    return std::nullopt;
}

std::string TemplateFileName(
    std::string_view pattern, std::string_view workbookName, const exporting::ResultEntry& entry)
{
    const std::string fileName = core::FileNameOfPath(std::string(workbookName));
    const std::string stem = exporting::FileStem(fileName);
    const std::string extension = stem.size() < fileName.size() ? fileName.substr(stem.size() + 1) : std::string();
    const std::pair<std::string_view, std::string> fields[] = { { "{book}", stem }, { "{ext}", extension },
        { "{sheet}", entry.sheetName.Copy() }, { "{n}", entry.ordinal > 0 ? std::to_string(entry.ordinal) : "" } };
    std::string name;
    for (size_t at = 0; at < pattern.size();) {
        const auto field = std::find_if(std::begin(fields), std::end(fields),
            [&](const auto& candidate) { return pattern.substr(at).starts_with(candidate.first); });
        if (field != std::end(fields)) {
            name += field->second;
            at += field->first.size();
        } else {
            name += pattern[at++];
        }
    }
    if (name.empty())
        name = stem; // never the hidden ".txt"
    return SafeNamePart(name) + ".txt";
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
    const auto target = core::IdentityOf(folder);
    if (!target)
        return names;
    auto addIfInFolder = [&](const std::string& path) {
        const auto slash = path.rfind('/');
        const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
        if (core::IdentityOf(parent) == target)
            names.insert(core::FileNameOfPath(path));
    };
    for (const auto& input : inputs) {
        addIfInFolder(input);
        if (const std::string resolved = core::RealPath(input); !resolved.empty())
            addIfInFolder(resolved);
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

// The one report of a failure that ended the save, with the results it left unwritten
// when their number is known.
std::string StoppedDescription(const std::string& failure, size_t left, std::optional<size_t> total)
{
    if (!total)
        return failure + ". Saving stopped, so no later result was written.";
    return failure + ". Saving stopped: " + std::to_string(left) + " of " + std::to_string(*total)
        + (*total == 1 ? " result " : " results ") + (left == 1 ? "was" : "were") + " not written.";
}

// The longest start of stem that fits kLongestFileName with suffix after it, cut between
// UTF-8 characters, then suffix.
std::string Fitted(const std::string& stem, std::string_view suffix)
{
    const size_t room = kLongestFileName - std::min(suffix.size(), kLongestFileName);
    size_t cut = std::min(stem.size(), room);
    while (cut > 0 && cut < stem.size() && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80)
        --cut;
    return stem.substr(0, cut) + std::string(suffix);
}

} // namespace

// The names one save has used and the names it must not use.
class NameClaims {
public:
    explicit NameClaims(const std::unordered_set<std::string>& reserved)
    {
        for (const auto& name : reserved)
            m_reserved.insert(core::FileNameKey(name));
    }

    // Claims name (which ends in ".txt"), or when it is taken the first free
    // "STEM (N).txt" from N = 2; a name too long for the file system is shortened first.
    std::string Claim(const std::string& wanted, bool& renamed)
    {
        const std::string stem = wanted.substr(0, wanted.size() - 4);
        std::string name = Fitted(stem, ".txt");
        if (Taken(name)) {
            // Names are only ever added, so every N below the last one given is still taken.
            unsigned long& number = m_nextNumber.try_emplace(stem, 2).first->second;
            do
                name = Fitted(stem, " (" + std::to_string(number++) + ").txt");
            while (Taken(name));
        }
        renamed = name != wanted;
        m_used.insert(core::FileNameKey(name));
        return name;
    }

private:
    // Names the file system takes for one (differing in case, on Windows) are one name.
    bool Taken(const std::string& name) const
    {
        const std::string key = core::FileNameKey(name);
        return m_used.count(key) != 0 || m_reserved.count(key) != 0;
    }

    std::unordered_set<std::string> m_reserved;
    std::unordered_set<std::string> m_used;
    std::unordered_map<std::string, unsigned long> m_nextNumber;
};

namespace {

SaveSummary FolderMissing()
{
    SaveSummary summary;
    summary.outcome = SaveOutcome::FolderMissing;
    return summary;
}

bool FolderThere(const std::string& folder, const SavePorts& ports)
{
    core::StepRunner run(ports.reporter, core::LocationText("Form2", "PushButton6_Click"));
    bool exists = false;
    run.Step(106, [&] { exists = core::FolderExists(folder); });
    return exists;
}

SaveSummary SaveAll(const std::string& folder, std::optional<options::SaveMode> mode,
    const std::vector<std::string>& inputs, const exporting::ResultList& results, SavePorts ports)
{
    SaveSession session(folder, mode, inputs, ports, results.size());
    session.Save(results);
    return session.Summary();
}

} // namespace

SaveSummary SaveResults(const std::string& folder, std::optional<options::SaveMode> mode,
    const std::vector<std::string>& inputs, const exporting::ResultList& results, SavePorts ports)
{
    if (!FolderThere(folder, ports))
        return FolderMissing();
    return mode ? SaveAll(folder, mode, inputs, results, ports) : SaveSummary {};
}

SaveSummary SaveResults(const std::string& folder, const std::vector<std::string>& inputs,
    const exporting::ResultList& results, SavePorts ports)
{
    if (!FolderThere(folder, ports))
        return FolderMissing();
    return SaveAll(folder, std::nullopt, inputs, results, ports);
}

SaveSession::SaveSession(const std::string& folder, std::optional<options::SaveMode> mode,
    const std::vector<std::string>& inputs, SavePorts ports, std::optional<size_t> total)
    : m_mode(mode)
    , m_folderPath(folder)
    , m_ports(ports)
    , m_names(std::make_unique<NameClaims>(InputNamesIn(folder, inputs)))
    , m_total(total)
{
    try {
        m_folder = std::make_unique<core::OutputFolder>(folder);
        m_folder->RemoveStaleTemporaries();
    } catch (const core::FileError& error) {
        m_folderFailure = error.what();
    }
}

void SaveSession::StopAll(size_t left, const std::string& why, int step)
{
    core::StepRunner run(m_ports.reporter, core::LocationText("Form2", "PushButton6_Click"));
    m_summary.stopped = true;
    m_summary.notWritten += left;
    m_index += left;
    run.Fail(step, StoppedDescription(why, left, m_total));
}

SaveSession::~SaveSession() = default;

void SaveSession::Save(const exporting::ResultList& part, std::string_view workbookName)
{
    if (m_summary.stopped) {
        m_summary.notWritten += part.size();
        m_index += part.size();
        return;
    }
    if (!m_folder) {
        if (!part.empty())
            StopAll(part.size(), m_folderFailure, WriteStep(part[0]));
        return;
    }
    const core::HeldInterruptions held;
    for (size_t i = 0; i < part.size(); ++i) {
        const exporting::ResultEntry entry = part[i];
        const auto whole = [&](const std::function<int(std::string_view)>& write) { return write(entry.text); };
        if (!SaveEntry(entry, whole, workbookName, part.size() - i))
            return;
    }
    core::HeldInterruptions::EndIfPending("the files written are whole, and no more are written.");
}

void SaveSession::Save(const exporting::ResultEntry& entry, const core::TextPieces& text, std::string_view workbookName)
{
    if (m_summary.stopped) {
        ++m_summary.notWritten;
        ++m_index;
        return;
    }
    if (!m_folder) {
        StopAll(1, m_folderFailure, WriteStep(entry));
        return;
    }
    const core::HeldInterruptions held;
    if (SaveEntry(entry, text, workbookName, 1))
        core::HeldInterruptions::EndIfPending("the files written are whole, and no more are written.");
}

bool SaveSession::SaveEntry(
    const exporting::ResultEntry& entry, const core::TextPieces& text, std::string_view workbookName, size_t left)
{
    core::StepRunner run(m_ports.reporter, core::LocationText("Form2", "PushButton6_Click"));
    core::FileCalls& files = m_ports.files ? *m_ports.files : core::SystemFileCalls();
    m_ports.pump.Run();
    if (m_ports.pump.StopRequested()) {
        // Stopped between files: those written stay, the rest are not written.
        m_summary.stopped = true;
        m_summary.notWritten += left;
        m_index += left;
        return false;
    }
    core::HeldInterruptions::EndIfPending("the files written are whole, and no more are written.");
    if (!m_folder->StillInPlace()) {
        StopAll(left, "Cannot write into " + m_folderPath + ": the folder was moved or replaced during the save",
            WriteStep(entry));
        return false;
    }
    const int writeStep = WriteStep(entry);
    SavedFile file;
    file.index = m_index++;
    std::optional<core::WriteFailure> failure;
    file.written = run.Step(writeStep, [&] {
        const std::string name = m_names->Claim(FileNameFor(entry, workbookName), file.renamed);
        file.path = m_folder->Prefix() + name;
        if (m_leading.empty()) {
            failure = core::ReplaceFileIn(*m_folder, name, text, files);
            return;
        }
        const core::TextPieces led = [&](const std::function<int(std::string_view)>& write) {
            const int code = write(m_leading);
            return code != 0 ? code : text(write);
        };
        failure = core::ReplaceFileIn(*m_folder, name, led, files);
    }) && !failure;
    m_summary.stopped = failure && failure->folderWide;
    if (failure && failure->noSpace) {
        // Said once, in the summary: a full device would otherwise repeat it for
        // every larger result.
        ++m_summary.notWrittenForSpace;
        if (m_summary.spaceFailure.empty())
            m_summary.spaceFailure = std::strerror(failure->code);
    } else if (failure && !m_summary.stopped) {
        run.Fail(writeStep, failure->description);
    }
    Tally(m_summary, file);
    if (m_ports.listener)
        m_ports.listener->Saved(file);
    if (m_summary.stopped) {
        // One report instead of one per remaining result: they would all fail alike.
        m_summary.notWritten += left - 1;
        m_index += left - 1;
        run.Fail(writeStep, StoppedDescription(failure->description, left, m_total));
        return false;
    }
    return true;
}

std::string SaveSession::FileNameFor(const exporting::ResultEntry& entry, std::string_view workbookName) const
{
    return m_template ? TemplateFileName(*m_template, workbookName, entry) : SavedFileName(ModeOf(entry), entry);
}

int SaveSession::WriteStep(const exporting::ResultEntry& entry) const
{
    // The all-sheets mode walks the results too, so a workbook without a result never
    // shifts the names of the others.
    switch (ModeOf(entry)) {
    case options::SaveMode::AllSheets:
        return 134;
    case options::SaveMode::EachSheet:
        return 162;
    case options::SaveMode::EachRow:
    case options::SaveMode::EachColumn:
        return 190;
    }
    return 190;
}

std::string RenamedNotice(const SaveSummary& summary)
{
    return CountOfResults(summary.renamed)
        + " saved under a new name, because the name was used earlier in this save, is a workbook of the list or is "
          "too long";
}

std::string NotWrittenNotice(const SaveSummary& summary)
{
    std::string notice = CountOfResults(summary.notWritten) + " not written";
    if (summary.notWrittenForSpace > 0)
        notice += ", " + std::to_string(summary.notWrittenForSpace) + " of them for lack of space ("
            + summary.spaceFailure + ")";
    return notice + ".";
}

std::string SaveNotice(const SaveSummary& summary)
{
    std::string notice;
    if (summary.renamed > 0) {
        notice += RenamedNotice(summary) + ":\r\n";
        for (const auto& name : summary.renamedNames)
            notice += name + "\r\n";
        if (summary.renamed > summary.renamedNames.size())
            notice += "and " + std::to_string(summary.renamed - summary.renamedNames.size()) + " more.\r\n";
    }
    if (summary.notWritten > 0)
        notice += NotWrittenNotice(summary) + "\r\n";
    if (!notice.empty())
        notice.resize(notice.size() - 2);
    return notice;
}

} // namespace vellumcast::results
