#pragma once
// The number format of every cell style of a workbook, each code parsed when a cell
// first uses it.

#include "spreadsheet/SpreadsheetError.h"
#include "spreadsheet/numfmt/NumberFormat.h"

#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vellumcast::spreadsheet {

// The most memory the parsed number formats of a workbook of fileSize bytes may take:
// thousands of formats in any workbook (real ones declare tens to a few hundred), more
// with the file, since each format's code takes room in it.
inline uint64_t FormatMemoryLimit(uint64_t fileSize)
{
    return (uint64_t { 32 } << 20) + 16 * fileSize;
}

// The most cell styles a workbook may declare: four times the application's own limit of
// some 64,000 cell formats. Each costs a few bytes however little of the file it takes
// (forty million of them compress to 350 kB), so past it a workbook is refused.
constexpr size_t kMaxStyles = size_t { 1 } << 18;

class CellFormats {
public:
    CellFormats() = default;
    CellFormats(CellFormats&&) = default;
    CellFormats& operator=(CellFormats&&) = default;
    // The parsed formats are found through pointers into this object's own store.
    CellFormats(const CellFormats&) = delete;
    CellFormats& operator=(const CellFormats&) = delete;

    // Appends a style with this format code and returns its index. Styles that share a
    // code share one format; a code that cannot be read (damaged, or longer than any real
    // one) formats as General and is counted. Throws SpreadsheetError(TooLarge) past
    // kMaxStyles styles.
    uint32_t AddStyle(std::string_view code);

    // Appends a style with a built-in format id (numfmt::BuiltInFormatCode).
    uint32_t AddBuiltInStyle(int id) { return AddStyle(numfmt::BuiltInFormatCode(id)); }

    // The format of a style, parsed on first use; General for an index no style has, and
    // for a code first used once the parsed formats hold the memory limit. Not for use by
    // two threads at once.
    const numfmt::NumberFormat& ForStyle(uint32_t style) const
    {
        if (style >= m_styleFormats.size())
            return General();
        const Code& code = m_codes[m_styleFormats[style]];
        return code.parsed ? *code.parsed : Parse(code);
    }

    // The format of a style once parsed: nothing for one not parsed yet or no style has,
    // which ForStyle then settles. A lookup that costs two loads.
    const numfmt::NumberFormat* ParsedForStyle(uint32_t style) const
    {
        return style < m_styleFormats.size() ? m_codes[m_styleFormats[style]].parsed : nullptr;
    }

    size_t StyleCount() const { return m_styleFormats.size(); }

    // Every style's format, indexed by style, each code parsed now: what a load on another
    // thread formats numbers with, since from then on ForStyle changes nothing for the
    // styles there are. Empty when the codes not parsed yet would together take the parsed
    // formats past the memory limit: then none of them is parsed here, and each is parsed
    // on first use, within the limit, as before.
    std::span<const numfmt::NumberFormat* const> ParsedByStyle();

    // How many distinct codes could not be read and format as General instead.
    size_t UnreadableCodes() const { return m_unreadableCodes; }

    // The most memory the parsed formats may take together: a workbook declaring many
    // thousands of formats, one for each of as many cells, has them shown as General past
    // it rather than taking memory that no real workbook needs.
    void LimitMemory(uint64_t bytes) { m_memoryLimit = bytes; }
    // True once a format was shown as General for the limit.
    bool OverMemoryLimit() const { return m_overLimit; }

private:
    struct Code {
        std::string text;
        mutable const numfmt::NumberFormat* parsed = nullptr;
    };
    static const numfmt::NumberFormat& General();
    const numfmt::NumberFormat& Parse(const Code& code) const;

    std::vector<Code> m_codes;
    std::vector<uint32_t> m_styleFormats;
    std::unordered_map<std::string, uint32_t> m_byCode;
    std::vector<const numfmt::NumberFormat*> m_parsedByStyle; // ParsedByStyle's, once given
    size_t m_unreadableCodes = 0;
    mutable std::deque<numfmt::NumberFormat> m_parsed; // a deque: each keeps its place
    mutable uint64_t m_memoryUsed = 0;
    uint64_t m_memoryLimit = UINT64_MAX;
    mutable bool m_overLimit = false;
    bool m_tooManyToParse = false; // ParsedByStyle found the codes past the limit together
};

} // namespace vellumcast::spreadsheet
