#include "spreadsheet/SheetLayout.h"

#include <algorithm>
#include <functional>
#include <map>
#include <queue>
#include <utility>

namespace vellumcast::spreadsheet {

void IntervalSet::Add(int32_t first, int32_t last)
{
    if (!m_intervals.empty()) {
        Interval& back = m_intervals.back();
        if (first >= back.first && first <= back.last + int64_t { 1 }) {
            back.last = std::max(back.last, last);
            return;
        }
        if (first < back.first)
            m_normal = false;
    }
    m_intervals.push_back({ first, last });
}

void IntervalSet::Normalise()
{
    if (m_normal)
        return;
    std::sort(
        m_intervals.begin(), m_intervals.end(), [](const Interval& a, const Interval& b) { return a.first < b.first; });
    size_t kept = 0;
    for (size_t i = 1; i < m_intervals.size(); ++i) {
        Interval& back = m_intervals[kept];
        if (m_intervals[i].first <= back.last + int64_t { 1 })
            back.last = std::max(back.last, m_intervals[i].last);
        else
            m_intervals[++kept] = m_intervals[i];
    }
    m_intervals.resize(kept + 1);
    m_normal = true;
}

void IntervalSet::Clear()
{
    std::vector<Interval>().swap(m_intervals);
    m_normal = true;
}

bool IntervalSet::Contains(int32_t value) const
{
    const auto after = std::upper_bound(m_intervals.begin(), m_intervals.end(), value,
        [](int32_t v, const Interval& interval) { return v < interval.first; });
    return after != m_intervals.begin() && value <= std::prev(after)->last;
}

int64_t IntervalSet::CountWithin(int32_t first, int32_t last) const
{
    int64_t count = 0;
    auto it = std::upper_bound(m_intervals.begin(), m_intervals.end(), first,
        [](int32_t v, const Interval& interval) { return v < interval.first; });
    if (it != m_intervals.begin())
        --it;
    for (; it != m_intervals.end() && it->first <= last; ++it) {
        const int32_t from = std::max(first, it->first), to = std::min(last, it->last);
        if (from <= to)
            count += int64_t { to } - from + 1;
    }
    return count;
}

namespace {

// The part of first..last inside 1..limit; false when none is.
bool ClipToGrid(int64_t& first, int64_t& last, int32_t limit)
{
    first = std::max<int64_t>(first, 1);
    last = std::min<int64_t>(last, limit);
    return first <= last;
}

} // namespace

void SheetLayout::AddMerge(CellRange area)
{
    int64_t firstRow = std::min(area.firstRow, area.lastRow), lastRow = std::max(area.firstRow, area.lastRow);
    int64_t firstColumn = std::min(area.firstColumn, area.lastColumn);
    int64_t lastColumn = std::max(area.firstColumn, area.lastColumn);
    if (!ClipToGrid(firstRow, lastRow, kMaxRows) || !ClipToGrid(firstColumn, lastColumn, kMaxColumns))
        return;
    if (firstRow == lastRow && firstColumn == lastColumn)
        return;
    RequireRoom(sizeof(CellRange));
    if (m_merges.size() == m_merges.capacity()) // doubled, but within the limit
        m_merges.reserve(std::max<uint64_t>(
            m_merges.size() + 1, std::min<uint64_t>(2 * m_merges.size() + 64, m_memoryLimit / sizeof(CellRange))));
    m_merges.push_back({ static_cast<int32_t>(firstRow), static_cast<int32_t>(firstColumn),
        static_cast<int32_t>(lastRow), static_cast<int32_t>(lastColumn) });
}

void SheetLayout::HideRows(int64_t first, int64_t last)
{
    if (!ClipToGrid(first, last, kMaxRows))
        return;
    const size_t before = m_hiddenRows.Intervals().size();
    m_hiddenRows.Add(static_cast<int32_t>(first), static_cast<int32_t>(last));
    if (m_hiddenRows.Intervals().size() != before)
        RequireRoom(sizeof(IntervalSet::Interval));
}

void SheetLayout::HideColumns(int64_t first, int64_t last)
{
    if (!ClipToGrid(first, last, kMaxColumns))
        return;
    const size_t before = m_hiddenColumns.Intervals().size();
    m_hiddenColumns.Add(static_cast<int32_t>(first), static_cast<int32_t>(last));
    if (m_hiddenColumns.Intervals().size() != before)
        RequireRoom(sizeof(IntervalSet::Interval));
}

void SheetLayout::RequireRoom(size_t bytes)
{
    m_bytes += bytes;
    if (m_bytes > m_memoryLimit)
        throw SpreadsheetError(ErrorCode::TooLarge,
            "the worksheet records more merged areas and hidden rows and columns than the reader accepts");
}

void SheetLayout::Finish()
{
    m_hiddenRows.Normalise();
    m_hiddenColumns.Normalise();
    DropOverlappingMerges();
}

// A sweep down the rows: the areas kept that reach the first row of the next one are
// active, and as they share that row their columns are disjoint, so one ordered lookup
// by column tells whether the next area overlaps any of them.
void SheetLayout::DropOverlappingMerges()
{
    std::sort(m_merges.begin(), m_merges.end(), [](const CellRange& a, const CellRange& b) {
        return std::pair(a.firstRow, a.firstColumn) < std::pair(b.firstRow, b.firstColumn);
    });
    std::map<int32_t, int32_t> activeColumns; // first column → last column
    using Ending = std::pair<int32_t, int32_t>; // last row, first column
    std::priority_queue<Ending, std::vector<Ending>, std::greater<>> endings;
    size_t kept = 0;
    for (const CellRange& area : m_merges) {
        while (!endings.empty() && endings.top().first < area.firstRow) {
            activeColumns.erase(endings.top().second);
            endings.pop();
        }
        auto after = activeColumns.upper_bound(area.lastColumn);
        if (after != activeColumns.begin() && std::prev(after)->second >= area.firstColumn)
            continue;
        activeColumns.emplace(area.firstColumn, area.lastColumn);
        endings.emplace(area.lastRow, area.firstColumn);
        m_merges[kept++] = area;
    }
    m_merges.resize(kept);
}

void SheetLayout::Clear()
{
    std::vector<CellRange>().swap(m_merges);
    m_hiddenRows.Clear();
    m_hiddenColumns.Clear();
    m_bytes = 0;
}

} // namespace vellumcast::spreadsheet
