#pragma once
// The per-user settings: the store interface, every key the program uses with its
// default, and the rules by which stored texts are read back. No Qt here: the windows
// provide the store on QSettings, tests use MemorySettingsStore.

#include "options/ExportOptions.h"

#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace vellumcast::options {

// The one application and section every value lives under.
inline constexpr std::string_view kSettingsApplication = "Tamsworth";
inline constexpr std::string_view kSettingsSection = "Vellumcast";

// A store of text values addressed by application, section and key. Get never fails;
// Save takes effect at once, and a store that cannot be written must not throw (the
// program carries on without the value being kept).
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // The stored text, or defaultValue when the key is missing.
    virtual std::string Get(
        std::string_view application, std::string_view section, std::string_view key, std::string_view defaultValue)
        = 0;
    virtual void Save(
        std::string_view application, std::string_view section, std::string_view key, std::string_view value)
        = 0;
    // Where application's values are kept, as messages name it (a file's path).
    virtual std::string Origin(std::string_view application) { return std::string(application); }
    // Why application's values are passed over, read as their defaults and never written,
    // or "" when they are in use.
    virtual std::string PassedOver(std::string_view application)
    {
        (void)application;
        return {};
    }
    // Why the value stored under key is no text the program could have written (a typed
    // value of another program, bytes that are not UTF-8), or "" when it is text or missing.
    // Get gives such a value as the default, or as whatever text the store makes of it.
    virtual std::string Unreadable(std::string_view application, std::string_view section, std::string_view key)
    {
        (void)application;
        (void)section;
        (void)key;
        return {};
    }
};

// A store held in memory; it counts its writes so tests can tell whether anything was saved.
class MemorySettingsStore final : public SettingsStore {
public:
    std::string Get(std::string_view application, std::string_view section, std::string_view key,
        std::string_view defaultValue) override;
    void Save(
        std::string_view application, std::string_view section, std::string_view key, std::string_view value) override;

    bool Has(std::string_view key) const;
    std::string Value(std::string_view key) const; // "" when missing
    size_t SaveCount() const { return m_saves; }

private:
    std::map<std::tuple<std::string, std::string, std::string>, std::string> m_values;
    size_t m_saves = 0;
};

// The captions of the save modes, as the window's list shows them and the store keeps
// the chosen one.
inline constexpr std::string_view kAllSheetsCaption = "Save all sheets to a text file";
inline constexpr std::string_view kEachSheetCaption = "Save each sheet to a text file";
inline constexpr std::string_view kEachRowCaption = "Save each row to a text file";
inline constexpr std::string_view kEachColumnCaption = "Save each column to a text file";

std::string_view SaveModeCaption(SaveMode mode);
// The mode with exactly this caption (case-sensitive), or none.
std::optional<SaveMode> SaveModeFromCaption(std::string_view caption);

// How a key's stored text is read back: any text, "True"/"False" or a number, a check
// box value, one of the save mode captions, or a window's size and place (Qt's geometry
// in base 64, empty for none).
enum class SettingKind { Text, Boolean, CheckState, SaveMode, Geometry };

struct SettingKey {
    std::string_view name;
    std::string_view defaultValue; // read exactly like a stored value
    SettingKind kind;
};

inline constexpr SettingKey kDirectionsKey { "Directions", kAllSheetsCaption, SettingKind::SaveMode };
inline constexpr SettingKey kOption1Key { "Option1", "1", SettingKind::Boolean };
inline constexpr SettingKey kOption2Key { "Option2", "0", SettingKind::Boolean };
inline constexpr SettingKey kOption3Key { "Option3", "0", SettingKind::Boolean };
inline constexpr SettingKey kOption4Key { "Option4", "0", SettingKind::Boolean };
inline constexpr SettingKey kOption5Key { "Option5", "0", SettingKind::Boolean };
inline constexpr SettingKey kCheck3Key { "Check3", "1", SettingKind::CheckState };
inline constexpr SettingKey kCheck4Key { "Check4", "1", SettingKind::CheckState };
inline constexpr SettingKey kText1Key { "Text1", "", SettingKind::Text };
// The default output folder is the desktop folder, known only at run time.
inline constexpr SettingKey kOutputFolderKey { "Output Folder", "", SettingKind::Text };
inline constexpr SettingKey kWordWrapKey { "Word Wrap", "1", SettingKind::CheckState };
// The windows' size and place, as Qt saves a window's geometry, in base 64.
inline constexpr SettingKey kMainWindowKey { "Main Window", "", SettingKind::Geometry };
inline constexpr SettingKey kResultsWindowKey { "Results Window", "", SettingKind::Geometry };
// The folders the open-file dialog and the folder import's picker opened last; none at first.
inline constexpr SettingKey kAddFilesFolderKey { "Add Files Folder", "", SettingKind::Text };
inline constexpr SettingKey kImportFolderKey { "Import Folder", "", SettingKind::Text };

inline constexpr SettingKey kOptionKeys[] = { kOption1Key, kOption2Key, kOption3Key, kOption4Key, kOption5Key };
// Every key the program keeps, in the order messages list them.
inline constexpr SettingKey kAllKeys[] = { kDirectionsKey, kOption1Key, kOption2Key, kOption3Key, kOption4Key,
    kOption5Key, kCheck3Key, kCheck4Key, kText1Key, kOutputFolderKey, kWordWrapKey, kMainWindowKey, kResultsWindowKey,
    kAddFilesFolderKey, kImportFolderKey };

// A stored text that cannot be read as its key requires.
class SettingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "True" or "False" in any letter case, or a decimal number (0 false, any other true),
// surrounding spaces allowed. Throws SettingError ("Type mismatch") otherwise.
bool ReadBoolean(std::string_view text);
// A decimal integer in the 16-bit range, surrounding spaces allowed. Throws SettingError:
// "Type mismatch" for text that is no number, "Overflow" beyond the 16-bit range.
int ReadInteger(std::string_view text);
// A check box value: 0 cleared, 1 checked, 2 greyed. Anything else read as an integer
// is an invalid property value (SettingError).
int ReadCheckState(std::string_view text);

// "True" / "False", as option buttons are written.
std::string_view BooleanText(bool value);

// Reads key from the store with its default.
std::string GetSetting(SettingsStore& store, const SettingKey& key);
std::string GetSetting(SettingsStore& store, const SettingKey& key, std::string_view defaultValue);
void SaveSetting(SettingsStore& store, const SettingKey& key, std::string_view value);

// Why stored cannot be read as key's kind requires, or "" when it can. A geometry is only
// checked to be base 64 here; what it holds, only the windows can tell.
std::string SettingProblem(const SettingKey& key, std::string_view stored);

// The value key has at the first start, as the program writes it ("True" or "False" for
// an option button). The output folder's, known only at run time, is the caller's.
std::string FirstStartValue(const SettingKey& key);

// key's stored text when it can be read as its kind requires, else its first-start value,
// so reading it never fails.
std::string UsableSetting(SettingsStore& store, const SettingKey& key);

// A stored value that cannot be used, and why.
struct BadSetting {
    SettingKey key;
    std::string stored; // as the store gives it ("" for a value that is no text)
    std::string problem;
};

// Checks that only the windows can make (a window geometry): the problem, or "".
using SettingCheck = std::function<std::string(const SettingKey& key, std::string_view stored)>;

// Every key of kAllKeys whose stored value cannot be used: no text at all, or a text its
// kind cannot read (and, given check, that check refuses). Missing keys are never bad.
std::vector<BadSetting> FindBadSettings(SettingsStore& store, const SettingCheck& check = {});

// Writes over each bad setting the value firstStart gives for its key, so the next start
// finds nothing to mend.
void RepairSettings(SettingsStore& store, const std::vector<BadSetting>& bad,
    const std::function<std::string(const SettingKey& key)>& firstStart);

// The one message that names the settings file (origin) and every bad setting with its
// value and why it cannot be used. "" when nothing is bad.
std::string BadSettingsMessage(std::string_view origin, const std::vector<BadSetting>& bad);

} // namespace vellumcast::options
