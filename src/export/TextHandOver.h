#pragma once
// Hands a text under composition on to the result sink as it grows, so that a sink that
// holds little (the command line's) never sees a worksheet's text held whole, while a
// walk that fails can still take back what went. Internal to the export layer.

#include "export/ResultList.h"
#include "export/ResultSink.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace vellumcast::exporting {

class TextHandOver {
public:
    TextHandOver(ResultSink& sink, bool skipEmptyLines)
        : m_sink(sink)
        , m_skipEmptyLines(skipEmptyLines)
    {
    }

    // From now on the text composed into out goes on to the sink whenever it grows past
    // what the sink may hold, at the end of a line: into a new entry of head (begun before
    // the first bytes go, and only then), or without a head into the entry under way
    // (what out holds goes at once). With lineEnds, each line that ends at its place in
    // them (as ResultSink::TakeLines takes them) goes as an entry of its own, numbered on
    // from the lines handed over before. Nothing is handed over while the sink holds every
    // text whole, nor without a head when no entry is under way.
    void Start(std::string& out, std::optional<ResultEntry> head, std::vector<size_t>* lineEnds = nullptr,
        std::vector<int64_t>* ordinals = nullptr);
    void Stop() { m_out = nullptr; }

    // At the end of a line: hands over what out holds once it passes the sink's limit.
    void AtLineEnd(std::string& out);

    // Whether out is the text being handed over.
    bool Handing(const std::string& out) const { return m_out == &out; }
    // Whether the entry of Start's head was begun in the sink, so that what is left in
    // out belongs to it.
    bool EntryBegun() const { return m_out && m_begins && !m_lines && m_handed; }
    // With lines handed over as entries of their own: the number of the next line, and
    // the entries those made. 1 and 0 when lineEnds are not being handed over.
    int64_t NextOrdinal(const std::vector<size_t>& lineEnds) const
    {
        return m_out && m_lines == &lineEnds ? m_nextOrdinal : 1;
    }
    size_t EntriesMade(const std::vector<size_t>& lineEnds) const { return m_out && m_lines == &lineEnds ? m_made : 0; }

    // The first bytes of out, which a walk may go back to: kept should they be handed over.
    void KeepFirst(size_t bytes) { m_keep = bytes; }
    // Makes out what it was when size bytes long, taking back from the sink whatever was
    // handed over past that (size at most what KeepFirst allows).
    void TakeBack(std::string& out, size_t size);

private:
    ResultSink& m_sink;
    bool m_skipEmptyLines;
    std::string* m_out = nullptr; // the text being handed over, none while every text is held whole
    std::optional<ResultEntry> m_head; // the entry to begin before the first bytes go
    bool m_begins = false; // the hand-over begins its entry itself
    SinkMark m_mark; // where the sink stood before anything was handed over
    bool m_handed = false; // bytes were handed over since the mark
    size_t m_keep = 0; // the bytes at the start of the text a walk may go back to
    std::string m_kept; // those bytes, kept when the text was handed over
    std::vector<size_t>* m_lines = nullptr; // where the lines of the text end, when each is an entry
    std::vector<int64_t>* m_ordinals = nullptr; // their numbers, when not one after another
    int64_t m_nextOrdinal = 1; // the number of the next line to go
    size_t m_made = 0; // the entries the lines handed over made
};

// Hands a text over for as long as it lives: started as it is made, stopped as it goes.
// Left by a failure, it first makes the text what it was at a size given (taking back from
// the sink what went past it), unless the text is to be kept as composed.
class HandOverScope {
public:
    HandOverScope(TextHandOver& handOver, std::string& out, std::optional<ResultEntry> head,
        std::vector<size_t>* lineEnds = nullptr, std::vector<int64_t>* ordinals = nullptr)
        : m_handOver(handOver)
        , m_out(out)
        , m_failures(std::uncaught_exceptions())
    {
        m_handOver.Start(out, std::move(head), lineEnds, ordinals);
    }
    ~HandOverScope()
    {
        if (m_takeBack && std::uncaught_exceptions() > m_failures) {
            try {
                m_handOver.TakeBack(m_out, m_takeBackTo);
            } catch (...) {
                // The failure under way is the one reported; the sink keeps what it could not drop.
            }
        }
        m_handOver.Stop();
    }
    HandOverScope(const HandOverScope&) = delete;
    HandOverScope& operator=(const HandOverScope&) = delete;

    // On a failure, the text goes back to its first size bytes (0 unless said).
    void TakeBackOnFailureTo(size_t size)
    {
        m_takeBack = true;
        m_takeBackTo = size;
    }
    // On a failure, what was composed up to it stays.
    void KeepOnFailure() { m_takeBack = false; }

private:
    TextHandOver& m_handOver;
    std::string& m_out;
    int m_failures; // the exceptions under way when the scope began
    bool m_takeBack = true;
    size_t m_takeBackTo = 0;
};

} // namespace vellumcast::exporting
