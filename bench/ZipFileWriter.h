#pragma once
// Writes a ZIP archive straight to a file, each member deflated by zlib as spreadsheet
// applications write them, for the benchmark workbook generators.

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace bench {

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

} // namespace bench
