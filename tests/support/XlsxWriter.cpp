#include "support/XlsxWriter.h"

#include <zlib.h>

#include <charconv>
#include <fstream>
#include <memory>
#include <stdexcept>

namespace vellumcast::testing {

namespace {

void Put16(std::string& out, uint32_t value)
{
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

void Put32(std::string& out, uint32_t value)
{
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

uint32_t Crc(std::string_view data)
{
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string FormatNumber(double value)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

} // namespace

std::string Deflate(std::string_view data)
{
    // A raw deflate stream (negative window bits), as ZIP members hold.
    z_stream stream {};
    if (deflateInit2(&stream, 1, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflate failed");
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&stream, Z_FINISH);
    deflateEnd(&stream);
    if (status != Z_STREAM_END)
        throw std::runtime_error("deflate failed");
    out.resize(stream.total_out);
    return out;
}

ZipWriter& ZipWriter::Add(std::string name, std::string data, bool deflate)
{
    ZipMember member;
    member.name = std::move(name);
    member.data = std::move(data);
    member.deflate = deflate;
    return Add(std::move(member));
}

ZipWriter& ZipWriter::Add(ZipMember member)
{
    m_members.push_back(std::move(member));
    return *this;
}

ZipWriter& ZipWriter::Zip64(bool on)
{
    m_zip64 = on;
    return *this;
}

std::string ZipWriter::Finish() const
{
    std::string out;
    std::string directory;
    for (const auto& member : m_members) {
        const std::string body = member.deflate ? Deflate(member.data) : member.data;
        const uint32_t crc = member.crcOverride.value_or(Crc(member.data));
        const auto size = static_cast<uint32_t>(member.uncompressedSizeOverride.value_or(member.data.size()));
        const uint16_t method = member.method != 0xFFFF ? member.method : (member.deflate ? 8 : 0);
        const uint16_t flags = static_cast<uint16_t>(member.flags | (member.dataDescriptor ? 0x0008 : 0));
        const auto offset = static_cast<uint32_t>(out.size());

        Put32(out, 0x04034b50);
        Put16(out, 20);
        Put16(out, flags);
        Put16(out, method);
        Put32(out, 0); // time, date
        Put32(out, member.dataDescriptor ? 0 : crc);
        Put32(out, member.dataDescriptor ? 0 : static_cast<uint32_t>(body.size()));
        Put32(out, member.dataDescriptor ? 0 : size);
        Put16(out, static_cast<uint32_t>(member.name.size()));
        Put16(out, 0);
        out += member.name;
        out += body;
        if (member.dataDescriptor) {
            Put32(out, 0x08074b50);
            Put32(out, crc);
            Put32(out, static_cast<uint32_t>(body.size()));
            Put32(out, size);
        }

        Put32(directory, 0x02014b50);
        Put16(directory, 20);
        Put16(directory, 20);
        Put16(directory, flags);
        Put16(directory, method);
        Put32(directory, 0);
        Put32(directory, crc);
        Put32(directory, m_zip64 ? 0xFFFFFFFFu : static_cast<uint32_t>(body.size()));
        Put32(directory, m_zip64 ? 0xFFFFFFFFu : size);
        Put16(directory, static_cast<uint32_t>(member.name.size()));
        Put16(directory, m_zip64 ? 28 : 0); // extra
        Put16(directory, 0); // comment
        Put16(directory, 0); // disk
        Put16(directory, 0); // internal attributes
        Put32(directory, 0); // external attributes
        Put32(directory, m_zip64 ? 0xFFFFFFFFu : offset);
        directory += member.name;
        if (m_zip64) {
            Put16(directory, 0x0001);
            Put16(directory, 24);
            Put32(directory, size);
            Put32(directory, 0);
            Put32(directory, static_cast<uint32_t>(body.size()));
            Put32(directory, 0);
            Put32(directory, offset);
            Put32(directory, 0);
        }
    }
    const auto directoryOffset = static_cast<uint32_t>(out.size());
    out += directory;
    const auto count = static_cast<uint32_t>(m_members.size());
    if (m_zip64) {
        const auto recordOffset = static_cast<uint32_t>(out.size());
        Put32(out, 0x06064b50);
        Put32(out, 44); // size of the rest of the record
        Put32(out, 0);
        Put16(out, 45);
        Put16(out, 45);
        Put32(out, 0); // this disk
        Put32(out, 0); // directory disk
        Put32(out, count);
        Put32(out, 0);
        Put32(out, count);
        Put32(out, 0);
        Put32(out, static_cast<uint32_t>(directory.size()));
        Put32(out, 0);
        Put32(out, directoryOffset);
        Put32(out, 0);
        Put32(out, 0x07064b50);
        Put32(out, 0);
        Put32(out, recordOffset);
        Put32(out, 0);
        Put32(out, 1);
    }
    Put32(out, 0x06054b50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, m_zip64 ? 0xFFFF : count);
    Put16(out, m_zip64 ? 0xFFFF : count);
    Put32(out, m_zip64 ? 0xFFFFFFFFu : static_cast<uint32_t>(directory.size()));
    Put32(out, m_zip64 ? 0xFFFFFFFFu : directoryOffset);
    Put16(out, 0);
    return out;
}

std::string XlsxWriter::Reference(int row, int column)
{
    std::string letters;
    for (int c = column; c > 0; c = (c - 1) / 26)
        letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
    return letters + std::to_string(row);
}

std::string XlsxWriter::Escape(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

XlsxWriter::Sheet& XlsxWriter::Sheet::Cell(int row, int column, std::string_view attributes, std::string_view content)
{
    if (row != m_openRow) {
        if (m_openRow != 0)
            m_data += "</row>";
        m_data += "<row r=\"" + std::to_string(row) + "\">";
        m_openRow = row;
    }
    m_data += "<c r=\"" + Reference(row, column) + "\"";
    m_data += attributes;
    if (content.empty()) {
        m_data += "/>";
    } else {
        m_data += ">";
        m_data += content;
        m_data += "</c>";
    }
    return *this;
}

namespace {
std::string StyleAttribute(uint32_t style)
{
    return style == 0 ? std::string() : " s=\"" + std::to_string(style) + "\"";
}
} // namespace

XlsxWriter::Sheet& XlsxWriter::Sheet::Number(int row, int column, double value, uint32_t style)
{
    return NumberText(row, column, FormatNumber(value), style);
}

XlsxWriter::Sheet& XlsxWriter::Sheet::NumberText(int row, int column, std::string_view value, uint32_t style)
{
    return Cell(row, column, StyleAttribute(style), "<v>" + std::string(value) + "</v>");
}

XlsxWriter::Sheet& XlsxWriter::Sheet::SharedString(int row, int column, std::string_view text, uint32_t style)
{
    const uint32_t index = m_owner->SharedIndex(text);
    return Cell(row, column, " t=\"s\"" + StyleAttribute(style), "<v>" + std::to_string(index) + "</v>");
}

XlsxWriter::Sheet& XlsxWriter::Sheet::InlineString(int row, int column, std::string_view text, uint32_t style)
{
    return Cell(row, column, " t=\"inlineStr\"" + StyleAttribute(style), "<is><t>" + Escape(text) + "</t></is>");
}

XlsxWriter::Sheet& XlsxWriter::Sheet::FormulaString(
    int row, int column, std::string_view formula, std::string_view cached)
{
    return Cell(row, column, " t=\"str\"", "<f>" + Escape(formula) + "</f><v>" + Escape(cached) + "</v>");
}

XlsxWriter::Sheet& XlsxWriter::Sheet::Boolean(int row, int column, bool value, uint32_t style)
{
    return Cell(row, column, " t=\"b\"" + StyleAttribute(style), value ? "<v>1</v>" : "<v>0</v>");
}

XlsxWriter::Sheet& XlsxWriter::Sheet::Error(int row, int column, std::string_view text)
{
    return Cell(row, column, " t=\"e\"", "<v>" + Escape(text) + "</v>");
}

XlsxWriter::Sheet& XlsxWriter::Sheet::Blank(int row, int column, uint32_t style)
{
    return Cell(row, column, StyleAttribute(style), {});
}

XlsxWriter::Sheet& XlsxWriter::Sheet::RawSheetData(std::string xml)
{
    m_data = std::move(xml);
    m_raw = true;
    return *this;
}

XlsxWriter::Sheet& XlsxWriter::Sheet::AroundSheetData(std::string before, std::string after)
{
    m_before = std::move(before);
    m_after = std::move(after);
    return *this;
}

XlsxWriter::Sheet& XlsxWriter::AddSheet(std::string name, XlsxVisibility visibility)
{
    Sheet& sheet = m_sheets.emplace_back();
    sheet.m_owner = this;
    sheet.m_name = std::move(name);
    sheet.m_visibility = visibility;
    return sheet;
}

void XlsxWriter::AddChartSheet(std::string name)
{
    Sheet& sheet = AddSheet(std::move(name));
    sheet.m_chart = true;
}

uint32_t XlsxWriter::AddStyle(std::string_view formatCode)
{
    int id = -1;
    for (const auto& [existing, code] : m_numFmts) {
        if (code == formatCode)
            id = existing;
    }
    if (id < 0) {
        id = 164 + static_cast<int>(m_numFmts.size());
        m_numFmts.emplace_back(id, std::string(formatCode));
    }
    return AddBuiltInStyle(id);
}

uint32_t XlsxWriter::AddBuiltInStyle(int formatId)
{
    m_xfFormats.push_back(formatId);
    return static_cast<uint32_t>(m_xfFormats.size() - 1);
}

XlsxWriter& XlsxWriter::Date1904(bool on)
{
    m_date1904 = on;
    return *this;
}

XlsxWriter& XlsxWriter::DefinedName(std::string_view name, std::string_view formula, int localSheet)
{
    m_definedNames += "<definedName name=\"" + Escape(name) + "\""
        + (localSheet >= 0 ? " localSheetId=\"" + std::to_string(localSheet) + "\"" : std::string()) + ">"
        + Escape(formula) + "</definedName>";
    return *this;
}

XlsxWriter& XlsxWriter::Compress(bool on)
{
    m_compress = on;
    return *this;
}

uint32_t XlsxWriter::SharedIndex(std::string_view text)
{
    const auto [it, inserted] = m_sharedIndex.try_emplace(std::string(text), static_cast<uint32_t>(m_shared.size()));
    if (inserted)
        m_shared.emplace_back(text);
    return it->second;
}

std::string XlsxWriter::Build() const
{
    constexpr std::string_view kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
    constexpr std::string_view kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    const std::string header = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

    std::string types = header
        + "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
          "<Default Extension=\"rels\" ContentType=\"application/"
          "vnd.openxmlformats-package.relationships+xml\"/>"
          "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
          "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/"
          "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>";
    std::string workbook = header + "<workbook xmlns=\"" + std::string(kMain) + "\" xmlns:r=\"" + std::string(kRel)
        + "\"><workbookPr" + (m_date1904 ? " date1904=\"1\"" : "") + "/><sheets>";
    std::string rels
        = header + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";

    ZipWriter zip;
    std::vector<std::pair<std::string, std::string>> parts;
    for (size_t i = 0; i < m_sheets.size(); ++i) {
        const Sheet& sheet = m_sheets[i];
        const std::string number = std::to_string(i + 1);
        const std::string id = "rId" + number;
        workbook += "<sheet name=\"" + Escape(sheet.m_name) + "\" sheetId=\"" + number + "\"";
        if (sheet.m_visibility == XlsxVisibility::Hidden)
            workbook += " state=\"hidden\"";
        else if (sheet.m_visibility == XlsxVisibility::VeryHidden)
            workbook += " state=\"veryHidden\"";
        workbook += " r:id=\"" + id + "\"/>";
        if (sheet.m_chart) {
            rels += "<Relationship Id=\"" + id + "\" Type=\"" + std::string(kRel)
                + "/chartsheet\" Target=\"chartsheets/sheet" + number + ".xml\"/>";
            types += "<Override PartName=\"/xl/chartsheets/sheet" + number
                + ".xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.chartsheet+xml\"/>";
            parts.emplace_back("xl/chartsheets/sheet" + number + ".xml",
                header + "<chartsheet xmlns=\"" + std::string(kMain) + "\"/>");
            continue;
        }
        rels += "<Relationship Id=\"" + id + "\" Type=\"" + std::string(kRel) + "/worksheet\" Target=\"worksheets/sheet"
            + number + ".xml\"/>";
        types += "<Override PartName=\"/xl/worksheets/sheet" + number
            + ".xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
        std::string data = sheet.m_data;
        if (!sheet.m_raw && sheet.m_openRow != 0)
            data += "</row>";
        parts.emplace_back("xl/worksheets/sheet" + number + ".xml",
            header + "<worksheet xmlns=\"" + std::string(kMain) + "\" xmlns:r=\"" + std::string(kRel) + "\">"
                + sheet.m_before + "<sheetData>" + data + "</sheetData>" + sheet.m_after + "</worksheet>");
    }
    workbook += "</sheets>";
    if (!m_definedNames.empty())
        workbook += "<definedNames>" + m_definedNames + "</definedNames>";
    workbook += "</workbook>";

    const std::string stylesId = "rId" + std::to_string(m_sheets.size() + 1);
    const std::string stringsId = "rId" + std::to_string(m_sheets.size() + 2);
    rels += "<Relationship Id=\"" + stylesId + "\" Type=\"" + std::string(kRel) + "/styles\" Target=\"styles.xml\"/>";
    rels += "<Relationship Id=\"" + stringsId + "\" Type=\"" + std::string(kRel)
        + "/sharedStrings\" Target=\"sharedStrings.xml\"/></Relationships>";

    std::string styles = header + "<styleSheet xmlns=\"" + std::string(kMain) + "\">";
    if (!m_numFmts.empty()) {
        styles += "<numFmts count=\"" + std::to_string(m_numFmts.size()) + "\">";
        for (const auto& [id, code] : m_numFmts)
            styles += "<numFmt numFmtId=\"" + std::to_string(id) + "\" formatCode=\"" + Escape(code) + "\"/>";
        styles += "</numFmts>";
    }
    styles += "<cellXfs count=\"" + std::to_string(m_xfFormats.size()) + "\">";
    for (const int id : m_xfFormats)
        styles += "<xf numFmtId=\"" + std::to_string(id) + "\" fontId=\"0\" applyNumberFormat=\"1\"/>";
    styles += "</cellXfs></styleSheet>";

    std::string strings = header + "<sst xmlns=\"" + std::string(kMain) + "\" count=\""
        + std::to_string(m_shared.size()) + "\" uniqueCount=\"" + std::to_string(m_shared.size()) + "\">";
    for (const auto& text : m_shared)
        strings += "<si><t xml:space=\"preserve\">" + Escape(text) + "</t></si>";
    strings += "</sst>";

    types += "<Override PartName=\"/xl/styles.xml\" ContentType=\"application/"
             "vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
             "<Override PartName=\"/xl/sharedStrings.xml\" ContentType=\"application/"
             "vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/></Types>";
    const std::string rootRels = header
        + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
          "<Relationship Id=\"rId1\" Type=\""
        + std::string(kRel) + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";

    zip.Add("[Content_Types].xml", types, m_compress);
    zip.Add("_rels/.rels", rootRels, m_compress);
    zip.Add("xl/workbook.xml", workbook, m_compress);
    zip.Add("xl/_rels/workbook.xml.rels", rels, m_compress);
    zip.Add("xl/styles.xml", styles, m_compress);
    zip.Add("xl/sharedStrings.xml", strings, m_compress);
    for (auto& [name, data] : parts)
        zip.Add(name, data, m_compress);
    return zip.Finish();
}

std::string XlsxWriter::Save(const std::string& path) const
{
    std::ofstream out(path, std::ios::binary);
    out << Build();
    return path;
}

} // namespace vellumcast::testing
