#include "cli/CliRun.h"
#include "support/TempDir.h"
#include "support/WholeFiles.h"
#include "support/XlsxWriter.h"

#include "core/Files.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

using namespace vellumcast;
namespace vt = vellumcast::testing;
using vt::FilesIn;

using vt::CliRun;
using vt::RunCli;

TEST(CommandLineUsage, BadUsageExitsWithTwo)
{
    for (const auto& arguments : std::vector<std::vector<std::string>> {
             {}, { "--mode", "diagonal", "a.xlsx" }, { "--frobnicate", "a.xlsx" }, { "--divider" }, { "--output" } }) {
        const CliRun run = RunCli(arguments);
        EXPECT_EQ(run.status, 2) << (arguments.empty() ? "" : arguments[0]);
        EXPECT_TRUE(run.err.ends_with("\nTry 'vellumcast-cli --help'.\n")) << run.err;
    }
    EXPECT_EQ(RunCli({ "--help" }).status, 0);
    EXPECT_NE(RunCli({ "--help" }).out.find("--skip-blank"), std::string::npos);
}

TEST(CommandLineUsage, DefaultsAreThoseOfTheFirstStart)
{
    std::string error;
    const auto parsed = cli::ParseArguments({ "a.xlsx" }, error);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->exportOptions.saveMode, options::SaveMode::AllSheets);
    EXPECT_EQ(parsed->exportOptions.divider, "\t");
    EXPECT_TRUE(parsed->exportOptions.includeBlankCells);
    EXPECT_TRUE(parsed->exportOptions.quoteCells);
    EXPECT_EQ(parsed->outputFolder, ".");
}

TEST(CommandLineUsage, DividerWordsAndAnyOtherText)
{
    const std::vector<std::pair<std::string, std::string>> cases
        = { { "tab", "\t" }, { "comma", "," }, { "comma-space", ", " }, { "space", " " }, { " | ", " | " },
              { "TAB", "\t" }, { "Comma-Space", ", " }, { "\\t", "\t" }, { "\\t\\t", "\\t\\t" } };
    for (const auto& [word, divider] : cases) {
        std::string error;
        const auto parsed = cli::ParseArguments({ "--divider", word, "a.xlsx" }, error);
        ASSERT_TRUE(parsed) << error;
        EXPECT_EQ(parsed->exportOptions.divider, divider) << word;
    }
    std::string error;
    const auto parsed = cli::ParseArguments({ "--divider=;", "--", "--odd-name.xlsx" }, error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_EQ(parsed->exportOptions.divider, ";");
    EXPECT_EQ(parsed->workbooks, std::vector<std::string> { "--odd-name.xlsx" });
}

TEST(CommandLineExport, DefaultOptionsGiveTheAllSheetsTextByteForByte)
{
    vt::TempDir out;
    const CliRun run = RunCli({ "--output", out.Path(), vt::Fixture("workbooks/inventory-table.xlsx") });
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(FilesIn(out.Path()), std::vector<std::string> { "inventory-table.txt" });
    EXPECT_EQ(vt::ReadBytes(out.File("inventory-table.txt")),
        "Sheet1\r\n"
        "\"Item\"\t\"Type\"\t\"Quantity\"\r\n"
        "\"1\"\t\"Apple\"\t\"50\"\r\n"
        "\"2\"\t\"Banana\"\t\"200\"\r\n"
        "\"3\"\t\"Orange\"\t\"60\"\r\n"
        "\"4\"\t\"Pear\"\t\"100\"\r\n"
        "\r\n\r\n\r\n");
}

TEST(CommandLineExport, RowModeOnAUsedRangeStartingLow)
{
    // The sheet records C3, A9:D9 and A10:D10, so its used range is A3:D10.
    vt::TempDir out;
    const CliRun run = RunCli({ "--mode", "row", "--divider", "comma", "--no-quotes", "--output", out.Path() + "/",
        vt::Fixture("workbooks/header-row.xlsx") });
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(FilesIn(out.Path()).size(), 8u);
    EXPECT_EQ(vt::ReadBytes(out.File("header-row_Sheet1_1.txt")), ",,Note 1,\r\n");
    EXPECT_EQ(vt::ReadBytes(out.File("header-row_Sheet1_2.txt")), ",,,\r\n");
    EXPECT_EQ(vt::ReadBytes(out.File("header-row_Sheet1_7.txt")), "Columns,Column A,Column B,Column C\r\n");
    EXPECT_EQ(vt::ReadBytes(out.File("header-row_Sheet1_8.txt")), "put data here,1,2,3\r\n");
}

TEST(CommandLineExport, SkippedBlanksInColumnMode)
{
    vt::TempDir out;
    const CliRun run = RunCli({ "--mode", "column", "--skip-blank", "--divider", "|", "--output", out.Path(),
        vt::Fixture("workbooks/header-row.xlsx") });
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(vt::ReadBytes(out.File("header-row_Sheet1_1.txt")), "\"Columns\"|\"put data here\"\r\n");
    EXPECT_EQ(vt::ReadBytes(out.File("header-row_Sheet1_3.txt")), "\"Note 1\"|\"Column B\"|\"2\"\r\n");
}

TEST(CommandLineExport, EachBadWorkbookFailsOnceNamingItAndTheOthersAreExported)
{
    vt::TempDir in, out;
    const std::string zip = vt::ReadBytes(vt::Fixture("workbooks/inventory-table.xlsx"));
    std::filesystem::create_directory(in.File("folder.xlsx"));
    const std::vector<std::string> bad = {
        in.File("missing.xlsx"),
        in.File("folder.xlsx"),
        in.Write("empty.xlsx", ""),
        in.Write("text.xlsx", "just some words, really\n"),
        in.Write("truncated.xlsx", zip.substr(0, zip.size() / 2)),
        vt::Fixture("workbooks/pass_protected.xlsx"),
    };
    std::vector<std::string> arguments = { "--mode", "sheet", "--output", out.Path() };
    arguments.insert(arguments.end(), bad.begin(), bad.end());
    arguments.push_back(vt::Fixture("workbooks/inventory-table.xlsx"));
    const CliRun run = RunCli(arguments);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(FilesIn(out.Path()), std::vector<std::string> { "inventory-table_Sheet1.txt" });
    // One line per workbook, in the form a shell user reads: no location, step or e-mail.
    size_t lines = 0;
    for (size_t at = 0; (at = run.err.find('\n', at)) != std::string::npos; ++at)
        ++lines;
    EXPECT_EQ(lines, bad.size()) << run.err;
    for (const auto& path : bad)
        EXPECT_NE(run.err.find("vellumcast-cli: " + path + ": "), std::string::npos) << path << "\n" << run.err;
    EXPECT_NE(
        run.err.find("vellumcast-cli: " + in.File("missing.xlsx") + ": the file does not exist\n"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("password-protected"), std::string::npos) << run.err;
    for (const std::string boxOnly : { "at line", "Murrelet", "Cannot open", "screenshot" })
        EXPECT_EQ(run.err.find(boxOnly), std::string::npos) << boxOnly;
}

TEST(CommandLineExport, AMissingOutputFolderIsMadeWithItsParents)
{
    vt::TempDir out;
    const CliRun run = RunCli({ "--output", out.File("reports/text"), vt::Fixture("workbooks/inventory-table.xlsx") });
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(FilesIn(out.File("reports/text")), std::vector<std::string> { "inventory-table.txt" });
    EXPECT_EQ(run.err, "");
}

TEST(CommandLineExport, AnOutputPathThatIsAFileIsSaidToBeAFileAndFailsWithOne)
{
    vt::TempDir out;
    const std::string file = out.Write("taken", "x");
    for (const std::string& folder : { file, file + "/below" }) {
        const CliRun run = RunCli({ "--output", folder, vt::Fixture("workbooks/inventory-table.xlsx") });
        EXPECT_EQ(run.status, 1) << folder; // no bad usage: the command is right, the file system is in the way
        EXPECT_EQ(run.err.rfind("vellumcast-cli: " + folder + ": the output folder ", 0), 0u) << run.err;
    }
    EXPECT_EQ(vt::ReadBytes(file), "x");
}

TEST(CommandLineExport, FallbacksAreWarnedOnStandardErrorOnceEachUnlessQuiet)
{
    vt::TempDir in, out;
    vt::XlsxWriter writer;
    writer.AddSheet("S").RawSheetData("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>3</v></c><c r=\"B1\" s=\"9\"><v>2</v></c>"
                                      "<c r=\"C1\" s=\"9\"><v>4</v></c></row>");
    const std::string odd = writer.Save(in.File("odd.xlsx"));
    const CliRun run = RunCli({ "--mode", "sheet", "--output", out.Path(), odd });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(FilesIn(out.Path()), std::vector<std::string> { "odd_S.txt" });
    // Each kind of fallback once, naming the workbook, however many cells show it.
    const std::string styles = "vellumcast-cli: " + odd + ": warning: cells refer to styles";
    const std::string strings = "vellumcast-cli: " + odd + ": warning: cells refer to shared strings";
    EXPECT_NE(run.err.find(styles), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(styles, run.err.find(styles) + 1), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(strings), std::string::npos) << run.err;
    const CliRun quiet = RunCli({ "-q", "--mode", "sheet", "--output", out.Path(), odd });
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");
}

// A real workbook whose formatted empty cells run to the grid's corner exports its two
// rows, with a warning naming the part left out.
TEST(CommandLineExport, AUsedRangeFarPastItsContentExportsTheContentWithAWarning)
{
    const std::string path = vt::Fixture("workbooks/issue_174.xlsx");
    const CliRun run = RunCli({ "--mode", "sheet", "--no-quotes", "--output", "-", path });
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
        "Your Ref #\tContact Name\tContact Number\tAddress\tCity \tWeight\tPieces\tMaterial Cost\t"
        "SPL Instruction\tRemarks\tYour Company\r\n123\tTest Contact Name\tTest Contact Number\tHello Address\t"
        "My City\t1.5\t1\t1.201\tNothing SPL\tNo Remarks\tMy Company?\r\n");
    EXPECT_NE(run.err.find("vellumcast-cli: " + path + ": warning: the worksheet \"Sheet1\" is exported as A1:K2"),
        std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("L1:XFD2 and A3:XFD1048576"), std::string::npos) << run.err;
}

TEST(CommandLineUsage, ShortLongAndAttachedFormsMeanTheSame)
{
    const std::vector<std::vector<std::string>> forms = {
        { "--mode", "row", "--divider", ";", "--output", "out", "--jobs", "3", "--sheet", "Data", "--extension", "ods",
            "--recursive", "--quiet", "--list" },
        { "--mode=row", "--divider=;", "--output=out", "--jobs=3", "--sheet=Data", "--extension=ods", "--recursive",
            "--quiet", "--list" },
        { "-m", "row", "-d", ";", "-o", "out", "-j", "3", "-s", "Data", "-e", "ods", "-r", "-q", "-l" },
        { "-mrow", "-d;", "-oout", "-j3", "-sData", "-eods", "-rql" },
        { "-rqlm", "row", "-d", ";", "-oout", "-j", "3", "-s", "Data", "-e", "ods" },
    };
    for (const auto& form : forms) {
        std::vector<std::string> arguments = form;
        arguments.push_back("a.xlsx");
        std::string error;
        const auto parsed = cli::ParseArguments(arguments, error);
        ASSERT_TRUE(parsed) << error << " in form starting " << form[0];
        EXPECT_EQ(parsed->exportOptions.saveMode, options::SaveMode::EachRow) << form[0];
        EXPECT_EQ(parsed->exportOptions.divider, ";") << form[0];
        EXPECT_EQ(parsed->outputFolder, "out") << form[0];
        EXPECT_EQ(parsed->jobs, 3u) << form[0];
        EXPECT_EQ(parsed->sheets, std::vector<std::string> { "Data" }) << form[0];
        EXPECT_EQ(parsed->extensions, std::vector<std::string> { "ods" }) << form[0];
        EXPECT_TRUE(parsed->recursive && parsed->quiet && parsed->list) << form[0];
        EXPECT_EQ(parsed->workbooks, std::vector<std::string> { "a.xlsx" }) << form[0];
    }
}

TEST(CommandLineUsage, ValuesAndWorkbooksThatLookLikeOptions)
{
    std::string error;
    // A value is taken whatever it looks like; "-" alone is a workbook; after "--" all are.
    const auto parsed = cli::ParseArguments(
        { "-d", "-", "-s", "--list", "-", "--csv", "--lf", "--skip-empty-lines", "--", "-q", "--x" }, error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_EQ(parsed->exportOptions.divider, "-");
    EXPECT_EQ(parsed->sheets, std::vector<std::string> { "--list" });
    EXPECT_FALSE(parsed->list);
    EXPECT_FALSE(parsed->quiet);
    EXPECT_TRUE(parsed->exportOptions.csvQuoting && parsed->exportOptions.lineFeedOnly);
    EXPECT_TRUE(parsed->exportOptions.skipEmptyLines);
    EXPECT_EQ(parsed->workbooks, (std::vector<std::string> { "-", "-q", "--x" }));
    // The defaults leave the new choices off and take as many jobs as there are cores.
    const auto plain = cli::ParseArguments({ "a.xlsx" }, error);
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->exportOptions.csvQuoting || plain->exportOptions.lineFeedOnly);
    EXPECT_FALSE(plain->exportOptions.skipEmptyLines || plain->skipHidden || plain->recursive);
    EXPECT_EQ(plain->jobs, 0u);
}

TEST(CommandLineUsage, MistakesExitWithTwoAndTheUsageOnStandardError)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        { { "--recursiv", "a" }, "did you mean --recursive?" },
        { { "--sheets=2", "a" }, "did you mean --sheet?" },
        { { "--skip-hiden", "a" }, "did you mean --skip-hidden?" },
        { { "--out", "x", "a" }, "did you mean --output?" },
        { { "--quiet=yes", "a" }, "--quiet takes no value" },
        { { "-x", "a" }, "unknown option -x" },
        { { "-qx", "a" }, "unknown option -x" },
        { { "-j", "0", "a" }, "--jobs needs a number" },
        { { "--jobs=2x", "a" }, "--jobs needs a number" },
        { { "-j" }, "-j needs a value" },
        { { "-s" }, "-s needs a value" },
        { { "-o", "", "a" }, "--output needs a folder" },
        { { "-", "-" }, "standard input (-) can be read only once" },
        { { "-q" }, "no workbook given" },
        { { "-d", "", "a" }, "--divider needs a text" },
        { { "--name", "{book}_{page}", "a" }, "--name knows no {page}" },
        { { "--name", "{book", "a" }, "--name has a \"{\" that is not closed" },
    };
    for (const auto& [arguments, message] : cases) {
        const CliRun run = RunCli(arguments);
        EXPECT_EQ(run.status, 2) << arguments[0];
        EXPECT_NE(run.err.find(message), std::string::npos) << arguments[0] << ": " << run.err;
        // One line saying what is wrong, then where to read more: not the whole help.
        EXPECT_EQ(run.err,
            "vellumcast-cli: " + run.err.substr(16, run.err.find('\n') + 1 - 16) + "Try 'vellumcast-cli --help'.\n")
            << arguments[0];
        EXPECT_EQ(run.out, "") << arguments[0];
    }
    // A word nothing like any option gets no guess.
    EXPECT_EQ(RunCli({ "--frobnicate", "a" }).err.find("did you mean"), std::string::npos);
}

TEST(CommandLineUsage, VersionAndHelpGoToStandardOutput)
{
    for (const std::string option : { "-V", "--version" }) {
        const CliRun run = RunCli({ option });
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, cli::VersionText());
        EXPECT_EQ(run.err, "");
    }
    EXPECT_TRUE(cli::VersionText().starts_with("vellumcast-cli "));
    EXPECT_GT(cli::VersionText().size(), std::string("vellumcast-cli \n").size());
    const CliRun help = RunCli({ "-h" });
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, cli::UsageText());
}

TEST(CommandLineSave, SameNamedResultsEachGetAFileAndThePrintedNameIsTheRealOne)
{
    vt::TempDir in, out;
    std::filesystem::create_directory(in.File("first"));
    std::filesystem::create_directory(in.File("second"));
    for (const char* folder : { "first", "second" }) {
        vt::XlsxWriter book;
        book.AddSheet("Data").InlineString(1, 1, folder);
        book.AddSheet("x/y").InlineString(1, 1, "slash");
        book.AddSheet("x_y").InlineString(1, 1, "underscore");
        book.Save(in.File(std::string(folder) + "/Book.xlsx"));
    }
    const CliRun run = RunCli({ "--mode", "sheet", "--no-quotes", "--output", out.Path(), in.File("first/Book.xlsx"),
        in.File("second/Book.xlsx") });
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
        out.File("Book_Data.txt") + "\n" + out.File("Book_x_y.txt") + "\n" + out.File("Book_x_y (2).txt") + "\n"
            + out.File("Book_Data (2).txt") + "\n" + out.File("Book_x_y (3).txt") + "\n" + out.File("Book_x_y (4).txt")
            + "\n");
    EXPECT_EQ(FilesIn(out.Path()).size(), 6u);
    EXPECT_EQ(vt::ReadBytes(out.File("Book_Data.txt")), "first\r\n");
    EXPECT_EQ(vt::ReadBytes(out.File("Book_Data (2).txt")), "second\r\n");
    EXPECT_EQ(vt::ReadBytes(out.File("Book_x_y (2).txt")), "underscore\r\n");
    EXPECT_NE(run.err.find("4 results were saved under a new name"), std::string::npos) << run.err;
}

TEST(CommandLineSave, ATextWorkbookExportedIntoItsOwnFolderIsKept)
{
    vt::TempDir dir;
    const std::string data = dir.Write("data.txt", "a\tb\n1\t2\n");
    const CliRun run = RunCli({ "--output", dir.Path(), data });
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(vt::ReadBytes(data), "a\tb\n1\t2\n");
    EXPECT_EQ(run.out, dir.File("data (2).txt") + "\n");
    EXPECT_NE(vt::ReadBytes(dir.File("data (2).txt")).find("\"a\"\t\"b\"\r\n"), std::string::npos);
}

TEST(CommandLineSave, AResultNotWrittenGivesExitStatusOneAndIsNotPrinted)
{
    vt::TempDir out;
    std::filesystem::create_directory(out.File("inventory-table_Sheet1.txt"));
    const CliRun run
        = RunCli({ "--mode", "sheet", "--output", out.Path(), vt::Fixture("workbooks/inventory-table.xlsx") });
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("vellumcast-cli: " + out.File("inventory-table_Sheet1.txt") + ": "), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("1 result was not written."), std::string::npos) << run.err;
}

// A worksheet whose texts outgrow what its small file may give fails while its text is
// being composed, long after the first of it went to the temporary file: no file of it,
// whole or half, may appear under its name, a file already there stays as it was, and
// no temporary file is left behind.
TEST(CommandLineSave, AWorksheetFailingMidExportLeavesNoHalfFileUnderItsName)
{
    vt::TempDir in;
    vt::TempDir out;
    const std::string longText(32'000, 'w');
    vt::XlsxWriter book;
    book.AddSheet("Good").SharedString(1, 1, "kept").SharedString(2, 1, "whole");
    auto& huge = book.AddSheet("Huge");
    for (int row = 1; row <= 4'000; ++row)
        huge.SharedString(row, 1, longText);
    const std::string path = book.Save(in.File("book.xlsx"));
    vellumcast::testing::WriteFile(out.File("book_Huge.txt"), "earlier");

    const CliRun run = RunCli({ "-q", "--mode", "sheet", "--output", out.Path(), path });
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("\"Huge\""), std::string::npos) << run.err;
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(out.Path()))
        files.push_back(entry.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string> { "book_Good.txt", "book_Huge.txt" }));
    EXPECT_EQ(core::ReadTextFile(out.File("book_Huge.txt")), "earlier");
    EXPECT_EQ(core::ReadTextFile(out.File("book_Good.txt")), "\"kept\"\r\n\"whole\"\r\n");
}

// The same failing worksheet, its lines handed over in entries of their own or as one
// text: nothing of what was taken back reaches standard output, nor a file, while the
// worksheet before it is written whole and a file of the failed one stays as it was.
TEST(CommandLineSave, AWorksheetTakenBackLeavesNothingOnStandardOutputNorAnyFile)
{
    vt::TempDir in;
    vt::XlsxWriter book;
    book.AddSheet("Good").SharedString(1, 1, "kept").SharedString(2, 1, "whole");
    auto& huge = book.AddSheet("Huge");
    for (int row = 1; row <= 4'000; ++row)
        huge.SharedString(row, 1, std::string(32'000, 'w'));
    const std::string path = book.Save(in.File("book.xlsx"));

    for (const std::string mode : { "sheet", "row" }) {
        SCOPED_TRACE(mode);
        const CliRun printed = RunCli({ "-q", "--mode", mode, "--output", "-", path });
        EXPECT_EQ(printed.status, 1);
        EXPECT_NE(printed.err.find("\"Huge\""), std::string::npos) << printed.err;
        EXPECT_EQ(printed.out, "\"kept\"\r\n\"whole\"\r\n");

        vt::TempDir out;
        const std::string earlier = out.File(mode == "row" ? "book_Huge_1.txt" : "book_Huge.txt");
        vellumcast::testing::WriteFile(earlier, "earlier");
        const CliRun saved = RunCli({ "--mode", mode, "--output", out.Path(), path });
        EXPECT_EQ(saved.status, 1);
        EXPECT_EQ(core::ReadTextFile(earlier), "earlier");
        for (const auto& entry : std::filesystem::directory_iterator(out.Path())) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name.find("Good") != std::string::npos || entry.path() == earlier) << name;
        }
        EXPECT_EQ(saved.out.find("Huge"), std::string::npos) << saved.out;
    }
}
