#include "options/Settings.h"

#include <gtest/gtest.h>

#include <optional>

using namespace vellumcast::options;

namespace {

struct BooleanCase {
    const char* text;
    std::optional<bool> expected; // none: the text cannot be read as a boolean
};

class ReadBooleanTest : public ::testing::TestWithParam<BooleanCase> { };

TEST_P(ReadBooleanTest, ReadsTrueFalseAndNumbers)
{
    const auto& c = GetParam();
    if (c.expected) {
        EXPECT_EQ(ReadBoolean(c.text), *c.expected) << '"' << c.text << '"';
    } else {
        EXPECT_THROW(ReadBoolean(c.text), SettingError) << '"' << c.text << '"';
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, ReadBooleanTest,
    ::testing::Values(BooleanCase { "True", true }, BooleanCase { "False", false }, BooleanCase { "TRUE", true },
        BooleanCase { "false", false }, BooleanCase { "tRuE", true }, BooleanCase { "1", true },
        BooleanCase { "0", false }, BooleanCase { "-1", true }, BooleanCase { "2", true }, BooleanCase { "0.0", false },
        BooleanCase { "0.5", true }, BooleanCase { " 0 ", false }, BooleanCase { "", std::nullopt },
        BooleanCase { "yes", std::nullopt }, BooleanCase { "Truth", std::nullopt }, BooleanCase { "1x", std::nullopt },
        BooleanCase { "-", std::nullopt }, BooleanCase { ".", std::nullopt }));

TEST(ReadIntegerTest, DecimalTextInSixteenBits)
{
    EXPECT_EQ(ReadInteger("0"), 0);
    EXPECT_EQ(ReadInteger("1"), 1);
    EXPECT_EQ(ReadInteger(" 2 "), 2);
    EXPECT_EQ(ReadInteger("+7"), 7);
    EXPECT_EQ(ReadInteger("-32768"), -32768);
    EXPECT_EQ(ReadInteger("32767"), 32767);
    EXPECT_THROW(ReadInteger("32768"), SettingError);
    EXPECT_THROW(ReadInteger("99999999999999999999999"), SettingError);
    EXPECT_THROW(ReadInteger(""), SettingError);
    EXPECT_THROW(ReadInteger("True"), SettingError);
    EXPECT_THROW(ReadInteger("1.5"), SettingError);
    EXPECT_THROW(ReadInteger("0x1"), SettingError);
}

TEST(ReadCheckStateTest, OnlyTheThreeCheckBoxValues)
{
    EXPECT_EQ(ReadCheckState("0"), 0);
    EXPECT_EQ(ReadCheckState("1"), 1);
    EXPECT_EQ(ReadCheckState("2"), 2); // the greyed state
    EXPECT_THROW(ReadCheckState("3"), SettingError);
    EXPECT_THROW(ReadCheckState("-1"), SettingError);
    EXPECT_THROW(ReadCheckState("checked"), SettingError);
}

TEST(SettingKeysTest, DefaultsReadAsTheFirstStart)
{
    EXPECT_EQ(kDirectionsKey.defaultValue, "Save all sheets to a text file");
    EXPECT_TRUE(ReadBoolean(kOption1Key.defaultValue));
    for (const auto& key : { kOption2Key, kOption3Key, kOption4Key, kOption5Key })
        EXPECT_FALSE(ReadBoolean(key.defaultValue)) << key.name;
    EXPECT_EQ(ReadCheckState(kCheck3Key.defaultValue), 1);
    EXPECT_EQ(ReadCheckState(kCheck4Key.defaultValue), 1);
    EXPECT_EQ(ReadCheckState(kWordWrapKey.defaultValue), 1);
    EXPECT_EQ(kText1Key.defaultValue, "");
}

TEST(MemorySettingsStoreTest, AddressedByApplicationSectionAndKey)
{
    MemorySettingsStore store;
    EXPECT_EQ(store.Get("Tamsworth", "Vellumcast", "Text1", "dflt"), "dflt");
    store.Save("Tamsworth", "Vellumcast", "Text1", "");
    EXPECT_EQ(store.Get("Tamsworth", "Vellumcast", "Text1", "dflt"), ""); // an empty value is a value
    store.Save("Tamsworth", "Other", "Text1", "x");
    EXPECT_EQ(store.Get("Tamsworth", "Vellumcast", "Text1", "dflt"), "");
    SaveSetting(store, kOption1Key, BooleanText(false));
    EXPECT_EQ(GetSetting(store, kOption1Key), "False");
    EXPECT_EQ(store.SaveCount(), 3u);
}

} // namespace
