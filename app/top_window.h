// The main window: start-up and settings, the pages as connection switch, the receiver scan,
// the live view's controls and the command panels' layout.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "app/controls.h"
#include "app/qt_platform.h"
#include "app/reload_display.h"
#include "app/settings.h"
#include "app/trace_convert_job.h"
#include "loader/load_task.h"
#include "protocol/binary.h"
#include "protocol/commands.h"
#include "protocol/platform.h"
#include "serial/current_port.h"
#include "view/view_task.h"
#include "view/view_widgets.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFileDialog;
class QListWidget;
class QListWidgetItem;
class QPlainTextEdit;
class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace vantora {

class TfmTop : public QMainWindow {
    Q_OBJECT
public:
    enum Page { tsSetup = 0, tsView = 1, tsReload = 2, tsConfig = 3, tsTrace = 4 };

    // settingsPath: the INI file (the program passes the one beside the executable);
    // args: the command-line arguments after the program name. Boxes go to boxes.
    TfmTop(std::string settingsPath, const std::vector<std::string>& args, MessageBoxSink& boxes,
           const Clock& clock = SystemClock(), QWidget* parent = nullptr);
    ~TfmTop() override;

    // The same way as a click on a tab: the before-change check, then the change.
    bool RequestPage(int page);
    int CurrentPage() const;

    // The receiver scan (btScanClick); also the "Scan for receiver" menu action.
    void btScanClick();
    bool ScanRunning() const { return scan_.Running; }

    // Writes "Port" and "Path" to the settings file; false after a box saying why.
    bool SaveSettings();
    // Stops the scan, both worker threads and the port, in that order; idempotent.
    void Shutdown();

    // Window state, for the other parts of the window and for tests.
    const Settings& State() const { return settings_; }
    int PortIndex() const { return settings_.PortIndex; }
    int LinkBaudIndex() const { return settings_.LinkBaudIndex; }
    int PrivilegeLevel() const { return settings_.PrivilegeLevel; }
    CurrentPort& Port() { return port_; }
    TViewTask& ViewTask() { return *viewTask_; }
    TLoadTask& LoadTask() { return *loadTask_; }
    ViewWidgets& View() { return *view_; }
    ReloadDisplay& Reload() { return *reload_; }
    ReceiverTables& Tables() { return tables_; }
    TPageControl* Pages() const { return pgCoder_; }
    // Command number of each node of CmdTree, in node order.
    const std::vector<int>& TreeCommands() const { return treeCommands_; }
    // The panel shown for a command number (pnNothing for those without one).
    QWidget* CommandPanel(int command) const;
    // A control by its name.
    template <class T>
    T* Control(const char* name) const {
        return findChild<T*>(QString::fromLatin1(name));
    }

signals:
    void ScanFinished(bool found);

protected:
    void closeEvent(QCloseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Layout (layout_pages.cpp, layout_view.cpp).
    void BuildLayout();
    void BuildMenu();
    void BuildStatusBar();
    void BuildSetupPage(QWidget* page);
    void BuildViewPage(QWidget* page);
    void BuildCommandPanels(QWidget* page);
    void BuildReloadPage(QWidget* page);
    void BuildConfigPage(QWidget* page);
    void BuildTracePage(QWidget* page);
    QWidget* NewPanel(QWidget* page, const char* name);

    // Start-up steps.
    void FillControls();
    void ApplyPrivilege();
    void InitCommandTree();
    void InitTraceActions();
    void InitMeasurementGrid();
    void FormCreate();
    void ConnectHandlers();

    // Page changes and their helpers.
    bool pgBeforeChanging(int newPage);
    void pgCoderChange(int page);
    void cbPortChange(int index);
    void cbFWbaudChange(int index);
    void SetCaption(const QString& caption);
    void SetWindowSize(int width, int height);
    void ResetPort(int baud);

    // Scan.
    void BeginScanRate(int rateIndex);
    void ScanTick();
    void EndScan(bool found);

    // Configuration page.
    void cbSetBaudChange(int index);
    void rgDGPSClick(int index);
    void cxDRClick();
    void clNMEAClick();
    void cxPnmeaClick();
    void RebuildNmeaLabel();
    void ShowReconfigure();

    // Menu and view toggles.
    void Exit1Click();
    void About1Click();
    void pnExpandClick();
    void chCn0DblClick();

    std::string settingsPath_;
    MessageBoxSink& boxes_;
    const Clock& clock_;
    Settings settings_;

    // Order matters: the runner and the port outlive the threads that use them.
    QtMainThreadRunner runner_;
    CurrentPort port_;
    ReceiverTables tables_{};
    std::unique_ptr<ViewWidgets> view_;
    std::unique_ptr<TViewTask> viewTask_;
    std::unique_ptr<ReloadDisplay> reload_;
    std::unique_ptr<TLoadTask> loadTask_;
    bool shutDown_ = false;

    struct ScanState {
        bool Running = false;
        int Rate = 0;
        int64_t Deadline = 0;
        int64_t Last = 0;
        int Marquee = 0;
    } scan_;
    QTimer scanTimer_;

    std::array<QWidget*, 33> commandPanels_{};
    std::vector<int> treeCommands_;
    int selectedCommand_ = 0;
    std::array<QWidget*, 10> tracePanels_{};
    int traceActionIndex_ = 0;

    // Controls the shell itself works with.
    TPageControl* pgCoder_ = nullptr;
    std::array<QWidget*, 5> pages_{};
    QLabel* status_[3] = {};
    TClickLabel* pnExpand_ = nullptr;
    QAction* scanAction_ = nullptr;
    QTimer* tmrRepeat_ = nullptr;
    QFileDialog* openDialog_ = nullptr;
    QComboBox* cbPort_ = nullptr;
    QComboBox* cbFWbaud_ = nullptr;
    QComboBox* cbSetBaud_ = nullptr;
    QCheckBox* cxReconfig_ = nullptr;
    QCheckBox* cxDR_ = nullptr;
    QCheckBox* cxPnmea_ = nullptr;
    QCheckBox* cxChkSum_ = nullptr;
    QListWidget* clNMEA_ = nullptr;
    TRadioGroup* rgDGPS_ = nullptr;
    TRadioGroup* rgBaud_ = nullptr;
    QLabel* lbPort_ = nullptr;
    QLabel* lbReconfig_ = nullptr;
    QLabel* lbDGPS_ = nullptr;
    QLabel* lbSetBaud_ = nullptr;
    QLabel* lbShowDR_ = nullptr;
    QLabel* lbNMEA_ = nullptr;
    QTreeWidget* cmdTree_ = nullptr;
    QTreeWidget* tvTraceCmd_ = nullptr;
    QTableWidget* sgMeas_ = nullptr;
    TLabeledEdit* lbSentence_ = nullptr;
    QLineEdit* edError_ = nullptr;
    TChartView* chCn0_ = nullptr;
    ViewControls viewControls_;

    // Commands (command_panels.cpp).
public:
    // Selects the tree node of command cmd as a click would; false when the tree lacks it.
    bool SelectCommand(int cmd);
    int SelectedCommand() const { return selectedCommand_; }
    // Sets a panel control the builders read from text: an edit's text, a radio group's item
    // index, a check box's 0/1/true/false. False with a message for a name or value that does not fit.
    bool SetPanelControl(const std::string& name, const std::string& value, std::string& error);
    // The panel controls' current values, as the command builders read them.
    PanelValues CollectPanelValues() const;
    void btSendClick();
    void btSpecialClick();
    int RepeatPhase() const { return repeatPhase_; }
    int RepeatCountdown() const { return repeatCountdown_; }

private:
    void ConnectCommandHandlers();
    void CmdTreeChange(QTreeWidgetItem* node);
    // An action panel at its place, its caption above it in the given highlight colour.
    void ShowActionPanel(QWidget* panel, const QRect& place, QLabel* caption, const QString& text,
                         const QColor& highlight);
    void pnRestartResize();
    void SetStartModeClick();
    void rgIDClick();
    void rgOutputFormatClick();
    void tmrRepeatTimer();
    // Writes a built frame; false after a box saying why (no box when showBoxes is false).
    bool WriteCommand(const BuiltCommand& built, bool showBoxes);
    void ApplySendEffects(const SendEffects& effects);

    int repeatCountdown_ = 0;
    int repeatPhase_ = 0;
    bool repeatFailed_ = false;
    QTimer* repeatWait_ = nullptr;  // the wait after a restart, during which ticks do nothing

    // Receiver data (data_pages.cpp).
public:
    // The log's file dialog, replaceable so that nothing waits for a modal dialog (tests): the
    // chosen path, or an empty string for a cancel.
    std::function<QString()> ChooseLogFile;
    // Every frame the Trace page sends, once written (tests and diagnostics).
    std::function<void(const uint8_t* frame, int length)> TraceFrameSent;
    // 0 idle, 1 recording started from the Trace page, 2 reading.
    int TraceState() const { return traceState_; }
    bool ConversionRunning() const { return convertJob_ && convertJob_->Running(); }
    // No record for this long ends a trace read with a message.
    static constexpr int TraceReadTimeoutSeconds = 5;

private:
    enum class LogUse { None, Nmea, TraceRead };
    void ConnectDataHandlers();
    void btLogClick();
    QString RunLogDialog();
    void TraceAction(int row);
    void btClearClick();
    void Button1Click();
    void btTrcRecordClick();
    void btTrcReadClick();
    bool StartTraceRead();
    void StopTraceRead();
    void LeaveTraceRead();
    void TraceReadComplete();
    void TraceReadWatch();
    void SetTraceReading(bool on);
    bool SendTraceStatusRequest();
    bool SendDataFrame(const uint8_t* frame, int length);
    void rgSelCvtClick();
    void btConvertClick();
    void ConversionEnded(const TraceConvertOutcome& outcome);
    void btEphsSaveClick();
    void btSaveAlmcClick();
    void SaveTableFile(bool ephemeris);

    LogUse logUse_ = LogUse::None;
    int traceState_ = 0;
    QTimer* traceReadWatch_ = nullptr;
    int traceReadSeen_ = 0;
    int64_t traceReadDeadline_ = 0;
    int64_t convertTotal_ = 0;
    std::unique_ptr<TraceConvertJob> convertJob_;

    // Reload page (reload_page.cpp).
public:
    // The firmware file dialog, replaceable so that nothing waits for a modal dialog (tests):
    // the chosen path, or an empty string for a cancel.
    std::function<QString()> ChooseFirmwareFile;
    // Called after each loader state the page has shown (tests and diagnostics).
    std::function<void(int state)> LoaderStateShown;
    // The loader state last shown in lbState; decides what Write does.
    int ShownLoaderState() const { return shownLoaderState_; }
    // The image of the next load: the last file read successfully; null before the first.
    std::shared_ptr<const FirmwareImage> Firmware() const { return firmware_; }
    // Main thread, after every state change of the loader: page lock, Write button, lbState.
    void ShowLoaderState(int state);

private:
    std::unique_ptr<ReloadDisplay> MakeReloadDisplay();
    void ConnectReloadHandlers();
    bool ReadFirmwareFile(const std::string& path);
    void ShowFirmwareFile(const std::string& path);
    QString RunFirmwareDialog();
    void bbBrowseClick();
    void BrowseFirmware();
    // The load's parameters from the page now; nullopt with the reason for a field that is no number.
    std::optional<LoadJob> TakeLoadJob(std::string& error);
    void GoClick();
    // Write's restart steps did not finish: the page as before, with the reason when there is one.
    void RestartFailed(const std::string& why);
    bool ReloadPageLocked() const;
    void UpdateReloadLock();
    void ReloadPageChanged(int page);
    void cxAutoStartClick();
    void cxRevChkClick();
    void edRevsionChange();
    void cxReconfigClick();
    void rgTypeClick(int index);

    std::shared_ptr<const FirmwareImage> firmware_;
    std::string browseDir_;  // folder of the last file read: where the dialog opens
    int shownLoaderState_ = 0;
    bool restarting_ = false;     // Write's restart steps are under way
    bool revisionCheck_ = false;  // the loader's own flag, set only by the revision handlers
    bool jobAutoLoad_ = false;    // Auto Load as the last load's parameters were taken
    bool reloadShown_ = false;
};

}  // namespace vantora
