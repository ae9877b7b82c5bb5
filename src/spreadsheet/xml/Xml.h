#pragma once
// A streaming XML reader over Expat with namespace processing: handlers see each
// element's namespace URI and local name, so any prefix a writer chose works alike.
// Documents with a DTD or entity declarations are refused.

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace vellumcast::spreadsheet::container {
class ZipArchive;
struct ZipEntry;
} // namespace vellumcast::spreadsheet::container

namespace vellumcast::spreadsheet::xml {

class XmlAttributes {
public:
    explicit XmlAttributes(const char** attributes)
        : m_attributes(attributes)
    {
    }
    // The value of the attribute with this local name (any namespace), or an empty view;
    // found is set when it exists.
    std::string_view Get(std::string_view localName, bool* found = nullptr) const;
    // The value of the attribute with this namespace URI and local name.
    std::string_view Get(std::string_view namespaceUri, std::string_view localName, bool* found) const;
    // Expat's name/value pairs, ending in nullptr; a namespaced name is the URI, '\x01' and
    // the local name. For handlers that look at every attribute of many elements.
    const char** Raw() const { return m_attributes; }

private:
    const char** m_attributes;
};

class XmlHandler {
public:
    virtual ~XmlHandler() = default;
    virtual void StartElement(
        std::string_view namespaceUri, std::string_view localName, const XmlAttributes& attributes)
        = 0;
    virtual void EndElement(std::string_view namespaceUri, std::string_view localName) = 0;
    // Text between tags, possibly in several pieces.
    virtual void Characters(std::string_view) { }
};

class XmlParser {
public:
    explicit XmlParser(XmlHandler& handler);
    ~XmlParser();
    XmlParser(const XmlParser&) = delete;
    XmlParser& operator=(const XmlParser&) = delete;

    // Parses the next piece; final marks the end of the document. Throws
    // SpreadsheetError(Corrupt) with the line of the fault. Exceptions thrown by the
    // handler pass through.
    void Feed(std::string_view piece, bool final);

    // Called by a handler that has seen enough: later Feed calls return at once.
    void Stop();
    bool Stopped() const;

    // Called by a handler to pause after the current event: Feed returns, keeping what it
    // was given and has not parsed, and Resume goes on from there (as it would have, and
    // may pause again), after which Feed takes the next piece. Feed is not to be called
    // while paused.
    void Suspend();
    bool Suspended() const;
    void Resume();

    // For a handler: where the event being reported begins, in bytes of the document.
    uint64_t EventOffset() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Streams one ZIP member through the handler; afterChunk (when set) runs after each
// inflated chunk has been parsed, so long reads can yield.
void ParseXmlMember(const container::ZipArchive& archive, const container::ZipEntry& entry, XmlHandler& handler,
    const std::function<void()>& afterChunk = {});
// Parses a whole document held in memory.
void ParseXml(std::string_view document, XmlHandler& handler);

} // namespace vellumcast::spreadsheet::xml
