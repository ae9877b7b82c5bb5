#pragma once
// Reads streams out of a compound file (the container of legacy Office documents): the
// header, the sector allocation table with its DIFAT, the mini stream for
// small streams and the directory. Every chain and size is checked against the file, so a
// damaged or hostile container fails with SpreadsheetError(Corrupt) instead of looping or
// reading out of bounds. Only the sectors of those tables and of the streams read are
// taken from the file, so a file is never read further than its tables lead.

#include "spreadsheet/FileBytes.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vellumcast::spreadsheet::container {

struct CfbEntry {
    std::string name; // UTF-8
    uint8_t type = 0; // 1 storage, 2 stream, 5 root
    uint32_t left = 0;
    uint32_t right = 0;
    uint32_t child = 0;
    uint32_t start = 0;
    uint64_t size = 0;
};

// The bytes of one stream: a view into bytes held in memory when its sectors lie end to
// end there, else a copy read from its chain.
class CfbStream {
public:
    std::span<const uint8_t> Bytes() const { return m_view; }

private:
    friend class CompoundFile;
    std::vector<uint8_t> m_owned;
    std::span<const uint8_t> m_view;
};

class CompoundFile {
public:
    // Reads the header, the allocation tables and the directory. Throws
    // SpreadsheetError(NotAWorkbook) without the signature, Corrupt when damaged.
    explicit CompoundFile(std::shared_ptr<const FileBytes> bytes);
    // Bytes in memory that the caller keeps alive as long as the file and its streams.
    explicit CompoundFile(std::span<const uint8_t> bytes);

    // The entries directly under the root storage, in directory order.
    const std::vector<CfbEntry>& TopLevel() const { return m_topLevel; }

    // The top-level stream of that name, ignoring ASCII letter case; nullptr when none.
    const CfbEntry* FindStream(std::string_view name) const;

    // The stream's bytes. Throws SpreadsheetError(Corrupt) when its chain is broken or
    // shorter than its declared size.
    CfbStream Read(const CfbEntry& entry) const;

private:
    // The sector's bytes, fewer when the file ends inside it, none past the end; read
    // into scratch unless the bytes are in memory.
    std::span<const uint8_t> Sector(uint32_t id, std::vector<uint8_t>& scratch) const;
    uint64_t SectorOffset(uint32_t id) const { return (static_cast<uint64_t>(id) + 1) << m_sectorShift; }
    void ReadAllocationTable(std::span<const uint8_t> headerDifat, uint32_t fatSectors, uint32_t difatSector);
    // The sectors of a chain in the main table, checked for loops and range.
    std::vector<uint32_t> Chain(uint32_t start, const char* what) const;
    void ReadDirectory(uint32_t firstSector);
    void ReadMini(const CfbEntry& entry, std::vector<uint8_t>& out) const;

    std::shared_ptr<const FileBytes> m_bytes;
    uint32_t m_sectorShift = 9;
    uint32_t m_sectorSize = 512;
    uint32_t m_sectorCount = 0;
    uint32_t m_miniCutoff = 4096;
    uint32_t m_firstMiniFatSector = 0;
    bool m_version3 = true;
    std::vector<uint32_t> m_fat;
    CfbEntry m_root;
    std::vector<CfbEntry> m_topLevel;
};

} // namespace vellumcast::spreadsheet::container
