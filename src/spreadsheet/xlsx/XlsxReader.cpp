// The Office Open XML workbook reader (xlsx, xlsm, xltx, xltm). Opening reads the package
// relationships, the workbook part, the shared strings and the styles; a worksheet's XML is
// inflated in chunks and parsed as it arrives, straight into a SheetBuilder.

#include "spreadsheet/xlsx/XlsxReader.h"

#include <algorithm>

#include "spreadsheet/container/Zip.h"
#include "spreadsheet/xlsx/XlsxPackage.h"
#include "spreadsheet/xlsx/XlsxWorkbookParts.h"
#include "spreadsheet/xlsx/XlsxWorksheet.h"

namespace vellumcast::spreadsheet::xlsx {

namespace {

using container::ZipArchive;
using container::ZipEntry;

class XlsxReader final : public WorkbookReader {
public:
    XlsxReader(std::shared_ptr<const ZipArchive> archive, std::function<void()> yield)
        : m_package(std::move(archive), "xl/workbook.xml")
        , m_yield(std::move(yield))
    {
    }

    void Open(WorkbookData& data)
    {
        const ZipArchive& archive = m_package.Archive();
        WorkbookPart workbook = ReadWorkbookPart(archive, m_package.WorkbookEntry());
        data.dateSystem = workbook.date1904 ? numfmt::DateSystem::Date1904 : numfmt::DateSystem::Date1900;
        m_dateSystem = data.dateSystem;
        for (const ListedSheet& sheet : workbook.sheets)
            data.formulas.tabs.push_back(sheet.name);
        data.formulas.names = std::move(workbook.names);
        data.formulas.namesRead = true;
        m_package.AddWorksheets(workbook.sheets, data);

        if (const ZipEntry* styles = m_package.RelatedPart("/styles", "styles.xml"))
            m_dxfStyles = ReadStyles(archive, *styles, data.formats, m_yield);
        if (const ZipEntry* strings = m_package.RelatedPart("/sharedStrings", "sharedStrings.xml"))
            ReadSharedStrings(archive, *strings, data.sharedStrings, m_package.FileSize(), m_yield);
        m_package.RequireBudgetForSheets();
    }

    void LoadSheet(size_t index, SheetBuilder& builder) override
    {
        // The rules follow the cells in the part: they are read first, in a pass over it,
        // only when the workbook has a number format for them to give.
        ConditionalNumberFormats conditional;
        const ZipEntry& part = m_package.SheetPart(index);
        if (std::any_of(m_dxfStyles.begin(), m_dxfStyles.end(), [](uint32_t style) { return style != kNoDxfStyle; }))
            conditional = ReadConditionalNumberFormats(m_package.Archive(), part, m_dxfStyles);
        ReadWorksheet(m_package.Archive(), part, builder, m_dateSystem, m_yield, conditional);
    }

    uint64_t SheetBytes(size_t index) const override { return m_package.SheetBytes(index); }

private:
    WorkbookPackage m_package;
    std::function<void()> m_yield;
    numfmt::DateSystem m_dateSystem = numfmt::DateSystem::Date1900;
    std::vector<uint32_t> m_dxfStyles; // ReadStyles's
};

} // namespace

std::unique_ptr<WorkbookReader> OpenReader(const ReaderContext& context, WorkbookData& data)
{
    auto reader = std::make_unique<XlsxReader>(context.Archive(), context.yield);
    reader->Open(data);
    return reader;
}

} // namespace vellumcast::spreadsheet::xlsx
