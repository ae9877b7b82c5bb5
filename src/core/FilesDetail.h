#pragma once
// The parts of a replacing write that both systems' file code shares: the temporary
// file's name, which tells the process that made it, and the loop that writes it.

#include "core/Files.h"

#include <cerrno>
#include <string>
#include <string_view>

namespace vellumcast::core::detail {

// A hidden name, unique within the process, that tells which process made it.
std::string TemporaryName();

// True for a name of TemporaryName's form, made by this process or any other.
bool IsTemporaryName(std::string_view name);

// A temporary file untouched for this long, in a folder whose file system has no locks,
// is the leftover of a killed run: no write pauses that long between two pieces.
inline constexpr long kStaleSeconds = 24 * 60 * 60;

// The errno that stands for a file another program holds open and does not share
// (Windows' sharing and lock violations), which ReasonOf says as such.
inline constexpr int kOpenElsewhere = EBUSY;

// What a system error code means, as a person reads it: strerror's text, but on Windows
// "another program has the file open" for kOpenElsewhere. Each system's own.
std::string ReasonOf(int code);

// The failure to write path with the system error code; creating tells whether the file
// was being created, where a refusal means the folder refuses every name alike.
WriteFailure FailureOf(const std::string& path, int code, bool creating);

// Creates file.temporary beside file.name, opens it as file.fd and takes file.hold on it;
// a file already there must be writable, and its permission bits are given to the new
// one. Each system's own.
std::optional<WriteFailure> BeginReplacement(Replacement& file, FileCalls& calls);

// Lets go of file.hold, once the temporary file is renamed or removed. Each system's own.
void ReleaseHold(Replacement& file) noexcept;

// The replacement of name in folder, not yet begun. Each system's own.
Replacement ReplacementIn(const OutputFolder& folder, const std::string& name);

// Closes file.fd, then renames the temporary file over its name unless code (the errno of
// an earlier failure) is set or the close fails; the temporary file is removed otherwise.
std::optional<WriteFailure> EndReplacement(Replacement& file, int code, FileCalls& calls);

// Closes file.fd: code, or the errno of a failing close when code is 0.
int CloseWritten(Replacement& file, int code, FileCalls& calls);
// Ends a replacement whose file is closed and, unless code is set, in place: removes the
// temporary file when code is set, lets go of the hold and gives the failure.
std::optional<WriteFailure> FinishReplacement(Replacement& file, int code, FileCalls& calls);

// Writes all of text to fd, going on after short writes. Returns 0 or the errno.
int WriteAll(FileCalls& calls, int fd, std::string_view text);

} // namespace vellumcast::core::detail
