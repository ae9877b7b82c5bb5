#include "spreadsheet/formula/WorkbookCalc.h"

#include "spreadsheet/formula/Numbers.h"
#include "spreadsheet/formula/Parsers.h"
#include "spreadsheet/xlsx/XlsxText.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace vellumcast::spreadsheet::formula {

namespace {

// Formulas computed one within another on the stack, before the one asked for is put off
// and the one it waits for computed first: chains of any length cost no stack.
constexpr int kNativeDepth = 48;
// How many steps pass between looks at the clock and yields.
constexpr uint64_t kCheckEvery = 1 << 16;

std::string UpperName(std::string_view name)
{
    return UpperText(name);
}

} // namespace

CalcBudget CalcBudget::ForFile(uint64_t fileSize)
{
    CalcBudget budget;
    // Reports of a million rows of formulas take tens of millions of steps; a crafted file
    // of a few kilobytes asking for whole columns in every cell stops at the floor.
    budget.steps = (uint64_t { 50 } << 20) + 64 * fileSize;
    budget.time = std::chrono::seconds(60);
    budget.memory = SheetMemoryLimit(fileSize) * 2;
    return budget;
}

struct WorkbookCalc::SheetState {
    std::shared_ptr<SheetData> data;
    bool tried = false;
    bool failed = false;
    std::vector<State> states;
    std::vector<Uncomputable> reasons;
    std::vector<Value> results;
    std::vector<std::unique_ptr<Expression>> parsed; // of the formulas, while they are computed
    std::unordered_map<uint32_t, std::unique_ptr<Expression>> shared; // by their index in Formulas().shared
};

WorkbookCalc::WorkbookCalc(CalcHost& host)
    : WorkbookCalc(host, CalcBudget::ForFile(host.FileSize()))
{
}

WorkbookCalc::WorkbookCalc(CalcHost& host, const CalcBudget& budget)
    : m_host(host)
    , m_budget(budget)
{
}

WorkbookCalc::~WorkbookCalc() = default;

WorkbookCalc::SheetState& WorkbookCalc::Sheet(int32_t index)
{
    if (index < 0 || static_cast<size_t>(index) >= m_host.SheetCount())
        Cannot(Uncomputable::Unsupported);
    if (m_sheets.size() <= static_cast<size_t>(index))
        m_sheets.resize(static_cast<size_t>(index) + 1);
    auto& state = m_sheets[static_cast<size_t>(index)];
    if (!state)
        state = std::make_unique<SheetState>();
    return *state;
}

WorkbookCalc::SheetState& WorkbookCalc::Loaded(int32_t index)
{
    SheetState& state = Sheet(index);
    if (!state.tried) {
        state.tried = true;
        auto data = std::make_shared<SheetData>();
        try {
            m_host.LoadSheet(static_cast<size_t>(index), *data);
            m_memory += data->StoredBytes() + data->Formulas().Bytes();
            if (m_memory > m_budget.memory)
                state.failed = true;
        } catch (const SpreadsheetError&) {
            state.failed = true;
        } catch (const std::bad_alloc&) {
            state.failed = true;
        }
        if (!state.failed) {
            state.data = std::move(data);
            const size_t count = state.data->Formulas().cells.size();
            state.states.assign(count, State::Pending);
            state.reasons.assign(count, Uncomputable::Unsupported);
            state.results.resize(count);
            state.parsed.resize(count);
        }
    }
    if (state.failed)
        Cannot(Uncomputable::Budget);
    return state;
}

void WorkbookCalc::Charge(uint64_t steps)
{
    if (!m_started) {
        m_started = true;
        m_start = std::chrono::steady_clock::now();
    }
    const uint64_t before = m_steps;
    m_steps += steps;
    if (m_steps > m_budget.steps)
        Cannot(Uncomputable::Budget);
    if (before / kCheckEvery != m_steps / kCheckEvery) {
        if (std::chrono::steady_clock::now() - m_start > m_budget.time) {
            m_steps = m_budget.steps + 1; // every later formula stops at once
            Cannot(Uncomputable::Budget);
        }
        m_host.Yield();
    }
}

double WorkbookCalc::Now()
{
    if (!m_nowRead) {
        m_now = m_host.Now();
        m_nowRead = true;
    }
    return m_now;
}

numfmt::DateSystem WorkbookCalc::DateSystem()
{
    return m_host.DateSystem();
}

bool WorkbookCalc::NamesKnown()
{
    return m_host.Formulas().namesRead;
}

int32_t WorkbookCalc::SheetNamed(std::string_view name)
{
    if (m_sheetByName.empty()) {
        const size_t count = m_host.SheetCount();
        for (size_t i = 0; i < count; ++i)
            m_sheetByName.emplace(UpperName(m_host.SheetName(i)), static_cast<int32_t>(i));
    }
    const auto found = m_sheetByName.find(UpperName(name));
    return found == m_sheetByName.end() ? -1 : found->second;
}

const Expression* WorkbookCalc::DefinedName(std::string_view name, int32_t sheet)
{
    const WorkbookFormulas& formulas = m_host.Formulas();
    // A sheet's own name first, then the workbook's.
    int32_t tab = -1;
    if (sheet >= 0 && static_cast<size_t>(sheet) < m_host.SheetCount()) {
        const std::string_view sheetName = m_host.SheetName(static_cast<size_t>(sheet));
        for (size_t t = 0; t < formulas.tabs.size(); ++t) {
            if (EqualIgnoringCase(formulas.tabs[t], sheetName))
                tab = static_cast<int32_t>(t);
        }
    }
    const formula::DefinedName* found = nullptr;
    for (const formula::DefinedName& defined : formulas.names) {
        if (!EqualIgnoringCase(defined.name, name))
            continue;
        if (defined.scope == tab && tab >= 0) {
            found = &defined;
            break;
        }
        if (defined.scope < 0 && !found)
            found = &defined;
    }
    if (!found)
        return nullptr;
    const std::string key = std::to_string(found->scope) + ":" + UpperName(found->name);
    auto cached = m_names.find(key);
    if (cached == m_names.end()) {
        TokenContext context;
        context.workbook = &formulas;
        std::optional<Expression> parsed = ParseFormula(found->grammar, found->body, 1, 1, context);
        cached = m_names.emplace(key, parsed ? std::make_unique<Expression>(std::move(*parsed)) : nullptr).first;
    }
    if (!cached->second)
        Cannot(Uncomputable::Unreadable);
    return cached->second.get();
}

const LookupIndex* WorkbookCalc::IndexOf(const Area& line)
{
    // Short lines are searched as they are; a long one is indexed once, whole, so that
    // lookups in it cost one pass however many there are.
    constexpr int64_t kIndexedFrom = 64;
    if (line.Rows() * line.Columns() < kIndexedFrom || (line.Rows() != 1 && line.Columns() != 1))
        return nullptr;
    const std::string key = std::to_string(line.sheet) + ":" + std::to_string(line.firstRow) + ":"
        + std::to_string(line.firstColumn) + ":" + std::to_string(line.lastRow) + ":" + std::to_string(line.lastColumn);
    if (const auto found = m_indexes.find(key); found != m_indexes.end())
        return found->second.get();
    auto index = std::make_unique<LookupIndex>();
    VisitCells(line, [&](int32_t row, int32_t column, const Value& value) {
        const int64_t place = line.Columns() == 1 ? row - line.firstRow : column - line.firstColumn;
        const std::string valueKey = LookupIndex::KeyOf(value);
        if (valueKey.empty())
            return;
        const auto [entry, added] = index->places.try_emplace(valueKey, place, place);
        if (!added)
            entry->second.second = place;
    });
    return m_indexes.emplace(key, std::move(index)).first->second.get();
}

CellRange WorkbookCalc::UsedRange(int32_t sheet)
{
    return Loaded(sheet).data->UsedRange();
}

Value WorkbookCalc::ValueOfCell(int32_t sheet, const Cell& cell, const SheetData& data)
{
    switch (cell.kind) {
    case CellKind::Blank:
        if (const uint32_t mark = FormulaMarkOf(cell))
            return Formula(sheet, mark - 1);
        return Value();
    case CellKind::Number:
        return Value::Number(cell.value.number);
    case CellKind::SharedString:
        return Value::Text(std::string(m_host.SharedString(cell.value.index)));
    case CellKind::String:
        return Value::Text(std::string(data.TextOf(cell)));
    case CellKind::Boolean:
        return Value::Boolean(cell.value.number != 0);
    case CellKind::Error:
        return Value::Error(cell.errorCode);
    case CellKind::TextWithValue: {
        const std::string_view raw = data.TextOf(ValueOf(cell));
        if (raw == "TRUE" || raw == "FALSE")
            return Value::Boolean(raw == "TRUE");
        double number = 0;
        const auto result = std::from_chars(raw.data(), raw.data() + raw.size(), number);
        if (result.ec == std::errc() && result.ptr == raw.data() + raw.size())
            return Value::Number(number);
        return Value::Text(std::string(data.TextOf(cell)));
    }
    case CellKind::TextWithDate: {
        double serial = 0;
        if (xlsx::IsoDateToSerial(data.TextOf(ValueOf(cell)), m_host.DateSystem(), serial))
            return Value::Number(serial);
        return Value::Text(std::string(data.TextOf(cell)));
    }
    case CellKind::DisplayedNumber:
        break;
    }
    Cannot(Uncomputable::Unsupported);
}

Value WorkbookCalc::CellValue(int32_t sheet, int32_t row, int32_t column)
{
    Charge(1);
    SheetState& state = Loaded(sheet);
    const Cell* cell = state.data->Find(row, column);
    return cell ? ValueOfCell(sheet, *cell, *state.data) : Value();
}

void WorkbookCalc::VisitCells(const Area& area, const std::function<void(int32_t, int32_t, const Value&)>& visit)
{
    SheetState& state = Loaded(area.sheet);
    const std::shared_ptr<SheetData> data = state.data; // kept while formulas within are computed
    const std::vector<RowSpan>& rows = data->Rows();
    auto row = std::lower_bound(
        rows.begin(), rows.end(), area.firstRow, [](const RowSpan& span, int32_t r) { return span.row < r; });
    for (; row != rows.end() && row->row <= area.lastRow; ++row) {
        const size_t end = row + 1 != rows.end() ? (row + 1)->begin : data->CellCount();
        // The row's first cell in the area, found by halving.
        size_t low = row->begin, high = end;
        while (low < high) {
            const size_t middle = low + (high - low) / 2;
            if (data->CellAt(middle).column < area.firstColumn)
                low = middle + 1;
            else
                high = middle;
        }
        for (size_t i = low; i < end; ++i) {
            const Cell& cell = data->CellAt(i);
            if (cell.column > area.lastColumn)
                break;
            Charge(1);
            const Value value = ValueOfCell(area.sheet, cell, *data);
            if (!value.IsBlank())
                visit(row->row, cell.column, value);
        }
    }
}

const Expression& WorkbookCalc::Parsed(int32_t sheet, uint32_t index)
{
    SheetState& state = Loaded(sheet);
    if (state.parsed[index])
        return *state.parsed[index];
    const SheetFormulas& formulas = state.data->Formulas();
    const CapturedFormula& captured = formulas.cells[index];
    TokenContext context;
    context.workbook = &m_host.Formulas();
    context.sharedAt = [&formulas](int32_t row, int32_t column) -> std::optional<SharedTokens> {
        for (const SharedFormula& shared : formulas.shared) {
            if (shared.row == row && shared.column == column) {
                const std::string_view body = formulas.BodyOf(shared);
                return SharedTokens { std::span(reinterpret_cast<const uint8_t*>(body.data()), body.size()),
                    shared.array };
            }
        }
        return std::nullopt;
    };
    if (captured.shared != kNotShared) {
        // Office Open XML: the shared formula's text, parsed at its anchor; its relative
        // references are offsets, good for every cell that takes it.
        for (uint32_t s = 0; s < formulas.shared.size(); ++s) {
            const SharedFormula& shared = formulas.shared[s];
            if (shared.index != captured.shared || shared.array)
                continue;
            auto found = state.shared.find(s);
            if (found == state.shared.end()) {
                std::optional<Expression> parsed
                    = ParseFormula(shared.grammar, formulas.BodyOf(shared), shared.row, shared.column, context);
                found = state.shared.emplace(s, parsed ? std::make_unique<Expression>(std::move(*parsed)) : nullptr)
                            .first;
            }
            if (!found->second)
                Cannot(Uncomputable::Unreadable);
            return *found->second;
        }
        Cannot(Uncomputable::Unreadable);
    }
    std::optional<Expression> parsed
        = ParseFormula(captured.grammar, formulas.BodyOf(captured), captured.row, captured.column, context);
    if (!parsed)
        Cannot(Uncomputable::Unreadable);
    state.parsed[index] = std::make_unique<Expression>(std::move(*parsed));
    return *state.parsed[index];
}

// A formula's value as its cell holds it: a blank gives 0, an array its first item; a
// number the application cannot hold is #NUM!.
Value WorkbookCalc::AsCellValue(const Value& value)
{
    if (value.IsBlank())
        return Value::Number(0);
    if (value.IsNumber() && !std::isfinite(value.NumberValue()))
        return Value::Error(CellError::Num);
    if (value.IsText() && Utf16Length(value.TextValue()) > kMaxTextLength)
        return Value::Error(CellError::Value);
    return value;
}

Value WorkbookCalc::EvaluateNow(int32_t sheet, uint32_t index)
{
    SheetState& state = Loaded(sheet);
    const CapturedFormula& captured = state.data->Formulas().cells[index];
    state.states[index] = State::Running;
    ++m_depth;
    try {
        const Expression& expression = Parsed(sheet, index);
        Evaluator evaluator(*this, expression, Position { sheet, captured.row, captured.column },
            captured.array || expression.arrayFormula);
        const Value value = AsCellValue(evaluator.Result());
        --m_depth;
        state.states[index] = State::Done;
        state.results[index] = value;
        state.parsed[index].reset();
        return value;
    } catch (const UncomputableFormula& failure) {
        --m_depth;
        state.states[index] = State::Failed;
        state.reasons[index] = failure.reason;
        state.parsed[index].reset();
        throw;
    } catch (const Deferred&) {
        --m_depth;
        state.states[index] = State::Pending;
        throw;
    } catch (const std::bad_alloc&) {
        --m_depth;
        state.states[index] = State::Failed;
        state.reasons[index] = Uncomputable::Budget;
        Cannot(Uncomputable::Budget);
    }
}

Value WorkbookCalc::Formula(int32_t sheet, uint32_t index)
{
    SheetState& state = Loaded(sheet);
    switch (state.states[index]) {
    case State::Done:
        return state.results[index];
    case State::Failed:
        Cannot(state.reasons[index]);
    case State::Running:
    case State::Waiting:
        Cannot(Uncomputable::Cycle);
    case State::Pending:
        break;
    }
    // Deep on the stack already: the formula is put off and computed from the top.
    if (m_depth >= kNativeDepth || EvaluationDepth() > kMaxEvaluationDepth / 2)
        throw Deferred { sheet, index };
    return EvaluateNow(sheet, index);
}

void WorkbookCalc::Settle(int32_t sheet, uint32_t index)
{
    std::vector<Deferred> waiting { { sheet, index } };
    while (!waiting.empty()) {
        const Deferred top = waiting.back();
        SheetState& state = Loaded(top.sheet);
        State& topState = state.states[top.formula];
        if (topState == State::Done || topState == State::Failed) {
            waiting.pop_back();
            continue;
        }
        topState = State::Pending;
        try {
            m_depth = 0;
            EvaluateNow(top.sheet, top.formula);
            waiting.pop_back();
        } catch (const Deferred& first) {
            SheetState& blocking = Loaded(first.sheet);
            state.states[top.formula] = State::Waiting;
            if (blocking.states[first.formula] == State::Waiting) {
                // It waits, through others, for the formula that waits for it.
                blocking.states[first.formula] = State::Failed;
                blocking.reasons[first.formula] = Uncomputable::Cycle;
            } else {
                waiting.push_back(first);
            }
        } catch (const UncomputableFormula&) {
            waiting.pop_back();
        }
    }
}

Value WorkbookCalc::ValueAt(size_t sheet, int32_t row, int32_t column)
{
    const auto index = static_cast<int32_t>(sheet);
    try {
        SheetState& state = Loaded(index);
        if (const Cell* cell = state.data->Find(row, column)) {
            if (const uint32_t mark = FormulaMarkOf(*cell))
                Settle(index, mark - 1);
        }
        return CellValue(index, row, column);
    } catch (const UncomputableFormula&) {
        return Value(); // left blank
    }
}

Value WorkbookCalc::Recompute(size_t sheet, uint32_t index)
{
    const auto at = static_cast<int32_t>(sheet);
    try {
        SheetState& state = Loaded(at);
        if (!state.data->Formulas().cells[index].valued) {
            Settle(at, index);
            return Formula(at, index);
        }
        // A formula whose cell has its value is computed apart, at once: nothing reads it.
        m_depth = 0;
        const Value value = EvaluateNow(at, index);
        state.states[index] = State::Pending;
        return value;
    } catch (const UncomputableFormula&) {
        return Value();
    } catch (const Deferred&) {
        return Value(); // deeper than a check needs
    }
}

const SheetData* WorkbookCalc::LoadedSheet(size_t sheet)
{
    try {
        return Loaded(static_cast<int32_t>(sheet)).data.get();
    } catch (const UncomputableFormula&) {
        return nullptr;
    }
}

WorkbookCalc::Outcome WorkbookCalc::Compute(
    size_t index, const std::shared_ptr<SheetData>& loaded, bool loadedKeepsValues)
{
    const auto sheet = static_cast<int32_t>(index);
    Outcome outcome;
    const auto note = [&](const CapturedFormula& captured, Uncomputable reason) {
        if (outcome.uncomputed == 0 || captured.row < outcome.firstRow
            || (captured.row == outcome.firstRow && captured.column < outcome.firstColumn)) {
            outcome.firstRow = captured.row;
            outcome.firstColumn = captured.column;
            outcome.firstReason = reason;
        }
        ++outcome.uncomputed;
    };
    const SheetFormulas& formulas = loaded->Formulas();
    SheetState* state = nullptr;
    try {
        SheetState& known = Sheet(sheet);
        // The worksheet as the export loaded it serves formulas too, when it holds what
        // they read: values as the file records them.
        if (!known.tried && loadedKeepsValues && !loaded->ReadThrough() && !loaded->NumbersShown()) {
            known.tried = true;
            known.data = loaded;
            const size_t count = formulas.cells.size();
            known.states.assign(count, State::Pending);
            known.reasons.assign(count, Uncomputable::Unsupported);
            known.results.resize(count);
            known.parsed.resize(count);
            m_memory += loaded->StoredBytes();
        }
        state = &Loaded(sheet);
    } catch (const UncomputableFormula& failure) {
        for (const CapturedFormula& captured : formulas.cells)
            note(captured, failure.reason);
        return outcome;
    }
    const SheetFormulas& own = state->data->Formulas();
    for (uint32_t f = 0; f < own.cells.size(); ++f) {
        try {
            Settle(sheet, f);
        } catch (const UncomputableFormula&) {
            // Loading a worksheet it needs failed: the formula is marked so.
        }
    }
    // Each formula's value goes into the loaded cell that stands for it. The formulas
    // were captured in the same order by both loads; a cell whose mark does not match its
    // formula (given twice in the file) keeps its value.
    for (uint32_t f = 0; f < formulas.cells.size(); ++f) {
        const CapturedFormula& captured = formulas.cells[f];
        Cell* cell = loaded->FindToChange(captured.row, captured.column);
        if (!cell || FormulaMarkOf(*cell) != f + 1)
            continue;
        const bool same
            = f < own.cells.size() && own.cells[f].row == captured.row && own.cells[f].column == captured.column;
        if (!same || state->states[f] != State::Done) {
            note(captured, same ? state->reasons[f] : Uncomputable::Unsupported);
            continue;
        }
        const Value& value = state->results[f];
        switch (value.Kind()) {
        case ValueKind::Number:
            cell->kind = CellKind::Number;
            cell->value.number = value.NumberValue();
            break;
        case ValueKind::Boolean:
            cell->kind = CellKind::Boolean;
            cell->value.number = value.BooleanValue() ? 1 : 0;
            break;
        case ValueKind::Error:
            cell->kind = CellKind::Error;
            cell->errorCode = value.ErrorValue();
            cell->value.number = 0;
            break;
        case ValueKind::Text: {
            const Cell::Text text = loaded->StoreText(value.TextValue());
            cell->kind = CellKind::String;
            cell->value.text = text;
            break;
        }
        default:
            note(captured, Uncomputable::Unsupported);
            break;
        }
    }
    return outcome;
}

std::string CellName(std::string_view sheet, int32_t row, int32_t column)
{
    std::string letters;
    for (int64_t c = column; c > 0; c = (c - 1) / 26)
        letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
    bool plain = !sheet.empty() && !(sheet.front() >= '0' && sheet.front() <= '9');
    for (const char c : sheet) {
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.'))
            plain = false;
    }
    std::string name;
    if (plain) {
        name = sheet;
    } else {
        name = "'";
        for (const char c : sheet) {
            name += c;
            if (c == '\'')
                name += '\'';
        }
        name += "'";
    }
    return name + "!" + letters + std::to_string(row);
}

} // namespace vellumcast::spreadsheet::formula
