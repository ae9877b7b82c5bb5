#pragma once
// Where the export procedures hand the texts they compose, entry by entry, as they are
// composed, through EntryWriter's verbs. The results window's list keeps every text; the
// command line passes them on to standard output or the output folder without holding
// them.

#include "export/EntryWriter.h"
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

// An entry writer that may also go back past the entries it has ended: a walk that
// fails or turns out unusable takes back everything it handed over, however many entries
// that made.
class ResultSink : public EntryWriter {
public:
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
        Begin(head);
        Write(std::move(text));
        Commit();
    }
};

} // namespace vellumcast::exporting
