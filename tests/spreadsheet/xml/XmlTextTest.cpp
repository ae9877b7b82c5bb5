#include "spreadsheet/xml/XmlText.h"
#include "spreadsheet/SpreadsheetError.h"

#include <gtest/gtest.h>

namespace vellumcast::spreadsheet::xml {
namespace {

TEST(IsUtf8Document, OnlyUtf8DocumentsGoToTheScanner)
{
    EXPECT_TRUE(IsUtf8Document("<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>"));
    EXPECT_TRUE(IsUtf8Document("<?xml version='1.0' encoding='utf8'?><a/>"));
    EXPECT_TRUE(IsUtf8Document("<?xml version=\"1.0\"?><a/>"));
    EXPECT_TRUE(IsUtf8Document("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><a/>"));
    EXPECT_TRUE(IsUtf8Document("<a/>"));
    // Expat converts or checks every other encoding, ASCII included.
    EXPECT_FALSE(IsUtf8Document("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a/>"));
    EXPECT_FALSE(IsUtf8Document("<?xml version=\"1.0\" encoding=\"us-ascii\"?><a/>"));
    EXPECT_FALSE(IsUtf8Document(std::string("\xFF\xFE<\0a\0", 6)));
    EXPECT_FALSE(IsUtf8Document(std::string("\0<\0a", 4)));
    // A declaration the scanner cannot read is left to Expat to refuse.
    EXPECT_FALSE(IsUtf8Document("<?xml version=\"1.0\" encoding=UTF-8?><a/>"));
    EXPECT_FALSE(IsUtf8Document("<?xml version=\"1.0\" encoding=\"UTF-8?><a/>"));
}

std::string Decoded(std::string_view text, bool attribute)
{
    std::string out = ">";
    AppendDecoded(text, attribute, out);
    return out.substr(1);
}

TEST(AppendDecoded, ReplacesReferencesAndNormalisesAsAnXmlParserMust)
{
    EXPECT_EQ(Decoded("a &lt;&gt;&amp;&quot;&apos; b", false), "a <>&\"' b");
    EXPECT_EQ(Decoded("&#233;&#xE9;&#x20AC;&#x1F600;", false), "\xC3\xA9\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(Decoded("one\r\ntwo\rthree\n", false), "one\ntwo\nthree\n");
    // In a value, literal white space reads as spaces, but referenced characters stay.
    EXPECT_EQ(Decoded("a\tb\r\nc\nd&#10;e&#9;", true), "a b c d\ne\t");
    EXPECT_EQ(Decoded("", false), "");
}

TEST(AppendDecoded, RefusesReferencesXmlDoesNotAllow)
{
    for (const char* text :
        { "&e;", "&amp", "&#;", "&#x;", "&#0;", "&#xD800;", "&#xFFFE;", "&#x110000;", "&#12a;", "&#xG;", "&;" }) {
        try {
            Decoded(text, false);
            ADD_FAILURE() << "accepted " << text;
        } catch (const SpreadsheetError& error) {
            EXPECT_EQ(error.code(), ErrorCode::Corrupt) << text;
        }
    }
}

// Each byte, alone and at every place of a run long enough for the check's four-byte
// steps and its tail, is judged as XML judges it in text, attribute values and raw
// character data (comments, CDATA).
TEST(CheckText, JudgesEveryByteWhereverItStands)
{
    const auto expected = [](unsigned char c, bool attribute, bool raw) -> unsigned {
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || (c == '<' && !raw))
            return kBad;
        if (c >= 0x80)
            return kNonAscii;
        if (c == '\r' || (c == '&' && !raw) || (attribute && (c == '\t' || c == '\n')))
            return kDecode;
        return kPlain;
    };
    for (const auto& [attribute, raw] : { std::pair { false, false }, { true, false }, { false, true } }) {
        for (int c = 0; c < 256; ++c) {
            const unsigned want = expected(static_cast<unsigned char>(c), attribute, raw);
            for (size_t place = 0; place < 9; ++place) {
                std::string text(9, 'a');
                text[place] = static_cast<char>(c);
                EXPECT_EQ(CheckText(text.data(), text.data() + text.size(), attribute, raw), want)
                    << "byte " << c << " at " << place
                    << (attribute    ? " in a value"
                               : raw ? " raw"
                                     : "");
            }
            const std::string alone(1, static_cast<char>(c));
            EXPECT_EQ(CheckText(alone.data(), alone.data() + 1, attribute, raw), want) << "byte " << c;
        }
    }
    // Kinds gather: a value with both a reference and a non-ASCII character needs both.
    const std::string mixed = "caf\xC3\xA9 &amp; co";
    EXPECT_EQ(CheckText(mixed.data(), mixed.data() + mixed.size(), true), kDecode | kNonAscii);
    EXPECT_EQ(CheckText(mixed.data(), mixed.data(), false), kPlain);
}

} // namespace
} // namespace vellumcast::spreadsheet::xml
