// What a script relies on: no invented text, a re-run that reads only workbooks, errors
// and warnings one line each, and standard output whose failures are failures.

#include "cli/CliRun.h"
#include "cli/Messages.h"
#include "cli/Streams.h"
#include "support/PeakMemory.h"
#include "support/TempDir.h"
#include "support/XlsxWriter.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <thread>

#ifndef _WIN32
#include <sys/resource.h>
#endif

using namespace vellumcast;
namespace vt = vellumcast::testing;
namespace fs = std::filesystem;

using vt::CliRun;
using vt::FilesIn;
using vt::RunCli;

// What --list says of a worksheet that hides nothing and merges nothing.
const std::string kNoLayout = "\t0 hidden rows, 0 hidden columns, 0 merged areas";

TEST(CommandLineNoInventedText, EmptyResultsAreZeroBytesAndSkippedLinesGiveNothing)
{
    const std::string multiEmpty = vt::Fixture("workbooks/multi-empty.ods");
    // Blank rows between the data give no line at all with empty lines skipped.
    const CliRun rows = RunCli({ "-m", "row", "--skip-empty-lines", "--csv", "--lf", "-o", "-", multiEmpty });
    ASSERT_EQ(rows.status, 0) << rows.err;
    EXPECT_EQ(rows.out, "StringCol\nbbb\nccc\nddd\neee\nzzz\n");

    // Without skipping, a blank row's file exists and holds nothing; with it, no file.
    vt::TempDir kept, skipped;
    ASSERT_EQ(RunCli({ "-q", "-m", "row", "--skip-blank", "-o", kept.Path(), multiEmpty }).status, 0);
    ASSERT_EQ(
        RunCli({ "-q", "-m", "row", "--skip-blank", "--skip-empty-lines", "-o", skipped.Path(), multiEmpty }).status,
        0);
    size_t zeroBytes = 0;
    for (const auto& name : FilesIn(kept.Path())) {
        const std::string bytes = vt::ReadBytes(kept.File(name));
        EXPECT_EQ(bytes.find("empty file"), std::string::npos) << name;
        zeroBytes += bytes.empty() ? 1 : 0;
    }
    EXPECT_GT(zeroBytes, 0u);
    EXPECT_EQ(FilesIn(skipped.Path()).size() + zeroBytes, FilesIn(kept.Path()).size());

    // A workbook whose only chosen worksheet is left out: a text of nothing.
    vt::TempDir out;
    const CliRun none
        = RunCli({ "-s", "2", "--skip-hidden", "-o", out.Path(), vt::Fixture("workbooks/any_sheets.xlsx") });
    EXPECT_EQ(none.status, 0) << none.err;
    EXPECT_EQ(FilesIn(out.Path()), std::vector<std::string> { "any_sheets.txt" });
    EXPECT_EQ(vt::ReadBytes(out.File("any_sheets.txt")), "");
}

TEST(CommandLineRunTwice, AFolderSearchTakesNeitherTheOutputFolderNorTexts)
{
    vt::TempDir d;
    fs::copy_file(vt::Fixture("workbooks/inventory-table.xlsx"), d.File("a.xlsx"));
    fs::copy_file(vt::Fixture("workbooks/date.ods"), d.File("b.ods"));
    d.Write("c.csv", "x,y\r\n");
    d.Write("notes.txt", "a\tb\n");
    fs::create_directory(d.File("out"));
    const std::vector<std::string> expected { "a.txt", "b.txt", "c.txt" };
    for (int run = 0; run < 3; ++run) {
        const CliRun again = RunCli({ "-q", "-r", "-o", d.File("out"), d.Path() });
        ASSERT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(FilesIn(d.File("out")), expected) << run;
    }
    // Into the searched folder itself: its own texts are not read back...
    for (int run = 0; run < 2; ++run) {
        const CliRun here = RunCli({ "-o", d.Path(), d.Path() });
        ASSERT_EQ(here.status, 0) << here.err;
        EXPECT_EQ(here.out, d.File("a.txt") + "\n" + d.File("b.txt") + "\n" + d.File("c.txt") + "\n") << run;
    }
    // ... and text files are taken only when asked for.
    const CliRun texts = RunCli({ "-l", "-e", "txt", d.Path() });
    EXPECT_NE(texts.out.find(d.File("notes.txt")), std::string::npos) << texts.out;
}

namespace {

// An output stream whose writes fail once limit bytes are taken, with errno set to code,
// as standard output on a full disk or a closed pipe fails.
class FailingBuffer final : public std::streambuf {
public:
    FailingBuffer(size_t limit, int code)
        : m_limit(limit)
        , m_code(code)
    {
    }
    std::string taken;
    size_t attempts = 0; // writes tried after the first failure

protected:
    std::streamsize xsputn(const char* data, std::streamsize size) override
    {
        if (taken.size() + static_cast<size_t>(size) > m_limit) {
            ++attempts;
            errno = m_code;
            return 0;
        }
        taken.append(data, static_cast<size_t>(size));
        return size;
    }
    int_type overflow(int_type c) override
    {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        const char byte = traits_type::to_char_type(c);
        return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
    }

private:
    size_t m_limit;
    int m_code;
};

struct FailingRun {
    int status = -1;
    std::string out, err;
    size_t attempts = 0;
};

FailingRun RunIntoFailing(const std::vector<std::string>& arguments, size_t limit, int code)
{
    FailingBuffer buffer(limit, code);
    std::ostream out(&buffer);
    std::istringstream in;
    std::ostringstream err;
    FailingRun run;
    run.status = cli::RunCommandLine(arguments, in, out, err, false);
    run.out = buffer.taken;
    run.err = err.str();
    run.attempts = buffer.attempts;
    return run;
}

// What a terminal shows once err has been drawn on it: carriage returns go back to the
// line's start and ESC [ K clears to its end; each line kept, the last one unfinished.
std::vector<std::string> Drawn(const std::string& err)
{
    std::vector<std::string> lines(1);
    size_t column = 0;
    for (size_t i = 0; i < err.size(); ++i) {
        std::string& line = lines.back();
        if (err.compare(i, 3, "\033[K") == 0) {
            line.resize(std::min(line.size(), column));
            i += 2;
        } else if (err[i] == '\r') {
            column = 0;
        } else if (err[i] == '\n') {
            lines.emplace_back();
            column = 0;
        } else {
            if (column < line.size())
                line[column] = err[i];
            else
                line += err[i];
            ++column;
        }
    }
    return lines;
}

} // namespace

TEST(CommandLineStandardOutput, AWriteFailureIsAFailureAndAClosedPipeStopsQuietly)
{
    const std::string sales = vt::Fixture("workbooks/inventory-table.xlsx");
    // A full device: said once, exit status 1, for the listing, the help and the texts alike.
    for (const auto& arguments : std::vector<std::vector<std::string>> {
             { "-l", sales }, { "--help" }, { "--version" }, { "-o", "-", sales, sales } }) {
        const FailingRun full = RunIntoFailing(arguments, 10, ENOSPC);
        EXPECT_EQ(full.status, 1) << arguments[0];
        EXPECT_EQ(full.err, "vellumcast-cli: standard output: No space left on device\n") << arguments[0];
    }
    // A closed pipe (SIGPIPE ignored): no message, and the work stops at once: the names
    // printed fail at the first file, so no other is written.
    vt::TempDir out;
    const FailingRun closed = RunIntoFailing({ "-j", "1", "-m", "row", "-o", out.Path(), sales }, 0, EPIPE);
    EXPECT_EQ(closed.status, 1);
    EXPECT_EQ(closed.err, "");
    EXPECT_EQ(FilesIn(out.Path()).size(), 1u);
    EXPECT_EQ(closed.attempts, 1u);
}

TEST(CommandLineStreams, APipeNamedAsAFileIsReadAsStandardInputIsAndNamedFromItsPath)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no FIFOs in its file system";
#else
    vt::TempDir in, out;
    const std::string fifo = in.File("pipe.csv");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << "a,b\r\n1,2\r\n"; });
    const CliRun run = RunCli({ "--no-quotes", "-o", out.Path(), fifo });
    writer.join();
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(FilesIn(out.Path()), std::vector<std::string> { "pipe.txt" });
    EXPECT_NE(vt::ReadBytes(out.File("pipe.txt")).find("a\tb\r\n1\t2\r\n"), std::string::npos);
    // A folder search still passes such an entry over without opening it.
    const CliRun search = RunCli({ "-l", in.Path() });
    EXPECT_EQ(search.out, "");
    EXPECT_NE(search.err.find("no workbook found"), std::string::npos) << search.err;
#endif
}

TEST(CommandLineStreams, AStreamIsReadWithinItsLimitAndRefusedPastIt)
{
    const auto reader = [](std::string bytes) {
        return [bytes, at = size_t(0)](char* buffer, size_t size) mutable {
            const size_t n = std::min(size, bytes.size() - at);
            std::memcpy(buffer, bytes.data() + at, n);
            at += n;
            return static_cast<ssize_t>(n);
        };
    };
    const auto text = [](const std::shared_ptr<const spreadsheet::FileBytes>& bytes) {
        const auto view = bytes->Bytes();
        return std::string(reinterpret_cast<const char*>(view.data()), view.size());
    };
    EXPECT_EQ(text(cli::ReadStream(reader("12345"), 5)), "12345");
    EXPECT_EQ(text(cli::ReadStream(reader(""), 5)), "");
    try {
        cli::ReadStream(reader("123456"), 5);
        ADD_FAILURE() << "a stream past the limit was read";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("more than 5 bytes"), std::string::npos) << error.what();
    }
    EXPECT_EQ(text(cli::ReadStream(reader(std::string(3 << 20, 'x')))), std::string(3 << 20, 'x')); // chunks join up
    // Standard input past the limit is one workbook's failure, named as stdin.
    const CliRun empty = RunCli({ "-o", "-", "-" }, "");
    EXPECT_EQ(empty.status, 1);
    EXPECT_TRUE(empty.err.starts_with("vellumcast-cli: stdin: ")) << empty.err;
}

#ifndef _WIN32 // the peak is measured with getrusage
size_t SizeOf(const std::shared_ptr<const spreadsheet::FileBytes>& bytes)
{
    return static_cast<size_t>(bytes->Size());
}

TEST(CommandLineStreams, AStreamCostsTheMemoryOfItsSizeNotTwice)
{
    // 65 MiB, just past a power of two: a buffer grown by doubling holds the 64 MiB read
    // and the copy of them at once. Read into memory reserved for the limit at once, the
    // stream costs its size and a piece.
    constexpr size_t kSize = size_t(65) << 20;
    size_t given = 0;
    const auto generate = [&](char* buffer, size_t size) {
        const size_t n = std::min(size, kSize - given);
        std::memset(buffer, 'x', n);
        given += n;
        return static_cast<ssize_t>(n);
    };
    struct rusage before { };
    ::getrusage(RUSAGE_SELF, &before);
    const auto bytes = cli::ReadStream(generate);
    struct rusage after { };
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_EQ(SizeOf(bytes), kSize);
    if (vt::kPeakMemoryMeasurable) {
        EXPECT_LT((after.ru_maxrss - before.ru_maxrss) * 1024, static_cast<long>(kSize + (8 << 20))) << "KiB";
    }
}
#endif

TEST(CommandLineTerminal, ProgressIsErasedBeforeEveryMessageAndAtTheEnd)
{
    vt::TempDir out;
    const std::string book = vt::Fixture("workbooks/inventory-table.xlsx");
    const auto run = [&](std::vector<std::string> arguments) {
        std::istringstream in;
        std::ostringstream stdoutText, err;
        const int status = cli::RunCommandLine(arguments, in, stdoutText, err, true);
        EXPECT_LE(status, 1);
        return err.str();
    };
    const std::string shown = run({ "-j", "1", "-o", out.Path(), book, out.File("missing.xlsx"), book });
    EXPECT_NE(shown.find("%"), std::string::npos) << "no progress was drawn";
    EXPECT_EQ(Drawn(shown),
        (std::vector<std::string> { "vellumcast-cli: " + out.File("missing.xlsx") + ": the file does not exist",
            "vellumcast-cli: 1 result was saved under a new name, because the name was used earlier in this save, "
            "is a workbook of the list or is too long",
            "" }));
    const std::string many = run({ "-j", "2", "-o", "-", book, book });
    EXPECT_NE(many.find("2 of 2 workbooks"), std::string::npos);
    EXPECT_EQ(Drawn(many), std::vector<std::string> { "" });
    // Quiet: nothing at all on standard error, progress included.
    EXPECT_EQ(run({ "-q", "-j", "1", "-o", out.Path(), book }), "");
}

TEST(CommandLineNames, ATemplateKeepsWorkbooksOfOneStemApartAcrossRuns)
{
    vt::TempDir in, out;
    for (const char* name : { "Sales.xlsx", "Sales.ods" })
        fs::copy_file(vt::Fixture(std::string("workbooks/date.") + (name[6] == 'x' ? "xlsx" : "ods")), in.File(name));
    for (const char* name : { "Sales.xlsx", "Sales.ods" }) {
        const CliRun run = RunCli({ "-m", "sheet", "--name", "{book}.{ext}_{sheet}", "-o", out.Path(), in.File(name) });
        ASSERT_EQ(run.status, 0) << run.err;
    }
    const auto files = FilesIn(out.Path());
    ASSERT_EQ(files.size(), 2u);
    EXPECT_TRUE(files[0].starts_with("Sales.ods_")) << files[0];
    EXPECT_TRUE(files[1].starts_with("Sales.xlsx_")) << files[1];
}

TEST(CommandLineNames, ControlCharactersInNamesAreEscapedWhereverANameIsPrinted)
{
    EXPECT_EQ(cli::Escaped("a\033[31mb\tc\nd\re\x01\x7F\xC2\x9B\xC3\xA9"),
        "a\\e[31mb\\tc\\nd\\re\\x01\\x7F\\xC2\\x9B\xC3\xA9");
#ifdef _WIN32
    GTEST_SKIP() << "Windows file names cannot hold control characters";
#endif
    vt::TempDir in;
    // A text workbook's worksheet is named after its file, control characters and all.
    const std::string book = in.Write("red\033[31m\tname\nline\a.csv", "x\n");
    const std::string shownBook = in.File("red\\e[31m\\tname\\nline\\x07.csv");
    const CliRun list = RunCli({ "-l", book });
    EXPECT_EQ(list.out, shownBook + "\n1\tred\\e[31m\\tname\\nline\\x07\tvisible\tA1:A1" + kNoLayout + "\n");
    const CliRun missing = RunCli({ "-s", "\033[2J", "-o", "-", book });
    EXPECT_EQ(missing.err, "vellumcast-cli: " + shownBook + ": there is no worksheet \"\\e[2J\" in it\n");
    for (const std::string& text : { list.out, list.err, missing.err })
        EXPECT_EQ(text.find('\033'), std::string::npos);
}

TEST(CommandLineSmallThings, EmptyChosenSheetsCsvCommasAndQuietNotices)
{
    vt::TempDir in, out;
    vt::XlsxWriter writer;
    writer.AddSheet("Data").InlineString(1, 1, "a,b");
    writer.AddSheet("Blank");
    const std::string book = writer.Save(in.File("book.xlsx"));
    // An empty worksheet asked for by name: said, and nothing written.
    const CliRun blank = RunCli({ "-m", "sheet", "-s", "Blank", "-o", out.Path(), book });
    EXPECT_EQ(blank.status, 0);
    EXPECT_EQ(blank.err,
        "vellumcast-cli: " + book + ": warning: the worksheet \"Blank\" is empty, so no text was written for it\n");
    EXPECT_EQ(FilesIn(out.Path()).size(), 0u);
    EXPECT_EQ(RunCli({ "-l", book }).out,
        book + "\n1\tData\tvisible\tA1:A1" + kNoLayout + "\n2\tBlank\tvisible\tempty" + kNoLayout + "\n");
    // --csv alone separates with commas; a divider given still wins.
    EXPECT_EQ(
        RunCli({ "--csv", "--lf", "-m", "sheet", "-s", "1", "-o", "-", in.Write("t.csv", "x,y\n") }).out, "x,y\n");
    EXPECT_EQ(RunCli({ "--csv", "-d", "tab", "--lf", "-o", "-", "-s", "Data", "-m", "sheet", book }).out, "a,b\n");
    // Quiet leaves only errors: the names saved under a new name are not listed.
    const CliRun twice = RunCli({ "-q", "-s", "Data", "-m", "sheet", "-o", out.Path(), book, book });
    EXPECT_EQ(twice.status, 0);
    EXPECT_EQ(twice.err, "");
    EXPECT_EQ(twice.out, "");
    EXPECT_EQ(FilesIn(out.Path()).size(), 2u);
}

#ifndef _WIN32 // TMPDIR is what POSIX systems take the temporary folder from
// Sets TMPDIR for the life of a test, and puts it back afterwards.
class ScopedTemporaryFolder {
public:
    explicit ScopedTemporaryFolder(const std::string& folder)
    {
        if (const char* old = std::getenv("TMPDIR"))
            m_old = old;
        ::setenv("TMPDIR", folder.c_str(), 1);
    }
    ~ScopedTemporaryFolder()
    {
        if (m_old)
            ::setenv("TMPDIR", m_old->c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }
    ScopedTemporaryFolder(const ScopedTemporaryFolder&) = delete;
    ScopedTemporaryFolder& operator=(const ScopedTemporaryFolder&) = delete;

private:
    std::optional<std::string> m_old;
};

TEST(CommandLineTemporaryFolder, AnUnusableTemporaryFolderIsSaidOnceAndTheTextsGoBesideTheOutput)
{
    // Texts that may still be taken back are held out of memory past 8 MiB: the rows of a
    // worksheet after the one written as it comes, or a worksheet's text on its way to
    // standard output. With TMPDIR missing or naming a file, they go to the output folder
    // (or, for standard output, the system's temporary folder) and a warning says so
    // once; before, they stayed in memory without a word, however large.
    vt::TempDir in;
    std::string rows;
    for (int r = 0; r < 40; ++r)
        rows += std::string(300 << 10, static_cast<char>('a' + r % 26)) + "\n";
    const std::string book = in.Write("long.csv", rows);
    const std::string notAFolder = in.Write("plain", "x");
    for (const std::string& temporary : { in.File("missing"), notAFolder }) {
        SCOPED_TRACE(temporary);
        const std::string out = in.File(temporary == notAFolder ? "out-a" : "out-b");
        fs::create_directory(out);
        const ScopedTemporaryFolder folder(temporary);
        const CliRun saved = RunCli({ "-m", "row", "--no-quotes", "-o", out, book });
        ASSERT_EQ(saved.status, 0) << saved.err;
        EXPECT_EQ(FilesIn(out).size(), 40u);
        EXPECT_TRUE(vt::ReadBytes(out + "/long_long_40.txt") == std::string(300 << 10, 'n') + "\r\n");
        const std::string notice = "no temporary file can be made in " + temporary;
        const size_t said = saved.err.find(notice);
        ASSERT_NE(said, std::string::npos) << saved.err;
        EXPECT_EQ(saved.err.find(notice, said + 1), std::string::npos) << "said more than once: " << saved.err;
        EXPECT_NE(saved.err.find("go to " + out + " instead"), std::string::npos) << saved.err;

        const CliRun printed = RunCli({ "-m", "sheet", "--no-quotes", "--lf", "-o", "-", book });
        ASSERT_EQ(printed.status, 0) << printed.err;
        EXPECT_TRUE(printed.out == rows);
        EXPECT_NE(printed.err.find(notice), std::string::npos) << printed.err;
    }
}
#endif
