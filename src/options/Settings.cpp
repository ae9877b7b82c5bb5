#include "options/Settings.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>

namespace vellumcast::options {

std::string MemorySettingsStore::Get(
    std::string_view application, std::string_view section, std::string_view key, std::string_view defaultValue)
{
    const auto found = m_values.find({ std::string(application), std::string(section), std::string(key) });
    return found == m_values.end() ? std::string(defaultValue) : found->second;
}

void MemorySettingsStore::Save(
    std::string_view application, std::string_view section, std::string_view key, std::string_view value)
{
    ++m_saves;
    m_values[{ std::string(application), std::string(section), std::string(key) }] = std::string(value);
}

bool MemorySettingsStore::Has(std::string_view key) const
{
    return m_values.count({ std::string(kSettingsApplication), std::string(kSettingsSection), std::string(key) }) != 0;
}

std::string MemorySettingsStore::Value(std::string_view key) const
{
    const auto found
        = m_values.find({ std::string(kSettingsApplication), std::string(kSettingsSection), std::string(key) });
    return found == m_values.end() ? std::string() : found->second;
}

namespace {

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// A decimal number: optional sign, digits, optional fraction. Tells whether it is zero.
bool ParseDecimal(std::string_view text, bool& isZero)
{
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    size_t digits = 0;
    isZero = true;
    bool seenPoint = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && !seenPoint) {
            seenPoint = true;
        } else if (c >= '0' && c <= '9') {
            ++digits;
            if (c != '0')
                isZero = false;
        } else {
            return false;
        }
    }
    return digits > 0;
}

} // namespace

bool ReadBoolean(std::string_view text)
{
    const std::string_view value = Trimmed(text);
    if (EqualsIgnoringCase(value, "true"))
        return true;
    if (EqualsIgnoringCase(value, "false"))
        return false;
    bool isZero = false;
    if (!ParseDecimal(value, isZero))
        throw SettingError("Type mismatch");
    return !isZero;
}

int ReadInteger(std::string_view text)
{
    std::string_view value = Trimmed(text);
    if (!value.empty() && value.front() == '+')
        value.remove_prefix(1);
    int64_t number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (value.empty() || end != value.data() + value.size()) {
        if (error == std::errc::result_out_of_range)
            throw SettingError("Overflow");
        throw SettingError("Type mismatch");
    }
    if (error == std::errc::result_out_of_range || number < INT16_MIN || number > INT16_MAX)
        throw SettingError("Overflow");
    return static_cast<int>(number);
}

int ReadCheckState(std::string_view text)
{
    const int value = ReadInteger(text);
    if (value < 0 || value > 2)
        throw SettingError("Invalid property value");
    return value;
}

std::string_view BooleanText(bool value)
{
    return value ? "True" : "False";
}

std::string GetSetting(SettingsStore& store, const SettingKey& key)
{
    return GetSetting(store, key, key.defaultValue);
}

std::string GetSetting(SettingsStore& store, const SettingKey& key, std::string_view defaultValue)
{
    return store.Get(kSettingsApplication, kSettingsSection, key.name, defaultValue);
}

void SaveSetting(SettingsStore& store, const SettingKey& key, std::string_view value)
{
    store.Save(kSettingsApplication, kSettingsSection, key.name, value);
}

namespace {

bool IsBase64(std::string_view text)
{
    size_t padding = 0;
    for (const char c : text) {
        const bool digit = std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/';
        if (c == '=')
            ++padding;
        else if (!digit || padding > 0)
            return false; // a digit after the padding, or no base 64 digit at all
    }
    return text.size() % 4 == 0 && padding <= 2;
}

// A stored text as a message shows it: control characters as \xHH, and cut after a few
// dozen bytes (between two characters), so a long or binary value keeps the box readable.
std::string Shown(std::string_view text)
{
    constexpr size_t kShownBytes = 60;
    std::string shown;
    size_t end = std::min(text.size(), kShownBytes);
    while (end < text.size() && end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    for (const char c : text.substr(0, end)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            constexpr char kDigits[] = "0123456789ABCDEF";
            shown += "\\x";
            shown += kDigits[byte >> 4];
            shown += kDigits[byte & 0xF];
        } else {
            shown += c;
        }
    }
    if (end < text.size())
        shown += "\xE2\x80\xA6"; // an ellipsis
    return shown;
}

} // namespace

std::string SettingProblem(const SettingKey& key, std::string_view stored)
{
    try {
        switch (key.kind) {
        case SettingKind::Text:
            return {};
        case SettingKind::Boolean:
            ReadBoolean(stored);
            return {};
        case SettingKind::CheckState:
            ReadCheckState(stored);
            return {};
        case SettingKind::SaveMode:
            return SaveModeFromCaption(stored) ? std::string() : "which is none of the save modes";
        case SettingKind::Geometry:
            return IsBase64(stored) ? std::string() : "which is no window size and place";
        }
    } catch (const SettingError&) {
        return key.kind == SettingKind::Boolean ? "which is neither True, False nor a number"
                                                : "which is not 0, 1 or 2";
    }
    return {};
}

std::string FirstStartValue(const SettingKey& key)
{
    if (key.kind == SettingKind::Boolean)
        return std::string(BooleanText(ReadBoolean(key.defaultValue)));
    return std::string(key.defaultValue);
}

std::string UsableSetting(SettingsStore& store, const SettingKey& key)
{
    if (!store.Unreadable(kSettingsApplication, kSettingsSection, key.name).empty())
        return std::string(key.defaultValue);
    std::string stored = GetSetting(store, key);
    return SettingProblem(key, stored).empty() ? stored : std::string(key.defaultValue);
}

std::vector<BadSetting> FindBadSettings(SettingsStore& store, const SettingCheck& check)
{
    std::vector<BadSetting> bad;
    for (const SettingKey& key : kAllKeys) {
        if (std::string why = store.Unreadable(kSettingsApplication, kSettingsSection, key.name); !why.empty()) {
            bad.push_back({ key, {}, std::move(why) });
            continue;
        }
        // A missing key reads as its default, which is always usable.
        std::string stored = GetSetting(store, key);
        std::string problem = SettingProblem(key, stored);
        if (problem.empty() && check)
            problem = check(key, stored);
        if (!problem.empty())
            bad.push_back({ key, stored, "reads \"" + Shown(stored) + "\", " + problem });
    }
    return bad;
}

void RepairSettings(SettingsStore& store, const std::vector<BadSetting>& bad,
    const std::function<std::string(const SettingKey& key)>& firstStart)
{
    for (const BadSetting& setting : bad)
        SaveSetting(store, setting.key, firstStart ? firstStart(setting.key) : FirstStartValue(setting.key));
}

std::string BadSettingsMessage(std::string_view origin, const std::vector<BadSetting>& bad)
{
    if (bad.empty())
        return {};
    std::string message = "Some settings in " + std::string(origin)
        + " cannot be used, so they are back at their first-start values, which are saved in their place:\n";
    for (const BadSetting& setting : bad)
        message += "\n\"" + std::string(setting.key.name) + "\" " + setting.problem;
    return message;
}

std::string_view SaveModeCaption(SaveMode mode)
{
    switch (mode) {
    case SaveMode::AllSheets:
        return kAllSheetsCaption;
    case SaveMode::EachSheet:
        return kEachSheetCaption;
    case SaveMode::EachRow:
        return kEachRowCaption;
    case SaveMode::EachColumn:
        return kEachColumnCaption;
    }
    return kAllSheetsCaption;
}

std::optional<SaveMode> SaveModeFromCaption(std::string_view caption)
{
    for (SaveMode mode : { SaveMode::AllSheets, SaveMode::EachSheet, SaveMode::EachRow, SaveMode::EachColumn }) {
        if (caption == SaveModeCaption(mode))
            return mode;
    }
    return std::nullopt;
}

} // namespace vellumcast::options
