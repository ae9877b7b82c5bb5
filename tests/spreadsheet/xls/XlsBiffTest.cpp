// The BIFF record layer on records built here: strings split across CONTINUE records
// (each continuation restarting with its own flag byte), rich-text and phonetic data
// skipped across those splits, RK numbers and 8-bit code pages.

#include "spreadsheet/SpreadsheetError.h"
#include "spreadsheet/xls/Biff.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellumcast::spreadsheet::xls {
namespace {

std::span<const uint8_t> AsBytes(const std::string& s)
{
    return { reinterpret_cast<const uint8_t*>(s.data()), s.size() };
}

// An SST record whose data and continuations are the given fragments.
struct Sst {
    std::vector<std::string> fragments;
    BiffRecord record;
    explicit Sst(std::vector<std::string> parts)
        : fragments(std::move(parts))
    {
        record.type = biff::kSst;
        record.data = AsBytes(fragments[0]);
        for (size_t i = 1; i < fragments.size(); ++i)
            record.continues.push_back(AsBytes(fragments[i]));
    }
};

std::string Counts(uint32_t total, uint32_t unique)
{
    std::string s;
    for (const uint32_t v : { total, unique })
        for (int i = 0; i < 4; ++i)
            s += static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

std::string S(const char* bytes, size_t size)
{
    return std::string(bytes, size);
}

TEST(XlsBiffTest, SharedStringsJoinCharactersSplitAcrossContinueRecords)
{
    struct Case {
        const char* what;
        std::vector<std::string> fragments;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        { "8-bit characters continued as 16-bit ones",
            { Counts(1, 1)
                    + S("\x06\x00\x00"
                        "abc",
                        6),
                S("\x01"
                  "d\0e\0f\0",
                    7) },
            { "abcdef" } },
        { "16-bit characters continued as 8-bit Latin-1 ones",
            { Counts(1, 1)
                    + S("\x03\x00\x01"
                        "\xE9\x00",
                        5),
                S("\x00"
                  "t\xE9",
                    3) },
            { "\xC3\xA9t\xC3\xA9" } },
        { "a surrogate pair cut between its halves",
            { Counts(1, 1)
                    + S("\x02\x00\x01"
                        "\x3D\xD8",
                        5),
                S("\x01"
                  "\x00\xDE",
                    3) },
            { "\xF0\x9F\x98\x80" } },
        { "a string header cut inside its character count",
            { Counts(2, 2)
                    + S("\x01\x00\x00"
                        "a"
                        "\x02",
                        5),
                S("\x00\x00"
                  "bc",
                    4) },
            { "a", "bc" } },
        { "formatting runs and phonetic data crossing into the next record",
            { Counts(2, 2)
                    + S("\x02\x00\x0C"
                        "\x02\x00"
                        "\x03\x00\x00\x00"
                        "hi"
                        "\x00\x00\x01\x00",
                        15),
                S("\x02\x00\x00\x00"
                  "xyz"
                  "\x02\x00\x00"
                  "ok",
                    12) },
            { "hi", "ok" } },
        { "a new string starting a continuation without a flag byte",
            { Counts(2, 2)
                    + S("\x01\x00\x00"
                        "a",
                        4),
                S("\x01\x00\x01"
                  "\xAC\x20",
                    5) },
            { "a", "\xE2\x82\xAC" } },
        { "an empty string and an empty continuation",
            { Counts(2, 2) + S("\x00\x00\x00", 3), std::string(),
                S("\x01\x00\x00"
                  "z",
                    4) },
            { "", "z" } },
        { "fewer strings declared than stored: all are kept",
            { Counts(2, 1)
                + S("\x01\x00\x00"
                    "a"
                    "\x01\x00\x00"
                    "b",
                    8) },
            { "a", "b" } },
        { "a count far beyond the strings stored",
            { Counts(0xFFFFFFFF, 0xFFFFFFFF)
                + S("\x01\x00\x00"
                    "a",
                    4) },
            { "a" } },
    };
    for (const Case& c : cases) {
        Sst sst(c.fragments);
        EXPECT_EQ(ReadSharedStrings(sst.record), c.expected) << c.what;
    }
}

TEST(XlsBiffTest, SharedStringsCutShortAreCorrupt)
{
    const std::vector<std::vector<std::string>> cases = {
        { Counts(1, 1)
            + S("\x05\x00\x00"
                "ab",
                5) }, // characters missing
        { Counts(1, 1)
                + S("\x03\x00\x00"
                    "ab",
                    5),
            S("\x01", 1) }, // ... after a flag byte
        { Counts(1, 1)
            + S("\x02\x00\x08"
                "\xFF\xFF"
                "ab",
                7) }, // runs beyond the record
        { Counts(1, 1)
            + S("\x02\x00\x04"
                "\xFF\xFF\xFF\x7F"
                "ab",
                9) }, // phonetic data beyond it
        { Counts(2, 2)
            + S("\x01\x00\x00"
                "a"
                "\x05",
                5) }, // a header cut at the end
    };
    for (const auto& fragments : cases) {
        Sst sst(fragments);
        EXPECT_THROW(ReadSharedStrings(sst.record), SpreadsheetError);
    }
}

TEST(XlsBiffTest, RecordReaderGathersContinueRecordsAndChecksLengths)
{
    const std::string stream = S("\xFC\x00\x02\x00"
                                 "ab"
                                 "\x3C\x00\x01\x00"
                                 "c"
                                 "\x3C\x00\x00\x00"
                                 "\x0A\x00\x00\x00",
        19);
    BiffRecordReader reader(AsBytes(stream));
    BiffRecord record;
    ASSERT_TRUE(reader.Next(record));
    EXPECT_EQ(record.type, biff::kSst);
    EXPECT_EQ(record.data.size(), 2u);
    ASSERT_EQ(record.continues.size(), 2u);
    EXPECT_EQ(record.continues[0].size(), 1u);
    ASSERT_TRUE(reader.Next(record));
    EXPECT_EQ(record.type, biff::kEof);
    EXPECT_EQ(record.offset, 15u);
    EXPECT_FALSE(reader.Next(record));

    const std::string overlong = S("\x03\x02\x10\x00"
                                   "short",
        9);
    BiffRecordReader bad(AsBytes(overlong));
    EXPECT_THROW(bad.Next(record), SpreadsheetError);
    const std::string badContinue = S("\x0A\x00\x00\x00"
                                      "\x3C\x00\x09\x00"
                                      "x",
        9);
    BiffRecordReader bad2(AsBytes(badContinue));
    EXPECT_THROW(bad2.Next(record), SpreadsheetError);
}

TEST(XlsBiffTest, RkNumbers)
{
    struct Case {
        uint32_t rk;
        double value;
    };
    const Case cases[] = {
        { (1u << 2) | 0x02, 1.0 },
        { (static_cast<uint32_t>(-5) << 2) | 0x02, -5.0 },
        { (1234u << 2) | 0x03, 12.34 },
        { 0x3FF00000, 1.0 }, // the top bits of the double 1.0
        { 0x3FF00000 | 0x01, 0.01 }, // ... divided by 100
        { 0xC0240000, -10.0 },
        { (0x1FFFFFFFu << 2) | 0x02, 536870911.0 }, // the largest 30-bit integer
        { 0x00000000, 0.0 },
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(DecodeRk(c.rk), c.value) << std::hex << c.rk;
}

TEST(XlsBiffTest, EightBitStringsFollowTheWorkbookCodePage)
{
    struct Case {
        uint16_t codePage;
        std::string bytes;
        std::string utf8;
    };
    const Case cases[] = {
        { 1252, "plain", "plain" }, { 1252, "\x80 caf\xE9", "\xE2\x82\xAC caf\xC3\xA9" },
        { 10000, "\x8A\x8E", "\xC3\xA4\xC3\xA9" }, // MacRoman ä é
        { 1251, "\xCF\xF0\xE8", "\xD0\x9F\xD1\x80\xD0\xB8" }, // Cyrillic При
        { 1200, S("A\0\xAC\x20", 4), "A\xE2\x82\xAC" }, // UTF-16LE
        { 367, "ascii", "ascii" }, { 9999, "\x80", "\xE2\x82\xAC" }, // unknown: stays Windows Latin
        { 932, "\x82\xA0", "\xE3\x81\x82" }, // Shift-JIS あ
    };
    for (const Case& c : cases) {
        CodePageDecoder decoder;
        decoder.SetCodePage(c.codePage);
        std::string out;
        decoder.Append(AsBytes(c.bytes), out);
        EXPECT_EQ(out, c.utf8) << c.codePage;
    }
#ifndef _WIN32
    EXPECT_EQ(core::IconvNameOfCodePage(1252), "CP1252");
    EXPECT_EQ(core::IconvNameOfCodePage(10000), "MACINTOSH");
    EXPECT_EQ(core::IconvNameOfCodePage(1200), "UTF-16LE");
    EXPECT_EQ(core::IconvNameOfCodePage(367), "ASCII");
#endif

    // A byte the code page leaves undefined shows as U+FFFD and the rest still converts.
    CodePageDecoder decoder;
    decoder.SetCodePage(1252);
    std::string out;
    decoder.Append(AsBytes("a\x81"
                           "b"),
        out);
    EXPECT_EQ(out,
        "a\xEF\xBF\xBD"
        "b");
}

} // namespace
} // namespace vellumcast::spreadsheet::xls

namespace vellumcast::spreadsheet::xls {
namespace {

TEST(XlsBiffTest, LargeSharedStringTablesYieldWhileRead)
{
    std::string data = Counts(10000, 10000);
    for (int i = 0; i < 10000; ++i)
        data += std::string("\x01\x00\x00", 3) + static_cast<char>('a' + i % 26);
    Sst sst({ data });
    int yields = 0;
    const auto strings = ReadSharedStrings(sst.record, [&] { ++yields; });
    ASSERT_EQ(strings.size(), 10000u);
    EXPECT_EQ(strings[27], "b");
    EXPECT_GE(yields, 2);
}

} // namespace
} // namespace vellumcast::spreadsheet::xls
