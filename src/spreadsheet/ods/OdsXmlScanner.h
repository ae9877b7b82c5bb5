#pragma once
// The reader of OpenDocument content XML: the engine's one XML scanner, its events
// turned into the content handler's, and a direct path for table cells. Cells written
// the usual way (one prefix per namespace, plain paragraphs) are read without generic
// tag handling, which is most of an export's XML; anything else goes the general way.
// Documents in encodings other than UTF-8 are the caller's to leave to Expat (see
// xml::IsUtf8Document).

#include "spreadsheet/ods/OdsContent.h"
#include "spreadsheet/xml/XmlScanner.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vellumcast::spreadsheet::ods {

class OdsXmlScanner final : private xml::XmlDirectPath {
public:
    // directCells false reads every cell the general way: the two must agree, which the
    // tests and the fuzzer check.
    explicit OdsXmlScanner(OdsContentHandler& handler, bool directCells = true);

    // Scans the next piece; final marks the end of the document. Throws
    // SpreadsheetError(Corrupt). Returns at once after the handler asked to stop.
    void Feed(std::string_view piece, bool final);
    bool Stopped() const { return m_handler.StopRequested(); }
    // Goes on after a stop, from the event that asked for it, once the handler no longer
    // asks to stop.
    void Resume() { m_scanner.Resume(); }

private:
    size_t ReadElement(std::string_view buffer, const xml::XmlScanner& scanner) override;
    void PrepareFastCells(const xml::XmlScanner& scanner);
    // Whether name may be taken; index is its place among the known names (knownCount
    // or past when the list is full).
    bool KnownName(std::string_view name, const xml::XmlScanner& scanner, size_t& index);
    const char* KnownNameEnd(const char* from, const char* end, size_t place, size_t& index);
    void Classify(std::string_view name, OdsNs& ns, std::string_view& local, uint8_t& slot) const;

    OdsContentHandler& m_handler;
    OdsXmlAdapter m_adapter;
    xml::XmlScanner m_scanner;
    // The names the direct path compares with, set up again when the bindings change.
    struct FastNames {
        uint64_t version = ~uint64_t { 0 }; // of the bindings they were made from
        bool usable = false;
        std::string cell; // "<table:table-cell"
        std::string coveredCell; // "<table:covered-table-cell"
        std::string cellEnd; // "</table:table-cell"
        std::string coveredCellEnd;
        std::string paragraph; // "<text:p"
        std::string paragraphEnd; // "</text:p>"
        std::string tablePrefix; // "table:"
        std::string officePrefix; // "office:"
        std::array<std::string, 8> known; // attribute names found valid and bound
        std::array<OdsNs, 8> knownNs {}; // the namespace of each
        std::array<uint8_t, 8> knownSlot {}; // and where a cell's attributes keep it
        size_t knownCount = 0;
        std::array<uint8_t, 4> lastAt {}; // which known name came at each place in the last cell
    } m_fast;
    std::array<std::string, 4> m_fastTexts; // a cell's paragraphs with their references replaced
};

} // namespace vellumcast::spreadsheet::ods
