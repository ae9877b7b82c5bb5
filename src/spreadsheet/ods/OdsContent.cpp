#include "spreadsheet/ods/OdsContent.h"

#include <algorithm>

namespace vellumcast::spreadsheet::ods {

namespace {

constexpr std::string_view kOfficeUri = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";
constexpr std::string_view kTableUri = "urn:oasis:names:tc:opendocument:xmlns:table:1.0";
constexpr std::string_view kTextUri = "urn:oasis:names:tc:opendocument:xmlns:text:1.0";
constexpr std::string_view kStyleUri = "urn:oasis:names:tc:opendocument:xmlns:style:1.0";
constexpr std::string_view kNumberUri = "urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0";
constexpr OdsNs kOffice = OdsNs::Office;
constexpr OdsNs kTable = OdsNs::Table;
constexpr OdsNs kText = OdsNs::Text;
constexpr OdsNs kStyle = OdsNs::Style;
constexpr OdsNs kNumber = OdsNs::Number;

std::string_view UriOf(OdsNs ns)
{
    switch (ns) {
    case OdsNs::Office:
        return kOfficeUri;
    case OdsNs::Table:
        return kTableUri;
    case OdsNs::Text:
        return kTextUri;
    case OdsNs::Style:
        return kStyleUri;
    case OdsNs::Number:
        return kNumberUri;
    case OdsNs::Other:
        break;
    }
    return {};
}

class ReaderAttributes final : public OdsAttributes {
public:
    explicit ReaderAttributes(const xml::XmlAttributes& attributes)
        : m_attributes(attributes)
    {
    }
    std::string_view Get(OdsNs ns, std::string_view localName) const override
    {
        return ns == OdsNs::Other ? std::string_view() : m_attributes.Get(UriOf(ns), localName, nullptr);
    }

private:
    const xml::XmlAttributes& m_attributes;
};

// text:s may ask for any number of spaces; a cell never grows past this many through it.
constexpr size_t kMaxExpandedText = 65536;
// The bytes a recorded cell costs besides its text.
constexpr uint64_t kCellCost = 16;

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Rows and columns collapsed, or filtered out, are hidden; the default is visible.
bool IsHidden(const OdsAttributes& attributes)
{
    const std::string_view visibility = attributes.Get(OdsNs::Table, "visibility");
    return visibility == "collapse" || visibility == "filter";
}

} // namespace

OdsCellAttributes OdsAttributes::GetCell() const
{
    OdsCellAttributes cell;
    cell.columnsRepeated = Get(kTable, "number-columns-repeated");
    cell.columnsSpanned = Get(kTable, "number-columns-spanned");
    cell.rowsSpanned = Get(kTable, "number-rows-spanned");
    cell.formula = Get(kTable, "formula");
    cell.valueType = Get(kOffice, "value-type");
    cell.type = OdsValueTypeOf(cell.valueType);
    if (const std::string_view local = OdsValueAttributeOf(cell.type); !local.empty())
        cell.value = Get(kOffice, local);
    return cell;
}

std::string_view OdsValueAttributeOf(OdsValueType type)
{
    switch (type) {
    case OdsValueType::Number:
        return "value";
    case OdsValueType::Date:
        return "date-value";
    case OdsValueType::Time:
        return "time-value";
    case OdsValueType::Boolean:
        return "boolean-value";
    case OdsValueType::String:
        return "string-value";
    case OdsValueType::None:
        break;
    }
    return {};
}

OdsNs OdsNamespaceOf(std::string_view uri)
{
    if (uri == kTableUri)
        return OdsNs::Table;
    if (uri == kTextUri)
        return OdsNs::Text;
    if (uri == kOfficeUri)
        return OdsNs::Office;
    if (uri == kStyleUri)
        return OdsNs::Style;
    if (uri == kNumberUri)
        return OdsNs::Number;
    return OdsNs::Other;
}

void OdsXmlAdapter::StartElement(
    std::string_view namespaceUri, std::string_view localName, const xml::XmlAttributes& attributes)
{
    m_handler.StartElement(OdsNamespaceOf(namespaceUri), localName, ReaderAttributes(attributes));
    if (m_handler.TakeSkipRequest() && m_skip)
        m_skip();
    CheckStop();
}

void OdsXmlAdapter::EndElement(std::string_view namespaceUri, std::string_view localName)
{
    m_handler.EndElement(OdsNamespaceOf(namespaceUri), localName);
    CheckStop();
}

void OdsXmlAdapter::Characters(std::string_view text)
{
    m_handler.Characters(text);
}

void OdsXmlAdapter::CheckStop()
{
    if (m_stop && m_handler.StopRequested())
        m_stop();
}

int64_t ParseOdsCount(std::string_view text)
{
    constexpr int64_t kCap = int64_t { 1 } << 31;
    if (text.empty())
        return 1;
    int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return 1;
        value = std::min(kCap, value * 10 + (c - '0'));
    }
    return std::max<int64_t>(value, 1);
}

OdsContentHandler::OdsContentHandler(size_t target, OdsCellSink* sink, uint64_t repeatBudget)
    : m_target(target)
    , m_sink(sink)
    , m_repeatBudget(repeatBudget)
{
}

void OdsContentHandler::LoadStoppedTable(OdsCellSink* sink, uint64_t repeatBudget)
{
    m_target = StoppedAtTable();
    m_sink = sink;
    m_repeatBudget = repeatBudget;
    m_stopAtTable = SIZE_MAX;
    m_stopRequested = false;
    m_sinkFull = false;
    m_row = 1;
    m_rowRepeat = 1;
    m_inRow = false;
    m_column = 1;
    m_nextColumn = 1;
    m_durationColumns.clear();
    m_rowCells.clear();
    m_rowPool.clear();
    m_inCell = false;
    m_covered = false;
    m_columnRepeat = 1;
    m_paragraphDepth = 0;
    m_paragraphs = 0;
    m_atParagraphStart = false;
    m_lastWasSpace = false;
    m_text.clear();
    m_fallback.clear();
    // A table that closed itself at once ended with its start tag.
    m_inTarget = m_tableDepth == 1;
    m_targetDone = m_tableDepth == 0;
}

std::vector<SheetEntry> OdsContentHandler::Sheets() const
{
    std::vector<SheetEntry> sheets;
    sheets.reserve(m_tables.size());
    for (const TableInfo& table : m_tables) {
        const bool hidden = !table.style.empty() && m_hiddenStyles.count(table.style) != 0;
        sheets.push_back({ table.name, hidden ? SheetVisibility::Hidden : SheetVisibility::Visible });
    }
    return sheets;
}

void OdsContentHandler::StartElement(OdsNs namespaceUri, std::string_view localName, const OdsAttributes& attributes)
{
    m_skipWanted = false; // a request holds for the element that made it only
    if (m_skipDepth > 0) {
        ++m_skipDepth;
        return;
    }
    if (namespaceUri == kTable && localName == "table") {
        if (m_inCell) {
            m_skipDepth = 1; // a table inside a cell is no part of the cell's text
            return;
        }
        ++m_tableDepth;
        if (m_tableDepth == 1 && m_inSpreadsheet) {
            if (m_tablesFileSize != UINT64_MAX)
                RequireRoomInList(m_tables.size(), ListLimit(m_tablesFileSize), m_tablesFileSize, "sheets");
            m_tables.push_back(
                { std::string(attributes.Get(kTable, "name")), std::string(attributes.Get(kTable, "style-name")) });
            if (m_tables.size() - 1 == m_stopAtTable) {
                m_stopRequested = true;
                return;
            }
            if (m_sink && m_tables.size() - 1 == m_target)
                m_inTarget = true;
        }
        if (!m_inTarget)
            m_skipWanted = true; // only the sheet list is wanted from it
        return;
    }
    if (m_inTarget) {
        StartInTarget(namespaceUri, localName, attributes);
        return;
    }
    if (m_tableDepth > 0)
        return; // another table's content: passed over
    if (namespaceUri == kOffice && localName == "spreadsheet") {
        m_inSpreadsheet = true;
        m_sawSpreadsheet = true;
    } else if (namespaceUri == kStyle && localName == "style") {
        const std::string_view family = attributes.Get(kStyle, "family");
        if (family == "table")
            m_styleName.assign(attributes.Get(kStyle, "name"));
        else
            m_styleName.clear();
        if (family == "table-cell" && !m_durationDataStyles.empty()
            && m_durationDataStyles.count(std::string(attributes.Get(kStyle, "data-style-name"))) != 0)
            m_durationCellStyles.emplace(attributes.Get(kStyle, "name"));
    } else if (namespaceUri == kNumber && localName == "time-style") {
        if (attributes.Get(kNumber, "truncate-on-overflow") == "false")
            m_durationDataStyles.emplace(attributes.Get(kStyle, "name"));
    } else if (namespaceUri == kStyle && localName == "table-properties" && !m_styleName.empty()) {
        if (attributes.Get(kTable, "display") == "false")
            m_hiddenStyles.insert(m_styleName);
    }
}

void OdsContentHandler::StartInTarget(OdsNs namespaceUri, std::string_view localName, const OdsAttributes& attributes)
{
    if (m_inCell) {
        if (m_covered || namespaceUri != kText) {
            // Merged-away content, annotations, drawings anchored to the cell: not its text.
            m_skipDepth = 1;
            return;
        }
        if (localName == "p" || localName == "h") {
            if (m_paragraphDepth++ == 0) {
                if (m_paragraphs++ > 0)
                    m_text.push_back('\n');
                m_atParagraphStart = true;
                m_lastWasSpace = false;
            }
        } else if (m_paragraphDepth == 0) {
            // Lists and sections hold paragraphs; anything else outside one shows nothing.
        } else if (localName == "s") {
            const int64_t count = ParseOdsCount(attributes.Get(kText, "c"));
            AppendSpecial(' ', static_cast<size_t>(count));
        } else if (localName == "tab") {
            AppendSpecial('\t', 1);
        } else if (localName == "line-break") {
            AppendSpecial('\n', 1);
        } else if (localName == "note" || localName == "tracked-changes") {
            m_skipDepth = 1;
        }
        // text:span, text:a and the fields show their text.
        return;
    }
    if (m_tableDepth != 1 || namespaceUri != kTable)
        return;
    if (localName == "table-row") {
        m_inRow = true;
        m_rowRepeat = ParseOdsCount(attributes.Get(kTable, "number-rows-repeated"));
        m_column = 1;
        m_rowCells.clear();
        m_rowPool.clear();
        if (SheetLayout* layout = Layout(); layout && IsHidden(attributes))
            layout->HideRows(m_row, m_row + m_rowRepeat - 1);
    } else if (!m_inRow && localName == "table-column") {
        StartColumns(attributes);
    } else if (m_inRow && localName == "table-cell") {
        StartCell(false, attributes);
    } else if (m_inRow && localName == "covered-table-cell") {
        StartCell(true, attributes);
    }
}

void OdsContentHandler::StartColumns(const OdsAttributes& attributes)
{
    const int64_t first = m_nextColumn;
    m_nextColumn = std::min<int64_t>(
        first + ParseOdsCount(attributes.Get(kTable, "number-columns-repeated")), int64_t { kMaxColumns } + 1);
    if (SheetLayout* layout = Layout(); layout && IsHidden(attributes))
        layout->HideColumns(first, m_nextColumn - 1);
    if (!m_durationCellStyles.empty()
        && m_durationCellStyles.count(std::string(attributes.Get(kTable, "default-cell-style-name"))) != 0)
        m_durationColumns.emplace_back(first, m_nextColumn - 1);
}

// Whether a time cell shows a duration: its own style's, or else its column's.
bool OdsContentHandler::ShowsDuration(const OdsAttributes& attributes) const
{
    if (m_durationCellStyles.empty())
        return false;
    const std::string_view style = attributes.Get(kTable, "style-name");
    if (!style.empty())
        return m_durationCellStyles.count(std::string(style)) != 0;
    return std::any_of(m_durationColumns.begin(), m_durationColumns.end(),
        [&](const auto& columns) { return m_column >= columns.first && m_column <= columns.second; });
}

// A cell spanning more than itself merges the area it spans; in a repeated row each
// copy is an area of its own, and they cost what the copies of a cell cost.
void OdsContentHandler::ReadMerge(const OdsCellAttributes& cell)
{
    SheetLayout* layout = Layout();
    if (!layout)
        return;
    const int64_t across = ParseOdsCount(cell.columnsSpanned);
    const int64_t down = ParseOdsCount(cell.rowsSpanned);
    if ((across == 1 && down == 1) || m_row > kMaxRows || m_column > kMaxColumns)
        return;
    const int64_t copies = std::min<int64_t>(m_rowRepeat, int64_t { kMaxRows } + 1 - m_row);
    Spend(static_cast<uint64_t>(copies - 1), kCellCost);
    const auto clip = [](int64_t value) { return static_cast<int32_t>(std::min<int64_t>(value, INT32_MAX)); };
    for (int64_t r = 0; r < copies; ++r) {
        const int64_t row = m_row + r;
        layout->AddMerge({ clip(row), clip(m_column), clip(row + down - 1), clip(m_column + across - 1) });
    }
}

void OdsContentHandler::StartCell(bool covered, const OdsAttributes& attributes)
{
    const OdsCellAttributes cell = attributes.GetCell();
    m_inCell = true;
    m_covered = covered;
    m_columnRepeat = ParseOdsCount(cell.columnsRepeated);
    m_text.clear();
    m_fallback.clear();
    m_value.clear();
    m_valueKind = OdsValueKind::None;
    m_valueIsFallback = false;
    m_paragraphs = 0;
    m_paragraphDepth = 0;
    m_formula.clear();
    if (covered)
        return;
    // A formula with no value type has no value to show: the engine may compute it.
    if (!cell.formula.empty() && cell.type == OdsValueType::None && m_inTarget)
        m_formula.assign(cell.formula);
    if (!cell.columnsSpanned.empty() || !cell.rowsSpanned.empty())
        ReadMerge(cell); // most cells span one column and one row, and say nothing
    // The value itself is shown only when the cell carries no paragraph.
    const OdsValueType valueType = cell.type;
    switch (valueType) {
    case OdsValueType::Number:
    case OdsValueType::Date:
    case OdsValueType::Time:
        m_fallback.assign(cell.value);
        break;
    case OdsValueType::Boolean: {
        const std::string_view written = cell.value;
        if (written == "true" || written == "1")
            m_fallback = "TRUE";
        else if (written == "false" || written == "0")
            m_fallback = "FALSE";
        break;
    }
    case OdsValueType::String:
        m_fallback.assign(cell.value);
        return;
    case OdsValueType::None:
        return;
    }
    // The value beside the text, for the raw and ISO styles; only the target's cells need
    // it, and only when values are kept. Mostly it is the value as written, which
    // m_fallback holds already; a boolean's raw text is the TRUE or FALSE m_fallback
    // holds, when it has one.
    if (!m_inTarget || !m_keepValues)
        return;
    if (valueType == OdsValueType::Boolean) {
        m_valueKind = m_fallback.empty() ? OdsValueKind::None : OdsValueKind::Value;
        m_valueIsFallback = true;
        return;
    }
    const OdsValue value
        = ReadOdsValue(valueType, m_fallback, m_value, valueType == OdsValueType::Time && ShowsDuration(attributes));
    m_valueKind = value.kind;
    m_valueIsFallback = value.asWritten;
}

void OdsContentHandler::EndElement(OdsNs namespaceUri, std::string_view localName)
{
    if (m_skipDepth > 0) {
        --m_skipDepth;
        return;
    }
    if (namespaceUri == kTable && localName == "table") {
        if (m_tableDepth == 1 && m_inTarget) {
            m_inTarget = false;
            m_targetDone = true;
        }
        if (m_tableDepth > 0)
            --m_tableDepth;
        return;
    }
    if (m_inTarget) {
        if (m_inCell) {
            if (namespaceUri == kText && (localName == "p" || localName == "h")) {
                if (m_paragraphDepth > 0)
                    --m_paragraphDepth;
            } else if (namespaceUri == kTable && (localName == "table-cell" || localName == "covered-table-cell")) {
                EndCell();
            }
        } else if (m_inRow && m_tableDepth == 1 && namespaceUri == kTable && localName == "table-row") {
            EndRow();
        }
        return;
    }
    if (namespaceUri == kOffice && localName == "spreadsheet")
        m_inSpreadsheet = false;
    else if (namespaceUri == kStyle && localName == "style")
        m_styleName.clear();
}

void OdsContentHandler::Characters(std::string_view text)
{
    if (!m_inTarget || !m_inCell || m_skipDepth > 0 || m_paragraphDepth == 0)
        return;
    AppendText(text);
}

// Paragraph text follows the XML white-space rule of OpenDocument: tabs and line ends
// count as spaces, a run of spaces is one, and none opens a paragraph; text:s, text:tab
// and text:line-break give the spaces, tabs and breaks that are meant.
void OdsContentHandler::AppendText(std::string_view text)
{
    size_t i = 0;
    while (i < text.size()) {
        size_t end = i;
        // Bytes above ' ' are never white space: one comparison for most of them.
        while (end < text.size() && (static_cast<unsigned char>(text[end]) > ' ' || !IsSpace(text[end])))
            ++end;
        if (end > i) {
            m_text.append(text.substr(i, end - i));
            m_atParagraphStart = false;
            m_lastWasSpace = false;
        }
        if (end < text.size()) {
            if (!m_atParagraphStart && !m_lastWasSpace) {
                m_text.push_back(' ');
                m_lastWasSpace = true;
            }
            ++end;
        }
        i = end;
    }
}

void OdsContentHandler::AppendSpecial(char c, size_t count)
{
    const size_t room = m_text.size() < kMaxExpandedText ? kMaxExpandedText - m_text.size() : 0;
    m_text.append(std::min(count, room), c);
    m_atParagraphStart = false;
    m_lastWasSpace = false;
}

void OdsContentHandler::EndCell()
{
    m_inCell = false;
    const int64_t start = m_column;
    m_column = std::min<int64_t>(m_column + m_columnRepeat, int64_t { kMaxColumns } + 1);
    if (m_covered || start > kMaxColumns || m_row > kMaxRows)
        return;
    std::string_view text = m_paragraphs > 0 ? std::string_view(m_text) : std::string_view(m_fallback);
    const bool formula = text.empty() && !m_formula.empty();
    if (formula)
        text = m_formula;
    if (text.empty())
        return; // style-only cells are not recorded: they fill every sheet to its end
    // A value whose raw text is the text itself needs no room of its own.
    std::string_view value = m_valueIsFallback ? std::string_view(m_fallback) : std::string_view(m_value);
    const bool valued = m_valueKind != OdsValueKind::None && (value != text || m_keepValueKinds) && !formula;
    if (!valued)
        value = {};
    const int64_t copies = std::min<int64_t>(m_columnRepeat, int64_t { kMaxColumns } + 1 - start);
    Spend(static_cast<uint64_t>(copies - 1), kCellCost + text.size() + value.size());
    if (!m_inTarget)
        return;
    const OdsValueKind kind = valued ? m_valueKind : OdsValueKind::None;
    if (m_rowRepeat > 1) {
        // The row is repeated: keep its cells until its end. The copies share one text.
        if (m_rowPool.size() + text.size() + value.size() > UINT32_MAX)
            throw SpreadsheetError(ErrorCode::TooLarge, "a row holds more than 4 GiB of text");
        const auto offset = static_cast<uint32_t>(m_rowPool.size());
        m_rowPool.append(text);
        m_rowPool.append(value);
        for (int64_t k = 0; k < copies; ++k)
            m_rowCells.push_back({ static_cast<int32_t>(start + k), offset, static_cast<uint32_t>(text.size()),
                static_cast<uint32_t>(value.size()), kind, formula });
        return;
    }
    for (int64_t k = 0; k < copies && m_inTarget; ++k)
        Emit(static_cast<int32_t>(m_row), static_cast<int32_t>(start + k), text, value, kind, formula);
}

void OdsContentHandler::EndRow()
{
    m_inRow = false;
    const int64_t start = m_row;
    m_row = std::min<int64_t>(m_row + m_rowRepeat, int64_t { kMaxRows } + 1);
    if (m_rowCells.empty() || start > kMaxRows)
        return;
    const int64_t copies = std::min<int64_t>(m_rowRepeat, int64_t { kMaxRows } + 1 - start);
    uint64_t rowBytes = 0;
    for (const PendingCell& cell : m_rowCells)
        rowBytes += kCellCost + cell.length + cell.valueLength;
    Spend(static_cast<uint64_t>(copies - 1), rowBytes);
    const std::string_view pool(m_rowPool);
    for (int64_t r = 0; r < copies && m_inTarget; ++r) {
        for (const PendingCell& cell : m_rowCells) {
            Emit(static_cast<int32_t>(start + r), cell.column, pool.substr(cell.offset, cell.length),
                pool.substr(cell.offset + cell.length, cell.valueLength), cell.valueKind, cell.formula);
            if (!m_inTarget)
                break;
        }
    }
    m_rowCells.clear();
    m_rowPool.clear();
}

// Repetition turns a few bytes of XML into many cells: a bounded budget keeps a file
// that repeats a filled row a billion times from exhausting memory.
void OdsContentHandler::Spend(uint64_t count, uint64_t bytesEach)
{
    if (count == 0)
        return;
    if (bytesEach != 0 && count > m_repeatBudget / bytesEach) {
        throw SpreadsheetError(
            ErrorCode::TooLarge, "the worksheet repeats its filled cells into more data than the reader accepts");
    }
    m_repeatBudget -= count * bytesEach;
}

void OdsContentHandler::Emit(
    int32_t row, int32_t column, std::string_view text, std::string_view value, OdsValueKind valueKind, bool formula)
{
    if (row > kMaxRows || column > kMaxColumns)
        return;
    const bool added = formula            ? m_sink->AddFormula(row, column, text)
        : valueKind == OdsValueKind::None ? m_sink->Add(row, column, text)
                                          : m_sink->AddWithValue(row, column, text, value, valueKind);
    if (!added)
        Abandon();
}

// Gives up loading the target table; the sheet list is still collected.
void OdsContentHandler::Abandon()
{
    m_inTarget = false;
    m_inCell = false;
    m_inRow = false;
    m_sinkFull = true;
    m_rowCells.clear();
    m_rowPool.clear();
}

} // namespace vellumcast::spreadsheet::ods
