#include "spreadsheet/FormatDetection.h"
#include "spreadsheet/SpreadsheetError.h"

#include "spreadsheet/container/Cfb.h"
#include "spreadsheet/container/Inflate.h"
#include "spreadsheet/container/Zip.h"
#include "spreadsheet/csv/CsvReader.h"
#include "spreadsheet/encryption/PackageEncryption.h"
#include "spreadsheet/ods/OdsReader.h"
#include "spreadsheet/spreadsheetml/SpreadsheetMlReader.h"
#include "spreadsheet/text/TextEncoding.h"
#include "spreadsheet/xls/XlsReader.h"
#include "spreadsheet/xlsb/XlsbReader.h"
#include "spreadsheet/xlsx/XlsxReader.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace vellumcast::spreadsheet {

namespace {

constexpr uint8_t kCompoundFileSignature[8] = { 0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1 };

bool StartsWith(std::span<const uint8_t> bytes, const void* prefix, size_t length)
{
    return bytes.size() >= length && std::memcmp(bytes.data(), prefix, length) == 0;
}

// What the detectors look at: the first bytes, and the directory of a ZIP package, read
// once however many rows ask for it and handed on to the package's reader.
class Probe {
public:
    explicit Probe(std::shared_ptr<const FileBytes> bytes)
        : m_file(std::move(bytes))
        , m_head(m_file->Read(0, static_cast<size_t>(std::min<uint64_t>(m_file->Size(), kHeadSize)), m_headScratch))
    {
    }

    // As far as any detector looks into a file that is no package.
    static constexpr size_t kHeadSize = 8192;
    std::span<const uint8_t> Bytes() const { return m_head; }
    const std::shared_ptr<const FileBytes>& File() const { return m_file; }

    bool IsZip() const { return StartsWith(m_head, "PK\x03\x04", 4) || StartsWith(m_head, "PK\x05\x06", 4); }

    // The package, or nothing when the bytes are no ZIP archive.
    const container::ZipArchive* Zip()
    {
        if (!IsZip())
            return nullptr;
        if (!m_zip)
            m_zip = std::make_shared<const container::ZipArchive>(m_file);
        return m_zip.get();
    }
    std::shared_ptr<const container::ZipArchive> TakeZip() { return std::move(m_zip); }

private:
    std::shared_ptr<const FileBytes> m_file;
    std::vector<uint8_t> m_headScratch;
    std::span<const uint8_t> m_head;
    std::shared_ptr<const container::ZipArchive> m_zip;
};

bool IsCompoundFile(Probe& probe)
{
    return StartsWith(probe.Bytes(), kCompoundFileSignature, sizeof kCompoundFileSignature);
}

// An Office Open XML package saved with a password: a compound file holding the
// encryption's description and the encrypted package. A damaged compound file is left to
// the legacy reader, which says what is wrong with it.
bool IsEncryptedPackage(Probe& probe)
{
    if (!IsCompoundFile(probe))
        return false;
    try {
        return encryption::HoldsEncryptedPackage(container::CompoundFile(probe.File()));
    } catch (const SpreadsheetError&) {
        return false;
    }
}

// A workbook stream saved on its own, without the compound file around it, as old
// versions of the application and other programs wrote them: it starts with a BOF
// record of one of the BIFF versions (the record type, then its length).
bool IsBiffStream(Probe& probe)
{
    const auto bytes = probe.Bytes();
    if (bytes.size() < 8)
        return false;
    const unsigned type = bytes[0] | (bytes[1] << 8);
    const unsigned length = bytes[2] | (bytes[3] << 8);
    if (type == 0x0809) // BIFF5 and BIFF8
        return length == 8 || length == 16;
    return (type == 0x0009 && length == 4) || ((type == 0x0209 || type == 0x0409) && length == 6);
}

bool HasOdsMimetype(const container::ZipArchive& archive)
{
    const auto* mimetype = archive.Find("mimetype");
    return mimetype && archive.ReadAll(*mimetype, 4096).find("opendocument.spreadsheet") != std::string::npos;
}

bool HasXlsxParts(const container::ZipArchive& archive)
{
    return archive.Find("xl/workbook.xml") || archive.Find("[Content_Types].xml");
}

// A package that says it is an OpenDocument spreadsheet, or one without a mimetype that
// holds the content part and none of the xlsx parts.
bool IsOdsPackage(Probe& probe)
{
    const auto* archive = probe.Zip();
    return archive && (HasOdsMimetype(*archive) || (!HasXlsxParts(*archive) && archive->Find("content.xml")));
}

// The binary form of the package keeps its workbook part as records: at the usual place,
// or wherever the content types' binary workbook type says.
bool IsXlsbPackage(Probe& probe)
{
    const auto* archive = probe.Zip();
    if (!archive || archive->Find("xl/workbook.xml"))
        return false;
    const auto* types = archive->Find("[Content_Types].xml");
    constexpr uint64_t kTypesLooked = 1u << 20; // far more than any package's content types
    return archive->Find("xl/workbook.bin")
        || (types && types->uncompressedSize <= kTypesLooked
            && archive->ReadAll(*types, kTypesLooked).find("sheet.binary.macroEnabled.main") != std::string::npos);
}

bool IsXlsxPackage(Probe& probe)
{
    const auto* archive = probe.Zip();
    return archive && HasXlsxParts(*archive);
}

// The first bytes of a gzip stream's content (RFC 1952), as far as the head holds them;
// empty when the head holds no gzip stream.
std::string GzipHead(std::span<const uint8_t> bytes, size_t wanted)
{
    if (bytes.size() < 18 || bytes[0] != 0x1F || bytes[1] != 0x8B || bytes[2] != 8)
        return {};
    const uint8_t flags = bytes[3];
    size_t at = 10;
    if (flags & 0x04) // FEXTRA
        at += 2 + (bytes[10] | (bytes[11] << 8));
    for (const uint8_t zeroEnded : { uint8_t { 0x08 }, uint8_t { 0x10 } }) { // FNAME, FCOMMENT
        if (!(flags & zeroEnded))
            continue;
        while (at < bytes.size() && bytes[at] != 0)
            ++at;
        ++at;
    }
    if (flags & 0x02) // FHCRC
        at += 2;
    if (at >= bytes.size())
        return {};
    container::Inflater inflater;
    inflater.SetInput(bytes.data() + at, bytes.size() - at);
    std::string out(wanted, '\0');
    size_t produced = 0;
    if (inflater.Inflate(reinterpret_cast<uint8_t*>(out.data()), out.size(), produced)
        == container::Inflater::Status::Damaged)
        return {};
    out.resize(produced);
    return out;
}

// A Gnumeric workbook: its XML, gzip-compressed as Gnumeric saves it or not, names the
// Gnumeric namespace on its root. Its XML also holds OpenDocument metadata, which would
// otherwise make it look like a flat OpenDocument file.
bool IsGnumeric(Probe& probe)
{
    if (probe.IsZip())
        return false;
    const auto bytes = probe.Bytes();
    std::string head = GzipHead(bytes, 4096);
    if (head.empty())
        head.assign(reinterpret_cast<const char*>(bytes.data()), std::min<size_t>(bytes.size(), 4096));
    return head.find("<?xml") != std::string::npos && head.find("http://www.gnumeric.org/v") != std::string::npos;
}

std::unique_ptr<WorkbookReader> RefuseGnumeric(const ReaderContext&, WorkbookData&)
{
    throw SpreadsheetError(ErrorCode::Unsupported,
        "it is a Gnumeric workbook, a format not read here (Gnumeric saves it as xlsx or ods too)");
}

// True when the first bytes hold an OpenDocument flat XML document.
bool IsFlatOds(Probe& probe)
{
    if (probe.IsZip())
        return false;
    const auto bytes = probe.Bytes();
    const std::string_view head(reinterpret_cast<const char*>(bytes.data()), std::min<size_t>(bytes.size(), 4096));
    return head.find("<?xml") != std::string_view::npos && head.find("office:document") != std::string_view::npos;
}

// An XML spreadsheet naming its namespace in its first 4096 characters, in UTF-16 (with a
// byte-order mark or without) as well as in a byte-wide encoding.
bool IsSpreadsheetMl(Probe& probe)
{
    const auto bytes = probe.Bytes();
    const std::string_view head(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const size_t looked = text::Utf16XmlOrder(head) == text::ByteOrderMark::None ? 4096 : 8192;
    return !probe.IsZip() && spreadsheetml::LooksLikeSpreadsheetMl(head.substr(0, looked));
}

// Plain text: no NUL characters and few control characters in the first kilobytes, read
// as UTF-16 or UTF-32 when a byte-order mark or the content says so (text::TextFormOf).
bool IsText(Probe& probe)
{
    if (probe.IsZip())
        return false;
    const auto bytes = probe.Bytes();
    const auto found = text::TextFormOf({ reinterpret_cast<const char*>(bytes.data()), bytes.size() });
    using text::TextForm;
    const size_t step = found.form == TextForm::Bytes                        ? 1
        : found.form == TextForm::Utf16LE || found.form == TextForm::Utf16BE ? 2
                                                                             : 4;
    const size_t length = std::min<size_t>(bytes.size(), 8192) / step * step;
    size_t control = 0;
    for (size_t i = found.markLength; i < length; i += step) {
        const uint8_t* u = bytes.data() + i;
        uint32_t unit = u[0];
        if (found.form == TextForm::Utf16LE)
            unit = u[0] | (u[1] << 8);
        else if (found.form == TextForm::Utf16BE)
            unit = (u[0] << 8) | u[1];
        else if (found.form == TextForm::Utf32LE)
            unit = u[0] | (u[1] << 8) | (u[2] << 16) | (uint32_t { u[3] } << 24);
        else if (found.form == TextForm::Utf32BE)
            unit = (uint32_t { u[0] } << 24) | (u[1] << 16) | (u[2] << 8) | u[3];
        if (unit == 0)
            return false;
        if (unit < 0x20 && unit != '\t' && unit != '\n' && unit != '\r' && unit != '\f')
            ++control;
    }
    return control * 100 <= length / step;
}

// Decrypts the package (Workbook.h says where its password comes from) and opens it as the
// xlsx or xlsb package it holds.
std::unique_ptr<WorkbookReader> OpenEncryptedPackage(const ReaderContext& context, WorkbookData& data)
{
    ReaderContext decrypted = context;
    decrypted.bytes
        = FileBytes::FromBuffer(encryption::DecryptPackage(container::CompoundFile(context.bytes), context.password));
    decrypted.archive = nullptr;
    Probe probe(decrypted.bytes);
    const bool binary = IsXlsbPackage(probe);
    if (!binary && !IsXlsxPackage(probe))
        Corrupt("the decrypted package is not an xlsx, xlsm or xlsb workbook");
    decrypted.archive = probe.TakeZip();
    return binary ? xlsb::OpenReader(decrypted, data) : xlsx::OpenReader(decrypted, data);
}

// Names under which text is saved: an empty file so named is an empty worksheet.
bool HasTextName(const std::string& fileName)
{
    const size_t dot = fileName.rfind('.');
    if (dot == std::string::npos)
        return false;
    std::string extension = fileName.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == "csv" || extension == "tsv" || extension == "tab" || extension == "txt";
}

struct FormatRow {
    bool (*matches)(Probe& probe);
    std::unique_ptr<WorkbookReader> (*open)(const ReaderContext& context, WorkbookData& data);
};

// Every format the engine reads, in the order the detectors are asked. A new reader is a
// folder of its own and one row here.
constexpr FormatRow kFormats[] = {
    { IsEncryptedPackage, OpenEncryptedPackage },
    { IsCompoundFile, xls::OpenReader },
    { IsBiffStream, xls::OpenBareStreamReader },
    { IsOdsPackage, ods::OpenReader },
    { IsXlsbPackage, xlsb::OpenReader },
    { IsXlsxPackage, xlsx::OpenReader },
    { IsGnumeric, RefuseGnumeric },
    { IsFlatOds, ods::OpenFlatReader },
    { IsSpreadsheetMl, spreadsheetml::OpenReader },
    { IsText, csv::OpenReader },
};

const FormatRow* FindFormat(Probe& probe)
{
    for (const auto& row : kFormats) {
        if (row.matches(probe))
            return &row;
    }
    return nullptr;
}

} // namespace

std::vector<std::string> WorkbookExtensions()
{
    return {
        "xlsx", "xlsm", "xltx", "xltm", "xlam", // Office Open XML
        "xlsb", // the same package with binary parts
        "xls", "xlt", // compound file
        "ods", "ots", // OpenDocument package
        "fods", // OpenDocument flat XML
        "csv", // delimited text; XML spreadsheets (.xml) only when asked for, as most .xml files are no workbooks
    };
}

std::unique_ptr<WorkbookReader> OpenReader(const ReaderContext& context, WorkbookData& data)
{
    if (context.bytes->Size() == 0) {
        // Empty text is text of no lines, as the application opens it; an empty file under
        // any other name is nothing.
        if (HasTextName(context.fileName))
            return csv::OpenReader(context, data);
        throw SpreadsheetError(ErrorCode::NotAWorkbook, "the file is empty");
    }
    ReaderContext opened = context;
    const FormatRow* row = nullptr;
    try {
        Probe probe(context.bytes);
        row = FindFormat(probe);
        opened.archive = probe.TakeZip();
    } catch (const SpreadsheetError& error) {
        throw SpreadsheetError(error.code(), std::string("it is not a workbook: ") + error.what());
    }
    // Text in an encoding a person names is read as text, whatever it looks like.
    if (!row && context.delimitedText.encoding != TextEncoding::Auto)
        return csv::OpenReader(opened, data);
    if (!row)
        throw SpreadsheetError(ErrorCode::NotAWorkbook,
            "it is not a workbook (none of xlsx, xlsm, xlsb, xls, ods, XML spreadsheet 2003 or delimited text)");
    return row->open(opened, data);
}

std::shared_ptr<const container::ZipArchive> ReaderContext::Archive() const
{
    return archive ? archive : std::make_shared<const container::ZipArchive>(bytes);
}

} // namespace vellumcast::spreadsheet
