#include "spreadsheet/xml/Xml.h"
#include "spreadsheet/SpreadsheetError.h"
#include "spreadsheet/container/Zip.h"
#include "support/Failures.h"
#include "support/XlsxWriter.h"

#include <gtest/gtest.h>

namespace vellumcast::spreadsheet::xml {
namespace {

constexpr std::string_view kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

// Records what the parser reports as one line per event.
class Recorder : public XmlHandler {
public:
    void StartElement(std::string_view uri, std::string_view local, const XmlAttributes& attributes) override
    {
        FlushText();
        log += "<" + std::string(uri == kMain ? "main:" : uri.empty() ? "" : "?:") + std::string(local);
        bool found = false;
        const auto r = attributes.Get("r", &found);
        if (found)
            log += " r=" + std::string(r);
        log += ">";
        if (local == stopAt && parser)
            parser->Stop();
        if (local == throwAt)
            throw std::logic_error("handler failed");
    }
    void EndElement(std::string_view, std::string_view local) override
    {
        FlushText();
        log += "</" + std::string(local) + ">";
    }
    void Characters(std::string_view piece) override { text += piece; }
    void FlushText()
    {
        if (!text.empty())
            log += "[" + text + "]";
        text.clear();
    }

    std::string log;
    std::string text;
    std::string stopAt;
    std::string throwAt;
    XmlParser* parser = nullptr;
};

std::string Parse(std::string_view document)
{
    Recorder recorder;
    ParseXml(document, recorder);
    return recorder.log;
}

ErrorCode ParseError(std::string_view document)
{
    return testing::ErrorCodeOf([&] { Parse(document); });
}

TEST(XmlParser, ReportsNamespacesWhateverThePrefix)
{
    const std::string expected = "<main:worksheet><main:c r=A1>[1 & 2]</c></worksheet>";
    EXPECT_EQ(Parse("<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
                    "<c r=\"A1\">1 &amp; 2</c></worksheet>"),
        expected);
    EXPECT_EQ(Parse("<x:worksheet xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
                    "<x:c r=\"A1\">1 &#38; <![CDATA[2]]></x:c></x:worksheet>"),
        "<main:worksheet><main:c r=A1>[1 & 2]</c></worksheet>");
    EXPECT_EQ(Parse("<a xmlns:q=\"urn:other\"><q:b/></a>"), "<a><?:b></b></a>");
}

TEST(XmlAttributes, FindsByLocalNameOrByNamespace)
{
    class Handler : public XmlHandler {
    public:
        void StartElement(std::string_view, std::string_view local, const XmlAttributes& attributes) override
        {
            if (local != "sheet")
                return;
            bool found = false;
            id = attributes.Get("http://schemas.openxmlformats.org/officeDocument/2006/relationships", "id", &found);
            idFound = found;
            name = attributes.Get("name");
            attributes.Get("missing", &found);
            missingFound = found;
            attributes.Get("urn:nowhere", "id", &found);
            wrongNamespaceFound = found;
        }
        void EndElement(std::string_view, std::string_view) override { }
        std::string id, name;
        bool idFound = false, missingFound = true, wrongNamespaceFound = true;
    } handler;
    ParseXml("<sheets xmlns:rel=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
             "<sheet name=\"Sheet &lt;1&gt;\" rel:id=\"rId7\"/></sheets>",
        handler);
    EXPECT_TRUE(handler.idFound);
    EXPECT_EQ(handler.id, "rId7");
    EXPECT_EQ(handler.name, "Sheet <1>");
    EXPECT_FALSE(handler.missingFound);
    EXPECT_FALSE(handler.wrongNamespaceFound);
}

TEST(XmlParser, RefusesDoctypesEntitiesAndMalformedText)
{
    const char* const documents[] = {
        // The classic entity expansion attack.
        "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\"><!ENTITY lol2 \"&lol;&lol;&lol;&lol;\">]>"
        "<lolz>&lol2;</lolz>",
        // An external entity.
        "<!DOCTYPE x [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><x>&e;</x>",
        // Entities unknown to a document whose definition is elsewhere (and never loaded).
        "<!DOCTYPE x SYSTEM \"x.dtd\"><x>&e;</x>",
        "<!DOCTYPE x [<!ELEMENT x ANY>]><x/>",
        // An entity nobody declared.
        "<x>&undeclared;</x>",
        "<a><b></a>",
        "<a>",
        "",
        "<a>\x01</a>",
    };
    for (const char* document : documents)
        EXPECT_EQ(ParseError(document), ErrorCode::Corrupt) << document;
}

// Old OpenOffice manifests name their definition; it is neither loaded nor refused.
TEST(XmlParser, ReadsADocumentTypeThatOnlyNamesItsDefinition)
{
    EXPECT_EQ(Parse("<!DOCTYPE x PUBLIC \"-//OpenOffice.org//DTD Manifest 1.0//EN\" \"file:///etc/passwd\"><x>a</x>"),
        "<x>[a]</x>");
    EXPECT_EQ(Parse("<!DOCTYPE html><html/>"), "<html></html>");
}

TEST(XmlParser, BoundsNesting)
{
    std::string deep;
    for (int i = 0; i < 10000; ++i)
        deep += "<a>";
    EXPECT_EQ(ParseError(deep), ErrorCode::Corrupt);
    std::string fine;
    for (int i = 0; i < 100; ++i)
        fine += "<a>";
    for (int i = 0; i < 100; ++i)
        fine += "</a>";
    EXPECT_NO_THROW(Parse(fine));
}

TEST(XmlParser, HandlerExceptionsPassThroughAndStopParsing)
{
    Recorder recorder;
    recorder.throwAt = "b";
    XmlParser parser(recorder);
    EXPECT_THROW(parser.Feed("<a><b/><c/></a>", true), std::logic_error);
    EXPECT_EQ(recorder.log, "<a><b>");
    EXPECT_NO_THROW(parser.Feed("<more/>", true)); // a finished parser ignores more input
}

TEST(XmlParser, StopEndsTheParseQuietly)
{
    Recorder recorder;
    recorder.stopAt = "b";
    XmlParser parser(recorder);
    recorder.parser = &parser;
    parser.Feed("<a><b/><c/>", false);
    EXPECT_TRUE(parser.Stopped());
    parser.Feed("this is not even XML", true);
    EXPECT_EQ(recorder.log, "<a><b>");
}

TEST(XmlParser, DocumentsMayArriveInAnyPieces)
{
    const std::string document = "<a x=\"1\"><b r=\"B2\">t&#233;xt &amp; more</b></a>";
    const std::string whole = Parse(document);
    for (size_t size = 1; size < document.size(); ++size) {
        Recorder recorder;
        XmlParser parser(recorder);
        for (size_t at = 0; at < document.size(); at += size)
            parser.Feed(std::string_view(document).substr(at, size), false);
        parser.Feed({}, true);
        EXPECT_EQ(recorder.log, whole) << size;
    }
    EXPECT_EQ(whole, "<a><b r=B2>[t\xC3\xA9xt & more]</b></a>");
}

TEST(ParseXmlMember, StreamsAMemberInChunks)
{
    std::string document = "<root>";
    for (int i = 0; i < 200000; ++i)
        document += "<row r=\"" + std::to_string(i) + "\"/>";
    document += "</root>";
    const std::string bytes = testing::ZipWriter().Add("big.xml", document, true).Finish();
    const container::ZipArchive archive({ reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size() });

    class Counter : public XmlHandler {
    public:
        void StartElement(std::string_view, std::string_view, const XmlAttributes&) override
        {
            if (++count == limit && parser)
                parser->Stop();
        }
        void EndElement(std::string_view, std::string_view) override { }
        int count = 0;
        int limit = -1;
        XmlParser* parser = nullptr;
    } counter;
    int chunks = 0;
    ParseXmlMember(archive, *archive.Find("big.xml"), counter, [&] { ++chunks; });
    EXPECT_EQ(counter.count, 200001);
    EXPECT_GT(chunks, 1);
}

} // namespace
} // namespace vellumcast::spreadsheet::xml
