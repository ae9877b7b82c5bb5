// The windows as a person meets them on a Linux desktop: the default output folder and
// where the pickers open, the list's display, drops, the keyboard, the save's progress,
// the icon, and windows and models that stay sound when destroyed or emptied.

#include "AppTestSupport.h"

#include "app/Form1.h"
#include "app/Form2.h"
#include "app/ListModels.h"
#include "app/LookAndFeel.h"
#include "app/WorkbookListView.h"
#include "worklist/WorkbookList.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <cerrno>
#include <memory>
#include <sys/stat.h>

using namespace vellumcast;
using namespace vellumcast::apptest;

namespace {

QStringList Entries(app::Form1& window)
{
    QStringList entries;
    for (const auto& path : window.List().Paths())
        entries << QString::fromStdString(path);
    return entries;
}

// Offers data to the list as a file manager's drag would; true when the list accepts it.
bool DragEnterAccepted(QWidget* target, const QMimeData& data)
{
    QDragEnterEvent event(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    event.setAccepted(false);
    QApplication::sendEvent(target, &event);
    return event.isAccepted();
}

// A whole drag: it enters, then it is dropped.
void Drop(QWidget* target, const QMimeData& data)
{
    DragEnterAccepted(target, data);
    QDropEvent event(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

QMimeData* UrlData(const QList<QUrl>& urls)
{
    auto* data = new QMimeData;
    data->setUrls(urls);
    return data;
}

} // namespace

class TestDesktopUse : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSession> m_s;

    std::unique_ptr<app::Form1> NewWindow() { return m_s->NewWindow(); }

    std::unique_ptr<app::Form1> ShownWindow()
    {
        auto window = NewWindow();
        window->show();
        QApplication::setActiveWindow(window.get());
        if (!QTest::qWaitForWindowActive(window.get()))
            qWarning("the main window did not become active");
        return window;
    }

    // A run over count one-line workbooks, which leaves the results window shown.
    app::Form2* RunOver(app::Form1& window, int count)
    {
        window.List().Clear();
        for (int i = 0; i < count; ++i)
            window.List().Append(WriteFile(m_s->env.Work(), QString("in/w%1.csv").arg(i), "x\n").toStdString());
        window.PushButton2_Click();
        return window.ResultsWindow();
    }

private slots:
    void init() { m_s = std::make_unique<TestSession>(); }
    void cleanup() { m_s.reset(); }

    void theOutputFolderIsTheDesktopWhenThereIsOneElseHome()
    {
        {
            auto window = NewWindow();
            auto* results = RunOver(*window, 1);
            QCOMPARE(Find<QLineEdit>(results, "Text1")->text(), m_s->env.Home() + "/");
        }
        QDir(m_s->env.Home()).mkdir("Desktop");
        QFile::remove(app::QtSettingsStore::FilePath("Tamsworth")); // a first start again
        auto window = NewWindow();
        auto* results = RunOver(*window, 1);
        QCOMPARE(Find<QLineEdit>(results, "Text1")->text(), m_s->env.Home() + "/Desktop/");
        // A fresh account saves where it was told to, without "Output folder does not exist."
        results->PushButton6_Click();
        QCOMPARE(m_s->prompts.Texts("message"), QStringList { "Done." });
        QVERIFY(QFile::exists(m_s->env.Home() + "/Desktop/w0.txt"));
    }

    // A settings file far larger than the program writes is not its own: it is neither
    // read for every value nor written to, while one just under the limit is both.
    void aSettingsFileOverAMegabyteIsLeftAlone()
    {
        const QString path = app::QtSettingsStore::FilePath("Oversized");
        QDir().mkpath(QFileInfo(path).path());
        const auto write = [&](qsizetype padding) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write("[Options]\nDivider=comma\nPadding=" + QByteArray(padding, 'x') + "\n");
        };
        const auto contents = [&] {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        app::QtSettingsStore store;
        write(qsizetype { 1 } << 20);
        const QByteArray before = contents();
        QCOMPARE(store.Get("Oversized", "Options", "Divider", "tab"), std::string("tab"));
        store.Save("Oversized", "Options", "Divider", "space");
        QCOMPARE(contents(), before);

        write((qsizetype { 1 } << 20) - 64);
        QCOMPARE(store.Get("Oversized", "Options", "Divider", "tab"), std::string("comma"));
        store.Save("Oversized", "Options", "Divider", "space");
        QCOMPARE(store.Get("Oversized", "Options", "Divider", "tab"), std::string("space"));
    }

    // A settings file that is no regular file (a FIFO would block its reader for ever) is
    // passed over: the window opens with the first-start values, says so once, and
    // changing an option writes nothing.
    void aSettingsFileThatIsNoRegularFileIsPassedOver()
    {
        const QString path = app::QtSettingsStore::FilePath(options::kSettingsApplication);
        QDir().mkpath(QFileInfo(path).path());
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        auto window = NewWindow();
        QCOMPARE(m_s->prompts.Texts("message"),
            QStringList { "The settings file " + path
                + " is not a regular file, so it is passed over: the settings start from their first-start values "
                  "and changes are not kept." });
        QCOMPARE(Find<QComboBox>(window.get(), "Combo1")->currentText(), QString("Save all sheets to a text file"));
        Find<QComboBox>(window.get(), "Combo1")->setCurrentIndex(2);
        QVERIFY(QFileInfo(path).isFile() == false && QFileInfo::exists(path));
    }

    void thePickersOpenAtTheFolderTheyChange()
    {
        auto window = NewWindow();
        const QString first = m_s->env.Work() + "/first";
        QDir().mkpath(first);
        for (int i = 0; i < 2; ++i) {
            m_s->prompts.inputs.push_back("xls");
            m_s->prompts.folders.push_back(first);
            window->PushButton5_Click();
        }
        QCOMPARE(m_s->prompts.folderStarts, (QStringList { m_s->env.Home(), first }));

        auto* results = RunOver(*window, 1);
        m_s->prompts.folderStarts.clear();
        Find<QLineEdit>(results, "Text1")->setText(m_s->env.Work() + "/in/");
        results->PushButton7_Click();
        Find<QLineEdit>(results, "Text1")->setText(m_s->env.Work() + "/gone/");
        results->PushButton7_Click();
        QCOMPARE(m_s->prompts.folderStarts, (QStringList { m_s->env.Work() + "/in/", m_s->env.Home() }));
    }

    // The open-file dialog and the import's folder picker open where they were left, also
    // at the next start; a folder since removed gives way to the home folder.
    void theDialogsRememberTheirFolderBetweenStarts()
    {
        const QString books = m_s->env.Work() + "/books";
        const QString tree = m_s->env.Work() + "/tree";
        QDir().mkpath(tree);
        {
            auto window = NewWindow();
            m_s->prompts.files.push_back({ WriteFile(books, "a.csv", "1\n"), WriteFile(books, "b.csv", "2\n") });
            window->PushButton1_Click();
            m_s->prompts.inputs.push_back("xls");
            m_s->prompts.folders.push_back(tree);
            window->PushButton5_Click();
        }
        auto window = NewWindow();
        window->PushButton1_Click(); // cancelled: the folder stays
        window->PushButton1_Click();
        m_s->prompts.inputs.push_back("xls");
        window->PushButton5_Click();
        QCOMPARE(m_s->prompts.fileStarts, (QStringList { m_s->env.Home(), books, books }));
        QCOMPARE(m_s->prompts.folderStarts, (QStringList { m_s->env.Home(), tree }));

        QDir(books).removeRecursively();
        QDir(tree).removeRecursively();
        auto third = NewWindow();
        third->PushButton1_Click();
        m_s->prompts.inputs.push_back("xls");
        third->PushButton5_Click();
        QCOMPARE(m_s->prompts.fileStarts.last(), m_s->env.Home());
        QCOMPARE(m_s->prompts.folderStarts.last(), m_s->env.Home());
    }

    void longPathsKeepTheirFileNameInView()
    {
        auto window = NewWindow();
        auto* view = window->ListView();
        QCOMPARE(view->textElideMode(), Qt::ElideMiddle);
        const QString path = "/home/someone/" + QString("very-long-folder-name/").repeated(12) + "budget-2015.xlsx";
        window->List().Append(path.toStdString());
        // An entry shows its whole path as its tip; the list's own tip is kept for the rest of it.
        QCOMPARE(view->model()->index(0, 0).data(Qt::ToolTipRole).toString(), path);
        QVERIFY(view->toolTip().startsWith("Drag and drop files here."));
    }

    void onlyLocalFilesAndFoldersCanBeDropped()
    {
        auto window = ShownWindow();
        QWidget* view = window->ListView()->viewport(); // where a drag arrives
        const QString file = WriteFile(m_s->env.Work(), "a.xlsx", "x");
        const std::unique_ptr<QMimeData> web(UrlData({ QUrl("https://example.org/book.xlsx") }));
        const std::unique_ptr<QMimeData> remote(UrlData({ QUrl("sftp://host/data/book.xlsx") }));
        const std::unique_ptr<QMimeData> text(new QMimeData);
        text->setText("a.xlsx");
        const std::unique_ptr<QMimeData> local(UrlData({ QUrl::fromLocalFile(file) }));
        const std::unique_ptr<QMimeData> mixed(UrlData({ QUrl("sftp://host/x.xls"), QUrl::fromLocalFile(file) }));
        QVERIFY(!DragEnterAccepted(view, *web));
        QVERIFY(!DragEnterAccepted(view, *remote));
        QVERIFY(!DragEnterAccepted(view, *text));
        QVERIFY(DragEnterAccepted(view, *local));
        QVERIFY(DragEnterAccepted(view, *mixed));
        Drop(view, *remote);
        QVERIFY(window->List().Empty());
        Drop(view, *mixed);
        QCOMPARE(Entries(*window), QStringList { file });
    }

    // The list only reads what is dropped: a source that offers to move the file (a file
    // manager deletes its copy after a move) is told the drop was a copy, or a link when
    // it offers no copy.
    void dropsAreTakenAsCopiesNeverMoves()
    {
        auto window = ShownWindow();
        QWidget* view = window->ListView()->viewport();
        const QString file = WriteFile(m_s->env.Work(), "a.xlsx", "x");
        const std::unique_ptr<QMimeData> local(UrlData({ QUrl::fromLocalFile(file) }));
        const auto offer = [&](QEvent::Type type, Qt::DropActions actions) {
            // Shift proposes a move wherever one is offered.
            std::unique_ptr<QDropEvent> event;
            if (type == QEvent::DragEnter)
                event = std::make_unique<QDragEnterEvent>(
                    QPoint(5, 5), actions, local.get(), Qt::LeftButton, Qt::ShiftModifier);
            else if (type == QEvent::DragMove)
                event = std::make_unique<QDragMoveEvent>(
                    QPoint(5, 5), actions, local.get(), Qt::LeftButton, Qt::ShiftModifier);
            else
                event = std::make_unique<QDropEvent>(
                    QPointF(5, 5), actions, local.get(), Qt::LeftButton, Qt::ShiftModifier);
            event->setAccepted(false);
            QApplication::sendEvent(view, event.get());
            return event->isAccepted() ? event->dropAction() : Qt::IgnoreAction;
        };
        const Qt::DropActions all = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
        for (QEvent::Type type : { QEvent::DragEnter, QEvent::DragMove, QEvent::Drop })
            QCOMPARE(offer(type, all), Qt::CopyAction);
        // A drop reaches the list only after it entered there.
        QCOMPARE(offer(QEvent::DragEnter, Qt::MoveAction | Qt::LinkAction), Qt::LinkAction);
        QCOMPARE(offer(QEvent::Drop, Qt::MoveAction | Qt::LinkAction), Qt::LinkAction);
        QCOMPARE(offer(QEvent::DragEnter, Qt::MoveAction), Qt::IgnoreAction);
        QCOMPARE(Entries(*window), (QStringList { file, file }));
    }

    void theOpenFileDialogOffersEveryFormatThatIsRead()
    {
        auto window = NewWindow();
        window->PushButton1_Click();
        QCOMPARE(m_s->prompts.lastFilters.first(), QString("Excel Files (*.xl*)"));
        const QString all = m_s->prompts.lastFilters.join(' ');
        for (const char* pattern : { "*.ods", "*.ots", "*.fods", "*.csv", "*.tsv", "*.tab", "*.txt" })
            QVERIFY2(all.contains(pattern), pattern);
    }

    void shortcutsRunTheCommandsOnlyWhileTheyAreEnabled()
    {
        auto window = ShownWindow();
        const QString a = WriteFile(m_s->env.Work(), "a.csv", "1\n");
        const QString b = WriteFile(m_s->env.Work(), "b.csv", "2\n");
        m_s->prompts.files.push_back({ a, b });
        QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(Entries(*window), (QStringList { a, b }));

        window->ListView()->SelectPosition(0);
        QTest::keyClick(window.get(), Qt::Key_Down, Qt::AltModifier);
        QCOMPARE(Entries(*window), (QStringList { b, a }));
        QTest::keyClick(window.get(), Qt::Key_Up, Qt::AltModifier);
        QCOMPARE(Entries(*window), (QStringList { a, b }));

        QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(m_s->prompts.Of("input").size(), 1); // the extension question of the folder import

        window->SetCommandsEnabled(false);
        QTest::keyClick(window.get(), Qt::Key_Delete, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(Entries(*window).size(), 2);
        window->SetCommandsEnabled(true);
        QTest::keyClick(window.get(), Qt::Key_Delete, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(window->List().Empty());

        QTest::keyClick(window.get(), Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(m_s->prompts.Texts("message"), QStringList { "No files added." });
    }

    void enterStartsTheExportUnlessAButtonHasTheFocus()
    {
        auto window = ShownWindow();
        window->List().Append(WriteFile(m_s->env.Work(), "a.csv", "1\n").toStdString());
        window->ListView()->setFocus();
        QTest::keyClick(window->ListView(), Qt::Key_Return);
        QVERIFY(window->ResultsWindow() && window->ResultsWindow()->isVisible());
        QVERIFY(!window->isVisible());

        window->ResultsWindow()->PushButton8_Click();
        auto* clear = Find<QPushButton>(window.get(), "PushButton7");
        clear->setFocus();
        QTest::keyClick(clear, Qt::Key_Return); // the focused button takes Enter: the list is cleared
        QVERIFY(window->List().Empty());
        Find<QComboBox>(window.get(), "Combo1")->setFocus();
        QTest::keyClick(Find<QComboBox>(window.get(), "Combo1"), Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(m_s->prompts.Texts("message"), QStringList { "No files added." });
    }

    void theResultsWindowSavesAndGoesBackFromTheKeyboard()
    {
        auto window = NewWindow();
        auto* results = RunOver(*window, 1);
        QApplication::setActiveWindow(results);
        QVERIFY(QTest::qWaitForWindowActive(results));
        Find<QLineEdit>(results, "Text1")->setText(m_s->env.Work() + "/out");
        QDir().mkpath(m_s->env.Work() + "/out");
        QTest::keyClick(results, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(m_s->prompts.Texts("message"), QStringList { "Done." });
        QVERIFY(QFile::exists(m_s->env.Work() + "/out/w0.txt"));

        QTest::keyClick(Find<QLineEdit>(results, "Text1"), Qt::Key_Escape);
        QVERIFY(!results->isVisible());
        QVERIFY(window->isVisible());
        window->PushButton2_Click();
        QApplication::setActiveWindow(results);
        QVERIFY(QTest::qWaitForWindowActive(results));
        QTest::keyClick(results, Qt::Key_Left, Qt::AltModifier);
        QVERIFY(!results->isVisible());
    }

    void theFocusMovesInTheOrderOfTheLayout()
    {
        auto window = ShownWindow();
        window->ListView()->setFocus();
        QStringList order { QApplication::focusWidget()->objectName() };
        for (int i = 0; i < 12; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order << QApplication::focusWidget()->objectName();
        }
        // Of the option buttons only the chosen one takes the focus; the arrows move between them.
        QCOMPARE(order,
            (QStringList { "ListView1", "PushButton1", "PushButton5", "PushButton6", "PushButton7", "PushButton3",
                "PushButton4", "Combo1", "Option1", "Text1", "Check3", "Check4", "PushButton2" }));
    }

    void aLongSaveShowsItsCountAndBar()
    {
        auto window = NewWindow();
        auto* results = RunOver(*window, 3);
        Find<QLineEdit>(results, "Text1")->setText(m_s->env.Work() + "/out");
        QDir().mkpath(m_s->env.Work() + "/out");
        auto* count = Find<QLabel>(results, "SaveCount");
        auto* bar = Find<QProgressBar>(results, "SaveProgress");
        QVERIFY(count->isHidden() && bar->isHidden());

        QString seenAtStart, seenAtDone;
        bool barShownAtStart = false;
        int barAtDone = -1;
        QTimer::singleShot(0, results, [&] {
            seenAtStart = count->text();
            barShownAtStart = !bar->isHidden();
        });
        m_s->prompts.onMessage = [&](const QString&) {
            seenAtDone = count->text();
            barAtDone = bar->value() == bar->maximum() ? 1 : 0;
        };
        results->PushButton6_Click();
        const QLocale locale;
        QCOMPARE(seenAtStart, QString("0 of %1").arg(locale.toString(3)));
        QVERIFY(barShownAtStart);
        QCOMPARE(seenAtDone, QString("%1 of %1").arg(locale.toString(3)));
        QCOMPARE(barAtDone, 1);
        QVERIFY(count->isHidden() && bar->isHidden());
    }

    // A save into a file system that fails ends with the count and the bar at the files
    // written, beside one message saying how many were written and naming the rest.
    void aFailedSaveShowsWhatWasWrittenAndTellsTheFailureOnce()
    {
        struct Failing final : core::FileCalls {
            int error = ENOSPC;
            bool failOpen = false;
            int writesLeft = 1; // the writes that still succeed
            int Open(int folder, const std::string& name, int flags, mode_t mode) override
            {
                if (failOpen) {
                    errno = error;
                    return -1;
                }
                return core::FileCalls::Open(folder, name, flags, mode);
            }
            ssize_t Write(int fd, const char* data, size_t size) override
            {
                if (writesLeft-- > 0)
                    return core::FileCalls::Write(fd, data, size);
                errno = error;
                return -1;
            }
        };
        struct Case {
            Failing calls;
            int results;
            int written;
        };
        Case full { {}, 3, 1 };
        Case readOnly { {}, 1, 0 };
        readOnly.calls.error = EROFS;
        readOnly.calls.failOpen = true;
        for (Case* c : { &full, &readOnly }) {
            m_s->prompts.shown.clear();
            app::AppContext context = ContextFor(m_s->store, m_s->env);
            context.files = &c->calls;
            app::Form1 window(context);
            window.Form_Load();
            auto* results = RunOver(window, c->results);
            const QString out = m_s->env.Work() + "/out";
            QDir().mkpath(out);
            Find<QLineEdit>(results, "Text1")->setText(out);
            QString countAtDone;
            int barAtDone = -1;
            m_s->prompts.onMessage = [&](const QString&) {
                countAtDone = Find<QLabel>(results, "SaveCount")->text();
                barAtDone = Find<QProgressBar>(results, "SaveProgress")->value();
            };
            results->PushButton6_Click();
            QCOMPARE(countAtDone, QString("%1 of %2").arg(c->written).arg(c->results));
            QCOMPARE(barAtDone, c->written * Find<QProgressBar>(results, "SaveProgress")->maximum() / c->results);
            // A full device is passed over and told in the save's summary; a read-only
            // folder stops the save and is reported as the failure it is. Either way the
            // last message says how many were written and names the others.
            QCOMPARE(m_s->prompts.shown.size(), c == &full ? 1 : 2);
            QCOMPARE(m_s->prompts.shown[0].kind, QString(c == &full ? "message" : "error"));
            QVERIFY2(m_s->prompts.shown[0].text.contains(c == &full ? "No space left" : "Read-only"),
                qPrintable(m_s->prompts.shown[0].text));
            const QString last = m_s->prompts.shown.back().text;
            QVERIFY2(last.startsWith(c == &full ? "1 of 3 results were written.\r\n2 results were not written"
                                                : "No result was written.\r\n1 result was not written"),
                qPrintable(last));
            QVERIFY2(last.contains("w2.txt: ") || c != &full, qPrintable(last));
            QDir(out).removeRecursively();
        }
    }

    void anInstalledProgramFindsItsSamplesUnderShare()
    {
        // Installed: PREFIX/bin/vellumcast and PREFIX/share/vellumcast/Samples.
        const QString prefix = m_s->env.Work() + "/usr";
        QDir().mkpath(prefix + "/bin");
        const QString sample = WriteFile(prefix + "/share/vellumcast/Samples", "Sales.xlsx", "x");
        app::AppContext context = ContextFor(m_s->store, m_s->env);
        context.programFolder = (prefix + "/bin").toStdString();
        app::Form1 window(context);
        window.Form_Load();
        window.PushButton6_Click();
        QCOMPARE(window.List().Count(), size_t { 1 });
        QCOMPARE(QString::fromStdString(window.List().Text(0)), sample); // PREFIX/share/…, not PREFIX/bin/../share/…
    }

    // The optional files are found beside the program, else in its installed data folder.
    void optionalFilesAreFoundInTheDataFolderToo()
    {
        const QString prefix = m_s->env.Work() + "/usr";
        QDir().mkpath(prefix + "/bin");
        const QString skin = WriteFile(prefix + "/share/vellumcast/x", "o.cjs", "QPushButton { color: rgb(1, 2, 3); }");
        const std::string bin = (prefix + "/bin").toStdString();
        QCOMPARE(QString::fromStdString(app::ProgramDataPath(bin, "x/o.cjs")), skin);
        WriteFile(prefix + "/bin/x", "o.cjs", "");
        QCOMPARE(QString::fromStdString(app::ProgramDataPath(bin, "x/o.cjs")), prefix + "/bin/x/o.cjs");
        QCOMPARE(QString::fromStdString(app::ProgramDataPath(bin, "drag.ico")), prefix + "/bin/drag.ico");
        QFile::remove(prefix + "/bin/x/o.cjs");
        app::AppContext context = ContextFor(m_s->store, m_s->env);
        context.programFolder = bin;
        app::Form1 window(context);
        window.Form_Load();
        QVERIFY2(window.styleSheet().contains("rgb(1, 2, 3)"), qPrintable(window.styleSheet()));
    }

    void theIconComesFromTheThemeWithTheBundledOneAsFallback()
    {
        const QStringList paths = QIcon::themeSearchPaths();
        const QString theme = QIcon::themeName();
        QIcon::setThemeSearchPaths({ m_s->env.Work() + "/icons" });
        QIcon::setThemeName("vellumcast-test");
        QVERIFY(app::AppIcon().name().isEmpty());
        QVERIFY(!app::AppIcon().isNull()); // the bundled picture

        WriteFile(m_s->env.Work(), "icons/vellumcast-test/index.theme",
            "[Icon Theme]\nName=test\nDirectories=48x48/apps\n\n[48x48/apps]\nSize=48\nType=Fixed\n");
        QDir().mkpath(m_s->env.Work() + "/icons/vellumcast-test/48x48/apps");
        QImage red(48, 48, QImage::Format_ARGB32);
        red.fill(Qt::red);
        QVERIFY(red.save(m_s->env.Work() + "/icons/vellumcast-test/48x48/apps/vellumcast.png"));
        QIcon::setThemeName("vellumcast-test"); // the theme is read again
        const QIcon icon = app::AppIcon();
        QCOMPARE(icon.name(), QString("vellumcast"));
        QCOMPARE(icon.pixmap(48, 48).toImage().pixelColor(10, 10), QColor(Qt::red));
        QIcon::setThemeSearchPaths(paths);
        QIcon::setThemeName(theme);
    }

    void destroyingShownWindowsThatHoldEntriesIsSafe()
    {
        auto window = NewWindow();
        auto* results = RunOver(*window, 2);
        QVERIFY(results->isVisible());
        results->ListView()->setCurrentIndex(results->ListView()->model()->index(1, 0));
        window->show();
        QApplication::setActiveWindow(window.get());
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        for (int i = 0; i < 50; ++i)
            window->List().Append("/data/book" + std::to_string(i) + ".xlsx");
        window->ListView()->SelectPosition(3);
        window->ListView()->setFocus();
        QCoreApplication::processEvents();
        // Each view goes while the model and the data it reads are still whole.
        int listRowsAtTheEnd = -1, resultRowsAtTheEnd = -1;
        const auto watch = [](QAbstractItemView* view, int* rows) {
            QPointer<QAbstractItemModel> model(view->model());
            connect(view, &QObject::destroyed, [model, rows] { *rows = model ? model->rowCount() : -2; });
        };
        watch(window->ListView(), &listRowsAtTheEnd);
        watch(results->ListView(), &resultRowsAtTheEnd);
        const int entries = static_cast<int>(window->List().Count());
        window.reset(); // the list, the results and both views go together
        QCOMPARE(listRowsAtTheEnd, entries);
        QCOMPARE(resultRowsAtTheEnd, 2);
    }

    void emptyingTheResultsTellsTheViewsFirst()
    {
        auto window = NewWindow();
        auto* results = RunOver(*window, 3);
        auto* model = results->ListView()->model();
        QCOMPARE(model->rowCount(), 3);
        int rowsWhenTold = -1;
        connect(model, &QAbstractItemModel::modelAboutToBeReset, this, [&] { rowsWhenTold = model->rowCount(); });
        QSignalSpy reset(model, &QAbstractItemModel::modelReset);
        window->List().Clear();
        window->PushButton2_Click(); // "No files added." empties the results all the same
        QCOMPARE(m_s->prompts.Texts("message"), QStringList { "No files added." });
        QVERIFY(results->Results().empty());
        QCOMPARE(model->rowCount(), 0);
        QCOMPARE(rowsWhenTold, 3); // the views heard of it while the rows were still there
        QVERIFY(reset.count() >= 1);
    }

    void bothListModelsKeepToTheModelRules()
    {
        worklist::WorkbookList list;
        app::WorkbookListModel listModel(list);
        QAbstractItemModelTester listTester(&listModel, QAbstractItemModelTester::FailureReportingMode::QtTest);
        for (int i = 0; i < 5; ++i)
            list.Append("/b" + std::to_string(i) + ".xls");
        list.Insert(0, "/first.xls");
        list.Insert(6, "/last.xls");
        list.SetText(2, "/renamed.xls");
        worklist::MoveUp(list, 3);
        worklist::MoveDown(list, 0);
        worklist::RemoveSelected(list, 1);
        list.Remove(list.Count() - 1);
        QCOMPARE(listModel.rowCount(), 5);
        QCOMPARE(listModel.index(4, 0).data().toString(), QString::fromStdString(list.Text(4)));
        list.Clear();
        QCOMPARE(listModel.rowCount(), 0);

        exporting::ResultList results;
        app::ResultsModel resultsModel(results);
        QAbstractItemModelTester resultsTester(&resultsModel, QAbstractItemModelTester::FailureReportingMode::QtTest);
        resultsModel.SetColumns(app::ResultColumnsFor(options::SaveMode::EachRow));
        for (int i = 0; i < 200; ++i)
            results.push_back({ "b.txt", "S", i + 1, "t" });
        resultsModel.Grow();
        QCOMPARE(resultsModel.rowCount(), 200);
        QCOMPARE(resultsModel.index(199, 2).data().toString(), QString("200"));
        resultsModel.SetColumns(app::ResultColumnsFor(options::SaveMode::AllSheets));
        QCOMPARE(resultsModel.columnCount(), 1);
        resultsModel.Reset([&] { results.Truncate(20); });
        QCOMPARE(resultsModel.rowCount(), 20);
        results.Truncate(5); // shrunk behind the model's back: the next Grow resets the views
        resultsModel.Grow();
        QCOMPARE(resultsModel.rowCount(), 5);
        resultsModel.Reset([&] { results.clear(); });
        QCOMPARE(resultsModel.rowCount(), 0);
        QVERIFY(!resultsModel.index(0, 0).data().isValid());
    }
};

QTEST_MAIN(TestDesktopUse)
#include "TestDesktopUse.moc"
