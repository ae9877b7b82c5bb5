#include "export/ResultList.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace vellumcast::exporting {

void ResultList::push_back(const ResultEntry& entry)
{
    if (entry.ordinal < 0 || entry.ordinal > std::numeric_limits<uint32_t>::max())
        throw std::out_of_range("A result's number is out of range: " + std::to_string(entry.ordinal));
    const bool empty = entry.text.empty();
    const bool sameSource = !m_sources.empty() && !entry.cutShort && !m_sources.back().cutShort
        && m_sources.back().fileName == entry.fileName.View() && m_sources.back().sheetName == entry.sheetName.View()
        && m_sources.back().mode == entry.mode && (empty || m_sources.back().buffer.SameBuffer(entry.text));
    if (!sameSource)
        m_sources.push_back({ entry.fileName, entry.sheetName, entry.text.Whole(), entry.mode, entry.cutShort });
    m_entries.push_back({ static_cast<uint32_t>(m_sources.size() - 1), static_cast<uint32_t>(entry.ordinal),
        empty ? 0 : entry.text.Offset(), entry.text.size() });
}

ResultEntry ResultList::operator[](size_t index) const
{
    const Stored& stored = m_entries[index];
    const Source& source = m_sources[stored.source];
    return { source.fileName, source.sheetName, stored.ordinal,
        stored.size == 0 ? SharedText() : source.buffer.Part(stored.offset, stored.size), source.mode,
        source.cutShort };
}

size_t ResultList::CutShortCount() const
{
    // One source per entry cut short, and sources go with their last entry.
    return static_cast<size_t>(
        std::count_if(m_sources.begin(), m_sources.end(), [](const Source& source) { return source.cutShort; }));
}

ResultEntry ResultList::at(size_t index) const
{
    if (index >= size())
        throw std::out_of_range("No result " + std::to_string(index) + " among " + std::to_string(size()));
    return (*this)[index];
}

void ResultList::Truncate(size_t count)
{
    if (count >= size())
        return;
    m_entries.resize(count);
    m_sources.resize(m_entries.empty() ? 0 : m_entries.back().source + 1);
}

void ResultList::clear()
{
    m_entries.clear();
    m_sources.clear();
    m_pending.clear();
    m_inEntry = false;
    m_inputs.clear();
}

void ResultList::Begin(const ResultEntry& head)
{
    m_headFileName = head.fileName;
    m_headSheetName = head.sheetName;
    m_headOrdinal = head.ordinal;
    m_headMode = head.mode;
    m_pending.clear();
    m_inEntry = true;
}

void ResultList::Write(std::string_view bytes)
{
    m_pending += bytes;
}

void ResultList::Write(std::string&& bytes)
{
    if (m_pending.empty())
        m_pending = std::move(bytes); // kept, not copied: a worksheet's text may be hundreds of megabytes
    else
        m_pending += bytes;
}

void ResultList::Cut(uint64_t size)
{
    if (size < m_pending.size())
        m_pending.resize(static_cast<size_t>(size));
}

void ResultList::Commit()
{
    End(false);
}

void ResultList::CommitCutShort()
{
    End(true);
}

void ResultList::Abandon()
{
    m_pending.clear();
    m_inEntry = false;
}

void ResultList::End(bool cutShort)
{
    m_inEntry = false;
    push_back(
        ResultEntry { m_headFileName, m_headSheetName, m_headOrdinal, std::move(m_pending), m_headMode, cutShort });
    m_pending.clear();
}

SinkMark ResultList::Mark() const
{
    return { size(), m_inEntry ? m_pending.size() : 0, m_inEntry };
}

void ResultList::RollBack(const SinkMark& mark)
{
    if (mark.inEntry && !m_inEntry && mark.entries < size()) {
        // The entry under way at the mark has ended since: it is under way again.
        const ResultEntry ended = (*this)[mark.entries];
        m_headFileName = ended.fileName;
        m_headSheetName = ended.sheetName;
        m_headOrdinal = ended.ordinal;
        m_headMode = ended.mode;
        m_pending.assign(ended.text.View().substr(0, mark.bytes));
    } else if (mark.inEntry) {
        m_pending.resize(std::min<size_t>(m_pending.size(), mark.bytes));
    } else {
        m_pending.clear();
    }
    m_inEntry = mark.inEntry;
    Truncate(mark.entries);
}

size_t ResultList::TakeLines(const ResultEntry& head, std::string text, const std::vector<size_t>& lineEnds,
    const std::vector<int64_t>& ordinals, bool skipEmpty)
{
    const SharedText shared(std::move(text));
    size_t begin = 0;
    size_t made = 0;
    for (size_t i = 0; i < lineEnds.size(); ++i) {
        const size_t end = lineEnds[i];
        const int64_t ordinal = ordinals.empty() ? head.ordinal + static_cast<int64_t>(i) : ordinals[i];
        if (end > begin || !skipEmpty) {
            push_back(
                ResultEntry { head.fileName, head.sheetName, ordinal, shared.Part(begin, end - begin), head.mode });
            ++made;
        }
        begin = end;
    }
    return made;
}

} // namespace vellumcast::exporting
