// The binary formats' parsed-expression tokens: the legacy format's Ptgs ([MS-XLS]
// 2.5.198) and the binary workbook's ([MS-XLSB] 2.5.98), one reverse Polish sequence of
// operands, operators and calls, with the extra data of arrays and areas after it. They
// differ in the sizes of rows, columns and strings; the walk through them is one.

#include "spreadsheet/formula/Functions.h"
#include "spreadsheet/formula/Parsers.h"
#include "spreadsheet/text/TextEncoding.h"

#include <cstring>

namespace vellumcast::spreadsheet::formula {

namespace {

struct ParseFailure { };

[[noreturn]] void Unreadable()
{
    throw ParseFailure {};
}

// A little-endian reader over bytes whose every read is checked.
class Bytes {
public:
    explicit Bytes(std::span<const uint8_t> data)
        : m_data(data)
    {
    }
    size_t Remaining() const { return m_data.size() - m_at; }
    size_t At() const { return m_at; }
    void Need(size_t count) const
    {
        if (Remaining() < count)
            Unreadable();
    }
    uint8_t U8()
    {
        Need(1);
        return m_data[m_at++];
    }
    uint16_t U16()
    {
        Need(2);
        const auto value = static_cast<uint16_t>(m_data[m_at] | (m_data[m_at + 1] << 8));
        m_at += 2;
        return value;
    }
    uint32_t U32()
    {
        Need(4);
        uint32_t value = 0;
        for (int i = 3; i >= 0; --i)
            value = (value << 8) | m_data[m_at + static_cast<size_t>(i)];
        m_at += 4;
        return value;
    }
    double F64()
    {
        Need(8);
        uint64_t bits = 0;
        for (int i = 7; i >= 0; --i)
            bits = (bits << 8) | m_data[m_at + static_cast<size_t>(i)];
        m_at += 8;
        double value = 0;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    void Skip(size_t count)
    {
        Need(count);
        m_at += count;
    }
    std::span<const uint8_t> Take(size_t count)
    {
        Need(count);
        const auto part = m_data.subspan(m_at, count);
        m_at += count;
        return part;
    }

private:
    std::span<const uint8_t> m_data;
    size_t m_at = 0;
};

// UTF-16 units (or Latin-1 bytes when compressed) as UTF-8.
std::string ReadChars(Bytes& bytes, size_t count, bool wide)
{
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        uint32_t c = wide ? bytes.U16() : bytes.U8();
        if (wide && c >= 0xD800 && c < 0xDC00 && i + 1 < count) {
            const uint32_t low = bytes.U16();
            ++i;
            if (low >= 0xDC00 && low < 0xE000)
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            else
                text::AppendUtf8(0xFFFD, out), c = low;
        }
        text::AppendUtf8(c, out);
    }
    return out;
}

// A formula holding an error code no error has is unreadable, not shown as another error.
CellError ErrorOfCode(uint8_t code)
{
    const std::optional<CellError> error = CellErrorOfCode(code);
    if (!error)
        Unreadable();
    return *error;
}

class TokenParser {
public:
    TokenParser(std::span<const uint8_t> body, int32_t row, int32_t column, const TokenContext& context, bool xlsb)
        : m_row(row)
        , m_column(column)
        , m_context(context)
        , m_xlsb(xlsb)
    {
        Bytes whole(body);
        const size_t cce = xlsb ? whole.U32() : whole.U16();
        m_tokens = whole.Take(cce);
        if (xlsb && whole.Remaining() >= 4) {
            const size_t cb = whole.U32();
            m_extra = whole.Take(std::min(cb, whole.Remaining()));
        } else if (!xlsb) {
            m_extra = whole.Take(whole.Remaining());
        }
    }

    Expression Parse()
    {
        Bytes tokens(m_tokens);
        Bytes extra(m_extra);
        if (tokens.Remaining() == 0)
            Unreadable();
        // A member of a shared or array formula points at the formula's anchor.
        if (m_tokens[0] == 0x01) {
            tokens.U8();
            const int32_t row = static_cast<int32_t>(m_xlsb ? tokens.U32() : tokens.U16()) + 1;
            const int32_t column = static_cast<int32_t>(m_xlsb ? extra.U32() : tokens.U16()) + 1;
            if (!m_context.sharedAt || m_depth > 0)
                Unreadable();
            const auto shared = m_context.sharedAt(row, column);
            if (!shared || (shared->array && (row != m_row || column != m_column)))
                Unreadable(); // a member of an array formula other than its anchor
            TokenParser inner(shared->body, m_row, m_column, m_context, m_xlsb);
            inner.m_shared = !shared->array;
            inner.m_depth = m_depth + 1;
            Expression expression = inner.Parse();
            expression.arrayFormula = shared->array;
            return expression;
        }
        while (tokens.Remaining() > 0)
            Token(tokens, extra);
        if (m_stack.size() != 1)
            Unreadable();
        m_expression.root = m_stack.back();
        return std::move(m_expression);
    }

private:
    uint32_t Push(Node node)
    {
        if (m_expression.nodes.size() >= kMaxNodes)
            Unreadable();
        m_stack.push_back(m_expression.Add(node));
        return m_stack.back();
    }
    uint32_t Pop()
    {
        if (m_stack.empty())
            Unreadable();
        const uint32_t top = m_stack.back();
        m_stack.pop_back();
        return top;
    }
    void Operator(formula::Operator op, int operands)
    {
        Node node;
        node.kind = operands == 2 ? NodeKind::Binary : NodeKind::Unary;
        node.op = op;
        uint32_t children[2] = {};
        for (int i = operands - 1; i >= 0; --i)
            children[i] = Pop();
        m_stack.push_back(m_expression.AddWithChildren(node, children, static_cast<size_t>(operands)));
    }
    void Unsupported()
    {
        Node node;
        node.kind = NodeKind::Unsupported;
        Push(node);
    }
    void Call(uint16_t function, std::string_view name, size_t count)
    {
        if (count > m_stack.size())
            Unreadable();
        std::vector<uint32_t> arguments(m_stack.end() - static_cast<ptrdiff_t>(count), m_stack.end());
        m_stack.resize(m_stack.size() - count);
        Node node;
        node.kind = NodeKind::Function;
        node.function = function;
        if (function == kUnknownFunction)
            node.index = m_expression.AddString(std::string(name));
        m_stack.push_back(m_expression.AddWithChildren(node, arguments.data(), arguments.size()));
    }

    // A cell's row and column, with the flags of relative parts in the column's top bits.
    // In a shared formula (or a PtgRefN) relative parts are offsets already; elsewhere
    // they are made offsets from the formula's cell.
    void ReadPart(Bytes& bytes, RefPart& part, bool offsets)
    {
        const uint32_t row = m_xlsb ? bytes.U32() : bytes.U16();
        const uint16_t column = bytes.U16();
        SetPart(part, row, column, offsets);
    }
    void SetPart(RefPart& part, uint32_t row, uint16_t column, bool offsets) const
    {
        part.columnRelative = (column & 0x4000) != 0;
        part.rowRelative = (column & 0x8000) != 0;
        const int32_t col = column & 0x3FFF;
        if (offsets) {
            // Offsets wrap around the grid of the format, as the application reads them.
            const int32_t rows = m_xlsb ? kMaxRows : 65536, columns = m_xlsb ? kMaxColumns : 256;
            const int32_t rowOffset = m_xlsb ? static_cast<int32_t>(row) : static_cast<int16_t>(row);
            const int32_t columnOffset = m_xlsb ? (col >= 0x2000 ? col - 0x4000 : col) : static_cast<int8_t>(col);
            part.row
                = part.rowRelative ? Wrapped(m_row - 1 + rowOffset, rows) + 1 - m_row : static_cast<int32_t>(row) + 1;
            part.column = part.columnRelative ? Wrapped(m_column - 1 + columnOffset, columns) + 1 - m_column : col + 1;
            return;
        }
        part.row = part.rowRelative ? static_cast<int32_t>(row) + 1 - m_row : static_cast<int32_t>(row) + 1;
        part.column = part.columnRelative ? col + 1 - m_column : col + 1;
    }
    static int32_t Wrapped(int32_t value, int32_t size) { return ((value % size) + size) % size; }

    void PushReference(RefNode ref)
    {
        Node node;
        node.kind = NodeKind::Reference;
        node.ref = ref;
        Push(node);
    }

    // The sheets a 3-D reference names, by ixti; false for another workbook's.
    bool SheetsOf(uint16_t ixti, RefNode& ref)
    {
        const WorkbookFormulas* workbook = m_context.workbook;
        if (!workbook || ixti >= workbook->externSheets.size())
            return false;
        const ExternSheet& sheets = workbook->externSheets[ixti];
        const bool self = sheets.book >= 0 && static_cast<size_t>(sheets.book) < workbook->externBooks.size()
            && workbook->externBooks[static_cast<size_t>(sheets.book)].self;
        if (!self || sheets.first < 0 || static_cast<size_t>(sheets.first) >= workbook->tabs.size()
            || static_cast<size_t>(sheets.last) >= workbook->tabs.size() || sheets.last < 0)
            return false;
        ref.sheet = m_expression.AddSheet(workbook->tabs[static_cast<size_t>(sheets.first)]);
        ref.lastSheet = m_expression.AddSheet(workbook->tabs[static_cast<size_t>(sheets.last)]);
        return true;
    }

    std::string NameAt(uint32_t index) const
    {
        const WorkbookFormulas* workbook = m_context.workbook;
        if (!workbook || index == 0 || index > workbook->names.size())
            Unreadable();
        return workbook->names[index - 1].name;
    }

    void PushName(std::string name)
    {
        Node node;
        node.kind = NodeKind::Name;
        node.index = m_expression.AddString(std::move(name));
        Push(node);
    }

    void ReadArrayConstant(Bytes& extra)
    {
        auto array = std::make_shared<ArrayValue>();
        size_t columns = 0, rows = 0;
        if (m_xlsb) {
            rows = extra.U32();
            columns = extra.U32();
        } else {
            columns = size_t { extra.U8() } + 1;
            rows = size_t { extra.U16() } + 1;
        }
        if (rows * columns > kMaxNodes || rows == 0 || columns == 0)
            Unreadable();
        array->rows = static_cast<int32_t>(rows);
        array->columns = static_cast<int32_t>(columns);
        for (size_t i = 0; i < rows * columns; ++i) {
            const uint8_t type = extra.U8();
            switch (type) {
            case 0x00: // nothing
                extra.Skip(8);
                array->items.emplace_back();
                break;
            case 0x01:
                array->items.push_back(Value::Number(extra.F64()));
                break;
            case 0x02: {
                const size_t count = extra.U16();
                const bool wide = m_xlsb || (extra.U8() & 0x01) != 0;
                array->items.push_back(Value::Text(ReadChars(extra, count, wide)));
                break;
            }
            case 0x04:
                array->items.push_back(Value::Boolean(extra.U8() != 0));
                extra.Skip(7);
                break;
            case 0x10:
                array->items.push_back(Value::Error(ErrorOfCode(extra.U8())));
                extra.Skip(7);
                break;
            default:
                Unreadable();
            }
        }
        Node node;
        node.kind = NodeKind::Array;
        node.index = static_cast<uint32_t>(m_expression.arrays.size());
        m_expression.arrays.push_back(std::move(array));
        Push(node);
    }

    void Attribute(Bytes& tokens)
    {
        const uint8_t flags = tokens.U8();
        if (flags & 0x04) { // tAttrChoose: a jump table of count + 1 offsets
            const uint16_t count = tokens.U16();
            tokens.Skip((size_t { count } + 1) * 2);
            return;
        }
        tokens.U16();
        if (flags & 0x10) { // tAttrSum: SUM of the one operand before it
            Call(FindBiffFunction(4), "SUM", 1);
        }
        // tAttrSemi (volatile), tAttrIf, tAttrGoto (jumps the tree has no use for),
        // tAttrSpace and tAttrBaxcel change no value.
    }

    void Token(Bytes& tokens, Bytes& extra)
    {
        const uint8_t ptg = tokens.U8();
        // Operand tokens carry their class (reference, value, array) in bits 5 and 6.
        const uint8_t base = ptg >= 0x20 && ptg < 0x80 ? static_cast<uint8_t>((ptg & 0x1F) | 0x20) : ptg;
        switch (base) {
        case 0x03:
            return Operator(Operator::Add, 2);
        case 0x04:
            return Operator(Operator::Subtract, 2);
        case 0x05:
            return Operator(Operator::Multiply, 2);
        case 0x06:
            return Operator(Operator::Divide, 2);
        case 0x07:
            return Operator(Operator::Power, 2);
        case 0x08:
            return Operator(Operator::Concat, 2);
        case 0x09:
            return Operator(Operator::Less, 2);
        case 0x0A:
            return Operator(Operator::LessEqual, 2);
        case 0x0B:
            return Operator(Operator::Equal, 2);
        case 0x0C:
            return Operator(Operator::GreaterEqual, 2);
        case 0x0D:
            return Operator(Operator::Greater, 2);
        case 0x0E:
            return Operator(Operator::NotEqual, 2);
        case 0x0F:
            return Operator(Operator::Intersect, 2);
        case 0x10:
            return Operator(Operator::Union, 2);
        case 0x11:
            return Operator(Operator::Range, 2);
        case 0x12:
            return Operator(Operator::Plus, 1);
        case 0x13:
            return Operator(Operator::Negate, 1);
        case 0x14:
            return Operator(Operator::Percent, 1);
        case 0x15: // parentheses: only how the formula was written
            return;
        case 0x16: {
            Node node;
            node.kind = NodeKind::Missing;
            Push(node);
            return;
        }
        case 0x17: {
            std::string text;
            if (m_xlsb) {
                const size_t count = tokens.U16();
                text = ReadChars(tokens, count, true);
            } else {
                const size_t count = tokens.U8();
                const bool wide = (tokens.U8() & 0x01) != 0;
                text = ReadChars(tokens, count, wide);
            }
            Node node;
            node.kind = NodeKind::Text;
            node.index = m_expression.AddString(std::move(text));
            Push(node);
            return;
        }
        case 0x18: // extended tokens (tables' structured references, …)
        case 0x02: // PtgTbl: a data table
        case 0x01: // PtgExp anywhere but first
            Unreadable();
        case 0x19:
            return Attribute(tokens);
        case 0x1C: {
            Node node;
            node.kind = NodeKind::Error;
            node.error = ErrorOfCode(tokens.U8());
            Push(node);
            return;
        }
        case 0x1D: {
            Node node;
            node.kind = NodeKind::Boolean;
            node.boolean = tokens.U8() != 0;
            Push(node);
            return;
        }
        case 0x1E: {
            Node node;
            node.kind = NodeKind::Number;
            node.number = tokens.U16();
            Push(node);
            return;
        }
        case 0x1F: {
            Node node;
            node.kind = NodeKind::Number;
            node.number = tokens.F64();
            Push(node);
            return;
        }
        case 0x20: // PtgArray
            tokens.Skip(m_xlsb ? 14 : 7);
            return ReadArrayConstant(extra);
        case 0x21: { // PtgFunc: a fixed number of arguments
            const uint16_t id = tokens.U16();
            const uint16_t function = FindBiffFunction(id);
            if (function == kUnknownFunction)
                Unreadable();
            const FunctionEntry& entry = FunctionTable()[function];
            if (entry.minArgs != entry.maxArgs)
                Unreadable();
            return Call(function, entry.name, entry.minArgs);
        }
        case 0x22: { // PtgFuncVar
            const size_t count = tokens.U8() & 0x7F;
            const uint16_t tab = tokens.U16();
            if (tab & 0x8000) // a command-equivalent of macro sheets
                Unreadable();
            if (tab == 0xFF) {
                // An add-in or newer function: its name is the first argument, a name.
                if (count == 0 || count > m_stack.size())
                    Unreadable();
                const Node& nameNode = m_expression.NodeAt(m_stack[m_stack.size() - count]);
                if (nameNode.kind != NodeKind::Name)
                    Unreadable();
                const std::string name = m_expression.strings[nameNode.index];
                std::vector<uint32_t> arguments(m_stack.end() - static_cast<ptrdiff_t>(count) + 1, m_stack.end());
                m_stack.resize(m_stack.size() - count);
                m_stack.insert(m_stack.end(), arguments.begin(), arguments.end());
                return Call(FindFunction(name), name, count - 1);
            }
            const uint16_t function = FindBiffFunction(tab);
            return Call(
                function, function == kUnknownFunction ? std::string_view("") : FunctionTable()[function].name, count);
        }
        case 0x23: { // PtgName
            // The legacy format writes the index in two bytes and two unused after.
            const uint32_t index = tokens.U32();
            return PushName(NameAt(m_xlsb ? index : (index & 0xFFFF)));
        }
        case 0x24:
        case 0x2C: { // PtgRef, PtgRefN
            RefNode ref;
            ReadPart(tokens, ref.first, base == 0x2C || m_shared);
            ref.last = ref.first;
            return PushReference(ref);
        }
        case 0x25:
        case 0x2D: { // PtgArea, PtgAreaN
            RefNode ref;
            ReadArea(tokens, ref, base == 0x2D || m_shared);
            return PushReference(ref);
        }
        case 0x26: // PtgMemArea: the subexpression after it gives the reference
            tokens.Skip(4);
            tokens.U16();
            SkipMemExtra(extra);
            return;
        case 0x27: // PtgMemErr, PtgMemNoMem: the same, without a cached area
        case 0x28:
            tokens.Skip(4);
            tokens.U16();
            return;
        case 0x29: // PtgMemFunc
            tokens.U16();
            return;
        case 0x2A: { // PtgRefErr
            tokens.Skip(m_xlsb ? 6 : 4);
            RefNode ref;
            ref.deleted = true;
            return PushReference(ref);
        }
        case 0x2B: { // PtgAreaErr
            tokens.Skip(m_xlsb ? 12 : 8);
            RefNode ref;
            ref.deleted = true;
            return PushReference(ref);
        }
        case 0x39: { // PtgNameX: a name of another workbook, or an add-in function's
            const uint16_t ixti = tokens.U16();
            const uint32_t index = m_xlsb ? tokens.U32() : tokens.U16();
            if (!m_xlsb)
                tokens.U16();
            return PushExternName(ixti, index);
        }
        case 0x3A: { // PtgRef3d
            const uint16_t ixti = tokens.U16();
            RefNode ref;
            ReadPart(tokens, ref.first, m_shared);
            ref.last = ref.first;
            if (!SheetsOf(ixti, ref))
                return Unsupported();
            return PushReference(ref);
        }
        case 0x3B: { // PtgArea3d
            const uint16_t ixti = tokens.U16();
            RefNode ref;
            ReadArea(tokens, ref, m_shared);
            if (!SheetsOf(ixti, ref))
                return Unsupported();
            return PushReference(ref);
        }
        case 0x3C: { // PtgRefErr3d
            tokens.Skip(2 + (m_xlsb ? 6 : 4));
            RefNode ref;
            ref.deleted = true;
            return PushReference(ref);
        }
        case 0x3D: { // PtgAreaErr3d
            tokens.Skip(2 + (m_xlsb ? 12 : 8));
            RefNode ref;
            ref.deleted = true;
            return PushReference(ref);
        }
        default:
            Unreadable();
        }
    }

    void ReadArea(Bytes& tokens, RefNode& ref, bool offsets)
    {
        const uint32_t firstRow = m_xlsb ? tokens.U32() : tokens.U16();
        const uint32_t lastRow = m_xlsb ? tokens.U32() : tokens.U16();
        const uint16_t firstColumn = tokens.U16();
        const uint16_t lastColumn = tokens.U16();
        SetPart(ref.first, firstRow, firstColumn, offsets);
        SetPart(ref.last, lastRow, lastColumn, offsets);
        ref.area = true;
        // A whole column or row in the legacy format's grid is one of the larger grid.
        if (!m_xlsb && !ref.first.rowRelative && !ref.last.rowRelative && firstRow == 0 && lastRow == 0xFFFF)
            ref.last.row = kMaxRows;
        if (!m_xlsb && !ref.first.columnRelative && !ref.last.columnRelative && (firstColumn & 0x3FFF) == 0
            && (lastColumn & 0x3FFF) == 0xFF)
            ref.last.column = kMaxColumns;
    }

    void SkipMemExtra(Bytes& extra)
    {
        const size_t count = m_xlsb ? extra.U32() : extra.U16();
        extra.Skip(count * (m_xlsb ? 16 : 8));
    }

    void PushExternName(uint16_t ixti, uint32_t index)
    {
        const WorkbookFormulas* workbook = m_context.workbook;
        if (!workbook || ixti >= workbook->externSheets.size())
            Unreadable();
        const ExternSheet& sheets = workbook->externSheets[ixti];
        if (sheets.book < 0 || static_cast<size_t>(sheets.book) >= workbook->externBooks.size())
            Unreadable();
        const ExternBook& book = workbook->externBooks[static_cast<size_t>(sheets.book)];
        if (index == 0 || index > book.names.size())
            Unreadable();
        // An add-in's function name, given before its call; a name of another workbook
        // is not computed.
        if (book.self || book.addIn)
            return PushName(book.names[index - 1]);
        Unsupported();
    }

    std::span<const uint8_t> m_tokens;
    std::span<const uint8_t> m_extra;
    int32_t m_row;
    int32_t m_column;
    const TokenContext& m_context;
    bool m_xlsb;
    bool m_shared = false; // a shared formula's tokens: relative parts are offsets
    int m_depth = 0;
    std::vector<uint32_t> m_stack;
    Expression m_expression;
};

} // namespace

std::optional<Expression> ParseBiffFormula(
    std::span<const uint8_t> body, int32_t row, int32_t column, const TokenContext& context)
{
    try {
        return TokenParser(body, row, column, context, false).Parse();
    } catch (const ParseFailure&) {
        return std::nullopt;
    }
}

std::optional<Expression> ParseXlsbFormula(
    std::span<const uint8_t> body, int32_t row, int32_t column, const TokenContext& context)
{
    try {
        return TokenParser(body, row, column, context, true).Parse();
    } catch (const ParseFailure&) {
        return std::nullopt;
    }
}

std::optional<Expression> ParseFormula(
    FormulaGrammar grammar, std::string_view body, int32_t row, int32_t column, const TokenContext& context)
{
    const std::span bytes(reinterpret_cast<const uint8_t*>(body.data()), body.size());
    switch (grammar) {
    case FormulaGrammar::A1Text:
        return ParseA1Formula(body, row, column);
    case FormulaGrammar::OpenFormula:
        return ParseOpenFormula(body, row, column);
    case FormulaGrammar::Biff8:
        return ParseBiffFormula(bytes, row, column, context);
    case FormulaGrammar::Xlsb:
        return ParseXlsbFormula(bytes, row, column, context);
    }
    return std::nullopt;
}

} // namespace vellumcast::spreadsheet::formula
