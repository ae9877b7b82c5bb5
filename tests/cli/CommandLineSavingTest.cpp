// Saving never destroys: a text cut short is never written, a pending file survives a
// run in another PID namespace, every result not written is named, and --no-clobber
// keeps the folder's files.

#include "cli/CliRun.h"
#include "cli/Messages.h"
#include "results/SaveResults.h"
#include "support/RecordingPorts.h"
#include "support/TempDir.h"
#include "support/XlsxWriter.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#ifndef _WIN32
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace vellumcast;
namespace vt = vellumcast::testing;
using vt::CliRun;
using vt::FilesIn;
using vt::RunCli;

namespace {

// A workbook whose second worksheet fails as it is read, after the first one's text is
// composed: in the all-sheets mode its one text is cut short.
std::string FailingWorkbook(vt::TempDir& dir, const std::string& name)
{
    vt::XlsxWriter book;
    book.AddSheet("Good").SharedString(1, 1, "kept");
    book.AddSheet("Bad").RawSheetData(
        "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row><row r=\"2000000\"><c r=\"A2000000\"><v>2</v></c></row>");
    return book.Save(dir.File(name));
}

size_t Count(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

} // namespace

// A workbook that fails part-way: its text is not written, so a good earlier export of it
// stays whole, and the result is named as not written; nothing is left behind.
TEST(CommandLineSaving, ATextCutShortIsNeverWrittenAndIsNamedAsNotWritten)
{
    vt::TempDir in;
    const std::string book = FailingWorkbook(in, "b.xlsx");
    for (const bool earlier : { true, false }) {
        SCOPED_TRACE(earlier);
        vt::TempDir out;
        if (earlier)
            out.Write("b.txt", "good\n");
        const CliRun run = RunCli({ "-o", out.Path(), book });
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "") << "nothing is printed as written";
        EXPECT_NE(run.err.find("\"Bad\""), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(cli::ErrorLine(
                      out.File("b.txt"), "not written: its text is cut short by a failure of its workbook")),
            std::string::npos)
            << run.err;
        EXPECT_EQ(FilesIn(out.Path()), earlier ? std::vector<std::string> { "b.txt" } : std::vector<std::string> {});
        EXPECT_EQ(vt::ReadBytes(out.File("b.txt")), earlier ? "good\n" : "");
    }
}

// Each result not written is named on a line of its own, up to twenty, then counted.
TEST(CommandLineSaving, EveryResultNotWrittenIsNamedUpToTwentyThenCounted)
{
    vt::TempDir in, out;
    std::vector<std::string> arguments { "-q", "-j", "2", "-o", out.Path() };
    for (int i = 0; i < 23; ++i)
        arguments.push_back(FailingWorkbook(in, "w" + std::to_string(100 + i) + ".xlsx"));
    const CliRun run = RunCli(arguments);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("vellumcast-cli: 23 results were not written, 23 of them cut short by a failure of their "
                           "workbook.\n"),
        std::string::npos)
        << run.err;
    EXPECT_EQ(Count(run.err, ": not written: "), 20u) << run.err;
    EXPECT_NE(run.err.find(out.File("w119.txt") + ": not written"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(out.File("w120.txt") + ": not written"), std::string::npos) << run.err;
    EXPECT_TRUE(run.err.ends_with("vellumcast-cli: and 3 more not written.\n")) << run.err;
    EXPECT_TRUE(FilesIn(out.Path()).empty());
}

// By default a save replaces a file of the same name (the nightly script's case); with
// --no-clobber the folder's files stay and the new text takes the next free name.
TEST(CommandLineSaving, NoClobberKeepsTheFoldersFilesAndNamesTheNewTextsAfterThem)
{
    vt::TempDir in;
    const std::string book = in.Write("a.csv", "x\n");
    const struct {
        bool noClobber;
        std::string written; // the file the text went to
    } cases[] = { { false, "a.txt" }, { true, "a (3).txt" } };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.noClobber);
        vt::TempDir out;
        out.Write("a.txt", "mine");
        out.Write("a (2).txt", "mine too");
        std::vector<std::string> arguments { "-o", out.Path(), book };
        if (test.noClobber)
            arguments.insert(arguments.begin(), "--no-clobber");
        const CliRun run = RunCli(arguments);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, out.File(test.written) + "\n");
        EXPECT_EQ(vt::ReadBytes(out.File(test.written)), "a\r\n\"x\"\r\n\r\n\r\n\r\n");
        EXPECT_EQ(vt::ReadBytes(out.File("a (2).txt")), "mine too");
        if (test.noClobber) {
            EXPECT_EQ(vt::ReadBytes(out.File("a.txt")), "mine");
            EXPECT_NE(run.err.find("1 result was saved under a new name"), std::string::npos) << run.err;
            EXPECT_NE(run.err.find("a file kept in the folder"), std::string::npos) << run.err;
        } else {
            EXPECT_EQ(run.err, "");
        }
    }
}

// A run in another PID namespace (a container beside this one) sees no process of this
// run's number. While this run is stopped in the middle of writing a result, that run
// saves into the same folder: the pending file must survive it, and this run's result is
// put in place whole once it goes on.
TEST(CommandLineSaving, APendingFileSurvivesARunInAnotherPidNamespace)
{
#ifdef _WIN32
    GTEST_SKIP() << "PID namespaces are Linux's";
#else
    vt::TempDir in, out;
    const std::string other = in.Write("other.csv", "y\n");
    vt::RecordingReporter reporter;
    vt::CountingPump pump;
    results::SaveSession session(out.Path(), options::SaveMode::AllSheets, {}, { reporter, pump });
    session.Begin({ "mine.txt", "", 0, {}, options::SaveMode::AllSheets });
    session.Write("written before the other run, ");

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // As unshare --pid --fork: the run is the first process of a namespace of its own.
        if (::unshare(CLONE_NEWPID) != 0)
            ::_exit(77);
        const pid_t run = ::fork();
        if (run == 0)
            ::_exit(::getpid() == 1 && RunCli({ "-q", "-o", out.Path(), other }).status == 0 ? 0 : 1);
        int status = 0;
        ::waitpid(run, &status, 0);
        ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) {
        session.Abandon();
        GTEST_SKIP() << "no PID namespace can be made here (it takes root, or unprivileged user namespaces)";
    }
    ASSERT_EQ(WEXITSTATUS(status), 0) << "the run in the other namespace failed";
    EXPECT_EQ(vt::ReadBytes(out.File("other.txt")), "other\r\n\"y\"\r\n\r\n\r\n\r\n");

    session.Write("and after it");
    session.Commit();
    EXPECT_TRUE(reporter.reports.empty()) << reporter.reports[0].description;
    EXPECT_EQ(session.Summary().written, 1u);
    EXPECT_EQ(vt::ReadBytes(out.File("mine.txt")), "written before the other run, and after it");
    EXPECT_EQ(FilesIn(out.Path()), (std::vector<std::string> { "mine.txt", "other.txt" }));
#endif
}
