#include "export/ExportBudget.h"

namespace vellumcast::exporting {

namespace {

// The cells: a floor that every real workbook of a few megabytes stays far below, plus a
// share per byte of the file. A workbook records at least a byte or so per cell it holds,
// so 1,024 cells visited per byte is generous and bounds the time a crafted file of a few
// kilobytes can take.
constexpr uint64_t kCellFloor = uint64_t { 64 } << 20;
constexpr uint64_t kCellsPerFileByte = 1024;
// The memory the texts may take, together with the loaded worksheet's cells: real text
// is a few times its file at most (XML inflates 5 to 30 times and is mostly markup), so
// 64 bytes per byte is generous. A crafted file of a megabyte is refused at 128 MiB, so
// with the copy a growing text makes it stays well under 256 MiB.
constexpr uint64_t kTextFloor = uint64_t { 64 } << 20;
constexpr uint64_t kTextPerFileByte = 64;

} // namespace

ExportBudget::ExportBudget(uint64_t fileSize)
    : m_cellLimit(kCellFloor + fileSize * kCellsPerFileByte)
    , m_textLimit(kTextFloor + fileSize * kTextPerFileByte)
{
}

} // namespace vellumcast::exporting
