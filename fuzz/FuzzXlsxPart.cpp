// Puts arbitrary bytes in place of one part of a sound xlsx package and opens the package
// with the xlsx reader, reading every cell. Only SpreadsheetError may come out. The part
// is named by the executable: fuzz_xlsx_styles replaces xl/styles.xml, and so on.

#include "FuzzPart.h"
#include "spreadsheet/container/Zip.h"
#include "spreadsheet/xlsx/XlsxReader.h"
#include "support/XlsxWriter.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace vellumcast;

// The members of a small workbook that uses every workbook-wide part: two sheets, shared
// and inline strings, custom and built-in number formats, a date, a boolean and an error.
std::vector<std::pair<std::string, std::string>> SoundPackage()
{
    testing::XlsxWriter writer;
    const uint32_t percent = writer.AddStyle("0.00%");
    const uint32_t date = writer.AddBuiltInStyle(14);
    writer.AddSheet("Data")
        .SharedString(1, 1, "name")
        .Number(1, 2, 0.25, percent)
        .Number(2, 1, 45000, date)
        .InlineString(2, 2, "in_x000D_line")
        .Boolean(3, 1, true)
        .Error(3, 2, "#DIV/0!");
    writer.AddSheet("Second", testing::XlsxVisibility::Hidden).SharedString(2, 3, "name");
    const std::string bytes = writer.Build();
    const spreadsheet::container::ZipArchive archive(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    std::vector<std::pair<std::string, std::string>> members;
    for (const auto& entry : archive.Entries())
        members.emplace_back(entry.name, archive.ReadAll(entry));
    return members;
}

std::string g_part;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static constexpr fuzz::PartTarget kTargets[] = { { "fuzz_xlsx_workbook", "xl/workbook.xml" },
        { "fuzz_xlsx_relationships", "xl/_rels/workbook.xml.rels" }, { "fuzz_xlsx_styles", "xl/styles.xml" },
        { "fuzz_xlsx_shared_strings", "xl/sharedStrings.xml" }, { "fuzz_xlsx_worksheet", "xl/worksheets/sheet1.xml" } };
    g_part = fuzz::MemberNamedBy(*argc > 0 ? (*argv)[0] : "", kTargets, "xlsx");
    fuzz::WriteSeedIfAsked(SoundPackage(), g_part);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const auto members = SoundPackage();
    fuzz::ReadWithMemberReplaced(spreadsheet::xlsx::OpenReader, members, g_part, data, size, "fuzz.xlsx");
    return 0;
}
