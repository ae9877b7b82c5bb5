#include "support/Failures.h"

#include "spreadsheet/Workbook.h"

#include <algorithm>

namespace vellumcast::testing {

using spreadsheet::ErrorCode;
using spreadsheet::SpreadsheetError;

std::string DamagedCopy(const std::string& bytes, std::mt19937& random, int round)
{
    std::string copy = bytes;
    if (copy.empty())
        return copy;
    if (round % 5 == 4) {
        copy.resize(random() % copy.size());
        return copy;
    }
    const int changes = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < changes; ++i)
        copy[random() % copy.size()] = static_cast<char>(random() & 0xFF);
    return copy;
}

std::optional<SpreadsheetError> OpenAndRead(
    const std::string& bytes, const std::string& name, int32_t maxRows, int32_t maxColumns)
{
    try {
        spreadsheet::Application application;
        auto workbook = application.OpenBytes(bytes, name);
        for (spreadsheet::Worksheet& sheet : workbook->Worksheets()) {
            const spreadsheet::CellRange range = sheet.UsedRange();
            for (int32_t r = range.firstRow; r <= std::min(range.lastRow, maxRows); ++r)
                for (int32_t c = range.firstColumn; c <= std::min(range.lastColumn, maxColumns); ++c)
                    sheet.CellText(r, c);
        }
    } catch (const SpreadsheetError& error) {
        return error;
    }
    return std::nullopt;
}

void ExpectDamagedCopiesFailCleanly(const std::string& bytes, const std::string& name, int rounds, uint32_t seed)
{
    std::mt19937 random(seed);
    int failures = 0;
    for (int round = 0; round < rounds; ++round) {
        const auto error = OpenAndRead(DamagedCopy(bytes, random, round), name);
        if (!error)
            continue;
        ++failures;
        EXPECT_NE(error->code(), ErrorCode::NotFound) << name << " round " << round << ": " << error->what();
        EXPECT_NE(error->code(), ErrorCode::NotAFile) << name << " round " << round << ": " << error->what();
        EXPECT_NE(std::string(error->what()).find(name), std::string::npos)
            << "round " << round << ": the message does not name " << name << ": " << error->what();
    }
    EXPECT_GT(failures, 0) << name << ": no damaged copy failed";
}

} // namespace vellumcast::testing
