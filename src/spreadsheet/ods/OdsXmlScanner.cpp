#include "spreadsheet/ods/OdsXmlScanner.h"
#include "spreadsheet/xml/XmlText.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <deque>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vellumcast::spreadsheet::ods {

namespace {

using xml::kMaxDepth;
using xml::kMaxToken;
using xml::Malformed;

#if defined(__SSE2__)
// A bit for each of the sixteen bytes at p that is one of the space characters; with
// quotes, also for '"' and '\''.
template <bool quotes> unsigned SpaceMask(const char* p)
{
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i hit = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(block, _mm_set1_epi8('\t'))),
        _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('\n')), _mm_cmpeq_epi8(block, _mm_set1_epi8('\r'))));
    if constexpr (quotes)
        hit = _mm_or_si128(
            hit, _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('"')), _mm_cmpeq_epi8(block, _mm_set1_epi8('\''))));
    return static_cast<unsigned>(_mm_movemask_epi8(hit));
}
#endif

// memchr, with the short distances of most XML (a value, a number between two tags)
// searched inline first.
const char* FindByte(const char* from, const char* end, char c)
{
#if defined(__SSE2__)
    const __m128i wanted = _mm_set1_epi8(c);
    for (int step = 0; step < 4 && end - from >= 16; ++step) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        const auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, wanted)));
        if (mask != 0)
            return from + __builtin_ctz(mask);
        from += 16;
    }
#endif
    const char* shortEnd = end - from > 24 ? from + 24 : end;
    for (; from < shortEnd; ++from) {
        if (*from == c)
            return from;
    }
    if (from == end)
        return nullptr;
    return static_cast<const char*>(std::memchr(from, c, static_cast<size_t>(end - from)));
}

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

// Where an attribute name ending at end starts: just past the last space or quote in
// [begin, end), or begin when there is none.
const char* NameStart(const char* begin, const char* end)
{
#if defined(__SSE2__)
    while (end - begin >= 16) {
        const unsigned mask = SpaceMask<true>(end - 16);
        if (mask != 0)
            return end - 16 + (31 - __builtin_clz(mask)) + 1;
        end -= 16;
    }
#endif
    while (end > begin && !kNameStop[static_cast<uint8_t>(end[-1])])
        --end;
    return end;
}

// The first space character in [from, end), or end.
const char* FindSpace(const char* from, const char* end)
{
#if defined(__SSE2__)
    while (end - from >= 16) {
        const unsigned mask = SpaceMask<false>(from);
        if (mask != 0)
            return from + __builtin_ctz(mask);
        from += 16;
    }
#endif
    while (from < end && !kSpace[static_cast<uint8_t>(*from)])
        ++from;
    return from;
}

// A name of up to eight bytes as a number that, with its length, tells it from every
// other: its first and last four bytes (overlapping when shorter), or, below four bytes,
// each byte. Fixed-size loads, no loop.
uint64_t PackShort(std::string_view name)
{
    const char* p = name.data();
    const size_t n = name.size();
    if (n >= 4) {
        uint32_t head;
        uint32_t tail;
        std::memcpy(&head, p, 4);
        std::memcpy(&tail, p + n - 4, 4);
        return head | (uint64_t { tail } << 32);
    }
    if (n == 0)
        return 0;
    return uint64_t { static_cast<uint8_t>(p[0]) } | (uint64_t { static_cast<uint8_t>(p[n / 2]) } << 8)
        | (uint64_t { static_cast<uint8_t>(p[n - 1]) } << 16);
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

// The first byte in [from, end) that is one of Bytes, or nullptr: sixteen bytes at a
// time, each compared with every byte of the set.
template <char... Bytes> const char* FindAnyOf(const char* from, const char* end)
{
#if defined(__SSE2__)
    while (end - from >= 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        __m128i hit = _mm_setzero_si128();
        ((hit = _mm_or_si128(hit, _mm_cmpeq_epi8(block, _mm_set1_epi8(Bytes)))), ...);
        const int mask = _mm_movemask_epi8(hit);
        if (mask != 0)
            return from + __builtin_ctz(static_cast<unsigned>(mask));
        from += 16;
    }
#endif
    for (; from < end; ++from) {
        const char c = *from;
        if (((c == Bytes) || ...))
            return from;
    }
    return nullptr;
}

// The first of '<', '>', '"' or '\'' in [from, end), or end. Most of a document's bytes
// lie inside tags, so this is the scanner's inner loop.
const char* FindTagSpecial(const char* from, const char* end)
{
    const char* found = FindAnyOf<'<', '>', '"', '\''>(from, end);
    return found ? found : end;
}

size_t Find(std::string_view text, std::string_view what, size_t from)
{
    return text.find(what, from);
}

// Splits "prefix:local".
void SplitName(std::string_view name, std::string_view& prefix, std::string_view& local)
{
    // Names are short: a plain loop beats a library search. Most prefixes end within
    // the first eight bytes, found with one load (the lowest byte flagged by the
    // zero-byte test is exact).
    size_t colon = 0;
    if (std::endian::native == std::endian::little && name.size() >= 8) {
        uint64_t word;
        std::memcpy(&word, name.data(), 8);
        const uint64_t x = word ^ 0x3A3A3A3A3A3A3A3Aull;
        const uint64_t found = (x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull;
        colon = found != 0 ? static_cast<size_t>(__builtin_ctzll(found) / 8) : 8;
    }
    while (colon < name.size() && name[colon] != ':')
        ++colon;
    if (colon == name.size()) {
        prefix = {};
        local = name;
    } else {
        prefix = name.substr(0, colon);
        local = name.substr(colon + 1);
    }
}

} // namespace

// The attributes of one start tag, parsed once when the handler first asks for one.
class OdsXmlScanner::Attributes final : public OdsAttributes {
public:
    explicit Attributes(OdsXmlScanner& scanner)
        : m_scanner(scanner)
    {
    }

    std::string_view Get(OdsNs ns, std::string_view localName) const override
    {
        if (ns == OdsNs::Other)
            return {};
        for (const RawAttribute& attribute : m_scanner.m_raw) {
            const std::string_view name = attribute.name;
            // Attributes without a prefix belong to no namespace.
            if (name.size() <= localName.size() + 1)
                continue;
            const size_t colon = name.size() - localName.size() - 1;
            if (!SameBytes(name.data() + colon + 1, localName.data(), localName.size()))
                continue;
            if (name[colon] != ':' || m_scanner.Resolve(name.substr(0, colon)) != ns)
                continue;
            return Normalise(attribute.value);
        }
        return {};
    }

private:
    // Literal white space in a value reads as spaces (XML attribute normalisation);
    // references, decoded afterwards, keep the characters they name.
    std::string_view Normalise(std::string_view value) const
    {
        if (std::none_of(
                value.begin(), value.end(), [](char c) { return c == '&' || c == '\t' || c == '\n' || c == '\r'; }))
            return value;
        // Each value keeps its own string: the handler may hold several at once.
        std::string& out = m_scanner.m_values.emplace_back();
        xml::AppendDecoded(value, true, out);
        return out;
    }

    OdsXmlScanner& m_scanner;
};

OdsXmlScanner::OdsXmlScanner(OdsContentHandler& handler, bool directCells)
    : m_handler(handler)
    , m_directCells(directCells)
{
}

void OdsXmlScanner::Feed(std::string_view piece, bool final)
{
    if (m_finished || Stopped())
        return;
    // Finish a token cut by the previous piece, taking from this piece only what it needs.
    while (!m_carry.empty() && !piece.empty() && !Stopped()) {
        const size_t old = m_carry.size();
        const size_t take = std::min(piece.size(), std::max<size_t>(4096, old));
        m_carry.append(piece.substr(0, take));
        piece.remove_prefix(take);
        const size_t used = Scan(m_carry, final && piece.empty());
        if (used >= old) {
            const size_t back = m_carry.size() - used;
            piece = std::string_view(piece.data() - back, piece.size() + back);
            m_carry.clear();
        } else {
            m_carry.erase(0, used);
            if (m_carry.size() > kMaxToken)
                Malformed("a token longer than " + std::to_string(kMaxToken >> 20) + " MiB");
        }
    }
    if (m_carry.empty() && !Stopped()) {
        const size_t used = Scan(piece, final);
        m_carry.assign(piece.substr(used));
        if (m_carry.size() > kMaxToken)
            Malformed("a token longer than " + std::to_string(kMaxToken >> 20) + " MiB");
    }
    if (final && !Stopped())
        Finish();
}

void OdsXmlScanner::Finish()
{
    m_finished = true;
    if (!m_carry.empty()) {
        const bool onlySpace = std::all_of(m_carry.begin(), m_carry.end(), IsXmlSpace);
        if (!onlySpace)
            Malformed("the document ends inside a tag");
    }
    if (!m_sawRoot)
        Malformed("no element found");
    if (m_depth != 0)
        Malformed("the document ends before its elements are closed");
}

namespace {

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
    std::array<Entry, 8> entries; // the first count are set
    size_t count = 0;
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
// quote, '<' or '>' when the name is not followed at once by its value. nullptr when
// there is none.
const char* FindNameEnd(const char* from, const char* end)
{
    return FindAnyOf<'=', '<', '>', '"', '\'', ' ', '\t', '\n', '\r'>(from, end);
}

// The first byte in [from, end) that ends a value the direct path can take as written:
// its closing quote, or a reference, a '<' or white space other than ' ', which need
// the general path. nullptr when there is none.
const char* FindPlainValueEnd(const char* from, const char* end, char quote)
{
    return quote == '"' ? FindAnyOf<'"', '&', '<', '\t', '\n', '\r'>(from, end)
                        : FindAnyOf<'\'', '&', '<', '\t', '\n', '\r'>(from, end);
}

} // namespace

// The qualified names the direct path compares with, from the bindings in scope. It is
// used only when the table, text and office namespaces each have exactly one prefix,
// so that a name written otherwise cannot mean the same thing.
void OdsXmlScanner::PrepareFastCells()
{
    m_fast = {};
    m_fast.ready = true;
    const auto prefixOf = [&](OdsNs ns, std::string& prefix) {
        int found = 0;
        for (const Binding& binding : m_bindings) {
            if (binding.ns != ns || Resolve(binding.prefix) != ns)
                continue;
            if (binding.prefix.empty() || (found > 0 && binding.prefix != prefix))
                return false;
            prefix = binding.prefix;
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

// Reads the cell whose start tag is at pos when it is complete in buffer and written
// the usual way, handing the handler exactly the events the general path would.
// Returns the position after it, or 0 to leave the cell to the general path.
size_t OdsXmlScanner::FastCell(std::string_view buffer, size_t pos)
{
    if (!m_fast.ready)
        PrepareFastCells();
    if (!m_fast.usable || m_depth + 2 > kMaxDepth)
        return 0;
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
        const char* equals = FindNameEnd(data + i, data + size);
        if (!equals || *equals != '=' || equals + 1 >= data + size)
            return 0;
        const std::string_view name(data + i, static_cast<size_t>(equals - (data + i)));
        const char quote = equals[1];
        if (name.empty() || (quote != '"' && quote != '\'') || name.starts_with("xmlns"))
            return 0;
        const char* close = FindPlainValueEnd(equals + 2, data + size, quote);
        if (!close || *close != quote)
            return 0;
        const std::string_view value(equals + 2, static_cast<size_t>(close - equals - 2));
        i = static_cast<size_t>(close + 1 - data);
        OdsNs ns = OdsNs::Other;
        std::string_view local;
        if (HasPrefix(name, m_fast.tablePrefix)) {
            ns = OdsNs::Table;
            local = name.substr(m_fast.tablePrefix.size());
        } else if (HasPrefix(name, m_fast.officePrefix)) {
            ns = OdsNs::Office;
            local = name.substr(m_fast.officePrefix.size());
        }
        if (ns == OdsNs::Other)
            continue;
        if (attributes.count == attributes.entries.size())
            return 0;
        attributes.entries[attributes.count++] = { ns, local.data(), local.size(), value.data(), value.size() };
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
            if (!lt)
                return 0;
            std::string_view text(data + i, static_cast<size_t>(lt - (data + i)));
            if (text.find('&') != std::string_view::npos) {
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

// Handles every complete token of buffer; returns how many bytes it used.
size_t OdsXmlScanner::Scan(std::string_view buffer, bool final)
{
    const char* data = buffer.data();
    const size_t size = buffer.size();
    size_t pos = 0;
    while (pos < size && !Stopped()) {
        if (data[pos] != '<') {
            const char* lt = FindByte(data + pos, data + size, '<');
            size_t end = lt ? static_cast<size_t>(lt - data) : size;
            if (!lt && !final) {
                // A reference may be cut: keep everything from the last '&' with no ';'.
                const size_t amp = buffer.rfind('&', end - 1);
                if (amp != std::string_view::npos && amp >= pos && buffer.find(';', amp) == std::string_view::npos)
                    end = amp;
                if (end == pos)
                    return pos;
            }
            Text(buffer.substr(pos, end - pos));
            pos = end;
            continue;
        }
        if (size - pos < 9 && !final) {
            // Too short to tell a comment, CDATA or declaration from a tag.
            const std::string_view rest = buffer.substr(pos);
            if (rest.find('>') == std::string_view::npos || rest.starts_with("<!"))
                return pos;
        }
        const std::string_view rest = buffer.substr(pos);
        if (rest.starts_with("<!--")) {
            const size_t end = Find(buffer, "-->", pos + 4);
            if (end == std::string_view::npos) {
                if (final)
                    Malformed("a comment never closed");
                return pos;
            }
            pos = end + 3;
            continue;
        }
        if (rest.starts_with("<![CDATA[")) {
            const size_t end = Find(buffer, "]]>", pos + 9);
            if (end == std::string_view::npos) {
                if (final)
                    Malformed("a CDATA section never closed");
                return pos;
            }
            if (m_depth > 0)
                m_handler.Characters(buffer.substr(pos + 9, end - pos - 9));
            pos = end + 3;
            continue;
        }
        if (rest.starts_with("<?")) {
            const size_t end = Find(buffer, "?>", pos + 2);
            if (end == std::string_view::npos) {
                if (final)
                    Malformed("a processing instruction never closed");
                return pos;
            }
            pos = end + 2;
            continue;
        }
        if (rest.starts_with("<!")) {
            if (rest.starts_with("<!DOCTYPE"))
                throw SpreadsheetError(
                    ErrorCode::Corrupt, "the XML holds a document type declaration, which is not allowed");
            Malformed("an unknown declaration");
        }
        if (m_directCells && m_handler.AtRowLevel()) {
            const size_t end = FastCell(buffer, pos);
            if (end != 0) {
                pos = end;
                continue;
            }
        }
        // A tag ends at the first '>' outside quoted attribute values.
        // Each quoted value found on the way is noted with the name before its '=', so
        // attributes are never parsed a second time.
        size_t i = pos + 1;
        m_raw.clear();
        m_declares = false;
        while (i < size) {
            i = static_cast<size_t>(FindTagSpecial(data + i, data + size) - data);
            if (i >= size || data[i] == '>')
                break;
            if (data[i] == '<')
                Malformed("a '<' inside a tag");
            const char* close = FindByte(data + i + 1, data + size, data[i]);
            if (!close) {
                i = size;
                break;
            }
            const auto end = static_cast<size_t>(close - data);
            size_t nameEnd = i;
            while (nameEnd > pos + 1 && IsXmlSpace(data[nameEnd - 1]))
                --nameEnd;
            if (nameEnd <= pos + 1 || data[nameEnd - 1] != '=')
                Malformed("a quoted value without an attribute name");
            --nameEnd;
            while (nameEnd > pos + 1 && IsXmlSpace(data[nameEnd - 1]))
                --nameEnd;
            const auto nameStart = static_cast<size_t>(NameStart(data + pos + 1, data + nameEnd) - data);
            const std::string_view name(data + nameStart, nameEnd - nameStart);
            if (name.empty())
                Malformed("a quoted value without an attribute name");
            m_raw.push_back({ name, std::string_view(data + i + 1, end - i - 1) });
            if (name.starts_with("xmlns"))
                m_declares = true;
            i = end + 1;
        }
        if (i >= size) {
            if (final)
                Malformed("the document ends inside a tag");
            return pos;
        }
        const std::string_view tag = buffer.substr(pos + 1, i - pos - 1);
        pos = i + 1;
        if (!tag.empty() && tag[0] == '/')
            EndTag(tag.substr(1));
        else
            StartTag(tag);
    }
    return pos;
}

void OdsXmlScanner::StartTag(std::string_view tag)
{
    const bool empty = tag.ends_with('/');
    if (empty)
        tag.remove_suffix(1);
    const auto nameEnd = static_cast<size_t>(FindSpace(tag.data(), tag.data() + tag.size()) - tag.data());
    const std::string_view name = tag.substr(0, nameEnd);
    if (name.empty())
        Malformed("a tag without a name");
    if (m_depth == 0) {
        if (m_sawRoot)
            Malformed("a second root element");
        m_sawRoot = true;
    }
    if (++m_depth > kMaxDepth)
        throw SpreadsheetError(
            ErrorCode::Corrupt, "the XML nests elements more than " + std::to_string(kMaxDepth) + " deep");
    if (m_declares)
        DeclareNamespaces();
    m_openNames.append(name);
    m_openEnds.push_back(m_openNames.size());
    std::string_view prefix, local;
    SplitName(name, prefix, local);
    const OdsNs ns = Resolve(prefix);
    if (!m_values.empty())
        m_values.clear();
    m_handler.StartElement(ns, local, Attributes(*this));
    if (empty) {
        m_handler.EndElement(ns, local);
        EndTag({});
    }
}

void OdsXmlScanner::EndTag(std::string_view tag)
{
    if (m_depth == 0)
        Malformed("an end tag without its start");
    if (!tag.empty()) {
        while (!tag.empty() && IsXmlSpace(tag.back()))
            tag.remove_suffix(1);
        const size_t openBegin = m_openEnds.size() > 1 ? m_openEnds[m_openEnds.size() - 2] : 0;
        if (std::string_view(m_openNames).substr(openBegin) != tag)
            Malformed("the end tag </" + std::string(tag.substr(0, 64)) + "> does not match its start tag");
        std::string_view prefix, local;
        SplitName(tag, prefix, local);
        m_handler.EndElement(Resolve(prefix), local);
    }
    // The element's own declarations go out of scope with it.
    if (!m_bindings.empty() && m_bindings.back().depth == m_depth) {
        while (!m_bindings.empty() && m_bindings.back().depth == m_depth)
            m_bindings.pop_back();
        ForgetResolved();
    }
    m_openEnds.pop_back();
    m_openNames.resize(m_openEnds.empty() ? 0 : m_openEnds.back());
    --m_depth;
}

void OdsXmlScanner::Text(std::string_view text)
{
    if (m_depth == 0)
        return;
    if (text.find('&') == std::string_view::npos) {
        m_handler.Characters(text);
        return;
    }
    m_decoded.clear();
    xml::AppendDecoded(text, false, m_decoded);
    m_handler.Characters(m_decoded);
}

// The bindings changed: what was resolved under them no longer holds.
void OdsXmlScanner::ForgetResolved()
{
    m_cache.clear();
    m_shortCache.fill({});
    m_fast.ready = false;
}

void OdsXmlScanner::DeclareNamespaces()
{
    for (const RawAttribute& attribute : m_raw) {
        std::string_view prefix;
        if (attribute.name == "xmlns")
            prefix = {};
        else if (attribute.name.starts_with("xmlns:"))
            prefix = attribute.name.substr(6);
        else
            continue;
        std::string uri;
        xml::AppendDecoded(attribute.value, true, uri);
        m_bindings.push_back({ std::string(prefix), OdsNamespaceOf(uri), m_depth });
        ForgetResolved();
    }
}

OdsNs OdsXmlScanner::Resolve(std::string_view prefix)
{
    // The few prefixes of a document (table, text, office) repeat on every tag: those of
    // up to eight bytes are compared as one number, without a string comparison.
    // The cache is direct-mapped: a prefix has one slot, chosen by a hash of the number.
    if (prefix.size() > 8)
        return ResolveSlow(prefix);
    const uint64_t key = PackShort(prefix);
    ShortPrefix& slot = m_shortCache[((key + prefix.size()) * 0x9E3779B97F4A7C15ull) >> 60];
    if (slot.key == key && slot.size == prefix.size())
        return slot.ns;
    const OdsNs ns = ResolveSlow(prefix);
    slot = { key, static_cast<uint8_t>(prefix.size()), ns };
    return ns;
}

OdsNs OdsXmlScanner::ResolveSlow(std::string_view prefix)
{
    for (const auto& [known, ns] : m_cache) {
        if (known == prefix)
            return ns;
    }
    OdsNs ns = OdsNs::Other;
    for (auto it = m_bindings.rbegin(); it != m_bindings.rend(); ++it) {
        if (it->prefix == prefix) {
            ns = it->ns;
            break;
        }
    }
    if (m_cache.size() < 32)
        m_cache.emplace_back(std::string(prefix), ns);
    return ns;
}

} // namespace vellumcast::spreadsheet::ods
