// The main window: start-up and settings, the pages as connection switch, the receiver scan,
// the menu and the status bar. Each page is a class of its own; the window owns what they
// share (settings, port, the two worker threads, the page control).
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "app/qt_platform.h"
#include "app/window_shared.h"
#include "loader/load_task.h"
#include "protocol/binary.h"
#include "view/view_task.h"

class QAction;

namespace vantora {

class CommandPanels;
class ConfigPage;
class ReloadPage;
class SetupPage;
class TClickLabel;
class TPageControl;
class TracePage;
class ViewPage;
class ViewWidgets;

class TfmTop : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int tsSetup = vantora::tsSetup;
    static constexpr int tsView = vantora::tsView;
    static constexpr int tsReload = vantora::tsReload;
    static constexpr int tsConfig = vantora::tsConfig;
    static constexpr int tsTrace = vantora::tsTrace;

    // settingsPath: the INI file (the program passes the one beside the executable);
    // args: the command-line arguments after the program name. Boxes go to boxes.
    TfmTop(std::string settingsPath, const std::vector<std::string>& args, MessageBoxSink& boxes,
           const Clock& clock = SystemClock(), const WindowTimings& timings = WindowTimings(),
           QWidget* parent = nullptr);
    ~TfmTop() override;

    // The same way as a click on a tab: the before-change check, then the change.
    bool RequestPage(int page);
    int CurrentPage() const;

    // The receiver scan (the hidden Scan button and the "Scan for receiver" menu action).
    void StartScan();
    bool ScanRunning() const { return scan_.Running; }

    // Writes "Port" and "Path" to the settings file; false after a box saying why.
    bool SaveSettings();
    // Stops the scan, both worker threads and the port, in that order; idempotent.
    void Shutdown();

    // Window state and pages, for the program's hooks and for tests.
    const Settings& State() const { return shared_.State; }
    int PortIndex() const { return shared_.State.PortIndex; }
    int LinkBaudIndex() const { return shared_.State.LinkBaudIndex; }
    int PrivilegeLevel() const { return shared_.State.PrivilegeLevel; }
    CurrentPort& Port() { return shared_.Port; }
    TViewTask& ViewTask() { return *viewTask_; }
    TLoadTask& LoadTask() { return *loadTask_; }
    TPageControl* Pages() const { return pgCoder_; }
    ViewWidgets& View() { return *view_; }
    ViewPage& Live() { return *viewPage_; }
    CommandPanels& Commands();
    ReloadPage& Reload() { return *reloadPage_; }
    TracePage& Trace() { return *tracePage_; }

    // The window's size on most pages, on the Trace page, and with the View page expanded.
    static constexpr QSize NormalSize{282, 405};
    static constexpr QSize TraceSize{300, 405};
    static constexpr QSize ExpandedSize{720, 645};

signals:
    void ScanFinished(bool found);

protected:
    void closeEvent(QCloseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void BuildFrame();
    void BuildMenu();
    void BuildStatusBar();

    // Page changes and their helpers.
    bool BeforePageChange();
    void PageChanged(int page);
    void SetCaption(const QString& caption);
    void ResetPort(int baud);
    void Expand(bool expanded);
    void FitTo(QSize size);

    // Scan.
    void BeginScanRate(int rateIndex);
    void ScanTick();
    void EndScan(bool found);

    void Exit();
    void ShowAbout();

    std::string settingsPath_;
    bool settingsSaved_ = false;  // tried once at close; never again
    // Order matters: the runner and the shared port outlive the threads that use them.
    QtMainThreadRunner runner_;
    WindowShared shared_;
    ReceiverTables tables_{};

    TPageControl* pgCoder_ = nullptr;
    TClickLabel* pnExpand_ = nullptr;
    QAction* scanAction_ = nullptr;
    SetupPage* setupPage_ = nullptr;
    ViewPage* viewPage_ = nullptr;
    ReloadPage* reloadPage_ = nullptr;
    ConfigPage* configPage_ = nullptr;
    TracePage* tracePage_ = nullptr;

    std::unique_ptr<ViewWidgets> view_;
    std::unique_ptr<TViewTask> viewTask_;
    std::unique_ptr<TLoadTask> loadTask_;

    struct ScanState {
        bool Running = false;
        int Rate = 0;
        int64_t Deadline = 0;
        int64_t Last = 0;
        int Marquee = 0;
    } scan_;
    QTimer scanTimer_;
};

}  // namespace vantora
