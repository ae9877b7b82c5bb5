#pragma once
// A fast streaming scanner for the XML of OpenDocument content. Expat with namespace
// processing spends most of an export building qualified names; this scanner finds tags
// with memchr, resolves prefixes through the declared namespaces (scoped as XML
// namespaces are) and parses attributes only when the handler asks for one. It accepts
// UTF-8 documents; the caller leaves other encodings to Expat (see xml::IsUtf8Document).
//
// It checks what reading needs (nesting depth, end tags matching their start tags,
// references, token sizes) with the limits and the reference decoder all XML readers
// share, and refuses document type declarations, as the Expat reader does. It does not
// verify every well-formedness rule (the characters of names, for one).

#include "spreadsheet/ods/OdsContent.h"

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace vellumcast::spreadsheet::ods {

class OdsXmlScanner {
public:
    // directCells false reads every cell the general way: the two must agree, which the
    // tests and the fuzzer check.
    explicit OdsXmlScanner(OdsContentHandler& handler, bool directCells = true);

    // Scans the next piece; final marks the end of the document. Throws
    // SpreadsheetError(Corrupt). Returns at once after the handler asked to stop.
    void Feed(std::string_view piece, bool final);
    bool Stopped() const { return m_handler.StopRequested(); }

private:
    struct Binding {
        std::string prefix;
        OdsNs ns;
        int depth;
    };
    struct RawAttribute {
        std::string_view name; // as written, prefix included
        std::string_view value;
    };
    class Attributes;
    friend class Attributes;

    size_t Scan(std::string_view buffer, bool final);
    size_t FastCell(std::string_view buffer, size_t pos);
    void PrepareFastCells();
    void StartTag(std::string_view tag);
    void EndTag(std::string_view tag);
    void Text(std::string_view text);
    void DeclareNamespaces();
    void ForgetResolved();
    OdsNs Resolve(std::string_view prefix);
    OdsNs ResolveSlow(std::string_view prefix);
    void Finish();

    OdsContentHandler& m_handler;
    std::string m_carry; // an unfinished token from the previous piece
    std::string m_decoded; // text with its references replaced
    std::vector<RawAttribute> m_raw; // the current tag's attributes
    bool m_declares = false; // one of them is a namespace declaration
    std::deque<std::string> m_values; // its decoded values
    std::vector<Binding> m_bindings;
    std::vector<std::pair<std::string, OdsNs>> m_cache; // prefixes resolved since the bindings last changed
    struct ShortPrefix {
        uint64_t key = 0; // the prefix's bytes, packed
        uint8_t size = 0xFF; // 0xFF: an empty slot
        OdsNs ns = OdsNs::Other;
    };
    std::array<ShortPrefix, 16> m_shortCache {}; // as m_cache, for prefixes of up to 8 bytes
    // The cells of a worksheet, written the usual way (one prefix per namespace, plain
    // paragraphs), are read by a direct path that needs no generic tag handling;
    // anything else goes the general way. Set up again when bindings change.
    bool m_directCells;
    struct FastNames {
        bool ready = false;
        bool usable = false;
        std::string cell; // "<table:table-cell"
        std::string coveredCell; // "<table:covered-table-cell"
        std::string cellEnd; // "</table:table-cell"
        std::string coveredCellEnd;
        std::string paragraph; // "<text:p"
        std::string paragraphEnd; // "</text:p>"
        std::string tablePrefix; // "table:"
        std::string officePrefix; // "office:"
    } m_fast;
    std::array<std::string, 4> m_fastTexts; // a cell's paragraphs with their references replaced
    std::string m_openNames; // the qualified names of the open elements, joined
    std::vector<size_t> m_openEnds; // where each ends in m_openNames
    int m_depth = 0;
    bool m_sawRoot = false;
    bool m_finished = false;
};

} // namespace vellumcast::spreadsheet::ods
