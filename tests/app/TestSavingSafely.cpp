// A save through the results window never destroys: it asks once before replacing files
// the folder holds, never writes a text cut short over a file, and its one last message
// names every result it did not write.

#include "AppTestSupport.h"

#include "app/Form1.h"
#include "app/Form2.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTreeView>
#include <memory>

using namespace vellumcast;
using namespace vellumcast::apptest;

class TestSavingSafely : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSession> m_s;

    // Exports the workbooks in the all-sheets mode and returns the results window.
    app::Form2* Export(app::Form1& window, const QStringList& workbooks)
    {
        Find<QComboBox>(&window, "Combo1")->setCurrentIndex(0);
        for (const QString& path : workbooks)
            window.List().Append(path.toStdString());
        window.PushButton2_Click();
        return window.ResultsWindow();
    }

    // A folder for the save holding the person's own files.
    QString FolderHolding(const QString& name, const QMap<QString, QByteArray>& files)
    {
        const QString folder = m_s->env.Work() + "/" + name;
        QDir().mkpath(folder);
        for (auto file = files.begin(); file != files.end(); ++file)
            WriteFile(folder, file.key(), file.value());
        return folder;
    }

private slots:
    void init() { m_s = std::make_unique<TestSession>(); }
    void cleanup() { m_s.reset(); }

    // The folder holds the person's own alpha.txt: the save asks once, naming it, and each
    // answer does what it says; Cancel writes nothing and says nothing more.
    void aSaveAsksOnceBeforeReplacingFilesOfTheFolder()
    {
        const QString kept = "Done.\r\n1 result was saved under a new name, because the name was used earlier in this "
                             "save, is a workbook of the list, is too long or is that of a file kept in the folder:"
                             "\r\nalpha (2).txt";
        const struct {
            QString answer;
            QStringList files;
            bool alphaKept;
            QStringList messages;
        } cases[] = {
            { "Cancel", { "alpha.txt" }, true, {} },
            { "Keep Both", { "alpha (2).txt", "alpha.txt", "beta.txt" }, true, { kept } },
            { "Replace", { "alpha.txt", "beta.txt" }, false, { "Done." } },
        };
        const QStringList workbooks
            = { WriteFile(m_s->env.Work(), "in/alpha.csv", "x\n"), WriteFile(m_s->env.Work(), "in/beta.csv", "y\n") };
        for (const auto& test : cases) {
            auto window = m_s->NewWindow();
            app::Form2* results = Export(*window, workbooks);
            const QString out = FolderHolding("out " + test.answer, { { "alpha.txt", "mine" } });
            Find<QLineEdit>(results, "Text1")->setText(out);
            m_s->prompts.shown.clear();
            m_s->prompts.choices = { test.answer };
            results->PushButton6_Click();
            QCOMPARE(m_s->prompts.Texts("choice"),
                QStringList { "1 file in the output folder would be replaced by this save:\r\nalpha.txt\r\n\r\n"
                              "Replace them, keep both (the new texts take free names such as \"alpha (2).txt\"), "
                              "or cancel the save?" });
            QCOMPARE(QDir(out).entryList(QDir::Files), test.files);
            const QByteArray alpha = ReadFile(out + "/alpha.txt");
            QCOMPARE(alpha == "mine", test.alphaKept);
            if (!test.alphaKept)
                QCOMPARE(alpha, QByteArray::fromStdString(results->Results()[0].text.Copy()));
            QCOMPARE(m_s->prompts.Texts("message"), test.messages);
        }
    }

    // A workbook that fails at its last line gives a text cut short: it is listed and
    // marked, the window says so, and a save leaves a good earlier export of it whole and
    // names it as not written, in the one message it ends with.
    void aTextCutShortIsMarkedAndNeverReplacesAFile()
    {
        auto window = m_s->NewWindow();
        const QString good = WriteFile(m_s->env.Work(), "in/good.csv", "a\n");
        const QString bad = WriteFile(m_s->env.Work(), "in/bad.csv", "a\n" + QByteArray(16384, ','));
        app::Form2* results = Export(*window, { good, bad });
        QCOMPARE(m_s->prompts.Of("error").size(), 1);
        auto* model = results->ListView()->model();
        QCOMPARE(model->rowCount(), 2);
        QCOMPARE(model->index(0, 0).data().toString(), QString("good.txt"));
        QCOMPARE(model->index(1, 0).data().toString(), QString("bad.txt (cut short)"));
        auto* notice = Find<QLabel>(results, "RunNotice");
        QVERIFY(!notice->isHidden());
        QVERIFY2(notice->text().startsWith("1 text is cut short"), qPrintable(notice->text()));

        const QString out = FolderHolding("out", { { "bad.txt", "the good export of yesterday" } });
        Find<QLineEdit>(results, "Text1")->setText(out);
        m_s->prompts.shown.clear();
        results->PushButton6_Click();
        QVERIFY(m_s->prompts.Of("choice").isEmpty()); // a text cut short replaces nothing: nothing to ask
        QCOMPARE(ReadFile(out + "/bad.txt"), QByteArray("the good export of yesterday"));
        QCOMPARE(QDir(out).entryList(QDir::Files), (QStringList { "bad.txt", "good.txt" }));
        QCOMPARE(m_s->prompts.Texts("message"),
            QStringList { "1 of 2 results were written.\r\n1 result was not written, 1 of them cut short by a failure "
                          "of their workbook:\r\nbad.txt: its text is cut short by a failure of its workbook" });
    }
};

QTEST_MAIN(TestSavingSafely)
#include "TestSavingSafely.moc"
