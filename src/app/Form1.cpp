#include "app/Form1.h"

#include "app/Controls.h"
#include "app/Form2.h"
#include "app/ListModels.h"
#include "app/LookAndFeel.h"
#include "app/WorkbookListView.h"
#include "core/ErrorReport.h"
#include "core/Files.h"
#include "core/Numbers.h"
#include "core/StepRunner.h"
#include "options/Settings.h"
#include "worklist/FolderScan.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHideEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>
#include <stdexcept>

namespace vellumcast::app {

namespace {

constexpr const char* kListToolTip = "Drag and drop files here. Double-click item to remove it. Move bar to right "
                                     "and out of window to reveal full names.";
constexpr const char* kAddFilesTitle = "Add File(s) - Hold Ctrl or Shift to select multiple files";
constexpr const char* kExtensionPrompt
    = "Enter file extension to load:\r\r(* for all files, txt for all txt files, doc for all doc files, etc.)";
constexpr const char* kFolderTitle = "Please select folder:";
constexpr const char* kSamplesQuestion = "Would you like this software to open the folder where these sample files "
                                         "are stored (so that you can view them before working with them)?";
constexpr const char* kNotInstalled = "Excel is not installed on this computer. You need to have it installed to use "
                                      "this software without error.";
constexpr const char* kEmptyOtherDivider
    = "The \"Other:\" box is empty, so nothing will stand between neighbouring cells and the texts cannot be "
      "split into cells again.\r\rExport anyway?";
constexpr const char* kNoDivider = "No divider is chosen, so nothing will stand between neighbouring cells and the "
                                   "texts cannot be split into cells again.\r\rExport anyway?";

// The folder a stored picker folder names, when it is still there; else the home folder.
QString StartFolder(options::SettingsStore& store, const options::SettingKey& key)
{
    const QString stored = QString::fromStdString(options::UsableSetting(store, key));
    return !stored.isEmpty() && QDir(stored).exists() ? stored : QDir::homePath();
}

// Ends a command: the commands come back and the busy pointer goes, however it ended.
class CommandScope {
public:
    explicit CommandScope(Form1& window)
        : m_window(window)
    {
        m_window.SetCommandsEnabled(false);
    }
    ~CommandScope() { m_window.SetCommandsEnabled(true); }
    CommandScope(const CommandScope&) = delete;
    CommandScope& operator=(const CommandScope&) = delete;

private:
    Form1& m_window;
    RunningCommand m_running;
};

} // namespace

Form1::Form1(AppContext context, QWidget* parent)
    : QWidget(parent)
    , m_context(std::move(context))
    , m_reporter(this)
{
    setObjectName("Form1");
    InstallAccessibleInterfaces();
    // Both windows have the caption "Vellumcast"; assistive technology tells them apart.
    setAccessibleName("Vellumcast: workbooks and export options");
    BuildControls();
    ConnectHandlers();
}

Form1::~Form1()
{
    // The view and the model read m_list, which as a member is gone before the base class
    // deletes the children: they go first.
    delete m_listView;
    delete m_listModel;
}

void Form1::BuildControls()
{
    m_listModel = new WorkbookListModel(m_list, this);
    m_listView = new WorkbookListView(m_list, this);
    m_listView->setObjectName("ListView1");
    m_listView->setModel(m_listModel);
    m_listView->setToolTip(kListToolTip);
    m_listView->setMinimumSize(TwipsToPixels(6000) + 24, 180);
    m_columns = new ColumnsFollowWidth(m_listView);

    m_addFiles = MakeButton(this, "PushButton1", "Add Excel Files", { QKeySequence::Open });
    m_addFolder
        = MakeButton(this, "PushButton5", "Add All Excel Files In Folder", { Qt::CTRL | Qt::SHIFT | Qt::Key_O });
    m_samples = MakeButton(this, "PushButton6", "Load Sample/Example Files");
    m_clear = MakeButton(this, "PushButton7", "Clear List", { Qt::CTRL | Qt::SHIFT | Qt::Key_Delete });
    m_moveUp = MakeButton(this, "PushButton3", "Move Up", { Qt::ALT | Qt::Key_Up });
    m_moveDown = MakeButton(this, "PushButton4", "Move Down", { Qt::ALT | Qt::Key_Down });

    auto* listButtons = new QVBoxLayout;
    for (QPushButton* button : { m_addFiles, m_addFolder, m_samples, m_clear })
        listButtons->addWidget(button);
    listButtons->addStretch(1);
    listButtons->addWidget(m_moveUp);
    listButtons->addWidget(m_moveDown);
    auto* listRow = new QHBoxLayout;
    listRow->addWidget(m_listView, 1);
    listRow->addLayout(listButtons);

    m_saveFrame = new QGroupBox("Save Options", this);
    m_saveFrame->setObjectName("Frame3");
    m_saveMode = new NamedComboBox(m_saveFrame);
    m_saveMode->setObjectName("Combo1");
    m_saveMode->setEditable(false);
    auto* saveLayout = new QHBoxLayout(m_saveFrame);
    saveLayout->addWidget(m_saveMode, 1);

    m_dividerFrame = new QGroupBox("Divide Each Cell With X In Text File", this);
    m_dividerFrame->setObjectName("Frame1");
    m_optionGroup = new QButtonGroup(this);
    auto* dividerLayout = new QHBoxLayout(m_dividerFrame);
    const char* captions[] = { "Tab", "Comma", "Comma-Space", "Space", "Other:" };
    for (size_t i = 0; i < m_options.size(); ++i) {
        m_options[i] = new QRadioButton(captions[i], m_dividerFrame);
        m_options[i]->setObjectName(QString("Option%1").arg(i + 1));
        m_optionGroup->addButton(m_options[i], static_cast<int>(i));
        dividerLayout->addWidget(m_options[i]);
    }
    m_options[0]->setChecked(true);
    m_otherDivider = new QLineEdit(m_dividerFrame);
    m_otherDivider->setObjectName("Text1");
    m_otherDivider->setMinimumWidth(60);
    dividerLayout->addWidget(m_otherDivider, 1);

    m_outputFrame = new QGroupBox("Additional Output Options", this);
    m_outputFrame->setObjectName("Frame2");
    m_blankCells = new QCheckBox("Include blank cell(s)", m_outputFrame);
    m_blankCells->setObjectName("Check3");
    m_blankCells->setChecked(true);
    m_quotes = new QCheckBox("Include quotes around each cell(s)", m_outputFrame);
    m_quotes->setObjectName("Check4");
    m_quotes->setChecked(true);
    auto* outputLayout = new QHBoxLayout(m_outputFrame);
    outputLayout->addWidget(m_blankCells);
    outputLayout->addWidget(m_quotes);
    outputLayout->addStretch(1);

    m_start = MakeButton(
        this, "PushButton2", "Start Exporting To Text Files", { Qt::CTRL | Qt::Key_Return, Qt::CTRL | Qt::Key_Enter });
    m_start->setDefault(true);
    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName("ProgressBar1");
    m_progressBar->setRange(0, 100);
    m_progressBar->setValue(0);
    m_progressBar->setTextVisible(false);
    m_progress = std::make_unique<BarProgress>(m_progressBar);
    // Escape stops a run or a search at its next safe point; closing the window still ends
    // the program.
    m_stop = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    m_stop->setContext(Qt::WindowShortcut);
    m_stop->setEnabled(false);
    connect(m_stop, &QShortcut::activated, this, [this] { m_pump.RequestStop(); });

    auto* layout = new QVBoxLayout(ScrollingPage(this));
    layout->addLayout(listRow, 1);
    layout->addWidget(m_saveFrame);
    layout->addWidget(m_dividerFrame);
    layout->addWidget(m_outputFrame);
    layout->addWidget(m_start);
    layout->addWidget(m_progressBar);

    // What assistive technology reads: each control's own name, never only its frame's.
    m_listView->setAccessibleName("Workbooks to export");
    m_listView->setAccessibleDescription("The workbooks, in the order they are exported. Drop files or folders "
                                         "here; Delete removes the selected entry.");
    m_addFolder->setAccessibleDescription("Adds the workbooks of a folder and its subfolders");
    m_samples->setAccessibleDescription("Adds the sample workbooks to the list");
    m_saveMode->setAccessibleName("Save mode");
    m_saveMode->setAccessibleDescription("One text file per workbook, worksheet, row or column");
    for (QRadioButton* option : m_options)
        option->setAccessibleDescription("Divides each cell from the next with this");
    m_otherDivider->setAccessibleName("Other divider");
    m_otherDivider->setAccessibleDescription("The text that divides the cells when Other is chosen");
    m_progressBar->setAccessibleName("Export progress");

    // Keyboard order follows the layout: the list, its commands, then the options top to bottom.
    QWidget* order[]
        = { m_listView, m_addFiles, m_addFolder, m_samples, m_clear, m_moveUp, m_moveDown, m_saveMode, m_options[0],
              m_options[1], m_options[2], m_options[3], m_options[4], m_otherDivider, m_blankCells, m_quotes, m_start };
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void Form1::ConnectHandlers()
{
    connect(m_addFiles, &QPushButton::clicked, this, &Form1::PushButton1_Click);
    connect(m_start, &QPushButton::clicked, this, &Form1::PushButton2_Click);
    connect(m_moveUp, &QPushButton::clicked, this, &Form1::PushButton3_Click);
    connect(m_moveDown, &QPushButton::clicked, this, &Form1::PushButton4_Click);
    connect(m_addFolder, &QPushButton::clicked, this, &Form1::PushButton5_Click);
    connect(m_samples, &QPushButton::clicked, this, &Form1::PushButton6_Click);
    connect(m_clear, &QPushButton::clicked, this, &Form1::PushButton7_Click);
    connect(m_listView, &WorkbookListView::RemoveRequested, this, &Form1::RemoveSelectedEntry);
    connect(m_listView, &WorkbookListView::PathsDropped, this, &Form1::DropPaths);

    // Every option is written the moment its control changes.
    for (QRadioButton* option : m_options)
        connect(option, &QRadioButton::clicked, this, &Form1::OptionClicked);
    const auto checkClicked = [this](QCheckBox* box, const options::SettingKey& key) {
        connect(box, &QCheckBox::clicked, this, [this, box, key] {
            if (box->checkState() != Qt::PartiallyChecked)
                box->setTristate(false); // a greyed box restored from the store stops being three-state once clicked
            options::SaveSetting(*m_context.store, key, std::to_string(CheckValue(box->checkState())));
        });
    };
    checkClicked(m_blankCells, options::kCheck3Key);
    checkClicked(m_quotes, options::kCheck4Key);
    connect(m_otherDivider, &QLineEdit::textChanged, this, [this](const QString& text) {
        options::SaveSetting(*m_context.store, options::kText1Key, text.toStdString());
    });
    // Typing a divider chooses "Other:", which is what the typing is for; a text put in
    // the box by the restore chooses nothing.
    connect(m_otherDivider, &QLineEdit::textEdited, this, [this] {
        if (m_options[4]->isChecked())
            return;
        m_options[4]->setChecked(true);
        OptionClicked();
    });
    const auto saveDirections = [this](const QString& text) {
        options::SaveSetting(*m_context.store, options::kDirectionsKey, text.toStdString());
    };
    connect(m_saveMode, &QComboBox::currentTextChanged, this, saveDirections);
    connect(
        m_saveMode, &QComboBox::activated, this, [this, saveDirections] { saveDirections(m_saveMode->currentText()); });
}

void Form1::OptionClicked()
{
    for (size_t i = 0; i < m_options.size(); ++i)
        options::SaveSetting(
            *m_context.store, options::kOptionKeys[i], options::BooleanText(m_options[i]->isChecked()));
}

void Form1::Form_Load()
{
    core::StepRunner run(m_reporter, core::LocationText("Form1", "Form_Load"));
    const std::string folder = m_context.programFolder;

    run.Step(100, [&] {
        const std::string skin = ProgramDataPath(folder, "x/o.cjs");
        if (!core::FileExists(skin))
            return;
        SetPlainColours(this);
        QFile file(QString::fromStdString(skin));
        if (!file.open(QIODevice::ReadOnly))
            throw core::FileError("Cannot read the skin " + skin);
        setStyleSheet(QString::fromUtf8(file.readAll()));
    });
    run.Step(102, [&] {
        // The size the controls ask for, made to fit the screen below (adjustSize would
        // stop at two thirds of a small screen, which the scrolling page makes needless).
        resize(sizeHint());
        if (!RestoreGeometry(this, *m_context.store, options::kMainWindowKey))
            CenterOnScreen(this);
    });
    QCursor hand(Qt::PointingHandCursor);
    const std::string handFile = ProgramDataPath(folder, "HAND-M.CUR");
    if (run.Test(104, [&] { return core::FileExists(handFile); }))
        run.Step(106, [&] { hand = LoadCursorFile(QString::fromStdString(handFile)); });
    for (QPushButton* button : findChildren<QPushButton*>())
        button->setCursor(hand);
    const std::string dragFile = ProgramDataPath(folder, "drag.ico");
    if (core::FileExists(dragFile)) {
        try {
            m_listView->SetDragCursor(LoadCursorFile(QString::fromStdString(dragFile)));
        } catch (const std::exception&) {
            // An unreadable drag pointer leaves the platform's one in place.
        }
    }
    run.Step(126, [&] {
        setWindowTitle(kAppTitle);
        setWindowIcon(AppIcon());
    });
    run.Step(128, [&] { m_listView->header()->setVisible(true); }); // the model names the column "Excel File(s)"
    run.Step(130, [&] { m_columns->SetDesignWidths({ TwipsToPixels(6000) }); });
    {
        // Filling the list is not a change of the save mode; only the restore below is.
        const QSignalBlocker quiet(m_saveMode);
        int step = 132;
        for (options::SaveMode mode : { options::SaveMode::AllSheets, options::SaveMode::EachSheet,
                 options::SaveMode::EachRow, options::SaveMode::EachColumn }) {
            run.Step(step, [&] { m_saveMode->addItem(QString::fromUtf8(options::SaveModeCaption(mode).data())); });
            step += 2;
        }
    }
    options::SettingsStore& store = *m_context.store;
    if (const std::string why = store.PassedOver(options::kSettingsApplication); !why.empty())
        Prompts::Message(this,
            QString::fromStdString("The settings file " + store.Origin(options::kSettingsApplication) + " " + why
                + ", so it is passed over: the settings start from their first-start values and changes are not "
                  "kept."));
    // Every value that cannot be used, of both windows, is told in one box and mended in
    // the store, so the next start is quiet and the results window meets no bad value.
    const std::vector<options::BadSetting> bad = options::FindBadSettings(store, WindowGeometryProblem);
    options::RepairSettings(store, bad, [](const options::SettingKey& key) {
        return key.name == options::kOutputFolderKey.name ? core::GetDesktopFolder() : options::FirstStartValue(key);
    });
    if (!bad.empty())
        Prompts::Message(this,
            QString::fromStdString(options::BadSettingsMessage(store.Origin(options::kSettingsApplication), bad)));
    run.Step(140, [&] {
        // Restoring the mode is not a change of it: the store keeps what it holds.
        const QSignalBlocker quiet(m_saveMode);
        m_saveMode->setCurrentIndex(
            m_saveMode->findText(QString::fromStdString(options::UsableSetting(store, options::kDirectionsKey)),
                Qt::MatchExactly | Qt::MatchCaseSensitive));
    });
    for (size_t i = 0; i < m_options.size(); ++i) {
        run.Step(142 + 2 * static_cast<int>(i), [&] {
            if (options::ReadBoolean(options::UsableSetting(store, options::kOptionKeys[i]))) {
                m_options[i]->setChecked(true);
            } else if (m_options[i]->isChecked()) {
                m_optionGroup->setExclusive(false);
                m_options[i]->setChecked(false);
                m_optionGroup->setExclusive(true);
            }
        });
    }
    const auto restoreCheck = [&](int step, QCheckBox* box, const options::SettingKey& key) {
        run.Step(step, [&] {
            const Qt::CheckState state = CheckStateFor(options::ReadCheckState(options::UsableSetting(store, key)));
            box->setTristate(state == Qt::PartiallyChecked);
            box->setCheckState(state);
        });
    };
    restoreCheck(152, m_blankCells, options::kCheck3Key);
    restoreCheck(154, m_quotes, options::kCheck4Key);
    run.Step(156,
        [&] { m_otherDivider->setText(QString::fromStdString(options::UsableSetting(store, options::kText1Key))); });
    // CheckSpreadsheetInstalled: every failure of the attempt is suppressed; only the
    // absence of an engine is told.
    bool installed = false;
    try {
        if (m_context.createEngine)
            m_context.createEngine();
        installed = true;
    } catch (...) {
        installed = false;
    }
    if (!installed)
        Prompts::Message(this, kNotInstalled);
}

options::ExportOptions Form1::CurrentOptions() const
{
    options::ExportOptions current;
    current.includeBlankCells = m_blankCells->checkState() == Qt::Checked;
    current.quoteCells = m_quotes->checkState() == Qt::Checked;
    current.divider.clear();
    for (size_t i = 0; i < m_options.size(); ++i) {
        if (m_options[i]->isChecked()) {
            current.divider
                = options::DividerFor(static_cast<options::DividerChoice>(i), m_otherDivider->text().toStdString());
            break;
        }
    }
    // The list holds the modes in their order, from the first.
    if (const int index = m_saveMode->currentIndex(); index >= 0)
        current.saveMode = static_cast<options::SaveMode>(index);
    return current;
}

void Form1::SetCommandsEnabled(bool enabled)
{
    m_commandsEnabled = enabled;
    if (!enabled)
        m_pump.ClearStop(); // a new command starts; an earlier stop is not its own
    m_stop->setEnabled(!enabled);
    for (QPushButton* button : { m_addFiles, m_start, m_moveUp, m_moveDown, m_addFolder, m_samples, m_clear })
        button->setEnabled(enabled);
    m_listView->SetEditable(enabled);
}

void Form1::PushButton1_Click()
{
    core::StepRunner run(m_reporter, core::LocationText("Form1", "PushButton1_Click"));
    QStringList files;
    run.Step(108, [&] {
        files = Prompts::OpenFiles(this, kAddFilesTitle,
            { "Excel Files (*.xl*)", "Spreadsheets (*.xl* *.ods *.ots *.fods *.xml *.csv *.tsv *.tab *.txt)",
                "All Files (*)" },
            StartFolder(*m_context.store, options::kAddFilesFolderKey));
    });
    if (files.isEmpty())
        return; // 110: cancelled
    // The dialog opens where the files were chosen, at this start and the next.
    options::SaveSetting(
        *m_context.store, options::kAddFilesFolderKey, QFileInfo(files.first()).absolutePath().toStdString());
    const int appendStep = files.size() == 1 ? 118 : 132;
    for (const QString& file : files)
        run.Step(appendStep, [&] { m_list.Append(file.toStdString()); });
}

void Form1::PushButton3_Click()
{
    core::SilentReporter silent;
    core::StepRunner run(silent, {});
    run.Step(0, [&] {
        if (const auto select = worklist::MoveUp(m_list, m_listView->SelectedPosition())) {
            m_listView->SelectPosition(*select);
            m_listView->scrollTo(m_listModel->index(static_cast<int>(*select), 0));
        }
    });
    m_listView->setFocus();
}

void Form1::PushButton4_Click()
{
    core::SilentReporter silent;
    core::StepRunner run(silent, {});
    run.Step(0, [&] {
        if (const auto select = worklist::MoveDown(m_list, m_listView->SelectedPosition())) {
            m_listView->SelectPosition(*select);
            m_listView->scrollTo(m_listModel->index(static_cast<int>(*select), 0));
        }
    });
    m_listView->setFocus();
}

void Form1::PushButton7_Click()
{
    core::StepRunner run(m_reporter, core::LocationText("Form1", "PushButton7_Click"));
    run.Step(100, [&] { m_list.Clear(); });
}

void Form1::RemoveSelectedEntry()
{
    core::SilentReporter silent;
    core::StepRunner run(silent, {});
    run.Step(0, [&] { worklist::RemoveSelected(m_list, m_listView->SelectedPosition()); });
}

void Form1::PushButton5_Click()
{
    core::StepRunner run(m_reporter, core::LocationText("Form1", "PushButton5_Click"));
    run.SetScanContext("", "");
    std::optional<QString> answer;
    run.Step(100, [&] { answer = Prompts::Input(this, kExtensionPrompt, "xls"); });
    if (!answer || answer->isEmpty())
        return; // 102
    QString folder;
    run.Step(104, [&] {
        folder = Prompts::BrowseForFolder(this, kFolderTitle, StartFolder(*m_context.store, options::kImportFolderKey));
    });
    if (folder.isEmpty())
        return; // 106
    options::SaveSetting(*m_context.store, options::kImportFolderKey, folder.toStdString());
    CommandScope scope(*this);
    run.Step(108, [&] { SetBusy(true); });
    RunSearch([&] {
        worklist::ImportFolder(
            m_list, folder.toStdString(), worklist::PatternForAnswer(answer->toStdString()), run, m_pump);
    });
    run.Step(130, [&] { SetBusy(false); });
}

void Form1::PushButton6_Click()
{
    core::StepRunner run(m_reporter, core::LocationText("Form1", "PushButton6_Click"));
    const std::string samples = ProgramDataPath(m_context.programFolder, "Samples");
    std::vector<std::string> names;
    // A missing folder simply has no samples to offer.
    run.Step(100, [&] {
        if (core::FolderExists(samples))
            names = worklist::ListFolderFiles(samples, "*.*");
    });
    for (const auto& name : names)
        run.Step(104, [&] { m_list.Append(samples + "/" + name); });
    bool open = false;
    run.Step(106, [&] { open = Prompts::Question(this, kSamplesQuestion); });
    if (open)
        run.Step(108, [&] { Prompts::OpenFolder(QString::fromStdString(samples + "/")); });
}

void Form1::DropPaths(const QStringList& paths)
{
    CommandScope scope(*this);
    std::vector<std::string> dropped;
    for (const QString& path : paths)
        dropped.push_back(path.toStdString());
    RunSearch([&] { worklist::DropPaths(m_list, dropped, m_pump); });
}

void Form1::RunSearch(const std::function<void()>& search)
{
    const size_t before = m_list.Count();
    const auto showFound = [this, before] {
        m_progressBar->setFormat(QString("Searching: %1 found so far (Escape stops)")
                                     .arg(QString::fromStdString(core::GroupedNumber(m_list.Count() - before))));
    };
    showFound();
    m_progressBar->setTextVisible(true);
    m_pump.SetBeforeTurn(showFound);
    search();
    m_pump.SetBeforeTurn({});
    m_progressBar->setTextVisible(false);
    m_progressBar->resetFormat();
}

bool Form1::DividerAccepted()
{
    if (m_list.Count() == 0)
        return true; // the run only says "No files added."
    const bool other = m_options[4]->isChecked();
    const bool none = std::none_of(
        m_options.begin(), m_options.end(), [](const QRadioButton* option) { return option->isChecked(); });
    if (!(other && m_otherDivider->text().isEmpty()) && !none)
        return true;
    if (Prompts::Question(this, none ? kNoDivider : kEmptyOtherDivider))
        return true;
    if (other)
        m_otherDivider->setFocus();
    return false;
}

void Form1::PushButton2_Click()
{
    if (!m_commandsEnabled)
        return;
    if (!DividerAccepted())
        return;
    CommandScope scope(*this);
    if (!m_form2)
        m_form2 = std::make_unique<Form2>(m_context, *this);
    // The results are emptied here, where the results window's list hears of it, and not
    // only inside the run, whose list has no view to tell.
    m_form2->RunStarting();
    // Failures name this handler, and the procedures as the module holding them.
    exporting::ExportRunPorts ports { m_reporter, m_pump, *m_progress,
        { core::LocationText("Form1", "PushButton2_Click"), "Excel1" } };
    exporting::RunExport(*this, ports, m_form2->Results());
    SetBusy(false);
}

Form2& Form1::EnsureResultsWindow()
{
    if (!m_form2)
        m_form2 = std::make_unique<Form2>(m_context, *this);
    if (!m_form2Loaded) {
        m_form2Loaded = true;
        m_form2->Form_Load();
    }
    return *m_form2;
}

size_t Form1::WorkbookCount()
{
    return m_list.Count();
}

std::string Form1::WorkbookPath(size_t index)
{
    if (index >= m_list.Count())
        throw std::out_of_range("Index out of bounds: the list has fewer entries than when the run started");
    return m_list.Text(index);
}

std::optional<exporting::ChosenOptions> Form1::Options()
{
    if (m_saveMode->currentIndex() < 0)
        return std::nullopt; // the list of modes is not filled yet
    const bool dividerChosen = std::any_of(
        m_options.begin(), m_options.end(), [](const QRadioButton* option) { return option->isChecked(); });
    return exporting::ChosenOptions { CurrentOptions(), dividerChosen };
}

// A workbook encrypted with a password of its own asks for it, once; Cancel leaves it
// unopened, reported as password-protected. The default password needs no asking.
std::unique_ptr<spreadsheet::Workbook> Form1::OpenWorkbook(
    spreadsheet::Application& application, const std::string& path)
{
    application.SetPasswordSource([this, path]() -> std::optional<std::string> {
        const auto answer = Prompts::Password(this,
            "The workbook " + QString::fromStdString(core::FileNameOfPath(path))
                + " is protected by a password.\nEnter its password to open it:");
        if (!answer)
            return std::nullopt;
        return answer->toStdString();
    });
    return application.Open(path);
}

void Form1::ShowNoFilesAdded()
{
    Prompts::Message(this, "No files added.");
}

// What a workbook shows other than stored, or leaves out, is told in a message; the run
// goes on once it is read.
void Form1::WorkbookWarnings(const std::vector<std::string>& warnings)
{
    QStringList lines;
    for (const std::string& warning : warnings)
        lines << QString::fromStdString(warning);
    Prompts::Message(this, lines.join("\n\n"));
}

void Form1::WorkbookStarting(size_t index)
{
    m_listView->SelectPosition(index);
    m_listView->scrollTo(m_listModel->index(static_cast<int>(index), 0));
}

void Form1::SetBusy(bool busy)
{
    BusyPointer::Set(busy);
}

void Form1::LayoutResults(options::SaveMode mode)
{
    EnsureResultsWindow().LayoutColumns(mode);
}

void Form1::ResultsAdded(const exporting::ResultList&, size_t)
{
    if (m_form2)
        m_form2->ResultsAdded();
}

void Form1::RunStopped(size_t firstLeftOut)
{
    std::vector<std::string> leftOut;
    for (size_t i = firstLeftOut; i < m_list.Count(); ++i)
        leftOut.push_back(m_list.Text(i));
    EnsureResultsWindow().RunStopped(std::move(leftOut));
}

void Form1::RunFinished(const exporting::ResultList&)
{
    Form2& results = EnsureResultsWindow();
    results.ResultsAdded();
    results.ShowFirstResult();
    results.show();
    results.raise();
    hide();
}

void Form1::keyPressEvent(QKeyEvent* event)
{
    // Enter anywhere in the window starts the export, as the default button promises; a
    // focused button takes Enter itself, and the list, boxes and text field pass it on.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (m_start->isEnabled())
            m_start->click();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void Form1::hideEvent(QHideEvent* event)
{
    // Hidden for the results window, or closing: the size and place are kept either way.
    if (!event->spontaneous())
        SaveGeometry(this, *m_context.store, options::kMainWindowKey);
    QWidget::hideEvent(event);
}

void Form1::closeEvent(QCloseEvent* event)
{
    SaveGeometry(this, *m_context.store, options::kMainWindowKey);
    event->accept();
    if (m_context.endProgram)
        m_context.endProgram();
}

} // namespace vellumcast::app
