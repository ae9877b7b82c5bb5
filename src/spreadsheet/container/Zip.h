#pragma once
// Reads members of a ZIP archive held in memory, inflating in chunks (see Inflate.h).

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vellumcast::spreadsheet::container {

struct ZipEntry {
    std::string name;
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint64_t localHeaderOffset = 0;
    uint32_t crc32 = 0;
    uint16_t method = 0; // 0 stored, 8 deflated
    uint16_t flags = 0;
};

class ZipArchive {
public:
    // Reads the central directory. Throws SpreadsheetError(NotAWorkbook) when the bytes
    // are no ZIP archive, Corrupt when the directory is damaged.
    explicit ZipArchive(std::span<const uint8_t> bytes);

    const std::vector<ZipEntry>& Entries() const { return m_entries; }

    // The member of that name: an exact match first, then one ignoring letter case and a
    // leading "/".
    const ZipEntry* Find(std::string_view name) const;

    // Streams the member's inflated bytes to sink, in chunks of up to a few hundred KiB.
    // Checks the declared sizes, a bound on the inflated size and the CRC. Throws
    // SpreadsheetError (Corrupt, TooLarge, PasswordProtected for encrypted members,
    // Unsupported for unknown methods).
    void Read(const ZipEntry& entry, const std::function<void(std::string_view chunk)>& sink) const;

    // As Read, with the inflating done on a second thread a few chunks ahead of sink,
    // which runs on the calling thread: reading a large member then takes little more
    // than its consumer's time. sink returns false to stop early. Errors of the member
    // are raised once the chunks before them are consumed.
    void ReadAhead(const ZipEntry& entry, const std::function<bool(std::string_view chunk)>& sink) const;

    // The whole inflated member; TooLarge past maxSize bytes.
    std::string ReadAll(const ZipEntry& entry, size_t maxSize = 256u << 20) const;

private:
    std::span<const uint8_t> m_bytes;
    std::vector<ZipEntry> m_entries;
};

// Joins a relationship target to the folder of the part that names it ("xl/" + "worksheets/sheet1.xml"),
// resolving "." and ".." and absolute targets ("/xl/…").
std::string ResolvePartPath(std::string_view baseFolder, std::string_view target);

} // namespace vellumcast::spreadsheet::container
