#pragma once
// How the export procedures walk a workbook's worksheets: the emptiness test and budget
// of each walk, the composition of lines from rows (handed over while a worksheet loads,
// or the loaded worksheet's), the progress and the recording of entries. Internal to the
// export layer.

#include "core/StepRunner.h"
#include "export/CellReader.h"
#include "export/ExportBudget.h"
#include "export/ExportProcedures.h"
#include "export/LineComposer.h"
#include "export/LineSources.h"
#include "export/TextHandOver.h"
#include "export/WalkCharges.h"
#include "options/ExportOptions.h"
#include "spreadsheet/Workbook.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vellumcast::exporting {

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
        const std::string& workbookPath, spreadsheet::Workbook* workbook, bool reportFailures = true);
    ~SheetWalker();
    SheetWalker(const SheetWalker&) = delete;
    SheetWalker& operator=(const SheetWalker&) = delete;

    // How every line of the texts ends: CR LF, or LF alone when asked.
    std::string_view LineEnd() const { return m_composer.LineEnd(); }
    // The line naming a worksheet, and the lines that end it, in a text holding all the
    // workbook's worksheets (LineComposer::AddSheetLine, AddSheetEnd).
    void AddSheetLine(std::string& text, std::string_view name) const { m_composer.AddSheetLine(text, name); }
    void AddSheetEnd(std::string& text) const { m_composer.AddSheetEnd(text); }

    // Reports a missing workbook (step 100). Returns whether there is one.
    bool HasWorkbook();

    // Reads the used range and checks that the walk fits the budget (step 108). A
    // worksheet that cannot be read is reported once and passed over, rather than
    // failing again for every cell. Returns false for a worksheet to pass over:
    // unreadable, too large, or without content.
    bool Prepare(spreadsheet::Worksheet& sheet, Lines lines, spreadsheet::CellRange& range);

    // Composes the row lines of the loaded worksheet's range, as Prepare gave it,
    // appending them to out, each cell read a step `label`. Rows the workbook hides, when
    // left out, give no line and no mark. A stop ends the walk where it is.
    void Walk(spreadsheet::Worksheet& sheet, const spreadsheet::CellRange& range, int label, std::string& out,
        LineMarks marks = {});

    // Composes the column lines of the loaded worksheet's range, as Prepare gave it: texts
    // gets one per column, composed from the rows in turn as ColumnsWhileLoading composes
    // them. A stop leaves texts empty.
    void WalkColumns(
        spreadsheet::Worksheet& sheet, const spreadsheet::CellRange& range, int label, std::vector<std::string>& texts);

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
    Streamed WalkWhileLoading(spreadsheet::Worksheet& sheet, int label, std::string& out, LineMarks marks = {});

    // The lines of a worksheet, one per column, composed while it loads: each row handed
    // over adds its cells to every column's line, so the worksheet is never held whole.
    // texts gets a line for each column of the used range. As WalkWhileLoading, the
    // result must be what Prepare and WalkColumns give, or it is dropped.
    Streamed ColumnsWhileLoading(spreadsheet::Worksheet& sheet, int label, std::vector<std::string>& texts);

    // Adds an entry for a composed text (step 180).
    void Record(spreadsheet::Worksheet& sheet, const SharedText& sheetName, int64_t ordinal, std::string text,
        int64_t& resultNumber);

    // Ends the entry the hand-over began with the rest of its text (step 180), as Record
    // adds one.
    void EndHandedEntry(spreadsheet::Worksheet& sheet, std::string rest, int64_t& resultNumber);

    // Adds an entry for each line of text, which ends at the matching place in lineEnds,
    // numbered by the matching ordinal, or one after another without ordinals (from 1,
    // or on from the lines handed over); a line of blank cells alone gives no entry when
    // empty lines are skipped, so it leaves no file either. Its number is still counted:
    // the lines after it keep their place in the used range.
    void RecordLines(spreadsheet::Worksheet& sheet, std::string text, const std::vector<size_t>& lineEnds,
        const std::vector<int64_t>& ordinals, int64_t& resultNumber);

    // Adds an entry for each column's text, numbered by its place in the used range, as
    // RecordLines does for each line; a column the workbook hides, when left out, gives none.
    void RecordColumns(
        spreadsheet::Worksheet& sheet, int32_t firstColumn, std::vector<std::string>& texts, int64_t& resultNumber);

    // How the texts composed go on to the sink as they grow.
    TextHandOver& HandOver() { return m_handOver; }

private:
    // While a loaded worksheet is walked: the walk reads its rows held, and a cell read
    // after something let the worksheet go (an event run between cells) loads it again
    // first, failing as that load fails, so that the read fails as it would on the file.
    class Holding {
    public:
        Holding(SheetWalker& walker, spreadsheet::Worksheet& sheet, const spreadsheet::CellRange& range)
            : m_walker(walker)
            , m_rows(sheet.HoldRows())
        {
            walker.m_reader.Begin(sheet, range);
            walker.m_holding = true;
        }
        ~Holding() { m_walker.m_holding = false; }
        Holding(const Holding&) = delete;
        Holding& operator=(const Holding&) = delete;
        const spreadsheet::RowBatch& Rows() const { return m_rows.Rows(); }

    private:
        SheetWalker& m_walker;
        spreadsheet::HeldRows m_rows;
    };

    // Keeps the last text read when a batch of rows is done with, however it ends: the
    // rows it may lie in go with the batch.
    class KeepingLastText {
    public:
        explicit KeepingLastText(SheetWalker& walker)
            : m_walker(walker)
        {
        }
        ~KeepingLastText() { m_walker.KeepLastText(); }
        KeepingLastText(const KeepingLastText&) = delete;
        KeepingLastText& operator=(const KeepingLastText&) = delete;

    private:
        SheetWalker& m_walker;
    };

    // Runs body; running out of memory becomes a failure naming the workbook and worksheet.
    template <typename F> void NamingOutOfMemory(spreadsheet::Worksheet& sheet, F&& body);

    template <typename F> bool Step(int number, spreadsheet::Worksheet& sheet, F&& body);

    template <typename F> bool Test(int number, F&& test);

    // Loads the worksheet handing its rows to compose, which returns false to stop; then
    // finish completes what it composed (false when that cannot stand) and drop undoes
    // it. Gives what came of it, as WalkWhileLoading describes.
    template <typename Compose, typename Finish, typename Drop>
    Streamed ComposeWhileLoading(spreadsheet::Worksheet& sheet, Lines kind, const RowLines& lines, Compose&& compose,
        Finish&& finish, Drop&& drop);

    // Takes in a batch of rows for lines along kind; false when the lines composed from
    // them cannot be the walk's or would not fit the budget. A loaded worksheet's walk
    // was charged as a whole beforehand.
    bool Admit(Lines kind, RowLines& lines, const spreadsheet::RowBatch& rows);

    // Calls line(row, r) for each line up to row `upTo`, r being the index in rows of a
    // row that holds cells (kNoRow for none); a line the workbook hides gives no call.
    // False when the export is stopped.
    template <typename Line>
    bool ForEachLineUpTo(int32_t upTo, size_t r, RowLines& lines, int32_t expected, Line&& line);

    // Calls line(row, r) for every line the batch of rows reaches, as ForEachLineUpTo; the
    // lines of a fixed range run on to its end. False when the export is stopped.
    template <typename Line>
    bool ForEachLine(RowLines& lines, const spreadsheet::RowBatch& rows, int32_t expected, Line&& line);

    // Composes the lines of a batch of rows, and the empty lines before each, appending
    // them to out from start on; false when the text cannot be the walk's.
    bool ComposeRows(spreadsheet::Worksheet& sheet, int label, std::string& out, size_t start, RowLines& lines,
        const spreadsheet::RowBatch& rows, const LineMarks& marks);

    // The lines of the columns being composed from rows.
    struct ColumnLines {
        std::vector<std::string> texts;
        std::vector<LineComposer> composers;
        size_t composed = 0; // their bytes, all of them still to be charged
        bool reserved = false; // room for the whole lines was reserved once from a sample
    };

    // Adds the cells of a batch of rows, and of the empty rows before each, to every
    // column's line; false when the lines cannot be the walk's.
    bool ComposeColumns(spreadsheet::Worksheet& sheet, int label, RowLines& lines, ColumnLines& columns,
        const spreadsheet::RowBatch& rows);

    // Calls visit(index, read) for each cell of row r of rows (kNoRow: a row without
    // cells) that a line takes, index being its column's place in the lines and read()
    // giving its text: the recorded ones, or with blank cells kept every column of the
    // lines; with the layout used, as the layout makes them.
    template <typename Visit>
    void ForEachCell(spreadsheet::Worksheet& sheet, const spreadsheet::RowBatch& rows, size_t r, const RowLines& lines,
        Visit&& visit);

    // The text of a cell of rows, "" for none.
    std::string_view ReadCell(
        spreadsheet::Worksheet& sheet, const spreadsheet::Cell* cell, const spreadsheet::RowBatch& rows);

    // Once a few hundred lines are composed, reserves room for the whole text from their
    // average length (within the text budget), so a text of hundreds of megabytes is not
    // copied again and again as it grows.
    void ReserveFromSample(std::string& text, size_t sheetStart, int32_t position, int32_t first, int32_t last) const;

    // Once a few hundred rows are in, reserves each column's line from their average, as
    // ReserveFromSample does for one text.
    void ReserveColumns(ColumnLines& columns, int64_t done, int64_t total) const;

    // Ends every column's line and charges its text, as the walk does line by line.
    void EndColumns(spreadsheet::Worksheet& sheet, ColumnLines& columns, std::vector<std::string>& texts);

    // Composes one line: addCells adds its cells' texts. The line goes to out and its
    // text is charged.
    template <typename AddCells> void ComposeLine(spreadsheet::Worksheet& sheet, std::string& out, AddCells&& addCells);

    // The last row the lines are expected to reach: a fixed range's, else the file's word,
    // else as far as the share of it read so far suggests; 0 when nothing tells.
    static int32_t ExpectedLastRow(const RowLines& lines, const spreadsheet::RowBatch& rows);

    void SetProgress(int32_t position, int32_t last);

    template <typename ReadText> void Add(spreadsheet::Worksheet& sheet, int label, ReadText&& read);

    // As Add, into the line composer is composing; pending counts the bytes of other
    // lines composed beside it and not yet charged.
    template <typename ReadText>
    void AddTo(LineComposer& composer, size_t pending, spreadsheet::Worksheet& sheet, int label, ReadText&& read);

    // Copies the last text read to m_keptText, as the rows or scratch it lies in may go.
    void KeepLastText() noexcept;

    // Adds a cell's text to the line once it is sure to fit the budget, quoted with its
    // quotes doubled at worst, so that the text is refused before it grows, not after.
    void AddChecked(LineComposer& composer, size_t pending, spreadsheet::Worksheet& sheet, std::string_view text);

    ExportContext& m_context;
    std::optional<core::StepRunner> m_runner;
    LineComposer m_composer;
    CellReader m_reader;
    const options::ExportOptions& m_options;
    SharedText m_fileName;
    spreadsheet::Workbook* m_workbook;
    // The text of the last cell read, kept for a read that fails: it lies in the reader's
    // scratch, in the cells read or in m_keptText, and is moved to m_keptText before what
    // it lies in may go (KeepLastText).
    std::string_view m_lastText;
    std::string m_keptText;
    std::vector<std::pair<int, std::exception_ptr>>* m_deferredFailures = nullptr;
    bool m_holding = false; // a loaded worksheet is walked through its rows held
    // The progress last told: at which row, of how many, and from which row on it is told again.
    int32_t m_progressAt = 0;
    int32_t m_progressLast = 0;
    int32_t m_progressNext = 0;
    // The share of a worksheet's progress its load before the walk takes, in percent.
    static constexpr double kLoadPercent = 200.0 / 3;
    double m_walkFrom = 0; // where the walk's progress starts: after the load it followed

    ExportBudget m_budget;
    WalkCharges m_charges;
    TextHandOver m_handOver;
};

} // namespace vellumcast::exporting
