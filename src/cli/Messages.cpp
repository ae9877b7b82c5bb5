#include "cli/Messages.h"

namespace vellumcast::cli {

namespace {

constexpr std::string_view kProgramPrefix = "vellumcast-cli: ";

void AddHex(std::string& text, unsigned char byte)
{
    constexpr char kDigits[] = "0123456789ABCDEF";
    text += "\\x";
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
}

// Splits "FILE: reason" at the last ": ", where a system error follows the file.
bool SplitAtLastColon(std::string_view text, std::string_view& file, std::string_view& reason)
{
    const size_t colon = text.rfind(": ");
    if (colon == std::string_view::npos || colon == 0)
        return false;
    file = text.substr(0, colon);
    reason = text.substr(colon + 2);
    return true;
}

} // namespace

std::string Escaped(std::string_view text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const bool c1 = byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80
            && static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (c1) {
            AddHex(escaped, byte);
            AddHex(escaped, static_cast<unsigned char>(text[++i]));
        } else if (byte == 0x1B) {
            escaped += "\\e";
        } else if (byte == '\t') {
            escaped += "\\t";
        } else if (byte == '\n') {
            escaped += "\\n";
        } else if (byte == '\r') {
            escaped += "\\r";
        } else if (byte < 0x20 || byte == 0x7F) {
            AddHex(escaped, byte);
        } else {
            escaped += text[i];
        }
    }
    return escaped;
}

std::string ErrorLine(std::string_view subject, std::string_view description)
{
    std::string_view file = subject;
    std::string_view reason = description;
    const std::string openPrefix = "Cannot open " + std::string(subject) + ": ";
    const std::string subjectPrefix = std::string(subject) + ": ";
    constexpr std::string_view kWritePrefix = "Cannot write ";
    constexpr std::string_view kIntoPrefix = "into ";
    if (description.starts_with(openPrefix)) {
        reason = description.substr(openPrefix.size());
    } else if (description.starts_with(kWritePrefix)) {
        std::string_view written = description.substr(kWritePrefix.size());
        if (written.starts_with(kIntoPrefix)) // "Cannot write into FOLDER: reason"
            written.remove_prefix(kIntoPrefix.size());
        if (!SplitAtLastColon(written, file, reason))
            file = subject;
    } else if (description.starts_with(subjectPrefix)) {
        reason = description.substr(subjectPrefix.size());
    }
    std::string line(kProgramPrefix);
    line += Escaped(file);
    line += ": ";
    line += Escaped(reason);
    line += '\n';
    return line;
}

std::string WarningLine(std::string_view subject, std::string_view warning)
{
    const std::string subjectPrefix = std::string(subject) + ": ";
    if (warning.starts_with(subjectPrefix))
        warning.remove_prefix(subjectPrefix.size());
    return std::string(kProgramPrefix) + Escaped(subject) + ": warning: " + Escaped(warning) + "\n";
}

std::string ProgramLine(std::string_view what)
{
    return std::string(kProgramPrefix) + Escaped(what) + "\n";
}

void LineReporter::Report(const core::ErrorReport& report)
{
    // A folder scan names the folder and the file it was at.
    const std::string subject
        = report.hasScanContext && !report.scanFolder.empty() ? report.scanFolder + report.scanFile : m_subject;
    m_lines += ErrorLine(subject, report.description);
}

} // namespace vellumcast::cli
