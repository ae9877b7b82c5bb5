#include "app/Prompts.h"

#include "core/ErrorReport.h"

#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

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

void Prompts::Message(QWidget* parent, const QString& text, const QStringList& list)
{
    if (list.isEmpty())
        return Message(parent, text);
    if (g_hook)
        return g_hook->Message(kAppTitle, text + "\r\n" + list.join("\r\n"));
    QDialog box(parent);
    box.setWindowTitle(kAppTitle);
    auto* label = new QLabel(DisplayText(text), &box);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* items = new QPlainTextEdit(DisplayText(list.join("\r\n")), &box);
    items->setObjectName("MessageList");
    items->setReadOnly(true);
    items->setLineWrapMode(QPlainTextEdit::NoWrap);
    items->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    items->setAccessibleName("Names");
    // Up to a dozen lines show at once; more scroll.
    const int lines = static_cast<int>(std::min<qsizetype>(list.size(), 12));
    items->setMinimumHeight(items->fontMetrics().lineSpacing() * lines + 2 * items->frameWidth() + 8);
    items->setMinimumWidth(items->fontMetrics().averageCharWidth() * 60);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &box);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    auto* layout = new QVBoxLayout(&box);
    layout->addWidget(label);
    layout->addWidget(items, 1);
    layout->addWidget(buttons);
    buttons->button(QDialogButtonBox::Ok)->setFocus();
    box.exec();
}

bool Prompts::Question(QWidget* parent, const QString& text)
{
    if (g_hook)
        return g_hook->Question(kAppTitle, text);
    QMessageBox box(QMessageBox::NoIcon, kAppTitle, DisplayText(text), QMessageBox::Yes | QMessageBox::No, parent);
    return box.exec() == QMessageBox::Yes;
}

int Prompts::Choose(QWidget* parent, const QString& text, const QStringList& choices, int defaultChoice)
{
    if (g_hook)
        return g_hook->Choice(kAppTitle, text, choices);
    QMessageBox box(QMessageBox::NoIcon, kAppTitle, DisplayText(text), QMessageBox::NoButton, parent);
    QList<QAbstractButton*> buttons;
    for (qsizetype i = 0; i < choices.size(); ++i) {
        const bool cancels = i + 1 == choices.size();
        buttons << box.addButton(choices[i], cancels ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
    }
    if (buttons.isEmpty())
        return -1;
    box.setEscapeButton(buttons.back());
    if (defaultChoice >= 0 && defaultChoice < buttons.size())
        box.setDefaultButton(qobject_cast<QPushButton*>(buttons[defaultChoice]));
    box.exec();
    const qsizetype chosen = buttons.indexOf(box.clickedButton());
    return static_cast<int>(chosen < 0 ? buttons.size() - 1 : chosen);
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

QStringList Prompts::OpenFiles(
    QWidget* parent, const QString& title, const QStringList& filters, const QString& startFolder)
{
    if (g_hook)
        return g_hook->Files(title, filters, startFolder);
    return QFileDialog::getOpenFileNames(parent, title, startFolder, filters.join(";;"));
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
