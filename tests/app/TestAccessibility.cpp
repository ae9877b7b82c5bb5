// What assistive technology reads from the windows: a name for every control, through
// Qt's accessibility interface, and a preview that the keyboard can move through.

#include "AppTestSupport.h"

#include "app/Form1.h"
#include "app/Form2.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSet>
#include <memory>

using namespace vellumcast;
using namespace vellumcast::apptest;

namespace {

QString AccessibleName(QWidget* widget)
{
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Name) : QString();
}

// Every control a person can reach from the keyboard, the lists and the bars: each has a
// name of its own that says more than its frame or "...".
void CheckNames(QWidget* window, const QStringList& frames)
{
    QSet<QString> names;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        const bool control = widget->focusPolicy() != Qt::NoFocus || widget->inherits("QProgressBar");
        if (!control || widget->inherits("QScrollBar") || widget->parentWidget()->inherits("QAbstractScrollArea")
            || widget->inherits("QHeaderView"))
            continue;
        const QString name = AccessibleName(widget);
        QVERIFY2(!name.trimmed().isEmpty(), qPrintable(widget->objectName()));
        QVERIFY2(name != "..." && !frames.contains(name), qPrintable(widget->objectName() + ": " + name));
        QVERIFY2(!names.contains(name), qPrintable(widget->objectName() + ": " + name));
        names.insert(name);
    }
}

} // namespace

class TestAccessibility : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSession> m_s;

private slots:
    void init() { m_s = std::make_unique<TestSession>(); }
    void cleanup() { m_s.reset(); }

    void everyControlHasAName()
    {
        auto window = m_s->NewWindow();
        window->show();
        CheckNames(
            window.get(), { "Divide Each Cell With X In Text File", "Save Options", "Additional Output Options" });
        QCOMPARE(AccessibleName(window->findChild<QWidget*>("ListView1")), QString("Workbooks to export"));
        QCOMPARE(AccessibleName(window->findChild<QWidget*>("Text1")), QString("Other divider"));

        window->List().Append(WriteFile(m_s->env.Work(), "a.csv", "1\n").toStdString());
        window->PushButton2_Click();
        app::Form2* results = window->ResultsWindow();
        CheckNames(results, { "Viewing Options", "Save Results To This Folder" });
        QCOMPARE(AccessibleName(results->findChild<QWidget*>("PushButton7")), QString("Choose the output folder"));
        QVERIFY(!QAccessible::queryAccessibleInterface(results->findChild<QWidget*>("Text2"))
                     ->text(QAccessible::Description)
                     .isEmpty());
    }

    // The windows, whose captions are both "Vellumcast", read as windows of their own
    // names; the save mode reads by its name, with the chosen mode as its value. (The
    // whole tree as a screen reader sees it is checked through AT-SPI:
    // scripts/check-accessibility.sh.)
    void eachWindowAndTheSaveModeAreToldApart()
    {
        auto window = m_s->NewWindow();
        window->List().Append(WriteFile(m_s->env.Work(), "a.csv", "1\n").toStdString());
        window->PushButton2_Click();
        app::Form2* results = window->ResultsWindow();
        QCOMPARE(results->windowTitle(), window->windowTitle());
        QStringList names;
        for (QWidget* top : { static_cast<QWidget*>(window.get()), static_cast<QWidget*>(results) }) {
            QAccessibleInterface* face = QAccessible::queryAccessibleInterface(top);
            QCOMPARE(face->role(), QAccessible::Window);
            names << face->text(QAccessible::Name);
        }
        QCOMPARE(names, (QStringList { "Vellumcast: workbooks and export options", "Vellumcast: export results" }));
        QVERIFY(AccessibleName(results->findChild<QWidget*>("Text2")) != "Preview"); // the list's first column

        auto* mode = window->findChild<QComboBox*>("Combo1");
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(mode);
        QCOMPARE(face->role(), QAccessible::ComboBox);
        QCOMPARE(face->text(QAccessible::Name), QString("Save mode"));
        mode->setCurrentIndex(2);
        QCOMPARE(face->text(QAccessible::Value), QString("Save each row to a text file"));
        QCOMPARE(face->childCount(), 1); // the list of modes
    }

    // The preview takes the focus and Ctrl+End / Ctrl+Home move to its end and start.
    void thePreviewMovesFromTheKeyboard()
    {
        auto window = m_s->NewWindow();
        QByteArray rows;
        for (int i = 0; i < 500; ++i)
            rows += QByteArray::number(i) + "\n";
        window->List().Append(WriteFile(m_s->env.Work(), "long.csv", rows).toStdString());
        window->PushButton2_Click();
        app::Form2* results = window->ResultsWindow();
        QApplication::setActiveWindow(results);
        auto* preview = Find<QPlainTextEdit>(results, "Text2");
        preview->setFocus();
        QVERIFY(preview->hasFocus());
        QVERIFY(preview->textInteractionFlags() & Qt::TextSelectableByKeyboard); // the caret shows where it is
        QTest::keyClick(preview, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(preview->textCursor().position(), preview->document()->characterCount() - 1);
        QCOMPARE(preview->verticalScrollBar()->value(), preview->verticalScrollBar()->maximum());
        QTest::keyClick(preview, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(preview->textCursor().position(), 0);
        QCOMPARE(preview->verticalScrollBar()->value(), 0);
        QVERIFY(preview->isReadOnly());
    }
};

QTEST_MAIN(TestAccessibility)
#include "TestAccessibility.moc"
