#pragma once
// The windows' side of the core's ports: the event pump, the progress bar, the settings
// store on QSettings and the busy pointer.

#include "core/Files.h"
#include "core/Ports.h"
#include "options/Settings.h"

#include <QElapsedTimer>
#include <QString>
#include <functional>
#include <string>

class QProgressBar;

namespace vellumcast::app {

// Lets pending window events run at most every interval, however often it is called,
// so calling it per cell stays cheap and the window still repaints.
class ThrottledPump final : public core::Pump {
public:
    static constexpr int kDefaultIntervalMs = 30;
    explicit ThrottledPump(int intervalMs = kDefaultIntervalMs);
    void Run() override;
    // Lets the events run now, whatever the time since the last turn.
    void RunNow();
    // Runs before every turn of the events, for example to move a progress display.
    void SetBeforeTurn(std::function<void()> beforeTurn) { m_beforeTurn = std::move(beforeTurn); }
    // Asks the work that runs this pump to stop at its next safe point; Clear takes the
    // request back before the next command.
    void RequestStop() { m_stopRequested = true; }
    void ClearStop() { m_stopRequested = false; }
    bool StopRequested() const override { return m_stopRequested; }

private:
    // Reading the clock costs more than a cell; it is read once every few calls.
    static constexpr unsigned kCallsPerClockRead = 16;
    QElapsedTimer m_sinceLastTurn;
    int m_intervalMs;
    unsigned m_calls = 0;
    std::function<void()> m_beforeTurn;
    bool m_stopRequested = false;
};

// The percentage on ProgressBar1.
class BarProgress final : public core::Progress {
public:
    explicit BarProgress(QProgressBar* bar)
        : m_bar(bar)
    {
    }
    void Set(double percent) override;

private:
    QProgressBar* m_bar;
};

// The per-user store: one INI file per application under the configuration folder
// ($XDG_CONFIG_HOME, else ~/.config), the section as its group. The folder is looked up
// at every call, so a changed XDG_CONFIG_HOME takes effect at once. Saving never throws;
// a store that cannot be written keeps nothing and the program goes on.
class QtSettingsStore final : public options::SettingsStore {
public:
    std::string Get(std::string_view application, std::string_view section, std::string_view key,
        std::string_view defaultValue) override;
    void Save(
        std::string_view application, std::string_view section, std::string_view key, std::string_view value) override;
    std::string Origin(std::string_view application) override;
    // A file far larger than the program writes, or one that is not a regular file (a FIFO
    // would block its reader) or cannot be read, is passed over.
    std::string PassedOver(std::string_view application) override;
    // A value QSettings reads as another type than text (@Invalid(), @ByteArray(…),
    // @Rect(…), @Variant(…)), or text it decoded from bytes that are not UTF-8.
    std::string Unreadable(std::string_view application, std::string_view section, std::string_view key) override;

    // The file that holds application's settings.
    static QString FilePath(std::string_view application);
};

// The busy pointer over every window of the program. While it shows, the hand and arrow
// rules of the windows leave it in place.
class BusyPointer {
public:
    static void Set(bool busy);
    static bool Shown();
};

// Counts the commands in progress (a run, a scan, a save), so closing a window in the
// middle of one can end the program at once instead of letting the command run on.
class RunningCommand {
public:
    RunningCommand() { ++s_count; }
    ~RunningCommand() { --s_count; }
    RunningCommand(const RunningCommand&) = delete;
    RunningCommand& operator=(const RunningCommand&) = delete;
    static bool Any() { return s_count > 0; }

private:
    static inline int s_count = 0;
};

// What the windows need from outside: the store, the program folder, the engine check
// and the way the program ends. Tests supply their own.
struct AppContext {
    options::SettingsStore* store = nullptr;
    std::string programFolder;
    // Creates the engine once and lets it go; throws when it cannot be created.
    std::function<void()> createEngine;
    // Ends the program when a window is closed.
    std::function<void()> endProgram;
    // The file calls a save makes; the system's when none.
    core::FileCalls* files = nullptr;
};

// The context of the real program.
AppContext DefaultContext(options::SettingsStore& store);

} // namespace vellumcast::app
