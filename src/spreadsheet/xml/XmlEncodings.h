#pragma once
// The single-byte encodings XML documents declare beyond those Expat reads itself
// (UTF-8, UTF-16, ISO-8859-1, US-ASCII): windows-1251 and the other Windows, ISO 8859,
// KOI8 and DOS code pages, as the spreadsheet application writes them. Each byte's
// character comes from the system's code page tables.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vellumcast::spreadsheet::xml {

// The Windows code page an encoding name stands for ("windows-1251", "cp1251",
// "iso-8859-5", "koi8-r", "ibm866", …, any case), or none.
std::optional<uint16_t> CodePageOfEncoding(std::string_view name);

// Each byte's Unicode character in the code page, -1 where it defines none; none when
// the code page is unknown to the system or not a single-byte code page that keeps ASCII.
std::optional<std::array<int, 256>> SingleByteTable(uint16_t codePage);

} // namespace vellumcast::spreadsheet::xml
