#include "spreadsheet/xlsx/XlsxPackage.h"

#include "spreadsheet/SpreadsheetError.h"

#include "spreadsheet/xml/Xml.h"

namespace vellumcast::spreadsheet::xlsx {

namespace {

using container::ZipArchive;
using container::ZipEntry;
using xml::XmlAttributes;

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

// A package lists a few parts besides its sheets: twice as many entries as it may list
// sheets are far more than a real one needs.
void RequireRoomForPart(size_t listed, uint64_t fileSize, const char* what)
{
    RequireRoomInList(listed, 2 * ListLimit(fileSize), fileSize, what);
}

class RelationshipsHandler final : public xml::XmlHandler {
public:
    RelationshipsHandler(std::string baseFolder, uint64_t fileSize)
        : m_base(std::move(baseFolder))
        , m_fileSize(fileSize)
    {
    }

    void StartElement(std::string_view, std::string_view localName, const XmlAttributes& attributes) override
    {
        if (localName != "Relationship")
            return;
        RequireRoomForPart(found.order.size(), m_fileSize, "relationships");
        Relationship relationship;
        relationship.type = std::string(attributes.Get("Type"));
        relationship.external = attributes.Get("TargetMode") == "External";
        relationship.target = relationship.external ? std::string(attributes.Get("Target"))
                                                    : container::ResolvePartPath(m_base, attributes.Get("Target"));
        const std::string id(attributes.Get("Id"));
        found.order.push_back(id);
        found.byId.try_emplace(id, std::move(relationship));
    }
    void EndElement(std::string_view, std::string_view) override { }

    Relationships found;

private:
    std::string m_base;
    uint64_t m_fileSize;
};

std::optional<Relationships> ReadRelationships(const ZipArchive& archive, std::string_view ofPart)
{
    const std::string path = ofPart.empty() ? std::string("_rels/.rels") : RelationshipsPartOf(ofPart);
    const ZipEntry* entry = archive.Find(path);
    if (!entry)
        return std::nullopt;
    RelationshipsHandler handler(FolderOf(ofPart), archive.Size());
    xml::ParseXmlMember(archive, *entry, handler);
    return std::move(handler.found);
}

// [Content_Types].xml overrides: part name → content type.
class ContentTypesHandler final : public xml::XmlHandler {
public:
    ContentTypesHandler(std::unordered_map<std::string, std::string>& byPart, uint64_t fileSize)
        : m_byPart(byPart)
        , m_fileSize(fileSize)
    {
    }

    void StartElement(std::string_view, std::string_view localName, const XmlAttributes& attributes) override
    {
        if (localName != "Override")
            return;
        RequireRoomForPart(m_byPart.size(), m_fileSize, "content types");
        std::string_view part = attributes.Get("PartName");
        while (!part.empty() && part.front() == '/')
            part.remove_prefix(1);
        m_byPart.try_emplace(std::string(part), std::string(attributes.Get("ContentType")));
    }
    void EndElement(std::string_view, std::string_view) override { }

private:
    std::unordered_map<std::string, std::string>& m_byPart;
    uint64_t m_fileSize;
};

} // namespace

const Relationship* Relationships::OfType(std::string_view suffix) const
{
    for (const auto& id : order) {
        const Relationship& relationship = byId.at(id);
        if (!relationship.external && EndsWith(relationship.type, suffix))
            return &relationship;
    }
    return nullptr;
}

SharedStringBudget::SharedStringBudget(uint64_t fileSize)
    : m_fileSize(fileSize)
    , m_maxStrings((uint64_t { 1 } << 20) + 2 * fileSize)
    , m_textLeft((uint64_t { 64 } << 20) + 64 * fileSize)
{
}

void SharedStringBudget::Count(size_t index) const
{
    if (index >= m_maxStrings)
        throw SpreadsheetError(ErrorCode::TooLarge,
            "it holds more than " + std::to_string(m_maxStrings) + " shared strings, more than a workbook of "
                + std::to_string(m_fileSize) + " bytes can");
}

void SharedStringBudget::Text(size_t index, size_t held, size_t bytes)
{
    if (held + bytes > kMaxStringText)
        throw SpreadsheetError(ErrorCode::TooLarge,
            "shared string " + std::to_string(index) + " holds more than " + std::to_string(kMaxStringText)
                + " bytes of text, more than the engine accepts");
    if (bytes > m_textLeft)
        throw SpreadsheetError(ErrorCode::TooLarge,
            "its shared strings hold more text than a workbook of " + std::to_string(m_fileSize) + " bytes can");
    m_textLeft -= bytes;
}

WorkbookPackage::WorkbookPackage(std::shared_ptr<const ZipArchive> archive, std::string_view usualPart)
    : m_package(std::move(archive))
    , m_archive(*m_package)
{
    m_archive.RequireUniqueNames();
    if (const auto root = ReadRelationships(m_archive, {})) {
        if (const Relationship* office = root->OfType("/officeDocument"); office && m_archive.Find(office->target))
            m_workbookPart = office->target;
    }
    if (m_workbookPart.empty())
        m_workbookPart = std::string(usualPart);
    m_workbook = m_archive.Find(m_workbookPart);
    if (!m_workbook)
        throw SpreadsheetError(ErrorCode::Corrupt, "the package holds no workbook part");
    m_relationships = ReadRelationships(m_archive, m_workbookPart);
    if (const ZipEntry* types = m_archive.Find("[Content_Types].xml")) {
        ContentTypesHandler handler(m_contentTypes, m_archive.Size());
        xml::ParseXmlMember(m_archive, *types, handler);
    }
}

const ZipEntry* WorkbookPackage::RelatedPart(std::string_view typeSuffix, std::string_view usualName) const
{
    const Relationship* related = m_relationships ? m_relationships->OfType(typeSuffix) : nullptr;
    return m_archive.Find(related ? related->target : FolderOf(m_workbookPart) + std::string(usualName));
}

void WorkbookPackage::AddWorksheets(const std::vector<ListedSheet>& listed, WorkbookData& data)
{
    for (const auto& sheet : listed) {
        const Relationship* relationship = nullptr;
        if (m_relationships) {
            const auto it = m_relationships->byId.find(sheet.relationshipId);
            if (it != m_relationships->byId.end())
                relationship = &it->second;
        }
        // One damaged entry of the list does not make the rest unreadable.
        if (!relationship || relationship->external) {
            data.warnings.push_back("the sheet \"" + sheet.name + "\" names no part of the package; it is passed over");
            continue;
        }
        OtherSheetKind kind {};
        const PartKind part = KindOf(*relationship, kind);
        if (part == PartKind::Other)
            data.otherSheets.push_back({ sheet.name, kind, sheet.visibility, data.sheets.size() });
        if (part != PartKind::Worksheet)
            continue;
        data.sheets.push_back({ sheet.name, sheet.visibility });
        m_sheetParts.push_back(relationship->target);
    }
}

const ZipEntry& WorkbookPackage::SheetPart(size_t index) const
{
    if (index >= m_sheetParts.size())
        throw SpreadsheetError(ErrorCode::Corrupt, "there is no such worksheet");
    const ZipEntry* entry = m_archive.Find(m_sheetParts[index]);
    if (!entry)
        throw SpreadsheetError(ErrorCode::Corrupt, "the part " + m_sheetParts[index] + " is missing");
    return *entry;
}

uint64_t WorkbookPackage::SheetBytes(size_t index) const
{
    const ZipEntry* entry = index < m_sheetParts.size() ? m_archive.Find(m_sheetParts[index]) : nullptr;
    return entry ? entry->uncompressedSize : UINT64_MAX;
}

// Worksheets by relationship type; chart, dialog and macro sheets are something else.
// A part whose relationship type is unknown counts by its content type.
WorkbookPackage::PartKind WorkbookPackage::KindOf(const Relationship& relationship, OtherSheetKind& kind) const
{
    if (EndsWith(relationship.type, "/worksheet"))
        return PartKind::Worksheet;
    kind = EndsWith(relationship.type, "/chartsheet") ? OtherSheetKind::Chart
        : EndsWith(relationship.type, "/dialogsheet") ? OtherSheetKind::Dialog
                                                      : OtherSheetKind::Macro;
    if (EndsWith(relationship.type, "/chartsheet") || EndsWith(relationship.type, "/dialogsheet")
        || EndsWith(relationship.type, "/xlMacrosheet") || EndsWith(relationship.type, "/xlIntlMacrosheet"))
        return PartKind::Other;
    const auto type = m_contentTypes.find(relationship.target);
    return type != m_contentTypes.end()
            && (EndsWith(type->second, ".worksheet+xml") || EndsWith(type->second, ".worksheet"))
        ? PartKind::Worksheet
        : PartKind::None;
}

void WorkbookPackage::RequireBudgetForSheets() const
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
                + " bytes in all, more than a workbook of " + std::to_string(FileSize()) + " bytes can hold");
}

} // namespace vellumcast::spreadsheet::xlsx
