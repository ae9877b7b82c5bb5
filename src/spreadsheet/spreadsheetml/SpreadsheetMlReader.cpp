// XML spreadsheets of 2003: one document holding the styles and every worksheet. Opening
// reads it once for the styles and the worksheets' names and visibility, passing over
// their tables; loading a worksheet reads on to the end of it, and the next load goes on
// from there, so that worksheets loaded in turn cost one more read of the document, not
// one each. Cells are placed as the application places them: after the previous one
// unless ss:Index says where, a merged cell taking the columns it spans.

#include "spreadsheet/spreadsheetml/SpreadsheetMlReader.h"
#include "spreadsheet/SheetData.h"
#include "spreadsheet/SheetLayout.h"
#include "spreadsheet/spreadsheetml/ControlReferences.h"
#include "spreadsheet/spreadsheetml/NamedFormats.h"
#include "spreadsheet/text/TextEncoding.h"
#include "spreadsheet/xlsx/XlsxText.h"
#include "spreadsheet/xml/Xml.h"
#include "spreadsheet/xml/XmlScanner.h"
#include "spreadsheet/xml/XmlText.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <unordered_map>

namespace vellumcast::spreadsheet::spreadsheetml {

namespace {

constexpr std::string_view kSpreadsheet = "urn:schemas-microsoft-com:office:spreadsheet";
constexpr std::string_view kExcel = "urn:schemas-microsoft-com:office:excel";
constexpr size_t kPiece = size_t { 1 } << 20;
constexpr uint32_t kNone = UINT32_MAX;

struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view> {}(text); }
};
// Style numbers by ID, found without a copy of the ID.
using StyleIndex = std::unordered_map<std::string, uint32_t, TextHash, std::equal_to<>>;

// The styles as written, numbered in order of their first appearance: each one's parent
// (by ID until every style is read) and its own number format, when it says.
struct StyleList {
    StyleIndex byId;
    std::vector<std::string> parentIds;
    std::vector<uint32_t> formats; // into formatNames, or kNone
    std::vector<std::string> formatNames;
    std::unordered_map<std::string, uint32_t, TextHash, std::equal_to<>> formatByName;

    uint32_t Add(std::string_view id)
    {
        const auto [it, added] = byId.try_emplace(std::string(id), static_cast<uint32_t>(parentIds.size()));
        if (added) {
            // The cell styles' limit (General comes first), reached before the copies of
            // their IDs take more.
            if (parentIds.size() + 1 >= kMaxStyles)
                throw SpreadsheetError(ErrorCode::TooLarge,
                    "it declares more than " + std::to_string(kMaxStyles - 1)
                        + " styles, more than any workbook holds");
            parentIds.emplace_back();
            formats.push_back(kNone);
        }
        return it->second;
    }
    void SetFormat(uint32_t style, std::string_view name)
    {
        const auto [it, added] = formatByName.try_emplace(std::string(name), static_cast<uint32_t>(formatNames.size()));
        if (added)
            formatNames.emplace_back(name);
        formats[style] = it->second;
    }

    // The number format code of every style, its own or inherited through ss:Parent;
    // General when none says. Each style is resolved once, so long chains of parents
    // cost no more than the styles; a chain that loops ends where it would repeat.
    std::vector<std::string_view> ResolveFormats()
    {
        const size_t count = parentIds.size();
        std::vector<uint32_t> parents(count, kNone);
        for (size_t i = 0; i < count; ++i) {
            if (const auto it = byId.find(parentIds[i]); !parentIds[i].empty() && it != byId.end())
                parents[i] = it->second;
        }
        parentIds = {};
        constexpr uint32_t kUnresolved = kNone - 1, kOnChain = kNone - 2;
        std::vector<uint32_t> resolved(count, kUnresolved); // a format name, kNone for General
        std::vector<uint32_t> chain;
        for (uint32_t first = 0; first < count; ++first) {
            uint32_t format = kNone;
            for (uint32_t current = first; current != kNone;) {
                if (resolved[current] != kUnresolved && resolved[current] != kOnChain) {
                    format = resolved[current];
                    break;
                }
                if (resolved[current] == kOnChain)
                    break; // a loop: General, as where no style of the chain says
                resolved[current] = kOnChain;
                chain.push_back(current);
                if (formats[current] != kNone) {
                    format = formats[current];
                    break;
                }
                current = parents[current];
            }
            for (const uint32_t member : chain)
                resolved[member] = format;
            chain.clear();
        }
        std::vector<std::string_view> codes(count);
        for (size_t i = 0; i < count; ++i)
            codes[i] = resolved[i] == kNone ? std::string_view("General") : FormatCodeOfName(formatNames[resolved[i]]);
        return codes;
    }
};

// A whole number written in an attribute, for indices and spans; absent gives fallback.
// Values past the sheet's limits saturate so that the place they lead to is refused.
int64_t WholeNumber(const xml::XmlAttributes& attributes, std::string_view name, int64_t fallback)
{
    bool found = false;
    const std::string_view text = attributes.Get(kSpreadsheet, name, &found);
    if (!found)
        return fallback;
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc::result_out_of_range)
        return kMaxRows + 1;
    if (error != std::errc() || end != text.data() + text.size() || value < 0)
        throw SpreadsheetError(ErrorCode::Corrupt,
            "the attribute ss:" + std::string(name) + " holds \"" + std::string(text) + "\", not a whole number");
    return std::min<int64_t>(value, kMaxRows + 1);
}

// A column's style, from <Column ss:Index ss:Span ss:StyleID>.
struct ColumnStyle {
    int32_t first;
    int32_t last;
    uint32_t style;
};

// Reads the document's events. Opened for the list, it gathers the styles, date system
// and worksheets and passes over the tables; given a target worksheet, it feeds that
// worksheet's cells to the builder and stops at the worksheet's end, from where it can
// go on to a later one.
class SpreadsheetMlHandler final : public xml::XmlHandler {
public:
    explicit SpreadsheetMlHandler(uint64_t fileSize)
        : m_fileSize(fileSize)
    {
    }

    // How the handler asks the XML reader to pass over an element's content, to stop,
    // and where the start tag being reported lies.
    void SetControls(std::function<void()> skip, std::function<void()> stop, std::function<uint64_t()> offset)
    {
        m_skip = std::move(skip);
        m_stop = std::move(stop);
        m_offset = std::move(offset);
    }

    // Lists the worksheets and gathers the styles, loading none.
    void ListAll() { m_listing = true; }
    // Loads worksheet number index (from 0), which must not lie before the ones seen.
    void Target(size_t index, SheetBuilder* builder, const StyleIndex* styleIndex)
    {
        m_targetIndex = index;
        m_builder = builder;
        m_styleIndex = styleIndex;
        const auto normal = styleIndex->find(std::string_view("Default"));
        m_defaultStyle = normal == styleIndex->end() ? 0 : normal->second;
        m_targetDone = false;
    }
    size_t WorksheetsSeen() const { return m_worksheets; }

    void StartElement(std::string_view uri, std::string_view local, const xml::XmlAttributes& attributes) override
    {
        ++m_depth;
        if (m_depth == 1) {
            if (uri != kSpreadsheet || local != "Workbook")
                throw SpreadsheetError(
                    ErrorCode::NotAWorkbook, "it is not a workbook (an XML document, but not an XML spreadsheet)");
            m_sawWorkbook = true;
            return;
        }
        if (m_commentDepth != 0)
            return;
        if (uri == kExcel) {
            if (!m_listing)
                return;
            if (local == "Date1904")
                date1904 = true;
            else if (local == "Visible" && m_inWorksheet) {
                m_text.clear();
                m_collectVisible = true;
            }
            return;
        }
        if (uri != kSpreadsheet) {
            // Rich text inside a value: its runs' text is the value's.
            return;
        }
        if (local == "Comment") {
            m_commentDepth = m_depth;
        } else if (local == "Styles" && !m_listing) {
            if (m_skip)
                m_skip(); // read when the workbook was opened
        } else if (local == "Style" && m_listing) {
            m_style = styles.Add(attributes.Get(kSpreadsheet, "ID", nullptr));
            styles.parentIds[m_style] = std::string(attributes.Get(kSpreadsheet, "Parent", nullptr));
        } else if (local == "NumberFormat" && m_style != kNone) {
            bool found = false;
            const std::string_view format = attributes.Get(kSpreadsheet, "Format", &found);
            if (found)
                styles.SetFormat(m_style, format);
        } else if (local == "Worksheet") {
            StartWorksheet(attributes);
        } else if (local == "Table" && m_inWorksheet) {
            StartTable();
        } else if (m_loading) {
            StartInTable(local, attributes);
        }
    }

    void EndElement(std::string_view uri, std::string_view local) override
    {
        const size_t depth = m_depth--;
        if (m_commentDepth != 0) {
            if (depth == m_commentDepth)
                m_commentDepth = 0;
            return;
        }
        if (uri == kExcel && local == "Visible" && m_collectVisible) {
            m_collectVisible = false;
            if (m_text == "SheetHidden")
                sheets.back().visibility = SheetVisibility::Hidden;
            else if (m_text == "SheetVeryHidden")
                sheets.back().visibility = SheetVisibility::VeryHidden;
            return;
        }
        if (uri != kSpreadsheet)
            return;
        if (local == "Style") {
            m_style = kNone;
        } else if (local == "Worksheet") {
            m_inWorksheet = false;
            if (m_builder && m_worksheets - 1 == m_targetIndex) {
                m_targetDone = true;
                m_builder = nullptr;
                if (m_stop)
                    m_stop();
            }
        } else if (m_loading) {
            EndInTable(local, depth);
        }
    }

    void Characters(std::string_view text) override
    {
        if (m_collectVisible || (m_table.dataDepth != 0 && m_commentDepth == 0))
            AppendRestoringControls(text, m_text);
    }

    bool TargetDone() const { return m_targetDone; }
    bool SawWorkbook() const { return m_sawWorkbook; }

    StyleList styles;
    std::deque<SheetEntry> sheets; // when listing
    std::vector<uint64_t> sheetStarts; // where each begins, in bytes of the document as read
    bool date1904 = false;
    numfmt::DateSystem dateSystem = numfmt::DateSystem::Date1900;

private:
    void StartWorksheet(const xml::XmlAttributes& attributes)
    {
        m_inWorksheet = true;
        m_tableSeen = false;
        if (m_listing) {
            RequireRoomInList(sheets.size(), ListLimit(m_fileSize), m_fileSize, "sheets");
            sheets.push_back({ std::string(attributes.Get(kSpreadsheet, "Name", nullptr)), SheetVisibility::Visible });
            sheetStarts.push_back(m_offset());
        }
        ++m_worksheets;
    }

    void StartTable()
    {
        // Only a worksheet's first table is its cells.
        if (!m_builder || m_worksheets - 1 != m_targetIndex || std::exchange(m_tableSeen, true)) {
            if (m_skip)
                m_skip();
            return;
        }
        m_loading = true;
        m_table = {};
        m_layout = m_builder->Layout();
    }

    // A row or column is hidden by ss:Hidden, or by a size (ss:Height, ss:Width) of zero.
    static bool Hides(const xml::XmlAttributes& attributes, std::string_view size)
    {
        const std::string_view hidden = attributes.Get(kSpreadsheet, "Hidden", nullptr);
        if (hidden == "1" || hidden == "true")
            return true;
        bool found = false;
        const std::string_view text = attributes.Get(kSpreadsheet, size, &found);
        double value = 1;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        return found && error == std::errc() && end == text.data() + text.size() && value == 0;
    }

    // Rows and columns, with the ones a span adds, are refused past the grid, as a cell
    // placed there is: counted on, they would come round to the first row or column.
    static void RequireInGrid(const char* what, int64_t last, int64_t limit)
    {
        if (last > limit)
            throw SpreadsheetError(
                ErrorCode::Corrupt, std::string(what) + " " + std::to_string(last) + " lies beyond the grid");
    }

    void StartInTable(std::string_view local, const xml::XmlAttributes& attributes)
    {
        TableState& t = m_table;
        if (local == "Column") {
            const int64_t first = WholeNumber(attributes, "Index", t.nextColumnStyle);
            const int64_t last = first + WholeNumber(attributes, "Span", 0);
            RequireInGrid("column", last, kMaxColumns);
            t.nextColumnStyle = last + 1;
            if (m_layout && Hides(attributes, "Width"))
                m_layout->HideColumns(first, last);
            bool found = false;
            const std::string_view id = attributes.Get(kSpreadsheet, "StyleID", &found);
            if (found)
                t.columnStyles.push_back({ static_cast<int32_t>(first), static_cast<int32_t>(last), StyleOf(id) });
        } else if (local == "Row") {
            const int64_t row = WholeNumber(attributes, "Index", int64_t { t.row } + 1);
            const int64_t span = WholeNumber(attributes, "Span", 0);
            RequireInGrid("row", row + span, kMaxRows);
            t.row = static_cast<int32_t>(row);
            t.rowSpan = static_cast<int32_t>(span);
            if (m_layout && Hides(attributes, "Height"))
                m_layout->HideRows(t.row, int64_t { t.row } + t.rowSpan);
            bool found = false;
            const std::string_view id = attributes.Get(kSpreadsheet, "StyleID", &found);
            t.rowStyle = found ? std::optional<uint32_t>(StyleOf(id)) : std::nullopt;
            t.column = 0;
        } else if (local == "Cell") {
            // A cell past the grid is refused by the builder; its merge is checked here,
            // before the cells it covers are counted on.
            const int64_t column = WholeNumber(attributes, "Index", int64_t { t.column } + 1);
            const int64_t across = WholeNumber(attributes, "MergeAcross", 0);
            const int64_t down = WholeNumber(attributes, "MergeDown", 0);
            RequireInGrid("column", std::min<int64_t>(column, kMaxColumns) + across, kMaxColumns);
            RequireInGrid("row", int64_t { t.row } + down, kMaxRows);
            t.column = static_cast<int32_t>(column);
            t.across = static_cast<int32_t>(across);
            t.down = static_cast<int32_t>(down);
            if (m_layout && (t.across > 0 || t.down > 0))
                m_layout->AddMerge({ t.row, t.column, t.row + t.down, t.column + t.across });
            bool found = false;
            const std::string_view id = attributes.Get(kSpreadsheet, "StyleID", &found);
            t.cellStyle = found ? StyleOf(id) : DefaultStyleAt(t.column);
            t.hasData = false;
        } else if (local == "Data" && t.dataDepth == 0) {
            t.dataDepth = m_depth;
            t.dataType = std::string(attributes.Get(kSpreadsheet, "Type", nullptr));
            m_text.clear();
        }
    }

    void EndInTable(std::string_view local, size_t depth)
    {
        TableState& t = m_table;
        if (local == "Data" && depth == t.dataDepth) {
            t.dataDepth = 0;
            t.hasData = true;
        } else if (local == "Cell") {
            AddCell();
            t.column += t.across;
        } else if (local == "Row") {
            t.row += t.rowSpan;
        } else if (local == "Table") {
            // A merge reaching below the last row still takes its rows in the grid.
            if (t.mergeBottom.first > t.lastRowAdded)
                m_builder->AddBlank(t.mergeBottom.first, t.mergeBottom.second, 0);
            m_loading = false;
            m_layout = nullptr;
            m_table = {};
        }
    }

    void AddCell()
    {
        TableState& t = m_table;
        SheetBuilder& builder = *m_builder;
        const int32_t row = t.row, column = t.column;
        const uint32_t style = t.cellStyle;
        const std::string_view type = t.dataType;
        if (!t.hasData) {
            builder.AddBlank(row, column, style);
        } else if (type == "Number") {
            double value = 0;
            const auto [end, error] = std::from_chars(m_text.data(), m_text.data() + m_text.size(), value);
            if (error == std::errc() && end == m_text.data() + m_text.size())
                builder.AddNumber(row, column, value, style);
            else
                builder.AddString(row, column, m_text, style);
        } else if (type == "Boolean") {
            builder.AddBoolean(row, column, m_text != "0" && !m_text.empty(), style);
        } else if (type == "DateTime") {
            double serial = 0;
            if (xlsx::IsoDateToSerial(m_text, dateSystem, serial))
                builder.AddNumber(row, column, serial, style);
            else
                builder.AddString(row, column, m_text, style);
        } else if (CellError error; type == "Error" && CellErrorFromText(m_text, error)) {
            builder.AddError(row, column, error, style);
        } else {
            builder.AddString(row, column, m_text, style);
        }
        // The cells a merge covers hold nothing but take their place in the grid.
        if (t.across > 0)
            builder.AddBlank(row, column + t.across, style);
        if (t.down > 0 && row + t.down > t.mergeBottom.first)
            t.mergeBottom = { row + t.down, column };
        t.lastRowAdded = row;
    }

    uint32_t StyleOf(std::string_view id) const
    {
        const auto it = m_styleIndex->find(id);
        return it == m_styleIndex->end() ? m_defaultStyle : it->second;
    }
    // The style of a cell that names none: its row's, else its column's, else Default.
    static bool ByFirst(const ColumnStyle& a, const ColumnStyle& b) { return a.first < b.first; }
    uint32_t DefaultStyleAt(int32_t column)
    {
        TableState& t = m_table;
        if (t.rowStyle)
            return *t.rowStyle;
        // Columns are written in order; the lookup sorts them once if they were not.
        if (!std::is_sorted(t.columnStyles.begin() + static_cast<std::ptrdiff_t>(t.columnsChecked),
                t.columnStyles.end(), ByFirst)) {
            std::sort(t.columnStyles.begin(), t.columnStyles.end(), ByFirst);
        }
        t.columnsChecked = t.columnStyles.empty() ? 0 : t.columnStyles.size() - 1;
        const auto after = std::upper_bound(t.columnStyles.begin(), t.columnStyles.end(), column,
            [](int32_t value, const ColumnStyle& span) { return value < span.first; });
        if (after != t.columnStyles.begin() && column <= std::prev(after)->last)
            return std::prev(after)->style;
        return m_defaultStyle;
    }

    // What one table being loaded keeps.
    struct TableState {
        std::vector<ColumnStyle> columnStyles;
        size_t columnsChecked = 0; // the columns before this one are known to be in order
        int64_t nextColumnStyle = 1;
        int32_t row = 0;
        int32_t rowSpan = 0;
        std::optional<uint32_t> rowStyle;
        int32_t column = 0;
        int32_t across = 0;
        int32_t down = 0;
        uint32_t cellStyle = 0;
        bool hasData = false;
        size_t dataDepth = 0;
        std::string dataType;
        int32_t lastRowAdded = 0;
        std::pair<int32_t, int32_t> mergeBottom { 0, 0 };
    };

    uint64_t m_fileSize;
    bool m_listing = false;
    size_t m_targetIndex = SIZE_MAX;
    SheetBuilder* m_builder = nullptr; // the target's, until its worksheet ends
    const StyleIndex* m_styleIndex = nullptr;
    uint32_t m_defaultStyle = 0; // the style named Default, else General
    SheetLayout* m_layout = nullptr; // the target's, while its table is read
    std::function<void()> m_skip;
    std::function<void()> m_stop;
    std::function<uint64_t()> m_offset;
    size_t m_depth = 0;
    size_t m_commentDepth = 0;
    size_t m_worksheets = 0; // seen so far
    uint32_t m_style = kNone; // the Style element open
    bool m_sawWorkbook = false;
    bool m_inWorksheet = false;
    bool m_tableSeen = false; // in the worksheet open
    bool m_collectVisible = false;
    bool m_loading = false;
    bool m_targetDone = false;
    std::string m_text;
    TableState m_table;
};

class SpreadsheetMlReader final : public WorkbookReader {
public:
    explicit SpreadsheetMlReader(const ReaderContext& context)
        : m_bytes(context.bytes)
        , m_yield(context.yield)
    {
    }

    void Open(WorkbookData& data)
    {
        DocumentRead read(m_bytes->Size());
        read.handler.ListAll();
        Stream(read, nullptr);
        SpreadsheetMlHandler& handler = read.handler;
        if (!handler.SawWorkbook())
            throw SpreadsheetError(ErrorCode::NotAWorkbook, "it is not a workbook (an empty XML document)");
        data.dateSystem = handler.date1904 ? numfmt::DateSystem::Date1904 : numfmt::DateSystem::Date1900;
        m_dateSystem = data.dateSystem;
        // Style 0 stays General for cells whose style is unknown.
        data.formats.AddStyle("General");
        const std::vector<std::string_view> codes = handler.styles.ResolveFormats();
        for (const std::string_view code : codes)
            data.formats.AddStyle(code);
        m_styleIndex = std::move(handler.styles.byId);
        for (auto& [id, style] : m_styleIndex)
            ++style; // after General
        data.sheets = std::move(handler.sheets);
        m_sheetStarts = std::move(handler.sheetStarts);
        m_documentRead = read.fed;
    }

    // The share of the document from the worksheet's start to the next one's.
    uint64_t SheetBytes(size_t index) const override
    {
        if (index >= m_sheetStarts.size() || m_documentRead == 0)
            return m_bytes->Size();
        const uint64_t end = index + 1 < m_sheetStarts.size() ? m_sheetStarts[index + 1] : m_documentRead;
        const double share = static_cast<double>(end - m_sheetStarts[index]) / static_cast<double>(m_documentRead);
        return static_cast<uint64_t>(share * static_cast<double>(m_bytes->Size()));
    }

    void LoadSheet(size_t index, SheetBuilder& builder) override
    {
        // The read the last load left at its worksheet's end goes on when this worksheet
        // lies after it; any other load (out of turn, or again) reads from the start.
        std::unique_ptr<DocumentRead> read = std::move(m_stoppedRead);
        if (!read || read->handler.WorksheetsSeen() > index)
            read = std::make_unique<DocumentRead>(m_bytes->Size());
        read->handler.dateSystem = m_dateSystem;
        read->handler.Target(index, &builder, &m_styleIndex);
        Stream(*read, &builder);
        if (!read->handler.TargetDone()) {
            if (read->handler.WorksheetsSeen() <= index)
                throw SpreadsheetError(ErrorCode::Corrupt, "the worksheet is missing from the document");
            return;
        }
        m_stoppedRead = std::move(read);
    }

private:
    // One pass through the document, which may stop at a worksheet's end and later go on
    // from there.
    struct DocumentRead {
        explicit DocumentRead(uint64_t fileSize)
            : handler(fileSize)
            , scanner(handler)
        {
        }
        SpreadsheetMlHandler handler;
        xml::XmlScanner scanner;
        std::unique_ptr<xml::XmlParser> expat; // a document in another encoding
        std::optional<text::Utf16Decoder> utf16;
        std::string converted;
        ControlReferences controls; // what the XML reader is given of the document
        bool started = false;
        bool ended = false; // the document's end was fed
        size_t at = 0; // the next byte to feed
        uint64_t fed = 0; // bytes the XML reader was given: the document's, or their UTF-8 form
    };

    // Reads on a piece at a time until the handler stops or the document ends: UTF-8
    // (what every writer produces) through the fast scanner, UTF-16 converted to UTF-8
    // piece by piece on its way to the same scanner, any other encoding through Expat,
    // which converts it. builder, when given, learns how much has been read.
    void Stream(DocumentRead& read, SheetBuilder* builder)
    {
        const auto bytes = m_bytes->Bytes();
        const std::string_view document(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        SpreadsheetMlHandler& handler = read.handler;
        const auto stopped
            = [&] { return handler.TargetDone() || (read.expat ? read.expat->Suspended() : read.scanner.Stopped()); };
        const auto feed = [&](std::string_view piece, bool final) {
            if (read.expat) {
                const std::string_view rewritten = read.controls.Rewrite(piece, final);
                read.fed += rewritten.size();
                read.expat->Feed(rewritten, final);
            } else if (read.utf16) {
                read.converted.clear();
                if (!read.utf16->Decode(piece, final, read.converted))
                    throw SpreadsheetError(ErrorCode::Corrupt,
                        "its UTF-16 text is damaged at byte "
                            + std::to_string(
                                text::ByteOrderMarkLength(text::ByteOrderMarkOf(document)) + read.utf16->DamageAt())
                            + " (an unpaired surrogate or a byte missing)");
                const std::string_view rewritten = read.controls.Rewrite(read.converted, final);
                read.fed += rewritten.size();
                read.scanner.Feed(rewritten, final);
            } else {
                const std::string_view rewritten = read.controls.Rewrite(piece, final);
                read.fed += rewritten.size();
                read.scanner.Feed(rewritten, final);
            }
        };
        if (!read.started) {
            read.started = true;
            if (const auto order = text::Utf16XmlOrder(document); order != text::ByteOrderMark::None) {
                read.utf16.emplace(order == text::ByteOrderMark::Utf16BE);
                read.at = text::ByteOrderMarkLength(text::ByteOrderMarkOf(document));
            } else if (!xml::ScannerReads(document)) {
                read.expat = std::make_unique<xml::XmlParser>(handler);
            }
            if (read.expat) {
                xml::XmlParser* expat = read.expat.get();
                handler.SetControls(
                    {}, [expat] { expat->Suspend(); }, [expat] { return expat->EventOffset(); });
            } else {
                xml::XmlScanner* scanner = &read.scanner;
                handler.SetControls([scanner] { scanner->SkipContent(); }, [scanner] { scanner->Stop(); },
                    [scanner] { return scanner->StartTagOffset(); });
            }
        } else if (read.expat) {
            // A read stopped within a piece goes on with the rest its reader kept.
            read.expat->Resume();
        } else {
            read.scanner.Resume();
            if (!read.ended)
                read.scanner.Feed({}, false);
        }
        while (!stopped() && read.at < document.size()) {
            const std::string_view piece = document.substr(read.at, kPiece);
            read.at += piece.size();
            feed(piece, false);
            if (builder)
                builder->NoteRead(read.at, document.size());
            if (!stopped() && m_yield)
                m_yield();
        }
        if (!stopped() && (!read.ended || !read.expat)) {
            read.ended = true;
            feed({}, true);
        }
    }

    std::shared_ptr<const FileBytes> m_bytes;
    std::function<void()> m_yield;
    StyleIndex m_styleIndex;
    numfmt::DateSystem m_dateSystem = numfmt::DateSystem::Date1900;
    std::unique_ptr<DocumentRead> m_stoppedRead; // stopped at the end of the last worksheet loaded
    std::vector<uint64_t> m_sheetStarts; // as the handler found them
    uint64_t m_documentRead = 0; // the bytes those offsets count within
};

} // namespace

bool LooksLikeSpreadsheetMl(std::string_view head)
{
    // A document that names the namespace early; the reader itself checks that the root
    // is that namespace's Workbook. Text that merely mentions it is no document.
    std::string decoded;
    if (const auto order = text::Utf16XmlOrder(head); order != text::ByteOrderMark::None) {
        head.remove_prefix(text::ByteOrderMarkLength(text::ByteOrderMarkOf(head)));
        decoded = text::Utf16ToUtf8(head, order == text::ByteOrderMark::Utf16BE);
        head = decoded;
    } else if (head.starts_with("\xEF\xBB\xBF")) {
        head.remove_prefix(3);
    }
    const size_t start = head.find_first_not_of(" \t\r\n");
    return start != std::string_view::npos && head[start] == '<' && head.find(kSpreadsheet) != std::string_view::npos;
}

std::unique_ptr<WorkbookReader> OpenReader(const ReaderContext& context, WorkbookData& data)
{
    auto reader = std::make_unique<SpreadsheetMlReader>(context);
    reader->Open(data);
    return reader;
}

} // namespace vellumcast::spreadsheet::spreadsheetml
