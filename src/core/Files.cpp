#include "core/Files.h"
#include "core/FilesDetail.h"
#include "core/Process.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace vellumcast::core {

std::string ReadTextFile(const std::string& path)
{
    if (!FileExists(path))
        return {};
    // The path is UTF-8; as a char8_t path it reaches Windows as wide characters.
    std::ifstream in(std::filesystem::path(std::u8string(path.begin(), path.end())), std::ios::binary);
    if (!in)
        throw FileError("Cannot read " + path + ": " + std::strerror(errno));
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

FileCalls& SystemFileCalls()
{
    static FileCalls calls;
    return calls;
}

namespace detail {

namespace {

constexpr std::string_view kTemporaryStart = ".vellumcast-";
constexpr std::string_view kTemporaryEnd = ".tmp";

// A read-only device fails every file alike. Creating a file fails alike for every name
// when the folder is not writable or no longer exists. A full device is not among them:
// the files that still fit are written.
bool IsFolderWide(int code, bool creating)
{
    switch (code) {
    case EROFS:
        return true;
    case EACCES:
    case EPERM:
    case ENOENT:
    case ENOTDIR:
        return creating;
    default:
        return false;
    }
}

bool IsNoSpace(int code)
{
#ifdef EDQUOT
    if (code == EDQUOT) // a quota reached is a full device for this user
        return true;
#endif
    return code == ENOSPC;
}

} // namespace

// The name is short and does not grow with the file's own name, so a name too long is
// refused by the rename, as a failure of that file alone, and not when the temporary
// file is created.
std::string TemporaryName()
{
    static std::atomic<unsigned long> serial { 0 };
    return std::string(kTemporaryStart) + std::to_string(CurrentProcessId()) + "-" + std::to_string(serial++)
        + std::string(kTemporaryEnd);
}

bool IsTemporaryName(std::string_view name)
{
    if (!name.starts_with(kTemporaryStart) || !name.ends_with(kTemporaryEnd))
        return false;
    name = name.substr(kTemporaryStart.size(), name.size() - kTemporaryStart.size() - kTemporaryEnd.size());
    const size_t dash = name.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash + 1 == name.size())
        return false;
    const auto digits = [](std::string_view text) {
        return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    return digits(name.substr(0, dash)) && digits(name.substr(dash + 1));
}

int WriteAll(FileCalls& calls, int fd, std::string_view text)
{
    // Linux writes at most about 2 GiB per call, Windows takes an unsigned int.
    constexpr size_t kMaxChunk = size_t(1) << 30;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = calls.Write(fd, text.data() + done, std::min(text.size() - done, kMaxChunk));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC; // a regular file that takes nothing has no room
        done += static_cast<size_t>(n);
    }
    return 0;
}

WriteFailure FailureOf(const std::string& path, int code, bool creating)
{
    return { "Cannot write " + path + ": " + ReasonOf(code), code, IsFolderWide(code, creating), IsNoSpace(code) };
}

int CloseWritten(Replacement& file, int code, FileCalls& calls)
{
    // The file is not flushed to the device before the rename (Windows' Close does it):
    // an fsync per file makes a save of many small files tens of times slower
    // (bench_save_flush). A failing program or write still never leaves a partial file,
    // and ext4 and Btrfs write out a file renamed over another before the rename itself.
    if (calls.Close(file.fd) != 0 && code == 0)
        code = errno;
    file.fd = -1;
    return code;
}

std::optional<WriteFailure> FinishReplacement(Replacement& file, int code, FileCalls& calls)
{
    if (code != 0)
        calls.Unlink(file.folder, file.temporary);
    // Only now, with the temporary name gone: until then another run must see it as live.
    ReleaseHold(file);
    if (code == 0)
        return std::nullopt;
    return FailureOf(file.shown, code, false);
}

std::optional<WriteFailure> EndReplacement(Replacement& file, int code, FileCalls& calls)
{
    code = CloseWritten(file, code, calls);
    if (code == 0 && calls.Rename(file.folder, file.temporary, file.name) != 0)
        code = errno;
    return FinishReplacement(file, code, calls);
}

} // namespace detail

std::optional<WriteFailure> PendingFile::Begin(const OutputFolder& folder, const std::string& name, FileCalls& calls)
{
    Abandon();
    m_calls = &calls;
    m_folder = &folder;
    m_name = name;
    m_size = 0;
    m_file = detail::ReplacementIn(folder, name);
    return detail::BeginReplacement(m_file, calls);
}

std::optional<WriteFailure> PendingFile::Write(std::string_view bytes)
{
    if (!IsOpen())
        return std::nullopt;
    const int code = detail::WriteAll(*m_calls, m_file.fd, bytes);
    if (code != 0)
        return detail::EndReplacement(m_file, code, *m_calls);
    m_size += bytes.size();
    return std::nullopt;
}

std::optional<WriteFailure> PendingFile::Cut(uint64_t size)
{
    // Never longer: a truncation past the end would fill the text with zero bytes.
    if (!IsOpen() || size >= m_size)
        return std::nullopt;
    if (m_calls->Truncate(m_file.fd, size) != 0)
        return detail::EndReplacement(m_file, errno, *m_calls);
    m_size = size;
    return std::nullopt;
}

std::optional<WriteFailure> PendingFile::Fail(int code)
{
    return IsOpen() ? detail::EndReplacement(m_file, code != 0 ? code : EIO, *m_calls) : std::nullopt;
}

std::optional<WriteFailure> PendingFile::Commit()
{
    return IsOpen() ? detail::EndReplacement(m_file, 0, *m_calls) : std::nullopt;
}

std::optional<WriteFailure> PendingFile::CommitNew(
    const std::function<std::optional<std::string>(const std::string& taken)>& otherName)
{
    if (!IsOpen())
        return std::nullopt;
    int code = detail::CloseWritten(m_file, 0, *m_calls);
    while (code == 0 && m_calls->RenameNew(m_file.folder, m_file.temporary, m_file.name) != 0) {
        code = errno;
        if (code != EEXIST || !otherName)
            break;
        const std::optional<std::string> other = otherName(m_name);
        if (!other)
            break;
        m_name = *other;
        const detail::Replacement named = detail::ReplacementIn(*m_folder, m_name);
        m_file.name = named.name;
        m_file.shown = named.shown;
        code = 0;
    }
    return detail::FinishReplacement(m_file, code, *m_calls);
}

void PendingFile::Abandon() noexcept
{
    if (!IsOpen())
        return;
    m_calls->Close(m_file.fd);
    m_file.fd = -1;
    m_calls->Unlink(m_file.folder, m_file.temporary);
    detail::ReleaseHold(m_file);
}

} // namespace vellumcast::core
