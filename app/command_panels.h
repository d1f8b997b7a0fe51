// The command part of the View page: the tree of the commands the user level allows, one
// panel per command (one shown at a time), Send with the frame just sent and the last reply,
// the repeated restart, the NMEA log button and the ephemeris and almanac files.
#pragma once

#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/window_shared.h"
#include "protocol/commands.h"
#include "view/display_text.h"

class QAbstractButton;
class QCheckBox;
class QFrame;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace vantora {

class TLabeledEdit;
class TRadioGroup;
class ViewWidgets;

class CommandPanels : public QWidget {
    Q_OBJECT
public:
    explicit CommandPanels(WindowShared& shared);
    ~CommandPanels() override;

    // Once the settings are read: the tree and the controls the user level allows.
    void ApplyPrivilege();
    // The live view, whose reply fields Send empties.
    void SetView(ViewWidgets* view) { view_ = view; }

    // Selects the tree node of command cmd as a click would; false when the tree lacks it.
    bool SelectCommand(int cmd);
    int SelectedCommand() const { return selected_; }
    // Command number of each node of CmdTree, in node order.
    const std::vector<int>& TreeCommands() const { return treeCommands_; }
    // Sets a panel control the builders read from text: an edit's text, a radio group's item
    // index, a check box's 0/1/true/false. False with a message for a name or value that does not fit.
    bool SetPanelControl(const std::string& name, const std::string& value, std::string& error);
    // The panel controls' current values, as the command builders read them.
    PanelValues CollectPanelValues() const;
    void SendCommand();
    void ToggleRepeatRestart();
    int RepeatPhase() const { return repeatPhase_; }
    int RepeatCountdown() const { return repeatCountdown_; }
    void StopRepeat() { repeatTimer_.stop(); }

    // The log's file dialog, replaceable so that nothing waits for a modal dialog (tests): the
    // chosen path, or an empty string for a cancel.
    std::function<QString()> ChooseLogFile;

    // What the receive thread shows here.
    // A reply field by its name in the reply texts; null for another name.
    QWidget* ReplyField(const std::string& name) const;
    void ShowReply(bool acknowledged);
    void ShowEphemerisProgress(const ProgressTexts& texts);
    void ShowAlmanacProgress(const ProgressTexts& texts);
    void ShowModuleId(const std::string& text);
    int ModuleIdItem() const;
    void ShowSettingLines(const std::vector<std::string>& lines);
    void ShowTraceStatus(const std::optional<std::string>& status);
    QLineEdit* ErrorCountField() const { return edError_; }
    // The receive thread could not write the log and has closed it: the button is reset.
    void LogFailed(const std::string& text);

signals:
    // The hidden Scan button was pressed.
    void ScanRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildPanels();
    QFrame* NewPanel(const char* name);
    TLabeledEdit* PanelEdit(QWidget* panel, const char* name, const char* caption, QGridLayout* grid, int row,
                            int editWidth);
    TRadioGroup* Group(QWidget* panel, const char* name, const char* title, const QStringList& items,
                       int columns, int fallbackItem = 0);
    QCheckBox* PanelCheck(QWidget* panel, const char* name, const char* caption, int fallback);
    void ShowCommand(QTreeWidgetItem* node);
    void FillRestartTime();
    void GuardModuleId();
    void GuardOutputFormat();
    // Writes a built frame; false after a box saying why (no box when showBoxes is false).
    bool WriteCommand(const BuiltCommand& built, bool showBoxes);
    void ApplySendEffects(const SendEffects& effects);
    void RepeatTick();
    void ToggleNmeaLog();
    QString RunLogDialog();
    void SaveTableFile(bool ephemeris);

    WindowShared& shared_;
    ViewWidgets* view_ = nullptr;

    QLabel* lbCmd_;
    QTreeWidget* cmdTree_;
    QPushButton* btLog_;
    QPushButton* btSend_;
    TLabeledEdit* lbSentence_;
    QAbstractButton* rbACK_;
    QAbstractButton* rbNACK_;
    QLineEdit* edError_;
    QWidget* panelArea_;

    // Panels and the controls their own handlers use.
    std::array<QFrame*, 33> commandPanels_{};  // by command number; pnNothing for those without one
    QFrame* pnRestart_ = nullptr;
    std::array<TLabeledEdit*, 6> restartTime_{};  // RSTyear .. RSTsecond
    QPushButton* btSpecial_ = nullptr;
    TLabeledEdit* lbRepeat_ = nullptr;
    QLabel* lbSecond_ = nullptr;
    TLabeledEdit* lbEdIdx_ = nullptr;
    TLabeledEdit* lbElpA_ = nullptr;
    TLabeledEdit* lbElpF_ = nullptr;
    TRadioGroup* rgBaud_ = nullptr;
    TRadioGroup* rgID_ = nullptr;
    TRadioGroup* rgOutputFormat_ = nullptr;
    TRadioGroup* rgTraceBaud_ = nullptr;
    TLabeledEdit* edModuleID_ = nullptr;
    QProgressBar* pbReadEphs_ = nullptr;
    TLabeledEdit* lbReadEphs_ = nullptr;
    QProgressBar* pbReadAlmc_ = nullptr;
    TLabeledEdit* lbReadAlmc_ = nullptr;
    QPlainTextEdit* moShowText_ = nullptr;
    QLabel* lbTraceStatus_ = nullptr;
    // Reply fields under the names the reply texts use.
    std::vector<std::pair<std::string, QWidget*>> replyFields_;

    // The controls the command builders read, one per entry of the control table.
    struct Bound {
        const ControlInfo* Info;
        QLineEdit* Edit;
        TRadioGroup* Group;
        QCheckBox* Box;
    };
    std::vector<Bound> bound_;
    const Bound* FindBound(const std::string& name) const;

    std::vector<int> treeCommands_;
    int selected_ = 0;
    bool restartTimeFilled_ = false;

    QTimer repeatTimer_;
    QTimer repeatWait_;  // the wait after a restart, during which ticks do nothing
    int repeatCountdown_ = 0;
    int repeatPhase_ = 0;
    bool repeatFailed_ = false;
};

}  // namespace vantora
