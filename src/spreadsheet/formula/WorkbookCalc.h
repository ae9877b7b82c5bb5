#pragma once
// Computes the formulas a workbook's file holds no value for, as the application computes
// them when it opens the file. Worksheets are loaded for it as formulas read them, each
// once; a formula is computed once per workbook, however often its worksheet is loaded.
// A formula that cannot be computed (a function the engine lacks, a cycle, a budget
// passed) keeps its cell blank and is counted: nothing is guessed.

#include "spreadsheet/SheetData.h"
#include "spreadsheet/formula/Evaluator.h"
#include "spreadsheet/formula/FormulaCells.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vellumcast::spreadsheet::formula {

// What the computation reads of the workbook, given by the engine (or a test).
class CalcHost {
public:
    virtual ~CalcHost() = default;
    // The worksheets, every one listed.
    virtual size_t SheetCount() = 0;
    virtual std::string_view SheetName(size_t index) = 0;
    // Loads a worksheet's cells and formulas for formulas to read, with the values of
    // cells recorded as displayed text kept beside them. Throws SpreadsheetError.
    virtual void LoadSheet(size_t index, SheetData& into) = 0;
    virtual std::string_view SharedString(uint32_t index) = 0;
    virtual const WorkbookFormulas& Formulas() = 0;
    virtual numfmt::DateSystem DateSystem() = 0;
    // The run's clock, as a serial of the date system.
    virtual double Now() = 0;
    // The size of the workbook's file: what bounds the work its formulas may cause.
    virtual uint64_t FileSize() = 0;
    // Called now and then while formulas are computed.
    virtual void Yield() { }
};

// How much work one workbook's formulas may take: steps (a node evaluated, a cell read),
// in proportion to its file, and time.
struct CalcBudget {
    uint64_t steps = 0;
    std::chrono::milliseconds time { 0 };
    uint64_t memory = 0; // bytes of the worksheets loaded for formulas, together

    static CalcBudget ForFile(uint64_t fileSize);
};

class WorkbookCalc final : public EvaluationContext {
public:
    explicit WorkbookCalc(CalcHost& host);
    WorkbookCalc(CalcHost& host, const CalcBudget& budget);
    ~WorkbookCalc() override;

    // The formulas of a worksheet that could not be computed: how many, the first of them
    // (in rows, then columns) and why.
    struct Outcome {
        size_t uncomputed = 0;
        int32_t firstRow = 0;
        int32_t firstColumn = 0;
        Uncomputable firstReason = Uncomputable::Unsupported;
    };
    // Computes the formulas without values of worksheet index, which loaded holds as loaded
    // (not read through), and puts their values into its cells in place of the blanks that
    // stood for them. loaded may serve as the worksheet's cells for other formulas.
    Outcome Compute(size_t index, const std::shared_ptr<SheetData>& loaded, bool loadedKeepsValues);

    // The value of one cell, computing its formula if it has one without a value: for tests.
    Value ValueAt(size_t sheet, int32_t row, int32_t column);
    // The value the engine computes for a captured formula, whether or not its cell has a
    // value (SheetBuilder::CaptureEveryFormula), blank when it cannot: for tests that check
    // the engine against the values the application saved.
    Value Recompute(size_t sheet, uint32_t formula);
    // The worksheet as loaded for formulas, or nullptr when it cannot be.
    const SheetData* LoadedSheet(size_t sheet);

    // EvaluationContext
    Value CellValue(int32_t sheet, int32_t row, int32_t column) override;
    void VisitCells(const Area& area, const std::function<void(int32_t, int32_t, const Value&)>& visit) override;
    CellRange UsedRange(int32_t sheet) override;
    int32_t SheetNamed(std::string_view name) override;
    const Expression* DefinedName(std::string_view name, int32_t sheet) override;
    bool NamesKnown() override;
    double Now() override;
    numfmt::DateSystem DateSystem() override;
    void Charge(uint64_t steps) override;
    const LookupIndex* IndexOf(const Area& line) override;

private:
    enum class State : uint8_t { Pending, Running, Waiting, Done, Failed };
    struct SheetState;
    struct Deferred {
        int32_t sheet;
        uint32_t formula;
    };

    SheetState& Sheet(int32_t index);
    SheetState& Loaded(int32_t index);
    Value ValueOfCell(int32_t sheet, const Cell& cell, const SheetData& data);
    Value Formula(int32_t sheet, uint32_t index);
    Value EvaluateNow(int32_t sheet, uint32_t index);
    // Computes a formula to the end, the ones it waits for first.
    void Settle(int32_t sheet, uint32_t index);
    const Expression& Parsed(int32_t sheet, uint32_t index);
    static Value AsCellValue(const Value& value);

    CalcHost& m_host;
    CalcBudget m_budget;
    std::vector<std::unique_ptr<SheetState>> m_sheets;
    std::unordered_map<std::string, int32_t> m_sheetByName;
    std::unordered_map<std::string, std::unique_ptr<Expression>> m_names;
    std::unordered_map<std::string, std::unique_ptr<LookupIndex>> m_indexes; // by line
    uint64_t m_steps = 0;
    uint64_t m_memory = 0;
    std::chrono::steady_clock::time_point m_start;
    bool m_started = false;
    int m_depth = 0; // formulas computed one within another
    bool m_nowRead = false;
    double m_now = 0;
};

// "Sheet1!B3", "'Q1 sales'!B3": a cell as the application writes it in a formula.
std::string CellName(std::string_view sheet, int32_t row, int32_t column);

} // namespace vellumcast::spreadsheet::formula
