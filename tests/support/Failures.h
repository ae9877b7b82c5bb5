#pragma once
// Failures the tests expect: the code of the engine error an action throws, and damaged
// copies of a sound workbook that must each open or fail cleanly.

#include "spreadsheet/SpreadsheetError.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <random>
#include <string>
#include <string_view>

namespace vellumcast::testing {

// The code of the SpreadsheetError that action throws. Throwing none fails the test and
// gives NotFound, which no caller expects.
template <typename Action> spreadsheet::ErrorCode ErrorCodeOf(Action&& action)
{
    try {
        action();
    } catch (const spreadsheet::SpreadsheetError& error) {
        return error.code();
    }
    ADD_FAILURE() << "no SpreadsheetError was thrown";
    return spreadsheet::ErrorCode::NotFound;
}

// Expects action to throw a SpreadsheetError of this code whose message holds every one
// of parts (the workbook's path, the worksheet's name, what went wrong).
template <typename Action>
void ExpectFailure(Action&& action, spreadsheet::ErrorCode code, std::initializer_list<std::string_view> parts)
{
    try {
        action();
    } catch (const spreadsheet::SpreadsheetError& error) {
        EXPECT_EQ(error.code(), code) << error.what();
        const std::string_view message = error.what();
        for (const std::string_view part : parts)
            EXPECT_NE(message.find(part), std::string_view::npos) << part << " missing from: " << message;
        return;
    }
    ADD_FAILURE() << "no SpreadsheetError was thrown";
}

// A copy of bytes with a few bytes changed at random or, every fifth round, cut short.
std::string DamagedCopy(const std::string& bytes, std::mt19937& random, int round);

// Opens bytes as the workbook name and reads the cells of every worksheet (up to a
// corner of maxRows by maxColumns). Returns nothing when all of it reads, else the first
// error; anything but a SpreadsheetError passes through.
std::optional<spreadsheet::SpreadsheetError> OpenAndRead(
    const std::string& bytes, const std::string& name, int32_t maxRows = 200, int32_t maxColumns = 50);

// Opens rounds damaged copies of bytes as name. Each one must read or fail with a code a
// damaged file can give (never NotFound or NotAFile) and a message naming the workbook;
// across the rounds some copies must fail, so the damage reached the readers.
void ExpectDamagedCopiesFailCleanly(const std::string& bytes, const std::string& name, int rounds, uint32_t seed);

} // namespace vellumcast::testing
