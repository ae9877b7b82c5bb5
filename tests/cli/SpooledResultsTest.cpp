// A workbook's results held for their turn: whatever crosses from memory into the
// temporary file, and whatever is taken back, each text must come back whole.

#include "cli/SpooledResults.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

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
            spool.BeginEntry(head);
            // In uneven parts, as the procedures hand them over.
            for (size_t at = 0; at < text.size(); at += 1'000'003)
                spool.Append(std::string_view(text).substr(at, 1'000'003));
            spool.EndEntry();
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
    spool.BeginEntry(kHead);
    spool.Append(Pattern(40, 'a')); // crosses into the file
    const exporting::SinkMark inSecond = spool.Mark();
    spool.Append(Pattern(100, 'K'));
    spool.EndEntry();
    spool.Take(kHead, "gone");

    spool.RollBack(inSecond);
    ASSERT_EQ(spool.size(), 1u);
    spool.Append("tail");
    spool.EndEntry();
    ASSERT_EQ(spool.size(), 2u);
    EXPECT_EQ(TextOf(spool, 0), "0123456789");
    EXPECT_EQ(TextOf(spool, 1), Pattern(40, 'a') + "tail");

    spool.BeginEntry(kHead);
    spool.Append(Pattern(500, 'x'));
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
