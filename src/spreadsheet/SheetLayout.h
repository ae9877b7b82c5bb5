#pragma once
// How a worksheet is laid out beyond its cells: the areas merged into one cell and the
// rows and columns the workbook hides. Readers record what they meet, in any order and
// as the file gives it; Finish puts it in order and in the grid, and only then does it
// answer questions.

#include "spreadsheet/Cell.h"
#include "spreadsheet/SpreadsheetError.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vellumcast::spreadsheet {

// Whole numbers held as sorted, disjoint, non-adjacent closed intervals. Added in
// ascending order (as files list rows and columns) they join their neighbour at once;
// anything else is sorted and joined by Normalise, so that a file hiding a million
// separate rows in any order costs O(n log n), never a search per row.
class IntervalSet {
public:
    struct Interval {
        int32_t first;
        int32_t last;
    };

    // first..last, first <= last.
    void Add(int32_t first, int32_t last);
    void Normalise();
    void Clear();

    // After Normalise.
    bool Contains(int32_t value) const;
    // How many values of first..last the set holds.
    int64_t CountWithin(int32_t first, int32_t last) const;
    const std::vector<Interval>& Intervals() const { return m_intervals; }
    bool Empty() const { return m_intervals.empty(); }

private:
    std::vector<Interval> m_intervals;
    bool m_normal = true;
};

// The most memory one worksheet's merged areas and hidden rows and columns may take in a
// workbook of fileSize bytes. A merge takes 16 bytes here and some 20 bytes of even a
// well compressed file, whose areas differ; a million of them fit in any workbook, and
// one more per byte of a larger one. Hidden rows and columns are bounded by the grid.
inline uint64_t LayoutMemoryLimit(uint64_t fileSize)
{
    return (uint64_t { 16 } << 20) + 16 * fileSize;
}

class SheetLayout {
public:
    // An area as the file gives it: corners in either order, reaching past the grid.
    // What lies outside the grid is left out, and an area that is a single cell there is
    // no merge. Throws TooLarge past the memory limit.
    void AddMerge(CellRange area);
    // Rows or columns first..last (1-based) hidden; the part outside the grid is left
    // out, and first > last hides nothing. Throws TooLarge past the memory limit.
    void HideRows(int64_t first, int64_t last);
    void HideColumns(int64_t first, int64_t last);

    // Refuses, as SpreadsheetError(TooLarge), entries that would take more than bytes;
    // the merged areas' store grows no further than that.
    void LimitMemory(uint64_t bytes) { m_memoryLimit = bytes; }

    // Sorts and joins the hidden rows and columns, sorts the merged areas by first row
    // then first column, and drops every area that overlaps one before it in that order
    // (no application writes overlapping merges; a damaged or crafted file may).
    void Finish();
    void Clear();

    // After Finish.
    const std::vector<CellRange>& MergedAreas() const { return m_merges; }
    const IntervalSet& HiddenRows() const { return m_hiddenRows; }
    const IntervalSet& HiddenColumns() const { return m_hiddenColumns; }

private:
    void RequireRoom(size_t bytes);
    void DropOverlappingMerges();

    std::vector<CellRange> m_merges;
    IntervalSet m_hiddenRows;
    IntervalSet m_hiddenColumns;
    uint64_t m_memoryLimit = UINT64_MAX;
    uint64_t m_bytes = 0;
};

} // namespace vellumcast::spreadsheet
