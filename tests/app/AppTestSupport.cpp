#include "AppTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QRadioButton>

namespace vellumcast::apptest {

bool ScriptedPrompts::Question(const QString& title, const QString& text)
{
    shown.push_back({ "question", title, text });
    if (answers.empty())
        return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
}

int ScriptedPrompts::Choice(const QString& title, const QString& text, const QStringList& offered)
{
    shown.push_back({ "choice", title, text });
    if (choices.empty())
        return static_cast<int>(offered.size()) - 1;
    const QString answer = choices.front();
    choices.pop_front();
    const auto chosen = offered.indexOf(answer);
    if (chosen < 0)
        qWarning("no choice %s", qPrintable(answer));
    return static_cast<int>(chosen < 0 ? offered.size() - 1 : chosen);
}

std::optional<QString> ScriptedPrompts::Input(const QString& title, const QString& prompt, const QString& defaultText)
{
    shown.push_back({ "input", title, prompt });
    lastInputDefault = defaultText;
    if (inputs.empty())
        return std::nullopt;
    const QString answer = inputs.front();
    inputs.pop_front();
    if (answer.isNull())
        return std::nullopt;
    return answer;
}

QString ScriptedPrompts::Folder(const QString& title, const QString& startFolder)
{
    shown.push_back({ "folder", {}, title });
    folderStarts << startFolder;
    if (folders.empty())
        return {};
    const QString folder = folders.front();
    folders.pop_front();
    return folder;
}

QStringList ScriptedPrompts::Files(const QString& title, const QStringList& filters, const QString& startFolder)
{
    shown.push_back({ "files", {}, title });
    lastFilters = filters;
    fileStarts << startFolder;
    if (files.empty())
        return {};
    const QStringList chosen = files.front();
    files.pop_front();
    return chosen;
}

QList<Shown> ScriptedPrompts::Of(const QString& kind) const
{
    QList<Shown> found;
    for (const auto& prompt : shown) {
        if (prompt.kind == kind)
            found << prompt;
    }
    return found;
}

QStringList ScriptedPrompts::Texts(const QString& kind) const
{
    QStringList texts;
    for (const auto& prompt : Of(kind))
        texts << prompt.text;
    return texts;
}

FreshEnvironment::FreshEnvironment()
{
    m_oldConfig = qgetenv("XDG_CONFIG_HOME");
    m_oldHome = qgetenv("HOME");
    qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
    qputenv("HOME", m_home.path().toUtf8());
}

FreshEnvironment::~FreshEnvironment()
{
    qputenv("XDG_CONFIG_HOME", m_oldConfig);
    qputenv("HOME", m_oldHome);
}

app::AppContext ContextFor(options::SettingsStore& store, const FreshEnvironment& environment, bool* ended)
{
    app::AppContext context;
    context.store = &store;
    context.programFolder = environment.ProgramFolder().toStdString();
    context.createEngine = [] {};
    context.endProgram = [ended] {
        if (ended)
            *ended = true;
    };
    return context;
}

std::unique_ptr<app::Form1> TestSession::NewWindow()
{
    auto window = std::make_unique<app::Form1>(ContextFor(store, env));
    window->Form_Load();
    return window;
}

QString WriteFile(const QString& folder, const QString& name, const QByteArray& bytes)
{
    const QString path = folder + "/" + name;
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(bytes);
    return path;
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return file.readAll();
}

options::ExportOptions ShownOptions(QWidget* window)
{
    options::ExportOptions shown;
    shown.includeBlankCells = Find<QCheckBox>(window, "Check3")->checkState() == Qt::Checked;
    shown.quoteCells = Find<QCheckBox>(window, "Check4")->checkState() == Qt::Checked;
    shown.divider.clear();
    const std::string other = Find<QLineEdit>(window, "Text1")->text().toStdString();
    for (int i = 0; i < 5; ++i) {
        const QByteArray name = QString("Option%1").arg(i + 1).toLatin1();
        if (Find<QRadioButton>(window, name.constData())->isChecked()) {
            shown.divider = options::DividerFor(static_cast<options::DividerChoice>(i), other);
            break;
        }
    }
    if (auto mode = options::SaveModeFromCaption(Find<QComboBox>(window, "Combo1")->currentText().toStdString()))
        shown.saveMode = *mode;
    return shown;
}

} // namespace vellumcast::apptest
