// Formulas saved without a value on the command line: computed by default, left blank with
// --no-compute, and those left blank said once per workbook with their count and the first.
#include "cli/CliRun.h"
#include "support/TempDir.h"
#include "support/XlsxWriter.h"

#include <gtest/gtest.h>

namespace vt = vellumcast::testing;
using vt::CliRun;
using vt::RunCli;

TEST(CommandLineFormulas, ComputedUnlessAskedNotToAndThoseLeftBlankWarnedOnce)
{
    vt::TempDir in;
    vt::XlsxWriter writer;
    const uint32_t money = writer.AddStyle("#,##0.00");
    writer.AddSheet("Sales").RawSheetData("<row r=\"1\"><c r=\"A1\"><v>1200</v></c><c r=\"B1\"><v>3</v></c>"
                                          "<c r=\"C1\" s=\""
        + std::to_string(money)
        + "\"><f>A1*B1</f><v></v></c><c r=\"D1\"><f>NOSUCH(A1)</f><v></v></c></row>"
          "<row r=\"2\"><c r=\"A2\"><f>FOO()</f><v></v></c><c r=\"B2\"><f>A1/B1</f><v></v></c></row>");
    const std::string book = writer.Save(in.File("report.xlsx"));
    const std::string warning = "vellumcast-cli: " + book + ": warning: ";

    const CliRun computed = RunCli({ "-m", "sheet", "-o", "-", "--no-quotes", "--lf", book });
    EXPECT_EQ(computed.status, 0) << computed.err;
    EXPECT_EQ(computed.out, "1200\t3\t3,600.00\t\n\t400\t\t\n");
    EXPECT_EQ(computed.err,
        warning
            + "2 formula(s) saved without a value could not be computed and show as blank; the first is "
              "Sales!D1\n");

    const CliRun blank = RunCli({ "-m", "sheet", "-o", "-", "--no-quotes", "--lf", "--no-compute", book });
    EXPECT_EQ(blank.status, 0) << blank.err;
    EXPECT_EQ(blank.out, "1200\t3\t\t\n\t\t\t\n");
    EXPECT_EQ(blank.err,
        warning + "4 formula(s) saved without a value show as blank (not computed); the first is Sales!C1\n");

    const CliRun raw = RunCli({ "-m", "sheet", "-o", "-", "--no-quotes", "--lf", "--values", "raw", book });
    EXPECT_EQ(raw.out, "1200\t3\t3600\t\n\t400\t\t\n");

    const CliRun quiet = RunCli({ "-q", "-o", "-", book });
    EXPECT_EQ(quiet.err, "");
    EXPECT_NE(RunCli({ "--help" }).out.find("--no-compute"), std::string::npos);
}
