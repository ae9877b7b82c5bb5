#pragma once
// The functions the engine computes, and the binary formats' numbers of every function
// their formulas may name. A function the engine lacks parses, but a formula that calls
// it is not computed.

#include "spreadsheet/formula/Evaluator.h"

#include <cstdint>
#include <span>
#include <string_view>

namespace vellumcast::spreadsheet::formula {

using FunctionBody = Value (*)(Call&);

// How a function takes its arguments.
enum class Takes : uint8_t {
    Values, // each argument one value: given an array, the function is computed item by item
    Any, // references and arrays as they are (aggregates, lookups); the body reads them
    Lazily, // only the arguments the body asks for are evaluated (IF, CHOOSE, IFERROR, …)
    Arrays, // as Any, and operands within the arguments read references as arrays (SUMPRODUCT)
};

struct FunctionEntry {
    std::string_view name; // upper case, without a "_xlfn." prefix
    int16_t biffId; // its number in the binary formats' function table, or -1
    uint8_t minArgs;
    uint8_t maxArgs; // kAnyCount: as many as given
    FunctionBody body; // nullptr: known by name and number, not computed
    Takes takes = Takes::Values;
    bool volatileResult = false; // TODAY, NOW: the run's clock
};

inline constexpr uint8_t kAnyCount = 255;
inline constexpr uint16_t kUnknownFunction = 0xFFFF;

// Every function, computed or only known; the index of one is its number in Node::function.
std::span<const FunctionEntry> FunctionTable();
// The function of this name (any case, with or without "_xlfn."/"_xlws." prefixes), or
// kUnknownFunction. Office Open XML writes the functions newer than its first version with
// the "_xlfn." prefix, and the application reads such a name without it as no function it
// knows: with prefixRequired, one of them named without it is kUnknownFunction.
uint16_t FindFunction(std::string_view name, bool prefixRequired = false);
// The function of a binary function-table number, or kUnknownFunction.
uint16_t FindBiffFunction(uint16_t id);

// The groups of computed functions, each in its own file.
void AddMathFunctions(std::vector<FunctionEntry>& table);
void AddLogicalFunctions(std::vector<FunctionEntry>& table);
void AddTextFunctions(std::vector<FunctionEntry>& table);
void AddDateFunctions(std::vector<FunctionEntry>& table);
void AddLookupFunctions(std::vector<FunctionEntry>& table);
void AddStatisticalFunctions(std::vector<FunctionEntry>& table);

} // namespace vellumcast::spreadsheet::formula
