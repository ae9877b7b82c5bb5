// The _vellumcast extension: the engine and the export layer as the vellumcast package sees
// them. The package (python/vellumcast) gives the public classes, checks the options and
// documents them; this part does the work without the GIL and hands rows over as tuples.

#include "Book.h"
#include "RowWalk.h"
#include "Stopping.h"
#include "Texts.h"
#include "spreadsheet/SpreadsheetError.h"

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <datetime.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace py = pybind11;

namespace vellumcast::python {

namespace {

using spreadsheet::ErrorCode;
using spreadsheet::SpreadsheetError;

// The package's exception classes, by the engine's error code.
py::object ErrorClass(const char* name)
{
    return py::module_::import("vellumcast._errors").attr(name);
}

py::object ClassOf(ErrorCode code)
{
    switch (code) {
    case ErrorCode::NotFound:
        return ErrorClass("WorkbookNotFoundError");
    case ErrorCode::NotAFile:
        return ErrorClass("NotAFileError");
    case ErrorCode::NotAWorkbook:
        return ErrorClass("NotAWorkbookError");
    case ErrorCode::PasswordProtected:
    case ErrorCode::WrongPassword:
        return ErrorClass("PasswordProtectedError");
    case ErrorCode::Corrupt:
        return ErrorClass("CorruptWorkbookError");
    case ErrorCode::TooLarge:
        return ErrorClass("WorkbookTooLargeError");
    case ErrorCode::Unsupported:
        return ErrorClass("UnsupportedWorkbookError");
    }
    return ErrorClass("VellumcastError");
}

[[noreturn]] void Raise(const py::object& type, const std::string& message, const std::string& path)
{
    const py::object error = type(message, path);
    PyErr_SetObject(type.ptr(), error.ptr());
    throw py::error_already_set();
}

// Raises failure as the package's exception naming path; a Ctrl-C that stopped the work
// is raised as Python set it. Needs the GIL.
[[noreturn]] void RaiseFailure(std::exception_ptr failure, const StoppingPump& pump, const std::string& path)
{
    if (pump.Interrupted())
        throw py::error_already_set();
    try {
        std::rethrow_exception(failure);
    } catch (const SpreadsheetError& error) {
        Raise(ClassOf(error.code()), error.what(), path);
    } catch (const std::invalid_argument& error) {
        throw py::value_error(error.what());
    } catch (const std::logic_error& error) {
        throw py::value_error(error.what()); // a closed workbook
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& error) {
        Raise(ErrorClass("VellumcastError"), error.what(), path);
    }
}

// Runs body without the GIL, with a pump that stops it on Ctrl-C when this is Python's
// main thread, and raises what it throws as the package's exceptions.
template <typename F> auto Unlocked(const std::string& path, F&& body)
{
    StoppingPump pump(OnMainThread());
    std::exception_ptr failure;
    using Result = decltype(body(pump));
    std::optional<Result> result;
    {
        py::gil_scoped_release release;
        PumpOnThisThread yields(pump);
        try {
            result.emplace(body(pump));
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (pump.Interrupted())
        throw py::error_already_set();
    if (failure)
        RaiseFailure(failure, pump, path);
    return std::move(*result);
}

options::ExportOptions OptionsFrom(const py::dict& chosen)
{
    options::ExportOptions options;
    const auto flag
        = [&](const char* key, bool fallback) { return chosen.contains(key) ? chosen[key].cast<bool>() : fallback; };
    const std::string mode = chosen.contains("mode") ? chosen["mode"].cast<std::string>() : "all";
    options.saveMode = mode == "sheet" ? options::SaveMode::EachSheet
        : mode == "row"                ? options::SaveMode::EachRow
        : mode == "column"             ? options::SaveMode::EachColumn
                                       : options::SaveMode::AllSheets;
    if (chosen.contains("divider"))
        options.divider = chosen["divider"].cast<std::string>();
    options.includeBlankCells = !flag("skip_blank", false);
    options.quoteCells = flag("quotes", true);
    options.csvQuoting = flag("csv", false);
    options.lineFeedOnly = flag("lf", false);
    options.skipEmptyLines = flag("skip_empty_lines", false);
    const std::string values = chosen.contains("values") ? chosen["values"].cast<std::string>() : "displayed";
    const bool isoDates = chosen.contains("dates") && !chosen["dates"].is_none();
    options.cellValues = values == "raw" ? options::CellValues::Raw
        : isoDates                       ? options::CellValues::IsoDates
                                         : options::CellValues::Displayed;
    options.fillMerged = flag("fill_merged", false);
    options.skipHiddenRows = flag("skip_hidden_rows", false);
    options.skipHiddenColumns = flag("skip_hidden_columns", false);
    return options;
}

py::tuple RangeTuple(const spreadsheet::CellRange& range)
{
    return py::make_tuple(range.firstRow, range.firstColumn, range.lastRow, range.lastColumn);
}

// Python values of the cells handed over.
class CellObjects {
public:
    explicit CellObjects(bool integers)
        : m_integers(integers)
        , m_empty(py::str(""))
    {
        const py::object cellError = py::module_::import("vellumcast._values").attr("CellError");
        for (int code = 0; code <= static_cast<int>(spreadsheet::CellError::GettingData); ++code)
            m_errors.push_back(cellError(std::string(CellErrorText(static_cast<spreadsheet::CellError>(code)))));
    }

    PyObject* Of(const RowChunk& chunk, const OutCell& cell) const
    {
        switch (cell.type) {
        case CellType::Text: {
            if (cell.length == 0)
                return m_empty.inc_ref().ptr();
            const std::string_view text = chunk.TextOf(cell);
            return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogateescape");
        }
        case CellType::Blank:
            return py::none().release().ptr();
        case CellType::Number:
            if (m_integers && cell.number == std::floor(cell.number) && std::fabs(cell.number) < 9.2e18)
                return PyLong_FromDouble(cell.number);
            return PyFloat_FromDouble(cell.number);
        case CellType::Boolean:
            return py::bool_(cell.number != 0).release().ptr();
        case CellType::Error:
            return m_errors.at(cell.error).inc_ref().ptr();
        case CellType::Date:
        case CellType::Time:
        case CellType::DateTime:
            return DateOf(chunk.TextOf(cell));
        }
        return py::none().release().ptr();
    }

private:
    static PyObject* DateOf(std::string_view text)
    {
        IsoParts parts;
        if (!ParseIso(text, parts))
            return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogateescape");
        if (parts.date && parts.time)
            return PyDateTime_FromDateAndTime(
                parts.year, parts.month, parts.day, parts.hour, parts.minute, parts.second, parts.microsecond);
        if (parts.date)
            return PyDate_FromDate(parts.year, parts.month, parts.day);
        return PyTime_FromTime(parts.hour, parts.minute, parts.second, parts.microsecond);
    }

    bool m_integers;
    py::str m_empty;
    std::vector<py::object> m_errors;
};

// Chunks of rows between the thread that walks a worksheet and the Python thread reading them.
class ChunkQueue {
public:
    enum class Popped { Chunk, Done, Waiting };

    // Waits for room; false once the reader is gone.
    bool Push(RowChunk&& chunk)
    {
        std::unique_lock lock(m_mutex);
        m_room.wait(lock, [&] { return m_readerGone || m_chunks.size() < kChunks; });
        if (m_readerGone)
            return false;
        m_chunks.push_back(std::move(chunk));
        m_ready.notify_one();
        return true;
    }
    // The walk ended, with its failure when it failed.
    void Finish(std::exception_ptr failure)
    {
        const std::lock_guard lock(m_mutex);
        m_done = true;
        m_failure = std::move(failure);
        m_ready.notify_one();
    }
    Popped Pop(RowChunk& chunk, std::chrono::milliseconds wait)
    {
        std::unique_lock lock(m_mutex);
        if (!m_ready.wait_for(lock, wait, [&] { return m_done || !m_chunks.empty(); }))
            return Popped::Waiting;
        if (m_chunks.empty())
            return Popped::Done;
        chunk = std::move(m_chunks.front());
        m_chunks.pop_front();
        m_room.notify_one();
        return Popped::Chunk;
    }
    void ReaderGone()
    {
        const std::lock_guard lock(m_mutex);
        m_readerGone = true;
        m_chunks.clear();
        m_room.notify_all();
    }
    std::exception_ptr Failure()
    {
        const std::lock_guard lock(m_mutex);
        return m_failure;
    }

private:
    static constexpr size_t kChunks = 4;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::condition_variable m_room;
    std::deque<RowChunk> m_chunks;
    bool m_done = false;
    bool m_readerGone = false;
    std::exception_ptr m_failure;
};

// Walks of worksheets that were stopped and still finish on their threads (a load under
// way goes on to its end): joined as the next iterator starts, and when Python exits.
class FinishingWalks {
public:
    static FinishingWalks& Instance()
    {
        static FinishingWalks* walks = new FinishingWalks(); // outlives every iterator
        return *walks;
    }
    void Add(std::thread thread, std::shared_ptr<std::atomic<bool>> done)
    {
        const std::lock_guard lock(m_mutex);
        m_walks.push_back({ std::move(thread), std::move(done) });
    }
    // Joins the walks that are done; all of them when asked, waiting for each.
    void Join(bool all)
    {
        std::vector<Walk> joining;
        {
            const std::lock_guard lock(m_mutex);
            for (auto it = m_walks.begin(); it != m_walks.end();) {
                if (all || it->done->load()) {
                    joining.push_back(std::move(*it));
                    it = m_walks.erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (Walk& walk : joining)
            walk.thread.join();
    }

private:
    struct Walk {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::mutex m_mutex;
    std::vector<Walk> m_walks;
};

// The rows of one worksheet, walked on a thread of their own while Python reads them.
class RowIterator {
public:
    RowIterator(std::shared_ptr<Book> book, size_t index, RowOptions options, bool integers, bool numbered)
        : m_walk(std::make_shared<Walk>(std::move(book), index, std::move(options)))
        , m_objects(integers)
        , m_numbered(numbered)
    {
    }
    ~RowIterator() { Close(); }
    RowIterator(const RowIterator&) = delete;
    RowIterator& operator=(const RowIterator&) = delete;

    py::object Next()
    {
        while (m_row >= m_current.rowNumbers.size()) {
            if (m_finished)
                throw py::stop_iteration();
            if (!m_thread.joinable())
                Start();
            if (!NextChunk())
                throw py::stop_iteration();
        }
        const size_t begin = m_row == 0 ? 0 : m_current.rowEnds[m_row - 1];
        const size_t end = m_current.rowEnds[m_row];
        py::tuple row(end - begin);
        for (size_t i = begin; i < end; ++i) {
            PyObject* value = m_objects.Of(m_current, m_current.cells[i]);
            if (!value)
                throw py::error_already_set();
            PyTuple_SET_ITEM(row.ptr(), static_cast<Py_ssize_t>(i - begin), value);
        }
        const int32_t number = m_current.rowNumbers[m_row++];
        if (m_numbered)
            return py::make_tuple(number, std::move(row));
        return row;
    }

    // The columns the cells of the rows stand in, as far as known; None without blank cells.
    py::object Columns() const
    {
        if (!m_columns)
            return py::none();
        return py::cast(*m_columns);
    }

    // Stops the walk and returns at once: a walk still loading its worksheet finishes on
    // its own thread, its engine workbook going back to the workbook when it is done.
    void Close()
    {
        m_finished = true;
        m_current = RowChunk();
        m_row = 0;
        if (!m_thread.joinable())
            return;
        m_walk->pump.RequestStop();
        m_walk->queue.ReaderGone();
        if (m_walk->done->load())
            m_thread.join();
        else
            FinishingWalks::Instance().Add(std::move(m_thread), m_walk->done);
    }

private:
    // What the walk's thread shares with the iterator, kept alive by both.
    struct Walk {
        Walk(std::shared_ptr<Book> bookIn, size_t indexIn, RowOptions optionsIn)
            : book(std::move(bookIn))
            , index(indexIn)
            , options(std::move(optionsIn))
        {
        }
        std::shared_ptr<Book> book;
        size_t index;
        RowOptions options;
        StoppingPump pump;
        ChunkQueue queue;
        std::shared_ptr<std::atomic<bool>> done = std::make_shared<std::atomic<bool>>(false);
    };

    void Start()
    {
        if (m_walk->book->Closed())
            throw py::value_error("the workbook " + m_walk->book->Name() + " is closed");
        {
            py::gil_scoped_release release;
            FinishingWalks::Instance().Join(false);
        }
        m_thread = std::thread([walk = m_walk] {
            PumpOnThisThread yields(walk->pump);
            std::exception_ptr failure;
            try {
                Book::Lease lease = walk->book->Borrow();
                spreadsheet::Worksheet* sheet = lease.Sheet(walk->index);
                if (!sheet)
                    throw std::out_of_range("the workbook " + walk->book->Name() + " has no worksheet number "
                        + std::to_string(walk->index + 1));
                RowWalk rows(*lease, *sheet, walk->options, walk->pump,
                    [&](RowChunk&& chunk) { return walk->queue.Push(std::move(chunk)); });
                rows.Run();
            } catch (const Stopped&) {
                // The reader stopped the walk: nothing to tell.
            } catch (...) {
                if (!walk->pump.StopRequested())
                    failure = std::current_exception();
            }
            walk->queue.Finish(failure);
            walk->done->store(true);
        });
    }

    // The next chunk of rows; false once they are all read. While it waits, Python's main
    // thread handles a Ctrl-C now and then.
    bool NextChunk()
    {
        for (;;) {
            ChunkQueue::Popped popped;
            {
                py::gil_scoped_release release;
                popped = m_walk->queue.Pop(m_current, std::chrono::milliseconds(50));
            }
            // list() and the like read an iterator without running Python between rows,
            // so a Ctrl-C is looked for here too, between chunks.
            if (OnMainThread() && PyErr_CheckSignals() != 0) {
                Close();
                throw py::error_already_set();
            }
            if (popped == ChunkQueue::Popped::Chunk) {
                m_row = 0;
                if (m_current.columns)
                    m_columns = std::move(m_current.columns);
                if (m_current.rowNumbers.empty())
                    continue;
                return true;
            }
            if (popped == ChunkQueue::Popped::Done) {
                std::exception_ptr failure = m_walk->queue.Failure();
                m_thread.join();
                m_finished = true;
                if (failure)
                    RaiseFailure(failure, m_walk->pump, m_walk->book->Name());
                return false;
            }
        }
    }

    std::shared_ptr<Walk> m_walk;
    CellObjects m_objects;
    bool m_numbered;
    std::thread m_thread;
    RowChunk m_current;
    size_t m_row = 0;
    bool m_finished = false;
    std::optional<std::vector<int32_t>> m_columns;
};

class PyBook {
public:
    explicit PyBook(std::shared_ptr<Book> book)
        : m_book(std::move(book))
    {
    }

    const std::string& Name() const { return m_book->Name(); }

    py::list Sheets()
    {
        const auto sheets = Unlocked(Name(), [&](StoppingPump&) { return m_book->Sheets(); });
        py::list list;
        for (const SheetListing& sheet : sheets)
            list.append(py::make_tuple(sheet.name, std::string(spreadsheet::VisibilityWord(sheet.visibility))));
        return list;
    }

    // The used range (None for a worksheet without content, as the export judges it), the
    // hidden rows and columns within it and the merged areas.
    py::dict Layout(size_t index)
    {
        struct Found {
            std::optional<spreadsheet::CellRange> range;
            int64_t hiddenRows = 0;
            int64_t hiddenColumns = 0;
            std::vector<spreadsheet::CellRange> merged;
        };
        const Found found = Unlocked(Name(), [&](StoppingPump&) {
            Book::Lease lease = m_book->Borrow();
            spreadsheet::Worksheet* sheet = lease.Sheet(index);
            if (!sheet)
                throw std::out_of_range("no worksheet number " + std::to_string(index + 1));
            Found layout;
            const spreadsheet::CellRange range = sheet->UsedRange();
            if (!(range.lastRow == 1 && range.lastColumn == 1 && sheet->CellText(1, 1).empty()))
                layout.range = range;
            layout.hiddenRows = sheet->HiddenRowCount();
            layout.hiddenColumns = sheet->HiddenColumnCount();
            layout.merged = sheet->MergedAreas();
            return layout;
        });
        py::dict layout;
        layout["used_range"] = found.range ? py::object(RangeTuple(*found.range)) : py::none();
        layout["hidden_rows"] = found.hiddenRows;
        layout["hidden_columns"] = found.hiddenColumns;
        py::list merged;
        for (const auto& area : found.merged)
            merged.append(RangeTuple(area));
        layout["merged_areas"] = merged;
        return layout;
    }

    std::vector<std::string> Warnings() { return m_book->Warnings(); }

    std::unique_ptr<RowIterator> Rows(
        size_t index, const py::dict& chosen, bool typed, bool integers, bool stream, bool numbered)
    {
        RowOptions options;
        options.cells = OptionsFrom(chosen);
        options.typed = typed;
        options.stream = stream;
        if (typed)
            options.cells.cellValues = options::CellValues::Raw;
        return std::make_unique<RowIterator>(m_book, index, std::move(options), integers, numbered);
    }

    py::list Texts(std::optional<size_t> sheet, const py::dict& chosen)
    {
        const options::ExportOptions options = OptionsFrom(chosen);
        std::vector<std::string> warnings;
        const auto texts = Unlocked(
            Name(), [&](StoppingPump& pump) { return ExportTexts(*m_book, options, sheet, pump, warnings); });
        py::list list;
        for (const TextEntry& entry : texts) {
            const py::object text = py::reinterpret_steal<py::object>(
                PyUnicode_DecodeUTF8(entry.text.data(), static_cast<Py_ssize_t>(entry.text.size()), "surrogateescape"));
            if (!text)
                throw py::error_already_set();
            list.append(py::make_tuple(entry.sheet, entry.number, text));
        }
        return list;
    }

    void Close()
    {
        py::gil_scoped_release release;
        m_book->Close();
    }
    bool Closed() { return m_book->Closed(); }

private:
    std::shared_ptr<Book> m_book;
};

py::list ExportFilesFromPython(const std::vector<std::string>& paths, const py::dict& chosen, const std::string& folder,
    std::optional<std::string> nameTemplate, bool byteOrderMark, bool keepExisting, std::vector<std::string> inputs)
{
    const options::ExportOptions options = OptionsFrom(chosen);
    const SaveChoice save { folder, std::move(nameTemplate), byteOrderMark, keepExisting, std::move(inputs) };
    const auto outcomes = Unlocked(folder, [&](StoppingPump& pump) { return ExportFiles(paths, options, save, pump); });
    py::list list;
    for (const FileOutcome& outcome : outcomes) {
        py::dict item;
        item["path"] = outcome.path;
        item["ok"] = outcome.ok;
        item["messages"] = outcome.messages;
        item["warnings"] = outcome.warnings;
        item["written"] = outcome.written;
        list.append(item);
    }
    return list;
}

} // namespace

} // namespace vellumcast::python

PYBIND11_MODULE(_vellumcast, module)
{
    using namespace vellumcast::python;
    PyDateTime_IMPORT;
    OnMainThread(); // notes the main thread while this one is it

    module.doc() = "The engine and export layer of vellumcast; use the vellumcast package.";

    py::class_<RowIterator>(module, "RowIterator", "The rows of a worksheet, read as they load.")
        .def("__iter__", [](RowIterator& self) -> RowIterator& { return self; })
        .def("__next__", &RowIterator::Next)
        .def("close", &RowIterator::Close, "Stops the read and lets go of what it holds.")
        .def_property_readonly("columns", &RowIterator::Columns,
            "The columns (from 1) the cells of each row stand in, as far as read; None without blank cells.")
        .def("__enter__", [](RowIterator& self) -> RowIterator& { return self; })
        .def("__exit__", [](RowIterator& self, const py::args&) { self.Close(); });

    py::class_<PyBook>(module, "Book")
        .def_property_readonly("name", &PyBook::Name)
        .def("sheets", &PyBook::Sheets)
        .def("layout", &PyBook::Layout)
        .def("warnings", &PyBook::Warnings)
        .def("rows", &PyBook::Rows)
        .def("texts", &PyBook::Texts)
        .def("close", &PyBook::Close)
        .def_property_readonly("closed", &PyBook::Closed);

    module.def(
        "open_path",
        [](const std::string& path) {
            return PyBook(Unlocked(path, [&](StoppingPump&) { return Book::OpenPath(path); }));
        },
        py::arg("path"));
    module.def(
        "open_bytes",
        [](const py::bytes& data, const std::string& name) {
            std::string bytes = data; // copied while the GIL is held
            return PyBook(Unlocked(name, [&](StoppingPump&) { return Book::OpenBytes(std::move(bytes), name); }));
        },
        py::arg("data"), py::arg("name"));
    module.def("export_files", &ExportFilesFromPython, py::arg("paths"), py::arg("options"), py::arg("folder"),
        py::arg("name_template"), py::arg("bom"), py::arg("no_clobber"), py::arg("inputs"));
    module.def(
        "set_load_beside_threshold", [](uint64_t bytes) { vellumcast::spreadsheet::SetLoadBesideWalkThreshold(bytes); },
        py::arg("bytes"), "The least size of a worksheet loaded on a second thread beside its walk (tests set 0).");
    module.def("load_beside_threshold", [] { return vellumcast::spreadsheet::LoadBesideWalkThreshold(); });
    // Walks stopped half-way finish before Python ends, as their threads use the engine.
    module.def("_join_finishing_walks", [] {
        py::gil_scoped_release release;
        FinishingWalks::Instance().Join(true);
    });
    py::module_::import("atexit").attr("register")(module.attr("_join_finishing_walks"));
}
