// The View page: live view (sky plot, C/N0 bars, text fields, memo and measurement grid)
// and the command part (tree, command panels, Send row).
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTreeWidget>
#include <tuple>

#include "app/layout_util.h"
#include "app/top_window.h"
#include "protocol/commands.h"

namespace vantora {

using namespace layout;

namespace {

// The form's default of a control the command builders read.
QString DefaultText(const char* name) {
    const ControlInfo* c = FindControl(name);
    return c ? QString::fromLatin1(c->DefaultText) : QString();
}
int DefaultItem(const char* name, int fallback) {
    const ControlInfo* c = FindControl(name);
    return c ? c->DefaultValue : fallback;
}

TLabeledEdit* PanelEdit(QWidget* panel, const char* name, const char* caption, int x, int y, int labelWidth,
                        int editWidth) {
    auto* e = new TLabeledEdit(panel, name, caption, DefaultText(name));
    e->PlaceLeft(x, y, labelWidth, editWidth);
    return e;
}

TRadioGroup* Group(QWidget* panel, const char* name, const char* title, const QStringList& items, int columns,
                   int x, int y, int w, int h, int fallbackItem = 0) {
    auto* g = new TRadioGroup(panel, name, title, items, DefaultItem(name, fallbackItem), columns);
    g->setGeometry(x, y, w, h);
    return g;
}

QTableWidget* ValueList(QWidget* panel, const char* name) {
    auto* list = new QTableWidget(0, 2, panel);
    list->setObjectName(name);
    list->setHorizontalHeaderLabels({"Key", "Value"});
    list->setGeometry(8, 90, 208, 120);
    list->setVisible(false);
    return list;
}

}  // namespace

void TfmTop::BuildViewPage(QWidget* page) {
    auto* sky = new TChartView(page);
    sky->setObjectName("chSat");
    sky->setGeometry(0, 0, 169, 169);
    chCn0_ = new TChartView(page);
    chCn0_->setObjectName("chCn0");
    chCn0_->setGeometry(0, 224, 273, 89);

    auto* time = Label(page, "lbTime", "/  /", 172, 2, 100, 30);
    QFont bold = time->font();
    bold.setBold(true);
    time->setFont(bold);
    time->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* fix = Label(page, "lbFix", "No Fix", 172, 34, 100, 16);

    // Right of the plot: satellites and DOPs; under it: position, clock, speed and course.
    auto* inView = Field(page, "lvisible", "SAT", 172, 56, 36, 60, "12");
    auto* used = Field(page, "lbFixNo", "FIX", 172, 76, 36, 60);
    auto* pdop = Field(page, "lpdop", "PDOP", 172, 96, 36, 60);
    auto* hdop = Field(page, "lhdop", "HDOP", 172, 116, 36, 60);
    auto* lat = Field(page, "lbLat", "Latitude", 0, 172, 56, 110);
    auto* lon = Field(page, "lbLong", "Longitude", 0, 190, 56, 110);
    auto* alt = Field(page, "lbHigh", "Altitude", 0, 208, 56, 110);
    auto* clock = Field(page, "lbClkOff", "CLOCK", 170, 172, 38, 64);
    auto* speed = Field(page, "leSpeed", "SPEED", 170, 190, 38, 64);
    auto* dir = Field(page, "leDir", "kmh   ", 170, 208, 38, 64);

    // The expanded view: measurement fields, memo and the grid over it.
    const struct {
        const char* Name;
        const char* Caption;
        int X;
    } meas[4] = {{"edMeasUTC", "UTC", 16}, {"edCB", "CB", 190}, {"edTB", "TB", 364}, {"edFB", "FB", 538}};
    for (const auto& m : meas) {
        TLabeledEdit* e = Field(page, m.Name, m.Caption, m.X, 316, 28, 140);
        e->setVisible(false);
    }
    auto* memo = new QPlainTextEdit(page);
    memo->setObjectName("moNMEA");
    memo->setGeometry(16, 336, 673, 201);
    memo->setReadOnly(true);
    memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setMaximumBlockCount(ViewWidgets::MemoLines);

    sgMeas_ = new QTableWidget(13, 10, page);
    sgMeas_->setObjectName("sgMeas");
    sgMeas_->setGeometry(16, 336, 679, 225);
    sgMeas_->horizontalHeader()->setVisible(false);
    sgMeas_->verticalHeader()->setVisible(false);
    sgMeas_->verticalHeader()->setMinimumSectionSize(16);
    sgMeas_->verticalHeader()->setDefaultSectionSize(16);
    sgMeas_->horizontalHeader()->setDefaultSectionSize(67);
    sgMeas_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    sgMeas_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    sgMeas_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    sgMeas_->setSelectionMode(QAbstractItemView::NoSelection);
    for (int r = 0; r < 13; ++r) {
        for (int c = 0; c < 10; ++c) {
            auto* item = new QTableWidgetItem();
            item->setFlags(Qt::ItemIsEnabled);
            if (r == 0 || c == 0) item->setBackground(palette().color(QPalette::Button));
            sgMeas_->setItem(r, c, item);
        }
    }

    // The command part.
    Label(page, "lbCmd", "Please selelct a command", 470, 4, 224);
    cmdTree_ = new QTreeWidget(page);
    cmdTree_->setObjectName("CmdTree");
    cmdTree_->setHeaderHidden(true);
    cmdTree_->setRootIsDecorated(false);
    cmdTree_->setGeometry(272, 0, 192, 233);
    QFrame* buttons = Panel(page, "Panel1", 272, 236, 192, 28);
    Button(buttons, "btLog", "Log", 4, 2, 56);
    Button(buttons, "btScan", "Scan", 66, 2, 56)->setVisible(false);
    Button(buttons, "btSend", "Send", 130, 2, 56);
    lbSentence_ = Field(page, "lbSentence", "Command", 272, 288, 52, 265);
    auto* ack = new QRadioButton("ACK", page);
    ack->setObjectName("rbACK");
    ack->setGeometry(612, 288, 46, 17);
    ack->setChecked(true);
    auto* nack = new QRadioButton("NACK", page);
    nack->setObjectName("rbNACK");
    nack->setGeometry(660, 288, 54, 17);

    BuildCommandPanels(page);

    // Shown at the highest level only (the start-up hides it below); it lies over the panels.
    edError_ = new QLineEdit("0", page);
    edError_->setObjectName("edError");
    edError_->setGeometry(512, 264, 50, 17);
    edError_->setReadOnly(true);
    edError_->raise();

    viewControls_.Root = this;
    viewControls_.lbTime = time;
    viewControls_.lbFix = fix;
    viewControls_.lbLat = lat;
    viewControls_.lbLong = lon;
    viewControls_.lbHigh = alt;
    viewControls_.lpdop = pdop;
    viewControls_.lhdop = hdop;
    viewControls_.lvisible = inView;
    viewControls_.lbFixNo = used;
    viewControls_.leSpeed = speed;
    viewControls_.leDir = dir;
    viewControls_.lbClkOff = clock;
    viewControls_.edError = edError_;
    viewControls_.chSat = sky;
    viewControls_.chCn0 = chCn0_;
    viewControls_.moNMEA = memo;
    viewControls_.sgMeas = sgMeas_;
    viewControls_.StatusMark = status_[0];
    viewControls_.pnExpand = pnExpand_;
}

void TfmTop::BuildCommandPanels(QWidget* page) {
    // pnRestart
    QWidget* p = NewPanel(page, "pnRestart");
    Group(p, "SetStartMode", "", {"No Change", "Hot", "Warm", "Cold", "Test"}, 2, 4, 2, 216, 58);
    const struct {
        const char* Name;
        const char* Caption;
    } restart[8] = {{"RSTyear", "Year"},    {"RSTmonth", "Month"},   {"RSTday", "Day"},
                    {"RSThour", "Hour"},    {"RSTminute", "Minute"}, {"RSTsecond", "Second"},
                    {"RSTLat", "Latitude"}, {"RSTLong", "Longitude"}};
    for (int i = 0; i < 8; ++i) PanelEdit(p, restart[i].Name, restart[i].Caption, 4, 64 + i * 18, 62, 70);
    Group(p, "SelRestart", "", {"Hardware", "Software"}, 1, 142, 64, 78, 44)->setVisible(false);
    Button(p, "btSpecial", "Repeat Restart", 8, 214, 100)->setVisible(false);
    auto* every = new TLabeledEdit(p, "lbRepeat", "every ", "60");
    every->PlaceLeft(110, 217, 36, 30);
    every->setVisible(false);
    Label(p, "lbSecond", "seconds", 178, 217, 44, 17)->setVisible(false);

    // pnCfgIO
    p = NewPanel(page, "pnCfgIO");
    Group(p, "rgPort", "Com port", {"COM 1", "COM 2"}, 2, 4, 4, 216, 40);
    rgBaud_ = Group(p, "rgBaud", "Buad Rate", WorkingRates, 2, 4, 50, 216, 56);

    // pnSetDatum (Set Datum and Set Extended Datum)
    p = NewPanel(page, "pnSetDatum");
    PanelEdit(p, "lbEdIdx", "Ellipsoid Index ", 4, 8, 96, 110)->setVisible(false);
    PanelEdit(p, "lbDx", "Delta X", 4, 30, 96, 110);
    PanelEdit(p, "lbDy", "Delta Y", 4, 52, 96, 110);
    PanelEdit(p, "lbDz", "Delta Z", 4, 74, 96, 110);
    PanelEdit(p, "lbElpA", "Semi-Major ", 4, 96, 96, 110);
    PanelEdit(p, "lbElpF", "Inversed flat ", 4, 118, 96, 110);

    // pnCfgNmea
    p = NewPanel(page, "pnCfgNmea");
    const struct {
        const char* Name;
        const char* Caption;
    } nmea[7] = {{"lbRMC", "RMC"}, {"lbVTG", "VTG"}, {"lbGLL", "GLL"}, {"lbGSV", "GSV"},
                 {"lbGSA", "GSA"}, {"lbGGA", "GGA"}, {"lbZDA", "ZDA"}};
    for (int i = 0; i < 7; ++i) PanelEdit(p, nmea[i].Name, nmea[i].Caption, 4, 8 + i * 22, 40, 50);
    Check(p, "cbChkSumd", "Check Sum", DefaultItem("cbChkSumd", 1) != 0, 110, 8, 100);

    // pnNothing
    NewPanel(page, "pnNothing");

    // pnRevision
    p = NewPanel(page, "pnRevision");
    ReadOnlyAbove(p, "lbRevision", "Revision Label", 8, 8, 200);
    ReadOnlyAbove(p, "lbCRC", "CRC", 8, 44, 200);
    ReadOnlyAbove(p, "lbRevDate", "Date (YY/MM/DD)", 8, 80, 200);
    ReadOnlyAbove(p, "lbRevTime", "Time (HH:MM:SS)", 8, 116, 200);

    // pnClkOff
    p = NewPanel(page, "pnClkOff");
    ReadOnlyAbove(p, "lbClockOffSet", "Clock OffSet", 8, 8, 200);

    // pnBIT
    p = NewPanel(page, "pnBIT");
    PanelEdit(p, "lbItem", "Item ", 4, 8, 60, 60);
    for (int i = 1; i <= 4; ++i)
        Field(p, QString("lbResult%1").arg(i), QString("Result%1").arg(i), 4, 20 + i * 22, 60, 120);

    // pnReadEphs, pnReadAlmc
    p = NewPanel(page, "pnReadEphs");
    Progress(p, "pbReadEphs", 8, 8, 208);
    Field(p, "lbReadEphs", "# Ephs  received  ", 4, 32, 110, 70);
    Button(p, "btEphsSave", "Save", 8, 58, 70);
    ValueList(p, "vlEphs");
    p = NewPanel(page, "pnReadAlmc");
    Progress(p, "pbReadAlmc", 8, 8, 208);
    Field(p, "lbReadAlmc", "# Almc received  ", 4, 32, 110, 70);
    Button(p, "btSaveAlmc", "Save", 8, 58, 70);
    ValueList(p, "vlAlmc");

    // pnID
    p = NewPanel(page, "pnID");
    Group(p, "rgID", "", {"Production ID", "User Key ID"}, 2, 4, 4, 216, 30);
    PanelEdit(p, "edModuleID", "Module ID", 4, 42, 60, 140);

    // pnLocale
    p = NewPanel(page, "pnLocale");
    PanelEdit(p, "lbZoneHour", "Hour ", 4, 8, 96, 60);
    PanelEdit(p, "lbZoneMinute", "Minute ", 4, 30, 96, 60);
    PanelEdit(p, "lbZoneSecond", "Second ", 4, 52, 96, 60);
    PanelEdit(p, "lbDstAdjust", "DST Adjust Hour", 4, 74, 96, 60);
    Group(p, "rgGMTsign", "", {"GMT + (plus)", "GMT - (minus)"}, 1, 4, 100, 216, 44);
    Check(p, "cbUpdateSTime", "Update System Time", DefaultItem("cbUpdateSTime", 0) != 0, 8, 152, 180);

    // pnOutputFormat, pnFastHotStart
    p = NewPanel(page, "pnOutputFormat");
    Group(p, "rgOutputFormat", "",
          {"Disable", "NMEA", "Binary (Temorarily)", "Binary ( Permenently)", "Raw Data (need preliviledge)"},
          1, 4, 4, 216, 96);
    p = NewPanel(page, "pnFastHotStart");
    Group(p, "rdFastHotStart", "", {"Diable", "Enable"}, 1, 4, 4, 216, 44, 0);

    // pnTraceRead, pnTraceRecord
    p = NewPanel(page, "pnTraceRead");
    Group(p, "rgTraceBaud", "Baud rate", WorkingRates, 2, 4, 4, 216, 54)->setEnabled(false);
    Group(p, "rgTraceRdFmt", "Format", {"Binary", "NMEA"}, 2, 4, 62, 216, 38)->setEnabled(false);
    PanelEdit(p, "lbTracePos", "Start (0-based)", 4, 108, 96, 80);
    Group(p, "rgTraceReadAction", "", {"stop", "start"}, 2, 4, 132, 216, 30);
    QPushButton* traceLog = Button(p, "btTraceLog", "Log", 8, 170, 70);
    traceLog->setEnabled(false);
    traceLog->setVisible(false);
    p = NewPanel(page, "pnTraceRecord");
    PanelEdit(p, "lbTraceDist", "Distance (Meter)", 4, 8, 120, 80);
    PanelEdit(p, "lbTracePeriod", "Time period (Second)", 4, 30, 120, 80);
    PanelEdit(p, "lbTraceTime", "Time to log", 4, 52, 120, 80);
    Group(p, "rgTraceRecordAction", "", {"Stop log", "Start log"}, 2, 4, 78, 216, 30);

    // pnElvMask, pnDopMask
    p = NewPanel(page, "pnElvMask");
    PanelEdit(p, "edElvMask", "Mask", 4, 8, 40, 50);
    Label(p, "Label11", "degree", 98, 8, 50, 17);
    p = NewPanel(page, "pnDopMask");
    Group(p, "rgDopMask", "DOP Mask", {"No Dop Mask", "GDOP", "PDOP", "HDOP"}, 2, 4, 4, 216, 56);
    PanelEdit(p, "edGdop", "GDOP", 4, 68, 40, 50);
    PanelEdit(p, "edPdop", "PDOP", 4, 90, 40, 50);
    PanelEdit(p, "edHdop", "HDOP", 4, 112, 40, 50);

    // pn1PPS
    p = NewPanel(page, "pn1PPS");
    Group(p, "rg1PPS", "1PPS", {"Disable", "1PPS w/o output", "1PPS w/ output"}, 1, 4, 4, 216, 62);
    PanelEdit(p, "ed1ppsBW", "Basic width (0~3)", 4, 74, 110, 40);
    PanelEdit(p, "ed1ppsMul", "Multiplyer (1~16)", 4, 96, 110, 40);
    Label(p, "Label12", "0:20ms, 1:1ms, 2:20us, 3:1us", 8, 120, 208);

    // pnMaintainTrace
    p = NewPanel(page, "pnMaintainTrace");
    Group(p, "rgPwrOnState", "Power On State", {"Stop", "Start"}, 2, 4, 4, 216, 38);
    Group(p, "rgTraceStatus", "Trace Action", {"Read Status  ", "Clear Trace  ", "Enable", "Disable"}, 2, 4,
          46, 216, 54);
    for (const auto& [name, caption, y] : std::initializer_list<std::tuple<const char*, const char*, int>>{
             {"lbTraceUsed", "Used Percentage ", 108},
             {"lbTraceNum", "Number of Logged ", 130},
             {"lbReadTrcPos", "Read (0-based) ", 152}})
        Field(p, name, caption, 4, y, 110, 80);
    Label(p, "lbTraceStatus", "", 8, 178, 208, 17);

    // pnDgpsCtrl, pnUpdateRate, pnShowText
    p = NewPanel(page, "pnDgpsCtrl");
    Group(p, "rgSelDgps", "DGPS selection", {"Disable", "WAAS/EGNOS"}, 1, 4, 4, 216, 48);
    p = NewPanel(page, "pnUpdateRate");
    PanelEdit(p, "lbUpdateRate", "UpdateRate (1~5Hz)", 4, 8, 110, 40);
    p = NewPanel(page, "pnShowText");
    auto* text = new QPlainTextEdit(p);
    text->setObjectName("moShowText");
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    text->setGeometry(2, 2, 220, 261);

    // Every command panel shares the one placement rectangle.
    for (QFrame* panel : page->findChildren<QFrame*>(QRegularExpression("^pn"), Qt::FindDirectChildrenOnly))
        if (panel->objectName() != "pnExpand") panel->setGeometry(470, 23, 224, 265);
}

}  // namespace vantora
