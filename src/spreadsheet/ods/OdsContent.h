#pragma once
// The streaming reader of an OpenDocument spreadsheet's content (content.xml, or the
// whole flat .fods document): the worksheets' names and visibility, and the displayed
// text of one worksheet's cells, without building a document tree.

#include "spreadsheet/SheetData.h"
#include "spreadsheet/SheetLayout.h"
#include "spreadsheet/WorkbookReader.h"
#include "spreadsheet/ods/OdsValues.h"
#include "spreadsheet/xml/Xml.h"

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace vellumcast::spreadsheet::ods {

// The namespaces the reader tells apart; every other one is Other.
enum class OdsNs : uint8_t { Other, Office, Table, Text, Style, Number };

// The attributes a table cell is read from, each an empty view when the cell has none.
struct OdsCellAttributes {
    std::string_view columnsRepeated; // table:number-columns-repeated
    std::string_view columnsSpanned; // table:number-columns-spanned
    std::string_view rowsSpanned; // table:number-rows-spanned
    std::string_view formula; // table:formula
    std::string_view valueType; // office:value-type
    OdsValueType type = OdsValueType::None; // as valueType reads
    // The attribute recording the value for that type: office:value, office:date-value,
    // office:time-value, office:boolean-value or office:string-value.
    std::string_view value;
};

// The attributes of one start tag.
class OdsAttributes {
public:
    virtual ~OdsAttributes() = default;
    // The value of the attribute with this namespace and local name, or an empty view.
    virtual std::string_view Get(OdsNs ns, std::string_view localName) const = 0;
    // The attributes of a cell, read as Get reads them; a reader holding the attributes
    // as a list may find them all in one pass.
    virtual OdsCellAttributes GetCell() const;
};

// The local name of the office attribute recording the value of a cell of this type
// ("value", "date-value", ...), or an empty view for none.
std::string_view OdsValueAttributeOf(OdsValueType type);

// Where the cells of the worksheet being read go.
class OdsCellSink {
public:
    virtual ~OdsCellSink() = default;
    // false: the sink wants no more cells (the reader then stops loading).
    virtual bool Add(int32_t row, int32_t column, std::string_view text) = 0;
    // A cell whose displayed text stands for a value, given as its raw text (kind Value
    // or Date, value differing from text). Sinks with no use for it take the text alone.
    virtual bool AddWithValue(int32_t row, int32_t column, std::string_view text, std::string_view, OdsValueKind)
    {
        return Add(row, column, text);
    }
    // Where the merged areas and hidden rows and columns go; nullptr when unwanted.
    virtual SheetLayout* Layout() { return nullptr; }
    // A cell whose formula the document holds no value for (no value type, no text).
    // Sinks with no use for formulas pass it over.
    virtual bool AddFormula(int32_t /*row*/, int32_t /*column*/, std::string_view /*formula*/) { return true; }
};

class OdsContentHandler final {
public:
    // Collects every table's name; loads the cells of table number target (0-based) into
    // sink, when sink is set. Cells that repetition would multiply past repeatBudget bytes
    // are SpreadsheetError(TooLarge).
    OdsContentHandler(size_t target, OdsCellSink* sink, uint64_t repeatBudget);

    // Refuses, as SpreadsheetError(TooLarge), more tables than a workbook of fileSize bytes
    // may list (ListLimit); without it, any number.
    void LimitTables(uint64_t fileSize) { m_tablesFileSize = fileSize; }

    // Asks for the parse to end when table number table (from 0) starts: the tables up to
    // it are then listed, and the target, if one of those before it, read.
    void StopAtTable(size_t table) { m_stopAtTable = table; }
    bool StopRequested() const { return m_stopRequested; }
    // The table at whose start the parse stopped as asked, or SIZE_MAX when it did not.
    size_t StoppedAtTable() const
    {
        return m_stopRequested && m_tables.size() == m_stopAtTable + 1 ? m_stopAtTable : SIZE_MAX;
    }
    // After the parse stopped at a table's start: makes that table the target, its cells
    // going to sink, so that the parse goes on from there to load it; the repeat budget
    // is the table's own. The tables seen so far are kept.
    void LoadStoppedTable(OdsCellSink* sink, uint64_t repeatBudget);
    // false: the target's cells go to the sink as their text alone (Add), never with the
    // value recorded beside it, which is then not read. On by default.
    void KeepValues(bool keep) { m_keepValues = keep; }
    // true: a value whose raw text is the text itself is still recorded beside it, so the
    // cell says what kind of value it holds (a number or a boolean shown as typed). Off by
    // default: such a value needs no room of its own.
    void KeepValueKinds(bool keep) { m_keepValueKinds = keep; }
    // True once after the start of a worksheet whose content the handler has no use for
    // (not the one being loaded): the XML reader may pass over it unread, as long as it
    // still reports the element's end. It is checked when it is loaded.
    bool TakeSkipRequest() { return std::exchange(m_skipWanted, false); }

    // The tables seen so far, with visibility resolved from their table styles.
    std::vector<SheetEntry> Sheets() const;
    // True when the target table was found and read to its end.
    bool TargetDone() const { return m_targetDone; }
    // True once office:spreadsheet was seen: the document is a spreadsheet.
    bool SawSpreadsheet() const { return m_sawSpreadsheet; }

    // True between the cells of a row of the table being loaded: the next element is
    // most likely a cell.
    bool AtRowLevel() const { return m_inTarget && m_inRow && !m_inCell && m_skipDepth == 0 && m_tableDepth == 1; }

    void StartElement(OdsNs ns, std::string_view localName, const OdsAttributes& attributes);
    void EndElement(OdsNs ns, std::string_view localName);
    void Characters(std::string_view text);

private:
    struct PendingCell {
        int32_t column;
        uint32_t offset;
        uint32_t length;
        uint32_t valueLength; // its value's raw text follows its text in the pool
        OdsValueKind valueKind;
        bool formula; // the text is a formula without a value
    };

    void StartInTarget(OdsNs ns, std::string_view localName, const OdsAttributes& attributes);
    void StartCell(bool covered, const OdsAttributes& attributes);
    bool ShowsDuration(const OdsAttributes& attributes) const;
    void StartColumns(const OdsAttributes& attributes);
    void ReadMerge(const OdsCellAttributes& cell);
    SheetLayout* Layout() const { return m_sink ? m_sink->Layout() : nullptr; }
    void EndCell();
    void EndRow();
    void Emit(int32_t row, int32_t column, std::string_view text, std::string_view value = {},
        OdsValueKind valueKind = OdsValueKind::None, bool formula = false);
    void AppendText(std::string_view text);
    void AppendSpecial(char c, size_t count);
    void Spend(uint64_t count, uint64_t bytesEach);
    void Abandon();

    size_t m_target;
    OdsCellSink* m_sink;
    size_t m_stopAtTable = SIZE_MAX;
    bool m_stopRequested = false;
    bool m_skipWanted = false;
    bool m_keepValues = true;
    bool m_keepValueKinds = false;

    // The sheet list.
    struct TableInfo {
        std::string name;
        std::string style;
    };
    std::vector<TableInfo> m_tables;
    uint64_t m_tablesFileSize = UINT64_MAX; // LimitTables'; UINT64_MAX for none
    std::unordered_set<std::string> m_hiddenStyles;
    std::string m_styleName; // the table style being read in the automatic styles
    // Durations: the time styles that count past a day ([HH]:MM, truncate-on-overflow
    // false), the cell styles showing them, and the columns of the target whose cells
    // take one by default. Their time values are numbers of days, not times of day.
    std::unordered_set<std::string> m_durationDataStyles;
    std::unordered_set<std::string> m_durationCellStyles;
    std::vector<std::pair<int64_t, int64_t>> m_durationColumns;
    bool m_inSpreadsheet = false;
    bool m_sawSpreadsheet = false;
    int m_tableDepth = 0; // table:table nesting; 1 inside a worksheet

    // The target table.
    bool m_inTarget = false;
    bool m_targetDone = false;
    bool m_sinkFull = false;
    int64_t m_row = 1; // the row the next table-row starts at
    int64_t m_rowRepeat = 1; // repetitions of the current row
    bool m_inRow = false;
    int64_t m_column = 1; // the column the next cell starts at
    int64_t m_nextColumn = 1; // the column the next table-column describes
    std::vector<PendingCell> m_rowCells; // a repeated row's cells, emitted at its end
    std::string m_rowPool;
    uint64_t m_repeatBudget; // bytes repetitions may still produce

    // The current cell.
    bool m_inCell = false;
    bool m_covered = false;
    int64_t m_columnRepeat = 1;
    int m_skipDepth = 0; // inside an annotation, a drawing or another foreign element
    int m_paragraphDepth = 0;
    size_t m_paragraphs = 0;
    bool m_atParagraphStart = false;
    bool m_lastWasSpace = false;
    std::string m_text;
    std::string m_fallback; // the text of a value given without a paragraph
    std::string m_value; // the raw text of the cell's value, when it has one
    OdsValueKind m_valueKind = OdsValueKind::None;
    bool m_valueIsFallback = false; // the raw text is m_fallback, the value as written
    std::string m_formula; // of a cell that has no value type, as written
};

// Feeds the events of an XML reader (namespace URIs) to the handler, and stops the
// reader once the handler asks to.
class OdsXmlAdapter final : public xml::XmlHandler {
public:
    explicit OdsXmlAdapter(OdsContentHandler& handler)
        : m_handler(handler)
    {
    }
    void SetStop(std::function<void()> stop) { m_stop = std::move(stop); }
    // How to pass over an element's content, where the reader can.
    void SetSkip(std::function<void()> skip) { m_skip = std::move(skip); }
    void StartElement(
        std::string_view namespaceUri, std::string_view localName, const xml::XmlAttributes& attributes) override;
    void EndElement(std::string_view namespaceUri, std::string_view localName) override;
    void Characters(std::string_view text) override;

private:
    void CheckStop();
    OdsContentHandler& m_handler;
    std::function<void()> m_stop;
    std::function<void()> m_skip;
};

OdsNs OdsNamespaceOf(std::string_view uri);

// Parses a repeat count attribute: digits only, at least 1, saturating at 2^31.
int64_t ParseOdsCount(std::string_view text);

} // namespace vellumcast::spreadsheet::ods
