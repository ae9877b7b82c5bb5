// The four formula grammars into the one expression form: each parsed at cell C3 and written
// back in a plain notation (references in R1C1, relative parts as offsets), so that the same
// formula written in each grammar reads alike.

#include "spreadsheet/formula/Functions.h"
#include "spreadsheet/formula/Parsers.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace vellumcast::spreadsheet;
using namespace vellumcast::spreadsheet::formula;

namespace {

std::string Part(const RefPart& part)
{
    const auto one = [](char letter, int32_t value, bool relative) {
        if (!relative)
            return letter + std::to_string(value);
        return std::string(1, letter) + "[" + std::to_string(value) + "]";
    };
    return one('R', part.row, part.rowRelative) + one('C', part.column, part.columnRelative);
}

std::string Write(const Expression& e, uint32_t index)
{
    const Node& node = e.NodeAt(index);
    const auto child = [&](uint32_t k) { return Write(e, e.Child(node, k)); };
    switch (node.kind) {
    case NodeKind::Number: {
        std::string text = std::to_string(node.number);
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.')
            text.pop_back();
        return text;
    }
    case NodeKind::Text:
        return "\"" + e.strings[node.index] + "\"";
    case NodeKind::Boolean:
        return node.boolean ? "TRUE" : "FALSE";
    case NodeKind::Error:
        return std::string(CellErrorText(node.error));
    case NodeKind::Missing:
        return "_";
    case NodeKind::Array: {
        const ArrayValue& array = *e.arrays[node.index];
        std::string text = "{";
        for (int32_t r = 0; r < array.rows; ++r) {
            for (int32_t c = 0; c < array.columns; ++c) {
                const Value& item = array.At(r, c);
                text += c > 0 ? "," : (r > 0 ? ";" : "");
                text += item.IsNumber() ? std::to_string(static_cast<int>(item.NumberValue()))
                    : item.IsText()     ? "\"" + item.TextValue() + "\""
                    : item.IsBoolean()  ? (item.BooleanValue() ? "TRUE" : "FALSE")
                                        : "?";
            }
        }
        return text + "}";
    }
    case NodeKind::Reference: {
        const RefNode& ref = node.ref;
        if (ref.deleted)
            return "#REF!";
        std::string text;
        if (ref.sheet != kOwnSheet) {
            text = "'" + e.sheets[static_cast<size_t>(ref.sheet)] + "'";
            if (ref.lastSheet != ref.sheet)
                text += ":'" + e.sheets[static_cast<size_t>(ref.lastSheet)] + "'";
            text += "!";
        }
        text += Part(ref.first);
        if (ref.area)
            text += ":" + Part(ref.last);
        return text;
    }
    case NodeKind::Name:
        return "name:" + (node.ref.sheet != kOwnSheet ? e.sheets[static_cast<size_t>(node.ref.sheet)] + "!" : "")
            + e.strings[node.index];
    case NodeKind::Function: {
        std::string text = node.function == kUnknownFunction ? "?" + e.strings[node.index]
                                                             : std::string(FunctionTable()[node.function].name);
        text += "(";
        for (uint32_t k = 0; k < node.childCount; ++k)
            text += (k > 0 ? "," : "") + child(k);
        return text + ")";
    }
    case NodeKind::Unary:
        if (node.op == Operator::Percent)
            return "(" + child(0) + ")%";
        return std::string(node.op == Operator::Negate ? "-" : "+") + "(" + child(0) + ")";
    case NodeKind::Binary: {
        static const char* const kSymbols[]
            = { "+", "-", "*", "/", "^", "&", "=", "<>", "<", "<=", ">", ">=", ":", ",", " " };
        return "(" + child(0) + kSymbols[static_cast<int>(node.op)] + child(1) + ")";
    }
    case NodeKind::Unsupported:
        return "<unsupported>";
    }
    return "?";
}

std::string Written(const std::optional<Expression>& parsed)
{
    return parsed ? Write(*parsed, parsed->root) : "unreadable";
}

struct Case {
    const char* formula;
    const char* written;
};

// Token bytes built in order: little-endian integers, doubles and raw bytes.
class Tokens {
public:
    Tokens& U8(uint8_t value)
    {
        m_bytes.push_back(static_cast<char>(value));
        return *this;
    }
    Tokens& U16(uint16_t value) { return U8(value & 0xFF).U8(static_cast<uint8_t>(value >> 8)); }
    Tokens& U32(uint32_t value) { return U16(value & 0xFFFF).U16(static_cast<uint16_t>(value >> 16)); }
    Tokens& F64(double value)
    {
        uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        return U32(static_cast<uint32_t>(bits)).U32(static_cast<uint32_t>(bits >> 32));
    }
    const std::string& Bytes() const { return m_bytes; }

private:
    std::string m_bytes;
};

// A legacy formula's body: cce, the tokens, then their extra data.
std::string Biff(const Tokens& tokens, const Tokens& extra = Tokens())
{
    Tokens body;
    body.U16(static_cast<uint16_t>(tokens.Bytes().size()));
    return body.Bytes() + tokens.Bytes() + extra.Bytes();
}

std::string Xlsb(const Tokens& tokens, const Tokens& extra = Tokens())
{
    Tokens head;
    head.U32(static_cast<uint32_t>(tokens.Bytes().size()));
    Tokens tail;
    tail.U32(static_cast<uint32_t>(extra.Bytes().size()));
    return head.Bytes() + tokens.Bytes() + tail.Bytes() + extra.Bytes();
}

std::string ParsedBiff(const std::string& body, const TokenContext& context = {})
{
    return Written(ParseFormula(FormulaGrammar::Biff8, body, 3, 3, context));
}

std::string ParsedXlsb(const std::string& body, const TokenContext& context = {})
{
    return Written(ParseFormula(FormulaGrammar::Xlsb, body, 3, 3, context));
}

} // namespace

TEST(FormulaParsers, OfficeOpenXmlText)
{
    const Case cases[] = {
        { "1+2*3", "(1+(2*3))" },
        { "=-2^2", "(-(2)^2)" },
        { "2^3^2", "((2^3)^2)" },
        { "5%*2", "((5)%*2)" },
        { "1&2=3", "((1&2)=3)" },
        { " A1 + B1 ", "(R[-2]C[-2]+R[-2]C[-1])" },
        { "$A$1", "R1C1" },
        { "A$1+$A1", "(R1C[-2]+R[-2]C1)" },
        { "A1:B2", "R[-2]C[-2]:R[-1]C[-1]" },
        { "A:A", "R1C[-2]:R1048576C[-2]" },
        { "$1:$2", "R1C1:R2C16384" },
        { "Sheet2!A1", "'Sheet2'!R[-2]C[-2]" },
        { "'My sheet'!$B$2", "'My sheet'!R2C2" },
        { "'It''s'!C3", "'It's'!R[0]C[0]" },
        { "Jan:Mar!B5", "'Jan':'Mar'!R[2]C[-1]" },
        { "SUM(A1,,2)", "SUM(R[-2]C[-2],_,2)" },
        { "sum(1)", "SUM(1)" },
        { "_xlfn.IFS(TRUE,1)", "IFS(TRUE,1)" },
        { "IFS(TRUE,1)", "?IFS(TRUE,1)" }, // the application knows the later functions only by prefix
        { "MYUDF(1)", "?MYUDF(1)" },
        { "\"a\"\"b\"&\"c\"", "(\"a\"b\"&\"c\")" },
        { "{1,2;\"x\",TRUE}", "{1,2;\"x\",TRUE}" },
        { "{-1}", "{-1}" },
        { "#N/A", "#N/A" },
        { "Sheet1!#REF!", "#REF!" },
        { "SUM((A1,B1))", "SUM((R[-2]C[-2],R[-2]C[-1]))" },
        { "A1:B2 B1:C3", "(R[-2]C[-2]:R[-1]C[-1] R[-2]C[-1]:R[0]C[0])" },
        { "INDEX(A:A,1):B3", "(INDEX(R1C[-2]:R1048576C[-2],1):R[0]C[-1])" },
        { "Rate*2", "(name:Rate*2)" },
        { "Sheet1!Local", "name:Sheet1!Local" },
        { "TRUE", "TRUE" },
        { "true()", "TRUE()" },
        { "LOG10(100)", "LOG10(100)" },
        { "$XFD$1048576", "R1048576C16384" },
        { "XFE1", "name:XFE1" }, // past the last column: a name
        { "1E3+.5", "(1000+0.5)" },
        { "Table1[Qty]", "<unsupported>" },
        { "[1]Sheet1!A1", "<unsupported>" },
        { "", "unreadable" },
        { "SUM(", "unreadable" },
        { "SUM(1,2", "unreadable" },
        { "1+", "unreadable" },
        { "A1:", "unreadable" },
        { "\"abc", "unreadable" },
        { "{1,2;3}", "unreadable" },
        { "1)", "unreadable" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(Written(ParseA1Formula(c.formula, 3, 3)), c.written) << c.formula;
    // Nesting past what the application allows is not read, rather than taking the stack.
    const std::string deep = std::string(300, '(') + "1" + std::string(300, ')');
    EXPECT_EQ(Written(ParseA1Formula(deep, 1, 1)), "unreadable");
}

TEST(FormulaParsers, OpenFormulaReadsAsTheSame)
{
    const Case cases[] = {
        { "of:=SUM([.A1:.B2])", "SUM(R[-2]C[-2]:R[-1]C[-1])" },
        { "of:=[$Sheet2.A1]*2", "('Sheet2'!R[-2]C[-2]*2)" },
        { "of:=['My sheet'.$B$2]", "'My sheet'!R2C2" },
        { "of:=[$Data.B2:.C3]", "'Data'!R[-1]C[-1]:R[0]C[0]" },
        { "of:=IF([.A1]>0;\"y\";\"n\")", "IF((R[-2]C[-2]>0),\"y\",\"n\")" },
        { "of:=SUM([.A:.A])", "SUM(R1C[-2]:R1048576C[-2])" },
        { "of:={1;2|3;4}", "{1,2;3,4}" },
        { "of:=[.A1:.B2]![.B1:.C3]", "(R[-2]C[-2]:R[-1]C[-1] R[-2]C[-1]:R[0]C[0])" },
        { "of:=SUM([.A1]~[.B1])", "SUM((R[-2]C[-2],R[-2]C[-1]))" },
        { "of:=COM.MICROSOFT.IFS(TRUE();1)", "IFS(TRUE(),1)" },
        { "of:=IFNA(1;2)", "IFNA(1,2)" },
        { "of:=ORG.OPENOFFICE.WEEKS(1;2;3)", "?ORG.OPENOFFICE.WEEKS(1,2,3)" },
        { "of:=[#REF!]+1", "(#REF!+1)" },
        { "of:=Rate*2", "(name:Rate*2)" },
        { "oooc:=SUM([.A1])", "SUM(R[-2]C[-2])" },
        { "msoxl:=SUM(A1:B2)", "SUM(R[-2]C[-2]:R[-1]C[-1])" },
        { "of:=SUM([.A1]", "unreadable" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(Written(ParseOpenFormula(c.formula, 3, 3)), c.written) << c.formula;
}

TEST(FormulaParsers, LegacyBinaryTokens)
{
    WorkbookFormulas workbook;
    workbook.tabs = { "Data", "Chart", "Sums" };
    workbook.names.push_back({ "Rate", -1, FormulaGrammar::Biff8, {} });
    workbook.externBooks.push_back({ true, false, {} });
    workbook.externBooks.push_back({ false, true, { "_xlfn.IFS" } });
    workbook.externSheets.push_back({ 0, 2, 2 }); // ixti 0: Sums
    workbook.externSheets.push_back({ 1, -1, -1 }); // ixti 1: the add-in functions
    TokenContext context;
    context.workbook = &workbook;

    // A1+1: a reference with both parts relative, stored as the cell it points at.
    EXPECT_EQ(ParsedBiff(Biff(Tokens().U8(0x24).U16(0).U16(0xC000).U8(0x1E).U16(1).U8(0x03))), "(R[-2]C[-2]+1)");
    // SUM(A1:$B$2) written as an area and the attribute that sums it.
    EXPECT_EQ(ParsedBiff(Biff(Tokens().U8(0x25).U16(0).U16(1).U16(0xC000).U16(1).U8(0x19).U8(0x10).U16(0))),
        "SUM(R[-2]C[-2]:R2C2)");
    // IF(TRUE,"a","b") with the jumps the application writes around its branches.
    EXPECT_EQ(ParsedBiff(Biff(Tokens()
                                  .U8(0x1D)
                                  .U8(1)
                                  .U8(0x19)
                                  .U8(0x02)
                                  .U16(7)
                                  .U8(0x17)
                                  .U8(1)
                                  .U8(0)
                                  .U8('a')
                                  .U8(0x19)
                                  .U8(0x08)
                                  .U16(6)
                                  .U8(0x17)
                                  .U8(1)
                                  .U8(1)
                                  .U16('b')
                                  .U8(0x19)
                                  .U8(0x08)
                                  .U16(3)
                                  .U8(0x42)
                                  .U8(3)
                                  .U16(1))),
        "IF(TRUE,\"a\",\"b\")");
    // ROUND(2.675,2): a function of fixed arguments names no count.
    EXPECT_EQ(ParsedBiff(Biff(Tokens().U8(0x1F).F64(2.675).U8(0x1E).U16(2).U8(0x41).U16(27))), "ROUND(2.675,2)");
    // Sums!$A$1*Rate: a 3-D reference through the sheet table, and a defined name.
    EXPECT_EQ(ParsedBiff(Biff(Tokens().U8(0x3A).U16(0).U16(0).U16(0).U8(0x23).U32(1).U8(0x05)), context),
        "('Sums'!R1C1*name:Rate)");
    // _xlfn.IFS(TRUE,1): a later function, its name given before its arguments.
    EXPECT_EQ(
        ParsedBiff(Biff(Tokens().U8(0x39).U16(1).U16(1).U16(0).U8(0x1D).U8(1).U8(0x1E).U16(1).U8(0x42).U8(3).U16(0xFF)),
            context),
        "IFS(TRUE,1)");
    // {1,"x"}: the array's items follow the tokens.
    EXPECT_EQ(ParsedBiff(Biff(Tokens().U8(0x60).U8(0).U16(0).U32(0),
                  Tokens().U8(1).U16(0).U8(0x01).F64(1).U8(0x02).U16(1).U8(0).U8('x'))),
        "{1,\"x\"}");
    // A member of a shared formula: its tokens are the anchor's, offsets from the cell.
    const std::string shared = Biff(Tokens().U8(0x2C).U16(0xFFFF).U16(0xC0FF)); // one row up, one column left
    context.sharedAt = [&](int32_t row, int32_t column) -> std::optional<SharedTokens> {
        if (row != 1 || column != 2)
            return std::nullopt;
        return SharedTokens { std::span(reinterpret_cast<const uint8_t*>(shared.data()), shared.size()), false };
    };
    EXPECT_EQ(ParsedBiff(Biff(Tokens().U8(0x01).U16(0).U16(1)), context), "R[-1]C[-1]");
    EXPECT_EQ(ParsedBiff(Biff(Tokens().U8(0x01).U16(5).U16(5)), context), "unreadable");
    // Damaged: a function the table has no count for, tokens cut short, operands missing.
    EXPECT_EQ(ParsedBiff(Biff(Tokens().U8(0x1E).U16(1).U8(0x21).U16(0x7FF))), "unreadable");
    EXPECT_EQ(ParsedBiff(Biff(Tokens().U8(0x1F).U16(1))), "unreadable");
    EXPECT_EQ(ParsedBiff(Biff(Tokens().U8(0x03))), "unreadable");
    EXPECT_EQ(ParsedBiff(std::string("\x05", 1)), "unreadable");
}

TEST(FormulaParsers, BinaryWorkbookTokens)
{
    // A1&"é": rows of four bytes, strings in UTF-16 without a flag.
    EXPECT_EQ(ParsedXlsb(Xlsb(Tokens().U8(0x24).U32(0).U16(0xC000).U8(0x17).U16(1).U16(0xE9).U8(0x08))),
        "(R[-2]C[-2]&\"\xC3\xA9\")");
    // SUM($A$1:B1048576).
    EXPECT_EQ(ParsedXlsb(Xlsb(Tokens().U8(0x25).U32(0).U32(1048575).U16(0).U16(0xC001).U8(0x22).U8(1).U16(4))),
        "SUM(R1C1:R[1048573]C[-1])");
    // A shared formula's reference: a row offset of four bytes, a column of fourteen bits.
    EXPECT_EQ(ParsedXlsb(Xlsb(Tokens().U8(0x2C).U32(0xFFFFFFFE).U16(0xC000 | 0x3FFF))), "R[-2]C[-1]");
    EXPECT_EQ(ParsedXlsb(Xlsb(Tokens().U8(0x24).U32(0))), "unreadable");
}
