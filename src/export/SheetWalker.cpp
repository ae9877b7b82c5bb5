#include "export/SheetWalker.h"

#include "core/ErrorReport.h"
#include "core/HugePages.h"
#include "export/ExportSteps.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <new>

namespace vellumcast::exporting {

using spreadsheet::CellRange;
using spreadsheet::ErrorCode;
using spreadsheet::RowBatch;
using spreadsheet::SpreadsheetError;
using spreadsheet::Workbook;
using spreadsheet::Worksheet;

SheetWalker::SheetWalker(ExportContext& context, const char* procedure, const options::ExportOptions& options,
    const std::string& workbookPath, Workbook* workbook, bool reportFailures)
    : m_context(context)
    , m_composer(options)
    , m_reader(options)
    , m_options(options)
    , m_fileName(ResultFileName(workbookPath))
    , m_workbook(workbook)
    , m_budget(workbook ? workbook->FileSize() : 0)
    , m_charges(m_budget, options, m_reader, workbook)
    , m_handOver(context.results, options.skipEmptyLines)
{
    if (reportFailures)
        m_runner.emplace(context.reporter,
            context.procedureOwner.empty() ? std::string() : core::LocationText(context.procedureOwner, procedure));
    // A worksheet loaded before it is walked shows its load as the first part of its
    // progress, so the bar moves while a long worksheet loads, not only once it is walked.
    if (workbook) {
        workbook->SetLoadProgress([this](double share) {
            m_walkFrom = kLoadPercent;
            m_context.progress.Set(share * kLoadPercent);
        });
    }
}

SheetWalker::~SheetWalker()
{
    if (m_workbook)
        m_workbook->SetLoadProgress({});
}

bool SheetWalker::HasWorkbook()
{
    if (m_workbook)
        return true;
    if (!m_runner)
        throw std::runtime_error("Object variable not set: no workbook is open");
    m_runner->Fail(steps::sheet::kNoWorkbook, "Object variable not set: no workbook is open");
    return false;
}

bool SheetWalker::Prepare(Worksheet& sheet, Lines lines, CellRange& range)
{
    m_context.pump.Run();
    if (!Step(steps::sheet::kUsedRange, sheet, [&] { range = sheet.UsedRange(); }))
        return false;
    bool hasContent = true;
    if (range.lastRow == 1 && range.lastColumn == 1) {
        if (Test(steps::sheet::kFirstCellEmpty, [&] { return sheet.CellText(1, 1).empty(); }))
            hasContent = false;
    }
    return hasContent && Step(steps::sheet::kUsedRange, sheet, [&] { m_charges.ChargeWalk(sheet, lines, range); });
}

void SheetWalker::Walk(Worksheet& sheet, const CellRange& range, int label, std::string& out, LineMarks marks)
{
    NamingOutOfMemory(sheet, [&] {
        const Holding held(*this, sheet, range);
        RowLines lines(range);
        ComposeRows(sheet, label, out, out.size(), lines, held.Rows(), marks);
    });
}

void SheetWalker::WalkColumns(Worksheet& sheet, const CellRange& range, int label, std::vector<std::string>& texts)
{
    NamingOutOfMemory(sheet, [&] {
        const Holding held(*this, sheet, range);
        RowLines lines(range);
        ColumnLines columns;
        if (ComposeColumns(sheet, label, lines, columns, held.Rows()))
            EndColumns(sheet, columns, texts);
    });
}

SheetWalker::Streamed SheetWalker::WalkWhileLoading(Worksheet& sheet, int label, std::string& out, LineMarks marks)
{
    const size_t start = out.size();
    const size_t endsBefore = marks.ends ? marks.ends->size() : 0;
    m_handOver.KeepFirst(start);
    RowLines lines(m_options.includeBlankCells);
    return ComposeWhileLoading(
        sheet, Lines::Rows, lines,
        [&](const RowBatch& rows) { return ComposeRows(sheet, label, out, start, lines, rows, marks); },
        [] { return true; },
        [&] {
            m_handOver.TakeBack(out, start);
            if (marks.ends)
                marks.ends->resize(endsBefore);
            if (marks.ordinals) // pushed with the ends
                marks.ordinals->resize(endsBefore);
        });
}

SheetWalker::Streamed SheetWalker::ColumnsWhileLoading(Worksheet& sheet, int label, std::vector<std::string>& texts)
{
    RowLines lines(true); // the columns must be the used range's, blank cells kept or not
    ColumnLines columns;
    return ComposeWhileLoading(
        sheet, Lines::Columns, lines,
        [&](const RowBatch& rows) { return ComposeColumns(sheet, label, lines, columns, rows); },
        [&] {
            EndColumns(sheet, columns, texts);
            return true;
        },
        [&] { texts.clear(); });
}

void SheetWalker::Record(
    Worksheet& sheet, const SharedText& sheetName, int64_t ordinal, std::string text, int64_t& resultNumber)
{
    Step(steps::sheet::kRecord, sheet, [&] {
        m_context.results.Take(ResultEntry { m_fileName, sheetName, ordinal, {}, m_options.saveMode }, std::move(text));
    });
    ++resultNumber;
}

void SheetWalker::EndHandedEntry(Worksheet& sheet, std::string rest, int64_t& resultNumber)
{
    Step(steps::sheet::kRecord, sheet, [&] {
        m_context.results.Write(std::move(rest));
        m_context.results.Commit();
    });
    ++resultNumber;
}

void SheetWalker::RecordLines(Worksheet& sheet, std::string text, const std::vector<size_t>& lineEnds,
    const std::vector<int64_t>& ordinals, int64_t& resultNumber)
{
    const int64_t first = m_handOver.NextOrdinal(lineEnds);
    size_t made = m_handOver.EntriesMade(lineEnds);
    const ResultEntry head { m_fileName, SharedText(sheet.Name()), first, {}, m_options.saveMode };
    Step(steps::sheet::kRecord, sheet, [&] {
        made += m_context.results.TakeLines(head, std::move(text), lineEnds, ordinals, m_options.skipEmptyLines);
    });
    resultNumber += static_cast<int64_t>(made);
}

void SheetWalker::RecordColumns(
    Worksheet& sheet, int32_t firstColumn, std::vector<std::string>& texts, int64_t& resultNumber)
{
    const SharedText sheetName(sheet.Name());
    for (size_t c = 0; c < texts.size(); ++c) {
        const auto column = static_cast<int32_t>(firstColumn + static_cast<int64_t>(c));
        if (m_reader.ColumnLeftOut(column) || (texts[c].empty() && m_options.skipEmptyLines))
            continue;
        Record(sheet, sheetName, static_cast<int64_t>(c) + 1, std::move(texts[c]), resultNumber);
    }
}

template <typename F> void SheetWalker::NamingOutOfMemory(Worksheet& sheet, F&& body)
{
    try {
        body();
    } catch (const std::bad_alloc&) {
        throw SpreadsheetError(ErrorCode::TooLarge, "Out of memory exporting " + SheetOf(sheet, *m_workbook));
    }
}

template <typename F> bool SheetWalker::Step(int number, Worksheet& sheet, F&& body)
{
    auto named = [&] { NamingOutOfMemory(sheet, body); };
    if (!m_runner) {
        named();
        return true;
    }
    return m_runner->Step(number, named);
}

template <typename F> bool SheetWalker::Test(int number, F&& test)
{
    return m_runner ? m_runner->Test(number, std::forward<F>(test)) : static_cast<bool>(test());
}

template <typename Compose, typename Finish, typename Drop>
SheetWalker::Streamed SheetWalker::ComposeWhileLoading(
    Worksheet& sheet, Lines kind, const RowLines& lines, Compose&& compose, Finish&& finish, Drop&& drop)
{
    // Lines that depend on merged areas or hidden rows wait for the whole worksheet; one
    // at hand is walked as it is.
    m_walkFrom = 0; // a worksheet starts: none of it is loaded yet
    if (sheet.Loaded() || m_reader.UsesLayout())
        return Streamed::No;
    const uint64_t textUsed = m_budget.TextUsed();
    KeepLastText();
    const std::string lastText = m_keptText;
    std::vector<std::pair<int, std::exception_ptr>> failures;
    m_deferredFailures = &failures;
    bool everyRow = false;
    // A composition the engine refuses (a budget passed, memory) is left to the walk of
    // the loaded worksheet, which may cut the range where this one could not; anything
    // else (the texts could not be handed over or held) would fail that walk the same
    // way, so it ends the visit and is the worksheet's failure.
    std::exception_ptr handOverFailure;
    try {
        everyRow = sheet.VisitRowsWhileLoading(
            [&](const RowBatch& rows) {
                try {
                    return compose(rows);
                } catch (const SpreadsheetError&) {
                    return false;
                } catch (const std::bad_alloc&) {
                    return false;
                } catch (...) {
                    handOverFailure = std::current_exception();
                    return false;
                }
            },
            m_reader.Style() == spreadsheet::CellTextStyle::Displayed);
        everyRow = everyRow && !handOverFailure && finish();
    } catch (...) {
        // The load failed: Prepare reports it as it would have.
        everyRow = false;
    }
    m_deferredFailures = nullptr;
    const uint64_t composed = m_budget.TextUsed() - textUsed;
    m_budget.GiveBackTextTo(textUsed);
    if (handOverFailure) {
        drop();
        m_keptText = lastText;
        m_lastText = m_keptText;
        std::rethrow_exception(handOverFailure);
    }
    if (m_context.pump.StopRequested()) {
        // Stopped: the worksheet is neither finished nor walked again.
        drop();
        m_keptText = lastText;
        m_lastText = m_keptText;
        return Streamed::PassedOver;
    }
    CellRange range;
    const bool matches = everyRow && lines.Matches(sheet.UsedRange());
    if (!matches) {
        drop();
        m_keptText = lastText;
        m_lastText = m_keptText;
        return Streamed::No;
    }
    bool prepared = false;
    try {
        prepared = Prepare(sheet, kind, range);
    } catch (...) {
        drop();
        throw;
    }
    if (!prepared) {
        drop();
        return Streamed::PassedOver;
    }
    m_budget.ChargeText(composed);
    for (auto& [failedLabel, failure] : failures)
        m_runner->Fail(failedLabel, failure);
    return Streamed::Composed;
}

bool SheetWalker::Admit(Lines kind, RowLines& lines, const RowBatch& rows)
{
    if (!lines.Take(rows))
        return false;
    if (lines.Fixed())
        return true;
    const bool blankKept = m_options.includeBlankCells;
    const uint64_t rowCount = static_cast<uint64_t>(rows.LastRowNumber() - lines.FirstRow()) + 1;
    m_budget.SetSheetBytes(rows.StoredBytes()); // the cells and stored texts loaded so far
    if (kind == Lines::Columns) {
        const uint64_t width = lines.Width();
        return m_charges.Affordable(blankKept ? rowCount * width : width + rows.EndCell(), width, rowCount);
    }
    const uint64_t width = blankKept ? lines.Width() : 1;
    return m_charges.Affordable(rowCount * width + (blankKept ? 0 : rows.EndCell()), rowCount, width);
}

template <typename Line>
bool SheetWalker::ForEachLineUpTo(int32_t upTo, size_t r, RowLines& lines, int32_t expected, Line&& line)
{
    for (; lines.Next() <= upTo; lines.Advance()) {
        if (m_context.pump.StopRequested())
            return false;
        const int32_t row = lines.Next();
        if (expected > 0) // else how far it is is unknown
            SetProgress(row, expected);
        if (m_reader.StartRow(row))
            line(row, row == upTo ? r : kNoRow);
    }
    return true;
}

template <typename Line>
bool SheetWalker::ForEachLine(RowLines& lines, const RowBatch& rows, int32_t expected, Line&& line)
{
    for (size_t r = 0; r < rows.RowCount() && rows.RowNumber(r) <= lines.LastRow(); ++r) {
        if (!ForEachLineUpTo(rows.RowNumber(r), r, lines, expected, line))
            return false;
    }
    return !lines.Fixed() || ForEachLineUpTo(lines.LastRow(), kNoRow, lines, expected, line);
}

bool SheetWalker::ComposeRows(Worksheet& sheet, int label, std::string& out, size_t start, RowLines& lines,
    const RowBatch& rows, const LineMarks& marks)
{
    const KeepingLastText keeping(*this);
    if (!Admit(Lines::Rows, lines, rows))
        return false;
    const int32_t expected = ExpectedLastRow(lines, rows);
    return ForEachLine(lines, rows, expected, [&](int32_t row, size_t r) {
        ComposeLine(sheet, out,
            [&] { ForEachCell(sheet, rows, r, lines, [&](size_t, auto&& read) { Add(sheet, label, read); }); });
        if (marks.ends)
            marks.ends->push_back(out.size());
        if (marks.ordinals)
            marks.ordinals->push_back(static_cast<int64_t>(row) - lines.FirstRow() + 1);
        ReserveFromSample(out, start, row, lines.FirstRow(), expected);
        m_handOver.AtLineEnd(out);
    });
}

bool SheetWalker::ComposeColumns(
    Worksheet& sheet, int label, RowLines& lines, ColumnLines& columns, const RowBatch& rows)
{
    const KeepingLastText keeping(*this);
    if (!Admit(Lines::Columns, lines, rows))
        return false;
    const auto width = static_cast<size_t>(lines.Width());
    if (columns.composers.empty()) {
        columns.texts.resize(width);
        columns.composers.assign(width, m_composer);
        for (size_t c = 0; c < width; ++c)
            columns.composers[c].Begin(columns.texts[c]);
    }
    const int32_t expected = ExpectedLastRow(lines, rows);
    const bool composed = ForEachLine(lines, rows, expected, [&](int32_t, size_t r) {
        m_context.pump.Run();
        ForEachCell(sheet, rows, r, lines, [&](size_t c, auto&& read) {
            if (c >= width) // a blank cell past a range cut short
                return;
            const size_t before = columns.composers[c].Composed();
            AddTo(columns.composers[c], columns.composed - before, sheet, label, read);
            columns.composed += columns.composers[c].Composed() - before;
        });
    });
    ReserveColumns(columns, lines.Next() - lines.FirstRow(), expected - lines.FirstRow() + 1);
    return composed;
}

// Inlined into the walk: it runs for every cell.
[[gnu::always_inline]] inline std::string_view SheetWalker::ReadCell(
    Worksheet& sheet, const spreadsheet::Cell* cell, const RowBatch& rows)
{
    if (m_holding && !sheet.Loaded())
        sheet.UsedRange(); // loads it again, or throws as the load does
    return cell ? m_reader.TextOf(sheet, *cell, rows) : m_reader.NoCell();
}

template <typename Visit>
void SheetWalker::ForEachCell(Worksheet& sheet, const RowBatch& rows, size_t r, const RowLines& lines, Visit&& visit)
{
    // A few rows ahead, so that their shared strings are in the caches when they are read.
    constexpr size_t kPrefetchAhead = 4;
    if (r != kNoRow && r + kPrefetchAhead < rows.RowCount())
        sheet.PrefetchTexts(rows, r + kPrefetchAhead);
    const auto indexOf = [&](int32_t column) { return static_cast<size_t>(column - lines.FirstColumn()); };
    if (m_reader.UsesLayout()) {
        for (const CellReader::LineCell& cell : m_reader.RowCells(rows, r, m_options.includeBlankCells)) {
            visit(indexOf(cell.column),
                [&] { return cell.area ? m_reader.AreaText(*cell.area) : ReadCell(sheet, cell.cell, rows); });
        }
        return;
    }
    if (r == kNoRow) {
        if (m_options.includeBlankCells) {
            for (int32_t column = lines.FirstColumn(); column <= lines.LastColumn(); ++column)
                visit(indexOf(column), [&] { return ReadCell(sheet, nullptr, rows); });
        }
        return;
    }
    size_t i = rows.CellsBegin(r);
    const size_t end = rows.CellsEnd(r);
    if (!m_options.includeBlankCells) {
        for (; i < end; ++i)
            visit(indexOf(rows.CellAt(i).column), [&] { return ReadCell(sheet, &rows.CellAt(i), rows); });
        return;
    }
    for (int32_t column = lines.FirstColumn(); column <= lines.LastColumn(); ++column) {
        const spreadsheet::Cell* cell = i < end && rows.CellAt(i).column == column ? &rows.CellAt(i++) : nullptr;
        visit(indexOf(column), [&] { return ReadCell(sheet, cell, rows); });
    }
}

void SheetWalker::ReserveFromSample(
    std::string& text, size_t sheetStart, int32_t position, int32_t first, int32_t last) const
{
    constexpr int64_t kSampleLines = 512;
    // The first lines need not be typical (long texts above a used range that runs on
    // empty to the sheet's last row), so the reservation is capped and growth does the rest.
    constexpr double kMaxReserve = 256.0 * 1024 * 1024;
    const int64_t done = static_cast<int64_t>(position) - first + 1;
    const int64_t total = static_cast<int64_t>(last) - first + 1;
    if (done != kSampleLines || total < 4 * kSampleLines || m_handOver.Handing(text))
        return; // handed over as it grows, the text is never held whole
    const double estimate
        = static_cast<double>(text.size() - sheetStart) / static_cast<double>(done) * static_cast<double>(total);
    const double room = static_cast<double>(m_budget.TextRoom());
    text.reserve(sheetStart + static_cast<size_t>(std::min({ estimate * 1.05, room, kMaxReserve })) + 4096);
    core::AdviseHugePages(text.data(), text.capacity());
}

void SheetWalker::ReserveColumns(ColumnLines& columns, int64_t done, int64_t total) const
{
    constexpr int64_t kSampleRows = 512;
    if (columns.reserved || done < kSampleRows || total < 4 * kSampleRows)
        return;
    columns.reserved = true;
    const double scale = static_cast<double>(total) / static_cast<double>(done) * 1.05;
    const double room = static_cast<double>(m_budget.TextRoom()) / static_cast<double>(columns.texts.size());
    for (size_t c = 0; c < columns.texts.size(); ++c) {
        std::string& text = columns.texts[c];
        const auto composed = static_cast<double>(columns.composers[c].Composed());
        text.reserve(static_cast<size_t>(std::min(composed * scale, room)) + 4096);
        core::AdviseHugePages(text.data(), text.capacity());
    }
}

void SheetWalker::EndColumns(Worksheet& sheet, ColumnLines& columns, std::vector<std::string>& texts)
{
    for (size_t c = 0; c < columns.composers.size(); ++c) {
        columns.composers[c].End();
        m_charges.ChargeText(sheet, columns.texts[c].size());
    }
    texts = std::move(columns.texts);
}

template <typename AddCells> void SheetWalker::ComposeLine(Worksheet& sheet, std::string& out, AddCells&& addCells)
{
    m_context.pump.Run();
    const size_t before = out.size();
    m_composer.Begin(out);
    addCells();
    m_composer.End();
    m_charges.ChargeText(sheet, out.size() - before);
}

int32_t SheetWalker::ExpectedLastRow(const RowLines& lines, const RowBatch& rows)
{
    if (lines.Fixed())
        return lines.LastRow();
    const int32_t last = rows.LastRowNumber();
    if (rows.Expected().lastRow > 0 || rows.EndOfSheet())
        return std::max(rows.Expected().lastRow, last);
    if (rows.ShareRead() <= 0)
        return 0;
    return static_cast<int32_t>(std::min<double>(spreadsheet::kMaxRows, std::ceil(last / rows.ShareRead())));
}

void SheetWalker::SetProgress(int32_t position, int32_t last)
{
    // A row of a long worksheet moves the bar far less than it can show, and telling it
    // costs two divisions and two calls: it is told every thousandth of the way, when the
    // end it is measured against moves, on a walk that starts again, and at the end.
    if (position > m_progressAt && position < m_progressNext && last == m_progressLast && position != last)
        return;
    m_progressAt = position;
    m_progressLast = last;
    m_progressNext = position + std::max(1, last / 1000);
    const double walked = (static_cast<double>(position) + 1.0) / (static_cast<double>(last) + 1.0);
    m_context.progress.Set(m_walkFrom + walked * (100.0 - m_walkFrom));
}

// Inlined into the walk: it runs for every cell.
[[gnu::always_inline]] inline void SheetWalker::AddChecked(
    LineComposer& composer, size_t pending, Worksheet& sheet, std::string_view text)
{
    m_charges.CheckText(sheet, pending + composer.Composed() + composer.Widest(text.size()));
    composer.Add(text, m_reader.LastKind());
}

template <typename ReadText> void SheetWalker::Add(Worksheet& sheet, int label, ReadText&& read)
{
    AddTo(m_composer, 0, sheet, label, read);
}

template <typename ReadText>
void SheetWalker::AddTo(LineComposer& composer, size_t pending, Worksheet& sheet, int label, ReadText&& read)
{
    m_context.pump.Run();
    if (!m_runner) {
        AddChecked(composer, pending, sheet, read());
        return;
    }
    // A failed read keeps the previous cell's text, as the step would have left it.
    try {
        NamingOutOfMemory(sheet, [&] { m_lastText = read(); });
    } catch (...) {
        KeepLastText(); // a second failing read may reuse the scratch it lies in
        if (m_deferredFailures)
            m_deferredFailures->emplace_back(label, std::current_exception());
        else
            m_runner->Fail(label, std::current_exception());
    }
    AddChecked(composer, pending, sheet, m_lastText);
}

void SheetWalker::KeepLastText() noexcept
{
    if (m_lastText.data() == m_keptText.data())
        return;
    try {
        m_keptText.assign(m_lastText);
    } catch (...) {
        m_keptText.clear(); // out of memory: a later failed read keeps nothing
    }
    m_lastText = m_keptText;
}

} // namespace vellumcast::exporting
