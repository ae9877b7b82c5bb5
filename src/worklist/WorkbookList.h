#pragma once
// The workbook list: the ordered input paths the export run walks, top to bottom.
// Entries are neither unique nor sorted. Positions are 0-based here; the window shows
// them from the top. Each entry carries an id, so a reference to an entry (the one being
// dragged) can tell when that entry has been removed in the meantime.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vellumcast::worklist {

using EntryId = uint64_t;

// Told before and after every change, so a view can follow the list.
class WorkbookListObserver {
public:
    virtual ~WorkbookListObserver() = default;
    virtual void BeforeInsert(size_t position) = 0;
    virtual void AfterInsert() = 0;
    virtual void BeforeRemove(size_t position) = 0;
    virtual void AfterRemove() = 0;
    virtual void BeforeClear() = 0;
    virtual void AfterClear() = 0;
    virtual void TextChanged(size_t position) = 0;
};

class WorkbookList {
public:
    size_t Count() const { return m_entries.size(); }
    bool Empty() const { return m_entries.empty(); }
    const std::string& Text(size_t position) const { return m_entries.at(position).text; }
    EntryId Id(size_t position) const { return m_entries.at(position).id; }
    // Where the entry with this id stands now; none once it has been removed.
    std::optional<size_t> PositionOf(EntryId id) const;
    std::vector<std::string> Paths() const;

    void Append(std::string path);
    // Inserts before position; position Count() appends. Throws std::out_of_range beyond.
    void Insert(size_t position, std::string path);
    void Remove(size_t position);
    void Clear();
    void SetText(size_t position, std::string text);

    void SetObserver(WorkbookListObserver* observer) { m_observer = observer; }

private:
    struct Entry {
        EntryId id;
        std::string text;
    };
    std::vector<Entry> m_entries;
    EntryId m_nextId = 1;
    WorkbookListObserver* m_observer = nullptr;
};

// "Move Up": the selected entry trades places with the one above it. Returns the position
// to select and scroll into view, or none when nothing moves (first entry or nothing
// selected); the caller focuses the list either way.
std::optional<size_t> MoveUp(WorkbookList& list, std::optional<size_t> selected);

// "Move Down": the selected entry trades places with the one below it. With entries but
// nothing selected, nothing moves and the first entry is to be selected.
std::optional<size_t> MoveDown(WorkbookList& list, std::optional<size_t> selected);

// Removes the selected entry (double-click, Delete); nothing happens without a selection.
void RemoveSelected(WorkbookList& list, std::optional<size_t> selected);

} // namespace vellumcast::worklist
