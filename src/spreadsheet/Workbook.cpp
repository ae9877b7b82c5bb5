#include "spreadsheet/Workbook.h"

#include "core/Files.h"
#include "spreadsheet/FormatDetection.h"

namespace vellumcast::spreadsheet {

const std::string& Worksheet::Name() const
{
    return m_owner->m_data.sheets[m_index].name;
}

SheetVisibility Worksheet::Visibility() const
{
    return m_owner->m_data.sheets[m_index].visibility;
}

void Worksheet::EnsureLoaded()
{
    if (m_loaded)
        return;
    Workbook& book = *m_owner;
    if (book.m_loadedSheet && book.m_loadedSheet != this)
        book.m_loadedSheet->Unload();
    try {
        SheetBuilder builder(m_data, book.m_yield);
        book.m_reader->LoadSheet(m_index, builder);
        builder.Finish();
    } catch (const SpreadsheetError& error) {
        m_data.Clear();
        throw SpreadsheetError(
            error.code(), "Cannot read the worksheet \"" + Name() + "\" of " + book.m_path + ": " + error.what());
    } catch (const std::bad_alloc&) {
        m_data.Clear();
        throw SpreadsheetError(ErrorCode::TooLarge,
            "Cannot read the worksheet \"" + Name() + "\" of " + book.m_path + ": it does not fit in memory");
    }
    m_loaded = true;
    book.m_loadedSheet = this;
}

CellRange Worksheet::UsedRange()
{
    EnsureLoaded();
    return m_data.UsedRange();
}

std::string_view Worksheet::CellText(int32_t row, int32_t column)
{
    EnsureLoaded();
    const Cell* cell = m_data.Find(row, column);
    if (!cell)
        return {};
    Workbook& book = *m_owner;
    switch (cell->kind) {
    case CellKind::Blank:
        return {};
    case CellKind::Number: {
        book.m_scratch.clear();
        book.m_data.formats.ForStyle(cell->style).Format(cell->value.number, book.m_data.dateSystem, book.m_scratch);
        return book.m_scratch;
    }
    case CellKind::SharedString:
    case CellKind::String: {
        std::string_view text;
        if (cell->kind == CellKind::String)
            text = m_data.TextOf(*cell);
        else if (cell->value.index < book.m_data.sharedStrings.size())
            text = book.m_data.sharedStrings[cell->value.index];
        const numfmt::NumberFormat& format = book.m_data.formats.ForStyle(cell->style);
        if (!format.TransformsText())
            return text;
        std::string formatted;
        format.FormatText(text, formatted);
        book.m_scratch.swap(formatted);
        return book.m_scratch;
    }
    case CellKind::Boolean:
        return cell->value.number != 0 ? "TRUE" : "FALSE";
    case CellKind::Error:
        return CellErrorText(cell->errorCode);
    }
    return {};
}

void Worksheet::Unload()
{
    m_data.Clear();
    m_loaded = false;
    if (m_owner->m_loadedSheet == this)
        m_owner->m_loadedSheet = nullptr;
}

Workbook::Workbook(
    std::string path, std::unique_ptr<WorkbookReader> reader, WorkbookData data, std::function<void()> yield)
    : m_path(std::move(path))
    , m_reader(std::move(reader))
    , m_data(std::move(data))
    , m_yield(std::move(yield))
{
    m_worksheets.reserve(m_data.sheets.size());
    for (size_t i = 0; i < m_data.sheets.size(); ++i)
        m_worksheets.push_back(Worksheet(*this, i));
}

Application::Application() = default;

std::unique_ptr<Workbook> Application::Open(const std::string& path)
{
    std::shared_ptr<const FileBytes> bytes;
    try {
        bytes = FileBytes::Map(path);
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
    ReaderContext context { std::move(bytes), core::FileNameOfPath(path), m_yield };
    WorkbookData data;
    std::unique_ptr<WorkbookReader> reader;
    try {
        reader = OpenReader(context, data);
    } catch (const SpreadsheetError& error) {
        throw SpreadsheetError(error.code(), "Cannot open " + path + ": " + error.what());
    } catch (const std::bad_alloc&) {
        throw SpreadsheetError(ErrorCode::TooLarge, "Cannot open " + path + ": it does not fit in memory");
    }
    return std::make_unique<Workbook>(path, std::move(reader), std::move(data), m_yield);
}

} // namespace vellumcast::spreadsheet
