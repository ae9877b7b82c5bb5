#include "spreadsheet/xml/XmlScanner.h"

#include "spreadsheet/SpreadsheetError.h"
#include "spreadsheet/container/Zip.h"
#include "spreadsheet/xml/ByteSearch.h"
#include "spreadsheet/xml/XmlText.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <optional>

namespace vellumcast::spreadsheet::xml {

namespace {

bool IsSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

// Where a name's prefix ends, or npos. Names are short: looking is cheaper than a call.
size_t ColonIn(std::string_view name)
{
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == ':')
            return i;
    }
    return std::string_view::npos;
}

// Whether the text holds "]]>", which text outside CDATA may not.
bool HoldsCdataEnd(const char* begin, const char* end)
{
    for (const char* p = begin; p + 2 < end; ++p) {
        if (p[0] == ']' && p[1] == ']' && p[2] == '>')
            return true;
    }
    return false;
}

} // namespace

void XmlScanner::Fail(const std::string& why) const
{
    Malformed(why);
}

char* XmlScanner::CheckedText(char* begin, char* end, unsigned check, bool attribute) const
{
    if (check & kBad)
        Fail(attribute ? "a control character or \"<\" inside an attribute value" : "a control character in the text");
    if ((check & kNonAscii)
        && !IsValidUtf8(reinterpret_cast<const unsigned char*>(begin), reinterpret_cast<const unsigned char*>(end)))
        Fail("the text is not valid UTF-8");
    if (check & kDecode) {
        end = DecodeInPlace(begin, end, attribute);
        if (!end)
            Fail("a character or entity reference is not valid; only the predefined entities are allowed");
    }
    return end;
}

void XmlScanner::CheckQualifiedName(std::string_view name) const
{
    const size_t colon = ColonIn(name);
    if (colon == std::string_view::npos)
        return;
    // Both parts are names of their own: neither may start with a digit, '-' or '.'.
    if (colon == 0 || colon + 1 == name.size() || name.find(':', colon + 1) != std::string_view::npos
        || !IsNameStart(static_cast<unsigned char>(name[colon + 1])))
        Fail("the name \"" + std::string(name.substr(0, 64)) + "\" is no valid qualified name");
}

std::string_view XmlScanner::NamespaceOf(std::string_view prefix) const
{
    if (const std::string* uri = Lookup(prefix))
        return *uri;
    if (prefix.empty())
        return {};
    if (prefix == "xml")
        return "http://www.w3.org/XML/1998/namespace";
    Fail("the namespace prefix \"" + std::string(prefix) + "\" is not declared");
}

void XmlScanner::Feed(std::string_view piece, bool final)
{
    if (m_stopped)
        return;
    PassOverPiece(piece, final);
    m_buffer.append(piece);
    const size_t used = Scan(final);
    m_buffer.erase(0, used);
    m_consumed += used;
    if (m_stopped)
        return;
    if (m_buffer.size() > kMaxToken)
        Fail("a tag or text runs on for more than " + std::to_string(kMaxToken >> 20) + " MiB");
    if (final) {
        if (!m_buffer.empty())
            Fail("the document ends inside a tag");
        if (!m_rootSeen)
            Fail("there is no root element");
        if (!m_nameEnds.empty())
            Fail("the document ends before its elements are closed");
    }
}

size_t XmlScanner::Scan(bool final)
{
    char* data = m_buffer.data();
    const size_t end = m_buffer.size();
    size_t at = 0;
    if (!m_started) {
        if (end < 3 && !final)
            return 0;
        if (end >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) {
            at = 3;
            m_hadBom = true;
        }
        m_started = true;
    }
    while (at < end && !m_stopped) {
        if (m_passingOver) {
            at += PassOver(data + at, end - at, final);
            if (m_passingOver)
                return at; // the rest is an unfinished tag
            continue;
        }
        if (data[at] != '<') {
            const size_t next = static_cast<size_t>(FindByte(data + at, data + end, '<') - data);
            if (next == end && !final)
                return at;
            Text(data + at, data + next);
            at = next;
            continue;
        }
        if (at + 1 >= end) {
            if (final)
                Fail("the document ends inside a tag");
            return at;
        }
        const char kind = data[at + 1];
        bool complete = false;
        if (kind == '/')
            complete = EndTag(at, end);
        else if (kind == '?' || kind == '!')
            complete = Markup(at, end, final);
        else if (const size_t used = DirectElement(at, end)) {
            at += used;
            complete = true;
        } else {
            complete = StartTag(at, end);
        }
        if (!complete) {
            if (final)
                Fail("the document ends inside a tag");
            return at;
        }
    }
    return at;
}

void XmlScanner::Text(char* begin, char* end)
{
    if (m_nameEnds.empty()) {
        for (const char* p = begin; p < end; ++p) {
            if (!IsSpace(*p))
                Fail("there is text outside the root element");
        }
        return;
    }
    // A text run is whole here (it ends at a '<'), so "]]>" cannot hide across pieces.
    if (HoldsCdataEnd(begin, end))
        Fail("\"]]>\" in the text");
    const unsigned check = CheckText(begin, end, false);
    if (check != kPlain)
        end = CheckedText(begin, end, check, false);
    if (end > begin)
        m_handler.Characters(std::string_view(begin, static_cast<size_t>(end - begin)));
}

bool XmlScanner::StartTag(size_t& at, size_t end)
{
    const size_t tagStart = at;
    char* data = m_buffer.data();
    size_t p = at + 1;
    const size_t nameBegin = p;
    while (p < end && !IsSpace(data[p]) && data[p] != '/' && data[p] != '>')
        ++p;
    if (p >= end)
        return false;
    const size_t nameEnd = p;
    if (!IsName(std::string_view(data + nameBegin, nameEnd - nameBegin)))
        Fail("an element name is not valid");

    // First find the whole tag without touching it, so an unfinished one can wait for the next chunk.
    struct Span {
        size_t nameBegin, nameEnd, valueBegin, valueEnd;
    };
    Span spans[64];
    size_t count = 0;
    bool selfClosing = false;
    for (;;) {
        while (p < end && IsSpace(data[p]))
            ++p;
        if (p >= end)
            return false;
        if (data[p] == '>') {
            ++p;
            break;
        }
        if (data[p] == '/') {
            if (p + 1 >= end)
                return false;
            if (data[p + 1] != '>')
                Fail("a \"/\" inside a tag");
            p += 2;
            selfClosing = true;
            break;
        }
        const size_t attributeBegin = p;
        while (p < end && !IsSpace(data[p]) && data[p] != '=' && data[p] != '>' && data[p] != '/')
            ++p;
        const size_t attributeEnd = p;
        while (p < end && IsSpace(data[p]))
            ++p;
        if (p >= end)
            return false;
        if (data[p] != '=' || !IsName(std::string_view(data + attributeBegin, attributeEnd - attributeBegin)))
            Fail("an attribute without a valid name and value");
        ++p;
        while (p < end && IsSpace(data[p]))
            ++p;
        if (p >= end)
            return false;
        const char quote = data[p];
        if (quote != '"' && quote != '\'')
            Fail("an attribute value without quotes");
        ++p;
        const size_t valueEnd = static_cast<size_t>(FindByte(data + p, data + end, quote) - data);
        if (valueEnd == end)
            return false;
        if (count == std::size(spans))
            Fail("an element has more than 64 attributes");
        spans[count++] = { attributeBegin, attributeEnd, p, valueEnd };
        p = valueEnd + 1;
        if (p >= end)
            return false;
        if (!IsSpace(data[p]) && data[p] != '>' && data[p] != '/')
            Fail("attributes without space between them");
        const std::string_view attributeName(data + attributeBegin, attributeEnd - attributeBegin);
        for (size_t i = 0; i + 1 < count; ++i) {
            if (std::string_view(data + spans[i].nameBegin, spans[i].nameEnd - spans[i].nameBegin) == attributeName)
                Fail("an attribute given twice");
        }
    }

    if (m_rootClosed)
        Fail("there is an element after the root element");
    if (m_nameEnds.size() >= static_cast<size_t>(kMaxDepth))
        Fail("elements nest more than 256 deep");
    m_rootSeen = true;

    // Now terminate values in place, decode them and take the namespace declarations,
    // which hold for this element and those inside it.
    const size_t depth = m_nameEnds.size() + 1;
    for (size_t i = 0; i < count; ++i) {
        const Span& span = spans[i];
        char* valueBegin = data + span.valueBegin;
        char* valueEnd = data + span.valueEnd;
        const unsigned check = CheckText(valueBegin, valueEnd, true);
        if (check != kPlain)
            valueEnd = CheckedText(valueBegin, valueEnd, check, true);
        *valueEnd = '\0';
        const std::string_view name(data + span.nameBegin, span.nameEnd - span.nameBegin);
        if (IsDeclaration(name)) {
            // A prefix is a name and cannot be unbound again; the default namespace can.
            CheckQualifiedName(name);
            if (name.size() > 5 && valueBegin == valueEnd)
                Fail("the namespace prefix \"" + std::string(name.substr(6, 64)) + "\" is bound to nothing");
            ++m_bindingsVersion;
            const std::string_view prefix = name.substr(name.size() > 5 ? 6 : 5);
            m_namespaces.push_back({ std::string(prefix), depth });
            auto bound = m_uris.find(prefix);
            if (bound == m_uris.end())
                bound = m_uris.emplace(std::string(prefix), std::vector<std::string>()).first;
            bound->second.emplace_back(valueBegin, valueEnd);
        }
    }
    // Attribute names as Expat reports them: a prefixed one as its namespace URI, '\x01'
    // and its local name (held in m_prefixed, sized first so it never moves), an
    // unprefixed one as written. The prefix must be declared.
    size_t prefixedSize = 0;
    for (size_t i = 0; i < count; ++i) {
        const std::string_view name(data + spans[i].nameBegin, spans[i].nameEnd - spans[i].nameBegin);
        const size_t colon = ColonIn(name);
        if (colon != std::string_view::npos && !IsDeclaration(name)) {
            CheckQualifiedName(name);
            prefixedSize += NamespaceOf(name.substr(0, colon)).size() + name.size() + 1;
        }
    }
    m_prefixed.clear();
    m_prefixed.reserve(prefixedSize);
    m_attributes.clear();
    for (size_t i = 0; i < count; ++i) {
        const Span& span = spans[i];
        const std::string_view name(data + span.nameBegin, span.nameEnd - span.nameBegin);
        if (IsDeclaration(name))
            continue;
        const size_t colon = ColonIn(name);
        if (colon == std::string_view::npos) {
            data[span.nameEnd] = '\0';
            m_attributes.push_back(data + span.nameBegin);
        } else {
            m_attributes.push_back(m_prefixed.data() + m_prefixed.size());
            m_prefixed.append(NamespaceOf(name.substr(0, colon)));
            m_prefixed.push_back('\x01');
            m_prefixed.append(name.substr(colon + 1));
            m_prefixed.push_back('\0');
        }
        m_attributes.push_back(data + span.valueBegin);
    }
    m_attributes.push_back(nullptr);

    const std::string_view qualified(data + nameBegin, nameEnd - nameBegin);
    CheckQualifiedName(qualified);
    const size_t colon = ColonIn(qualified);
    const std::string_view prefix = colon == std::string_view::npos ? std::string_view() : qualified.substr(0, colon);
    const std::string_view local = colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
    const std::string_view uri = NamespaceOf(prefix);

    m_names.append(qualified);
    m_nameEnds.push_back(m_names.size());
    at = p;
    m_skipRequested = false;
    m_tagOffset = m_consumed + tagStart;
    m_handler.StartElement(uri, local, XmlAttributes(m_attributes.data()));
    if (m_skipRequested && !selfClosing) {
        m_passingOver = true;
        m_passedOverDepth = 0;
        m_passOverName.assign(qualified);
    }
    m_skipRequested = false;
    if (selfClosing) {
        m_handler.EndElement(uri, local);
        CloseElement();
    }
    return true;
}

size_t XmlScanner::DirectElement(size_t at, size_t end)
{
    if (!m_direct || m_nameEnds.empty())
        return 0;
    return m_direct->ReadElement(std::string_view(m_buffer.data() + at, end - at), *this);
}

// Skipped content is looked at where it lies rather than copied into the buffer first:
// only a tag left unfinished by a piece's end is completed in the buffer, by taking at
// least as much again of the next piece each time, which keeps the rescanning linear.
void XmlScanner::PassOverPiece(std::string_view& piece, bool final)
{
    while (m_passingOver && !piece.empty()) {
        if (m_buffer.empty()) {
            const size_t passed = PassOver(piece.data(), piece.size(), final);
            m_consumed += passed;
            piece.remove_prefix(passed);
            return; // done, or the rest is an unfinished tag for the buffer
        }
        const size_t close = piece.find('>');
        const size_t take
            = std::min(piece.size(), std::max(close == std::string_view::npos ? 0 : close + 1, m_buffer.size()));
        m_buffer.append(piece.substr(0, take));
        piece.remove_prefix(take);
        const size_t passed = PassOver(m_buffer.data(), m_buffer.size(), final && piece.empty());
        m_buffer.erase(0, passed);
        m_consumed += passed;
    }
}

// Finds where skipped content ends. Every '<' in XML begins markup ('<' may not stand
// in text or values), so only the skipped element's own name needs looking at: the
// content ends at the end tag that balances the start tags of that name within it.
// Comments, CDATA and processing instructions are passed whole, since they may hold
// anything. Stops at the '<' of that end tag, or before an unfinished tag; returns the
// bytes passed.
size_t XmlScanner::PassOver(const char* data, size_t size, bool final)
{
    const char* const end = data + size;
    const std::string_view name = m_passOverName;
    // Most tags differ from the name in their first or last bytes: those are compared
    // before the rest.
    const auto namedHere = [&](const char* at) {
        if (static_cast<size_t>(end - at) <= name.size() || at[0] != name[0] || at[name.size() - 1] != name.back())
            return false;
        const char after = at[name.size()];
        return (IsSpace(after) || after == '>' || after == '/') && std::memcmp(at, name.data(), name.size()) == 0;
    };
    const char* p = data;
    for (;;) {
        p = FindByte(p, end, '<');
        // Room to tell the name apart from a longer one, or the markup kinds apart.
        const auto room = static_cast<size_t>(end - p);
        if (room < 2 || (!final && room < std::max<size_t>(name.size() + 3, 9)))
            return static_cast<size_t>(p - data);
        const char* close = p + 1;
        if (p[1] == '/') {
            if (namedHere(p + 2)) {
                if (m_passedOverDepth == 0) {
                    m_passingOver = false;
                    return static_cast<size_t>(p - data);
                }
                --m_passedOverDepth;
            }
        } else if (p[1] == '?' || p[1] == '!') {
            const std::string_view rest(p, static_cast<size_t>(end - p));
            std::string_view terminator = "?>";
            if (rest.starts_with("<!--"))
                terminator = "-->";
            else if (rest.starts_with("<![CDATA["))
                terminator = "]]>";
            else if (p[1] == '!')
                Fail("the document holds a document type declaration, which is not allowed");
            const size_t at = rest.find(terminator, 2);
            close = at == std::string_view::npos ? end : p + at + terminator.size() - 1;
        } else if (namedHere(p + 1)) {
            // A nested element of the same name: it counts unless it closes itself, which
            // its tag's end tells, found past any quoted '>'.
            close = FindAnyOf<'>', '"', '\''>(p + 1, end);
            while (close != end && *close != '>') {
                const char* quoteEnd = FindByte(close + 1, end, *close);
                close = quoteEnd == end ? end : FindAnyOf<'>', '"', '\''>(quoteEnd + 1, end);
            }
            if (close != end && close[-1] != '/')
                ++m_passedOverDepth;
        }
        if (close == end)
            return static_cast<size_t>(p - data);
        p = close + 1;
    }
}

const std::string* XmlScanner::Lookup(std::string_view prefix) const
{
    const auto bound = m_uris.find(prefix);
    return bound == m_uris.end() ? nullptr : &bound->second.back();
}

std::vector<std::string_view> XmlScanner::BoundPrefixes() const
{
    std::vector<std::string_view> prefixes;
    prefixes.reserve(m_uris.size());
    for (const auto& [prefix, uris] : m_uris)
        prefixes.push_back(prefix);
    return prefixes;
}

bool XmlScanner::IsDeclaration(std::string_view attributeName)
{
    return attributeName.size() >= 5 && attributeName[0] == 'x' && attributeName.starts_with("xmlns")
        && (attributeName.size() == 5 || attributeName[5] == ':');
}

void XmlScanner::CloseElement()
{
    const size_t depth = m_nameEnds.size();
    while (!m_namespaces.empty() && m_namespaces.back().depth == depth) {
        const auto bound = m_uris.find(m_namespaces.back().prefix);
        bound->second.pop_back();
        if (bound->second.empty())
            m_uris.erase(bound);
        m_namespaces.pop_back();
        ++m_bindingsVersion;
    }
    m_nameEnds.pop_back();
    m_names.resize(m_nameEnds.empty() ? 0 : m_nameEnds.back());
    if (m_nameEnds.empty())
        m_rootClosed = true;
}

bool XmlScanner::EndTag(size_t& at, size_t end)
{
    char* data = m_buffer.data();
    const size_t close = static_cast<size_t>(FindByte(data + at + 2, data + end, '>') - data);
    if (close == end)
        return false;
    size_t nameEnd = close;
    while (nameEnd > at + 2 && IsSpace(data[nameEnd - 1]))
        --nameEnd;
    const std::string_view qualified(data + at + 2, nameEnd - at - 2);
    if (m_nameEnds.empty())
        Fail("an end tag without its start tag");
    const size_t openBegin = m_nameEnds.size() > 1 ? m_nameEnds[m_nameEnds.size() - 2] : 0;
    if (std::string_view(m_names).substr(openBegin) != qualified)
        Fail("the end tag </" + std::string(qualified.substr(0, 64)) + "> does not match its start tag");
    const size_t colon = ColonIn(qualified);
    const std::string_view prefix = colon == std::string_view::npos ? std::string_view() : qualified.substr(0, colon);
    const std::string_view local = colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
    at = close + 1;
    m_handler.EndElement(NamespaceOf(prefix), local);
    CloseElement();
    return true;
}

bool XmlScanner::Markup(size_t& at, size_t end, bool final)
{
    const std::string_view rest(m_buffer.data() + at, end - at);
    if (rest[1] == '?') {
        const size_t close = rest.find("?>", 2);
        if (close == std::string_view::npos)
            return false;
        // The target must be a name; "xml" only for the declaration that opens the document.
        // The declaration's content is not checked: the encoding was read before.
        size_t targetEnd = 2;
        while (targetEnd < close && !IsSpace(rest[targetEnd]))
            ++targetEnd;
        const std::string_view target = rest.substr(2, targetEnd - 2);
        const std::string_view content = rest.substr(targetEnd, close - targetEnd);
        const unsigned check = CheckText(content.data(), content.data() + content.size(), false, true);
        if (!IsName(target) || target.find(':') != std::string_view::npos || (check & kBad)
            || ((check & kNonAscii)
                && !IsValidUtf8(reinterpret_cast<const unsigned char*>(content.data()),
                    reinterpret_cast<const unsigned char*>(content.data() + content.size()))))
            Fail("a processing instruction is not valid");
        // Targets spelt "xml" in any case are reserved: only the declaration, in lower
        // case and at the start, may use it.
        if (target.size() == 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' && (target[2] | 0x20) == 'l') {
            if (target != "xml")
                Fail("a processing instruction is named \"" + std::string(target) + "\", which is reserved");
            if (m_consumed + at > 3 || (m_consumed + at == 3 && !m_hadBom))
                Fail("an XML declaration that is not at the start");
        }
        at += close + 2;
        return true;
    }
    if (rest.size() < 9 && !final)
        return false; // not yet sure which kind of markup this is
    if (rest.substr(0, 4) == "<!--") {
        const size_t close = rest.find("-->", 4);
        if (close == std::string_view::npos)
            return false;
        const std::string_view comment = rest.substr(4, close - 4);
        const unsigned check = CheckText(comment.data(), comment.data() + comment.size(), false, true);
        if (comment.find("--") != std::string_view::npos || (!comment.empty() && comment.back() == '-')
            || (check & kBad)
            || ((check & kNonAscii)
                && !IsValidUtf8(reinterpret_cast<const unsigned char*>(comment.data()),
                    reinterpret_cast<const unsigned char*>(comment.data() + comment.size()))))
            Fail("a comment is not valid");
        at += close + 3;
        return true;
    }
    if (rest.substr(0, 9) == "<![CDATA[") {
        const size_t close = rest.find("]]>", 9);
        if (close == std::string_view::npos)
            return false;
        if (m_nameEnds.empty())
            Fail("CDATA outside the root element");
        char* begin = m_buffer.data() + at + 9;
        char* stop = m_buffer.data() + at + close;
        const unsigned check = CheckText(begin, stop, false, true);
        if ((check & kBad)
            || ((check & kNonAscii)
                && !IsValidUtf8(
                    reinterpret_cast<const unsigned char*>(begin), reinterpret_cast<const unsigned char*>(stop))))
            Fail("a CDATA section is not valid");
        if (check & kDecode) {
            // Only line ends are normalised: references are not recognised in CDATA.
            char* out = begin;
            for (char* p = begin; p < stop; ++p) {
                if (*p == '\r') {
                    *out++ = '\n';
                    if (p + 1 < stop && p[1] == '\n')
                        ++p;
                } else {
                    *out++ = *p;
                }
            }
            stop = out;
        }
        if (stop > begin)
            m_handler.Characters(std::string_view(begin, static_cast<size_t>(stop - begin)));
        at += close + 3;
        return true;
    }
    Fail("the document holds a document type declaration, which is not allowed");
}

void ScanXmlMember(const container::ZipArchive& archive, const container::ZipEntry& entry, XmlHandler& handler,
    const std::function<void()>& afterChunk, XmlDirectPath* direct)
{
    std::optional<XmlScanner> scanner;
    std::optional<XmlParser> parser;
    // The member is inflated on a second thread while this one scans and builds cells.
    archive.ReadAhead(entry, [&](std::string_view chunk) {
        if (!scanner && !parser) {
            if (ScannerReads(chunk))
                scanner.emplace(handler, direct);
            else
                parser.emplace(handler);
        }
        if (scanner)
            scanner->Feed(chunk, false);
        else
            parser->Feed(chunk, false);
        if (afterChunk)
            afterChunk();
        return true;
    });
    if (parser) {
        parser->Feed({}, true);
        return;
    }
    if (!scanner)
        scanner.emplace(handler, direct);
    scanner->Feed({}, true);
}

} // namespace vellumcast::spreadsheet::xml
