#pragma once
// Rows of a worksheet as a walk reads them, the same whether the worksheet is loaded
// whole or still loading on another thread: the rows that hold cells, ascending, each
// with its recorded cells in ascending columns, and the texts those cells store. A view:
// of a loaded worksheet it is valid until the worksheet is unloaded; of rows handed over
// while loading, for the call they are handed to.

#include "spreadsheet/Cell.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vellumcast::spreadsheet {

namespace detail {
// Cells are stored in blocks of 2^17; a view finds a cell through its block.
inline constexpr size_t kCellBlockShift = 17;
inline constexpr size_t kCellBlockSize = size_t { 1 } << kCellBlockShift;
} // namespace detail

// A row that holds cells: its number and the index of its first cell; the row's cells
// end where the next row's begin.
struct RowSpan {
    int32_t row;
    uint32_t begin;
};

class RowBatch {
public:
    RowBatch() = default; // no rows
    size_t RowCount() const { return m_rowCount; }
    int32_t RowNumber(size_t r) const { return m_rows[r].row; }
    int32_t LastRowNumber() const { return m_rows[m_rowCount - 1].row; }
    // The cells of row r are those at CellsBegin(r) up to CellsEnd(r).
    size_t CellsBegin(size_t r) const { return m_rows[r].begin; }
    size_t CellsEnd(size_t r) const { return r + 1 < m_rowCount ? m_rows[r + 1].begin : m_endCell; }
    const Cell& CellAt(size_t index) const
    {
        return m_blocks[(index >> detail::kCellBlockShift) - m_firstBlock][index & (detail::kCellBlockSize - 1)];
    }
    // The text a cell of a kind that stores its own (HoldsStoredText) stores.
    std::string_view StoredText(const Cell& cell) const
    {
        // Offsets below the shared text's size point into it, the rest into the texts.
        const size_t offset = cell.value.text.offset;
        if (offset < m_shared.size())
            return m_shared.substr(offset, cell.value.text.length);
        return m_texts.substr(offset - m_shared.size() - m_textsBase, cell.value.text.length);
    }

    // Where the cells of the last row end: how many cells the worksheet holds so far.
    size_t EndCell() const { return m_endCell; }
    // The bytes the worksheet's cells and stored texts take so far, as SheetData::StoredBytes
    // counts them.
    uint64_t StoredBytes() const { return m_endCell * sizeof(Cell) + m_textsBase + m_texts.size() - m_shownBytes; }
    // The used range as far as it is known: the reader's hint while loading (all 0 when it
    // has none), never taken as the truth; of a loaded worksheet, its used range.
    const CellRange& Expected() const { return m_expected; }
    // The share of the worksheet's bytes read so far, when known: else 0.
    double ShareRead() const { return m_shareRead; }
    // No rows follow these.
    bool EndOfSheet() const { return m_endOfSheet; }

private:
    friend class SheetData;
    friend struct FinishedRows;
    RowBatch(const RowSpan* rows, size_t rowCount, size_t endCell, const Cell* const* blocks, size_t firstBlock,
        std::string_view texts, size_t textsBase, size_t shownBytes, std::string_view shared, const CellRange& expected,
        double shareRead, bool endOfSheet)
        : m_rows(rows)
        , m_rowCount(rowCount)
        , m_endCell(endCell)
        , m_blocks(blocks)
        , m_firstBlock(firstBlock)
        , m_texts(texts)
        , m_textsBase(textsBase)
        , m_shownBytes(shownBytes)
        , m_shared(shared)
        , m_expected(expected)
        , m_shareRead(shareRead)
        , m_endOfSheet(endOfSheet)
    {
    }

    const RowSpan* m_rows = nullptr;
    size_t m_rowCount = 0;
    size_t m_endCell = 0;
    const Cell* const* m_blocks = nullptr; // the cell blocks the rows lie in, the first being m_firstBlock
    size_t m_firstBlock = 0;
    std::string_view m_texts; // the stored texts, from offset m_textsBase past the shared text
    size_t m_textsBase = 0;
    size_t m_shownBytes = 0; // of the texts up to the last row's end, those of numbers shown
    std::string_view m_shared; // text the worksheet shares with its reader
    CellRange m_expected { 0, 0, 0, 0 };
    double m_shareRead = 0;
    bool m_endOfSheet = false;
};

} // namespace vellumcast::spreadsheet
