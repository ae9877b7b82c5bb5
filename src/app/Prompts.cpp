#include "app/Prompts.h"

#include "core/ErrorReport.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QUrl>

namespace vellumcast::app {

namespace {

PromptHook* g_hook = nullptr;

} // namespace

void Prompts::SetHook(PromptHook* hook)
{
    g_hook = hook;
}

void Prompts::Message(QWidget* parent, const QString& text)
{
    if (g_hook)
        return g_hook->Message(kAppTitle, text);
    QMessageBox box(QMessageBox::NoIcon, kAppTitle, DisplayText(text), QMessageBox::Ok, parent);
    box.exec();
}

bool Prompts::Question(QWidget* parent, const QString& text)
{
    if (g_hook)
        return g_hook->Question(kAppTitle, text);
    QMessageBox box(QMessageBox::NoIcon, kAppTitle, DisplayText(text), QMessageBox::Yes | QMessageBox::No, parent);
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> Prompts::Input(QWidget* parent, const QString& prompt, const QString& defaultText)
{
    if (g_hook)
        return g_hook->Input(kAppTitle, prompt, defaultText);
    bool accepted = false;
    const QString answer
        = QInputDialog::getText(parent, kAppTitle, DisplayText(prompt), QLineEdit::Normal, defaultText, &accepted);
    if (!accepted)
        return std::nullopt;
    return answer;
}

std::optional<QString> Prompts::Password(QWidget* parent, const QString& prompt)
{
    if (g_hook)
        return g_hook->Password(kAppTitle, prompt);
    bool accepted = false;
    const QString answer
        = QInputDialog::getText(parent, kAppTitle, DisplayText(prompt), QLineEdit::Password, QString(), &accepted);
    if (!accepted)
        return std::nullopt;
    return answer;
}

void Prompts::ErrorBox(QWidget* parent, const QString& text)
{
    if (g_hook)
        return g_hook->ErrorBox("Application Error", text);
    QMessageBox box(QMessageBox::Warning, "Application Error", DisplayText(text), QMessageBox::Ok, parent);
    box.exec();
}

QString Prompts::BrowseForFolder(QWidget* parent, const QString& title, const QString& startFolder)
{
    if (g_hook)
        return g_hook->Folder(title, startFolder);
    return QFileDialog::getExistingDirectory(parent, title, startFolder, QFileDialog::ShowDirsOnly);
}

QStringList Prompts::OpenFiles(QWidget* parent, const QString& title, const QStringList& filters)
{
    if (g_hook)
        return g_hook->Files(title, filters);
    return QFileDialog::getOpenFileNames(parent, title, QString(), filters.join(";;"));
}

void Prompts::OpenFolder(const QString& path)
{
    if (g_hook)
        return g_hook->OpenFolder(path);
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

QString DisplayText(const QString& text)
{
    QString display = text;
    display.replace("\r\n", "\n");
    display.replace('\r', '\n');
    return display;
}

void ErrorBoxReporter::Report(const core::ErrorReport& report)
{
    Prompts::ErrorBox(m_parent, QString::fromStdString(core::ReportErrorMessage(report)));
}

} // namespace vellumcast::app
