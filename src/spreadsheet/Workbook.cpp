#include "spreadsheet/Workbook.h"

#include "core/BoundedQueue.h"
#include "core/Files.h"
#include "core/LocalClock.h"
#include "spreadsheet/FormatDetection.h"
#include "spreadsheet/SheetData.h"
#include "spreadsheet/SheetLayout.h"
#include "spreadsheet/formula/Numbers.h"
#include "spreadsheet/formula/WorkbookCalc.h"

#include <atomic>
#include <exception>
#include <optional>
#include <thread>
#include <utility>

namespace vellumcast::spreadsheet {

namespace {

std::atomic<uint64_t> g_loadBesideWalkThreshold { uint64_t { 1 } << 20 };

// Set on a thread that loads a worksheet beside the one using the workbook.
thread_local bool t_loadingAside = false;

// Yields pump the windows, which a worksheet loading on a second thread must not do.
std::function<void()> SkippedWhileLoadingAside(std::function<void()> yield)
{
    if (!yield)
        return yield;
    return [yield = std::move(yield)] {
        if (!t_loadingAside)
            yield();
    };
}

} // namespace

uint64_t LoadBesideWalkThreshold()
{
    return g_loadBesideWalkThreshold.load(std::memory_order_relaxed);
}

void SetLoadBesideWalkThreshold(uint64_t bytes)
{
    g_loadBesideWalkThreshold.store(bytes, std::memory_order_relaxed);
}

Worksheet::Worksheet(Workbook& owner, size_t index)
    : m_owner(&owner)
    , m_index(index)
{
}

Worksheet::Worksheet(Worksheet&&) noexcept = default;
Worksheet::~Worksheet() = default;

const std::string& Worksheet::Name() const
{
    return m_owner->m_data.sheets[m_index].name;
}

SheetVisibility Worksheet::Visibility() const
{
    return m_owner->m_data.sheets[m_index].visibility;
}

void Worksheet::EnsureLoaded(Reading reading)
{
    if (m_loaded
        && ((reading != Reading::Extent && m_data->ReadThrough())
            || (reading == Reading::Recorded && m_data->NumbersShown())))
        Unload();
    if (m_failedLoad) // a load beside failed already: the same report, not a second read
        std::rethrow_exception(std::exchange(m_failedLoad, nullptr));
    if (!m_loaded)
        LoadWith([&](SheetBuilder& builder) {
            builder.ReportShareTo(&m_owner->m_loadProgress);
            m_owner->m_reader->LoadSheet(m_index, builder);
        });
}

template <typename Run> void Worksheet::LoadWith(Run&& run)
{
    Workbook& book = *m_owner;
    if (book.m_loadedSheet && book.m_loadedSheet != this)
        book.m_loadedSheet->Unload();
    // A workbook may list many thousands of worksheets: only a loaded one has a store.
    if (!m_data)
        m_data = std::make_shared<SheetData>();
    if (!m_layout)
        m_layout = std::make_unique<SheetLayout>();
    try {
        SheetBuilder builder(*m_data, book.m_yield);
        builder.LimitMemory(SheetMemoryLimit(book.m_fileSize));
        m_layout->Clear();
        m_layout->LimitMemory(LayoutMemoryLimit(book.m_fileSize));
        builder.RecordLayoutIn(m_layout.get());
        run(builder);
        builder.Finish();
        m_layout->Finish();
        book.SettleFormulas(m_index, m_data);
    } catch (const SpreadsheetError& error) {
        m_data->Clear();
        m_layout->Clear();
        throw SpreadsheetError(
            error.code(), book.m_path + ": the worksheet \"" + Name() + "\" cannot be read: " + error.what());
    } catch (const std::bad_alloc&) {
        m_data->Clear();
        m_layout->Clear();
        throw SpreadsheetError(ErrorCode::TooLarge,
            book.m_path + ": the worksheet \"" + Name() + "\" cannot be read: it does not fit in memory");
    }
    m_loaded = true;
    book.m_loadedSheet = this;
}

bool Worksheet::VisitRowsWhileLoading(const std::function<bool(const RowBatch&)>& visit, bool displayedOnly)
{
    // A second thread costs more than it saves on a small worksheet, or one at hand.
    const uint64_t threshold = LoadBesideWalkThreshold();
    if (m_loaded || threshold == kNeverLoadBeside || m_owner->m_reader->SheetBytes(m_index) < threshold)
        return false;
    bool everyRow = false;
    bool formulasMet = false; // set on the loading thread, read once it is joined
    m_failedLoad = nullptr;
    m_unloadWhenLoaded = false;
    try {
        LoadWith([&](SheetBuilder& builder) {
            constexpr size_t kQueued = 8;
            core::BoundedQueue<FinishedRows> queue(kQueued);
            // Every format is parsed here, before the loading thread starts: it then reads
            // them while this thread, composing, only looks them up.
            if (displayedOnly)
                builder.ShowNumbers(m_owner->m_data.formats.ParsedByStyle(), m_owner->m_data.dateSystem);
            // Showing numbers moves their formatting from this thread to the loading one,
            // which pays off while this one is the slower: while batches wait for it. When it
            // waits for them instead, the loading thread leaves numbers as numbers for a
            // while. Either way the texts read alike.
            std::atomic<size_t> waiting { 0 }; // counted before they are queued, so never below
            // Formulas to compute may read any cell of the worksheet, later ones too: rows
            // are handed over no further than the first of them, and the worksheet is
            // walked once loaded and computed.
            const bool computing = m_owner->m_formulaOptions.compute;
            builder.PublishTo(
                [&](FinishedRows&& rows) {
                    if (computing && builder.HasFormulas()) {
                        formulasMet = true;
                        return false;
                    }
                    const size_t queued = waiting.fetch_add(1, std::memory_order_relaxed) + 1;
                    if (!queue.Push(std::move(rows)))
                        return false;
                    if (displayedOnly)
                        builder.ShowingNumbers(queued > kQueued / 2);
                    return true;
                },
                [&] { return queue.TakeSpare(); });
            std::exception_ptr loadError;
            m_loadingAside = true;
            std::thread loader([&] {
                t_loadingAside = true;
                try {
                    m_owner->m_reader->LoadSheet(m_index, builder);
                    builder.PublishRest();
                } catch (...) {
                    loadError = std::current_exception();
                }
                queue.Close();
            });
            bool consuming = true;
            while (std::optional<FinishedRows> rows = queue.Pop()) {
                waiting.fetch_sub(1, std::memory_order_relaxed);
                if (visit(rows->View())) {
                    builder.DoneWith(rows->endCell);
                    queue.Recycle(std::move(*rows));
                } else {
                    consuming = false;
                    queue.Cancel(); // the load goes on to its end, handing over nothing more
                }
            }
            loader.join();
            m_loadingAside = false;
            if (loadError)
                std::rethrow_exception(loadError);
            everyRow = consuming && builder.InOrder() && !formulasMet;
        });
    } catch (...) {
        m_failedLoad = std::current_exception();
        if (!m_unloadWhenLoaded)
            throw;
    }
    // Unloaded while loading, what was handed over may be stale; and cells read through
    // and let go of are no use to the walk that follows a partial hand-over.
    if (m_unloadWhenLoaded || (!everyRow && m_data->ReadThrough())) {
        Unload();
        return false;
    }
    return everyRow;
}

CellRange Worksheet::UsedRange()
{
    EnsureLoaded();
    return m_data->UsedRange();
}

RowBatch Worksheet::Rows()
{
    EnsureLoaded(Reading::Recorded);
    return m_data->AllRows();
}

HeldRows Worksheet::HoldRows()
{
    EnsureLoaded(Reading::Recorded);
    return HeldRows(m_data->AllRows(), m_data);
}

size_t Worksheet::CellCount()
{
    EnsureLoaded();
    return m_data->CellCount();
}

size_t Worksheet::StoredBytes()
{
    EnsureLoaded();
    return m_data->StoredBytes();
}

const std::vector<CellRange>& Worksheet::MergedAreas()
{
    EnsureLoaded();
    return m_layout->MergedAreas();
}

bool Worksheet::RowHidden(int32_t row)
{
    EnsureLoaded();
    return m_layout->HiddenRows().Contains(row);
}

bool Worksheet::ColumnHidden(int32_t column)
{
    EnsureLoaded();
    return m_layout->HiddenColumns().Contains(column);
}

int64_t Worksheet::HiddenRowCount()
{
    const CellRange range = UsedRange();
    return m_layout->HiddenRows().CountWithin(range.firstRow, range.lastRow);
}

int64_t Worksheet::HiddenColumnCount()
{
    const CellRange range = UsedRange();
    return m_layout->HiddenColumns().CountWithin(range.firstColumn, range.lastColumn);
}

template <typename StoredText>
std::string_view Worksheet::TextIn(const Cell& cell, CellTextStyle style, StoredText&& storedText, std::string& scratch)
{
    if (style != CellTextStyle::Displayed && TextWithValue(cell, style))
        return storedText(ValueOf(cell));
    return StyledText(cell, HoldsStoredText(cell.kind) ? storedText(cell) : std::string_view(), style, scratch);
}

std::string_view Worksheet::CellText(int32_t row, int32_t column, CellTextStyle style)
{
    return CellText(row, column, style, m_owner->m_scratch);
}

std::string_view Worksheet::CellText(int32_t row, int32_t column, CellTextStyle style, std::string& scratch)
{
    // A number shown as text while loading displays as that text.
    EnsureLoaded(style == CellTextStyle::Displayed ? Reading::Displayed : Reading::Recorded);
    const Cell* cell = m_data->Find(row, column);
    // Read from the loaded cells directly: a view of them for every cell read would cost
    // a walk that reads cell by cell.
    return cell ? TextIn(
               *cell, style, [&](const Cell& stored) { return m_data->TextOf(stored); }, scratch)
                : std::string_view();
}

std::string_view Worksheet::DisplayText(const Cell& cell, std::string_view storedText, std::string& scratch)
{
    Workbook& book = *m_owner;
    switch (cell.kind) {
    case CellKind::Blank:
        return {};
    case CellKind::Number: {
        scratch.clear();
        book.FormatOf(cell).Format(cell.value.number, book.m_data.dateSystem, scratch);
        return scratch;
    }
    case CellKind::SharedString:
    case CellKind::String: {
        const std::string_view text = cell.kind == CellKind::SharedString ? book.SharedStringOf(cell) : storedText;
        const numfmt::NumberFormat& format = book.FormatOf(cell);
        if (!format.TransformsText())
            return text;
        std::string formatted;
        format.FormatText(text, formatted);
        scratch.swap(formatted);
        return scratch;
    }
    case CellKind::Boolean:
        return cell.value.number != 0 ? "TRUE" : "FALSE";
    case CellKind::Error:
        return CellErrorText(cell.errorCode);
    case CellKind::TextWithValue:
    case CellKind::TextWithDate:
    case CellKind::DisplayedNumber:
        return storedText;
    }
    return {};
}

std::string_view Worksheet::TextOf(const Cell& cell, const RowBatch& rows, CellTextStyle style)
{
    return TextOf(cell, rows, style, m_owner->m_scratch);
}

std::string_view Worksheet::AnyTextOf(const Cell& cell, const RowBatch& rows, CellTextStyle style, std::string& scratch)
{
    return TextIn(
        cell, style, [&](const Cell& stored) { return rows.StoredText(stored); }, scratch);
}

void Worksheet::PrefetchTexts(const RowBatch& rows, size_t r) const
{
    const SharedStringTable& strings = m_owner->m_data.sharedStrings;
    for (size_t i = rows.CellsBegin(r), end = rows.CellsEnd(r); i < end; ++i) {
        const Cell& cell = rows.CellAt(i);
        if (cell.kind == CellKind::SharedString)
            strings.Prefetch(cell.value.index);
    }
}

bool Worksheet::TextWithValue(const Cell& cell, CellTextStyle style)
{
    return cell.kind == CellKind::TextWithDate || (cell.kind == CellKind::TextWithValue && style == CellTextStyle::Raw);
}

std::string_view Worksheet::StyledText(
    const Cell& cell, std::string_view storedText, CellTextStyle style, std::string& scratch)
{
    // Cells recorded as displayed text have no number format: their value was taken above.
    if (style == CellTextStyle::Displayed || cell.kind == CellKind::TextWithValue
        || cell.kind == CellKind::TextWithDate)
        return DisplayText(cell, storedText, scratch);
    Workbook& book = *m_owner;
    const numfmt::NumberFormat& format = book.FormatOf(cell);
    if (!TakesRawText(style, cell, format))
        return DisplayText(cell, storedText, scratch);
    if (cell.kind == CellKind::SharedString)
        storedText = book.SharedStringOf(cell);
    return RawCellText(cell, storedText, format, book.m_data.dateSystem, scratch);
}

void Worksheet::Unload()
{
    if (m_loadingAside) { // the loading thread is still filling the cells
        m_unloadWhenLoaded = true;
        return;
    }
    m_failedLoad = nullptr;
    // A hold keeps the cells it holds; the next load fills another store.
    m_data.reset();
    m_layout.reset();
    m_loaded = false;
    if (m_owner->m_loadedSheet == this)
        m_owner->m_loadedSheet = nullptr;
}

Workbook::Workbook(std::string path, std::unique_ptr<WorkbookReader> reader, WorkbookData data,
    std::function<void()> yield, uint64_t fileSize)
    : m_path(std::move(path))
    , m_fileSize(fileSize)
    , m_reader(std::move(reader))
    , m_data(std::move(data))
    , m_yield(SkippedWhileLoadingAside(std::move(yield)))
{
    m_data.formats.LimitMemory(FormatMemoryLimit(fileSize));
    for (size_t i = 0; i < m_data.sheets.size(); ++i)
        m_worksheets.push_back(Worksheet(*this, i));
    for (const std::string& warning : m_data.warnings)
        Warn(warning);
    WarnOfSheetsPassedOver();
    if (const size_t unreadable = m_data.formats.UnreadableCodes())
        WarnOnce(Warning::UnreadableFormats,
            std::to_string(unreadable) + " number format code(s) cannot be read; their cells show as General");
}

Workbook::~Workbook() = default;

// What the computation of formulas reads of the workbook: its worksheets loaded apart
// from the one being walked, with the values of cells recorded as text kept.
class Workbook::FormulaHost final : public formula::CalcHost {
public:
    explicit FormulaHost(Workbook& book)
        : m_book(book)
    {
    }
    size_t SheetCount() override
    {
        try {
            m_book.ListWorksheets(SIZE_MAX);
        } catch (const SpreadsheetError&) {
            // The worksheets listed so far are the ones formulas can read.
        }
        return m_book.m_data.sheets.size();
    }
    std::string_view SheetName(size_t index) override { return m_book.m_data.sheets[index].name; }
    void LoadSheet(size_t index, SheetData& into) override
    {
        SheetBuilder builder(into, m_book.m_yield);
        builder.LimitMemory(SheetMemoryLimit(m_book.m_fileSize));
        builder.KeepValuesForFormulas();
        m_book.m_reader->LoadSheet(index, builder);
        builder.Finish();
    }
    std::string_view SharedString(uint32_t index) override
    {
        const SharedStringTable& strings = m_book.m_data.sharedStrings;
        return index < strings.size() ? strings[index] : std::string_view();
    }
    const formula::WorkbookFormulas& Formulas() override { return m_book.m_data.formulas; }
    numfmt::DateSystem DateSystem() override { return m_book.m_data.dateSystem; }
    double Now() override
    {
        const bool date1904 = m_book.m_data.dateSystem == numfmt::DateSystem::Date1904;
        if (m_book.m_formulaOptions.now)
            return *m_book.m_formulaOptions.now - (date1904 ? 1462 : 0);
        const core::LocalDateTime now = core::LocalNow();
        double day = 0;
        formula::SerialOfDate(now.year, now.month, now.day, m_book.m_data.dateSystem, day);
        return day + (now.hour * 3600.0 + now.minute * 60.0 + now.second + now.millisecond / 1000.0) / 86400.0;
    }
    uint64_t FileSize() override { return m_book.m_fileSize; }
    void Yield() override
    {
        if (m_book.m_yield)
            m_book.m_yield();
    }

private:
    Workbook& m_book;
};

void Workbook::SettleFormulas(size_t index, const std::shared_ptr<SheetData>& data)
{
    const formula::SheetFormulas& formulas = data->Formulas();
    if (formulas.cells.empty())
        return;
    if (!m_formulaOptions.compute) {
        int32_t row = 0, column = 0;
        for (const formula::CapturedFormula& captured : formulas.cells) {
            if (row == 0 || captured.row < row || (captured.row == row && captured.column < column)) {
                row = captured.row;
                column = captured.column;
            }
        }
        NoteBlankFormulas(index, formulas.cells.size(), row, column);
        return;
    }
    // Cells read through as they loaded are loaded again before they are read.
    if (data->ReadThrough())
        return;
    try {
        if (!m_calc) {
            m_formulaHost = std::make_unique<FormulaHost>(*this);
            m_calc = std::make_unique<formula::WorkbookCalc>(*m_formulaHost);
        }
        // OpenDocument cells hold the text they display: formulas read their values
        // from a load that keeps them beside it.
        const bool keepsValues = formulas.cells.front().grammar != formula::FormulaGrammar::OpenFormula;
        const formula::WorkbookCalc::Outcome outcome = m_calc->Compute(index, data, keepsValues);
        NoteBlankFormulas(index, outcome.uncomputed, outcome.firstRow, outcome.firstColumn);
    } catch (const std::bad_alloc&) {
        NoteBlankFormulas(index, formulas.cells.size(), formulas.cells.front().row, formulas.cells.front().column);
    }
}

void Workbook::NoteBlankFormulas(size_t index, size_t count, int32_t row, int32_t column)
{
    if (count == 0 || !m_blankFormulas.emplace(index, BlankFormulas { count, row, column }).second)
        return;
    size_t total = 0;
    for (const auto& [sheet, blank] : m_blankFormulas)
        total += blank.count;
    const auto& [firstSheet, first] = *m_blankFormulas.begin();
    const std::string cell = formula::CellName(m_data.sheets[firstSheet].name, first.row, first.column);
    const std::string what = m_formulaOptions.compute ? std::to_string(total)
            + " formula(s) saved without a value could not be computed and show as blank; the "
              "first is "
            + cell
                                                      : std::to_string(total)
            + " formula(s) saved without a value show as blank (not computed); the first is " + cell;
    if (m_blankFormulaWarning == SIZE_MAX) {
        m_blankFormulaWarning = m_warnings.size();
        m_warnings.push_back({});
    }
    m_warnings[m_blankFormulaWarning] = m_path + ": " + what;
}

// Macro and dialog sheets may hold cells of their own, which no export takes: a person
// is told they were there. Chart sheets hold none and go unsaid.
void Workbook::WarnOfSheetsPassedOver()
{
    std::string names[2];
    size_t counts[2] = {};
    for (const OtherSheet& sheet : m_data.otherSheets) {
        if (sheet.kind == OtherSheetKind::Chart)
            continue;
        const size_t k = sheet.kind == OtherSheetKind::Macro ? 0 : 1;
        names[k] += (counts[k]++ > 0 ? ", \"" : "\"") + sheet.name + "\"";
    }
    std::string said;
    for (size_t k = 0; k < 2; ++k) {
        if (counts[k] == 0)
            continue;
        if (!said.empty())
            said += " and ";
        said += std::to_string(counts[k]) + (k == 0 ? " macro sheet" : " dialog sheet") + (counts[k] > 1 ? "s" : "")
            + " (" + names[k] + ")";
    }
    if (!said.empty())
        Warn("it holds " + said + ", which are no worksheets; they are passed over");
}

void Workbook::WarnOnce(Warning kind, const std::string& what)
{
    const auto bit = static_cast<uint8_t>(1u << static_cast<unsigned>(kind));
    if (m_warned & bit)
        return;
    m_warned |= bit;
    m_warnings.push_back(m_path + ": " + what);
}

std::deque<Worksheet>& Workbook::Worksheets()
{
    ListWorksheets(SIZE_MAX);
    return m_worksheets;
}

void Workbook::KeepWorksheets(const std::vector<size_t>& indexes)
{
    ListWorksheets(SIZE_MAX);
    if (m_loadedSheet)
        m_loadedSheet->Unload();
    std::deque<Worksheet> kept;
    for (const size_t index : indexes) {
        if (index < m_worksheets.size())
            kept.push_back(Worksheet(*this, m_worksheets[index].m_index));
    }
    m_worksheets = std::move(kept);
}

bool Workbook::HasWorksheet(size_t index)
{
    if (index >= m_worksheets.size())
        ListWorksheets(index + 1);
    return index < m_worksheets.size();
}

void Workbook::ListWorksheets(size_t wanted)
{
    if (m_listed || m_worksheets.size() >= wanted)
        return;
    try {
        m_listed = m_reader->ListSheets(wanted, m_data.sheets);
    } catch (const SpreadsheetError& error) {
        const std::string after = m_data.sheets.empty() ? "" : " past \"" + m_data.sheets.back().name + "\"";
        throw SpreadsheetError(
            error.code(), m_path + ": the worksheets" + after + " cannot be listed: " + error.what());
    }
    for (size_t i = m_worksheets.size(); i < m_data.sheets.size(); ++i)
        m_worksheets.push_back(Worksheet(*this, i));
}

// A format parsed already is returned at once, in a few instructions; the rest lies in
// FirstFormatOf, not inlined, so that the quick way sets up nothing for it. The function
// itself is called rather than inlined, which keeps its callers small enough to be inlined
// into the walk in turn.
__attribute__((noinline)) const numfmt::NumberFormat& Workbook::FormatOf(const Cell& cell)
{
    if (const numfmt::NumberFormat* parsed = m_data.formats.ParsedForStyle(cell.style))
        return *parsed;
    return FirstFormatOf(cell);
}

// Style 0 is every cell's default, present or not; any other index the workbook has no
// style for is a damaged reference. The warnings are given when a style is first looked
// up: the limit is reached only when a format is parsed, and a style the workbook lacks is
// never parsed.
__attribute__((noinline)) const numfmt::NumberFormat& Workbook::FirstFormatOf(const Cell& cell)
{
    if (cell.style != 0 && cell.style >= m_data.formats.StyleCount())
        WarnOnce(Warning::MissingStyle, "cells refer to styles it does not hold; they show as General");
    const numfmt::NumberFormat& format = m_data.formats.ForStyle(cell.style);
    if (m_data.formats.OverMemoryLimit())
        WarnOnce(Warning::ManyFormats,
            "it uses more number formats than a workbook of its size can hold; the cells of the last ones show as "
            "General");
    return format;
}

std::string_view Workbook::SharedStringOf(const Cell& cell)
{
    if (cell.value.index < m_data.sharedStrings.size())
        return m_data.sharedStrings[cell.value.index];
    WarnOnce(Warning::MissingSharedString, "cells refer to shared strings it does not hold; they show as blank");
    return {};
}

Application::Application() = default;

std::unique_ptr<Workbook> Application::Open(const std::string& path)
{
    std::shared_ptr<const FileBytes> bytes;
    try {
        bytes = FileBytes::OpenFile(path);
    } catch (const SpreadsheetError& error) {
        throw SpreadsheetError(error.code(), "Cannot open " + path + ": " + error.what());
    }
    return OpenFrom(std::move(bytes), path);
}

std::unique_ptr<Workbook> Application::OpenBytes(std::string bytes, const std::string& name)
{
    return OpenFrom(FileBytes::FromBuffer(std::move(bytes)), name);
}

std::unique_ptr<Workbook> Application::OpenFrom(std::shared_ptr<const FileBytes> bytes, const std::string& path)
{
    const uint64_t fileSize = bytes->Size();
    ReaderContext context { std::move(bytes), core::FileNameOfPath(path), SkippedWhileLoadingAside(m_yield) };
    context.keepValues = m_keepValues;
    context.password = [source = m_password, asked = std::make_shared<bool>(false)]() -> std::optional<std::string> {
        if (!source || *asked)
            return std::nullopt;
        *asked = true;
        return source();
    };
    context.keepValueKinds = m_keepValueKinds;
    context.delimitedText = m_delimitedText;
    WorkbookData data;
    std::unique_ptr<WorkbookReader> reader;
    try {
        reader = OpenReader(context, data);
    } catch (const SpreadsheetError& error) {
        throw SpreadsheetError(error.code(), "Cannot open " + path + ": " + error.what());
    } catch (const std::bad_alloc&) {
        throw SpreadsheetError(ErrorCode::TooLarge, "Cannot open " + path + ": it does not fit in memory");
    }
    auto workbook = std::make_unique<Workbook>(path, std::move(reader), std::move(data), m_yield, fileSize);
    workbook->SetFormulaOptions(m_formulaOptions);
    return workbook;
}

} // namespace vellumcast::spreadsheet
