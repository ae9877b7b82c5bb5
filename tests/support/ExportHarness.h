#pragma once
// What an export procedure is given in tests: recording ports and an empty result list.

#include "export/ExportProcedures.h"
#include "support/RecordingPorts.h"

namespace vellumcast::testing {

struct ExportHarness {
    RecordingReporter reporter;
    CountingPump pump;
    RecordingProgress progress;
    exporting::ResultList results;
    exporting::ExportContext context { reporter, pump, progress, results, "Excel1" };
    int64_t resultNumber = 1;
};

} // namespace vellumcast::testing
