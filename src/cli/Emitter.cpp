#include "cli/Emitter.h"

#include "core/Numbers.h"

#include <algorithm>
#include <iterator>

namespace vellumcast::cli {

std::string NotWrittenLines(const results::SaveSummary& summary)
{
    std::string lines = ProgramLine(results::NotWrittenNotice(summary));
    const size_t named = std::min(summary.notWrittenFiles.size(), kNotWrittenPrinted);
    for (size_t i = 0; i < named; ++i) {
        const results::NotWrittenFile& file = summary.notWrittenFiles[i];
        lines += ErrorLine(file.path, "not written: " + std::string(results::NotWrittenWhy(file.why)));
    }
    if (summary.notWritten > named)
        lines += ProgramLine("and " + core::GroupedNumber(summary.notWritten - named) + " more not written.");
    return lines;
}

std::vector<std::string> InputFiles(const std::vector<std::string>& workbooks)
{
    std::vector<std::string> files;
    std::copy_if(workbooks.begin(), workbooks.end(), std::back_inserter(files),
        [](const std::string& workbook) { return workbook != "-"; });
    return files;
}

} // namespace vellumcast::cli
