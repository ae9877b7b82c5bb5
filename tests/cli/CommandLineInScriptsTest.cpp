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
