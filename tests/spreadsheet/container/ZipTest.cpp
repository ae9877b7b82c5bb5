#include "spreadsheet/container/Zip.h"
#include "spreadsheet/SpreadsheetError.h"
#include "support/Failures.h"
#include "support/TempDir.h"
#include "support/XlsxWriter.h"

#include <gtest/gtest.h>

#include <random>

#include <unistd.h>

namespace vellumcast::spreadsheet::container {
namespace {

using testing::ZipMember;
using testing::ZipWriter;

std::span<const uint8_t> AsBytes(const std::string& bytes)
{
    return { reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size() };
}

// Text that compresses like worksheet XML but is not a single repeated byte.
std::string SampleText(size_t size)
{
    std::string text;
    std::mt19937 random(7);
    while (text.size() < size)
        text += "<c r=\"A" + std::to_string(random() % 100000) + "\"><v>" + std::to_string(random()) + "</v></c>";
    text.resize(size);
    return text;
}

ErrorCode ReadError(const std::string& archiveBytes, const std::string& member)
{
    return testing::ErrorCodeOf([&] {
        ZipArchive archive(AsBytes(archiveBytes));
        const ZipEntry* entry = archive.Find(member);
        if (!entry)
            throw std::runtime_error("member missing");
        archive.ReadAll(*entry);
    });
}

TEST(ZipArchive, ReadsStoredAndDeflatedMembers)
{
    const std::string big = SampleText(3u << 20); // several output chunks
    const std::string bytes = ZipWriter()
                                  .Add("stored.txt", "plain text")
                                  .Add("xl/worksheets/sheet1.xml", big, true)
                                  .Add("empty.xml", "", true)
                                  .Finish();
    ZipArchive archive(AsBytes(bytes));
    ASSERT_EQ(archive.Entries().size(), 3u);
    EXPECT_EQ(archive.ReadAll(*archive.Find("stored.txt")), "plain text");
    EXPECT_EQ(archive.ReadAll(*archive.Find("empty.xml")), "");

    size_t chunks = 0;
    std::string joined;
    archive.Read(*archive.Find("xl/worksheets/sheet1.xml"), [&](std::string_view chunk) {
        ++chunks;
        EXPECT_LE(chunk.size(), 1u << 20);
        joined.append(chunk);
    });
    EXPECT_GT(chunks, 1u);
    EXPECT_EQ(joined, big);
}

TEST(ZipArchive, ReadsMembersFromAFilePieceByPiece)
{
    // Random bytes do not compress, so the deflated member spans several pieces of the
    // file's reads as the stored one does; both come out whole, on either thread, and a
    // file shortened after the directory was read fails as damaged.
    std::string noise(5u << 19, '\0');
    std::mt19937 random(11);
    for (char& c : noise)
        c = static_cast<char>(random());
    testing::TempDir dir;
    const std::string path = dir.Write("pieces.zip",
        ZipWriter().Add("deflated.bin", noise, true).Add("stored.bin", noise).Add("small.txt", "small", true).Finish());
    const ZipArchive archive(FileBytes::OpenFile(path));
    for (const char* name : { "deflated.bin", "stored.bin" }) {
        EXPECT_EQ(archive.ReadAll(*archive.Find(name)), noise) << name;
        std::string ahead;
        archive.ReadAhead(*archive.Find(name), [&](std::string_view chunk) {
            ahead.append(chunk);
            return true;
        });
        EXPECT_TRUE(ahead == noise) << name;
    }
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(archive.Find("stored.bin")->localHeaderOffset + 100)), 0);
    EXPECT_EQ(archive.ReadAll(*archive.Find("deflated.bin")), noise);
    testing::ExpectFailure(
        [&] { archive.ReadAll(*archive.Find("stored.bin")); }, ErrorCode::Corrupt, { "shrank", "while it was read" });
}

// Large members read ahead are inflated on a second thread, small ones and those read
// until a stop on the caller's; all give the same chunks, stops and errors.
TEST(ZipArchive, ReadsAheadWithTheSameBytesAndErrorsWhateverTheSize)
{
    using Sink = std::function<bool(std::string_view)>;
    for (const bool ahead : { true, false })
        for (const size_t size : { size_t { 600 } << 10, size_t { 5 } << 20 }) {
            SCOPED_TRACE(std::string(ahead ? "ahead, " : "until a stop, ") + std::to_string(size));
            const std::string big = SampleText(size); // more than one chunk
            ZipMember damaged;
            damaged.name = "damaged.xml";
            damaged.data = big;
            damaged.deflate = true;
            damaged.crcOverride = 0x12345678;
            const std::string bytes = ZipWriter().Add("sheet.xml", big, true).Add(damaged).Finish();
            ZipArchive archive(AsBytes(bytes));
            const auto read = [&](const char* name, const Sink& sink) {
                if (ahead)
                    archive.ReadAhead(*archive.Find(name), sink);
                else
                    archive.ReadUntil(*archive.Find(name), sink);
            };

            std::string joined;
            read("sheet.xml", [&](std::string_view chunk) {
                joined.append(chunk);
                return true;
            });
            EXPECT_EQ(joined, big);

            // A consumer that has seen enough stops the inflater and is not called again.
            size_t calls = 0;
            read("sheet.xml", [&](std::string_view) { return ++calls < 2; });
            EXPECT_EQ(calls, 2u);

            // A CRC failure comes after every chunk, as with Read.
            joined.clear();
            EXPECT_THROW(read("damaged.xml",
                             [&](std::string_view chunk) {
                                 joined.append(chunk);
                                 return true;
                             }),
                SpreadsheetError);
            EXPECT_EQ(joined, big);

            // An exception from the consumer leaves the inflater stopped and joined.
            EXPECT_THROW(read("sheet.xml", [](std::string_view) -> bool { throw std::runtime_error("consumer"); }),
                std::runtime_error);
        }
}

TEST(ZipArchive, FindIgnoresCaseAndLeadingSlashButPrefersExactName)
{
    const std::string bytes = ZipWriter().Add("XL/Workbook.xml", "upper").Add("xl/workbook.xml", "lower").Finish();
    ZipArchive archive(AsBytes(bytes));
    EXPECT_EQ(archive.ReadAll(*archive.Find("xl/workbook.xml")), "lower");
    EXPECT_EQ(archive.ReadAll(*archive.Find("XL/Workbook.xml")), "upper");
    ASSERT_NE(archive.Find("/xl/WORKBOOK.xml"), nullptr);
    EXPECT_EQ(archive.Find("xl/missing.xml"), nullptr);
}

TEST(ZipArchive, ReadsZip64Directories)
{
    const std::string text = SampleText(70000);
    const std::string bytes = ZipWriter().Zip64().Add("a.xml", "first").Add("b.xml", text, true).Finish();
    ZipArchive archive(AsBytes(bytes));
    ASSERT_EQ(archive.Entries().size(), 2u);
    EXPECT_EQ(archive.Entries()[1].uncompressedSize, text.size());
    EXPECT_EQ(archive.ReadAll(*archive.Find("a.xml")), "first");
    EXPECT_EQ(archive.ReadAll(*archive.Find("b.xml")), text);
}

TEST(ZipArchive, DataDescriptorMembersUseTheDirectorySizes)
{
    ZipMember member;
    member.name = "a.xml";
    member.data = SampleText(100000);
    member.deflate = true;
    member.dataDescriptor = true;
    const std::string bytes = ZipWriter().Add(member).Finish();
    ZipArchive archive(AsBytes(bytes));
    EXPECT_EQ(archive.ReadAll(*archive.Find("a.xml")), member.data);
}

TEST(ZipArchive, RefusesWhatIsNoArchive)
{
    for (const std::string& bytes : { std::string(), std::string("PK\x03\x04 not really"), std::string(100, 'x') }) {
        try {
            ZipArchive archive(AsBytes(bytes));
            ADD_FAILURE() << "accepted " << bytes.size() << " bytes";
        } catch (const SpreadsheetError& error) {
            EXPECT_EQ(error.code(), ErrorCode::NotAWorkbook);
        }
    }
}

TEST(ZipArchive, TruncatedArchivesFailCleanly)
{
    const std::string bytes = ZipWriter().Add("a.xml", SampleText(50000), true).Add("b.xml", "bbbb").Finish();
    // Every cut either loses the directory or the member data; none may crash or succeed wrongly.
    for (size_t keep = 0; keep < bytes.size(); keep += 997) {
        const std::string cut = bytes.substr(0, keep);
        try {
            ZipArchive archive(AsBytes(cut));
            if (const ZipEntry* entry = archive.Find("a.xml"))
                archive.ReadAll(*entry);
            ADD_FAILURE() << "a cut at " << keep << " read through";
        } catch (const SpreadsheetError& error) {
            EXPECT_TRUE(error.code() == ErrorCode::NotAWorkbook || error.code() == ErrorCode::Corrupt) << keep;
        }
    }
    // The directory intact but the data of the member cut short: keep the tail, zero the body.
    std::string damaged = bytes;
    for (size_t i = 40; i < 2000; ++i)
        damaged[i] = '\0';
    EXPECT_EQ(ReadError(damaged, "a.xml"), ErrorCode::Corrupt);
}

TEST(ZipArchive, DetectsLiesAndDamage)
{
    struct Case {
        const char* what;
        ZipMember member;
        ErrorCode expected;
    };
    const std::string text = SampleText(20000);
    auto member = [&](bool deflate) {
        ZipMember m;
        m.name = "m.xml";
        m.data = text;
        m.deflate = deflate;
        return m;
    };
    std::vector<Case> cases;
    {
        Case c { "bad CRC, deflated", member(true), ErrorCode::Corrupt };
        c.member.crcOverride = 0x12345678;
        cases.push_back(c);
    }
    {
        Case c { "bad CRC, stored", member(false), ErrorCode::Corrupt };
        c.member.crcOverride = 0x12345678;
        cases.push_back(c);
    }
    {
        Case c { "declared size too small", member(true), ErrorCode::Corrupt };
        c.member.uncompressedSizeOverride = 100;
        cases.push_back(c);
    }
    {
        Case c { "declared size too large", member(true), ErrorCode::Corrupt };
        c.member.uncompressedSizeOverride = text.size() + 1;
        cases.push_back(c);
    }
    {
        Case c { "stored sizes disagree", member(false), ErrorCode::Corrupt };
        c.member.uncompressedSizeOverride = text.size() - 1;
        cases.push_back(c);
    }
    {
        Case c { "encrypted", member(true), ErrorCode::PasswordProtected };
        c.member.flags = 1;
        cases.push_back(c);
    }
    {
        Case c { "unknown method", member(false), ErrorCode::Unsupported };
        c.member.method = 12; // bzip2
        cases.push_back(c);
    }
    {
        Case c { "declared size past the ratio bound", member(true), ErrorCode::TooLarge };
        c.member.uncompressedSizeOverride = 0xFFFFFFF0u;
        cases.push_back(c);
    }
    for (const auto& c : cases)
        EXPECT_EQ(ReadError(ZipWriter().Add(c.member).Finish(), "m.xml"), c.expected) << c.what;
}

TEST(ZipArchive, ZipBombIsBoundedByItsRatio)
{
    // A member whose declared size is past both 64 MiB and 4096 times its compressed size
    // is refused before anything is inflated.
    ZipMember member;
    member.name = "bomb.xml";
    member.data = std::string(8u << 20, 'a');
    member.deflate = true;
    const std::string compressed = testing::Deflate(member.data);
    member.uncompressedSizeOverride = std::max<uint64_t>(64ull << 20, compressed.size() * 4096ull) + 1;
    EXPECT_EQ(ReadError(ZipWriter().Add(member).Finish(), "bomb.xml"), ErrorCode::TooLarge);
}

TEST(ZipArchive, MemberOffsetsOutsideTheFileAreCorrupt)
{
    std::string bytes = ZipWriter().Add("a.xml", "hello").Finish();
    // The local header offset is the last 4 bytes of the central entry, before the name.
    const size_t directory = bytes.find("PK\x01\x02");
    ASSERT_NE(directory, std::string::npos);
    bytes[directory + 42] = '\x7F';
    bytes[directory + 45] = '\x7F';
    EXPECT_EQ(ReadError(bytes, "a.xml"), ErrorCode::Corrupt);
}

TEST(ZipArchive, DirectoryCountBeyondItsSizeIsCorrupt)
{
    std::string bytes = ZipWriter().Add("a.xml", "hello").Finish();
    const size_t end = bytes.rfind("PK\x05\x06");
    bytes[end + 8] = '\xFF';
    bytes[end + 10] = '\xFF'; // 65535 entries would need far more than one entry's bytes
    try {
        ZipArchive archive(AsBytes(bytes));
        ADD_FAILURE();
    } catch (const SpreadsheetError& error) {
        EXPECT_EQ(error.code(), ErrorCode::Corrupt);
    }
}

TEST(ResolvePartPath, JoinsAndNormalises)
{
    struct Case {
        const char* base;
        const char* target;
        const char* expected;
    };
    const Case cases[] = {
        { "xl/", "worksheets/sheet1.xml", "xl/worksheets/sheet1.xml" },
        { "xl", "worksheets/sheet1.xml", "xl/worksheets/sheet1.xml" },
        { "xl/", "/xl/worksheets/sheet1.xml", "xl/worksheets/sheet1.xml" },
        { "xl/", "../customXml/item1.xml", "customXml/item1.xml" },
        { "xl/", "./styles.xml", "xl/styles.xml" },
        { "", "xl/workbook.xml", "xl/workbook.xml" },
        { "xl/", "../../../etc/passwd", "etc/passwd" },
        { "xl/", "worksheets/My%20Sheet.xml", "xl/worksheets/My Sheet.xml" },
        { "xl/", "a%2", "xl/a%2" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(ResolvePartPath(c.base, c.target), c.expected) << c.base << " + " << c.target;
}

} // namespace
} // namespace vellumcast::spreadsheet::container
