// The window tests' common rig: the simulated receiver behind a link in a folder of the test's
// own, the settings file, the window with its boxes recorded, and waits that keep Qt's event
// loop running; with it come the pages and the widget kinds the tests look at. Runs offscreen.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QThread>
#include <QTreeWidget>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/command_panels.h"
#include "app/controls.h"
#include "app/reload_page.h"
#include "app/top_window.h"
#include "app/trace_page.h"
#include "app/view_widgets.h"
#include "tests/support/sim_process.h"

namespace vantora::test {

// Waits for done while the window's events and timers go on; false after ms.
inline bool WaitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

// Lets the window's events and timers run for ms, waiting for nothing in particular.
inline void Pump(int ms) {
    WaitFor([] { return false; }, ms);
}

class GuiRig : public ::testing::Test {
protected:
    void TearDown() override {
        for (const auto& box : boxes_.Boxes()) ADD_FAILURE() << "a box no check looked at: " << box.Text;
        window_.reset();
        sim_.reset();
    }

    // The simulated receiver on link_, with its further options. What it sends, what it receives and
    // what its loader programs go to sent.bin, input.bin and flash.bin in the test's folder.
    void StartSim(std::vector<std::string> options = {}) {
        sim_.reset();
        fs::remove(link_);
        for (const char* file : {"sent.bin", "input.bin", "flash.bin"}) fs::remove(dir_ / file);
        options.insert(options.end(), {"--record", (dir_ / "sent.bin").string(), "--record-input",
                                       (dir_ / "input.bin").string(), "--flash-file",
                                       (dir_ / "flash.bin").string()});
        sim_ = std::make_unique<SimProcess>(link_, options);
        EXPECT_TRUE(sim_->Running()) << "the simulated receiver did not start";
    }
    // A settings file whose COM1 is the simulator, with extra lines for "Setup".
    void WriteSettings(const std::string& setup = "") {
        WriteFile(ini_, "[Setup]\nPortid=0\n" + setup + "\n[Ports]\nCOM1=" + link_.string() + "\n");
    }
    TfmTop& Open(const std::vector<std::string>& args = {}) {
        window_.reset();
        window_ = std::make_unique<TfmTop>(ini_.string(), args, boxes_, SystemClock(), timings_);
        window_->show();
        return *window_;
    }
    template <class T>
    T* C(const char* name) {
        T* c = window_->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    // Exactly one box since the last look, with this title and icon and part in its text; the
    // record is cleared then.
    void ExpectBox(const std::string& title, BoxIcon icon, const std::string& part) {
        const auto boxes = boxes_.Boxes();
        boxes_.Clear();
        ASSERT_EQ(boxes.size(), 1u) << (boxes.empty() ? "" : boxes[0].Text);
        EXPECT_EQ(boxes[0].Title, title);
        EXPECT_EQ(boxes[0].Icon, icon);
        EXPECT_NE(boxes[0].Text.find(part), std::string::npos) << boxes[0].Text;
    }
    QString Status(int panel) {
        return window_->statusBar()->findChild<QLabel*>(QString("sbStatusPanel%1").arg(panel))->text();
    }
    // A left click on a tab, through the tab row's own input handling.
    void ClickTab(int page) {
        QTabBar* bar = window_->Pages()->tabBar();
        const QPointF at = bar->tabRect(page).center();
        QMouseEvent press(QEvent::MouseButtonPress, at, bar->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(bar, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, bar->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(bar, &release);
    }

    TempDir temp_{"vantora-gui"};
    const fs::path dir_ = temp_.Dir(), link_ = dir_ / "com1";
    fs::path ini_ = dir_ / "vantora.INI";
    // The window's waits, short enough that no test waits real seconds for them.
    WindowTimings timings_{
        .ScanSecondsPerRate = 2, .RepeatTickMs = 100, .RepeatRestartWaitMs = 700, .TraceReadTimeoutSeconds = 2};
    RecordingMessageBoxSink boxes_;
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<TfmTop> window_;
};

}  // namespace vantora::test
