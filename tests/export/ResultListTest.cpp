// The result list keeps a million row texts in little more than their own bytes: entries
// of one worksheet share its names and the buffer their texts were composed in. What is
// read back must be what was pushed, whatever mix of shared and own texts it holds.
#include "export/ResultList.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

using vellumcast::exporting::ResultEntry;
using vellumcast::exporting::ResultList;
using vellumcast::exporting::SharedText;

namespace {

std::string Describe(const ResultEntry& entry)
{
    return entry.fileName.Copy() + "|" + entry.sheetName.Copy() + "|" + std::to_string(entry.ordinal) + "|"
        + entry.text.Copy();
}

std::vector<std::string> Described(const ResultList& list)
{
    std::vector<std::string> described;
    for (const ResultEntry& entry : list)
        described.push_back(Describe(entry));
    return described;
}

} // namespace

TEST(ResultList, GivesBackWhatWasPushedWhereverTheTextsLie)
{
    const SharedText rows(std::string("a\r\n\r\nb,c\r\n"));
    ResultList list;
    list.push_back({ "book.txt", "North", 0, "whole sheet" });
    list.push_back({ "book.txt", "North", 0, "a namesake's" }); // a workbook of that name in another folder
    list.push_back({ "book.txt", "East", 1, rows.Part(0, 3) });
    list.push_back({ "book.txt", "East", 2, rows.Part(3, 2) });
    list.push_back({ "book.txt", "East", 3, rows.Part(5, 0) }); // nothing composed
    list.push_back({ "book.txt", "West", 1, rows.Part(5, 5) }); // same buffer, another sheet
    list.push_back({ "other.txt", "West", 2, rows.Part(0, 3) }); // another workbook
    list.push_back({ "other.txt", "West", 3, std::string() });
    list.push_back({ "other.txt", "West", 4, rows.Part(3, 2) }); // the buffer again after an empty text
    list.push_back({ "other.txt", "", 0, SharedText() });

    const std::vector<std::string> expected { "book.txt|North|0|whole sheet", "book.txt|North|0|a namesake's",
        "book.txt|East|1|a\r\n", "book.txt|East|2|\r\n", "book.txt|East|3|", "book.txt|West|1|b,c\r\n",
        "other.txt|West|2|a\r\n", "other.txt|West|3|", "other.txt|West|4|\r\n", "other.txt||0|" };
    EXPECT_EQ(Described(list), expected);
    ASSERT_EQ(list.size(), expected.size());
    for (size_t i = 0; i < list.size(); ++i)
        EXPECT_EQ(Describe(list[i]), expected[i]) << i;
    EXPECT_EQ(Describe(list.front()), expected.front());
    EXPECT_EQ(Describe(list.back()), expected.back());
    EXPECT_THROW(list.at(list.size()), std::out_of_range);
}

TEST(ResultList, TextsSharingABufferAreNotCopiedAndOutliveTheEntriesRead)
{
    std::string composed;
    for (int row = 1; row <= 1000; ++row)
        composed += "row " + std::to_string(row) + "\r\n";
    const SharedText whole(std::move(composed));
    ResultList list;
    size_t begin = 0;
    for (int row = 1; row <= 1000; ++row) {
        const size_t size = 4 + std::to_string(row).size() + 2;
        list.push_back({ "book.txt", "S", row, whole.Part(begin, size) });
        begin += size;
    }
    // Each text lies in the one buffer, straight after the one before.
    std::string_view previous = list[0].text;
    EXPECT_EQ(previous.data(), whole.View().data());
    for (size_t i = 1; i < list.size(); ++i) {
        const std::string_view text = list[i].text; // the entry read is gone; its text is not
        EXPECT_EQ(text.data(), previous.data() + previous.size()) << i;
        previous = text;
    }
    EXPECT_EQ(previous, "row 1000\r\n");
}

TEST(ResultList, TruncatingKeepsTheFirstEntriesAndLaterOnesReadRight)
{
    const SharedText first(std::string("one\r\ntwo\r\n"));
    const SharedText second(std::string("three\r\n"));
    ResultList list { { "a.txt", "S", 1, first.Part(0, 5) }, { "a.txt", "S", 2, first.Part(5, 5) },
        { "b.txt", "S", 1, second.Part(0, 7) } };
    list.Truncate(1);
    ASSERT_EQ(list.size(), 1u);
    list.push_back({ "a.txt", "S", 2, second.Part(0, 7) }); // the first's names, another buffer
    list.push_back({ "a.txt", "S", 3, first.Part(5, 5) });
    EXPECT_EQ(Described(list),
        (std::vector<std::string> { "a.txt|S|1|one\r\n", "a.txt|S|2|three\r\n", "a.txt|S|3|two\r\n" }));
    list.Truncate(5);
    EXPECT_EQ(list.size(), 3u);
    list.clear();
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(list.begin() == list.end());
}

// Entries sharing names and a buffer but made in different modes keep each their own.
TEST(ResultList, EachEntryKeepsTheModeItWasMadeIn)
{
    using vellumcast::options::SaveMode;
    const SharedText text(std::string("a\r\nb\r\n"));
    ResultList list { { "a.txt", "S", 1, text.Part(0, 3), SaveMode::EachRow },
        { "a.txt", "S", 2, text.Part(3, 3), SaveMode::EachRow },
        { "a.txt", "S", 1, text.Part(3, 3), SaveMode::EachColumn }, { "a.txt", "S", 0, {}, SaveMode::EachSheet } };
    std::vector<SaveMode> modes;
    for (const ResultEntry& entry : list)
        modes.push_back(entry.mode);
    EXPECT_EQ(modes,
        (std::vector<SaveMode> { SaveMode::EachRow, SaveMode::EachRow, SaveMode::EachColumn, SaveMode::EachSheet }));
    list.Truncate(2);
    list.push_back({ "a.txt", "S", 3, text.Part(0, 3), SaveMode::AllSheets });
    EXPECT_EQ(list[1].mode, SaveMode::EachRow);
    EXPECT_EQ(list[2].mode, SaveMode::AllSheets);
    EXPECT_EQ(list[2].text, "a\r\n");
}

TEST(ResultList, ANumberItCannotHoldIsRefusedNotCut)
{
    ResultList list;
    EXPECT_THROW(list.push_back({ "a.txt", "S", int64_t { 1 } << 32, "t" }), std::out_of_range);
    EXPECT_THROW(list.push_back({ "a.txt", "S", -1, "t" }), std::out_of_range);
    EXPECT_TRUE(list.empty());
}
