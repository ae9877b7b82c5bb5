// A workbook's results held for their turn: whatever crosses from memory into the
// temporary file, and whatever is taken back, each text must come back whole.

#include "cli/SpooledResults.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

using namespace vellumcast;
using cli::SpooledResults;
using options::SaveMode;

namespace {

std::string TextOf(const SpooledResults& spool, size_t index)
{
    std::string text;
    size_t pieces = 0;
    EXPECT_EQ(spool.WriteText(index,
                  [&](std::string_view piece) {
                      text += piece;
                      ++pieces;
                      return 0;
                  }),
        0);
    return text;
}

std::string Pattern(size_t size, char first)
{
    std::string text(size, ' ');
    for (size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>(first + static_cast<char>(i % 23));
    return text;
}

const exporting::ResultEntry kHead { "book.txt", "Data", 0, {}, SaveMode::EachRow };

} // namespace

TEST(SpooledResults, TextsComeBackWholeOnEitherSideOfTheMemoryAndInPieces)
{
    for (const size_t memory : { size_t(0), size_t(10), size_t(1) << 20 }) {
        SCOPED_TRACE("memory " + std::to_string(memory));
        SpooledResults spool(memory);
        const std::vector<std::string> texts { "", "short", Pattern(7, 'a'), Pattern(3'000'001, 'A'), "", "end\r\n" };
        int64_t ordinal = 1;
        for (const std::string& text : texts) {
            exporting::ResultEntry head = kHead;
            head.ordinal = ordinal++;
            spool.Begin(head);
            // In uneven parts, as the procedures hand them over.
            for (size_t at = 0; at < text.size(); at += 1'000'003)
                spool.Write(std::string_view(text).substr(at, 1'000'003));
            spool.Commit();
        }
        ASSERT_EQ(spool.size(), texts.size());
        for (size_t i = 0; i < texts.size(); ++i) {
            EXPECT_EQ(spool.Head(i).ordinal, static_cast<int64_t>(i + 1));
            EXPECT_EQ(spool.Head(i).sheetName, "Data");
            EXPECT_EQ(spool.TextSize(i), texts[i].size());
            EXPECT_TRUE(TextOf(spool, i) == texts[i]) << "entry " << i;
        }
        // Read twice, and out of order: reading moves nothing.
        EXPECT_TRUE(TextOf(spool, 3) == texts[3]);
        EXPECT_EQ(TextOf(spool, 1), "short");
    }
}

TEST(SpooledResults, RollingBackAcrossTheFileDropsWhatCameAfterAndWritesOverIt)
{
    SpooledResults spool(16);
    spool.Take(kHead, "0123456789");
    const exporting::SinkMark beforeSecond = spool.Mark();
    spool.Begin(kHead);
    spool.Write(Pattern(40, 'a')); // crosses into the file
    const exporting::SinkMark inSecond = spool.Mark();
    spool.Write(Pattern(100, 'K'));
    spool.Commit();
    spool.Take(kHead, "gone");

    spool.RollBack(inSecond);
    ASSERT_EQ(spool.size(), 1u);
    spool.Write("tail");
    spool.Commit();
    ASSERT_EQ(spool.size(), 2u);
    EXPECT_EQ(TextOf(spool, 0), "0123456789");
    EXPECT_EQ(TextOf(spool, 1), Pattern(40, 'a') + "tail");

    spool.Begin(kHead);
    spool.Write(Pattern(500, 'x'));
    spool.RollBack(beforeSecond);
    ASSERT_EQ(spool.size(), 1u);
    spool.Take(kHead, "new second");
    ASSERT_EQ(spool.size(), 2u);
    EXPECT_EQ(TextOf(spool, 1), "new second");
}

TEST(SpooledResults, AFailedWriteEndsTheReadingWithItsCodeAndMovesKeepTheTexts)
{
    SpooledResults spool(4);
    spool.Take(kHead, Pattern(3'000'000, 'a'));
    size_t calls = 0;
    EXPECT_EQ(spool.WriteText(0,
                  [&](std::string_view) {
                      ++calls;
                      return ENOSPC;
                  }),
        ENOSPC);
    EXPECT_EQ(calls, 1u);

    SpooledResults moved(std::move(spool));
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_TRUE(TextOf(moved, 0) == Pattern(3'000'000, 'a'));
}

namespace {

// An outlet that records what it is given: each entry's head and bytes, in order. One
// that takes back (as the output folder does) has the entry under way cut and abandoned;
// one that cannot (standard output) must never be asked to. Two entries under way at
// once is a fault either way.
class RecordingOutlet final : public cli::ResultOutlet {
public:
    explicit RecordingOutlet(bool takesBack)
        : m_takesBack(takesBack)
    {
    }
    bool TakesBack() const override { return m_takesBack; }
    void Begin(const exporting::ResultEntry& head) override
    {
        EXPECT_FALSE(m_open) << "two entries under way";
        m_open = true;
        texts.push_back("[" + std::to_string(head.ordinal) + "]");
        m_head = texts.back().size();
        ++begun;
    }
    using ResultOutlet::Write;
    void Write(std::string_view bytes) override
    {
        ASSERT_TRUE(m_open) << "bytes outside an entry";
        texts.back() += bytes;
    }
    void Cut(uint64_t size) override
    {
        ASSERT_TRUE(m_takesBack && m_open) << "a cut where nothing can be cut";
        ASSERT_LT(m_head + size, texts.back().size()) << "cut to no shorter a text";
        texts.back().resize(m_head + size);
    }
    void Commit() override
    {
        EXPECT_TRUE(m_open) << "a commit outside an entry";
        m_open = false;
    }
    void CommitCutShort() override
    {
        Commit();
        ++cutShortCommits;
    }
    void Abandon() override
    {
        ASSERT_TRUE(m_takesBack && m_open) << "an abandon where nothing can be dropped";
        m_open = false;
        texts.pop_back();
        ++abandoned;
    }
    void ReadFailed(int code) override { ADD_FAILURE() << "read failed: " << code; }

    bool Open() const { return m_open; }
    // The texts committed.
    std::vector<std::string> Texts() const { return { texts.begin(), texts.end() - (m_open ? 1 : 0) }; }

    std::vector<std::string> texts; // the one under way last
    size_t begun = 0;
    size_t abandoned = 0;
    size_t cutShortCommits = 0;

private:
    bool m_takesBack;
    bool m_open = false;
    size_t m_head = 0;
};

exporting::ResultEntry Numbered(int64_t ordinal)
{
    exporting::ResultEntry head = kHead;
    head.ordinal = ordinal;
    return head;
}

} // namespace

// The workbook in turn: what lies before the latest mark goes on, what a rollback takes
// back never does, whether the outlet cannot take back (standard output: the entry under
// way goes on as far as it is settled) or can (files: the entry under way goes on as it
// comes, and is cut back), and whether the held bytes sit in memory or in the temporary
// file.
TEST(SpooledResults, InItsTurnOnlyWhatNoMarkCanTakeBackGoesOn)
{
    for (const bool takesBack : { false, true }) {
        for (const size_t memory : { size_t(0), size_t(16), size_t(1) << 20 }) {
            SCOPED_TRACE(std::string(takesBack ? "takes back" : "prints") + ", memory " + std::to_string(memory));
            cli::OutletSlot turn { nullptr };
            RecordingOutlet outlet(takesBack);
            SpooledResults spool(memory, &turn);
            spool.Take(Numbered(1), "held before the turn");
            turn.store(&outlet);
            spool.Mark(); // as each worksheet starts: what came before is settled
            spool.Begin(Numbered(2));
            spool.Write(Pattern(40, 'a'));
            EXPECT_EQ(outlet.Texts(), std::vector<std::string> { "[1]held before the turn" });

            // A worksheet whose entries are taken back: none of them is ever committed.
            spool.Commit();
            const exporting::SinkMark sheet = spool.Mark();
            spool.Take(Numbered(3), Pattern(100, 'x'));
            spool.Begin(Numbered(4));
            spool.Write("gone");
            spool.RollBack(sheet);
            spool.Take(Numbered(5), "kept");

            // One text for every worksheet: the part before the mark goes on; what follows
            // it is taken back and written over.
            spool.Mark();
            spool.Begin(Numbered(6));
            spool.Write(Pattern(30, 'A'));
            const exporting::SinkMark inText = spool.Mark();
            spool.Write(Pattern(50, 'Z'));
            spool.RollBack(inText);
            spool.Write("end");
            std::vector<std::string> expected { "[1]held before the turn", "[2]" + Pattern(40, 'a'), "[5]kept" };
            EXPECT_EQ(outlet.Texts(), expected);
            ASSERT_TRUE(outlet.Open());
            EXPECT_EQ(outlet.texts.back(), "[6]" + Pattern(30, 'A') + (takesBack ? "end" : ""));

            spool.Commit();
            spool.PassOnRest(outlet);
            expected.push_back("[6]" + Pattern(30, 'A') + "end");
            EXPECT_EQ(outlet.Texts(), expected);
            EXPECT_FALSE(outlet.Open());
            EXPECT_EQ(spool.size(), 4u); // the names stay, for the warnings of empty worksheets

            // A text never ended is no result, even once the workbook is done.
            spool.Begin(Numbered(7));
            spool.Write("never ended");
            spool.PassOnRest(outlet);
            EXPECT_EQ(outlet.Texts(), expected);
            EXPECT_EQ(outlet.abandoned, takesBack ? 2u : 0u);
        }
    }
}

// Passed on, the held bytes are let go and the temporary file is written over from its
// start; texts held after that still come back whole.
TEST(SpooledResults, AfterTheTurnPassedEverythingOnTheFileIsWrittenOverFromItsStart)
{
    cli::OutletSlot turn { nullptr };
    RecordingOutlet outlet(false);
    SpooledResults spool(8, &turn);
    turn.store(&outlet);
    std::vector<std::string> expected;
    for (int64_t sheet = 1; sheet <= 4; ++sheet) {
        spool.Mark();
        const std::string text = Pattern(static_cast<size_t>(70 - 15 * sheet), static_cast<char>('a' + sheet));
        spool.Take(Numbered(sheet), text);
        expected.push_back("[" + std::to_string(sheet) + "]" + text);
    }
    spool.Mark();
    spool.Begin(Numbered(5));
    spool.Write(Pattern(33, 'Q'));
    EXPECT_EQ(outlet.texts, expected);
    spool.Commit();
    EXPECT_EQ(TextOf(spool, 4), Pattern(33, 'Q'));
    spool.PassOnRest(outlet);
    expected.push_back("[5]" + Pattern(33, 'Q'));
    EXPECT_EQ(outlet.texts, expected);
}

TEST(SpooledResults, GoingBackPastWhatWasPassedOnIsRefused)
{
    cli::OutletSlot turn { nullptr };
    RecordingOutlet outlet(false);
    SpooledResults spool(16, &turn);
    turn.store(&outlet);
    const exporting::SinkMark start = spool.Mark();
    spool.Begin(Numbered(1));
    spool.Write("written");
    spool.Mark();
    spool.Write("!"); // passes "written" on
    EXPECT_THROW(spool.RollBack(start), std::logic_error);
    EXPECT_EQ(outlet.texts, std::vector<std::string> { "[1]written" });
}

namespace {

// What the export procedures hand over for one workbook, with rollbacks into an entry
// under way, past a whole one and past several; the turn comes before anything with
// turnFirst, else in the middle of the first entry.
void PlayWorkbook(SpooledResults& spool, cli::OutletSlot& turn, cli::ResultOutlet& outlet, bool turnFirst)
{
    if (turnFirst)
        turn.store(&outlet);
    spool.Mark();
    spool.Begin(Numbered(1));
    spool.Write(Pattern(40, 'a'));
    const exporting::SinkMark inFirst = spool.Mark();
    spool.Write(Pattern(30, 'b'));
    if (!turnFirst)
        turn.store(&outlet);
    spool.Write(Pattern(50, 'c'));
    spool.RollBack(inFirst); // into the entry, before and after the turn came
    spool.Write("end of 1");
    spool.Commit();
    spool.Take(Numbered(11), Pattern(12, 'k')); // held behind the pending one

    // A worksheet of rows, taken back whole, then composed again.
    const exporting::SinkMark rows = spool.Mark();
    for (int64_t row = 2; row <= 4; ++row)
        spool.Take(Numbered(row), Pattern(static_cast<size_t>(20 * row), static_cast<char>('d' + row)));
    spool.Begin(Numbered(5));
    spool.Write("under way");
    spool.RollBack(rows);
    for (int64_t row = 2; row <= 4; ++row)
        spool.Take(Numbered(row), Pattern(static_cast<size_t>(7 * row), static_cast<char>('D' + row)));

    // A worksheet ended, then taken back before any mark settled it.
    const exporting::SinkMark sheet = spool.Mark();
    spool.Take(Numbered(6), Pattern(90, 'x'));
    spool.RollBack(sheet);
    spool.Mark();
    spool.Begin(Numbered(7));
    spool.Write(Pattern(25, 'y'));
    spool.Commit();
}

} // namespace

// Whatever the outlet, each entry must end exactly as the spool would hold it had its
// turn never come, whether the turn came before it or in its middle: to one that takes
// back, sent on as it came (never two pending at once); to one that cannot, as settled.
TEST(SpooledResults, APendingTextEndsAsTheHeldOneWouldBeSaved)
{
    for (const bool turnFirst : { true, false }) {
        for (const size_t memory : { size_t(0), size_t(16), size_t(1) << 20 }) {
            SCOPED_TRACE(
                std::string(turnFirst ? "turn first" : "turn mid-entry") + ", memory " + std::to_string(memory));
            cli::OutletSlot noTurn { nullptr }, printingTurn { nullptr }, pendingTurn { nullptr };
            RecordingOutlet never(false), printing(false), pending(true);
            SpooledResults heldSpool(memory), printingSpool(memory, &printingTurn), pendingSpool(memory, &pendingTurn);
            PlayWorkbook(heldSpool, noTurn, never, turnFirst);
            PlayWorkbook(printingSpool, printingTurn, printing, turnFirst);
            PlayWorkbook(pendingSpool, pendingTurn, pending, turnFirst);
            std::vector<std::string> held;
            for (size_t i = 0; i < heldSpool.size(); ++i)
                held.push_back("[" + std::to_string(heldSpool.Head(i).ordinal) + "]" + TextOf(heldSpool, i));
            ASSERT_EQ(held.size(), 6u);
            EXPECT_EQ(held[0], "[1]" + Pattern(40, 'a') + "end of 1");
            // Sent on as it came, the first entry was committed once the next mark settled it.
            EXPECT_EQ(pending.Texts().size(), 5u);
            EXPECT_TRUE(pending.Open());
            printingSpool.PassOnRest(printing);
            pendingSpool.PassOnRest(pending);
            EXPECT_FALSE(pending.Open());
            EXPECT_EQ(pending.Texts(), held);
            EXPECT_EQ(printing.Texts(), held);
            // Begun: the six committed, and two taken back while pending (the first row of
            // the worksheet composed again, and the worksheet dropped).
            EXPECT_EQ(pending.begun, 8u);
            EXPECT_EQ(pending.abandoned, 2u);
            EXPECT_EQ(printing.begun, 6u);
            EXPECT_TRUE(never.texts.empty());
            EXPECT_EQ(pendingSpool.WriteText(0, [](std::string_view) { return 0; }), EINVAL);
            EXPECT_EQ(pendingSpool.size(), heldSpool.size());
        }
    }
}

// A pending text never ended is no result: abandoned once the workbook is done, and
// when the results are let go first (a failing job), also when they were moved before.
TEST(SpooledResults, APendingTextNeverEndedIsAbandoned)
{
    cli::OutletSlot turn { nullptr };
    RecordingOutlet outlet(true);
    turn.store(&outlet);
    {
        SpooledResults spool(16, &turn);
        spool.Take(Numbered(1), "whole");
        spool.Mark();
        spool.Begin(Numbered(2));
        spool.Write("never ended");
        spool.PassOnRest(outlet);
        spool.Write(" and more after the end");
        EXPECT_EQ(outlet.Texts(), std::vector<std::string> { "[1]whole" });
        EXPECT_EQ(outlet.abandoned, 1u);
        EXPECT_FALSE(outlet.Open());
    }
    {
        SpooledResults spool(16, &turn);
        spool.Begin(Numbered(3));
        spool.Write("begun");
        SpooledResults moved(std::move(spool));
        EXPECT_TRUE(outlet.Open());
    }
    EXPECT_FALSE(outlet.Open());
    EXPECT_EQ(outlet.abandoned, 2u);
    EXPECT_EQ(outlet.Texts(), std::vector<std::string> { "[1]whole" });
}

TEST(SpoolFolder, NoFileMadeAnywhereIsAFailureNotTextsHeldInMemory)
{
#ifdef _WIN32
    GTEST_SKIP() << "the folders are named through TMPDIR";
#else
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    ::setenv("TMPDIR", "/nonexistent/vellumcast-spool", 1);
    // A fallback that fails as well, and none: the reason names the folder.
    cli::SpoolFolder withFallback("/nonexistent/out"), alone;
    for (cli::SpoolFolder* folder : { &withFallback, &alone }) {
        try {
            std::FILE* file = folder->Open();
            if (file)
                std::fclose(file);
            ADD_FAILURE() << "a temporary file was made";
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find("/nonexistent/"), std::string::npos) << error.what();
        }
        // A spool past its memory meets the same failure.
        SpooledResults spool(16, nullptr, folder);
        spool.Begin({ "book.txt", "S", 0, {}, SaveMode::EachSheet });
        EXPECT_THROW(spool.Write(Pattern(64, 'a')), std::runtime_error);
    }
    if (old)
        ::setenv("TMPDIR", saved.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
#endif
}
