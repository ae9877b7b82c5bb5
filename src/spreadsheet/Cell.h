#pragma once
// One recorded cell of a worksheet as the engine keeps it (16 bytes: its value, its
// style, its column and kind), and the rectangles of cells that walks and layouts name.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vellumcast::spreadsheet {

inline constexpr int32_t kMaxRows = 1048576;
inline constexpr int32_t kMaxColumns = 16384;

enum class CellKind : uint8_t {
    Blank, // recorded with formatting only; displays ""
    Number, // value.number through the style's number format
    SharedString, // value.index into the workbook's shared strings
    String, // value.text in the sheet's own pool
    Boolean, // value.number is 0 or 1
    Error, // errorCode
    // Text a reader records as displayed beside the value it stands for (OpenDocument
    // cells): value.text is the displayed text and the value's raw text follows it in the
    // pool, style bytes long (ValueOf). No number format applies to them.
    TextWithValue, // the value is a number, TRUE or FALSE
    TextWithDate, // the value is a date or a time of day in ISO 8601
    // A number shown as its style's format displays it, formatted while its worksheet
    // loaded for a walk that reads only displayed texts: value.text is that text and the
    // value itself is not kept, so it gives that text in every style. The style stays.
    DisplayedNumber,
};

// Whether the cell's text is stored in the sheet: value.text locates it.
inline bool HoldsStoredText(CellKind kind)
{
    return kind == CellKind::String || kind == CellKind::TextWithValue || kind == CellKind::TextWithDate
        || kind == CellKind::DisplayedNumber;
}

enum class CellError : uint8_t { Null, Div0, Value, Ref, Name, Num, NA, GettingData };

// "#NULL!", "#DIV/0!", …
std::string_view CellErrorText(CellError error);
// The error whose text this is, or false when it is none of them.
bool CellErrorFromText(std::string_view text, CellError& error);
// The error of a one-byte error code (0x07 #DIV/0!, 0x2A #N/A, …), as the binary formats
// of both generations store it in cells and formulas; none for a code no error has.
std::optional<CellError> CellErrorOfCode(uint8_t code);

struct Cell {
    struct Text {
        uint32_t offset;
        uint32_t length;
    };
    union Value {
        double number;
        uint32_t index;
        Text text;
    };
    Value value;
    uint32_t style = 0; // index into the workbook's CellFormats
    uint16_t column = 0; // 1-based
    CellKind kind = CellKind::Blank;
    CellError errorCode = CellError::Null;
};
static_assert(sizeof(Cell) == 16);

// For a TextWithValue or TextWithDate cell: a String cell locating its value's raw text.
inline Cell ValueOf(const Cell& cell)
{
    Cell value = cell;
    value.kind = CellKind::String;
    value.value.text = { cell.value.text.offset + cell.value.text.length, cell.style };
    value.style = 0;
    return value;
}

struct CellRange {
    int32_t firstRow = 1;
    int32_t firstColumn = 1;
    int32_t lastRow = 1;
    int32_t lastColumn = 1;
};

} // namespace vellumcast::spreadsheet
