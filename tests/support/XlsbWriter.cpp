#include "support/XlsbWriter.h"

#include <cstring>
#include <fstream>
#include <stdexcept>

namespace vellumcast::testing {

namespace {

constexpr std::string_view kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr std::string_view kXmlHeader = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

// Record types the writer uses.
enum : uint16_t {
    kRowHdr = 0,
    kCellBlank = 1,
    kCellRk = 2,
    kCellError = 3,
    kCellBool = 4,
    kCellReal = 5,
    kCellSt = 6,
    kCellIsst = 7,
    kFmlaString = 8,
    kFmlaNum = 9,
    kFmlaBool = 10,
    kFmlaError = 11,
    kFont = 43,
    kFmt = 44,
    kFill = 45,
    kBorder = 46,
    kXf = 47,
    kStyle = 48,
    kSstItem = 19,
    kCellRString = 62,
    kBeginSheet = 129,
    kEndSheet = 130,
    kBeginBook = 131,
    kEndBook = 132,
    kBeginBundleShs = 143,
    kEndBundleShs = 144,
    kColInfo = 60,
    kBeginSheetData = 145,
    kMergeCell = 176,
    kBeginMergeCells = 177,
    kEndMergeCells = 178,
    kBeginColInfos = 390,
    kEndColInfos = 391,
    kEndSheetData = 146,
    kWsDim = 148,
    kWbProp = 153,
    kBundleSh = 156,
    kBeginSst = 159,
    kEndSst = 160,
    kBeginStyleSheet = 278,
    kEndStyleSheet = 279,
    kBeginFonts = 611,
    kEndFonts = 612,
    kBeginFills = 603,
    kEndFills = 604,
    kBeginBorders = 613,
    kEndBorders = 614,
    kBeginFmts = 615,
    kEndFmts = 616,
    kBeginCellXfs = 617,
    kEndCellXfs = 618,
    kBeginStyles = 619,
    kEndStyles = 620,
    kBeginCellStyleXfs = 626,
    kEndCellStyleXfs = 627,
};

uint8_t ErrorCode(std::string_view text)
{
    const struct {
        std::string_view text;
        uint8_t code;
    } errors[] = { { "#NULL!", 0x00 }, { "#DIV/0!", 0x07 }, { "#VALUE!", 0x0F }, { "#REF!", 0x17 }, { "#NAME?", 0x1D },
        { "#NUM!", 0x24 }, { "#N/A", 0x2A }, { "#GETTING_DATA", 0x2B } };
    for (const auto& error : errors) {
        if (error.text == text)
            return error.code;
    }
    throw std::invalid_argument("no such error: " + std::string(text));
}

std::string F64(double value)
{
    std::string out(8, '\0');
    std::memcpy(out.data(), &value, 8); // the tests run on little-endian machines
    return out;
}

// A formula of these tokens and no extra data.
std::string Formula(std::string_view token)
{
    return XlsbWriter::U16(0) + XlsbWriter::U32(static_cast<uint32_t>(token.size())) + std::string(token)
        + XlsbWriter::U32(0);
}

std::string Relationship(const std::string& id, std::string_view type, const std::string& target)
{
    return "<Relationship Id=\"" + id + "\" Type=\"" + std::string(kRel) + "/" + std::string(type) + "\" Target=\""
        + target + "\"/>";
}

std::string Override(const std::string& part, std::string_view type)
{
    return "<Override PartName=\"/" + part + "\" ContentType=\"" + std::string(type) + "\"/>";
}

} // namespace

std::string XlsbWriter::U16(uint32_t value)
{
    return { static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF) };
}

std::string XlsbWriter::U32(uint32_t value)
{
    return U16(value & 0xFFFF) + U16(value >> 16);
}

std::string XlsbWriter::Record(uint16_t type, std::string_view data)
{
    std::string out;
    uint32_t value = type;
    do {
        const uint8_t byte = value & 0x7F;
        value >>= 7;
        out.push_back(static_cast<char>(value ? byte | 0x80 : byte));
    } while (value);
    value = static_cast<uint32_t>(data.size());
    do {
        const uint8_t byte = value & 0x7F;
        value >>= 7;
        out.push_back(static_cast<char>(value ? byte | 0x80 : byte));
    } while (value);
    return out + std::string(data);
}

std::string XlsbWriter::WideString(std::string_view text)
{
    std::string units;
    for (size_t i = 0; i < text.size();) {
        const auto byte = static_cast<uint8_t>(text[i]);
        const int length = byte < 0x80 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
        uint32_t code = length == 1 ? byte : byte & (0x7F >> length);
        for (int k = 1; k < length && i + k < text.size(); ++k)
            code = (code << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F);
        i += length;
        if (code >= 0x10000) {
            code -= 0x10000;
            units += U16(0xD800 + (code >> 10)) + U16(0xDC00 + (code & 0x3FF));
        } else {
            units += U16(code);
        }
    }
    return U32(static_cast<uint32_t>(units.size() / 2)) + units;
}

XlsbWriter::Sheet& XlsbWriter::Sheet::Cell(int row, int column, uint16_t type, uint32_t style, std::string_view value)
{
    if (row != m_row) {
        // rw, ixfe, miyRw (15 points), flags and no column spans.
        m_data += Record(kRowHdr, U32(row - 1) + U32(0) + U16(300) + std::string(3, '\0') + U32(0));
        m_row = row;
    }
    m_data += Record(type, U32(column - 1) + U32(style) + std::string(value));
    return *this;
}

XlsbWriter::Sheet& XlsbWriter::Sheet::Number(int row, int column, double value, uint32_t style)
{
    return Cell(row, column, kCellReal, style, F64(value));
}

XlsbWriter::Sheet& XlsbWriter::Sheet::Rk(int row, int column, uint32_t rk, uint32_t style)
{
    return Cell(row, column, kCellRk, style, U32(rk));
}

XlsbWriter::Sheet& XlsbWriter::Sheet::SharedString(int row, int column, std::string_view text, uint32_t style)
{
    return Cell(row, column, kCellIsst, style, U32(m_owner->SharedIndex(text)));
}

XlsbWriter::Sheet& XlsbWriter::Sheet::InlineString(int row, int column, std::string_view text, uint32_t style)
{
    return Cell(row, column, kCellSt, style, WideString(text));
}

XlsbWriter::Sheet& XlsbWriter::Sheet::RichString(int row, int column, std::string_view text, uint32_t style)
{
    // Flags (rich runs follow), the text, one run from the first character in font 0.
    return Cell(row, column, kCellRString, style, std::string(1, '\x01') + WideString(text) + U32(1) + U16(0) + U16(0));
}

XlsbWriter::Sheet& XlsbWriter::Sheet::Boolean(int row, int column, bool value, uint32_t style)
{
    return Cell(row, column, kCellBool, style, std::string(1, value ? '\x01' : '\x00'));
}

XlsbWriter::Sheet& XlsbWriter::Sheet::Error(int row, int column, std::string_view text)
{
    return Cell(row, column, kCellError, 0, std::string(1, static_cast<char>(ErrorCode(text))));
}

XlsbWriter::Sheet& XlsbWriter::Sheet::Blank(int row, int column, uint32_t style)
{
    return Cell(row, column, kCellBlank, style, {});
}

XlsbWriter::Sheet& XlsbWriter::Sheet::FormulaString(
    int row, int column, std::string_view, std::string_view cached, std::string_view rgce)
{
    const std::string text = WideString(cached);
    // PtgStr: a 16-bit count of characters, then UTF-16.
    return Cell(row, column, kFmlaString, 0,
        text
            + Formula(rgce.empty() ? "\x17" + U16(static_cast<uint32_t>((text.size() - 4) / 2)) + text.substr(4)
                                   : std::string(rgce)));
}

XlsbWriter::Sheet& XlsbWriter::Sheet::FormulaNumber(
    int row, int column, double cached, uint32_t style, std::string_view rgce)
{
    return Cell(row, column, kFmlaNum, style,
        F64(cached) + Formula(rgce.empty() ? "\x1F" + F64(cached) : std::string(rgce))); // PtgNum
}

XlsbWriter::Sheet& XlsbWriter::Sheet::FormulaBoolean(int row, int column, bool cached, std::string_view rgce)
{
    const std::string value(1, cached ? '\x01' : '\x00');
    return Cell(
        row, column, kFmlaBool, 0, value + Formula(rgce.empty() ? "\x1D" + value : std::string(rgce))); // PtgBool
}

XlsbWriter::Sheet& XlsbWriter::Sheet::FormulaError(int row, int column, std::string_view text, std::string_view rgce)
{
    const std::string value(1, static_cast<char>(ErrorCode(text)));
    return Cell(
        row, column, kFmlaError, 0, value + Formula(rgce.empty() ? "\x1C" + value : std::string(rgce))); // PtgErr
}

XlsbWriter::Sheet& XlsbWriter::Sheet::Dimension(int firstRow, int firstColumn, int lastRow, int lastColumn)
{
    m_dimension = Record(kWsDim, U32(firstRow - 1) + U32(lastRow - 1) + U32(firstColumn - 1) + U32(lastColumn - 1));
    return *this;
}

XlsbWriter::Sheet& XlsbWriter::Sheet::Raw(std::string record)
{
    m_data += record;
    return *this;
}

XlsbWriter::Sheet& XlsbWriter::Sheet::HiddenRow(int row)
{
    // rw, ixfe, miyRw, a byte of flags, then the one holding fDyZero (0x10), no spans.
    m_data += Record(kRowHdr,
        U32(row - 1) + U32(0) + U16(300) + std::string(1, '\0') + std::string(1, '\x10') + std::string(1, '\0')
            + U32(0));
    m_row = row;
    return *this;
}

XlsbWriter::Sheet& XlsbWriter::Sheet::HiddenColumns(int first, int last, bool byZeroWidth)
{
    // colFirst, colLast, coldx (1/256 of a character), ixfe, flags (fHidden is bit 0).
    m_columns += Record(
        kColInfo, U32(first - 1) + U32(last - 1) + U32(byZeroWidth ? 0 : 2560) + U32(0) + U16(byZeroWidth ? 0 : 1));
    return *this;
}

XlsbWriter::Sheet& XlsbWriter::Sheet::Merge(int firstRow, int firstColumn, int lastRow, int lastColumn)
{
    m_merges += Record(kMergeCell, U32(firstRow - 1) + U32(lastRow - 1) + U32(firstColumn - 1) + U32(lastColumn - 1));
    return *this;
}

XlsbWriter::Sheet& XlsbWriter::AddSheet(std::string name, XlsxVisibility visibility)
{
    Sheet& sheet = m_sheets.emplace_back();
    sheet.m_owner = this;
    sheet.m_name = std::move(name);
    sheet.m_visibility = visibility;
    return sheet;
}

void XlsbWriter::AddChartSheet(std::string name)
{
    AddSheet(std::move(name)).m_chart = true;
}

uint32_t XlsbWriter::AddStyle(std::string_view formatCode)
{
    for (const auto& [id, code] : m_numFmts) {
        if (code == formatCode)
            return AddBuiltInStyle(id);
    }
    const int id = 164 + static_cast<int>(m_numFmts.size());
    m_numFmts.emplace_back(id, std::string(formatCode));
    return AddBuiltInStyle(id);
}

uint32_t XlsbWriter::AddBuiltInStyle(int formatId)
{
    m_xfFormats.push_back(formatId);
    return static_cast<uint32_t>(m_xfFormats.size() - 1);
}

XlsbWriter& XlsbWriter::Date1904(bool on)
{
    m_date1904 = on;
    return *this;
}

XlsbWriter& XlsbWriter::Compress(bool on)
{
    m_compress = on;
    return *this;
}

uint32_t XlsbWriter::SharedIndex(std::string_view text)
{
    const auto [it, inserted] = m_sharedIndex.try_emplace(std::string(text), static_cast<uint32_t>(m_shared.size()));
    if (inserted)
        m_shared.emplace_back(text);
    return it->second;
}

std::string XlsbWriter::WorkbookPart() const
{
    std::string out = Record(kBeginBook, {});
    out += Record(kWbProp, U32(m_date1904 ? 1 : 0) + U32(0) + WideString(""));
    out += Record(kBeginBundleShs, {});
    for (size_t i = 0; i < m_sheets.size(); ++i) {
        const Sheet& sheet = m_sheets[i];
        const uint32_t state = sheet.m_visibility == XlsxVisibility::Hidden ? 1
            : sheet.m_visibility == XlsxVisibility::VeryHidden              ? 2
                                                                            : 0;
        out += Record(kBundleSh,
            U32(state) + U32(static_cast<uint32_t>(i + 1)) + WideString("rId" + std::to_string(i + 1))
                + WideString(sheet.m_name));
    }
    out += Record(kEndBundleShs, {});
    return out + Record(kEndBook, {});
}

std::string XlsbWriter::StylesPart() const
{
    std::string out = Record(kBeginStyleSheet, {});
    out += Record(kBeginFmts, U32(static_cast<uint32_t>(m_numFmts.size())));
    for (const auto& [id, code] : m_numFmts)
        out += Record(kFmt, U16(id) + WideString(code));
    out += Record(kEndFmts, {});
    // One font (11-point Calibri, automatic colour), one empty fill, one empty border.
    out += Record(kBeginFonts, U32(1));
    out += Record(kFont,
        U16(220) + U16(0) + U16(400) + U16(0) + std::string(1, '\0') + std::string(1, '\x02') + std::string(2, '\0')
            + std::string(1, '\x01') + std::string(7, '\0') + std::string(1, '\x02') + WideString("Calibri"));
    out += Record(kEndFonts, {});
    out += Record(kBeginFills, U32(1));
    out += Record(kFill, std::string(68, '\0'));
    out += Record(kEndFills, {});
    out += Record(kBeginBorders, U32(1));
    out += Record(kBorder, std::string(51, '\0'));
    out += Record(kEndBorders, {});
    // The parent style, then the cell formats: parent, number format, font, fill, border,
    // rotation, indent, alignment flags, applied attributes.
    const auto xf = [](uint32_t parent, uint32_t format) {
        return Record(kXf,
            U16(parent) + U16(format) + U16(0) + U16(0) + U16(0) + std::string(2, '\0') + U16(0x1010)
                + U16(format ? 0x01 : 0));
    };
    out += Record(kBeginCellStyleXfs, U32(1)) + xf(0xFFFF, 0) + Record(kEndCellStyleXfs, {});
    out += Record(kBeginCellXfs, U32(static_cast<uint32_t>(m_xfFormats.size())));
    for (const int id : m_xfFormats)
        out += xf(0, static_cast<uint32_t>(id));
    out += Record(kEndCellXfs, {});
    out += Record(kBeginStyles, U32(1))
        + Record(kStyle, U32(0) + U16(1) + std::string(1, '\0') + std::string(1, '\xFF') + WideString("Normal"))
        + Record(kEndStyles, {});
    return out + Record(kEndStyleSheet, {});
}

std::string XlsbWriter::SharedStringsPart() const
{
    const auto count = static_cast<uint32_t>(m_shared.size());
    std::string out = Record(kBeginSst, U32(count) + U32(count));
    for (const auto& text : m_shared)
        out += Record(kSstItem, std::string(1, '\0') + WideString(text));
    return out + Record(kEndSst, {});
}

std::vector<std::pair<std::string, std::string>> XlsbWriter::Parts() const
{
    std::string types = std::string(kXmlHeader)
        + "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
          "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
          "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
          "<Default Extension=\"bin\" ContentType=\"application/vnd.ms-excel.sheet.binary.macroEnabled.main\"/>";
    std::string rels = std::string(kXmlHeader)
        + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    std::vector<std::pair<std::string, std::string>> sheets;
    for (size_t i = 0; i < m_sheets.size(); ++i) {
        const Sheet& sheet = m_sheets[i];
        const std::string number = std::to_string(i + 1);
        const std::string id = "rId" + number;
        if (sheet.m_chart) {
            const std::string part = "chartsheets/sheet" + number + ".bin";
            rels += Relationship(id, "chartsheet", part);
            types += Override("xl/" + part, "application/vnd.ms-excel.chartsheet");
            sheets.emplace_back("xl/" + part, Record(kBeginSheet, {}) + Record(kEndSheet, {}));
            continue;
        }
        const std::string part = "worksheets/sheet" + number + ".bin";
        rels += Relationship(id, "worksheet", part);
        types += Override("xl/" + part, "application/vnd.ms-excel.worksheet");
        sheets.emplace_back("xl/" + part,
            Record(kBeginSheet, {}) + sheet.m_dimension
                + (sheet.m_columns.empty() ? ""
                                           : Record(kBeginColInfos, {}) + sheet.m_columns + Record(kEndColInfos, {}))
                + Record(kBeginSheetData, {}) + sheet.m_data + Record(kEndSheetData, {})
                + (sheet.m_merges.empty()
                        ? ""
                        : Record(kBeginMergeCells, U32(0)) + sheet.m_merges + Record(kEndMergeCells, {}))
                + Record(kEndSheet, {}));
    }
    const std::string after = std::to_string(m_sheets.size() + 1);
    rels += Relationship("rId" + after, "styles", "styles.bin");
    types += Override("xl/styles.bin", "application/vnd.ms-excel.styles");
    if (!m_shared.empty()) {
        rels += Relationship("rIdStrings", "sharedStrings", "sharedStrings.bin");
        types += Override("xl/sharedStrings.bin", "application/vnd.ms-excel.sharedStrings");
    }
    rels += "</Relationships>";
    types += "</Types>";

    std::vector<std::pair<std::string, std::string>> parts;
    parts.emplace_back("[Content_Types].xml", types);
    parts.emplace_back("_rels/.rels",
        std::string(kXmlHeader)
            + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
            + Relationship("rId1", "officeDocument", "xl/workbook.bin") + "</Relationships>");
    parts.emplace_back("xl/workbook.bin", WorkbookPart());
    parts.emplace_back("xl/_rels/workbook.bin.rels", rels);
    parts.emplace_back("xl/styles.bin", StylesPart());
    if (!m_shared.empty())
        parts.emplace_back("xl/sharedStrings.bin", SharedStringsPart());
    for (auto& sheet : sheets)
        parts.push_back(std::move(sheet));
    return parts;
}

std::string XlsbWriter::Build() const
{
    ZipWriter zip;
    for (auto& [name, data] : Parts())
        zip.Add(name, data, m_compress);
    return zip.Finish();
}

std::string XlsbWriter::Save(const std::string& path) const
{
    std::ofstream out(path, std::ios::binary);
    out << Build();
    return path;
}

} // namespace vellumcast::testing
