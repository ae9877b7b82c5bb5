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

} // namespace vellumcast::spreadsheet::xml
