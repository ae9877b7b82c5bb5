#pragma once
// Writing one entry (a text with the names it is saved under) as its bytes come: the one
// set of verbs that every place a text goes to speaks, so that the export, the command
// line's spool, standard output and the output folder pass entries to one another
// without translating. The results list keeps the entry, the save session writes it
// into a pending file, the spool holds it until it can go on.

#include <cstdint>
#include <string>
#include <string_view>

namespace vellumcast::exporting {

struct ResultEntry;

// One entry at a time: Begin, any number of Writes and Cuts, then Commit (or
// CommitCutShort) to keep it, or Abandon to drop it as if it had never begun.
class EntryWriter {
public:
    virtual ~EntryWriter() = default;

    // Begins an entry with the names, ordinal and mode of head (its text is not read).
    virtual void Begin(const ResultEntry& head) = 0;
    // Adds bytes to the entry under way.
    virtual void Write(std::string_view bytes) = 0;
    // As Write, for a text the caller gives up; a writer may keep it rather than copy it.
    virtual void Write(std::string&& bytes) { Write(std::string_view(bytes)); }
    void Write(const char* bytes) { Write(std::string_view(bytes)); }
    // Takes the entry under way back to its first size bytes; what is written next
    // follows them.
    virtual void Cut(uint64_t size) = 0;
    // Ends the entry under way: its text is whole.
    virtual void Commit() = 0;
    // Ends the entry under way as cut short (ResultEntry::cutShort): its workbook failed,
    // and its text is what was composed before the failure.
    virtual void CommitCutShort() = 0;
    // Drops the entry under way, if any.
    virtual void Abandon() = 0;
};

} // namespace vellumcast::exporting
