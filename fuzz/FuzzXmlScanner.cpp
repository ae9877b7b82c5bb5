// Parses arbitrary bytes as XML three times: with the engine's scanner, in pieces whose
// size the first byte chooses, with and without the direct path of worksheet cells
// (which must change nothing), and with Expat. What both accept must give the same events;
// what Expat refuses the scanner must refuse too (it may refuse more: its limits on
// attributes and tokens are its own). The scanner reads the XML declaration only for its
// encoding, so a document opening with one may pass it alone.

#include "spreadsheet/SpreadsheetError.h"
#include "spreadsheet/xlsx/XlsxCellPath.h"
#include "spreadsheet/xml/Xml.h"
#include "spreadsheet/xml/XmlScanner.h"
#include "spreadsheet/xml/XmlText.h"
#include "support/XmlEventLog.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace vellumcast::spreadsheet;
using namespace vellumcast::spreadsheet::xml;

using Recorder = vellumcast::testing::XmlEventLog;

bool WithExpat(std::string_view document, std::string& log)
{
    Recorder recorder;
    try {
        ParseXml(document, recorder);
    } catch (const SpreadsheetError&) {
        return false;
    }
    recorder.Flush();
    log = recorder.log;
    return true;
}

// direct: with the worksheet cells' direct path, which must change nothing.
bool WithScanner(std::string_view document, size_t pieceSize, std::string& log, bool direct = false)
{
    Recorder recorder;
    vellumcast::spreadsheet::xlsx::CellDirectPath cells(recorder);
    try {
        XmlScanner scanner(recorder, direct ? &cells : nullptr);
        for (size_t at = 0; at < document.size(); at += pieceSize)
            scanner.Feed(document.substr(at, pieceSize), false);
        scanner.Feed({}, true);
    } catch (const SpreadsheetError&) {
        return false;
    }
    recorder.Flush();
    log = recorder.log;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t pieceSize = 1 + data[0] % 64;
    const std::string_view document(reinterpret_cast<const char*>(data + 1), size - 1);
    // Other encodings are Expat's alone.
    if (!ScannerReads(document))
        return 0;
    std::string expat, scanner;
    const bool expatAccepts = WithExpat(document, expat);
    const bool scannerAccepts = WithScanner(document, pieceSize, scanner);
    if (expatAccepts && scannerAccepts && expat != scanner)
        std::abort();
    std::string direct;
    if (WithScanner(document, pieceSize, direct, true) != scannerAccepts || direct != scanner)
        std::abort();
    // Expat judges non-ASCII names by older tables than the scanner's (which takes every
    // non-ASCII character as a name character once its UTF-8 is sound), so documents
    // with such bytes are compared only where both accept.
    const bool declaration = document.starts_with("<?xml") || document.starts_with("\xEF\xBB\xBF<?xml");
    const bool nonAscii = std::any_of(document.begin(), document.end(), [](char c) { return c & 0x80; });
    if (scannerAccepts && !expatAccepts && !declaration && !nonAscii)
        std::abort();
    return 0;
}
