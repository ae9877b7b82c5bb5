// What the command line says of workbooks it reads only in part, and how it reads text.

#include "cli/CliRun.h"
#include "support/TempDir.h"
#include "support/XlsxWriter.h"

#include "core/Files.h"

#include <gtest/gtest.h>

using namespace vellumcast;
namespace vt = vellumcast::testing;
using vt::CliRun;
using vt::RunCli;

namespace {

size_t Count(const std::string& text, const std::string& what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

// An xlsx listing a worksheet, a macro sheet, a chart sheet, a sheet with no part and a
// dialog sheet, in that order.
std::string MixedSheets()
{
    const std::string kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    const std::string cell = "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
                             "<sheetData><row r=\"1\"><c r=\"A1\"><v>7</v></c></row></sheetData></worksheet>";
    return vt::ZipWriter()
        .Add("xl/workbook.xml",
            "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
            "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>"
            "<sheet name=\"Data\" sheetId=\"1\" r:id=\"r1\"/><sheet name=\"Macro1\" sheetId=\"2\" r:id=\"r2\" "
            "state=\"hidden\"/><sheet name=\"Chart1\" sheetId=\"3\" r:id=\"r3\"/><sheet name=\"Lost\" sheetId=\"4\" "
            "r:id=\"\"/><sheet name=\"Dialog1\" sheetId=\"5\" r:id=\"r5\"/></sheets></workbook>")
        .Add("xl/_rels/workbook.xml.rels",
            "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
            "<Relationship Id=\"r1\" Type=\""
                + kRel + "worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"r2\" Type=\"" + kRel
                + "xlMacrosheet\" Target=\"macrosheets/sheet1.xml\"/><Relationship Id=\"r3\" Type=\"" + kRel
                + "chartsheet\" Target=\"chartsheets/sheet1.xml\"/><Relationship Id=\"r5\" Type=\"" + kRel
                + "dialogsheet\" Target=\"dialogsheets/sheet1.xml\"/></Relationships>")
        .Add("xl/worksheets/sheet1.xml", cell)
        .Add("xl/macrosheets/sheet1.xml", cell)
        .Finish();
}

} // namespace

// A worksheet that cannot be read is said once, naming the file once, in the form of
// every other message.
TEST(CommandLineReading, AWorksheetThatCannotBeReadNamesTheFileOnce)
{
    vt::TempDir in, out;
    vt::XlsxWriter book;
    book.AddSheet("Good").Number(1, 1, 1);
    book.AddSheet("Hoja4").RawSheetData("<row r=\"1\"><c r=\"A0\"><v>1</v></c></row>");
    const std::string path = book.Save(in.File("x.xlsx"));
    const CliRun run = RunCli({ "--mode", "sheet", "-o", out.Path(), path });
    EXPECT_EQ(run.status, 1);
    const std::string start = "vellumcast-cli: " + path + ": the worksheet \"Hoja4\" cannot be read: ";
    ASSERT_NE(run.err.find(start), std::string::npos) << run.err;
    const std::string line = run.err.substr(run.err.find(start), run.err.find('\n', run.err.find(start)));
    EXPECT_EQ(Count(line, path), 1u) << line;
    EXPECT_EQ(Count(run.err, "Hoja4"), 1u) << run.err;
    EXPECT_EQ(vt::FilesIn(out.Path()), std::vector<std::string> { "x_Good.txt" });
}

// --list shows the sheets of other kinds where they stand, by kind; an export passes
// them over, saying so once, and says which sheet named no part.
TEST(CommandLineReading, SheetsOfOtherKindsAreListedAndSaidOnce)
{
    vt::TempDir in, out;
    const std::string path = in.Write("mixed.xlsx", MixedSheets());
    const CliRun list = RunCli({ "--list", path });
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out,
        path
            + "\n"
              "1\tData\tvisible\tA1:A1\t0 hidden rows, 0 hidden columns, 0 merged areas\n"
              "-\tMacro1\thidden\tmacro sheet\n"
              "-\tChart1\tvisible\tchart sheet\n"
              "-\tDialog1\tvisible\tdialog sheet\n");
    // A choice of worksheets lists only them.
    EXPECT_EQ(RunCli({ "--list", "--sheet", "Data", path }).out,
        path + "\n1\tData\tvisible\tA1:A1\t0 hidden rows, 0 hidden columns, 0 merged areas\n");

    const CliRun run = RunCli({ "-m", "sheet", "-o", "-", path, path });
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "\"7\"\r\n\"7\"\r\n");
    EXPECT_EQ(Count(run.err,
                  "vellumcast-cli: " + path
                      + ": warning: it holds 1 macro sheet (\"Macro1\") and 1 dialog sheet (\"Dialog1\"), which are no "
                        "worksheets; they are passed over\n"),
        2u)
        << run.err;
    EXPECT_EQ(Count(run.err, ": warning: the sheet \"Lost\" names no part of the package; it is passed over\n"), 2u)
        << run.err;
    EXPECT_EQ(Count(run.err, "\n"), 4u) << run.err;
}

// An empty csv is an empty worksheet, as a csv of one empty line is: no text of its own
// and exit status 0, so a folder of exports does not fail on it.
TEST(CommandLineReading, AnEmptyCsvIsAnEmptyWorksheet)
{
    vt::TempDir in, out;
    const std::string empty = in.Write("empty.csv", "");
    const std::string blank = in.Write("blank.csv", "\r\n");
    const CliRun sheet = RunCli({ "-m", "sheet", "-o", "-", empty });
    EXPECT_EQ(sheet.status, 0) << sheet.err;
    EXPECT_EQ(sheet.out, "");
    EXPECT_EQ(sheet.err, "");
    // One text per workbook lists the worksheet by name, as for any empty worksheet.
    const CliRun all = RunCli({ "-o", "-", empty });
    EXPECT_EQ(all.status, 0) << all.err;
    const CliRun like = RunCli({ "-o", "-", blank });
    EXPECT_EQ(all.out.substr(all.out.find('\r')), like.out.substr(like.out.find('\r')));
    const CliRun saved = RunCli({ "-m", "sheet", "-o", out.Path(), empty });
    EXPECT_EQ(saved.status, 0) << saved.err;
    EXPECT_TRUE(vt::FilesIn(out.Path()).empty());
}

TEST(CommandLineReading, TheDividerAndEncodingOfTextCanBeSaid)
{
    vt::TempDir in;
    const std::string semicolons = in.Write("export.txt", "a;b\n");
    const auto text = [](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), { "-m", "sheet", "-o", "-", "--no-quotes" });
        return RunCli(arguments).out;
    };
    EXPECT_EQ(text({ semicolons }), "a;b\r\n");
    EXPECT_EQ(text({ "--input-divider", "semicolon", semicolons }), "a\tb\r\n");
    EXPECT_EQ(text({ "--input-divider=;", semicolons }), "a\tb\r\n");
    const std::string latin = in.Write("latin.csv", "\xC3\xA9,x\n");
    EXPECT_EQ(text({ "--input-encoding", "windows-1252", latin }), "\xC3\x83\xC2\xA9\tx\r\n");
    EXPECT_EQ(text({ "--input-encoding", "UTF-8", latin }), "\xC3\xA9\tx\r\n");
    // Words that are no divider or encoding are bad usage, saying what would do.
    for (const std::vector<std::string>& bad : { std::vector<std::string> { "--input-divider", "ab" },
             { "--input-divider", "\"" }, { "--input-encoding", "latin9" } }) {
        std::vector<std::string> arguments = bad;
        arguments.push_back(semicolons);
        const CliRun run = RunCli(arguments);
        EXPECT_EQ(run.status, 2) << bad[1];
        EXPECT_NE(run.err.find(bad[0]), std::string::npos) << run.err;
    }
}
