#pragma once
// The main window: the workbook list and its commands, the export options and the start
// of the export run. Each handler is a numbered sequence of steps on core functions.

#include "app/AppPorts.h"
#include "app/Prompts.h"
#include "export/ExportRun.h"
#include "options/ExportOptions.h"
#include "worklist/WorkbookList.h"

#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QShortcut;

namespace vellumcast::app {

class ColumnsFollowWidth;
class Form2;
class WorkbookListModel;
class WorkbookListView;

class Form1 final : public QWidget, private exporting::ExportRunHost {
    Q_OBJECT
public:
    explicit Form1(AppContext context, QWidget* parent = nullptr);
    ~Form1() override;

    // The start-up steps: skin, placement, pointers, caption, the list's column, the save
    // modes, the stored options and the engine check. Runs once, before the window shows.
    void Form_Load();

    worklist::WorkbookList& List() { return m_list; }
    WorkbookListView* ListView() const { return m_listView; }
    // The results window, once the first run has loaded it.
    Form2* ResultsWindow() const { return m_form2.get(); }
    // The options record as a run would read it now (divider none when no option is set).
    options::ExportOptions CurrentOptions() const;

    // The commands, as the buttons and the list call them.
    void PushButton1_Click();
    void PushButton2_Click();
    void PushButton3_Click();
    void PushButton4_Click();
    void PushButton5_Click();
    void PushButton6_Click();
    void PushButton7_Click();
    void RemoveSelectedEntry();
    void DropPaths(const QStringList& paths);

    // Disables the commands that would disturb a run, scan or save; the window still repaints.
    void SetCommandsEnabled(bool enabled);
    bool CommandsEnabled() const { return m_commandsEnabled; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void BuildControls();
    void ConnectHandlers();
    // Runs a folder search (the import or a drop): the bar tells how many entries it has
    // found so far, and Escape stops it between folders.
    void RunSearch(const std::function<void()>& search);
    void OptionClicked();
    // True when the run may go on: a divider stands between cells, or the person agrees
    // to cells that run into each other.
    bool DividerAccepted();
    Form2& EnsureResultsWindow();

    // ExportRunHost
    size_t WorkbookCount() override;
    std::string WorkbookPath(size_t index) override;
    std::optional<exporting::ChosenOptions> Options() override;
    std::unique_ptr<spreadsheet::Workbook> OpenWorkbook(
        spreadsheet::Application& application, const std::string& path) override;
    void ShowNoFilesAdded() override;
    void WorkbookStarting(size_t index) override;
    void SetBusy(bool busy) override;
    void LayoutResults(options::SaveMode mode) override;
    void ResultsAdded(const exporting::ResultList& results, size_t firstNew) override;
    void WorkbookWarnings(const std::vector<std::string>& warnings) override;
    void RunStopped(size_t firstLeftOut) override;
    void RunFinished(const exporting::ResultList& results) override;

    AppContext m_context;
    worklist::WorkbookList m_list;
    ErrorBoxReporter m_reporter;
    ThrottledPump m_pump;
    std::unique_ptr<Form2> m_form2;
    bool m_form2Loaded = false;
    bool m_commandsEnabled = true;

    WorkbookListModel* m_listModel = nullptr;
    WorkbookListView* m_listView = nullptr;
    ColumnsFollowWidth* m_columns = nullptr;
    QPushButton* m_addFiles = nullptr; // PushButton1
    QPushButton* m_start = nullptr; // PushButton2
    QPushButton* m_moveUp = nullptr; // PushButton3
    QPushButton* m_moveDown = nullptr; // PushButton4
    QPushButton* m_addFolder = nullptr; // PushButton5
    QPushButton* m_samples = nullptr; // PushButton6
    QPushButton* m_clear = nullptr; // PushButton7
    QGroupBox* m_dividerFrame = nullptr; // Frame1
    QGroupBox* m_outputFrame = nullptr; // Frame2
    QGroupBox* m_saveFrame = nullptr; // Frame3
    std::array<QRadioButton*, 5> m_options {};
    QButtonGroup* m_optionGroup = nullptr;
    QLineEdit* m_otherDivider = nullptr; // Text1
    QCheckBox* m_blankCells = nullptr; // Check3
    QCheckBox* m_quotes = nullptr; // Check4
    QComboBox* m_saveMode = nullptr; // Combo1
    QProgressBar* m_progressBar = nullptr;
    QShortcut* m_stop = nullptr; // Escape while a run or search goes on
    std::unique_ptr<BarProgress> m_progress;
};

} // namespace vellumcast::app
