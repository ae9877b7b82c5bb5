#pragma once
// The results of one workbook as its export hands them over. Once the workbook's turn has
// come they are passed on as soon as nothing can take them back any more; until then (and
// for what may still be taken back) they are held: the entries' names in memory, their
// texts in memory up to a few megabytes and past that in a nameless temporary file, so
// that a workbook of any size costs little memory however its texts are composed.
//
// What may be taken back: the export procedures take a mark before a worksheet's text
// goes out and roll back only ever to the latest mark (a failure, or a composition
// while loading that turns out unusable, drops what the worksheet gave). So whatever
// lies before the latest mark can no longer be taken back, and once the workbook is
// done, nothing can.

#include "core/Files.h"
#include "export/EntryWriter.h"
#include "export/ResultList.h"
#include "export/ResultSink.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vellumcast::cli {

// Where the texts of the workbook whose turn it is go, entry by entry, as an entry
// writer. An outlet that can take back what it was given (TakesBack: the output folder,
// whose files are put in place only once committed) gets the entry under way as it
// comes, cut back or abandoned should the export take it back; one that cannot
// (standard output) gets only bytes nothing can take back any more, and never a Cut or
// an Abandon. Either way each entry is begun, written and committed in order, at most one
// at a time.
class ResultOutlet : public exporting::EntryWriter {
public:
    virtual bool TakesBack() const = 0;
    // The held bytes of the entry under way could not be read back (errno code): what of
    // it was not written is lost.
    virtual void ReadFailed(int code) = 0;
};

// Where the spools of a run make the temporary files that hold texts out of memory: the
// temporary folder; when no file can be made there (TMPDIR missing, or naming a file),
// the fallback folder (the output folder, whose file system the texts go to in the end)
// from then on, which is said once. Shared by the workbooks of a run.
class SpoolFolder {
public:
    explicit SpoolFolder(std::string fallback = {})
        : m_fallback(std::move(fallback))
    {
    }
    // A nameless temporary file. Throws std::runtime_error saying why, when none can be
    // made: texts are never held in memory instead, without a word or a bound.
    std::FILE* Open();
    // Once, after the fallback was taken: the sentence that says so. Else empty.
    std::string TakeNotice();

private:
    std::mutex m_mutex;
    std::string m_fallback; // empty for none
    bool m_useFallback = false;
    std::string m_notice;
};

// Where a workbook learns that its turn has come: its outlet, set by the thread that
// hands the turns; none before.
using OutletSlot = std::atomic<ResultOutlet*>;

// Once the workbook's turn has come and its outlet takes back, the entry under way whose
// entries before it were all passed on (the first one after the latest mark) goes to the
// outlet as it comes rather than being held (it is pending): cut back by a rollback into
// it, abandoned by one to before it, committed once a mark settles it or the workbook is
// done. The entries after it are held as before, so at most one entry is pending at once.
class SpooledResults final : public exporting::ResultSink {
public:
    SpooledResults()
        : SpooledResults(kMemoryBytes)
    {
    }
    // Texts beyond memoryBytes in all go to the temporary file, made in folder (by default
    // the system's temporary folder alone). With turn, the texts go on to the outlet in it
    // as soon as there is one and they can no longer be taken back.
    explicit SpooledResults(size_t memoryBytes, const OutletSlot* turn = nullptr, SpoolFolder* folder = nullptr);

    void Begin(const exporting::ResultEntry& head) override;
    using ResultSink::Write;
    void Write(std::string_view bytes) override;
    // As RollBack to the entry under way at size bytes, or to before it.
    void Cut(uint64_t size) override;
    void Commit() override;
    void CommitCutShort() override;
    void Abandon() override;
    // Also settles what was taken before it: a rollback goes back to the latest mark only.
    exporting::SinkMark Mark() const override;
    // Throws std::logic_error when asked to go back past what was passed on already.
    void RollBack(const exporting::SinkMark& mark) override;
    size_t HoldLimit() const override { return kHoldBytes; }

    // Every entry taken (passed on or not) and its names, ordinal and mode; its text is
    // empty (read it with WriteText while it is held).
    size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    const exporting::ResultEntry& Head(size_t index) const { return m_entries[index].head; }
    uint64_t TextSize(size_t index) const { return m_entries[index].size; }
    // Calls write with the text of an entry still held in pieces, in order; returns the
    // first non-zero value write gives, or the errno of a failed read of the temporary
    // file (EINVAL for a text passed on and let go, or sent on as it came); else 0.
    int WriteText(size_t index, const std::function<int(std::string_view)>& write) const;

    // The workbook is done, nothing can be taken back: passes every ended text not yet
    // passed on to outlet.
    void PassOnRest(ResultOutlet& outlet);

    static constexpr size_t kMemoryBytes = size_t(8) << 20;
    // What the export procedures may compose ahead before handing it over: enough that
    // each write is large, little enough that the text composed stays in the same few
    // pages, which cost more to touch the first time than to fill again.
    static constexpr size_t kHoldBytes = size_t(256) << 10;

private:
    struct Entry {
        exporting::ResultEntry head;
        uint64_t offset = 0; // where its text starts among all the bytes taken
        uint64_t size = 0;
        bool pending = false; // its text went to the outlet as it came, none of it held
        bool held = false; // its text stays held: it could not be sent on as it came
    };
    void Hold(std::string_view bytes);
    // Bytes [from, to) of all those taken, in pieces, from memory or the file.
    int ReadBytes(uint64_t from, uint64_t to, const std::function<int(std::string_view)>& write) const;
    // Passes on to the outlet of the turn, when there is one, whatever is settled, and
    // sends on the entry under way as it comes when it may.
    void PassOnSettled();
    // Makes the entry under way pending, when outlet takes back and the entries before it
    // were passed on; its bytes held so far go on first.
    void StartPending(ResultOutlet& outlet);
    void PassOn(ResultOutlet& outlet);
    // Forgets the held bytes once every one of them was passed on.
    void DropPassed();

    size_t m_memoryBytes;
    const OutletSlot* m_turn = nullptr;
    SpoolFolder* m_folder = nullptr;
    std::vector<Entry> m_entries;
    Entry m_current;
    bool m_inEntry = false;
    uint64_t m_end = 0; // the bytes taken so far
    // Where the held bytes start among all those taken: the first m_memoryBytes of them in
    // m_memory, the rest in m_file from its start.
    uint64_t m_heldFrom = 0;
    std::string m_memory;
    struct CloseFile {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, CloseFile> m_file;
    mutable uint64_t m_filePosition = 0; // where the file's next write goes, as the file stands

    // What can no longer be taken back: the entries ended and the bytes taken when the
    // latest mark was taken, and whether an entry was under way then.
    mutable size_t m_settledEntries = 0;
    mutable uint64_t m_settledEnd = 0;
    mutable bool m_settledInEntry = false;
    // What was passed on: the entries whole, whether the one after them was begun (in an
    // outlet that cannot take back), and the bytes.
    size_t m_passedEntries = 0;
    bool m_passedBegun = false;
    uint64_t m_passedEnd = 0;

    // The outlet the pending entry (the one at m_passedEntries) went to, while there is one;
    // abandoned there should the results be let go first.
    struct AbandonPending {
        void operator()(ResultOutlet* outlet) const { outlet->Abandon(); }
    };
    std::unique_ptr<ResultOutlet, AbandonPending> m_pending;
};

} // namespace vellumcast::cli
