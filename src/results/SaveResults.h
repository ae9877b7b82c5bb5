#pragma once
// Saving the results of a run as text files in an output folder.

#include "core/Files.h"
#include "core/Ports.h"
#include "export/EntryWriter.h"
#include "export/ResultList.h"
#include "options/ExportOptions.h"

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace vellumcast::results {

// The name a result is saved under: the stem of its fileName, then "_" + sheet name and
// "_" + ordinal where the mode has them, then ".txt", made safe by SafeFileName, so the
// file always lands inside the output folder under the same name on every system.
std::string SavedFileName(options::SaveMode mode, const exporting::ResultEntry& entry);

// The one rule that makes a name safe as a file name on every system, applied on Linux
// too, where it is not needed, so that a save gives the same names on Linux and Windows:
// - each of \ / : * ? " < > | and every control character (U+0000 to U+001F, U+007F)
//   becomes "_" (SafeNamePart);
// - dots and spaces that end the name become "_" (Windows drops them);
// - a name whose part before its first dot, less the spaces that end it, is a device
//   name Windows reserves in every folder gets "_" after the device name, so "CON.txt"
//   becomes "CON_.txt" and "nul.tar.txt" "nul_.tar.txt". The device names, in any letter
//   case: CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0 to COM9 and LPT0 to LPT9, and COM and
//   LPT followed by a superscript 1, 2 or 3.
std::string SafeFileName(std::string_view name);

// The characters of SafeFileName's first step made "_".
std::string SafeNamePart(std::string_view text);

// A file name template: "{book}" stands for the workbook's file name without its last
// extension, "{ext}" for that extension (without the dot), "{sheet}" for the worksheet's
// name and "{n}" for the row or column number (empty where the mode has none), "{n:0W}"
// for that number with zeros before it up to W digits (1 to 9); any other text is kept.
// "{dir}", only at the start, stands for the folder the workbook was found in, relative
// to the folder searched, and a "/" after it is taken with it: the files of a tree land
// in the same tree inside the output folder. Returns what is wrong with pattern (an
// unknown or unclosed "{…}", a "{dir}" elsewhere), or nothing.
std::optional<std::string> NameTemplateProblem(std::string_view pattern);

// The name a result of workbookName (a path or a file name) is saved under with pattern:
// the filled-in template (the workbook's stem when that is empty), then ".txt", made safe
// by SafeFileName; with "{dir}", folder's pieces (separated by "/", each made safe so,
// "." and ".." left out) and a "/" before it.
std::string TemplateFileName(std::string_view pattern, std::string_view workbookName,
    const exporting::ResultEntry& entry, std::string_view folder = {});

// Tells the files a save names from its results: whether a file is one that a result of
// a given workbook would be saved as, whatever the worksheet's name and number and with
// any " (N)" a repeated name takes. A folder searched again for workbooks leaves those
// out, so that a run into that folder never reads its own texts.
class ResultNaming {
public:
    // Names as a save of mode gives them, or from pattern (a valid template) when given.
    ResultNaming(options::SaveMode mode, const std::optional<std::string>& pattern);
    ~ResultNaming();
    ResultNaming(const ResultNaming&) = delete;
    ResultNaming& operator=(const ResultNaming&) = delete;
    // Whether path (relative to the output folder, "/" between folders) is a name a
    // result of workbookName (a path or a file name), found in folder (as for {dir}), gets.
    bool Gives(std::string_view path, std::string_view workbookName, std::string_view folder = {}) const;
    // Whether every name starts with the workbook's stem, after its folder.
    bool StartsWithStem() const;

private:
    struct Piece;
    std::vector<Piece> m_pieces;
    bool m_inFolder = false; // {dir} starts the names
};

// The longest name a file may have, in bytes; a longer one is shortened at a UTF-8
// character boundary, keeping its " (N)" and ".txt".
inline constexpr size_t kLongestFileName = 255;

// What a save does where the folder already holds a file of a result's name.
enum class ExistingFiles {
    Replace, // the new text replaces it: saving again into the same folder updates it
    Keep, // it stays; the new text takes the next free "NAME (N).txt"
};

// What a save does with a text cut short by a failure of its workbook (ResultEntry::cutShort).
enum class CutShortTexts {
    WhereFree, // written only under a name nothing has yet: it never replaces a file
    NotWritten, // never written
};

// Why a result was not written.
enum class NotWrittenReason {
    Failed, // its file could not be written (reported as it failed)
    NoSpace, // the device was full or the quota used up
    CutShort, // its text is cut short, and is not written or would have replaced a file
    Left, // the save ended before it: a stop asked for, or a failure every file would meet
};

// What became of one result.
struct SavedFile {
    size_t index = 0; // the result's position in the list, from 0
    std::string path; // the file written, or the one meant when it was not written
    bool written = false;
    bool renamed = false; // saved as "NAME (N).txt" because its own name was taken, or shortened
    NotWrittenReason why = NotWrittenReason::Failed; // when not written
};

// A result not written, named by the file it was meant for.
struct NotWrittenFile {
    std::string path;
    NotWrittenReason why = NotWrittenReason::Failed;
};

// Hears of each result as it is saved, so a save of a million results needs no list of them.
class SaveListener {
public:
    virtual ~SaveListener() = default;
    virtual void Saved(const SavedFile& file) = 0;
};

enum class SaveOutcome { Saved, FolderMissing };

struct SaveSummary {
    SaveOutcome outcome = SaveOutcome::Saved;
    size_t written = 0;
    size_t renamed = 0; // written under a "(N)" or shortened name; also counted in written
    size_t notWritten = 0; // failed, or left over when the save stopped
    size_t notWrittenForSpace = 0; // did not fit on the device; also counted in notWritten
    std::string spaceFailure; // why those did not fit ("No space left on device")
    size_t notWrittenCutShort = 0; // cut short by their workbook's failure; also counted in notWritten
    bool stopped = false; // a failure that every later file would meet, or a stop asked for, ended the save
    bool stopAsked = false; // a stop asked for ended it
    bool keptExisting = false; // files already in the folder were kept (ExistingFiles::Keep)
    std::vector<std::string> renamedNames; // the first kRenamedNamesKept of the new names
    std::vector<NotWrittenFile> notWrittenFiles; // the first kNotWrittenNamesKept of them, in list order
};

inline constexpr size_t kRenamedNamesKept = 10;
// Enough for a person to see which, in a list that scrolls.
inline constexpr size_t kNotWrittenNamesKept = 1000;

struct SavePorts {
    core::ErrorReporter& reporter;
    core::Pump& pump;
    SaveListener* listener = nullptr;
    core::FileCalls* files = nullptr; // the system calls when none
};

// Writes every result into folder (which may end in "/"), in list order. Nothing a save
// writes is lost and no file of the person's is damaged:
// - each result gets a file of its own: a name already used earlier in this save is
//   written as "NAME (2).txt", "NAME (3).txt", …, the first one not yet used, names
//   compared byte for byte as the file system compares them;
// - a name longer than kLongestFileName bytes is shortened to fit;
// - a name that is one of the run's own workbooks (inputs) is never written over; that
//   result takes the next "(N)" name too;
// - each file is replaced all or nothing (core::PendingFile); with ExistingFiles::Keep a
//   file the folder already holds is never replaced, the result taking the next "(N)" name;
// - a text cut short by a failure of its workbook never replaces a file: it is written
//   only under a name nothing has, else counted as not written (CutShortTexts::WhereFree).
// A file that cannot be written is reported through ports.reporter (location
// "…Form2.PushButton6_Click ") and the others are still written. A file that does not
// fit on the device (no space left, quota used up) has no report of its own: the others,
// smaller ones among them, are still tried, and the summary counts those that did not
// fit and says why. A failure every later file would meet as well (the folder is
// read-only or gone, the device read-only) is reported once, with the number of results
// left unwritten, and ends the save. A folder
// that does not exist writes nothing and gives FolderMissing. The pump runs once per
// result. mode none: nothing is written.
SaveSummary SaveResults(const std::string& folder, std::optional<options::SaveMode> mode,
    const std::vector<std::string>& inputs, const exporting::ResultList& results, SavePorts ports,
    ExistingFiles existing = ExistingFiles::Replace);
// The same, each result named by the save mode it was made in.
SaveSummary SaveResults(const std::string& folder, const std::vector<std::string>& inputs,
    const exporting::ResultList& results, SavePorts ports, ExistingFiles existing = ExistingFiles::Replace);

// The files already in folder that a save of results (each named by the mode it was made
// in) with ExistingFiles::Replace would replace: how many, and the names of the first
// namesKept. Texts cut short, which replace nothing, are not among them; nor are the
// run's own workbooks, which no result takes.
struct FilesInTheWay {
    size_t count = 0;
    std::vector<std::string> names;
};
FilesInTheWay FilesToReplace(const std::string& folder, const std::vector<std::string>& inputs,
    const exporting::ResultList& results, size_t namesKept);

class NameClaims;

// A save whose results arrive in parts, in list order, so a caller that makes them one
// workbook at a time need not hold them all. Each part is named, written and reported as
// the same results would be within one SaveResults call over the whole list; the report
// of a failure that ends the save says that the rest is not written, and later parts are
// counted as not written without a report. The folder must exist: it is opened once,
// every file is made in what was opened, and a folder moved or replaced (by a symbolic
// link, say) under way ends the save with a report naming it. Temporary files that
// saves killed in the middle left in it are removed. SIGINT or SIGTERM during a part
// lets the file under way be finished, then ends the program (core::HeldInterruptions).
class SaveSession final : public exporting::EntryWriter {
public:
    // total: how many results the whole save holds, when that is known before it starts;
    // the report of a failure that ends the save then counts the results it left. mode
    // none names each result by the mode it was made in.
    SaveSession(const std::string& folder, std::optional<options::SaveMode> mode,
        const std::vector<std::string>& inputs, SavePorts ports, std::optional<size_t> total = std::nullopt);
    ~SaveSession();
    SaveSession(const SaveSession&) = delete;
    SaveSession& operator=(const SaveSession&) = delete;

    // Names the files from pattern (TemplateFileName) rather than as SavedFileName does.
    void SetNameTemplate(std::optional<std::string> pattern) { m_template = std::move(pattern); }
    // Bytes every file written starts with before its text, such as a byte-order mark.
    void SetLeadingBytes(std::string bytes) { m_leading = std::move(bytes); }
    // What becomes of files the folder holds under a result's name (before the first result).
    void SetExistingFiles(ExistingFiles existing);
    // What becomes of texts cut short (WhereFree unless set).
    void SetCutShortTexts(CutShortTexts texts) { m_cutShort = texts; }
    // Saves the results of part, which came from the workbook workbookName, found in
    // folder (both used by a name template).
    void Save(const exporting::ResultList& part, std::string_view workbookName = {}, std::string_view folder = {});

    // As an entry writer, one result saved as its text comes, while the text may still be
    // cut back or dropped: Begin names it (from the workbook SetWorkbook named last) and
    // starts its file (core::PendingFile, leading bytes first), Write adds to its text,
    // Cut takes the text back to its first size bytes, Commit puts the file in place and
    // tells of it, named, reported and counted as Save would, and Abandon drops it as if
    // it had never begun, its name free again. One at a time, and no Save meanwhile. A
    // failure to write is told at Commit; Writes after it do nothing. SIGINT or SIGTERM
    // while the text comes removes the file under way at the next Write and ends the
    // program; at Commit the file is finished first. CommitCutShort ends it as Commit does
    // a text cut short by a failure of its workbook (SetCutShortTexts).
    void SetWorkbook(std::string workbookName, std::string folder = {})
    {
        m_workbookName = std::move(workbookName);
        m_workbookFolder = std::move(folder);
    }
    void Begin(const exporting::ResultEntry& entry) override;
    using EntryWriter::Write;
    void Write(std::string_view bytes) override;
    void Cut(uint64_t size) override;
    void Commit() override;
    void CommitCutShort() override;
    void Abandon() override;
    // The text of the result under way cannot be had whole (errno code): its file is not
    // put in place, and Commit tells why as it tells a failed write.
    void Fail(int code);

    const SaveSummary& Summary() const { return m_summary; }

private:
    struct Pending;
    // Begin, for a result of workbookName, found in folder.
    void BeginFor(const exporting::ResultEntry& entry, std::string_view workbookName, std::string_view folder);
    // The name of entry's file, relative to the folder: with a template's {dir}, below it.
    std::string FileNameFor(
        const exporting::ResultEntry& entry, std::string_view workbookName, std::string_view folder) const;
    // The folder inside the output folder a file's relative name lies in (made when
    // missing, never through a link), and its name there. Throws core::FileError.
    const core::OutputFolder& FolderOf(const std::string& relative, std::string& name);
    // Ends the save with one report, saying that left results are not written (LeaveOut
    // counts each).
    void ReportStop(size_t left, const std::string& why, int step);
    // Counts a result the save never came to as not written.
    void LeaveOut(const exporting::ResultEntry& entry, std::string_view workbookName, std::string_view folder);
    // Saves one result; left counts it and those after it in its part. False once the save
    // ended: this result is counted, those after it are not.
    bool SaveEntry(
        const exporting::ResultEntry& entry, std::string_view workbookName, std::string_view folder, size_t left);
    // Commit, with left as SaveEntry has it.
    bool CommitEntry(size_t left, bool cutShort);
    // Puts the pending file in place as the rules for existing files and texts cut short say.
    std::optional<core::WriteFailure> PutInPlace(Pending& pending, bool cutShort);
    // Counts what became of one result and tells the listener.
    void Tell(SavedFile file);

    options::SaveMode ModeOf(const exporting::ResultEntry& entry) const { return m_mode.value_or(entry.mode); }
    int WriteStep(const exporting::ResultEntry& entry) const; // the step number a failure is reported at

    std::optional<options::SaveMode> m_mode;
    std::string m_folderPath;
    std::unique_ptr<core::OutputFolder> m_folder; // none when it could not be opened
    std::string m_folderFailure; // why it could not be
    SavePorts m_ports;
    std::unique_ptr<NameClaims> m_names;
    SaveSummary m_summary;
    size_t m_index = 0; // the next result's position in the whole list
    std::optional<std::string> m_template;
    std::string m_leading;
    std::optional<size_t> m_total;
    ExistingFiles m_existing = ExistingFiles::Replace;
    CutShortTexts m_cutShort = CutShortTexts::WhereFree;
    std::unique_ptr<Pending> m_pending; // the result begun and not yet committed or abandoned
    std::string m_workbookName; // what SetWorkbook named
    std::string m_workbookFolder;
    // The folders inside the output folder that files were saved into, by relative path.
    std::unordered_map<std::string, std::unique_ptr<core::OutputFolder>> m_subfolders;
};

// What a person is told beyond the error reports: the results saved under new names (a
// few named) and those not written, each named with why (NotWrittenLine), with "and N
// more." for those past the names kept. Empty when every result kept its name and
// was written. Lines end in CR LF.
std::string SaveNotice(const SaveSummary& summary);

// The first line of the message a save ends with: "Done." when every result was written,
// else how many of them were, and whether a stop ended the save.
std::string SaveHeadline(const SaveSummary& summary);

// SaveNotice's parts, one sentence each, without the names: "N results were saved under
// a new name, because …" and "N results were not written.".
std::string RenamedNotice(const SaveSummary& summary);
std::string NotWrittenNotice(const SaveSummary& summary);
// Why a result was not written, as a clause: "no space was left for it".
std::string_view NotWrittenWhy(NotWrittenReason why);
// One result not written: its file name, then why ("b.txt: no space was left for it").
std::string NotWrittenLine(const NotWrittenFile& file);

} // namespace vellumcast::results
