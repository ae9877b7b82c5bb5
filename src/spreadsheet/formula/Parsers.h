#pragma once
// The parsers of the four formula grammars, each into the one Expression form. A
// formula is parsed at its cell (row and column from 1): relative references become
// offsets from it. Each returns nothing for a formula it cannot read; none throws.

#include "spreadsheet/formula/Expression.h"
#include "spreadsheet/formula/FormulaCells.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

namespace vellumcast::spreadsheet::formula {

// Office Open XML's text: "SUM(A1:B2)", "'Q1 sales'!$C$3*2", "_xlfn.IFS(A1>0,1,TRUE,2)";
// a leading "=" is allowed.
std::optional<Expression> ParseA1Formula(std::string_view text, int32_t row, int32_t column);

// OpenDocument's OpenFormula: "of:=SUM([.A1:.B2])", "=[$'Q1 sales'.C3]*2"; a formula
// without the "of:" namespace is read the same way.
std::optional<Expression> ParseOpenFormula(std::string_view text, int32_t row, int32_t column);

// A shared or array formula's tokens, as a member's PtgExp finds them.
struct SharedTokens {
    std::span<const uint8_t> body;
    bool array = false; // an array formula: only its anchor is computed
};

// What parsed-expression tokens refer to outside themselves.
struct TokenContext {
    const WorkbookFormulas* workbook = nullptr; // names, sheet tabs and 3-D references
    // The shared or array formula whose anchor is (row, column), for a formula that is a
    // PtgExp; nothing when there is none.
    std::function<std::optional<SharedTokens>(int32_t row, int32_t column)> sharedAt;
};

// The legacy binary format's tokens ([MS-XLS] 2.5.198): cce (2 bytes), rgce, then the
// extra data of arrays.
std::optional<Expression> ParseBiffFormula(
    std::span<const uint8_t> body, int32_t row, int32_t column, const TokenContext& context);

// The binary workbook's tokens ([MS-XLSB] 2.5.98): cce (4 bytes), rgce, cb (4 bytes), the
// extra data.
std::optional<Expression> ParseXlsbFormula(
    std::span<const uint8_t> body, int32_t row, int32_t column, const TokenContext& context);

// A captured formula in its grammar.
std::optional<Expression> ParseFormula(
    FormulaGrammar grammar, std::string_view body, int32_t row, int32_t column, const TokenContext& context);

} // namespace vellumcast::spreadsheet::formula
