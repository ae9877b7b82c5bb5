// The two text grammars: Office Open XML's (ECMA-376 Part 1, 18.17: A1 references,
// "," between arguments) and OpenDocument's OpenFormula (ODF 1.2 Part 2: references in
// brackets, ";" between arguments). One recursive descent serves both; only their
// references, separators and reference operators differ. Operator precedence is the
// application's: ":" then " " (intersection) then "," (union), negation, "%", "^", "*"
// and "/", "+" and "-", "&", the comparisons.

#include "spreadsheet/formula/Functions.h"
#include "spreadsheet/formula/Parsers.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace vellumcast::spreadsheet::formula {

namespace {

enum class Dialect { A1, OpenFormula };

struct ParseFailure { };

[[noreturn]] void Unreadable()
{
    throw ParseFailure {};
}

bool IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

char Upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Characters of names and unquoted sheet names: letters, digits, "_", ".", "\", "?" and
// anything beyond ASCII.
bool IsNameChar(char c)
{
    return IsLetter(c) || IsDigit(c) || c == '_' || c == '.' || c == '\\' || c == '?'
        || static_cast<unsigned char>(c) >= 0x80;
}

bool SameIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Upper(a[i]) != Upper(b[i]))
            return false;
    }
    return true;
}

constexpr std::pair<std::string_view, CellError> kErrorLiterals[] = {
    { "#NULL!", CellError::Null },
    { "#DIV/0!", CellError::Div0 },
    { "#VALUE!", CellError::Value },
    { "#REF!", CellError::Ref },
    { "#NAME?", CellError::Name },
    { "#NUM!", CellError::Num },
    { "#N/A", CellError::NA },
    { "#GETTING_DATA", CellError::GettingData },
};

class TextParser {
public:
    TextParser(std::string_view text, int32_t row, int32_t column, Dialect dialect)
        : m_text(text)
        , m_row(row)
        , m_column(column)
        , m_dialect(dialect)
    {
    }

    Expression Parse()
    {
        SkipSpaces();
        if (m_dialect == Dialect::OpenFormula) {
            // of:=, oooc:= and the like: the namespace before the first ":=".
            const size_t colon = m_text.find(":=");
            if (colon != std::string_view::npos && colon < 16 && m_text.find('"') > colon)
                m_at = colon + 1;
        }
        SkipSpaces();
        if (Peek() == '=')
            ++m_at;
        m_expression.root = ParseComparison();
        SkipSpaces();
        if (m_at != m_text.size())
            Unreadable();
        return std::move(m_expression);
    }

private:
    char Peek(size_t ahead = 0) const { return m_at + ahead < m_text.size() ? m_text[m_at + ahead] : '\0'; }
    bool AtEnd() const { return m_at >= m_text.size(); }
    // Skips spaces and line breaks; returns whether any were there.
    bool SkipSpaces()
    {
        const size_t start = m_at;
        while (!AtEnd() && (Peek() == ' ' || Peek() == '\n' || Peek() == '\r' || Peek() == '\t'))
            ++m_at;
        return m_at != start;
    }
    bool Take(char c)
    {
        if (Peek() != c)
            return false;
        ++m_at;
        return true;
    }

    uint32_t Add(Node node)
    {
        if (m_expression.nodes.size() >= kMaxNodes)
            Unreadable();
        return m_expression.Add(node);
    }
    uint32_t AddBinary(Operator op, uint32_t left, uint32_t right)
    {
        Node node;
        node.kind = NodeKind::Binary;
        node.op = op;
        const uint32_t children[] = { left, right };
        return m_expression.AddWithChildren(node, children, 2);
    }
    uint32_t AddUnary(Operator op, uint32_t operand)
    {
        Node node;
        node.kind = NodeKind::Unary;
        node.op = op;
        return m_expression.AddWithChildren(node, &operand, 1);
    }

    struct Nesting {
        explicit Nesting(int& depth)
            : m_depth(depth)
        {
            if (++m_depth > kMaxNesting)
                Unreadable();
        }
        ~Nesting() { --m_depth; }
        int& m_depth;
    };

    uint32_t ParseComparison()
    {
        const Nesting nesting(m_depth);
        uint32_t left = ParseConcat();
        for (;;) {
            SkipSpaces();
            Operator op;
            if (Peek() == '=') {
                op = Operator::Equal;
                m_at += 1;
            } else if (Peek() == '<' && Peek(1) == '>') {
                op = Operator::NotEqual;
                m_at += 2;
            } else if (Peek() == '<' && Peek(1) == '=') {
                op = Operator::LessEqual;
                m_at += 2;
            } else if (Peek() == '>' && Peek(1) == '=') {
                op = Operator::GreaterEqual;
                m_at += 2;
            } else if (Peek() == '<') {
                op = Operator::Less;
                m_at += 1;
            } else if (Peek() == '>') {
                op = Operator::Greater;
                m_at += 1;
            } else {
                return left;
            }
            left = AddBinary(op, left, ParseConcat());
        }
    }

    uint32_t ParseConcat()
    {
        uint32_t left = ParseAdditive();
        for (;;) {
            SkipSpaces();
            if (!Take('&'))
                return left;
            left = AddBinary(Operator::Concat, left, ParseAdditive());
        }
    }

    uint32_t ParseAdditive()
    {
        uint32_t left = ParseMultiplicative();
        for (;;) {
            SkipSpaces();
            if (Take('+'))
                left = AddBinary(Operator::Add, left, ParseMultiplicative());
            else if (Take('-'))
                left = AddBinary(Operator::Subtract, left, ParseMultiplicative());
            else
                return left;
        }
    }

    uint32_t ParseMultiplicative()
    {
        uint32_t left = ParsePower();
        for (;;) {
            SkipSpaces();
            if (Take('*'))
                left = AddBinary(Operator::Multiply, left, ParsePower());
            else if (Take('/'))
                left = AddBinary(Operator::Divide, left, ParsePower());
            else
                return left;
        }
    }

    // "^" groups from the left, as the application's does: 2^3^2 is 64.
    uint32_t ParsePower()
    {
        uint32_t left = ParsePercent();
        for (;;) {
            SkipSpaces();
            if (!Take('^'))
                return left;
            left = AddBinary(Operator::Power, left, ParsePercent());
        }
    }

    uint32_t ParsePercent()
    {
        uint32_t operand = ParseUnary();
        for (;;) {
            SkipSpaces();
            if (!Take('%'))
                return operand;
            operand = AddUnary(Operator::Percent, operand);
        }
    }

    // Negation binds tighter than "^": -2^2 is 4.
    uint32_t ParseUnary()
    {
        // Signs in a row, taken without recursion, then applied from the innermost.
        std::vector<Operator> signs;
        for (;;) {
            SkipSpaces();
            if (Take('-'))
                signs.push_back(Operator::Negate);
            else if (Take('+'))
                signs.push_back(Operator::Plus);
            else
                break;
        }
        uint32_t operand = ParseUnion();
        for (auto sign = signs.rbegin(); sign != signs.rend(); ++sign)
            operand = AddUnary(*sign, operand);
        return operand;
    }

    // OpenFormula writes union as "~"; in Office Open XML it is "," within parentheses.
    uint32_t ParseUnion()
    {
        uint32_t left = ParseIntersection();
        if (m_dialect != Dialect::OpenFormula)
            return left;
        for (;;) {
            SkipSpaces();
            if (!Take('~'))
                return left;
            left = AddBinary(Operator::Union, left, ParseIntersection());
        }
    }

    // Office Open XML: a space between two references; OpenFormula: "!".
    uint32_t ParseIntersection()
    {
        uint32_t left = ParseRange();
        for (;;) {
            if (m_dialect == Dialect::OpenFormula) {
                SkipSpaces();
                if (!Take('!'))
                    return left;
            } else {
                const size_t before = m_at;
                if (!SkipSpaces() || !StartsOperand()) {
                    m_at = before;
                    return left;
                }
            }
            left = AddBinary(Operator::Intersect, left, ParseRange());
        }
    }

    bool StartsOperand() const
    {
        const char c = Peek();
        return IsNameChar(c) || c == '$' || c == '\'' || c == '(' || c == '[';
    }

    uint32_t ParseRange()
    {
        uint32_t left = ParsePrimary();
        for (;;) {
            const size_t before = m_at;
            SkipSpaces();
            if (!Take(':')) {
                m_at = before;
                return left;
            }
            left = AddBinary(Operator::Range, left, ParsePrimary());
        }
    }

    uint32_t ParsePrimary()
    {
        SkipSpaces();
        const char c = Peek();
        if (c == '\0')
            Unreadable();
        if (c == '"')
            return ParseString();
        if (c == '(')
            return ParseParenthesis();
        if (c == '{')
            return ParseArray();
        if (c == '#')
            return ParseErrorOrRefError();
        if (m_dialect == Dialect::OpenFormula && c == '[')
            return ParseBracketReference();
        if (IsDigit(c) || c == '.') {
            if (m_dialect == Dialect::A1) {
                if (const auto rows = TryRowRange())
                    return *rows;
            }
            return ParseNumber();
        }
        if (m_dialect == Dialect::A1)
            return ParseA1Operand();
        return ParseOpenOperand();
    }

    uint32_t ParseString()
    {
        Node node;
        node.kind = NodeKind::Text;
        node.index = m_expression.AddString(ReadQuoted('"'));
        return Add(node);
    }

    // A text between quote characters, a doubled quote standing for one.
    std::string ReadQuoted(char quote)
    {
        if (!Take(quote))
            Unreadable();
        std::string text;
        for (;;) {
            if (AtEnd())
                Unreadable();
            const char c = m_text[m_at++];
            if (c == quote) {
                if (Peek() != quote)
                    return text;
                ++m_at;
            }
            text.push_back(c);
        }
    }

    uint32_t ParseParenthesis()
    {
        Take('(');
        uint32_t inner = ParseComparison();
        if (m_dialect == Dialect::A1) {
            // (A1,B2): the union of references.
            for (;;) {
                SkipSpaces();
                if (!Take(','))
                    break;
                inner = AddBinary(Operator::Union, inner, ParseComparison());
            }
        }
        SkipSpaces();
        if (!Take(')'))
            Unreadable();
        return inner;
    }

    uint32_t ParseNumber()
    {
        const char* begin = m_text.data() + m_at;
        size_t length = 0;
        while (IsDigit(Peek(length)))
            ++length;
        if (Peek(length) == '.') {
            ++length;
            while (IsDigit(Peek(length)))
                ++length;
        }
        if (Upper(Peek(length)) == 'E'
            && (IsDigit(Peek(length + 1))
                || ((Peek(length + 1) == '+' || Peek(length + 1) == '-') && IsDigit(Peek(length + 2))))) {
            length += 2;
            while (IsDigit(Peek(length)))
                ++length;
        }
        const std::string digits(begin, length);
        if (digits == ".")
            Unreadable();
        char* end = nullptr;
        const double number = std::strtod(digits.c_str(), &end);
        if (end != digits.c_str() + digits.size() || !std::isfinite(number))
            Unreadable();
        m_at += length;
        Node node;
        node.kind = NodeKind::Number;
        node.number = number;
        return Add(node);
    }

    bool TakeErrorLiteral(CellError& error)
    {
        for (const auto& [text, code] : kErrorLiterals) {
            if (SameIgnoringCase(m_text.substr(m_at, text.size()), text)) {
                m_at += text.size();
                error = code;
                return true;
            }
        }
        return false;
    }

    uint32_t ParseErrorOrRefError()
    {
        CellError error = CellError::Null;
        if (!TakeErrorLiteral(error))
            Unreadable();
        Node node;
        node.kind = NodeKind::Error;
        node.error = error;
        return Add(node);
    }

    // {1,2;3,4} in Office Open XML, {1;2|3;4} in OpenFormula: constants only.
    uint32_t ParseArray()
    {
        Take('{');
        const char columnSeparator = m_dialect == Dialect::A1 ? ',' : ';';
        const char rowSeparator = m_dialect == Dialect::A1 ? ';' : '|';
        auto array = std::make_shared<ArrayValue>();
        int32_t columns = 0;
        int32_t column = 0;
        for (;;) {
            SkipSpaces();
            array->items.push_back(ParseArrayItem());
            ++column;
            SkipSpaces();
            if (Take(columnSeparator))
                continue;
            if (columns == 0)
                columns = column;
            else if (column != columns)
                Unreadable();
            column = 0;
            ++array->rows;
            if (Take(rowSeparator))
                continue;
            if (Take('}'))
                break;
            Unreadable();
        }
        if (array->items.size() > kMaxNodes)
            Unreadable();
        array->columns = columns;
        Node node;
        node.kind = NodeKind::Array;
        node.index = static_cast<uint32_t>(m_expression.arrays.size());
        m_expression.arrays.push_back(std::move(array));
        return Add(node);
    }

    Value ParseArrayItem()
    {
        const char c = Peek();
        if (c == '"')
            return Value::Text(ReadQuoted('"'));
        if (c == '#') {
            CellError error = CellError::Null;
            if (!TakeErrorLiteral(error))
                Unreadable();
            return Value::Error(error);
        }
        if (IsLetter(c)) {
            const std::string_view word = ReadWord();
            if (SameIgnoringCase(word, "TRUE"))
                return Value::Boolean(true);
            if (SameIgnoringCase(word, "FALSE"))
                return Value::Boolean(false);
            Unreadable();
        }
        bool negative = false;
        if (c == '-' || c == '+') {
            negative = c == '-';
            ++m_at;
        }
        const Node& number = m_expression.nodes[ParseNumber()];
        const double value = negative ? -number.number : number.number;
        m_expression.nodes.pop_back();
        return Value::Number(value);
    }

    std::string_view ReadWord()
    {
        const size_t start = m_at;
        while (IsNameChar(Peek()))
            ++m_at;
        return m_text.substr(start, m_at - start);
    }

    // ---- Office Open XML's operands: references, names, functions, booleans ----

    struct SheetPrefix {
        bool given = false;
        std::string first;
        std::string last; // of a 3-D reference
        bool external = false; // [1]Sheet1!: another workbook
    };

    // "Sheet1!", "'My sheet'!", "Sheet1:Sheet3!", "[1]Sheet1!" before a reference; the
    // position is left unchanged when there is none.
    SheetPrefix TakeSheetPrefix()
    {
        const size_t start = m_at;
        SheetPrefix prefix;
        if (Peek() == '[') {
            // An external workbook's number: [1]Sheet1!A1 or '[1]My sheet'!A1.
            const size_t close = m_text.find(']', m_at);
            if (close == std::string_view::npos)
                return prefix;
            prefix.external = true;
            m_at = close + 1;
        }
        if (Peek() == '\'') {
            std::string name = ReadQuoted('\'');
            if (!Take('!')) {
                m_at = start;
                return SheetPrefix {};
            }
            if (!name.empty() && name.front() == '[') { // '[1]My sheet'!
                prefix.external = true;
                name.erase(0, std::min(name.size(), name.find(']') + 1));
            }
            if (const size_t colon = name.find(':'); colon != std::string::npos) {
                prefix.last = name.substr(colon + 1);
                name.resize(colon);
            }
            prefix.given = true;
            prefix.first = std::move(name);
            return prefix;
        }
        const std::string_view first = ReadWord();
        if (first.empty()) {
            m_at = start;
            return SheetPrefix {};
        }
        std::string_view last;
        if (Peek() == ':') {
            const size_t colon = m_at++;
            last = ReadWord();
            if (last.empty() || Peek() != '!') {
                m_at = colon;
                last = {};
            }
        }
        if (!Take('!')) {
            m_at = start;
            return SheetPrefix {};
        }
        prefix.given = true;
        prefix.first = std::string(first);
        prefix.last = std::string(last);
        return prefix;
    }

    // Letters then digits, each maybe after "$": a cell of the grid, or false (nothing taken).
    bool TakeCell(RefPart& part)
    {
        const size_t start = m_at;
        const bool columnAbsolute = Take('$');
        int64_t column = 0;
        size_t letters = 0;
        while (IsLetter(Peek()) && letters < 4) {
            column = column * 26 + (Upper(Peek()) - 'A' + 1);
            ++m_at;
            ++letters;
        }
        const bool rowAbsolute = Take('$');
        int64_t row = 0;
        size_t digits = 0;
        while (IsDigit(Peek()) && digits < 8) {
            row = row * 10 + (Peek() - '0');
            ++m_at;
            ++digits;
        }
        if (letters == 0 || letters > 3 || digits == 0 || column > kMaxColumns || row < 1 || row > kMaxRows
            || IsNameChar(Peek()) || Peek() == '(') {
            m_at = start;
            return false;
        }
        SetPart(part, static_cast<int32_t>(row), static_cast<int32_t>(column), !rowAbsolute, !columnAbsolute);
        return true;
    }

    // A whole column ("$B", for B:D) or row ("3", for 3:5), or false.
    bool TakeColumn(int32_t& column, bool& relative)
    {
        const size_t start = m_at;
        relative = !Take('$');
        int64_t value = 0;
        size_t letters = 0;
        while (IsLetter(Peek()) && letters < 4) {
            value = value * 26 + (Upper(Peek()) - 'A' + 1);
            ++m_at;
            ++letters;
        }
        if (letters == 0 || letters > 3 || value > kMaxColumns || IsDigit(Peek()) || Peek() == '(' || Peek() == '.'
            || Peek() == '_') {
            m_at = start;
            return false;
        }
        column = static_cast<int32_t>(value);
        return true;
    }
    bool TakeRow(int32_t& row, bool& relative)
    {
        const size_t start = m_at;
        relative = !Take('$');
        int64_t value = 0;
        size_t digits = 0;
        while (IsDigit(Peek()) && digits < 8) {
            value = value * 10 + (Peek() - '0');
            ++m_at;
            ++digits;
        }
        if (digits == 0 || value < 1 || value > kMaxRows || IsNameChar(Peek())) {
            m_at = start;
            return false;
        }
        row = static_cast<int32_t>(value);
        return true;
    }

    void SetPart(RefPart& part, int32_t row, int32_t column, bool rowRelative, bool columnRelative) const
    {
        part.rowRelative = rowRelative;
        part.columnRelative = columnRelative;
        part.row = rowRelative ? row - m_row : row;
        part.column = columnRelative ? column - m_column : column;
    }

    uint32_t AddReference(RefNode ref, const SheetPrefix& prefix)
    {
        if (prefix.external)
            return AddUnsupported();
        if (prefix.given) {
            ref.sheet = m_expression.AddSheet(prefix.first);
            ref.lastSheet = prefix.last.empty() ? ref.sheet : m_expression.AddSheet(prefix.last);
        }
        Node node;
        node.kind = NodeKind::Reference;
        node.ref = ref;
        return Add(node);
    }

    uint32_t AddUnsupported()
    {
        Node node;
        node.kind = NodeKind::Unsupported;
        return Add(node);
    }

    // "3:5" or "$3:$3" at an operand's start: whole rows.
    std::optional<uint32_t> TryRowRange() { return TryRowRange(SheetPrefix()); }
    std::optional<uint32_t> TryRowRange(const SheetPrefix& prefix)
    {
        const size_t start = m_at;
        int32_t first = 0, last = 0;
        bool firstRelative = false, lastRelative = false;
        if (TakeRow(first, firstRelative) && Take(':') && TakeRow(last, lastRelative)) {
            RefNode ref;
            ref.area = true;
            SetPart(ref.first, first, 1, firstRelative, false);
            SetPart(ref.last, last, kMaxColumns, lastRelative, false);
            return AddReference(ref, prefix);
        }
        m_at = start;
        return std::nullopt;
    }

    std::optional<uint32_t> TryColumnRange(const SheetPrefix& prefix)
    {
        const size_t start = m_at;
        int32_t first = 0, last = 0;
        bool firstRelative = false, lastRelative = false;
        if (TakeColumn(first, firstRelative) && Take(':') && TakeColumn(last, lastRelative)) {
            RefNode ref;
            ref.area = true;
            SetPart(ref.first, 1, first, false, firstRelative);
            SetPart(ref.last, kMaxRows, last, false, lastRelative);
            return AddReference(ref, prefix);
        }
        m_at = start;
        return std::nullopt;
    }

    uint32_t ParseA1Operand()
    {
        const size_t start = m_at;
        const SheetPrefix prefix = TakeSheetPrefix();
        if (prefix.given || prefix.external) {
            if (Peek() == '#') { // Sheet1!#REF!
                CellError error = CellError::Null;
                if (!TakeErrorLiteral(error) || error != CellError::Ref)
                    Unreadable();
                RefNode ref;
                ref.deleted = true;
                return AddReference(ref, prefix);
            }
            if (const auto rows = TryRowRange(prefix))
                return *rows;
        }
        if (Peek() == '$' && IsDigit(Peek(1))) {
            if (const auto rows = TryRowRange(prefix))
                return *rows;
        }
        if (const auto columns = TryColumnRange(prefix))
            return *columns;
        RefNode ref;
        if (TakeCell(ref.first)) {
            ref.last = ref.first;
            const size_t afterFirst = m_at;
            if (Take(':') && TakeCell(ref.last))
                ref.area = true;
            else
                m_at = afterFirst;
            return AddReference(ref, prefix);
        }
        if (prefix.external)
            return SkipUnsupportedName();
        const size_t nameStart = m_at;
        const std::string_view word = ReadWord();
        if (word.empty()) {
            m_at = start;
            Unreadable();
        }
        if (Peek() == '[') // a table's structured reference: Table1[Column]
            return SkipBrackets(), AddUnsupported();
        if (!prefix.given) {
            SkipSpaces();
            if (Peek() == '(')
                return ParseFunction(word);
            m_at = nameStart + word.size();
            if (SameIgnoringCase(word, "TRUE") || SameIgnoringCase(word, "FALSE")) {
                Node node;
                node.kind = NodeKind::Boolean;
                node.boolean = SameIgnoringCase(word, "TRUE");
                return Add(node);
            }
        }
        return AddName(word, prefix.given ? prefix.first : std::string());
    }

    uint32_t SkipUnsupportedName()
    {
        ReadWord();
        return AddUnsupported();
    }

    void SkipBrackets()
    {
        int depth = 0;
        do {
            if (AtEnd())
                Unreadable();
            const char c = m_text[m_at++];
            if (c == '[')
                ++depth;
            else if (c == ']')
                --depth;
            else if (c == '\'' && depth > 0 && !AtEnd()) // an escaped character in a column name
                ++m_at;
        } while (depth > 0);
    }

    // A defined name; a name given with a sheet is that sheet's own.
    uint32_t AddName(std::string_view name, const std::string& sheet)
    {
        if (name.starts_with("_xlpm.")) // a LAMBDA's parameter
            return AddUnsupported();
        Node node;
        node.kind = NodeKind::Name;
        node.index = m_expression.AddString(std::string(name));
        node.ref.sheet = sheet.empty() ? kOwnSheet : m_expression.AddSheet(sheet);
        return Add(node);
    }

    uint32_t ParseFunction(std::string_view name)
    {
        SkipSpaces();
        Take('(');
        std::vector<uint32_t> arguments;
        const char separator = m_dialect == Dialect::A1 ? ',' : ';';
        SkipSpaces();
        if (!Take(')')) {
            for (;;) {
                SkipSpaces();
                if (Peek() == separator || Peek() == ')') {
                    Node missing;
                    missing.kind = NodeKind::Missing;
                    arguments.push_back(Add(missing));
                } else {
                    arguments.push_back(ParseComparison());
                }
                SkipSpaces();
                if (Take(separator))
                    continue;
                if (Take(')'))
                    break;
                Unreadable();
            }
        }
        Node node;
        node.kind = NodeKind::Function;
        node.function = FindFunction(name, m_dialect == Dialect::A1);
        if (node.function == kUnknownFunction)
            node.index = m_expression.AddString(std::string(name));
        return m_expression.AddWithChildren(node, arguments.data(), arguments.size());
    }

    // ---- OpenFormula's operands ----

    uint32_t ParseOpenOperand()
    {
        const std::string_view word = ReadWord();
        if (word.empty())
            Unreadable();
        SkipSpaces();
        if (Peek() == '(') {
            std::string_view name = word;
            for (const std::string_view prefix : { "COM.MICROSOFT.", "ORG.OPENOFFICE.", "ORG.LIBREOFFICE." }) {
                if (name.size() > prefix.size() && SameIgnoringCase(name.substr(0, prefix.size()), prefix)) {
                    // Functions the application has under its own name; the others stay unknown.
                    if (prefix == "COM.MICROSOFT.")
                        name.remove_prefix(prefix.size());
                    break;
                }
            }
            return ParseFunction(name);
        }
        if (SameIgnoringCase(word, "TRUE") || SameIgnoringCase(word, "FALSE")) {
            Node node;
            node.kind = NodeKind::Boolean;
            node.boolean = SameIgnoringCase(word, "TRUE");
            return Add(node);
        }
        return AddName(word, {});
    }

    // [.A1], [.A1:.B2], [$Sheet1.A1], ['My sheet'.$A$1:.$B$2], [.A:.C], [.3:.5], [#REF!].
    uint32_t ParseBracketReference()
    {
        Take('[');
        RefNode ref;
        SheetPrefix firstSheet;
        if (!TakeOpenPart(ref.first, firstSheet)) {
            SkipToBracketEnd();
            ref.deleted = true;
            return AddReference(ref, firstSheet);
        }
        ref.last = ref.first;
        SheetPrefix lastSheet;
        if (Take(':')) {
            if (!TakeOpenPart(ref.last, lastSheet)) {
                SkipToBracketEnd();
                ref.deleted = true;
                return AddReference(ref, firstSheet);
            }
            ref.area = true;
            if (lastSheet.given && (!firstSheet.given || lastSheet.first != firstSheet.first))
                firstSheet.last = lastSheet.first;
        }
        if (!Take(']'))
            Unreadable();
        // A whole column or row comes as [.A:.A] or [.1:.1].
        if (ref.first.row == kWholeColumn || ref.last.row == kWholeColumn) {
            SetPart(ref.first, 1, ColumnOf(ref.first), false, ref.first.columnRelative);
            SetPart(ref.last, kMaxRows, ColumnOf(ref.last), false, ref.last.columnRelative);
        } else if (ref.first.column == kWholeRow || ref.last.column == kWholeRow) {
            SetPart(ref.first, RowOf(ref.first), 1, ref.first.rowRelative, false);
            SetPart(ref.last, RowOf(ref.last), kMaxColumns, ref.last.rowRelative, false);
        }
        return AddReference(ref, firstSheet);
    }

    static constexpr int32_t kWholeColumn = INT32_MIN;
    static constexpr int32_t kWholeRow = INT32_MIN;
    int32_t ColumnOf(const RefPart& part) const { return part.columnRelative ? part.column + m_column : part.column; }
    int32_t RowOf(const RefPart& part) const { return part.rowRelative ? part.row + m_row : part.row; }

    void SkipToBracketEnd()
    {
        while (!AtEnd() && Peek() != ']') {
            if (Peek() == '\'')
                ReadQuoted('\'');
            else
                ++m_at;
        }
        if (!Take(']'))
            Unreadable();
    }

    // One end of a bracketed reference: an optional sheet ("$Sheet1", "'My sheet'" or
    // nothing), ".", then the cell, column or row; false for a deleted one (#REF!) or one
    // in another document.
    bool TakeOpenPart(RefPart& part, SheetPrefix& sheet)
    {
        if (Peek() == '\'' && m_text.substr(m_at).find("'#") != std::string_view::npos
            && m_text.substr(m_at, 8).find("file:") != std::string_view::npos)
            return false; // ['file:///other.ods'#$Sheet1.A1]
        Take('$');
        if (Peek() == '\'') {
            sheet.given = true;
            sheet.first = ReadQuoted('\'');
        } else if (Peek() != '.') {
            // An unquoted sheet name runs to the point before the cell.
            const size_t start = m_at;
            while (IsNameChar(Peek()) && Peek() != '.')
                ++m_at;
            const std::string_view name = m_text.substr(start, m_at - start);
            if (name.empty())
                return false;
            sheet.given = true;
            sheet.first = std::string(name);
        }
        if (!Take('.'))
            return false;
        if (Peek() == '#')
            return false;
        if (TakeCell(part))
            return true;
        int32_t value = 0;
        bool relative = false;
        if (TakeColumn(value, relative)) {
            SetPart(part, m_row, value, false, relative);
            part.row = kWholeColumn;
            return true;
        }
        if (TakeRow(value, relative)) {
            SetPart(part, value, m_column, relative, false);
            part.column = kWholeRow;
            return true;
        }
        return false;
    }

    std::string_view m_text;
    size_t m_at = 0;
    int32_t m_row;
    int32_t m_column;
    Dialect m_dialect;
    int m_depth = 0;
    Expression m_expression;
};

} // namespace

std::optional<Expression> ParseA1Formula(std::string_view text, int32_t row, int32_t column)
{
    try {
        return TextParser(text, row, column, Dialect::A1).Parse();
    } catch (const ParseFailure&) {
        return std::nullopt;
    }
}

std::optional<Expression> ParseOpenFormula(std::string_view text, int32_t row, int32_t column)
{
    // OpenDocument files may hold formulas in the application's own syntax.
    if (text.starts_with("msoxl:"))
        return ParseA1Formula(text.substr(6), row, column);
    try {
        return TextParser(text, row, column, Dialect::OpenFormula).Parse();
    } catch (const ParseFailure&) {
        return std::nullopt;
    }
}

} // namespace vellumcast::spreadsheet::formula
