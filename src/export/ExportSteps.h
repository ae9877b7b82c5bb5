#pragma once
// The numbers of the export's steps, per procedure, as its failure reports name them:
// a report says which step of which procedure failed, so the numbers never change.

namespace vellumcast::exporting::steps {

// RunExport: the run over the workbook list.
namespace run {
constexpr int kClearResults = 100;
constexpr int kCountWorkbooks = 102;
constexpr int kBusy = 104;
constexpr int kLayoutResults = 106;
constexpr int kReadPath = 168;
constexpr int kBusyForWorkbook = 170;
constexpr int kOpenWorkbook = 172;
constexpr int kReadOptions = 180;
constexpr int kComposeAllSheets = 222;
constexpr int kListAllSheets = 234;
constexpr int kEachSheet = 254;
constexpr int kEachRow = 258;
constexpr int kEachColumn = 262;
constexpr int kWorkbookDone = 270;
constexpr int kNotBusyForWorkbook = 272;
constexpr int kShowResults = 278;
constexpr int kNotBusy = 282;
constexpr int kNoFilesAdded = 284;
} // namespace run

// What every procedure does with each worksheet.
namespace sheet {
constexpr int kNoWorkbook = 100;
constexpr int kUsedRange = 108; // also the walk's budget
constexpr int kFirstCellEmpty = 120;
constexpr int kRecord = 180;
} // namespace sheet

// The walk of a worksheet's cells: one text per worksheet, or one per row or column.
namespace walk {
constexpr int kAllSheets = 0; // the first failure goes to the caller, unreported
constexpr int kSheetText = 140;
constexpr int kLineTexts = 142;
} // namespace walk

} // namespace vellumcast::exporting::steps
