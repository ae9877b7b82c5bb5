#include "cli/SpooledResults.h"

#include "core/Files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace vellumcast::cli {

namespace {

// fseeko and ftello where the offsets of long files need them.
int SeekTo(std::FILE* file, uint64_t offset)
{
#ifdef _WIN32
    return _fseeki64(file, static_cast<long long>(offset), SEEK_SET);
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET);
#endif
}

} // namespace

SpooledResults::SpooledResults(size_t memoryBytes)
    : m_memoryBytes(memoryBytes)
{
}

SpooledResults::~SpooledResults()
{
    if (m_file)
        std::fclose(m_file);
}

SpooledResults::SpooledResults(SpooledResults&& other) noexcept
    : m_memoryBytes(other.m_memoryBytes)
    , m_entries(std::move(other.m_entries))
    , m_current(std::move(other.m_current))
    , m_inEntry(other.m_inEntry)
    , m_end(other.m_end)
    , m_memory(std::move(other.m_memory))
    , m_file(std::exchange(other.m_file, nullptr))
    , m_fileFailed(other.m_fileFailed)
    , m_filePosition(other.m_filePosition)
{
}

SpooledResults& SpooledResults::operator=(SpooledResults&& other) noexcept
{
    if (this != &other) {
        if (m_file)
            std::fclose(m_file);
        m_memoryBytes = other.m_memoryBytes;
        m_entries = std::move(other.m_entries);
        m_current = std::move(other.m_current);
        m_inEntry = other.m_inEntry;
        m_end = other.m_end;
        m_memory = std::move(other.m_memory);
        m_file = std::exchange(other.m_file, nullptr);
        m_fileFailed = other.m_fileFailed;
        m_filePosition = other.m_filePosition;
    }
    return *this;
}

void SpooledResults::BeginEntry(const exporting::ResultEntry& head)
{
    m_current
        = Entry { exporting::ResultEntry { head.fileName, head.sheetName, head.ordinal, {}, head.mode }, m_end, 0 };
    m_inEntry = true;
}

void SpooledResults::Append(std::string_view bytes)
{
    Write(bytes);
    m_current.size += bytes.size();
}

void SpooledResults::EndEntry()
{
    m_entries.push_back(std::move(m_current));
    m_current = Entry {};
    m_inEntry = false;
}

exporting::SinkMark SpooledResults::Mark() const
{
    return { m_entries.size(), m_inEntry ? m_current.size : 0, m_inEntry };
}

void SpooledResults::RollBack(const exporting::SinkMark& mark)
{
    if (mark.inEntry && !m_inEntry && mark.entries < m_entries.size())
        m_current = m_entries[mark.entries]; // ended since the mark: under way again
    if (mark.entries < m_entries.size())
        m_entries.resize(mark.entries);
    m_inEntry = mark.inEntry;
    if (m_inEntry) {
        m_current.size = std::min(m_current.size, mark.bytes);
        m_end = m_current.offset + m_current.size;
    } else {
        m_current = Entry {};
        m_end = m_entries.empty() ? 0 : m_entries.back().offset + m_entries.back().size;
    }
    // What lies past the end is written over by what comes next.
    if (m_memory.size() > m_end)
        m_memory.resize(static_cast<size_t>(m_end));
}

void SpooledResults::Write(std::string_view bytes)
{
    if (m_end < m_memoryBytes || m_fileFailed) {
        const size_t room = m_fileFailed ? bytes.size() : static_cast<size_t>(m_memoryBytes - m_end);
        const size_t here = std::min(room, bytes.size());
        m_memory.append(bytes.data(), here);
        m_end += here;
        bytes.remove_prefix(here);
    }
    if (bytes.empty())
        return;
    if (!m_file) {
        m_file = core::OpenAnonymousTemporaryFile();
        if (!m_file) {
            // No temporary file: the texts are held in memory instead, as the windows hold them.
            m_fileFailed = true;
            m_memory.append(bytes.data(), bytes.size());
            m_end += bytes.size();
            return;
        }
        m_filePosition = 0;
    }
    const uint64_t at = m_end - m_memoryBytes;
    if (at != m_filePosition && SeekTo(m_file, at) != 0)
        throw std::runtime_error(std::string("Cannot hold the texts in a temporary file: ") + std::strerror(errno));
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), m_file) != bytes.size()) {
        const int code = errno != 0 ? errno : ENOSPC;
        throw std::runtime_error(std::string("Cannot hold the texts in a temporary file: ") + std::strerror(code));
    }
    m_end += bytes.size();
    m_filePosition = at + bytes.size();
}

int SpooledResults::WriteText(size_t index, const std::function<int(std::string_view)>& write) const
{
    const Entry& entry = m_entries[index];
    uint64_t at = entry.offset;
    const uint64_t end = entry.offset + entry.size;
    const uint64_t inMemory = std::min<uint64_t>(end, m_memory.size());
    if (at < inMemory) {
        if (const int code = write(std::string_view(m_memory).substr(at, inMemory - at)))
            return code;
        at = inMemory;
    }
    if (at >= end)
        return 0;
    // Past the memory: in the file, from m_memoryBytes on.
    std::FILE* file = m_file;
    if (std::fflush(file) != 0 || SeekTo(file, at - m_memoryBytes) != 0)
        return errno != 0 ? errno : EIO;
    m_filePosition = at - m_memoryBytes;
    std::string piece(std::min<uint64_t>(end - at, kHoldBytes), '\0');
    while (at < end) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(end - at, piece.size()));
        errno = 0;
        const size_t got = std::fread(piece.data(), 1, want, file);
        if (got != want)
            return errno != 0 ? errno : EIO;
        at += got;
        m_filePosition += got;
        if (const int code = write(std::string_view(piece.data(), got)))
            return code;
    }
    return 0;
}

} // namespace vellumcast::cli
