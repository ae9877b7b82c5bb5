#pragma once
// Every box and picker the windows show goes through Prompts, so tests can answer them
// by script (SetHook) and read exactly what would have been shown.

#include "core/Ports.h"

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

namespace vellumcast::app {

// The program's title, shown by every box without a title of its own.
inline const char* const kAppTitle = "Vellumcast";

// Answers prompts instead of people. Texts arrive as composed, before line breaks are
// turned into display breaks.
class PromptHook {
public:
    virtual ~PromptHook() = default;
    virtual void Message(const QString& title, const QString& text) = 0;
    virtual bool Question(const QString& title, const QString& text) = 0;
    // The index of the choice taken; the last one is the box's cancelling choice.
    virtual int Choice(const QString& title, const QString& text, const QStringList& choices) = 0;
    virtual std::optional<QString> Input(const QString& title, const QString& prompt, const QString& defaultText) = 0;
    // The password box; answered as an input box unless a hook tells them apart.
    virtual std::optional<QString> Password(const QString& title, const QString& prompt)
    {
        return Input(title, prompt, {});
    }
    virtual void ErrorBox(const QString& title, const QString& text) = 0;
    virtual QString Folder(const QString& title, const QString& startFolder) = 0;
    virtual QStringList Files(const QString& title, const QStringList& filters, const QString& startFolder) = 0;
    virtual void OpenFolder(const QString& path) = 0;
};

class Prompts {
public:
    // Installs a hook that answers every prompt; nullptr restores the real boxes.
    static void SetHook(PromptHook* hook);

    // A plain message: OK only, no icon, the program's title.
    static void Message(QWidget* parent, const QString& text);
    // A plain message with a list below it, one item a line, which scrolls when it is
    // long. A hook hears it as one message: the text, then the items, a line each.
    static void Message(QWidget* parent, const QString& text, const QStringList& list);
    // Yes / No, no icon, the program's title. True for Yes.
    static bool Question(QWidget* parent, const QString& text);
    // A question with a button for each of choices, no icon, the program's title: the
    // index of the one taken. The last choice cancels: Escape and closing the box take it.
    // Enter takes the choice at defaultChoice.
    static int Choose(QWidget* parent, const QString& text, const QStringList& choices, int defaultChoice);
    // The input box; none when cancelled.
    static std::optional<QString> Input(QWidget* parent, const QString& prompt, const QString& defaultText);
    // An input box whose text is hidden as it is typed; none when cancelled.
    static std::optional<QString> Password(QWidget* parent, const QString& prompt);
    // "Application Error", warning icon, OK.
    static void ErrorBox(QWidget* parent, const QString& text);
    // The folder picker, opened at startFolder: the chosen folder's path, or "" when cancelled.
    static QString BrowseForFolder(QWidget* parent, const QString& title, const QString& startFolder);
    // The open-file dialog for several files, opened at startFolder: full paths in the order
    // chosen; empty when cancelled.
    static QStringList OpenFiles(
        QWidget* parent, const QString& title, const QStringList& filters, const QString& startFolder);
    // Opens a folder in the file manager; the outcome is not looked at.
    static void OpenFolder(const QString& path);
};

// A composed text with its CR LF and lone CR breaks as display line breaks.
QString DisplayText(const QString& text);

// Shows each failure in the error report box.
class ErrorBoxReporter final : public core::ErrorReporter {
public:
    explicit ErrorBoxReporter(QWidget* parent)
        : m_parent(parent)
    {
    }
    void Report(const core::ErrorReport& report) override;

private:
    QWidget* m_parent;
};

} // namespace vellumcast::app
