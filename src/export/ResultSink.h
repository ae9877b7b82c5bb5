#pragma once
// Where the export procedures hand the texts they compose, entry by entry, as they are
// composed. The results window's list keeps every text; the command line passes them on
// to standard output or the output folder without holding them.

#include "options/ExportOptions.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace vellumcast::exporting {

struct ResultEntry;

// A place in what a sink has taken, to come back to: the entries ended before it and the
// bytes of the entry under way (when one is).
struct SinkMark {
    size_t entries = 0;
    uint64_t bytes = 0;
    bool inEntry = false;
};

class ResultSink {
public:
    virtual ~ResultSink() = default;

    // Starts an entry with the names, ordinal and mode of head (its text is ignored).
    virtual void BeginEntry(const ResultEntry& head) = 0;
    // Adds bytes to the entry under way.
    virtual void Append(std::string_view bytes) = 0;
    // As Append, for a text the caller gives up; a sink may keep it rather than copy it.
    virtual void Append(std::string&& bytes) { Append(std::string_view(bytes)); }
    void Append(const char* bytes) { Append(std::string_view(bytes)); }
    // Ends the entry under way: its text is whole.
    virtual void EndEntry() = 0;
    // Ends the entry under way as cut short (ResultEntry::cutShort): its workbook failed,
    // and its text is what was composed before the failure.
    virtual void EndCutShortEntry() = 0;

    // Where the sink stands now, and going back there: every entry and byte taken after
    // the mark is dropped, as if never handed over. An entry under way at the mark is
    // under way again after it.
    virtual SinkMark Mark() const = 0;
    virtual void RollBack(const SinkMark& mark) = 0;

    // How many composed bytes the procedures may hold before handing them over; the most
    // a size_t holds means they may hold every text whole.
    virtual size_t HoldLimit() const { return std::numeric_limits<size_t>::max(); }

    // One entry per line of text, head's names on each: line i ends at lineEnds[i]
    // (offsets in text) and is numbered ordinals[i], or without ordinals head.ordinal + i.
    // With skipEmpty an empty line gives no entry, but its number is still counted.
    // Returns the entries made.
    virtual size_t TakeLines(const ResultEntry& head, std::string text, const std::vector<size_t>& lineEnds,
        const std::vector<int64_t>& ordinals, bool skipEmpty);

    // A whole entry at once.
    void Take(const ResultEntry& head, std::string text)
    {
        BeginEntry(head);
        Append(std::move(text));
        EndEntry();
    }
};

} // namespace vellumcast::exporting
