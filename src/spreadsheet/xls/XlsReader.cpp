// Reads legacy binary workbooks: a BIFF8 (Excel 97 to 2003) or BIFF5/BIFF7 (Excel 5 and
// 95) workbook stream, in a compound file or saved on its own. The workbook globals (sheet list, shared
// strings, formats, date system) are read at open; a worksheet's cell records are read
// from its BOF when it is first asked for.

#include "spreadsheet/xls/XlsReader.h"
#include "spreadsheet/SheetLayout.h"
#include "spreadsheet/container/ByteCursor.h"
#include "spreadsheet/container/Cfb.h"
#include "spreadsheet/encryption/BiffEncryption.h"
#include "spreadsheet/xls/Biff.h"

#include <algorithm>
#include <span>
#include <unordered_map>
#include <vector>

namespace vellumcast::spreadsheet::xls {

namespace {

using container::LoadU16;
using container::LoadU32;
using xls::BiffRecord;
using xls::BiffRecordReader;
using xls::FragmentCursor;
namespace biff = xls::biff;

constexpr uint16_t kBiff8 = 0x0600;
constexpr uint16_t kBiff5 = 0x0500;
constexpr uint16_t kGlobalsSubstream = 0x0005;
constexpr uint16_t kWorksheetSubstream = 0x0010;
constexpr uint16_t kWsBool = 0x0081;
constexpr uint16_t kDimensions = 0x0200;
constexpr uint16_t kRow = 0x0208;
constexpr uint16_t kColInfo = 0x007D;
constexpr uint16_t kMergedCells = 0x00E5;
constexpr uint16_t kSharedFormula = 0x04BC;
constexpr uint16_t kArray = 0x0221;
constexpr uint16_t kTable = 0x0236;
constexpr uint16_t kExternSheet = 0x0017;
constexpr uint16_t kName = 0x0018;
constexpr uint16_t kExternName = 0x0023;
constexpr uint16_t kSupBook = 0x01AE;

// The bytes of a record from offset on, its CONTINUE fragments joined: a formula's
// tokens and their extra data, as the formula parser reads them.
std::string RecordBytesFrom(const BiffRecord& record, size_t offset)
{
    FragmentCursor cursor(record);
    cursor.Skip(offset);
    std::string bytes;
    cursor.ReadBytes(static_cast<size_t>(cursor.Remaining()), bytes);
    return bytes;
}

// The names of the built-in defined names, by the code a NAME record gives for them.
constexpr std::string_view kBuiltInNames[]
    = { "Consolidate_Area", "Auto_Open", "Auto_Close", "Extract", "Database", "Criteria", "Print_Area", "Print_Titles",
          "Recorder", "Data_Form", "Auto_Activate", "Auto_Deactivate", "Sheet_Title", "_FilterDatabase" };

void Need(const BiffRecord& record, size_t size)
{
    if (record.data.size() < size)
        Corrupt("a cell record of the workbook stream is too short");
}

// Reads the strings of both BIFF versions: BIFF8 carries Unicode strings with a flag
// byte, BIFF5 8-bit strings in the workbook's code page.
class StringReader {
public:
    bool biff8 = true;
    xls::CodePageDecoder decoder;

    // A string whose character count (one or two bytes) comes first.
    void Read(FragmentCursor& cursor, bool byteCount, std::string& out)
    {
        const size_t count = byteCount ? cursor.U8() : cursor.U16();
        if (biff8) {
            const uint8_t flags = cursor.U8();
            cursor.ReadChars(count, (flags & 0x01) != 0, out);
            return;
        }
        m_bytes.clear();
        cursor.ReadBytes(count, m_bytes);
        decoder.Append(std::span(reinterpret_cast<const uint8_t*>(m_bytes.data()), m_bytes.size()), out);
    }

private:
    std::string m_bytes;
};

// How many bytes of records the loads of a workbook's worksheets may read together. The
// substreams of real worksheets do not overlap, so their loads read the stream about once
// (twice when every worksheet is loaded again); sheet entries that all point at one
// substream (or into one another's) would read it once per entry.
uint64_t SheetRecordsBudget(size_t streamSize)
{
    constexpr uint64_t kFloor = 16ull << 20;
    return kFloor + 2 * static_cast<uint64_t>(streamSize);
}

struct SheetLocation {
    uint32_t position; // of the sheet's BOF in the workbook stream
};

class XlsReader final : public WorkbookReader {
public:
    // bare: the file is the workbook stream itself, not a compound file holding it.
    XlsReader(const ReaderContext& context, WorkbookData& data, bool bare);
    void LoadSheet(size_t index, SheetBuilder& builder) override;

private:
    // The workbook stream of the compound file, kept in m_stream.
    std::span<const uint8_t> WorkbookStream();
    void ReadGlobals(BiffRecordReader& reader, WorkbookData& data);
    void ReadFormulaTable(const BiffRecord& record, formula::WorkbookFormulas& formulas);
    bool IsDialogSheet(uint32_t position) const;

    std::shared_ptr<const FileBytes> m_bytes;
    std::function<void()> m_yield;
    encryption::PasswordSource m_password;
    container::CfbStream m_stream;
    std::vector<uint8_t> m_decrypted; // the workbook stream of an encrypted workbook, decrypted
    std::span<const uint8_t> m_biff; // the workbook stream: m_stream's, the whole file or m_decrypted
    StringReader m_strings;
    std::vector<SheetLocation> m_sheets;
    std::string m_text; // reused for string cells
    uint64_t m_sheetRecordsRead = 0; // by all loads so far, against SheetRecordsBudget
};

XlsReader::XlsReader(const ReaderContext& context, WorkbookData& data, bool bare)
    : m_bytes(context.bytes)
    , m_yield(context.yield)
    , m_password(context.password)
{
    const std::string& fileName = context.fileName;
    m_biff = bare ? m_bytes->Bytes() : WorkbookStream();

    BiffRecordReader reader(m_biff);
    BiffRecord record;
    if (!reader.Next(record))
        Corrupt("the workbook stream is empty");
    if (record.type == biff::kBofBiff2 || record.type == biff::kBofBiff3 || record.type == biff::kBofBiff4)
        throw SpreadsheetError(ErrorCode::Unsupported,
            "the workbook is in a format older than Excel 5 (BIFF2 to BIFF4), which is not read");
    if (record.type != biff::kBof || record.data.size() < 4)
        Corrupt("the workbook stream does not start with a BOF record");
    const uint16_t version = LoadU16(record.data.data());
    const uint16_t substream = LoadU16(record.data.data() + 2);
    if (version != kBiff8 && version != kBiff5)
        throw SpreadsheetError(ErrorCode::Unsupported, "the workbook's BIFF version is not one that is read");
    m_strings.biff8 = version == kBiff8;

    if (substream == kWorksheetSubstream) {
        // A worksheet saved on its own, without a workbook part: one sheet named after the file.
        std::string name = fileName;
        if (const auto dot = name.rfind('.'); dot != std::string::npos && dot > 0)
            name.resize(dot);
        data.sheets.push_back({ name.empty() ? "Sheet1" : name, SheetVisibility::Visible });
        m_sheets.push_back({ 0 });
        return;
    }
    if (substream != kGlobalsSubstream)
        Corrupt("the workbook stream does not start with the workbook part");
    ReadGlobals(reader, data);
}

std::span<const uint8_t> XlsReader::WorkbookStream()
{
    const container::CompoundFile file(m_bytes);
    if (file.FindStream("EncryptedPackage"))
        throw SpreadsheetError(ErrorCode::PasswordProtected, "the workbook is password-protected");
    const container::CfbEntry* entry = file.FindStream("Workbook");
    if (!entry)
        entry = file.FindStream("Book");
    if (!entry)
        throw SpreadsheetError(
            ErrorCode::NotAWorkbook, "it is not a workbook (a compound file without a workbook stream)");
    m_stream = file.Read(*entry);
    return m_stream.Bytes();
}

void XlsReader::ReadGlobals(BiffRecordReader& reader, WorkbookData& data)
{
    std::unordered_map<uint16_t, std::string> formatCodes;
    std::vector<uint16_t> xfFormats;
    size_t listed = 0; // sheets of every kind
    BiffRecord record;
    while (reader.Next(record)) {
        if (record.type == biff::kEof)
            break;
        switch (record.type) {
        case biff::kFilePass: {
            // The records after it are encrypted: the rest of the stream is read decrypted.
            if (!m_decrypted.empty())
                Corrupt("the workbook stream is encrypted twice over");
            const size_t next = record.offset + 4 + record.data.size();
            m_decrypted = encryption::DecryptWorkbookStream(m_biff, record.data, next, m_strings.biff8, m_password);
            m_biff = m_decrypted;
            reader = BiffRecordReader(m_biff, next);
            break;
        }
        case biff::kCodePage:
            if (record.data.size() >= 2)
                m_strings.decoder.SetCodePage(LoadU16(record.data.data()));
            break;
        case biff::kDateMode:
            if (record.data.size() >= 2 && LoadU16(record.data.data()) == 1)
                data.dateSystem = numfmt::DateSystem::Date1904;
            break;
        case biff::kFormat: {
            // A damaged format record costs only its own code: the styles that use it
            // fall back to the built-in format of that number.
            try {
                FragmentCursor cursor(record);
                const uint16_t id = cursor.U16();
                std::string code;
                m_strings.Read(cursor, !m_strings.biff8, code);
                formatCodes[id] = std::move(code);
            } catch (const SpreadsheetError&) {
            }
            break;
        }
        case biff::kXf:
            // Every XF keeps its place, so a cell's XF index is its style index.
            xfFormats.push_back(record.data.size() >= 4 ? LoadU16(record.data.data() + 2) : 0);
            break;
        case biff::kBoundSheet: {
            RequireRoomInList(listed++, ListLimit(m_bytes->Size()), m_bytes->Size(), "sheets");
            FragmentCursor cursor(record);
            const uint32_t position = cursor.U32();
            const uint8_t state = cursor.U8();
            const uint8_t type = cursor.U8();
            SheetEntry sheet;
            m_strings.Read(cursor, true, sheet.name);
            data.formulas.tabs.push_back(sheet.name); // formulas count every sheet
            switch (state & 0x03) {
            case 0:
                sheet.visibility = SheetVisibility::Visible;
                break;
            case 2:
                sheet.visibility = SheetVisibility::VeryHidden;
                break;
            default:
                sheet.visibility = SheetVisibility::Hidden;
                break;
            }
            // Macro sheets (1) and charts (2) are sheets of other kinds; VBA modules (6)
            // are no sheets a person sees.
            if (type == 1 || type == 2)
                data.otherSheets.push_back({ std::move(sheet.name),
                    type == 1 ? OtherSheetKind::Macro : OtherSheetKind::Chart, sheet.visibility, data.sheets.size() });
            if (type != 0)
                break;
            data.sheets.push_back(std::move(sheet));
            m_sheets.push_back({ position });
            break;
        }
        case kSupBook:
        case kExternName:
        case kExternSheet:
        case kName:
            if (m_strings.biff8)
                ReadFormulaTable(record, data.formulas);
            break;
        case biff::kSst:
            if (m_strings.biff8) {
                data.sharedStrings = SharedStringTable();
                for (const std::string& text : xls::ReadSharedStrings(record, m_yield))
                    data.sharedStrings.push_back(text);
            }
            break;
        default:
            break;
        }
    }

    data.formulas.namesRead = m_strings.biff8;
    for (const uint16_t id : xfFormats) {
        const auto found = formatCodes.find(id);
        data.formats.AddStyle(
            found != formatCodes.end() ? std::string_view(found->second) : numfmt::BuiltInFormatCode(id));
    }

    // Dialog sheets share the worksheet type in the sheet list; only their own WSBOOL
    // record tells them apart. Each becomes a sheet of another kind where it stood.
    for (size_t i = m_sheets.size(); i-- > 0;) {
        if (IsDialogSheet(m_sheets[i].position)) {
            auto& others = data.otherSheets;
            auto at = std::find_if(
                others.begin(), others.end(), [&](const OtherSheet& other) { return other.worksheetsBefore > i; });
            for (auto later = at; later != others.end(); ++later)
                --later->worksheetsBefore;
            others.insert(at, { std::move(data.sheets[i].name), OtherSheetKind::Dialog, data.sheets[i].visibility, i });
            m_sheets.erase(m_sheets.begin() + static_cast<std::ptrdiff_t>(i));
            data.sheets.erase(data.sheets.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
}

// The records formulas refer through ([MS-XLS] 2.4.271 SupBook, 2.4.106 ExternName,
// 2.4.105 ExternSheet, 2.4.150 Lbl): the workbooks and add-ins, their names, the sheets of
// 3-D references and the defined names. A damaged one costs only the formulas that use it.
void XlsReader::ReadFormulaTable(const BiffRecord& record, formula::WorkbookFormulas& formulas)
{
    try {
        FragmentCursor cursor(record);
        switch (record.type) {
        case kSupBook: {
            cursor.U16(); // the count of sheets
            const uint16_t kind = cursor.U16();
            formula::ExternBook& book = formulas.externBooks.emplace_back();
            book.self = kind == 0x0401;
            book.addIn = kind == 0x3A01;
            break;
        }
        case kExternName: {
            if (formulas.externBooks.empty())
                break;
            cursor.U16(); // flags
            cursor.U32(); // reserved, or the sheet of another workbook's name
            std::string name;
            m_strings.Read(cursor, true, name);
            formulas.externBooks.back().names.push_back(std::move(name));
            break;
        }
        case kExternSheet: {
            const uint16_t count = cursor.U16();
            for (uint16_t i = 0; i < count; ++i) {
                formula::ExternSheet& sheet = formulas.externSheets.emplace_back();
                sheet.book = cursor.U16();
                sheet.first = static_cast<int16_t>(cursor.U16());
                sheet.last = static_cast<int16_t>(cursor.U16());
            }
            break;
        }
        case kName: {
            // Every NAME keeps its place: formulas name them by their number.
            formula::DefinedName& name = formulas.names.emplace_back();
            name.grammar = formula::FormulaGrammar::Biff8;
            const uint16_t flags = cursor.U16();
            cursor.U8(); // the keyboard shortcut
            const size_t length = cursor.U8();
            const uint16_t tokens = cursor.U16();
            cursor.U16();
            const uint16_t tab = cursor.U16();
            cursor.Skip(4);
            const bool wide = (cursor.U8() & 0x01) != 0;
            std::string text;
            cursor.ReadChars(length, wide, text);
            if ((flags & 0x0020) != 0 && !text.empty()) {
                const auto code = static_cast<unsigned char>(text[0]);
                text = code < std::size(kBuiltInNames) ? "_xlnm." + std::string(kBuiltInNames[code]) : std::string();
            }
            name.name = std::move(text);
            name.scope = tab == 0 ? -1 : tab - 1;
            std::string body;
            body.push_back(static_cast<char>(tokens & 0xFF));
            body.push_back(static_cast<char>(tokens >> 8));
            cursor.ReadBytes(static_cast<size_t>(cursor.Remaining()), body);
            name.body = std::move(body);
            break;
        }
        default:
            break;
        }
    } catch (const SpreadsheetError&) {
    }
}

bool XlsReader::IsDialogSheet(uint32_t position) const
{
    const auto stream = m_biff;
    if (position >= stream.size())
        return false;
    try {
        BiffRecordReader reader(stream, position);
        BiffRecord record;
        if (!reader.Next(record) || record.type != biff::kBof)
            return false;
        // WSBOOL comes among the sheet's first records, before its dimensions and cells.
        for (int i = 0; i < 256 && reader.Next(record); ++i) {
            if (record.type == kWsBool)
                return record.data.size() >= 1 && (record.data[0] & 0x10) != 0;
            if (record.type == biff::kEof || record.type == biff::kBof || record.type == kDimensions
                || record.type == kRow)
                return false;
        }
    } catch (const SpreadsheetError&) {
        // A damaged sheet is reported when it is loaded.
    }
    return false;
}

// ROW: the row, its columns, its height, two reserved words, then flags whose sixth bit
// (fDyZero) hides the row.
void ReadRowLayout(const BiffRecord& record, SheetLayout& layout)
{
    if (record.data.size() >= 13 && (record.data[12] & 0x20) != 0) {
        const int32_t row = LoadU16(record.data.data()) + 1;
        layout.HideRows(row, row);
    }
}

// COLINFO: first and last column (0-based), width, style, then flags whose first bit
// hides the columns; a width of zero hides them too.
void ReadColumnLayout(const BiffRecord& record, SheetLayout& layout)
{
    if (record.data.size() < 10)
        return;
    const uint8_t* d = record.data.data();
    if ((LoadU16(d + 8) & 0x0001) != 0 || LoadU16(d + 4) == 0)
        layout.HideColumns(LoadU16(d) + 1, LoadU16(d + 2) + 1);
}

// MERGEDCELLS: a count, then that many areas of first and last row, first and last
// column (0-based); the count is not trusted past the record's end.
void ReadMerges(const BiffRecord& record, SheetLayout& layout)
{
    if (record.data.size() < 2)
        return;
    const uint8_t* d = record.data.data();
    const size_t count = std::min<size_t>(LoadU16(d), (record.data.size() - 2) / 8);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* area = d + 2 + 8 * i;
        layout.AddMerge({ LoadU16(area) + 1, LoadU16(area + 4) + 1, LoadU16(area + 2) + 1, LoadU16(area + 6) + 1 });
    }
}

void XlsReader::LoadSheet(size_t index, SheetBuilder& builder)
{
    SheetLayout* layout = builder.Layout();
    const auto stream = m_biff;
    const uint32_t position = m_sheets.at(index).position;
    if (position >= stream.size())
        Corrupt("the worksheet's position lies outside the workbook stream");
    BiffRecordReader reader(stream, position);
    BiffRecord record;
    if (!reader.Next(record) || record.type != biff::kBof)
        Corrupt("the worksheet's position does not point at its start");

    int depth = 0; // substreams embedded in the sheet (charts) are passed over
    bool pendingString = false;
    int32_t pendingRow = 0, pendingColumn = 0;
    uint32_t pendingStyle = 0;
    // The formula whose string result should follow, and the last formula's cell: the anchor
    // of a shared or array formula written after it. Formulas are read in BIFF8 only.
    const bool formulas = m_strings.biff8;
    std::string pendingFormula;
    int32_t formulaRow = 0, formulaColumn = 0;
    // A formula with no value is recorded blank and kept for the engine to compute.
    const auto noValue = [&](int32_t row, int32_t column, uint32_t style, const std::string& body) {
        if (formulas && !body.empty())
            builder.AddFormula(row, column, style, formula::FormulaGrammar::Biff8, body);
        else
            builder.AddBlank(row, column, style);
    };

    const uint64_t budget = SheetRecordsBudget(stream.size());
    const auto charge = [&](size_t upTo) {
        if (m_sheetRecordsRead + (upTo - position) > budget)
            throw SpreadsheetError(ErrorCode::TooLarge,
                "its worksheets' records would be read more than " + std::to_string(budget)
                    + " bytes in all, more than a workbook stream of " + std::to_string(stream.size())
                    + " bytes holds (several worksheets share their records)");
    };
    // Whether the load ends or fails, what it read is charged.
    struct Charged {
        uint64_t& total;
        const size_t& at;
        size_t from;
        ~Charged() { total += at - from; }
    } charged { m_sheetRecordsRead, record.offset, position };

    while (reader.Next(record)) {
        charge(record.offset);
        const uint16_t type = record.type;
        if (type == biff::kBof) {
            ++depth;
            continue;
        }
        if (type == biff::kEof) {
            if (depth == 0)
                break;
            --depth;
            continue;
        }
        if (depth > 0)
            continue;
        // A formula's string result is the next STRING record; shared formula and array
        // records may come between.
        if (pendingString && type != biff::kString && type != kSharedFormula && type != kArray && type != kTable) {
            noValue(pendingRow, pendingColumn, pendingStyle, pendingFormula);
            pendingString = false;
        }

        const uint8_t* d = record.data.data();
        switch (type) {
        case biff::kLabelSst:
            Need(record, 10);
            builder.AddSharedString(LoadU16(d) + 1, LoadU16(d + 2) + 1, LoadU32(d + 6), LoadU16(d + 4));
            break;
        case biff::kNumber:
            Need(record, 14);
            builder.AddNumber(LoadU16(d) + 1, LoadU16(d + 2) + 1, container::LoadF64(d + 6), LoadU16(d + 4));
            break;
        case biff::kRk:
            Need(record, 10);
            builder.AddNumber(LoadU16(d) + 1, LoadU16(d + 2) + 1, xls::DecodeRk(LoadU32(d + 6)), LoadU16(d + 4));
            break;
        case biff::kMulRk: {
            Need(record, 6);
            const int32_t row = LoadU16(d) + 1;
            const int32_t first = LoadU16(d + 2) + 1;
            const size_t count = (record.data.size() - 6) / 6;
            for (size_t i = 0; i < count; ++i) {
                const uint8_t* item = d + 4 + 6 * i;
                builder.AddNumber(
                    row, first + static_cast<int32_t>(i), xls::DecodeRk(LoadU32(item + 2)), LoadU16(item));
            }
            break;
        }
        case biff::kBlank:
            Need(record, 6);
            builder.AddBlank(LoadU16(d) + 1, LoadU16(d + 2) + 1, LoadU16(d + 4));
            break;
        case biff::kMulBlank: {
            Need(record, 6);
            const int32_t row = LoadU16(d) + 1;
            const int32_t first = LoadU16(d + 2) + 1;
            const size_t count = (record.data.size() - 6) / 2;
            for (size_t i = 0; i < count; ++i)
                builder.AddBlank(row, first + static_cast<int32_t>(i), LoadU16(d + 4 + 2 * i));
            break;
        }
        case biff::kBoolErr:
            Need(record, 8);
            if (d[7] != 0)
                builder.AddError(LoadU16(d) + 1, LoadU16(d + 2) + 1, CellErrorOfCode(d[6]).value_or(CellError::Value),
                    LoadU16(d + 4));
            else
                builder.AddBoolean(LoadU16(d) + 1, LoadU16(d + 2) + 1, d[6] != 0, LoadU16(d + 4));
            break;
        case biff::kFormula: {
            Need(record, 14);
            const int32_t row = LoadU16(d) + 1;
            const int32_t column = LoadU16(d + 2) + 1;
            const uint32_t style = LoadU16(d + 4);
            const uint8_t* result = d + 6;
            formulaRow = row;
            formulaColumn = column;
            if (formulas && builder.CapturesEveryFormula() && record.data.size() > 20
                && (result[6] != 0xFF || result[7] != 0xFF || result[0] <= 3))
                builder.AddValuedFormula(row, column, formula::FormulaGrammar::Biff8, RecordBytesFrom(record, 20));
            if (result[6] != 0xFF || result[7] != 0xFF) {
                builder.AddNumber(row, column, container::LoadF64(result), style);
                break;
            }
            switch (result[0]) {
            case 0:
                pendingString = true;
                pendingRow = row;
                pendingColumn = column;
                pendingStyle = style;
                pendingFormula = formulas && record.data.size() > 20 ? RecordBytesFrom(record, 20) : std::string();
                break;
            case 1:
                builder.AddBoolean(row, column, result[2] != 0, style);
                break;
            case 2:
                builder.AddError(row, column, CellErrorOfCode(result[2]).value_or(CellError::Value), style);
                break;
            case 3:
                builder.AddString(row, column, {}, style);
                break;
            default: // a result of no type: the formula has no value
                noValue(row, column, style, formulas && record.data.size() > 20 ? RecordBytesFrom(record, 20) : "");
                break;
            }
            break;
        }
        case kSharedFormula: // after the formula at the anchor: the range, then the tokens
        case kArray:
            if (formulas && record.data.size() >= (type == kArray ? 14u : 10u)) {
                formula::SharedFormula shared;
                shared.row = formulaRow;
                shared.column = formulaColumn;
                shared.range = { LoadU16(d) + 1, d[4] + 1, LoadU16(d + 2) + 1, d[5] + 1 };
                shared.grammar = formula::FormulaGrammar::Biff8;
                shared.array = type == kArray;
                builder.AddSharedFormula(shared, RecordBytesFrom(record, type == kArray ? 12 : 8));
            }
            break;
        case biff::kString:
            if (pendingString) {
                FragmentCursor cursor(record);
                m_text.clear();
                m_strings.Read(cursor, false, m_text);
                builder.AddString(pendingRow, pendingColumn, m_text, pendingStyle);
                pendingString = false;
            }
            break;
        case kRow:
            if (layout)
                ReadRowLayout(record, *layout);
            break;
        case kColInfo:
            if (layout)
                ReadColumnLayout(record, *layout);
            break;
        case kMergedCells:
            if (layout)
                ReadMerges(record, *layout);
            break;
        case biff::kLabel:
        case biff::kRString: {
            Need(record, 8);
            FragmentCursor cursor(record);
            cursor.Skip(6);
            m_text.clear();
            m_strings.Read(cursor, false, m_text);
            builder.AddString(LoadU16(d) + 1, LoadU16(d + 2) + 1, m_text, LoadU16(d + 4));
            break;
        }
        default:
            break;
        }
    }
    if (pendingString)
        noValue(pendingRow, pendingColumn, pendingStyle, pendingFormula);
}

} // namespace

std::unique_ptr<WorkbookReader> OpenReader(const ReaderContext& context, WorkbookData& data)
{
    return std::make_unique<XlsReader>(context, data, false);
}

std::unique_ptr<WorkbookReader> OpenBareStreamReader(const ReaderContext& context, WorkbookData& data)
{
    return std::make_unique<XlsReader>(context, data, true);
}

} // namespace vellumcast::spreadsheet::xls
