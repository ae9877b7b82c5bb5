#include "results/SaveResults.h"

#include "core/ErrorReport.h"
#include "core/Files.h"
#include "core/Interruption.h"
#include "core/Numbers.h"
#include "core/StepRunner.h"
#include "export/ExportProcedures.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

namespace vellumcast::results {

std::string SafeNamePart(std::string_view text)
{
    static constexpr std::string_view kForbidden = "\\/:*?\"<>|";
    std::string safe(text);
    for (char& c : safe) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || kForbidden.find(c) != std::string_view::npos)
            c = '_';
    }
    return safe;
}

namespace {

constexpr std::string_view kFolderField = "{dir}";

// "{n:0W}": the width W, 1 to 9, of a padded number field; 0 when field is none.
int PaddedWidth(std::string_view field)
{
    if (field.size() == 6 && field.starts_with("{n:0") && field[4] >= '1' && field[4] <= '9' && field[5] == '}')
        return field[4] - '0';
    return 0;
}

// The ordinal as {n} or {n:0W} writes it: "" where the mode has none.
std::string Ordinal(int64_t ordinal, int width)
{
    if (ordinal <= 0)
        return {};
    std::string digits = std::to_string(ordinal);
    if (digits.size() < static_cast<size_t>(width))
        digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
    return digits;
}

// The template without a leading {dir} and the "/" after it; whether it had one.
std::string_view WithoutFolder(std::string_view pattern, bool& inFolder)
{
    inFolder = pattern.starts_with(kFolderField);
    if (inFolder) {
        pattern.remove_prefix(kFolderField.size());
        if (pattern.starts_with("/"))
            pattern.remove_prefix(1);
    }
    return pattern;
}

// The folder's pieces, each made safe, "/" after each; empty, "." and ".." left out, so
// that the path stays inside the folder it is taken in.
std::string SafeFolder(std::string_view folder)
{
    std::string safe;
    while (!folder.empty()) {
        const size_t slash = folder.find('/');
        const std::string_view piece = folder.substr(0, slash);
        if (!piece.empty() && piece != "." && piece != "..") {
            safe += SafeFileName(piece);
            safe += '/';
        }
        folder.remove_prefix(slash == std::string_view::npos ? folder.size() : slash + 1);
    }
    return safe;
}

bool SameLetters(std::string_view text, std::string_view upper)
{
    return text.size() == upper.size() && std::equal(text.begin(), text.end(), upper.begin(), [](char a, char b) {
        return (a >= 'a' && a <= 'z' ? static_cast<char>(a - 'a' + 'A') : a) == b;
    });
}

// True when base, the part of a name before its first dot, names a device: Windows opens
// the device for such a name in any folder, whatever extension follows.
bool IsDeviceName(std::string_view base)
{
    static constexpr std::string_view kDevices[] = { "CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$" };
    if (std::any_of(std::begin(kDevices), std::end(kDevices), [&](std::string_view d) { return SameLetters(base, d); }))
        return true;
    if (base.size() < 4 || !(SameLetters(base.substr(0, 3), "COM") || SameLetters(base.substr(0, 3), "LPT")))
        return false;
    const std::string_view number = base.substr(3);
    // A digit, or the superscript one, two or three that Windows takes for one.
    return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == "\xC2\xB9" || number == "\xC2\xB2"
        || number == "\xC2\xB3";
}

} // namespace

std::string SafeFileName(std::string_view name)
{
    std::string safe = SafeNamePart(name);
    for (size_t end = safe.size(); end > 0 && (safe[end - 1] == '.' || safe[end - 1] == ' '); --end)
        safe[end - 1] = '_';
    std::string_view base = std::string_view(safe).substr(0, safe.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.remove_suffix(1);
    if (IsDeviceName(base))
        safe.insert(base.size(), "_");
    return safe;
}

std::optional<std::string> NameTemplateProblem(std::string_view pattern)
{
    static constexpr std::string_view kFields[] = { "{book}", "{ext}", "{sheet}", "{n}" };
    bool inFolder = false;
    const std::string_view rest = WithoutFolder(pattern, inFolder);
    for (size_t at = rest.find('{'); at != std::string_view::npos; at = rest.find('{', at + 1)) {
        const size_t close = rest.find('}', at);
        if (close == std::string_view::npos)
            return "has a \"{\" that is not closed";
        const std::string_view field = rest.substr(at, close - at + 1);
        if (field == kFolderField)
            return "may have {dir} only at its start";
        if (std::find(std::begin(kFields), std::end(kFields), field) == std::end(kFields) && PaddedWidth(field) == 0)
            return "knows no " + std::string(field) + " (only {dir}, {book}, {ext}, {sheet}, {n} and {n:03})";
    }
    return std::nullopt;
}

std::string TemplateFileName(std::string_view pattern, std::string_view workbookName,
    const exporting::ResultEntry& entry, std::string_view folder)
{
    bool inFolder = false;
    pattern = WithoutFolder(pattern, inFolder);
    const std::string fileName = core::FileNameOfPath(std::string(workbookName));
    const std::string stem = exporting::FileStem(fileName);
    const std::string extension = stem.size() < fileName.size() ? fileName.substr(stem.size() + 1) : std::string();
    const std::pair<std::string_view, std::string> fields[] = { { "{book}", stem }, { "{ext}", extension },
        { "{sheet}", entry.sheetName.Copy() }, { "{n}", Ordinal(entry.ordinal, 0) } };
    std::string name;
    for (size_t at = 0; at < pattern.size();) {
        const auto field = std::find_if(std::begin(fields), std::end(fields),
            [&](const auto& candidate) { return pattern.substr(at).starts_with(candidate.first); });
        if (field != std::end(fields)) {
            name += field->second;
            at += field->first.size();
        } else if (const int width = PaddedWidth(pattern.substr(at, 6))) {
            name += Ordinal(entry.ordinal, width);
            at += 6;
        } else {
            name += pattern[at++];
        }
    }
    if (name.empty())
        name = stem; // never the hidden ".txt"
    return (inFolder ? SafeFolder(folder) : std::string()) + SafeFileName(name + ".txt");
}

// One piece of the names a naming gives: a field's text or a wildcard standing for any
// worksheet name or number.
struct ResultNaming::Piece {
    enum class Kind { Literal, Book, Extension, Sheet, Number };
    Kind kind;
    std::string text; // a literal's, made safe
};

ResultNaming::ResultNaming(options::SaveMode mode, const std::optional<std::string>& pattern)
{
    using Kind = Piece::Kind;
    if (!pattern) {
        m_pieces.push_back({ Kind::Book, {} });
        if (mode != options::SaveMode::AllSheets)
            m_pieces.insert(m_pieces.end(), { { Kind::Literal, "_" }, { Kind::Sheet, {} } });
        if (mode == options::SaveMode::EachRow || mode == options::SaveMode::EachColumn)
            m_pieces.insert(m_pieces.end(), { { Kind::Literal, "_" }, { Kind::Number, {} } });
        return;
    }
    const std::string_view rest = WithoutFolder(*pattern, m_inFolder);
    const std::pair<std::string_view, Kind> fields[] = { { "{book}", Kind::Book }, { "{ext}", Kind::Extension },
        { "{sheet}", Kind::Sheet }, { "{n}", Kind::Number } };
    std::string literal;
    const auto add = [&](Kind kind) {
        if (!literal.empty())
            m_pieces.push_back({ Kind::Literal, SafeNamePart(std::exchange(literal, {})) });
        m_pieces.push_back({ kind, {} });
    };
    for (size_t at = 0; at < rest.size();) {
        const auto field = std::find_if(std::begin(fields), std::end(fields),
            [&](const auto& candidate) { return rest.substr(at).starts_with(candidate.first); });
        if (field != std::end(fields)) {
            add(field->second);
            at += field->first.size();
        } else if (PaddedWidth(rest.substr(at, 6)) != 0) {
            add(Kind::Number);
            at += 6;
        } else {
            literal += rest[at++];
        }
    }
    if (!literal.empty())
        m_pieces.push_back({ Kind::Literal, SafeNamePart(literal) });
}

ResultNaming::~ResultNaming() = default;

bool ResultNaming::StartsWithStem() const
{
    return !m_pieces.empty() && m_pieces.front().kind == Piece::Kind::Book;
}

namespace {

// Whether name ends in " (N)", N from 2 on, and its length without it.
size_t WithoutNumber(std::string_view name)
{
    if (!name.ends_with(")"))
        return name.size();
    const size_t open = name.rfind(" (");
    if (open == std::string_view::npos || open + 3 > name.size() - 1)
        return name.size();
    const std::string_view digits = name.substr(open + 2, name.size() - open - 3);
    const bool number = std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })
        && digits.front() != '0';
    return number ? open : name.size();
}

} // namespace

bool ResultNaming::Gives(std::string_view path, std::string_view workbookName, std::string_view folder) const
{
    const std::string prefix = m_inFolder ? SafeFolder(folder) : std::string();
    if (!path.starts_with(prefix) || !path.ends_with(".txt"))
        return false;
    std::string_view name = path.substr(prefix.size(), path.size() - prefix.size() - 4);
    if (name.find('/') != std::string_view::npos)
        return false;
    const std::string fileName = core::FileNameOfPath(std::string(workbookName));
    const std::string stem = SafeNamePart(exporting::FileStem(fileName));
    const std::string extension
        = SafeNamePart(stem.size() < fileName.size() ? std::string_view(fileName).substr(stem.size() + 1) : "");
    // Matches the pieces from piece on against the rest of the name, trying every length
    // for a wildcard; names and templates are short, so the search stays small.
    const auto matches = [&](const auto& self, size_t piece, std::string_view rest) -> bool {
        if (piece == m_pieces.size())
            return rest.empty();
        const Piece& p = m_pieces[piece];
        const auto literal = [&](std::string_view text) {
            return rest.starts_with(text) && self(self, piece + 1, rest.substr(text.size()));
        };
        switch (p.kind) {
        case Piece::Kind::Literal:
            return literal(p.text);
        case Piece::Kind::Book:
            return literal(stem);
        case Piece::Kind::Extension:
            return literal(extension);
        case Piece::Kind::Sheet:
            for (size_t length = 0; length <= rest.size(); ++length) {
                if (self(self, piece + 1, rest.substr(length)))
                    return true;
            }
            return false;
        case Piece::Kind::Number:
            for (size_t length = 0; length <= rest.size(); ++length) {
                if (self(self, piece + 1, rest.substr(length)))
                    return true;
                if (length < rest.size() && (rest[length] < '0' || rest[length] > '9'))
                    return false;
            }
            return false;
        }
        return false;
    };
    // Without the " (N)" of a repeated name, or with it when the name itself ends so.
    const size_t unnumbered = WithoutNumber(name);
    return matches(matches, 0, name) || (unnumbered < name.size() && matches(matches, 0, name.substr(0, unnumbered)));
}

std::string SavedFileName(options::SaveMode mode, const exporting::ResultEntry& entry)
{
    std::string name = exporting::FileStem(entry.fileName.Copy());
    if (mode != options::SaveMode::AllSheets) {
        name += '_';
        name += entry.sheetName.View();
        if (mode == options::SaveMode::EachRow || mode == options::SaveMode::EachColumn) {
            name += '_';
            if (entry.ordinal > 0)
                name += std::to_string(entry.ordinal);
        }
    }
    name += ".txt";
    return SafeFileName(name);
}

namespace {

// The steps of a save, reported as those of the window's save button.
core::StepRunner SaveSteps(core::ErrorReporter& reporter)
{
    return core::StepRunner(reporter, core::LocationText("Form2", "PushButton6_Click"));
}

// Names of the run's own workbooks that lie in folder, listed and with links resolved: a
// result never takes one of them.
std::unordered_set<std::string> InputNamesIn(const std::string& folder, const std::vector<std::string>& inputs)
{
    std::unordered_set<std::string> names;
    const auto target = core::IdentityOf(folder);
    if (!target)
        return names;
    auto addIfInFolder = [&](const std::string& path) {
        if (core::IdentityOf(core::FolderOfPath(path)) == target)
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
    return core::GroupedNumber(count) + (count == 1 ? " result was" : " results were");
}

void Tally(SaveSummary& summary, const SavedFile& file)
{
    if (!file.written) {
        ++summary.notWritten;
        if (file.why == NotWrittenReason::CutShort)
            ++summary.notWrittenCutShort;
        if (summary.notWrittenFiles.size() < kNotWrittenNamesKept)
            summary.notWrittenFiles.push_back({ file.path, file.why });
        return;
    }
    ++summary.written;
    if (file.renamed) {
        ++summary.renamed;
        if (summary.renamedNames.size() < kRenamedNamesKept)
            summary.renamedNames.push_back(core::FileNameOfPath(file.path));
    }
}

// What an interruption leaves once no file is under way.
constexpr const char* kWholeFiles = "the files written are whole, and no more are written.";

// The one report of a failure that ended the save, with the results it left unwritten
// when their number is known.
std::string StoppedDescription(const std::string& failure, size_t left, std::optional<size_t> total)
{
    if (!total)
        return failure + ". Saving stopped, so no later result was written.";
    return failure + ". Saving stopped: " + core::GroupedNumber(left) + " of " + core::GroupedNumber(*total)
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

    // What a claim changed, so that the latest one can be given back.
    struct Claimed {
        std::string key;
        std::string stem;
        std::optional<unsigned long> nextNumber; // the stem's next number before the claim
    };

    // Claims name (which ends in ".txt"), or when it is taken the first free
    // "STEM (N).txt" from N = 2; a name too long for the file system is shortened first.
    // A name inside a folder of the output folder ("a/b.txt") is shortened and numbered
    // in its last piece.
    std::string Claim(const std::string& wanted, bool& renamed, Claimed* claimed = nullptr)
    {
        const std::string stem = wanted.substr(0, wanted.size() - 4);
        const size_t leafStart = stem.rfind('/') + 1; // 0 without a folder
        const std::string folder = stem.substr(0, leafStart);
        const std::string leaf = stem.substr(leafStart);
        if (claimed) {
            const auto number = m_nextNumber.find(stem);
            claimed->stem = stem;
            claimed->nextNumber
                = number != m_nextNumber.end() ? std::optional<unsigned long>(number->second) : std::nullopt;
        }
        std::string name = folder + Fitted(leaf, ".txt");
        if (Taken(name)) {
            // Names are only ever added, so every N below the last one given is still taken.
            unsigned long& number = m_nextNumber.try_emplace(stem, 2).first->second;
            do
                name = folder + Fitted(leaf, " (" + std::to_string(number++) + ").txt");
            while (Taken(name));
        }
        renamed = name != wanted;
        m_used.insert(core::FileNameKey(name));
        if (claimed)
            claimed->key = core::FileNameKey(name);
        return name;
    }

    // A name no claim may take: a file of the person's kept in the folder.
    void Reserve(const std::string& name) { m_reserved.insert(core::FileNameKey(name)); }

    // Gives back the name of the latest claim, as if it had never been made.
    void Release(const Claimed& claimed)
    {
        m_used.erase(claimed.key);
        if (claimed.nextNumber)
            m_nextNumber[claimed.stem] = *claimed.nextNumber;
        else
            m_nextNumber.erase(claimed.stem);
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
    core::StepRunner run = SaveSteps(ports.reporter);
    bool exists = false;
    run.Step(106, [&] { exists = core::FolderExists(folder); });
    return exists;
}

SaveSummary SaveAll(const std::string& folder, std::optional<options::SaveMode> mode,
    const std::vector<std::string>& inputs, const exporting::ResultList& results, SavePorts ports,
    ExistingFiles existing)
{
    SaveSession session(folder, mode, inputs, ports, results.size());
    session.SetExistingFiles(existing);
    session.Save(results);
    return session.Summary();
}

} // namespace

SaveSummary SaveResults(const std::string& folder, std::optional<options::SaveMode> mode,
    const std::vector<std::string>& inputs, const exporting::ResultList& results, SavePorts ports,
    ExistingFiles existing)
{
    if (!FolderThere(folder, ports))
        return FolderMissing();
    return mode ? SaveAll(folder, mode, inputs, results, ports, existing) : SaveSummary {};
}

SaveSummary SaveResults(const std::string& folder, const std::vector<std::string>& inputs,
    const exporting::ResultList& results, SavePorts ports, ExistingFiles existing)
{
    if (!FolderThere(folder, ports))
        return FolderMissing();
    return SaveAll(folder, std::nullopt, inputs, results, ports, existing);
}

FilesInTheWay FilesToReplace(const std::string& folder, const std::vector<std::string>& inputs,
    const exporting::ResultList& results, size_t namesKept)
{
    FilesInTheWay inTheWay;
    std::unordered_set<std::string> existing;
    try {
        const core::OutputFolder opened(folder);
        for (const std::string& name : opened.FileNames())
            existing.insert(core::FileNameKey(name));
    } catch (const core::FileError&) {
        return inTheWay; // the save itself says what is wrong with the folder
    }
    if (existing.empty())
        return inTheWay;
    // Named as the save names them, each name claimed in turn.
    NameClaims names(InputNamesIn(folder, inputs));
    for (size_t i = 0; i < results.size(); ++i) {
        const exporting::ResultEntry entry = results[i];
        bool renamed = false;
        const std::string name = names.Claim(SavedFileName(entry.mode, entry), renamed);
        if (entry.cutShort || existing.count(core::FileNameKey(name)) == 0)
            continue;
        ++inTheWay.count;
        if (inTheWay.names.size() < namesKept)
            inTheWay.names.push_back(name);
    }
    return inTheWay;
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

SaveSession::~SaveSession() = default;

void SaveSession::SetExistingFiles(ExistingFiles existing)
{
    m_existing = existing;
    m_summary.keptExisting = existing == ExistingFiles::Keep;
    if (existing == ExistingFiles::Keep && m_folder) {
        for (const std::string& name : m_folder->FileNames())
            m_names->Reserve(name);
    }
}

void SaveSession::ReportStop(size_t left, const std::string& why, int step)
{
    core::StepRunner run = SaveSteps(m_ports.reporter);
    m_summary.stopped = true;
    run.Fail(step, StoppedDescription(why, left, m_total));
}

void SaveSession::LeaveOut(const exporting::ResultEntry& entry, std::string_view workbookName, std::string_view folder)
{
    ++m_index;
    ++m_summary.notWritten;
    // Named while the names kept have room: a save stopped early may leave a million.
    if (m_summary.notWrittenFiles.size() < kNotWrittenNamesKept)
        m_summary.notWrittenFiles.push_back(
            { core::JoinPath(m_folderPath, FileNameFor(entry, workbookName, folder)), NotWrittenReason::Left });
}

void SaveSession::Tell(SavedFile file)
{
    Tally(m_summary, file);
    if (m_ports.listener)
        m_ports.listener->Saved(file);
}

void SaveSession::Save(const exporting::ResultList& part, std::string_view workbookName, std::string_view folder)
{
    const auto leaveOut = [&](size_t from) {
        for (size_t i = from; i < part.size(); ++i)
            LeaveOut(part[i], workbookName, folder);
    };
    if (m_summary.stopped) {
        leaveOut(0);
        return;
    }
    if (!m_folder) {
        if (!part.empty())
            ReportStop(part.size(), m_folderFailure, WriteStep(part[0]));
        leaveOut(0);
        return;
    }
    const core::HeldInterruptions held;
    for (size_t i = 0; i < part.size(); ++i) {
        const exporting::ResultEntry entry = part[i];
        if (!SaveEntry(entry, workbookName, folder, part.size() - i)) {
            leaveOut(i + 1);
            return;
        }
    }
    core::HeldInterruptions::EndIfPending(kWholeFiles);
}

// The result begun and not yet committed or abandoned.
struct SaveSession::Pending {
    // Why no file was begun, when none was: what Commit then does is what Save does.
    enum class Start { Begun, Stopped, NoFolder, Moved, Threw, CutShort };

    // Adds bytes to the file, unless writing it failed already.
    void Add(std::string_view bytes)
    {
        if (!failure)
            failure = out.Write(bytes);
    }

    // Held from Begin until the file is in place or gone (destroyed last, after out).
    std::optional<core::HeldInterruptions> held;
    exporting::ResultEntry entry;
    std::string workbookName;
    std::string workbookFolder;
    Start start = Start::Begun;
    SavedFile file;
    NameClaims::Claimed claim; // its key empty while no name was claimed
    core::PendingFile out;
    const core::OutputFolder* folder = nullptr; // where out is written, once begun
    std::optional<core::WriteFailure> failure;
};

void SaveSession::Begin(const exporting::ResultEntry& entry)
{
    BeginFor(entry, m_workbookName, m_workbookFolder);
}

void SaveSession::BeginFor(const exporting::ResultEntry& entry, std::string_view workbookName, std::string_view folder)
{
    if (m_pending)
        throw std::logic_error("A result is already being saved");
    m_pending = std::make_unique<Pending>();
    Pending& pending = *m_pending;
    pending.entry
        = exporting::ResultEntry { entry.fileName, entry.sheetName, entry.ordinal, {}, entry.mode, entry.cutShort };
    pending.workbookName = std::string(workbookName);
    pending.workbookFolder = std::string(folder);
    if (m_summary.stopped) {
        pending.start = Pending::Start::Stopped;
        return;
    }
    if (!m_folder) {
        pending.start = Pending::Start::NoFolder;
        return;
    }
    pending.held.emplace();
    m_ports.pump.Run();
    if (m_ports.pump.StopRequested()) {
        m_summary.stopAsked = true;
        pending.start = Pending::Start::Stopped;
        return;
    }
    core::HeldInterruptions::EndIfPending(kWholeFiles);
    if (!m_folder->StillInPlace()) {
        pending.start = Pending::Start::Moved;
        return;
    }
    core::StepRunner run = SaveSteps(m_ports.reporter);
    core::FileCalls& files = m_ports.files ? *m_ports.files : core::SystemFileCalls();
    const bool begun = run.Step(WriteStep(pending.entry), [&] {
        const std::string wanted = FileNameFor(pending.entry, pending.workbookName, pending.workbookFolder);
        pending.file.path = m_folder->Prefix() + wanted;
        const bool notWritten = pending.entry.cutShort && m_cutShort == CutShortTexts::NotWritten;
        // The folder first, so that the names it holds are known before one is claimed.
        std::string name;
        if (!notWritten)
            pending.folder = &FolderOf(wanted, name);
        const std::string relative = m_names->Claim(wanted, pending.file.renamed, &pending.claim);
        pending.file.path = m_folder->Prefix() + relative;
        // Its name is kept, so the names of the results after it are those they would have
        // had, but no file is begun for a text that is not written.
        if (notWritten) {
            pending.start = Pending::Start::CutShort;
            return;
        }
        pending.failure = pending.out.Begin(*pending.folder, core::FileNameOfPath(relative), files);
        if (!m_leading.empty())
            pending.Add(m_leading);
    });
    if (!begun) {
        pending.out.Abandon();
        pending.start = Pending::Start::Threw;
    }
}

void SaveSession::Write(std::string_view bytes)
{
    if (!m_pending)
        throw std::logic_error("No result is being saved");
    if (core::HeldInterruptions::Pending() != 0) {
        m_pending->out.Abandon();
        core::HeldInterruptions::EndIfPending(
            "the files written are whole; the one under way was removed, and no more are written.");
    }
    m_pending->Add(bytes);
}

void SaveSession::Cut(uint64_t size)
{
    if (!m_pending)
        throw std::logic_error("No result is being saved");
    if (!m_pending->failure)
        m_pending->failure = m_pending->out.Cut(m_leading.size() + size);
}

void SaveSession::Fail(int code)
{
    if (!m_pending)
        throw std::logic_error("No result is being saved");
    if (m_pending->out.IsOpen() && !m_pending->failure)
        m_pending->failure = m_pending->out.Fail(code);
}

void SaveSession::Commit()
{
    CommitEntry(1, false);
}

void SaveSession::CommitCutShort()
{
    CommitEntry(1, true);
}

void SaveSession::Abandon()
{
    if (!m_pending)
        return;
    const std::unique_ptr<Pending> pending = std::move(m_pending);
    pending->out.Abandon();
    if (!pending->claim.key.empty())
        m_names->Release(pending->claim);
    core::HeldInterruptions::EndIfPending(kWholeFiles);
}

bool SaveSession::SaveEntry(
    const exporting::ResultEntry& entry, std::string_view workbookName, std::string_view folder, size_t left)
{
    BeginFor(entry, workbookName, folder);
    Pending& pending = *m_pending;
    if (pending.out.IsOpen()) {
        core::StepRunner run = SaveSteps(m_ports.reporter);
        const bool written = run.Step(WriteStep(entry), [&] { pending.Add(entry.text); });
        if (!written) {
            pending.out.Abandon();
            pending.start = Pending::Start::Threw;
        }
    }
    return CommitEntry(left, entry.cutShort);
}

std::optional<core::WriteFailure> SaveSession::PutInPlace(Pending& pending, bool cutShort)
{
    if (m_existing == ExistingFiles::Replace)
        return cutShort ? pending.out.CommitNew() : pending.out.Commit();
    // A file that took the name since the folder was listed is kept too: the next free
    // name is tried, a few times over should others keep taking them.
    int tries = 0;
    const auto failure = pending.out.CommitNew([&](const std::string& taken) -> std::optional<std::string> {
        if (++tries > 100)
            return std::nullopt;
        const std::string below = pending.folder->Prefix().substr(m_folder->Prefix().size());
        m_names->Reserve(below + taken);
        bool renamed = false;
        const std::string relative
            = m_names->Claim(FileNameFor(pending.entry, pending.workbookName, pending.workbookFolder), renamed);
        pending.file.renamed = true;
        return relative.substr(below.size());
    });
    pending.file.path = pending.folder->Prefix() + pending.out.Name();
    return failure;
}

bool SaveSession::CommitEntry(size_t left, bool cutShort)
{
    if (!m_pending)
        throw std::logic_error("No result is being saved");
    // Kept until the end, so that an interruption held meanwhile is told of below.
    const std::unique_ptr<Pending> pending = std::move(m_pending);
    cutShort = cutShort || pending->entry.cutShort;
    const bool going = [&] {
        core::StepRunner run = SaveSteps(m_ports.reporter);
        const int writeStep = WriteStep(pending->entry);
        switch (pending->start) {
        case Pending::Start::Stopped:
            // Stopped between files: those written stay, the rest are not written.
            m_summary.stopped = true;
            LeaveOut(pending->entry, pending->workbookName, pending->workbookFolder);
            return false;
        case Pending::Start::NoFolder:
            ReportStop(left, m_folderFailure, writeStep);
            LeaveOut(pending->entry, pending->workbookName, pending->workbookFolder);
            return false;
        case Pending::Start::Moved:
            ReportStop(left, "Cannot write into " + m_folderPath + ": the folder was moved or replaced during the save",
                writeStep);
            LeaveOut(pending->entry, pending->workbookName, pending->workbookFolder);
            return false;
        case Pending::Start::CutShort:
        case Pending::Start::Begun:
        case Pending::Start::Threw:
            break;
        }
        SavedFile file = pending->file;
        file.index = m_index++;
        std::optional<core::WriteFailure> failure = std::move(pending->failure);
        const bool begun = pending->start == Pending::Start::Begun;
        if (begun && !failure && cutShort && m_cutShort == CutShortTexts::NotWritten) {
            // Its text was written as it came, and turned out cut short: its file goes.
            pending->out.Abandon();
            pending->start = Pending::Start::CutShort;
        } else if (begun && !failure) {
            failure = PutInPlace(*pending, cutShort);
            file.path = pending->file.path;
            file.renamed = pending->file.renamed;
        }
        file.written = pending->start == Pending::Start::Begun && !failure;
        if (pending->start == Pending::Start::CutShort || (cutShort && failure && failure->code == EEXIST)) {
            // Not a failure of the file: a text cut short is not written, or not over a file.
            file.why = NotWrittenReason::CutShort;
            failure.reset();
        }
        m_summary.stopped = failure && failure->folderWide;
        if (failure && failure->noSpace) {
            // Said once, in the summary: a full device would otherwise repeat it for
            // every larger result.
            file.why = NotWrittenReason::NoSpace;
            ++m_summary.notWrittenForSpace;
            if (m_summary.spaceFailure.empty())
                m_summary.spaceFailure = std::strerror(failure->code);
        } else if (failure && !m_summary.stopped) {
            run.Fail(writeStep, failure->description);
        }
        Tell(file);
        if (m_summary.stopped) {
            // One report instead of one per remaining result: they would all fail alike.
            run.Fail(writeStep, StoppedDescription(failure->description, left, m_total));
            return false;
        }
        return true;
    }();
    core::HeldInterruptions::EndIfPending(kWholeFiles);
    return going;
}

std::string SaveSession::FileNameFor(
    const exporting::ResultEntry& entry, std::string_view workbookName, std::string_view folder) const
{
    return m_template ? TemplateFileName(*m_template, workbookName, entry, folder)
                      : SavedFileName(ModeOf(entry), entry);
}

const core::OutputFolder& SaveSession::FolderOf(const std::string& relative, std::string& name)
{
    const size_t slash = relative.rfind('/');
    name = relative.substr(slash == std::string::npos ? 0 : slash + 1);
    if (slash == std::string::npos)
        return *m_folder;
    // Each folder opened within the one before it, from the output folder on.
    const core::OutputFolder* parent = m_folder.get();
    for (size_t end = relative.find('/'); end != std::string::npos && end <= slash; end = relative.find('/', end + 1)) {
        const std::string path = relative.substr(0, end);
        auto& opened = m_subfolders[path];
        if (!opened) {
            auto made = std::make_unique<core::OutputFolder>(*parent, core::FileNameOfPath(path));
            made->RemoveStaleTemporaries();
            if (m_existing == ExistingFiles::Keep) {
                for (const std::string& kept : made->FileNames())
                    m_names->Reserve(path + "/" + kept);
            }
            opened = std::move(made);
        }
        parent = opened.get();
    }
    return *parent;
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
    return CountOfResults(summary.renamed) + " saved under a new name, because the name was used earlier in this save, "
        + (summary.keptExisting ? "is a workbook of the list, is too long or is that of a file kept in the folder"
                                : "is a workbook of the list or is too long");
}

std::string NotWrittenNotice(const SaveSummary& summary)
{
    std::string notice = CountOfResults(summary.notWritten) + " not written";
    if (summary.notWrittenForSpace > 0)
        notice += ", " + core::GroupedNumber(summary.notWrittenForSpace) + " of them for lack of space ("
            + summary.spaceFailure + ")";
    if (summary.notWrittenCutShort > 0)
        notice += ", " + core::GroupedNumber(summary.notWrittenCutShort)
            + " of them cut short by a failure of their "
              "workbook";
    return notice + ".";
}

std::string_view NotWrittenWhy(NotWrittenReason why)
{
    switch (why) {
    case NotWrittenReason::Failed:
        break;
    case NotWrittenReason::NoSpace:
        return "no space was left for it";
    case NotWrittenReason::CutShort:
        return "its text is cut short by a failure of its workbook";
    case NotWrittenReason::Left:
        return "saving stopped before it";
    }
    return "it could not be written";
}

std::string NotWrittenLine(const NotWrittenFile& file)
{
    return core::FileNameOfPath(file.path) + ": " + std::string(NotWrittenWhy(file.why));
}

std::string SaveHeadline(const SaveSummary& summary)
{
    if (summary.notWritten == 0)
        return "Done.";
    const std::string stopped = summary.stopAsked ? "Saving was stopped: " : "";
    if (summary.written == 0)
        return stopped.empty() ? "No result was written." : stopped + "no result was written.";
    const std::string count = core::GroupedNumber(summary.written) + " of "
        + core::GroupedNumber(summary.written + summary.notWritten) + " results were written.";
    return stopped.empty() ? count : stopped + count;
}

std::string SaveNotice(const SaveSummary& summary)
{
    std::string notice;
    // The names kept, then how many more there are.
    const auto more = [&](size_t count, size_t named) {
        if (named > 0 && count > named)
            notice += "and " + core::GroupedNumber(count - named) + " more.\r\n";
    };
    if (summary.renamed > 0) {
        notice += RenamedNotice(summary) + ":\r\n";
        for (const auto& name : summary.renamedNames)
            notice += name + "\r\n";
        more(summary.renamed, summary.renamedNames.size());
    }
    if (summary.notWritten > 0) {
        std::string sentence = NotWrittenNotice(summary);
        if (!summary.notWrittenFiles.empty())
            sentence.back() = ':';
        notice += sentence + "\r\n";
        for (const auto& file : summary.notWrittenFiles)
            notice += NotWrittenLine(file) + "\r\n";
        more(summary.notWritten, summary.notWrittenFiles.size());
    }
    if (!notice.empty())
        notice.resize(notice.size() - 2);
    return notice;
}

} // namespace vellumcast::results
