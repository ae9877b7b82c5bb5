#include "spreadsheet/formula/Functions.h"

#include "spreadsheet/formula/FunctionSupport.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace vellumcast::spreadsheet::formula {

namespace {

// Functions the binary formats may name that the engine does not compute: their numbers
// and argument counts let a formula calling them parse (a fixed-count call, PtgFunc,
// carries no count of its own), and the formula is then not computed.
constexpr FunctionEntry kKnownOnly[] = {
    { "NPV", 11, 2, kAnyCount, nullptr },
    { "DOLLAR", 13, 1, 2, nullptr },
    { "DCOUNT", 40, 3, 3, nullptr },
    { "DSUM", 41, 3, 3, nullptr },
    { "DAVERAGE", 42, 3, 3, nullptr },
    { "DMIN", 43, 3, 3, nullptr },
    { "DMAX", 44, 3, 3, nullptr },
    { "DSTDEV", 45, 3, 3, nullptr },
    { "DVAR", 47, 3, 3, nullptr },
    { "LINEST", 49, 1, 4, nullptr },
    { "TREND", 50, 1, 4, nullptr },
    { "LOGEST", 51, 1, 4, nullptr },
    { "GROWTH", 52, 1, 4, nullptr },
    { "PV", 56, 3, 5, nullptr },
    { "FV", 57, 3, 5, nullptr },
    { "NPER", 58, 3, 5, nullptr },
    { "PMT", 59, 3, 5, nullptr },
    { "RATE", 60, 3, 6, nullptr },
    { "MIRR", 61, 3, 3, nullptr },
    { "IRR", 62, 1, 2, nullptr },
    { "RAND", 63, 0, 0, nullptr },
    { "AREAS", 75, 1, 1, nullptr },
    { "TYPE", 86, 1, 1, nullptr },
    { "INDIRECT", 148, 1, 2, nullptr },
    { "CELL", 125, 1, 2, nullptr },
    { "SLN", 142, 3, 3, nullptr },
    { "SYD", 143, 4, 4, nullptr },
    { "DDB", 144, 4, 5, nullptr },
    { "MDETERM", 163, 1, 1, nullptr },
    { "MINVERSE", 164, 1, 1, nullptr },
    { "MMULT", 165, 2, 2, nullptr },
    { "IPMT", 167, 4, 6, nullptr },
    { "PPMT", 168, 4, 6, nullptr },
    { "DPRODUCT", 189, 3, 3, nullptr },
    { "DSTDEVP", 195, 3, 3, nullptr },
    { "DVARP", 196, 3, 3, nullptr },
    { "DCOUNTA", 199, 3, 3, nullptr },
    { "ADDRESS", 219, 2, 5, nullptr },
    { "DAYS360", 220, 2, 3, nullptr },
    { "YEARFRAC", -1, 2, 3, nullptr },
    { "VDB", 222, 5, 7, nullptr },
    { "DGET", 235, 3, 3, nullptr },
    { "INFO", 244, 1, 1, nullptr },
    { "DB", 247, 4, 5, nullptr },
    { "FREQUENCY", 252, 2, 2, nullptr },
    { "AVEDEV", 269, 1, kAnyCount, nullptr },
    { "GAMMALN", 271, 1, 1, nullptr },
    { "BINOMDIST", 273, 4, 4, nullptr },
    { "CHIDIST", 274, 2, 2, nullptr },
    { "CHIINV", 275, 2, 2, nullptr },
    { "CONFIDENCE", 277, 3, 3, nullptr },
    { "CRITBINOM", 278, 3, 3, nullptr },
    { "EXPONDIST", 280, 3, 3, nullptr },
    { "FDIST", 281, 3, 3, nullptr },
    { "FINV", 282, 3, 3, nullptr },
    { "FISHER", 283, 1, 1, nullptr },
    { "FISHERINV", 284, 1, 1, nullptr },
    { "GAMMADIST", 286, 4, 4, nullptr },
    { "GAMMAINV", 287, 3, 3, nullptr },
    { "HYPGEOMDIST", 289, 4, 4, nullptr },
    { "LOGNORMDIST", 290, 3, 3, nullptr },
    { "LOGINV", 291, 3, 3, nullptr },
    { "NEGBINOMDIST", 292, 3, 3, nullptr },
    { "NORMDIST", 293, 4, 4, nullptr },
    { "NORMSDIST", 294, 1, 1, nullptr },
    { "NORMINV", 295, 3, 3, nullptr },
    { "NORMSINV", 296, 1, 1, nullptr },
    { "STANDARDIZE", 297, 3, 3, nullptr },
    { "PERMUT", 299, 2, 2, nullptr },
    { "POISSON", 300, 3, 3, nullptr },
    { "TDIST", 301, 3, 3, nullptr },
    { "WEIBULL", 302, 4, 4, nullptr },
    { "SUMXMY2", 303, 2, 2, nullptr },
    { "SUMX2MY2", 304, 2, 2, nullptr },
    { "SUMX2PY2", 305, 2, 2, nullptr },
    { "CHITEST", 306, 2, 2, nullptr },
    { "CORREL", 307, 2, 2, nullptr },
    { "COVAR", 308, 2, 2, nullptr },
    { "FORECAST", 309, 3, 3, nullptr },
    { "FTEST", 310, 2, 2, nullptr },
    { "INTERCEPT", 311, 2, 2, nullptr },
    { "PEARSON", 312, 2, 2, nullptr },
    { "RSQ", 313, 2, 2, nullptr },
    { "STEYX", 314, 2, 2, nullptr },
    { "SLOPE", 315, 2, 2, nullptr },
    { "TTEST", 316, 4, 4, nullptr },
    { "PROB", 317, 3, 4, nullptr },
    { "DEVSQ", 318, 1, kAnyCount, nullptr },
    { "GEOMEAN", 319, 1, kAnyCount, nullptr },
    { "HARMEAN", 320, 1, kAnyCount, nullptr },
    { "KURT", 322, 1, kAnyCount, nullptr },
    { "SKEW", 323, 1, kAnyCount, nullptr },
    { "ZTEST", 324, 2, 3, nullptr },
    { "QUARTILE", 327, 2, 2, nullptr },
    { "PERCENTILE", 328, 2, 2, nullptr },
    { "PERCENTRANK", 329, 2, 3, nullptr },
    { "MODE", 330, 1, kAnyCount, nullptr },
    { "TRIMMEAN", 331, 2, 2, nullptr },
    { "TINV", 332, 2, 2, nullptr },
    { "SUBTOTAL", 344, 2, kAnyCount, nullptr },
    { "ISPMT", 350, 4, 4, nullptr },
    { "ROMAN", 354, 1, 2, nullptr },
    { "GETPIVOTDATA", 358, 2, kAnyCount, nullptr },
    { "PHONETIC", 360, 1, 1, nullptr },
    { "STDEVPA", 364, 1, kAnyCount, nullptr },
    { "VARPA", 365, 1, kAnyCount, nullptr },
    { "STDEVA", 366, 1, kAnyCount, nullptr },
    { "VARA", 367, 1, kAnyCount, nullptr },
    { "BAHTTEXT", 368, 1, 1, nullptr },
    { "RTD", 379, 3, kAnyCount, nullptr },
    { "CUBEVALUE", 380, 1, kAnyCount, nullptr },
    { "RANDBETWEEN", -1, 2, 2, nullptr },
    { "RANDARRAY", -1, 0, 5, nullptr },
    { "FILTER", -1, 2, 3, nullptr },
    { "SORT", -1, 1, 4, nullptr },
    { "SORTBY", -1, 2, kAnyCount, nullptr },
    { "UNIQUE", -1, 1, 3, nullptr },
    { "SEQUENCE", -1, 1, 4, nullptr },
    { "LET", -1, 3, kAnyCount, nullptr },
    { "LAMBDA", -1, 1, kAnyCount, nullptr },
    { "ANCHORARRAY", -1, 1, 1, nullptr },
};

struct Tables {
    std::vector<FunctionEntry> functions;
    std::unordered_map<std::string, uint16_t> byName;
    std::unordered_map<uint16_t, uint16_t> byBiff;
};

const Tables& AllTables()
{
    static const Tables tables = [] {
        Tables built;
        AddMathFunctions(built.functions);
        AddLogicalFunctions(built.functions);
        AddTextFunctions(built.functions);
        AddDateFunctions(built.functions);
        AddLookupFunctions(built.functions);
        AddStatisticalFunctions(built.functions);
        for (const FunctionEntry& entry : kKnownOnly)
            built.functions.push_back(entry);
        for (size_t i = 0; i < built.functions.size(); ++i) {
            const FunctionEntry& entry = built.functions[i];
            built.byName.emplace(std::string(entry.name), static_cast<uint16_t>(i));
            if (entry.biffId >= 0)
                built.byBiff.emplace(static_cast<uint16_t>(entry.biffId), static_cast<uint16_t>(i));
        }
        return built;
    }();
    return tables;
}

} // namespace

std::span<const FunctionEntry> FunctionTable()
{
    return AllTables().functions;
}

uint16_t FindFunction(std::string_view name, bool prefixRequired)
{
    // Functions newer than the file format's first version are written with prefixes.
    bool prefixed = false;
    for (const std::string_view prefix : { "_xlfn.", "_xlws." }) {
        if (name.size() > prefix.size() && EqualIgnoringCase(name.substr(0, prefix.size()), prefix)) {
            name.remove_prefix(prefix.size());
            prefixed = true;
        }
    }
    std::string upper(name);
    for (char& c : upper)
        c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    // The functions of later versions than the first of Office Open XML that the engine
    // knows, under the names files give them.
    static const std::unordered_set<std::string> kLater = { "IFNA", "IFS", "SWITCH", "XOR", "CONCAT", "TEXTJOIN",
        "MAXIFS", "MINIFS", "XLOOKUP", "XMATCH", "DAYS", "ISOWEEKNUM", "CEILING.MATH", "FLOOR.MATH", "SINGLE",
        "STDEV.S", "STDEV.P", "VAR.S", "VAR.P", "RANK.EQ", "CEILING.PRECISE", "FLOOR.PRECISE", "RANDARRAY", "FILTER",
        "SORT", "SORTBY", "UNIQUE", "SEQUENCE", "LET", "LAMBDA", "ANCHORARRAY" };
    if (prefixRequired && !prefixed && kLater.count(upper) != 0)
        return kUnknownFunction;
    // Newer names of functions the application kept under both.
    static const std::unordered_map<std::string, std::string> kAliases = {
        { "STDEV.S", "STDEV" },
        { "STDEV.P", "STDEVP" },
        { "VAR.S", "VAR" },
        { "VAR.P", "VARP" },
        { "RANK.EQ", "RANK" },
        { "CEILING.PRECISE", "CEILING.MATH" },
        { "FLOOR.PRECISE", "FLOOR.MATH" },
    };
    if (const auto alias = kAliases.find(upper); alias != kAliases.end())
        upper = alias->second;
    const Tables& tables = AllTables();
    const auto found = tables.byName.find(upper);
    return found == tables.byName.end() ? kUnknownFunction : found->second;
}

uint16_t FindBiffFunction(uint16_t id)
{
    const Tables& tables = AllTables();
    const auto found = tables.byBiff.find(id);
    return found == tables.byBiff.end() ? kUnknownFunction : found->second;
}

// ---- What the groups share ----

void ForEachValue(Call& call, size_t i, const std::function<void(const Value&)>& visit)
{
    if (call.Missing(i))
        return;
    const Value& raw = call.Raw(i);
    if (raw.IsReference()) {
        for (const Area& area : raw.Areas())
            call.Context().VisitCells(area, [&](int32_t, int32_t, const Value& cell) { visit(cell); });
    } else if (raw.IsArray()) {
        for (const Value& item : raw.ArrayItems().items)
            visit(item);
    } else {
        visit(raw);
    }
}

namespace {

Area CutToUsedRange(Call& call, Area area)
{
    const CellRange used = call.Context().UsedRange(area.sheet);
    if (area.Rows() == kMaxRows)
        area.lastRow = std::max(area.firstRow, std::min(area.lastRow, used.lastRow));
    if (area.Columns() == kMaxColumns)
        area.lastColumn = std::max(area.firstColumn, std::min(area.lastColumn, used.lastColumn));
    return area;
}

} // namespace

bool SingleArea(Call& call, size_t i, Area& area)
{
    const Value& raw = call.Raw(i);
    if (!raw.IsReference() || raw.Areas().size() != 1)
        return false;
    area = CutToUsedRange(call, raw.Areas()[0]);
    return true;
}

Grid::Grid(Call& call, size_t i)
    : m_call(call)
{
    From(call.Raw(i));
}

Grid::Grid(Call& call, const Value& value)
    : m_call(call)
{
    From(value);
}

void Grid::From(const Value& value)
{
    if (value.IsReference()) {
        if (value.Areas().size() != 1) {
            m_valid = false;
            return;
        }
        m_isReference = true;
        m_area = CutToUsedRange(m_call, value.Areas()[0]);
        m_rows = m_area.Rows();
        m_columns = m_area.Columns();
    } else if (value.IsArray()) {
        m_array = value.SharedArray();
        m_rows = m_array->rows;
        m_columns = m_array->columns;
    } else {
        m_single = value;
    }
}

Value Grid::At(int64_t row, int64_t column) const
{
    if (m_isReference)
        return m_call.Context().CellValue(m_area.sheet, static_cast<int32_t>(m_area.firstRow + row),
            static_cast<int32_t>(m_area.firstColumn + column));
    if (m_array)
        return m_array->At(static_cast<int32_t>(row), static_cast<int32_t>(column));
    return m_single;
}

Value Grid::Part(int64_t firstRow, int64_t firstColumn, int64_t lastRow, int64_t lastColumn) const
{
    if (m_isReference) {
        Area part = m_area;
        part.firstRow = static_cast<int32_t>(m_area.firstRow + firstRow);
        part.firstColumn = static_cast<int32_t>(m_area.firstColumn + firstColumn);
        part.lastRow = static_cast<int32_t>(m_area.firstRow + lastRow);
        part.lastColumn = static_cast<int32_t>(m_area.firstColumn + lastColumn);
        return Value::Reference(part);
    }
    if (firstRow == lastRow && firstColumn == lastColumn)
        return At(firstRow, firstColumn);
    auto array = std::make_shared<ArrayValue>();
    array->rows = static_cast<int32_t>(lastRow - firstRow + 1);
    array->columns = static_cast<int32_t>(lastColumn - firstColumn + 1);
    for (int64_t r = firstRow; r <= lastRow; ++r) {
        for (int64_t c = firstColumn; c <= lastColumn; ++c)
            array->items.push_back(At(r, c));
    }
    return Value::Array(std::move(array));
}

std::u16string LowerUtf16(std::string_view text)
{
    std::u16string units = ToUtf16(text);
    for (char16_t& unit : units) {
        if (unit < 0xD800 || unit >= 0xE000)
            unit = static_cast<char16_t>(LowerOf(unit));
    }
    return units;
}

bool WildcardMatch(std::u16string_view text, std::u16string_view pattern)
{
    // Greedy matching with one point to go back to, after the last "*".
    size_t t = 0, p = 0;
    size_t starPattern = std::u16string_view::npos, starText = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            starPattern = ++p;
            starText = t;
            continue;
        }
        if (p < pattern.size()) {
            char16_t expected = pattern[p];
            bool any = expected == u'?';
            size_t width = 1;
            if (expected == u'~' && p + 1 < pattern.size()) {
                expected = pattern[p + 1];
                any = false;
                width = 2;
            }
            if (any || expected == text[t]) {
                p += width;
                ++t;
                continue;
            }
        }
        if (starPattern == std::u16string_view::npos)
            return false;
        p = starPattern;
        t = ++starText;
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

Criterion::Criterion(const Value& criterion, numfmt::DateSystem system)
{
    if (!criterion.IsText()) {
        m_operand = criterion.IsBlank() ? Value::Number(0) : criterion;
        if (m_operand.IsNumber()) {
            m_numeric = true;
            m_number = m_operand.NumberValue();
        }
        return;
    }
    std::string_view text = criterion.TextValue();
    if (text.starts_with("<=")) {
        m_op = Op::LessEqual;
        text.remove_prefix(2);
    } else if (text.starts_with(">=")) {
        m_op = Op::GreaterEqual;
        text.remove_prefix(2);
    } else if (text.starts_with("<>")) {
        m_op = Op::NotEqual;
        text.remove_prefix(2);
    } else if (text.starts_with("<")) {
        m_op = Op::Less;
        text.remove_prefix(1);
    } else if (text.starts_with(">")) {
        m_op = Op::Greater;
        text.remove_prefix(1);
    } else if (text.starts_with("=")) {
        m_op = Op::Equal;
        text.remove_prefix(1);
    }
    double number = 0;
    CellError error = CellError::Null;
    if (TextToNumber(text, number, system)) {
        m_numeric = true;
        m_number = number;
        m_operand = Value::Number(number);
    } else if (EqualIgnoringCase(text, "TRUE") || EqualIgnoringCase(text, "FALSE")) {
        m_operand = Value::Boolean(EqualIgnoringCase(text, "TRUE"));
    } else if (CellErrorFromText(text, error)) {
        m_operand = Value::Error(error);
    } else {
        m_operand = Value::Text(std::string(text));
        m_pattern = LowerUtf16(text);
        m_wildcards
            = (m_op == Op::Equal || m_op == Op::NotEqual) && m_pattern.find_first_of(u"*?~") != std::u16string::npos;
    }
    // An empty cell is matched by "" and "=" (equal to nothing) and by any "<>" test
    // but "<>" alone.
    const bool emptyOperand = m_operand.IsText() && m_operand.TextValue().empty();
    m_matchesBlank = (m_op == Op::Equal && emptyOperand) || (m_op == Op::NotEqual && !emptyOperand);
}

bool Criterion::Matches(const Value& cell) const
{
    if (cell.IsBlank())
        return m_matchesBlank;
    const bool equalOp = m_op == Op::Equal || m_op == Op::NotEqual;
    bool same = false;
    int order = 0;
    bool comparable = false;
    if (m_operand.IsNumber()) {
        double number = 0;
        if (cell.IsNumber()) {
            number = cell.NumberValue();
            comparable = true;
        } else if (cell.IsText() && equalOp) {
            // Text that reads as the number equals it.
            comparable = TextToNumber(cell.TextValue(), number, numfmt::DateSystem::Date1900);
        }
        if (comparable) {
            order = number < m_number ? -1 : (number > m_number ? 1 : 0);
            same = order == 0;
        }
    } else if (m_operand.IsText()) {
        if (cell.IsText()) {
            comparable = true;
            if (m_wildcards) {
                same = WildcardMatch(LowerUtf16(cell.TextValue()), m_pattern);
            } else {
                order = CompareTextIgnoringCase(cell.TextValue(), m_operand.TextValue());
                same = order == 0;
            }
        }
    } else if (m_operand.IsBoolean()) {
        if (cell.IsBoolean()) {
            comparable = true;
            order = (cell.BooleanValue() ? 1 : 0) - (m_operand.BooleanValue() ? 1 : 0);
            same = order == 0;
        }
    } else if (m_operand.IsError()) {
        if (cell.IsError()) {
            comparable = true;
            same = cell.ErrorValue() == m_operand.ErrorValue();
        }
    }
    switch (m_op) {
    case Op::Equal:
        return comparable && same;
    case Op::NotEqual:
        return !(comparable && same);
    case Op::Less:
        return comparable && order < 0;
    case Op::LessEqual:
        return comparable && order <= 0;
    case Op::Greater:
        return comparable && order > 0;
    case Op::GreaterEqual:
        return comparable && order >= 0;
    }
    return false;
}

} // namespace vellumcast::spreadsheet::formula
