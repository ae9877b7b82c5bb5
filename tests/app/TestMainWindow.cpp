// The main window: its controls, start-up, the stored options, the list commands, the
// folder import, drops, drag-to-reorder and the samples.

#include "AppTestSupport.h"

#include "app/Form1.h"
#include "app/Form2.h"
#include "app/WorkbookListView.h"
#include "core/ErrorReport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeView>
#include <QUrl>
#include <memory>

using namespace vellumcast;
using namespace vellumcast::apptest;

namespace {

const QString kFormLoadError = "\r\nin Murrelet2/19/2015.Form1.Form_Load at line %1\r\rPlease email screenshot of this "
                               "message to "
    + Support();

QStringList Entries(app::Form1& window)
{
    QStringList entries;
    for (const auto& path : window.List().Paths())
        entries << QString::fromStdString(path);
    return entries;
}

QRect RowRect(app::WorkbookListView* view, int row)
{
    return view->visualRect(view->model()->index(row, 0));
}

void SendMouse(
    QWidget* target, QEvent::Type type, QPoint local, QPoint global, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(local), QPointF(global), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSession> m_s;

    std::unique_ptr<app::Form1> NewWindow() { return m_s->NewWindow(); }

private slots:
    void init() { m_s = std::make_unique<TestSession>(); }
    void cleanup() { m_s.reset(); }

    void controlsHaveTheirNamesCaptionsAndOrder()
    {
        auto window = NewWindow();
        QCOMPARE(window->windowTitle(), QString("Vellumcast"));
        QVERIFY(!window->windowIcon().isNull());
        const std::pair<const char*, const char*> buttons[] = { { "PushButton1", "Add Excel Files" },
            { "PushButton2", "Start Exporting To Text Files" }, { "PushButton3", "Move Up" },
            { "PushButton4", "Move Down" }, { "PushButton5", "Add All Excel Files In Folder" },
            { "PushButton6", "Load Sample/Example Files" }, { "PushButton7", "Clear List" } };
        for (const auto& [name, caption] : buttons)
            QCOMPARE(Find<QPushButton>(window.get(), name)->text(), QString(caption));
        const std::pair<const char*, const char*> options[] = { { "Option1", "Tab" }, { "Option2", "Comma" },
            { "Option3", "Comma-Space" }, { "Option4", "Space" }, { "Option5", "Other:" } };
        auto* frame1 = Find<QGroupBox>(window.get(), "Frame1");
        QCOMPARE(frame1->title(), QString("Divide Each Cell With X In Text File"));
        int lastX = -1;
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        for (const auto& [name, caption] : options) {
            auto* option = Find<QRadioButton>(window.get(), name);
            QCOMPARE(option->text(), QString(caption));
            QCOMPARE(option->parentWidget(), frame1);
            QVERIFY(option->x() > lastX); // one row, left to right
            lastX = option->x();
        }
        QVERIFY(Find<QLineEdit>(window.get(), "Text1")->x() > lastX);
        QCOMPARE(Find<QGroupBox>(window.get(), "Frame2")->title(), QString("Additional Output Options"));
        QCOMPARE(Find<QGroupBox>(window.get(), "Frame3")->title(), QString("Save Options"));
        QCOMPARE(Find<QCheckBox>(window.get(), "Check3")->text(), QString("Include blank cell(s)"));
        QCOMPARE(Find<QCheckBox>(window.get(), "Check4")->text(), QString("Include quotes around each cell(s)"));
        QVERIFY(Find<QCheckBox>(window.get(), "Check3")->x() < Find<QCheckBox>(window.get(), "Check4")->x());
        // Top to bottom: save options, divider, additional options, start button, progress bar.
        const int y3 = Find<QGroupBox>(window.get(), "Frame3")->y();
        const int y1 = frame1->y();
        const int y2 = Find<QGroupBox>(window.get(), "Frame2")->y();
        const int yStart = Find<QPushButton>(window.get(), "PushButton2")->y();
        const int yBar = Find<QProgressBar>(window.get(), "ProgressBar1")->y();
        QVERIFY(y3 < y1 && y1 < y2 && y2 < yStart && yStart < yBar);
        auto* list = Find<app::WorkbookListView>(window.get(), "ListView1");
        QCOMPARE(list->model()->headerData(0, Qt::Horizontal).toString(), QString("Excel File(s)"));
        // 6000 twips, or the list's width where that is more.
        QCOMPARE(list->header()->sectionSize(0), std::max(400, list->viewport()->width()));
        QCOMPARE(list->toolTip(),
            QString("Drag and drop files here. Double-click item to remove it. Move bar to right "
                    "and out of window to reveal full names."));
        auto* combo = Find<QComboBox>(window.get(), "Combo1");
        QCOMPARE(combo->count(), 4);
        QCOMPARE(combo->itemText(0), QString("Save all sheets to a text file"));
        QCOMPARE(combo->itemText(1), QString("Save each sheet to a text file"));
        QCOMPARE(combo->itemText(2), QString("Save each row to a text file"));
        QCOMPARE(combo->itemText(3), QString("Save each column to a text file"));
        QCOMPARE(Find<QProgressBar>(window.get(), "ProgressBar1")->maximum(), 100);
    }

    void firstStartWithAnEmptyStore()
    {
        auto window = NewWindow();
        QCOMPARE(Find<QComboBox>(window.get(), "Combo1")->currentText(), QString("Save all sheets to a text file"));
        QVERIFY(Find<QRadioButton>(window.get(), "Option1")->isChecked());
        for (const char* name : { "Option2", "Option3", "Option4", "Option5" })
            QVERIFY(!Find<QRadioButton>(window.get(), name)->isChecked());
        QCOMPARE(Find<QCheckBox>(window.get(), "Check3")->checkState(), Qt::Checked);
        QCOMPARE(Find<QCheckBox>(window.get(), "Check4")->checkState(), Qt::Checked);
        QCOMPARE(Find<QLineEdit>(window.get(), "Text1")->text(), QString());
        const auto options = ShownOptions(window.get());
        QCOMPARE(options.divider, std::string("\t"));
        QVERIFY(options.includeBlankCells && options.quoteCells);
        QVERIFY(m_s->prompts.shown.isEmpty());
        QVERIFY(m_s->store.writes.empty()); // nothing is written at start-up
        QCOMPARE(window->List().Count(), size_t(0));
    }

    void eachOptionIsWrittenAndRestored()
    {
        {
            auto window = NewWindow();
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window.get()));
            QTest::mouseClick(Find<QRadioButton>(window.get(), "Option4"), Qt::LeftButton);
            const std::vector<std::pair<std::string, std::string>> options { { "Option1", "False" },
                { "Option2", "False" }, { "Option3", "False" }, { "Option4", "True" }, { "Option5", "False" } };
            QVERIFY(m_s->store.writes == options); // the five keys together, in order
            m_s->store.writes.clear();
            QTest::mouseClick(Find<QCheckBox>(window.get(), "Check3"), Qt::LeftButton);
            QCOMPARE(m_s->store.Stored("Check3"), std::string("0"));
            QTest::keyClicks(Find<QLineEdit>(window.get(), "Text1"), "ab");
            // Typing chooses "Other:", which writes the five keys once; the text is written
            // at every keystroke.
            const std::vector<std::pair<std::string, std::string>> typed { { "Check3", "0" }, { "Option1", "False" },
                { "Option2", "False" }, { "Option3", "False" }, { "Option4", "False" }, { "Option5", "True" },
                { "Text1", "a" }, { "Text1", "ab" } };
            QVERIFY(m_s->store.writes == typed);
            Find<QComboBox>(window.get(), "Combo1")->setCurrentIndex(2);
            QCOMPARE(m_s->store.Stored("Directions"), std::string("Save each row to a text file"));
            QCOMPARE(ShownOptions(window.get()).divider, std::string("ab"));
            QVERIFY(!ShownOptions(window.get()).includeBlankCells);
        }
        // The store is a real INI file under XDG_CONFIG_HOME.
        QVERIFY(QFile::exists(qEnvironmentVariable("XDG_CONFIG_HOME") + "/Tamsworth.ini"));
        auto window = NewWindow();
        QCOMPARE(Find<QComboBox>(window.get(), "Combo1")->currentText(), QString("Save each row to a text file"));
        QVERIFY(Find<QRadioButton>(window.get(), "Option5")->isChecked());
        QVERIFY(!Find<QRadioButton>(window.get(), "Option4")->isChecked());
        QCOMPARE(Find<QCheckBox>(window.get(), "Check3")->checkState(), Qt::Unchecked);
        QCOMPARE(Find<QCheckBox>(window.get(), "Check4")->checkState(), Qt::Checked);
        QCOMPARE(Find<QLineEdit>(window.get(), "Text1")->text(), QString("ab"));
        QVERIFY(m_s->prompts.shown.isEmpty());
    }

    void otherDividerIsUsedWholeOnlyWhileSelected()
    {
        m_s->store.Put("Option5", "True");
        m_s->store.Put("Text1", " | ");
        auto window = NewWindow();
        QCOMPARE(ShownOptions(window.get()).divider, std::string(" | "));
        m_s->store.Put("Option5", "False");
        m_s->store.Put("Option2", "1");
        auto second = NewWindow();
        QCOMPARE(ShownOptions(second.get()).divider, std::string(","));
    }

    // Values that cannot be used are told in one box naming the settings file, each control
    // takes its first-start value, and the store is mended, so the next start is quiet.
    void badStoredValuesAreToldInOneBoxAndMended()
    {
        m_s->store.Put("Option1", "maybe");
        m_s->store.Put("Check4", "x");
        m_s->store.Put("Check3", "0");
        m_s->store.Put("Text1", "kept");
        auto window = NewWindow();
        const QString file = qEnvironmentVariable("XDG_CONFIG_HOME") + "/Tamsworth.ini";
        QCOMPARE(m_s->prompts.Texts("message"),
            QStringList { "Some settings in " + file
                + " cannot be used, so they are back at their first-start values, which are saved in their place:\n"
                  "\n\"Option1\" reads \"maybe\", which is neither True, False nor a number"
                  "\n\"Check4\" reads \"x\", which is not 0, 1 or 2" });
        QVERIFY(m_s->prompts.Of("error").isEmpty());
        // The failing controls take their first-start state; the others keep their values.
        QVERIFY(Find<QRadioButton>(window.get(), "Option1")->isChecked());
        QCOMPARE(Find<QCheckBox>(window.get(), "Check4")->checkState(), Qt::Checked);
        QCOMPARE(Find<QCheckBox>(window.get(), "Check3")->checkState(), Qt::Unchecked);
        QCOMPARE(Find<QLineEdit>(window.get(), "Text1")->text(), QString("kept"));
        QCOMPARE(m_s->store.Stored("Option1"), std::string("True"));
        QCOMPARE(m_s->store.Stored("Check4"), std::string("1"));
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));

        m_s->prompts.shown.clear();
        auto next = NewWindow();
        QVERIFY(m_s->prompts.shown.isEmpty());
    }

    // A settings file holding every kind of value the program cannot use, as a hand, another
    // program or a broken disk leaves it: QSettings' own types, bytes that are not UTF-8,
    // numbers out of range, an unknown save mode, geometries that are none. One box names
    // them all; the windows, the results window included, work with first-start values.
    void aSettingsFileWithEveryKindOfBadValue()
    {
        const QString file = app::QtSettingsStore::FilePath("Tamsworth");
        WriteFile(QFileInfo(file).path(), QFileInfo(file).fileName(),
            "[Vellumcast]\n"
            "Directions=Save nothing\n"
            "Option1=maybe\n"
            "Option2=@Invalid()\n"
            "Option3=@ByteArray(True)\n"
            "Check3=99999\n"
            "Check4=7\n"
            "Text1=\xff\xfe\n"
            "Output%20Folder=@Rect(0 0 10 10)\n"
            "Word%20Wrap=maybe\n"
            "Main%20Window=not a geometry\n"
            "Results%20Window=AAAAAAAA\n"
            "Import%20Folder=@Point(1 2)\n");
        auto window = NewWindow();
        QCOMPARE(m_s->prompts.shown.size(), 1);
        const QString box = m_s->prompts.Texts("message").value(0);
        QVERIFY2(box.startsWith("Some settings in " + file + " cannot be used"), qPrintable(box));
        for (const char* line : { "\"Directions\" reads \"Save nothing\", which is none of the save modes",
                 "\"Option2\" holds @Invalid(), which is no text", "\"Check3\" reads \"99999\", which is not 0, 1 or 2",
                 "\"Text1\" holds bytes that are not UTF-8 text",
                 "\"Word Wrap\" reads \"maybe\", which is not 0, 1 or 2",
                 "\"Main Window\" reads \"not a geometry\", which is no window size and place",
                 "\"Results Window\" reads \"AAAAAAAA\", which is no window size and place" })
            QVERIFY2(box.split('\n').contains(line), line);
        for (const char* key : { "Option1", "Option3", "Check4", "Output Folder", "Import Folder" })
            QVERIFY2(box.contains(QString("\n\"%1\" ").arg(key)), key);

        // The first-start values, in the window and in the store.
        const auto shown = ShownOptions(window.get());
        QCOMPARE(shown.divider, std::string("\t"));
        QVERIFY(shown.includeBlankCells && shown.quoteCells);
        QCOMPARE(Find<QComboBox>(window.get(), "Combo1")->currentText(), QString("Save all sheets to a text file"));
        QCOMPARE(Find<QLineEdit>(window.get(), "Text1")->text(), QString());
        const std::pair<const char*, std::string> mended[] = { { "Directions", "Save all sheets to a text file" },
            { "Option1", "True" }, { "Option2", "False" }, { "Option3", "False" }, { "Check3", "1" }, { "Check4", "1" },
            { "Text1", "" }, { "Output Folder", m_s->env.Home().toStdString() + "/" }, { "Word Wrap", "1" },
            { "Main Window", "" }, { "Results Window", "" }, { "Import Folder", "" } };
        for (const auto& [key, value] : mended)
            QCOMPARE(m_s->store.Stored(key), value);

        // The results window opens whole: columns, entries and the preview.
        window->List().Append(WriteFile(m_s->env.Work(), "a.csv", "1,2\n3,4\n").toStdString());
        window->PushButton2_Click();
        QVERIFY(m_s->prompts.Of("error").isEmpty());
        app::Form2* results = window->ResultsWindow();
        QVERIFY(results && results->isVisible());
        QCOMPARE(results->ListView()->model()->columnCount(), 1);
        QCOMPARE(results->ListView()->model()->rowCount(), 1);
        QVERIFY(Find<QCheckBox>(results, "Check1")->isChecked());

        // The next start has nothing to say.
        m_s->prompts.shown.clear();
        auto next = NewWindow();
        QVERIFY(m_s->prompts.shown.isEmpty());
    }

    void storedValuesReadAsTheRulesSay()
    {
        m_s->store.Put("Option1", "0");
        m_s->store.Put("Option3", "-1");
        m_s->store.Put("Check3", "2"); // greyed: not chosen
        m_s->store.Put("Directions", "Save each column to a text file");
        auto window = NewWindow();
        QVERIFY(Find<QRadioButton>(window.get(), "Option3")->isChecked());
        QCOMPARE(Find<QCheckBox>(window.get(), "Check3")->checkState(), Qt::PartiallyChecked);
        QVERIFY(!ShownOptions(window.get()).includeBlankCells);
        QCOMPARE(ShownOptions(window.get()).divider, std::string(", "));
        QCOMPARE(Find<QComboBox>(window.get(), "Combo1")->currentText(), QString("Save each column to a text file"));
        QVERIFY(m_s->prompts.shown.isEmpty());
    }

    void noOptionSelectedAndAnUnknownSaveMode()
    {
        for (const char* key : { "Option1", "Option2", "Option3", "Option4", "Option5" })
            m_s->store.Put(key, "False");
        m_s->store.Put("Directions", "Save nothing");
        auto window = NewWindow();
        for (const char* name : { "Option1", "Option2", "Option3", "Option4", "Option5" })
            QVERIFY(!Find<QRadioButton>(window.get(), name)->isChecked());
        QVERIFY(m_s->prompts.Of("error").isEmpty());
        QCOMPARE(m_s->prompts.Texts("message").size(), 1);
        QVERIFY(m_s->prompts.Texts("message").first().endsWith(
            "\n\"Directions\" reads \"Save nothing\", which is none of the save modes"));
        // A blank save mode would leave Start without a mode to run: the first-start one shows.
        QCOMPARE(Find<QComboBox>(window.get(), "Combo1")->currentText(), QString("Save all sheets to a text file"));
        QCOMPARE(m_s->store.Stored("Directions"), std::string("Save all sheets to a text file")); // mended
    }

    void aMissingEngineIsToldOnceAfterTheRestore()
    {
        m_s->store.Put("Option1", "bad");
        auto context = ContextFor(m_s->store, m_s->env);
        context.createEngine = [] { throw std::runtime_error("no engine"); };
        app::Form1 window(context);
        window.Form_Load();
        QCOMPARE(m_s->prompts.shown.size(), 2);
        QCOMPARE(m_s->prompts.shown[0].kind, QString("message"));
        QVERIFY(m_s->prompts.shown[0].text.contains("\"Option1\" reads \"bad\""));
        QCOMPARE(m_s->prompts.shown[1].kind, QString("message"));
        QCOMPARE(m_s->prompts.shown[1].title, QString("Vellumcast"));
        QCOMPARE(m_s->prompts.shown[1].text,
            QString("Excel is not installed on this computer. You need to have it "
                    "installed to use this software without error."));
    }

    void addExcelFilesAppendsTheChosenPathsInOrder()
    {
        auto window = NewWindow();
        m_s->prompts.files.push_back({ "/data/b.xls", "/data/a.xlsx", "/data/c.ods" });
        window->PushButton1_Click();
        QCOMPARE(
            m_s->prompts.Texts("files"), QStringList { "Add File(s) - Hold Ctrl or Shift to select multiple files" });
        QCOMPARE(m_s->prompts.lastFilters.first(), QString("Excel Files (*.xl*)"));
        QCOMPARE(m_s->prompts.lastFilters.last(), QString("All Files (*)"));
        m_s->prompts.files.push_back({ "/data/b.xls" }); // already listed: a second identical entry
        window->PushButton1_Click();
        window->PushButton1_Click(); // cancelled
        QCOMPARE(Entries(*window), (QStringList { "/data/b.xls", "/data/a.xlsx", "/data/c.ods", "/data/b.xls" }));
    }

    void moveUpMoveDownAndRemovalFollowTheSelection()
    {
        auto window = NewWindow();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        for (const char* path : { "/1", "/2", "/3" })
            window->List().Append(path);
        auto* view = window->ListView();
        window->PushButton3_Click(); // nothing selected: nothing moves
        QCOMPARE(Entries(*window), (QStringList { "/1", "/2", "/3" }));
        window->PushButton4_Click(); // nothing selected: the first entry is selected
        QCOMPARE(view->SelectedPosition(), std::optional<size_t>(0));
        QCOMPARE(Entries(*window), (QStringList { "/1", "/2", "/3" }));
        window->PushButton4_Click();
        window->PushButton4_Click();
        QCOMPARE(Entries(*window), (QStringList { "/2", "/3", "/1" }));
        QCOMPARE(view->SelectedPosition(), std::optional<size_t>(2));
        window->PushButton4_Click(); // the last entry stays
        QCOMPARE(Entries(*window), (QStringList { "/2", "/3", "/1" }));
        window->PushButton3_Click();
        QCOMPARE(Entries(*window), (QStringList { "/2", "/1", "/3" }));
        QCOMPARE(view->SelectedPosition(), std::optional<size_t>(1));
        QVERIFY(view->hasFocus());

        QTest::keyClick(view, Qt::Key_Delete, Qt::ShiftModifier); // Shift+Delete removes like Delete
        QCOMPARE(Entries(*window), (QStringList { "/2", "/3" }));
        view->clearSelection();
        QTest::keyClick(view, Qt::Key_Delete);
        QCOMPARE(Entries(*window), (QStringList { "/2", "/3" }));
        view->SelectPosition(1);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, QPoint(5, view->viewport()->height() - 3));
        QCOMPARE(Entries(*window), (QStringList { "/2" }));
        QTest::mouseClick(Find<QPushButton>(window.get(), "PushButton7"), Qt::LeftButton);
        QVERIFY(window->List().Empty());
        window->PushButton7_Click(); // clearing an empty list reports nothing
        QVERIFY(m_s->prompts.shown.isEmpty());
    }

    void folderImportAsksForTheExtensionAndTheFolder()
    {
        const QString top = m_s->env.Work();
        WriteFile(top, "a.xls", "x");
        WriteFile(top, "S1/b.xlsx", "x");
        WriteFile(top, "S1/T/c.xls", "x");
        WriteFile(top, "S2/d.xls", "x");
        WriteFile(top, "S2/~$d.xls", "x");
        WriteFile(top, "S2/notes.txt", "x");
        auto window = NewWindow();
        m_s->prompts.inputs.push_back(QString("xls"));
        m_s->prompts.folders.push_back(top);
        window->PushButton5_Click();
        QCOMPARE(m_s->prompts.Texts("input"),
            QStringList { "Enter file extension to load:\r\r(* for all files, txt for all txt files, doc for all "
                          "doc files, etc.)" });
        QCOMPARE(m_s->prompts.lastInputDefault, QString("xls"));
        QCOMPARE(m_s->prompts.Texts("folder"), QStringList { "Please select folder:" });
        QCOMPARE(Entries(*window),
            (QStringList { top + "/a.xls", top + "/S1/b.xlsx", top + "/S2/d.xls", top + "/S1/T/c.xls" }));
        QVERIFY(!app::BusyPointer::Shown());
        QVERIFY(window->CommandsEnabled());

        // Cancelled or emptied answers and a cancelled picker add nothing.
        window->List().Clear();
        m_s->prompts.inputs.push_back(QString());
        window->PushButton5_Click();
        m_s->prompts.inputs.push_back(QString(""));
        window->PushButton5_Click();
        m_s->prompts.inputs.push_back(QString("txt"));
        window->PushButton5_Click(); // no folder queued: the picker is cancelled
        QVERIFY(window->List().Empty());
        QCOMPARE(m_s->prompts.Texts("folder").size(), 2);
        QVERIFY(!app::BusyPointer::Shown());
        QVERIFY(m_s->prompts.Of("error").isEmpty());
    }

    void folderImportReportsCarryTheScanLines()
    {
        auto window = NewWindow();
        m_s->prompts.inputs.push_back(QString("xls"));
        m_s->prompts.folders.push_back(m_s->env.Work() + "/missing");
        window->PushButton5_Click();
        const QStringList errors = m_s->prompts.Texts("error");
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].contains("in Murrelet2/19/2015.Form1.PushButton5_Click at line 118\r\rPlease email "
                                    "screenshot of this message to "
                     + Support() + "name: " + m_s->env.Work() + "/missing/\r\nf(x): "),
            qPrintable(errors[0]));
        QVERIFY(errors[0].endsWith("f(x): "));
    }

    void droppedFilesAndFoldersJoinTheList()
    {
        const QString top = m_s->env.Work();
        WriteFile(top, "A/one.xls", "x");
        WriteFile(top, "A/sub/two.csv", "x");
        WriteFile(top, "B/three.ods", "x");
        WriteFile(top, "~direct.xls", "x");
        auto window = NewWindow();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QWidget* target = window->ListView()->viewport();
        const auto drop = [&](QMimeData* data) {
            QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(target, &enter);
            const bool accepted = enter.isAccepted();
            QDropEvent dropped(QPointF(10, 10), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(target, &dropped);
            return accepted;
        };
        QMimeData folders;
        folders.setData("text/uri-list",
            (QUrl::fromLocalFile(top + "/A").toString() + "\r\n" + QUrl::fromLocalFile(top + "/B").toString() + "\r\n")
                .toUtf8());
        QVERIFY(drop(&folders));
        QCOMPARE(Entries(*window), (QStringList { top + "/A/one.xls", top + "/A/sub/two.csv", top + "/B/three.ods" }));

        window->List().Clear();
        QMimeData mixed;
        mixed.setUrls({ QUrl::fromLocalFile(top + "/B"), QUrl::fromLocalFile(top + "/~direct.xls") });
        QVERIFY(drop(&mixed));
        QCOMPARE(Entries(*window), (QStringList { top + "/B/three.ods", top + "/~direct.xls" }));

        window->List().Clear();
        QMimeData text;
        text.setText(top + "/B/three.ods");
        QVERIFY(!drop(&text)); // text drags are refused
        QVERIFY(window->List().Empty());
        QVERIFY(m_s->prompts.shown.isEmpty());
    }

    void draggingAnEntryReordersTheList_data()
    {
        QTest::addColumn<QList<int>>("walk");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("selected");
        QTest::newRow("slow walk down from entry 2")
            << QList<int> { 1, 2, 2, 3, 4 } << QStringList { "/1", "/3", "/4", "/5", "/2" } << 4;
        QTest::newRow("jump from entry 1 to entry 4")
            << QList<int> { 0, 3 } << QStringList { "/4", "/2", "/3", "/1", "/5" } << 3;
        QTest::newRow("back up again") << QList<int> { 3, 2, 1 } << QStringList { "/1", "/4", "/2", "/3", "/5" } << 1;
    }

    void draggingAnEntryReordersTheList()
    {
        QFETCH(QList<int>, walk);
        QFETCH(QStringList, expected);
        QFETCH(int, selected);
        auto window = NewWindow();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        for (const char* path : { "/1", "/2", "/3", "/4", "/5" })
            window->List().Append(path);
        auto* view = window->ListView();
        QWidget* port = view->viewport();
        const QPoint start = RowRect(view, walk.first()).center();
        const QPoint screenMiddle(100, 330); // between the scroll thresholds
        SendMouse(port, QEvent::MouseButtonPress, start, screenMiddle, Qt::LeftButton, Qt::LeftButton);
        QCOMPARE(port->cursor().shape(), Qt::ClosedHandCursor); // the drag pointer without drag.ico
        for (int row : walk)
            SendMouse(port, QEvent::MouseMove, RowRect(view, row).center(), screenMiddle, Qt::NoButton, Qt::LeftButton);
        SendMouse(port, QEvent::MouseButtonRelease, RowRect(view, walk.last()).center(), screenMiddle, Qt::LeftButton,
            Qt::NoButton);
        QCOMPARE(Entries(*window), expected);
        QCOMPARE(view->SelectedPosition(), std::optional<size_t>(static_cast<size_t>(selected)));
        QCOMPARE(port->cursor().shape(), Qt::ArrowCursor);
    }

    void movesWithoutAPressedButtonChangeNothing()
    {
        auto window = NewWindow();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        for (const char* path : { "/1", "/2", "/same", "/same" })
            window->List().Append(path);
        auto* view = window->ListView();
        QWidget* port = view->viewport();
        const QPoint screen(100, 330);
        SendMouse(port, QEvent::MouseButtonPress, RowRect(view, 0).center(), screen, Qt::LeftButton, Qt::LeftButton);
        SendMouse(port, QEvent::MouseButtonRelease, RowRect(view, 0).center(), screen, Qt::LeftButton, Qt::NoButton);
        SendMouse(port, QEvent::MouseMove, RowRect(view, 3).center(), screen, Qt::NoButton, Qt::NoButton);
        QCOMPARE(Entries(*window), (QStringList { "/1", "/2", "/same", "/same" }));
        // Equal texts never trade places.
        SendMouse(port, QEvent::MouseButtonPress, RowRect(view, 2).center(), screen, Qt::LeftButton, Qt::LeftButton);
        SendMouse(port, QEvent::MouseMove, RowRect(view, 3).center(), screen, Qt::NoButton, Qt::LeftButton);
        SendMouse(port, QEvent::MouseButtonRelease, RowRect(view, 3).center(), screen, Qt::LeftButton, Qt::NoButton);
        QCOMPARE(Entries(*window), (QStringList { "/1", "/2", "/same", "/same" }));
    }

    void loadSampleFilesListsTheSamplesAndOffersTheFolder()
    {
        const QString samples = m_s->env.ProgramFolder() + "/Samples";
        WriteFile(samples, "b.xlsx", "x");
        WriteFile(samples, "a.csv", "x");
        WriteFile(samples, ".hidden.ods", "x");
        WriteFile(samples, "sub/ignored.xls", "x");
        auto window = NewWindow();
        m_s->prompts.answers.push_back(true);
        window->PushButton6_Click();
        QCOMPARE(Entries(*window), (QStringList { samples + "/.hidden.ods", samples + "/a.csv", samples + "/b.xlsx" }));
        QCOMPARE(m_s->prompts.Texts("question"),
            QStringList { "Would you like this software to open the folder where these sample files are stored "
                          "(so that you can view them before working with them)?" });
        QCOMPARE(m_s->prompts.Of("question").first().title, QString("Vellumcast"));
        QCOMPARE(m_s->prompts.opened, QStringList { samples + "/" });
        m_s->prompts.answers.push_back(false);
        window->PushButton6_Click(); // twice: the samples are added twice, the folder stays closed
        QCOMPARE(window->List().Count(), size_t(6));
        QCOMPARE(m_s->prompts.opened.size(), 1);
    }

    void aMissingSamplesFolderAddsNothingButStillAsks()
    {
        auto window = NewWindow();
        window->PushButton6_Click();
        QVERIFY(window->List().Empty());
        QCOMPARE(m_s->prompts.Texts("question").size(), 1);
        QVERIFY(m_s->prompts.Of("error").isEmpty());
    }

    void theSkinAndThePointerFilesAreUsedWhenPresent()
    {
        {
            auto plain = NewWindow(); // neither file: no skin, the platform's pointing hand
            QCOMPARE(plain->styleSheet(), QString());
            QCOMPARE(Find<QPushButton>(plain.get(), "PushButton2")->cursor().shape(), Qt::PointingHandCursor);
        }
        const QByteArray skin = "QPushButton { font-weight: bold; }";
        WriteFile(m_s->env.ProgramFolder(), "x/o.cjs", skin);
        WriteFile(m_s->env.ProgramFolder(), "HAND-M.CUR", "not a cursor at all");
        auto window = NewWindow();
        QCOMPARE(window->styleSheet(), QString::fromUtf8(skin));
        // A damaged pointer file is one report at its step; the window opens all the same.
        const QStringList errors = m_s->prompts.Texts("error");
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].endsWith(kFormLoadError.arg(106)), qPrintable(errors[0]));
        QCOMPARE(Find<QComboBox>(window.get(), "Combo1")->currentText(), QString("Save all sheets to a text file"));
    }

    void aStoreThatCannotBeWrittenNeverStopsTheProgram()
    {
        // The configuration folder is a plain file: nothing can be kept, and nothing fails.
        const QString blocked = WriteFile(m_s->env.Work(), "not-a-folder", "x");
        qputenv("XDG_CONFIG_HOME", blocked.toUtf8());
        auto window = NewWindow();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QTest::mouseClick(Find<QRadioButton>(window.get(), "Option3"), Qt::LeftButton);
        QTest::keyClicks(Find<QLineEdit>(window.get(), "Text1"), "x"); // chooses "Other:"
        QCOMPARE(ShownOptions(window.get()).divider, std::string("x"));
        QCOMPARE(m_s->store.Stored("Option3"), std::string("<missing>"));
        QVERIFY(m_s->prompts.shown.isEmpty());
    }

    void theErrorBoxShowsEveryBreakAsALineBreak()
    {
        // The report's text breaks lines with CR LF and with lone CRs; the box shows both.
        QCOMPARE(app::DisplayText("D\r\nin X at line 7\r\rPlease"), QString("D\nin X at line 7\n\nPlease"));
        QCOMPARE(app::DisplayText("a\nb"), QString("a\nb"));
        core::ErrorReport report;
        report.description = "Boom";
        report.location = core::LocationText("Form2", "PushButton8_Click");
        report.step = 108;
        app::ErrorBoxReporter reporter(nullptr);
        reporter.Report(report);
        QCOMPARE(m_s->prompts.Of("error").size(), 1);
        QCOMPARE(m_s->prompts.Of("error").first().title, QString("Application Error"));
        QCOMPARE(m_s->prompts.Of("error").first().text,
            QString("Boom\r\nin Murrelet2/19/2015.Form2.PushButton8_Click at line 108\r\rPlease email screenshot "
                    "of this message to "
                + Support()));
    }

    void closingTheWindowEndsTheProgram()
    {
        bool ended = false;
        app::Form1 window(ContextFor(m_s->store, m_s->env, &ended));
        window.Form_Load();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const size_t writes = m_s->store.writes.size();
        window.close();
        QVERIFY(ended);
        // Only the window's size and place are written at shutdown.
        QVERIFY(m_s->store.writes.size() > writes);
        for (size_t i = writes; i < m_s->store.writes.size(); ++i)
            QCOMPARE(m_s->store.writes[i].first, std::string("Main Window"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "TestMainWindow.moc"
