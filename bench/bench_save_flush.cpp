// What flushing to disk costs a save of many small files: the same save of N one-row
// results (default a million, as the row mode gives for a million-row sheet) without
// flushing, with one fsync per file before its rename, and with one syncfs at the end.
// Prints each time as a ratio to the save without flushing, measured in this one run;
// each mode saves into a folder of its own, all removed at the end.
// Usage: bench_save_flush [RESULTS] [FOLDER] [MODES]   MODES: any of "none,fsync,syncfs"

#include "results/SaveResults.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>

using namespace vellumcast;

namespace {

// The system calls, with every file flushed to the device before it is closed.
class SyncingCalls final : public core::FileCalls {
public:
    int Close(int fd) override
    {
        if (::fsync(fd) != 0) {
            ::close(fd);
            return -1;
        }
        return core::FileCalls::Close(fd);
    }
};

class NoReports final : public core::ErrorReporter {
public:
    void Report(const core::ErrorReport& report) override { std::fprintf(stderr, "%s\n", report.description.c_str()); }
};

double SaveSeconds(const std::string& folder, const exporting::ResultList& list, core::FileCalls* calls, bool syncfs)
{
    std::filesystem::create_directories(folder);
    ::sync(); // start every mode with nothing left to write back
    NoReports reporter;
    core::NoPump pump;
    const auto start = std::chrono::steady_clock::now();
    const auto summary
        = results::SaveResults(folder, options::SaveMode::EachRow, {}, list, { reporter, pump, nullptr, calls });
    if (syncfs) {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
        ::syncfs(fd);
        ::close(fd);
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (summary.written != list.size())
        std::fprintf(stderr, "only %zu of %zu written\n", summary.written, list.size());
    return elapsed.count();
}

} // namespace

int main(int argc, char** argv)
{
    const size_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    const std::string folder = argc > 2 ? argv[2] : "/tmp/vellumcast-bench/save-flush";
    const std::string modes = argc > 3 ? argv[3] : "none,fsync,syncfs";

    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    exporting::ResultList list;
    for (size_t row = 1; row <= count; ++row)
        list.push_back({ "Big.txt", "S", static_cast<int64_t>(row),
            "\"" + std::to_string(row) + "\"\t\"text\"\t\"3.25\"\t\"2024-01-31\"\t\"TRUE\"\r\n" });

    double none = 0;
    if (modes.find("none") != std::string::npos) {
        none = SaveSeconds(folder + "/none", list, nullptr, false);
        std::printf("%zu files, no flush:          1.00\n", count);
    }
    if (modes.find("syncfs") != std::string::npos) {
        const double seconds = SaveSeconds(folder + "/syncfs", list, nullptr, true);
        std::printf("%zu files, one syncfs at end: %.2f x no flush\n", count, none > 0 ? seconds / none : 0);
    }
    if (modes.find("fsync") != std::string::npos) {
        SyncingCalls syncing;
        const double seconds = SaveSeconds(folder + "/fsync", list, &syncing, false);
        std::printf("%zu files, fsync per file:    %.2f x no flush\n", count, none > 0 ? seconds / none : 0);
    }
    std::filesystem::remove_all(folder);
    return 0;
}
