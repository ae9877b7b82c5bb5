// The binary workbook reader (xlsb, and its template and add-in forms): the same package
// as xlsx with binary record parts in place of XML. Opening reads the workbook part (sheet
// list, date system), the styles and the shared strings; a worksheet's records are
// inflated in pieces and read as they arrive, straight into a SheetBuilder.

#include "spreadsheet/xlsb/XlsbReader.h"

#include "core/Process.h"
#include "spreadsheet/SheetLayout.h"
#include "spreadsheet/xls/Biff.h"
#include "spreadsheet/xlsb/XlsbRecords.h"
#include "spreadsheet/xlsx/XlsxPackage.h"

#include <unordered_map>

namespace vellumcast::spreadsheet::xlsb {

namespace {

using container::ZipEntry;
using xlsx::ListedSheet;

struct WorkbookPart {
    bool date1904 = false;
    std::vector<ListedSheet> sheets;
};

WorkbookPart ReadWorkbookPart(const xlsx::WorkbookPackage& package)
{
    WorkbookPart workbook;
    ReadRecords(package.Archive(), package.WorkbookEntry(), "the workbook part", [&](const Record& record) {
        RecordCursor cursor(record);
        if (record.type == brt::kWbProp) {
            workbook.date1904 = (cursor.U32() & 0x01) != 0;
        } else if (record.type == brt::kBundleSh) {
            RequireRoomInList(workbook.sheets.size(), ListLimit(package.FileSize()), package.FileSize(), "sheets");
            ListedSheet sheet;
            const uint32_t state = cursor.U32();
            cursor.Skip(4); // the tab id
            cursor.NullableWideString(sheet.relationshipId);
            cursor.WideString(sheet.name);
            sheet.visibility = state == 1 ? SheetVisibility::Hidden
                : state == 2              ? SheetVisibility::VeryHidden
                                          : SheetVisibility::Visible;
            workbook.sheets.push_back(std::move(sheet));
        }
        return true;
    });
    return workbook;
}

// Custom number formats and the cell formats (XFs) of cellXfs, each one style in order,
// so that a cell's style index is its XF's.
void ReadStyles(const xlsx::WorkbookPackage& package, const ZipEntry& entry, CellFormats& formats)
{
    std::unordered_map<uint16_t, std::string> custom;
    bool inCellXfs = false;
    ReadRecords(package.Archive(), entry, "the styles part", [&](const Record& record) {
        RecordCursor cursor(record);
        switch (record.type) {
        case brt::kFmt: {
            const uint16_t id = cursor.U16();
            std::string code;
            cursor.WideString(code);
            custom.insert_or_assign(id, std::move(code));
            break;
        }
        case brt::kBeginCellXfs:
            inCellXfs = true;
            break;
        case brt::kEndCellXfs:
            inCellXfs = false;
            break;
        case brt::kXf:
            if (inCellXfs) {
                cursor.Skip(2); // the parent style
                const uint16_t id = cursor.U16();
                const auto found = custom.find(id);
                formats.AddStyle(
                    found != custom.end() ? std::string_view(found->second) : numfmt::BuiltInFormatCode(id));
            }
            break;
        default:
            break;
        }
        return true;
    });
}

// Each item is a rich string: a flags byte, then the text; formatting and phonetic runs
// after it are not part of the text.
void ReadSharedStrings(const xlsx::WorkbookPackage& package, const ZipEntry& entry, SharedStringTable& strings,
    const std::function<void()>& yield)
{
    xlsx::SharedStringBudget budget(package.FileSize());
    std::string text;
    ReadRecords(
        package.Archive(), entry, "the shared strings part",
        [&](const Record& record) {
            RecordCursor cursor(record);
            if (record.type == brt::kSstItem) {
                cursor.Skip(1);
                cursor.WideString(text);
                budget.Count(strings.size());
                budget.Text(strings.size(), 0, text.size());
                strings.push_back(text);
            } else if (record.type == brt::kBeginSst) {
                // A hint only: reserve no more than the part could hold, an item taking
                // at least seven bytes.
                cursor.Skip(4); // the count of references
                strings.reserve(std::min<uint64_t>({ cursor.U32(), entry.uncompressedSize / 7, 1u << 20 }));
                // A character takes two bytes of the part and, in most text, one of UTF-8:
                // half the part holds the text. No more for a part larger than real ones.
                strings.ReserveText(std::min<uint64_t>(entry.uncompressedSize / 2, 64u << 20));
            }
            return true;
        },
        [&](uint64_t) {
            if (yield)
                yield();
        });
}

// The cells of one worksheet: a row header sets the row of the cells after it, each cell
// record starts with its column and style. Hot path: no allocation per cell once the text
// buffer has grown.
class WorksheetRecords {
public:
    explicit WorksheetRecords(SheetBuilder& builder)
        : m_builder(builder)
        , m_layout(builder.Layout())
        , m_formulas(builder.CapturesEveryFormula())
    {
    }

    // Most records are row headers and cells of a fixed size: with the record's size
    // checked once, their fields are read here without a check each. Anything else, and
    // any record these checks refuse, is read by ReadAny, which names what is wrong.
    [[gnu::always_inline]] bool operator()(const Record& record)
    {
        if (m_inSheetData) {
            const uint8_t* const data = record.data.data();
            const size_t size = record.data.size();
            switch (record.type) {
            case brt::kRowHeader:
                if (size >= 4 && container::LoadU32(data) < static_cast<uint32_t>(kMaxRows)) {
                    m_row = static_cast<int32_t>(container::LoadU32(data)) + 1;
                    // After the row, its style and its height: a byte of flags, then one
                    // whose fifth bit (fDyZero) hides the row.
                    if (m_layout && size >= 12 && (data[11] & 0x10) != 0)
                        m_layout->HideRows(m_row, m_row);
                    return true;
                }
                break;
            case brt::kCellBlank:
                if (size >= 8 && InGrid(data)) {
                    m_builder.AddBlank(m_row, ColumnOf(data), StyleOf(data));
                    return true;
                }
                break;
            case brt::kCellRk:
                if (size >= 12 && InGrid(data)) {
                    m_builder.AddNumber(
                        m_row, ColumnOf(data), xls::DecodeRk(container::LoadU32(data + 8)), StyleOf(data));
                    return true;
                }
                break;
            case brt::kFmlaNum:
                if (m_formulas) // the formula too, the general way
                    break;
                [[fallthrough]];
            case brt::kCellReal:
                if (size >= 16 && InGrid(data)) {
                    m_builder.AddNumber(m_row, ColumnOf(data), container::LoadF64(data + 8), StyleOf(data));
                    return true;
                }
                break;
            case brt::kCellIsst:
                if (size >= 12 && InGrid(data)) {
                    m_builder.AddSharedString(m_row, ColumnOf(data), container::LoadU32(data + 8), StyleOf(data));
                    return true;
                }
                break;
            case brt::kFmlaBool:
                if (m_formulas)
                    break;
                [[fallthrough]];
            case brt::kCellBool:
                if (size >= 9 && InGrid(data)) {
                    m_builder.AddBoolean(m_row, ColumnOf(data), data[8] != 0, StyleOf(data));
                    return true;
                }
                break;
            default:
                break;
            }
        }
        return ReadAny(record.type, record.data);
    }

private:
    // A cell record's column (0-based, then 1-based) and style, where its size has room.
    static bool InGrid(const uint8_t* data) { return container::LoadU32(data) < static_cast<uint32_t>(kMaxColumns); }
    static int32_t ColumnOf(const uint8_t* data) { return static_cast<int32_t>(container::LoadU32(data)) + 1; }
    static uint32_t StyleOf(const uint8_t* data) { return container::LoadU32(data + 4) & 0xFFFFFF; }

    // Any record, every field checked. Given the record's parts rather than the record,
    // which can then stay in registers on the way here.
    [[gnu::noinline]] bool ReadAny(uint16_t type, std::span<const uint8_t> data)
    {
        const Record record { type, data };
        if (!m_inSheetData) {
            if (record.type == brt::kBeginSheetData)
                m_inSheetData = !m_pastSheetData;
            else if (record.type == brt::kWsDim)
                ExpectRange(record);
            else if (record.type == brt::kColInfo && m_layout)
                ReadColumns(record);
            else if (record.type == brt::kMergeCell && m_layout)
                ReadMerge(record);
            return true;
        }
        if (record.type > brt::kFmlaError && record.type != brt::kCellRString) {
            if (record.type != brt::kEndSheetData)
                return true;
            // The merged areas follow the cells; without a use for them nothing after
            // the cells is read.
            m_inSheetData = false;
            m_pastSheetData = true;
            return m_layout != nullptr;
        }
        RecordCursor cursor(record);
        if (record.type == brt::kRowHeader) {
            const uint32_t row = cursor.U32();
            if (row >= static_cast<uint32_t>(kMaxRows))
                Corrupt("row " + std::to_string(uint64_t { row } + 1) + " lies beyond the grid");
            m_row = static_cast<int32_t>(row) + 1;
            if (m_layout && cursor.Remaining() >= 8) {
                cursor.Skip(7);
                if ((cursor.U8() & 0x10) != 0)
                    m_layout->HideRows(m_row, m_row);
            }
            return true;
        }
        const uint32_t column = cursor.U32();
        if (column >= static_cast<uint32_t>(kMaxColumns))
            Corrupt("column " + std::to_string(uint64_t { column } + 1) + " lies beyond the grid");
        const int32_t c = static_cast<int32_t>(column) + 1;
        const uint32_t style = cursor.U32() & 0xFFFFFF;
        switch (record.type) {
        case brt::kCellBlank:
            m_builder.AddBlank(m_row, c, style);
            break;
        case brt::kCellRk:
            m_builder.AddNumber(m_row, c, xls::DecodeRk(cursor.U32()), style);
            break;
        case brt::kCellReal:
            m_builder.AddNumber(m_row, c, cursor.F64(), style);
            break;
        case brt::kFmlaNum:
            m_builder.AddNumber(m_row, c, cursor.F64(), style);
            CaptureFormula(cursor, c);
            break;
        case brt::kCellIsst:
            m_builder.AddSharedString(m_row, c, cursor.U32(), style);
            break;
        case brt::kCellBool:
        case brt::kFmlaBool:
            m_builder.AddBoolean(m_row, c, cursor.U8() != 0, style);
            if (record.type == brt::kFmlaBool)
                CaptureFormula(cursor, c);
            break;
        case brt::kCellError:
        case brt::kFmlaError:
            m_builder.AddError(m_row, c, CellErrorOfCode(cursor.U8()).value_or(CellError::Value), style);
            if (record.type == brt::kFmlaError)
                CaptureFormula(cursor, c);
            break;
        case brt::kCellRString:
            cursor.Skip(1); // the rich string's flags
            [[fallthrough]];
        case brt::kCellSt:
        case brt::kFmlaString:
            cursor.WideString(m_text);
            m_builder.AddString(m_row, c, m_text, style);
            if (record.type == brt::kFmlaString)
                CaptureFormula(cursor, c);
            break;
        default:
            break;
        }
        return true;
    }

    // A formula record's tokens after its value and flags ([MS-XLSB] 2.4.677 to 2.4.680),
    // given when the load checks the engine against the values saved (every formula of the
    // format has its value).
    void CaptureFormula(RecordCursor& cursor, int32_t column)
    {
        if (!m_formulas || cursor.Remaining() < 2)
            return;
        cursor.Skip(2);
        const size_t size = cursor.Remaining();
        std::string body(size, '\0');
        for (size_t i = 0; i < size; ++i)
            body[i] = static_cast<char>(cursor.U8());
        m_builder.AddValuedFormula(m_row, column, formula::FormulaGrammar::Xlsb, body);
    }

    // The recorded extent: a hint of the used range to come, never taken as the truth.
    void ExpectRange(const Record& record)
    {
        RecordCursor cursor(record);
        if (cursor.Remaining() < 16)
            return;
        const uint32_t firstRow = cursor.U32(), lastRow = cursor.U32();
        const uint32_t firstColumn = cursor.U32(), lastColumn = cursor.U32();
        if (firstRow > lastRow || lastRow >= static_cast<uint32_t>(kMaxRows) || firstColumn > lastColumn
            || lastColumn >= static_cast<uint32_t>(kMaxColumns))
            return;
        m_builder.ExpectRange({ static_cast<int32_t>(firstRow) + 1, static_cast<int32_t>(firstColumn) + 1,
            static_cast<int32_t>(lastRow) + 1, static_cast<int32_t>(lastColumn) + 1 });
    }

    // BrtColInfo: first and last column (0-based), width, style, then flags whose first
    // bit hides the columns; a width of zero hides them too.
    void ReadColumns(const Record& record)
    {
        RecordCursor cursor(record);
        if (cursor.Remaining() < 18)
            return;
        const uint32_t first = cursor.U32(), last = cursor.U32(), width = cursor.U32();
        cursor.Skip(4);
        if ((cursor.U16() & 0x0001) != 0 || width == 0)
            m_layout->HideColumns(int64_t { first } + 1, int64_t { last } + 1);
    }

    // BrtMergeCell: first and last row, first and last column, all 0-based.
    void ReadMerge(const Record& record)
    {
        RecordCursor cursor(record);
        if (cursor.Remaining() < 16)
            return;
        const auto oneBased = [](uint32_t index) {
            return static_cast<int32_t>(std::min<uint32_t>(index, static_cast<uint32_t>(kMaxRows)) + 1);
        };
        const int32_t firstRow = oneBased(cursor.U32()), lastRow = oneBased(cursor.U32());
        const int32_t firstColumn = oneBased(cursor.U32()), lastColumn = oneBased(cursor.U32());
        m_layout->AddMerge({ firstRow, firstColumn, lastRow, lastColumn });
    }

    SheetBuilder& m_builder;
    SheetLayout* m_layout;
    bool m_formulas; // formulas are captured, with their values
    std::string m_text;
    int32_t m_row = 1; // a cell before any row header lies in the first row
    bool m_inSheetData = false;
    bool m_pastSheetData = false; // a second run of cells is not read
};

class XlsbReader final : public WorkbookReader {
public:
    XlsbReader(std::shared_ptr<const container::ZipArchive> archive, std::function<void()> yield)
        : m_package(std::move(archive), "xl/workbook.bin")
        , m_yield(std::move(yield))
    {
    }

    void Open(WorkbookData& data)
    {
        const WorkbookPart workbook = ReadWorkbookPart(m_package);
        data.dateSystem = workbook.date1904 ? numfmt::DateSystem::Date1904 : numfmt::DateSystem::Date1900;
        m_package.AddWorksheets(workbook.sheets, data);
        if (const ZipEntry* styles = m_package.RelatedPart("/styles", "styles.bin"))
            ReadStyles(m_package, *styles, data.formats);
        if (const ZipEntry* strings = m_package.RelatedPart("/sharedStrings", "sharedStrings.bin"))
            ReadSharedStrings(m_package, *strings, data.sharedStrings, m_yield);
        m_package.RequireBudgetForSheets();
    }

    void LoadSheet(size_t index, SheetBuilder& builder) override
    {
        const ZipEntry& entry = m_package.SheetPart(index);
        WorksheetRecords records(builder);
        // Rows handed over as they load are composed on another thread meanwhile: with
        // no third core, a thread inflating ahead would only take turns with those two,
        // and the records, quick to read, leave this one room to inflate them itself.
        const bool inflateAhead = !builder.HandsOverRows() || core::UsableCores() > 2;
        ReadRecords(
            m_package.Archive(), entry, "the worksheet part", records,
            [&](uint64_t read) {
                builder.NoteRead(read, entry.uncompressedSize);
                if (m_yield)
                    m_yield();
            },
            inflateAhead);
    }

    uint64_t SheetBytes(size_t index) const override { return m_package.SheetBytes(index); }

private:
    xlsx::WorkbookPackage m_package;
    std::function<void()> m_yield;
};

} // namespace

std::unique_ptr<WorkbookReader> OpenReader(const ReaderContext& context, WorkbookData& data)
{
    auto reader = std::make_unique<XlsbReader>(context.Archive(), context.yield);
    reader->Open(data);
    return reader;
}

} // namespace vellumcast::spreadsheet::xlsb
