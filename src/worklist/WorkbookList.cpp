#include "worklist/WorkbookList.h"

#include <stdexcept>

namespace vellumcast::worklist {

std::optional<size_t> WorkbookList::PositionOf(EntryId id) const
{
    for (size_t i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i].id == id)
            return i;
    }
    return std::nullopt;
}

std::vector<std::string> WorkbookList::Paths() const
{
    std::vector<std::string> paths;
    paths.reserve(m_entries.size());
    for (const auto& entry : m_entries)
        paths.push_back(entry.text);
    return paths;
}

void WorkbookList::Append(std::string path)
{
    Insert(m_entries.size(), std::move(path));
}

void WorkbookList::Insert(size_t position, std::string path)
{
    if (position > m_entries.size())
        throw std::out_of_range("Index out of bounds");
    if (m_observer)
        m_observer->BeforeInsert(position);
    m_entries.insert(m_entries.begin() + static_cast<std::ptrdiff_t>(position), Entry { m_nextId++, std::move(path) });
    if (m_observer)
        m_observer->AfterInsert();
}

void WorkbookList::Remove(size_t position)
{
    if (position >= m_entries.size())
        throw std::out_of_range("Index out of bounds");
    if (m_observer)
        m_observer->BeforeRemove(position);
    m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(position));
    if (m_observer)
        m_observer->AfterRemove();
}

void WorkbookList::Clear()
{
    if (m_observer)
        m_observer->BeforeClear();
    m_entries.clear();
    if (m_observer)
        m_observer->AfterClear();
}

void WorkbookList::SetText(size_t position, std::string text)
{
    m_entries.at(position).text = std::move(text);
    if (m_observer)
        m_observer->TextChanged(position);
}

std::optional<size_t> MoveUp(WorkbookList& list, std::optional<size_t> selected)
{
    if (!selected || *selected < 1 || *selected >= list.Count())
        return std::nullopt;
    const size_t p = *selected;
    // A new entry takes the text above; the old one goes. The moved entry is a new entry,
    // as a drag that picked the old one will notice.
    list.Insert(p - 1, list.Text(p));
    list.Remove(p + 1);
    return p - 1;
}

std::optional<size_t> MoveDown(WorkbookList& list, std::optional<size_t> selected)
{
    if (list.Empty())
        return std::nullopt;
    if (!selected)
        return 0;
    const size_t p = *selected;
    if (p + 1 >= list.Count())
        return std::nullopt;
    list.Insert(p + 2, list.Text(p));
    list.Remove(p);
    return p + 1;
}

void RemoveSelected(WorkbookList& list, std::optional<size_t> selected)
{
    if (selected && *selected < list.Count())
        list.Remove(*selected);
}

} // namespace vellumcast::worklist
