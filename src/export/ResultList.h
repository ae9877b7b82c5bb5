#pragma once
// The results of a run: one entry per text the run produced, in the order produced.

#include <deque>
#include <string>

namespace vellumcast::exporting {

struct ResultEntry {
    std::string fileName; // the workbook's file name without its last extension, then ".txt"
    std::string sheetName; // empty in the all-sheets mode
    std::string ordinal; // row or column number within the used range, from "1"; else empty
    std::string text; // the exported text; "empty file" when it came out empty
};

// A deque: a million entries grow without one long pause to move them all.
using ResultList = std::deque<ResultEntry>;

} // namespace vellumcast::exporting
