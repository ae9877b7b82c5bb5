#include "cli/CliRun.h"
#include "cli/InOrderJobs.h"
#include "support/TempDir.h"
#include "support/XlsxWriter.h"

#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <thread>

using namespace vellumcast;
namespace vt = vellumcast::testing;
namespace fs = std::filesystem;

using vt::CliRun;
using vt::FilesIn;
using vt::RunCli;

namespace {

const std::string kInventory = "workbooks/inventory-table.xlsx";
const std::string kAnySheets = "workbooks/any_sheets.xlsx"; // Visible, Hidden, VeryHidden
// What --list says of a worksheet that hides nothing and merges nothing.
const std::string kNoLayout = "\t0 hidden rows, 0 hidden columns, 0 merged areas";

// layers.xlsx: First (visible) holds "one", Second (hidden) "two", Third (very hidden) "three".
std::string LayersBook(const vt::TempDir& folder)
{
    vt::XlsxWriter writer;
    writer.AddSheet("First").SharedString(1, 1, "one");
    writer.AddSheet("Second", vt::XlsxVisibility::Hidden).SharedString(1, 1, "two");
    writer.AddSheet("Third", vt::XlsxVisibility::VeryHidden).SharedString(1, 1, "three");
    return writer.Save(folder.File("layers.xlsx"));
}

// Every file of folder with its bytes.
std::map<std::string, std::string> Contents(const std::string& folder)
{
    std::map<std::string, std::string> contents;
    for (const auto& name : FilesIn(folder))
        contents[name] = vt::ReadBytes(folder + "/" + name);
    return contents;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// A folder of several formats, a broken workbook, two workbooks of one stem, and files a
// search must pass over.
void FillMixedFolder(const vt::TempDir& folder)
{
    const auto copy = [&](const std::string& fixture, const std::string& name) {
        fs::create_directories(fs::path(folder.File(name)).parent_path());
        fs::copy_file(vt::Fixture(fixture), folder.File(name));
    };
    copy(kInventory, "a.xlsx");
    copy("workbooks/date.xls", "b.xls");
    copy("workbooks/date.ods", "c.ods");
    folder.Write("d.csv", "x,y\r\n\"1,5\",2\r\n");
    folder.Write("e.xlsx", "not a workbook at all");
    folder.Write("~$a.xlsx", "a lock file");
    folder.Write("notes.pdf", "%PDF-");
    copy(kAnySheets, "sub/a.xlsx");
    copy(kInventory, "sub/deeper/f.xlsx");
    copy(kInventory, ".hidden/g.xlsx");
}

// The workbook headings of a listing, in order.
std::vector<std::string> ListedWorkbooks(const std::string& listing, const std::string& prefix)
{
    std::vector<std::string> workbooks;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(prefix))
            workbooks.push_back(line.substr(prefix.size()));
    }
    return workbooks;
}

} // namespace

TEST(CommandLineSheets, ListingShowsNumberNameVisibilityAndUsedRange)
{
    vt::TempDir out;
    const std::string book = vt::Fixture(kAnySheets);
    const CliRun run = RunCli({ "-l", "-o", out.Path(), book, vt::Fixture(kInventory) });
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
        book + "\n1\tVisible\tvisible\tA1:B5" + kNoLayout + "\n2\tHidden\thidden\tempty" + kNoLayout
            + "\n3\tVeryHidden\tvery hidden\tempty" + kNoLayout + "\n-\tChart\tvisible\tchart sheet\n\n"
            + vt::Fixture(kInventory) + "\n1\tSheet1\tvisible\tA1:C5" + kNoLayout + "\n");
    EXPECT_TRUE(FilesIn(out.Path()).empty());
    // The choice applies to the listing too, and keeps the numbers of all worksheets.
    EXPECT_EQ(RunCli({ "-l", "--skip-hidden", book }).out, book + "\n1\tVisible\tvisible\tA1:B5" + kNoLayout + "\n");
    EXPECT_EQ(RunCli({ "-l", "-s", "VeryHidden", "-s", "1", book }).out,
        book + "\n1\tVisible\tvisible\tA1:B5" + kNoLayout + "\n3\tVeryHidden\tvery hidden\tempty" + kNoLayout + "\n");
}

TEST(CommandLineSheets, ListingCountsHiddenRowsAndColumnsAndMergedAreas)
{
    const std::string book = vt::Fixture("workbooks/layout.xls");
    const CliRun run = RunCli({ "--list", book });
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
        book + "\n1\tLayout\tvisible\tA1:E6\t2 hidden rows, 2 hidden columns, 3 merged areas\n2\tPlain\tvisible\tA1:A1"
            + kNoLayout + "\n");
    // One of each is named in the singular.
    const std::string covered = vt::Fixture("workbooks/covered.ods");
    EXPECT_EQ(RunCli({ "--list", covered }).out,
        covered + "\n1\tsheet1\tvisible\tA1:A2\t0 hidden rows, 0 hidden columns, 1 merged area\n");
}

TEST(CommandLineSheets, ChosenByNameOrNumberInWorkbookOrder)
{
    vt::TempDir in;
    const std::string book = LayersBook(in);
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> cases = {
        { { "-s", "Second" }, { "layers_Second.txt" } },
        { { "-s", "second" }, { "layers_Second.txt" } },
        { { "-s", "3", "-s", "First" }, { "layers_First.txt", "layers_Third.txt" } },
        { { "-s", "2", "-s", "Second" }, { "layers_Second.txt" } },
        { { "--skip-hidden" }, { "layers_First.txt" } },
        { { "--skip-hidden", "-s", "2", "-s", "1" }, { "layers_First.txt" } },
        { {}, { "layers_First.txt", "layers_Second.txt", "layers_Third.txt" } },
    };
    for (const auto& [choice, expected] : cases) {
        std::vector<std::string> arguments = { "-m", "sheet", "-o", "-", "-j", "1" };
        arguments.insert(arguments.end(), choice.begin(), choice.end());
        arguments.push_back(book);
        const CliRun toStdout = RunCli(arguments);
        ASSERT_EQ(toStdout.status, 0) << toStdout.err;
        vt::TempDir out;
        arguments[3] = out.Path();
        const CliRun toFolder = RunCli(arguments);
        ASSERT_EQ(toFolder.status, 0) << toFolder.err;
        std::string printed, concatenated;
        for (const auto& name : expected) {
            printed += out.File(name) + "\n";
            concatenated += vt::ReadBytes(out.File(name));
        }
        EXPECT_EQ(toFolder.out, printed) << (choice.empty() ? "all" : choice.back());
        // Standard output gets the same texts in the same order, with nothing between them.
        EXPECT_EQ(toStdout.out, concatenated) << (choice.empty() ? "all" : choice.back());
    }
    EXPECT_EQ(RunCli({ "-o", "-", "--no-quotes", "--skip-hidden", book }).out, "First\r\none\r\n\r\n\r\n\r\n");
}

TEST(CommandLineSheets, AMissingWorksheetNamesTheWorkbookAndTheWorksheet)
{
    vt::TempDir in, out;
    const std::string book = LayersBook(in);
    for (const std::string sheet : { "Nope", "4", "0" }) {
        const CliRun run = RunCli({ "-m", "sheet", "-s", "1", "-s", sheet, "-o", out.Path(), book });
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find(book + ": there is no worksheet \"" + sheet + "\""), std::string::npos) << run.err;
    }
    EXPECT_TRUE(FilesIn(out.Path()).empty());
    // The choice holds for every workbook; one that has the worksheet is still exported.
    const CliRun run = RunCli({ "-m", "sheet", "-s", "Second", "-o", out.Path(), vt::Fixture(kInventory), book });
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(vt::Fixture(kInventory) + ": there is no worksheet \"Second\""), std::string::npos)
        << run.err;
    EXPECT_EQ(FilesIn(out.Path()), std::vector<std::string> { "layers_Second.txt" });
}

TEST(CommandLineOutput, StandardInputIsAWorkbookNamedStdin)
{
    vt::TempDir out;
    const std::string bytes = vt::ReadBytes(vt::Fixture(kInventory));
    const CliRun toFolder = RunCli({ "-m", "sheet", "-o", out.Path(), "-" }, bytes);
    ASSERT_EQ(toFolder.status, 0) << toFolder.err;
    EXPECT_EQ(toFolder.out, out.File("stdin_Sheet1.txt") + "\n");
    const CliRun expected = RunCli({ "-m", "sheet", "-o", "-", vt::Fixture(kInventory) });
    EXPECT_EQ(vt::ReadBytes(out.File("stdin_Sheet1.txt")), expected.out);
    // Between other workbooks, in its place.
    const CliRun mixed = RunCli({ "-o", "-", vt::Fixture(kAnySheets), "-", vt::Fixture(kAnySheets) }, bytes);
    const std::string anySheets = RunCli({ "-o", "-", vt::Fixture(kAnySheets) }).out;
    EXPECT_EQ(mixed.out, anySheets + RunCli({ "-o", "-", vt::Fixture(kInventory) }).out + anySheets);
    const CliRun broken = RunCli({ "-o", "-", "-" }, "PK\x03\x04 cut short");
    EXPECT_EQ(broken.status, 1);
    EXPECT_NE(broken.err.find("stdin"), std::string::npos) << broken.err;
}

TEST(CommandLineOutput, CsvLineFeedsAndSkippedEmptyLines)
{
    // header-row.xlsx: C3, then A9:D10; rows 4 to 8 are blank.
    const std::string book = vt::Fixture("workbooks/header-row.xlsx");
    const std::string crlf = RunCli({ "-o", "-", "--no-quotes", "-d", "comma", book }).out;
    EXPECT_EQ(crlf,
        "Sheet1\r\n,,Note 1,\r\n,,,\r\n,,,\r\n,,,\r\n,,,\r\n,,,\r\nColumns,Column A,Column B,Column C\r\n"
        "put data here,1,2,3\r\n\r\n\r\n\r\n");
    EXPECT_EQ(RunCli({ "-o", "-", "--no-quotes", "-d", "comma", "--lf", book }).out, Replaced(crlf, "\r\n", "\n"));
    EXPECT_EQ(RunCli({ "-o", "-", "--csv", "-d", "comma", "--lf", "--skip-empty-lines", book }).out,
        "Sheet1\n,,Note 1,\nColumns,Column A,Column B,Column C\nput data here,1,2,3\n\n\n\n");
    // A CSV file whose cells hold the divider and quotes comes back as it was written.
    vt::TempDir in;
    const std::string csv = "name,note\r\n\"Smith, J\",\"say \"\"hi\"\"\"\r\nplain,\r\n";
    const CliRun run = RunCli({ "-m", "sheet", "-o", "-", "--csv", "-d", "comma", in.Write("q.csv", csv) });
    EXPECT_EQ(run.out, csv);
}

TEST(CommandLineOutput, QuietPrintsNoNamesButStillWrites)
{
    vt::TempDir out;
    const CliRun run = RunCli({ "-q", "-o", out.Path(), vt::Fixture(kInventory) });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(FilesIn(out.Path()), std::vector<std::string> { "inventory-table.txt" });
}

// Templates and add-ins are searched for by default; an XML spreadsheet only when asked
// for, as most .xml files are no workbooks.
TEST(CommandLineFolders, TakeTemplatesByDefaultAndXmlWhenAsked)
{
    vt::TempDir tree;
    for (const char* name : { "date.xlt", "date.xlam", "date.xml" })
        std::filesystem::copy_file(vt::Fixture(std::string("workbooks/") + name), tree.File(name));
    const std::string top = tree.Path() + "/";
    using Names = std::vector<std::string>;
    Names all = ListedWorkbooks(RunCli({ "-l", tree.Path() }).out, top);
    std::sort(all.begin(), all.end());
    EXPECT_EQ(all, (Names { "date.xlam", "date.xlt" }));
    EXPECT_EQ(ListedWorkbooks(RunCli({ "-l", "-e", "xml", tree.Path() }).out, top), (Names { "date.xml" }));
}

TEST(CommandLineFolders, SearchedLikeTheFolderImport)
{
    vt::TempDir tree;
    FillMixedFolder(tree);
    const std::string top = tree.Path() + "/";
    const auto listed = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "-l");
        return ListedWorkbooks(RunCli(arguments).out, top);
    };
    using Names = std::vector<std::string>;
    // e.xlsx is found but cannot be read, so it is reported instead of listed.
    EXPECT_EQ(listed({ tree.Path() }), (Names { "a.xlsx", "b.xls", "c.ods", "d.csv" }));
    EXPECT_EQ(listed({ tree.Path() + "/" }), (Names { "a.xlsx", "b.xls", "c.ods", "d.csv" }));
    EXPECT_EQ(listed({ "-r", tree.Path() }),
        (Names { "a.xlsx", "b.xls", "c.ods", "d.csv", "sub/a.xlsx", "sub/deeper/f.xlsx" }));
    EXPECT_EQ(listed({ "-r", "-e", "ods", "-e", "csv", tree.Path() }), (Names { "c.ods", "d.csv" }));
    EXPECT_EQ(listed({ "-e", ".ODS", "-e", "*.csv", tree.Path() }), (Names { "c.ods", "d.csv" }));
    // A file named among folders keeps its place.
    EXPECT_EQ(listed({ "-e", "ods", tree.File("sub/a.xlsx"), tree.Path() }), (Names { "sub/a.xlsx", "c.ods" }));
    const CliRun withBroken = RunCli({ "-l", tree.Path() });
    EXPECT_EQ(withBroken.status, 1);
    EXPECT_NE(withBroken.err.find(top + "e.xlsx"), std::string::npos) << withBroken.err;

    vt::TempDir empty;
    const CliRun nothing = RunCli({ "-e", "xlsx", "-o", "-", empty.Path() });
    EXPECT_EQ(nothing.status, 0);
    EXPECT_EQ(nothing.out, "");
    EXPECT_NE(nothing.err.find("no workbook found"), std::string::npos);
}

TEST(CommandLineJobs, ManyJobsWriteAndPrintExactlyWhatOneJobDoes)
{
    vt::TempDir tree;
    FillMixedFolder(tree);
    for (const std::string mode : { "all", "sheet", "row" }) {
        vt::TempDir one, four;
        const CliRun serial = RunCli({ "-r", "-m", mode, "-j", "1", "-o", one.Path(), tree.Path() });
        const CliRun parallel = RunCli({ "-r", "-m", mode, "-j", "4", "-o", four.Path(), tree.Path() });
        EXPECT_EQ(serial.status, 1) << mode; // e.xlsx is broken
        EXPECT_EQ(parallel.status, serial.status) << mode;
        EXPECT_EQ(Replaced(parallel.out, four.Path(), one.Path()), serial.out) << mode;
        EXPECT_EQ(parallel.err, serial.err) << mode;
        EXPECT_NE(serial.err.find("e.xlsx"), std::string::npos) << mode;
        EXPECT_FALSE(FilesIn(one.Path()).empty()) << mode;
        EXPECT_EQ(Contents(four.Path()), Contents(one.Path())) << mode;
        const CliRun serialOut = RunCli({ "-r", "-m", mode, "-j", "1", "-o", "-", tree.Path() });
        const CliRun parallelOut = RunCli({ "-r", "-m", mode, "-j", "4", "-o", "-", tree.Path() });
        EXPECT_EQ(parallelOut.out, serialOut.out) << mode;
        EXPECT_EQ(parallelOut.err, serialOut.err) << mode;
        EXPECT_EQ(parallelOut.status, serialOut.status) << mode;
    }
}

TEST(InOrderJobs, OutcomesArriveInOrderWithAtMostTheJobCountHeld)
{
    for (const unsigned threads : { 1u, 2u, 4u }) {
        std::atomic<size_t> started { 0 };
        size_t taken = 0;
        size_t mostHeld = 0;
        std::vector<size_t> order;
        cli::RunInOrder(
            60, threads,
            [&](size_t index) {
                ++started;
                // Early jobs take longest, so later ones finish first and must wait their turn.
                if (index % 7 == 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(3));
                return index * 10;
            },
            [&](size_t index, size_t outcome) {
                mostHeld = std::max(mostHeld, started.load() - taken);
                EXPECT_EQ(outcome, index * 10);
                order.push_back(index);
                ++taken;
            });
        std::vector<size_t> expected(60);
        for (size_t i = 0; i < expected.size(); ++i)
            expected[i] = i;
        EXPECT_EQ(order, expected) << threads;
        EXPECT_LE(mostHeld, threads) << threads;
    }
}

TEST(InOrderJobs, AFailingJobIsRethrownInItsTurn)
{
    std::vector<size_t> order;
    EXPECT_THROW(cli::RunInOrder(
                     20, 3,
                     [](size_t index) {
                         if (index == 5)
                             throw std::runtime_error("job 5");
                         return index;
                     },
                     [&](size_t index, size_t) { order.push_back(index); }),
        std::runtime_error);
    EXPECT_EQ(order, (std::vector<size_t> { 0, 1, 2, 3, 4 }));
}

// A slow first workbook and a quick one of two worksheets after it: the second, running
// beside the first, must not write the text of its first worksheet (settled as soon as
// its second starts) before the first workbook's texts, on standard output or as files.
TEST(CommandLineJobs, OnlyTheWorkbookInTurnWritesAsItGoes)
{
    vt::TempDir in;
    std::vector<std::string> paths;
    for (int book = 0; book < 3; ++book) {
        vt::XlsxWriter writer;
        const int rows = book == 0 ? 300 : 40; // 9 MB of text, then 1.2 MB: past what is held
        for (int sheet = 1; sheet <= 2; ++sheet) {
            auto& added = writer.AddSheet("S" + std::to_string(sheet));
            for (int row = 1; row <= rows; ++row)
                added.SharedString(row, 1, std::string(30'000, static_cast<char>('a' + 2 * book + sheet)));
        }
        paths.push_back(writer.Save(in.File("b" + std::to_string(book) + ".xlsx")));
    }
    const auto run = [&](const std::string& jobs, const std::string& output) {
        std::vector<std::string> arguments { "-m", "sheet", "-j", jobs, "-o", output };
        arguments.insert(arguments.end(), paths.begin(), paths.end());
        return RunCli(arguments);
    };
    const CliRun serial = run("1", "-");
    ASSERT_EQ(serial.status, 0) << serial.err;
    ASSERT_EQ(serial.out.size(), 2u * (300 + 40 + 40) * 30'004);
    for (const std::string jobs : { "2", "3" }) {
        const CliRun parallel = run(jobs, "-");
        EXPECT_EQ(parallel.status, 0) << parallel.err;
        EXPECT_TRUE(parallel.out == serial.out) << jobs << " jobs: the texts are out of order";

        vt::TempDir one, many;
        const CliRun savedOne = run("1", one.Path());
        const CliRun savedMany = run(jobs, many.Path());
        EXPECT_EQ(Replaced(savedMany.out, many.Path(), one.Path()), savedOne.out) << jobs;
        EXPECT_EQ(Contents(many.Path()), Contents(one.Path())) << jobs;
        // Written as they came, the files in the order printed hold exactly standard output's texts.
        std::string joined;
        std::istringstream printed(savedMany.out);
        for (std::string path; std::getline(printed, path);)
            joined += vt::ReadBytes(path);
        EXPECT_TRUE(joined == serial.out) << jobs;
    }
}

// A file that cannot be put in place (a folder of its name is in the way) while its
// worksheet's text is written as it comes: reported naming the file, no temporary file
// left, the others written, in one job or several.
TEST(CommandLineJobs, AFileThatCannotBeWrittenIsReportedAndLeavesNoTemporaryFile)
{
    vt::TempDir in;
    const std::string book = LayersBook(in);
    for (const std::string jobs : { "1", "2" }) {
        vt::TempDir out;
        fs::create_directory(out.File("layers_Second.txt"));
        const CliRun run = RunCli({ "-q", "-m", "sheet", "-j", jobs, "-o", out.Path(), book, book });
        EXPECT_EQ(run.status, 1) << jobs;
        // Windows refuses the rename with a reason of its own.
        EXPECT_NE(run.err.find("vellumcast-cli: " + out.File("layers_Second.txt") + ": "), std::string::npos)
            << run.err;
        EXPECT_EQ(FilesIn(out.Path()),
            (std::vector<std::string> { "layers_First (2).txt", "layers_First.txt", "layers_Second (2).txt",
                "layers_Second.txt", "layers_Third (2).txt", "layers_Third.txt" }))
            << jobs;
        EXPECT_EQ(vt::ReadBytes(out.File("layers_Third (2).txt")), "\"three\"\r\n");
    }
}
