// What the export run takes from the main window's controls and gives back to them: the
// divider when no divider option is selected or "Other:" is typed into, the question
// before cells run into each other, the progress bar across workbooks and the entry
// being exported.

#include "AppTestSupport.h"

#include "app/Form1.h"
#include "app/Form2.h"
#include "app/WorkbookListView.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <memory>

using namespace vellumcast;
using namespace vellumcast::apptest;

class TestRunControls : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSession> m_s;

    std::unique_ptr<app::Form1> NewWindow()
    {
        auto window = m_s->NewWindow();
        window->show();
        return window;
    }

    // Runs the list in the each-sheet mode without quotes; returns every result text. A
    // results window left open is closed with "< Back" first, as a person would.
    QStringList Run(app::Form1& window, const QStringList& paths)
    {
        if (window.ResultsWindow() && window.ResultsWindow()->isVisible())
            QTest::mouseClick(Find<QPushButton>(window.ResultsWindow(), "PushButton8"), Qt::LeftButton);
        Find<QComboBox>(&window, "Combo1")->setCurrentIndex(1);
        Find<QCheckBox>(&window, "Check4")->setChecked(false);
        window.List().Clear();
        for (const auto& path : paths)
            window.List().Append(path.toStdString());
        window.PushButton2_Click();
        QStringList texts;
        if (app::Form2* results = window.ResultsWindow())
            for (const auto& entry : results->Results())
                texts << QString::fromStdString(entry.text.Copy());
        return texts;
    }

private slots:
    void init() { m_s = std::make_unique<TestSession>(); }
    void cleanup() { m_s.reset(); }

    // Settings that select no divider option leave every option clear; the run then joins
    // cells with the divider it last had, which before any is the empty text.
    void noSelectedDividerJoinsCellsWithNothing()
    {
        for (const char* key : { "Option1", "Option2", "Option3", "Option4", "Option5" })
            m_s->store.Put(key, "False");
        auto window = NewWindow();
        for (const char* name : { "Option1", "Option2", "Option3", "Option4", "Option5" })
            QVERIFY2(!Find<QRadioButton>(window.get(), name)->isChecked(), name);
        const QString book = WriteFile(m_s->env.Work(), "book.csv", "a,b\n");
        m_s->prompts.answers = { true }; // export anyway
        QCOMPARE(Run(*window, { book }), QStringList { "ab\r\n" });
        QCOMPARE(m_s->prompts.Of("question").size(), 1);
        QVERIFY(m_s->prompts.Texts("question").first().startsWith("No divider is chosen"));

        Find<QLineEdit>(window.get(), "Text1")->setText("; ");
        Find<QRadioButton>(window.get(), "Option5")->setChecked(true);
        QCOMPARE(Run(*window, { book }), QStringList { "a; b\r\n" });
        QVERIFY(m_s->prompts.Of("error").isEmpty());
        QCOMPARE(m_s->prompts.Of("question").size(), 1); // a divider stands between the cells: nothing to ask
    }

    // Typing in the box beside "Other:" chooses "Other:", and the run divides with what was
    // typed; a text put in the box without typing (the restore, a program) chooses nothing.
    void typingInTheOtherBoxChoosesOther()
    {
        m_s->store.Put("Text1", "|");
        auto window = NewWindow();
        auto* other = Find<QLineEdit>(window.get(), "Text1");
        QVERIFY(Find<QRadioButton>(window.get(), "Option1")->isChecked());
        other->setText("#");
        QVERIFY(Find<QRadioButton>(window.get(), "Option1")->isChecked());

        other->clear();
        QApplication::setActiveWindow(window.get());
        QTest::keyClicks(other, ";");
        QVERIFY(Find<QRadioButton>(window.get(), "Option5")->isChecked());
        QVERIFY(!Find<QRadioButton>(window.get(), "Option1")->isChecked());
        for (const auto& [key, value] :
            { std::pair { "Option1", "False" }, std::pair { "Option5", "True" }, std::pair { "Text1", ";" } })
            QCOMPARE(m_s->store.Stored(key), std::string(value));
        const QString book = WriteFile(m_s->env.Work(), "book.csv", "a,b\n");
        QCOMPARE(Run(*window, { book }), QStringList { "a;b\r\n" });
        QVERIFY(m_s->prompts.shown.isEmpty());
    }

    // "Other:" with an empty box would run the cells of each line into each other: the run
    // asks first. No leaves everything as it was, with the box ready for a divider; Yes
    // exports as chosen.
    void anEmptyOtherBoxIsAskedAboutBeforeTheRun()
    {
        m_s->store.Put("Option1", "False");
        m_s->store.Put("Option5", "True");
        auto window = NewWindow();
        QApplication::setActiveWindow(window.get());
        const QString book = WriteFile(m_s->env.Work(), "book.csv", "Sheet1,r1,10.5\n");
        QCOMPARE(Run(*window, { book }), QStringList {});
        QCOMPARE(m_s->prompts.Texts("question"),
            QStringList { "The \"Other:\" box is empty, so nothing will stand between neighbouring cells and the "
                          "texts cannot be split into cells again.\r\rExport anyway?" });
        QVERIFY(window->ResultsWindow() == nullptr);
        QVERIFY(window->isVisible());
        QCOMPARE(QApplication::focusWidget(), Find<QWidget>(window.get(), "Text1"));

        m_s->prompts.answers = { true };
        QCOMPARE(Run(*window, { book }), QStringList { "Sheet1r110.5\r\n" });
        QCOMPARE(m_s->prompts.Of("question").size(), 2);
        // An empty list asks nothing: the run only says there is nothing to export.
        window->ResultsWindow()->PushButton8_Click();
        window->List().Clear();
        window->PushButton2_Click();
        QCOMPARE(m_s->prompts.Of("question").size(), 2);
        QCOMPARE(m_s->prompts.Texts("message"), QStringList { "No files added." });
    }

    // The bar covers the whole run, a quarter per workbook of four here: each moves it
    // through its share as its rows are exported, one that cannot be opened included,
    // and the run sets it back to 0 at its end. The entry being exported is the current one
    // in the list.
    void theProgressBarCoversTheWholeRunAndTheListShowsTheCurrentEntry()
    {
        auto window = NewWindow();
        auto* bar = Find<QProgressBar>(window.get(), "ProgressBar1");
        QList<int> values;
        connect(bar, &QProgressBar::valueChanged, this, [&](int value) { values << value; });
        QList<int> current;
        const QStringList books
            = { WriteFile(m_s->env.Work(), "one.csv", "1\n2\n"), WriteFile(m_s->env.Work(), "two.csv", "3\n4\n"),
                  m_s->env.Work() + "/missing.xlsx", WriteFile(m_s->env.Work(), "three.csv", "5\n6\n") };
        window->List().Clear();
        connect(window->ListView()->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [&](const QModelIndex& index) { current << index.row(); });
        QCOMPARE(Run(*window, books).size(), 3);
        QCOMPARE(values, (QList<int> { 16, 25, 41, 50, 75, 91, 100, 0 }));
        QCOMPARE(current, (QList<int> { 0, 1, 2, 3 }));
        QCOMPARE(m_s->prompts.Of("error").size(), 1);
    }
};

QTEST_MAIN(TestRunControls)
#include "TestRunControls.moc"
