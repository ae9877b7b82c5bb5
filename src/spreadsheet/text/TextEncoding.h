#pragma once
// Byte-level text encodings the readers meet: UTF-8 writing and checking, UTF-16 with a
// byte-order mark (the spreadsheet application's "Unicode Text"), and the Windows-1252
// code page that spreadsheet applications on Windows still write.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vellumcast::spreadsheet::text {

// Appends one code point as UTF-8.
void AppendUtf8(uint32_t code, std::string& out);

// True when the bytes are well-formed UTF-8: no overlong forms, no surrogates, nothing
// past U+10FFFF and no sequence cut short.
bool IsValidUtf8(std::string_view bytes);

// Converts Windows-1252 bytes to UTF-8. The five bytes the code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1 control characters of the same value,
// as web browsers decode them, so no byte is lost.
std::string Windows1252ToUtf8(std::string_view bytes);

enum class ByteOrderMark : uint8_t { None, Utf8, Utf16LE, Utf16BE };

// The byte-order mark the bytes begin with. FF FE 00 00 is UTF-32, not UTF-16: None.
ByteOrderMark ByteOrderMarkOf(std::string_view bytes);
// Its length in bytes (0 for None).
size_t ByteOrderMarkLength(ByteOrderMark mark);

// Converts UTF-16 (without its byte-order mark) to UTF-8. An unpaired surrogate or an odd
// last byte becomes U+FFFD, so damaged text still reads and the output is valid UTF-8.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian);

} // namespace vellumcast::spreadsheet::text
