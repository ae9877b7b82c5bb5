#include "options/Settings.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>

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

struct ProblemCase {
    SettingKey key;
    const char* stored;
    bool usable;
};

class SettingProblemTest : public ::testing::TestWithParam<ProblemCase> { };

TEST_P(SettingProblemTest, EachKindRefusesWhatItCannotRead)
{
    const auto& c = GetParam();
    EXPECT_EQ(SettingProblem(c.key, c.stored).empty(), c.usable) << c.key.name << " \"" << c.stored << '"';
}

INSTANTIATE_TEST_SUITE_P(Kinds, SettingProblemTest,
    ::testing::Values(ProblemCase { kText1Key, "", true }, ProblemCase { kText1Key, "@Invalid()", true },
        ProblemCase { kOption2Key, "-1", true }, ProblemCase { kOption2Key, "maybe", false },
        ProblemCase { kOption2Key, "", false }, ProblemCase { kCheck3Key, "2", true },
        ProblemCase { kCheck3Key, "3", false }, ProblemCase { kWordWrapKey, "99999", false },
        ProblemCase { kWordWrapKey, "maybe", false },
        ProblemCase { kDirectionsKey, "Save each row to a text file", true },
        ProblemCase { kDirectionsKey, "save each row to a text file", false },
        ProblemCase { kDirectionsKey, "", false }, ProblemCase { kMainWindowKey, "", true },
        ProblemCase { kMainWindowKey, "AdnQywADAAA=", true }, ProblemCase { kMainWindowKey, "not a geometry", false },
        ProblemCase { kResultsWindowKey, "AdnQywADAA", false }, ProblemCase { kResultsWindowKey, "AA=A", false }));

// A store whose values may also be no text at all, as a settings file can hold them.
class TypedStore final : public SettingsStore {
public:
    std::string Get(std::string_view application, std::string_view section, std::string_view key,
        std::string_view defaultValue) override
    {
        return notText.count(std::string(key)) ? std::string(defaultValue)
                                               : texts.Get(application, section, key, defaultValue);
    }
    void Save(
        std::string_view application, std::string_view section, std::string_view key, std::string_view value) override
    {
        notText.erase(std::string(key));
        texts.Save(application, section, key, value);
    }
    std::string Origin(std::string_view) override { return "/home/u/.config/Tamsworth.ini"; }
    std::string Unreadable(std::string_view, std::string_view, std::string_view key) override
    {
        return notText.count(std::string(key)) ? "holds @Invalid(), which is no text" : "";
    }
    MemorySettingsStore texts;
    std::set<std::string> notText;
};

TEST(BadSettingsTest, FoundToldAndMendedOnce)
{
    TypedStore store;
    SaveSetting(store, kOption3Key, "maybe");
    SaveSetting(store, kCheck4Key, "1"); // usable values are left alone
    SaveSetting(store, kText1Key, std::string("a\tb") + std::string(80, 'x'));
    SaveSetting(store, kWordWrapKey, "7");
    SaveSetting(store, kDirectionsKey, "Save nothing");
    SaveSetting(store, kMainWindowKey, "AAAAAAAA"); // base 64, but the windows' check refuses it
    store.notText = { "Option5", "Output Folder" };
    std::vector<std::string> checked;
    const auto bad = FindBadSettings(store, [&](const SettingKey& key, std::string_view stored) {
        checked.emplace_back(key.name);
        return key.name == kMainWindowKey.name && stored == "AAAAAAAA" ? "which is no window size and place" : "";
    });
    std::vector<std::string> names;
    for (const auto& setting : bad)
        names.emplace_back(setting.key.name);
    EXPECT_EQ(names,
        (std::vector<std::string> { "Directions", "Option3", "Option5", "Output Folder", "Word Wrap", "Main Window" }));
    // The windows' check sees only the texts that passed their own kind.
    EXPECT_EQ(std::count(checked.begin(), checked.end(), "Option3"), 0);
    EXPECT_EQ(std::count(checked.begin(), checked.end(), "Option5"), 0);
    EXPECT_EQ(std::count(checked.begin(), checked.end(), "Text1"), 1);

    EXPECT_EQ(BadSettingsMessage(store.Origin(kSettingsApplication), bad),
        "Some settings in /home/u/.config/Tamsworth.ini cannot be used, so they are back at their first-start "
        "values, which are saved in their place:\n"
        "\n\"Directions\" reads \"Save nothing\", which is none of the save modes"
        "\n\"Option3\" reads \"maybe\", which is neither True, False nor a number"
        "\n\"Option5\" holds @Invalid(), which is no text"
        "\n\"Output Folder\" holds @Invalid(), which is no text"
        "\n\"Word Wrap\" reads \"7\", which is not 0, 1 or 2"
        "\n\"Main Window\" reads \"AAAAAAAA\", which is no window size and place");
    EXPECT_EQ(BadSettingsMessage("f", {}), "");

    const size_t saves = store.texts.SaveCount();
    RepairSettings(store, bad, [](const SettingKey& key) {
        return key.name == kOutputFolderKey.name ? std::string("/home/u/Desktop/") : FirstStartValue(key);
    });
    EXPECT_EQ(store.texts.SaveCount(), saves + bad.size()); // only the bad ones are written
    EXPECT_EQ(store.texts.Value("Directions"), "Save all sheets to a text file");
    EXPECT_EQ(store.texts.Value("Option3"), "False");
    EXPECT_EQ(store.texts.Value("Option5"), "False");
    EXPECT_EQ(store.texts.Value("Output Folder"), "/home/u/Desktop/");
    EXPECT_EQ(store.texts.Value("Word Wrap"), "1");
    EXPECT_EQ(store.texts.Value("Main Window"), "");
    EXPECT_TRUE(FindBadSettings(store).empty());
}

TEST(BadSettingsTest, LongAndControlCharacterValuesAreShownShort)
{
    MemorySettingsStore store;
    SaveSetting(store, kOption1Key, std::string("\x1b[2J") + std::string(55, 'y') + "\xC3\xA9" + std::string(40, 'z'));
    const auto bad = FindBadSettings(store);
    ASSERT_EQ(bad.size(), 1u);
    // The escape is spelled out, and the value is cut between two characters, never inside é.
    EXPECT_EQ(bad[0].problem,
        "reads \"\\x1B[2J" + std::string(55, 'y') + "\xE2\x80\xA6\", which is neither True, False nor a number");
}

TEST(BadSettingsTest, UsableSettingFallsBackToTheFirstStart)
{
    TypedStore store;
    EXPECT_EQ(UsableSetting(store, kCheck3Key), "1"); // missing
    SaveSetting(store, kCheck3Key, "0");
    EXPECT_EQ(UsableSetting(store, kCheck3Key), "0");
    SaveSetting(store, kCheck3Key, "on");
    EXPECT_EQ(UsableSetting(store, kCheck3Key), "1");
    SaveSetting(store, kText1Key, ";");
    store.notText = { "Text1" };
    EXPECT_EQ(UsableSetting(store, kText1Key), "");
    EXPECT_EQ(FirstStartValue(kOption1Key), "True");
    EXPECT_EQ(FirstStartValue(kOption4Key), "False");
}

} // namespace
