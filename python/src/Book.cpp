#include "Book.h"

#include "Stopping.h"

#include <algorithm>
#include <stdexcept>

namespace vellumcast::python {

using spreadsheet::SpreadsheetError;

Book::Book(std::shared_ptr<const spreadsheet::FileBytes> bytes, std::string name)
    : m_bytes(std::move(bytes))
    , m_name(std::move(name))
{
}

std::shared_ptr<Book> Book::OpenPath(const std::string& path)
{
    std::shared_ptr<const spreadsheet::FileBytes> bytes;
    try {
        bytes = spreadsheet::FileBytes::OpenFile(path);
    } catch (const SpreadsheetError& error) {
        // As the engine names a file it cannot open.
        throw SpreadsheetError(error.code(), "Cannot open " + path + ": " + error.what());
    }
    auto book = std::make_shared<Book>(std::move(bytes), path);
    book->GiveBack(book->OpenEngine(book->m_bytes), false); // the file is read, and refused, now
    return book;
}

std::shared_ptr<Book> Book::OpenBytes(std::string bytes, const std::string& name)
{
    auto book = std::make_shared<Book>(spreadsheet::FileBytes::FromBuffer(std::move(bytes)), name);
    book->GiveBack(book->OpenEngine(book->m_bytes), false);
    return book;
}

std::unique_ptr<spreadsheet::Workbook> Book::OpenEngine(std::shared_ptr<const spreadsheet::FileBytes> bytes) const
{
    spreadsheet::Application application;
    application.SetYield(YieldToPump());
    application.KeepValueKinds(true); // raw values are typed
    return application.OpenFrom(std::move(bytes), m_name);
}

std::shared_ptr<const spreadsheet::FileBytes> Book::Bytes()
{
    const std::lock_guard lock(m_mutex);
    if (m_closed)
        throw std::logic_error("the workbook " + m_name + " is closed");
    return m_bytes;
}

Book::Lease Book::Borrow()
{
    std::shared_ptr<const spreadsheet::FileBytes> bytes;
    {
        const std::lock_guard lock(m_mutex);
        if (m_closed)
            throw std::logic_error("the workbook " + m_name + " is closed");
        if (!m_free.empty()) {
            auto workbook = std::move(m_free.back());
            m_free.pop_back();
            return Lease(shared_from_this(), std::move(workbook));
        }
        bytes = m_bytes;
    }
    return Lease(shared_from_this(), OpenEngine(std::move(bytes)));
}

Book::Lease::~Lease()
{
    if (!m_book || !m_workbook)
        return;
    // A worksheet left loaded would hold its cells for as long as the workbook waits.
    if (m_used)
        m_used->Unload();
    m_book->GiveBack(std::move(m_workbook), m_discard);
}

spreadsheet::Worksheet* Book::Lease::Sheet(size_t index)
{
    size_t at = 0;
    for (spreadsheet::Worksheet& sheet : m_workbook->WorksheetsInTurn()) {
        if (at++ == index) {
            if (m_used && m_used != &sheet)
                m_used->Unload();
            m_used = &sheet;
            return &sheet;
        }
    }
    return nullptr;
}

void Book::GiveBack(std::unique_ptr<spreadsheet::Workbook> workbook, bool discard)
{
    const std::lock_guard lock(m_mutex);
    GatherWarnings(*workbook);
    if (!discard && !m_closed)
        m_free.push_back(std::move(workbook));
}

void Book::GatherWarnings(const spreadsheet::Workbook& workbook)
{
    for (const std::string& warning : workbook.Warnings()) {
        if (std::find(m_warnings.begin(), m_warnings.end(), warning) == m_warnings.end())
            m_warnings.push_back(warning);
    }
}

std::vector<SheetListing> Book::Sheets()
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_sheets)
            return *m_sheets;
    }
    std::vector<SheetListing> sheets;
    {
        Lease lease = Borrow();
        for (const spreadsheet::Worksheet& sheet : lease->Worksheets())
            sheets.push_back({ sheet.Name(), sheet.Visibility() });
    }
    const std::lock_guard lock(m_mutex);
    m_sheets = sheets;
    return sheets;
}

std::vector<std::string> Book::Warnings()
{
    const std::lock_guard lock(m_mutex);
    return m_warnings;
}

void Book::Close()
{
    std::vector<std::unique_ptr<spreadsheet::Workbook>> free;
    {
        const std::lock_guard lock(m_mutex);
        m_closed = true;
        free.swap(m_free);
        m_bytes.reset();
    }
}

bool Book::Closed()
{
    const std::lock_guard lock(m_mutex);
    return m_closed;
}

} // namespace vellumcast::python
