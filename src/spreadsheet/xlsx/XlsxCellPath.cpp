#include "spreadsheet/xlsx/XlsxCellPath.h"

#include "spreadsheet/xml/ByteSearch.h"
#include "spreadsheet/xml/XmlText.h"

#include <cstring>

namespace vellumcast::spreadsheet::xlsx {

namespace {

bool IsTagSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A byte of an attribute value that stands as written: printable ASCII but for a
// reference's '&' and '<'. White space other than ' ' would be normalised.
bool IsPlainValueByte(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u >= 0x20 && u < 0x80 && c != '&' && c != '<';
}

bool StartsWith(const char* p, const char* end, std::string_view what)
{
    return static_cast<size_t>(end - p) >= what.size() && std::memcmp(p, what.data(), what.size()) == 0;
}

} // namespace

size_t CellDirectPath::ReadElement(std::string_view from, const xml::XmlScanner& scanner)
{
    const char* const begin = from.data();
    const char* const end = begin + from.size();
    if (from.size() < 4 || begin[1] != 'c' || !(IsTagSpace(begin[2]) || begin[2] == '>' || begin[2] == '/')
        || scanner.Depth() + 2 > static_cast<size_t>(xml::kMaxDepth))
        return 0;
    // The start tag: unprefixed attributes of letters with plain values, each once.
    const char* p = begin + 2;
    size_t count = 0;
    size_t used = 0;
    bool empty = false;
    for (;;) {
        if (p == end)
            return 0;
        if (*p == '>') {
            ++p;
            break;
        }
        if (*p == '/') {
            if (p + 1 == end || p[1] != '>')
                return 0;
            p += 2;
            empty = true;
            break;
        }
        if (!IsTagSpace(*p))
            return 0;
        while (p != end && IsTagSpace(*p))
            ++p;
        if (p == end || *p == '>' || *p == '/')
            continue;
        const char* name = p;
        while (p != end && IsAsciiLetter(*p))
            ++p;
        const std::string_view nameText(name, static_cast<size_t>(p - name));
        if (end - p < 2 || *p != '=' || nameText.empty() || nameText.starts_with("xmlns"))
            return 0;
        const char quote = p[1];
        if (quote != '"' && quote != '\'')
            return 0;
        const char* value = p + 2;
        const char* close = value;
        while (close != end && *close != quote && IsPlainValueByte(*close))
            ++close;
        if (close == end || *close != quote)
            return 0;
        p = close + 1;
        if (p != end && !IsTagSpace(*p) && *p != '>' && *p != '/')
            return 0;
        const auto valueSize = static_cast<size_t>(close - value);
        if (count == kMaxAttributes || used + nameText.size() + valueSize + 2 > m_text.size())
            return 0;
        for (size_t k = 0; k < count; ++k) {
            if (m_attributes[2 * k] == nameText)
                return 0; // given twice: the general path refuses it
        }
        char* out = m_text.data() + used;
        m_attributes[2 * count] = out;
        std::memcpy(out, name, nameText.size());
        out[nameText.size()] = '\0';
        out += nameText.size() + 1;
        m_attributes[2 * count + 1] = out;
        std::memcpy(out, value, valueSize);
        out[valueSize] = '\0';
        used += nameText.size() + valueSize + 2;
        ++count;
    }
    m_attributes[2 * count] = nullptr;

    // The content: nothing, or one plain value.
    std::string_view value;
    bool hasValue = false;
    if (!empty) {
        if (StartsWith(p, end, "<v>")) {
            const char* text = p + 3;
            const char* lt = xml::FindByte(text, end, '<');
            if (lt == end || xml::CheckText(text, lt, false) != xml::kPlain || xml::FindByte(text, lt, ']') != lt
                || !StartsWith(lt, end, "</v>"))
                return 0;
            value = std::string_view(text, static_cast<size_t>(lt - text));
            hasValue = true;
            p = lt + 4;
        }
        if (!StartsWith(p, end, "</c>"))
            return 0;
        p += 4;
    }

    const std::string* bound = scanner.Lookup("");
    const std::string_view uri = bound ? std::string_view(*bound) : std::string_view();
    const char* none[] = { nullptr };
    m_handler.StartElement(uri, "c", xml::XmlAttributes(m_attributes.data()));
    if (hasValue) {
        m_handler.StartElement(uri, "v", xml::XmlAttributes(none));
        if (!value.empty())
            m_handler.Characters(value);
        m_handler.EndElement(uri, "v");
    }
    m_handler.EndElement(uri, "c");
    return static_cast<size_t>(p - begin);
}

} // namespace vellumcast::spreadsheet::xlsx
