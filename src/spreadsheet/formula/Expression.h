#pragma once
// The one form every formula grammar is parsed into: a tree of constants, references,
// names, operators and function calls. References are kept as the R1C1 notation keeps
// them, relative parts as offsets from the formula's cell, so that one parsed formula
// serves every cell of a shared formula and a defined name serves any cell that uses it.

#include "spreadsheet/formula/Value.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vellumcast::spreadsheet::formula {

enum class NodeKind : uint8_t {
    Number,
    Text,
    Boolean,
    Error,
    Missing, // an argument left out: SUM(1,,2)
    Array, // a constant array: {1,2;3,4}
    Reference,
    Name, // a defined name
    Function,
    Unary,
    Binary,
    Unsupported, // a construct the engine does not compute (structured or external references, …)
};

enum class Operator : uint8_t {
    Add,
    Subtract,
    Multiply,
    Divide,
    Power,
    Concat,
    Equal,
    NotEqual,
    Less,
    LessEqual,
    Greater,
    GreaterEqual,
    Range, // A1:B2, or a range between two references
    Union, // (A1,B2)
    Intersect, // A1:C3 B2:D4
    Negate,
    Plus,
    Percent,
};

// One end of a reference: a relative part is an offset from the formula's cell.
struct RefPart {
    int32_t row = 0;
    int32_t column = 0;
    bool rowRelative = false;
    bool columnRelative = false;
};

inline constexpr int32_t kOwnSheet = -1;

struct RefNode {
    RefPart first;
    RefPart last; // the same as first for a single cell
    int32_t sheet = kOwnSheet; // an index into Expression::sheets, or kOwnSheet
    int32_t lastSheet = kOwnSheet; // of a 3-D reference (Sheet1:Sheet3!A1); else the same as sheet
    bool area = false;
    bool deleted = false; // #REF!: a reference to cells that no longer exist
};

struct Node {
    NodeKind kind = NodeKind::Missing;
    Operator op = Operator::Add;
    CellError error = CellError::Null;
    bool boolean = false;
    uint16_t function = 0; // an index into the function table (Functions.h)
    uint32_t firstChild = 0; // of the children, in Expression::children
    uint32_t childCount = 0;
    uint32_t index = 0; // a Text or Name node's string, an Array node's array
    double number = 0;
    RefNode ref;
};

struct Expression {
    std::vector<Node> nodes;
    std::vector<uint32_t> children;
    std::vector<std::string> strings;
    std::vector<std::shared_ptr<const ArrayValue>> arrays;
    std::vector<std::string> sheets; // the sheet names references give
    uint32_t root = 0;
    bool arrayFormula = false; // to be evaluated as an array formula (its anchor's)

    const Node& NodeAt(uint32_t index) const { return nodes[index]; }
    uint32_t Child(const Node& node, uint32_t k) const { return children[node.firstChild + k]; }

    uint32_t Add(const Node& node)
    {
        nodes.push_back(node);
        return static_cast<uint32_t>(nodes.size() - 1);
    }
    // A node with these children, given in order.
    uint32_t AddWithChildren(Node node, const uint32_t* first, size_t count)
    {
        node.firstChild = static_cast<uint32_t>(children.size());
        node.childCount = static_cast<uint32_t>(count);
        children.insert(children.end(), first, first + count);
        return Add(node);
    }
    uint32_t AddString(std::string text)
    {
        strings.push_back(std::move(text));
        return static_cast<uint32_t>(strings.size() - 1);
    }
    int32_t AddSheet(std::string name)
    {
        for (size_t i = 0; i < sheets.size(); ++i) {
            if (sheets[i] == name)
                return static_cast<int32_t>(i);
        }
        sheets.push_back(std::move(name));
        return static_cast<int32_t>(sheets.size() - 1);
    }
};

// How far parsing goes: a formula nested deeper than this, or with more tokens, is not
// read. The application itself allows 64 nested functions and 8,192 characters.
inline constexpr int kMaxNesting = 128;
inline constexpr size_t kMaxNodes = 65536;

} // namespace vellumcast::spreadsheet::formula
