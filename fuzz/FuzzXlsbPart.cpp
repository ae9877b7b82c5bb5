// Puts arbitrary bytes in place of one record part of a sound xlsb package and opens the
// package with the xlsb reader, reading every cell. Only SpreadsheetError may come out. The
// part is named by the executable: fuzz_xlsb_styles replaces xl/styles.bin, and so on.
// Run with VELLUMCAST_FUZZ_SEED_DIR set, it writes the sound part there as a seed and exits.

#include "FuzzPart.h"
#include "spreadsheet/xlsb/XlsbReader.h"
#include "support/XlsbWriter.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace vellumcast;

// The parts of a small workbook that holds every cell kind, custom and built-in number
// formats, shared strings, a recorded extent, hidden rows and columns, merged areas and a
// hidden sheet.
std::vector<std::pair<std::string, std::string>> SoundPackage()
{
    testing::XlsbWriter writer;
    const uint32_t percent = writer.AddStyle("0.00%");
    const uint32_t date = writer.AddBuiltInStyle(14);
    writer.AddSheet("Data")
        .Dimension(1, 1, 4, 4)
        .HiddenColumns(2, 3)
        .HiddenColumns(5, 5, true)
        .SharedString(1, 1, "name")
        .Number(1, 2, 0.25, percent)
        .Rk(1, 3, (45000u << 2) | 0x02, date)
        .InlineString(1, 4, "inline")
        .RichString(2, 1, "rich")
        .Boolean(2, 2, true)
        .Error(2, 3, "#DIV/0!")
        .Blank(2, 4, percent)
        .FormulaNumber(3, 1, 1.5)
        .FormulaString(3, 2, "", "text")
        .FormulaBoolean(3, 3, false)
        .HiddenRow(4)
        .FormulaError(4, 4, "#N/A")
        .Merge(1, 1, 1, 2)
        .Merge(3, 3, 4, 4);
    writer.AddSheet("Second", testing::XlsxVisibility::Hidden).SharedString(2, 3, "name");
    return writer.Parts();
}

std::string g_part;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static constexpr fuzz::PartTarget kTargets[] = { { "fuzz_xlsb_workbook", "xl/workbook.bin" },
        { "fuzz_xlsb_styles", "xl/styles.bin" }, { "fuzz_xlsb_shared_strings", "xl/sharedStrings.bin" },
        { "fuzz_xlsb_worksheet", "xl/worksheets/sheet1.bin" } };
    g_part = fuzz::MemberNamedBy(*argc > 0 ? (*argv)[0] : "", kTargets, "xlsb");
    fuzz::WriteSeedIfAsked(SoundPackage(), g_part);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const auto members = SoundPackage();
    fuzz::ReadWithMemberReplaced(spreadsheet::xlsb::OpenReader, members, g_part, data, size, "fuzz.xlsb");
    return 0;
}
