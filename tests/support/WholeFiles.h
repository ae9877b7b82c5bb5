#pragma once
// A whole text written as a save writes each file: into a pending file beside the one it
// replaces, put in its place once written. For the file layer's tests, and for tests
// that write their inputs.

#include "core/Files.h"
#include "core/Paths.h"

#include <optional>
#include <string>
#include <string_view>

namespace vellumcast::testing {

// Replaces name in folder with text; returns the failure, if any.
inline std::optional<core::WriteFailure> ReplaceWhole(const core::OutputFolder& folder, const std::string& name,
    std::string_view text, core::FileCalls& calls = core::SystemFileCalls())
{
    core::PendingFile file;
    if (auto failure = file.Begin(folder, name, calls))
        return failure;
    if (auto failure = file.Write(text))
        return failure;
    return file.Commit();
}

// The same for a path, its folder opened for the write (which throws FileError when it
// cannot be opened).
inline std::optional<core::WriteFailure> ReplaceWhole(
    const std::string& path, std::string_view text, core::FileCalls& calls = core::SystemFileCalls())
{
    const core::OutputFolder folder(core::FolderOfPath(path));
    return ReplaceWhole(folder, core::FileNameOfPath(path), text, calls);
}

// Writes text to path; throws FileError naming it when it cannot.
inline void WriteFile(const std::string& path, std::string_view text)
{
    if (const auto failure = ReplaceWhole(path, text))
        throw core::FileError(failure->description);
}

} // namespace vellumcast::testing
