#include "spreadsheet/container/Zip.h"
#include "spreadsheet/container/ByteCursor.h"
#include "spreadsheet/container/Inflate.h"

#include "core/BoundedQueue.h"
#include "spreadsheet/SpreadsheetError.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace vellumcast::spreadsheet::container {

namespace {

constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kChunkSize = 64u << 10;
constexpr uint64_t kReadAheadFrom = 1u << 20; // members inflated on a second thread are larger
// How far from the end of an archive its end record (with a ZIP64 locator before it) may begin.
constexpr size_t kEndReach = kEndRecordSize + 0xFFFF + 20;
// More than the directory of any workbook (some 80 bytes a member) takes; a larger one
// would cost its size in memory before a single member were read.
constexpr uint64_t kMaxDirectorySize = 256u << 20;
// How much compressed data is read from the file at a time: the inflater starts on the
// first piece once it is read, and the pages of a larger one cost more to touch.
constexpr size_t kInputPiece = 256u << 10;

// Chunk buffers that reads let go of, a few kept for the next reads: a workbook's
// shared strings and worksheets are read one after another, and each fresh buffer costs
// the first touch of its pages, far more than filling them again.
class ChunkCache {
public:
    static std::unique_ptr<uint8_t[]> Take()
    {
        ChunkCache& cache = Instance();
        {
            const std::lock_guard lock(cache.m_mutex);
            if (!cache.m_chunks.empty()) {
                std::unique_ptr<uint8_t[]> chunk = std::move(cache.m_chunks.back());
                cache.m_chunks.pop_back();
                return chunk;
            }
        }
        return std::make_unique_for_overwrite<uint8_t[]>(kChunkSize);
    }
    static void Give(std::unique_ptr<uint8_t[]> chunk)
    {
        ChunkCache& cache = Instance();
        const std::lock_guard lock(cache.m_mutex);
        if (chunk && cache.m_chunks.size() < kKept)
            cache.m_chunks.push_back(std::move(chunk));
    }

private:
    // As many as a read ahead fills at most: its queue, the chunk read and the one filled.
    static constexpr size_t kKept = 10;
    // Never destroyed: reads may run while other statics are.
    static ChunkCache& Instance()
    {
        static auto* cache = new ChunkCache;
        return *cache;
    }
    std::mutex m_mutex;
    std::vector<std::unique_ptr<uint8_t[]>> m_chunks;
};

// Offset of the end-of-central-directory record: the last one whose comment ends at or
// before the end of the file.
bool FindEndRecord(std::span<const uint8_t> bytes, uint64_t& offset)
{
    if (bytes.size() < kEndRecordSize)
        return false;
    const uint64_t last = bytes.size() - kEndRecordSize;
    const uint64_t first = last > 0xFFFF ? last - 0xFFFF : 0;
    for (uint64_t at = last + 1; at-- > first;) {
        if (bytes[at] != 'P' || bytes[at + 1] != 'K' || bytes[at + 2] != 5 || bytes[at + 3] != 6)
            continue;
        const uint64_t commentLength = static_cast<uint64_t>(bytes[at + 20] | (bytes[at + 21] << 8));
        if (at + kEndRecordSize + commentLength <= bytes.size()) {
            offset = at;
            return true;
        }
    }
    return false;
}

// Applies the ZIP64 extended information extra field to the fields that overflowed.
void ApplyZip64Extra(std::span<const uint8_t> bytes, uint64_t extraAt, uint16_t extraLength, ZipEntry& entry)
{
    ByteCursor extra(bytes, extraAt, "the ZIP directory");
    const uint64_t end = extraAt + extraLength;
    while (extra.Position() + 4 <= end) {
        const uint16_t id = extra.U16();
        const uint16_t size = extra.U16();
        if (extra.Position() + size > end)
            return;
        if (id != 0x0001) {
            extra.Skip(size);
            continue;
        }
        ByteCursor field(bytes, extra.Position(), "the ZIP directory");
        uint64_t left = size;
        auto take = [&](uint64_t& value) {
            if (left >= 8) {
                value = field.U64();
                left -= 8;
            }
        };
        if (entry.uncompressedSize == 0xFFFFFFFFu)
            take(entry.uncompressedSize);
        if (entry.compressedSize == 0xFFFFFFFFu)
            take(entry.compressedSize);
        if (entry.localHeaderOffset == 0xFFFFFFFFu)
            take(entry.localHeaderOffset);
        return;
    }
}

// Folds letter case, and the backslashes some Windows writers use as folder separators.
char Fold(char c)
{
    if (c == '\\')
        return '/';
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The name as Find compares it when no member has it exactly: no leading slashes, letter
// case and folder separators folded.
std::string FoldedName(std::string_view name)
{
    while (!name.empty() && (name.front() == '/' || name.front() == '\\'))
        name.remove_prefix(1);
    std::string folded(name);
    std::transform(folded.begin(), folded.end(), folded.begin(), Fold);
    return folded;
}

// The most a member may inflate to: generous for real workbooks (XML compresses about
// 10 to 30 times), small enough that a crafted ratio cannot exhaust memory or time.
uint64_t InflatedSizeLimit(uint64_t compressedSize)
{
    constexpr uint64_t kFloor = 64ull << 20;
    constexpr uint64_t kCap = 4ull << 30;
    const uint64_t byRatio = compressedSize > kCap / 4096 ? kCap : compressedSize * 4096;
    return std::min(kCap, std::max(kFloor, byRatio));
}

} // namespace

uint64_t ArchiveInflateBudget(uint64_t archiveSize)
{
    constexpr uint64_t kFloor = 256ull << 20;
    constexpr uint64_t kRatio = 128;
    return kFloor + archiveSize * kRatio;
}

ZipArchive::ZipArchive(std::span<const uint8_t> bytes)
    : ZipArchive(FileBytes::View(bytes))
{
}

ZipArchive::ZipArchive(std::shared_ptr<const FileBytes> bytes)
    : m_bytes(std::move(bytes))
    , m_inflateBudget(ArchiveInflateBudget(m_bytes->Size()))
{
    // The end record lies within the last kEndReach bytes, with a ZIP64 locator just
    // before it: only those are read to find the directory.
    const uint64_t size = m_bytes->Size();
    const uint64_t tailAt = size - std::min<uint64_t>(size, kEndReach);
    std::vector<uint8_t> scratch;
    const auto tail = m_bytes->Read(tailAt, static_cast<size_t>(size - tailAt), scratch);
    uint64_t endAt = 0;
    if (!FindEndRecord(tail, endAt))
        throw SpreadsheetError(ErrorCode::NotAWorkbook, "it is not a ZIP archive (no central directory)");

    ByteCursor end(tail, endAt + 4, "the ZIP directory");
    const uint16_t disk = end.U16();
    end.U16(); // disk of the directory
    end.U16(); // entries on this disk
    uint64_t entryCount = end.U16();
    uint64_t directorySize = end.U32();
    uint64_t directoryOffset = end.U32();
    if (disk != 0 && disk != 0xFFFF)
        throw SpreadsheetError(ErrorCode::Unsupported, "the ZIP archive spans several disks");

    if ((entryCount == 0xFFFF || directorySize == 0xFFFFFFFFu || directoryOffset == 0xFFFFFFFFu) && endAt >= 20) {
        // ZIP64: a locator just before the record points at the 64-bit record.
        ByteCursor locator(tail, endAt - 20, "the ZIP directory");
        if (locator.U32() == kZip64LocatorSignature) {
            locator.U32(); // disk of the record
            const uint64_t recordAt = locator.U64();
            constexpr size_t kZip64EndSize = 56;
            if (recordAt > size || size - recordAt < kZip64EndSize)
                Corrupt("the ZIP64 end of central directory record is missing");
            std::vector<uint8_t> recordScratch;
            ByteCursor record(m_bytes->Read(recordAt, kZip64EndSize, recordScratch), "the ZIP directory");
            if (record.U32() != kZip64EndSignature)
                Corrupt("the ZIP64 end of central directory record is missing");
            record.Skip(8 + 2 + 2 + 4 + 4 + 8); // size, versions, disk numbers, entries on disk
            entryCount = record.U64();
            directorySize = record.U64();
            directoryOffset = record.U64();
        }
    }
    ReadDirectory(directoryOffset, directorySize, entryCount);
}

void ZipArchive::ReadDirectory(uint64_t offset, uint64_t size, uint64_t entryCount)
{
    if (offset > m_bytes->Size() || size > m_bytes->Size() - offset)
        Corrupt("the ZIP central directory lies outside the file");
    if (entryCount > size / kCentralHeaderSize)
        Corrupt("the ZIP central directory is too small for the number of members it declares");
    if (size > kMaxDirectorySize)
        throw SpreadsheetError(ErrorCode::TooLarge,
            "its ZIP central directory takes " + std::to_string(size) + " bytes, more than any workbook's");

    std::vector<uint8_t> scratch;
    const auto bytes = m_bytes->Read(offset, static_cast<size_t>(size), scratch);
    m_entries.reserve(entryCount);
    ByteCursor cursor(bytes, "the ZIP directory");
    for (uint64_t i = 0; i < entryCount; ++i) {
        if (cursor.U32() != kCentralHeaderSignature)
            Corrupt("a ZIP central directory entry is damaged");
        ZipEntry entry;
        cursor.Skip(4); // versions
        entry.flags = cursor.U16();
        entry.method = cursor.U16();
        cursor.Skip(4); // time, date
        entry.crc32 = cursor.U32();
        entry.compressedSize = cursor.U32();
        entry.uncompressedSize = cursor.U32();
        const uint16_t nameLength = cursor.U16();
        const uint16_t extraLength = cursor.U16();
        const uint16_t commentLength = cursor.U16();
        cursor.Skip(8); // disk, internal and external attributes
        entry.localHeaderOffset = cursor.U32();
        entry.name = std::string(cursor.Text(nameLength));
        const uint64_t extraAt = cursor.Position();
        cursor.Skip(extraLength);
        cursor.Skip(commentLength);
        ApplyZip64Extra(bytes, extraAt, extraLength, entry);
        m_entries.push_back(std::move(entry));
    }
    // Built once the entries no longer move, since the first table keys on their names.
    m_byName.reserve(m_entries.size());
    m_byFoldedName.reserve(m_entries.size());
    for (size_t i = 0; i < m_entries.size(); ++i) {
        if (!m_byName.emplace(m_entries[i].name, i).second && !m_duplicateName)
            m_duplicateName = m_entries[i].name;
        m_byFoldedName.emplace(FoldedName(m_entries[i].name), i);
    }
}

void ZipArchive::RequireUniqueNames() const
{
    if (m_duplicateName)
        Corrupt("the package is damaged: it holds two members named \"" + *m_duplicateName
            + "\", and which of them is meant cannot be told");
}

const ZipEntry* ZipArchive::Find(std::string_view name) const
{
    if (const auto exact = m_byName.find(name); exact != m_byName.end())
        return &m_entries[exact->second];
    if (const auto folded = m_byFoldedName.find(FoldedName(name)); folded != m_byFoldedName.end())
        return &m_entries[folded->second];
    return nullptr;
}

void ZipArchive::Read(const ZipEntry& entry, const std::function<void(std::string_view chunk)>& sink) const
{
    ReadUntil(entry, [&](std::string_view chunk) {
        sink(chunk);
        return true;
    });
}

void ZipArchive::ReadUntil(const ZipEntry& entry, const std::function<bool(std::string_view chunk)>& sink) const
{
    struct StopReading { };
    // One buffer, handed to sink after each inflate and refilled once sink returns.
    class OneBuffer final : public ChunkBuffers {
    public:
        explicit OneBuffer(const std::function<bool(std::string_view chunk)>& sink)
            : m_sink(sink)
        {
        }
        ~OneBuffer() override { ChunkCache::Give(std::move(m_buffer)); }
        uint8_t* Buffer() override
        {
            if (!m_buffer)
                m_buffer = ChunkCache::Take();
            return m_buffer.get();
        }
        void Filled(const uint8_t* data, size_t length) override
        {
            inflated += length;
            if (!m_sink(std::string_view(reinterpret_cast<const char*>(data), length)))
                throw StopReading();
        }
        uint64_t inflated = 0;

    private:
        const std::function<bool(std::string_view chunk)>& m_sink;
        std::unique_ptr<uint8_t[]> m_buffer;
    } buffers(sink);
    try {
        ReadInto(entry, buffers);
    } catch (const StopReading&) {
        Refund(entry, buffers.inflated);
    }
}

void ZipArchive::ReadInto(const ZipEntry& entry, ChunkBuffers& buffers) const
{
    const std::string& name = entry.name;
    if ((entry.flags & 0x0001) != 0 || entry.method == 99)
        throw SpreadsheetError(ErrorCode::PasswordProtected, "the ZIP member " + name + " is encrypted");
    if (entry.method != 0 && entry.method != 8)
        throw SpreadsheetError(ErrorCode::Unsupported,
            "the ZIP member " + name + " uses compression method " + std::to_string(entry.method)
                + ", which is not supported");

    const uint64_t dataAt = DataOffset(entry);
    const uint64_t limit = InflatedSizeLimit(entry.compressedSize);
    if (entry.uncompressedSize > limit)
        throw SpreadsheetError(ErrorCode::TooLarge,
            "the ZIP member " + name + " inflates to " + std::to_string(entry.uncompressedSize)
                + " bytes, more than the engine accepts");
    ChargeInflated(entry);

    // The compressed data is read a piece at a time, so that a member costs a piece of
    // memory however large it is; bytes in memory are viewed, not copied.
    std::vector<uint8_t> scratch;
    auto piece = [&](uint64_t at, size_t most) {
        return m_bytes->Read(
            dataAt + at, static_cast<size_t>(std::min<uint64_t>(most, entry.compressedSize - at)), scratch);
    };
    uint32_t crc = 0;
    if (entry.method == 0) {
        if (entry.compressedSize != entry.uncompressedSize)
            Corrupt("the stored ZIP member " + name + " declares two different sizes");
        for (uint64_t at = 0; at < entry.compressedSize; at += kChunkSize) {
            const auto data = piece(at, kChunkSize);
            crc = Crc32(crc, data.data(), data.size());
            buffers.Filled(data.data(), data.size());
        }
    } else {
        Inflater inflater;
        uint64_t inputTaken = 0;
        uint64_t produced = 0;
        bool finished = false;
        while (!finished) {
            if (inflater.InputLeft() == 0 && inputTaken < entry.compressedSize) {
                const auto input = piece(inputTaken, kInputPiece);
                inflater.SetInput(input.data(), input.size());
                inputTaken += input.size();
            }
            const size_t inputBefore = inflater.InputLeft();
            size_t length = 0;
            uint8_t* const buffer = buffers.Buffer();
            const Inflater::Status status = inflater.Inflate(buffer, kChunkSize, length);
            if (status == Inflater::Status::Damaged)
                Corrupt("the compressed data of the ZIP member " + name + " is damaged");
            finished = status == Inflater::Status::Finished;
            produced += length;
            if (produced > entry.uncompressedSize)
                Corrupt("the ZIP member " + name + " inflates to more than its declared size");
            if (length > 0) {
                crc = Crc32(crc, buffer, length);
                buffers.Filled(buffer, length);
            } else if (!finished && inflater.InputLeft() == 0 && inputTaken == entry.compressedSize) {
                Corrupt("the compressed data of the ZIP member " + name + " is truncated");
            } else if (!finished && inflater.InputLeft() == inputBefore) {
                // Neither input taken nor output given: never spin on data the inflater cannot use.
                Corrupt("the compressed data of the ZIP member " + name + " is damaged");
            }
        }
        if (produced != entry.uncompressedSize)
            Corrupt("the ZIP member " + name + " inflates to less than its declared size");
    }
    if (crc != entry.crc32)
        Corrupt("the ZIP member " + name + " fails its CRC check");
}

uint64_t ZipArchive::DataOffset(const ZipEntry& entry) const
{
    // The local header repeats the name and may carry a different extra field; the sizes
    // come from the central directory, which is also right when a data descriptor follows.
    const uint64_t size = m_bytes->Size();
    if (entry.localHeaderOffset > size || size - entry.localHeaderOffset < kLocalHeaderSize)
        Corrupt("the ZIP member " + entry.name + " has no local header where the directory points");
    std::vector<uint8_t> scratch;
    ByteCursor local(m_bytes->Read(entry.localHeaderOffset, kLocalHeaderSize, scratch), "a ZIP member's header");
    if (local.U32() != kLocalHeaderSignature)
        Corrupt("the ZIP member " + entry.name + " has no local header where the directory points");
    local.Skip(22);
    const uint16_t nameLength = local.U16();
    const uint16_t extraLength = local.U16();
    const uint64_t dataAt = entry.localHeaderOffset + kLocalHeaderSize + nameLength + extraLength;
    if (dataAt > size || entry.compressedSize > size - dataAt)
        Corrupt("the ZIP member " + entry.name + " runs past the end of the file");
    return dataAt;
}

void ZipArchive::ChargeInflated(const ZipEntry& entry) const
{
    // The declared size is what the member may produce at most (more is Corrupt), so
    // charging it up front bounds the work before any of it is done.
    const uint64_t before = m_inflated.fetch_add(entry.uncompressedSize);
    if (before + entry.uncompressedSize > m_inflateBudget)
        throw SpreadsheetError(ErrorCode::TooLarge,
            "its ZIP members would inflate to more than " + std::to_string(m_inflateBudget) + " bytes in all (reading "
                + entry.name + "), more than a workbook of " + std::to_string(m_bytes->Size()) + " bytes can hold");
}

void ZipArchive::Refund(const ZipEntry& entry, uint64_t inflated) const
{
    m_inflated.fetch_sub(entry.uncompressedSize - std::min(inflated, entry.uncompressedSize));
}

void ZipArchive::ReadAhead(const ZipEntry& entry, const std::function<bool(std::string_view chunk)>& sink) const
{
    ZipMemberStream stream(*this, entry);
    while (const std::optional<std::string_view> chunk = stream.Next()) {
        if (!sink(*chunk))
            return;
    }
}

// A chunk of a member inflated ahead: kChunkSize bytes of room, length of them filled.
struct AheadChunk {
    std::unique_ptr<uint8_t[]> bytes;
    size_t length = 0;
};

struct ZipMemberStream::Ahead {
    // Chunk buffers go back to the inflater for reuse.
    core::BoundedQueue<AheadChunk> queue { 8 };
    AheadChunk current;
    std::thread inflater;
};

ZipMemberStream::ZipMemberStream(const ZipArchive& archive, const ZipEntry& entry)
{
    // A small member is inflated here: a thread costs more than it would save.
    if (entry.uncompressedSize <= kReadAheadFrom) {
        try {
            archive.Read(entry, [&](std::string_view chunk) { m_whole.append(chunk); });
        } catch (...) {
            m_error = std::current_exception();
        }
        return;
    }
    m_ahead = std::make_unique<Ahead>();
    m_ahead->inflater = std::thread([&archive, &entry, &queue = m_ahead->queue] {
        struct StopReading { };
        // The member is inflated straight into the buffers the reader is handed, which come
        // back to be filled again once it is done with them: no chunk is copied.
        class QueuedBuffers final : public ZipArchive::ChunkBuffers {
        public:
            explicit QueuedBuffers(core::BoundedQueue<AheadChunk>& queue)
                : m_queue(queue)
            {
            }
            ~QueuedBuffers() override { ChunkCache::Give(std::move(m_chunk.bytes)); }
            uint8_t* Buffer() override
            {
                if (!m_chunk.bytes) {
                    m_chunk = m_queue.TakeSpare();
                    if (!m_chunk.bytes)
                        m_chunk.bytes = ChunkCache::Take();
                }
                return m_chunk.bytes.get();
            }
            void Filled(const uint8_t* data, size_t length) override
            {
                uint8_t* const buffer = Buffer();
                if (data != buffer) // a stored member's bytes, as the file holds them
                    std::memcpy(buffer, data, length);
                m_chunk.length = length;
                inflated += length;
                if (!m_queue.Push(std::exchange(m_chunk, AheadChunk {})))
                    throw StopReading();
            }
            uint64_t inflated = 0;

        private:
            core::BoundedQueue<AheadChunk>& m_queue;
            AheadChunk m_chunk; // the buffer being filled
        } buffers(queue);
        std::exception_ptr error;
        try {
            archive.ReadInto(entry, buffers);
        } catch (const StopReading&) {
            archive.Refund(entry, buffers.inflated);
        } catch (...) {
            error = std::current_exception();
        }
        queue.Close(error);
    });
}

ZipMemberStream::~ZipMemberStream()
{
    // However the reader leaves, the inflater is told to stop and joined.
    if (m_ahead) {
        m_ahead->queue.Cancel();
        m_ahead->inflater.join();
        ChunkCache::Give(std::move(m_ahead->current.bytes));
        for (AheadChunk spare = m_ahead->queue.TakeSpare(); spare.bytes; spare = m_ahead->queue.TakeSpare())
            ChunkCache::Give(std::move(spare.bytes));
    }
}

std::optional<std::string_view> ZipMemberStream::Next()
{
    if (m_ahead) {
        if (m_ahead->current.bytes)
            m_ahead->queue.Recycle(std::exchange(m_ahead->current, AheadChunk {}));
        std::optional<AheadChunk> chunk = m_ahead->queue.Pop();
        if (!chunk)
            return std::nullopt;
        m_ahead->current = std::move(*chunk);
        return std::string_view(reinterpret_cast<const char*>(m_ahead->current.bytes.get()), m_ahead->current.length);
    }
    if (m_at < m_whole.size()) {
        const std::string_view chunk = std::string_view(m_whole).substr(m_at, kChunkSize);
        m_at += chunk.size();
        return chunk;
    }
    if (m_error)
        std::rethrow_exception(std::exchange(m_error, nullptr));
    return std::nullopt;
}

std::string ZipArchive::ReadAll(const ZipEntry& entry, size_t maxSize) const
{
    if (entry.uncompressedSize > maxSize)
        throw SpreadsheetError(ErrorCode::TooLarge,
            "the ZIP member " + entry.name + " is too large (" + std::to_string(entry.uncompressedSize) + " bytes)");
    std::string out;
    out.reserve(static_cast<size_t>(entry.uncompressedSize));
    Read(entry, [&](std::string_view chunk) { out.append(chunk); });
    return out;
}

std::string ResolvePartPath(std::string_view baseFolder, std::string_view target)
{
    // Targets are URIs: undo percent-escapes ("My%20Sheet.xml").
    std::string decoded;
    decoded.reserve(target.size());
    for (size_t i = 0; i < target.size(); ++i) {
        const char c = target[i];
        auto hex = [](char h) {
            if (h >= '0' && h <= '9')
                return h - '0';
            if (h >= 'a' && h <= 'f')
                return h - 'a' + 10;
            if (h >= 'A' && h <= 'F')
                return h - 'A' + 10;
            return -1;
        };
        if (c == '%' && i + 2 < target.size() && hex(target[i + 1]) >= 0 && hex(target[i + 2]) >= 0) {
            decoded.push_back(static_cast<char>(hex(target[i + 1]) * 16 + hex(target[i + 2])));
            i += 2;
        } else {
            decoded.push_back(c == '\\' ? '/' : c);
        }
    }

    std::vector<std::string_view> segments;
    auto push = [&](std::string_view path) {
        size_t start = 0;
        while (start <= path.size()) {
            size_t slash = path.find('/', start);
            if (slash == std::string_view::npos)
                slash = path.size();
            const std::string_view segment = path.substr(start, slash - start);
            if (segment == "..") {
                if (!segments.empty())
                    segments.pop_back();
            } else if (!segment.empty() && segment != ".") {
                segments.push_back(segment);
            }
            start = slash + 1;
        }
    };
    const std::string_view path = decoded;
    if (path.empty() || path.front() != '/')
        push(baseFolder);
    push(path);

    std::string out;
    for (const auto& segment : segments) {
        if (!out.empty())
            out.push_back('/');
        out.append(segment);
    }
    return out;
}

} // namespace vellumcast::spreadsheet::container
