#pragma once
// The budget of one workbook's export: the cells its walks may visit and the memory its
// texts may take beside the worksheet being walked, both in proportion to the workbook's
// file, so that a crafted file of a few kilobytes can neither run for hours nor exhaust
// memory.

#include <cstdint>

namespace vellumcast::exporting {

class ExportBudget {
public:
    explicit ExportBudget(uint64_t fileSize);

    // What a walk costs before it starts: the cells it visits and the least text it must
    // compose (dividers, quotes and line ends alone).
    struct Cost {
        uint64_t cells;
        uint64_t leastText;
    };
    bool Affords(const Cost& cost) const
    {
        return m_cellsUsed + cost.cells <= m_cellLimit && cost.leastText <= TextRoom();
    }
    void SpendCells(uint64_t cells) { m_cellsUsed += cells; }

    // The bytes the worksheet being walked holds: they count against the texts' memory.
    void SetSheetBytes(uint64_t bytes) { m_sheetBytes = bytes; }
    // What the texts may still grow by; asked for every cell, so it is inline.
    uint64_t TextRoom() const
    {
        const uint64_t used = m_textUsed + m_sheetBytes;
        return used < m_textLimit ? m_textLimit - used : 0;
    }
    bool TextFits(uint64_t pending) const { return pending <= TextRoom(); }
    void ChargeText(uint64_t bytes) { m_textUsed += bytes; }

    // The text charged so far; a composition that is dropped gives back what it charged.
    uint64_t TextUsed() const { return m_textUsed; }
    void GiveBackTextTo(uint64_t used) { m_textUsed = used; }

    uint64_t CellLimit() const { return m_cellLimit; }
    uint64_t TextLimit() const { return m_textLimit; }

private:
    uint64_t m_cellLimit;
    uint64_t m_textLimit;
    uint64_t m_cellsUsed = 0;
    uint64_t m_textUsed = 0;
    uint64_t m_sheetBytes = 0;
};

} // namespace vellumcast::exporting
