#pragma once
// Text in the Windows code pages that old binary workbooks store it in, converted to UTF-8
// by the system's own tables: iconv (CodePagesPosix.cpp) or MultiByteToWideChar
// (CodePagesWindows.cpp). What to do with bytes a code page leaves undefined is the
// caller's choice; the converter only stops at them.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace vellumcast::core {

class CodePageConverter {
public:
    // Null when the system cannot convert from that code page. 1200 is UTF-16LE, 367
    // ASCII, 32768 Macintosh Roman and 32769 Windows Latin 1, as old workbooks number them.
    static std::unique_ptr<CodePageConverter> Open(uint16_t codePage);
    virtual ~CodePageConverter() = default;

    // Appends the UTF-8 of text to out up to the first bytes the code page does not
    // define, or a character cut at the end, and returns how many bytes were converted.
    virtual size_t Convert(std::span<const uint8_t> text, std::string& out) = 0;
};

#ifndef _WIN32
// The name iconv knows a code page by.
std::string IconvNameOfCodePage(uint16_t codePage);
#endif

} // namespace vellumcast::core
