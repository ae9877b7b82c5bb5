#pragma once
// What every XML reader of the engine shares: its limits, the one decoder of character
// and entity references, and the one check that decides which documents the fast scanner
// reads and which go to Expat.

#include <cstddef>
#include <string>
#include <string_view>

namespace vellumcast::spreadsheet::xml {

// Elements may nest this deep.
inline constexpr int kMaxDepth = 256;
// A token longer than this (a tag, a text run, a comment) is refused: it bounds both the
// carried-over buffer and the rescanning of an unfinished token as chunks arrive.
inline constexpr size_t kMaxToken = size_t { 16 } << 20;

// True when [p, end) is well-formed UTF-8 holding only characters XML allows (no
// overlong forms, surrogates, code points past U+10FFFF, nor U+FFFE and U+FFFF).
bool IsValidUtf8(const unsigned char* p, const unsigned char* end);

enum TextCheck : unsigned { kPlain = 0, kDecode = 1, kNonAscii = 2, kBad = 4 };

// What a run of character data needs (TextCheck bits): reference decoding or line-end
// normalisation, a UTF-8 check, or refusal (a control character XML does not allow,
// "<" in a value). In raw character data (comments, CDATA) "&" and "<" are plain.
unsigned CheckText(const char* begin, const char* end, bool attribute, bool raw = false);

// XML names: ASCII checked exactly; bytes from 0x80 are taken as the non-ASCII name
// characters XML allows, once their UTF-8 form is checked.
bool IsNameStart(unsigned char c);
bool IsNameChar(unsigned char c);
bool IsName(std::string_view name);

// Throws SpreadsheetError(Corrupt) saying the XML is malformed, and why.
[[noreturn]] void Malformed(const std::string& why);

// Replaces the predefined entities and character references by the characters they stand
// for and normalises line ends (and, in attribute values, white space) as an XML parser
// must, in place. Returns the new end, or nullptr for a reference that is not allowed.
// The decoded form is never longer than the text.
char* DecodeInPlace(char* begin, char* end, bool attribute);

// As DecodeInPlace, appending the decoded text to out; throws Malformed on a bad reference.
void AppendDecoded(std::string_view text, bool attribute, std::string& out);

// True when the document's first bytes (a kilobyte is plenty) declare or imply UTF-8:
// no byte-order mark or zero bytes of UTF-16, and no declared encoding but UTF-8. Such
// documents are read by the scanner, all others by Expat, which converts them.
bool IsUtf8Document(std::string_view head);

// The one choice of reader for a document, made once on the first piece of it at hand:
// the scanner when that piece shows UTF-8 as IsUtf8Document judges, Expat otherwise.
// The whole piece is looked at, so that a declaration padded past a kilobyte is read.
bool ScannerReads(std::string_view firstPiece);

} // namespace vellumcast::spreadsheet::xml
