#pragma once
// The compact form of one loaded worksheet: its recorded cells in row-major order
// (16 bytes each), a directory of the rows that hold cells, and a pool for the texts of
// strings the sheet stores itself. Readers fill it through SheetBuilder.

#include "core/HugePages.h"
#include "spreadsheet/Cell.h"
#include "spreadsheet/RowBatch.h"
#include "spreadsheet/SpreadsheetError.h"
#include "spreadsheet/formula/FormulaCells.h"
#include "spreadsheet/numfmt/NumberFormat.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vellumcast::spreadsheet {

// The most memory one worksheet of a workbook of fileSize bytes may take for its cells
// (16 bytes each) and the texts it stores. A recorded cell takes a byte or more of even
// a compressed file and its text is there too, so real workbooks stay far below 64 bytes
// per byte; the floor (6 Mi cells' worth) lets any small workbook through. It bounds
// what a crafted file of a few kilobytes can claim: cells that record only their place,
// or a few bytes that expand to thousands of spaces each.
inline uint64_t SheetMemoryLimit(uint64_t fileSize)
{
    return (uint64_t { 96 } << 20) + 64 * fileSize;
}

class SheetLayout;

// Cells in blocks of 128 Ki (2 MiB, one huge page each): growing never moves what is
// already stored, so a load of millions of cells has no long copy in it and no doubling
// of its peak memory, and filling a block costs one page fault rather than 512.
class CellStore {
public:
    static constexpr size_t kBlockShift = detail::kCellBlockShift;
    static constexpr size_t kBlockSize = detail::kCellBlockSize;

    CellStore() = default;
    CellStore(CellStore&& other) noexcept { swap(other); }
    CellStore& operator=(CellStore&& other) noexcept
    {
        if (this != &other) {
            clear();
            swap(other);
        }
        return *this;
    }
    ~CellStore() { clear(); }

    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    const Cell& operator[](size_t index) const { return Block(index >> kBlockShift)[index & (kBlockSize - 1)]; }
    Cell& operator[](size_t index) { return Block(index >> kBlockShift)[index & (kBlockSize - 1)]; }
    Cell& emplace_back()
    {
        if (m_tail == m_tailEnd)
            AddBlock();
        ++m_size;
        return *new (m_tail++) Cell;
    }
    // Where the next cell goes when the last block has room for it (nullptr before the
    // first block), and how many more it has room for.
    const Cell* Tail() const { return m_tail; }
    size_t RoomInBlock() const { return static_cast<size_t>(m_tailEnd - m_tail); }
    // emplace_back for a cell the last block has room for.
    Cell& EmplaceInBlock()
    {
        ++m_size;
        return *new (m_tail++) Cell;
    }
    void reserve(size_t cells)
    {
        m_blocks.reserve((cells + kBlockSize - 1) >> kBlockShift);
        m_table.reserve(m_blocks.capacity());
    }
    // Where each block lies, for views that find a cell through its block.
    const Cell* const* BlockTable() const { return m_table.data(); }
    void clear()
    {
        for (Storage& block : m_blocks)
            Recycle(std::move(block));
        for (Storage& block : m_spares)
            Recycle(std::move(block));
        m_blocks.clear();
        m_blocks.shrink_to_fit();
        m_table.clear();
        m_table.shrink_to_fit();
        m_spares.clear();
        m_released = 0;
        m_many = false;
        m_size = 0;
        m_tail = m_tailEnd = nullptr;
    }
    void swap(CellStore& other) noexcept
    {
        m_blocks.swap(other.m_blocks);
        m_table.swap(other.m_table);
        m_spares.swap(other.m_spares);
        std::swap(m_released, other.m_released);
        std::swap(m_many, other.m_many);
        std::swap(m_size, other.m_size);
        std::swap(m_tail, other.m_tail);
        std::swap(m_tailEnd, other.m_tailEnd);
    }

    // Lets go of the blocks wholly before cell `end`, which must never be read again;
    // later cells go into them, so a sheet read through once it is loaded holds a few
    // blocks however long it is.
    void ReleaseBefore(size_t end)
    {
        for (; m_released < (end >> kBlockShift); ++m_released)
            m_spares.push_back(std::move(m_blocks[m_released]));
    }
    bool Released() const { return m_released > 0; }
    // More cells than a block holds are on their way: the first block takes huge pages
    // too, rather than being touched page by page.
    void ExpectMany() { m_many = true; }

private:
    using Storage = std::unique_ptr<void, core::FreeAligned>;
    Cell* Block(size_t block) const { return static_cast<Cell*>(m_blocks[block].get()); }
    // A block after the last, where the next cells go.
    void AddBlock();
    Storage NewBlock()
    {
        if (m_spares.empty())
            return Recycled(m_many || !m_blocks.empty());
        Storage block = std::move(m_spares.back());
        m_spares.pop_back();
        return block;
    }
    // Blocks worksheets let go of are kept, a few, for the next ones: exporting many small
    // workbooks would otherwise map, fault in and unmap a fresh block for each worksheet.
    static void Recycle(Storage block);
    // A kept block, or a new one. Most worksheets fit in their first block with room to
    // spare: it takes pages as they are touched; the blocks of large ones take huge pages.
    static Storage Recycled(bool hugePages);

    std::vector<Storage> m_blocks;
    std::vector<const Cell*> m_table; // m_blocks' cells
    std::vector<Storage> m_spares;
    size_t m_released = 0; // blocks let go of, from the first
    bool m_many = false;
    size_t m_size = 0;
    Cell* m_tail = nullptr; // where the next cell goes, in the last block
    Cell* m_tailEnd = nullptr; // the last block's end
};

class SheetData {
public:
    using RowSpan = spreadsheet::RowSpan;

    // The bounding box of every recorded cell, or A1 when there is none.
    CellRange UsedRange() const { return m_range; }
    bool HasCells() const { return !m_cells.empty(); }

    // The recorded cell at (row, column), or nullptr.
    const Cell* Find(int32_t row, int32_t column) const;

    std::string_view TextOf(const Cell& cell) const
    {
        // Offsets below the shared text's size point into it, the rest into the pool.
        const size_t offset = cell.value.text.offset;
        if (offset < m_shared.size())
            return m_shared.substr(offset, cell.value.text.length);
        return std::string_view(m_pool).substr(offset - m_shared.size() - m_poolDropped, cell.value.text.length);
    }

    size_t CellCount() const { return m_cells.size(); }
    // The bytes its cells and stored texts take, as the sheet's limit counts them: the
    // texts of numbers shown while loading (ShownBytes) stand for the values the cells
    // would hold, and are not counted.
    size_t StoredBytes() const { return m_cells.size() * sizeof(Cell) + m_poolDropped + m_pool.size() - m_shownBytes; }
    // The bytes of the texts of numbers shown while loading (SheetBuilder::ShowNumbers).
    size_t ShownBytes() const { return m_shownBytes; }
    // Whether the cells were loaded with numbers shown as text: they are then to be read
    // only as displayed texts.
    bool NumbersShown() const { return m_numbersShown; }
    void Clear();

    // Whether the cells were let go of as they were read while loading: the used range
    // and the count stand, the cells must be loaded again to be read.
    bool ReadThrough() const { return m_cells.Released(); }

    // For walks over the recorded cells only: the rows that hold cells, ascending, and
    // the cells in row-major order (a row's cells end where the next row's begin).
    const std::vector<RowSpan>& Rows() const { return m_rows; }
    const Cell& CellAt(size_t index) const { return m_cells[index]; }
    // Every row, as walks read them; valid as long as the cells are.
    RowBatch AllRows() const;

    // The formulas the file holds no value for (each cell recorded blank and marked,
    // formula::FormulaMarkOf), and the shared formulas they may take their bodies from.
    const formula::SheetFormulas& Formulas() const { return m_formulas; }
    // For the computed values of those formulas: a cell to change in place, and a text
    // stored in the pool for a cell to locate.
    Cell* FindToChange(int32_t row, int32_t column) { return const_cast<Cell*>(Find(row, column)); }
    Cell::Text StoreText(std::string_view text);

private:
    friend class SheetBuilder;
    CellStore m_cells;
    std::vector<RowSpan> m_rows;
    std::string m_pool;
    formula::SheetFormulas m_formulas;
    size_t m_poolDropped = 0; // texts before the pool, let go of as their rows were read
    size_t m_shownBytes = 0; // of the pool's texts and those let go of, numbers shown
    bool m_numbersShown = false;
    // Text the sheet's cells share with their reader instead of copying it to the pool,
    // kept alive by its owner.
    std::shared_ptr<const void> m_sharedOwner;
    std::string_view m_shared;
    CellRange m_range;
    mutable size_t m_lastRowIndex = 0; // sequential walks find the next row at once
    mutable size_t m_lastCellIndex = SIZE_MAX; // and the next cell of a row
};

// Rows a builder has completed while its load goes on: what a reader on another thread
// needs to read their cells while later rows are still being added. Cell indices are
// the worksheet's own.
struct FinishedRows {
    std::vector<RowSpan> rows;
    size_t endCell = 0; // where the last row's cells end
    std::vector<const Cell*> blocks; // the cell blocks they lie in, the first being firstBlock
    size_t firstBlock = 0;
    std::string texts; // the stored texts of their String cells, from pool offset textsBase
    size_t textsBase = 0;
    size_t shownBytes = 0; // of the texts up to the end of these, those of numbers shown
    std::string_view shared; // the text the sheet shares with its reader, alive as the sheet
    CellRange expected { 0, 0, 0, 0 }; // the reader's hint of the used range; all 0 when none
    double shareRead = 0; // of the bytes the worksheet is read from, when known: else 0
    bool endOfSheet = false; // the load is complete: no rows follow

    // The rows as walks read them, valid as long as this batch.
    RowBatch View() const;
};

// Collects the cells of one worksheet. Cells may arrive in any order; rows in ascending
// order with ascending columns is the fast path. A cell given twice keeps the last value.
// Coordinates outside the sheet limits are SpreadsheetError(Corrupt).
class SheetBuilder {
public:
    // How many cells apart yield runs.
    static constexpr size_t kYieldEvery = 4096;

    // yield runs every few thousand cells so that a long load keeps the windows alive.
    explicit SheetBuilder(SheetData& into, std::function<void()> yield = {});

    void AddNumber(int32_t row, int32_t column, double value, uint32_t style)
    {
        if (style < m_shownFormats.size())
            return AddShownNumber(row, column, value, style);
        Add(row, column, CellKind::Number, style).value.number = value;
    }
    void AddSharedString(int32_t row, int32_t column, uint32_t index, uint32_t style)
    {
        Add(row, column, CellKind::SharedString, style).value.index = index;
    }
    void AddString(int32_t row, int32_t column, std::string_view text, uint32_t style);
    // A TextWithValue or TextWithDate cell: text as displayed, value's raw text beside it.
    void AddTextWithValue(int32_t row, int32_t column, std::string_view text, std::string_view value, bool date);
    void AddBoolean(int32_t row, int32_t column, bool value, uint32_t style)
    {
        Add(row, column, CellKind::Boolean, style).value.number = value ? 1 : 0;
    }
    void AddError(int32_t row, int32_t column, CellError error, uint32_t style)
    {
        Add(row, column, CellKind::Error, style).errorCode = error;
    }
    void AddBlank(int32_t row, int32_t column, uint32_t style) { Add(row, column, CellKind::Blank, style); }

    // A formula whose cell the file holds no value for: the cell is recorded blank in its
    // style, and the formula's body (text or tokens, as its grammar writes it) kept for
    // the engine to compute. Formulas with values are not given.
    void AddFormula(int32_t row, int32_t column, uint32_t style, formula::FormulaGrammar grammar, std::string_view body,
        bool array = false);
    // A cell of an Office Open XML shared formula with no value: it takes the body of the
    // shared formula of that index (si).
    void AddSharedFormulaCell(int32_t row, int32_t column, uint32_t style, uint32_t sharedIndex);
    // A formula written once for a range of cells, given whether its cells have values or
    // not: a cell without one may take its body.
    void AddSharedFormula(const formula::SharedFormula& shared, std::string_view body);
    // Whether a formula without a value was given: rows handed over while loading stop
    // there, when formulas are computed. Asked on the loading thread.
    bool HasFormulas() const { return !m_data.m_formulas.cells.empty() && !m_captureEvery; }
    // For checking the engine against the values the application saved: readers then also
    // give the formulas of cells that have values (AddValuedFormula), which stay as they are.
    void CaptureEveryFormula() { m_captureEvery = true; }
    bool CapturesEveryFormula() const { return m_captureEvery; }
    void AddValuedFormula(int32_t row, int32_t column, formula::FormulaGrammar grammar, std::string_view body,
        uint32_t sharedIndex = formula::kNotShared);
    // A load for formulas to read: cells recorded as displayed text (OpenDocument) keep
    // their values beside it, whatever the reader was told.
    void KeepValuesForFormulas() { m_valuesForFormulas = true; }
    bool ValuesForFormulas() const { return m_valuesForFormulas; }

    // Lets string cells point into text the reader already holds (a delimited-text file's
    // own bytes) instead of copying it into the pool; owner keeps that text alive as long
    // as the sheet. Given before any cell.
    void ShareText(std::shared_ptr<const void> owner, std::string_view text);
    // A string cell whose text lies in the shared text, which it must be a part of.
    void AddSharedText(int32_t row, int32_t column, std::string_view text, uint32_t style);

    // A hint from a reader that knows the size ahead: room for this many cells and bytes
    // of text, so the sheet is not copied while it grows.
    void Reserve(size_t cells, size_t textBytes)
    {
        m_data.m_cells.reserve(cells);
        m_data.m_pool.reserve(textBytes);
    }

    // Shows numbers as text while they load, for a load whose cells are read only as
    // displayed texts: a number whose style is below formats.size() becomes a
    // DisplayedNumber holding what formats[style] displays of it in the date system, the
    // text TextOf would give; the rest stay numbers. The formats must be parsed and stay
    // unchanged while the load lasts, which may run on another thread. Given before any cell.
    void ShowNumbers(std::span<const numfmt::NumberFormat* const> formats, numfmt::DateSystem system)
    {
        m_formatsToShow = formats;
        m_shownFormats = formats;
        m_dateSystem = system;
        m_data.m_numbersShown = !formats.empty();
    }
    // Whether the numbers added from now on are shown, once ShowNumbers was given: a load
    // may turn it off and on as it goes, on its own thread, with no difference in the
    // texts they give.
    void ShowingNumbers(bool on) { m_shownFormats = on ? m_formatsToShow : decltype(m_formatsToShow) {}; }

    // Refuses, as SpreadsheetError(TooLarge), a cell or text that would take the
    // sheet's StoredBytes past this, cells out of order counting what sorting them
    // takes. The texts of numbers shown are bounded apart, by as much again: past it
    // numbers stay numbers.
    void LimitMemory(uint64_t bytes)
    {
        m_memoryLimit = bytes;
        m_roomEnd = m_data.m_cells.Tail();
    }

    // Hands rows to publish (on the loading thread) as they complete, a batch every few
    // thousand cells, for as long as cells arrive in order and publish returns true.
    // spare, when given, gives batches the reader is done with, whose buffers are filled
    // again rather than allocated anew.
    void PublishTo(std::function<bool(FinishedRows&&)> publish, std::function<FinishedRows()> spare = {})
    {
        m_publish = std::move(publish);
        m_spare = std::move(spare);
    }
    // Whether rows are handed over as they complete (PublishTo): another thread reads
    // them while this one loads.
    bool HandsOverRows() const { return static_cast<bool>(m_publish); }
    // A reader's hint, from the file, of the used range to come: a guide for progress and
    // for the columns of rows composed while loading, never taken as the truth.
    void ExpectRange(const CellRange& range)
    {
        m_expected = range;
        const auto span = [](int32_t first, int32_t last) { return last >= first ? uint64_t(last - first) + 1 : 0; };
        if (span(range.firstRow, range.lastRow) * span(range.firstColumn, range.lastColumn) > CellStore::kBlockSize)
            m_data.m_cells.ExpectMany();
    }
    // Where the share of the worksheet loaded so far (0 to 1) is told, as often as yield
    // runs, while the reader's hints (ExpectRange, NoteRead) say how much is to come; none
    // by default. report must outlive the load.
    void ReportShareTo(const std::function<void(double)>* report) { m_reportShare = report; }
    // A reader's word on how far it has read, for one that cannot tell the used range
    // ahead: the rows handed over carry it, a guide to how many are still to come.
    void NoteRead(uint64_t bytes, uint64_t total)
    {
        m_shareRead = total == 0 ? 0 : static_cast<double>(std::min(bytes, total)) / static_cast<double>(total);
    }
    // Where the reader records the merged areas and the hidden rows and columns it
    // meets; nullptr when the load has no use for them.
    SheetLayout* Layout() const { return m_layout; }
    void RecordLayoutIn(SheetLayout* layout) { m_layout = layout; }
    // Publishes the rows not yet handed over, the last one too: the load is complete.
    void PublishRest();
    // Whether every cell came in row-major order, each once: then the published rows are
    // the whole worksheet as Finish leaves it.
    bool InOrder() const { return m_ordered; }
    // Called on any thread by the reader of published rows: it is done with the cells
    // before `end`. The loading thread then reuses their memory for later cells, and the
    // worksheet ends up read through (SheetData::ReadThrough) unless cells came out of
    // order before any was let go of.
    void DoneWith(size_t end) { m_doneWith.store(end, std::memory_order_release); }

    // Sorts what came out of order, drops duplicates and computes the used range.
    void Finish();

private:
    void Publish(size_t rowEnd, size_t cellEnd, size_t poolEnd, size_t shownEnd, bool endOfSheet = false);
    void AddShownNumber(int32_t row, int32_t column, double value, uint32_t style);
    void DropPublished();
    // Where the next stored text goes, counting the texts let go of.
    size_t PoolEnd() const { return m_data.m_poolDropped + m_data.m_pool.size(); }
    // The place of a new cell, its value zero. Most cells follow the last one in its row
    // or start the next row: while the room counted for cells in order lasts, they need
    // none of AddAnyCell's work.
    Cell& Add(int32_t row, int32_t column, CellKind kind, uint32_t style)
    {
        if (m_data.m_cells.Tail() != m_roomEnd && column <= kMaxColumns
            && (row == m_lastRow ? column > m_lastColumn : StartRowInRoom(row, column))) {
            m_lastColumn = column;
            Cell& cell = m_data.m_cells.EmplaceInBlock();
            cell.value.number = 0;
            cell.style = style;
            cell.column = static_cast<uint16_t>(column);
            cell.kind = kind;
            return cell;
        }
        return AddAnyCell(row, column, kind, style);
    }
    // Add for any cell: checks its place and the memory, yields and publishes on time,
    // keeps the rows, then counts the room for the cells in order after it.
    Cell& AddAnyCell(int32_t row, int32_t column, CellKind kind, uint32_t style);
    // Starts the row of a cell in room for cells in order, or false when the cell comes
    // out of order, lies outside the sheet or the rows must grow: AddAnyCell's work then.
    bool StartRowInRoom(int32_t row, int32_t column);
    void RequireRoom(size_t textBytes) const;
    // How much of the worksheet is loaded, as the reader's hints tell; below 0 when they
    // tell nothing.
    double ShareLoaded() const;
    // Takes from the room for cells in order what a stored text of this size uses up.
    void UseRoomForText(size_t textBytes)
    {
        m_roomEnd -= std::min<size_t>(m_roomEnd - m_data.m_cells.Tail(), (textBytes + sizeof(Cell) - 1) / sizeof(Cell));
    }

    SheetData& m_data;
    std::function<void()> m_yield;
    const std::function<void(double)>* m_reportShare = nullptr;
    int32_t m_lastRow = 0;
    int32_t m_lastColumn = 0;
    bool m_ordered = true;
    size_t m_repeated = 0; // cells given again in the place of the one before
    size_t m_yieldAt = kYieldEvery - 1; // the index of the cell before which yield runs next
    // Where in the last block cells in order may be added without AddAnyCell: none past
    // the next yield, the memory limit or the block's end; none once cells came out of
    // order (then it is the block's tail).
    const Cell* m_roomEnd = nullptr;
    uint64_t m_memoryLimit = UINT64_MAX;
    std::vector<int32_t> m_rowOfCell; // only filled once cells arrive out of order
    std::function<bool(FinishedRows&&)> m_publish;
    std::function<FinishedRows()> m_spare;
    size_t m_publishedRows = 0; // of the rows held
    int32_t m_firstRow = 0; // once rows were let go of: the first's number
    size_t m_publishedPool = 0;
    size_t m_poolAtRowStart = 0; // the pool's size when the last row began
    size_t m_shownAtRowStart = 0; // and the bytes of numbers shown by then
    std::span<const numfmt::NumberFormat* const> m_formatsToShow; // ShowNumbers'
    std::span<const numfmt::NumberFormat* const> m_shownFormats; // those, or none while not showing
    numfmt::DateSystem m_dateSystem = numfmt::DateSystem::Date1900;
    CellRange m_expected { 0, 0, 0, 0 };
    double m_shareRead = 0;
    std::atomic<size_t> m_doneWith { 0 };
    int32_t m_firstColumn = kMaxColumns; // of the cells added in order
    int32_t m_lastColumnSeen = 1;
    SheetLayout* m_layout = nullptr;
    bool m_valuesForFormulas = false;
    bool m_captureEvery = false;
};

} // namespace vellumcast::spreadsheet
