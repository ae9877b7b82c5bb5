#pragma once
// What the walks of one workbook's export charge to its budget (ExportBudget), and the
// refusals that name the worksheet when a walk or its text would pass it. Internal to
// the export layer.

#include "export/CellReader.h"
#include "export/ExportBudget.h"
#include "export/LineSources.h"
#include "options/ExportOptions.h"
#include "spreadsheet/Workbook.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace vellumcast::exporting {

// "the worksheet "Name" of path", as messages name a worksheet.
std::string SheetOf(spreadsheet::Worksheet& sheet, const spreadsheet::Workbook& workbook);

class WalkCharges {
public:
    WalkCharges(ExportBudget& budget, const options::ExportOptions& options, CellReader& reader,
        spreadsheet::Workbook* workbook)
        : m_budget(budget)
        , m_options(options)
        , m_reader(reader)
        , m_workbook(workbook)
    {
    }

    // Refuses, before any of it is done, a walk past the workbook's budget: the cells it
    // visits and, with blank cells kept, the least text it must compose. A used range that
    // runs on past the last value over empty cells (formatted to the grid's edge) is cut
    // there instead, when that fits, with a warning naming what is left out. Charges the
    // cells of the walk that goes ahead.
    void ChargeWalk(spreadsheet::Worksheet& sheet, Lines lines, spreadsheet::CellRange& range);

    // Whether a walk of lineCount lines of width cells that visits cells in all fits.
    bool Affordable(uint64_t cells, uint64_t lineCount, uint64_t width) const
    {
        return m_budget.Affords({ cells, LeastText(lineCount, width) });
    }

    // Charges a text composed, refusing it when it does not fit.
    void ChargeText(spreadsheet::Worksheet& sheet, size_t bytes)
    {
        CheckText(sheet, bytes);
        m_budget.ChargeText(bytes);
    }
    // Refuses a text past the budget, counting the line being composed (pending bytes):
    // one line of thousands of cells may be long enough to exhaust memory on its own.
    void CheckText(spreadsheet::Worksheet& sheet, size_t pending) const
    {
        if (!m_budget.TextFits(pending))
            RefuseText(sheet);
    }

private:
    struct WalkCost {
        uint64_t cells;
        uint64_t lineCount;
        uint64_t width;
    };
    WalkCost CostOf(spreadsheet::Worksheet& sheet, Lines lines, const spreadsheet::CellRange& range) const;
    bool Affordable(const WalkCost& cost) const { return Affordable(cost.cells, cost.lineCount, cost.width); }
    // The least text that lineCount lines of width cells compose with blank cells kept:
    // dividers, quotes and line ends alone.
    uint64_t LeastText(uint64_t lineCount, uint64_t width) const;
    [[noreturn]] void RefuseText(spreadsheet::Worksheet& sheet) const;

    ExportBudget& m_budget;
    const options::ExportOptions& m_options;
    CellReader& m_reader;
    spreadsheet::Workbook* m_workbook;
};

} // namespace vellumcast::exporting
