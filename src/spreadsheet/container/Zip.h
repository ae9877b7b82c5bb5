#pragma once
// Reads members of a ZIP archive, inflating in chunks (see Inflate.h). The archive's
// bytes are read as needed: its end record and directory when it is opened, a member's
// compressed data when the member is read, so padding and members never read cost nothing.

#include "spreadsheet/FileBytes.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vellumcast::spreadsheet::container {

// The most all members of an archive of that size may inflate to, together: a floor
// for small workbooks plus 128 times the archive. Real workbooks inflate 5 to 30 times
// (XML compresses well but cell references keep it from compressing endlessly), so this
// refuses only archives that reuse one member or pack more than any workbook holds, and
// bounds the work a few megabytes can cause to seconds.
uint64_t ArchiveInflateBudget(uint64_t archiveSize);

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
    // Reads the end record and the central directory. Throws SpreadsheetError:
    // NotAWorkbook when the bytes are no ZIP archive, Corrupt when the directory is
    // damaged or lies outside them, TooLarge for a directory larger than any workbook's.
    explicit ZipArchive(std::shared_ptr<const FileBytes> bytes);
    // Bytes in memory that the caller keeps alive as long as the archive.
    explicit ZipArchive(std::span<const uint8_t> bytes);

    // The size of the whole archive, read or not.
    uint64_t Size() const { return m_bytes->Size(); }

    const std::vector<ZipEntry>& Entries() const { return m_entries; }

    // The member of that name: an exact match first, then one ignoring letter case and a
    // leading "/". Looked up in tables built with the directory, so a workbook that looks
    // up every worksheet among many members costs no more than reading the directory.
    const ZipEntry* Find(std::string_view name) const;
    // Throws SpreadsheetError(Corrupt) naming the member when two members have the same
    // name: Find gives the first, where other readers may take the other.
    void RequireUniqueNames() const;

    // Streams the member's inflated bytes to sink, in chunks of up to 64 KiB.
    // Checks the declared sizes, a bound on the inflated size, the archive's inflate
    // budget (ArchiveInflateBudget, across every read of the archive) and the CRC. Throws
    // SpreadsheetError (Corrupt, TooLarge, PasswordProtected for encrypted members,
    // Unsupported for unknown methods).
    void Read(const ZipEntry& entry, const std::function<void(std::string_view chunk)>& sink) const;

    // As Read, with sink returning false to stop early: the archive is then charged only
    // what was inflated.
    void ReadUntil(const ZipEntry& entry, const std::function<bool(std::string_view chunk)>& sink) const;

    // As ReadUntil, with the inflating done on a second thread a few chunks ahead of sink,
    // which runs on the calling thread: reading a large member then takes little more
    // than its consumer's time, where a core is free for it. Errors of the member are
    // raised once the chunks before them are consumed.
    void ReadAhead(const ZipEntry& entry, const std::function<bool(std::string_view chunk)>& sink) const;

    // What the reads so far leave of the inflate budget, so that a reader that knows
    // which members it will read can refuse a workbook before doing any of the work.
    uint64_t InflateBudgetLeft() const
    {
        const uint64_t used = m_inflated.load();
        return used < m_inflateBudget ? m_inflateBudget - used : 0;
    }

    // The whole inflated member; TooLarge past maxSize bytes.
    std::string ReadAll(const ZipEntry& entry, size_t maxSize = 256u << 20) const;

private:
    friend class ZipMemberStream;

    // Where Read puts a member's bytes: Buffer gives room for a chunk (the same room until
    // it is filled), Filled takes each chunk, which lies in that room or, for a stored
    // member, in the file's bytes.
    class ChunkBuffers {
    public:
        virtual ~ChunkBuffers() = default;
        virtual uint8_t* Buffer() = 0;
        virtual void Filled(const uint8_t* data, size_t length) = 0;
    };
    void ReadInto(const ZipEntry& entry, ChunkBuffers& buffers) const;

    void ChargeInflated(const ZipEntry& entry) const;
    void Refund(const ZipEntry& entry, uint64_t inflated) const;

    void ReadDirectory(uint64_t offset, uint64_t size, uint64_t entryCount);
    // The offset of the member's compressed data, after its local header.
    uint64_t DataOffset(const ZipEntry& entry) const;

    std::shared_ptr<const FileBytes> m_bytes;
    std::vector<ZipEntry> m_entries;
    // The first entry of each name, and of each name folded (FoldedName).
    std::unordered_map<std::string_view, size_t> m_byName;
    std::unordered_map<std::string, size_t> m_byFoldedName;
    std::optional<std::string> m_duplicateName; // the first name two members have
    uint64_t m_inflateBudget;
    mutable std::atomic<uint64_t> m_inflated { 0 };
};

// A member's inflated bytes taken a chunk at a time when the reader asks, so that a
// reader may read part of a member, do other work and read on where it stopped. A large
// member is inflated on a second thread a few chunks ahead; a small one at once. Left
// before the member's end, the archive is charged only what was inflated.
class ZipMemberStream {
public:
    ZipMemberStream(const ZipArchive& archive, const ZipEntry& entry);
    ~ZipMemberStream();
    ZipMemberStream(const ZipMemberStream&) = delete;
    ZipMemberStream& operator=(const ZipMemberStream&) = delete;

    // The next chunk, valid until the next call; nullopt after the last. The member's
    // errors (those of ZipArchive::Read) are thrown once the chunks before them are taken.
    std::optional<std::string_view> Next();

private:
    struct Ahead;
    std::unique_ptr<Ahead> m_ahead; // a large member's inflater thread
    std::string m_whole; // a small member, inflated
    size_t m_at = 0; // of m_whole handed out
    std::exception_ptr m_error; // a small member's, after its last chunk
};

// Joins a relationship target to the folder of the part that names it ("xl/" + "worksheets/sheet1.xml"),
// resolving "." and ".." and absolute targets ("/xl/…").
std::string ResolvePartPath(std::string_view baseFolder, std::string_view target);

} // namespace vellumcast::spreadsheet::container
