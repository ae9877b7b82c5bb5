#pragma once
// The engine's object model: an Application opens Workbooks; a Workbook lists its
// Worksheets; a Worksheet answers its name, its used range and each cell's displayed text.

#include "spreadsheet/Cell.h"
#include "spreadsheet/CellValues.h"
#include "spreadsheet/RowBatch.h"
#include "spreadsheet/SpreadsheetError.h"
#include "spreadsheet/WorkbookReader.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellumcast::spreadsheet {

class Workbook;
class SheetData;
class SheetLayout;

namespace formula {
class WorkbookCalc;
}

// What the engine does with formulas the file holds no value for.
struct FormulaOptions {
    // Computed as the application computes them on opening; off, they stay blank, as
    // before formulas were computed. Either way the workbook warns of those left blank.
    bool compute = true;
    // The clock TODAY and NOW read, a serial of the 1900 date system; none: the machine's
    // local time when the workbook first asks for it.
    std::optional<double> now;
};

// A worksheet's loaded rows, held: they stay readable for as long as the hold lasts, even
// when the worksheet is let go of meanwhile. Then they are no longer the worksheet's: it
// loads anew when next read, and the hold keeps only the memory of the rows it holds.
class HeldRows {
public:
    const RowBatch& Rows() const { return m_rows; }

private:
    friend class Worksheet;
    HeldRows(RowBatch rows, std::shared_ptr<const SheetData> cells)
        : m_rows(rows)
        , m_cells(std::move(cells))
    {
    }
    RowBatch m_rows;
    std::shared_ptr<const SheetData> m_cells;
};

// The fewest bytes a worksheet's load must read for Worksheet::VisitRowsWhileLoading to
// load it on a second thread: below it, a thread costs more than it saves. Defaults to
// 1 MiB. Worksheets whose size is unknown beforehand count as large.
uint64_t LoadBesideWalkThreshold();
// Sets that threshold for every workbook, from any thread; tests and fuzz targets set 0
// so that small worksheets take the path large ones do. kNeverLoadBeside turns loading
// beside off: every worksheet is loaded before it is walked.
void SetLoadBesideWalkThreshold(uint64_t bytes);
inline constexpr uint64_t kNeverLoadBeside = UINT64_MAX;

class Worksheet {
public:
    const std::string& Name() const;
    SheetVisibility Visibility() const;

    // The bounding box of every recorded cell, or A1 when there is none. Loads the
    // worksheet on first use (and lets go of any other loaded worksheet of the workbook).
    // Throws SpreadsheetError naming the workbook and the worksheet.
    CellRange UsedRange();

    // The cell's text in a style (CellValues.h), by default as displayed; "" for an empty
    // cell. The view stays valid until the next call on this workbook.
    std::string_view CellText(int32_t row, int32_t column, CellTextStyle style = CellTextStyle::Displayed);
    // The same, a text made for the call (a formatted number) being made in scratch: the
    // view stays valid while scratch is left alone and the cells stay loaded or held, so a
    // walk can keep the text read before while it reads the next into a second scratch.
    std::string_view CellText(int32_t row, int32_t column, CellTextStyle style, std::string& scratch);

    // How many cells the worksheet records. Loads it on first use, as UsedRange does.
    size_t CellCount();
    // The bytes its cells and stored texts take, as loaded. Loads it as CellCount does.
    size_t StoredBytes();

    // The rows that hold cells, for walks that visit only the recorded ones. Loads the
    // worksheet on first use, as UsedRange does; valid until it is unloaded.
    RowBatch Rows();
    // The same rows, held (HeldRows): a walk that lets events run between its cells reads
    // them safely even if something lets the worksheet go meanwhile.
    HeldRows HoldRows();

    // The areas merged into one cell, in the grid, in order of first row then first
    // column, none overlapping another (SheetLayout::Finish says which of overlapping
    // ones stays). Whether a row or column is hidden. Each loads the worksheet on first
    // use, as UsedRange does: some formats record merges after the cells, so they are
    // complete only once the worksheet is. While VisitRowsWhileLoading runs they are not
    // to be asked; once it returns they stand, whether or not the cells were read
    // through. Throws SpreadsheetError as UsedRange does.
    const std::vector<CellRange>& MergedAreas();
    bool RowHidden(int32_t row);
    bool ColumnHidden(int32_t column);
    // How many rows and columns of the used range are hidden. Loads as UsedRange does.
    int64_t HiddenRowCount();
    int64_t HiddenColumnCount();

    // Frees the loaded cells; the next call loads them again.
    void Unload();

    bool Loaded() const { return m_loaded; }

    // Hands the worksheet's rows to visit in order, in batches, while it loads on a second
    // thread, so that they can be read while later rows load; the memory of rows read is
    // reused for later ones. The engine decides whether that is worth a thread: not for a
    // worksheet loaded already or too small (LoadBesideWalkThreshold), and then nothing is
    // handed over. visit must not throw; it returns false to be given no more. Returns
    // whether the batches were every row of the worksheet, in order: then its used range
    // and cell count stand, and reading its cells again loads it again. Otherwise it is
    // loaded as by UsedRange, or unloaded. A failed load is thrown, as UsedRange throws it.
    // displayedOnly promises that the visit reads the cells' texts only as displayed
    // (CellTextStyle::Displayed): numbers are then formatted on the loading thread, and
    // the rows handed over hold them as text (CellKind::DisplayedNumber). Cells loaded so
    // are loaded again, as recorded, when next read through Rows, HoldRows or CellText in
    // another style than displayed.
    bool VisitRowsWhileLoading(const std::function<bool(const RowBatch&)>& visit, bool displayedOnly = false);

    // The text of a cell of a batch of rows, loaded or handed over, in a style
    // (CellValues.h): displayed, raw, or displayed with dates and times in ISO 8601. Valid
    // as CellText's. Cells a reader keeps as text (csv) give that text in every style;
    // OpenDocument cells, which record the text they display, give the value recorded
    // beside it (TextWithValue, TextWithDate).
    std::string_view TextOf(const Cell& cell, const RowBatch& rows, CellTextStyle style = CellTextStyle::Displayed);
    // The same, a text made for the call being made in scratch, as CellText's with scratch.
    // A number shown as it loaded, the most common cell of a long worksheet, is read inline.
    std::string_view TextOf(const Cell& cell, const RowBatch& rows, CellTextStyle style, std::string& scratch)
    {
        if (cell.kind == CellKind::DisplayedNumber && style == CellTextStyle::Displayed)
            return rows.StoredText(cell);
        return AnyTextOf(cell, rows, style, scratch);
    }
    // Tells the engine that the texts of row r of rows are about to be read: shared
    // strings, looked up in no order, are fetched into the processor's caches meanwhile.
    void PrefetchTexts(const RowBatch& rows, size_t r) const;

    Worksheet(Worksheet&&) noexcept;
    ~Worksheet();

private:
    friend class Workbook;
    template <typename Run> void LoadWith(Run&& run);
    std::string_view DisplayText(const Cell& cell, std::string_view storedText, std::string& scratch);
    std::string_view StyledText(
        const Cell& cell, std::string_view storedText, CellTextStyle style, std::string& scratch);
    std::string_view AnyTextOf(const Cell& cell, const RowBatch& rows, CellTextStyle style, std::string& scratch);
    // TextOf, with storedText(cell) giving a cell's stored text: a batch's or the loaded cells'.
    template <typename StoredText>
    std::string_view TextIn(const Cell& cell, CellTextStyle style, StoredText&& storedText, std::string& scratch);
    // Whether a cell of this style gives the raw text recorded beside its displayed one.
    static bool TextWithValue(const Cell& cell, CellTextStyle style);
    Worksheet(Workbook& owner, size_t index);
    // What a caller reads of the loaded worksheet: its extent alone, its cells as
    // displayed, or its cells as recorded.
    enum class Reading : uint8_t { Extent, Displayed, Recorded };
    // Loads the worksheet unless it is; loads again one that was read through, when its
    // cells are read, or whose numbers were shown as text, when they are read as recorded.
    void EnsureLoaded(Reading reading = Reading::Extent);

    Workbook* m_owner;
    size_t m_index;
    bool m_loaded = false;
    std::exception_ptr m_failedLoad; // what the last load beside this thread threw
    bool m_loadingAside = false;
    bool m_unloadWhenLoaded = false; // Unload was called during a load beside
    std::shared_ptr<SheetData> m_data; // shared with the holds on its rows; none until loaded
    std::unique_ptr<SheetLayout> m_layout; // as complete as m_data
};

class Workbook {
public:
    Workbook(std::string path, std::unique_ptr<WorkbookReader> reader, WorkbookData data, std::function<void()> yield,
        uint64_t fileSize);
    Workbook(const Workbook&) = delete;
    Workbook& operator=(const Workbook&) = delete;

    const std::string& Path() const { return m_path; }
    // The size of the workbook's file in bytes: what bounds the work it may cause.
    uint64_t FileSize() const { return m_fileSize; }

    // What the workbook holds that shows other than stored (an unreadable number format
    // shown as General, a reference to a shared string or style it does not have), each
    // kind once, as sentences naming the workbook. Grows as worksheets are read.
    const std::vector<std::string>& Warnings() const { return m_warnings; }
    // Adds a warning about the workbook from those who read it, such as the export that
    // leaves part of a worksheet out; it is prefixed with the workbook's path.
    void Warn(const std::string& what) { m_warnings.push_back(m_path + ": " + what); }

    // Every worksheet, in workbook order. A workbook whose list runs through its
    // worksheets' content is read to its end for it. Throws SpreadsheetError naming the
    // workbook when the list cannot be read.
    std::deque<Worksheet>& Worksheets();

    // Leaves only the worksheets at these indexes (from 0, as Worksheets() lists them
    // now, ascending) in Worksheets() and WorksheetsInTurn(): a choice of worksheets to
    // export. Indexes past the last worksheet are ignored. Lists every worksheet for it,
    // throwing as Worksheets() does, and unloads the one loaded.
    void KeepWorksheets(const std::vector<size_t>& indexes);

    // The worksheets in workbook order, each found only once the ones before it are done
    // with: what an export that reads them in turn goes through, so that a workbook whose
    // list runs through its content is read once, not once more to list it. Going on to
    // the next worksheet throws SpreadsheetError, naming the workbook, when the list
    // cannot be read past the ones before.
    class InTurn {
    public:
        struct End { };
        class Iterator {
        public:
            Iterator(Workbook& workbook)
                : m_workbook(&workbook)
            {
            }
            Worksheet& operator*() const { return m_workbook->m_worksheets[m_index]; }
            Iterator& operator++()
            {
                ++m_index;
                return *this;
            }
            bool operator==(End) const { return !m_workbook->HasWorksheet(m_index); }

        private:
            Workbook* m_workbook;
            size_t m_index = 0;
        };
        explicit InTurn(Workbook& workbook)
            : m_workbook(workbook)
        {
        }
        Iterator begin() const { return Iterator(m_workbook); }
        End end() const { return {}; }

    private:
        Workbook& m_workbook;
    };
    InTurn WorksheetsInTurn() { return InTurn(*this); }
    // The sheets that are no worksheets (chart, dialog and macro sheets), in workbook
    // order, each placed by the worksheets before it as the workbook lists them all.
    const std::vector<OtherSheet>& OtherSheets() const { return m_data.otherSheets; }
    numfmt::DateSystem DateSystemInUse() const { return m_data.dateSystem; }

    // Told now and then, while a worksheet loads on the calling thread before it is read
    // (not while VisitRowsWhileLoading hands its rows over), how much of it is loaded: a
    // share from 0 to 1, when the file tells how much is to come. None by default.
    void SetLoadProgress(std::function<void(double)> progress) { m_loadProgress = std::move(progress); }

    // How formulas without a saved value are treated; set before any worksheet loads.
    void SetFormulaOptions(const FormulaOptions& options) { m_formulaOptions = options; }

    ~Workbook();

private:
    friend class Worksheet;
    class FormulaHost;
    // After a worksheet loaded: its formulas without values computed and put into its
    // cells (unless computing is off), and those left blank counted for the warning.
    void SettleFormulas(size_t index, const std::shared_ptr<SheetData>& data);
    void NoteBlankFormulas(size_t index, size_t count, int32_t row, int32_t column);
    enum class Warning : uint8_t { UnreadableFormats, MissingSharedString, MissingStyle, ManyFormats };
    void WarnOnce(Warning kind, const std::string& what);
    void WarnOfSheetsPassedOver();
    // Whether worksheet number index (from 0) exists, listing no further than needed.
    bool HasWorksheet(size_t index);
    // Lists worksheets until there are wanted of them or every one is listed.
    void ListWorksheets(size_t wanted);
    const numfmt::NumberFormat& FormatOf(const Cell& cell);
    // FormatOf for a style whose format is not parsed yet, or that the workbook lacks.
    const numfmt::NumberFormat& FirstFormatOf(const Cell& cell);
    // The text of a shared-string cell; "" (and a warning) for an index it does not hold.
    std::string_view SharedStringOf(const Cell& cell);

    std::string m_path;
    uint64_t m_fileSize;
    std::vector<std::string> m_warnings;
    uint8_t m_warned = 0; // a bit per Warning given
    std::unique_ptr<WorkbookReader> m_reader;
    WorkbookData m_data;
    std::function<void()> m_yield;
    std::function<void(double)> m_loadProgress;
    std::deque<Worksheet> m_worksheets; // a deque: listing more leaves each in its place
    bool m_listed = false; // every worksheet is in m_worksheets
    Worksheet* m_loadedSheet = nullptr;
    std::string m_scratch;
    FormulaOptions m_formulaOptions;
    std::unique_ptr<FormulaHost> m_formulaHost;
    std::unique_ptr<formula::WorkbookCalc> m_calc;
    // The formulas left blank, by worksheet (each counted once however often it loads),
    // and where the warning of them stands in m_warnings.
    struct BlankFormulas {
        size_t count = 0;
        int32_t row = 0;
        int32_t column = 0;
    };
    std::map<size_t, BlankFormulas> m_blankFormulas;
    size_t m_blankFormulaWarning = SIZE_MAX;
};

class Application {
public:
    // Creating the engine fails only when the engine itself is unusable.
    Application();

    // Called now and then during long reads, so the windows stay responsive.
    void SetYield(std::function<void()> yield) { m_yield = std::move(yield); }
    // false when only displayed texts will be asked for: readers then need not keep the
    // values recorded beside them (ReaderContext::keepValues). On by default.
    void KeepRecordedValues(bool keep) { m_keepValues = keep; }
    // How the workbooks opened from now on treat formulas saved without a value.
    void SetFormulaOptions(const FormulaOptions& options) { m_formulaOptions = options; }
    // Where the password of an encrypted workbook comes from, when the application's
    // default password does not open it: asked at most once per opening, and only for such
    // a workbook. Without one, such a workbook fails as password-protected.
    void SetPasswordSource(encryption::PasswordSource source) { m_password = std::move(source); }
    // true when values will be asked for by their kind, not only as text: a recorded value
    // whose raw text is the displayed one is kept too (ReaderContext::keepValueKinds). Off by default.
    void KeepValueKinds(bool keep) { m_keepValueKinds = keep; }
    // How delimited text is read, where a person says so (ReaderContext::delimitedText).
    void ReadDelimitedTextAs(const DelimitedTextOptions& options) { m_delimitedText = options; }

    // Opens the workbook at path, recognising its format by content. Throws
    // SpreadsheetError whose message names the file and says what is wrong.
    std::unique_ptr<Workbook> Open(const std::string& path);

    // Opens workbook bytes held in memory; name stands for the path in messages.
    std::unique_ptr<Workbook> OpenBytes(std::string bytes, const std::string& name);

    // Opens workbook bytes from any source, read as the reader asks for them.
    std::unique_ptr<Workbook> OpenFrom(std::shared_ptr<const FileBytes> bytes, const std::string& path);

private:
    std::function<void()> m_yield;
    bool m_keepValues = true;
    FormulaOptions m_formulaOptions;
    encryption::PasswordSource m_password;
    bool m_keepValueKinds = false;
    DelimitedTextOptions m_delimitedText;
};

} // namespace vellumcast::spreadsheet
