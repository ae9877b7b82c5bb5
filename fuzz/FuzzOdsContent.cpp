// Scans arbitrary bytes as the content of an OpenDocument spreadsheet twice: with cells
// written the usual way read by the scanner's direct path, and with every cell read the
// general way. Both must give the same sheets and cells, or fail alike; neither may
// crash or hang. The first byte chooses the size of the pieces the bytes arrive in.

#include "spreadsheet/ods/OdsXmlScanner.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace vellumcast::spreadsheet;
using namespace vellumcast::spreadsheet::ods;
using namespace vellumcast::spreadsheet::xml;

class RecordingSink final : public OdsCellSink {
public:
    bool Add(int32_t row, int32_t column, std::string_view text) override
    {
        cells.push_back(std::to_string(row) + "," + std::to_string(column) + "=" + std::string(text));
        return cells.size() < 100000;
    }
    SheetLayout* Layout() override { return &layout; }
    std::vector<std::string> cells;
    SheetLayout layout;
};

struct Outcome {
    std::vector<std::string> cells;
    std::vector<std::string> sheets;
    std::string error;
};

Outcome Scan(std::string_view document, size_t pieceSize, bool directCells)
{
    Outcome outcome;
    RecordingSink sink;
    OdsContentHandler handler(0, &sink, uint64_t { 1 } << 24);
    try {
        OdsXmlScanner scanner(handler, directCells);
        for (size_t at = 0; at < document.size() || at == 0; at += pieceSize) {
            const std::string_view piece = at < document.size() ? document.substr(at, pieceSize) : std::string_view();
            scanner.Feed(piece, at + pieceSize >= document.size());
        }
    } catch (const SpreadsheetError& error) {
        outcome.error = error.what();
    }
    outcome.cells = sink.cells;
    // The layout read on the way, which both paths must read alike too.
    sink.layout.Finish();
    outcome.cells.push_back("merged " + std::to_string(sink.layout.MergedAreas().size()) + ", hidden "
        + std::to_string(sink.layout.HiddenRows().CountWithin(1, kMaxRows)) + " rows, "
        + std::to_string(sink.layout.HiddenColumns().CountWithin(1, kMaxColumns)) + " columns");
    for (const SheetEntry& sheet : handler.Sheets())
        outcome.sheets.push_back(sheet.name);
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t pieceSize = size_t { data[0] } * 16 + 1;
    const std::string_view document(reinterpret_cast<const char*>(data) + 1, size - 1);
    const Outcome direct = Scan(document, pieceSize, true);
    const Outcome general = Scan(document, pieceSize, false);
    if (direct.cells != general.cells || direct.sheets != general.sheets || direct.error != general.error)
        std::abort();
    return 0;
}
