// Escape stops long work at its next safe point and keeps what is done: the export run
// between cells, a save between files and a folder search between folders.

#include "AppTestSupport.h"

#include "app/Form1.h"
#include "app/Form2.h"
#include "app/WorkbookListView.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <memory>

using namespace vellumcast;
using namespace vellumcast::apptest;

namespace {

// Escape as a person presses it, in the active window.
void PressEscape(QWidget* window)
{
    QApplication::setActiveWindow(window);
    QTest::keyClick(window, Qt::Key_Escape);
}

} // namespace

class TestStopping : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSession> m_s;

    std::unique_ptr<app::Form1> ShownWindow(app::AppContext context)
    {
        auto window = std::make_unique<app::Form1>(std::move(context));
        window->Form_Load();
        window->show();
        QApplication::setActiveWindow(window.get());
        if (!QTest::qWaitForWindowActive(window.get()))
            qWarning("the main window did not become active");
        return window;
    }

private slots:
    void init() { m_s = std::make_unique<TestSession>(); }
    void cleanup() { m_s.reset(); }

    // Stopped in the middle of the second of three workbooks: the first one's result is
    // listed, the second is left out, the third never starts, and the bar never reached
    // the end of the second one's share.
    void escapeStopsTheExportBetweenCells()
    {
        auto window = ShownWindow(ContextFor(m_s->store, m_s->env));
        Find<QComboBox>(window.get(), "Combo1")->setCurrentIndex(1); // a result per worksheet
        QByteArray rows;
        for (int i = 0; i < 200000; ++i)
            rows += "1,2,3\n";
        for (const QString& path : { WriteFile(m_s->env.Work(), "first.csv", "a\n"),
                 WriteFile(m_s->env.Work(), "big.csv", rows), WriteFile(m_s->env.Work(), "last.csv", "z\n") })
            window->List().Append(path.toStdString());
        auto* bar = Find<QProgressBar>(window.get(), "ProgressBar1");
        int highest = 0;
        bool pressed = false;
        connect(bar, &QProgressBar::valueChanged, this, [&](int value) {
            highest = std::max(highest, value);
            if (value >= 40 && !pressed) { // well into the second workbook's third
                pressed = true;
                PressEscape(window.get());
            }
        });
        window->PushButton2_Click();
        QVERIFY(pressed);
        QVERIFY2(highest < 60, qPrintable(QString::number(highest)));
        app::Form2* results = window->ResultsWindow();
        QVERIFY(results && results->isVisible());
        QCOMPARE(results->Results().size(), size_t { 1 });
        QCOMPARE(QString::fromStdString(results->Results()[0].text.Copy()), QString("\"a\"\r\n"));
        QVERIFY(m_s->prompts.Of("error").isEmpty());
        QVERIFY(window->CommandsEnabled());
        // The results window says what the stop left out.
        auto* notice = Find<QLabel>(results, "RunNotice");
        QVERIFY(!notice->isHidden());
        QCOMPARE(notice->text(), QString("The export was stopped: 2 workbooks were not exported: big.csv, last.csv."));
    }

    // Stopped after three of twenty files: those three stay, the count reads 3 of 20 and
    // the rest are told as not written.
    void escapeStopsTheSaveBetweenFiles()
    {
        struct StopAfterThree final : core::FileCalls {
            QWidget* window = nullptr;
            int writes = 0;
            ssize_t Write(int fd, const char* data, size_t size) override
            {
                if (++writes == 3)
                    PressEscape(window);
                return core::FileCalls::Write(fd, data, size);
            }
        } calls;
        app::AppContext context = ContextFor(m_s->store, m_s->env);
        context.files = &calls;
        auto window = ShownWindow(context);
        for (int i = 0; i < 20; ++i)
            window->List().Append(WriteFile(m_s->env.Work(), QString("in/w%1.csv").arg(i), "x\n").toStdString());
        window->PushButton2_Click();
        app::Form2* results = window->ResultsWindow();
        QCOMPARE(results->Results().size(), size_t { 20 });
        calls.window = results;
        const QString out = m_s->env.Work() + "/out";
        QDir().mkpath(out);
        Find<QLineEdit>(results, "Text1")->setText(out);
        QString countAtDone;
        m_s->prompts.onMessage = [&](const QString&) { countAtDone = Find<QLabel>(results, "SaveCount")->text(); };
        results->PushButton6_Click();
        QCOMPARE(QDir(out).entryList(QDir::Files).size(), 3);
        QCOMPARE(countAtDone, QString("3 of 20"));
        // One message ends the save, saying it stopped and naming what it did not write.
        const QStringList messages = m_s->prompts.Texts("message");
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].startsWith("Saving was stopped: 3 of 20 results were written.\r\n17 results were not "
                                        "written:\r\nw3.txt: saving stopped before it\r\n"),
            qPrintable(messages[0]));
        QVERIFY2(messages[0].endsWith("\r\nw19.txt: saving stopped before it"), qPrintable(messages[0]));
        QVERIFY(results->isVisible()); // Escape stopped the save; it did not go back
        QVERIFY(results->CommandsEnabled());
    }

    // Stopped once the first entry is found: the search ends before the next folder and
    // the entry found stays listed. The bar tells the search's findings meanwhile.
    void escapeStopsTheFolderSearchBetweenFolders()
    {
        const QString root = m_s->env.Work() + "/tree";
        const QString first = WriteFile(root, "a.xls", "x");
        for (int i = 0; i < 5; ++i)
            WriteFile(root + QString("/sub%1").arg(i), "b.xls", "x");
        auto window = ShownWindow(ContextFor(m_s->store, m_s->env));
        QString barText;
        connect(window->ListView()->model(), &QAbstractItemModel::rowsInserted, this, [&] {
            if (!barText.isEmpty())
                return;
            barText = Find<QProgressBar>(window.get(), "ProgressBar1")->text();
            PressEscape(window.get());
        });
        window->DropPaths({ root });
        QCOMPARE(window->List().Count(), size_t { 1 });
        QCOMPARE(QString::fromStdString(window->List().Text(0)), first);
        QVERIFY2(barText.startsWith("Searching: "), qPrintable(barText));
        QVERIFY(window->CommandsEnabled());

        // The next search is not stopped by the last one's Escape.
        window->DropPaths({ root + "/sub0" });
        QCOMPARE(window->List().Count(), size_t { 2 });
    }
};

QTEST_MAIN(TestStopping)
#include "TestStopping.moc"
