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
// How many of the first bytes are well-formed UTF-8: the offset of the first byte that
// is not (a sequence cut short by the end counts as not), or the size.
size_t ValidUtf8Prefix(std::string_view bytes);
// True when every byte is below 0x80.
bool IsAscii(std::string_view bytes);
// Appends bytes as UTF-8, each byte that is not part of a well-formed sequence as U+FFFD.
void AppendUtf8Repaired(std::string_view bytes, std::string& out);
// Appends Windows-1252 bytes as UTF-8, as Windows1252ToUtf8 converts them.
void AppendWindows1252(std::string_view bytes, std::string& out);

// Converts Windows-1252 bytes to UTF-8. The five bytes the code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1 control characters of the same value,
// as web browsers decode them, so no byte is lost.
std::string Windows1252ToUtf8(std::string_view bytes);

enum class ByteOrderMark : uint8_t { None, Utf8, Utf16LE, Utf16BE };

// The byte-order mark the bytes begin with. FF FE 00 00 is UTF-32, not UTF-16: None.
ByteOrderMark ByteOrderMarkOf(std::string_view bytes);
// Its length in bytes (0 for None).
size_t ByteOrderMarkLength(ByteOrderMark mark);

// How text is written byte by byte: in a byte-wide encoding (UTF-8, a code page), or in
// UTF-16 or UTF-32 of either byte order.
enum class TextForm : uint8_t { Bytes, Utf16LE, Utf16BE, Utf32LE, Utf32BE };

struct TextFormFound {
    TextForm form = TextForm::Bytes;
    size_t markLength = 0; // the byte-order mark's bytes, 0 when it has none
};

// The form the first bytes of a text are written in: the byte-order mark's (UTF-32's
// FF FE 00 00 and 00 00 FE FF, UTF-16's FF FE and FE FF), or else what the content
// shows. Without a mark, UTF-32 is four-byte units that are each a character (U+0001 to
// U+10FFFF, no surrogate), and UTF-16 zero bytes at odd offsets (little-endian) or at
// even ones (big-endian), as the ASCII characters of such text put them, at the other
// parity at most a twentieth as many and never a zero unit; text with no zero byte is
// byte-wide.
TextFormFound TextFormOf(std::string_view head);

// Converts UTF-16 or UTF-32 to UTF-8 a piece at a time, joining units and surrogate
// pairs cut between pieces. Damage (an unpaired surrogate, a unit past U+10FFFF, bytes
// left over at the end) becomes U+FFFD, so damaged text still reads.
class WideTextDecoder {
public:
    explicit WideTextDecoder(TextForm form)
        : m_form(form)
    {
    }
    // Appends the characters of the next piece to out; final marks the last piece.
    void Decode(std::string_view piece, bool final, std::string& out);

private:
    uint32_t UnitAt(const uint8_t* bytes) const;
    TextForm m_form;
    std::string m_held; // bytes of an unfinished unit or surrogate pair
};

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
