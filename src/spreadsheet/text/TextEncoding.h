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

// The UTF-16 byte order an XML document is written in: its byte-order mark's, or, with
// none, that of its first character '<' written as one UTF-16 code unit (XML 1.0,
// appendix F). None for a document in any other encoding.
ByteOrderMark Utf16XmlOrder(std::string_view head);

// Converts UTF-16 to UTF-8 a piece at a time, joining a surrogate pair cut between two
// pieces. Unlike Utf16ToUtf8 it refuses damage (an unpaired surrogate, an odd last byte)
// instead of replacing it, for documents whose damaged text must not be read as text.
class Utf16Decoder {
public:
    explicit Utf16Decoder(bool bigEndian)
        : m_bigEndian(bigEndian)
    {
    }

    // Appends the characters of the next piece to out; final marks the last piece.
    // Returns false at damage, with DamageAt() the offset of the damaged code unit
    // counted from the first byte decoded; the decoder is then done.
    bool Decode(std::string_view piece, bool final, std::string& out);
    uint64_t DamageAt() const { return m_damageAt; }

private:
    bool m_bigEndian;
    uint8_t m_held[3] = {}; // the bytes of an unfinished unit or surrogate pair
    uint8_t m_heldCount = 0;
    uint64_t m_consumed = 0; // the bytes before m_held
    uint64_t m_damageAt = 0;
};

} // namespace vellumcast::spreadsheet::text
