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

} // namespace
} // namespace vellumcast::spreadsheet::xml
