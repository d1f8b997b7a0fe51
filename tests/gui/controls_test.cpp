// The window's own control kinds and the Qt platform glue: the page control's refusable
// page changes, the radio group's item index, and the main-thread runner's waits.
#include "app/controls.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QShortcutEvent>
#include <atomic>
#include <thread>

#include "app/qt_platform.h"
#include "tests/support/gui_rig.h"

namespace vantora {
namespace {

using test::WaitFor;

struct Pages {
    QWidget host;
    TPageControl* pages = new TPageControl(&host);
    std::vector<std::pair<int, int>> asked;  // (from, to) of every guard call
    bool allow = true;

    Pages() {
        for (const char* caption : {"&Setup", "&View", "&Reload", "&Config", "&Trace"})
            pages->addTab(new QWidget(), caption);
        pages->Bar()->setTabVisible(3, false);
        pages->Guard = [this](int to) {
            asked.emplace_back(pages->currentIndex(), to);
            return allow;
        };
    }
    void Key(QWidget* target, int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QKeyEvent press(QEvent::KeyPress, key, mods);
        QApplication::sendEvent(target, &press);
    }
};

TEST(PageControl, EveryPathAsksTheGuardAndARefusalKeepsThePage) {
    Pages p;
    p.allow = false;
    EXPECT_FALSE(p.pages->Request(1));
    p.Key(p.pages->Bar(), Qt::Key_Right);
    p.Key(p.pages, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(p.pages->currentIndex(), 0);
    EXPECT_EQ(p.asked, (std::vector<std::pair<int, int>>{{0, 1}, {0, 1}, {0, 1}}));

    p.allow = true;
    p.asked.clear();
    EXPECT_TRUE(p.pages->Request(2));
    // Right of Reload is Trace: the hidden page is skipped by keys...
    p.Key(p.pages->Bar(), Qt::Key_Right);
    EXPECT_EQ(p.pages->currentIndex(), 4);
    p.Key(p.pages, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(p.pages->currentIndex(), 2);
    // ...and by its mnemonic; the current page is not asked for again.
    QShortcutEvent config(QKeySequence("Alt+C"), 0);
    QApplication::sendEvent(p.pages->Bar(), &config);
    QShortcutEvent view(QKeySequence("Alt+V"), 0);
    QApplication::sendEvent(p.pages->Bar(), &view);
    EXPECT_EQ(p.pages->currentIndex(), 1);
    EXPECT_FALSE(p.pages->Request(1) || p.pages->Request(7));
    EXPECT_EQ(p.asked, (std::vector<std::pair<int, int>>{{0, 2}, {2, 4}, {4, 2}, {2, 1}}));
}

TEST(RadioGroup, ItemIndexSurvivesNewItemsWhileItStillNamesOne) {
    QWidget host;
    const struct {
        int Start;
        QStringList Items;
        int After;
    } cases[] = {{1, {"4800", "9600", "19200"}, 1}, {3, {"4800", "9600", "19200"}, -1}, {-1, {"a"}, -1}};
    for (const auto& c : cases) {
        TRadioGroup g(&host, "rgBaud", "Buad Rate", {"4800", "9600", "19200", "38400"}, c.Start, 2);
        EXPECT_EQ(g.ItemIndex(), c.Start);
        g.SetItems(c.Items);
        EXPECT_EQ(std::tuple(g.Count(), g.ItemIndex()), std::tuple(c.Items.size(), c.After));
    }
}

TEST(MainThreadRunner, RunsWorkerRequestsOnTheWindowThreadAndNeverStrandsAWorker) {
    QtMainThreadRunner runner;
    // On the window thread: at once.
    bool ran = false;
    runner.RunAndWait([&] { ran = true; });
    EXPECT_TRUE(ran);

    // From a worker: on the window thread, served by the event loop.
    std::atomic<bool> done{false};
    Qt::HANDLE where = nullptr;
    std::thread worker([&] {
        runner.RunAndWait([&] { where = QThread::currentThreadId(); });
        done = true;
    });
    EXPECT_TRUE(WaitFor([&] { return done.load(); }, 5000));
    worker.join();
    EXPECT_EQ(where, QThread::currentThreadId());

    // Served without the event loop while the window thread waits for something else.
    done = false;
    std::thread waiting([&] {
        runner.RunAndWait([] {});
        done = true;
    });
    while (!done) {
        runner.RunPending();
        std::this_thread::yield();
    }
    waiting.join();

    // Close lets a waiting worker go without running its request, and later ones return at once.
    std::atomic<int> runs{0};
    done = false;
    std::thread stranded([&] {
        runner.RunAndWait([&] { ++runs; });
        runner.RunAndWait([&] { ++runs; });
        done = true;
    });
    while (runner.Pending() == 0) std::this_thread::yield();
    runner.Close();
    stranded.join();
    EXPECT_TRUE(done);
    QCoreApplication::processEvents();
    EXPECT_EQ(runs.load(), 0);
}

}  // namespace
}  // namespace vantora
