// Puts arbitrary bytes in place of one record part of a sound xlsb package and opens the
// package with the xlsb reader, reading every cell. Only SpreadsheetError may come out. The
// part is named by the executable: fuzz_xlsb_styles replaces xl/styles.bin, and so on.
// Run with VELLUMCAST_FUZZ_SEED_DIR set, it writes the sound part there as a seed and exits.

#include "FuzzWalk.h"
#include "spreadsheet/xlsb/XlsbReader.h"
#include "support/XlsbWriter.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
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
    const std::string program = *argc > 0 ? (*argv)[0] : "";
    const struct {
        const char* suffix;
        const char* part;
    } parts[] = { { "fuzz_xlsb_workbook", "xl/workbook.bin" }, { "fuzz_xlsb_styles", "xl/styles.bin" },
        { "fuzz_xlsb_shared_strings", "xl/sharedStrings.bin" }, { "fuzz_xlsb_worksheet", "xl/worksheets/sheet1.bin" } };
    for (const auto& p : parts) {
        const std::string suffix = p.suffix;
        if (program.size() >= suffix.size()
            && program.compare(program.size() - suffix.size(), suffix.size(), suffix) == 0)
            g_part = p.part;
    }
    if (g_part.empty()) {
        std::fprintf(stderr, "%s: the program name names no xlsb part\n", program.c_str());
        std::exit(2);
    }
    if (const char* seeds = std::getenv("VELLUMCAST_FUZZ_SEED_DIR")) {
        for (const auto& [name, content] : SoundPackage()) {
            if (name == g_part)
                std::ofstream(std::string(seeds) + "/sound", std::ios::binary) << content;
        }
        std::exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const auto members = SoundPackage();
    testing::ZipWriter zip;
    for (const auto& [name, content] : members)
        zip.Add(name, name == g_part ? std::string(reinterpret_cast<const char*>(data), size) : content);
    fuzz::ReadEveryCellWith(spreadsheet::xlsb::OpenReader, zip.Finish(), "fuzz.xlsb");
    return 0;
}
