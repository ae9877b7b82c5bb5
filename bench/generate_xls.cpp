// Writes a BIFF8 workbook (.xls) of ROWS rows by 10 columns of mixed types, for measuring
// the xls reader against other converters:
//
//   generate_xls OUT.xls ROWS          write the workbook
//   generate_xls --walk FILE [OUT.csv] load every worksheet and render every cell of its used
//                                      range (as comma-separated lines into OUT.csv, if given)
//
// The workbook is a version 3 compound file (512-byte sectors, DIFAT sectors once the
// allocation table outgrows the header) holding one Workbook stream: globals with fonts,
// a date format, style and cell XFs, the sheet list and a shared string table split
// over CONTINUE records, then one worksheet of LABELSST, RK, NUMBER, BOOLERR and BLANK cells.

#include "spreadsheet/Workbook.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

class Bytes {
public:
    void U8(uint8_t v) { m_data.push_back(v); }
    void U16(uint16_t v)
    {
        U8(static_cast<uint8_t>(v));
        U8(static_cast<uint8_t>(v >> 8));
    }
    void U32(uint32_t v)
    {
        U16(static_cast<uint16_t>(v));
        U16(static_cast<uint16_t>(v >> 16));
    }
    void F64(double v)
    {
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        U32(static_cast<uint32_t>(bits));
        U32(static_cast<uint32_t>(bits >> 32));
    }
    void Raw(const std::string& s) { m_data.insert(m_data.end(), s.begin(), s.end()); }
    void Raw(const std::vector<uint8_t>& s) { m_data.insert(m_data.end(), s.begin(), s.end()); }
    void Put32At(size_t at, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            m_data[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    }
    size_t Size() const { return m_data.size(); }
    std::vector<uint8_t>& Data() { return m_data; }
    const std::vector<uint8_t>& Data() const { return m_data; }

private:
    std::vector<uint8_t> m_data;
};

// Appends one record with its header.
void Record(Bytes& out, uint16_t type, const Bytes& body)
{
    out.U16(type);
    out.U16(static_cast<uint16_t>(body.Size()));
    out.Raw(body.Data());
}

void Bof(Bytes& out, uint16_t substream)
{
    Bytes b;
    b.U16(0x0600);
    b.U16(substream);
    b.U16(0x0DBB);
    b.U16(0x07CC);
    b.U32(0x000080C9);
    b.U32(0x00000206);
    Record(out, 0x0809, b);
}

void Eof(Bytes& out)
{
    Record(out, 0x000A, Bytes());
}

// An ASCII string as a compressed BIFF8 string with a 16-bit count.
void UnicodeString16(Bytes& b, const std::string& s)
{
    b.U16(static_cast<uint16_t>(s.size()));
    b.U8(0);
    b.Raw(s);
}

void Xf(Bytes& out, uint16_t format, bool style)
{
    Bytes b;
    b.U16(0); // font
    b.U16(format); // number format
    b.U16(style ? 0xFFF5 : 0x0001); // locked; style XFs have no parent
    b.U8(0x20); // bottom aligned
    b.U8(0);
    b.U8(0);
    b.U8(style ? 0 : 0x04); // the cell XF sets its own number format
    b.U32(0);
    b.U32(0);
    b.U16(0x20C0);
    Record(out, 0x00E0, b);
}

std::vector<uint8_t> BuildWorkbookStream(uint32_t rows)
{
    // Shared strings: a cycling label, a unique text per row and ten categories.
    std::vector<std::string> strings;
    for (int i = 0; i < 1000; ++i)
        strings.push_back("Item " + std::to_string(i));
    for (int i = 0; i < 10; ++i)
        strings.push_back("Category " + std::string(1, static_cast<char>('A' + i)));
    const uint32_t uniqueBase = static_cast<uint32_t>(strings.size());
    for (uint32_t r = 0; r < rows; ++r)
        strings.push_back("Text number " + std::to_string(r));

    Bytes out;
    Bof(out, 0x0005);
    {
        Bytes b;
        b.U16(1200);
        Record(out, 0x0042, b); // CODEPAGE
    }
    {
        Bytes b;
        b.U16(0);
        b.U16(0);
        b.U16(0x3000);
        b.U16(0x2000);
        b.U16(0x0038);
        b.U16(0);
        b.U16(0);
        b.U16(1);
        b.U16(0x0258);
        Record(out, 0x003D, b); // WINDOW1
    }
    {
        Bytes b;
        b.U16(0);
        Record(out, 0x0022, b); // DATEMODE: 1900
    }
    for (int i = 0; i < 5; ++i) {
        Bytes b;
        b.U16(200);
        b.U16(0);
        b.U16(0x7FFF);
        b.U16(400);
        b.U16(0);
        b.U8(0);
        b.U8(0);
        b.U8(0);
        b.U8(0);
        b.U8(5);
        b.U8(0);
        b.Raw("Arial");
        Record(out, 0x0031, b); // FONT
    }
    {
        Bytes b;
        b.U16(164);
        UnicodeString16(b, "yyyy\\-mm\\-dd");
        Record(out, 0x041E, b); // FORMAT
    }
    for (int i = 0; i < 15; ++i)
        Xf(out, 0, true);
    Xf(out, 0, false); // 15: General
    Xf(out, 164, false); // 16: date
    Xf(out, 2, false); // 17: 0.00
    {
        Bytes b;
        b.U16(0x8000);
        b.U8(0);
        b.U8(0xFF);
        Record(out, 0x0293, b); // STYLE: Normal
    }
    const size_t boundSheetAt = out.Size() + 4;
    {
        Bytes b;
        b.U32(0); // patched below
        b.U8(0);
        b.U8(0);
        b.U8(6);
        b.U8(0);
        b.Raw("Sheet1");
        Record(out, 0x0085, b); // BOUNDSHEET
    }
    {
        // SST and CONTINUE records of at most 8224 bytes; a string starts a new record when
        // it would not fit whole.
        Bytes part;
        part.U32(rows * 3);
        part.U32(static_cast<uint32_t>(strings.size()));
        uint16_t type = 0x00FC;
        for (const std::string& s : strings) {
            if (part.Size() + 3 + s.size() > 8224) {
                Record(out, type, part);
                part = Bytes();
                type = 0x003C;
            }
            UnicodeString16(part, s);
        }
        Record(out, type, part);
    }
    Eof(out);

    out.Put32At(boundSheetAt, static_cast<uint32_t>(out.Size()));
    Bof(out, 0x0010);
    {
        Bytes b;
        b.U32(0);
        b.U32(rows);
        b.U16(0);
        b.U16(10);
        b.U16(0);
        Record(out, 0x0200, b); // DIMENSIONS
    }
    {
        Bytes b;
        b.U16(0x06B6);
        b.U16(0);
        b.U16(0);
        b.U16(0x40);
        b.U16(0);
        b.U16(0);
        b.U16(0);
        b.U32(0);
        Record(out, 0x023E, b); // WINDOW2
    }
    for (uint32_t r = 0; r < rows; ++r) {
        const auto row = static_cast<uint16_t>(r);
        auto cell = [&](Bytes& b, uint16_t column, uint16_t xf) {
            b.U16(row);
            b.U16(column);
            b.U16(xf);
        };
        auto labelSst = [&](uint16_t column, uint32_t index) {
            Bytes b;
            cell(b, column, 15);
            b.U32(index);
            Record(out, 0x00FD, b);
        };
        auto number = [&](uint16_t column, uint16_t xf, double value) {
            Bytes b;
            cell(b, column, xf);
            b.F64(value);
            Record(out, 0x0203, b);
        };
        auto rk = [&](uint16_t column, uint32_t value) {
            Bytes b;
            cell(b, column, 15);
            b.U32(value);
            Record(out, 0x027E, b);
        };
        labelSst(0, r % 1000);
        rk(1, (r << 2) | 0x02); // the row number as an RK integer
        number(2, 15, r * 1.25 + 0.001);
        number(3, 16, 40000 + r % 3000); // a date
        {
            Bytes b;
            cell(b, 4, 15);
            b.U8(r % 2);
            b.U8(0);
            Record(out, 0x0205, b); // BOOLERR
        }
        if (r % 2 == 0) {
            Bytes b;
            cell(b, 5, 17);
            Record(out, 0x0201, b); // BLANK with a format
        }
        labelSst(6, uniqueBase + r);
        rk(7, (((r % 10000) * 100 + 99) << 2) | 0x03); // a price: integer RK divided by 100
        number(8, 17, r / 7.0);
        labelSst(9, 1000 + r % 10);
    }
    Eof(out);
    // Streams under 4096 bytes would belong in the mini stream; padding keeps this simple.
    while (out.Size() < 4096)
        out.U8(0);
    return std::move(out.Data());
}

std::vector<uint8_t> BuildCompoundFile(const std::vector<uint8_t>& stream)
{
    constexpr uint32_t kSector = 512;
    constexpr uint32_t kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF, kFatSect = 0xFFFFFFFD, kDifSect = 0xFFFFFFFC;
    const uint32_t streamSectors = static_cast<uint32_t>((stream.size() + kSector - 1) / kSector);
    uint32_t fat = 1, difat = 0;
    for (;;) {
        const uint32_t needFat = (fat + difat + 1 + streamSectors + 127) / 128;
        const uint32_t needDifat = needFat > 109 ? (needFat - 109 + 126) / 127 : 0;
        if (needFat == fat && needDifat == difat)
            break;
        fat = needFat;
        difat = needDifat;
    }
    const uint32_t directory = fat + difat;
    const uint32_t firstStream = directory + 1;
    const uint32_t total = firstStream + streamSectors;

    std::vector<uint32_t> table(static_cast<size_t>(fat) * 128, kFree);
    for (uint32_t i = 0; i < fat; ++i)
        table[i] = kFatSect;
    for (uint32_t i = 0; i < difat; ++i)
        table[fat + i] = kDifSect;
    table[directory] = kEnd;
    for (uint32_t i = 0; i < streamSectors; ++i)
        table[firstStream + i] = i + 1 < streamSectors ? firstStream + i + 1 : kEnd;

    Bytes out;
    const uint8_t signature[8] = { 0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1 };
    for (const uint8_t b : signature)
        out.U8(b);
    for (int i = 0; i < 16; ++i)
        out.U8(0);
    out.U16(0x003E);
    out.U16(3);
    out.U16(0xFFFE);
    out.U16(9);
    out.U16(6);
    for (int i = 0; i < 6; ++i)
        out.U8(0);
    out.U32(0);
    out.U32(fat);
    out.U32(directory);
    out.U32(0);
    out.U32(4096);
    out.U32(kEnd);
    out.U32(0);
    out.U32(difat ? fat : kEnd);
    out.U32(difat);
    for (uint32_t i = 0; i < 109; ++i)
        out.U32(i < fat ? i : kFree);

    for (uint32_t id : table)
        out.U32(id);
    uint32_t nextFat = 109;
    for (uint32_t d = 0; d < difat; ++d) {
        for (int i = 0; i < 127; ++i)
            out.U32(nextFat < fat ? nextFat++ : kFree);
        out.U32(d + 1 < difat ? fat + d + 1 : kEnd);
    }

    // Directory: the root entry, the Workbook stream and two unused entries.
    auto entry = [&](const std::string& name, uint8_t type, uint32_t child, uint32_t start, uint32_t size) {
        const size_t begin = out.Size();
        for (char c : name)
            out.U16(static_cast<uint16_t>(c));
        while (out.Size() < begin + 64)
            out.U8(0);
        out.U16(name.empty() ? 0 : static_cast<uint16_t>(2 * (name.size() + 1)));
        out.U8(type);
        out.U8(1); // black
        out.U32(kFree);
        out.U32(kFree);
        out.U32(child);
        while (out.Size() < begin + 116)
            out.U8(0);
        out.U32(start);
        out.U32(size);
        out.U32(0);
    };
    entry("Root Entry", 5, 1, kEnd, 0);
    entry("Workbook", 2, kFree, firstStream, static_cast<uint32_t>(stream.size()));
    entry("", 0, kFree, 0, 0);
    entry("", 0, kFree, 0, 0);

    out.Raw(stream);
    out.Data().resize(static_cast<size_t>(total + 1) * kSector, 0);
    return std::move(out.Data());
}

void AppendCsvField(std::string& line, std::string_view text)
{
    bool plain = true;
    for (const char c : text)
        plain &= c != ',' && c != '"' && c != '\r' && c != '\n';
    if (plain) {
        line.append(text);
        return;
    }
    line += '"';
    for (const char c : text) {
        if (c == '"')
            line += '"';
        line += c;
    }
    line += '"';
}

int Walk(const std::string& path, const char* csvPath)
{
    using namespace vellumcast::spreadsheet;
    const auto start = std::chrono::steady_clock::now();
    Application application;
    auto workbook = application.Open(path);
    std::string text;
    text.reserve(size_t { 1 } << 20);
    size_t cells = 0;
    double loadSeconds = 0;
    for (Worksheet& sheet : workbook->Worksheets()) {
        const auto loadStart = std::chrono::steady_clock::now();
        const CellRange range = sheet.UsedRange();
        loadSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - loadStart).count();
        for (int32_t r = range.firstRow; r <= range.lastRow; ++r) {
            for (int32_t c = range.firstColumn; c <= range.lastColumn; ++c) {
                if (c > range.firstColumn)
                    text += ',';
                AppendCsvField(text, sheet.CellText(r, c));
                ++cells;
            }
            text += '\n';
        }
    }
    if (csvPath) {
        std::ofstream(csvPath, std::ios::binary) << text;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "%zu cells, %zu bytes of text in %.3f s (worksheets loaded in %.3f s)\n", cells, text.size(),
        seconds, loadSeconds);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        if (argc >= 3 && std::string(argv[1]) == "--walk")
            return Walk(argv[2], argc >= 4 ? argv[3] : nullptr);
        if (argc != 3) {
            std::fprintf(stderr, "usage: generate_xls OUT.xls ROWS | generate_xls --walk FILE [OUT.csv]\n");
            return 2;
        }
        const unsigned long rows = std::stoul(argv[2]);
        if (rows == 0 || rows > 65536) {
            std::fprintf(stderr, "ROWS must be 1 to 65536 (the BIFF8 row limit)\n");
            return 2;
        }
        const auto bytes = BuildCompoundFile(BuildWorkbookStream(static_cast<uint32_t>(rows)));
        std::ofstream(argv[1], std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
