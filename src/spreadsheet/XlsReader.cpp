// Placeholder until the reader lands.
#include "spreadsheet/FormatDetection.h"

namespace vellumcast::spreadsheet {

std::unique_ptr<WorkbookReader> OpenXlsReader(const ReaderContext&, WorkbookData&)
{
    throw SpreadsheetError(ErrorCode::Unsupported, "this format is not read yet");
}

} // namespace vellumcast::spreadsheet
