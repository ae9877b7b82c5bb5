#include "app/Form2.h"

#include "app/Controls.h"
#include "app/ListModels.h"
#include "app/LookAndFeel.h"
#include "core/ErrorReport.h"
#include "core/Files.h"
#include "core/Numbers.h"
#include "core/StepRunner.h"
#include "options/Settings.h"
#include "results/SaveResults.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTreeView>
#include <QVBoxLayout>
#include <optional>

namespace vellumcast::app {

namespace {

// Counts the results a save has written.
class SaveCounter final : public results::SaveListener {
public:
    void Saved(const results::SavedFile& file) override { m_count += file.written ? 1 : 0; }
    size_t Count() const { return m_count; }

private:
    size_t m_count = 0;
};

// "1 workbook" or "2,500 workbooks": a count and its noun.
QString Counted(size_t count, const char* noun)
{
    return QString::fromStdString(core::GroupedNumber(count)) + ' ' + noun + (count == 1 ? "" : "s");
}

// Asks once, before a save would replace files the folder holds, naming how many and the
// first few: replace them, keep both (the new texts take free "(N)" names) or cancel,
// which gives none.
std::optional<results::ExistingFiles> AskAboutFilesInTheWay(QWidget* parent, const std::string& folder,
    const std::vector<std::string>& inputs, const exporting::ResultList& list)
{
    constexpr size_t kNamesShown = 5;
    const results::FilesInTheWay inTheWay = results::FilesToReplace(folder, inputs, list, kNamesShown);
    if (inTheWay.count == 0)
        return results::ExistingFiles::Replace;
    QString text = Counted(inTheWay.count, "file") + " in the output folder would be replaced by this save:";
    for (const std::string& name : inTheWay.names)
        text += "\r\n" + QString::fromStdString(name);
    if (inTheWay.count > inTheWay.names.size())
        text += "\r\nand " + QString::fromStdString(core::GroupedNumber(inTheWay.count - inTheWay.names.size()))
            + " more.";
    const std::string& first = inTheWay.names.front();
    const QString renamed = QString::fromStdString(first.substr(0, first.size() - 4)) + " (2).txt";
    text += "\r\n\r\nReplace them, keep both (the new texts take free names such as \"" + renamed
        + "\"), or cancel the save?";
    switch (Prompts::Choose(parent, text, { "Replace", "Keep Both", "Cancel" }, 1)) {
    case 0:
        return results::ExistingFiles::Replace;
    case 1:
        return results::ExistingFiles::Keep;
    default:
        return std::nullopt;
    }
}

} // namespace

QString PreviewText(std::string_view text, bool cutShort)
{
    const QString cutNote = cutShort
        ? QStringLiteral("\n[Cut short: its workbook failed while it was read, so this text is incomplete.]")
        : QString();
    if (text.empty())
        return QStringLiteral("empty file") + cutNote; // a label only: the saved file holds nothing
    if (text.size() <= kPreviewLimit)
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())) + cutNote;
    size_t cut = text.rfind('\n', kPreviewLimit);
    if (cut == std::string_view::npos || cut == 0) {
        cut = kPreviewLimit;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
            --cut; // never in the middle of a UTF-8 character
    } else {
        ++cut;
    }
    QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(cut));
    shown += QString("\n[The preview shows the first %1 KiB of %2 KiB; saving writes the whole text.]")
                 .arg(cut / 1024)
                 .arg(text.size() / 1024);
    return shown + cutNote;
}

Form2::Form2(AppContext context, QWidget& mainWindow)
    : QWidget(nullptr)
    , m_context(std::move(context))
    , m_main(mainWindow)
    , m_reporter(this)
{
    setObjectName("Form2");
    setAccessibleName("Vellumcast: export results");
    BuildControls();
}

Form2::~Form2()
{
    // The view and the model read m_results, which as a member is gone before the base
    // class deletes the children: they go first.
    delete m_listView;
    delete m_model;
}

void Form2::BuildControls()
{
    // Shown only after a run that left something out or has texts cut short.
    m_runNotice = new QLabel(this);
    m_runNotice->setObjectName("RunNotice");
    m_runNotice->setWordWrap(true);
    m_runNotice->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_runNotice->setAccessibleName("What the export left out");
    m_runNotice->hide();

    m_model = new ResultsModel(m_results, this);
    m_listView = new QTreeView(this);
    m_listView->setObjectName("ListView1");
    m_listView->setModel(m_model);
    m_listView->setRootIsDecorated(false);
    m_listView->setItemsExpandable(false);
    m_listView->setUniformRowHeights(true); // a million rows stay quick
    m_listView->setSelectionMode(QAbstractItemView::SingleSelection);
    m_listView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_listView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_listView->setAllColumnsShowFocus(true);
    m_listView->header()->setStretchLastSection(false);
    m_listView->setMinimumSize(TwipsToPixels(7000) + 24, 160);
    m_columns = new ColumnsFollowWidth(m_listView);

    m_preview = new QPlainTextEdit(this);
    m_preview->setObjectName("Text2");
    m_preview->setReadOnly(true);
    // The caret shows where the focus is, and the keyboard moves it: Ctrl+Home, Ctrl+End,
    // the arrows and page keys.
    m_preview->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_preview->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_preview->setMinimumHeight(140);

    m_viewingFrame = new QGroupBox("Viewing Options", this);
    m_viewingFrame->setObjectName("Frame2");
    m_wordWrap = new QCheckBox("Use word wrap", m_viewingFrame);
    m_wordWrap->setObjectName("Check1");
    auto* viewingLayout = new QHBoxLayout(m_viewingFrame);
    viewingLayout->addWidget(m_wordWrap);

    m_folderFrame = new QGroupBox("Save Results To This Folder", this);
    m_folderFrame->setObjectName("Frame1");
    m_outputFolder = new QLineEdit(m_folderFrame);
    m_outputFolder->setObjectName("Text1");
    const QKeySequence pickKeys(Qt::CTRL | Qt::SHIFT | Qt::Key_O);
    m_pickFolder = MakeButton(m_folderFrame, "PushButton7", "...", { pickKeys });
    m_pickFolder->setToolTip("Choose the output folder (" + pickKeys.toString(QKeySequence::NativeText) + ")");
    auto* folderLayout = new QHBoxLayout(m_folderFrame);
    folderLayout->addWidget(m_outputFolder, 1);
    folderLayout->addWidget(m_pickFolder);

    m_save = MakeButton(this, "PushButton6", "Save Results To Text File", { QKeySequence::Save });
    m_back = MakeButton(this, "PushButton8", "< Back", { Qt::ALT | Qt::Key_Left });
    // Escape goes back, and while a save goes on stops it between files instead; one
    // shortcut does both, since two on one key would cancel each other out.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, [this] {
        if (!m_commandsEnabled)
            m_pump.RequestStop();
        else if (m_back->isEnabled())
            m_back->click();
    });
    m_back->setToolTip(QKeySequence(Qt::Key_Escape).toString(QKeySequence::NativeText) + ", " + m_back->toolTip());

    // Shown only while a save goes on: how many results are written, as a count and a bar.
    m_saveCount = new QLabel(this);
    m_saveCount->setObjectName("SaveCount");
    m_saveProgress = new QProgressBar(this);
    m_saveProgress->setObjectName("SaveProgress");
    m_saveProgress->setTextVisible(false);
    m_saveCount->hide();
    m_saveProgress->hide();

    auto* frames = new QHBoxLayout;
    frames->addWidget(m_viewingFrame);
    frames->addWidget(m_folderFrame, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_back);
    buttons->addStretch(1);
    buttons->addWidget(m_saveCount);
    buttons->addWidget(m_saveProgress, 2);
    buttons->addWidget(m_save);
    auto* layout = new QVBoxLayout(ScrollingPage(this));
    layout->addWidget(m_runNotice);
    layout->addWidget(m_listView, 2);
    layout->addWidget(m_preview, 3);
    layout->addLayout(frames);
    layout->addLayout(buttons);

    // What assistive technology reads: each control's own name, never only its frame's.
    m_listView->setAccessibleName("Results");
    m_listView->setAccessibleDescription("The texts of the last export; the selected one shows in the preview");
    m_preview->setAccessibleName("Text of the selected result"); // the list's first column is "Preview"
    m_preview->setAccessibleDescription("The text of the selected result, read only; Ctrl+Home and Ctrl+End "
                                        "go to its start and end");
    m_outputFolder->setAccessibleName("Output folder");
    m_outputFolder->setAccessibleDescription("The folder the text files are saved to");
    m_pickFolder->setAccessibleName("Choose the output folder");
    m_back->setAccessibleName("Back");
    m_back->setAccessibleDescription("Goes back to the list of workbooks");
    m_saveCount->setAccessibleName("Results saved");
    m_saveProgress->setAccessibleName("Save progress");

    setTabOrder(m_listView, m_preview);
    setTabOrder(m_preview, m_wordWrap);
    setTabOrder(m_wordWrap, m_outputFolder);
    setTabOrder(m_outputFolder, m_pickFolder);
    setTabOrder(m_pickFolder, m_back);
    setTabOrder(m_back, m_save);

    connect(m_listView->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        [this](const QModelIndex& current) { ShowPreview(current); });
    connect(m_wordWrap, &QCheckBox::stateChanged, this, [this] { Check1_Click(); });
    connect(m_outputFolder, &QLineEdit::textChanged, this, [this](const QString& text) {
        options::SaveSetting(*m_context.store, options::kOutputFolderKey, text.toStdString());
    });
    connect(m_save, &QPushButton::clicked, this, &Form2::PushButton6_Click);
    connect(m_pickFolder, &QPushButton::clicked, this, &Form2::PushButton7_Click);
    connect(m_back, &QPushButton::clicked, this, &Form2::PushButton8_Click);
}

void Form2::Form_Load()
{
    SetPlainColours(this);
    resize(sizeHint().expandedTo(QSize(560, 520)));
    if (!RestoreGeometry(this, *m_context.store, options::kResultsWindowKey))
        CenterOnScreen(this);
    setWindowTitle(kAppTitle);
    setWindowIcon(AppIcon());
    QCursor hand(Qt::PointingHandCursor);
    const std::string handFile = ProgramDataPath(m_context.programFolder, "HAND-M.CUR");
    if (core::FileExists(handFile))
        hand = LoadCursorFile(QString::fromStdString(handFile));
    for (QPushButton* button : findChildren<QPushButton*>())
        button->setCursor(hand);
    // The default is the desktop; putting the value into the box writes it back.
    const std::string desktop = core::GetDesktopFolder();
    m_outputFolder->setText(
        QString::fromStdString(options::GetSetting(*m_context.store, options::kOutputFolderKey, desktop)));
    const int wrap = options::ReadCheckState(options::UsableSetting(*m_context.store, options::kWordWrapKey));
    m_wordWrap->setCheckState(wrap == 0 ? Qt::Unchecked : Qt::Checked);
}

void Form2::LayoutColumns(options::SaveMode mode)
{
    m_model->SetColumns(ResultColumnsFor(mode));
    std::vector<int> widths;
    for (const auto& column : m_model->Columns())
        widths.push_back(TwipsToPixels(column.widthTwips));
    m_columns->SetDesignWidths(std::move(widths));
}

void Form2::RunStarting()
{
    m_model->Reset([this] { m_results.clear(); });
    m_leftOut.clear();
    ShowRunNotice();
}

void Form2::RunStopped(std::vector<std::string> leftOut)
{
    m_leftOut = std::move(leftOut);
    ShowRunNotice();
}

void Form2::ShowRunNotice()
{
    QStringList notice;
    if (!m_leftOut.empty()) {
        constexpr size_t kNamed = 3;
        QStringList names;
        for (size_t i = 0; i < m_leftOut.size() && i < kNamed; ++i)
            names << QString::fromStdString(core::FileNameOfPath(m_leftOut[i]));
        QString left = "The export was stopped: " + Counted(m_leftOut.size(), "workbook")
            + (m_leftOut.size() == 1 ? " was" : " were") + " not exported: " + names.join(", ");
        if (m_leftOut.size() > kNamed)
            left += " and " + QString::fromStdString(core::GroupedNumber(m_leftOut.size() - kNamed)) + " more";
        notice << left + ".";
    }
    if (const size_t cut = m_results.CutShortCount(); cut > 0) {
        notice << Counted(cut, "text") + (cut == 1 ? " is" : " are")
                + " cut short by a failure of the workbook, marked so in the list; a save never writes such a "
                  "text over a file.";
    }
    m_runNotice->setText(notice.join("\n"));
    m_runNotice->setVisible(!notice.isEmpty());
}

void Form2::ResultsAdded()
{
    m_model->Grow();
}

void Form2::ShowFirstResult()
{
    // After a run without results the preview is empty, not the text of an earlier run.
    m_listView->selectionModel()->clear();
    m_preview->setPlainText(
        m_results.empty() ? QString() : PreviewText(m_results.front().text, m_results.front().cutShort));
    ShowRunNotice();
}

void Form2::ShowPreview(const QModelIndex& current)
{
    if (!current.isValid() || current.row() < 0 || static_cast<size_t>(current.row()) >= m_results.size())
        return;
    BusyPointer::Set(true);
    const exporting::ResultEntry entry = m_results[static_cast<size_t>(current.row())];
    m_preview->setPlainText(PreviewText(entry.text, entry.cutShort));
    BusyPointer::Set(false);
}

void Form2::Check1_Click()
{
    options::SaveSetting(*m_context.store, options::kWordWrapKey, std::to_string(CheckValue(m_wordWrap->checkState())));
    ApplyWordWrap();
}

void Form2::ApplyWordWrap()
{
    // Checked wraps at the box's width, as the caption says.
    m_preview->setLineWrapMode(m_wordWrap->isChecked() ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
}

void Form2::SetCommandsEnabled(bool enabled)
{
    m_commandsEnabled = enabled;
    if (!enabled)
        m_pump.ClearStop(); // a new command starts; an earlier stop is not its own
    for (QPushButton* button : { m_save, m_pickFolder, m_back })
        button->setEnabled(enabled);
    m_outputFolder->setReadOnly(!enabled);
}

void Form2::PushButton6_Click()
{
    if (!m_commandsEnabled)
        return;
    RunningCommand running;
    const std::string folder = m_outputFolder->text().toStdString();
    core::StepRunner run(m_reporter, core::LocationText("Form2", "PushButton6_Click"));
    bool exists = false;
    run.Step(106, [&] { exists = core::FolderExists(folder); });
    if (!exists) {
        run.Step(108, [&] { Prompts::Message(this, "Output folder does not exist."); });
        return;
    }
    // The run's own workbooks, those a stop left out among them, are never written over.
    std::vector<std::string> inputs = m_results.Inputs();
    inputs.insert(inputs.end(), m_leftOut.begin(), m_leftOut.end());
    const std::optional<results::ExistingFiles> existing = AskAboutFilesInTheWay(this, folder, inputs, m_results);
    if (!existing)
        return; // cancelled: nothing is written
    SetCommandsEnabled(false);
    SaveCounter counter;
    ShowSaveProgress(0);
    m_pump.SetBeforeTurn([&] { ShowSaveProgress(counter.Count()); });
    m_pump.RunNow(); // the count and the bar appear before the first file is written
    const auto saved
        = results::SaveResults(folder, inputs, m_results, { m_reporter, m_pump, &counter, m_context.files }, *existing);
    m_pump.SetBeforeTurn({});
    SetCommandsEnabled(true);
    if (saved.outcome == results::SaveOutcome::FolderMissing) {
        HideSaveProgress();
        run.Step(108, [&] { Prompts::Message(this, "Output folder does not exist."); });
        return;
    }
    // The count and the bar stay at the files written, beside the last message, and go
    // with it. That one message says "Done." only when every result was written; else how
    // many were, and it names each result not written (a failure's own report said what
    // failed) and those saved under a new name.
    ShowSaveProgress(saved.written);
    const std::string notice = results::SaveNotice(saved);
    const QStringList lines = notice.empty() ? QStringList() : QString::fromStdString(notice).split("\r\n");
    run.Step(194, [&] { Prompts::Message(this, QString::fromStdString(results::SaveHeadline(saved)), lines); });
    HideSaveProgress();
}

void Form2::PushButton7_Click()
{
    core::StepRunner run(m_reporter, core::LocationText("Form2", "PushButton7_Click"));
    QString chosen;
    // The picker opens at the folder it is about to change.
    const QString current = m_outputFolder->text();
    const QString start = !current.isEmpty() && QDir(current).exists() ? current : QDir::homePath();
    run.Step(100, [&] { chosen = Prompts::BrowseForFolder(this, "Please select folder:", start); });
    if (chosen.isEmpty())
        return; // 102
    if (!chosen.endsWith('/'))
        run.Step(106, [&] { m_outputFolder->setText(chosen + "/"); });
    else
        run.Step(108, [&] { m_outputFolder->setText(chosen); });
}

void Form2::PushButton8_Click()
{
    if (!m_commandsEnabled)
        return;
    core::StepRunner run(m_reporter, core::LocationText("Form2", "PushButton8_Click"));
    run.Step(108, [&] { m_main.show(); });
    run.Step(110, [&] { hide(); });
}

void Form2::ShowSaveProgress(size_t done)
{
    const size_t total = m_results.size();
    done = std::min(done, total);
    // The bar counts in steps of a thousandth, so its int range holds any number of results.
    const int maximum = total == 0 ? 1 : static_cast<int>(std::min<size_t>(total, 1000));
    m_saveProgress->setRange(0, maximum);
    m_saveProgress->setValue(total == 0 ? 0 : static_cast<int>(done * static_cast<size_t>(maximum) / total));
    m_saveCount->setText(QString::fromStdString(core::GroupedNumber(done) + " of " + core::GroupedNumber(total)));
    m_saveCount->show();
    m_saveProgress->show();
}

void Form2::HideSaveProgress()
{
    m_saveCount->hide();
    m_saveProgress->hide();
}

void Form2::hideEvent(QHideEvent* event)
{
    if (!event->spontaneous())
        SaveGeometry(this, *m_context.store, options::kResultsWindowKey);
    QWidget::hideEvent(event);
}

void Form2::closeEvent(QCloseEvent* event)
{
    SaveGeometry(this, *m_context.store, options::kResultsWindowKey);
    event->accept();
    if (m_context.endProgram)
        m_context.endProgram();
}

} // namespace vellumcast::app
