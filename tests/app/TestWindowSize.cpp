// The windows at any size: the lists' columns follow the window's width, each window's
// size and place are kept between starts, and the windows fit the screen at any scale
// factor. ctest runs these on an 800 x 600 screen at the scale factors 1, 1.5 and 2.

#include "AppTestSupport.h"

#include "app/Form1.h"
#include "app/Form2.h"
#include "app/WorkbookListView.h"

#include <QApplication>
#include <QHeaderView>
#include <QScreen>
#include <QSet>
#include <QTreeView>
#include <memory>

using namespace vellumcast;
using namespace vellumcast::apptest;

namespace {

int ColumnsWidth(QTreeView* view)
{
    int width = 0;
    for (int i = 0; i < view->header()->count(); ++i)
        width += view->header()->sectionSize(i);
    return width;
}

QRect Available()
{
    return QGuiApplication::primaryScreen()->availableGeometry();
}

// A geometry as Qt saves it, in base 64, for a window at place.
QString SavedGeometry(const QRect& place)
{
    QWidget window;
    window.setGeometry(place);
    return QString::fromLatin1(window.saveGeometry().toBase64());
}

// Where the window lies when it is not inside the screen's available area; "" when it is.
QString Outside(QWidget* window)
{
    const QRect frame = window->frameGeometry();
    if (Available().contains(frame))
        return {};
    return QString("%1 at %2,%3 %4x%5")
        .arg(window->objectName())
        .arg(frame.x())
        .arg(frame.y())
        .arg(frame.width())
        .arg(frame.height());
}

// Made as small as the screen, the window takes that size, and Tab brings every control
// it reaches into view, so nothing is cut off for good.
void CheckEveryControlIsReachable(QWidget* window)
{
    window->resize(Available().size());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QApplication::setActiveWindow(window);
    QVERIFY(window->width() <= Available().width() && window->height() <= Available().height());
    QSet<QWidget*> seen;
    for (int i = 0; i < 40; ++i) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : window, Qt::Key_Tab);
        QWidget* focus = QApplication::focusWidget();
        QVERIFY(focus);
        if (seen.contains(focus))
            continue;
        seen.insert(focus);
        const QRect shown(focus->mapTo(window, QPoint(0, 0)), focus->size());
        // A list or a text box larger than the window shows a part of itself; anything else whole.
        const QRect visible = shown.intersected(window->rect());
        QVERIFY2(visible.width() >= std::min(shown.width(), 16) && visible.height() >= std::min(shown.height(), 8),
            qPrintable(focus->objectName()));
    }
    QVERIFY(seen.size() >= 5);
}

} // namespace

class TestWindowSize : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSession> m_s;

private slots:
    void init() { m_s = std::make_unique<TestSession>(); }
    void cleanup() { m_s.reset(); }

    // Enlarged, both lists' columns fill the new width, so long paths are no longer cut;
    // made small again, the columns keep their design widths and the list scrolls.
    void theColumnsFollowTheWindowsWidth()
    {
        auto window = m_s->NewWindow();
        window->List().Append(WriteFile(m_s->env.Work(), "a.csv", "1,2\n").toStdString());
        window->show();
        const int designWidth = window->ListView()->header()->sectionSize(0);
        window->resize(1400, 900);
        QApplication::processEvents();
        QTreeView* list = window->ListView();
        QVERIFY(list->viewport()->width() > designWidth + 300);
        QCOMPARE(ColumnsWidth(list), list->viewport()->width());
        window->resize(200, 200);
        QApplication::processEvents();
        QCOMPARE(list->header()->sectionSize(0), designWidth);

        window->PushButton2_Click();
        app::Form2* results = window->ResultsWindow();
        QTreeView* resultsList = results->ListView();
        const int resultsDesign = ColumnsWidth(resultsList);
        results->resize(1400, 900);
        QApplication::processEvents();
        QVERIFY(resultsList->viewport()->width() > resultsDesign + 300);
        QVERIFY(
            std::abs(ColumnsWidth(resultsList) - resultsList->viewport()->width()) <= resultsList->header()->count());
    }

    // Each window's size and place are written when it closes or hides and taken at the
    // next start; a stored value that is no geometry leaves the window at its first-start place.
    void theWindowsSizeAndPlaceAreKept()
    {
        // Qt keeps room above a restored window for its title bar.
        const QRect mainPlace = Available().adjusted(10, 40, -40, -30);
        const QRect resultsPlace = Available().adjusted(30, 45, -20, -50);
        {
            auto window = m_s->NewWindow();
            window->show();
            window->PushButton2_Click(); // no entries: no results window
            window->List().Append(WriteFile(m_s->env.Work(), "a.csv", "1\n").toStdString());
            window->setGeometry(mainPlace);
            QApplication::processEvents();
            window->PushButton2_Click();
            app::Form2* results = window->ResultsWindow();
            results->setGeometry(resultsPlace);
            QApplication::processEvents();
            results->close();
        }
        auto again = m_s->NewWindow();
        again->show();
        QCOMPARE(again->geometry(), mainPlace);
        again->List().Append(WriteFile(m_s->env.Work(), "b.csv", "1\n").toStdString());
        again->PushButton2_Click();
        QCOMPARE(again->ResultsWindow()->geometry(), resultsPlace);

        m_s->store.Put("Main Window", "not a geometry");
        auto third = m_s->NewWindow();
        QVERIFY(third->geometry() != mainPlace);
        QVERIFY2(Outside(third.get()).isEmpty(), qPrintable(Outside(third.get())));
    }

    // A geometry saved on a larger screen, or written by hand, is brought inside the
    // screen: no window out of reach, and the size kept again is the one that fits.
    void aStoredGeometryLargerThanTheScreenIsFittedToIt_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::newRow("huge, far off") << SavedGeometry(QRect(-9000, -7000, 60000, 40000));
        QTest::newRow("huge, at the origin") << SavedGeometry(QRect(0, 0, 60000, 40000));
        QTest::newRow("right size, past the corner") << SavedGeometry(QRect(5000, 4000, 300, 200));
        QTest::newRow("taller than the screen") << SavedGeometry(QRect(0, 0, 300, 3000));
        // 1200 x 900 at 100,100 on a screen 3840 wide, which Qt does not restore on a far
        // narrower one: the window opens at its first-start place, and nothing is told.
        QTest::newRow("from a far wider screen")
            << "AdnQywADAAAAAABkAAAAZAAABRMAAAPnAAAAZAAAAGQAAAUTAAAD5wAAAAAAAAAADwAAAABkAAAAZAAABRMAAAPn";
    }
    void aStoredGeometryLargerThanTheScreenIsFittedToIt()
    {
        QFETCH(QString, stored);
        m_s->store.Put("Main Window", stored.toStdString());
        m_s->store.Put("Results Window", stored.toStdString());
        auto window = m_s->NewWindow();
        QVERIFY2(Outside(window.get()).isEmpty(), qPrintable(Outside(window.get())));
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QVERIFY2(Outside(window.get()).isEmpty(), qPrintable(Outside(window.get())));
        window->List().Append(WriteFile(m_s->env.Work(), "a.csv", "1\n").toStdString());
        window->PushButton2_Click();
        app::Form2* results = window->ResultsWindow();
        QVERIFY2(Outside(results).isEmpty(), qPrintable(Outside(results)));
        results->close();
        const QString kept = QString::fromStdString(m_s->store.Stored("Results Window"));
        QWidget probe;
        QVERIFY(probe.restoreGeometry(QByteArray::fromBase64(kept.toLatin1())));
        QVERIFY(probe.width() <= Available().width() && probe.height() <= Available().height());
        QVERIFY(m_s->prompts.shown.isEmpty()); // a geometry, however large, is no bad setting
    }

    // At the first start both windows open inside the screen, however large the scale
    // factor makes their controls.
    void theWindowsOpenInsideTheScreen()
    {
        auto window = m_s->NewWindow();
        QVERIFY2(Outside(window.get()).isEmpty(), qPrintable(Outside(window.get())));
        window->List().Append(WriteFile(m_s->env.Work(), "a.csv", "1\n").toStdString());
        window->PushButton2_Click();
        QVERIFY2(Outside(window->ResultsWindow()).isEmpty(), qPrintable(Outside(window->ResultsWindow())));
    }

    // Made as small as the screen, each window scrolls what does not fit: Tab reaches every
    // control and brings it into view.
    void theWindowsShrinkToTheScreenAndScrollToEveryControl()
    {
        auto window = m_s->NewWindow();
        CheckEveryControlIsReachable(window.get());
        window->List().Append(WriteFile(m_s->env.Work(), "a.csv", "1\n").toStdString());
        window->PushButton2_Click();
        CheckEveryControlIsReachable(window->ResultsWindow());
    }
};

QTEST_MAIN(TestWindowSize)
#include "TestWindowSize.moc"
