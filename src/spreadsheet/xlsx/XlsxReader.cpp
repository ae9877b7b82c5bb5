// The Office Open XML workbook reader (xlsx, xlsm, xltx, xltm). Opening reads the package
// relationships, the workbook part, the shared strings and the styles; a worksheet's XML is
// inflated in chunks and parsed as it arrives, straight into a SheetBuilder.

#include "spreadsheet/xlsx/XlsxReader.h"
#include "spreadsheet/container/Zip.h"
#include "spreadsheet/xlsx/XlsxCellPath.h"
#include "spreadsheet/xlsx/XlsxText.h"
#include "spreadsheet/xml/Xml.h"
#include "spreadsheet/xml/XmlScanner.h"

#include <charconv>
#include <cstring>
#include <optional>
#include <unordered_map>

namespace vellumcast::spreadsheet::xlsx {

namespace {

using container::ZipArchive;
using container::ZipEntry;
using xml::XmlAttributes;

// The most text one string may hold, shared or a cell's own: far more than the 32,767
// characters a cell may show, small enough that a string copied into every text that
// shows it cannot exhaust memory.
constexpr size_t kMaxStringText = 16u << 20;

// Relationship types end the same way in the transitional and strict vocabularies.
bool EndsWith(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string FolderOf(std::string_view part)
{
    const size_t slash = part.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(part.substr(0, slash + 1));
}

// "xl/workbook.xml" → "xl/_rels/workbook.xml.rels"
std::string RelationshipsPartOf(std::string_view part)
{
    const size_t slash = part.rfind('/');
    const std::string_view folder = slash == std::string_view::npos ? std::string_view() : part.substr(0, slash + 1);
    const std::string_view file = slash == std::string_view::npos ? part : part.substr(slash + 1);
    return std::string(folder) + "_rels/" + std::string(file) + ".rels";
}

bool IsTrue(std::string_view value)
{
    return value == "1" || value == "true" || value == "on";
}

template <typename Integer> bool ParseInteger(std::string_view text, Integer& value)
{
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

// Worksheet parts, shared strings and styles are read with a few lines of handler each; the
// parts themselves come from the archive with the bounds ZipArchive enforces.
void ParsePart(
    const ZipArchive& archive, const ZipEntry& entry, xml::XmlHandler& handler, const std::function<void()>& yield)
{
    xml::ParseXmlMember(archive, entry, handler, yield);
}

struct Relationship {
    std::string type;
    std::string target; // resolved part name
    bool external = false;
};

class RelationshipsHandler final : public xml::XmlHandler {
public:
    explicit RelationshipsHandler(std::string baseFolder)
        : m_base(std::move(baseFolder))
    {
    }

    void StartElement(std::string_view, std::string_view localName, const XmlAttributes& attributes) override
    {
        if (localName != "Relationship")
            return;
        Relationship relationship;
        relationship.type = std::string(attributes.Get("Type"));
        relationship.external = attributes.Get("TargetMode") == "External";
        relationship.target = relationship.external ? std::string(attributes.Get("Target"))
                                                    : container::ResolvePartPath(m_base, attributes.Get("Target"));
        const std::string id(attributes.Get("Id"));
        order.push_back(id);
        byId.try_emplace(id, std::move(relationship));
    }
    void EndElement(std::string_view, std::string_view) override { }

    // The first relationship whose type ends with this suffix.
    const Relationship* OfType(std::string_view suffix) const
    {
        for (const auto& id : order) {
            const Relationship& relationship = byId.at(id);
            if (!relationship.external && EndsWith(relationship.type, suffix))
                return &relationship;
        }
        return nullptr;
    }

    std::unordered_map<std::string, Relationship> byId;
    std::vector<std::string> order;

private:
    std::string m_base;
};

std::optional<RelationshipsHandler> ReadRelationships(const ZipArchive& archive, std::string_view ofPart)
{
    const std::string path = ofPart.empty() ? std::string("_rels/.rels") : RelationshipsPartOf(ofPart);
    const ZipEntry* entry = archive.Find(path);
    if (!entry)
        return std::nullopt;
    RelationshipsHandler handler(FolderOf(ofPart));
    ParsePart(archive, *entry, handler, {});
    return handler;
}

// [Content_Types].xml overrides: part name → content type.
class ContentTypesHandler final : public xml::XmlHandler {
public:
    void StartElement(std::string_view, std::string_view localName, const XmlAttributes& attributes) override
    {
        if (localName != "Override")
            return;
        std::string_view part = attributes.Get("PartName");
        while (!part.empty() && part.front() == '/')
            part.remove_prefix(1);
        byPart.try_emplace(std::string(part), std::string(attributes.Get("ContentType")));
    }
    void EndElement(std::string_view, std::string_view) override { }

    std::unordered_map<std::string, std::string> byPart;
};

struct WorkbookSheet {
    std::string name;
    std::string relationshipId;
    SheetVisibility visibility = SheetVisibility::Visible;
};

class WorkbookHandler final : public xml::XmlHandler {
public:
    void StartElement(std::string_view, std::string_view localName, const XmlAttributes& attributes) override
    {
        if (localName == "workbookPr") {
            date1904 = IsTrue(attributes.Get("date1904"));
        } else if (localName == "sheets") {
            m_inSheets = true;
        } else if (localName == "sheet" && m_inSheets) {
            WorkbookSheet sheet;
            sheet.name = std::string(attributes.Get("name"));
            // r:id, whatever prefix the writer bound to the relationships namespace.
            bool found = false;
            std::string_view id = attributes.Get(kRelationships, "id", &found);
            if (!found)
                id = attributes.Get(kStrictRelationships, "id", &found);
            if (!found)
                id = attributes.Get("id");
            sheet.relationshipId = std::string(id);
            const std::string_view state = attributes.Get("state");
            if (state == "hidden")
                sheet.visibility = SheetVisibility::Hidden;
            else if (state == "veryHidden")
                sheet.visibility = SheetVisibility::VeryHidden;
            sheets.push_back(std::move(sheet));
        }
    }
    void EndElement(std::string_view, std::string_view localName) override
    {
        if (localName == "sheets")
            m_inSheets = false;
    }

    static constexpr std::string_view kRelationships
        = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    static constexpr std::string_view kStrictRelationships = "http://purl.oclc.org/ooxml/officeDocument/relationships";

    bool date1904 = false;
    std::vector<WorkbookSheet> sheets;

private:
    bool m_inSheets = false;
};

// The shared string table: each <si> is its <t>, or its rich-text runs' <t> joined;
// phonetic runs (<rPh>) are not part of the text.
class SharedStringsHandler final : public xml::XmlHandler {
public:
    SharedStringsHandler(std::vector<std::string>& into, uint64_t fileSize)
        : m_strings(into)
        , m_fileSize(fileSize)
        , m_maxStrings((uint64_t { 1 } << 20) + 2 * fileSize)
        , m_textLeft((uint64_t { 64 } << 20) + 64 * fileSize)
    {
    }

    void StartElement(std::string_view, std::string_view localName, const XmlAttributes& attributes) override
    {
        if (localName == "si") {
            m_inItem = true;
            m_text.clear();
        } else if (localName == "t") {
            m_inText = m_inItem && m_phoneticDepth == 0;
        } else if (localName == "rPh") {
            ++m_phoneticDepth;
        } else if (localName == "sst") {
            // A hint only: reserve no more than the part could hold.
            uint32_t count = 0;
            if (ParseInteger(attributes.Get("uniqueCount"), count))
                m_strings.reserve(std::min<uint32_t>(count, 1u << 20));
        }
    }
    void EndElement(std::string_view, std::string_view localName) override
    {
        if (localName == "t") {
            m_inText = false;
        } else if (localName == "rPh") {
            if (m_phoneticDepth > 0)
                --m_phoneticDepth;
        } else if (localName == "si" && m_inItem) {
            m_inItem = false;
            if (m_strings.size() >= m_maxStrings)
                throw SpreadsheetError(ErrorCode::TooLarge,
                    "it holds more than " + std::to_string(m_maxStrings) + " shared strings, more than a workbook of "
                        + std::to_string(m_fileSize) + " bytes can");
            if (xlsx::HasEscapes(m_text)) {
                std::string decoded;
                xlsx::AppendUnescaped(m_text, decoded);
                m_strings.push_back(std::move(decoded));
            } else {
                m_strings.push_back(m_text);
            }
        }
    }
    void Characters(std::string_view text) override
    {
        if (!m_inText)
            return;
        if (m_text.size() + text.size() > kMaxStringText)
            throw SpreadsheetError(ErrorCode::TooLarge,
                "shared string " + std::to_string(m_strings.size()) + " holds more than "
                    + std::to_string(kMaxStringText) + " bytes of text, more than the engine accepts");
        if (text.size() > m_textLeft)
            throw SpreadsheetError(ErrorCode::TooLarge,
                "its shared strings hold more text than a workbook of " + std::to_string(m_fileSize) + " bytes can");
        m_textLeft -= text.size();
        m_text.append(text);
    }

private:
    std::vector<std::string>& m_strings;
    // Each string costs its text plus a 32-byte header, and a run of <si/> items
    // compresses to almost nothing: the count and the text are bounded by the file, as
    // cells are. Distinct strings compress poorly, so real workbooks hold far fewer than
    // two per byte, and far less text than 64 bytes per byte.
    uint64_t m_fileSize;
    uint64_t m_maxStrings;
    uint64_t m_textLeft;
    std::string m_text;
    bool m_inItem = false;
    bool m_inText = false;
    int m_phoneticDepth = 0;
};

// numFmts and cellXfs: every xf of cellXfs becomes one style, in order, so that a cell's
// s attribute is its style index.
class StylesHandler final : public xml::XmlHandler {
public:
    explicit StylesHandler(CellFormats& formats)
        : m_formats(formats)
    {
    }

    void StartElement(std::string_view, std::string_view localName, const XmlAttributes& attributes) override
    {
        ++m_depth;
        if (localName == "numFmt" && m_inNumFmts) {
            int id = 0;
            if (ParseInteger(attributes.Get("numFmtId"), id))
                m_custom.insert_or_assign(id, std::string(attributes.Get("formatCode")));
        } else if (localName == "numFmts") {
            m_inNumFmts = true;
        } else if (localName == "cellXfs") {
            m_cellXfsDepth = m_depth;
        } else if (localName == "xf" && m_cellXfsDepth != 0 && m_depth == m_cellXfsDepth + 1) {
            int id = 0;
            if (!ParseInteger(attributes.Get("numFmtId"), id))
                id = 0;
            const auto custom = m_custom.find(id);
            m_formats.AddStyle(
                custom != m_custom.end() ? std::string_view(custom->second) : numfmt::BuiltInFormatCode(id));
        }
    }
    void EndElement(std::string_view, std::string_view localName) override
    {
        if (localName == "numFmts")
            m_inNumFmts = false;
        else if (localName == "cellXfs" && m_depth == m_cellXfsDepth)
            m_cellXfsDepth = 0;
        --m_depth;
    }

private:
    CellFormats& m_formats;
    std::unordered_map<int, std::string> m_custom;
    int m_depth = 0;
    int m_cellXfsDepth = 0;
    bool m_inNumFmts = false;
};

// The cells of one worksheet. Hot path: no allocation per cell once the buffers have grown,
// attributes matched by their first bytes, numbers and references parsed by hand.
class WorksheetHandler final : public xml::XmlHandler {
public:
    WorksheetHandler(SheetBuilder& builder, numfmt::DateSystem dateSystem)
        : m_builder(builder)
        , m_dateSystem(dateSystem)
    {
        m_value.reserve(64);
        m_inline.reserve(64);
    }

    void StartElement(std::string_view, std::string_view localName, const XmlAttributes& attributes) override
    {
        if (!m_inSheetData) {
            if (localName == "sheetData")
                m_inSheetData = true;
            else if (localName == "dimension")
                ExpectRange(attributes.Get("ref"));
            return;
        }
        switch (localName.size()) {
        case 1:
            if (localName[0] == 'c')
                StartCell(attributes);
            else if (localName[0] == 'v' && m_inCell)
                m_collect = &m_value;
            else if (localName[0] == 't' && m_inInline && m_phoneticDepth == 0)
                m_collect = &m_inline;
            else if (localName[0] == 'f')
                m_collect = nullptr;
            break;
        case 2:
            if (localName == "is" && m_inCell) {
                m_inInline = true;
                m_hasInline = true;
            }
            break;
        case 3:
            if (localName == "row")
                StartRow(attributes);
            else if (localName == "rPh")
                ++m_phoneticDepth;
            break;
        default:
            break;
        }
    }

    void EndElement(std::string_view, std::string_view localName) override
    {
        if (!m_inSheetData)
            return;
        switch (localName.size()) {
        case 1:
            if (localName[0] == 'c' && m_inCell)
                EndCell();
            else if (localName[0] == 'v')
                m_collect = nullptr;
            else if (localName[0] == 't')
                m_collect = nullptr;
            break;
        case 2:
            if (localName == "is")
                m_inInline = false;
            break;
        case 3:
            if (localName == "rPh" && m_phoneticDepth > 0)
                --m_phoneticDepth;
            break;
        case 9:
            if (localName == "sheetData")
                m_inSheetData = false;
            break;
        default:
            break;
        }
    }

    void Characters(std::string_view text) override
    {
        if (m_collect) {
            if (m_collect->size() + text.size() > kMaxStringText)
                throw SpreadsheetError(ErrorCode::TooLarge, "a cell holds more text than the engine accepts");
            m_collect->append(text);
        }
    }

private:
    enum class Type : uint8_t { Number, Shared, FormulaString, Inline, Boolean, Error, Date };

    // The recorded extent, "A1:J100": a hint of the used range to come. Writers are not
    // all careful with it, so it is only ever a guess.
    void ExpectRange(std::string_view reference)
    {
        const size_t colon = reference.find(':');
        CellRange range;
        if (colon != std::string_view::npos
            && ParseCellReference(reference.substr(0, colon), range.firstRow, range.firstColumn)
            && ParseCellReference(reference.substr(colon + 1), range.lastRow, range.lastColumn)
            && range.firstRow <= range.lastRow && range.lastRow <= kMaxRows && range.firstColumn <= range.lastColumn
            && range.lastColumn <= kMaxColumns)
            m_builder.ExpectRange(range);
    }

    void StartRow(const XmlAttributes& attributes)
    {
        int32_t row = m_row + 1;
        for (const char** a = attributes.Raw(); *a; a += 2) {
            if (a[0][0] == 'r' && a[0][1] == '\0') {
                const std::string_view text(a[1]);
                if (!ParseInteger(text, row))
                    throw SpreadsheetError(
                        ErrorCode::Corrupt, "a row number is not valid (\"" + std::string(text) + "\")");
            }
        }
        m_row = row;
        m_column = 0;
    }

    void StartCell(const XmlAttributes& attributes)
    {
        int32_t row = m_row, column = m_column + 1;
        Type type = Type::Number;
        uint32_t style = 0;
        if (row < 1)
            row = 1; // a cell before any <row>, without a reference of its own
        for (const char** a = attributes.Raw(); *a; a += 2) {
            const char* name = a[0];
            if (name[0] == '\0' || name[1] != '\0')
                continue;
            const char* value = a[1];
            switch (name[0]) {
            case 'r': {
                const std::string_view text(value);
                if (!xlsx::ParseCellReference(text, row, column))
                    throw SpreadsheetError(
                        ErrorCode::Corrupt, "the cell reference \"" + std::string(text) + "\" is not valid");
                break;
            }
            case 's': {
                const std::string_view text(value);
                if (!text.empty() && !ParseInteger(text, style))
                    style = 0;
                break;
            }
            case 't':
                type = TypeOf(value);
                break;
            default:
                break;
            }
        }
        m_row = row;
        m_column = column;
        m_cellStyle = style;
        m_type = type;
        m_inCell = true;
        m_hasInline = false;
        m_value.clear();
        m_inline.clear();
        m_collect = nullptr;
    }

    static Type TypeOf(const char* t)
    {
        switch (t[0]) {
        case 's':
            if (t[1] == '\0')
                return Type::Shared;
            if (std::strcmp(t, "str") == 0)
                return Type::FormulaString;
            break;
        case 'i':
            if (std::strcmp(t, "inlineStr") == 0)
                return Type::Inline;
            break;
        case 'b':
            if (t[1] == '\0')
                return Type::Boolean;
            break;
        case 'e':
            if (t[1] == '\0')
                return Type::Error;
            break;
        case 'd':
            if (t[1] == '\0')
                return Type::Date;
            break;
        default:
            break;
        }
        return Type::Number;
    }

    void AddText(std::string_view text)
    {
        if (xlsx::HasEscapes(text)) {
            m_decoded.clear();
            xlsx::AppendUnescaped(text, m_decoded);
            m_builder.AddString(m_row, m_column, m_decoded, m_cellStyle);
        } else {
            m_builder.AddString(m_row, m_column, text, m_cellStyle);
        }
    }

    void EndCell()
    {
        m_inCell = false;
        m_inInline = false;
        m_collect = nullptr;
        const int32_t row = m_row, column = m_column;
        const uint32_t style = m_cellStyle;
        if (m_type == Type::Inline || (m_hasInline && m_value.empty())) {
            // Some writers put the text of an inline string in <v> instead of <is>.
            AddText(m_hasInline ? std::string_view(m_inline) : std::string_view(m_value));
            return;
        }
        const std::string_view value = m_value;
        if (value.empty()) {
            m_builder.AddBlank(row, column, style);
            return;
        }
        switch (m_type) {
        case Type::Number: {
            double number = 0;
            const auto result = std::from_chars(value.data(), value.data() + value.size(), number);
            if (result.ec == std::errc() && result.ptr == value.data() + value.size())
                m_builder.AddNumber(row, column, number, style);
            else
                AddNumberLeniently(value);
            return;
        }
        case Type::Shared: {
            uint32_t index = 0;
            if (!ParseInteger(Trimmed(value), index))
                throw SpreadsheetError(ErrorCode::Corrupt,
                    "a shared string index is not valid (\"" + std::string(value.substr(0, 32)) + "\")");
            m_builder.AddSharedString(row, column, index, style);
            return;
        }
        case Type::FormulaString:
        case Type::Inline:
            AddText(value);
            return;
        case Type::Boolean: {
            const std::string_view text = Trimmed(value);
            m_builder.AddBoolean(row, column, text != "0" && text != "false" && text != "FALSE", style);
            return;
        }
        case Type::Error: {
            CellError error = CellError::Null;
            if (CellErrorFromText(Trimmed(value), error))
                m_builder.AddError(row, column, error, style);
            else
                AddText(value);
            return;
        }
        case Type::Date: {
            double serial = 0;
            if (xlsx::IsoDateToSerial(value, m_dateSystem, serial))
                m_builder.AddNumber(row, column, serial, style);
            else
                AddText(value);
            return;
        }
        }
    }

    static std::string_view Trimmed(std::string_view text)
    {
        while (!text.empty()
            && (text.front() == ' ' || text.front() == '\n' || text.front() == '\r' || text.front() == '\t'))
            text.remove_prefix(1);
        while (
            !text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\r' || text.back() == '\t'))
            text.remove_suffix(1);
        return text;
    }

    // A number that from_chars does not take as it stands: surrounding spaces, a leading
    // "+", or a magnitude past double's range. Anything else is kept as text, not lost.
    void AddNumberLeniently(std::string_view value)
    {
        std::string_view text = Trimmed(value);
        if (!text.empty() && text.front() == '+')
            text.remove_prefix(1);
        double number = 0;
        const auto result = std::from_chars(text.data(), text.data() + text.size(), number);
        if (result.ptr == text.data() + text.size() && !text.empty()
            && (result.ec == std::errc() || result.ec == std::errc::result_out_of_range)) {
            m_builder.AddNumber(m_row, m_column, number, m_cellStyle);
            return;
        }
        AddText(value);
    }

    SheetBuilder& m_builder;
    numfmt::DateSystem m_dateSystem;
    std::string m_value;
    std::string m_inline;
    std::string m_decoded;
    std::string* m_collect = nullptr;
    int32_t m_row = 0;
    int32_t m_column = 0;
    uint32_t m_cellStyle = 0;
    int m_phoneticDepth = 0;
    Type m_type = Type::Number;
    bool m_inSheetData = false;
    bool m_inCell = false;
    bool m_inInline = false;
    bool m_hasInline = false;
};

class XlsxReader final : public WorkbookReader {
public:
    XlsxReader(std::shared_ptr<const FileBytes> bytes, std::function<void()> yield)
        : m_bytes(std::move(bytes))
        , m_archive(m_bytes->Bytes())
        , m_yield(std::move(yield))
    {
    }

    void Open(WorkbookData& data)
    {
        // The workbook part is the package's officeDocument relationship; packages without
        // relationships put it at the usual place.
        std::string workbookPart;
        if (const auto root = ReadRelationships(m_archive, {})) {
            if (const Relationship* office = root->OfType("/officeDocument"); office && m_archive.Find(office->target))
                workbookPart = office->target;
        }
        if (workbookPart.empty())
            workbookPart = "xl/workbook.xml";
        const ZipEntry* workbookEntry = m_archive.Find(workbookPart);
        if (!workbookEntry)
            throw SpreadsheetError(ErrorCode::Corrupt, "the package holds no workbook part");

        WorkbookHandler workbook;
        ParsePart(m_archive, *workbookEntry, workbook, {});
        data.dateSystem = workbook.date1904 ? numfmt::DateSystem::Date1904 : numfmt::DateSystem::Date1900;
        m_dateSystem = data.dateSystem;

        const auto relationships = ReadRelationships(m_archive, workbookPart);
        const std::string folder = FolderOf(workbookPart);
        ContentTypesHandler contentTypes;
        if (const ZipEntry* types = m_archive.Find("[Content_Types].xml"))
            ParsePart(m_archive, *types, contentTypes, {});

        for (const auto& sheet : workbook.sheets) {
            const Relationship* relationship = nullptr;
            if (relationships) {
                const auto it = relationships->byId.find(sheet.relationshipId);
                if (it != relationships->byId.end())
                    relationship = &it->second;
            }
            if (!relationship || relationship->external)
                throw SpreadsheetError(
                    ErrorCode::Corrupt, "the sheet \"" + sheet.name + "\" names no part of the package");
            if (!IsWorksheet(*relationship, contentTypes))
                continue;
            data.sheets.push_back({ sheet.name, sheet.visibility });
            m_sheetParts.push_back(relationship->target);
        }

        const Relationship* styles = relationships ? relationships->OfType("/styles") : nullptr;
        const ZipEntry* stylesEntry = m_archive.Find(styles ? styles->target : folder + "styles.xml");
        if (stylesEntry) {
            StylesHandler handler(data.formats);
            ParsePart(m_archive, *stylesEntry, handler, m_yield);
        }

        const Relationship* strings = relationships ? relationships->OfType("/sharedStrings") : nullptr;
        const ZipEntry* stringsEntry = m_archive.Find(strings ? strings->target : folder + "sharedStrings.xml");
        if (stringsEntry) {
            SharedStringsHandler handler(data.sharedStrings, m_bytes->Bytes().size());
            ParsePart(m_archive, *stringsEntry, handler, m_yield);
        }
        RequireBudgetForSheets();
    }

    void LoadSheet(size_t index, SheetBuilder& builder) override
    {
        if (index >= m_sheetParts.size())
            throw SpreadsheetError(ErrorCode::Corrupt, "there is no such worksheet");
        const ZipEntry* entry = m_archive.Find(m_sheetParts[index]);
        if (!entry)
            throw SpreadsheetError(ErrorCode::Corrupt, "the part " + m_sheetParts[index] + " is missing");
        WorksheetHandler handler(builder, m_dateSystem);
        CellDirectPath cells(handler);
        xml::ScanXmlMember(m_archive, *entry, handler, m_yield, &cells);
    }

    uint64_t SheetBytes(size_t index) const override
    {
        const ZipEntry* entry = index < m_sheetParts.size() ? m_archive.Find(m_sheetParts[index]) : nullptr;
        return entry ? entry->uncompressedSize : UINT64_MAX;
    }

private:
    // Exporting reads every worksheet once: a workbook whose worksheets declare more than
    // the inflate budget leaves (many sheets pointing at one large part) is refused now,
    // before seconds of work on the first of them.
    void RequireBudgetForSheets() const
    {
        uint64_t total = 0; // saturating: a ZIP64 size may be anything
        for (const std::string& part : m_sheetParts) {
            const ZipEntry* entry = m_archive.Find(part);
            const uint64_t size = entry ? entry->uncompressedSize : 0;
            total = size > UINT64_MAX - total ? UINT64_MAX : total + size;
        }
        if (total > m_archive.InflateBudgetLeft())
            throw SpreadsheetError(ErrorCode::TooLarge,
                "its " + std::to_string(m_sheetParts.size()) + " worksheets would inflate to " + std::to_string(total)
                    + " bytes in all, more than a workbook of " + std::to_string(m_bytes->Bytes().size())
                    + " bytes can hold");
    }

    // Worksheets by relationship type; chart, dialog and macro sheets are something else.
    // A part whose relationship type is unknown counts by its content type.
    static bool IsWorksheet(const Relationship& relationship, const ContentTypesHandler& contentTypes)
    {
        if (EndsWith(relationship.type, "/worksheet"))
            return true;
        if (EndsWith(relationship.type, "/chartsheet") || EndsWith(relationship.type, "/dialogsheet")
            || EndsWith(relationship.type, "/xlMacrosheet") || EndsWith(relationship.type, "/xlIntlMacrosheet"))
            return false;
        const auto type = contentTypes.byPart.find(relationship.target);
        return type != contentTypes.byPart.end() && EndsWith(type->second, ".worksheet+xml");
    }

    std::shared_ptr<const FileBytes> m_bytes;
    ZipArchive m_archive;
    std::function<void()> m_yield;
    numfmt::DateSystem m_dateSystem = numfmt::DateSystem::Date1900;
    std::vector<std::string> m_sheetParts;
};

} // namespace

std::unique_ptr<WorkbookReader> OpenReader(const ReaderContext& context, WorkbookData& data)
{
    auto reader = std::make_unique<XlsxReader>(context.bytes, context.yield);
    reader->Open(data);
    return reader;
}

} // namespace vellumcast::spreadsheet::xlsx
