// XML spreadsheets of 2003: one document holding the styles and every worksheet. Opening
// reads it once for the styles and the worksheets' names and visibility, passing over
// their tables; loading a worksheet reads on to the end of its table. Cells are placed as
// the application places them: after the previous one unless ss:Index says where, a
// merged cell taking the columns it spans.

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

// A style as written: its parent and, when it says so, its own number format.
struct StyleEntry {
    std::string parent;
    std::optional<std::string> format;
};

// The number format code of every style, its own or inherited through ss:Parent; General
// when none says. Each style is resolved once, so long chains of parents cost no more
// than the styles; a chain that loops ends where it would repeat.
std::unordered_map<std::string, std::string> ResolveFormats(const std::unordered_map<std::string, StyleEntry>& styles)
{
    std::unordered_map<std::string, std::string> resolved;
    for (const auto& [id, entry] : styles) {
        std::vector<const std::string*> chain;
        std::string code = "General";
        for (const std::string* current = &id;;) {
            if (const auto done = resolved.find(*current); done != resolved.end()) {
                code = done->second;
                break;
            }
            const auto it = styles.find(*current);
            if (it == styles.end() || chain.size() > styles.size())
                break;
            chain.push_back(current);
            if (it->second.format) {
                code = std::string(FormatCodeOfName(*it->second.format));
                break;
            }
            if (it->second.parent.empty())
                break;
            current = &it->second.parent;
        }
        for (const std::string* member : chain)
            resolved.emplace(*member, code);
    }
    return resolved;
}

// A whole number written in an attribute, for indices and spans; absent gives fallback.
// Values past the sheet's limits saturate so that the builder refuses the cell they place.
int32_t WholeNumber(const xml::XmlAttributes& attributes, std::string_view name, int32_t fallback)
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
    return static_cast<int32_t>(std::min<int64_t>(value, kMaxRows + 1));
}

// A column's style, from <Column ss:Index ss:Span ss:StyleID>.
struct ColumnStyle {
    int32_t first;
    int32_t last;
    uint32_t style;
};

// Reads the document's events. Opened without a target, it gathers the styles, date
// system and worksheets and passes over the tables; with a target worksheet, it feeds
// that worksheet's cells to the builder and stops at the end of its table.
class SpreadsheetMlHandler final : public xml::XmlHandler {
public:
    struct Target {
        size_t index;
        SheetBuilder* builder;
        const std::unordered_map<std::string, uint32_t>* styleIndex;
    };

    explicit SpreadsheetMlHandler(std::optional<Target> target)
        : m_target(target)
    {
    }

    void SetControls(std::function<void()> skip, std::function<void()> stop)
    {
        m_skip = std::move(skip);
        m_stop = std::move(stop);
    }

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
        } else if (local == "Style") {
            m_styleId = std::string(attributes.Get(kSpreadsheet, "ID", nullptr));
            const auto [entry, added] = styles.try_emplace(m_styleId);
            entry->second.parent = std::string(attributes.Get(kSpreadsheet, "Parent", nullptr));
            if (added)
                styleOrder.push_back(m_styleId);
        } else if (local == "NumberFormat" && !m_styleId.empty()) {
            bool found = false;
            const std::string_view format = attributes.Get(kSpreadsheet, "Format", &found);
            if (found)
                styles[m_styleId].format = std::string(format);
        } else if (local == "Worksheet") {
            m_inWorksheet = true;
            sheets.push_back({ std::string(attributes.Get(kSpreadsheet, "Name", nullptr)), SheetVisibility::Visible });
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
            m_styleId.clear();
        } else if (local == "Worksheet") {
            m_inWorksheet = false;
        } else if (m_loading) {
            EndInTable(local, depth);
        }
    }

    void Characters(std::string_view text) override
    {
        if (m_collectVisible || (m_dataDepth != 0 && m_commentDepth == 0))
            AppendRestoringControls(text, m_text);
    }

    bool TargetDone() const { return m_targetDone; }
    bool SawWorkbook() const { return m_sawWorkbook; }

    std::unordered_map<std::string, StyleEntry> styles;
    std::vector<std::string> styleOrder;
    std::deque<SheetEntry> sheets;
    bool date1904 = false;

private:
    void StartTable()
    {
        if (!m_target || sheets.size() - 1 != m_target->index) {
            if (m_skip)
                m_skip();
            return;
        }
        m_loading = true;
        m_row = 0;
        m_layout = m_target->builder->Layout();
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

    void StartInTable(std::string_view local, const xml::XmlAttributes& attributes)
    {
        if (local == "Column") {
            const int32_t first = WholeNumber(attributes, "Index", m_nextColumnStyle);
            const int32_t last = first + WholeNumber(attributes, "Span", 0);
            m_nextColumnStyle = last + 1;
            if (m_layout && Hides(attributes, "Width"))
                m_layout->HideColumns(first, last);
            bool found = false;
            const std::string_view id = attributes.Get(kSpreadsheet, "StyleID", &found);
            if (found)
                m_columnStyles.push_back({ first, last, StyleOf(id) });
        } else if (local == "Row") {
            m_row = WholeNumber(attributes, "Index", m_row + 1);
            m_rowSpan = WholeNumber(attributes, "Span", 0);
            if (m_layout && Hides(attributes, "Height"))
                m_layout->HideRows(m_row, int64_t { m_row } + m_rowSpan);
            bool found = false;
            const std::string_view id = attributes.Get(kSpreadsheet, "StyleID", &found);
            m_rowStyle = found ? std::optional<uint32_t>(StyleOf(id)) : std::nullopt;
            m_column = 0;
        } else if (local == "Cell") {
            m_column = WholeNumber(attributes, "Index", m_column + 1);
            m_across = WholeNumber(attributes, "MergeAcross", 0);
            m_down = WholeNumber(attributes, "MergeDown", 0);
            if (m_layout && (m_across > 0 || m_down > 0))
                m_layout->AddMerge({ m_row, m_column, m_row + m_down, m_column + m_across });
            bool found = false;
            const std::string_view id = attributes.Get(kSpreadsheet, "StyleID", &found);
            m_cellStyle = found ? StyleOf(id) : DefaultStyleAt(m_column);
            m_hasData = false;
        } else if (local == "Data" && m_dataDepth == 0) {
            m_dataDepth = m_depth;
            m_dataType = std::string(attributes.Get(kSpreadsheet, "Type", nullptr));
            m_text.clear();
        }
    }

    void EndInTable(std::string_view local, size_t depth)
    {
        if (local == "Data" && depth == m_dataDepth) {
            m_dataDepth = 0;
            m_hasData = true;
        } else if (local == "Cell") {
            AddCell();
            m_column += m_across;
        } else if (local == "Row") {
            m_row += m_rowSpan;
        } else if (local == "Table") {
            // A merge reaching below the last row still takes its rows in the grid.
            if (m_mergeBottom.first > m_lastRowAdded)
                m_target->builder->AddBlank(m_mergeBottom.first, m_mergeBottom.second, 0);
            m_loading = false;
            m_targetDone = true;
            if (m_stop)
                m_stop();
        }
    }

    void AddCell()
    {
        SheetBuilder& builder = *m_target->builder;
        const int32_t row = m_row, column = m_column;
        if (!m_hasData) {
            builder.AddBlank(row, column, m_cellStyle);
        } else if (m_dataType == "Number") {
            double value = 0;
            const auto [end, error] = std::from_chars(m_text.data(), m_text.data() + m_text.size(), value);
            if (error == std::errc() && end == m_text.data() + m_text.size())
                builder.AddNumber(row, column, value, m_cellStyle);
            else
                builder.AddString(row, column, m_text, m_cellStyle);
        } else if (m_dataType == "Boolean") {
            builder.AddBoolean(row, column, m_text != "0" && !m_text.empty(), m_cellStyle);
        } else if (m_dataType == "DateTime") {
            double serial = 0;
            if (xlsx::IsoDateToSerial(m_text, dateSystem, serial))
                builder.AddNumber(row, column, serial, m_cellStyle);
            else
                builder.AddString(row, column, m_text, m_cellStyle);
        } else if (CellError error; m_dataType == "Error" && CellErrorFromText(m_text, error)) {
            builder.AddError(row, column, error, m_cellStyle);
        } else {
            builder.AddString(row, column, m_text, m_cellStyle);
        }
        // The cells a merge covers hold nothing but take their place in the grid.
        if (m_across > 0)
            builder.AddBlank(row, column + m_across, m_cellStyle);
        if (m_down > 0 && row + m_down > m_mergeBottom.first)
            m_mergeBottom = { row + m_down, column };
        m_lastRowAdded = row;
    }

    uint32_t StyleOf(std::string_view id) const
    {
        const auto it = m_target->styleIndex->find(std::string(id));
        return it == m_target->styleIndex->end() ? DefaultStyle() : it->second;
    }
    uint32_t DefaultStyle() const
    {
        const auto it = m_target->styleIndex->find("Default");
        return it == m_target->styleIndex->end() ? 0 : it->second;
    }
    // The style of a cell that names none: its row's, else its column's, else Default.
    static bool ByFirst(const ColumnStyle& a, const ColumnStyle& b) { return a.first < b.first; }
    uint32_t DefaultStyleAt(int32_t column)
    {
        if (m_rowStyle)
            return *m_rowStyle;
        // Columns are written in order; the lookup sorts them once if they were not.
        if (!std::is_sorted(m_columnStyles.begin() + static_cast<std::ptrdiff_t>(m_columnsChecked),
                m_columnStyles.end(), ByFirst)) {
            std::sort(m_columnStyles.begin(), m_columnStyles.end(), ByFirst);
        }
        m_columnsChecked = m_columnStyles.empty() ? 0 : m_columnStyles.size() - 1;
        const auto after = std::upper_bound(m_columnStyles.begin(), m_columnStyles.end(), column,
            [](int32_t value, const ColumnStyle& span) { return value < span.first; });
        if (after != m_columnStyles.begin() && column <= std::prev(after)->last)
            return std::prev(after)->style;
        return DefaultStyle();
    }

public:
    numfmt::DateSystem dateSystem = numfmt::DateSystem::Date1900;

private:
    std::optional<Target> m_target;
    SheetLayout* m_layout = nullptr; // the target's, once its table starts
    std::function<void()> m_skip;
    std::function<void()> m_stop;
    size_t m_depth = 0;
    size_t m_commentDepth = 0;
    bool m_sawWorkbook = false;
    bool m_inWorksheet = false;
    bool m_collectVisible = false;
    bool m_loading = false;
    bool m_targetDone = false;
    std::string m_styleId;
    std::string m_text;
    // The table being loaded.
    std::vector<ColumnStyle> m_columnStyles;
    size_t m_columnsChecked = 0; // the columns before this one are known to be in order
    int32_t m_nextColumnStyle = 1;
    int32_t m_row = 0;
    int32_t m_rowSpan = 0;
    std::optional<uint32_t> m_rowStyle;
    int32_t m_column = 0;
    int32_t m_across = 0;
    int32_t m_down = 0;
    uint32_t m_cellStyle = 0;
    bool m_hasData = false;
    size_t m_dataDepth = 0;
    std::string m_dataType;
    int32_t m_lastRowAdded = 0;
    std::pair<int32_t, int32_t> m_mergeBottom { 0, 0 };
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
        SpreadsheetMlHandler handler(std::nullopt);
        Stream(handler, nullptr);
        if (!handler.SawWorkbook())
            throw SpreadsheetError(ErrorCode::NotAWorkbook, "it is not a workbook (an empty XML document)");
        data.dateSystem = handler.date1904 ? numfmt::DateSystem::Date1904 : numfmt::DateSystem::Date1900;
        m_dateSystem = data.dateSystem;
        // Style 0 stays General for cells whose style is unknown.
        data.formats.AddStyle("General");
        const auto codes = ResolveFormats(handler.styles);
        for (const std::string& id : handler.styleOrder)
            m_styleIndex.emplace(id, data.formats.AddStyle(codes.at(id)));
        data.sheets = std::move(handler.sheets);
    }

    uint64_t SheetBytes(size_t) const override { return m_bytes->Bytes().size(); }

    void LoadSheet(size_t index, SheetBuilder& builder) override
    {
        SpreadsheetMlHandler handler(SpreadsheetMlHandler::Target { index, &builder, &m_styleIndex });
        handler.dateSystem = m_dateSystem;
        Stream(handler, &builder);
        if (!handler.TargetDone() && handler.sheets.size() <= index)
            throw SpreadsheetError(ErrorCode::Corrupt, "the worksheet is missing from the document");
    }

private:
    // Reads the document a piece at a time: UTF-8 (what every writer produces) through
    // the fast scanner, UTF-16 converted to UTF-8 piece by piece on its way to the same
    // scanner, any other encoding through Expat, which converts it.
    void Stream(SpreadsheetMlHandler& handler, SheetBuilder* builder)
    {
        const auto bytes = m_bytes->Bytes();
        const std::string_view document(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        xml::XmlScanner scanner(handler);
        std::unique_ptr<xml::XmlParser> expat;
        std::optional<text::Utf16Decoder> utf16;
        std::string converted;
        ControlReferences controls;
        size_t start = 0;
        if (const auto order = text::Utf16XmlOrder(document); order != text::ByteOrderMark::None) {
            utf16.emplace(order == text::ByteOrderMark::Utf16BE);
            start = text::ByteOrderMarkLength(text::ByteOrderMarkOf(document));
        } else if (!xml::ScannerReads(document)) {
            expat = std::make_unique<xml::XmlParser>(handler);
        }
        if (expat)
            handler.SetControls({}, [&] { expat->Stop(); });
        else
            handler.SetControls([&] { scanner.SkipContent(); }, [&] { scanner.Stop(); });
        for (size_t at = start; at < document.size(); at += kPiece) {
            const std::string_view piece = document.substr(at, kPiece);
            const bool final = at + piece.size() >= document.size();
            if (expat) {
                expat->Feed(controls.Rewrite(piece, final), final);
            } else if (utf16) {
                converted.clear();
                if (!utf16->Decode(piece, final, converted))
                    throw SpreadsheetError(ErrorCode::Corrupt,
                        "its UTF-16 text is damaged at byte " + std::to_string(start + utf16->DamageAt())
                            + " (an unpaired surrogate or a byte missing)");
                scanner.Feed(controls.Rewrite(converted, final), final);
            } else {
                scanner.Feed(controls.Rewrite(piece, final), final);
            }
            if (builder)
                builder->NoteRead(at + piece.size(), document.size());
            if (handler.TargetDone() || (expat ? expat->Stopped() : scanner.Stopped()))
                return;
            if (m_yield)
                m_yield();
        }
    }

    std::shared_ptr<const FileBytes> m_bytes;
    std::function<void()> m_yield;
    std::unordered_map<std::string, uint32_t> m_styleIndex;
    numfmt::DateSystem m_dateSystem = numfmt::DateSystem::Date1900;
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
