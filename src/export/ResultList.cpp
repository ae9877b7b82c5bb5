#include "export/ResultList.h"

#include <limits>
#include <stdexcept>

namespace vellumcast::exporting {

void ResultList::push_back(const ResultEntry& entry)
{
    if (entry.ordinal < 0 || entry.ordinal > std::numeric_limits<uint32_t>::max())
        throw std::out_of_range("A result's number is out of range: " + std::to_string(entry.ordinal));
    const bool empty = entry.text.empty();
    const bool sameSource = !m_sources.empty() && m_sources.back().fileName == entry.fileName.View()
        && m_sources.back().sheetName == entry.sheetName.View() && m_sources.back().mode == entry.mode
        && (empty || m_sources.back().buffer.SameBuffer(entry.text));
    if (!sameSource)
        m_sources.push_back({ entry.fileName, entry.sheetName, entry.text.Whole(), entry.mode });
    m_entries.push_back({ static_cast<uint32_t>(m_sources.size() - 1), static_cast<uint32_t>(entry.ordinal),
        empty ? 0 : entry.text.Offset(), entry.text.size() });
}

ResultEntry ResultList::operator[](size_t index) const
{
    const Stored& stored = m_entries[index];
    const Source& source = m_sources[stored.source];
    return { source.fileName, source.sheetName, stored.ordinal,
        stored.size == 0 ? SharedText() : source.buffer.Part(stored.offset, stored.size), source.mode };
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
}

} // namespace vellumcast::exporting
