// Writes a benchmark workbook: generate_xlsb OUT.xlsb ROWS
// The cells of generate_xlsx (a header row and ROWS rows by 10 columns of integers, shared
// strings, formatted decimals, percentages, dates, booleans and blanks) as a binary
// workbook: numbers in the compact RK form wherever it holds them exactly, as spreadsheet
// applications write them, every member deflated by zlib.

#include "BenchmarkCells.h"
#include "ZipFileWriter.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

using bench::ZipFileWriter;

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

void PutVariable(std::string& out, uint32_t value)
{
    do {
        const uint8_t byte = value & 0x7F;
        value >>= 7;
        out.push_back(static_cast<char>(value ? byte | 0x80 : byte));
    } while (value);
}

void PutWide(std::string& out, std::string_view ascii)
{
    Put32(out, static_cast<uint32_t>(ascii.size()));
    for (const char c : ascii)
        Put16(out, static_cast<uint8_t>(c));
}

void Record(std::string& out, uint16_t type, std::string_view data = {})
{
    PutVariable(out, type);
    PutVariable(out, static_cast<uint32_t>(data.size()));
    out += data;
}

// A cell record: column, style, then the value's bytes.
void Cell(std::string& out, uint16_t type, uint32_t column, uint32_t style, const void* value, size_t size)
{
    PutVariable(out, type);
    PutVariable(out, static_cast<uint32_t>(8 + size));
    Put32(out, column);
    Put32(out, style);
    out.append(static_cast<const char*>(value), size);
}

void Real(std::string& out, uint32_t column, uint32_t style, double value)
{
    Cell(out, 5, column, style, &value, 8); // little-endian machines only, as the benchmarks run
}

// The RK form when it holds the value exactly: an integer, or an integer divided by 100.
void Number(std::string& out, uint32_t column, uint32_t style, double value)
{
    for (const int scale : { 1, 100 }) {
        const double scaled = value * scale;
        if (scaled >= -(1 << 29) && scaled < (1 << 29) && scaled == static_cast<double>(static_cast<int32_t>(scaled))
            && static_cast<double>(static_cast<int32_t>(scaled)) / scale == value) {
            uint32_t rk = (static_cast<uint32_t>(static_cast<int32_t>(scaled)) << 2) | 0x02 | (scale == 100 ? 1 : 0);
            Cell(out, 2, column, style, &rk, 4);
            return;
        }
    }
    Real(out, column, style, value);
}

void Shared(std::string& out, uint32_t column, uint32_t index)
{
    Cell(out, 7, column, 0, &index, 4);
}

std::string Xml(std::string_view body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n" + std::string(body);
}

} // namespace

int main(int argc, char** argv)
{
    const long long rows = bench::RowsArgument(argc, argv, "generate_xlsb OUT.xlsb ROWS");
    const bench::SharedStrings sharedStrings;
    const auto& shared = sharedStrings.texts;

    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    ZipFileWriter zip(argv[1]);
    zip.Add("[Content_Types].xml",
        Xml("<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
            "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
            "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
            "<Default Extension=\"bin\" ContentType=\"application/vnd.ms-excel.sheet.binary.macroEnabled.main\"/>"
            "<Override PartName=\"/xl/worksheets/sheet1.bin\" ContentType=\"application/vnd.ms-excel.worksheet\"/>"
            "<Override PartName=\"/xl/styles.bin\" ContentType=\"application/vnd.ms-excel.styles\"/>"
            "<Override PartName=\"/xl/sharedStrings.bin\" ContentType=\"application/vnd.ms-excel.sharedStrings\"/>"
            "</Types>"));
    zip.Add("_rels/.rels",
        Xml("<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
            "<Relationship Id=\"rId1\" Type=\""
            + rel + "/officeDocument\" Target=\"xl/workbook.bin\"/></Relationships>"));
    zip.Add("xl/_rels/workbook.bin.rels",
        Xml("<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
            "<Relationship Id=\"rId1\" Type=\""
            + rel + "/worksheet\" Target=\"worksheets/sheet1.bin\"/><Relationship Id=\"rId2\" Type=\"" + rel
            + "/styles\" Target=\"styles.bin\"/><Relationship Id=\"rId3\" Type=\"" + rel
            + "/sharedStrings\" Target=\"sharedStrings.bin\"/></Relationships>"));
    {
        std::string book, data;
        Record(book, 131); // BrtBeginBook
        Put32(data, 0);
        Put32(data, 0);
        PutWide(data, "");
        Record(book, 153, data); // BrtWbProp
        Record(book, 143); // BrtBeginBundleShs
        data.clear();
        Put32(data, 0);
        Put32(data, 1);
        PutWide(data, "rId1");
        PutWide(data, "Data");
        Record(book, 156, data); // BrtBundleSh
        Record(book, 144);
        Record(book, 132);
        zip.Add("xl/workbook.bin", book);
    }
    // Styles: 0 General, 1 #,##0.00, 2 0.00% (built-in 10), 3 a date (built-in 14), 4 a
    // custom yyyy-mm-dd hh:mm, 5 a fill-only style for formatted blanks.
    {
        std::string styles, data;
        Record(styles, 278); // BrtBeginStyleSheet
        const std::pair<int, const char*> formats[] = { { 164, "#,##0.00" }, { 165, "yyyy\\-mm\\-dd hh:mm" } };
        for (const auto& [id, code] : formats) {
            data.clear();
            Put16(data, id);
            PutWide(data, code);
            Record(styles, 44, data); // BrtFmt
        }
        data.clear();
        Put32(data, 6);
        Record(styles, 617, data); // BrtBeginCellXfs
        for (const int id : { 0, 164, 10, 14, 165, 0 }) {
            data.clear();
            Put16(data, 0); // parent
            Put16(data, id);
            data.append(12, '\0');
            Record(styles, 47, data); // BrtXF
        }
        Record(styles, 618);
        Record(styles, 279);
        zip.Add("xl/styles.bin", styles);
    }
    {
        std::string strings, data;
        Put32(data, static_cast<uint32_t>(shared.size()));
        Put32(data, static_cast<uint32_t>(shared.size()));
        Record(strings, 159, data); // BrtBeginSst
        for (const auto& text : shared) {
            data.assign(1, '\0');
            PutWide(data, text);
            Record(strings, 19, data); // BrtSSTItem
        }
        Record(strings, 160);
        zip.Add("xl/sharedStrings.bin", strings);
    }

    zip.Begin("xl/worksheets/sheet1.bin");
    std::string out, data;
    out.reserve(1 << 20);
    Record(out, 129); // BrtBeginSheet
    Put32(data, 0);
    Put32(data, static_cast<uint32_t>(rows));
    Put32(data, 0);
    Put32(data, 9);
    Record(out, 148, data); // BrtWsDim
    Record(out, 145); // BrtBeginSheetData
    const auto rowHeader = [&](long long row) {
        data.clear();
        Put32(data, static_cast<uint32_t>(row - 1));
        Put32(data, 0);
        Put16(data, 300);
        data.append(3, '\0');
        Put32(data, 0);
        Record(out, 0, data); // BrtRowHdr
    };
    rowHeader(1);
    for (uint32_t c = 0; c < 10; ++c)
        Shared(out, c, c);

    bench::DataRows dataRows(sharedStrings);
    for (long long r = 2; r <= rows + 1; ++r) {
        rowHeader(r);
        const bench::DataRow row = dataRows.Row(r);
        Number(out, 0, 0, static_cast<double>(row.id));
        Shared(out, 1, row.customer);
        Number(out, 2, 1, row.amount);
        Number(out, 3, 2, row.share);
        Number(out, 4, 3, static_cast<double>(row.date));
        const uint8_t paid = row.paid;
        Cell(out, 4, 5, 0, &paid, 1); // BrtCellBool
        if (row.formattedBlank)
            Cell(out, 1, 6, 5, nullptr, 0); // BrtCellBlank
        Number(out, 7, 0, row.ratio);
        Shared(out, 8, row.category);
        Number(out, 9, 4, row.dateTime);
        if (out.size() > (1u << 20) - 4096) {
            zip.Data(out);
            out.clear();
        }
    }
    Record(out, 146); // BrtEndSheetData
    Record(out, 130); // BrtEndSheet
    zip.Data(out);
    zip.End();
    zip.Finish();
    return 0;
}
