#pragma once
// What every format reader provides. A reader is opened on the workbook's bytes, reads
// the workbook-wide parts at once (sheet list, shared strings, styles, date system; an
// OpenDocument list only as far as its first worksheet) and loads one worksheet's cells
// only when asked.

#include "spreadsheet/CellFormats.h"
#include "spreadsheet/FileBytes.h"
#include "spreadsheet/SharedStrings.h"
#include "spreadsheet/formula/FormulaCells.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vellumcast::spreadsheet {

class SheetBuilder;

namespace container {
class ZipArchive;
}

enum class SheetVisibility : uint8_t { Visible, Hidden, VeryHidden };

struct SheetEntry {
    std::string name;
    SheetVisibility visibility = SheetVisibility::Visible;
};

// Workbook-wide data that the reader fills when it is opened.
struct WorkbookData {
    std::deque<SheetEntry> sheets; // worksheets only, in workbook order: all, or the first ones
    SharedStringTable sharedStrings;
    CellFormats formats;
    numfmt::DateSystem dateSystem = numfmt::DateSystem::Date1900;
    formula::WorkbookFormulas formulas; // the sheet tabs and defined names formulas refer to
};

class WorkbookReader {
public:
    virtual ~WorkbookReader() = default;
    // Loads the cells of sheets[index]. Throws SpreadsheetError.
    virtual void LoadSheet(size_t index, SheetBuilder& builder) = 0;
    // About how many bytes loading sheets[index] reads (0 when it is at hand already), or
    // UINT64_MAX when that is not known beforehand.
    virtual uint64_t SheetBytes(size_t) const { return UINT64_MAX; }
    // Extends sheets, the worksheets listed so far, until it holds wanted entries or every
    // worksheet; returns whether it holds every one. Most readers list them all when
    // opened. A reader whose list runs through the worksheets' content (OpenDocument)
    // lists the first when opened and the next ones as its loads read on, so that an
    // export need not read the content through once only to list it. Throws
    // SpreadsheetError.
    virtual bool ListSheets(size_t /*wanted*/, std::deque<SheetEntry>& /*sheets*/) { return true; }
};

struct ReaderContext {
    ReaderContext(std::shared_ptr<const FileBytes> bytesIn, std::string fileNameIn, std::function<void()> yieldIn)
        : bytes(std::move(bytesIn))
        , fileName(std::move(fileNameIn))
        , yield(std::move(yieldIn))
    {
    }

    std::shared_ptr<const FileBytes> bytes;
    std::string fileName; // the workbook's file name, for formats that name sheets by it
    std::function<void()> yield; // call now and then during long reads
    // The ZIP directory of a package, when the format probe has read it already.
    std::shared_ptr<const container::ZipArchive> archive;
    // Whether cells recorded as displayed text keep the value recorded beside it (TextWithValue,
    // TextWithDate); without it they are plain strings, whose raw text is the displayed one.
    bool keepValues = true;

    // The package's directory: the probe's, or else read now. Throws SpreadsheetError.
    std::shared_ptr<const container::ZipArchive> Archive() const;
};

} // namespace vellumcast::spreadsheet
