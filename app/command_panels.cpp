#include "app/command_panels.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDateTime>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cerrno>
#include <cstring>
#include <limits>
#include <map>
#include <stdexcept>

#include "app/layout_util.h"
#include "app/view_widgets.h"
#include "app/trace_convert_job.h"
#include "logging/raw_log.h"
#include "logging/trace_convert.h"
#include "view/view_task.h"

namespace vantora {

using namespace layout;

namespace {

constexpr int64_t RepeatDefault = 60;
constexpr int PanelWidth = 224;
constexpr int PanelHeight = 265;
constexpr const char* EphemerisFile = "ephs.dat";
constexpr const char* AlmanacFile = "almc.dat";
const char* const BoxTitle = "Error";
const char* const NoPortText = "No port is open: show the View page to connect to the receiver first.";

std::string LogWhileReadingText(const std::string& tracePath) {
    return "A trace read is writing " + tracePath + ". Start the log when the read has ended.";
}

void Uncheck(QAbstractButton* button) {
    // An auto-exclusive radio button cannot be unchecked directly.
    const bool exclusive = button->autoExclusive();
    button->setAutoExclusive(false);
    button->setChecked(false);
    button->setAutoExclusive(exclusive);
}

// The form's default of a control the command builders read.
QString DefaultText(const char* name) {
    const ControlInfo* c = FindControl(name);
    return c ? QString::fromLatin1(c->DefaultText) : QString();
}
int DefaultItem(const char* name, int fallback) {
    const ControlInfo* c = FindControl(name);
    return c ? c->DefaultValue : fallback;
}

QTableWidget* ValueList(QWidget* panel, const char* name) {
    auto* list = new QTableWidget(0, 2, panel);
    list->setObjectName(name);
    list->setHorizontalHeaderLabels({"Key", "Value"});
    list->setVisible(false);
    return list;
}

// Writes the whole table image in one go; false with the path and the cause.
bool WriteImage(const std::string& name, const std::vector<uint8_t>& bytes, std::string& error) {
    RawLog file;
    if (!file.Open(name, error)) return false;
    const bool written = file.Append(bytes.data(), static_cast<int>(bytes.size()));
    const int cause = errno;
    if (!file.Close() || !written) {
        error = "Cannot write " + name + ": " + std::strerror(written ? errno : cause);
        return false;
    }
    return true;
}

}  // namespace

CommandPanels::CommandPanels(WindowShared& shared) : shared_(shared) {
    setObjectName("CommandPart");
    lbCmd_ = Label(this, "lbCmd", "Please selelct a command");
    cmdTree_ = new QTreeWidget(this);
    cmdTree_->setObjectName("CmdTree");
    cmdTree_->setHeaderHidden(true);
    cmdTree_->setRootIsDecorated(false);
    cmdTree_->setFixedSize(192, 233);

    QFrame* buttons = Panel(this, "Panel1");
    buttons->setFixedSize(192, 28);
    auto* row = new QHBoxLayout(buttons);
    row->setContentsMargins(4, 2, 4, 2);
    btLog_ = Button(buttons, "btLog", "Log", 56);
    QPushButton* scan = Button(buttons, "btScan", "Scan", 56);
    scan->setVisible(false);
    btSend_ = Button(buttons, "btSend", "Send", 56);
    row->addWidget(btLog_);
    row->addWidget(scan);
    row->addStretch(1);
    row->addWidget(btSend_);

    // The parser's error count, shown at the highest level only (ApplyPrivilege hides it).
    edError_ = new QLineEdit("0", this);
    edError_->setObjectName("edError");
    edError_->setFixedSize(50, 17);
    edError_->setReadOnly(true);

    panelArea_ = new QWidget(this);
    panelArea_->setFixedSize(PanelWidth, PanelHeight);
    BuildPanels();

    auto* left = Nested(new QVBoxLayout());
    left->setSpacing(3);
    left->addWidget(cmdTree_);
    left->addWidget(buttons);
    left->addWidget(edError_, 0, Qt::AlignRight);
    left->addStretch(1);
    auto* right = Nested(new QVBoxLayout());
    right->setSpacing(2);
    right->addWidget(lbCmd_);
    right->addWidget(panelArea_);
    right->addStretch(1);
    auto* top = Nested(new QHBoxLayout());
    top->setSpacing(6);
    top->addLayout(left);
    top->addLayout(right);

    auto* sentence = Nested(new QGridLayout());
    sentence->setHorizontalSpacing(0);
    lbSentence_ = ReadOnly(this, "lbSentence", "Command", sentence, 0, 0, 265);
    lbSentence_->Label()->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    sentence->setColumnMinimumWidth(1, 281);
    auto* ack = new QRadioButton("ACK", this);
    ack->setObjectName("rbACK");
    ack->setChecked(true);
    auto* nack = new QRadioButton("NACK", this);
    nack->setObjectName("rbNACK");
    rbACK_ = ack;
    rbNACK_ = nack;
    sentence->addWidget(ack, 0, 2);
    sentence->addWidget(nack, 0, 3);
    sentence->setColumnStretch(4, 1);

    auto* part = new QVBoxLayout(this);
    part->setContentsMargins(0, 0, 0, 0);
    part->setSpacing(2);
    part->addLayout(top);
    part->addLayout(sentence);
    part->addStretch(1);

    connect(cmdTree_, &QTreeWidget::itemSelectionChanged, this, [this] {
        const QList<QTreeWidgetItem*> chosen = cmdTree_->selectedItems();
        if (!chosen.isEmpty()) ShowCommand(chosen.first());
    });
    connect(btSend_, &QPushButton::clicked, this, &CommandPanels::SendCommand);
    connect(btSpecial_, &QPushButton::clicked, this, &CommandPanels::ToggleRepeatRestart);
    connect(btLog_, &QPushButton::clicked, this, &CommandPanels::ToggleNmeaLog);
    connect(scan, &QPushButton::clicked, this, &CommandPanels::ScanRequested);
    connect(rgID_, &TRadioGroup::Clicked, this, &CommandPanels::GuardModuleId);
    connect(rgOutputFormat_, &TRadioGroup::Clicked, this, &CommandPanels::GuardOutputFormat);
    pnRestart_->installEventFilter(this);
    edError_->installEventFilter(this);

    repeatTimer_.setParent(this);
    repeatTimer_.setObjectName("tmrRepeat");
    repeatTimer_.setInterval(shared_.Timings.RepeatTickMs);
    connect(&repeatTimer_, &QTimer::timeout, this, &CommandPanels::RepeatTick);
    repeatWait_.setSingleShot(true);
    repeatWait_.setInterval(shared_.Timings.RepeatRestartWaitMs);
    connect(&repeatWait_, &QTimer::timeout, this, [this] {
        if (!shared_.ShutDown) shared_.ViewTask->ResetSentenceCount();
    });
}

CommandPanels::~CommandPanels() = default;

// ---- The panels ----

QFrame* CommandPanels::NewPanel(const char* name) {
    QFrame* panel = Panel(panelArea_, name);
    panel->setVisible(false);
    panel->setGeometry(0, 0, PanelWidth, PanelHeight);
    return panel;
}

TLabeledEdit* CommandPanels::PanelEdit(QWidget* panel, const char* name, const char* caption,
                                       QGridLayout* grid, int row, int editWidth) {
    TLabeledEdit* e = Field(panel, name, caption, DefaultText(name), grid, row, 0, editWidth);
    if (const ControlInfo* info = FindControl(name)) bound_.push_back({info, e, nullptr, nullptr});
    return e;
}

TRadioGroup* CommandPanels::Group(QWidget* panel, const char* name, const char* title, const QStringList& items,
                                  int columns, int fallbackItem) {
    auto* g = new TRadioGroup(panel, name, title, items, DefaultItem(name, fallbackItem), columns);
    if (const ControlInfo* info = FindControl(name)) bound_.push_back({info, nullptr, g, nullptr});
    return g;
}

QCheckBox* CommandPanels::PanelCheck(QWidget* panel, const char* name, const char* caption, int fallback) {
    QCheckBox* box = Check(panel, name, caption, DefaultItem(name, fallback) != 0);
    if (const ControlInfo* info = FindControl(name)) bound_.push_back({info, nullptr, nullptr, box});
    return box;
}

namespace {

// A panel's grid: captions in column 0, edits in column 1, room to the right and below.
QGridLayout* PanelGrid(QFrame* panel) {
    auto* grid = new QGridLayout(panel);
    grid->setContentsMargins(4, 4, 4, 4);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(4);
    return grid;
}

void Finish(QGridLayout* grid) {
    grid->setRowStretch(grid->rowCount(), 1);
    grid->setColumnStretch(grid->columnCount(), 1);
}

}  // namespace

void CommandPanels::BuildPanels() {
    std::map<std::string, QFrame*> panels;  // the command table names each command's panel
    auto panel = [&](const char* name) {
        QFrame* p = NewPanel(name);
        panels[name] = p;
        return p;
    };

    QFrame* p = pnRestart_ = panel("pnRestart");
    QGridLayout* g = PanelGrid(p);
    g->addWidget(Group(p, "SetStartMode", "", {"No Change", "Hot", "Warm", "Cold", "Test"}, 2), 0, 0, 1, 3);
    const struct {
        const char* Name;
        const char* Caption;
    } restart[8] = {{"RSTyear", "Year"},    {"RSTmonth", "Month"},   {"RSTday", "Day"},
                    {"RSThour", "Hour"},    {"RSTminute", "Minute"}, {"RSTsecond", "Second"},
                    {"RSTLat", "Latitude"}, {"RSTLong", "Longitude"}};
    for (int i = 0; i < 8; ++i) {
        TLabeledEdit* e = PanelEdit(p, restart[i].Name, restart[i].Caption, g, 1 + i, 70);
        if (i < 6) restartTime_[static_cast<size_t>(i)] = e;
    }
    TRadioGroup* selRestart = Group(p, "SelRestart", "", {"Hardware", "Software"}, 1);
    selRestart->setVisible(false);
    g->addWidget(selRestart, 1, 2, 3, 1);
    btSpecial_ = Button(p, "btSpecial", "Repeat Restart", 100);
    btSpecial_->setVisible(false);
    lbRepeat_ = new TLabeledEdit(p, "lbRepeat", "every ", "60");
    lbRepeat_->setFixedSize(30, 17);
    lbRepeat_->setVisible(false);
    lbSecond_ = Label(p, "lbSecond", "seconds");
    lbSecond_->setVisible(false);
    auto* repeatRow = Nested(new QHBoxLayout());
    repeatRow->setSpacing(2);
    repeatRow->addWidget(btSpecial_);
    repeatRow->addWidget(lbRepeat_->Label());
    repeatRow->addWidget(lbRepeat_);
    repeatRow->addWidget(lbSecond_);
    repeatRow->addStretch(1);
    g->addLayout(repeatRow, 9, 0, 1, 3);
    Finish(g);

    p = panel("pnCfgIO");
    g = PanelGrid(p);
    g->addWidget(Group(p, "rgPort", "Com port", {"COM 1", "COM 2"}, 2), 0, 0);
    rgBaud_ = Group(p, "rgBaud", "Buad Rate", WorkingRates, 2);
    g->addWidget(rgBaud_, 1, 0);
    Finish(g);

    // Set Datum and Set Extended Datum share it.
    p = panel("pnSetDatum");
    g = PanelGrid(p);
    lbEdIdx_ = PanelEdit(p, "lbEdIdx", "Ellipsoid Index ", g, 0, 110);
    lbEdIdx_->setVisible(false);
    PanelEdit(p, "lbDx", "Delta X", g, 1, 110);
    PanelEdit(p, "lbDy", "Delta Y", g, 2, 110);
    PanelEdit(p, "lbDz", "Delta Z", g, 3, 110);
    lbElpA_ = PanelEdit(p, "lbElpA", "Semi-Major ", g, 4, 110);
    lbElpF_ = PanelEdit(p, "lbElpF", "Inversed flat ", g, 5, 110);
    Finish(g);

    p = panel("pnCfgNmea");
    g = PanelGrid(p);
    const struct {
        const char* Name;
        const char* Caption;
    } nmea[7] = {{"lbRMC", "RMC"}, {"lbVTG", "VTG"}, {"lbGLL", "GLL"}, {"lbGSV", "GSV"},
                 {"lbGSA", "GSA"}, {"lbGGA", "GGA"}, {"lbZDA", "ZDA"}};
    for (int i = 0; i < 7; ++i) PanelEdit(p, nmea[i].Name, nmea[i].Caption, g, i, 50);
    g->addWidget(PanelCheck(p, "cbChkSumd", "Check Sum", 1), 0, 2);
    Finish(g);

    panel("pnNothing");

    p = panel("pnRevision");
    g = PanelGrid(p);
    // Reply fields under the names the reply texts use.
    auto reply = [this](TLabeledEdit* field) {
        replyFields_.emplace_back(field->objectName().toStdString(), field);
        return field;
    };
    reply(ReadOnlyAbove(p, "lbRevision", "Revision Label", g, 0, 0, 200));
    reply(ReadOnlyAbove(p, "lbCRC", "CRC", g, 2, 0, 200));
    reply(ReadOnlyAbove(p, "lbRevDate", "Date (YY/MM/DD)", g, 4, 0, 200));
    reply(ReadOnlyAbove(p, "lbRevTime", "Time (HH:MM:SS)", g, 6, 0, 200));
    Finish(g);

    p = panel("pnClkOff");
    g = PanelGrid(p);
    reply(ReadOnlyAbove(p, "lbClockOffSet", "Clock OffSet", g, 0, 0, 200));
    Finish(g);

    p = panel("pnBIT");
    g = PanelGrid(p);
    PanelEdit(p, "lbItem", "Item ", g, 0, 60);
    for (int i = 1; i <= 4; ++i)
        reply(ReadOnly(p, QString("lbResult%1").arg(i), QString("Result%1").arg(i), g, i, 0, 120));
    Finish(g);

    auto tablePanel = [&](const char* name, const char* bar, const char* field, const char* caption,
                          const char* save, const char* list, QProgressBar** barOut, TLabeledEdit** fieldOut) {
        QFrame* t = panel(name);
        QGridLayout* tg = PanelGrid(t);
        *barOut = Progress(t, bar);
        tg->addWidget(*barOut, 0, 0, 1, 3);
        *fieldOut = ReadOnly(t, field, caption, tg, 1, 0, 70);
        QPushButton* button = Button(t, save, "Save", 70);
        tg->addWidget(button, 2, 0, Qt::AlignLeft);
        tg->addWidget(ValueList(t, list), 3, 0, 1, 3);
        Finish(tg);
        return button;
    };
    QPushButton* saveEphs = tablePanel("pnReadEphs", "pbReadEphs", "lbReadEphs", "# Ephs  received  ",
                                       "btEphsSave", "vlEphs", &pbReadEphs_, &lbReadEphs_);
    QPushButton* saveAlmc = tablePanel("pnReadAlmc", "pbReadAlmc", "lbReadAlmc", "# Almc received  ",
                                       "btSaveAlmc", "vlAlmc", &pbReadAlmc_, &lbReadAlmc_);
    connect(saveEphs, &QPushButton::clicked, this, [this] { SaveTableFile(true); });
    connect(saveAlmc, &QPushButton::clicked, this, [this] { SaveTableFile(false); });

    p = panel("pnID");
    g = PanelGrid(p);
    rgID_ = Group(p, "rgID", "", {"Production ID", "User Key ID"}, 2);
    g->addWidget(rgID_, 0, 0, 1, 3);
    edModuleID_ = PanelEdit(p, "edModuleID", "Module ID", g, 1, 140);
    Finish(g);

    p = panel("pnLocale");
    g = PanelGrid(p);
    PanelEdit(p, "lbZoneHour", "Hour ", g, 0, 60);
    PanelEdit(p, "lbZoneMinute", "Minute ", g, 1, 60);
    PanelEdit(p, "lbZoneSecond", "Second ", g, 2, 60);
    PanelEdit(p, "lbDstAdjust", "DST Adjust Hour", g, 3, 60);
    g->addWidget(Group(p, "rgGMTsign", "", {"GMT + (plus)", "GMT - (minus)"}, 1), 4, 0, 1, 3);
    g->addWidget(PanelCheck(p, "cbUpdateSTime", "Update System Time", 0), 5, 0, 1, 3);
    Finish(g);

    p = panel("pnOutputFormat");
    g = PanelGrid(p);
    rgOutputFormat_ = Group(
        p, "rgOutputFormat", "",
        {"Disable", "NMEA", "Binary (Temorarily)", "Binary ( Permenently)", "Raw Data (need preliviledge)"}, 1);
    g->addWidget(rgOutputFormat_, 0, 0);
    Finish(g);
    p = panel("pnFastHotStart");
    g = PanelGrid(p);
    g->addWidget(Group(p, "rdFastHotStart", "", {"Diable", "Enable"}, 1, 0), 0, 0);
    Finish(g);

    p = panel("pnTraceRead");
    g = PanelGrid(p);
    rgTraceBaud_ = Group(p, "rgTraceBaud", "Baud rate", WorkingRates, 2);
    rgTraceBaud_->setEnabled(false);
    g->addWidget(rgTraceBaud_, 0, 0, 1, 3);
    TRadioGroup* format = Group(p, "rgTraceRdFmt", "Format", {"Binary", "NMEA"}, 2);
    format->setEnabled(false);
    g->addWidget(format, 1, 0, 1, 3);
    PanelEdit(p, "lbTracePos", "Start (0-based)", g, 2, 80);
    g->addWidget(Group(p, "rgTraceReadAction", "", {"stop", "start"}, 2), 3, 0, 1, 3);
    QPushButton* traceLog = Button(p, "btTraceLog", "Log", 70);
    traceLog->setEnabled(false);
    traceLog->setVisible(false);
    g->addWidget(traceLog, 4, 0);
    Finish(g);
    p = panel("pnTraceRecord");
    g = PanelGrid(p);
    PanelEdit(p, "lbTraceDist", "Distance (Meter)", g, 0, 80);
    PanelEdit(p, "lbTracePeriod", "Time period (Second)", g, 1, 80);
    PanelEdit(p, "lbTraceTime", "Time to log", g, 2, 80);
    g->addWidget(Group(p, "rgTraceRecordAction", "", {"Stop log", "Start log"}, 2), 3, 0, 1, 3);
    Finish(g);

    p = panel("pnElvMask");
    g = PanelGrid(p);
    PanelEdit(p, "edElvMask", "Mask", g, 0, 50);
    g->addWidget(Label(p, "Label11", "degree"), 0, 2);
    Finish(g);
    p = panel("pnDopMask");
    g = PanelGrid(p);
    g->addWidget(Group(p, "rgDopMask", "DOP Mask", {"No Dop Mask", "GDOP", "PDOP", "HDOP"}, 2), 0, 0, 1, 3);
    PanelEdit(p, "edGdop", "GDOP", g, 1, 50);
    PanelEdit(p, "edPdop", "PDOP", g, 2, 50);
    PanelEdit(p, "edHdop", "HDOP", g, 3, 50);
    Finish(g);

    p = panel("pn1PPS");
    g = PanelGrid(p);
    g->addWidget(Group(p, "rg1PPS", "1PPS", {"Disable", "1PPS w/o output", "1PPS w/ output"}, 1), 0, 0, 1, 3);
    PanelEdit(p, "ed1ppsBW", "Basic width (0~3)", g, 1, 40);
    PanelEdit(p, "ed1ppsMul", "Multiplyer (1~16)", g, 2, 40);
    g->addWidget(Label(p, "Label12", "0:20ms, 1:1ms, 2:20us, 3:1us"), 3, 0, 1, 3);
    Finish(g);

    p = panel("pnMaintainTrace");
    g = PanelGrid(p);
    g->addWidget(Group(p, "rgPwrOnState", "Power On State", {"Stop", "Start"}, 2), 0, 0, 1, 3);
    g->addWidget(Group(p, "rgTraceStatus", "Trace Action",
                       {"Read Status  ", "Clear Trace  ", "Enable", "Disable"}, 2),
                 1, 0, 1, 3);
    reply(ReadOnly(p, "lbTraceUsed", "Used Percentage ", g, 2, 0, 80));
    reply(ReadOnly(p, "lbTraceNum", "Number of Logged ", g, 3, 0, 80));
    reply(ReadOnly(p, "lbReadTrcPos", "Read (0-based) ", g, 4, 0, 80));
    lbTraceStatus_ = Label(p, "lbTraceStatus", "");
    g->addWidget(lbTraceStatus_, 5, 0, 1, 3);
    Finish(g);

    p = panel("pnDgpsCtrl");
    g = PanelGrid(p);
    g->addWidget(Group(p, "rgSelDgps", "DGPS selection", {"Disable", "WAAS/EGNOS"}, 1), 0, 0);
    Finish(g);
    p = panel("pnUpdateRate");
    g = PanelGrid(p);
    PanelEdit(p, "lbUpdateRate", "UpdateRate (1~5Hz)", g, 0, 40);
    Finish(g);
    p = panel("pnShowText");
    auto* fill = new QVBoxLayout(p);
    fill->setContentsMargins(2, 2, 2, 2);
    moShowText_ = new QPlainTextEdit(p);
    moShowText_->setObjectName("moShowText");
    moShowText_->setReadOnly(true);
    moShowText_->setLineWrapMode(QPlainTextEdit::NoWrap);
    fill->addWidget(moShowText_);

    // Every panel at the one place of the area.
    auto* stack = new QGridLayout(panelArea_);
    stack->setContentsMargins(0, 0, 0, 0);
    for (const auto& [name, frame] : panels) stack->addWidget(frame, 0, 0);

    // Each command to its panel, as the command table names it.
    commandPanels_.fill(panels.at("pnNothing"));
    for (const CommandInfo& c : CommandTable) {
        const auto it = panels.find(c.Panel);
        if (it == panels.end()) throw std::logic_error(std::string("no command panel ") + c.Panel);
        commandPanels_[static_cast<size_t>(c.Number)] = it->second;
    }
    // Every control a command builder reads is on a panel.
    for (const ControlInfo& c : ControlTable())
        if (!FindBound(c.Name)) throw std::logic_error(std::string("no panel control ") + c.Name);

}

QWidget* CommandPanels::ReplyField(const std::string& name) const {
    for (const auto& [n, w] : replyFields_)
        if (n == name) return w;
    return nullptr;
}

const CommandPanels::Bound* CommandPanels::FindBound(const std::string& name) const {
    for (const Bound& b : bound_)
        if (name == b.Info->Name) return &b;
    return nullptr;
}

void CommandPanels::ApplyPrivilege() {
    const int level = shared_.State.PrivilegeLevel;
    if (level < 10) {
        for (TLabeledEdit* e : restartTime_) e->setVisible(false);
        edError_->setVisible(false);
        lbSentence_->setFixedWidth(281);
    }
    if (level == 0) rgBaud_->SetItems({"4800", "9600", "19200"});
    selected_ = 0;
    cmdTree_->clear();
    treeCommands_.clear();
    for (const CommandInfo& c : CommandTable) {
        if (c.Level > level) continue;
        new QTreeWidgetItem(cmdTree_, QStringList{QString::fromLatin1(c.TreeText)});
        treeCommands_.push_back(c.Number);
    }
}

bool CommandPanels::eventFilter(QObject* watched, QEvent* event) {
    if (watched == pnRestart_ && event->type() == QEvent::Resize) FillRestartTime();
    if (watched == edError_ && event->type() == QEvent::MouseButtonDblClick) {
        shared_.ViewTask->ClearErrorCount();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// ---- Tree and panels ----

bool CommandPanels::SelectCommand(int cmd) {
    for (size_t i = 0; i < treeCommands_.size(); ++i) {
        if (treeCommands_[i] != cmd) continue;
        cmdTree_->setCurrentItem(cmdTree_->topLevelItem(static_cast<int>(i)));
        return true;
    }
    return false;
}

void CommandPanels::ShowCommand(QTreeWidgetItem* node) {
    const int position = cmdTree_->indexOfTopLevelItem(node);
    if (position < 0 || position >= static_cast<int>(treeCommands_.size())) return;
    if (selected_ != 0) commandPanels_[static_cast<size_t>(selected_)]->hide();
    selected_ = treeCommands_[static_cast<size_t>(position)];
    QFrame* panel = commandPanels_[static_cast<size_t>(selected_)];
    ShowActionPanel(panel, lbCmd_, node->text(0), palette().color(QPalette::Highlight));
    // The restart's date and time are the clock's when the panel is first placed.
    if (panel == pnRestart_ && !restartTimeFilled_) FillRestartTime();

    switch (selected_) {
        case 0x01:
            if (shared_.State.PrivilegeLevel == 1) {
                btSpecial_->show();
                lbRepeat_->show();
                lbSecond_->show();
            }
            break;
        case 0x03:
        case 0x1B: {
            const bool extended = selected_ == 0x1B;
            lbEdIdx_->setVisible(!extended);
            lbElpA_->setVisible(extended);
            lbElpF_->setVisible(extended);
            break;
        }
        case 0x1E:
            rgTraceBaud_->SetItemIndex(shared_.State.LinkBaudIndex);
            break;
        default:
            break;
    }
}

void CommandPanels::FillRestartTime() {
    restartTimeFilled_ = true;
    const QDateTime now = QDateTime::fromSecsSinceEpoch(shared_.Time.UnixSeconds(), Qt::UTC);
    const QDate d = now.date();
    const QTime t = now.time();
    const int values[6] = {d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second()};
    for (size_t i = 0; i < 6; ++i) restartTime_[i]->setText(QString::number(values[i]));
}

void CommandPanels::GuardModuleId() {
    if (shared_.State.PrivilegeLevel < 10 && rgID_->ItemIndex() == 0) {
        shared_.Boxes.Show("Vantora", "Module ID need preliviledge!", BoxIcon::None);
        rgID_->SetItemIndex(1);
    }
}

void CommandPanels::GuardOutputFormat() {
    if (shared_.State.PrivilegeLevel < 10 && rgOutputFormat_->ItemIndex() == 4) {
        shared_.Boxes.Show("Vantora", "Raw Data need preliviledge", BoxIcon::None);
        rgOutputFormat_->SetItemIndex(1);
    }
}

// ---- Panel values ----

PanelValues CommandPanels::CollectPanelValues() const {
    PanelValues values = PanelValues::Defaults();
    for (const Bound& b : bound_) {
        if (b.Edit) values.SetText(b.Info->Name, b.Edit->text().toStdString());
        if (b.Group) values.SetItem(b.Info->Name, b.Group->ItemIndex());
        if (b.Box) values.SetChecked(b.Info->Name, b.Box->isChecked());
    }
    return values;
}

bool CommandPanels::SetPanelControl(const std::string& name, const std::string& value, std::string& error) {
    PanelValues parsed;
    if (!parsed.Assign(name, value, error)) return false;
    const Bound* b = FindBound(name);
    if (!b) {
        error = "the window has no control '" + name + "'";
        return false;
    }
    if (b->Edit) b->Edit->setText(QString::fromStdString(parsed.Text(name)));
    if (b->Group) b->Group->SetItemIndex(parsed.Item(name));
    if (b->Box) b->Box->setChecked(parsed.Checked(name));
    return true;
}

// ---- What the receive thread shows ----

void CommandPanels::ShowReply(bool acknowledged) {
    (acknowledged ? rbACK_ : rbNACK_)->setChecked(true);
}

void CommandPanels::ShowEphemerisProgress(const ProgressTexts& t) {
    pbReadEphs_->setMaximum(t.Maximum);
    pbReadEphs_->setValue(t.Position);
    lbReadEphs_->setText(QString::fromStdString(t.Label));
}

void CommandPanels::ShowAlmanacProgress(const ProgressTexts& t) {
    pbReadAlmc_->setMaximum(t.Maximum);
    pbReadAlmc_->setValue(t.Position);
    lbReadAlmc_->setText(QString::fromStdString(t.Label));
}

void CommandPanels::ShowModuleId(const std::string& text) {
    edModuleID_->setText(QString::fromStdString(text));
}

int CommandPanels::ModuleIdItem() const {
    return rgID_->ItemIndex();
}

void CommandPanels::ShowSettingLines(const std::vector<std::string>& lines) {
    moShowText_->clear();
    for (const std::string& line : lines) moShowText_->appendPlainText(QString::fromStdString(line));
}

void CommandPanels::ShowTraceStatus(const std::optional<std::string>& status) {
    if (status) lbTraceStatus_->setText(QString::fromStdString(*status));
}

// ---- Send ----

bool CommandPanels::WriteCommand(const BuiltCommand& built, bool showBoxes) {
    if (built.Error) {
        if (showBoxes) shared_.Boxes.Show(BoxTitle, built.Error->Message(), BoxIcon::Error);
        return false;
    }
    std::shared_ptr<TSerialPort> port = shared_.Port.Get();
    if (!port) {
        if (showBoxes) shared_.Boxes.Show(BoxTitle, NoPortText, BoxIcon::Error);
        return false;
    }
    try {
        port->txData(built.Frame, built.Length);
    } catch (const PortWriteError& e) {
        if (showBoxes) shared_.Boxes.Show(BoxTitle, e.what(), BoxIcon::Error);
        return false;
    }
    return true;
}

void CommandPanels::ApplySendEffects(const SendEffects& fx) {
    TViewTask& receiver = *shared_.ViewTask;
    if (fx.UpdateNmeaConfig) {
        ApplyNmeaEffects(fx, shared_.State.Nmea);
        receiver.SetNmeaConfig(shared_.State.Nmea.data());
    }
    // The decoders write these records on the receive thread: it applies the resets itself,
    // before it parses the reply; the panels show the emptied values at once.
    unsigned resets = 0;
    if (fx.ClearRevision) {
        resets |= TViewTask::ResetRevision;
        view_->ShowTexts(RevisionTexts(RevisionReport{}));
    }
    if (fx.ClearClockOffset) {
        resets |= TViewTask::ResetClockOffset;
        view_->ShowTexts(ClockOffsetTexts(0));
    }
    if (fx.ClearTestResults) {
        resets |= TViewTask::ResetTestResults;
        const int32_t none[4] = {-1, -1, -1, -1};
        view_->ShowTexts(BuiltInTestTexts(none));
    }
    if (fx.ClearEphemerisProgress) resets |= TViewTask::ResetEphemerisProgress;
    if (fx.ClearAlmanacProgress) resets |= TViewTask::ResetAlmanacProgress;
    receiver.ResetReplies(resets);
    if (fx.TraceReadActive) receiver.SetTraceReadActive(*fx.TraceReadActive);
}

void CommandPanels::SendCommand() {
    Uncheck(rbACK_);
    Uncheck(rbNACK_);
    const BuiltCommand built = BuildCommand(selected_, CollectPanelValues(), shared_.Time);
    if (built.Error) {
        WriteCommand(built, true);
        return;
    }
    ApplySendEffects(built.Effects);
    if (built.Length == 0) return;
    lbSentence_->setText(QString::fromStdString(FormatFrameHex(built.Frame, built.Length)));
    WriteCommand(built, true);
}

// ---- Repeated restart ----

void CommandPanels::ToggleRepeatRestart() {
    if (repeatTimer_.isActive()) {
        btSpecial_->setText("Repeat EXE");
        repeatTimer_.stop();
        return;
    }
    btSpecial_->setText("Stop EXE");
    repeatFailed_ = false;
    repeatTimer_.start();
    repeatCountdown_ = 1;
    repeatPhase_ = 2;
}

void CommandPanels::RepeatTick() {
    // The receiver is still restarting: nothing counts until the wait is over.
    if (repeatWait_.isActive()) return;
    const int phase = repeatPhase_;
    if (phase == 0) {
        if (!shared_.ViewTask->DataReceived()) return;
        repeatPhase_ = 1;
    }
    if (phase == 0 || phase == 1) {
        if (--repeatCountdown_ > 0) return;
        repeatPhase_ = 2;
    }
    // A failure leaves the phase at 2, so the next tick tries again; its box is shown once
    // per run of failures rather than every tick.
    // The flag is set before the box: ticks go on while a box is open.
    const bool showBox = !repeatFailed_;
    repeatFailed_ = true;
    if (!WriteCommand(BuildCommand(0x01, CollectPanelValues(), shared_.Time), showBox)) return;
    repeatFailed_ = false;
    int64_t every = IntegerOr(lbRepeat_->text().toStdString(), RepeatDefault);
    if (every < std::numeric_limits<int>::min() || every > std::numeric_limits<int>::max())
        every = RepeatDefault;
    repeatCountdown_ = static_cast<int>(every);
    repeatPhase_ = 0;
    repeatWait_.start();
}

// ---- NMEA log ----

void CommandPanels::ToggleNmeaLog() {
    if (shared_.Log == LogUse::Nmea) {
        // The receive thread closes the file at its next pass, after writing what it read.
        shared_.ViewTask->StopLog();
        shared_.Log = LogUse::None;
        btLog_->setText("Log");
        shared_.Status[2]->clear();
        return;
    }
    // The one log channel is the read's until the read ends.
    if (shared_.Log == LogUse::TraceRead) {
        shared_.Boxes.Show("Information", LogWhileReadingText(shared_.DataFile(TraceRawFileName)),
                           BoxIcon::Information);
        return;
    }
    const QString chosen = ChooseLogFile ? ChooseLogFile() : RunLogDialog();
    if (chosen.isEmpty()) return;
    const std::string path = QFileInfo(chosen).absoluteFilePath().toStdString();
    RawLog log;
    std::string error;
    if (!log.Open(path, error)) {
        shared_.Boxes.Show("Error", "Wrong file!", BoxIcon::Error);
        return;
    }
    shared_.ViewTask->StartLog(std::move(log));
    shared_.Log = LogUse::Nmea;
    btLog_->setText("Stop log");
    shared_.Status[2]->setText(QString::fromStdString("Logged: " + path));
}

void CommandPanels::LogFailed(const std::string& text) {
    if (shared_.Log == LogUse::Nmea) {
        shared_.Log = LogUse::None;
        btLog_->setText("Log");
        shared_.Status[2]->clear();
    }
    shared_.Boxes.Show("Error", text, BoxIcon::Error);
}

QString CommandPanels::RunLogDialog() {
    QFileDialog* dialog = shared_.OpenDialog;
    // The dialog is shared with the firmware image's choice: its settings are given back.
    const QFileDialog::AcceptMode mode = dialog->acceptMode();
    const QFileDialog::FileMode fileMode = dialog->fileMode();
    const QFileDialog::Options options = dialog->options();
    dialog->setDirectory(".");
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setOption(QFileDialog::DontConfirmOverwrite, true);  // an existing file is replaced
    const bool accepted = dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty();
    const QString chosen = accepted ? dialog->selectedFiles().first() : QString();
    dialog->setAcceptMode(mode);
    dialog->setFileMode(fileMode);
    dialog->setOptions(options);
    return chosen;
}

// ---- Ephemeris and almanac files ----

void CommandPanels::SaveTableFile(bool ephemeris) {
    // The receive thread's decoders fill the tables: it copies them between two parses, so the
    // file holds whole records only.
    shared_.ViewTask->RequestTables([this, ephemeris](const ReceiverTables& t) {
        std::vector<uint8_t> image;
        if (ephemeris)
            image.assign(&t.EphemerisTable[0][0], &t.EphemerisTable[0][0] + sizeof t.EphemerisTable);
        else
            image.assign(&t.AlmanacTable[0][0], &t.AlmanacTable[0][0] + sizeof t.AlmanacTable);
        // The file work and any box come after the receive thread has gone on.
        QMetaObject::invokeMethod(
            this,
            [this, ephemeris, image = std::move(image)] {
                std::string error;
                if (!WriteImage(shared_.DataFile(ephemeris ? EphemerisFile : AlmanacFile), image, error))
                    shared_.Boxes.Show("Error", error, BoxIcon::Error);
            },
            Qt::QueuedConnection);
    });
}

}  // namespace vantora
