#pragma once
// One worksheet part of an Office Open XML workbook, read straight into a SheetBuilder.

#include "spreadsheet/SheetData.h"
#include "spreadsheet/container/Zip.h"
#include "spreadsheet/numfmt/NumberFormat.h"
#include "spreadsheet/xlsx/XlsxConditionalFormats.h"

#include <functional>

namespace vellumcast::spreadsheet::xlsx {

// Inflates the part in chunks and parses it as it arrives; a number that a conditional
// rule holds for takes the rule's style. Throws SpreadsheetError.
void ReadWorksheet(const container::ZipArchive& archive, const container::ZipEntry& entry, SheetBuilder& builder,
    numfmt::DateSystem dateSystem, const std::function<void()>& yield,
    const ConditionalNumberFormats& conditional = {});

} // namespace vellumcast::spreadsheet::xlsx
