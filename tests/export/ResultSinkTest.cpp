// The export procedures hand each text to a sink as it is composed. A sink that records
// every call must end up with the entries the result list holds, each text whole and in
// order, whether the worksheet is walked once loaded or composed while it loads (when
// what was handed over may be taken back), and however little the sink lets them hold.

#include "export/ExportProcedures.h"
#include "export/TextHandOver.h"
#include "support/ExportHarness.h"
#include "support/LoadBesideWalk.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

using namespace vellumcast;
namespace vt = vellumcast::testing;
using options::SaveMode;

namespace {

// Keeps what it is handed as the entries it stands for, checking the calls' order: no
// bytes outside an entry, no entry begun inside another, no mark from the future.
class RecordingSink final : public exporting::ResultSink {
public:
    explicit RecordingSink(size_t holdLimit)
        : m_holdLimit(holdLimit)
    {
    }
    struct Entry {
        std::string names;
        std::string text;
    };

    void Begin(const exporting::ResultEntry& head) override
    {
        Check(!m_inEntry, "an entry begun inside another");
        m_current = { head.fileName.Copy() + " | " + head.sheetName.Copy() + " | " + std::to_string(head.ordinal)
                + " | " + std::to_string(static_cast<int>(head.mode)),
            {} };
        m_inEntry = true;
    }
    using ResultSink::Write;
    void Write(std::string_view bytes) override
    {
        Check(m_inEntry, "bytes handed over outside an entry");
        m_current.text += bytes;
        ++appends;
    }
    void Cut(uint64_t size) override
    {
        Check(m_inEntry && size <= m_current.text.size(), "a cut outside an entry or past its bytes");
        m_current.text.resize(std::min<size_t>(m_current.text.size(), size));
    }
    void Commit() override
    {
        Check(m_inEntry, "an entry ended that was not begun");
        entries.push_back(std::move(m_current));
        m_current = {};
        m_inEntry = false;
    }
    void CommitCutShort() override
    {
        m_current.names += " | cut short";
        Commit();
    }
    void Abandon() override
    {
        m_current = {};
        m_inEntry = false;
    }
    exporting::SinkMark Mark() const override
    {
        return { entries.size(), m_inEntry ? m_current.text.size() : 0, m_inEntry };
    }
    void RollBack(const exporting::SinkMark& mark) override
    {
        ++rollBacks;
        Check(mark.entries <= entries.size(), "a roll-back past the entries there are");
        if (mark.inEntry && !m_inEntry) {
            Check(mark.entries < entries.size(), "a roll-back into an entry that never ended");
            m_current = entries[mark.entries];
        }
        entries.resize(mark.entries);
        m_inEntry = mark.inEntry;
        Check(!m_inEntry || mark.bytes <= m_current.text.size(), "a roll-back past the bytes there are");
        m_current.text.resize(m_inEntry ? mark.bytes : 0);
    }
    size_t HoldLimit() const override { return m_holdLimit; }

    std::vector<Entry> entries;
    std::vector<std::string> faults;
    size_t appends = 0;
    size_t rollBacks = 0;
    bool InEntry() const { return m_inEntry; }

private:
    void Check(bool good, const char* fault)
    {
        if (!good)
            faults.push_back(fault);
    }
    size_t m_holdLimit;
    Entry m_current;
    bool m_inEntry = false;
};

// Runs the procedure of mode on the workbook at path into context; false when it cannot be opened.
bool Export(exporting::ExportContext& context, const std::string& path, SaveMode mode,
    const options::ExportOptions& options, int64_t& resultNumber)
{
    spreadsheet::Application application;
    std::unique_ptr<spreadsheet::Workbook> book;
    try {
        book = application.Open(path);
    } catch (const std::exception&) {
        return false;
    }
    if (mode == SaveMode::AllSheets) {
        // As the run does: the entry under way from the start, whatever the export gives.
        std::string text;
        context.results.Begin({ exporting::ResultFileName(path), {}, 0, {}, mode });
        try {
            exporting::ExportAllSheetsToTextFile(context, book.get(), options, text);
        } catch (const std::exception& error) {
            text += std::string("failed: ") + error.what();
        }
        context.results.Write(std::move(text));
        context.results.Commit();
    } else if (mode == SaveMode::EachSheet)
        exporting::ExportSheetToTextFile(context, book.get(), options, path, resultNumber);
    else if (mode == SaveMode::EachRow)
        exporting::ExportRowToTextFile(context, book.get(), options, path, resultNumber);
    else
        exporting::ExportColumnToTextFile(context, book.get(), options, path, resultNumber);
    return true;
}

} // namespace

TEST(ResultSink, EveryFixtureReachesARecordingSinkWholeAndInOrderHoweverItIsLoaded)
{
    const std::vector<std::string> workbooks = vt::EveryWorkbook();
    ASSERT_GT(workbooks.size(), 100u);
    size_t compared = 0;
    size_t inPieces = 0; // entries that came in more than one piece
    size_t takenBack = 0;
    for (const uint64_t threshold : { uint64_t(0), spreadsheet::kNeverLoadBeside }) {
        vt::ScopedLoadBesideWalkThreshold loading(threshold);
        for (const std::string& path : workbooks) {
            for (const SaveMode mode :
                { SaveMode::AllSheets, SaveMode::EachSheet, SaveMode::EachRow, SaveMode::EachColumn }) {
                for (const size_t holdLimit : { size_t(1), size_t(1) << 20 }) {
                    SCOPED_TRACE(path + ", mode " + std::to_string(static_cast<int>(mode)) + ", threshold "
                        + std::to_string(threshold) + ", holding " + std::to_string(holdLimit));
                    options::ExportOptions options;
                    options.saveMode = mode;
                    options.divider = ",";
                    options.includeBlankCells = mode != SaveMode::EachColumn;
                    // Hidden lines left out number the others by their place in the used range.
                    options.skipHiddenRows = options.skipHiddenColumns = options.skipEmptyLines
                        = mode == SaveMode::EachRow;
                    vt::ExportHarness listed;
                    if (!Export(listed.context, path, mode, options, listed.resultNumber))
                        continue;
                    vt::ExportHarness recorded;
                    RecordingSink sink(holdLimit);
                    exporting::ExportContext context { recorded.reporter, recorded.pump, recorded.progress, sink };
                    ASSERT_TRUE(Export(context, path, mode, options, recorded.resultNumber));

                    EXPECT_EQ(sink.faults, std::vector<std::string>());
                    EXPECT_FALSE(sink.InEntry());
                    ASSERT_EQ(sink.entries.size(), listed.results.size());
                    for (size_t i = 0; i < sink.entries.size(); ++i) {
                        const exporting::ResultEntry entry = listed.results[i];
                        EXPECT_EQ(sink.entries[i].names,
                            entry.fileName.Copy() + " | " + entry.sheetName.Copy() + " | "
                                + std::to_string(entry.ordinal) + " | " + std::to_string(static_cast<int>(entry.mode)));
                        EXPECT_EQ(sink.entries[i].text, entry.text.View()) << "entry " << i;
                    }
                    EXPECT_EQ(recorded.resultNumber, listed.resultNumber);
                    inPieces += sink.appends > sink.entries.size() + 2 * sink.rollBacks ? 1 : 0;
                    takenBack += sink.rollBacks;
                    EXPECT_EQ(recorded.reporter.reports.size(), listed.reporter.reports.size());
                    ++compared;
                }
            }
        }
    }
    EXPECT_GT(compared, 12 * workbooks.size());
    // The texts were handed over as they grew, and some taken back, not only held whole.
    EXPECT_GT(inPieces, workbooks.size());
    EXPECT_GT(takenBack, 0u);
}

TEST(ResultListAsSink, RollingBackDropsWhatCameAfterTheMarkAndKeepsWhatCameBefore)
{
    exporting::ResultList list;
    const exporting::ResultEntry head { "book.txt", "Data", 0, {}, SaveMode::EachSheet };
    list.Take(head, "first\r\n");
    const exporting::SinkMark afterFirst = list.Mark();
    list.Begin(head);
    list.Write("abc");
    const exporting::SinkMark inSecond = list.Mark();
    list.Write(std::string("def"));
    list.Commit();
    list.Take(head, "third");
    ASSERT_EQ(list.size(), 3u);

    // Back into the second entry, which has ended since: it is under way again with its first bytes.
    list.RollBack(inSecond);
    ASSERT_EQ(list.size(), 1u);
    list.Write("XY");
    list.Commit();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].text, "first\r\n");
    EXPECT_EQ(list[1].text, "abcXY");

    list.Begin(head);
    list.Write("dropped");
    list.RollBack(afterFirst);
    ASSERT_EQ(list.size(), 1u);
    list.Take(head, "");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].text, "");
}

// Leaving a hand-over scope ends the hand-over; a failure takes back what went past the
// size asked for, or keeps all that was composed when told to.
TEST(ResultSink, AHandOverScopeTakesBackOrKeepsWhatWentWhenAFailureLeavesIt)
{
    const struct {
        const char* what;
        bool fails;
        bool keep;
        std::string handed; // what the sink's entry holds afterwards
        std::string text; // and what the text holds
    } cases[] = {
        { "left as the walk ends", false, false, "abcdefgh", "ij" },
        { "left by a failure", true, false, "ab", "" },
        { "left by a failure, the text kept", true, true, "abcdefgh", "ij" },
    };
    for (const auto& c : cases) {
        RecordingSink sink(4);
        exporting::TextHandOver handOver(sink, false);
        sink.Begin(exporting::ResultEntry { "book.txt", "", 0, {}, SaveMode::AllSheets });
        std::string text = "ab"; // composed before: handed over as the scope begins
        try {
            exporting::HandOverScope handing(handOver, text, std::nullopt);
            if (c.keep)
                handing.KeepOnFailure();
            text += "cdefgh";
            handOver.AtLineEnd(text); // past the sink's limit: handed over
            text += "ij";
            if (c.fails)
                throw std::runtime_error("the walk failed");
        } catch (const std::runtime_error&) {
        }
        EXPECT_FALSE(handOver.Handing(text)) << c.what;
        sink.Commit();
        ASSERT_EQ(sink.entries.size(), 1u) << c.what;
        EXPECT_EQ(sink.entries[0].text, c.handed) << c.what;
        EXPECT_EQ(text, c.text) << c.what;
        EXPECT_TRUE(sink.faults.empty()) << c.what;
    }
}
