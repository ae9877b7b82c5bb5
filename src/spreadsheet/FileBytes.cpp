#include "spreadsheet/FileBytes.h"

#include "core/HugePages.h"
#include "core/ReadOnlyFile.h"
#include "spreadsheet/SpreadsheetError.h"

#include <memory>
#include <mutex>

namespace vellumcast::spreadsheet {

namespace {

// Bytes already in memory, owned or viewed: every read is a view of them.
class MemoryBytes : public FileBytes {
public:
    explicit MemoryBytes(std::span<const uint8_t> bytes)
        : m_view(bytes)
    {
    }
    uint64_t Size() const override { return m_view.size(); }
    std::span<const uint8_t> Read(uint64_t offset, size_t size, std::vector<uint8_t>&) const override
    {
        if (offset > m_view.size() || size > m_view.size() - offset)
            Corrupt("the file ends before the data it declares");
        return m_view.subspan(static_cast<size_t>(offset), size);
    }
    std::span<const uint8_t> Bytes() const override { return m_view; }

protected:
    void SetView(std::span<const uint8_t> bytes) { m_view = bytes; }

private:
    std::span<const uint8_t> m_view;
};

class BufferBytes final : public MemoryBytes {
public:
    explicit BufferBytes(std::string bytes)
        : MemoryBytes({})
        , m_bytes(std::move(bytes))
    {
        SetView({ reinterpret_cast<const uint8_t*>(m_bytes.data()), m_bytes.size() });
    }

private:
    std::string m_bytes;
};

class HeldBytes final : public MemoryBytes {
public:
    HeldBytes(std::shared_ptr<const void> owner, std::span<const uint8_t> bytes)
        : MemoryBytes(bytes)
        , m_owner(std::move(owner))
    {
    }

private:
    std::shared_ptr<const void> m_owner;
};

SpreadsheetError ShrankError(uint64_t size, uint64_t end)
{
    return SpreadsheetError(ErrorCode::Corrupt,
        "the file is damaged: it shrank from " + std::to_string(size) + " to " + std::to_string(end)
            + " bytes while it was read");
}

SpreadsheetError ErrorOf(const core::FileReadError& error)
{
    const bool notAFile = error.kind() == core::FileReadError::Kind::NotAFile;
    return SpreadsheetError(notAFile ? ErrorCode::NotAFile : ErrorCode::NotFound, error.what());
}

// A file read where the reader asks, so that a package costs the memory of the parts
// read from it rather than of the file, however large the file says it is. The whole
// content is read only for a reader that asks for it, once, into memory that is not
// cleared first (on huge pages once it is large).
class OpenedFile final : public FileBytes {
public:
    explicit OpenedFile(const std::string& path)
        : m_file(path)
    {
    }

    uint64_t Size() const override { return m_file.Size(); }

    std::span<const uint8_t> Read(uint64_t offset, size_t size, std::vector<uint8_t>& scratch) const override
    {
        if (offset > Size() || size > Size() - offset)
            Corrupt("the file ends before the data it declares");
        if (scratch.size() < size)
            scratch.resize(size);
        ReadExactly(offset, size, scratch.data());
        return { scratch.data(), size };
    }

    std::span<const uint8_t> Bytes() const override
    {
        std::call_once(m_readWhole, [this] {
            const auto size = static_cast<size_t>(Size());
            std::unique_ptr<void, core::FreeAligned> huge;
            std::unique_ptr<uint8_t[]> small;
            uint8_t* data = nullptr;
            if (size >= core::kHugePageSize) {
                huge = core::AllocateHugePageAligned(size);
                data = static_cast<uint8_t*>(huge.get());
            } else {
                small = std::make_unique_for_overwrite<uint8_t[]>(size);
                data = small.get();
            }
            ReadExactly(0, size, data);
            m_huge = std::move(huge);
            m_small = std::move(small);
            m_whole = { data, size };
        });
        return m_whole;
    }

private:
    void ReadExactly(uint64_t offset, size_t size, uint8_t* out) const
    {
        size_t got = 0;
        try {
            got = m_file.ReadAt(offset, out, size);
        } catch (const core::FileReadError& error) {
            throw ErrorOf(error);
        }
        if (got < size)
            throw ShrankError(Size(), offset + got);
    }

    core::ReadOnlyFile m_file;
    mutable std::once_flag m_readWhole;
    mutable std::unique_ptr<void, core::FreeAligned> m_huge;
    mutable std::unique_ptr<uint8_t[]> m_small;
    mutable std::span<const uint8_t> m_whole;
};

} // namespace

std::shared_ptr<const FileBytes> FileBytes::OpenFile(const std::string& path)
{
    try {
        return std::make_shared<OpenedFile>(path);
    } catch (const core::FileReadError& error) {
        throw ErrorOf(error);
    }
}

std::shared_ptr<const FileBytes> FileBytes::FromBuffer(std::string bytes)
{
    return std::make_shared<BufferBytes>(std::move(bytes));
}

std::shared_ptr<const FileBytes> FileBytes::View(std::span<const uint8_t> bytes)
{
    return std::make_shared<MemoryBytes>(bytes);
}

std::shared_ptr<const FileBytes> FileBytes::Holding(std::shared_ptr<const void> owner, std::span<const uint8_t> bytes)
{
    return std::make_shared<HeldBytes>(std::move(owner), bytes);
}

} // namespace vellumcast::spreadsheet
