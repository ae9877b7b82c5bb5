#include "export/ExportProcedures.h"

#include "core/ErrorReport.h"
#include "core/Files.h"
#include "core/HugePages.h"
#include "core/StepRunner.h"
#include "export/CellReader.h"
#include "export/ExportBudget.h"
#include "export/LineComposer.h"
#include "export/LineSources.h"
#include "export/TextHandOver.h"
#include "export/WalkCharges.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace vellumcast::exporting {

using spreadsheet::CellRange;
using spreadsheet::Workbook;
using spreadsheet::Worksheet;

std::string FileStem(const std::string& path)
{
    const std::string name = core::FileNameOfPath(path);
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string ResultFileName(const std::string& workbookPath)
{
    return FileStem(workbookPath) + ".txt";
}

namespace {

using spreadsheet::ErrorCode;
using spreadsheet::SpreadsheetError;

// Every procedure walks a workbook's worksheets in turn and composes their lines, while
// the engine loads a worksheet when it can (rows handed over) or else from the loaded
// worksheet; the two must give the same bytes. What each save mode does with the lines:
// - all sheets: one text for the workbook, each worksheet's name line, its row lines and
//   three empty lines;
// - each sheet: one text per worksheet with content, its row lines;
// - each row: the row lines of a worksheet composed into one text, each line an entry
//   that shares it;
// - each column: one line per column, all of a worksheet's columns composed side by side
//   as its rows come, each column its own text.
//
// What the procedures share: the worksheet walk with its emptiness test, the budget of
// the workbook's work, the progress and the recording of entries. Without a runner every
// failure is thrown to the caller instead of reported.
class SheetWalker {
public:
    SheetWalker(ExportContext& context, const char* procedure, const options::ExportOptions& options,
        const std::string& workbookPath, Workbook* workbook, bool reportFailures = true)
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
            m_runner.emplace(context.reporter, core::LocationText("Excel1", procedure));
    }

    // How every line of the texts ends: CR LF, or LF alone when asked.
    std::string_view LineEnd() const { return m_composer.LineEnd(); }

    // Reports a missing workbook (step 100). Returns whether there is one.
    bool HasWorkbook()
    {
        if (m_workbook)
            return true;
        if (!m_runner)
            throw std::runtime_error("Object variable not set: no workbook is open");
        m_runner->Fail(100, "Object variable not set: no workbook is open");
        return false;
    }

    // Reads the used range and checks that the walk fits the budget (step 108). A
    // worksheet that cannot be read is reported once and passed over, rather than
    // failing again for every cell. Returns false for a worksheet to pass over:
    // unreadable, too large, or without content.
    bool Prepare(Worksheet& sheet, Lines lines, CellRange& range)
    {
        m_context.pump.Run(); // 102
        if (!Step(108, sheet, [&] { range = sheet.UsedRange(); }))
            return false;
        bool hasContent = true; // 116
        if (range.lastRow == 1 && range.lastColumn == 1) { // 118
            if (Test(120, [&] { return sheet.CellText(1, 1).empty(); })) // 120
                hasContent = false; // 122
        }
        return hasContent && Step(108, sheet, [&] { m_charges.ChargeWalk(sheet, lines, range); }); // 124
    }

    // Composes every line of the used range in order, appending each to out, and calls
    // lineDone(position, last) after each. With blank cells kept every cell of the range
    // is read; without, only the recorded ones, which compose the same lines. Lines the
    // workbook hides, when left out, give no line and no lineDone. label is the step of a
    // cell read.
    template <typename LineDone>
    void Walk(Worksheet& sheet, Lines lines, const CellRange& range, int label, std::string& out, LineDone&& lineDone)
    {
        const bool rows = lines == Lines::Rows;
        const int32_t first = rows ? range.firstRow : range.firstColumn;
        const int32_t last = rows ? range.lastRow : range.lastColumn;
        const int32_t acrossFirst = rows ? range.firstColumn : range.firstRow;
        const int32_t acrossLast = rows ? range.lastColumn : range.lastRow;
        NamingOutOfMemory(sheet, [&] {
            std::optional<RecordedLines> recorded;
            if (!m_options.includeBlankCells && !m_reader.UsesLayout())
                recorded.emplace(sheet, lines);
            m_reader.Begin(sheet, lines, range);
            for (int32_t position = first; position <= last; ++position) {
                if (m_context.pump.StopRequested())
                    break;
                SetProgress(position, last);
                if (!m_reader.StartLine(position))
                    continue;
                ComposeLine(sheet, out, [&] {
                    if (recorded) {
                        recorded->ForEachOn(position, [&](const spreadsheet::Cell& cell) {
                            Add(sheet, label, [&] { return m_reader.TextOf(sheet, cell, recorded->Rows()); });
                        });
                        return;
                    }
                    if (!m_options.includeBlankCells) {
                        for (const CellReader::LineCell& cell : m_reader.LineCells())
                            Add(sheet, label, [&] { return m_reader.TextOf(cell); });
                        return;
                    }
                    for (int32_t across = acrossFirst; across <= acrossLast; ++across) {
                        if (!m_reader.AcrossHidden(across))
                            Add(sheet, label, [&] { return m_reader.TextAt(across); });
                    }
                });
                lineDone(position, last);
                m_handOver.AtLineEnd(out);
            }
        });
    }

    // What WalkWhileLoading made of a worksheet.
    enum class Streamed {
        No, // nothing: out is as it was; prepare and walk the worksheet as usual
        Composed, // its lines are appended to out, as Prepare and Walk would have
        PassedOver, // Prepare passed it over (and reported why): out is as it was
    };

    // The lines of a worksheet, one per row, composed while it loads: rows are composed
    // as the loading thread hands them over, so reading the file and rendering its cells
    // share the two cores. The result must be what Prepare and Walk give; whenever this
    // cannot be known early (rows out of order, a row wider than the columns composed,
    // a failure, the budget), the composed text is dropped and the usual walk follows
    // on the loaded worksheet. Failures of cell reads are held back and reported once
    // the worksheet is known to be exported.
    // With lineEnds, where each line ends in out is added to it.
    Streamed WalkWhileLoading(Worksheet& sheet, int label, std::string& out, std::vector<size_t>* lineEnds = nullptr)
    {
        const size_t start = out.size();
        const size_t endsBefore = lineEnds ? lineEnds->size() : 0;
        m_handOver.KeepFirst(start);
        StreamedLines lines(m_options.includeBlankCells);
        return ComposeWhileLoading(
            sheet, Lines::Rows, lines,
            [&](const spreadsheet::RowBatch& rows) {
                return ComposeRows(sheet, label, out, start, lines, rows, lineEnds);
            },
            [] { return true; },
            [&] {
                m_handOver.TakeBack(out, start);
                if (lineEnds)
                    lineEnds->resize(endsBefore);
            });
    }

    // The lines of a worksheet, one per column, composed while it loads: each row handed
    // over adds its cells to every column's line, so the worksheet is never held whole.
    // texts gets a line for each column of the used range. As WalkWhileLoading, the
    // result must be what Prepare and Walk give, or it is dropped; so is one with a
    // failed cell read, which keeps the text of the cell read before it in the walk's
    // order, not this one's.
    Streamed ColumnsWhileLoading(Worksheet& sheet, int label, std::vector<std::string>& texts)
    {
        StreamedLines lines(true); // the columns must be the used range's, blank cells kept or not
        ColumnLines columns;
        return ComposeWhileLoading(
            sheet, Lines::Columns, lines,
            [&](const spreadsheet::RowBatch& rows) { return ComposeColumns(sheet, label, lines, columns, rows); },
            [&] { return EndColumns(sheet, columns, texts); }, [&] { texts.clear(); });
    }

    // Adds an entry for a composed text (step 180).
    void Record(Worksheet& sheet, const SharedText& sheetName, int64_t ordinal, std::string text, int64_t& resultNumber)
    {
        Step(180, sheet, [&] {
            m_context.results.Take(
                ResultEntry { m_fileName, sheetName, ordinal, {}, m_options.saveMode }, std::move(text));
        });
        ++resultNumber;
    }

    // Ends the entry the hand-over began with the rest of its text (step 180), as Record
    // adds one.
    void EndHandedEntry(Worksheet& sheet, std::string rest, int64_t& resultNumber)
    {
        Step(180, sheet, [&] {
            m_context.results.Append(std::move(rest));
            m_context.results.EndEntry();
        });
        ++resultNumber;
    }

    // Adds an entry for each line of text, which ends at the matching place in lineEnds,
    // numbered by the matching ordinal, or one after another without ordinals (from 1,
    // or on from the lines handed over); a line of blank cells alone gives no entry when
    // empty lines are skipped, so it leaves no file either. Its number is still counted:
    // the lines after it keep their place in the used range.
    void RecordLines(Worksheet& sheet, std::string text, const std::vector<size_t>& lineEnds,
        const std::vector<int64_t>& ordinals, int64_t& resultNumber)
    {
        const int64_t first = m_handOver.NextOrdinal(lineEnds);
        size_t made = m_handOver.EntriesMade(lineEnds);
        const ResultEntry head { m_fileName, SharedText(sheet.Name()), first, {}, m_options.saveMode };
        Step(180, sheet, [&] {
            made += m_context.results.TakeLines(head, std::move(text), lineEnds, ordinals, m_options.skipEmptyLines);
        });
        resultNumber += static_cast<int64_t>(made);
    }

    // Adds an entry for one row's or column's text, as RecordLines does for each line.
    void RecordLine(
        Worksheet& sheet, const SharedText& sheetName, int64_t ordinal, std::string text, int64_t& resultNumber)
    {
        if (!(text.empty() && m_options.skipEmptyLines))
            Record(sheet, sheetName, ordinal, std::move(text), resultNumber);
    }

    // Once a few hundred lines are composed, reserves room for the whole text from their
    // average length (within the text budget), so a text of hundreds of megabytes is not
    // copied again and again as it grows.
    void ReserveFromSample(std::string& text, size_t sheetStart, int32_t position, int32_t first, int32_t last) const
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

    // How the texts composed go on to the sink as they grow.
    TextHandOver& HandOver() { return m_handOver; }

private:
    // Runs body; running out of memory becomes a failure naming the workbook and worksheet.
    template <typename F> void NamingOutOfMemory(Worksheet& sheet, F&& body)
    {
        try {
            body();
        } catch (const std::bad_alloc&) {
            throw SpreadsheetError(ErrorCode::TooLarge, "Out of memory exporting " + SheetOf(sheet, *m_workbook));
        }
    }

    template <typename F> bool Step(int number, Worksheet& sheet, F&& body)
    {
        auto named = [&] { NamingOutOfMemory(sheet, body); };
        if (!m_runner) {
            named();
            return true;
        }
        return m_runner->Step(number, named);
    }

    template <typename F> bool Test(int number, F&& test)
    {
        return m_runner ? m_runner->Test(number, std::forward<F>(test)) : static_cast<bool>(test());
    }

    // Composes one line: addCells adds its cells' texts. The line goes to out and its
    // text is charged.
    // Loads the worksheet handing its rows to compose, which returns false to stop; then
    // finish completes what it composed (false when that cannot stand) and drop undoes
    // it. Gives what came of it, as WalkWhileLoading describes.
    template <typename Compose, typename Finish, typename Drop>
    Streamed ComposeWhileLoading(
        Worksheet& sheet, Lines kind, const StreamedLines& lines, Compose&& compose, Finish&& finish, Drop&& drop)
    {
        // Lines that depend on merged areas or hidden rows wait for the whole worksheet; one
        // at hand is walked as it is.
        if (sheet.Loaded() || m_reader.UsesLayout())
            return Streamed::No;
        const uint64_t textUsed = m_budget.TextUsed();
        const std::string lastText = m_lastText;
        std::vector<std::pair<int, std::exception_ptr>> failures;
        m_deferredFailures = &failures;
        bool everyRow = false;
        try {
            everyRow = sheet.VisitRowsWhileLoading([&](const spreadsheet::RowBatch& rows) {
                try {
                    return compose(rows);
                } catch (...) {
                    return false;
                }
            });
            everyRow = everyRow && (kind == Lines::Rows || failures.empty()) && finish();
        } catch (...) {
            // The load failed: Prepare reports it as it would have.
            everyRow = false;
        }
        m_deferredFailures = nullptr;
        const uint64_t composed = m_budget.TextUsed() - textUsed;
        m_budget.GiveBackTextTo(textUsed);
        if (m_context.pump.StopRequested()) {
            // Stopped: the worksheet is neither finished nor walked again.
            drop();
            m_lastText = lastText;
            return Streamed::PassedOver;
        }
        CellRange range;
        const bool matches = everyRow && lines.Matches(sheet.UsedRange());
        if (!matches) {
            drop();
            m_lastText = lastText;
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

    // The lines of the columns being composed while a worksheet loads.
    struct ColumnLines {
        std::vector<std::string> texts;
        std::vector<LineComposer> composers;
        size_t composed = 0; // their bytes, all of them still to be charged
        std::string lastOfLast; // the text last read in the last column, as the walk ends on it
        bool reserved = false; // room for the whole lines was reserved once from a sample
    };

    // Adds the rows of a batch, and the empty rows before each, to every column's line.
    bool ComposeColumns(
        Worksheet& sheet, int label, StreamedLines& lines, ColumnLines& columns, const spreadsheet::RowBatch& rows)
    {
        if (!lines.Take(rows))
            return false;
        const auto width = static_cast<size_t>(lines.Width());
        if (columns.composers.empty()) {
            columns.texts.resize(width);
            columns.composers.assign(width, m_composer);
            for (size_t c = 0; c < width; ++c)
                columns.composers[c].Begin(columns.texts[c]);
        }
        const int32_t last = rows.LastRowNumber();
        const uint64_t rowCount = static_cast<uint64_t>(last - lines.FirstRow()) + 1;
        m_budget.SetSheetBytes(rows.StoredBytes());
        if (!m_charges.Affordable(
                m_options.includeBlankCells ? rowCount * width : width + rows.EndCell(), width, rowCount))
            return false;
        const int32_t expected = ExpectedLastRow(rows);
        const auto addTo = [&](size_t c, auto&& read) {
            const size_t before = columns.texts[c].size();
            AddTo(columns.composers[c], columns.composed - before, sheet, label, read);
            columns.composed += columns.texts[c].size() - before;
            if (c + 1 == width)
                columns.lastOfLast = m_lastText;
        };
        for (size_t r = 0; r < rows.RowCount(); ++r) {
            if (m_context.pump.StopRequested())
                return false;
            for (; lines.Next() <= rows.RowNumber(r); lines.Advance()) {
                m_context.pump.Run();
                if (expected > 0)
                    SetProgress(lines.Next(), expected);
                if (lines.Next() == rows.RowNumber(r)) {
                    AddAcross(rows, r, lines, [&](size_t c, const spreadsheet::Cell* cell) {
                        addTo(c, [&] { return cell ? m_reader.TextOf(sheet, *cell, rows) : std::string_view(); });
                    });
                } else if (m_options.includeBlankCells) {
                    for (size_t c = 0; c < width; ++c)
                        addTo(c, [] { return std::string_view(); });
                }
            }
        }
        ReserveColumns(columns, lines.Next() - lines.FirstRow(), expected - lines.FirstRow() + 1);
        return true;
    }

    // Calls add(column index, cell) for the cells of row r of rows in the columns of the
    // lines: the recorded ones, or with blank cells kept every column (nullptr where none).
    template <typename AddCell>
    void AddAcross(const spreadsheet::RowBatch& rows, size_t r, const StreamedLines& lines, AddCell&& add) const
    {
        size_t i = rows.CellsBegin(r);
        const size_t end = rows.CellsEnd(r);
        if (!m_options.includeBlankCells) {
            for (; i < end; ++i)
                add(static_cast<size_t>(rows.CellAt(i).column - lines.FirstColumn()), &rows.CellAt(i));
            return;
        }
        for (int32_t across = lines.FirstColumn(); across <= lines.LastColumn(); ++across) {
            const bool here = i < end && rows.CellAt(i).column == across;
            add(static_cast<size_t>(across - lines.FirstColumn()), here ? &rows.CellAt(i++) : nullptr);
        }
    }

    // Once a few hundred rows are in, reserves each column's line from their average, as
    // ReserveFromSample does for one text.
    void ReserveColumns(ColumnLines& columns, int64_t done, int64_t total) const
    {
        constexpr int64_t kSampleRows = 512;
        if (columns.reserved || done < kSampleRows || total < 4 * kSampleRows)
            return;
        columns.reserved = true;
        const double scale = static_cast<double>(total) / static_cast<double>(done) * 1.05;
        const double room = static_cast<double>(m_budget.TextRoom()) / static_cast<double>(columns.texts.size());
        for (std::string& text : columns.texts) {
            text.reserve(static_cast<size_t>(std::min(static_cast<double>(text.size()) * scale, room)) + 4096);
            core::AdviseHugePages(text.data(), text.capacity());
        }
    }

    // Ends every column's line and charges its text, as the walk does line by line.
    bool EndColumns(Worksheet& sheet, ColumnLines& columns, std::vector<std::string>& texts)
    {
        for (size_t c = 0; c < columns.composers.size(); ++c) {
            columns.composers[c].End();
            m_charges.ChargeText(sheet, columns.texts[c].size());
        }
        if (!m_options.includeBlankCells && !columns.texts.empty())
            m_lastText = columns.lastOfLast;
        texts = std::move(columns.texts);
        return true;
    }

    template <typename AddCells> void ComposeLine(Worksheet& sheet, std::string& out, AddCells&& addCells)
    {
        m_context.pump.Run();
        const size_t before = out.size();
        m_composer.Begin(out);
        addCells();
        m_composer.End();
        m_charges.ChargeText(sheet, out.size() - before);
    }

    // Composes the lines of a batch of rows handed over during a load, and the empty
    // lines before each; false when the streamed text cannot be the walk's.
    bool ComposeRows(Worksheet& sheet, int label, std::string& out, size_t start, StreamedLines& lines,
        const spreadsheet::RowBatch& rows, std::vector<size_t>* lineEnds)
    {
        if (!lines.Take(rows))
            return false;
        const uint64_t width = m_options.includeBlankCells ? lines.Width() : 1;
        const int32_t last = rows.LastRowNumber();
        const uint64_t lineCount = static_cast<uint64_t>(last - lines.FirstRow()) + 1;
        m_budget.SetSheetBytes(rows.StoredBytes()); // the cells and stored texts loaded so far
        if (!m_charges.Affordable(
                lineCount * width + (m_options.includeBlankCells ? 0 : rows.EndCell()), lineCount, width))
            return false;
        const int32_t expected = ExpectedLastRow(rows);
        for (size_t r = 0; r < rows.RowCount(); ++r) {
            if (m_context.pump.StopRequested())
                return false;
            for (; lines.Next() <= rows.RowNumber(r); lines.Advance()) {
                const int32_t position = lines.Next();
                if (expected > 0) // else how far it is is unknown
                    SetProgress(position, expected);
                const bool recorded = position == rows.RowNumber(r);
                ComposeLine(sheet, out, [&] {
                    if (recorded)
                        AddRow(sheet, label, rows, r, lines);
                    else if (m_options.includeBlankCells)
                        for (int32_t across = lines.FirstColumn(); across <= lines.LastColumn(); ++across)
                            Add(sheet, label, [] { return std::string_view(); });
                });
                if (lineEnds)
                    lineEnds->push_back(out.size());
                ReserveFromSample(out, start, position, lines.FirstRow(), expected);
                m_handOver.AtLineEnd(out);
            }
        }
        return true;
    }

    // The last row the worksheet is expected to reach: the file's word, else as far as
    // the share of it read so far suggests; 0 when nothing tells.
    static int32_t ExpectedLastRow(const spreadsheet::RowBatch& rows)
    {
        const int32_t last = rows.LastRowNumber();
        if (rows.Expected().lastRow > 0 || rows.EndOfSheet())
            return std::max(rows.Expected().lastRow, last);
        if (rows.ShareRead() <= 0)
            return 0;
        return static_cast<int32_t>(std::min<double>(spreadsheet::kMaxRows, std::ceil(last / rows.ShareRead())));
    }

    // Adds the cells of row r of rows: the recorded ones, or with blank cells kept every
    // column of the lines.
    void AddRow(Worksheet& sheet, int label, const spreadsheet::RowBatch& rows, size_t r, const StreamedLines& lines)
    {
        AddAcross(rows, r, lines, [&](size_t, const spreadsheet::Cell* cell) {
            Add(sheet, label, [&] { return cell ? m_reader.TextOf(sheet, *cell, rows) : std::string_view(); });
        });
    }

    void SetProgress(int32_t position, int32_t last)
    {
        m_context.progress.Set((static_cast<double>(position) + 1.0) / (static_cast<double>(last) + 1.0) * 100.0);
    }

    template <typename ReadText> void Add(Worksheet& sheet, int label, ReadText&& read)
    {
        AddTo(m_composer, 0, sheet, label, read);
    }

    // As Add, into the line composer is composing; pending counts the bytes of other
    // lines composed beside it and not yet charged.
    template <typename ReadText>
    void AddTo(LineComposer& composer, size_t pending, Worksheet& sheet, int label, ReadText&& read)
    {
        m_context.pump.Run();
        if (!m_runner) {
            AddChecked(composer, pending, sheet, read());
            return;
        }
        // A failed read keeps the previous cell's text, as the step would have left it.
        try {
            NamingOutOfMemory(sheet, [&] { m_lastText.assign(read()); });
        } catch (...) {
            if (m_deferredFailures)
                m_deferredFailures->emplace_back(label, std::current_exception());
            else
                m_runner->Fail(label, std::current_exception());
        }
        AddChecked(composer, pending, sheet, m_lastText);
    }

    // Adds a cell's text to the line once it is sure to fit the budget, quoted with its
    // quotes doubled at worst, so that the text is refused before it grows, not after.
    void AddChecked(LineComposer& composer, size_t pending, Worksheet& sheet, std::string_view text)
    {
        m_charges.CheckText(sheet, pending + composer.Composed() + 2 * text.size() + 2 + m_options.divider.size());
        composer.Add(text);
    }

    ExportContext& m_context;
    std::optional<core::StepRunner> m_runner;
    LineComposer m_composer;
    CellReader m_reader;
    const options::ExportOptions& m_options;
    SharedText m_fileName;
    Workbook* m_workbook;
    std::string m_lastText;
    std::vector<std::pair<int, std::exception_ptr>>* m_deferredFailures = nullptr;
    ExportBudget m_budget;
    WalkCharges m_charges;
    TextHandOver m_handOver;
};

// One entry per line of every worksheet: rows or columns.
void ExportLines(ExportContext& context, Workbook* workbook, const options::ExportOptions& options,
    const std::string& workbookPath, int64_t& resultNumber, Lines lines, const char* procedure)
{
    SheetWalker walker(context, procedure, options, workbookPath, workbook);
    if (!walker.HasWorkbook())
        return;
    for (Worksheet& sheet : workbook->WorksheetsInTurn()) {
        if (context.pump.StopRequested())
            break;
        // Lines are composed while the worksheet loads, which spares holding it whole.
        // Rows are composed into one text that their entries share; columns, composed
        // side by side, each into a text of its own.
        std::string text;
        std::vector<size_t> lineEnds;
        std::vector<int64_t> ordinals; // with lines left out, each line's place in the used range
        // Whole lines go on to the sink as they come, when it holds little.
        walker.HandOver().Start(text,
            ResultEntry { ResultFileName(workbookPath), sheet.Name(), 1, {}, options.saveMode }, &lineEnds, &ordinals);
        auto streamed = SheetWalker::Streamed::No;
        if (lines == Lines::Rows) {
            try {
                streamed = walker.WalkWhileLoading(sheet, 142, text, &lineEnds);
            } catch (...) {
                walker.HandOver().Stop();
                throw;
            }
        } else {
            std::vector<std::string> texts;
            streamed = walker.ColumnsWhileLoading(sheet, 142, texts);
            if (streamed == SheetWalker::Streamed::Composed) {
                const SharedText sheetName(sheet.Name());
                int64_t ordinal = 1;
                for (std::string& column : texts)
                    walker.RecordLine(sheet, sheetName, ordinal++, std::move(column), resultNumber);
                walker.HandOver().Stop();
                sheet.Unload();
                continue;
            }
        }
        if (streamed == SheetWalker::Streamed::PassedOver) {
            walker.HandOver().Stop();
            continue;
        }
        if (streamed == SheetWalker::Streamed::No) {
            CellRange range;
            try {
                if (!walker.Prepare(sheet, lines, range)) {
                    walker.HandOver().Stop();
                    continue;
                }
                const int32_t first = lines == Lines::Rows ? range.firstRow : range.firstColumn;
                walker.Walk(sheet, lines, range, 142, text, [&](int32_t position, int32_t last) {
                    lineEnds.push_back(text.size());
                    ordinals.push_back(position - first + 1);
                    walker.ReserveFromSample(text, 0, position, first, last);
                });
            } catch (...) {
                // A worksheet that fails gives no entries: those that went are taken back.
                walker.HandOver().TakeBack(text, 0);
                walker.HandOver().Stop();
                throw;
            }
        }
        walker.RecordLines(sheet, std::move(text), lineEnds, ordinals, resultNumber);
        walker.HandOver().Stop();
        sheet.Unload();
    }
}

} // namespace

void ExportSheetToTextFile(ExportContext& context, Workbook* workbook, const options::ExportOptions& options,
    const std::string& workbookPath, int64_t& resultNumber)
{
    SheetWalker walker(context, "ExportSheetToTextFile", options, workbookPath, workbook);
    if (!walker.HasWorkbook())
        return;
    for (Worksheet& sheet : workbook->WorksheetsInTurn()) {
        if (context.pump.StopRequested())
            break;
        std::string text;
        walker.HandOver().Start(
            text, ResultEntry { ResultFileName(workbookPath), sheet.Name(), 0, {}, options.saveMode });
        try {
            const auto streamed = walker.WalkWhileLoading(sheet, 140, text);
            if (streamed == SheetWalker::Streamed::PassedOver) {
                walker.HandOver().Stop();
                continue;
            }
            CellRange range;
            if (streamed == SheetWalker::Streamed::No) {
                if (!walker.Prepare(sheet, Lines::Rows, range)) {
                    walker.HandOver().Stop();
                    continue;
                }
                walker.Walk(sheet, Lines::Rows, range, 140, text,
                    [&](int32_t row, int32_t last) { walker.ReserveFromSample(text, 0, row, range.firstRow, last); });
            }
        } catch (...) {
            // A worksheet that fails gives no entry: what went of it is taken back.
            walker.HandOver().TakeBack(text, 0);
            walker.HandOver().Stop();
            throw;
        }
        if (walker.HandOver().EntryBegun())
            walker.EndHandedEntry(sheet, std::move(text), resultNumber);
        else
            walker.Record(sheet, sheet.Name(), 0, std::move(text), resultNumber);
        walker.HandOver().Stop();
        sheet.Unload();
    }
}

void ExportRowToTextFile(ExportContext& context, Workbook* workbook, const options::ExportOptions& options,
    const std::string& workbookPath, int64_t& resultNumber)
{
    ExportLines(context, workbook, options, workbookPath, resultNumber, Lines::Rows, "ExportRowToTextFile");
}

void ExportColumnToTextFile(ExportContext& context, Workbook* workbook, const options::ExportOptions& options,
    const std::string& workbookPath, int64_t& resultNumber)
{
    ExportLines(context, workbook, options, workbookPath, resultNumber, Lines::Columns, "ExportColumnToTextFile");
}

void ExportAllSheetsToTextFile(
    ExportContext& context, Workbook* workbook, const options::ExportOptions& options, std::string& text)
{
    // Without a runner: the first failure ends the export and reaches the caller.
    SheetWalker walker(context, "ExportAllSheetsToTextFile", options, {}, workbook, false);
    walker.HasWorkbook();
    const std::string_view lineEnd = walker.LineEnd();
    for (Worksheet& sheet : workbook->WorksheetsInTurn()) {
        if (context.pump.StopRequested())
            break;
        // Each worksheet's text may be handed over as it grows and taken back up to its
        // name line; what went before is handed over first.
        walker.HandOver().Start(text, std::nullopt);
        const size_t nameStart = text.size();
        text += sheet.Name();
        text += lineEnd;
        const size_t sheetStart = text.size();
        auto streamed = SheetWalker::Streamed::No;
        try {
            streamed = walker.WalkWhileLoading(sheet, 0, text);
        } catch (...) {
            walker.HandOver().TakeBack(text, nameStart);
            walker.HandOver().Stop();
            throw;
        }
        if (streamed == SheetWalker::Streamed::No) {
            // Prepared before the name goes in, so that a failure leaves the text as it was.
            walker.HandOver().TakeBack(text, nameStart);
            CellRange range;
            bool hasContent = false;
            try {
                hasContent = walker.Prepare(sheet, Lines::Rows, range);
            } catch (...) {
                walker.HandOver().Stop();
                throw;
            }
            text += sheet.Name();
            text += lineEnd;
            if (hasContent) {
                try {
                    walker.Walk(sheet, Lines::Rows, range, 0, text, [&](int32_t row, int32_t last) {
                        walker.ReserveFromSample(text, sheetStart, row, range.firstRow, last);
                    });
                } catch (...) {
                    walker.HandOver().Stop(); // what was composed up to the failure stays
                    throw;
                }
            }
        }
        walker.HandOver().Stop();
        for (int i = 0; i < 3; ++i)
            text += lineEnd;
        sheet.Unload();
    }
}

} // namespace vellumcast::exporting
