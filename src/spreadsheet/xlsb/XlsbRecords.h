#pragma once
// The record layer of binary workbook parts: each record is its type (one or two bytes of
// seven bits each) and its size (one to four bytes of seven bits each), both
// variable-length numbers whose high bit says another byte follows, then that many bytes.
// Parts are inflated in pieces; a record cut by a piece's end is carried to the next.

#include "spreadsheet/SpreadsheetError.h"
#include "spreadsheet/container/ByteCursor.h"
#include "spreadsheet/container/Zip.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vellumcast::spreadsheet::xlsb {

// The record types the reader looks at.
namespace brt {
constexpr uint16_t kRowHeader = 0;
constexpr uint16_t kCellBlank = 1;
constexpr uint16_t kCellRk = 2;
constexpr uint16_t kCellError = 3;
constexpr uint16_t kCellBool = 4;
constexpr uint16_t kCellReal = 5;
constexpr uint16_t kCellSt = 6;
constexpr uint16_t kCellIsst = 7;
constexpr uint16_t kFmlaString = 8;
constexpr uint16_t kFmlaNum = 9;
constexpr uint16_t kFmlaBool = 10;
constexpr uint16_t kFmlaError = 11;
constexpr uint16_t kSstItem = 19;
constexpr uint16_t kFmt = 44;
constexpr uint16_t kXf = 47;
constexpr uint16_t kColInfo = 60;
constexpr uint16_t kCellRString = 62;
constexpr uint16_t kBeginSheetData = 145;
constexpr uint16_t kEndSheetData = 146;
constexpr uint16_t kWsDim = 148;
constexpr uint16_t kWbProp = 153;
constexpr uint16_t kBundleSh = 156;
constexpr uint16_t kBeginSst = 159;
constexpr uint16_t kMergeCell = 176;
constexpr uint16_t kBeginCellXfs = 617;
constexpr uint16_t kEndCellXfs = 618;
} // namespace brt

// Far more than any record of a real part holds (a string of 32,767 characters with its
// formatting and phonetic runs takes under 700 KiB, a list of 65,535 external sheets under
// 800 KiB); a larger size is a damaged or crafted part. A record is held whole while it is
// read, and its text once more as UTF-8 (up to one and a half times its size), so this
// bounds what one record of a few bytes compressed may claim.
constexpr uint32_t kMaxRecordSize = 4u << 20;

struct Record {
    uint16_t type = 0;
    std::span<const uint8_t> data;
};

// Splits a part's bytes, fed in pieces of any size, into whole records.
class RecordSplitter {
public:
    // part names the part in messages ("the worksheet part").
    explicit RecordSplitter(std::string part)
        : m_part(std::move(part))
    {
    }

    // Calls onRecord(const Record&) for each record the bytes so far complete, until it
    // returns false; returns false then. Throws Corrupt or TooLarge for a record header
    // that is not valid or claims more than kMaxRecordSize.
    template <typename OnRecord> bool Feed(std::span<const uint8_t> piece, OnRecord&& onRecord)
    {
        if (!m_carry.empty() && !FeedCarry(piece, onRecord))
            return false;
        const uint8_t* at = piece.data();
        const uint8_t* const end = at + piece.size();
        while (at != end) {
            // The records of cells and rows, whose type and size take a byte each, are
            // split here rather than by a call, into a record of their own that the call
            // for any other record cannot reach: it may then stay in registers. Such a
            // record takes at most 129 bytes: with that many left, it is whole.
            const ptrdiff_t left = end - at;
            if (left >= 129 ? ((at[0] | at[1]) & 0x80) == 0
                            : left >= 2 && ((at[0] | at[1]) & 0x80) == 0 && left - 2 >= at[1]) {
                const uint8_t size = at[1];
                const Record record { at[0], std::span<const uint8_t>(at + 2, size) };
                at += size_t { 2 } + size;
                if (!onRecord(record))
                    return false;
                continue;
            }
            Record record;
            const size_t length = SplitLong(std::span<const uint8_t>(at, end), record);
            if (length == 0) {
                m_carry.assign(at, end);
                return true;
            }
            at += length;
            if (!onRecord(record))
                return false;
        }
        return true;
    }

    // The part has ended: Corrupt when a record is cut short.
    void Finish() const;

private:
    // Splits the first record off bytes: its length with header, or 0 when the bytes end
    // before it does. The records of cells and rows, whose type and size take a byte each,
    // are split here rather than by a call.
    size_t Split(std::span<const uint8_t> bytes, Record& record) const
    {
        if (bytes.size() >= 2 && (bytes[0] & 0x80) == 0 && (bytes[1] & 0x80) == 0) {
            const size_t size = bytes[1];
            if (bytes.size() - 2 < size)
                return 0;
            record.type = bytes[0];
            record.data = bytes.subspan(2, size);
            return 2 + size;
        }
        return SplitLong(bytes, record);
    }
    // Split for a record whose type or size takes more than a byte.
    size_t SplitLong(std::span<const uint8_t> bytes, Record& record) const;

    // Completes the carried record from the front of piece, which loses what it gives.
    template <typename OnRecord> bool FeedCarry(std::span<const uint8_t>& piece, OnRecord& onRecord)
    {
        Record record;
        size_t length = 0;
        // A header is at most six bytes: take bytes one at a time until it is whole, then
        // the rest of the record at once.
        while ((length = Split(m_carry, record)) == 0 && !piece.empty()) {
            const size_t need = NeededAfterHeader(m_carry);
            if (need != 0) // the record's size is known: room for it at once, not by doubling
                m_carry.reserve(m_carry.size() + need);
            const size_t take = std::min(piece.size(), need == 0 ? size_t { 1 } : need);
            m_carry.insert(m_carry.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(take));
            piece = piece.subspan(take);
        }
        if (length == 0)
            return true;
        const bool more = onRecord(record);
        m_carry.clear();
        return more;
    }

    // How many bytes the carried record still lacks once its header is whole; 0 when the
    // header itself is not.
    size_t NeededAfterHeader(std::span<const uint8_t> bytes) const;

    std::string m_part;
    std::vector<uint8_t> m_carry;
};

// Streams a part's records to onRecord(const Record&) until it returns false; afterPiece
// (when set) runs after each inflated piece with the bytes read so far. The part is
// inflated on a second thread ahead of the records when inflateAhead, else on this one
// between them. Throws SpreadsheetError.
template <typename OnRecord>
void ReadRecords(const container::ZipArchive& archive, const container::ZipEntry& entry, std::string part,
    OnRecord&& onRecord, const std::function<void(uint64_t read)>& afterPiece = {}, bool inflateAhead = true)
{
    RecordSplitter splitter(std::move(part));
    uint64_t read = 0;
    bool stopped = false;
    const auto feed = [&](std::string_view piece) {
        read += piece.size();
        stopped = !splitter.Feed(
            std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(piece.data()), piece.size()), onRecord);
        if (afterPiece)
            afterPiece(read);
        return !stopped;
    };
    if (inflateAhead)
        archive.ReadAhead(entry, feed);
    else
        archive.ReadUntil(entry, feed);
    if (!stopped)
        splitter.Finish();
}

// A bounds-checked reader of a record's fields.
class RecordCursor {
public:
    explicit RecordCursor(const Record& record)
        : m_data(record.data)
    {
    }

    size_t Remaining() const { return m_data.size() - m_position; }
    uint8_t U8()
    {
        Need(1);
        return m_data[m_position++];
    }
    uint16_t U16()
    {
        Need(2);
        const uint16_t value = container::LoadU16(m_data.data() + m_position);
        m_position += 2;
        return value;
    }
    uint32_t U32()
    {
        Need(4);
        const uint32_t value = container::LoadU32(m_data.data() + m_position);
        m_position += 4;
        return value;
    }
    double F64()
    {
        Need(8);
        const double value = container::LoadF64(m_data.data() + m_position);
        m_position += 8;
        return value;
    }
    void Skip(size_t count)
    {
        Need(count);
        m_position += count;
    }
    // An XLWideString (a 32-bit count of UTF-16 units, then the units) as UTF-8;
    // unpaired surrogates become U+FFFD.
    void WideString(std::string& out);
    // An XLNullableWideString: as WideString, with the count 0xFFFFFFFF for no string.
    void NullableWideString(std::string& out);

private:
    void Need(size_t count) const
    {
        if (count > Remaining())
            Corrupt("a record is shorter than its fields");
    }

    std::span<const uint8_t> m_data;
    size_t m_position = 0;
};

} // namespace vellumcast::spreadsheet::xlsb
