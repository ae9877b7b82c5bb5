#include "app/Form2.h"

#include "app/Controls.h"
#include "app/Form1.h"
#include "app/ListModels.h"
#include "core/ErrorReport.h"
#include "core/Files.h"
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
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTreeView>
#include <QVBoxLayout>

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

} // namespace

QString PreviewText(std::string_view text)
{
    if (text.empty())
        return QStringLiteral("empty file"); // a label only: the saved file holds nothing
    if (text.size() <= kPreviewLimit)
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
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
    return shown;
}

Form2::Form2(AppContext context, Form1& mainWindow)
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
}

void Form2::ResultsAdded()
{
    m_model->Grow();
}

void Form2::ShowFirstResult()
{
    // After a run without results the preview is empty, not the text of an earlier run.
    m_listView->selectionModel()->clear();
    m_preview->setPlainText(m_results.empty() ? QString() : PreviewText(m_results.front().text));
}

void Form2::ShowPreview(const QModelIndex& current)
{
    if (!current.isValid() || current.row() < 0 || static_cast<size_t>(current.row()) >= m_results.size())
        return;
    BusyPointer::Set(true);
    m_preview->setPlainText(PreviewText(m_results[static_cast<size_t>(current.row())].text));
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
    SetCommandsEnabled(false);
    const std::string folder = m_outputFolder->text().toStdString();
    SaveCounter counter;
    ShowSaveProgress(0);
    m_pump.SetBeforeTurn([&] { ShowSaveProgress(counter.Count()); });
    m_pump.RunNow(); // the count and the bar appear before the first file is written
    core::CountingReporter reporter(m_reporter);
    auto saved = results::SaveResults(
        folder, m_main.List().Paths(), m_results, { reporter, m_pump, &counter, m_context.files });
    m_pump.SetBeforeTurn({});
    SetCommandsEnabled(true);
    core::StepRunner run(m_reporter, core::LocationText("Form2", "PushButton6_Click"));
    if (saved.outcome == results::SaveOutcome::FolderMissing) {
        HideSaveProgress();
        run.Step(108, [&] { Prompts::Message(this, "Output folder does not exist."); });
        return;
    }
    // The count and the bar stay at the files written, beside "Done.", and go with it.
    ShowSaveProgress(saved.written);
    // A failure's own report already says what was not written; a second box for the same
    // failure would only repeat it. Renamed results are told before "Done.", which keeps its text.
    if (reporter.Count() > 0)
        saved.notWritten = 0;
    if (const std::string notice = results::SaveNotice(saved); !notice.empty())
        run.Step(194, [&] { Prompts::Message(this, QString::fromStdString(notice)); });
    run.Step(194, [&] { Prompts::Message(this, "Done."); });
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
    const QLocale locale;
    m_saveCount->setText(
        QString("%1 of %2")
            .arg(locale.toString(static_cast<qulonglong>(done)), locale.toString(static_cast<qulonglong>(total))));
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
