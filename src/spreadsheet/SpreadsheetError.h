#pragma once

#include <stdexcept>
#include <string>

namespace vellumcast::spreadsheet {

enum class ErrorCode {
    NotFound, // no such file, or it cannot be read
    NotAFile, // a folder or another non-regular file
    NotAWorkbook, // none of the formats the engine reads
    PasswordProtected, // encrypted workbook, no password given for it
    WrongPassword, // encrypted workbook, the password given does not open it
    Corrupt, // a recognised format whose structure is damaged
    TooLarge, // a size, count or ratio beyond the engine's limits
    Unsupported, // a recognised format or feature the engine does not read
};

// A failure of the engine. The message is a sentence a person can act on; Application
// prefixes it with the workbook's path. Callers branch on code(), never on the text.
class SpreadsheetError : public std::runtime_error {
public:
    SpreadsheetError(ErrorCode code, const std::string& message)
        : std::runtime_error(message)
        , m_code(code)
    {
    }
    ErrorCode code() const { return m_code; }

private:
    ErrorCode m_code;
};

// Throws the failure of a damaged file: message says what is wrong with it.
[[noreturn]] inline void Corrupt(const std::string& message)
{
    throw SpreadsheetError(ErrorCode::Corrupt, message);
}

} // namespace vellumcast::spreadsheet
