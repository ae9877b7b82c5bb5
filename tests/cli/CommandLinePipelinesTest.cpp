// What a pipeline or a nightly job relies on: JSON Lines, nothing asked for dropped
// without a word, a run that exported nothing told as a failure, trees mirrored into the
// output folder, and re-runs that read only workbooks.

#include "cli/CliRun.h"
#include "cli/Workbooks.h"
#include "results/SaveResults.h"
#include "support/RecordingPorts.h"
#include "support/TempDir.h"
#include "support/XlsxWriter.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

using namespace vellumcast;
namespace vt = vellumcast::testing;
namespace fs = std::filesystem;

using vt::CliRun;
using vt::FilesIn;
using vt::RunCli;

namespace {

// Sheets "Sales" (a number, a logical value, text that looks like a number, a blank and
// a line break), "Notes" and the hidden "Secret".
std::string Book(vt::TempDir& dir)
{
    vt::XlsxWriter writer;
    writer.AddSheet("Sales")
        .InlineString(1, 1, "two\nlines")
        .Number(1, 2, 4006381333931)
        .Boolean(1, 3, true)
        .InlineString(1, 5, "0123");
    writer.AddSheet("Notes").InlineString(1, 1, "n");
    writer.AddSheet("Secret", vt::XlsxVisibility::Hidden).InlineString(1, 1, "s");
    return writer.Save(dir.File("book.xlsx"));
}

} // namespace

TEST(CommandLinePipelines, JsonLinesGiveOneArrayPerRowAndAnObjectPerWorksheet)
{
    vt::TempDir dir;
    const std::string book = Book(dir);
    CliRun run = RunCli({ "--jsonl", "-s", "Sales", "-s", "Notes", "-o", "-", book });
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
        "{\"sheet\": \"Sales\"}\n[\"two\\nlines\",\"4.00638E+12\",\"TRUE\",\"\",\"0123\"]\n"
        "{\"sheet\": \"Notes\"}\n[\"n\"]\n");
    // Raw values are typed: every digit of the number, true, null for the blank cell.
    run = RunCli({ "--jsonl", "--values", "raw", "-m", "sheet", "-s", "Sales", "-o", "-", book });
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "[\"two\\nlines\",4006381333931,true,null,\"0123\"]\n");
    // What JSON cannot honour is bad usage, not silently dropped.
    for (const char* text : { "--csv", "--no-quotes", "--divider=;" }) {
        run = RunCli({ "--jsonl", text, "-o", "-", book });
        EXPECT_EQ(run.status, 2) << text;
        EXPECT_NE(run.err.find("--jsonl cannot be given with"), std::string::npos) << run.err;
    }
    EXPECT_EQ(RunCli({ "--cell-breaks", "newline", "-o", "-", book }).status, 2);
    run = RunCli({ "--cell-breaks", "space", "--no-quotes", "-m", "sheet", "-s", "1", "-o", "-", book });
    EXPECT_EQ(run.out, "two lines\t4.00638E+12\tTRUE\t\t0123\r\n");
}

TEST(CommandLineChoice, AWorksheetNamedButLeftOutByAnotherOptionIsWarnedOfNamingBoth)
{
    vt::TempDir dir;
    const std::string book = Book(dir);
    const struct {
        std::vector<std::string> options;
        std::string warning; // "" for none
    } cases[] = {
        { { "--skip-hidden", "-s", "Secret" },
            "the worksheet \"Secret\" named with --sheet is left out by --skip-hidden" },
        { { "--exclude", "^S", "-s", "Sales", "-s", "Notes" },
            "the worksheet \"Sales\" named with --sheet is left out by --exclude \"^S\"" },
        { { "--exclude", "Note", "--exclude", "ale", "-s", "Sales" },
            "the worksheet \"Sales\" named with --sheet is left out by --exclude \"ale\"" },
        { { "--skip-hidden", "--exclude", "Secret" }, "" }, // nothing named, nothing to warn of
        { { "--skip-hidden", "-s", "Sales" }, "" },
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = c.options;
        arguments.insert(arguments.end(), { "-m", "sheet", "-o", "-", book });
        const CliRun run = RunCli(arguments);
        EXPECT_EQ(run.status, 0) << run.err;
        const std::string expected
            = c.warning.empty() ? "" : "vellumcast-cli: " + book + ": warning: " + c.warning + "\n";
        EXPECT_EQ(run.err, expected) << c.options[0];
    }
}

TEST(CommandLineChoice, FailEmptyMakesARunThatExportedNothingFail)
{
    vt::TempDir dir, out;
    const std::string book = Book(dir);
    fs::create_directory(dir.File("empty"));
    const struct {
        std::vector<std::string> arguments;
        int status;
    } cases[] = {
        { { dir.File("empty") }, 1 },
        { { "--include", "^Q[1-4]$", book }, 1 },
        { { "-m", "sheet", "--skip-hidden", "-s", "Secret", book }, 1 },
        { { "-s", "Notes", book }, 0 },
        { { "-l", dir.File("empty") }, 1 },
        { { "-l", book }, 0 },
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = { "-q", "--fail-empty", "-o", out.Path() };
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const CliRun run = RunCli(arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments[0] << ": " << run.err;
        // Without --fail-empty the same run succeeds.
        arguments.erase(arguments.begin() + 1);
        EXPECT_EQ(RunCli(arguments).status, 0) << c.arguments[0];
    }
    EXPECT_NE(
        RunCli({ "--fail-empty", "-o", "-", dir.File("empty") }).err.find("no text was exported"), std::string::npos);
}

TEST(CommandLineRunTwice, TextsTakenWhenAskedForAreNeverTheRunsOwn)
{
    vt::TempDir d;
    fs::copy_file(vt::Fixture("workbooks/inventory-table.xlsx"), d.File("Stock.xlsx"));
    d.Write("Contacts.csv", "name,phone\r\nAda,1\r\n");
    d.Write("notes.txt", "a\tb\n");
    const std::vector<std::string> expected
        = { "Contacts.csv", "Contacts_Contacts.txt", "Stock.xlsx", "Stock_Sheet1.txt", "notes.txt", "notes_notes.txt" };
    for (int run = 0; run < 3; ++run) {
        const CliRun again
            = RunCli({ "-q", "-m", "sheet", "-e", "csv", "-e", "txt", "-e", "xlsx", "-o", d.Path(), d.Path() });
        ASSERT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(FilesIn(d.Path()), expected) << run;
    }
    // A tree mirrored into itself, rows numbered: its texts are left out at every level.
    fs::create_directories(d.File("a/sub"));
    d.Write("a/sub/Deep.csv", "x\r\ny\r\n");
    const std::vector<std::string> name = { "-m", "row", "--name", "{dir}/{book}_{n:03}" };
    for (int run = 0; run < 2; ++run) {
        std::vector<std::string> arguments = { "-q", "-r", "-e", "csv", "-e", "txt", "-o", d.Path() };
        arguments.insert(arguments.end(), name.begin(), name.end());
        arguments.push_back(d.Path());
        const CliRun again = RunCli(arguments);
        ASSERT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(FilesIn(d.File("a/sub")), (std::vector<std::string> { "Deep.csv", "Deep_001.txt", "Deep_002.txt" }));
    }
}

TEST(CommandLineNames, ATreeIsMirroredInsideTheOutputFolder)
{
    vt::TempDir in, out;
    fs::create_directories(in.File("t/a/sub"));
    in.Write("t/a/X.csv", "a\r\n");
    in.Write("t/a/sub/X.csv", "b\r\n");
    in.Write("t/top.csv", "c\r\n");
    const CliRun run = RunCli({ "-r", "--no-quotes", "--name", "{dir}/{book}", "-o", out.Path(), in.File("t") });
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, out.File("top.txt") + "\n" + out.File("a/X.txt") + "\n" + out.File("a/sub/X.txt") + "\n");
    EXPECT_NE(vt::ReadBytes(out.File("a/sub/X.txt")).find("b\r\n"), std::string::npos);
    // A workbook named as it is has no folder: its text lands in the output folder itself.
    const CliRun named = RunCli({ "--name", "{dir}/{book}", "-o", out.Path(), in.File("t/a/sub/X.csv") });
    EXPECT_EQ(named.out, out.File("X.txt") + "\n");
    EXPECT_EQ(RunCli({ "--name", "{book}{dir}", "-o", "-", in.File("t/top.csv") }).status, 2);
}

TEST(CommandLineStreams, WorkbooksNamedByADescriptorAreNamedStdin)
{
    const std::vector<std::pair<std::string, std::string>> cases = { { "-", "stdin" }, { "/dev/fd/63", "stdin" },
        { "/proc/self/fd/12", "stdin" }, { "/dev/stdin", "/dev/stdin" }, { "/dev/fd/", "/dev/fd/" },
        { "/dev/fd/6x", "/dev/fd/6x" }, { "data/fd/63", "data/fd/63" }, { "book.xlsx", "book.xlsx" } };
    for (const auto& [argument, shown] : cases)
        EXPECT_EQ(cli::ShownName(argument), shown) << argument;
}

TEST(CommandLineDeathTest, ASignalEndingASaveIsSaidWithTheProgramsName)
{
#ifdef _WIN32
    GTEST_SKIP() << "a Windows process cannot send itself SIGTERM";
#else
    // The file calls of a save that SIGTERM reaches as its second file is opened.
    class SignalledCalls final : public core::FileCalls {
    public:
        int Open(int folder, const std::string& name, int flags, mode_t mode) override
        {
            if (++m_opened == 2)
                ::kill(::getpid(), SIGTERM);
            return FileCalls::Open(folder, name, flags, mode);
        }

    private:
        int m_opened = 0;
    };
    vt::TempDir dir, out;
    const std::string book = Book(dir);
    const auto run = [&] {
        // The command line sets how the message starts, for the rest of the process.
        RunCli({ "-q", "-o", out.Path(), book });
        SignalledCalls calls;
        vt::RecordingReporter reporter;
        vt::CountingPump pump;
        results::SaveSession session(out.Path(), options::SaveMode::EachSheet, {}, { reporter, pump, nullptr, &calls });
        session.Save({ { "b.txt", "A", 0, "a" }, { "b.txt", "B", 0, "b" }, { "b.txt", "C", 0, "c" } });
        std::_Exit(0);
    };
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(128 + SIGTERM), "^vellumcast-cli: Interrupted by SIGTERM: ");
#endif
}
