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
    : m_bytes(bytes)
{
    if (bytes.size() < sizeof kSignature || std::memcmp(bytes.data(), kSignature, sizeof kSignature) != 0)
        throw SpreadsheetError(ErrorCode::NotAWorkbook, "it is not a compound file");
    if (bytes.size() < 512)
        Corrupt("the compound file is shorter than its header");

    ByteCursor header(bytes.first(512), "the compound file header");
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
    uint32_t difatSector = header.U32();
    header.Skip(4); // DIFAT sector count: the chain says how long it is

    // The header occupies the whole first sector; a final sector cut short still counts,
    // and reading past the file's end is caught where a stream needs those bytes.
    if (bytes.size() < m_sectorSize)
        Corrupt("the compound file is shorter than its header");
    const uint64_t body = bytes.size() - m_sectorSize;
    const uint64_t sectors = (body + m_sectorSize - 1) / m_sectorSize;
    if (sectors >= kMaxRegularSector)
        throw SpreadsheetError(ErrorCode::TooLarge, "the compound file is too large");
    m_sectorCount = static_cast<uint32_t>(sectors);
    if (fatSectors > m_sectorCount)
        Corrupt("the compound file declares more allocation sectors than it holds");

    // The locations of the allocation table's sectors: 109 in the header, the rest in a
    // chain of DIFAT sectors whose last entry links to the next.
    std::vector<uint32_t> fatLocations;
    fatLocations.reserve(fatSectors);
    for (size_t i = 0; i < kHeaderDifatEntries && fatLocations.size() < fatSectors; ++i)
        fatLocations.push_back(header.U32());
    const size_t perDifat = m_sectorSize / 4 - 1;
    uint32_t difatSteps = 0;
    while (fatLocations.size() < fatSectors) {
        if (difatSector == kEndOfChain || difatSector == kFreeSector)
            Corrupt("the compound file's allocation table is incomplete");
        if (difatSector >= m_sectorCount)
            Corrupt("the compound file's DIFAT points outside the file");
        if (++difatSteps > m_sectorCount)
            Corrupt("the compound file's DIFAT chain loops");
        const auto sector = Sector(difatSector);
        if (sector.size() < m_sectorSize)
            Corrupt("the compound file is truncated");
        for (size_t i = 0; i < perDifat && fatLocations.size() < fatSectors; ++i)
            fatLocations.push_back(LoadU32(sector.data() + 4 * i));
        difatSector = LoadU32(sector.data() + 4 * perDifat);
    }

    m_fat.reserve(static_cast<size_t>(fatSectors) * (m_sectorSize / 4));
    for (const uint32_t location : fatLocations) {
        if (location >= m_sectorCount)
            Corrupt("the compound file's allocation table points outside the file");
        const auto sector = Sector(location);
        const size_t entries = m_sectorSize / 4;
        for (size_t i = 0; i < entries; ++i)
            m_fat.push_back(4 * i + 4 <= sector.size() ? LoadU32(sector.data() + 4 * i) : kFreeSector);
    }

    ReadDirectory(firstDirectorySector);
}

std::span<const uint8_t> CompoundFile::Sector(uint32_t id) const
{
    const uint64_t offset = (static_cast<uint64_t>(id) + 1) << m_sectorShift;
    if (offset >= m_bytes.size())
        return {};
    return m_bytes.subspan(offset, std::min<uint64_t>(m_sectorSize, m_bytes.size() - offset));
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
    for (const uint32_t id : chain) {
        const auto sector = Sector(id);
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

    // Files written in one go keep a stream's sectors in order: then the file's own bytes serve.
    bool contiguous = true;
    for (size_t i = 1; i < chain.size() && contiguous; ++i)
        contiguous = chain[i] == chain[0] + i;
    if (contiguous) {
        const uint64_t offset = (static_cast<uint64_t>(chain[0]) + 1) << m_sectorShift;
        if (offset > m_bytes.size() || m_bytes.size() - offset < size)
            Corrupt("the compound file is truncated");
        stream.m_view = m_bytes.subspan(offset, size);
        return stream;
    }

    stream.m_owned.reserve(size);
    for (const uint32_t id : chain) {
        if (stream.m_owned.size() >= size)
            break;
        const auto sector = Sector(id);
        const size_t wanted = std::min<size_t>(m_sectorSize, size - stream.m_owned.size());
        if (sector.size() < wanted)
            Corrupt("the compound file is truncated");
        stream.m_owned.insert(
            stream.m_owned.end(), sector.begin(), sector.begin() + static_cast<std::ptrdiff_t>(wanted));
    }
    stream.m_view = stream.m_owned;
    return stream;
}

void CompoundFile::ReadMini(const CfbEntry& entry, std::vector<uint8_t>& out) const
{
    // The mini allocation table and the mini stream (held in the root entry's chain) are
    // read only when a small stream is wanted.
    std::vector<uint32_t> miniFat;
    for (const uint32_t id : Chain(m_firstMiniFatSector, "the mini allocation table")) {
        const auto sector = Sector(id);
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
        const auto sector = Sector(rootChain[offset >> m_sectorShift]);
        const size_t within = static_cast<size_t>(offset & (m_sectorSize - 1));
        const size_t wanted = std::min<size_t>(kMiniSectorSize, size - out.size());
        if (sector.size() < within + wanted)
            Corrupt("the compound file is truncated");
        out.insert(out.end(), sector.begin() + static_cast<std::ptrdiff_t>(within),
            sector.begin() + static_cast<std::ptrdiff_t>(within + wanted));
        current = miniFat[current];
    }
}

} // namespace vellumcast::spreadsheet::container
