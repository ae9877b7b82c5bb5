#pragma once
// The record layer of BIFF5 and BIFF8 workbook streams: the record loop with CONTINUE
// records gathered onto the record they extend, a cursor that reads across those
// fragments, and the string forms (BIFF8 Unicode strings split across records, BIFF5
// 8-bit strings in the workbook's code page).

#include "core/CodePages.h"
#include "spreadsheet/SheetData.h"
#include "spreadsheet/text/TextEncoding.h"
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vellumcast::spreadsheet::xls {

namespace biff {
inline constexpr uint16_t kFormula = 0x0006;
inline constexpr uint16_t kEof = 0x000A;
inline constexpr uint16_t kDateMode = 0x0022;
inline constexpr uint16_t kFilePass = 0x002F;
inline constexpr uint16_t kContinue = 0x003C;
inline constexpr uint16_t kCodePage = 0x0042;
inline constexpr uint16_t kBoundSheet = 0x0085;
inline constexpr uint16_t kMulRk = 0x00BD;
inline constexpr uint16_t kMulBlank = 0x00BE;
inline constexpr uint16_t kRString = 0x00D6;
inline constexpr uint16_t kXf = 0x00E0;
inline constexpr uint16_t kSst = 0x00FC;
inline constexpr uint16_t kLabelSst = 0x00FD;
inline constexpr uint16_t kBlank = 0x0201;
inline constexpr uint16_t kNumber = 0x0203;
inline constexpr uint16_t kLabel = 0x0204;
inline constexpr uint16_t kBoolErr = 0x0205;
inline constexpr uint16_t kString = 0x0207;
inline constexpr uint16_t kRk = 0x027E;
inline constexpr uint16_t kFormat = 0x041E;
inline constexpr uint16_t kBof = 0x0809;
// BOF records of BIFF2, BIFF3 and BIFF4, which this reader does not read.
inline constexpr uint16_t kBofBiff2 = 0x0009;
inline constexpr uint16_t kBofBiff3 = 0x0209;
inline constexpr uint16_t kBofBiff4 = 0x0409;
} // namespace biff

// One record: its type, its own data and the data of the CONTINUE records after it.
struct BiffRecord {
    uint16_t type = 0;
    size_t offset = 0; // of the record header in the stream
    std::span<const uint8_t> data;
    std::vector<std::span<const uint8_t>> continues;
};

class BiffRecordReader {
public:
    explicit BiffRecordReader(std::span<const uint8_t> stream, size_t start = 0)
        : m_stream(stream)
        , m_position(start)
    {
    }

    // The next record, or false at the end of the stream. Throws SpreadsheetError(Corrupt)
    // when a record header or length runs past the stream's end.
    bool Next(BiffRecord& record);

private:
    std::span<const uint8_t> m_stream;
    size_t m_position;
};

// Reads a record's data and its CONTINUE fragments as one sequence, except for the
// characters of a string: when those cross into the next fragment, it starts with a
// fresh flag byte saying whether the characters that follow are 8-bit or 16-bit.
class FragmentCursor {
public:
    explicit FragmentCursor(const BiffRecord& record);

    bool AtEnd();
    uint8_t U8();
    uint16_t U16();
    uint32_t U32();
    void Skip(uint64_t count);
    // Bytes left in all fragments.
    uint64_t Remaining() const;

    // Appends count characters as UTF-8: 8-bit characters are Latin-1 code points,
    // 16-bit ones UTF-16LE.
    void ReadChars(size_t count, bool sixteenBit, std::string& out);
    // Appends count raw bytes.
    void ReadBytes(size_t count, std::string& out);

private:
    bool Advance(); // to the next non-empty fragment
    std::span<const uint8_t> m_current;
    const std::vector<std::span<const uint8_t>>* m_fragments;
    size_t m_next = 0;
    size_t m_position = 0;
};

// Reads a BIFF8 Unicode string whose character count has been read already: the flag
// byte, the optional rich-text and phonetic counts, the characters, and skips the runs
// and phonetic data.
void ReadUnicodeStringBody(FragmentCursor& cursor, size_t count, std::string& out);

// Reads the shared string table (SST with its CONTINUE records). The declared counts
// never decide an allocation larger than the record's bytes allow.
// yield, when given, runs every few thousand strings.
std::vector<std::string> ReadSharedStrings(const BiffRecord& record, const std::function<void()>& yield = {});

// Converts 8-bit text in a Windows code page (BIFF5 strings) to UTF-8 through the
// system's converter.
class CodePageDecoder {
public:
    CodePageDecoder();
    ~CodePageDecoder();
    CodePageDecoder(const CodePageDecoder&) = delete;
    CodePageDecoder& operator=(const CodePageDecoder&) = delete;

    // The CODEPAGE record's value; an unknown code page keeps the Windows Latin one.
    void SetCodePage(uint16_t codePage);
    void Append(std::span<const uint8_t> text, std::string& out);

private:
    std::unique_ptr<core::CodePageConverter> m_converter;
    uint16_t m_codePage = 1252;
};

// The value of an RK number: a 30-bit integer or the top 30 bits of a double, divided by
// 100 when the low bit says so. Inline: the readers of both generations decode one for
// most numeric cells.
inline double DecodeRk(uint32_t rk)
{
    double value;
    if (rk & 0x02) {
        value = static_cast<double>(static_cast<int32_t>(rk) >> 2);
    } else {
        const uint64_t bits = static_cast<uint64_t>(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&value, &bits, sizeof value);
    }
    return (rk & 0x01) ? value / 100 : value;
}

} // namespace vellumcast::spreadsheet::xls
