// Files that try to crash the engine, block it or make it work without end: each must
// fail as one error naming the workbook, or open with its oddities reported.
#include "spreadsheet/SheetData.h"
#include "spreadsheet/SheetLayout.h"
#include "spreadsheet/Workbook.h"
#include "spreadsheet/container/Zip.h"
#include "spreadsheet/xml/XmlScanner.h"
#include "support/CfbTestContainer.h"
#include "support/Failures.h"
#include "support/LoadBesideWalk.h"
#include "support/PeakMemory.h"
#include "support/TempDir.h"
#include "support/XlsbWriter.h"
#include "support/XlsxWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <map>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vellumcast::spreadsheet {
namespace {

using testing::TempDir;
using testing::XlsxWriter;
using testing::ZipMember;
using testing::ZipWriter;

SpreadsheetError OpenError(const std::string& path)
{
    Application application;
    try {
        application.Open(path);
    } catch (const SpreadsheetError& error) {
        return error;
    }
    ADD_FAILURE() << path << " opened";
    return SpreadsheetError(ErrorCode::Unsupported, "");
}

std::span<const uint8_t> AsBytes(const std::string& text)
{
    return { reinterpret_cast<const uint8_t*>(text.data()), text.size() };
}

// A deflated member of a few bytes that declares 60 MiB: reading it is charged the
// declared size up front, and it fails as damaged after inflating almost nothing.
ZipMember Declaring60MiB(std::string name, std::string data)
{
    ZipMember member;
    member.name = std::move(name);
    member.data = std::move(data);
    member.deflate = true;
    member.uncompressedSizeOverride = uint64_t { 60 } << 20;
    return member;
}

TEST(HostileFiles, OnlyRegularFilesAreOpenedAndNeverBlock)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no FIFOs in its file system, nor /dev/null";
#else
    TempDir dir;
    // A FIFO without a writer would block a plain open for ever.
    const std::string fifo = dir.File("pipe.xlsx");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : { fifo, std::string("/dev/null") }) {
        const SpreadsheetError error = OpenError(path);
        EXPECT_EQ(error.code(), ErrorCode::NotAFile) << path;
        EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
        EXPECT_NE(std::string(error.what()).find("not a workbook"), std::string::npos) << error.what();
    }
    EXPECT_EQ(OpenError(dir.Path()).code(), ErrorCode::NotAFile);
#endif
}

TEST(HostileFiles, AFileEndingBeforeItsSizeIsDamagedNotACrash)
{
#ifdef _WIN32
    GTEST_SKIP() << "the file is shortened with truncate()";
#else
    // Another program shortens the file after it is opened and before it is read: the
    // reads that find it short report damage, as a mapping of it could not have.
    TempDir dir;
    const std::string path = dir.Write("shrinking.csv", std::string(4096, 'a'));
    const auto bytes = FileBytes::OpenFile(path);
    ASSERT_EQ(::truncate(path.c_str(), 4), 0);
    std::vector<uint8_t> scratch;
    EXPECT_EQ(bytes->Read(0, 4, scratch).size(), 4u);
    const auto shrank
        = [](const auto& read) { testing::ExpectFailure(read, ErrorCode::Corrupt, { "shrank from 4096 to 4 bytes" }); };
    shrank([&] { bytes->Read(0, 4096, scratch); });
    shrank([&] { bytes->Bytes(); });
    // Asking for more than the file was is damage too, however it came about.
    testing::ExpectFailure([&] { bytes->Read(4000, 100, scratch); }, ErrorCode::Corrupt, { "the file ends before" });
#endif
}

TEST(HostileFiles, AllReadsOfOneArchiveShareOneInflateBudget)
{
    // A member that declares 60 MiB is charged for it on every read, so reading it over
    // and over (as sheets that all point at it would) ends at the budget: the fifth read
    // passes the 256 MiB floor. Its data is a few bytes, so each read before that fails
    // as damaged without inflating much.
    const ZipMember member = Declaring60MiB("big.xml", "<x/>");
    const std::string bytes = ZipWriter().Add(member).Finish();
    container::ZipArchive archive(AsBytes(bytes));
    auto read = [&] {
        try {
            archive.Read(archive.Entries()[0], [](std::string_view) {});
        } catch (const SpreadsheetError& error) {
            return error.code();
        }
        return ErrorCode::NotFound;
    };
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(read(), ErrorCode::Corrupt) << i;
    EXPECT_EQ(read(), ErrorCode::TooLarge);
    EXPECT_EQ(read(), ErrorCode::TooLarge);
}

TEST(HostileFiles, AReadStoppedEarlyIsChargedWhatItInflated)
{
    // The ods reader reads its content again for each worksheet after the first and stops
    // at that worksheet: charged the whole 16 MiB member each time, the seventeenth read
    // would pass the 256 MiB budget and a real workbook of many worksheets would lose
    // its last ones.
    ZipMember member;
    member.name = "content.xml";
    member.data = std::string(size_t { 16 } << 20, 'c');
    member.deflate = true;
    const std::string bytes = ZipWriter().Add(member).Finish();
    container::ZipArchive archive(AsBytes(bytes));
    // Inflated ahead on a second thread, then on this one until the stop.
    const auto stop = [](std::string_view) { return false; };
    for (int i = 0; i < 24; ++i)
        EXPECT_NO_THROW(archive.ReadAhead(archive.Entries()[0], stop)) << i;
    for (int i = 0; i < 24; ++i)
        EXPECT_NO_THROW(archive.ReadUntil(archive.Entries()[0], stop)) << i;
    size_t read = 0;
    archive.ReadAhead(archive.Entries()[0], [&](std::string_view chunk) {
        read += chunk.size();
        return true;
    });
    EXPECT_EQ(read, member.data.size());
}

TEST(HostileFiles, ArchiveBudgetGrowsWithTheArchive)
{
    // Every real workbook fits: 30 times its size plus the floor is well inside.
    for (uint64_t size : { uint64_t { 1000 }, uint64_t { 1 } << 20, uint64_t { 100 } << 20 })
        EXPECT_GT(container::ArchiveInflateBudget(size), 30 * size + (uint64_t { 128 } << 20)) << size;
    EXPECT_LT(container::ArchiveInflateBudget(uint64_t { 1 } << 20), uint64_t { 1 } << 30);
}

// An xlsx package of sheets that all point at one worksheet part.
std::string SheetsSharingOnePart(int sheets, const ZipMember& part, const std::vector<ZipMember>& more = {})
{
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    std::string list, rels;
    for (int i = 1; i <= sheets; ++i) {
        const std::string n = std::to_string(i);
        list += "<sheet name=\"S" + n + "\" sheetId=\"" + n + "\" r:id=\"r" + n + "\"/>";
        rels += "<Relationship Id=\"r" + n + "\" Type=\"" + rel + "worksheet\" Target=\"worksheets/sheet1.xml\"/>";
    }
    ZipWriter zip;
    for (const ZipMember& member : more)
        zip.Add(member);
    return zip
        .Add("[Content_Types].xml",
            "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"><Override "
            "PartName=\"/xl/workbook.xml\" ContentType=\"application/"
            "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/></Types>")
        .Add("xl/workbook.xml",
            "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" xmlns:r=\"" + rel
                + "\"><sheets>" + list + "</sheets></workbook>")
        .Add("xl/_rels/workbook.xml.rels",
            "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" + rels
                + "</Relationships>")
        .Add(part)
        .Finish();
}

TEST(HostileFiles, SheetsThatTogetherInflatePastTheBudgetAreRefusedAtOnce)
{
    // Forty sheets pointing at one part that declares 60 MiB would inflate 2.4 GB: refused
    // when the workbook is opened, before any of it is read. Four of them (240 MiB) fit.
    const ZipMember part = Declaring60MiB(
        "xl/worksheets/sheet1.xml", "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"/>");
    TempDir dir;
    const std::string many = dir.Write("many.xlsx", SheetsSharingOnePart(40, part));
    Application application;
    testing::ExpectFailure([&] { application.Open(many); }, ErrorCode::TooLarge, { many, "40 worksheets" });
    EXPECT_EQ(application.Open(dir.Write("few.xlsx", SheetsSharingOnePart(4, part)))->Worksheets().size(), 4u);
}

TEST(HostileFiles, AWorksheetRecordsNoMoreCellsThanItsFileCanHold)
{
    // Seven million bare cells compress to a few kilobytes; at 16 bytes a cell they would
    // take 112 MB, past the 6 Mi cells a small workbook may record.
    TempDir dir;
    XlsxWriter writer;
    writer.Compress();
    std::string row;
    for (int i = 0; i < 10000; ++i)
        row += "<c/>";
    std::string rows;
    for (int r = 1; r <= 700; ++r)
        rows += "<row r=\"" + std::to_string(r) + "\">" + row + "</row>";
    writer.AddSheet("Bare").RawSheetData(rows);
    const std::string path = writer.Save(dir.File("bare.xlsx"));
    Application application;
    auto book = application.Open(path);
    testing::ExpectFailure([&] { book->Worksheets().front().UsedRange(); }, ErrorCode::TooLarge, { path, "\"Bare\"" });
    EXPECT_LE(SheetMemoryLimit(uint64_t { 1 } << 20), uint64_t { 160 } << 20);
}

TEST(HostileFiles, SharedStringsAreBoundedByTheFileInCountAndText)
{
    // Empty items cost 32 bytes each and compress to nothing (three million in 80 kB);
    // seven strings of 15 MiB compress to 480 kB. Both are refused by files that small.
    ZipMember sheet;
    sheet.name = "xl/worksheets/sheet1.xml";
    sheet.data = "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"/>";
    std::string items;
    for (int i = 0; i < 3000000; ++i)
        items += "<si/>";
    const std::string text = "<si><t>" + std::string(size_t { 15 } << 20, 'x') + "</t></si>";
    TempDir dir;
    for (const auto& [name, content] :
        { std::pair { "items", items }, std::pair { "text", text + text + text + text + text + text + text } }) {
        ZipMember strings;
        strings.name = "xl/sharedStrings.xml";
        strings.data = "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">" + content + "</sst>";
        strings.deflate = true;
        const std::string path = dir.Write(std::string(name) + ".xlsx", SheetsSharingOnePart(1, sheet, { strings }));
        Application application;
        testing::ExpectFailure([&] { application.Open(path); }, ErrorCode::TooLarge, { path, "shared strings" });
    }
}

TEST(HostileFiles, SharedStringsAreCappedLikeCellText)
{
    TempDir dir;
    XlsxWriter writer;
    writer.Compress();
    writer.AddSheet("Big").SharedString(1, 1, std::string((16u << 20) + 1, 'x'));
    const std::string path = writer.Save(dir.File("big-string.xlsx"));
    const SpreadsheetError error = OpenError(path);
    EXPECT_EQ(error.code(), ErrorCode::TooLarge);
    EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
    EXPECT_NE(std::string(error.what()).find("shared string 0"), std::string::npos) << error.what();
}

TEST(HostileFiles, FallbacksAreWarnedOncePerWorkbook)
{
    TempDir dir;
    XlsxWriter writer;
    const uint32_t longCode = writer.AddStyle(std::string(5000, '0'));
    const std::string index = std::to_string(longCode);
    // Shared string 7 and style 40 do not exist; each kind appears twice.
    writer.AddSheet("Odd").RawSheetData("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>7</v></c><c r=\"B1\" t=\"s\"><v>8</v></c>"
                                        "<c r=\"C1\" s=\"40\"><v>1.5</v></c><c r=\"D1\" s=\"40\"><v>2</v></c>"
                                        "<c r=\"E1\" s=\""
        + index + "\"><v>3</v></c></row>");
    const std::string path = writer.Save(dir.File("odd.xlsx"));
    Application application;
    auto book = application.Open(path);
    ASSERT_EQ(book->Warnings().size(), 1u); // the format code, known once the styles are read
    Worksheet& sheet = book->Worksheets()[0];
    EXPECT_EQ(sheet.CellText(1, 1), "");
    EXPECT_EQ(sheet.CellText(1, 2), "");
    EXPECT_EQ(sheet.CellText(1, 3), "1.5");
    EXPECT_EQ(sheet.CellText(1, 4), "2");
    EXPECT_EQ(sheet.CellText(1, 5), "3");
    const auto& warnings = book->Warnings();
    ASSERT_EQ(warnings.size(), 3u);
    for (const std::string& warning : warnings)
        EXPECT_EQ(warning.rfind(path + ": ", 0), 0u) << warning;
    EXPECT_NE(warnings[0].find("number format"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[1].find("shared strings"), std::string::npos) << warnings[1];
    EXPECT_NE(warnings[2].find("styles"), std::string::npos) << warnings[2];
}

// The cases below cost work that grows with the square of what the file repeats; each
// finishes in about a second where the square would take many minutes.

TEST(HostileFiles, PartsAreFoundAmongManyMembersAtOnce)
{
    // 60,000 members, each looked up by its own name and by a name written otherwise:
    // compared one by one, that is five billion comparisons.
    constexpr int kMembers = 60000;
    ZipWriter zip;
    for (int i = 0; i < kMembers; ++i)
        zip.Add("xl/worksheets/sheet" + std::to_string(i) + ".xml", "");
    zip.Add("xl/worksheets/SHEET7.xml", "an exact name is preferred to one that only folds alike");
    const std::string bytes = zip.Finish();
    container::ZipArchive archive(AsBytes(bytes));
    for (int i = 0; i < kMembers; ++i) {
        const std::string name = "xl/worksheets/sheet" + std::to_string(i) + ".xml";
        const container::ZipEntry* exact = archive.Find(name);
        ASSERT_NE(exact, nullptr) << name;
        ASSERT_EQ(exact, &archive.Entries()[static_cast<size_t>(i)]) << name;
        ASSERT_EQ(archive.Find("/XL\\Worksheets/Sheet" + std::to_string(i) + ".XML"), exact) << name;
    }
    EXPECT_EQ(archive.Find("xl/worksheets/SHEET7.xml"), &archive.Entries().back());
    EXPECT_EQ(archive.Find("xl/worksheets/sheet7.XML"), &archive.Entries()[7]);
    EXPECT_EQ(archive.Find("xl/worksheets/sheet60000.xml"), nullptr);
}

// Counts the elements an XML scanner reports and the namespaces they were in.
class NamespaceCount final : public xml::XmlHandler {
public:
    void StartElement(std::string_view uri, std::string_view local, const xml::XmlAttributes&) override
    {
        ++elements[std::string(uri) + " " + std::string(local)];
    }
    void EndElement(std::string_view, std::string_view) override { }
    void Characters(std::string_view) override { }
    std::map<std::string, size_t> elements;
};

TEST(HostileFiles, NamespacePrefixesAreFoundAmongManyBindings)
{
    // 255 nested elements each bind 60 prefixes; inside them half a million elements use
    // a binding of the second, and one a prefix of the first that the innermost binds
    // again. Searched binding by binding, every element would look through 15,000.
    std::string open, close;
    for (int depth = 0; depth < 255; ++depth) {
        open += "<n";
        for (int i = 0; i < 60; ++i)
            open += " xmlns:p" + std::to_string(depth) + "_" + std::to_string(i) + "=\"urn:d" + std::to_string(depth)
                + "\"";
        open += depth == 254 ? " xmlns:p0_0=\"urn:inner\">" : ">";
        close = "</n>" + close;
    }
    std::string inner;
    for (int i = 0; i < 500000; ++i)
        inner += "<p1_0:e/>";
    const std::string document = open + inner + "<p0_0:e/>" + close;
    NamespaceCount count;
    xml::XmlScanner scanner(count);
    for (size_t at = 0; at < document.size(); at += 1 << 16)
        scanner.Feed(std::string_view(document).substr(at, 1 << 16), false);
    scanner.Feed({}, true);
    EXPECT_EQ(count.elements["urn:d1 e"], 500000u);
    EXPECT_EQ(count.elements["urn:inner e"], 1u);
    EXPECT_EQ(count.elements[" n"], 255u);
}

std::string BiffRecord(uint16_t type, const std::string& data)
{
    std::string record(4, '\0');
    testing::Put16(record, 0, type);
    testing::Put16(record, 2, static_cast<uint16_t>(data.size()));
    return record + data;
}

// A BIFF8 workbook of sheets many entries of its list point at: entries[i] is the
// sheet that entry i points at, sheets[k] the records of sheet k.
std::string XlsSharingSheets(const std::vector<size_t>& entries, const std::vector<std::string>& sheets)
{
    const auto bof = [](uint16_t kind) {
        std::string data(16, '\0');
        testing::Put16(data, 0, 0x0600);
        testing::Put16(data, 2, kind);
        return BiffRecord(0x0809, data);
    };
    std::string stream = bof(0x0005);
    std::vector<size_t> positions;
    for (size_t i = 0; i < entries.size(); ++i) {
        positions.push_back(stream.size() + 4);
        const std::string name = "S" + std::to_string(i);
        stream += BiffRecord(0x0085, std::string(6, '\0') + static_cast<char>(name.size()) + '\0' + name);
    }
    stream += BiffRecord(0x000A, "");
    std::vector<uint32_t> starts;
    for (const std::string& records : sheets) {
        starts.push_back(static_cast<uint32_t>(stream.size()));
        stream += bof(0x0010) + records + BiffRecord(0x000A, "");
    }
    for (size_t i = 0; i < entries.size(); ++i)
        testing::Put32(stream, positions[i], starts[entries[i]]);
    EXPECT_LT(stream.size(), size_t { 4 } << 20); // what one allocation sector of 4 KiB maps
    return testing::MakeContainer("Workbook", stream, 4096).bytes;
}

std::string BiffNumber(uint16_t row, uint16_t column, double value)
{
    std::string data(14, '\0');
    testing::Put16(data, 0, row);
    testing::Put16(data, 2, column);
    std::memcpy(data.data() + 6, &value, 8);
    return BiffRecord(0x0203, data);
}

TEST(HostileFiles, WorksheetsSharingRecordsShareOneBudget)
{
    // 30,000 list entries all point at one worksheet of 150,000 records (2.7 MB): read
    // once per entry, 81 GB. The loads together may read twice the workbook stream and a
    // floor, so the first few load whole and the rest are refused at once.
    std::string records;
    for (int i = 0; i < 150000; ++i)
        records += BiffNumber(static_cast<uint16_t>(i % 60000), static_cast<uint16_t>(i / 60000), i);
    TempDir dir;
    const std::string shared = dir.Write("shared.xls", XlsSharingSheets(std::vector<size_t>(30000, 0), { records }));
    Application application;
    auto book = application.Open(shared);
    auto& sheets = book->Worksheets();
    ASSERT_EQ(sheets.size(), 30000u);
    size_t loaded = 0;
    for (Worksheet& sheet : sheets) {
        try {
            EXPECT_EQ(sheet.CellText(1, 2), "60000");
            ++loaded;
        } catch (const SpreadsheetError& error) {
            ASSERT_EQ(error.code(), ErrorCode::TooLarge) << error.what();
            ASSERT_NE(std::string(error.what()).find("share their records"), std::string::npos) << error.what();
        }
        sheet.Unload();
    }
    EXPECT_GE(loaded, 5u);
    EXPECT_LT(loaded, 12u);

    // Worksheets of their own, however many, each read once, are never refused.
    std::vector<size_t> own;
    std::vector<std::string> each;
    for (size_t i = 0; i < 200; ++i) {
        own.push_back(i);
        each.push_back(records.substr(0, 18 * 1000));
    }
    auto ownBook = application.Open(dir.Write("own.xls", XlsSharingSheets(own, each)));
    for (Worksheet& sheet : ownBook->Worksheets())
        EXPECT_EQ(sheet.UsedRange().lastRow, 1000) << sheet.Name();
}

// An ods package (or a flat document) of tables named T0, T1, … whose rows hold the
// table's number and row number.
std::string ManyTables(int tables, int rows, bool flat)
{
    std::string body;
    for (int t = 0; t < tables; ++t) {
        body += "<table:table table:name=\"T" + std::to_string(t) + "\">";
        for (int r = 0; r < rows; ++r)
            body += "<table:table-row><table:table-cell office:value-type=\"string\"><text:p>" + std::to_string(t) + "."
                + std::to_string(r) + "</text:p></table:table-cell></table:table-row>";
        body += "</table:table>";
    }
    const std::string root = flat ? "office:document" : "office:document-content";
    const std::string content = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><" + root
        + " xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\""
          " xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\""
          " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"><office:body><office:spreadsheet>"
        + body + "</office:spreadsheet></office:body></" + root + ">";
    if (flat)
        return content;
    return ZipWriter()
        .Add("mimetype", "application/vnd.oasis.opendocument.spreadsheet")
        .Add("content.xml", content, true)
        .Finish();
}

TEST(HostileFiles, OpenDocumentContentIsReadOnceForAllWorksheets)
{
    // 365 worksheets of 100 rows (2.9 MB of content, 90 kB packed): read again from the
    // start for each, they would inflate 530 MB, past the budget by worksheet 200, and
    // the flat document would be scanned 1 GB.
    TempDir dir;
    for (const bool flat : { false, true }) {
        SCOPED_TRACE(flat ? "flat" : "packaged");
        const std::string path = dir.Write(flat ? "year.fods" : "year.ods", ManyTables(365, 100, flat));
        Application application;
        auto book = application.Open(path);
        int index = 0;
        for (Worksheet& sheet : book->WorksheetsInTurn()) {
            const std::string t = std::to_string(index);
            ASSERT_EQ(sheet.Name(), "T" + t);
            ASSERT_EQ(sheet.CellText(1, 1), t + ".0");
            ASSERT_EQ(sheet.CellText(100, 1), t + ".99");
            ++index;
        }
        EXPECT_EQ(index, 365);
        // Out of turn, a worksheet is read from the start again.
        EXPECT_EQ(book->Worksheets()[3].CellText(2, 1), "3.1");
    }
}

TEST(HostileFiles, AFileIsJudgedByItsEndsBeforeItIsReadWhole)
{
    // 3 GiB that begin like a ZIP package and hold nothing else (a sparse file, taking no
    // room on the disk): refused by the missing directory at its end, after reading a few
    // kilobytes. Read whole first, it would take 3 GiB of memory.
#ifdef _WIN32
    GTEST_SKIP() << "the sparse file and the memory measure are POSIX calls";
#else
    TempDir dir;
    const std::string path = dir.File("sparse.xlsx");
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "PK\x03\x04", 4), 4);
        ASSERT_EQ(::ftruncate(fd, off_t { 3 } << 30), 0);
        ::close(fd);
    }
    struct rusage before { };
    ::getrusage(RUSAGE_SELF, &before);
    testing::ExpectFailure([&] { Application().Open(path); }, ErrorCode::NotAWorkbook,
        { path, "it is not a workbook: it is not a ZIP archive (no central directory)" });
    struct rusage after { };
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256 << 10) << "KiB";

    // An end record placing the directory past the end is damage, found the same way.
    std::string end(22, '\0');
    std::memcpy(end.data(), "PK\x05\x06", 4);
    testing::Put32(end, 12, 46);
    testing::Put32(end, 16, 1u << 31);
    const std::string lying = dir.Write("lying.xlsx", "PK\x03\x04" + std::string(1000, '\0') + end);
    testing::ExpectFailure([&] { Application().Open(lying); }, ErrorCode::Corrupt,
        { lying, "the ZIP central directory lies outside the file" });
#endif
}

// A file of head, then gap zero bytes that are stored nowhere, then tail, the way a
// sparse file is laid out; it counts the bytes read from it.
class SparseBytes final : public FileBytes {
public:
    SparseBytes(std::string head, uint64_t gap, std::string tail)
        : m_head(std::move(head))
        , m_gap(gap)
        , m_tail(std::move(tail))
    {
    }
    uint64_t Size() const override { return m_head.size() + m_gap + m_tail.size(); }
    std::span<const uint8_t> Read(uint64_t offset, size_t size, std::vector<uint8_t>& scratch) const override
    {
        m_read += size;
        scratch.assign(size, 0);
        const uint64_t tailAt = m_head.size() + m_gap;
        for (size_t i = 0; i < size; ++i) {
            const uint64_t at = offset + i;
            if (at < m_head.size())
                scratch[i] = static_cast<uint8_t>(m_head[at]);
            else if (at >= tailAt && at - tailAt < m_tail.size())
                scratch[i] = static_cast<uint8_t>(m_tail[at - tailAt]);
        }
        return { scratch.data(), size };
    }
    std::span<const uint8_t> Bytes() const override
    {
        ADD_FAILURE() << "a package was read whole";
        return {};
    }
    uint64_t BytesRead() const { return m_read; }

private:
    std::string m_head;
    uint64_t m_gap;
    std::string m_tail;
    mutable std::atomic<uint64_t> m_read { 0 };
};

constexpr uint64_t kGiB = uint64_t { 1 } << 30;

// An xlsx package whose members and directory lie a gap apart: the members, then the
// directory with its end record, which places the directory past the gap.
std::pair<std::string, std::string> SplitAtDirectory(const std::string& archive, uint64_t gap)
{
    const size_t endAt = archive.size() - 22; // written without a comment
    uint32_t directoryAt = 0;
    std::memcpy(&directoryAt, archive.data() + endAt + 16, 4);
    std::string tail = archive.substr(directoryAt);
    testing::Put32(tail, tail.size() - 22 + 16, static_cast<uint32_t>(directoryAt + gap));
    return { archive.substr(0, directoryAt), tail };
}

std::string TwoCellWorkbook(bool compress)
{
    XlsxWriter book;
    book.Compress(compress);
    book.AddSheet("Data").InlineString(1, 1, "far").Number(2, 2, 2.5);
    return book.Build();
}

void ExpectTwoCells(Workbook& book, const char* sheetName)
{
    ASSERT_EQ(book.Worksheets().size(), 1u);
    EXPECT_EQ(book.Worksheets()[0].Name(), sheetName);
    EXPECT_EQ(book.Worksheets()[0].CellText(2, 2), "2.5");
}

// An xls workbook of one sheet (S0) holding 2.5 in B2.
std::string TwoPointFiveXls()
{
    return XlsSharingSheets({ 0 }, { BiffNumber(1, 1, 2.5) });
}

TEST(HostileFiles, PackagesAreReadNoFurtherThanTheirTablesLead)
{
    // A gigabyte between an xlsx package's members and its directory, and compound files
    // of several gigabytes holding a workbook of a few kilobytes at their start: each
    // opens and loads its cells having read little more than the workbook, stored or
    // compressed, through the one archive the format probe read.
    for (const bool compress : { false, true }) {
        const auto [members, directory] = SplitAtDirectory(TwoCellWorkbook(compress), kGiB);
        const auto padded = std::make_shared<SparseBytes>(members, kGiB, directory);
        auto book = Application().OpenFrom(padded, "padded.xlsx");
        ExpectTwoCells(*book, "Data");
        EXPECT_EQ(book->Worksheets()[0].CellText(1, 1), "far");
        EXPECT_LT(padded->BytesRead(), uint64_t { 1 } << 20) << compress;
    }
    for (const uint64_t gap : { 3 * kGiB, 6 * kGiB }) {
        const auto padded = std::make_shared<SparseBytes>(TwoPointFiveXls(), gap, "");
        auto book = Application().OpenFrom(padded, "padded.xls");
        ExpectTwoCells(*book, "S0");
        EXPECT_LT(padded->BytesRead(), uint64_t { 1 } << 20) << gap;
    }
}

TEST(HostileFiles, ADirectoryLargerThanAnyWorkbooksIsRefusedUnread)
{
    // An end record declaring a directory of 512 MiB over the gigabyte before it: read,
    // it would take that much memory before a single member were looked at.
    std::string end(22, '\0');
    std::memcpy(end.data(), "PK\x05\x06", 4);
    testing::Put16(end, 10, 1000);
    testing::Put32(end, 12, 512u << 20);
    testing::Put32(end, 16, 4);
    const auto file = std::make_shared<SparseBytes>("PK\x03\x04", kGiB, end);
    testing::ExpectFailure([&] { Application().OpenFrom(file, "directory.xlsx"); }, ErrorCode::TooLarge,
        { "directory.xlsx", "ZIP central directory takes 536870912 bytes" });
    EXPECT_LT(file->BytesRead(), uint64_t { 1 } << 20);
}

#ifndef _WIN32 // sparse files are made and measured with POSIX calls
// A sparse file: head at the start, tail at offset, nothing stored between them.
std::string WriteSparse(TempDir& dir, const std::string& name, const std::string& head, uint64_t size,
    const std::string& tail = {}, uint64_t tailAt = 0)
{
    const std::string path = dir.File(name);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::write(fd, head.data(), head.size()), static_cast<ssize_t>(head.size()));
    if (!tail.empty()) {
        EXPECT_EQ(
            ::pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(tailAt)), static_cast<ssize_t>(tail.size()));
    }
    EXPECT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
    ::close(fd);
    return path;
}

long PeakKiB()
{
    struct rusage usage { };
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

TEST(HostileFiles, SparseFilesCostTheMemoryOfWhatTheyHold)
{
    // Read whole, each of these would take gigabytes of memory; read as far as their
    // tables lead, they take what their workbook does.
    TempDir dir;
    const long before = PeakKiB();
    const auto [members, directory] = SplitAtDirectory(TwoCellWorkbook(true), kGiB);
    const std::string xlsx = WriteSparse(
        dir, "padded.xlsx", members, members.size() + kGiB + directory.size(), directory, members.size() + kGiB);
    ExpectTwoCells(*Application().Open(xlsx), "Data");
    const std::string xls = WriteSparse(dir, "padded.xls", TwoPointFiveXls(), 4 * kGiB);
    ExpectTwoCells(*Application().Open(xls), "S0");

    // A compound file signature and nothing else: refused by its header.
    const std::string signature("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    const std::string empty = WriteSparse(dir, "empty.xls", signature, 3 * kGiB);
    testing::ExpectFailure([&] { Application().Open(empty); }, ErrorCode::Corrupt,
        { empty, "the compound file has an invalid sector size" });
    EXPECT_LT(PeakKiB() - before, 64 << 10) << "KiB";
}
#endif

TEST(HostileFiles, NumberFormatsAreParsedWhenUsedAndWithinTheirMemory)
{
    // Declared formats cost nothing until a cell uses one; identical codes share one
    // parsed format; the parsed ones together stay within the limit, past which the
    // cells of further formats show as General and the limit is said to be reached.
    CellFormats formats;
    const uint32_t first = formats.AddStyle("0.00");
    const uint32_t again = formats.AddStyle("0.00");
    EXPECT_EQ(&formats.ForStyle(first), &formats.ForStyle(again));
    const uint64_t one = formats.ForStyle(first).MemoryUse();
    ASSERT_GT(one, 0u);
    formats.LimitMemory(100 * (one + 16));
    std::vector<uint32_t> styles;
    for (int i = 0; i < 1000; ++i)
        styles.push_back(formats.AddStyle("0.00\"" + std::to_string(i) + "\""));
    EXPECT_FALSE(formats.OverMemoryLimit());
    std::string out;
    formats.ForStyle(styles[5]).Format(1, numfmt::DateSystem::Date1900, out);
    EXPECT_EQ(out, "1.005");
    for (const uint32_t style : styles)
        (void)formats.ForStyle(style);
    EXPECT_TRUE(formats.OverMemoryLimit());
    EXPECT_FALSE(formats.ForStyle(styles[50]).IsGeneral());
    EXPECT_TRUE(formats.ForStyle(styles[999]).IsGeneral());
    EXPECT_FALSE(formats.ForStyle(first).IsGeneral());
}

TEST(HostileFiles, FormatsParsedAllAtOnceForALoadStayWithinTheLimitOrWaitForTheirCells)
{
    // A load that shows numbers as text parses every format first. When they fit
    // together it gets each style's parsed format; when they do not, it gets none and
    // none is parsed, so that the cells' formats are parsed one by one within the limit
    // as they would be: the same ones show as General.
    const auto declare = [](CellFormats& formats) {
        std::vector<uint32_t> styles;
        for (int i = 0; i < 1000; ++i)
            styles.push_back(formats.AddStyle("0.00\"" + std::to_string(i) + "\""));
        return styles;
    };
    const uint64_t one = numfmt::NumberFormat::Parse("0.00\"0\"").MemoryUse() + 7;
    for (const uint64_t room : { uint64_t { 2000 }, uint64_t { 100 } }) {
        SCOPED_TRACE("room for about " + std::to_string(room) + " formats");
        CellFormats formats;
        formats.LimitMemory(room * one);
        const std::vector<uint32_t> styles = declare(formats);
        const std::span<const numfmt::NumberFormat* const> parsed = formats.ParsedByStyle();
        if (room == 2000) {
            ASSERT_EQ(parsed.size(), formats.StyleCount());
            for (const uint32_t style : styles)
                EXPECT_EQ(parsed[style], &formats.ForStyle(style));
            std::string out;
            parsed[styles[999]]->Format(2, numfmt::DateSystem::Date1900, out);
            EXPECT_EQ(out, "2.00999");
            EXPECT_FALSE(formats.OverMemoryLimit());
            continue;
        }
        EXPECT_TRUE(parsed.empty());
        EXPECT_EQ(formats.ParsedForStyle(styles[0]), nullptr);
        EXPECT_TRUE(formats.ParsedByStyle().empty());
        CellFormats unasked;
        unasked.LimitMemory(room * one);
        declare(unasked);
        for (const uint32_t style : styles)
            EXPECT_EQ(formats.ForStyle(style).IsGeneral(), unasked.ForStyle(style).IsGeneral()) << style;
        EXPECT_TRUE(formats.OverMemoryLimit());
        EXPECT_FALSE(formats.ForStyle(styles[50]).IsGeneral());
    }
}

// The cases below each make a small file that lists, declares or repeats far more than a
// real workbook does, grouped by format. Each must end within its memory bound and in a
// second or so, loaded or refused with a message that names the workbook.

// How far the process's peak resident memory grew while action ran, in KiB (0 where it
// cannot be measured). ctest runs each test in a process of its own.
template <typename Action> long PeakGrowthKiB(Action&& action)
{
#ifdef _WIN32
    action();
    return 0;
#else
    struct rusage before { };
    ::getrusage(RUSAGE_SELF, &before);
    action();
    struct rusage after { };
    ::getrusage(RUSAGE_SELF, &after);
    return after.ru_maxrss - before.ru_maxrss;
#endif
}

std::string Repeated(std::string_view text, size_t times)
{
    std::string out;
    out.reserve(text.size() * times);
    for (size_t i = 0; i < times; ++i)
        out += text;
    return out;
}

// A deflated xlsx package: its <sheets> content, the workbook's relationships (r1 is a
// worksheet part, worksheets/sheet1.xml, unless given in more), overrides in the content
// types and any more members.
std::string XlsxPackage(const std::string& sheets, const std::string& relationships = {},
    const std::vector<std::pair<std::string, std::string>>& more = {}, const std::string& overrides = {})
{
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    ZipWriter zip;
    zip.Add("[Content_Types].xml",
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"><Override "
        "PartName=\"/xl/workbook.xml\" ContentType=\"application/"
        "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
            + overrides + "</Types>",
        true);
    zip.Add("xl/workbook.xml",
        "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" xmlns:r=\"" + rel + "\"><sheets>"
            + sheets + "</sheets></workbook>",
        true);
    zip.Add("xl/_rels/workbook.xml.rels",
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
        "Id=\"r1\" Type=\""
            + rel + "worksheet\" Target=\"worksheets/sheet1.xml\"/>" + relationships + "</Relationships>",
        true);
    bool sheetGiven = false;
    for (const auto& [name, data] : more) {
        zip.Add(name, data, true);
        sheetGiven = sheetGiven || name == "xl/worksheets/sheet1.xml";
    }
    if (!sheetGiven)
        zip.Add("xl/worksheets/sheet1.xml",
            "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData><row "
            "r=\"1\"><c r=\"A1\"><v>1</v></c></row></sheetData></worksheet>",
            true);
    return zip.Finish();
}

// A deflated xlsb package of one worksheet (Data, holding 1 in A1), its parts replaced
// or added as given.
std::string XlsbPackage(const std::vector<std::pair<std::string, std::string>>& replaced)
{
    testing::XlsbWriter writer;
    writer.AddSheet("Data").Number(1, 1, 1);
    auto parts = writer.Parts();
    for (const auto& [name, data] : replaced) {
        const auto it = std::find_if(parts.begin(), parts.end(), [&](const auto& part) { return part.first == name; });
        if (it != parts.end())
            it->second = data;
        else
            parts.emplace_back(name, data);
    }
    ZipWriter zip;
    for (const auto& [name, data] : parts)
        zip.Add(name, data, true);
    return zip.Finish();
}

// The workbook part of an xlsb listing count sheets, all the first worksheet's.
std::string XlsbWorkbookListing(size_t count)
{
    using testing::XlsbWriter;
    const std::string entry = XlsbWriter::Record(
        156, XlsbWriter::U32(0) + XlsbWriter::U32(1) + XlsbWriter::WideString("rId1") + XlsbWriter::WideString("S"));
    return XlsbWriter::Record(131, {}) + XlsbWriter::Record(143, {}) + Repeated(entry, count)
        + XlsbWriter::Record(144, {}) + XlsbWriter::Record(132, {});
}

// An XML spreadsheet of 2003 around these styles and worksheets, in this encoding.
std::string SpreadsheetMl(
    const std::string& worksheets, const std::string& styles = {}, const std::string& encoding = "UTF-8")
{
    return "<?xml version=\"1.0\" encoding=\"" + encoding
        + "\"?>\n<Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\""
          " xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\"><Styles>"
        + styles + "</Styles>" + worksheets + "</Workbook>";
}

// Opens bytes as name and lists every worksheet, as --list and an export do.
void OpenAndList(const std::string& bytes, const std::string& name)
{
    Application application;
    application.OpenBytes(bytes, name)->Worksheets();
}

TEST(HostileLists, NoFormatListsMoreSheetsThanItsSizeJustifies)
{
    // Every list below would cost hundreds of bytes an entry however little of the file it
    // takes: a million compress to under 100 kB. Past what the file justifies (one entry
    // per 16 bytes and a floor of 4,096) or the cap of 65,536, the workbook is refused;
    // 3,000 sheets, more than real workbooks hold, always open.
    const auto xlsx
        = [](size_t n) { return XlsxPackage(Repeated("<sheet name=\"S\" sheetId=\"1\" r:id=\"r1\"/>", n)); };
    const auto xlsb = [](size_t n) { return XlsbPackage({ { "xl/workbook.bin", XlsbWorkbookListing(n) } }); };
    const auto ods = [](size_t n) {
        return ZipWriter()
            .Add("mimetype", "application/vnd.oasis.opendocument.spreadsheet")
            .Add("content.xml",
                "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\"><office:body><office:spreadsheet>"
                    + Repeated("<table:table table:name=\"T\"/>", n)
                    + "</office:spreadsheet></office:body></office:document-content>",
                true)
            .Finish();
    };
    const auto xml = [](size_t n) { return SpreadsheetMl(Repeated("<Worksheet/>", n)); };
    const auto xls = [](size_t n) { return XlsSharingSheets(std::vector<size_t>(n, 0), { BiffNumber(0, 0, 1) }); };
    const struct {
        const char* name;
        std::function<std::string(size_t)> make;
        size_t refused; // entries past the file's share, or past the cap
    } formats[] = {
        { "many.xlsx", xlsx, 20000 }, { "many.xlsb", xlsb, 20000 }, { "many.ods", ods, 20000 },
        { "many.xml", xml, 100000 }, // 12 bytes a worksheet
        { "many.xls", xls, 70000 }, // past the cap
    };
    for (const auto& format : formats) {
        SCOPED_TRACE(format.name);
        testing::ExpectFailure([&] { OpenAndList(format.make(format.refused), format.name); }, ErrorCode::TooLarge,
            { format.name, "sheets, more than a workbook of" });
        Application application;
        EXPECT_EQ(application.OpenBytes(format.make(3000), format.name)->Worksheets().size(), 3000u);
    }
    // The package's own lists, which name the sheets' parts, are bounded alike: 60,000
    // relationships, and as many content types of parts named apart.
    const std::string relationship = "<Relationship Id=\"x\" Type=\"t\" Target=\"t.xml\"/>";
    std::string overrides;
    for (int i = 0; i < 60000; ++i)
        overrides += "<Override PartName=\"/t" + std::to_string(i) + ".xml\" ContentType=\"t\"/>";
    const std::string sheet = "<sheet name=\"S\" sheetId=\"1\" r:id=\"r1\"/>";
    testing::ExpectFailure([&] { OpenAndList(XlsxPackage(sheet, Repeated(relationship, 60000)), "rels.xlsx"); },
        ErrorCode::TooLarge, { "rels.xlsx", "relationships" });
    testing::ExpectFailure([&] { OpenAndList(XlsxPackage(sheet, {}, {}, overrides), "types.xlsx"); },
        ErrorCode::TooLarge, { "types.xlsx", "content types" });
}

TEST(HostileStyles, StyleFloodsAreRefusedPastTheCap)
{
    // Past 262,144 styles (four times what the application allows) a workbook is refused
    // while its styles are read, before the rest of a flood of forty million is inflated.
    using testing::XlsbWriter;
    const size_t past = kMaxStyles + 1;
    const std::string xf = XlsbWriter::Record(47, XlsbWriter::U16(0) + XlsbWriter::U16(0));
    const std::string xlsb = XlsbPackage({ { "xl/styles.bin",
        XlsbWriter::Record(278, {}) + XlsbWriter::Record(617, XlsbWriter::U32(0)) + Repeated(xf, past)
            + XlsbWriter::Record(618, {}) + XlsbWriter::Record(279, {}) } });
    const std::string xlsx = XlsxPackage("<sheet name=\"S\" sheetId=\"1\" r:id=\"r1\"/>",
        "<Relationship Id=\"s\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" "
        "Target=\"styles.xml\"/>",
        { { "xl/styles.xml",
            "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><cellXfs>"
                + Repeated("<xf/>", past) + "</cellXfs></styleSheet>" } });
    std::string styles;
    for (size_t i = 0; i < kMaxStyles; ++i)
        styles += "<Style ss:ID=\"s" + std::to_string(i) + "\"/>";
    const std::string xml = SpreadsheetMl("<Worksheet ss:Name=\"S\"/>", styles);
    for (const auto& [name, bytes] :
        { std::pair { "styles.xlsb", xlsb }, std::pair { "styles.xlsx", xlsx }, std::pair { "styles.xml", xml } }) {
        testing::ExpectFailure([&] { OpenAndList(bytes, name); }, ErrorCode::TooLarge, { name, "styles, more than" });
    }
    // At the cap, one style more is refused whichever reader adds it.
    CellFormats formats;
    for (size_t i = 0; i < kMaxStyles; ++i)
        formats.AddStyle("0.00");
    EXPECT_THROW(formats.AddStyle("0.00"), SpreadsheetError);
}

// An XML spreadsheet of count worksheets named W0, W1, …, each holding its number in A1.
std::string ManyWorksheets(int count, const std::string& encoding)
{
    std::string worksheets;
    for (int i = 0; i < count; ++i)
        worksheets += "<Worksheet ss:Name=\"W" + std::to_string(i) + "\"><Table><Row><Cell><Data ss:Type=\"Number\">"
            + std::to_string(i) + "</Data></Cell></Row></Table></Worksheet>";
    return SpreadsheetMl(worksheets, {}, encoding);
}

TEST(HostileSpreadsheetMl, ManyWorksheetsAreReadInOnePass)
{
    // 20,000 one-cell worksheets (2.3 MB): read from the start for each, through the
    // scanner or through Expat (another encoding), the loads would read 23 GB. Loaded in
    // turn, and beside the walk with numbers shown as the command line loads them, each
    // load reads on from where the last one stopped; out of turn, from the start.
    constexpr int kSheets = 20000;
    const testing::ScopedLoadBesideWalkThreshold beside(0);
    for (const char* encoding : { "UTF-8", "ISO-8859-1" }) {
        SCOPED_TRACE(encoding);
        Application application;
        auto book = application.OpenBytes(ManyWorksheets(kSheets, encoding), "many.xml");
        int index = 0;
        for (Worksheet& sheet : book->WorksheetsInTurn()) {
            const std::string n = std::to_string(index++);
            ASSERT_EQ(sheet.Name(), "W" + n);
            if (index % 2 == 0) {
                ASSERT_EQ(sheet.CellText(1, 1), n);
                continue;
            }
            std::string seen;
            sheet.VisitRowsWhileLoading(
                [&](const RowBatch& rows) {
                    seen = std::string(sheet.TextOf(rows.CellAt(0), rows));
                    return true;
                },
                true);
            ASSERT_EQ(seen, n);
            ASSERT_EQ(sheet.CellText(1, 1), n); // as shown while loading, not loaded again
        }
        EXPECT_EQ(index, kSheets);
        auto& sheets = book->Worksheets();
        EXPECT_EQ(sheets[kSheets - 1].CellText(1, 1), std::to_string(kSheets - 1));
        EXPECT_EQ(sheets[7].CellText(1, 1), "7");
        EXPECT_EQ(sheets[9].CellText(1, 1), "9"); // a later one, passing over W8
    }
}

TEST(HostileSpreadsheetMl, SpansAndMergesPastTheGridAreRefused)
{
    // Spans that add up to 2^32 rows or columns would come round to row or column 1: the
    // cell after them would land in A1 and a later ss:Hidden hide column A. Past the grid,
    // a span is refused as an ss:Index past it is.
    const auto data
        = [](const std::string& text) { return "<Cell><Data ss:Type=\"String\">" + text + "</Data></Cell>"; };
    const struct {
        const char* label;
        std::string table;
    } refused[] = {
        { "row spans",
            "<Row>" + data("before") + "</Row>" + Repeated("<Row ss:Span=\"1048575\"/>", 4096) + "<Row>" + data("after")
                + "</Row>" },
        { "column spans",
            Repeated("<Column ss:Span=\"16383\"/>", 262144) + "<Column ss:Hidden=\"1\"/><Row>" + data("a") + "</Row>" },
        { "a row span from the last row", "<Row ss:Index=\"1048576\" ss:Span=\"1\"/>" },
        { "a column span from the last column", "<Column ss:Index=\"16384\" ss:Span=\"1\"/>" },
        { "a merge across from the last column",
            "<Row><Cell ss:Index=\"16384\" ss:MergeAcross=\"1\"><Data ss:Type=\"String\">m</Data></Cell></Row>" },
        { "a merge down from the last row",
            "<Row ss:Index=\"1048576\"><Cell ss:MergeDown=\"1\"><Data ss:Type=\"String\">m</Data></Cell></Row>" },
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.label);
        Application application;
        auto book = application.OpenBytes(
            SpreadsheetMl("<Worksheet ss:Name=\"S\"><Table>" + c.table + "</Table></Worksheet>"), "spans.xml");
        testing::ExpectFailure(
            [&] { book->Worksheets()[0].UsedRange(); }, ErrorCode::Corrupt, { "spans.xml", "\"S\"" });
    }
    // Up to the grid's last row and column, spans and merges stand.
    Application application;
    auto book = application.OpenBytes(
        SpreadsheetMl("<Worksheet ss:Name=\"S\"><Table><Column ss:Index=\"16383\" ss:Span=\"1\" ss:Hidden=\"1\"/>"
                      "<Row ss:Index=\"1048574\" ss:Span=\"1\"/><Row>"
            + std::string("<Cell ss:Index=\"16383\" ss:MergeAcross=\"1\"><Data ss:Type=\"String\">z</Data></Cell>")
            + "</Row></Table></Worksheet>"),
        "edge.xml");
    Worksheet& sheet = book->Worksheets()[0];
    EXPECT_EQ(sheet.CellText(kMaxRows, kMaxColumns - 1), "z");
    EXPECT_TRUE(sheet.ColumnHidden(kMaxColumns));
    EXPECT_FALSE(sheet.ColumnHidden(1));
}

TEST(HostileSpreadsheetMl, ALongChainOfParentStylesTakesLittleMoreThanItsFile)
{
    // 200,000 styles, each the parent of the next (9 MB): the last one's cell shows the
    // first one's format, its workbook held within its size and a few megabytes.
    constexpr int kStyles = 200000;
    std::string styles = "<Style ss:ID=\"s0\"><NumberFormat ss:Format=\"0.000\"/></Style>";
    for (int i = 1; i < kStyles; ++i)
        styles += "<Style ss:ID=\"s" + std::to_string(i) + "\" ss:Parent=\"s" + std::to_string(i - 1) + "\"/>";
    const std::string bytes = SpreadsheetMl("<Worksheet ss:Name=\"S\"><Table><Row><Cell ss:StyleID=\"s"
            + std::to_string(kStyles - 1) + "\"><Data ss:Type=\"Number\">2</Data></Cell></Row></Table></Worksheet>",
        styles);
    const long grew = PeakGrowthKiB([&] {
        Application application;
        auto book = application.OpenBytes(bytes, "chain.xml");
        EXPECT_EQ(book->Worksheets()[0].CellText(1, 1), "2.000");
    });
    if (testing::kPeakMemoryMeasurable) {
        EXPECT_LT(grew * 1024, static_cast<long>(bytes.size()) + (32l << 20)) << "KiB";
    }
}

TEST(HostileXlsb, RecordsAndCellsRepeatedBeyondRealOnesStayWithinBounds)
{
    using testing::XlsbWriter;
    // One record of 8 MiB (a text of four million characters) in a few kilobytes: held
    // whole, and its text again as UTF-8, it takes half as much again. Real records stay
    // under a megabyte.
    const std::string text(size_t { 4 } << 20, 'x');
    const std::string big
        = XlsbWriter::Record(6, XlsbWriter::U32(0) + XlsbWriter::U32(0) + XlsbWriter::WideString(text));
    Application application;
    auto bigBook = application.OpenBytes(XlsbPackage({ { "xl/worksheets/sheet1.bin",
                                             XlsbWriter::Record(129, {}) + XlsbWriter::Record(145, {}) + big
                                                 + XlsbWriter::Record(146, {}) + XlsbWriter::Record(130, {}) } }),
        "record.xlsb");
    testing::ExpectFailure([&] { bigBook->Worksheets()[0].UsedRange(); }, ErrorCode::TooLarge,
        { "record.xlsb", "more than any real record" });

    // A cell recorded again and again in its own place (ten million times compress to
    // 270 kB): the last value stands, as one cell.
    const std::string row = XlsbWriter::Record(0, XlsbWriter::U32(0) + std::string(13, '\0'));
    std::string cells;
    for (uint32_t i = 0; i < 200000; ++i)
        cells += XlsbWriter::Record(2, XlsbWriter::U32(0) + XlsbWriter::U32(0) + XlsbWriter::U32(i << 2 | 2u));
    auto book = application.OpenBytes(XlsbPackage({ { "xl/worksheets/sheet1.bin",
                                          XlsbWriter::Record(129, {}) + XlsbWriter::Record(145, {}) + row + cells
                                              + XlsbWriter::Record(146, {}) + XlsbWriter::Record(130, {}) } }),
        "repeated.xlsb");
    Worksheet& sheet = book->Worksheets()[0];
    EXPECT_EQ(sheet.CellCount(), 1u);
    EXPECT_EQ(sheet.CellText(1, 1), "199999");
}

TEST(HostileCells, ASheetsMemoryLimitCoversRepeatsAndCellsOutOfOrder)
{
    // Within a limit of 64 KiB (4,096 cells): a cell given a million times in its own place
    // is one cell; 2,000 cells out of order fit as cells but not with what sorting them
    // takes, and are refused before they take it.
    SheetData data;
    SheetBuilder repeats(data);
    repeats.LimitMemory(64 << 10);
    for (int i = 0; i < 1000000; ++i)
        repeats.AddNumber(3, 2, i, 0);
    repeats.Finish();
    EXPECT_EQ(data.CellCount(), 1u);
    ASSERT_NE(data.Find(3, 2), nullptr);
    EXPECT_EQ(data.Find(3, 2)->value.number, 999999);

    SheetData unordered;
    SheetBuilder builder(unordered);
    builder.LimitMemory(64 << 10);
    testing::ExpectFailure(
        [&] {
            for (int32_t i = 0; i < 2000; ++i)
                builder.AddNumber(2000 - i, 1, i, 0);
        },
        ErrorCode::TooLarge, { "more than 65536 bytes" });
}

TEST(HostileLayouts, MergeFloodsAreBoundedByTheFile)
{
    // Two million merged areas compress to a few hundred kilobytes: at 16 bytes each they
    // pass what a workbook that small may record (a million and one per byte of file),
    // and are refused. xlsb and xlsx alike.
    using testing::XlsbWriter;
    constexpr size_t kMerges = 2000000;
    const std::string merge
        = XlsbWriter::Record(176, XlsbWriter::U32(0) + XlsbWriter::U32(1) + XlsbWriter::U32(0) + XlsbWriter::U32(1));
    const std::string xlsb = XlsbPackage({ { "xl/worksheets/sheet1.bin",
        XlsbWriter::Record(129, {}) + XlsbWriter::Record(145, {}) + XlsbWriter::Record(146, {})
            + XlsbWriter::Record(177, XlsbWriter::U32(0)) + Repeated(merge, kMerges) + XlsbWriter::Record(178, {})
            + XlsbWriter::Record(130, {}) } });
    const std::string xlsx = XlsxPackage("<sheet name=\"S\" sheetId=\"1\" r:id=\"r1\"/>", {},
        { { "xl/worksheets/sheet1.xml",
            "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData/><mergeCells>"
                + Repeated("<mergeCell ref=\"A1:B2\"/>", kMerges) + "</mergeCells></worksheet>" } });
    for (const auto& [name, bytes] : { std::pair { "merges.xlsb", xlsb }, std::pair { "merges.xlsx", xlsx } }) {
        ASSERT_LT(bytes.size(), size_t { 1 } << 20) << name;
        Application application;
        auto book = application.OpenBytes(bytes, name);
        testing::ExpectFailure(
            [&] { book->Worksheets()[0].MergedAreas(); }, ErrorCode::TooLarge, { name, "merged areas" });
    }
}

} // namespace
} // namespace vellumcast::spreadsheet
