#include "support/MemoryWorkbook.h"

#include "spreadsheet/SheetData.h"

namespace vellumcast::testing {

namespace {

class MemoryReader final : public spreadsheet::WorkbookReader {
public:
    explicit MemoryReader(std::vector<MemorySheet> sheets)
        : m_sheets(std::move(sheets))
    {
    }
    void LoadSheet(size_t index, spreadsheet::SheetBuilder& builder) override
    {
        MemorySheet& sheet = m_sheets.at(index);
        if (sheet.failsToLoad || sheet.loadsBeforeFailing == 0)
            throw spreadsheet::SpreadsheetError(spreadsheet::ErrorCode::Corrupt, "the worksheet XML is damaged");
        if (sheet.loadsBeforeFailing > 0)
            --sheet.loadsBeforeFailing;
        if (sheet.loads)
            ++*sheet.loads;
        if (sheet.claimed.lastRow > 0)
            builder.ExpectRange(sheet.claimed);
        int added = 0;
        for (const auto& cell : sheet.cells) {
            if (sheet.notesRead)
                builder.NoteRead(static_cast<uint64_t>(added), sheet.cells.size());
            if (added++ == sheet.cellsBeforeFailing)
                throw spreadsheet::SpreadsheetError(spreadsheet::ErrorCode::Corrupt, "the worksheet XML is damaged");
            if (cell.text.empty())
                builder.AddBlank(cell.row, cell.column, 0);
            else
                builder.AddString(cell.row, cell.column, cell.text, 0);
        }
    }

private:
    std::vector<MemorySheet> m_sheets;
};

} // namespace

std::unique_ptr<spreadsheet::Workbook> MakeWorkbook(
    const std::string& path, std::vector<MemorySheet> sheets, uint64_t fileSize)
{
    spreadsheet::WorkbookData data;
    for (const auto& sheet : sheets)
        data.sheets.push_back({ sheet.name, spreadsheet::SheetVisibility::Visible });
    return std::make_unique<spreadsheet::Workbook>(
        path, std::make_unique<MemoryReader>(std::move(sheets)), std::move(data), nullptr, fileSize);
}

MemorySheet SheetFromRows(
    const std::string& name, const std::vector<std::vector<std::string>>& rows, int32_t firstRow, int32_t firstColumn)
{
    MemorySheet sheet { name, {} };
    for (size_t r = 0; r < rows.size(); ++r) {
        for (size_t c = 0; c < rows[r].size(); ++c) {
            if (!rows[r][c].empty())
                sheet.cells.push_back(
                    { firstRow + static_cast<int32_t>(r), firstColumn + static_cast<int32_t>(c), rows[r][c] });
        }
    }
    return sheet;
}

} // namespace vellumcast::testing
