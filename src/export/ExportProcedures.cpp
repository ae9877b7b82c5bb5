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
using spreadsheet::RowBatch;
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

// Where each line composed ends in its text and its place among the lines of the range,
// for texts whose lines become entries.
struct LineMarks {
    std::vector<size_t>* ends = nullptr;
    std::vector<int64_t>* ordinals = nullptr;
};

// Every procedure walks a workbook's worksheets in turn and composes their lines from
// rows, in one way for both sources of rows: those the engine hands over while it loads a
// worksheet (when it can), and the loaded worksheet's, held while they are read; the two
// give the same bytes. What each save mode does with the lines:
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

    // Composes the row lines of the loaded worksheet's range, as Prepare gave it,
    // appending them to out, each cell read a step `label`. Rows the workbook hides, when
    // left out, give no line and no mark. A stop ends the walk where it is.
    void Walk(Worksheet& sheet, const CellRange& range, int label, std::string& out, LineMarks marks = {})
    {
        NamingOutOfMemory(sheet, [&] {
            const Holding held(*this, sheet, range);
            RowLines lines(range);
            ComposeRows(sheet, label, out, out.size(), lines, held.Rows(), marks);
        });
    }

    // Composes the column lines of the loaded worksheet's range, as Prepare gave it: texts
    // gets one per column, composed from the rows in turn as ColumnsWhileLoading composes
    // them. A stop leaves texts empty.
    void WalkColumns(Worksheet& sheet, const CellRange& range, int label, std::vector<std::string>& texts)
    {
        NamingOutOfMemory(sheet, [&] {
            const Holding held(*this, sheet, range);
            RowLines lines(range);
            ColumnLines columns;
            if (ComposeColumns(sheet, label, lines, columns, held.Rows()))
                EndColumns(sheet, columns, texts);
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
    Streamed WalkWhileLoading(Worksheet& sheet, int label, std::string& out, LineMarks marks = {})
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

    // The lines of a worksheet, one per column, composed while it loads: each row handed
    // over adds its cells to every column's line, so the worksheet is never held whole.
    // texts gets a line for each column of the used range. As WalkWhileLoading, the
    // result must be what Prepare and WalkColumns give, or it is dropped.
    Streamed ColumnsWhileLoading(Worksheet& sheet, int label, std::vector<std::string>& texts)
    {
        RowLines lines(true); // the columns must be the used range's, blank cells kept or not
        ColumnLines columns;
        return ComposeWhileLoading(
            sheet, Lines::Columns, lines,
            [&](const RowBatch& rows) { return ComposeColumns(sheet, label, lines, columns, rows); },
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

    // Adds an entry for each column's text, numbered by its place in the used range, as
    // RecordLines does for each line; a column the workbook hides, when left out, gives none.
    void RecordColumns(Worksheet& sheet, int32_t firstColumn, std::vector<std::string>& texts, int64_t& resultNumber)
    {
        const SharedText sheetName(sheet.Name());
        for (size_t c = 0; c < texts.size(); ++c) {
            const auto column = static_cast<int32_t>(firstColumn + static_cast<int64_t>(c));
            if (m_reader.ColumnLeftOut(column) || (texts[c].empty() && m_options.skipEmptyLines))
                continue;
            Record(sheet, sheetName, static_cast<int64_t>(c) + 1, std::move(texts[c]), resultNumber);
        }
    }

    // How the texts composed go on to the sink as they grow.
    TextHandOver& HandOver() { return m_handOver; }

private:
    // While a loaded worksheet is walked: the walk reads its rows held, and a cell read
    // after something let the worksheet go (an event run between cells) loads it again
    // first, failing as that load fails, so that the read fails as it would on the file.
    class Holding {
    public:
        Holding(SheetWalker& walker, Worksheet& sheet, const CellRange& range)
            : m_walker(walker)
            , m_rows(sheet.HoldRows())
        {
            walker.m_reader.Begin(sheet, range);
            walker.m_holding = true;
        }
        ~Holding() { m_walker.m_holding = false; }
        Holding(const Holding&) = delete;
        Holding& operator=(const Holding&) = delete;
        const RowBatch& Rows() const { return m_rows.Rows(); }

    private:
        SheetWalker& m_walker;
        spreadsheet::HeldRows m_rows;
    };

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

    // Loads the worksheet handing its rows to compose, which returns false to stop; then
    // finish completes what it composed (false when that cannot stand) and drop undoes
    // it. Gives what came of it, as WalkWhileLoading describes.
    template <typename Compose, typename Finish, typename Drop>
    Streamed ComposeWhileLoading(
        Worksheet& sheet, Lines kind, const RowLines& lines, Compose&& compose, Finish&& finish, Drop&& drop)
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
            everyRow = sheet.VisitRowsWhileLoading([&](const RowBatch& rows) {
                try {
                    return compose(rows);
                } catch (...) {
                    return false;
                }
            });
            everyRow = everyRow && finish();
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

    // Takes in a batch of rows for lines along kind; false when the lines composed from
    // them cannot be the walk's or would not fit the budget. A loaded worksheet's walk
    // was charged as a whole beforehand.
    bool Admit(Lines kind, RowLines& lines, const RowBatch& rows)
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

    // Calls line(row, r) for each line up to row `upTo`, r being the index in rows of a
    // row that holds cells (kNoRow for none); a line the workbook hides gives no call.
    // False when the export is stopped.
    template <typename Line>
    bool ForEachLineUpTo(int32_t upTo, size_t r, RowLines& lines, int32_t expected, Line&& line)
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

    // Calls line(row, r) for every line the batch of rows reaches, as ForEachLineUpTo; the
    // lines of a fixed range run on to its end. False when the export is stopped.
    template <typename Line> bool ForEachLine(RowLines& lines, const RowBatch& rows, int32_t expected, Line&& line)
    {
        for (size_t r = 0; r < rows.RowCount() && rows.RowNumber(r) <= lines.LastRow(); ++r) {
            if (!ForEachLineUpTo(rows.RowNumber(r), r, lines, expected, line))
                return false;
        }
        return !lines.Fixed() || ForEachLineUpTo(lines.LastRow(), kNoRow, lines, expected, line);
    }

    // Composes the lines of a batch of rows, and the empty lines before each, appending
    // them to out from start on; false when the text cannot be the walk's.
    bool ComposeRows(Worksheet& sheet, int label, std::string& out, size_t start, RowLines& lines, const RowBatch& rows,
        const LineMarks& marks)
    {
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

    // The lines of the columns being composed from rows.
    struct ColumnLines {
        std::vector<std::string> texts;
        std::vector<LineComposer> composers;
        size_t composed = 0; // their bytes, all of them still to be charged
        bool reserved = false; // room for the whole lines was reserved once from a sample
    };

    // Adds the cells of a batch of rows, and of the empty rows before each, to every
    // column's line; false when the lines cannot be the walk's.
    bool ComposeColumns(Worksheet& sheet, int label, RowLines& lines, ColumnLines& columns, const RowBatch& rows)
    {
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
                const size_t before = columns.texts[c].size();
                AddTo(columns.composers[c], columns.composed - before, sheet, label, read);
                columns.composed += columns.texts[c].size() - before;
            });
        });
        ReserveColumns(columns, lines.Next() - lines.FirstRow(), expected - lines.FirstRow() + 1);
        return composed;
    }

    // Calls visit(index, read) for each cell of row r of rows (kNoRow: a row without
    // cells) that a line takes, index being its column's place in the lines and read()
    // giving its text: the recorded ones, or with blank cells kept every column of the
    // lines; with the layout used, as the layout makes them.
    template <typename Visit>
    void ForEachCell(Worksheet& sheet, const RowBatch& rows, size_t r, const RowLines& lines, Visit&& visit)
    {
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

    // The text of a cell of rows, "" for none.
    std::string_view ReadCell(Worksheet& sheet, const spreadsheet::Cell* cell, const RowBatch& rows)
    {
        if (m_holding && !sheet.Loaded())
            sheet.UsedRange(); // loads it again, or throws as the load does
        return cell ? m_reader.TextOf(sheet, *cell, rows) : std::string_view();
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
        texts = std::move(columns.texts);
        return true;
    }

    // Composes one line: addCells adds its cells' texts. The line goes to out and its
    // text is charged.
    template <typename AddCells> void ComposeLine(Worksheet& sheet, std::string& out, AddCells&& addCells)
    {
        m_context.pump.Run();
        const size_t before = out.size();
        m_composer.Begin(out);
        addCells();
        m_composer.End();
        m_charges.ChargeText(sheet, out.size() - before);
    }

    // The last row the lines are expected to reach: a fixed range's, else the file's word,
    // else as far as the share of it read so far suggests; 0 when nothing tells.
    static int32_t ExpectedLastRow(const RowLines& lines, const RowBatch& rows)
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
    bool m_holding = false; // a loaded worksheet is walked through its rows held
    ExportBudget m_budget;
    WalkCharges m_charges;
    TextHandOver m_handOver;
};

// The row lines of a worksheet, each an entry: composed into one text that their entries
// share, while it loads or from the loaded worksheet. Whole lines go on to the sink as they
// come, when it holds little.
void ExportRowLines(SheetWalker& walker, Worksheet& sheet, const ResultEntry& head, int64_t& resultNumber)
{
    std::string text;
    std::vector<size_t> lineEnds;
    std::vector<int64_t> ordinals; // each line's place in the used range, as lines may be left out
    walker.HandOver().Start(text, head, &lineEnds, &ordinals);
    const LineMarks marks { &lineEnds, &ordinals };
    try {
        const auto streamed = walker.WalkWhileLoading(sheet, 142, text, marks);
        CellRange range;
        if (streamed == SheetWalker::Streamed::PassedOver
            || (streamed == SheetWalker::Streamed::No && !walker.Prepare(sheet, Lines::Rows, range))) {
            walker.HandOver().Stop();
            return;
        }
        if (streamed == SheetWalker::Streamed::No)
            walker.Walk(sheet, range, 142, text, marks);
    } catch (...) {
        // A worksheet that fails gives no entries: those that went are taken back.
        walker.HandOver().TakeBack(text, 0);
        walker.HandOver().Stop();
        throw;
    }
    walker.RecordLines(sheet, std::move(text), lineEnds, ordinals, resultNumber);
    walker.HandOver().Stop();
}

// The column lines of a worksheet, each an entry with a text of its own: composed side by
// side from its rows, while it loads or from the loaded worksheet.
void ExportColumnLines(SheetWalker& walker, Worksheet& sheet, int64_t& resultNumber)
{
    std::vector<std::string> texts;
    const auto streamed = walker.ColumnsWhileLoading(sheet, 142, texts);
    if (streamed == SheetWalker::Streamed::PassedOver)
        return;
    CellRange range;
    if (streamed == SheetWalker::Streamed::Composed)
        range = sheet.UsedRange();
    else if (walker.Prepare(sheet, Lines::Columns, range))
        walker.WalkColumns(sheet, range, 142, texts);
    walker.RecordColumns(sheet, range.firstColumn, texts, resultNumber);
}

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
        if (lines == Lines::Columns)
            ExportColumnLines(walker, sheet, resultNumber);
        else
            ExportRowLines(walker, sheet,
                ResultEntry { ResultFileName(workbookPath), sheet.Name(), 1, {}, options.saveMode }, resultNumber);
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
                walker.Walk(sheet, range, 140, text);
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
                    walker.Walk(sheet, range, 0, text);
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
