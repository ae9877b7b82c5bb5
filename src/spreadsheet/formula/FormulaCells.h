#pragma once
// Formulas as the readers capture them: a formula's body as its file writes it (text or
// parsed-expression tokens) and the cell it stands in, the shared formulas its body may
// take, and the workbook's defined names and sheet list that formulas refer to. A cell's
// formula is kept only when the file holds no value for it; shared formulas and names are
// kept whole, since a formula without a value may use one written with a value.

#include "spreadsheet/Cell.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vellumcast::spreadsheet::formula {

enum class FormulaGrammar : uint8_t {
    A1Text, // Office Open XML: "SUM(A1:B2)*'Other sheet'!$C$3", without the leading "="
    OpenFormula, // OpenDocument: "of:=SUM([.A1:.B2])"
    Biff8, // legacy binary: the FORMULA record's cce, rgce and extra data ([MS-XLS] 2.5.198)
    Xlsb, // binary workbook: CellParsedFormula's cce, rgce, cb and extra data ([MS-XLSB] 2.5.98)
};

inline constexpr uint32_t kNotShared = UINT32_MAX;

// A formula whose cell has no value. Its cell is recorded blank, with the cell's style, and
// marked (FormulaIndexOf) so that the engine can tell it from a blank cell.
struct CapturedFormula {
    int32_t row = 0;
    int32_t column = 0;
    uint32_t offset = 0; // of the body in SheetFormulas::bodies
    uint32_t length = 0;
    uint32_t shared = kNotShared; // Office Open XML: the shared formula (si) whose body the cell takes
    FormulaGrammar grammar = FormulaGrammar::A1Text;
    bool array = false; // entered as an array formula over one cell or more
    bool valued = false; // the cell has its value: captured only to check the engine against it
};

// A formula written once for a range of cells: Office Open XML's shared formulas (by si),
// the binary formats' shared and array formulas (found from a member's PtgExp by their
// anchor cell).
struct SharedFormula {
    uint32_t index = 0; // Office Open XML: si
    int32_t row = 0; // the anchor: the cell it is written at
    int32_t column = 0;
    CellRange range;
    uint32_t offset = 0;
    uint32_t length = 0;
    FormulaGrammar grammar = FormulaGrammar::A1Text;
    bool array = false;
};

// The formulas of one worksheet.
struct SheetFormulas {
    std::vector<CapturedFormula> cells;
    std::vector<SharedFormula> shared;
    std::string bodies;

    std::string_view BodyOf(const CapturedFormula& formula) const
    {
        return std::string_view(bodies).substr(formula.offset, formula.length);
    }
    std::string_view BodyOf(const SharedFormula& formula) const
    {
        return std::string_view(bodies).substr(formula.offset, formula.length);
    }
    size_t Bytes() const
    {
        return bodies.size() + cells.size() * sizeof(CapturedFormula) + shared.size() * sizeof(SharedFormula);
    }
    void Clear()
    {
        std::vector<CapturedFormula>().swap(cells);
        std::vector<SharedFormula>().swap(shared);
        std::string().swap(bodies);
    }
};

// A blank cell standing for a captured formula holds its number plus one; any other cell 0.
inline uint32_t FormulaMarkOf(const Cell& cell)
{
    return cell.kind == CellKind::Blank ? cell.value.index : 0;
}

struct DefinedName {
    std::string name;
    int32_t scope = -1; // the sheet (an index into WorkbookFormulas::tabs) it belongs to; -1: the workbook
    FormulaGrammar grammar = FormulaGrammar::A1Text;
    std::string body;
};

// A binary workbook's references outside a formula's own sheet: entry ixti names a
// workbook (ExternBook) and the first and last sheet of a 3-D reference, as indexes into
// tabs when the workbook is this one.
struct ExternSheet {
    int32_t book = -1;
    int32_t first = -1;
    int32_t last = -1;
};

// A workbook that formulas refer to: this one, an add-in (whose names are functions), or
// another, with the names formulas use of it.
struct ExternBook {
    bool self = false;
    bool addIn = false;
    std::vector<std::string> names;
};

struct WorkbookFormulas {
    // Every sheet of the workbook in its order, worksheets or not: the sheets formulas and
    // names count by index.
    std::vector<std::string> tabs;
    std::vector<DefinedName> names;
    std::vector<ExternSheet> externSheets;
    std::vector<ExternBook> externBooks;
    // The workbook's defined names were read: a name not among them is #NAME?.
    bool namesRead = false;
};

} // namespace vellumcast::spreadsheet::formula
