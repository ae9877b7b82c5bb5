#include "spreadsheet/FormatDetection.h"

#include "spreadsheet/detail/Zip.h"

#include <algorithm>
#include <cstring>

namespace vellumcast::spreadsheet {

namespace {

constexpr uint8_t kCompoundFileSignature[8] = { 0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1 };

bool StartsWith(std::span<const uint8_t> bytes, const void* prefix, size_t length)
{
    return bytes.size() >= length && std::memcmp(bytes.data(), prefix, length) == 0;
}

std::string LowerExtension(const std::string& fileName)
{
    const auto dot = fileName.rfind('.');
    if (dot == std::string::npos)
        return {};
    std::string extension = fileName.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

// True when the first bytes hold an OpenDocument flat XML document.
bool LooksLikeFlatOds(std::span<const uint8_t> bytes)
{
    const std::string_view head(reinterpret_cast<const char*>(bytes.data()), std::min<size_t>(bytes.size(), 4096));
    return head.find("<?xml") != std::string_view::npos && head.find("office:document") != std::string_view::npos;
}

// Plain text: no NUL bytes and few control characters in the first kilobytes.
bool LooksLikeText(std::span<const uint8_t> bytes)
{
    const size_t length = std::min<size_t>(bytes.size(), 8192);
    size_t control = 0;
    for (size_t i = 0; i < length; ++i) {
        const uint8_t byte = bytes[i];
        if (byte == 0)
            return false;
        if (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r' && byte != '\f')
            ++control;
    }
    return control * 100 <= length;
}

} // namespace

WorkbookFormat DetectFormat(std::span<const uint8_t> bytes)
{
    if (StartsWith(bytes, kCompoundFileSignature, sizeof kCompoundFileSignature))
        return WorkbookFormat::Xls;
    if (StartsWith(bytes, "PK\x03\x04", 4) || StartsWith(bytes, "PK\x05\x06", 4)) {
        detail::ZipArchive archive(bytes);
        if (const auto* mimetype = archive.Find("mimetype")) {
            const std::string type = archive.ReadAll(*mimetype, 4096);
            if (type.find("opendocument.spreadsheet") != std::string::npos)
                return WorkbookFormat::Ods;
        }
        if (archive.Find("xl/workbook.xml") || archive.Find("[Content_Types].xml"))
            return WorkbookFormat::Xlsx;
        if (archive.Find("content.xml"))
            return WorkbookFormat::Ods;
        return WorkbookFormat::Unknown;
    }
    if (LooksLikeFlatOds(bytes))
        return WorkbookFormat::FlatOds;
    if (LooksLikeText(bytes))
        return WorkbookFormat::DelimitedText;
    return WorkbookFormat::Unknown;
}

std::unique_ptr<WorkbookReader> OpenReader(const ReaderContext& context, WorkbookData& data)
{
    const auto bytes = context.bytes->Bytes();
    if (bytes.empty())
        throw SpreadsheetError(ErrorCode::NotAWorkbook, "the file is empty");
    WorkbookFormat format = WorkbookFormat::Unknown;
    try {
        format = DetectFormat(bytes);
    } catch (const SpreadsheetError& error) {
        throw SpreadsheetError(error.code(), std::string("it is not a workbook: ") + error.what());
    }
    switch (format) {
    case WorkbookFormat::Xlsx:
        return OpenXlsxReader(context, data);
    case WorkbookFormat::Xls:
        return OpenXlsReader(context, data);
    case WorkbookFormat::Ods:
        return OpenOdsReader(context, data, false);
    case WorkbookFormat::FlatOds:
        return OpenOdsReader(context, data, true);
    case WorkbookFormat::DelimitedText: {
        // Text is read as delimited text only under a text file's name: a text file named
        // like a workbook is a mistake worth reporting, not a one-column sheet.
        const std::string extension = LowerExtension(context.fileName);
        if (extension == "csv" || extension == "tsv" || extension == "txt" || extension == "tab" || extension.empty())
            return OpenCsvReader(context, data);
        throw SpreadsheetError(ErrorCode::NotAWorkbook,
            "it is not a workbook (it holds plain text; name it .csv to read it as delimited text)");
    }
    case WorkbookFormat::Unknown:
        break;
    }
    throw SpreadsheetError(
        ErrorCode::NotAWorkbook, "it is not a workbook (none of xlsx, xlsm, xls, ods or delimited text)");
}

} // namespace vellumcast::spreadsheet
