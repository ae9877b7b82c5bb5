#include "spreadsheet/xlsx/XlsxWorksheet.h"
#include "spreadsheet/SheetLayout.h"
#include "spreadsheet/xlsx/XlsxCellPath.h"
#include "spreadsheet/xlsx/XlsxPackage.h"
#include "spreadsheet/xlsx/XlsxText.h"
#include "spreadsheet/xml/Xml.h"
#include "spreadsheet/xml/XmlScanner.h"

#include <charconv>
#include <cstring>

namespace vellumcast::spreadsheet::xlsx {

namespace {

using xml::XmlAttributes;

// The cells of one worksheet. Hot path: no allocation per cell once the buffers have grown,
// attributes matched by their first bytes, numbers and references parsed by hand.
class WorksheetHandler final : public xml::XmlHandler {
public:
    WorksheetHandler(SheetBuilder& builder, numfmt::DateSystem dateSystem, const ConditionalNumberFormats& conditional)
        : m_builder(builder)
        , m_dateSystem(dateSystem)
        , m_conditional(conditional.Empty() ? nullptr : &conditional)
    {
        m_value.reserve(64);
        m_inline.reserve(64);
    }

    void StartElement(std::string_view, std::string_view localName, const XmlAttributes& attributes) override
    {
        if (!m_inSheetData) {
            if (localName == "sheetData")
                m_inSheetData = true;
            else if (localName == "dimension")
                ExpectRange(attributes.Get("ref"));
            else if (localName == "col" && m_layout)
                ReadColumns(attributes);
            else if (localName == "mergeCell" && m_layout)
                ReadMerge(attributes.Get("ref"));
            return;
        }
        switch (localName.size()) {
        case 1:
            if (localName[0] == 'c')
                StartCell(attributes);
            else if (localName[0] == 'v' && m_inCell)
                m_collect = &m_value;
            else if (localName[0] == 't' && m_inInline && m_phoneticDepth == 0)
                m_collect = &m_inline;
            else if (localName[0] == 'f' && m_inCell)
                StartFormula(attributes);
            break;
        case 2:
            if (localName == "is" && m_inCell) {
                m_inInline = true;
                m_hasInline = true;
            }
            break;
        case 3:
            if (localName == "row")
                StartRow(attributes);
            else if (localName == "rPh")
                ++m_phoneticDepth;
            break;
        default:
            break;
        }
    }

    void EndElement(std::string_view, std::string_view localName) override
    {
        if (!m_inSheetData)
            return;
        switch (localName.size()) {
        case 1:
            if (localName[0] == 'c' && m_inCell)
                EndCell();
            else if (localName[0] == 'v') {
                m_collect = nullptr;
                m_hasValue = true;
            } else if (localName[0] == 't' || localName[0] == 'f')
                m_collect = nullptr;
            break;
        case 2:
            if (localName == "is")
                m_inInline = false;
            break;
        case 3:
            if (localName == "rPh" && m_phoneticDepth > 0)
                --m_phoneticDepth;
            break;
        case 9:
            if (localName == "sheetData")
                m_inSheetData = false;
            break;
        default:
            break;
        }
    }

    void Characters(std::string_view text) override
    {
        if (m_collect) {
            if (m_collect->size() + text.size() > kMaxStringText)
                throw SpreadsheetError(ErrorCode::TooLarge, "a cell holds more text than the engine accepts");
            m_collect->append(text);
        }
    }

private:
    enum class Type : uint8_t { Number, Shared, FormulaString, Inline, Boolean, Error, Date };
    enum class FormulaKind : uint8_t { None, Normal, Shared, Array, DataTable };

    // The recorded extent, "A1:J100": a hint of the used range to come. Writers are not
    // all careful with it, so it is only ever a guess.
    void ExpectRange(std::string_view reference)
    {
        const size_t colon = reference.find(':');
        CellRange range;
        if (colon != std::string_view::npos
            && ParseCellReference(reference.substr(0, colon), range.firstRow, range.firstColumn)
            && ParseCellReference(reference.substr(colon + 1), range.lastRow, range.lastColumn)
            && range.firstRow <= range.lastRow && range.lastRow <= kMaxRows && range.firstColumn <= range.lastColumn
            && range.lastColumn <= kMaxColumns)
            m_builder.ExpectRange(range);
    }

    // <col min="2" max="4" hidden="1"/>: a run of columns, hidden by the flag or by a
    // width of zero.
    void ReadColumns(const XmlAttributes& attributes)
    {
        int32_t first = 0, last = 0;
        if (!ParseInteger(attributes.Get("min"), first) || !ParseInteger(attributes.Get("max"), last))
            return;
        if (IsTrue(attributes.Get("hidden")) || IsZero(attributes.Get("width")))
            m_layout->HideColumns(first, last);
    }

    // A width or height of "0" or "0.0".
    static bool IsZero(std::string_view text)
    {
        double value = 1;
        const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
        return result.ec == std::errc() && result.ptr == text.data() + text.size() && value == 0;
    }

    // <mergeCell ref="B2:D3"/>; a reference that cannot be read merges nothing.
    void ReadMerge(std::string_view reference)
    {
        const size_t colon = reference.find(':');
        CellRange area;
        if (colon != std::string_view::npos
            && ParseCellReference(reference.substr(0, colon), area.firstRow, area.firstColumn)
            && ParseCellReference(reference.substr(colon + 1), area.lastRow, area.lastColumn))
            m_layout->AddMerge(area);
    }

    // A row is hidden by its flag, or by a height of zero that is its own (customHeight):
    // without it the height is only a cached value.
    void StartRow(const XmlAttributes& attributes)
    {
        int32_t row = m_row + 1;
        bool hidden = false, zeroHeight = false, customHeight = false;
        for (const char** a = attributes.Raw(); *a; a += 2) {
            const std::string_view name(a[0]);
            if (name == "r") {
                const std::string_view text(a[1]);
                if (!ParseInteger(text, row))
                    throw SpreadsheetError(
                        ErrorCode::Corrupt, "a row number is not valid (\"" + std::string(text) + "\")");
            } else if (name == "hidden") {
                hidden = IsTrue(a[1]);
            } else if (name == "ht") {
                zeroHeight = IsZero(a[1]);
            } else if (name == "customHeight") {
                customHeight = IsTrue(a[1]);
            }
        }
        m_row = row;
        m_column = 0;
        if (m_layout && (hidden || (zeroHeight && customHeight)))
            m_layout->HideRows(row, row);
    }

    void StartCell(const XmlAttributes& attributes)
    {
        int32_t row = m_row, column = m_column + 1;
        Type type = Type::Number;
        uint32_t style = 0;
        if (row < 1)
            row = 1; // a cell before any <row>, without a reference of its own
        for (const char** a = attributes.Raw(); *a; a += 2) {
            const char* name = a[0];
            if (name[0] == '\0' || name[1] != '\0')
                continue;
            const char* value = a[1];
            switch (name[0]) {
            case 'r': {
                const std::string_view text(value);
                if (!xlsx::ParseCellReference(text, row, column))
                    throw SpreadsheetError(
                        ErrorCode::Corrupt, "the cell reference \"" + std::string(text) + "\" is not valid");
                break;
            }
            case 's': {
                const std::string_view text(value);
                if (!text.empty() && !ParseInteger(text, style))
                    style = 0;
                break;
            }
            case 't':
                type = TypeOf(value);
                break;
            default:
                break;
            }
        }
        m_row = row;
        m_column = column;
        m_cellStyle = style;
        m_type = type;
        m_inCell = true;
        m_hasInline = false;
        m_value.clear();
        m_inline.clear();
        m_collect = nullptr;
        m_formulaKind = FormulaKind::None;
        m_hasValue = false;
    }

    // <f t="shared" ref="C2:C9" si="0">A2*B2</f>, <f t="shared" si="0"/>, <f t="array" …>,
    // <f>…</f>: the formula's text is kept to the cell's end, where it is captured if the
    // cell has no value; a shared formula's text is kept in any case, for the cells that
    // take it.
    void StartFormula(const XmlAttributes& attributes)
    {
        const std::string_view type = attributes.Get("t");
        m_formulaKind = type == "shared" ? FormulaKind::Shared
            : type == "array"            ? FormulaKind::Array
            : type == "dataTable"        ? FormulaKind::DataTable
                                         : FormulaKind::Normal;
        m_sharedIndex = formula::kNotShared;
        if (m_formulaKind == FormulaKind::Shared && !ParseInteger(attributes.Get("si"), m_sharedIndex))
            m_formulaKind = FormulaKind::Normal;
        m_formulaRange = {};
        m_formulaRanged = ReadRange(attributes.Get("ref"), m_formulaRange);
        m_formula.clear();
        m_collect = &m_formula;
    }

    static bool ReadRange(std::string_view reference, CellRange& range)
    {
        const size_t colon = reference.find(':');
        if (colon == std::string_view::npos)
            return ParseCellReference(reference, range.firstRow, range.firstColumn)
                && ParseCellReference(reference, range.lastRow, range.lastColumn);
        return ParseCellReference(reference.substr(0, colon), range.firstRow, range.firstColumn)
            && ParseCellReference(reference.substr(colon + 1), range.lastRow, range.lastColumn);
    }

    // Captures the cell's formula when the file holds no value for it; true when it did,
    // and the cell is recorded. A value is there when <v> is, but an empty one (what
    // report libraries write) stands for a number not computed.
    bool CaptureFormula()
    {
        if (m_formulaKind == FormulaKind::None)
            return false;
        std::string_view text = m_formula;
        if (xlsx::HasEscapes(text)) {
            m_decoded.clear();
            xlsx::AppendUnescaped(text, m_decoded);
            text = m_decoded;
        }
        if (m_formulaKind == FormulaKind::Shared && m_formulaRanged && !text.empty()) {
            formula::SharedFormula shared;
            shared.index = m_sharedIndex;
            shared.row = m_row;
            shared.column = m_column;
            shared.range = m_formulaRange;
            m_builder.AddSharedFormula(shared, text);
        }
        const bool valued = m_hasValue && (!m_value.empty() || m_type != Type::Number);
        if (valued || m_hasInline || m_formulaKind == FormulaKind::DataTable) {
            if (valued && m_builder.CapturesEveryFormula() && m_formulaKind != FormulaKind::DataTable)
                m_builder.AddValuedFormula(m_row, m_column, formula::FormulaGrammar::A1Text, text,
                    m_formulaKind == FormulaKind::Shared && text.empty() ? m_sharedIndex : formula::kNotShared);
            return false;
        }
        if (m_formulaKind == FormulaKind::Shared && text.empty())
            m_builder.AddSharedFormulaCell(m_row, m_column, m_cellStyle, m_sharedIndex);
        else if (!text.empty())
            m_builder.AddFormula(m_row, m_column, m_cellStyle, formula::FormulaGrammar::A1Text, text,
                m_formulaKind == FormulaKind::Array);
        else
            return false;
        return true;
    }

    static Type TypeOf(const char* t)
    {
        switch (t[0]) {
        case 's':
            if (t[1] == '\0')
                return Type::Shared;
            if (std::strcmp(t, "str") == 0)
                return Type::FormulaString;
            break;
        case 'i':
            if (std::strcmp(t, "inlineStr") == 0)
                return Type::Inline;
            break;
        case 'b':
            if (t[1] == '\0')
                return Type::Boolean;
            break;
        case 'e':
            if (t[1] == '\0')
                return Type::Error;
            break;
        case 'd':
            if (t[1] == '\0')
                return Type::Date;
            break;
        default:
            break;
        }
        return Type::Number;
    }

    void AddText(std::string_view text)
    {
        if (xlsx::HasEscapes(text)) {
            m_decoded.clear();
            xlsx::AppendUnescaped(text, m_decoded);
            m_builder.AddString(m_row, m_column, m_decoded, m_cellStyle);
        } else {
            m_builder.AddString(m_row, m_column, text, m_cellStyle);
        }
    }

    void EndCell()
    {
        m_inCell = false;
        m_inInline = false;
        m_collect = nullptr;
        if (CaptureFormula())
            return;
        const int32_t row = m_row, column = m_column;
        const uint32_t style = m_cellStyle;
        if (m_type == Type::Inline || (m_hasInline && m_value.empty())) {
            // Some writers put the text of an inline string in <v> instead of <is>.
            AddText(m_hasInline ? std::string_view(m_inline) : std::string_view(m_value));
            return;
        }
        const std::string_view value = m_value;
        if (value.empty()) {
            m_builder.AddBlank(row, column, style);
            return;
        }
        switch (m_type) {
        case Type::Number: {
            double number = 0;
            const auto result = std::from_chars(value.data(), value.data() + value.size(), number);
            if (result.ec == std::errc() && result.ptr == value.data() + value.size())
                m_builder.AddNumber(row, column, number, NumberStyle(number));
            else
                AddNumberLeniently(value);
            return;
        }
        case Type::Shared: {
            uint32_t index = 0;
            if (!ParseInteger(Trimmed(value), index))
                throw SpreadsheetError(ErrorCode::Corrupt,
                    "a shared string index is not valid (\"" + std::string(value.substr(0, 32)) + "\")");
            m_builder.AddSharedString(row, column, index, style);
            return;
        }
        case Type::FormulaString:
        case Type::Inline:
            AddText(value);
            return;
        case Type::Boolean: {
            const std::string_view text = Trimmed(value);
            m_builder.AddBoolean(row, column, text != "0" && text != "false" && text != "FALSE", style);
            return;
        }
        case Type::Error: {
            CellError error = CellError::Null;
            if (CellErrorFromText(Trimmed(value), error))
                m_builder.AddError(row, column, error, style);
            else
                AddText(value);
            return;
        }
        case Type::Date: {
            double serial = 0;
            if (xlsx::IsoDateToSerial(value, m_dateSystem, serial))
                m_builder.AddNumber(row, column, serial, NumberStyle(serial));
            else
                AddText(value);
            return;
        }
        }
    }

    static std::string_view Trimmed(std::string_view text)
    {
        while (!text.empty()
            && (text.front() == ' ' || text.front() == '\n' || text.front() == '\r' || text.front() == '\t'))
            text.remove_prefix(1);
        while (
            !text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\r' || text.back() == '\t'))
            text.remove_suffix(1);
        return text;
    }

    // A number that from_chars does not take as it stands: surrounding spaces, a leading
    // "+", or a magnitude past double's range. Anything else is kept as text, not lost.
    void AddNumberLeniently(std::string_view value)
    {
        std::string_view text = Trimmed(value);
        if (!text.empty() && text.front() == '+')
            text.remove_prefix(1);
        double number = 0;
        const auto result = std::from_chars(text.data(), text.data() + text.size(), number);
        if (result.ptr == text.data() + text.size() && !text.empty()
            && (result.ec == std::errc() || result.ec == std::errc::result_out_of_range)) {
            m_builder.AddNumber(m_row, m_column, number, NumberStyle(number));
            return;
        }
        AddText(value);
    }

    // The style a number of the current cell shows in: its own, or a conditional rule's.
    uint32_t NumberStyle(double number) const
    {
        return m_conditional ? m_conditional->StyleFor(m_row, m_column, number, m_cellStyle) : m_cellStyle;
    }

    SheetBuilder& m_builder;
    SheetLayout* m_layout = m_builder.Layout();
    numfmt::DateSystem m_dateSystem;
    const ConditionalNumberFormats* m_conditional; // nullptr when no rule gives a number format
    std::string m_value;
    std::string m_inline;
    std::string m_decoded;
    std::string m_formula;
    std::string* m_collect = nullptr;
    FormulaKind m_formulaKind = FormulaKind::None;
    uint32_t m_sharedIndex = formula::kNotShared;
    CellRange m_formulaRange;
    bool m_formulaRanged = false;
    bool m_hasValue = false; // the cell has a <v>
    int32_t m_row = 0;
    int32_t m_column = 0;
    uint32_t m_cellStyle = 0;
    int m_phoneticDepth = 0;
    Type m_type = Type::Number;
    bool m_inSheetData = false;
    bool m_inCell = false;
    bool m_inInline = false;
    bool m_hasInline = false;
};

} // namespace

void ReadWorksheet(const container::ZipArchive& archive, const container::ZipEntry& entry, SheetBuilder& builder,
    numfmt::DateSystem dateSystem, const std::function<void()>& yield, const ConditionalNumberFormats& conditional)
{
    WorksheetHandler handler(builder, dateSystem, conditional);
    CellDirectPath cells(handler);
    xml::ScanXmlMember(archive, entry, handler, yield, &cells);
}

} // namespace vellumcast::spreadsheet::xlsx
