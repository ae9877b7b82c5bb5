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
#include <optional>

namespace vellumcast::spreadsheet::ods {

namespace {

using ods::OdsCellSink;
using ods::OdsContentHandler;

constexpr std::string_view kManifest = "urn:oasis:names:tc:opendocument:xmlns:manifest:1.0";
// The manifest's namespace in packages of OpenOffice.org 1 and 2.
constexpr std::string_view kOpenOfficeManifest = "http://openoffice.org/2001/manifest";
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
        if (uri != kManifest && uri != kOpenOfficeManifest)
            return;
        if (local == "file-entry") {
            std::string_view path = attributes.Get(uri, "full-path", nullptr);
            if (path.starts_with("/"))
                path.remove_prefix(1);
            m_inContent = path == "content.xml";
        } else if (local == "encryption-data" && m_inContent) {
            m_encrypted = true;
        }
    }
    void EndElement(std::string_view uri, std::string_view local) override
    {
        if ((uri == kManifest || uri == kOpenOfficeManifest) && local == "file-entry")
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
    bool AddWithValue(
        int32_t row, int32_t column, std::string_view text, std::string_view value, ods::OdsValueKind kind) override
    {
        m_builder.AddTextWithValue(row, column, text, value, kind == ods::OdsValueKind::Date);
        return true;
    }
    SheetLayout* Layout() override { return m_builder.Layout(); }
    bool AddFormula(int32_t row, int32_t column, std::string_view formula) override
    {
        m_builder.AddFormula(row, column, 0, formula::FormulaGrammar::OpenFormula, formula);
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
        , m_keepValues(context.keepValues)
        , m_keepValueKinds(context.keepValues && context.keepValueKinds)
    {
        if (flat)
            return;
        m_archive = context.Archive();
        m_archive->RequireUniqueNames();
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
    // next, from where the last stopped, so an export going through them in turn reads
    // the content once. A list wanted sooner is read by a pass that goes over the
    // worksheets' content unread.
    std::deque<SheetEntry> ListFirstSheet()
    {
        auto read = std::make_unique<ContentRead>(0, nullptr, RepeatBudget(m_bytes->Size()), m_bytes->Size());
        read->handler.StopAtTable(0);
        Stream(*read);
        if (!read->handler.SawSpreadsheet())
            throw SpreadsheetError(
                ErrorCode::NotAWorkbook, "it is not a workbook (an OpenDocument file, but no spreadsheet)");
        Learn(read->handler);
        KeepToGoOn(std::move(read));
        return { m_listed.begin(), m_listed.end() };
    }

    bool ListSheets(size_t wanted, std::deque<SheetEntry>& sheets) override
    {
        std::lock_guard lock(m_listMutex);
        if (m_listed.size() < wanted && !m_listedAll) {
            ContentRead read(0, nullptr, RepeatBudget(m_bytes->Size()), m_bytes->Size());
            if (wanted != SIZE_MAX)
                read.handler.StopAtTable(wanted - 1);
            Stream(read);
            LearnLocked(read.handler);
        }
        for (size_t i = sheets.size(); i < std::min(wanted, m_listed.size()); ++i)
            sheets.push_back(m_listed[i]);
        return m_listedAll && sheets.size() == m_listed.size();
    }

    uint64_t SheetBytes(size_t) const override { return m_flat ? m_bytes->Size() : m_content->uncompressedSize; }

    void LoadSheet(size_t index, SheetBuilder& builder) override
    {
        BuilderSink sink(builder);
        const uint64_t budget = RepeatBudget(m_bytes->Size());
        // The read the last load left at this worksheet's start goes on; any other load
        // (out of turn, or again) reads from the content's start.
        std::unique_ptr<ContentRead> read = std::move(m_stoppedRead);
        if (read && read->handler.StoppedAtTable() == index) {
            read->handler.LoadStoppedTable(&sink, budget);
            read->scanner.Resume();
        } else {
            read = std::make_unique<ContentRead>(index, &sink, budget, m_bytes->Size());
        }
        // Formulas read the values of cells beside their texts, even where they are alike,
        // so that a number shown as "3" is told from the text "3".
        read->handler.KeepValues(m_keepValues || builder.ValuesForFormulas());
        read->handler.KeepValueKinds(m_keepValueKinds || builder.ValuesForFormulas());
        read->handler.StopAtTable(index + 1); // listing the next worksheet on the way
        try {
            Stream(*read, &builder);
        } catch (const SpreadsheetError&) {
            // Damage past the worksheet is not its own: the list meets it when read on.
            if (!read->handler.TargetDone())
                throw;
            return;
        }
        if (!read->handler.TargetDone())
            throw SpreadsheetError(ErrorCode::Corrupt, "the worksheet is missing from the document");
        Learn(read->handler);
        KeepToGoOn(std::move(read));
    }

private:
    // One pass through the content, which may stop at a worksheet's start and later go
    // on from there.
    struct ContentRead {
        ContentRead(size_t target, OdsCellSink* sink, uint64_t repeatBudget, uint64_t fileSize)
            : handler(target, sink, repeatBudget)
            , scanner(handler)
            , adapter(handler)
        {
            handler.LimitTables(fileSize);
        }
        OdsContentHandler handler;
        ods::OdsXmlScanner scanner;
        ods::OdsXmlAdapter adapter;
        std::unique_ptr<xml::XmlParser> expat; // content in another encoding than UTF-8
        bool decided = false; // between the scanner and Expat
        std::unique_ptr<container::ZipMemberStream> member; // of a package
        uint64_t read = 0; // bytes of the content fed
    };

    // Keeps a read stopped at a worksheet's start for the load of that worksheet. Expat
    // does not go on after a stop, so a read through it is not kept.
    void KeepToGoOn(std::unique_ptr<ContentRead> read)
    {
        if (read->handler.StoppedAtTable() != SIZE_MAX && !read->expat)
            m_stoppedRead = std::move(read);
    }

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

    // The next piece of the content after what the read was given, or nullopt at its
    // end. A package's content is inflated on a second thread; the scanner stays on this
    // one, with the yield calls.
    std::optional<std::string_view> NextPiece(ContentRead& read)
    {
        if (m_flat) {
            const auto bytes = m_bytes->Bytes();
            const std::string_view document(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            if (read.read >= document.size())
                return std::nullopt;
            return document.substr(read.read, kFlatPiece);
        }
        if (!read.member)
            read.member = std::make_unique<container::ZipMemberStream>(*m_archive, *m_content);
        return read.member->Next();
    }

    // Reads on until the handler asks to stop or the content ends. builder, when given,
    // learns how much of the content has been read.
    void Stream(ContentRead& read, SheetBuilder* builder = nullptr)
    {
        // UTF-8 content (what every writer produces) goes through the fast scanner; any
        // other encoding through Expat, which converts it.
        const auto feed = [&](std::string_view piece, bool final) {
            if (!read.decided) {
                read.decided = true;
                if (!xml::ScannerReads(piece)) {
                    read.expat = std::make_unique<xml::XmlParser>(read.adapter);
                    read.adapter.SetStop([expat = read.expat.get()] { expat->Stop(); });
                }
            }
            if (read.expat)
                read.expat->Feed(piece, final);
            else
                read.scanner.Feed(piece, final);
        };
        const uint64_t size = m_flat ? m_bytes->Size() : m_content->uncompressedSize;
        // A read stopped within a piece goes on with the rest the scanner kept.
        if (read.decided)
            feed({}, false);
        while (!read.handler.StopRequested()) {
            const std::optional<std::string_view> piece = NextPiece(read);
            if (!piece) {
                feed({}, true);
                return;
            }
            feed(*piece, false);
            read.read += piece->size();
            if (builder)
                builder->NoteRead(read.read, size);
            if (!read.handler.StopRequested() && m_yield)
                m_yield();
        }
    }

    std::shared_ptr<const FileBytes> m_bytes;
    std::function<void()> m_yield;
    bool m_flat;
    bool m_keepValues; // the cells keep the values recorded beside their text
    bool m_keepValueKinds; // and beside every text, equal or not
    std::shared_ptr<const container::ZipArchive> m_archive;
    const container::ZipEntry* m_content = nullptr;
    std::unique_ptr<ContentRead> m_stoppedRead; // stopped at the start of the next worksheet to load
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
