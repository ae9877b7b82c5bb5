// OpenDocument spreadsheets: packaged (.ods, .ots) or flat XML (.fods). Cells carry the
// text the saving application displayed, so the reader keeps that text and needs no
// number formats. content.xml is streamed, never held as a tree.

#include "spreadsheet/ods/OdsReader.h"
#include "spreadsheet/container/Zip.h"
#include "spreadsheet/ods/OdsContent.h"
#include "spreadsheet/ods/OdsXmlScanner.h"
#include "spreadsheet/xml/Xml.h"
#include "spreadsheet/xml/XmlText.h"

#include <algorithm>
#include <deque>
#include <mutex>

namespace vellumcast::spreadsheet::ods {

namespace {

using ods::OdsCellSink;
using ods::OdsContentHandler;

constexpr std::string_view kManifest = "urn:oasis:names:tc:opendocument:xmlns:manifest:1.0";
// What repetition (number-rows-repeated, number-columns-repeated) may add to one sheet,
// in bytes of cells and their texts. Each repeated cell costs its 16 bytes over the text
// it gives, so the budget is what a sheet may hold beyond the text it exports: 32 MiB
// (two million short cells, far more than real files repeat), and one cell's worth per
// byte of the file.
uint64_t RepeatBudget(uint64_t fileSize)
{
    return (uint64_t { 32 } << 20) + 16 * fileSize;
}
constexpr size_t kFlatPiece = size_t { 1 } << 20;

// Finds whether content.xml is encrypted: the manifest then gives it encryption data.
class ManifestHandler final : public xml::XmlHandler {
public:
    void StartElement(std::string_view uri, std::string_view local, const xml::XmlAttributes& attributes) override
    {
        if (uri != kManifest)
            return;
        if (local == "file-entry") {
            std::string_view path = attributes.Get(kManifest, "full-path", nullptr);
            if (path.starts_with("/"))
                path.remove_prefix(1);
            m_inContent = path == "content.xml";
        } else if (local == "encryption-data" && m_inContent) {
            m_encrypted = true;
        }
    }
    void EndElement(std::string_view uri, std::string_view local) override
    {
        if (uri == kManifest && local == "file-entry")
            m_inContent = false;
    }
    bool Encrypted() const { return m_encrypted; }

private:
    bool m_inContent = false;
    bool m_encrypted = false;
};

class BuilderSink final : public OdsCellSink {
public:
    explicit BuilderSink(SheetBuilder& builder)
        : m_builder(builder)
    {
    }
    bool Add(int32_t row, int32_t column, std::string_view text) override
    {
        m_builder.AddString(row, column, text, 0);
        return true;
    }

private:
    SheetBuilder& m_builder;
};

class OdsReader final : public WorkbookReader {
public:
    OdsReader(const ReaderContext& context, bool flat)
        : m_bytes(context.bytes)
        , m_yield(context.yield)
        , m_flat(flat)
    {
        if (flat)
            return;
        m_archive = std::make_unique<container::ZipArchive>(m_bytes->Bytes());
        if (const auto* manifest = m_archive->Find("META-INF/manifest.xml")) {
            ManifestHandler handler;
            xml::ParseXml(m_archive->ReadAll(*manifest, 16u << 20), handler);
            if (handler.Encrypted())
                throw SpreadsheetError(ErrorCode::PasswordProtected, "the workbook is password-protected");
        }
        m_content = m_archive->Find("content.xml");
        if (!m_content)
            throw SpreadsheetError(ErrorCode::Corrupt, "the OpenDocument package has no content.xml");
    }

    // The list of worksheets runs through the content, each name at the start of its
    // worksheet. Opening reads only to the first; each load reads on to the start of the
    // next, so an export going through them in turn reads the content once. A list
    // wanted sooner is read by a pass that goes over the worksheets' content unread.
    std::deque<SheetEntry> ListFirstSheet()
    {
        OdsContentHandler handler(0, nullptr, RepeatBudget(m_bytes->Bytes().size()));
        handler.StopAtTable(0);
        Stream(handler);
        if (!handler.SawSpreadsheet())
            throw SpreadsheetError(
                ErrorCode::NotAWorkbook, "it is not a workbook (an OpenDocument file, but no spreadsheet)");
        Learn(handler);
        return { m_listed.begin(), m_listed.end() };
    }

    bool ListSheets(size_t wanted, std::deque<SheetEntry>& sheets) override
    {
        std::lock_guard lock(m_listMutex);
        if (m_listed.size() < wanted && !m_listedAll) {
            OdsContentHandler handler(0, nullptr, RepeatBudget(m_bytes->Bytes().size()));
            if (wanted != SIZE_MAX)
                handler.StopAtTable(wanted - 1);
            Stream(handler);
            LearnLocked(handler);
        }
        for (size_t i = sheets.size(); i < std::min(wanted, m_listed.size()); ++i)
            sheets.push_back(m_listed[i]);
        return m_listedAll && sheets.size() == m_listed.size();
    }

    uint64_t SheetBytes(size_t) const override
    {
        return m_flat ? m_bytes->Bytes().size() : m_content->uncompressedSize;
    }

    void LoadSheet(size_t index, SheetBuilder& builder) override
    {
        BuilderSink sink(builder);
        OdsContentHandler handler(index, &sink, RepeatBudget(m_bytes->Bytes().size()));
        handler.StopAtTable(index + 1); // listing the next worksheet on the way
        try {
            Stream(handler, &builder);
        } catch (const SpreadsheetError&) {
            // Damage past the worksheet is not its own: the list meets it when read on.
            if (!handler.TargetDone())
                throw;
            return;
        }
        if (!handler.TargetDone())
            throw SpreadsheetError(ErrorCode::Corrupt, "the worksheet is missing from the document");
        Learn(handler);
    }

private:
    // Keeps what a pass over the content saw of the list: the worksheets up to where it
    // stopped, or every one when it read to the end.
    void Learn(const OdsContentHandler& handler)
    {
        std::lock_guard lock(m_listMutex);
        LearnLocked(handler);
    }
    void LearnLocked(const OdsContentHandler& handler)
    {
        std::vector<SheetEntry> seen = handler.Sheets();
        if (seen.size() > m_listed.size())
            m_listed = std::move(seen);
        m_listedAll = m_listedAll || !handler.StopRequested();
    }

    // builder, when given, learns how much of the content has been read.
    void Stream(OdsContentHandler& handler, SheetBuilder* builder = nullptr)
    {
        // UTF-8 content (what every writer produces) goes through the fast scanner; any
        // other encoding through Expat, which converts it.
        ods::OdsXmlScanner scanner(handler);
        ods::OdsXmlAdapter adapter(handler);
        std::unique_ptr<xml::XmlParser> expat;
        bool decided = false;
        const auto feed = [&](std::string_view piece, bool final) {
            if (!decided) {
                decided = true;
                if (!xml::IsUtf8Document(piece.substr(0, 1024))) {
                    expat = std::make_unique<xml::XmlParser>(adapter);
                    adapter.SetStop([&] { expat->Stop(); });
                }
            }
            if (expat)
                expat->Feed(piece, final);
            else
                scanner.Feed(piece, final);
        };
        if (m_flat) {
            const auto bytes = m_bytes->Bytes();
            const std::string_view document(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            for (size_t at = 0; at < document.size() && !handler.StopRequested(); at += kFlatPiece) {
                const std::string_view piece = document.substr(at, kFlatPiece);
                feed(piece, at + piece.size() >= document.size());
                if (builder)
                    builder->NoteRead(at + piece.size(), document.size());
                if (m_yield)
                    m_yield();
            }
            return;
        }
        // The content is inflated on a second thread; the scanner stays on this one, with
        // the yield calls.
        uint64_t read = 0;
        m_archive->ReadAhead(*m_content, [&](std::string_view chunk) {
            feed(chunk, false);
            read += chunk.size();
            if (builder)
                builder->NoteRead(read, m_content->uncompressedSize);
            if (handler.StopRequested())
                return false;
            if (m_yield)
                m_yield();
            return true;
        });
        if (!handler.StopRequested())
            feed({}, true);
    }

    std::shared_ptr<const FileBytes> m_bytes;
    std::function<void()> m_yield;
    bool m_flat;
    std::unique_ptr<container::ZipArchive> m_archive;
    const container::ZipEntry* m_content = nullptr;
    // The worksheets listed so far; loads list on beside the thread that asks.
    std::mutex m_listMutex;
    std::vector<SheetEntry> m_listed;
    bool m_listedAll = false;
};

} // namespace

namespace {

std::unique_ptr<WorkbookReader> Open(const ReaderContext& context, WorkbookData& data, bool flat)
{
    auto reader = std::make_unique<OdsReader>(context, flat);
    data.sheets = reader->ListFirstSheet();
    return reader;
}

} // namespace

std::unique_ptr<WorkbookReader> OpenReader(const ReaderContext& context, WorkbookData& data)
{
    return Open(context, data, false);
}

std::unique_ptr<WorkbookReader> OpenFlatReader(const ReaderContext& context, WorkbookData& data)
{
    return Open(context, data, true);
}

} // namespace vellumcast::spreadsheet::ods
