#pragma once
// The workbook-wide parts of an Office Open XML workbook: the workbook part (sheet list,
// date system), the styles (number formats by style index) and the shared strings.

#include "spreadsheet/CellFormats.h"
#include "spreadsheet/SharedStrings.h"
#include "spreadsheet/container/Zip.h"
#include "spreadsheet/formula/FormulaCells.h"
#include "spreadsheet/xlsx/XlsxConditionalFormats.h"
#include "spreadsheet/xlsx/XlsxPackage.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vellumcast::spreadsheet::xlsx {

struct WorkbookPart {
    bool date1904 = false;
    std::vector<ListedSheet> sheets;
    std::vector<formula::DefinedName> names; // scopes count the sheets above, charts among them
};

// Each throws SpreadsheetError when the part cannot be read.
WorkbookPart ReadWorkbookPart(const container::ZipArchive& archive, const container::ZipEntry& entry);
// Returns the style standing for each differential format's number format, by dxf
// index (kNoDxfStyle for one without), added after the cell styles.
std::vector<uint32_t> ReadStyles(const container::ZipArchive& archive, const container::ZipEntry& entry,
    CellFormats& formats, const std::function<void()>& yield);
void ReadSharedStrings(const container::ZipArchive& archive, const container::ZipEntry& entry,
    SharedStringTable& strings, uint64_t fileSize, const std::function<void()>& yield);

} // namespace vellumcast::spreadsheet::xlsx
