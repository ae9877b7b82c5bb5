// Writes a benchmark workbook: generate_xlsx OUT.xlsx ROWS
// One worksheet of a header row and ROWS rows by 10 columns of mixed types (integers,
// shared strings, formatted decimals, percentages, dates, booleans, blanks), with every
// member deflated by zlib as spreadsheet applications write them.

#include <zlib.h>

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

class ZipFileWriter {
public:
    explicit ZipFileWriter(const char* path)
        : m_file(std::fopen(path, "wb"))
    {
        if (!m_file) {
            std::perror(path);
            std::exit(1);
        }
    }
    ~ZipFileWriter()
    {
        if (m_file)
            std::fclose(m_file);
    }

    // Members are streamed: the local header carries no sizes, a data descriptor follows.
    void Begin(const std::string& name)
    {
        m_name = name;
        m_offset = m_written;
        m_crc = crc32(0, nullptr, 0);
        m_in = 0;
        m_out = 0;
        std::string header;
        Put32(header, 0x04034b50);
        Put16(header, 20);
        Put16(header, 0x0008);
        Put16(header, 8);
        Put32(header, 0);
        Put32(header, 0);
        Put32(header, 0);
        Put32(header, 0);
        Put16(header, static_cast<uint32_t>(name.size()));
        Put16(header, 0);
        header += name;
        Write(header);
        std::memset(&m_stream, 0, sizeof m_stream);
        deflateInit2(&m_stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    }

    void Data(std::string_view data) { Deflate(data, Z_NO_FLUSH); }

    void End()
    {
        Deflate({}, Z_FINISH);
        deflateEnd(&m_stream);
        std::string descriptor;
        Put32(descriptor, 0x08074b50);
        Put32(descriptor, m_crc);
        Put32(descriptor, static_cast<uint32_t>(m_out));
        Put32(descriptor, static_cast<uint32_t>(m_in));
        Write(descriptor);

        Put32(m_directory, 0x02014b50);
        Put16(m_directory, 20);
        Put16(m_directory, 20);
        Put16(m_directory, 0x0008);
        Put16(m_directory, 8);
        Put32(m_directory, 0);
        Put32(m_directory, m_crc);
        Put32(m_directory, static_cast<uint32_t>(m_out));
        Put32(m_directory, static_cast<uint32_t>(m_in));
        Put16(m_directory, static_cast<uint32_t>(m_name.size()));
        Put32(m_directory, 0); // extra, comment lengths
        Put32(m_directory, 0); // disk, internal attributes
        Put32(m_directory, 0); // external attributes
        Put32(m_directory, static_cast<uint32_t>(m_offset));
        m_directory += m_name;
        ++m_count;
    }

    void Add(const std::string& name, std::string_view data)
    {
        Begin(name);
        Data(data);
        End();
    }

    void Finish()
    {
        const uint64_t at = m_written;
        Write(m_directory);
        std::string end;
        Put32(end, 0x06054b50);
        Put32(end, 0);
        Put16(end, m_count);
        Put16(end, m_count);
        Put32(end, static_cast<uint32_t>(m_directory.size()));
        Put32(end, static_cast<uint32_t>(at));
        Put16(end, 0);
        Write(end);
        if (m_written > 0xFFFFFFFFu)
            std::fprintf(stderr, "warning: the archive passes 4 GiB and needs ZIP64, which this writer lacks\n");
    }

private:
    static void Put16(std::string& out, uint32_t value)
    {
        out.push_back(static_cast<char>(value & 0xFF));
        out.push_back(static_cast<char>((value >> 8) & 0xFF));
    }
    static void Put32(std::string& out, uint32_t value)
    {
        Put16(out, value & 0xFFFF);
        Put16(out, value >> 16);
    }

    void Write(std::string_view bytes)
    {
        if (std::fwrite(bytes.data(), 1, bytes.size(), m_file) != bytes.size()) {
            std::perror("write");
            std::exit(1);
        }
        m_written += bytes.size();
    }

    void Deflate(std::string_view data, int flush)
    {
        // crc32() with a null buffer restarts the checksum; an empty piece must leave it alone.
        if (!data.empty())
            m_crc = crc32(m_crc, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
        m_in += data.size();
        m_stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        m_stream.avail_in = static_cast<uInt>(data.size());
        unsigned char buffer[1 << 16];
        int status = Z_OK;
        do {
            m_stream.next_out = buffer;
            m_stream.avail_out = sizeof buffer;
            status = deflate(&m_stream, flush);
            const size_t produced = sizeof buffer - m_stream.avail_out;
            m_out += produced;
            Write(std::string_view(reinterpret_cast<const char*>(buffer), produced));
        } while (m_stream.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
    }

    std::FILE* m_file;
    std::string m_name;
    std::string m_directory;
    z_stream m_stream {};
    uint64_t m_written = 0;
    uint64_t m_offset = 0;
    uint64_t m_in = 0;
    uint64_t m_out = 0;
    uint32_t m_crc = 0;
    uint32_t m_count = 0;
};

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
    if (argc != 3) {
        std::fprintf(stderr, "usage: generate_xlsx OUT.xlsx ROWS\n");
        return 2;
    }
    const long long rows = std::atoll(argv[2]);
    if (rows < 0 || rows > 1048575) {
        std::fprintf(stderr, "ROWS must lie between 0 and 1048575\n");
        return 2;
    }

    // Shared strings: the header, 20 categories, and 50,000 customer names.
    std::vector<std::string> shared
        = { "Id", "Customer", "Amount", "Share", "Date", "Paid", "Note", "Ratio", "Category", "Balance" };
    const size_t categoryBase = shared.size();
    for (int i = 0; i < 20; ++i)
        shared.push_back("Category " + std::string(1, static_cast<char>('A' + i)));
    const size_t customerBase = shared.size();
    constexpr int kCustomers = 50000;
    for (int i = 0; i < kCustomers; ++i)
        shared.push_back("Customer & Sons " + std::to_string(i));

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

    uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    std::string value;
    for (long long r = 2; r <= rows + 1; ++r) {
        out += "<row r=\"";
        AppendInteger(out, r);
        out += "\">";
        const uint64_t random = next();
        value.clear();
        AppendInteger(value, r - 1);
        Cell(out, 0, r, "", value);
        value.clear();
        AppendInteger(value, static_cast<int64_t>(customerBase + random % kCustomers));
        Cell(out, 1, r, " t=\"s\"", value);
        value.clear();
        AppendNumber(value, static_cast<double>(random % 10000000) / 100.0);
        Cell(out, 2, r, " s=\"1\"", value);
        value.clear();
        AppendNumber(value, static_cast<double>((random >> 24) % 10000) / 10000.0);
        Cell(out, 3, r, " s=\"2\"", value);
        value.clear();
        AppendInteger(value, 36526 + static_cast<int64_t>((random >> 8) % 9000));
        Cell(out, 4, r, " s=\"3\"", value);
        Cell(out, 5, r, " t=\"b\"", (random >> 40) & 1 ? "1" : "0");
        // Column G: a formatted blank every third row, nothing otherwise.
        if (r % 3 == 0) {
            out += "<c r=\"G";
            AppendInteger(out, r);
            out += "\" s=\"5\"/>";
        }
        value.clear();
        AppendNumber(value, static_cast<double>(static_cast<int64_t>(random % 2000001) - 1000000) / 7.0);
        Cell(out, 7, r, "", value);
        value.clear();
        AppendInteger(value, static_cast<int64_t>(categoryBase + (random >> 50) % 20));
        Cell(out, 8, r, " t=\"s\"", value);
        value.clear();
        AppendNumber(value, 36526 + static_cast<double>((random >> 12) % 900000) / 100.0);
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
