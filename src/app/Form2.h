#pragma once
// The results window: the result list of the last run, the preview of the selected
// entry, word wrap, the output folder and the save command, and "< Back".

#include "app/AppPorts.h"
#include "app/Prompts.h"
#include "export/ResultList.h"
#include "options/ExportOptions.h"

#include <QWidget>
#include <string>
#include <vector>

class QCheckBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeView;

namespace vellumcast::app {

// The preview holds at most this much of a text, so choosing a huge entry never stalls
// the window; saving always writes the whole text.
inline constexpr size_t kPreviewLimit = 1 << 20;
// The text as the preview shows it: whole, or its first lines up to kPreviewLimit and a
// line saying how much is shown; a text cut short ends in a line saying so.
QString PreviewText(std::string_view text, bool cutShort = false);

class ColumnsFollowWidth;
class ResultsModel;

class Form2 final : public QWidget {
    Q_OBJECT
public:
    // mainWindow is shown again by "< Back".
    Form2(AppContext context, QWidget& mainWindow);
    ~Form2() override;

    // The load steps: colours, placement, caption, pointer, the stored output folder
    // (written back) and word wrap. Throws at the first failing step; the caller reports it.
    void Form_Load();

    exporting::ResultList& Results() { return m_results; }
    QTreeView* ListView() const { return m_listView; }

    // The export run's calls: columns for a save mode, an emptied list, new rows, and the
    // first result's text in the preview (nothing when the run had no result).
    void LayoutColumns(options::SaveMode mode);
    void RunStarting();
    void ResultsAdded();
    void ShowFirstResult();
    // The workbooks a stop left out of the run (paths), told above the list until the next run.
    void RunStopped(std::vector<std::string> leftOut);

    void PushButton6_Click(); // save
    void PushButton7_Click(); // the output folder picker
    void PushButton8_Click(); // "< Back"
    void Check1_Click();

    void SetCommandsEnabled(bool enabled);
    bool CommandsEnabled() const { return m_commandsEnabled; }

    // The count of results written and the bar, shown while a save goes on.
    void ShowSaveProgress(size_t done);
    void HideSaveProgress();

protected:
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void BuildControls();
    void ShowPreview(const QModelIndex& current);
    void ApplyWordWrap();
    // Above the list: what the run left out, and the texts cut short; hidden when neither.
    void ShowRunNotice();

    AppContext m_context;
    QWidget& m_main;
    exporting::ResultList m_results;
    ErrorBoxReporter m_reporter;
    ThrottledPump m_pump;
    bool m_commandsEnabled = true;

    std::vector<std::string> m_leftOut; // the workbooks the last run's stop left out

    QLabel* m_runNotice = nullptr;
    ResultsModel* m_model = nullptr;
    QTreeView* m_listView = nullptr; // ListView1
    ColumnsFollowWidth* m_columns = nullptr;
    QPlainTextEdit* m_preview = nullptr; // Text2
    QGroupBox* m_viewingFrame = nullptr; // Frame2
    QCheckBox* m_wordWrap = nullptr; // Check1
    QGroupBox* m_folderFrame = nullptr; // Frame1
    QLineEdit* m_outputFolder = nullptr; // Text1
    QPushButton* m_pickFolder = nullptr; // PushButton7
    QPushButton* m_save = nullptr; // PushButton6
    QPushButton* m_back = nullptr; // PushButton8
    QLabel* m_saveCount = nullptr;
    QProgressBar* m_saveProgress = nullptr;
};

} // namespace vellumcast::app
