#pragma once
// How an encrypted workbook is unlocked: first with the application's default password,
// which it uses for workbooks that are only "read-only recommended" or whose structure is
// protected, so that those open without a word as they do in the application; then with
// the password the person gives, asked for only then.

#include "spreadsheet/SpreadsheetError.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellumcast::spreadsheet::encryption {

// Gives the password (UTF-8) of a workbook the default password does not open, or nothing
// when there is none to give. Asked at most once per opening.
using PasswordSource = std::function<std::optional<std::string>()>;

inline constexpr std::string_view kDefaultPassword = "VelvetSweatshop";

// The password as UTF-16LE bytes, as the hashing schemes take it; bytes that are no UTF-8
// count as Latin-1 characters.
std::vector<uint8_t> Utf16Password(std::string_view utf8);

// Overwrites a password's characters before its memory is let go.
void Wipe(std::string& password);

// Unlocks with the default password, else with the one the source gives: open(password)
// returns what the password opens, or nothing when it is not the workbook's. Throws
// SpreadsheetError: PasswordProtected when no password is given, WrongPassword when the
// one given does not open it. No message carries the password.
template <typename Open>
auto Unlock(const PasswordSource& source, Open&& open) -> typename decltype(open(std::string()))::value_type
{
    if (auto opened = open(std::string(kDefaultPassword)))
        return std::move(*opened);
    std::optional<std::string> given = source ? source() : std::nullopt;
    if (!given)
        throw SpreadsheetError(ErrorCode::PasswordProtected, "the workbook is password-protected");
    auto opened = open(*given);
    Wipe(*given);
    if (!opened)
        throw SpreadsheetError(ErrorCode::WrongPassword, "the password given does not open it");
    return std::move(*opened);
}

} // namespace vellumcast::spreadsheet::encryption
