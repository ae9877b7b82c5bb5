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

TEST(TextEncoding, FindsTheFirstByteThatIsNotUtf8)
{
    EXPECT_EQ(ValidUtf8Prefix("plain ascii text, longer than eight bytes"), 41u);
    EXPECT_EQ(ValidUtf8Prefix("abcdefghij\xC3\xA9k\xE9z"), 13u);
    EXPECT_EQ(ValidUtf8Prefix("abcdefgh\xE2\x82"), 8u); // cut short
    std::string repaired;
    AppendUtf8Repaired("a\xE9"
                       "b\xC3\xA9\xFF",
        repaired);
    EXPECT_EQ(repaired,
        "a\xEF\xBF\xBD"
        "b\xC3\xA9\xEF\xBF\xBD");
}

TEST(TextEncoding, TellsTheFormOfText)
{
    const struct {
        std::string head;
        TextForm form;
        size_t markLength;
    } cases[] = {
        { "plain,text\n", TextForm::Bytes, 0 },
        { "\xEF\xBB\xBFx", TextForm::Bytes, 0 },
        { std::string("\xFF\xFE"
                      "a\0",
              4),
            TextForm::Utf16LE, 2 },
        { std::string("\xFE\xFF\0a", 4), TextForm::Utf16BE, 2 },
        { std::string("\xFF\xFE\0\0a\0\0\0", 8), TextForm::Utf32LE, 4 },
        { std::string("\0\0\xFE\xFF\0\0\0a", 8), TextForm::Utf32BE, 4 },
        { std::string("a\0\t\0b\0", 6), TextForm::Utf16LE, 0 },
        { std::string("\0a\0\t\0b", 6), TextForm::Utf16BE, 0 },
        { std::string("a\0\0\0b\0\0\0", 8), TextForm::Utf32LE, 0 },
        { std::string("\0\0\0a\0\0\0b", 8), TextForm::Utf32BE, 0 },
        // An ideographic space (U+3000) among ASCII puts a zero at the other parity.
        { std::string("a\0b\0c\0d\0e\0f\0g\0h\0i\0j\0k\0l\0m\0n\0o\0p\0q\0r\0s\0t\0\0\x30", 42), TextForm::Utf16LE, 0 },
        // Zero units, or zeros at both parities alike, are no text of either form.
        { std::string("a\0\0\0b\0\0\0\0\0c\0", 12), TextForm::Bytes, 0 },
        { std::string("\0a\0b\0c\0d\xFF\0\xFE\0\xFD\0", 14), TextForm::Bytes, 0 },
        // Zeros at one parity but units that no text holds: control characters, a
        // surrogate out of its pair.
        { std::string("\0\x01\x02\x03\x04\x05\x06\x07", 8), TextForm::Bytes, 0 },
        { std::string("a\0b\0\x00\xDC"
                      "c\0",
              8),
            TextForm::Bytes, 0 },
        { std::string("a\0\x00\xD8"
                      "b\0c\0",
              8),
            TextForm::Bytes, 0 },
        { std::string("a\0\x3D\xD8\x0A\xDE"
                      "b\0",
              8),
            TextForm::Utf16LE, 0 },
    };
    for (const auto& c : cases) {
        const TextFormFound found = TextFormOf(c.head);
        EXPECT_EQ(found.form, c.form) << ::testing::PrintToString(c.head);
        EXPECT_EQ(found.markLength, c.markLength) << ::testing::PrintToString(c.head);
    }
}

// Units in either width and byte order, with a surrogate pair and damage, cut anywhere.
TEST(TextEncoding, DecodesWideTextInPiecesCutAnywhere)
{
    const std::vector<uint32_t> codes = { 'a', 0xE9, 0x20AC, 0x1F600, 'z' };
    const std::string expected = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";
    const std::string replacement = "\xEF\xBF\xBD";
    for (const TextForm form : { TextForm::Utf16LE, TextForm::Utf16BE, TextForm::Utf32LE, TextForm::Utf32BE }) {
        const bool utf16 = form == TextForm::Utf16LE || form == TextForm::Utf16BE;
        const bool bigEndian = form == TextForm::Utf16BE || form == TextForm::Utf32BE;
        std::vector<uint32_t> units;
        for (const uint32_t code : codes) {
            if (utf16 && code > 0xFFFF) {
                units.push_back(0xD800 + ((code - 0x10000) >> 10));
                units.push_back(0xDC00 + ((code - 0x10000) & 0x3FF));
            } else {
                units.push_back(code);
            }
        }
        const size_t width = utf16 ? 2 : 4;
        std::string bytes;
        for (const uint32_t u : units) {
            for (size_t i = 0; i < width; ++i)
                bytes += static_cast<char>((u >> (8 * (bigEndian ? width - 1 - i : i))) & 0xFF);
        }
        for (size_t cut = 0; cut <= bytes.size(); ++cut) {
            WideTextDecoder decoder(form);
            std::string out;
            decoder.Decode(std::string_view(bytes).substr(0, cut), false, out);
            decoder.Decode(std::string_view(bytes).substr(cut), true, out);
            EXPECT_EQ(out, expected) << static_cast<int>(form) << " cut at " << cut;
        }
        // A byte missing at the end becomes U+FFFD.
        WideTextDecoder decoder(form);
        std::string out;
        decoder.Decode(std::string_view(bytes).substr(0, bytes.size() - 1), true, out);
        EXPECT_EQ(out, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80" + replacement) << static_cast<int>(form);
    }
    // Unpaired surrogates and units past U+10FFFF become U+FFFD, the text reading on.
    std::string out;
    WideTextDecoder utf16(TextForm::Utf16LE);
    utf16.Decode(std::string("a\0\x00\xDC"
                             "b\0\x00\xD8",
                     8),
        true, out);
    EXPECT_EQ(out, "a" + replacement + "b" + replacement);
    out.clear();
    WideTextDecoder utf32(TextForm::Utf32LE);
    utf32.Decode(std::string("\0\0\x11\0a\0\0\0", 8), true, out);
    EXPECT_EQ(out, replacement + "a");
}

} // namespace
} // namespace vellumcast::spreadsheet::text
