#pragma once
// What the command line says on standard error: one line per error or warning, in the
// form "vellumcast-cli: FILE: reason", with every name escaped so that no worksheet or
// file name can move the cursor, change colours or start a line of its own.

#include "core/Ports.h"

#include <string>
#include <string_view>

namespace vellumcast::cli {

// The text with each control character written out: ESC as \e, TAB as \t, LF as \n,
// CR as \r, any other (and DEL, and the C1 controls of UTF-8) as \xHH.
std::string Escaped(std::string_view text);

// "vellumcast-cli: FILE: reason" and a line feed. description is a report's text about
// subject; a leading "Cannot open FILE: ", "Cannot write FILE: " or "Cannot write into
// FOLDER: " names the file or folder itself.
std::string ErrorLine(std::string_view subject, std::string_view description);

// "vellumcast-cli: FILE: warning: what" and a line feed; warning may start with subject.
std::string WarningLine(std::string_view subject, std::string_view warning);

// "vellumcast-cli: what" and a line feed, for what concerns no file.
std::string ProgramLine(std::string_view what);

// Collects reports about one subject (a workbook, a folder) as error lines, so that a
// workbook exported on another thread says its failures in its turn.
class LineReporter final : public core::ErrorReporter {
public:
    LineReporter(std::string& lines, std::string subject)
        : m_lines(lines)
        , m_subject(std::move(subject))
    {
    }
    void Report(const core::ErrorReport& report) override;

private:
    std::string& m_lines;
    std::string m_subject;
};

} // namespace vellumcast::cli
