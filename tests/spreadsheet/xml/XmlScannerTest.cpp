#include "spreadsheet/xml/XmlScanner.h"
#include "spreadsheet/SpreadsheetError.h"
#include "spreadsheet/container/Zip.h"
#include "support/Failures.h"
#include "support/XlsxWriter.h"
#include "support/XmlEventLog.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vellumcast::spreadsheet::xml {
namespace {

using Recorder = testing::XmlEventLog;

std::string WithExpat(std::string_view document)
{
    Recorder recorder;
    ParseXml(document, recorder);
    recorder.Flush();
    return recorder.log;
}

std::string WithScanner(std::string_view document, size_t pieceSize)
{
    Recorder recorder;
    XmlScanner scanner(recorder);
    for (size_t at = 0; at < document.size(); at += pieceSize)
        scanner.Feed(document.substr(at, pieceSize), false);
    scanner.Feed({}, true);
    recorder.Flush();
    return recorder.log;
}

const char* const kDocuments[] = {
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
    "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
    "xmlns:x14ac=\"urn:x14ac\"><sheetData><row r=\"1\" x14ac:dyDescent=\"0.25\">"
    "<c r=\"A1\" s=\"3\" t=\"s\"><v>12</v></c><c r='B1' t = \"inlineStr\" ><is><t xml:space=\"preserve\"> a &amp; b "
    "&lt;&gt;&quot;&apos; &#233;&#x20AC; </t></is></c></row></sheetData></worksheet>",
    "\xEF\xBB\xBF<x:worksheet xmlns:x=\"urn:main\"><x:sheetData><x:row><x:c><x:v>1</x:v></x:c></x:row>"
    "</x:sheetData></x:worksheet>",
    "<a><!-- a comment with <tags> --><b><![CDATA[<raw> & ]]></b><?pi data?><c/></a>",
    "<a v=\"line&#10;break\" w=\"tab\there\r\nnext\">text\r\nwith\rreturns</a>",
    "<a>\n  <b>  </b>\n</a>\n",
    // A prefix bound again inside an element, and back to its first meaning after it.
    "<p:a xmlns:p=\"urn:one\" p:x=\"1\"><p:b xmlns:p=\"urn:two\" p:y=\"2\"><p:c p:z=\"3\"/></p:b>"
    "<p:d p:w=\"4\" xml:space=\"preserve\"/></p:a>",
    "<a xmlns=\"urn:default\"><b xmlns=\"\" c=\"1\"/><d/></a>",
};

TEST(XmlScanner, ReportsWhatExpatReports)
{
    for (const char* document : kDocuments) {
        const std::string expected = WithExpat(document);
        for (const size_t piece : { size_t(1), size_t(2), size_t(3), size_t(7), size_t(64), size_t(100000) })
            EXPECT_EQ(WithScanner(document, piece), expected) << document << " in pieces of " << piece;
    }
}

TEST(XmlScanner, RefusesWhatIsNoWellFormedXml)
{
    const char* const documents[] = {
        "<!DOCTYPE x [<!ENTITY e \"boom\">]><x>&e;</x>",
        "<x>&undeclared;</x>",
        "<x>&#0;</x>",
        "<x>&#xD800;</x>",
        "<x>&amp</x>",
        "<a><b></a></b>",
        "<a>",
        "<a></a><b/>",
        "text<a/>",
        "<a/>text",
        "",
        "<a x=1/>",
        "<a x/>",
        "<a x=\"<\"/>",
        "<a><b",
        "<a></a",
        "<a><!-- unfinished",
        "<p:a/>",
        "</a>",
        "<a><p:b xmlns:p=\"urn:p\"/><p:c/></a>", // the binding ended with b
        "<a q:x=\"1\"/>",
        "<a xml:8pace=\"x\"/>",
        "<a xmlns:=\"urn:p\"/>",
        "<a xmlns:2p=\"urn:p\"/>",
        "<p:a xmlns:p=\"urn:p\"><p:b xmlns:p=\"\"/></p:a>",
        "<a><?p:i data?></a>",
        "<a><?pi da\xC3ta?></a>",
        "<a>x]]>y</a>",
        "<?xmL version=\"1.0\"?><a/>", // targets spelt xml are the declaration's alone
        "<a><?XML x?></a>",
    };
    for (const char* document : documents) {
        for (const size_t piece : { size_t(1), size_t(5), size_t(1000) })
            EXPECT_EQ(testing::ErrorCodeOf([&] { WithScanner(document, piece); }), ErrorCode::Corrupt) << document;
    }
}

TEST(XmlScanner, BoundsNestingAndTokenLength)
{
    std::string deep;
    for (int i = 0; i < 300; ++i)
        deep += "<a>";
    EXPECT_THROW(WithScanner(deep, 1000), SpreadsheetError);

    Recorder recorder;
    XmlScanner scanner(recorder);
    scanner.Feed("<a>", false);
    const std::string run(1u << 20, 'x'); // a text that never ends
    EXPECT_THROW(
        {
            for (int i = 0; i < 20; ++i)
                scanner.Feed(run, false);
        },
        SpreadsheetError);
}

TEST(XmlScanner, HandlerExceptionsPassThrough)
{
    class Thrower : public XmlHandler {
    public:
        void StartElement(std::string_view, std::string_view local, const XmlAttributes&) override
        {
            if (local == "boom")
                throw std::logic_error("handler failed");
        }
        void EndElement(std::string_view, std::string_view) override { }
    } handler;
    XmlScanner scanner(handler);
    EXPECT_THROW(scanner.Feed("<a><boom/></a>", true), std::logic_error);
}

// Records events, asking to pass over the content of every element named "skip".
class Skipper : public Recorder {
public:
    void StartElement(std::string_view uri, std::string_view local, const XmlAttributes& attributes) override
    {
        Recorder::StartElement(uri, local, attributes);
        if (local == "skip")
            scanner->SkipContent();
    }
    XmlScanner* scanner = nullptr;
};

std::string Skipping(std::string_view document, size_t pieceSize)
{
    Skipper skipper;
    XmlScanner scanner(skipper);
    skipper.scanner = &scanner;
    for (size_t at = 0; at < document.size(); at += pieceSize)
        scanner.Feed(document.substr(at, pieceSize), at + pieceSize >= document.size());
    skipper.Flush();
    return skipper.log;
}

TEST(XmlScanner, PassesOverSkippedContentToItsOwnEndTagWhereverCut)
{
    // Elements of the same name inside, one closing itself and one holding a quoted '>';
    // the name in comments, CDATA and instructions; a longer name beginning with it.
    const std::string content = "text<skip a=\"x>y\" b='\"'><skip\n/><inner/><skip></skip ></skip>"
                                "<!-- </skip> --><![CDATA[</skip>]]><?pi </skip>?><skipper>&undeclared;</skipper>";
    const std::string document = "<a><skip k=\"1\">" + content + "</skip><b>after</b><skip/><c/></a>";
    // A skip asked for on an empty element holds for nothing after it.
    const std::string expected = "<{}a><{}skip k=[1]></{}skip><{}b>'after'</{}b><{}skip></{}skip><{}c></{}c></{}a>";
    for (size_t piece = 1; piece <= document.size(); ++piece)
        EXPECT_EQ(Skipping(document, piece), expected) << "in pieces of " << piece;
}

TEST(XmlScanner, SkippedContentMustStillEnd)
{
    const char* const documents[] = {
        "<a><skip><b>",
        "<a><skip></skipx></a>",
        "<a><skip><!-- </skip> </a>",
        "<a><skip><!DOCTYPE x></skip></a>",
    };
    for (const char* document : documents) {
        for (const size_t piece : { size_t(1), size_t(4), size_t(1000) })
            EXPECT_EQ(testing::ErrorCodeOf([&] { Skipping(document, piece); }), ErrorCode::Corrupt) << document;
    }
}

TEST(ScanXmlMember, OtherEncodingsGoThroughExpat)
{
    // ISO-8859-1: the byte E9 is "é".
    const std::string latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>caf\xE9</a>";
    const std::string bytes = testing::ZipWriter().Add("s.xml", latin1).Add("u.xml", "<a>caf\xC3\xA9</a>").Finish();
    const container::ZipArchive archive({ reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size() });
    for (const char* name : { "s.xml", "u.xml" }) {
        Recorder recorder;
        ScanXmlMember(archive, *archive.Find(name), recorder, {});
        recorder.Flush();
        EXPECT_EQ(recorder.log, "<{}a>'caf\xC3\xA9'</{}a>") << name;
    }
}

} // namespace
} // namespace vellumcast::spreadsheet::xml

#include <random>

namespace vellumcast::spreadsheet::xml {
namespace {

// Mutated documents: whatever Expat accepts, the scanner reports alike, and whatever
// Expat refuses, the scanner refuses too.
TEST(XmlScanner, AgreesWithExpatOnMutatedDocuments)
{
    const std::string alphabet = "<>/&;#x\"'=!?-[]: \r\nabcrtv0123456789\xC3\xA9";
    std::mt19937 random(99);
    int agreedAccepting = 0;
    for (int round = 0; round < 3000; ++round) {
        const std::string original = kDocuments[random() % std::size(kDocuments)];
        std::string document = original;
        const int edits = 1 + static_cast<int>(random() % 3);
        for (int e = 0; e < edits; ++e) {
            const size_t at = random() % document.size();
            const char c = alphabet[random() % alphabet.size()];
            switch (random() % 3) {
            case 0:
                document[at] = c;
                break;
            case 1:
                document.insert(document.begin() + static_cast<std::ptrdiff_t>(at), c);
                break;
            default:
                document.erase(at, 1 + random() % 4);
                break;
            }
        }
        std::string expat, scanner;
        bool expatOk = true, scannerOk = true;
        try {
            expat = WithExpat(document);
        } catch (const SpreadsheetError&) {
            expatOk = false;
        }
        try {
            scanner = WithScanner(document, 1 + random() % 40);
        } catch (const SpreadsheetError&) {
            scannerOk = false;
        }
        if (expatOk && scannerOk) {
            ++agreedAccepting;
            EXPECT_EQ(scanner, expat) << document;
        } else if (scannerOk && original.rfind("<?xml", 0) == 0
            && document.substr(0, original.find("?>") + 2) != original.substr(0, original.find("?>") + 2)) {
            // The scanner does not check the XML declaration's content (see XmlScanner.h).
        } else if (expatOk != scannerOk) {
            ADD_FAILURE() << (expatOk ? "only Expat" : "only the scanner") << " accepts: " << document;
        }
    }
    EXPECT_GT(agreedAccepting, 100);
}

} // namespace
} // namespace vellumcast::spreadsheet::xml
