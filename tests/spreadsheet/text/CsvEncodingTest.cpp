#include "spreadsheet/text/TextEncoding.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace vellumcast::spreadsheet::text
