#pragma once
// What every format reader provides. A reader is opened on the workbook's bytes, reads
// the workbook-wide parts at once (sheet list, shared strings, styles, date system; an
// OpenDocument list only as far as its first worksheet) and loads one worksheet's cells
// only when asked.

#include "spreadsheet/CellFormats.h"
#include "spreadsheet/FileBytes.h"
#include "spreadsheet/SharedStrings.h"
#include "spreadsheet/SpreadsheetError.h"
#include "spreadsheet/encryption/Passwords.h"
#include "spreadsheet/formula/FormulaCells.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vellumcast::spreadsheet {

class SheetBuilder;

namespace container {
class ZipArchive;
}

enum class SheetVisibility : uint8_t { Visible, Hidden, VeryHidden };

// "visible", "hidden" or "very hidden": how lists of worksheets name a visibility.
constexpr std::string_view VisibilityWord(SheetVisibility visibility)
{
    switch (visibility) {
    case SheetVisibility::Hidden:
        return "hidden";
    case SheetVisibility::VeryHidden:
        return "very hidden";
    case SheetVisibility::Visible:
        break;
    }
    return "visible";
}

struct SheetEntry {
    std::string name;
    SheetVisibility visibility = SheetVisibility::Visible;
};

// The most entries a workbook of fileSize bytes may list of its sheets, or of the parts of
// its package (relationships, content types): each costs memory however little of the
// file it takes, and a compressed list of a million costs a hundred kilobytes. A real
// workbook's sheet takes far more than 16 bytes of its file (a part of its own, a table,
// records), and the floor lets any small workbook list thousands; no real one comes
// near the cap, where the list alone would take tens of megabytes.
constexpr uint64_t kMaxListedSheets = uint64_t { 1 } << 16;
inline uint64_t ListLimit(uint64_t fileSize)
{
    return std::min<uint64_t>(kMaxListedSheets, 4096 + fileSize / 16);
}

// Throws SpreadsheetError(TooLarge) when a list of what ("sheets") holding listed entries
// may not take one more: limit, ListLimit or a multiple, was reached.
inline void RequireRoomInList(size_t listed, uint64_t limit, uint64_t fileSize, const char* what)
{
    if (listed >= limit)
        throw SpreadsheetError(ErrorCode::TooLarge,
            "it lists more than " + std::to_string(limit) + " " + what + ", more than a workbook of "
                + std::to_string(fileSize) + " bytes can hold");
}

// Sheets of the workbook that are no worksheets and hold no cells to export.
enum class OtherSheetKind : uint8_t { Chart, Dialog, Macro };

struct OtherSheet {
    std::string name;
    OtherSheetKind kind = OtherSheetKind::Chart;
    SheetVisibility visibility = SheetVisibility::Visible;
    size_t worksheetsBefore = 0; // where it lies among the worksheets, in workbook order
};

// Workbook-wide data that the reader fills when it is opened.
struct WorkbookData {
    std::deque<SheetEntry> sheets; // worksheets only, in workbook order: all, or the first ones
    std::vector<OtherSheet> otherSheets; // chart, dialog and macro sheets, in workbook order
    // What the reader passed over and read on without, as sentences about the workbook
    // ("the sheet \"X\" names no part of the package; it is passed over").
    std::vector<std::string> warnings;
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

// What a person says of delimited text, where they would rather not leave it to the
// content: the divider between fields (0: as the text and its name say) and the
// encoding (Auto: as the byte-order mark and the content say).
enum class TextEncoding : uint8_t { Auto, Utf8, Windows1252, Utf16LE, Utf16BE, Utf32LE, Utf32BE };

struct DelimitedTextOptions {
    char divider = 0;
    TextEncoding encoding = TextEncoding::Auto;
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
    // The password of an encrypted workbook that the default one does not open: asked at
    // most once, and only then.
    encryption::PasswordSource password;
    // With keepValues, whether a value is kept even when its raw text is the text itself,
    // so that the cell still says it holds a number or a boolean (for callers that type values).
    bool keepValueKinds = false;
    DelimitedTextOptions delimitedText;

    // The package's directory: the probe's, or else read now. Throws SpreadsheetError.
    std::shared_ptr<const container::ZipArchive> Archive() const;
};

} // namespace vellumcast::spreadsheet
