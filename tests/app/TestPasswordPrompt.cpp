// Exporting a workbook encrypted with a password of its own asks for the password once per
// workbook; the default password asks nothing; Cancel and a wrong password are reported
// as failures of that workbook alone, without the password.

#include "AppTestSupport.h"

#include "app/Form1.h"
#include "app/Form2.h"
#include "support/EncryptedWorkbooks.h"
#include "support/XlsxWriter.h"

#include <QComboBox>
#include <memory>

using namespace vellumcast;
using namespace vellumcast::apptest;

namespace {

QByteArray Locked(const std::string& text, const std::string& password)
{
    testing::XlsxWriter writer;
    writer.AddSheet("Sheet1").InlineString(1, 1, text);
    return QByteArray::fromStdString(testing::EncryptPackage(writer.Build(), testing::PackageScheme::Agile, password));
}

} // namespace

class TestPasswordPrompt : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSession> m_session;

    // Exports the workbooks in one text each; returns the texts.
    QStringList Export(const QStringList& paths)
    {
        auto window = m_session->NewWindow();
        Find<QComboBox>(window.get(), "Combo1")->setCurrentIndex(1); // each sheet
        window->List().Clear();
        for (const auto& path : paths)
            window->List().Append(path.toStdString());
        window->PushButton2_Click();
        QStringList texts;
        if (app::Form2* results = window->ResultsWindow())
            for (const auto& entry : results->Results())
                texts << QString::fromStdString(entry.text.Copy()).trimmed();
        return texts;
    }

private slots:
    void init() { m_session = std::make_unique<TestSession>(); }
    void cleanup() { m_session.reset(); }

    void oneAskPerWorkbookAndOnlyWhenNeeded()
    {
        const QString work = m_session->env.Work();
        const QString plain = WriteFile(work, "default.xlsx", Locked("no asking", "VelvetSweatshop"));
        const QString first = WriteFile(work, "first.xlsx", Locked("first text", "one"));
        const QString second = WriteFile(work, "second.xlsx", Locked("second text", "two"));
        m_session->prompts.inputs = { "one", "two" };
        QCOMPARE(
            Export({ plain, first, second }), (QStringList { "\"no asking\"", "\"first text\"", "\"second text\"" }));
        const QStringList asked = m_session->prompts.Texts("input");
        QCOMPARE(asked.size(), 2);
        QVERIFY2(asked[0].contains("first.xlsx") && asked[0].contains("password"), qPrintable(asked[0]));
        QVERIFY2(asked[1].contains("second.xlsx"), qPrintable(asked[1]));
        QVERIFY(m_session->prompts.Texts("error").isEmpty());
    }

    void cancelOrAWrongPasswordFailsThatWorkbookAlone()
    {
        const QString work = m_session->env.Work();
        const QString cancelled = WriteFile(work, "cancelled.xlsx", Locked("never shown", "one"));
        const QString wrong = WriteFile(work, "wrong.xlsx", Locked("never shown", "one"));
        const QString open = WriteFile(work, "open.csv", "shown\n");
        m_session->prompts.inputs = { QString(), "guessed badly" }; // Cancel, then a wrong password
        QCOMPARE(Export({ cancelled, wrong, open }), QStringList { "\"shown\"" });
        QCOMPARE(m_session->prompts.Texts("input").size(), 2);
        const QStringList errors = m_session->prompts.Texts("error");
        QCOMPARE(errors.size(), 2);
        QVERIFY2(errors[0].contains("cancelled.xlsx") && errors[0].contains("the workbook is password-protected"),
            qPrintable(errors[0]));
        QVERIFY2(errors[1].contains("wrong.xlsx") && errors[1].contains("the password given does not open it"),
            qPrintable(errors[1]));
        QVERIFY2(!errors[1].contains("guessed badly"), qPrintable(errors[1]));
    }
};

QTEST_MAIN(TestPasswordPrompt)
#include "TestPasswordPrompt.moc"
