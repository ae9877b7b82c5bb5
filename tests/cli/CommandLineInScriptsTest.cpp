// What a script relies on: no invented text, a re-run that reads only workbooks, errors
// and warnings one line each, and standard output whose failures are failures.

#include "cli/CliRun.h"
#include "support/TempDir.h"
#include "support/XlsxWriter.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace vellumcast;
namespace vt = vellumcast::testing;
namespace fs = std::filesystem;

using vt::CliRun;
using vt::FilesIn;
using vt::RunCli;

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
