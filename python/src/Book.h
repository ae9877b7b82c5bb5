#pragma once
// A workbook opened from Python: its bytes (a file read at chosen offsets, or bytes held in
// memory), the name messages give it, and the engine's workbooks over those bytes. Each
// call borrows an engine workbook for as long as it runs (a rows() iterator for as long as
// it is read), so calls from several threads, or an iterator and a call beside it, never
// share one; a call that finds none free opens another over the same bytes. What every
// engine workbook finds (warnings, the worksheet list) is gathered here.

#include "spreadsheet/FileBytes.h"
#include "spreadsheet/Workbook.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vellumcast::python {

struct SheetListing {
    std::string name;
    spreadsheet::SheetVisibility visibility;
};

class Book : public std::enable_shared_from_this<Book> {
public:
    // Opens the workbook at path, or bytes named name; throws SpreadsheetError as the
    // engine does, naming it. Call without the GIL.
    static std::shared_ptr<Book> OpenPath(const std::string& path);
    static std::shared_ptr<Book> OpenBytes(std::string bytes, const std::string& name);

    const std::string& Name() const { return m_name; }
    // The bytes, shared with every engine workbook over them. Throws std::logic_error once closed.
    std::shared_ptr<const spreadsheet::FileBytes> Bytes();

    // An engine workbook borrowed for one call; it goes back when the lease ends.
    class Lease {
    public:
        Lease(std::shared_ptr<Book> book, std::unique_ptr<spreadsheet::Workbook> workbook)
            : m_book(std::move(book))
            , m_workbook(std::move(workbook))
        {
        }
        Lease(Lease&&) = default;
        Lease& operator=(Lease&&) = default;
        ~Lease();
        spreadsheet::Workbook& operator*() const { return *m_workbook; }
        spreadsheet::Workbook* operator->() const { return m_workbook.get(); }
        // The worksheet at index (from 0), listing no further than needed; nullptr past the last.
        spreadsheet::Worksheet* Sheet(size_t index);
        // Leaves the workbook out of the pool when the lease ends: its worksheet list was changed.
        void Discard() { m_discard = true; }

    private:
        std::shared_ptr<Book> m_book;
        std::unique_ptr<spreadsheet::Workbook> m_workbook;
        spreadsheet::Worksheet* m_used = nullptr; // the worksheet Sheet gave, unloaded when the lease ends
        bool m_discard = false;
    };

    // A free engine workbook, or one opened anew. Throws std::logic_error once closed, and
    // as the engine does. Call without the GIL.
    Lease Borrow();

    // Every worksheet's name and visibility, listed once. Call without the GIL.
    std::vector<SheetListing> Sheets();

    // The warnings of every engine workbook so far, each once, in the order first seen.
    std::vector<std::string> Warnings();

    // Lets go of the engine workbooks not in use and of the bytes; those in use go when their
    // lease ends. Later calls fail.
    void Close();
    bool Closed();

    explicit Book(std::shared_ptr<const spreadsheet::FileBytes> bytes, std::string name);

private:
    std::unique_ptr<spreadsheet::Workbook> OpenEngine(std::shared_ptr<const spreadsheet::FileBytes> bytes) const;
    void GiveBack(std::unique_ptr<spreadsheet::Workbook> workbook, bool discard);
    void GatherWarnings(const spreadsheet::Workbook& workbook);

    std::shared_ptr<const spreadsheet::FileBytes> m_bytes;
    std::string m_name;
    std::mutex m_mutex; // guards everything below
    std::vector<std::unique_ptr<spreadsheet::Workbook>> m_free;
    std::vector<std::string> m_warnings;
    std::optional<std::vector<SheetListing>> m_sheets;
    bool m_closed = false;
};

} // namespace vellumcast::python
