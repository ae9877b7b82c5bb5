#pragma once
// What the window tests share: scripted prompts, a fresh per-user configuration, a
// store that logs its writes, and small helpers to find controls and write workbooks.

#include "app/AppPorts.h"
#include "app/Form1.h"
#include "app/Prompts.h"
#include "core/ErrorReport.h"
#include "options/ExportOptions.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vellumcast::apptest {

// The address the error box names, as this build was configured.
inline QString Support()
{
    return QString::fromUtf8(core::kSupportAddress.data(), static_cast<qsizetype>(core::kSupportAddress.size()));
}

struct Shown {
    QString kind; // "message", "question", "choice", "input", "error", "folder", "files", "open"
    QString title;
    QString text;
};

// Answers every prompt from queues; records what was shown. A prompt without a queued
// answer gets the cancelling one (No, the last choice, cancelled input, no folder, no files).
class ScriptedPrompts final : public app::PromptHook {
public:
    ScriptedPrompts() { app::Prompts::SetHook(this); }
    ~ScriptedPrompts() override { app::Prompts::SetHook(nullptr); }

    void Message(const QString& title, const QString& text) override
    {
        shown.push_back({ "message", title, text });
        if (onMessage)
            onMessage(text);
    }
    bool Question(const QString& title, const QString& text) override;
    int Choice(const QString& title, const QString& text, const QStringList& choices) override;
    std::optional<QString> Input(const QString& title, const QString& prompt, const QString& defaultText) override;
    void ErrorBox(const QString& title, const QString& text) override { shown.push_back({ "error", title, text }); }
    QString Folder(const QString& title, const QString& startFolder) override;
    QStringList Files(const QString& title, const QStringList& filters, const QString& startFolder) override;
    void OpenFolder(const QString& path) override
    {
        shown.push_back({ "open", {}, path });
        opened << path;
    }

    QList<Shown> Of(const QString& kind) const;
    QStringList Texts(const QString& kind) const;

    std::deque<bool> answers;
    std::deque<QString> choices; // the caption of the choice to take
    std::deque<QString> inputs; // a null QString cancels the input box
    std::deque<QString> folders;
    std::deque<QStringList> files;
    QStringList lastFilters;
    QStringList folderStarts; // where each folder picker opened
    QStringList fileStarts; // where each open-file dialog opened
    std::function<void(const QString&)> onMessage; // runs while a message is shown
    QString lastInputDefault;
    QStringList opened;
    QList<Shown> shown;
};

// Logs every write, then passes it on to the real store.
class LoggingStore final : public options::SettingsStore {
public:
    std::string Get(std::string_view application, std::string_view section, std::string_view key,
        std::string_view defaultValue) override
    {
        return m_inner.Get(application, section, key, defaultValue);
    }
    void Save(
        std::string_view application, std::string_view section, std::string_view key, std::string_view value) override
    {
        writes.push_back({ std::string(key), std::string(value) });
        m_inner.Save(application, section, key, value);
    }
    std::string Origin(std::string_view application) override { return m_inner.Origin(application); }
    std::string PassedOver(std::string_view application) override { return m_inner.PassedOver(application); }
    std::string Unreadable(std::string_view application, std::string_view section, std::string_view key) override
    {
        return m_inner.Unreadable(application, section, key);
    }
    // The stored text, or "<missing>".
    std::string Stored(std::string_view key) { return Get("Tamsworth", "Vellumcast", key, "<missing>"); }
    void Put(std::string_view key, std::string_view value) { m_inner.Save("Tamsworth", "Vellumcast", key, value); }

    std::vector<std::pair<std::string, std::string>> writes;

private:
    app::QtSettingsStore m_inner;
};

// A fresh configuration folder and home for one test function.
class FreshEnvironment {
public:
    FreshEnvironment();
    ~FreshEnvironment();
    QString Home() const { return m_home.path(); }
    QString ProgramFolder() const { return m_program.path(); }
    QString Work() const { return m_work.path(); }

private:
    QTemporaryDir m_config, m_home, m_program, m_work;
    QByteArray m_oldConfig, m_oldHome;
};

app::AppContext ContextFor(options::SettingsStore& store, const FreshEnvironment& environment, bool* ended = nullptr);

// One test function's world: a fresh configuration and home, a logging store and scripted
// prompts, in which main windows are made and loaded.
struct TestSession {
    FreshEnvironment env;
    LoggingStore store;
    ScriptedPrompts prompts;
    std::unique_ptr<app::Form1> NewWindow();
};

// Writes bytes to folder/name (creating folders) and returns the path.
QString WriteFile(const QString& folder, const QString& name, const QByteArray& bytes);
QByteArray ReadFile(const QString& path);

template <typename T> T* Find(QWidget* window, const char* name)
{
    T* found = window->findChild<T*>(name);
    if (!found)
        qWarning("no control %s", name);
    return found;
}

// The options the main window's controls show, as a run reads them: the divider of the
// selected choice (none when no choice is selected), the two check boxes and the mode.
options::ExportOptions ShownOptions(QWidget* window);

} // namespace vellumcast::apptest
