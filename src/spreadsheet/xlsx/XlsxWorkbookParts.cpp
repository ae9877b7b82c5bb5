#include "spreadsheet/xlsx/XlsxWorkbookParts.h"
#include "spreadsheet/xlsx/XlsxText.h"
#include "spreadsheet/xml/Xml.h"

#include <optional>
#include <unordered_map>

namespace vellumcast::spreadsheet::xlsx {

namespace {

using xml::XmlAttributes;

class WorkbookHandler final : public xml::XmlHandler {
public:
    explicit WorkbookHandler(uint64_t fileSize)
        : m_fileSize(fileSize)
    {
    }

    void StartElement(std::string_view, std::string_view localName, const XmlAttributes& attributes) override
    {
        if (localName == "workbookPr") {
            date1904 = IsTrue(attributes.Get("date1904"));
        } else if (localName == "sheets") {
            m_inSheets = true;
        } else if (localName == "sheet" && m_inSheets) {
            RequireRoomInList(sheets.size(), ListLimit(m_fileSize), m_fileSize, "sheets");
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
        } else if (localName == "definedName") {
            // <definedName name="Rate" localSheetId="0">Sheet1!$B$1</definedName>
            formula::DefinedName& name = names.emplace_back();
            name.name = std::string(attributes.Get("name"));
            int32_t scope = -1;
            name.scope = ParseInteger(attributes.Get("localSheetId"), scope) ? scope : -1;
            m_inName = true;
        }
    }
    void EndElement(std::string_view, std::string_view localName) override
    {
        if (localName == "sheets")
            m_inSheets = false;
        else if (localName == "definedName")
            m_inName = false;
    }
    void Characters(std::string_view text) override
    {
        if (!m_inName)
            return;
        // Names are formulas of a few hundred characters at most; no more is kept of one.
        std::string& body = names.back().body;
        body.append(text.substr(0, std::min(text.size(), size_t { 1 } << 16)));
        if (body.size() > (size_t { 1 } << 16))
            body.clear(), m_inName = false;
    }

    static constexpr std::string_view kRelationships
        = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    static constexpr std::string_view kStrictRelationships = "http://purl.oclc.org/ooxml/officeDocument/relationships";

    bool date1904 = false;
    std::vector<ListedSheet> sheets;
    std::vector<formula::DefinedName> names;

private:
    uint64_t m_fileSize;
    bool m_inSheets = false;
    bool m_inName = false;
};

// The shared string table: each <si> is its <t>, or its rich-text runs' <t> joined;
// phonetic runs (<rPh>) are not part of the text.
class SharedStringsHandler final : public xml::XmlHandler {
public:
    SharedStringsHandler(SharedStringTable& into, uint64_t fileSize)
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
    SharedStringTable& m_strings;
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
        } else if (localName == "numFmt" && m_inDxf) {
            // A differential format's own number format, by code or built-in id.
            int id = 0;
            const std::string_view code = attributes.Get("formatCode");
            if (!code.empty())
                dxfCodes.back() = std::string(code);
            else if (ParseInteger(attributes.Get("numFmtId"), id))
                dxfCodes.back() = std::string(numfmt::BuiltInFormatCode(id));
        } else if (localName == "dxf" && m_inDxfs) {
            m_inDxf = true;
            dxfCodes.emplace_back();
        } else if (localName == "dxfs") {
            m_inDxfs = true;
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
        else if (localName == "dxf")
            m_inDxf = false;
        else if (localName == "dxfs")
            m_inDxfs = false;
        else if (localName == "cellXfs" && m_depth == m_cellXfsDepth)
            m_cellXfsDepth = 0;
        --m_depth;
    }

    // The number format code of each differential format, empty for one without.
    std::vector<std::optional<std::string>> dxfCodes;

private:
    CellFormats& m_formats;
    std::unordered_map<int, std::string> m_custom;
    int m_depth = 0;
    int m_cellXfsDepth = 0;
    bool m_inNumFmts = false;
    bool m_inDxfs = false;
    bool m_inDxf = false;
};

} // namespace

WorkbookPart ReadWorkbookPart(const container::ZipArchive& archive, const container::ZipEntry& entry)
{
    WorkbookHandler handler(archive.Size());
    xml::ParseXmlMember(archive, entry, handler, {});
    return WorkbookPart { handler.date1904, std::move(handler.sheets), std::move(handler.names) };
}

std::vector<uint32_t> ReadStyles(const container::ZipArchive& archive, const container::ZipEntry& entry,
    CellFormats& formats, const std::function<void()>& yield)
{
    StylesHandler handler(formats);
    xml::ParseXmlMember(archive, entry, handler, yield);
    // The styles of the differential formats follow every cell style, whatever order the
    // part gives them in, so that a cell's style index stays its xf's.
    std::vector<uint32_t> dxfStyles;
    for (const auto& code : handler.dxfCodes)
        dxfStyles.push_back(code ? formats.AddStyle(*code) : kNoDxfStyle);
    return dxfStyles;
}

void ReadSharedStrings(const container::ZipArchive& archive, const container::ZipEntry& entry,
    SharedStringTable& strings, uint64_t fileSize, const std::function<void()>& yield)
{
    SharedStringsHandler handler(strings, fileSize);
    xml::ParseXmlMember(archive, entry, handler, yield);
}

} // namespace vellumcast::spreadsheet::xlsx
