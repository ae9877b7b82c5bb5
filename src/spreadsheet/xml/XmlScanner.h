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
#include <unordered_map>
#include <vector>

namespace vellumcast::spreadsheet::xml {

class XmlScanner;

// A format's reader of its commonest element written the usual way, offered every start
// tag before the general path takes it. It reads the whole element (which must be
// balanced and declare no namespaces), gives its handler the events the general path
// would, and returns the bytes it used; or 0, leaving the element to the general path.
// It must accept nothing the general path refuses.
class XmlDirectPath {
public:
    virtual ~XmlDirectPath() = default;
    // from starts at the element's '<' and runs to the end of the bytes at hand.
    virtual size_t ReadElement(std::string_view from, const XmlScanner& scanner) = 0;
};

class XmlScanner {
public:
    explicit XmlScanner(XmlHandler& handler, XmlDirectPath* direct = nullptr)
        : m_handler(handler)
        , m_direct(direct)
    {
    }

    // Parses the next piece; final marks the end. Throws SpreadsheetError(Corrupt);
    // exceptions of the handler pass through. Returns at once once stopped.
    void Feed(std::string_view piece, bool final);

    // Called by a handler that has seen enough: the current event is the last. The rest
    // of the piece is kept, so that after Resume the next Feed goes on from that event.
    void Stop() { m_stopped = true; }
    bool Stopped() const { return m_stopped; }
    void Resume() { m_stopped = false; }

    // Called by a handler from StartElement to pass over the element's content: no
    // events, and no checks beyond finding where the element ends, whose end tag is then
    // reported as usual. Passing over is several times faster than reading; a reader
    // that later reads that content checks it. Has no effect on an empty element.
    void SkipContent() { m_skipRequested = true; }

    // For a handler in StartElement: where the start tag begins, in bytes of the
    // document as fed (the direct path's elements are not counted).
    uint64_t StartTagOffset() const { return m_tagOffset; }

    // For a direct path: the elements open, the URI a prefix is bound to (nullptr when
    // none), the prefixes bound (each once), and a number that changes whenever the
    // bindings do.
    size_t Depth() const { return m_nameEnds.size(); }
    const std::string* Lookup(std::string_view prefix) const;
    std::vector<std::string_view> BoundPrefixes() const;
    uint64_t BindingsVersion() const { return m_bindingsVersion; }

private:
    size_t Scan(bool final); // returns how much of m_buffer was consumed
    bool StartTag(size_t& at, size_t end);
    bool EndTag(size_t& at, size_t end);
    bool Markup(size_t& at, size_t end, bool final);
    size_t DirectElement(size_t at, size_t end);
    size_t PassOver(const char* data, size_t size, bool final);
    void PassOverPiece(std::string_view& piece, bool final);
    void Text(char* begin, char* end);
    char* CheckedText(char* begin, char* end, unsigned check, bool attribute) const;
    std::string_view NamespaceOf(std::string_view prefix) const;
    static bool IsDeclaration(std::string_view attributeName);
    void CloseElement();
    void CheckQualifiedName(std::string_view name) const;
    [[noreturn]] void Fail(const std::string& why) const;

    XmlHandler& m_handler;
    XmlDirectPath* m_direct;
    bool m_stopped = false;
    bool m_skipRequested = false;
    bool m_passingOver = false; // inside content a handler chose to skip
    std::string m_passOverName; // the skipped element's qualified name
    uint64_t m_passedOverDepth = 0; // elements of that name open within its content
    uint64_t m_bindingsVersion = 0;
    std::string m_buffer;
    uint64_t m_consumed = 0; // bytes of the document before m_buffer
    uint64_t m_tagOffset = 0; // StartTagOffset's
    bool m_hadBom = false;
    std::string m_names; // open element names, joined
    std::vector<size_t> m_nameEnds; // where each open name ends in m_names
    std::vector<const char*> m_attributes;
    std::string m_prefixed; // the current tag's prefixed attribute names, resolved
    struct Binding {
        std::string prefix;
        size_t depth; // of the element that declares it
    };
    std::vector<Binding> m_namespaces; // in the order declared, to undo them as elements close
    struct TextHash {
        using is_transparent = void;
        size_t operator()(std::string_view text) const { return std::hash<std::string_view> {}(text); }
    };
    // Each prefix bound, with the URIs its declarations in scope give it, the innermost
    // last: a lookup costs the same however many bindings nested elements open.
    std::unordered_map<std::string, std::vector<std::string>, TextHash, std::equal_to<>> m_uris;
    bool m_rootSeen = false;
    bool m_rootClosed = false;
    bool m_started = false;
};

// Streams one ZIP member through the handler: XmlScanner for UTF-8 documents (with the
// direct path, when given), Expat otherwise, inflating ahead on a second thread.
// afterChunk runs on the calling thread after each inflated chunk.
void ScanXmlMember(const container::ZipArchive& archive, const container::ZipEntry& entry, XmlHandler& handler,
    const std::function<void()>& afterChunk, XmlDirectPath* direct = nullptr);

} // namespace vellumcast::spreadsheet::xml
