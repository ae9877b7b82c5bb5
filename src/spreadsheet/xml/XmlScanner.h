#pragma once
// The fast streaming XML reader of the engine, for the large parts (worksheets). It reads
// UTF-8 documents with the XML the spreadsheet writers produce (elements, attributes,
// text, CDATA, comments, processing instructions, the predefined and numeric character
// references), checks that elements nest properly and end tags match their start tags,
// and refuses document type declarations and undeclared entities. Namespaces are
// resolved from the xmlns declarations in scope. Handlers see what the Expat reader
// gives them: namespace URIs and local names, prefixed attribute names as URI, '\x01'
// and local name, so XmlAttributes works alike on both.
// The XML declaration is not checked beyond its encoding, which decides the reader:
// ScanXmlMember leaves documents in another encoding to Expat.

#include "spreadsheet/xml/Xml.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vellumcast::spreadsheet::xml {

class XmlScanner {
public:
    explicit XmlScanner(XmlHandler& handler)
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
    static bool IsDeclaration(std::string_view attributeName);
    void CloseElement();
    void CheckQualifiedName(std::string_view name) const;
    [[noreturn]] void Fail(const std::string& why) const;

    XmlHandler& m_handler;
    std::string m_buffer;
    uint64_t m_consumed = 0; // bytes of the document before m_buffer
    bool m_hadBom = false;
    std::string m_names; // open element names, joined
    std::vector<size_t> m_nameEnds; // where each open name ends in m_names
    std::vector<const char*> m_attributes;
    std::string m_prefixed; // the current tag's prefixed attribute names, resolved
    struct Binding {
        std::string prefix;
        std::string uri;
        size_t depth; // of the element that declares it
    };
    std::vector<Binding> m_namespaces;
    bool m_rootSeen = false;
    bool m_rootClosed = false;
    bool m_started = false;
};

// Streams one ZIP member through the handler: XmlScanner for UTF-8 documents, Expat
// otherwise, inflating ahead on a second thread. afterChunk runs on the calling thread
// after each inflated chunk.
void ScanXmlMember(const container::ZipArchive& archive, const container::ZipEntry& entry, XmlHandler& handler,
    const std::function<void()>& afterChunk);

} // namespace vellumcast::spreadsheet::xml
