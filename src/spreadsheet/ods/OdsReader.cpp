// OpenDocument spreadsheets: packaged (.ods, .ots) or flat XML (.fods). Cells carry the
// text the saving application displayed, so the reader keeps that text and needs no
// number formats. content.xml is streamed, never held as a tree.

#include "spreadsheet/ods/OdsReader.h"
#include "core/BoundedQueue.h"
#include "spreadsheet/container/Zip.h"
#include "spreadsheet/ods/OdsContent.h"
#include "spreadsheet/ods/OdsXmlScanner.h"
#include "spreadsheet/xml/Xml.h"
#include "spreadsheet/xml/XmlText.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <thread>

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
// The first worksheet's cells are kept from the opening pass up to this many bytes.
constexpr uint64_t kCacheBudget = uint64_t { 512 } << 20;
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

// The first worksheet as loaded during the opening pass, handed to its LoadSheet whole.
// Past the budget it is dropped, and that sheet is read again when asked for.
// Its cells are built on a thread of their own from batches the scanning thread hands
// over, so that building (and the page faults of a large sheet) overlaps the scan.
class FirstSheet final : public OdsCellSink {
public:
    // contentSize: the bytes of XML the sheet is read from. Room for the texts is
    // reserved from it, so the pool is not copied as it grows; pages never written cost
    // nothing.
    FirstSheet(uint64_t contentSize, uint64_t fileSize)
        : m_builder(m_data)
        , m_budget(std::min(kCacheBudget, SheetMemoryLimit(fileSize)))
    {
        m_builder.LimitMemory(m_budget);
        m_builder.Reserve(0, static_cast<size_t>(std::min<uint64_t>(contentSize / 8, m_budget)));
        m_thread = std::thread([this] { Build(); });
    }

    ~FirstSheet() override { Stop(); }
    FirstSheet(const FirstSheet&) = delete;
    FirstSheet& operator=(const FirstSheet&) = delete;

    bool Add(int32_t row, int32_t column, std::string_view text) override
    {
        if (m_dropped)
            return false;
        m_bytes += sizeof(Cell) + text.size();
        try {
            if (m_bytes > m_budget)
                throw std::bad_alloc();
            m_batch.cells.push_back({ row, column, m_batch.text.size(), text.size() });
            m_batch.text.append(text);
            if ((m_batch.cells.size() == kBatchCells || m_batch.text.size() >= kBatchText) && !Send())
                throw std::bad_alloc();
        } catch (const std::exception&) {
            Drop();
            return false;
        }
        return true;
    }

    // True when the sheet was read to its end and kept.
    bool Complete(bool targetDone)
    {
        if (!targetDone || m_dropped || !Send() || !Close()) {
            Drop();
            return false;
        }
        m_builder.Finish();
        return true;
    }

    void HandOver(SheetBuilder& builder)
    {
        builder.Adopt(std::move(m_data));
        m_data.Clear();
    }

    void Drop()
    {
        m_dropped = true;
        Stop();
        m_data.Clear();
    }

private:
    struct Batch {
        struct Entry {
            int32_t row;
            int32_t column;
            size_t offset; // in text
            size_t length;
        };
        std::vector<Entry> cells;
        std::string text;
    };
    static constexpr size_t kBatchCells = 16384;
    static constexpr size_t kBatchText = size_t { 1 } << 20; // long texts go in smaller batches

    // Hands the batch being filled to the building thread; false once building failed.
    bool Send()
    {
        if (m_batch.cells.empty())
            return true;
        if (!m_queue.Push(std::move(m_batch)))
            return false;
        m_batch = m_queue.TakeSpare();
        return true;
    }

    // Waits until every batch is built; false when building failed.
    bool Close()
    {
        m_queue.Close();
        Join();
        return !m_failed;
    }

    // Ends the building thread at once.
    void Stop()
    {
        m_queue.Cancel();
        Join();
    }

    void Join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }

    void Build()
    {
        while (std::optional<Batch> batch = m_queue.Pop()) {
            try {
                const std::string_view text(batch->text);
                for (const Batch::Entry& cell : batch->cells)
                    m_builder.AddString(cell.row, cell.column, text.substr(cell.offset, cell.length), 0);
            } catch (const std::exception&) {
                m_failed = true; // read by the scanning thread only after the join
                m_queue.Cancel();
                return;
            }
            batch->cells.clear();
            batch->text.clear();
            m_queue.Recycle(std::move(*batch));
        }
    }

    SheetData m_data;
    SheetBuilder m_builder; // used by the building thread until it is joined
    uint64_t m_bytes = 0;
    uint64_t m_budget; // what the cached sheet may take, as any loaded sheet of the file
    bool m_dropped = false;
    Batch m_batch; // being filled by the scanning thread
    core::BoundedQueue<Batch> m_queue { 4 };
    bool m_failed = false; // set by the building thread
    std::thread m_thread;
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

    // One pass over the content: the sheet list, and the first sheet's cells kept for
    // its LoadSheet, since that is nearly always the sheet asked for first.
    std::vector<SheetEntry> ReadSheetList()
    {
        const uint64_t fileSize = m_bytes->Bytes().size();
        m_first = std::make_unique<FirstSheet>(m_flat ? fileSize : m_content->uncompressedSize, fileSize);
        OdsContentHandler handler(0, m_first.get(), RepeatBudget(fileSize), true);
        Stream(handler, false);
        if (!handler.SawSpreadsheet())
            throw SpreadsheetError(
                ErrorCode::NotAWorkbook, "it is not a workbook (an OpenDocument file, but no spreadsheet)");
        if (!m_first->Complete(handler.TargetDone()))
            m_first.reset();
        return handler.Sheets();
    }

    uint64_t SheetBytes(size_t index) const override
    {
        if (index == 0 && m_first)
            return 0;
        return m_flat ? m_bytes->Bytes().size() : m_content->uncompressedSize;
    }

    void LoadSheet(size_t index, SheetBuilder& builder) override
    {
        if (index == 0 && m_first) {
            m_first->HandOver(builder);
            m_first.reset();
            return;
        }
        m_first.reset();
        BuilderSink sink(builder);
        OdsContentHandler handler(index, &sink, RepeatBudget(m_bytes->Bytes().size()), false);
        Stream(handler, true);
        if (!handler.TargetDone())
            throw SpreadsheetError(ErrorCode::Corrupt, "the worksheet is missing from the document");
    }

private:
    void Stream(OdsContentHandler& handler, bool stopAfterTarget)
    {
        if (stopAfterTarget)
            handler.StopAfterTarget();
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
                if (m_yield)
                    m_yield();
            }
            return;
        }
        // The content is inflated on a second thread; the scanner stays on this one, with
        // the yield calls.
        m_archive->ReadAhead(*m_content, [&](std::string_view chunk) {
            feed(chunk, false);
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
    std::unique_ptr<FirstSheet> m_first;
};

} // namespace

namespace {

std::unique_ptr<WorkbookReader> Open(const ReaderContext& context, WorkbookData& data, bool flat)
{
    auto reader = std::make_unique<OdsReader>(context, flat);
    data.sheets = reader->ReadSheetList();
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
