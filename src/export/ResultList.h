#pragma once
// The results of a run: one entry per text the run produced, in the order produced.

#include "export/ResultSink.h"
#include "options/ExportOptions.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vellumcast::exporting {

// A text that entries share, or a part of a buffer they share. A million row texts of a
// worksheet keep its name once and lie in the one buffer they were composed in, instead
// of each holding copies and the slack of a string of its own. Shared texts never change.
class SharedText {
public:
    // Implicit from a text and to a view: entries are written and read as plain strings.
    SharedText() = default;
    SharedText(std::string text) // a text of its own
        : m_buffer(std::make_shared<const std::string>(std::move(text)))
        , m_view(*m_buffer)
    {
    }
    SharedText(const char* text)
        : SharedText(std::string(text))
    {
    }
    // The part of the buffer this text lies in from offset on, size bytes long.
    SharedText Part(size_t offset, size_t size) const
    {
        return m_buffer ? SharedText(m_buffer, offset, size) : SharedText();
    }
    // The whole buffer this text lies in, and where in it the text starts.
    SharedText Whole() const { return Part(0, std::string_view::npos); }
    size_t Offset() const { return m_buffer ? static_cast<size_t>(m_view.data() - m_buffer->data()) : 0; }
    bool SameBuffer(const SharedText& other) const { return m_buffer == other.m_buffer; }

    std::string_view View() const { return m_view; }
    operator std::string_view() const { return m_view; }
    std::string Copy() const { return std::string(m_view); }
    size_t size() const { return m_view.size(); }
    bool empty() const { return m_view.empty(); }

    friend bool operator==(const SharedText& text, std::string_view other) { return text.m_view == other; }
    friend std::ostream& operator<<(std::ostream& out, const SharedText& text) { return out << text.m_view; }

private:
    SharedText(std::shared_ptr<const std::string> buffer, size_t offset, size_t size)
        : m_buffer(std::move(buffer))
        , m_view(std::string_view(*m_buffer).substr(offset, size))
    {
    }

    std::shared_ptr<const std::string> m_buffer;
    std::string_view m_view;
};

// One result as it is read from the list.
struct ResultEntry {
    SharedText fileName; // the workbook's file name without its last extension, then ".txt"
    SharedText sheetName; // empty in the all-sheets mode
    int64_t ordinal = 0; // row or column number within the used range, from 1; 0 where there is none
    SharedText text; // the exported text; empty when nothing was composed (saved as zero bytes)
    options::SaveMode mode = options::SaveMode::AllSheets; // the save mode it was made in, which names its file
    // Its workbook failed while the text was composed: the text holds what came before the
    // failure, not all the workbook holds, and never replaces a saved file.
    bool cutShort = false;
};

// The results of a run, in the order produced. A million row texts of a worksheet keep
// their names once, as one source with the buffer their texts lie in, and each entry
// only its number and where its text lies: 24 bytes each rather than a few hundred.
// Entries are read as values; the texts they give stay valid while the list holds them.
// As a sink it keeps every text: an entry is listed once it is committed.
class ResultList final : public ResultSink {
public:
    class Iterator {
    public:
        Iterator(const ResultList& list, size_t index)
            : m_list(&list)
            , m_index(index)
        {
        }
        ResultEntry operator*() const { return (*m_list)[m_index]; }
        Iterator& operator++()
        {
            ++m_index;
            return *this;
        }
        Iterator operator+(size_t count) const { return { *m_list, m_index + count }; }
        bool operator==(const Iterator& other) const { return m_index == other.m_index; }

    private:
        const ResultList* m_list;
        size_t m_index;
    };

    ResultList() = default;
    ResultList(std::initializer_list<ResultEntry> entries)
        : ResultList(entries.begin(), entries.end())
    {
    }
    template <typename Iterator> ResultList(Iterator first, Iterator last)
    {
        for (; first != last; ++first)
            push_back(*first);
    }

    void push_back(const ResultEntry& entry);
    ResultEntry operator[](size_t index) const;
    ResultEntry at(size_t index) const; // throws std::out_of_range past the end
    ResultEntry front() const { return (*this)[0]; }
    ResultEntry back() const { return (*this)[size() - 1]; }
    size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    void clear();
    void Truncate(size_t count); // keeps the first count entries
    size_t CutShortCount() const; // the entries whose text is cut short
    Iterator begin() const { return { *this, 0 }; }
    Iterator end() const { return { *this, size() }; }

    // The workbooks the results came from, as the run read their paths; clear empties them.
    void AddInput(std::string path) { m_inputs.push_back(std::move(path)); }
    const std::vector<std::string>& Inputs() const { return m_inputs; }

    void Begin(const ResultEntry& head) override;
    using ResultSink::Write;
    void Write(std::string_view bytes) override;
    void Write(std::string&& bytes) override;
    void Cut(uint64_t size) override;
    void Commit() override;
    void CommitCutShort() override;
    void Abandon() override;
    SinkMark Mark() const override;
    void RollBack(const SinkMark& mark) override;
    // The lines' entries share the one text rather than each taking a copy.
    size_t TakeLines(const ResultEntry& head, std::string text, const std::vector<size_t>& lineEnds,
        const std::vector<int64_t>& ordinals, bool skipEmpty) override;

private:
    // What entries pushed one after another share: their names and their texts' buffer.
    // An entry cut short has a source of its own.
    struct Source {
        SharedText fileName;
        SharedText sheetName;
        SharedText buffer; // the whole of the buffer the entries' texts lie in
        options::SaveMode mode;
        bool cutShort = false;
    };
    struct Stored {
        uint32_t source;
        uint32_t ordinal;
        uint64_t offset;
        uint64_t size;
    };

    // A deque: a million entries grow without one long pause to move them all.
    std::deque<Source> m_sources;
    std::deque<Stored> m_entries;
    // The entry under way as a sink: its names, and its text so far.
    SharedText m_headFileName;
    SharedText m_headSheetName;
    int64_t m_headOrdinal = 0;
    options::SaveMode m_headMode = options::SaveMode::AllSheets;
    void End(bool cutShort);
    std::string m_pending;
    bool m_inEntry = false;
    std::vector<std::string> m_inputs;
};

} // namespace vellumcast::exporting
