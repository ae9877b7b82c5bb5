// How responsive the windows stay: runs the real export through the main window on one
// workbook, with a 1 ms timer measuring every gap between two turns of the event loop,
// then scrolls the results window's list from top to bottom and times each repaint.
//
//   gui_responsiveness WORKBOOK [MODE=row|sheet|column|all] [SCROLL_STEPS=200]
//
// Run it under Xvfb or with QT_QPA_PLATFORM=offscreen. Prints one line per figure.

#include "app/Form1.h"
#include "app/Form2.h"
#include "options/Settings.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace vellumcast;

namespace {

// Answers every box at once, so nothing waits for a person; counts the error reports.
class SilentPrompts final : public app::PromptHook {
public:
    void Message(const QString&, const QString& text) override
    {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    bool Question(const QString&, const QString&) override { return false; }
    int Choice(const QString&, const QString&, const QStringList& choices) override
    {
        return static_cast<int>(choices.size()) - 1;
    }
    std::optional<QString> Input(const QString&, const QString&, const QString&) override { return std::nullopt; }
    void ErrorBox(const QString&, const QString& text) override
    {
        ++errors;
        std::fprintf(stderr, "error: %s\n", qPrintable(text));
    }
    QString Folder(const QString&, const QString&) override { return {}; }
    QStringList Files(const QString&, const QStringList&, const QString&) override { return {}; }
    void OpenFolder(const QString&) override { }
    int errors = 0;
};

struct GapStats {
    qint64 maxMs = 0;
    long over100 = 0;
    long turns = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s WORKBOOK [row|sheet|column|all] [SCROLL_STEPS]\n", argv[0]);
        return 2;
    }
    const QString mode = argc > 2 ? argv[2] : "row";
    const int scrollSteps = argc > 3 ? std::max(1, std::atoi(argv[3])) : 200;
    const int modeIndex = mode == "all" ? 0 : mode == "sheet" ? 1 : mode == "column" ? 3 : 2;

    SilentPrompts prompts;
    app::Prompts::SetHook(&prompts);
    options::MemorySettingsStore store;
    app::AppContext context;
    context.store = &store;
    context.programFolder = QCoreApplication::applicationDirPath().toStdString();
    context.createEngine = [] {};
    context.endProgram = [] {};
    app::Form1 window(context);
    window.Form_Load();
    window.findChild<QComboBox*>("Combo1")->setCurrentIndex(modeIndex);
    window.List().Append(argv[1]);
    window.show();
    QCoreApplication::processEvents();

    // Every tick of a 1 ms timer is one turn of the event loop; the gap between two ticks
    // is how long the window could not react.
    GapStats gaps;
    QElapsedTimer sinceTick;
    QElapsedTimer total;
    QTimer ticker;
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 gap = sinceTick.restart();
        ++gaps.turns;
        gaps.maxMs = std::max(gaps.maxMs, gap);
        if (gap > 100) {
            ++gaps.over100;
            std::fprintf(stderr, "gap of %lld ms ending at %lld ms\n", static_cast<long long>(gap),
                static_cast<long long>(total.elapsed()));
        }
    });
    total.start();
    sinceTick.start();
    ticker.start();
    window.PushButton2_Click();
    ticker.stop();
    const qint64 exportMs = total.elapsed();

    app::Form2* results = window.ResultsWindow();
    const size_t entries = results ? results->Results().size() : 0;
    std::printf("export: %lld ms, %zu result entries, %d error reports\n", static_cast<long long>(exportMs), entries,
        prompts.errors);
    std::printf("event-loop gaps while exporting: max %lld ms, %ld gaps over 100 ms, %ld turns\n",
        static_cast<long long>(gaps.maxMs), gaps.over100, gaps.turns);
    if (!results)
        return 1;

    // Showing the results window and scrolling its list from top to bottom.
    QElapsedTimer show;
    show.start();
    QCoreApplication::processEvents();
    QTreeView* list = results->ListView();
    list->viewport()->repaint();
    std::printf("results window shown and painted: %lld ms\n", static_cast<long long>(show.elapsed()));
    QScrollBar* bar = list->verticalScrollBar();
    std::vector<qint64> frames;
    for (int step = 0; step <= scrollSteps; ++step) {
        QElapsedTimer frame;
        frame.start();
        bar->setValue(static_cast<int>(static_cast<qint64>(bar->maximum()) * step / scrollSteps));
        list->viewport()->repaint();
        QCoreApplication::processEvents();
        frames.push_back(frame.nsecsElapsed() / 1000);
    }
    std::sort(frames.begin(), frames.end());
    const auto percentile
        = [&](double p) { return frames[static_cast<size_t>(p * static_cast<double>(frames.size() - 1))]; };
    std::printf("scrolling %d steps over %d rows: median %.2f ms, 95th %.2f ms, max %.2f ms per repaint\n", scrollSteps,
        list->model()->rowCount(), static_cast<double>(percentile(0.5)) / 1000.0,
        static_cast<double>(percentile(0.95)) / 1000.0, static_cast<double>(frames.back()) / 1000.0);
    // Choosing an entry near the end previews it.
    QElapsedTimer pick;
    pick.start();
    list->setCurrentIndex(list->model()->index(list->model()->rowCount() - 1, 0));
    QCoreApplication::processEvents();
    std::printf("previewing the last entry: %lld ms\n", static_cast<long long>(pick.elapsed()));
    app::Prompts::SetHook(nullptr);
    return 0;
}
