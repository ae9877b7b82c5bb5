#include "spreadsheet/SheetData.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <numeric>

namespace vellumcast::spreadsheet {

namespace {
// Cells a published batch holds at least: enough that handing it over costs little.
constexpr size_t kPublishCells = 16384;

constexpr std::array<std::string_view, 8> kErrorTexts = {
    "#NULL!",
    "#DIV/0!",
    "#VALUE!",
    "#REF!",
    "#NAME?",
    "#NUM!",
    "#N/A",
    "#GETTING_DATA",
};
} // namespace

std::string_view CellErrorText(CellError error)
{
    const auto index = static_cast<size_t>(error);
    return index < kErrorTexts.size() ? kErrorTexts[index] : kErrorTexts[0];
}

bool CellErrorFromText(std::string_view text, CellError& error)
{
    for (size_t i = 0; i < kErrorTexts.size(); ++i) {
        if (kErrorTexts[i] == text) {
            error = static_cast<CellError>(i);
            return true;
        }
    }
    return false;
}

std::optional<CellError> CellErrorOfCode(uint8_t code)
{
    switch (code) {
    case 0x00:
        return CellError::Null;
    case 0x07:
        return CellError::Div0;
    case 0x0F:
        return CellError::Value;
    case 0x17:
        return CellError::Ref;
    case 0x1D:
        return CellError::Name;
    case 0x24:
        return CellError::Num;
    case 0x2A:
        return CellError::NA;
    case 0x2B:
        return CellError::GettingData;
    default:
        return std::nullopt;
    }
}

RowBatch SheetData::AllRows() const
{
    return RowBatch(m_rows.data(), m_rows.size(), m_cells.size(), m_cells.BlockTable(), 0, m_pool, m_poolDropped,
        m_shownBytes, m_shared, m_range, 1, true);
}

RowBatch FinishedRows::View() const
{
    return RowBatch(rows.data(), rows.size(), endCell, blocks.data(), firstBlock, texts, textsBase, shownBytes, shared,
        expected, shareRead, endOfSheet);
}

const Cell* SheetData::Find(int32_t row, int32_t column) const
{
    if (m_rows.empty())
        return nullptr;
    size_t index = m_lastRowIndex;
    if (index >= m_rows.size() || m_rows[index].row != row) {
        // Sequential walks ask for the next row; anything else searches.
        if (index + 1 < m_rows.size() && m_rows[index + 1].row == row) {
            ++index;
        } else {
            auto it = std::lower_bound(
                m_rows.begin(), m_rows.end(), row, [](const RowSpan& span, int32_t r) { return span.row < r; });
            if (it == m_rows.end() || it->row != row)
                return nullptr;
            index = static_cast<size_t>(it - m_rows.begin());
        }
        m_lastRowIndex = index;
    }
    size_t low = m_rows[index].begin;
    const size_t end = index + 1 < m_rows.size() ? m_rows[index + 1].begin : m_cells.size();
    // A walk along the row asks for the cell after the last one found.
    const size_t next = m_lastCellIndex + 1;
    if (next >= low && next < end && m_cells[next].column == column) {
        m_lastCellIndex = next;
        return &m_cells[next];
    }
    size_t high = end;
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (m_cells[middle].column < column)
            low = middle + 1;
        else
            high = middle;
    }
    if (low == end || m_cells[low].column != column)
        return nullptr;
    m_lastCellIndex = low;
    return &m_cells[low];
}

namespace {

struct BlockCache {
    static constexpr size_t kKept = 2;
    std::mutex mutex;
    std::vector<std::unique_ptr<void, core::FreeAligned>> blocks;
};

// Never destroyed: worksheets may outlive other statics.
BlockCache& Cache()
{
    static auto* cache = new BlockCache;
    return *cache;
}

} // namespace

void CellStore::AddBlock()
{
    m_blocks.push_back(NewBlock());
    m_tail = Block(m_blocks.size() - 1);
    m_tailEnd = m_tail + kBlockSize;
    m_table.push_back(m_tail);
}

void CellStore::Recycle(Storage block)
{
    if (!block)
        return;
    BlockCache& cache = Cache();
    const std::lock_guard lock(cache.mutex);
    if (cache.blocks.size() < BlockCache::kKept)
        cache.blocks.push_back(std::move(block));
}

CellStore::Storage CellStore::Recycled(bool hugePages)
{
    constexpr size_t kBytes = kBlockSize * sizeof(Cell);
    BlockCache& cache = Cache();
    {
        const std::lock_guard lock(cache.mutex);
        if (!cache.blocks.empty()) {
            Storage block = std::move(cache.blocks.back());
            cache.blocks.pop_back();
            if (hugePages)
                core::AdviseHugePages(block.get(), kBytes);
            return block;
        }
    }
    return core::AllocateHugePageAligned(kBytes, hugePages);
}

void SheetData::Clear()
{
    m_cells.clear();
    std::vector<RowSpan>().swap(m_rows);
    std::string().swap(m_pool);
    m_poolDropped = 0;
    m_shownBytes = 0;
    m_numbersShown = false;
    m_sharedOwner.reset();
    m_shared = {};
    m_range = CellRange {};
    m_lastRowIndex = 0;
    m_formulas.Clear();
}

Cell::Text SheetData::StoreText(std::string_view text)
{
    const size_t offset = m_shared.size() + m_poolDropped + m_pool.size();
    if (offset + text.size() > UINT32_MAX)
        throw SpreadsheetError(ErrorCode::TooLarge, "the worksheet holds more than 4 GiB of text");
    m_pool.append(text);
    return { static_cast<uint32_t>(offset), static_cast<uint32_t>(text.size()) };
}

SheetBuilder::SheetBuilder(SheetData& into, std::function<void()> yield)
    : m_data(into)
    , m_yield(std::move(yield))
{
    m_data.Clear();
}

double SheetBuilder::ShareLoaded() const
{
    if (m_shareRead > 0)
        return m_shareRead;
    const CellRange& expected = m_expected;
    if (expected.firstRow < 1 || expected.lastRow < expected.firstRow || m_lastRow < expected.firstRow)
        return -1;
    const double rows = static_cast<double>(expected.lastRow - expected.firstRow) + 1;
    return std::min(1.0, static_cast<double>(m_lastRow - expected.firstRow + 1) / rows);
}

Cell& SheetBuilder::AddAnyCell(int32_t row, int32_t column, CellKind kind, uint32_t style)
{
    if (row < 1 || row > kMaxRows || column < 1 || column > kMaxColumns)
        throw SpreadsheetError(ErrorCode::Corrupt,
            "a cell lies outside the worksheet (row " + std::to_string(row) + ", column " + std::to_string(column)
                + ")");
    if (m_ordered && row == m_lastRow && column == m_lastColumn && !m_data.m_cells.empty()) {
        // The same cell again (a crafted file repeats one millions of times): the last
        // value stands, in the cell's place.
        if (++m_repeated % kYieldEvery == 0 && m_yield)
            m_yield();
        Cell& cell = m_data.m_cells[m_data.m_cells.size() - 1];
        cell.kind = kind;
        cell.style = style;
        cell.value.number = 0;
        return cell;
    }
    RequireRoom(0);
    if (m_data.m_cells.size() >= m_yieldAt) {
        m_yieldAt = m_data.m_cells.size() + kYieldEvery;
        if (m_yield)
            m_yield();
        if (m_reportShare && *m_reportShare) {
            if (const double share = ShareLoaded(); share >= 0)
                (*m_reportShare)(share);
        }
        // The rows before the current one are complete while cells come in order.
        if (m_publish && m_ordered) {
            if (m_data.m_rows.size() > m_publishedRows + 1
                && m_data.m_cells.size() - m_data.m_rows[m_publishedRows].begin >= kPublishCells)
                Publish(m_data.m_rows.size() - 1, m_data.m_rows.back().begin, m_poolAtRowStart, m_shownAtRowStart);
            m_data.m_cells.ReleaseBefore(m_doneWith.load(std::memory_order_acquire));
            if (m_data.m_cells.Released())
                DropPublished();
        }
    }
    if (m_ordered) {
        if (row > m_lastRow) {
            m_poolAtRowStart = PoolEnd();
            m_shownAtRowStart = m_data.m_shownBytes;
            auto& rows = m_data.m_rows;
            if (rows.size() == rows.capacity()) {
                rows.reserve(std::max<size_t>(rows.capacity() * 2, 4096));
                core::AdviseHugePages(rows.data(), rows.capacity() * sizeof(SheetData::RowSpan));
            }
            rows.push_back({ row, static_cast<uint32_t>(m_data.m_cells.size()) });
        } else if (row < m_lastRow || column <= m_lastColumn) {
            // Out of order from here on: remember every cell's row and sort at the end.
            m_ordered = false;
            m_rowOfCell.reserve(m_data.m_cells.size() + 1);
            for (size_t r = 0; r < m_data.m_rows.size(); ++r) {
                const size_t end = r + 1 < m_data.m_rows.size() ? m_data.m_rows[r + 1].begin : m_data.m_cells.size();
                m_rowOfCell.resize(end, m_data.m_rows[r].row);
            }
        }
    }
    if (!m_ordered)
        m_rowOfCell.push_back(row);
    // The cells added in order since the last call here lie between the last one seen here
    // and m_lastColumn, in one row.
    m_lastColumnSeen = std::max({ m_lastColumnSeen, m_lastColumn, column });
    m_firstColumn = std::min(m_firstColumn, column);
    m_lastRow = row;
    m_lastColumn = column;
    Cell& cell = m_data.m_cells.emplace_back();
    cell.column = static_cast<uint16_t>(column);
    cell.kind = kind;
    cell.style = style;
    cell.value.number = 0;
    m_roomEnd = m_data.m_cells.Tail();
    if (m_ordered) {
        const uint64_t stored = m_data.StoredBytes();
        const uint64_t memoryRoom = stored < m_memoryLimit ? (m_memoryLimit - stored) / sizeof(Cell) : 0;
        m_roomEnd
            += std::min<uint64_t>({ m_yieldAt - m_data.m_cells.size(), memoryRoom, m_data.m_cells.RoomInBlock() });
    }
    return cell;
}

bool SheetBuilder::StartRowInRoom(int32_t row, int32_t column)
{
    auto& rows = m_data.m_rows;
    if (row < m_lastRow || row > kMaxRows || column < 1 || rows.size() == rows.capacity())
        return false;
    m_lastColumnSeen = std::max(m_lastColumnSeen, m_lastColumn);
    m_firstColumn = std::min(m_firstColumn, column);
    m_poolAtRowStart = PoolEnd();
    m_shownAtRowStart = m_data.m_shownBytes;
    rows.push_back({ row, static_cast<uint32_t>(m_data.m_cells.size()) });
    m_lastRow = row;
    return true;
}

void SheetBuilder::AddString(int32_t row, int32_t column, std::string_view text, uint32_t style)
{
    const size_t offset = m_data.m_shared.size() + PoolEnd();
    if (offset + text.size() > UINT32_MAX)
        throw SpreadsheetError(ErrorCode::TooLarge, "the worksheet holds more than 4 GiB of text");
    RequireRoom(text.size());
    Cell& cell = Add(row, column, CellKind::String, style);
    cell.value.text = { static_cast<uint32_t>(offset), static_cast<uint32_t>(text.size()) };
    m_data.m_pool.append(text);
    UseRoomForText(text.size());
}

void SheetBuilder::AddShownNumber(int32_t row, int32_t column, double value, uint32_t style)
{
    // The cell first, so that a row it starts begins before its text; the text is then
    // formatted straight into the pool. Adding it may publish rows, and the publisher
    // may turn showing numbers off: this one is shown still.
    const numfmt::NumberFormat& format = *m_shownFormats[style];
    Cell& cell = Add(row, column, CellKind::Number, style);
    std::string& pool = m_data.m_pool;
    const size_t offset = m_data.m_shared.size() + PoolEnd();
    const size_t start = pool.size();
    format.Format(value, m_dateSystem, pool);
    const size_t length = pool.size() - start;
    // Past their own bound, or past what a cell can locate, numbers stay numbers: the
    // walk formats them as it reads them, as it would have.
    if (m_data.m_shownBytes + length > m_memoryLimit || offset + length > UINT32_MAX) {
        pool.resize(start);
        cell.value.number = value;
        return;
    }
    cell.kind = CellKind::DisplayedNumber;
    cell.value.text = { static_cast<uint32_t>(offset), static_cast<uint32_t>(length) };
    m_data.m_shownBytes += length;
}

void SheetBuilder::AddTextWithValue(
    int32_t row, int32_t column, std::string_view text, std::string_view value, bool date)
{
    const size_t offset = m_data.m_shared.size() + PoolEnd();
    if (offset + text.size() + value.size() > UINT32_MAX)
        throw SpreadsheetError(ErrorCode::TooLarge, "the worksheet holds more than 4 GiB of text");
    RequireRoom(text.size() + value.size());
    Cell& cell = Add(row, column, date ? CellKind::TextWithDate : CellKind::TextWithValue, 0);
    cell.value.text = { static_cast<uint32_t>(offset), static_cast<uint32_t>(text.size()) };
    cell.style = static_cast<uint32_t>(value.size());
    m_data.m_pool.append(text);
    m_data.m_pool.append(value);
    UseRoomForText(text.size() + value.size());
}

void SheetBuilder::AddFormula(
    int32_t row, int32_t column, uint32_t style, formula::FormulaGrammar grammar, std::string_view body, bool array)
{
    formula::SheetFormulas& formulas = m_data.m_formulas;
    if (formulas.Bytes() + body.size() + sizeof(formula::CapturedFormula) > m_memoryLimit
        || formulas.bodies.size() + body.size() > UINT32_MAX)
        throw SpreadsheetError(ErrorCode::TooLarge, "its formulas take more memory than a workbook of its size holds");
    const auto index = static_cast<uint32_t>(formulas.cells.size());
    formula::CapturedFormula& captured = formulas.cells.emplace_back();
    captured.row = row;
    captured.column = column;
    captured.offset = static_cast<uint32_t>(formulas.bodies.size());
    captured.length = static_cast<uint32_t>(body.size());
    captured.grammar = grammar;
    captured.array = array;
    formulas.bodies.append(body);
    Add(row, column, CellKind::Blank, style).value.index = index + 1;
}

void SheetBuilder::AddSharedFormulaCell(int32_t row, int32_t column, uint32_t style, uint32_t sharedIndex)
{
    formula::SheetFormulas& formulas = m_data.m_formulas;
    if (formulas.Bytes() + sizeof(formula::CapturedFormula) > m_memoryLimit)
        throw SpreadsheetError(ErrorCode::TooLarge, "its formulas take more memory than a workbook of its size holds");
    const auto index = static_cast<uint32_t>(formulas.cells.size());
    formula::CapturedFormula& captured = formulas.cells.emplace_back();
    captured.row = row;
    captured.column = column;
    captured.shared = sharedIndex;
    Add(row, column, CellKind::Blank, style).value.index = index + 1;
}

void SheetBuilder::AddValuedFormula(
    int32_t row, int32_t column, formula::FormulaGrammar grammar, std::string_view body, uint32_t sharedIndex)
{
    formula::SheetFormulas& formulas = m_data.m_formulas;
    formula::CapturedFormula& captured = formulas.cells.emplace_back();
    captured.row = row;
    captured.column = column;
    captured.offset = static_cast<uint32_t>(formulas.bodies.size());
    captured.length = static_cast<uint32_t>(body.size());
    captured.shared = sharedIndex;
    captured.grammar = grammar;
    captured.valued = true;
    formulas.bodies.append(body);
}

void SheetBuilder::AddSharedFormula(const formula::SharedFormula& shared, std::string_view body)
{
    formula::SheetFormulas& formulas = m_data.m_formulas;
    if (formulas.Bytes() + body.size() + sizeof(formula::SharedFormula) > m_memoryLimit
        || formulas.bodies.size() + body.size() > UINT32_MAX)
        throw SpreadsheetError(ErrorCode::TooLarge, "its formulas take more memory than a workbook of its size holds");
    formula::SharedFormula& kept = formulas.shared.emplace_back(shared);
    kept.offset = static_cast<uint32_t>(formulas.bodies.size());
    kept.length = static_cast<uint32_t>(body.size());
    formulas.bodies.append(body);
}

void SheetBuilder::RequireRoom(size_t textBytes) const
{
    // Cells out of order cost more than their own bytes until Finish puts them in order:
    // each one's row now, and then a place in the order and its sorted copy.
    constexpr size_t kUnorderedCost = sizeof(int32_t) + 2 * sizeof(uint32_t) + sizeof(Cell);
    const uint64_t unordered = m_rowOfCell.size() * kUnorderedCost;
    if (m_data.StoredBytes() + unordered + sizeof(Cell) + textBytes > m_memoryLimit)
        throw SpreadsheetError(ErrorCode::TooLarge,
            "its cells and texts take more than " + std::to_string(m_memoryLimit)
                + " bytes, more than a workbook of its size holds");
}

void SheetBuilder::ShareText(std::shared_ptr<const void> owner, std::string_view text)
{
    if (text.size() > UINT32_MAX)
        throw SpreadsheetError(ErrorCode::TooLarge, "the worksheet holds more than 4 GiB of text");
    m_data.m_sharedOwner = std::move(owner);
    m_data.m_shared = text;
}

void SheetBuilder::AddSharedText(int32_t row, int32_t column, std::string_view text, uint32_t style)
{
    Cell& cell = Add(row, column, CellKind::String, style);
    cell.value.text
        = { static_cast<uint32_t>(text.data() - m_data.m_shared.data()), static_cast<uint32_t>(text.size()) };
}

void SheetBuilder::Publish(size_t rowEnd, size_t cellEnd, size_t poolEnd, size_t shownEnd, bool endOfSheet)
{
    const auto& rows = m_data.m_rows;
    FinishedRows batch = m_spare ? m_spare() : FinishedRows {};
    batch.blocks.clear();
    batch.rows.assign(
        rows.begin() + static_cast<ptrdiff_t>(m_publishedRows), rows.begin() + static_cast<ptrdiff_t>(rowEnd));
    batch.endCell = cellEnd;
    batch.firstBlock = batch.rows.front().begin >> CellStore::kBlockShift;
    for (size_t block = batch.firstBlock; block <= (cellEnd - 1) >> CellStore::kBlockShift; ++block)
        batch.blocks.push_back(&m_data.m_cells[block << CellStore::kBlockShift]);
    batch.textsBase = m_publishedPool;
    batch.shownBytes = shownEnd;
    batch.shared = m_data.m_shared;
    batch.expected = m_expected;
    batch.shareRead = m_shareRead;
    batch.endOfSheet = endOfSheet;
    if (m_data.m_cells.Released() && m_data.m_poolDropped == m_publishedPool) {
        // The pool holds only the texts of these rows and of the row under way: the batch
        // takes it whole, and the pool goes on in the batch's spare buffer with that row's.
        const size_t length = poolEnd - m_publishedPool;
        batch.texts.swap(m_data.m_pool);
        m_data.m_pool.assign(batch.texts, length);
        batch.texts.resize(length);
        m_data.m_poolDropped = poolEnd;
    } else {
        batch.texts.assign(m_data.m_pool, m_publishedPool - m_data.m_poolDropped, poolEnd - m_publishedPool);
    }
    m_publishedRows = rowEnd;
    m_publishedPool = poolEnd;
    if (!m_publish(std::move(batch)))
        m_publish = nullptr;
}

// Published rows and their texts go with their batch, and a sheet whose cells are being
// let go of is never read whole: its rows and pool need only hold what is not yet
// published. The rows are moved down once the published ones fill half their room, so
// that the same memory serves the whole load: a million rows would otherwise take 8 MB,
// grown by copies and touched page by page.
void SheetBuilder::DropPublished()
{
    m_data.m_pool.erase(0, m_publishedPool - m_data.m_poolDropped);
    m_data.m_poolDropped = m_publishedPool;
    auto& rows = m_data.m_rows;
    if (m_publishedRows >= std::max<size_t>(rows.capacity() / 2, 4096)) {
        if (m_firstRow == 0)
            m_firstRow = rows.front().row;
        rows.erase(rows.begin(), rows.begin() + static_cast<ptrdiff_t>(m_publishedRows));
        m_publishedRows = 0;
    }
}

void SheetBuilder::PublishRest()
{
    if (m_publish && m_ordered && m_data.m_rows.size() > m_publishedRows)
        Publish(m_data.m_rows.size(), m_data.m_cells.size(), PoolEnd(), m_data.m_shownBytes, true);
}

void SheetBuilder::Finish()
{
    auto& cells = m_data.m_cells;
    auto& rows = m_data.m_rows;
    if (cells.Released()) {
        // Read through while loading: the cells are gone, what was noted of them stands.
        // Out of order there is nothing to stand on; the worksheet must be loaded again.
        m_data.m_range = CellRange {};
        if (m_ordered && !cells.empty())
            m_data.m_range = { m_firstRow != 0 ? m_firstRow : rows.front().row, m_firstColumn, rows.back().row,
                std::max(m_lastColumnSeen, m_lastColumn) };
        return;
    }
    if (!m_ordered) {
        // Stable order by (row, column), the last of equal cells winning.
        std::vector<uint32_t> order(cells.size());
        std::iota(order.begin(), order.end(), 0u);
        std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
            if (m_rowOfCell[a] != m_rowOfCell[b])
                return m_rowOfCell[a] < m_rowOfCell[b];
            return cells[a].column < cells[b].column;
        });
        CellStore sorted;
        rows.clear();
        for (size_t i = 0; i < order.size(); ++i) {
            const uint32_t at = order[i];
            const int32_t row = m_rowOfCell[at];
            const bool sameAsNext = i + 1 < order.size() && m_rowOfCell[order[i + 1]] == row
                && cells[order[i + 1]].column == cells[at].column;
            if (sameAsNext)
                continue;
            if (rows.empty() || rows.back().row != row)
                rows.push_back({ row, static_cast<uint32_t>(sorted.size()) });
            sorted.emplace_back() = cells[at];
        }
        cells.swap(sorted);
        std::vector<int32_t>().swap(m_rowOfCell);
    }
    rows.shrink_to_fit();

    CellRange range;
    if (!cells.empty()) {
        range.firstRow = rows.front().row;
        range.lastRow = rows.back().row;
        int32_t first = kMaxColumns, last = 1;
        for (size_t r = 0; r < rows.size(); ++r) {
            const size_t end = r + 1 < rows.size() ? rows[r + 1].begin : cells.size();
            first = std::min<int32_t>(first, cells[rows[r].begin].column);
            last = std::max<int32_t>(last, cells[end - 1].column);
        }
        range.firstColumn = first;
        range.lastColumn = last;
    }
    m_data.m_range = range;
    m_data.m_lastRowIndex = 0;
}

} // namespace vellumcast::spreadsheet
