#include "spreadsheet/text/TextEncoding.h"

#include <gtest/gtest.h>

#include <vector>

namespace vellumcast::spreadsheet::text {
namespace {

TEST(TextEncoding, ChecksUtf8)
{
    struct Case {
        std::string bytes;
        bool valid;
    };
    const Case cases[] = {
        { "", true },
        { "plain ascii text, longer than eight bytes", true },
        { "\xC3\xA9", true }, // é
        { "\xE2\x82\xAC", true }, // €
        { "\xF0\x9F\x98\x80", true }, // U+1F600
        { "\xF4\x8F\xBF\xBF", true }, // U+10FFFF
        { "\xEF\xBB\xBF", true }, // byte order mark
        { "caf\xE9", false }, // Latin-1 é
        { "\xC0\xAF", false }, // overlong "/"
        { "\xE0\x80\xAF", false }, // overlong, three bytes
        { "\xED\xA0\x80", false }, // a surrogate
        { "\xF4\x90\x80\x80", false }, // past U+10FFFF
        { "\xF5\x80\x80\x80", false },
        { "\xE2\x82", false }, // cut short at the end
        { "abcdefgh\xE2\x82", false }, // cut short after a fast ASCII stretch
        { "\x80", false }, // a lone continuation byte
        { "\xC3\xA9\xC3", false },
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsValidUtf8(c.bytes), c.valid) << ::testing::PrintToString(c.bytes);
}

TEST(TextEncoding, ConvertsWindows1252)
{
    EXPECT_EQ(Windows1252ToUtf8("abc"), "abc");
    EXPECT_EQ(Windows1252ToUtf8("\xE9\xFF\xA0"), "\xC3\xA9\xC3\xBF\xC2\xA0");
    EXPECT_EQ(Windows1252ToUtf8("\x80\x8A\x9F"), "\xE2\x82\xAC\xC5\xA0\xC5\xB8"); // € Š Ÿ
    EXPECT_EQ(Windows1252ToUtf8("\x96\x97\x99"), "\xE2\x80\x93\xE2\x80\x94\xE2\x84\xA2"); // – — ™
    // The undefined bytes survive as C1 controls.
    EXPECT_EQ(Windows1252ToUtf8("\x81\x9D"), "\xC2\x81\xC2\x9D");
    // Whatever the input, the output is valid UTF-8.
    std::string all;
    for (int b = 1; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    EXPECT_TRUE(IsValidUtf8(Windows1252ToUtf8(all)));
}

// Code units written in either byte order.
std::string Utf16Of(const std::vector<uint16_t>& units, bool bigEndian)
{
    std::string bytes;
    for (const uint16_t unit : units) {
        const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? std::string { high, low } : std::string { low, high };
    }
    return bytes;
}

TEST(TextEncoding, DecodesUtf16InPiecesCutAnywhere)
{
    // "aé€", U+1F600 as a surrogate pair, "z".
    const std::vector<uint16_t> units = { 'a', 0xE9, 0x20AC, 0xD83D, 0xDE00, 'z' };
    const std::string expected = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";
    for (const bool bigEndian : { false, true }) {
        const std::string bytes = Utf16Of(units, bigEndian);
        for (size_t cut = 0; cut <= bytes.size(); ++cut) {
            for (size_t second = cut; second <= bytes.size(); ++second) {
                Utf16Decoder decoder(bigEndian);
                std::string out;
                ASSERT_TRUE(decoder.Decode(std::string_view(bytes).substr(0, cut), false, out));
                ASSERT_TRUE(decoder.Decode(std::string_view(bytes).substr(cut, second - cut), false, out));
                ASSERT_TRUE(decoder.Decode(std::string_view(bytes).substr(second), true, out));
                EXPECT_EQ(out, expected) << bigEndian << " cut at " << cut << " and " << second;
            }
        }
    }
}

TEST(TextEncoding, RefusesDamagedUtf16WhereItIs)
{
    struct Case {
        std::vector<uint16_t> units;
        bool oddByte;
        uint64_t damageAt;
    };
    const Case cases[] = {
        { { 'a', 0xDC00, 'b' }, false, 2 }, // a low surrogate alone
        { { 'a', 'b', 0xD800, 'c' }, false, 4 }, // a high surrogate followed by no low one
        { { 'a', 0xD800 }, false, 2 }, // a high surrogate at the end
        { { 'a', 'b' }, true, 4 }, // an odd byte at the end
    };
    for (const auto& c : cases) {
        std::string bytes = Utf16Of(c.units, false);
        if (c.oddByte)
            bytes += 'x';
        // Damage is found wherever the pieces are cut.
        for (size_t cut = 0; cut <= bytes.size(); ++cut) {
            Utf16Decoder decoder(false);
            std::string out;
            const bool first = decoder.Decode(std::string_view(bytes).substr(0, cut), false, out);
            const bool whole = first && decoder.Decode(std::string_view(bytes).substr(cut), true, out);
            EXPECT_FALSE(whole) << c.damageAt << " cut at " << cut;
            EXPECT_EQ(decoder.DamageAt(), c.damageAt) << " cut at " << cut;
        }
    }
}

TEST(TextEncoding, FindsTheUtf16OfAnXmlDocument)
{
    EXPECT_EQ(Utf16XmlOrder(std::string_view("\xFF\xFE<\0?\0", 6)), ByteOrderMark::Utf16LE);
    EXPECT_EQ(Utf16XmlOrder(std::string_view("\xFE\xFF\0<\0?", 6)), ByteOrderMark::Utf16BE);
    EXPECT_EQ(Utf16XmlOrder(std::string_view("<\0?\0", 4)), ByteOrderMark::Utf16LE);
    EXPECT_EQ(Utf16XmlOrder(std::string_view("\0<\0?", 4)), ByteOrderMark::Utf16BE);
    EXPECT_EQ(Utf16XmlOrder("<?xml"), ByteOrderMark::None);
    EXPECT_EQ(Utf16XmlOrder("\xEF\xBB\xBF<?xml"), ByteOrderMark::None);
    // UTF-32 is neither.
    EXPECT_EQ(Utf16XmlOrder(std::string_view("<\0\0\0", 4)), ByteOrderMark::None);
    EXPECT_EQ(Utf16XmlOrder(std::string_view("\0\0\0<", 4)), ByteOrderMark::None);
    EXPECT_EQ(Utf16XmlOrder(std::string_view("\xFF\xFE\0\0", 4)), ByteOrderMark::None);
}

} // namespace
} // namespace vellumcast::spreadsheet::text
