// Puts arbitrary bytes in place of one part of a sound xlsx package (the part is chosen
// when the target is built: VELLUMCAST_FUZZ_PART) and opens the package with the xlsx
// reader, reading every cell. Only SpreadsheetError may come out.

#include "FuzzWalk.h"
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const auto members = SoundPackage();
    testing::ZipWriter zip;
    for (const auto& [name, content] : members)
        zip.Add(name, name == VELLUMCAST_FUZZ_PART ? std::string(reinterpret_cast<const char*>(data), size) : content);
    fuzz::ReadEveryCellWith(spreadsheet::xlsx::OpenReader, zip.Finish(), "fuzz.xlsx");
    return 0;
}
