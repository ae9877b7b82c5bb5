#include "cli/SpooledResults.h"

#include "core/Files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
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

[[noreturn]] void CannotHold(const std::string& where, int code)
{
    throw std::runtime_error("Cannot hold the texts in a temporary file in " + where + ": " + std::strerror(code));
}

} // namespace

std::FILE* SpoolFolder::Open()
{
    std::unique_lock lock(m_mutex);
    if (!m_useFallback) {
        lock.unlock();
        if (std::FILE* file = core::OpenAnonymousTemporaryFile())
            return file;
        const int code = errno != 0 ? errno : EIO;
        const std::string folder = core::TemporaryFolder();
        if (m_fallback.empty() || m_fallback == folder)
            CannotHold(folder, code);
        lock.lock();
        if (!m_useFallback) {
            m_useFallback = true;
            m_notice = "no temporary file can be made in " + folder + " (" + std::strerror(code)
                + "); texts held out of memory go to " + m_fallback + " instead";
        }
    }
    lock.unlock();
    std::FILE* file = core::OpenAnonymousTemporaryFile(m_fallback);
    if (!file)
        CannotHold(m_fallback, errno != 0 ? errno : EIO);
    return file;
}

std::string SpoolFolder::TakeNotice()
{
    const std::lock_guard lock(m_mutex);
    return std::exchange(m_notice, {});
}

SpooledResults::SpooledResults(size_t memoryBytes, const OutletSlot* turn, SpoolFolder* folder)
    : m_memoryBytes(memoryBytes)
    , m_turn(turn)
    , m_folder(folder)
{
}

void SpooledResults::Begin(const exporting::ResultEntry& head)
{
    PassOnSettled();
    m_current
        = Entry { exporting::ResultEntry { head.fileName, head.sheetName, head.ordinal, {}, head.mode }, m_end, 0 };
    m_inEntry = true;
    PassOnSettled();
}

void SpooledResults::Write(std::string_view bytes)
{
    PassOnSettled();
    if (!m_current.pending)
        Hold(bytes);
    else if (m_pending) // none once the workbook is done: an entry never ended is no result
        m_pending->Write(bytes);
    m_current.size += bytes.size();
}

void SpooledResults::Cut(uint64_t size)
{
    if (m_inEntry)
        RollBack({ m_entries.size(), size, true });
}

void SpooledResults::Abandon()
{
    if (m_inEntry)
        RollBack({ m_entries.size(), 0, false });
}

void SpooledResults::CommitCutShort()
{
    m_current.head.cutShort = true;
    Commit();
}

void SpooledResults::Commit()
{
    PassOnSettled();
    m_entries.push_back(std::move(m_current));
    m_current = Entry {};
    m_inEntry = false;
}

exporting::SinkMark SpooledResults::Mark() const
{
    m_settledEntries = m_entries.size();
    m_settledEnd = m_end;
    m_settledInEntry = m_inEntry;
    return { m_entries.size(), m_inEntry ? m_current.size : 0, m_inEntry };
}

void SpooledResults::RollBack(const exporting::SinkMark& mark)
{
    // What was passed on is out of reach; the procedures never go back that far.
    const bool pastPassed = mark.entries < m_passedEntries
        || (mark.entries == m_passedEntries && m_passedBegun
            && (!mark.inEntry || m_current.offset + mark.bytes < m_passedEnd));
    if (pastPassed)
        throw std::logic_error("A text already written cannot be taken back");
    // The pending entry: dropped when the mark lies before it, else cut back to the mark.
    if (m_pending && mark.entries == m_passedEntries) {
        const Entry& pending = m_passedEntries < m_entries.size() ? m_entries[m_passedEntries] : m_current;
        if (!mark.inEntry)
            m_pending.reset();
        else if (mark.bytes < pending.size)
            m_pending->Cut(mark.bytes);
    }
    // Where the bytes end once the entries after the mark are dropped.
    uint64_t end = m_end;
    if (mark.entries < m_entries.size())
        end = m_entries[mark.entries].offset;
    else if (m_inEntry)
        end = m_current.offset;
    if (mark.inEntry && mark.entries < m_entries.size()) {
        m_current = m_entries[mark.entries]; // ended since the mark: under way again
        m_current.head.cutShort = false;
    }
    if (mark.entries < m_entries.size())
        m_entries.resize(mark.entries);
    m_inEntry = mark.inEntry;
    if (m_inEntry) {
        m_current.size = std::min(m_current.size, mark.bytes);
        m_end = m_current.offset + (m_current.pending ? 0 : m_current.size);
    } else {
        m_current = Entry {};
        m_end = end;
    }
    m_settledEntries = std::min(m_settledEntries, m_entries.size());
    m_settledEnd = std::min(m_settledEnd, m_end);
    m_settledInEntry = m_settledInEntry && (m_inEntry || m_settledEntries < m_entries.size());
    // What lies past the end is written over by what comes next.
    if (m_memory.size() > m_end - m_heldFrom)
        m_memory.resize(static_cast<size_t>(m_end - m_heldFrom));
}

void SpooledResults::Hold(std::string_view bytes)
{
    const uint64_t held = m_end - m_heldFrom;
    if (held < m_memoryBytes) {
        if (m_memory.capacity() < m_memoryBytes) // grown once, not copied at every doubling
            m_memory.reserve(m_memoryBytes);
        const size_t here = std::min(static_cast<size_t>(m_memoryBytes - held), bytes.size());
        m_memory.append(bytes.data(), here);
        m_end += here;
        bytes.remove_prefix(here);
    }
    if (bytes.empty())
        return;
    if (!m_file) {
        static SpoolFolder systemFolder;
        m_file.reset((m_folder ? m_folder : &systemFolder)->Open());
        m_filePosition = 0;
    }
    const uint64_t at = m_end - m_heldFrom - m_memoryBytes;
    if (at != m_filePosition && SeekTo(m_file.get(), at) != 0)
        throw std::runtime_error(std::string("Cannot hold the texts in a temporary file: ") + std::strerror(errno));
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), m_file.get()) != bytes.size()) {
        const int code = errno != 0 ? errno : ENOSPC;
        throw std::runtime_error(std::string("Cannot hold the texts in a temporary file: ") + std::strerror(code));
    }
    m_end += bytes.size();
    m_filePosition = at + bytes.size();
}

int SpooledResults::WriteText(size_t index, const std::function<int(std::string_view)>& write) const
{
    const Entry& entry = m_entries[index];
    if (entry.pending)
        return EINVAL;
    return ReadBytes(entry.offset, entry.offset + entry.size, write);
}

int SpooledResults::ReadBytes(uint64_t at, uint64_t end, const std::function<int(std::string_view)>& write) const
{
    if (at < m_heldFrom)
        return EINVAL; // passed on and let go
    const uint64_t inMemory = std::min<uint64_t>(end, m_heldFrom + m_memory.size());
    if (at < inMemory) {
        if (const int code = write(std::string_view(m_memory).substr(at - m_heldFrom, inMemory - at)))
            return code;
        at = inMemory;
    }
    if (at >= end)
        return 0;
    // Past the memory: in the file, from m_memoryBytes on.
    std::FILE* file = m_file.get();
    if (std::fflush(file) != 0 || SeekTo(file, at - m_heldFrom - m_memoryBytes) != 0)
        return errno != 0 ? errno : EIO;
    // A write after a read must seek first (the C streams ask it; Windows' fail the write
    // without it), so the next write is told the position is unknown.
    m_filePosition = std::numeric_limits<uint64_t>::max();
    std::string piece(std::min<uint64_t>(end - at, kHoldBytes), '\0');
    while (at < end) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(end - at, piece.size()));
        errno = 0;
        const size_t got = std::fread(piece.data(), 1, want, file);
        if (got != want)
            return errno != 0 ? errno : EIO;
        at += got;
        if (const int code = write(std::string_view(piece.data(), got)))
            return code;
    }
    return 0;
}

void SpooledResults::PassOnSettled()
{
    if (!m_turn)
        return;
    if (ResultOutlet* outlet = m_turn->load(std::memory_order_acquire)) {
        PassOn(*outlet);
        StartPending(*outlet);
    }
}

void SpooledResults::StartPending(ResultOutlet& outlet)
{
    if (m_pending || !m_inEntry || m_current.pending || m_current.held || m_passedEntries != m_entries.size()
        || !outlet.TakesBack())
        return;
    outlet.Begin(m_current.head);
    m_pending.reset(&outlet);
    m_current.pending = true;
    if (m_end == m_current.offset)
        return;
    // Begun before the turn came: what it holds goes on first, and is let go.
    const int code = ReadBytes(m_current.offset, m_end, [&](std::string_view piece) {
        outlet.Write(piece);
        return 0;
    });
    if (code != 0) {
        // Held it stays, and its save meets the failure again and reports it.
        m_pending.reset();
        m_current.pending = false;
        m_current.held = true;
        return;
    }
    m_end = m_current.offset;
    m_settledEnd = std::min(m_settledEnd, m_end);
    if (m_memory.size() > m_end - m_heldFrom)
        m_memory.resize(static_cast<size_t>(m_end - m_heldFrom));
    DropPassed();
}

void SpooledResults::PassOnRest(ResultOutlet& outlet)
{
    // An entry still under way was never ended: it is no result.
    m_settledEntries = m_entries.size();
    m_settledEnd = m_end;
    m_settledInEntry = false;
    PassOn(outlet);
    m_pending.reset(); // the entry still under way, when it was pending
}

void SpooledResults::PassOn(ResultOutlet& outlet)
{
    const auto passBytes = [&](uint64_t from, uint64_t to) {
        from = std::max(from, m_passedEnd);
        if (from < to) {
            const int code = ReadBytes(from, to, [&](std::string_view piece) {
                outlet.Write(piece);
                return 0;
            });
            if (code != 0)
                outlet.ReadFailed(code);
        }
        m_passedEnd = std::max(m_passedEnd, to);
    };
    const auto commit = [&](ResultOutlet& to, const Entry& entry) {
        if (entry.head.cutShort)
            to.CommitCutShort();
        else
            to.Commit();
    };
    // The pending entry, once ended and settled, is committed before those after it go.
    if (m_pending && m_passedEntries < m_settledEntries) {
        commit(*m_pending.release(), m_entries[m_passedEntries]);
        ++m_passedEntries;
    }
    for (; m_passedEntries < m_settledEntries; ++m_passedEntries) {
        const Entry& entry = m_entries[m_passedEntries];
        if (!m_passedBegun)
            outlet.Begin(entry.head);
        passBytes(entry.offset, entry.offset + entry.size);
        commit(outlet, entry);
        m_passedBegun = false;
    }
    // The entry under way at the latest mark, to an outlet that cannot take back (one that
    // can has it pending): what it had then goes on.
    if (!outlet.TakesBack() && m_settledInEntry && m_passedEntries == m_settledEntries
        && (m_passedEntries < m_entries.size() || m_inEntry)) {
        const Entry& entry = m_passedEntries < m_entries.size() ? m_entries[m_passedEntries] : m_current;
        if (!m_passedBegun)
            outlet.Begin(entry.head);
        m_passedBegun = true;
        passBytes(entry.offset, m_settledEnd);
    }
    DropPassed();
}

void SpooledResults::DropPassed()
{
    uint64_t needed = m_end; // the first byte still to be passed on
    if (m_passedEntries < m_entries.size())
        needed = m_entries[m_passedEntries].offset;
    else if (m_inEntry)
        needed = m_current.offset;
    if (m_passedBegun)
        needed = std::max(needed, m_passedEnd);
    if (needed < m_end || m_heldFrom == m_end)
        return;
    m_heldFrom = m_end;
    m_memory.clear();
    // The file is written over from its start; what it held is no longer read.
    m_filePosition = std::numeric_limits<uint64_t>::max();
}

} // namespace vellumcast::cli
