// The Office Open XML workbook reader (xlsx, xlsm, xltx, xltm). Opening reads the package
// relationships, the workbook part, the shared strings and the styles; a worksheet's XML is
// inflated in chunks and parsed as it arrives, straight into a SheetBuilder.

#include "spreadsheet/xlsx/XlsxReader.h"
#include "spreadsheet/container/Zip.h"
#include "spreadsheet/xlsx/XlsxCellPath.h"
#include "spreadsheet/xlsx/XlsxPackage.h"
#include "spreadsheet/xlsx/XlsxText.h"
#include "spreadsheet/xml/Xml.h"
#include "spreadsheet/xml/XmlScanner.h"

#include <charconv>
#include <cstring>
#include <unordered_map>

namespace vellumcast::spreadsheet::xlsx {

namespace {

using container::ZipArchive;
using container::ZipEntry;
using xml::XmlAttributes;

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

class WorkbookHandler final : public xml::XmlHandler {
public:
    void StartElement(std::string_view, std::string_view localName, const XmlAttributes& attributes) override
    {
        if (localName == "workbookPr") {
            date1904 = IsTrue(attributes.Get("date1904"));
        } else if (localName == "sheets") {
            m_inSheets = true;
        } else if (localName == "sheet" && m_inSheets) {
            ListedSheet sheet;
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
    std::vector<ListedSheet> sheets;

private:
    bool m_inSheets = false;
};

// The shared string table: each <si> is its <t>, or its rich-text runs' <t> joined;
// phonetic runs (<rPh>) are not part of the text.
class SharedStringsHandler final : public xml::XmlHandler {
public:
    SharedStringsHandler(std::vector<std::string>& into, uint64_t fileSize)
        : m_strings(into)
        , m_budget(fileSize)
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
            m_budget.Count(m_strings.size());
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
        m_budget.Text(m_strings.size(), m_text.size(), text.size());
        m_text.append(text);
    }

private:
    std::vector<std::string>& m_strings;
    SharedStringBudget m_budget;
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
    XlsxReader(std::shared_ptr<const ZipArchive> archive, std::function<void()> yield)
        : m_package(std::move(archive), "xl/workbook.xml")
        , m_yield(std::move(yield))
    {
    }

    void Open(WorkbookData& data)
    {
        const ZipArchive& archive = m_package.Archive();
        WorkbookHandler workbook;
        ParsePart(archive, m_package.WorkbookEntry(), workbook, {});
        data.dateSystem = workbook.date1904 ? numfmt::DateSystem::Date1904 : numfmt::DateSystem::Date1900;
        m_dateSystem = data.dateSystem;
        m_package.AddWorksheets(workbook.sheets, data.sheets);

        if (const ZipEntry* styles = m_package.RelatedPart("/styles", "styles.xml")) {
            StylesHandler handler(data.formats);
            ParsePart(archive, *styles, handler, m_yield);
        }
        if (const ZipEntry* strings = m_package.RelatedPart("/sharedStrings", "sharedStrings.xml")) {
            SharedStringsHandler handler(data.sharedStrings, m_package.FileSize());
            ParsePart(archive, *strings, handler, m_yield);
        }
        m_package.RequireBudgetForSheets();
    }

    void LoadSheet(size_t index, SheetBuilder& builder) override
    {
        const ZipEntry& entry = m_package.SheetPart(index);
        WorksheetHandler handler(builder, m_dateSystem);
        CellDirectPath cells(handler);
        xml::ScanXmlMember(m_package.Archive(), entry, handler, m_yield, &cells);
    }

    uint64_t SheetBytes(size_t index) const override { return m_package.SheetBytes(index); }

private:
    WorkbookPackage m_package;
    std::function<void()> m_yield;
    numfmt::DateSystem m_dateSystem = numfmt::DateSystem::Date1900;
};

} // namespace

std::unique_ptr<WorkbookReader> OpenReader(const ReaderContext& context, WorkbookData& data)
{
    auto reader = std::make_unique<XlsxReader>(context.Archive(), context.yield);
    reader->Open(data);
    return reader;
}

} // namespace vellumcast::spreadsheet::xlsx
