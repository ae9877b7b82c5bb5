// Writes a benchmark workbook: generate_xlsx OUT.xlsx ROWS
// One worksheet of a header row and ROWS rows by 10 columns of mixed types (integers,
// shared strings, formatted decimals, percentages, dates, booleans, blanks), with every
// member deflated by zlib as spreadsheet applications write them.

#include "BenchmarkCells.h"
#include "ZipFileWriter.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

using bench::ZipFileWriter;

void AppendNumber(std::string& out, double value)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void AppendInteger(std::string& out, int64_t value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// Column letters of the 10 columns.
constexpr char kColumns[] = "ABCDEFGHIJ";

void Cell(std::string& out, int column, int64_t row, const char* attributes, std::string_view value)
{
    out += "<c r=\"";
    out.push_back(kColumns[column]);
    AppendInteger(out, row);
    out += '"';
    out += attributes;
    out += "><v>";
    out += value;
    out += "</v></c>";
}

} // namespace

int main(int argc, char** argv)
{
    const long long rows = bench::RowsArgument(argc, argv, "generate_xlsx OUT.xlsx ROWS");
    const bench::SharedStrings sharedStrings;
    const auto& shared = sharedStrings.texts;

    constexpr std::string_view kHeader = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
    constexpr std::string_view kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
    constexpr std::string_view kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

    ZipFileWriter zip(argv[1]);
    zip.Add("[Content_Types].xml",
        std::string(kHeader)
            + "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
              "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
              "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
              "<Override PartName=\"/xl/workbook.xml\" "
              "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
              "<Override PartName=\"/xl/worksheets/sheet1.xml\" "
              "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
              "<Override PartName=\"/xl/styles.xml\" "
              "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
              "<Override PartName=\"/xl/sharedStrings.xml\" "
              "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>"
              "</Types>");
    zip.Add("_rels/.rels",
        std::string(kHeader)
            + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
              "<Relationship Id=\"rId1\" Type=\""
            + std::string(kRel) + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>");
    zip.Add("xl/workbook.xml",
        std::string(kHeader) + "<workbook xmlns=\"" + std::string(kMain) + "\" xmlns:r=\"" + std::string(kRel)
            + "\"><workbookPr/><sheets><sheet name=\"Data\" sheetId=\"1\" r:id=\"rId1\"/>"
              "</sheets></workbook>");
    zip.Add("xl/_rels/workbook.xml.rels",
        std::string(kHeader)
            + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
              "<Relationship Id=\"rId1\" Type=\""
            + std::string(kRel) + "/worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" Type=\""
            + std::string(kRel) + "/styles\" Target=\"styles.xml\"/><Relationship Id=\"rId3\" Type=\""
            + std::string(kRel) + "/sharedStrings\" Target=\"sharedStrings.xml\"/></Relationships>");
    // Styles: 0 General, 1 #,##0.00, 2 0.00% (built-in 10), 3 a date (built-in 14), 4 a
    // custom yyyy-mm-dd hh:mm, 5 a fill-only style for formatted blanks.
    zip.Add("xl/styles.xml",
        std::string(kHeader) + "<styleSheet xmlns=\"" + std::string(kMain)
            + "\"><numFmts count=\"2\"><numFmt numFmtId=\"164\" formatCode=\"#,##0.00\"/>"
              "<numFmt numFmtId=\"165\" formatCode=\"yyyy\\-mm\\-dd hh:mm\"/></numFmts>"
              "<cellXfs count=\"6\"><xf numFmtId=\"0\"/><xf numFmtId=\"164\" applyNumberFormat=\"1\"/>"
              "<xf numFmtId=\"10\" applyNumberFormat=\"1\"/><xf numFmtId=\"14\" applyNumberFormat=\"1\"/>"
              "<xf numFmtId=\"165\" applyNumberFormat=\"1\"/><xf numFmtId=\"0\" fillId=\"1\"/>"
              "</cellXfs></styleSheet>");
    {
        std::string strings = std::string(kHeader) + "<sst xmlns=\"" + std::string(kMain) + "\" uniqueCount=\""
            + std::to_string(shared.size()) + "\">";
        for (const auto& text : shared) {
            strings += "<si><t>";
            for (const char c : text)
                strings += c == '&' ? std::string("&amp;") : std::string(1, c);
            strings += "</t></si>";
        }
        strings += "</sst>";
        zip.Add("xl/sharedStrings.xml", strings);
    }

    zip.Begin("xl/worksheets/sheet1.xml");
    std::string out;
    out.reserve(1 << 20);
    out += kHeader;
    out += "<worksheet xmlns=\"";
    out += kMain;
    out += "\"><dimension ref=\"A1:J" + std::to_string(rows + 1) + "\"/><sheetData><row r=\"1\">";
    for (int c = 0; c < 10; ++c)
        Cell(out, c, 1, " t=\"s\"", std::to_string(c));
    out += "</row>";

    bench::DataRows dataRows(sharedStrings);
    std::string value;
    for (long long r = 2; r <= rows + 1; ++r) {
        out += "<row r=\"";
        AppendInteger(out, r);
        out += "\">";
        const bench::DataRow row = dataRows.Row(r);
        value.clear();
        AppendInteger(value, row.id);
        Cell(out, 0, r, "", value);
        value.clear();
        AppendInteger(value, row.customer);
        Cell(out, 1, r, " t=\"s\"", value);
        value.clear();
        AppendNumber(value, row.amount);
        Cell(out, 2, r, " s=\"1\"", value);
        value.clear();
        AppendNumber(value, row.share);
        Cell(out, 3, r, " s=\"2\"", value);
        value.clear();
        AppendInteger(value, row.date);
        Cell(out, 4, r, " s=\"3\"", value);
        Cell(out, 5, r, " t=\"b\"", row.paid ? "1" : "0");
        if (row.formattedBlank) {
            out += "<c r=\"G";
            AppendInteger(out, r);
            out += "\" s=\"5\"/>";
        }
        value.clear();
        AppendNumber(value, row.ratio);
        Cell(out, 7, r, "", value);
        value.clear();
        AppendInteger(value, row.category);
        Cell(out, 8, r, " t=\"s\"", value);
        value.clear();
        AppendNumber(value, row.dateTime);
        Cell(out, 9, r, " s=\"4\"", value);
        out += "</row>";
        if (out.size() > (1u << 20) - 4096) {
            zip.Data(out);
            out.clear();
        }
    }
    out += "</sheetData></worksheet>";
    zip.Data(out);
    zip.End();
    zip.Finish();
    return 0;
}
