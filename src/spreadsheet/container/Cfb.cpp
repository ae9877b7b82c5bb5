#include "spreadsheet/container/Cfb.h"
#include "spreadsheet/text/TextEncoding.h"

#include "spreadsheet/SpreadsheetError.h"
#include "spreadsheet/container/ByteCursor.h"

#include <algorithm>
#include <cstring>

namespace vellumcast::spreadsheet::container {

namespace {

constexpr uint8_t kSignature[8] = { 0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1 };
constexpr uint32_t kMaxRegularSector = 0xFFFFFFFA;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFreeSector = 0xFFFFFFFF;
constexpr uint32_t kNoStream = 0xFFFFFFFF;
constexpr uint32_t kMiniSectorSize = 64;
constexpr size_t kHeaderDifatEntries = 109;
constexpr size_t kDirectoryEntrySize = 128;

// Directory names are UTF-16; only their comparison matters here, so a lone surrogate
// simply becomes U+FFFD.
std::string NameFromUtf16(const uint8_t* data, size_t units)
{
    std::string name;
    for (size_t i = 0; i < units; ++i) {
        uint32_t code = LoadU16(data + 2 * i);
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < units) {
            const uint32_t low = LoadU16(data + 2 * (i + 1));
            if (low >= 0xDC00 && low < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            } else {
                code = 0xFFFD;
            }
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        text::AppendUtf8(code, name);
    }
    return name;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

} // namespace

CompoundFile::CompoundFile(std::span<const uint8_t> bytes)
    : CompoundFile(FileBytes::View(bytes))
{
}

CompoundFile::CompoundFile(std::shared_ptr<const FileBytes> bytes)
    : m_bytes(std::move(bytes))
{
    const uint64_t size = m_bytes->Size();
    std::vector<uint8_t> headerScratch;
    const auto head = m_bytes->Read(0, static_cast<size_t>(std::min<uint64_t>(size, 512)), headerScratch);
    if (head.size() < sizeof kSignature || std::memcmp(head.data(), kSignature, sizeof kSignature) != 0)
        throw SpreadsheetError(ErrorCode::NotAWorkbook, "it is not a compound file");
    if (head.size() < 512)
        Corrupt("the compound file is shorter than its header");

    ByteCursor header(head, "the compound file header");
    header.Skip(30);
    m_sectorShift = header.U16();
    const uint16_t miniShift = header.U16();
    if (m_sectorShift != 9 && m_sectorShift != 12)
        Corrupt("the compound file has an invalid sector size");
    if (miniShift != 6)
        Corrupt("the compound file has an invalid mini sector size");
    m_sectorSize = 1u << m_sectorShift;
    m_version3 = m_sectorShift == 9;
    header.Skip(6 + 4); // reserved, directory sector count
    const uint32_t fatSectors = header.U32();
    const uint32_t firstDirectorySector = header.U32();
    header.Skip(4); // transaction signature
    m_miniCutoff = header.U32();
    if (m_miniCutoff != 4096)
        m_miniCutoff = 4096; // the only value the format allows
    m_firstMiniFatSector = header.U32();
    header.Skip(4); // mini FAT sector count: the chain says how long it is
    const uint32_t difatSector = header.U32();
    header.Skip(4); // DIFAT sector count: the chain says how long it is

    // The header occupies the whole first sector; a final sector cut short still counts,
    // and reading past the file's end is caught where a stream needs those bytes.
    if (size < m_sectorSize)
        Corrupt("the compound file is shorter than its header");
    const uint64_t body = size - m_sectorSize;
    const uint64_t sectors = (body + m_sectorSize - 1) / m_sectorSize;
    if (sectors >= kMaxRegularSector)
        throw SpreadsheetError(ErrorCode::TooLarge, "the compound file is too large");
    m_sectorCount = static_cast<uint32_t>(sectors);
    if (fatSectors > m_sectorCount)
        Corrupt("the compound file declares more allocation sectors than it holds");
    ReadAllocationTable(head.subspan(header.Position()), fatSectors, difatSector);
    ReadDirectory(firstDirectorySector);
}

void CompoundFile::ReadAllocationTable(std::span<const uint8_t> headerDifat, uint32_t fatSectors, uint32_t difatSector)
{
    // Entries past the file's last sector are never followed (a chain reaching one is
    // refused), so only the table sectors that cover the file are read: a table that
    // declares more costs nothing.
    const size_t perSector = m_sectorSize / 4;
    const auto needed
        = static_cast<uint32_t>(std::min<uint64_t>(fatSectors, (m_sectorCount + perSector - 1) / perSector));

    // The locations of the allocation table's sectors: 109 in the header, the rest in a
    // chain of DIFAT sectors whose last entry links to the next.
    std::vector<uint32_t> fatLocations;
    fatLocations.reserve(needed);
    ByteCursor header(headerDifat, "the compound file header");
    for (size_t i = 0; i < kHeaderDifatEntries && fatLocations.size() < needed; ++i)
        fatLocations.push_back(header.U32());
    const size_t perDifat = perSector - 1;
    uint32_t difatSteps = 0;
    std::vector<uint8_t> scratch;
    while (fatLocations.size() < needed) {
        if (difatSector == kEndOfChain || difatSector == kFreeSector)
            Corrupt("the compound file's allocation table is incomplete");
        if (difatSector >= m_sectorCount)
            Corrupt("the compound file's DIFAT points outside the file");
        if (++difatSteps > m_sectorCount)
            Corrupt("the compound file's DIFAT chain loops");
        const auto sector = Sector(difatSector, scratch);
        if (sector.size() < m_sectorSize)
            Corrupt("the compound file is truncated");
        for (size_t i = 0; i < perDifat && fatLocations.size() < needed; ++i)
            fatLocations.push_back(LoadU32(sector.data() + 4 * i));
        difatSector = LoadU32(sector.data() + 4 * perDifat);
    }

    m_fat.reserve(static_cast<size_t>(needed) * perSector);
    for (const uint32_t location : fatLocations) {
        if (location >= m_sectorCount)
            Corrupt("the compound file's allocation table points outside the file");
        const auto sector = Sector(location, scratch);
        for (size_t i = 0; i < perSector; ++i)
            m_fat.push_back(4 * i + 4 <= sector.size() ? LoadU32(sector.data() + 4 * i) : kFreeSector);
    }
}

std::span<const uint8_t> CompoundFile::Sector(uint32_t id, std::vector<uint8_t>& scratch) const
{
    const uint64_t offset = SectorOffset(id);
    if (offset >= m_bytes->Size())
        return {};
    return m_bytes->Read(
        offset, static_cast<size_t>(std::min<uint64_t>(m_sectorSize, m_bytes->Size() - offset)), scratch);
}

std::vector<uint32_t> CompoundFile::Chain(uint32_t start, const char* what) const
{
    std::vector<uint32_t> chain;
    uint32_t current = start;
    while (current != kEndOfChain) {
        if (current >= m_sectorCount || current >= m_fat.size())
            Corrupt(std::string("the compound file's chain of ") + what + " points outside the file");
        // A chain longer than the file has sectors must visit one twice.
        if (chain.size() >= m_sectorCount)
            Corrupt(std::string("the compound file's chain of ") + what + " loops");
        chain.push_back(current);
        current = m_fat[current];
    }
    return chain;
}

void CompoundFile::ReadDirectory(uint32_t firstSector)
{
    const std::vector<uint32_t> chain = Chain(firstSector, "the directory");
    std::vector<CfbEntry> entries;
    entries.reserve(chain.size() * (m_sectorSize / kDirectoryEntrySize));
    std::vector<uint8_t> scratch;
    for (const uint32_t id : chain) {
        const auto sector = Sector(id, scratch);
        for (size_t at = 0; at + kDirectoryEntrySize <= sector.size(); at += kDirectoryEntrySize) {
            const uint8_t* raw = sector.data() + at;
            CfbEntry entry;
            const size_t nameBytes = std::min<size_t>(LoadU16(raw + 64), 64);
            const size_t units = nameBytes >= 2 ? nameBytes / 2 - 1 : 0; // without the terminating NUL
            entry.name = NameFromUtf16(raw, units);
            entry.type = raw[66];
            entry.left = LoadU32(raw + 68);
            entry.right = LoadU32(raw + 72);
            entry.child = LoadU32(raw + 76);
            entry.start = LoadU32(raw + 116);
            entry.size = LoadU32(raw + 120);
            // Version 3 files may leave garbage in the high half of the size.
            if (!m_version3)
                entry.size |= static_cast<uint64_t>(LoadU32(raw + 124)) << 32;
            entries.push_back(std::move(entry));
        }
    }
    if (entries.empty() || entries[0].type != 5)
        Corrupt("the compound file has no root directory entry");
    m_root = entries[0];

    // The root's children form a binary tree through left and right siblings. A visited
    // mark keeps a damaged tree from looping.
    std::vector<bool> visited(entries.size(), false);
    visited[0] = true;
    std::vector<uint32_t> pending;
    if (m_root.child != kNoStream)
        pending.push_back(m_root.child);
    while (!pending.empty()) {
        const uint32_t id = pending.back();
        pending.pop_back();
        if (id >= entries.size() || visited[id])
            continue;
        visited[id] = true;
        const CfbEntry& entry = entries[id];
        if (entry.type == 1 || entry.type == 2)
            m_topLevel.push_back(entry);
        if (entry.right != kNoStream)
            pending.push_back(entry.right);
        if (entry.left != kNoStream)
            pending.push_back(entry.left);
    }
}

const CfbEntry* CompoundFile::FindStream(std::string_view name) const
{
    for (const CfbEntry& entry : m_topLevel)
        if (entry.type == 2 && EqualsIgnoringCase(entry.name, name))
            return &entry;
    return nullptr;
}

CfbStream CompoundFile::Read(const CfbEntry& entry) const
{
    CfbStream stream;
    if (entry.size == 0)
        return stream;
    if (entry.size < m_miniCutoff) {
        ReadMini(entry, stream.m_owned);
        stream.m_view = stream.m_owned;
        return stream;
    }

    const std::vector<uint32_t> chain = Chain(entry.start, "a stream");
    if (static_cast<uint64_t>(chain.size()) * m_sectorSize < entry.size)
        Corrupt("a stream of the compound file is shorter than its declared size");
    const size_t size = static_cast<size_t>(entry.size);

    // Files written in one go keep a stream's sectors in order, so the chain is read a
    // run of adjacent sectors at a time: one read for most streams, and a view of the
    // bytes without a copy when they are in memory.
    std::vector<uint8_t> scratch;
    for (size_t first = 0, done = 0; done < size; ++first) {
        size_t last = first;
        while (last + 1 < chain.size() && chain[last + 1] == chain[last] + 1)
            ++last;
        const uint64_t offset = SectorOffset(chain[first]);
        const size_t wanted = static_cast<size_t>(
            std::min<uint64_t>(static_cast<uint64_t>(last - first + 1) * m_sectorSize, size - done));
        if (offset > m_bytes->Size() || m_bytes->Size() - offset < wanted)
            Corrupt("the compound file is truncated");
        if (done == 0 && wanted == size) {
            stream.m_view = m_bytes->Read(offset, wanted, stream.m_owned);
            return stream;
        }
        stream.m_owned.reserve(size);
        const auto run = m_bytes->Read(offset, wanted, scratch);
        stream.m_owned.insert(stream.m_owned.end(), run.begin(), run.end());
        done += wanted;
        first = last;
    }
    stream.m_view = stream.m_owned;
    return stream;
}

void CompoundFile::ReadMini(const CfbEntry& entry, std::vector<uint8_t>& out) const
{
    // The mini allocation table and the mini stream (held in the root entry's chain) are
    // read only when a small stream is wanted.
    std::vector<uint32_t> miniFat;
    std::vector<uint8_t> scratch;
    for (const uint32_t id : Chain(m_firstMiniFatSector, "the mini allocation table")) {
        const auto sector = Sector(id, scratch);
        for (size_t i = 0; i + 4 <= sector.size(); i += 4)
            miniFat.push_back(LoadU32(sector.data() + i));
    }
    const std::vector<uint32_t> rootChain = Chain(m_root.start, "the mini stream");
    const uint64_t miniStreamSize
        = std::min<uint64_t>(m_root.size, static_cast<uint64_t>(rootChain.size()) * m_sectorSize);

    const size_t size = static_cast<size_t>(entry.size);
    out.reserve(size);
    uint32_t current = entry.start;
    std::vector<bool> visited(miniFat.size(), false);
    while (out.size() < size) {
        if (current == kEndOfChain)
            Corrupt("a stream of the compound file is shorter than its declared size");
        if (current >= miniFat.size() || (static_cast<uint64_t>(current) + 1) * kMiniSectorSize > miniStreamSize)
            Corrupt("the compound file's chain of a small stream points outside the mini stream");
        if (visited[current])
            Corrupt("the compound file's chain of a small stream loops");
        visited[current] = true;
        const uint64_t offset = static_cast<uint64_t>(current) * kMiniSectorSize;
        const uint64_t at = SectorOffset(rootChain[offset >> m_sectorShift]) + (offset & (m_sectorSize - 1));
        const size_t wanted = std::min<size_t>(kMiniSectorSize, size - out.size());
        if (at > m_bytes->Size() || m_bytes->Size() - at < wanted)
            Corrupt("the compound file is truncated");
        const auto piece = m_bytes->Read(at, wanted, scratch);
        out.insert(out.end(), piece.begin(), piece.end());
        current = miniFat[current];
    }
}

} // namespace vellumcast::spreadsheet::container
