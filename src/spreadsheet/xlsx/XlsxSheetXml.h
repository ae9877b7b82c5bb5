#pragma once
// A fast streaming reader for worksheet XML, the one part whose size matters. It reads
// UTF-8 documents with the XML the spreadsheet writers produce (elements, attributes, text,
// CDATA, comments, processing instructions, the predefined and numeric character
// references), checks that elements nest properly, and refuses document type declarations
// and undeclared entities. Element namespaces are resolved from the xmlns declarations seen
// so far (their scope is not tracked, which the writers never need); attribute names are
// reported as written, so a prefixed attribute keeps its prefix.
// The XML declaration is not checked beyond its encoding, which decides the reader:
// ParseWorksheetXml falls back to Expat for documents in another encoding.

#include "spreadsheet/xml/Xml.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vellumcast::spreadsheet::xlsx {

class SheetXmlScanner {
public:
    explicit SheetXmlScanner(xml::XmlHandler& handler)
        : m_handler(handler)
    {
    }

    // Parses the next piece; final marks the end. Throws SpreadsheetError(Corrupt);
    // exceptions of the handler pass through.
    void Feed(std::string_view piece, bool final);

private:
    size_t Scan(bool final); // returns how much of m_buffer was consumed
    bool StartTag(size_t& at, size_t end);
    bool EndTag(size_t& at, size_t end);
    bool Markup(size_t& at, size_t end, bool final);
    void Text(char* begin, char* end);
    char* CheckedText(char* begin, char* end, unsigned check, bool attribute) const;
    std::string_view NamespaceOf(std::string_view prefix) const;
    void CheckQualifiedName(std::string_view name) const;
    [[noreturn]] void Fail(const std::string& why) const;

    xml::XmlHandler& m_handler;
    std::string m_buffer;
    uint64_t m_consumed = 0; // bytes of the document before m_buffer
    bool m_hadBom = false;
    std::string m_names; // open element names, joined
    std::vector<size_t> m_nameEnds; // where each open name ends in m_names
    std::vector<const char*> m_attributes;
    std::vector<std::pair<std::string, std::string>> m_namespaces; // prefix, URI
    bool m_rootSeen = false;
    bool m_rootClosed = false;
    bool m_started = false;
};

// Streams one worksheet member through the handler: SheetXmlScanner for UTF-8 documents,
// Expat otherwise. afterChunk runs after each inflated chunk.
void ParseWorksheetXml(const container::ZipArchive& archive, const container::ZipEntry& entry, xml::XmlHandler& handler,
    const std::function<void()>& afterChunk);

} // namespace vellumcast::spreadsheet::xlsx
