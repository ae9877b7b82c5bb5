// The windows at any size: the lists' columns follow the window's width, and each
// window's size and place are kept between starts.

#include "AppTestSupport.h"

#include "app/Form1.h"
#include "app/Form2.h"
#include "app/WorkbookListView.h"

#include <QApplication>
#include <QHeaderView>
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
        const QRect mainPlace(40, 50, 900, 640);
        const QRect resultsPlace(70, 80, 1000, 700);
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
        QVERIFY(third->size().width() < mainPlace.width() || third->size().height() < mainPlace.height());
    }
};

QTEST_MAIN(TestWindowSize)
#include "TestWindowSize.moc"
