#pragma once
// The package that Office Open XML workbooks share whether their parts are XML (xlsx) or
// binary records (xlsb): relationships, content types, the workbook part, the worksheet
// parts its sheet list names, and the bounds on what those parts may claim.

#include "spreadsheet/WorkbookReader.h"
#include "spreadsheet/container/Zip.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vellumcast::spreadsheet::xlsx {

// The most text one string may hold, shared or a cell's own: far more than the 32,767
// characters a cell may show, small enough that a string copied into every text that
// shows it cannot exhaust memory.
constexpr size_t kMaxStringText = 16u << 20;

struct Relationship {
    std::string type;
    std::string target; // resolved part name
    bool external = false;
};

struct Relationships {
    std::unordered_map<std::string, Relationship> byId;
    std::vector<std::string> order;

    // The first internal relationship whose type ends with this suffix ("/styles"):
    // types end the same way in the transitional and strict vocabularies.
    const Relationship* OfType(std::string_view suffix) const;
};

// A sheet as the workbook part lists it.
struct ListedSheet {
    std::string name;
    std::string relationshipId;
    SheetVisibility visibility = SheetVisibility::Visible;
};

// Each shared string costs its text plus a 32-byte header, and a run of empty items
// compresses to almost nothing: the count and the text are bounded by the file, as cells
// are. Distinct strings compress poorly, so real workbooks hold far fewer than two per
// byte, and far less text than 64 bytes per byte.
class SharedStringBudget {
public:
    explicit SharedStringBudget(uint64_t fileSize);
    // Before the string at index is stored. Throws TooLarge.
    void Count(size_t index) const;
    // Before bytes more text join the string at index, which holds held bytes so far.
    // Throws TooLarge.
    void Text(size_t index, size_t held, size_t bytes);

private:
    uint64_t m_fileSize;
    uint64_t m_maxStrings;
    uint64_t m_textLeft;
};

class WorkbookPackage {
public:
    // Reads the ZIP directory and finds the workbook part: the package's officeDocument
    // relationship, or usualPart for packages without relationships. Throws
    // SpreadsheetError.
    WorkbookPackage(std::shared_ptr<const container::ZipArchive> archive, std::string_view usualPart);

    const container::ZipArchive& Archive() const { return m_archive; }
    uint64_t FileSize() const { return m_archive.Size(); }
    const container::ZipEntry& WorkbookEntry() const { return *m_workbook; }

    // The part the workbook's relationship of this type names, or the part named
    // usualName beside the workbook part; nullptr when neither exists.
    const container::ZipEntry* RelatedPart(std::string_view typeSuffix, std::string_view usualName) const;

    // Resolves the listed sheets to their parts and adds the worksheets among them to
    // data.sheets, the chart, dialog and macro sheets to data.otherSheets. A sheet that
    // names no part is passed over with a warning in data.warnings. Throws SpreadsheetError.
    void AddWorksheets(const std::vector<ListedSheet>& listed, WorkbookData& data);
    // Exporting reads every worksheet once: a workbook whose worksheets declare more than
    // the inflate budget leaves (many sheets pointing at one large part) is refused once
    // the workbook-wide parts are read, before seconds of work on the first of them.
    void RequireBudgetForSheets() const;

    // The part of the worksheet at index. Throws Corrupt when it is missing.
    const container::ZipEntry& SheetPart(size_t index) const;
    // Its inflated size, UINT64_MAX when unknown.
    uint64_t SheetBytes(size_t index) const;

private:
    // What a sheet's relationship leads to: a worksheet, a sheet of another kind (kind
    // set), or a part of a kind no sheet has.
    enum class PartKind { Worksheet, Other, None };
    PartKind KindOf(const Relationship& relationship, OtherSheetKind& kind) const;

    std::shared_ptr<const container::ZipArchive> m_package; // shared with the format probe
    const container::ZipArchive& m_archive;
    std::string m_workbookPart;
    const container::ZipEntry* m_workbook = nullptr;
    std::optional<Relationships> m_relationships;
    std::unordered_map<std::string, std::string> m_contentTypes; // part name → content type
    std::vector<std::string> m_sheetParts;
};

} // namespace vellumcast::spreadsheet::xlsx
