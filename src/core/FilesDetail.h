#pragma once
// The parts of a replacing write that both systems' file code shares: the temporary
// file's name, which tells the process that made it, and the loop that writes it.

#include "core/Files.h"

#include <string>
#include <string_view>

namespace vellumcast::core::detail {

// A hidden name, unique within the process, that tells which process made it.
std::string TemporaryName();

// The process a name of TemporaryName's form was made by, or 0 for any other name.
long TemporaryOwner(std::string_view name);

// The failure to write path with the system error code; creating tells whether the file
// was being created, where a refusal means the folder refuses every name alike.
WriteFailure FailureOf(const std::string& path, int code, bool creating);

// Creates file.temporary beside file.name and opens it as file.fd; a file already there
// must be writable, and its permission bits are given to the new one. Each system's own.
std::optional<WriteFailure> BeginReplacement(Replacement& file, FileCalls& calls);

// The replacement of name in folder, not yet begun. Each system's own.
Replacement ReplacementIn(const OutputFolder& folder, const std::string& name);

// Closes file.fd, then renames the temporary file over its name unless code (the errno of
// an earlier failure) is set or the close fails; the temporary file is removed otherwise.
std::optional<WriteFailure> EndReplacement(Replacement& file, int code, FileCalls& calls);

// Replaces file.name with the text: begun, written whole, ended.
std::optional<WriteFailure> Replace(Replacement file, const TextPieces& text, FileCalls& calls);

// Writes all of text to fd, going on after short writes. Returns 0 or the errno.
int WriteAll(FileCalls& calls, int fd, std::string_view text);

// A whole text as the one piece of a text given in pieces.
inline TextPieces WholeText(std::string_view text)
{
    return [text](const std::function<int(std::string_view)>& write) { return write(text); };
}

} // namespace vellumcast::core::detail
