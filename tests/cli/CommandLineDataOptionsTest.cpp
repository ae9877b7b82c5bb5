// The command line's options of what the texts hold: values raw or with ISO dates,
// merged areas filled, hidden rows and columns left out, worksheets chosen by pattern,
// and a byte-order mark.
#include "cli/CliRun.h"
#include "support/TempDir.h"
#include "support/XlsxWriter.h"

#include <gtest/gtest.h>

using namespace vellumcast;
namespace vt = vellumcast::testing;
using vt::CliRun;
using vt::RunCli;

namespace {

const char* const kLayoutFormats[] = { "layout.xlsx", "layout.xls", "layout.ods", "layout.fods", "layout.xml" };
const std::string kMark = "\xEF\xBB\xBF";

std::string Layout(const char* format)
{
    return vt::Fixture(std::string("workbooks/") + format);
}

} // namespace

TEST(CommandLineDataOptions, ParsedIntoTheExportOptionsAndBadValuesAreUsageErrors)
{
    struct Case {
        std::vector<std::string> arguments;
        options::CellValues values;
    };
    const std::vector<Case> cases = {
        { {}, options::CellValues::Displayed },
        { { "--values", "raw" }, options::CellValues::Raw },
        { { "--values=displayed" }, options::CellValues::Displayed },
        { { "--dates", "iso" }, options::CellValues::IsoDates },
        { { "--dates", "iso", "--values", "displayed" }, options::CellValues::IsoDates },
        { { "--values", "raw", "--dates", "iso" }, options::CellValues::Raw },
        { { "--dates", "iso", "--dates", "displayed" }, options::CellValues::Displayed },
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments = c.arguments;
        arguments.push_back("a.xlsx");
        std::string error;
        const auto parsed = cli::ParseArguments(arguments, error);
        ASSERT_TRUE(parsed) << error;
        EXPECT_EQ(parsed->exportOptions.cellValues, c.values) << ::testing::PrintToString(c.arguments);
        EXPECT_FALSE(parsed->exportOptions.fillMerged);
        EXPECT_FALSE(parsed->byteOrderMark);
    }
    std::string error;
    const auto parsed = cli::ParseArguments(
        { "--fill-merged", "--skip-hidden-rows", "--skip-hidden-columns", "--bom", "--include", "^A", "a.xlsx" },
        error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_TRUE(parsed->exportOptions.fillMerged);
    EXPECT_TRUE(parsed->exportOptions.skipHiddenRows);
    EXPECT_TRUE(parsed->exportOptions.skipHiddenColumns);
    EXPECT_TRUE(parsed->byteOrderMark);
    EXPECT_TRUE(parsed->patterns.HasIncludes());

    for (const auto& arguments : std::vector<std::vector<std::string>> { { "--values", "formatted", "a.xlsx" },
             { "--dates", "us", "a.xlsx" }, { "--include", "(", "a.xlsx" }, { "--exclude", "[z-a]", "a.xlsx" },
             { "--bom=yes", "a.xlsx" }, { "--values" } }) {
        const CliRun run = RunCli(arguments);
        const std::string option = arguments[0].substr(0, arguments[0].find('='));
        EXPECT_EQ(run.status, 2) << option;
        EXPECT_NE(run.err.find(option), std::string::npos) << run.err;
    }
    const std::string help = RunCli({ "--help" }).out;
    for (const char* option : { "--values", "--dates", "--fill-merged", "--skip-hidden-rows", "--skip-hidden-columns",
             "--include", "--exclude", "--bom" })
        EXPECT_NE(help.find(option), std::string::npos) << option;
}

TEST(CommandLineDataOptions, LayoutOptionsInEveryFormatToStandardOutput)
{
    for (const char* format : kLayoutFormats) {
        const CliRun run = RunCli({ "-o", "-", "--no-quotes", "-d", ",", "--lf", "--fill-merged", "--skip-hidden-rows",
            "--skip-hidden-columns", "-s", "Layout", Layout(format) });
        ASSERT_EQ(run.status, 0) << format << run.err;
        EXPECT_EQ(run.out, "Layout\nTitle,Title,e1\n1,3,Side\na4,,Side\na6,,Block\n\n\n\n") << format;
    }
}

TEST(CommandLineDataOptions, FileNamesOfRowsAndColumnsCountTheWorksheetsLinesWhenHiddenOnesAreLeftOut)
{
    for (const char* format : kLayoutFormats) {
        vt::TempDir out;
        CliRun run = RunCli({ "-m", "row", "--skip-hidden-rows", "--fill-merged", "--no-quotes", "-d", ",", "-o",
            out.Path(), "-s", "1", Layout(format) });
        ASSERT_EQ(run.status, 0) << format << run.err;
        EXPECT_EQ(vt::FilesIn(out.Path()),
            (std::vector<std::string> {
                "layout_Layout_1.txt", "layout_Layout_2.txt", "layout_Layout_4.txt", "layout_Layout_6.txt" }))
            << format;
        EXPECT_EQ(vt::ReadBytes(out.File("layout_Layout_4.txt")), "a4,,,,Side\r\n") << format;
        EXPECT_EQ(vt::ReadBytes(out.File("layout_Layout_6.txt")), "a6,,,Block,Block\r\n") << format;

        vt::TempDir columns;
        run = RunCli({ "-m", "column", "--skip-hidden-columns", "--skip-blank", "--fill-merged", "--no-quotes", "-d",
            ",", "-o", columns.Path(), "-s", "1", Layout(format) });
        ASSERT_EQ(run.status, 0) << format << run.err;
        EXPECT_EQ(vt::FilesIn(columns.Path()),
            (std::vector<std::string> { "layout_Layout_1.txt", "layout_Layout_3.txt", "layout_Layout_5.txt" }))
            << format;
        EXPECT_EQ(vt::ReadBytes(columns.File("layout_Layout_3.txt")), "Title,3\r\n") << format;
        EXPECT_EQ(vt::ReadBytes(columns.File("layout_Layout_5.txt")), "e1,Side,Side,Side,Block,Block\r\n") << format;
    }
}

TEST(CommandLineDataOptions, RawValuesAndIsoDatesFromTheCommandLine)
{
    vt::TempDir dir;
    vt::XlsxWriter writer;
    const uint32_t date = writer.AddBuiltInStyle(14);
    const uint32_t fixed = writer.AddBuiltInStyle(2); // 0.00
    writer.AddSheet("S").Number(1, 1, 45000, date).Number(1, 2, 0.125, fixed).Boolean(1, 3, false);
    const std::string path = writer.Save(dir.File("v.xlsx"));
    EXPECT_EQ(RunCli({ "-o", "-", "--no-quotes", "--lf", path }).out, "S\n3/15/2023\t0.13\tFALSE\n\n\n\n");
    EXPECT_EQ(
        RunCli({ "-o", "-", "--no-quotes", "--lf", "--dates", "iso", path }).out, "S\n2023-03-15\t0.13\tFALSE\n\n\n\n");
    EXPECT_EQ(RunCli({ "-o", "-", "--no-quotes", "--lf", "--values", "raw", path }).out,
        "S\n2023-03-15\t0.125\tFALSE\n\n\n\n");

    // OpenDocument cells give the value recorded beside their displayed text.
    for (const char* book : { "workbooks/date.ods", "workbooks/date.fods" }) {
        const std::string displayed = RunCli({ "-o", "-", "--no-quotes", "--lf", vt::Fixture(book) }).out;
        EXPECT_EQ(displayed, "Sheet1\n01/01/2021\t15\n01/01/2021 10:10 AM\t16\n10:10:10\t17\n10:10:10.12\t18\n\n\n\n")
            << book;
        const std::string raw
            = "Sheet1\n2021-01-01\t15\n2021-01-01T10:10:10\t16\n10:10:10\t17\n10:10:10.123\t18\n\n\n\n";
        EXPECT_EQ(RunCli({ "-o", "-", "--no-quotes", "--lf", "--values", "raw", vt::Fixture(book) }).out, raw) << book;
        EXPECT_EQ(RunCli({ "-o", "-", "--no-quotes", "--lf", "--dates", "iso", vt::Fixture(book) }).out, raw) << book;
    }
}

TEST(CommandLineDataOptions, PatternsChooseWorksheetsBesideSheetNamesAndWarnWhenMatchingNothing)
{
    vt::TempDir dir;
    vt::XlsxWriter writer;
    for (const char* name : { "Q1", "Q2", "Q2 draft", "Notes" })
        writer.AddSheet(name).InlineString(1, 1, name);
    const std::string path = writer.Save(dir.File("book.xlsx"));
    const auto names = [](const std::string& out) {
        std::string sheets;
        for (size_t at = 0; at < out.size();) {
            const size_t end = out.find('\n', at);
            const std::string line = out.substr(at, end - at);
            if (!line.empty() && line[0] != '"' && line != "\r")
                sheets += line.substr(0, line.size() - 1) + ";";
            at = end + 1;
        }
        return sheets;
    };
    CliRun run = RunCli({ "-o", "-", "--include", "^Q", "--exclude", "draft", path });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(names(run.out), "Q1;Q2;");
    EXPECT_EQ(run.err, "");
    run = RunCli({ "-o", "-", "-s", "Notes", "--include", "^Q2$", path });
    EXPECT_EQ(names(run.out), "Q2;Notes;");
    run = RunCli({ "-o", "-", "--exclude", "^Q", path });
    EXPECT_EQ(names(run.out), "Notes;");

    // A pattern matching nothing is a warning naming the workbook and the pattern; what
    // the other patterns choose is still exported.
    run = RunCli({ "-o", "-", "--include", "^Q1", "--include", "Summary", "--exclude", "zzz", path });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(names(run.out), "Q1;");
    EXPECT_EQ(run.err,
        "vellumcast-cli: " + path + ": warning: the pattern --include \"Summary\" matches no worksheet in it\n"
            + "vellumcast-cli: " + path + ": warning: the pattern --exclude \"zzz\" matches no worksheet in it\n");
    EXPECT_EQ(RunCli({ "-q", "-o", "-", "--include", "Summary", path }).err, "");
    // The listing takes the same choice and says the same.
    run = RunCli({ "-l", "--include", "Q2", "--include", "none", path });
    EXPECT_NE(run.out.find("\tQ2 draft\t"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("\tQ1\t"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("--include \"none\" matches no worksheet"), std::string::npos) << run.err;
}

TEST(CommandLineDataOptions, ALongWorksheetNameIsMatchedAsAnyOther)
{
    vt::TempDir dir;
    vt::XlsxWriter writer;
    writer.AddSheet(std::string(130, 'n') + "x").InlineString(1, 1, "long");
    const std::string longName = writer.Save(dir.File("long.xlsx"));
    vt::XlsxWriter plain;
    plain.AddSheet("Short").InlineString(1, 1, "short");
    const std::string shortName = plain.Save(dir.File("short.xlsx"));

    // Patterns take time linear in the name: a name past the application's 31 characters
    // is matched as a short one is.
    CliRun run = RunCli({ "-o", "-", "--no-quotes", "--exclude", "x$", longName, shortName });
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "Short\r\nshort\r\n\r\n\r\n\r\n");
    run = RunCli({ "-o", "-", "--no-quotes", "--include", "^n+x$", longName });
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("long"), std::string::npos) << run.out;
}

TEST(CommandLineDataOptions, ByteOrderMarkStartsEveryFileAndStandardOutputOnceWhenAsked)
{
    const std::string book = Layout("layout.xlsx");
    vt::TempDir out;
    ASSERT_EQ(RunCli({ "-m", "sheet", "--bom", "-o", out.Path(), book }).status, 0);
    const auto files = vt::FilesIn(out.Path());
    ASSERT_EQ(files.size(), 2u);
    for (const auto& file : files) {
        const std::string bytes = vt::ReadBytes(out.File(file));
        EXPECT_EQ(bytes.substr(0, 3), kMark) << file;
        EXPECT_EQ(bytes.find(kMark, 3), std::string::npos) << file;
    }
    EXPECT_EQ(vt::ReadBytes(out.File("layout_Plain.txt")), kMark + "\"x\"\r\n");

    vt::TempDir without;
    ASSERT_EQ(RunCli({ "-m", "sheet", "-o", without.Path(), book }).status, 0);
    EXPECT_EQ(vt::ReadBytes(without.File("layout_Plain.txt")), "\"x\"\r\n");

    const CliRun once = RunCli({ "-m", "row", "--bom", "-o", "-", book, book });
    EXPECT_EQ(once.out.substr(0, 3), kMark);
    EXPECT_EQ(once.out.find(kMark, 3), std::string::npos);
    EXPECT_EQ(once.out.substr(3), RunCli({ "-m", "row", "-o", "-", book, book }).out);
}
