// Writes a generated OpenDocument spreadsheet for the benchmarks: one sheet of ROWS rows
// by 10 columns of mixed types (numbers, text, dates, times, booleans, percentages),
// marked up as LibreOffice Calc writes them, content.xml deflated with zlib.
//
//   generate_ods OUTPUT.ods [ROWS=1000000]

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kContentHead
    = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
      "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
      "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
      "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
      "xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\" "
      "xmlns:number=\"urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0\" "
      "xmlns:calcext=\"urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0\" "
      "office:version=\"1.3\"><office:automatic-styles>"
      "<style:style style:name=\"ta1\" style:family=\"table\" style:master-page-name=\"Default\">"
      "<style:table-properties table:display=\"true\" style:writing-mode=\"lr-tb\"/></style:style>"
      "<style:style style:name=\"ro1\" style:family=\"table-row\"><style:table-row-properties "
      "style:row-height=\"0.452cm\" fo:break-before=\"auto\" style:use-optimal-row-height=\"true\"/></style:style>"
      "</office:automatic-styles><office:body><office:spreadsheet>"
      "<table:table table:name=\"Data\" table:style-name=\"ta1\">"
      "<table:table-column table:number-columns-repeated=\"10\" table:default-cell-style-name=\"Default\"/>";
constexpr const char* kContentTail = "<table:table-row table:style-name=\"ro1\" table:number-rows-repeated=\"48576\">"
                                     "<table:table-cell table:number-columns-repeated=\"10\"/></table:table-row>"
                                     "</table:table></office:spreadsheet></office:body></office:document-content>";
constexpr const char* kManifest
    = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\" "
      "manifest:version=\"1.3\">"
      "<manifest:file-entry manifest:full-path=\"/\" "
      "manifest:media-type=\"application/vnd.oasis.opendocument.spreadsheet\"/>"
      "<manifest:file-entry manifest:full-path=\"content.xml\" manifest:media-type=\"text/xml\"/>"
      "</manifest:manifest>";
constexpr const char* kMimetype = "application/vnd.oasis.opendocument.spreadsheet";
const char* const kWords[] = { "alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "golf", "hotel" };

void Put16(std::string& out, uint32_t v)
{
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

void Put32(std::string& out, uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

struct Member {
    std::string name;
    uint32_t crc = 0;
    uint64_t compressed = 0;
    uint64_t size = 0;
    uint64_t offset = 0;
    uint16_t method = 0;
};

std::string LocalHeader(const Member& m)
{
    std::string h;
    Put32(h, 0x04034b50);
    Put16(h, 20);
    Put16(h, 0);
    Put16(h, m.method);
    Put32(h, 0); // time and date
    Put32(h, m.crc);
    Put32(h, static_cast<uint32_t>(m.compressed));
    Put32(h, static_cast<uint32_t>(m.size));
    Put16(h, static_cast<uint32_t>(m.name.size()));
    Put16(h, 0);
    return h + m.name;
}

class Writer {
public:
    explicit Writer(const char* path)
        : m_file(std::fopen(path, "wb"))
    {
        if (!m_file) {
            std::perror(path);
            std::exit(1);
        }
    }
    ~Writer() { std::fclose(m_file); }

    void Stored(const std::string& name, const std::string& data)
    {
        Member m { name, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), data.size())),
            data.size(), data.size(), m_offset, 0 };
        Write(LocalHeader(m));
        Write(data);
        m_members.push_back(m);
    }

    // Deflates the member as it is produced; the local header is patched at the end.
    void BeginDeflated(const std::string& name)
    {
        m_current = Member { name, 0, 0, 0, m_offset, 8 };
        Write(LocalHeader(m_current));
        std::memset(&m_stream, 0, sizeof m_stream);
        deflateInit2(&m_stream, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    }

    void Deflate(const std::string& data, bool finish)
    {
        m_current.crc
            = static_cast<uint32_t>(crc32(m_current.crc, reinterpret_cast<const Bytef*>(data.data()), data.size()));
        m_current.size += data.size();
        m_stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        m_stream.avail_in = static_cast<uInt>(data.size());
        char out[1 << 16];
        int status;
        do {
            m_stream.next_out = reinterpret_cast<Bytef*>(out);
            m_stream.avail_out = sizeof out;
            status = deflate(&m_stream, finish ? Z_FINISH : Z_NO_FLUSH);
            const size_t produced = sizeof out - m_stream.avail_out;
            Write(std::string(out, produced));
            m_current.compressed += produced;
        } while (m_stream.avail_out == 0 || (finish && status != Z_STREAM_END));
    }

    void EndDeflated()
    {
        deflateEnd(&m_stream);
        if (m_current.size > UINT32_MAX || m_current.compressed > UINT32_MAX) {
            std::fprintf(stderr, "content.xml passed 4 GiB; this generator writes no ZIP64\n");
            std::exit(1);
        }
        std::fseek(m_file, static_cast<long>(m_current.offset), SEEK_SET);
        std::fwrite(LocalHeader(m_current).data(), 1, LocalHeader(m_current).size(), m_file);
        std::fseek(m_file, 0, SEEK_END);
        m_members.push_back(m_current);
    }

    void Finish()
    {
        const uint64_t start = m_offset;
        std::string directory;
        for (const Member& m : m_members) {
            Put32(directory, 0x02014b50);
            Put16(directory, 20);
            Put16(directory, 20);
            Put16(directory, 0);
            Put16(directory, m.method);
            Put32(directory, 0);
            Put32(directory, m.crc);
            Put32(directory, static_cast<uint32_t>(m.compressed));
            Put32(directory, static_cast<uint32_t>(m.size));
            Put16(directory, static_cast<uint32_t>(m.name.size()));
            Put16(directory, 0);
            Put16(directory, 0);
            Put16(directory, 0);
            Put16(directory, 0);
            Put32(directory, 0);
            Put32(directory, static_cast<uint32_t>(m.offset));
            directory += m.name;
        }
        const auto directorySize = static_cast<uint32_t>(directory.size());
        Put32(directory, 0x06054b50);
        Put32(directory, 0);
        Put16(directory, static_cast<uint32_t>(m_members.size()));
        Put16(directory, static_cast<uint32_t>(m_members.size()));
        Put32(directory, directorySize);
        Put32(directory, static_cast<uint32_t>(start));
        Put16(directory, 0);
        Write(directory);
    }

private:
    void Write(const std::string& data)
    {
        std::fwrite(data.data(), 1, data.size(), m_file);
        m_offset += data.size();
    }

    std::FILE* m_file;
    uint64_t m_offset = 0;
    std::vector<Member> m_members;
    Member m_current;
    z_stream m_stream {};
};

void Cell(std::string& out, const char* type, const std::string& valueAttribute, const std::string& text)
{
    out += "<table:table-cell office:value-type=\"";
    out += type;
    out += "\"";
    out += valueAttribute;
    out += " calcext:value-type=\"";
    out += type;
    out += "\"><text:p>";
    out += text;
    out += "</text:p></table:table-cell>";
}

void Row(std::string& out, long row)
{
    char buffer[128];
    out += "<table:table-row table:style-name=\"ro1\">";
    const std::string id = std::to_string(row);
    Cell(out, "float", " office:value=\"" + id + "\"", id);
    Cell(out, "string", "", std::string(kWords[row % 8]) + " " + std::to_string(row % 997));
    std::snprintf(buffer, sizeof buffer, "%.2f", static_cast<double>(row % 100000) / 7.0);
    Cell(out, "float", std::string(" office:value=\"") + buffer + "\"", buffer);
    const int year = 2000 + static_cast<int>(row % 25), month = 1 + static_cast<int>(row % 12),
              day = 1 + static_cast<int>(row % 28);
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", year, month, day);
    const std::string iso = buffer;
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d", month, day, year);
    Cell(out, "date", " office:date-value=\"" + iso + "\"", buffer);
    Cell(out, "boolean", row % 3 == 0 ? " office:boolean-value=\"true\"" : " office:boolean-value=\"false\"",
        row % 3 == 0 ? "TRUE" : "FALSE");
    std::snprintf(buffer, sizeof buffer, "%ld", row % 100);
    Cell(out, "percentage", std::string(" office:value=\"0.") + (row % 100 < 10 ? "0" : "") + buffer + "\"",
        std::string(buffer) + "%");
    Cell(out, "string", "", "Customer &amp; Co. &lt;" + std::to_string(row % 5000) + "&gt;");
    std::snprintf(buffer, sizeof buffer, "%ld", row * 7919 % 1000003);
    Cell(out, "float", std::string(" office:value=\"") + buffer + "\"", buffer);
    std::snprintf(buffer, sizeof buffer, "PT%02ldH%02ldM%02ldS", row % 24, row % 60, row % 59);
    const std::string duration = buffer;
    std::snprintf(buffer, sizeof buffer, "%02ld:%02ld:%02ld", row % 24, row % 60, row % 59);
    Cell(out, "time", " office:time-value=\"" + duration + "\"", buffer);
    Cell(out, "string", "", row % 2 ? "yes" : "no");
    out += "</table:table-row>";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.ods [ROWS]\n", argv[0]);
        return 2;
    }
    const long rows = argc > 2 ? std::atol(argv[2]) : 1000000;
    Writer writer(argv[1]);
    writer.Stored("mimetype", kMimetype);
    writer.BeginDeflated("content.xml");
    std::string chunk = kContentHead;
    for (long row = 1; row <= rows; ++row) {
        Row(chunk, row);
        if (chunk.size() > (1u << 20)) {
            writer.Deflate(chunk, false);
            chunk.clear();
        }
    }
    chunk += kContentTail;
    writer.Deflate(chunk, true);
    writer.EndDeflated();
    writer.Stored("META-INF/manifest.xml", kManifest);
    writer.Finish();
    return 0;
}
