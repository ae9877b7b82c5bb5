#include "spreadsheet/ods/OdsXmlScanner.h"
#include "spreadsheet/xml/ByteSearch.h"
#include "spreadsheet/xml/XmlText.h"

#include <array>
#include <cstring>
#include <iterator>

namespace vellumcast::spreadsheet::ods {

namespace {

using xml::FindAnyOf;
using xml::FindByte;

constexpr auto kSpace = [] {
    std::array<bool, 256> table {};
    table[' '] = table['\t'] = table['\n'] = table['\r'] = true;
    return table;
}();

// The bytes that end an attribute name when walking back from its '='.
constexpr auto kNameStop = [] {
    std::array<bool, 256> table = kSpace;
    table['"'] = table['\''] = true;
    return table;
}();

bool IsXmlSpace(char c)
{
    return kSpace[static_cast<uint8_t>(c)];
}

// a[0, n) == b[0, n), for the short names of attributes: a few fixed-size loads
// rather than a library call.
[[gnu::always_inline]] inline bool SameBytes(const char* a, const char* b, size_t n)
{
    const auto load8 = [](const char* p) {
        uint64_t v;
        std::memcpy(&v, p, 8);
        return v;
    };
    const auto load4 = [](const char* p) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    };
    if (n >= 8) {
        for (size_t at = 0; at + 8 < n; at += 8) {
            if (load8(a + at) != load8(b + at))
                return false;
        }
        return load8(a + n - 8) == load8(b + n - 8);
    }
    if (n >= 4)
        return load4(a) == load4(b) && load4(a + n - 4) == load4(b + n - 4);
    for (size_t at = 0; at < n; ++at) {
        if (a[at] != b[at])
            return false;
    }
    return true;
}

// Where FastAttributes keeps an attribute of a cell that GetCell gives. The value
// attributes follow the type's, in the order of OdsValueType.
enum CellSlot : uint8_t {
    kNoSlot,
    kColumnsRepeated,
    kColumnsSpanned,
    kRowsSpanned,
    kFormula,
    kValueType,
    kSlotCount = kValueType + 6
};

// The slot of a value type's value attribute.
constexpr uint8_t ValueSlotOf(OdsValueType type)
{
    return static_cast<uint8_t>(kValueType + static_cast<uint8_t>(type));
}
static_assert(ValueSlotOf(OdsValueType::String) + 1 == kSlotCount);

// The slot of the attribute with this namespace and local name.
uint8_t CellSlotOf(OdsNs ns, std::string_view local)
{
    if (ns == OdsNs::Table) {
        if (local == "number-columns-repeated")
            return kColumnsRepeated;
        if (local == "number-columns-spanned")
            return kColumnsSpanned;
        if (local == "number-rows-spanned")
            return kRowsSpanned;
        if (local == "formula")
            return kFormula;
    } else if (ns == OdsNs::Office) {
        if (local == "value-type")
            return kValueType;
        for (const OdsValueType type : { OdsValueType::Number, OdsValueType::Date, OdsValueType::Time,
                 OdsValueType::Boolean, OdsValueType::String }) {
            if (local == OdsValueAttributeOf(type))
                return ValueSlotOf(type);
        }
    }
    return kNoSlot;
}

// The attributes of a cell read by the direct path: those of the two namespaces the
// handler asks about in a cell.
class FastAttributes final : public OdsAttributes {
public:
    // Plain data, so that the unused entries cost nothing to construct.
    struct Entry {
        OdsNs ns;
        const char* local;
        size_t localSize;
        const char* value;
        size_t valueSize;
    };
    std::string_view Get(OdsNs ns, std::string_view localName) const override
    {
        for (size_t i = 0; i < count; ++i) {
            const Entry& entry = entries[i];
            if (entry.ns == ns && entry.localSize == localName.size()
                && SameBytes(entry.local, localName.data(), localName.size()))
                return std::string_view(entry.value, entry.valueSize);
        }
        return {};
    }
    // The cell's attributes as the scanner sorted them while reading the start tag, each
    // name once for the document rather than for every cell.
    OdsCellAttributes GetCell() const override
    {
        OdsCellAttributes cell;
        cell.columnsRepeated = slots[kColumnsRepeated];
        cell.columnsSpanned = slots[kColumnsSpanned];
        cell.rowsSpanned = slots[kRowsSpanned];
        cell.formula = slots[kFormula];
        cell.valueType = slots[kValueType];
        cell.type = OdsValueTypeOf(cell.valueType);
        if (cell.type != OdsValueType::None)
            cell.value = slots[ValueSlotOf(cell.type)];
        return cell;
    }
    std::array<Entry, 8> entries; // the first count are set
    size_t count = 0;
    // The attributes GetCell gives, by CellSlotOf; kNoSlot takes the others.
    std::array<std::string_view, kSlotCount> slots {};
};

class NoAttributes final : public OdsAttributes {
public:
    std::string_view Get(OdsNs, std::string_view) const override { return {}; }
};

[[gnu::always_inline]] inline bool StartsWithAt(std::string_view buffer, size_t at, std::string_view what)
{
    return buffer.size() - at >= what.size() && SameBytes(buffer.data() + at, what.data(), what.size());
}

[[gnu::always_inline]] inline bool HasPrefix(std::string_view name, std::string_view prefix)
{
    return name.size() >= prefix.size() && SameBytes(name.data(), prefix.data(), prefix.size());
}

// The first byte in [from, end) that ends an attribute's name: '=', or white space, a
// quote, '<' or '>' when the name is not followed at once by its value. end when
// there is none.
const char* FindNameEnd(const char* from, const char* end)
{
    return FindAnyOf<'=', '<', '>', '"', '\'', ' ', '\t', '\n', '\r'>(from, end);
}

// The first byte in [from, end) that ends a value the direct path can take as written:
// its closing quote, or a reference, a '<' or white space other than ' ', which need
// the general path. end when there is none.
const char* FindPlainValueEnd(const char* from, const char* end, char quote)
{
    return quote == '"' ? FindAnyOf<'"', '&', '<', '\t', '\n', '\r'>(from, end)
                        : FindAnyOf<'\'', '&', '<', '\t', '\n', '\r'>(from, end);
}

// An attribute name the direct path may take: a name, with a declared prefix if any.
bool IsPlainAttributeName(std::string_view name, const xml::XmlScanner& scanner)
{
    if (!xml::IsName(name))
        return false;
    const size_t colon = name.find(':');
    if (colon == std::string_view::npos)
        return true;
    return colon > 0 && colon + 1 < name.size() && name.find(':', colon + 1) == std::string_view::npos
        && xml::IsNameStart(static_cast<unsigned char>(name[colon + 1])) && scanner.Lookup(name.substr(0, colon));
}

// Character data the direct path may take as the general path would: no control
// character XML refuses, valid UTF-8.
bool IsAcceptedText(std::string_view text, bool attribute, unsigned& check)
{
    check = xml::CheckText(text.data(), text.data() + text.size(), attribute);
    return !(check & xml::kBad) && (attribute || text.find("]]>") == std::string_view::npos)
        && (!(check & xml::kNonAscii)
            || xml::IsValidUtf8(reinterpret_cast<const unsigned char*>(text.data()),
                reinterpret_cast<const unsigned char*>(text.data() + text.size())));
}

} // namespace

OdsXmlScanner::OdsXmlScanner(OdsContentHandler& handler, bool directCells)
    : m_handler(handler)
    , m_adapter(handler)
    , m_scanner(m_adapter, directCells ? this : nullptr)
{
    m_adapter.SetStop([this] { m_scanner.Stop(); });
    m_adapter.SetSkip([this] { m_scanner.SkipContent(); });
}

void OdsXmlScanner::Feed(std::string_view piece, bool final)
{
    m_scanner.Feed(piece, final);
}

// True when name may be taken by the direct path. The few names of a document's cells
// are checked once each under the same bindings.
// The '=' after an attribute name already found valid, when one starts at from: cells
// repeat a few names, which are cheaper to compare than to find the end of. The name
// that came at this place in the last cell is tried first.
const char* OdsXmlScanner::KnownNameEnd(const char* from, const char* end, size_t place, size_t& index)
{
    const auto room = static_cast<size_t>(end - from);
    uint8_t& guess = m_fast.lastAt[place % m_fast.lastAt.size()];
    for (size_t tried = 0; tried < m_fast.knownCount; ++tried) {
        const size_t k = (guess + tried) % m_fast.knownCount;
        const std::string& known = m_fast.known[k];
        if (room > known.size() && from[known.size()] == '=' && SameBytes(from, known.data(), known.size())) {
            guess = static_cast<uint8_t>(k);
            index = k;
            return from + known.size();
        }
    }
    return nullptr;
}

bool OdsXmlScanner::KnownName(std::string_view name, const xml::XmlScanner& scanner, size_t& index)
{
    for (size_t k = 0; k < m_fast.knownCount; ++k) {
        const std::string& known = m_fast.known[k];
        if (known.size() == name.size() && SameBytes(known.data(), name.data(), name.size())) {
            index = k;
            return true;
        }
    }
    if (!IsPlainAttributeName(name, scanner))
        return false;
    index = m_fast.knownCount;
    if (index < m_fast.known.size()) {
        m_fast.known[index] = name;
        std::string_view local;
        Classify(name, m_fast.knownNs[index], local, m_fast.knownSlot[index]);
        ++m_fast.knownCount;
    }
    return true;
}

// The namespace, local name and cell slot of a qualified attribute name.
void OdsXmlScanner::Classify(std::string_view name, OdsNs& ns, std::string_view& local, uint8_t& slot) const
{
    ns = OdsNs::Other;
    local = {};
    if (HasPrefix(name, m_fast.tablePrefix)) {
        ns = OdsNs::Table;
        local = name.substr(m_fast.tablePrefix.size());
    } else if (HasPrefix(name, m_fast.officePrefix)) {
        ns = OdsNs::Office;
        local = name.substr(m_fast.officePrefix.size());
    }
    slot = CellSlotOf(ns, local);
}

// The qualified names the direct path compares with, from the bindings in scope. It is
// used only when the table, text and office namespaces each have exactly one prefix,
// so that a name written otherwise cannot mean the same thing.
void OdsXmlScanner::PrepareFastCells(const xml::XmlScanner& scanner)
{
    m_fast = {};
    m_fast.version = scanner.BindingsVersion();
    const std::vector<std::string_view> bound = scanner.BoundPrefixes();
    const auto prefixOf = [&](OdsNs ns, std::string& prefix) {
        int found = 0;
        for (const std::string_view candidate : bound) {
            const std::string* uri = scanner.Lookup(candidate);
            if (!uri || OdsNamespaceOf(*uri) != ns)
                continue;
            if (candidate.empty() || (found > 0 && candidate != prefix))
                return false;
            prefix = candidate;
            found = 1;
        }
        return found == 1;
    };
    std::string table, text, office;
    if (!prefixOf(OdsNs::Table, table) || !prefixOf(OdsNs::Text, text) || !prefixOf(OdsNs::Office, office))
        return;
    m_fast.cell = "<" + table + ":table-cell";
    m_fast.coveredCell = "<" + table + ":covered-table-cell";
    m_fast.cellEnd = "</" + table + ":table-cell";
    m_fast.coveredCellEnd = "</" + table + ":covered-table-cell";
    m_fast.paragraph = "<" + text + ":p";
    m_fast.paragraphEnd = "</" + text + ":p>";
    m_fast.tablePrefix = table + ":";
    m_fast.officePrefix = office + ":";
    m_fast.usable = true;
}

// Reads the cell at the start of buffer when it is complete there and written the usual
// way, handing the handler exactly the events the general path would. Returns the bytes
// it used, or 0 to leave the cell to the general path.
size_t OdsXmlScanner::ReadElement(std::string_view buffer, const xml::XmlScanner& scanner)
{
    if (!m_handler.AtRowLevel())
        return 0;
    if (m_fast.version != scanner.BindingsVersion())
        PrepareFastCells(scanner);
    if (!m_fast.usable || scanner.Depth() + 2 > static_cast<size_t>(xml::kMaxDepth))
        return 0;
    constexpr size_t pos = 0;
    const char* data = buffer.data();
    const size_t size = buffer.size();
    bool covered = false;
    size_t i;
    if (StartsWithAt(buffer, pos, m_fast.cell)) {
        i = pos + m_fast.cell.size();
    } else if (StartsWithAt(buffer, pos, m_fast.coveredCell)) {
        covered = true;
        i = pos + m_fast.coveredCell.size();
    } else {
        return 0;
    }
    // The start tag's attributes.
    FastAttributes attributes;
    // Every attribute's name, to refuse one given twice. Left uninitialised: zeroing it
    // for every cell cost more than reading the cell's attributes.
    struct NameSpan {
        const char* data;
        size_t size;
    };
    NameSpan names[16];
    size_t nameCount = 0;
    bool empty = false;
    for (;;) {
        if (i >= size)
            return 0;
        const char c = data[i];
        if (c == '>') {
            ++i;
            break;
        }
        if (c == '/') {
            if (i + 1 >= size || data[i + 1] != '>')
                return 0;
            empty = true;
            i += 2;
            break;
        }
        if (!IsXmlSpace(c))
            return 0;
        while (i < size && IsXmlSpace(data[i]))
            ++i;
        if (i < size && (data[i] == '>' || data[i] == '/'))
            continue;
        // White space before '=', a declaration, a reference or a line end in a value:
        // the general way.
        size_t index = 0; // of the name among the known ones
        const char* equals = KnownNameEnd(data + i, data + size, nameCount, index);
        const bool known = equals != nullptr;
        if (!known) {
            equals = FindNameEnd(data + i, data + size);
            if (equals == data + size || *equals != '=')
                return 0;
        }
        const std::string_view name(data + i, static_cast<size_t>(equals - (data + i)));
        if (equals + 1 >= data + size || nameCount == std::size(names))
            return 0;
        const char quote = equals[1];
        if ((quote != '"' && quote != '\'')
            || (!known && (name.starts_with("xmlns") || !KnownName(name, scanner, index))))
            return 0;
        for (size_t k = 0; k < nameCount; ++k) {
            if (std::string_view(names[k].data, names[k].size) == name)
                return 0;
        }
        names[nameCount++] = { name.data(), name.size() };
        const char* close = FindPlainValueEnd(equals + 2, data + size, quote);
        if (close == data + size || *close != quote)
            return 0;
        const std::string_view value(equals + 2, static_cast<size_t>(close - equals - 2));
        unsigned check = 0;
        if (!IsAcceptedText(value, true, check))
            return 0;
        i = static_cast<size_t>(close + 1 - data);
        // A known name was sorted when first met; one past the list is sorted each time.
        OdsNs ns;
        std::string_view local;
        uint8_t slot;
        if (index < m_fast.knownCount) {
            ns = m_fast.knownNs[index];
            slot = m_fast.knownSlot[index];
            local = name.substr(ns == OdsNs::Table ? m_fast.tablePrefix.size()
                    : ns == OdsNs::Office          ? m_fast.officePrefix.size()
                                                   : 0);
        } else {
            Classify(name, ns, local, slot);
        }
        if (ns == OdsNs::Other)
            continue;
        if (attributes.count == attributes.entries.size())
            return 0;
        attributes.entries[attributes.count++] = { ns, local.data(), local.size(), value.data(), value.size() };
        attributes.slots[slot] = value;
    }
    // The content: plain paragraphs, perhaps with white space between them.
    std::array<std::string_view, 4> paragraphs; // the first paragraphCount are set
    size_t paragraphCount = 0;
    if (!empty) {
        const std::string& end = covered ? m_fast.coveredCellEnd : m_fast.cellEnd;
        for (;;) {
            while (i < size && IsXmlSpace(data[i]))
                ++i;
            if (i >= size || data[i] != '<')
                return 0;
            if (StartsWithAt(buffer, i, end)) {
                i += end.size();
                while (i < size && IsXmlSpace(data[i]))
                    ++i;
                if (i >= size || data[i] != '>')
                    return 0;
                ++i;
                break;
            }
            if (covered || paragraphCount == paragraphs.size() || !StartsWithAt(buffer, i, m_fast.paragraph))
                return 0;
            i += m_fast.paragraph.size();
            if (i + 1 < size && data[i] == '/' && data[i + 1] == '>') {
                paragraphs[paragraphCount++] = std::string_view();
                i += 2;
                continue;
            }
            if (i >= size || data[i] != '>')
                return 0;
            ++i;
            const char* lt = FindByte(data + i, data + size, '<');
            if (lt == data + size)
                return 0;
            std::string_view text(data + i, static_cast<size_t>(lt - (data + i)));
            unsigned check = 0;
            if (!IsAcceptedText(text, false, check))
                return 0;
            if (check & xml::kDecode) {
                // References are replaced here; one the general path would refuse is left to it.
                std::string& decoded = m_fastTexts[paragraphCount];
                decoded.clear();
                try {
                    xml::AppendDecoded(text, false, decoded);
                } catch (const SpreadsheetError&) {
                    return 0;
                }
                text = decoded;
            }
            i = static_cast<size_t>(lt - data);
            if (!StartsWithAt(buffer, i, m_fast.paragraphEnd))
                return 0;
            i += m_fast.paragraphEnd.size();
            paragraphs[paragraphCount++] = text;
        }
    }
    // The same events as the general path gives.
    const std::string_view cellName = covered ? "covered-table-cell" : "table-cell";
    m_handler.StartElement(OdsNs::Table, cellName, attributes);
    const NoAttributes none;
    for (size_t k = 0; k < paragraphCount; ++k) {
        m_handler.StartElement(OdsNs::Text, "p", none);
        if (!paragraphs[k].empty())
            m_handler.Characters(paragraphs[k]);
        m_handler.EndElement(OdsNs::Text, "p");
    }
    m_handler.EndElement(OdsNs::Table, cellName);
    return i;
}

} // namespace vellumcast::spreadsheet::ods
