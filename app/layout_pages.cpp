// The window's frame (pages, menu, status bar, free-standing controls) and the Setup,
// Reload, Config and Trace pages.
#include <QAction>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QListWidget>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/layout_util.h"
#include "app/top_window.h"

namespace vantora {

using namespace layout;

namespace {

// The product picture of the Setup page: a globe with an orbit and the product name.
QPixmap ProductPicture(int width, int height) {
    QPixmap pix(width, height);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF globe(3, 3, height - 6, height - 6);
    p.setPen(QPen(QColor(0x10, 0x30, 0x80), 1.2));
    p.setBrush(QColor(0x40, 0x80, 0xD0));
    p.drawEllipse(globe);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0xE0, 0xF0, 0xFF), 0.8));
    p.drawEllipse(globe.adjusted(globe.width() * 0.3, 0, -globe.width() * 0.3, 0));
    p.drawLine(QPointF(globe.left(), globe.center().y()), QPointF(globe.right(), globe.center().y()));
    p.setPen(QPen(QColor(0xFF, 0xB0, 0x20), 1.4));
    p.drawEllipse(globe.adjusted(-2, globe.height() * 0.35, 2, -globe.height() * 0.35));
    QFont f("Arial");
    f.setPixelSize(16);
    f.setBold(true);
    f.setItalic(true);
    p.setFont(f);
    p.setPen(QColor(0x00, 0x00, 0x80));
    p.drawText(QRectF(height + 4, 0, width - height - 4, height), Qt::AlignVCenter | Qt::AlignLeft,
               "Vantora GPS Viewer");
    return pix;
}

}  // namespace

void TfmTop::BuildLayout() {
    setObjectName("fmTop");
    QFont font("Arial");
    font.setPixelSize(11);
    setFont(font);

    auto* client = new QWidget(this);
    client->setObjectName("Client");
    setCentralWidget(client);
    auto* clientLayout = new QVBoxLayout(client);
    clientLayout->setContentsMargins(0, 0, 0, 0);

    pgCoder_ = new TPageControl(client);
    pgCoder_->setObjectName("pgCoder");
    pgCoder_->setUsesScrollButtons(false);
    // Some platform themes give tab rows and menus fonts of their own.
    pgCoder_->Bar()->setFont(font);
    clientLayout->addWidget(pgCoder_);
    const char* names[5] = {"tsSetup", "tsView", "tsReload", "tsConfig", "tsTrace"};
    const char* captions[5] = {"&Setup", "&View", "&Reload", "&Config", "&Trace"};
    for (int i = 0; i < 5; ++i) {
        pages_[static_cast<size_t>(i)] = new QWidget();
        pages_[static_cast<size_t>(i)]->setObjectName(names[i]);
        pgCoder_->addTab(pages_[static_cast<size_t>(i)], captions[i]);
    }
    pgCoder_->Bar()->setTabVisible(tsConfig, false);

    // Free-standing controls over the tab row.
    auto* shape = new QFrame(client);
    shape->setObjectName("Shape1");
    shape->setFrameShape(QFrame::NoFrame);
    shape->setGeometry(200, 8, 57, 17);
    shape->lower();
    pnExpand_ = new TClickLabel(" =>>", client);
    pnExpand_->setObjectName("pnExpand");
    pnExpand_->setGeometry(176, 0, 505, 17);
    QFont expandFont("Arial");
    expandFont.setPixelSize(16);
    expandFont.setBold(true);
    expandFont.setItalic(true);
    pnExpand_->setFont(expandFont);
    pnExpand_->setCursor(Qt::PointingHandCursor);
    pnExpand_->hide();

    BuildMenu();
    BuildStatusBar();
    BuildSetupPage(pages_[tsSetup]);
    BuildViewPage(pages_[tsView]);
    BuildReloadPage(pages_[tsReload]);
    BuildConfigPage(pages_[tsConfig]);
    BuildTracePage(pages_[tsTrace]);
    pnExpand_->raise();

    tmrRepeat_ = new QTimer(this);
    tmrRepeat_->setObjectName("tmrRepeat");
    tmrRepeat_->setInterval(1000);

    openDialog_ = new QFileDialog(this);
    openDialog_->setObjectName("OpenDialog1");
    openDialog_->setNameFilter("Binary (*.bin)");
    openDialog_->setDirectory(".");
}

void TfmTop::BuildMenu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName("MainMenu1");
    bar->setFont(font());
    QMenu* file = bar->addMenu("&File");
    file->setObjectName("File1");
    file->setFont(font());
    QAction* exit = file->addAction("E&xit");
    exit->setObjectName("Exit1");
    connect(exit, &QAction::triggered, this, &TfmTop::Exit1Click);

    // The Scan button stays hidden as designed; the menu offers the scan instead.
    QMenu* link = bar->addMenu("&Link");
    link->setObjectName("Link1");
    link->setFont(font());
    scanAction_ = link->addAction("&Scan for receiver");
    scanAction_->setObjectName("Scan1");
    scanAction_->setEnabled(false);
    connect(scanAction_, &QAction::triggered, this, &TfmTop::btScanClick);

    QMenu* help = bar->addMenu("&Help");
    help->setObjectName("Help1");
    help->setFont(font());
    QAction* about = help->addAction("&About");
    about->setObjectName("About1");
    connect(about, &QAction::triggered, this, &TfmTop::About1Click);
}

void TfmTop::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName("sbStatus");
    bar->setSizeGripEnabled(false);
    bar->setFixedHeight(24);
    bar->setFont(font());
    const int widths[3] = {20, 100, 20};
    for (int i = 0; i < 3; ++i) {
        auto* panel = new QLabel(bar);
        panel->setObjectName(QString("sbStatusPanel%1").arg(i));
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        if (i < 2) {
            panel->setFixedWidth(widths[i]);
            panel->setAlignment(Qt::AlignCenter);
        } else {
            panel->setMinimumWidth(widths[i]);
            panel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        }
        bar->addWidget(panel, i == 2 ? 1 : 0);
        status_[i] = panel;
    }
}

void TfmTop::BuildSetupPage(QWidget* page) {
    Label(page, "Label6", "Com Port", 16, 20, 70);
    QStringList ports;
    for (int i = 1; i <= PortCount; ++i) ports << QString("COM%1").arg(i);
    cbPort_ = DropDown(page, "cbPort", ports, 0, 96, 17, 110);
    Label(page, "Label7", "Baud Rate", 16, 52, 70);
    cbFWbaud_ = DropDown(page, "cbFWbaud", WorkingRates, 0, 96, 49, 110);

    // Loader options kept in the layout but never offered.
    QCheckBox* reconfig = Check(page, "cxReconfig", "&Reconfigure", false, 16, 84, 120);
    QCheckBox* revChk = Check(page, "cxRevChk", "&Revision Check", false, 16, 104, 120);
    auto* revision = new QLineEdit("Rev10000000", page);
    revision->setObjectName("edRevsion");
    revision->setGeometry(140, 102, 100, 17);
    auto* leadTime = new TLabeledEdit(page, "leLeadTime", "Lead Time", "8");
    leadTime->PlaceLeft(16, 126, 60, 40);
    for (QWidget* w : std::initializer_list<QWidget*>{reconfig, revChk, revision, leadTime}) {
        w->setEnabled(false);
        w->setVisible(false);
    }
    cxReconfig_ = reconfig;
    Check(page, "cbExtendView", "Extended VIEWER", false, 16, 148, 140)->setVisible(false);

    // The product band at the bottom of the page.
    auto* band = new QFrame(page);
    band->setObjectName("Panel2");
    band->setFixedHeight(78);
    band->setFrameShape(QFrame::NoFrame);
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->addStretch(1);
    pageLayout->addWidget(band);
    auto* image = new QLabel(band);
    image->setObjectName("Image1");
    image->setGeometry(4, 0, 220, 33);
    image->setPixmap(ProductPicture(220, 33));
    auto* memo = new QPlainTextEdit(band);
    memo->setObjectName("Memo1");
    memo->setGeometry(0, 33, 282, 45);
    memo->setFrameShape(QFrame::NoFrame);
    memo->setReadOnly(true);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memo->setTextInteractionFlags(Qt::NoTextInteraction);
    QPalette pal = memo->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::Button));
    pal.setColor(QPalette::Text, QColor(0x00, 0x00, 0x80));
    memo->setPalette(pal);
    memo->document()->setDocumentMargin(1);
    memo->setPlainText("Vantora 1.8b\nThe Vantora project team, 2024\nhttps://vantora.example/");
}

void TfmTop::BuildReloadPage(QWidget* page) {
    QLabel* state = Label(page, "lbState", "Setup!", 8, 8, 150, 18);
    QFont bold = state->font();
    bold.setBold(true);
    state->setFont(bold);
    QPalette green = state->palette();
    green.setColor(QPalette::WindowText, QColor(0x00, 0x80, 0x00));
    state->setPalette(green);
    QPushButton* go = Button(page, "sbGo", "Write", 190, 4, 80, 24);
    go->setCheckable(true);
    go->setEnabled(false);
    Progress(page, "brProgress", 8, 34, 262);

    auto* info = new QGroupBox("Information", page);
    info->setObjectName("GroupBox1");
    info->setGeometry(8, 54, 262, 172);
    QLabel* reconfigCaption = Label(info, "Label1", "Reconfigure", 8, 18, 64);
    lbReconfig_ = Label(info, "lbReconfig", "OFF", 74, 18, 40);
    QLabel* portCaption = Label(info, "Label2", "Port", 130, 18, 30);
    lbPort_ = Label(info, "lbPort", "COM1", 162, 18, 90);
    for (QLabel* l : {reconfigCaption, lbReconfig_, portCaption, lbPort_}) l->setVisible(false);
    Label(info, "Label3", "File", 8, 38, 30);
    Label(info, "lbFile", "none", 40, 38, 212);
    auto* crc = new TLabeledEdit(info, "edCRC", "CRC", "0");
    crc->PlaceLeft(8, 58, 30, 70);
    Check(info, "cxAutoStart", "Auto Load", false, 8, 80, 110);
    Check(info, "cbFactoryDefault", "Factory Default", false, 8, 100, 110);
    QLabel* result = Label(info, "lbResult", "", 126, 74, 130, 36);
    QFont big("Arial");
    big.setPixelSize(27);
    big.setBold(true);
    result->setFont(big);

    auto* config = new QGroupBox("Configuration", info);
    config->setObjectName("GroupBox2");
    config->setGeometry(8, 122, 246, 46);
    Label(config, "Label4", "DGPS", 6, 14, 30);
    lbDGPS_ = Label(config, "lbDGPS", "NONE", 38, 14, 40);
    lbShowDR_ = Label(config, "lbShowDR", "Dead-Reckoning", 90, 14, 90);
    Label(config, "Label5", "Buad", 184, 14, 26);
    lbSetBaud_ = Label(config, "lbSetBaud", "4800", 210, 14, 34);
    lbNMEA_ = Label(config, "lbNMEA", "GGA,GSV,GSA,RMC,pNMEA", 6, 28, 236);
    config->setVisible(false);

    auto* type = new TRadioGroup(info, "rgType", "Target", {"Default", "USB", "4100"}, 0, 3);
    type->setGeometry(8, 124, 246, 40);

    Button(page, "bbBrowse", "&Browse", 8, 232, 70, 23);
    auto* path = new QLineEdit(page);
    path->setObjectName("edFilePath");
    path->setReadOnly(true);
    path->setGeometry(84, 234, 186, 19);
    auto* addr = new TLabeledEdit(page, "leLoadAddr", "Address", "C0000");
    addr->PlaceLeft(8, 264, 50, 60);
    auto* size = new TLabeledEdit(page, "leLoadSize", "Size (K bytes)", "192");
    size->PlaceLeft(124, 264, 96, 50);
}

void TfmTop::BuildConfigPage(QWidget* page) {
    Label(page, "Label8", "Baud", 8, 8, 40);
    cbSetBaud_ = DropDown(page, "cbSetBaud", WorkingRates, 0, 50, 5, 90);

    auto* nmea = new QGroupBox("NMEA", page);
    nmea->setObjectName("GroupBox3");
    nmea->setGeometry(8, 34, 240, 150);
    clNMEA_ = new QListWidget(nmea);
    clNMEA_->setObjectName("clNMEA");
    clNMEA_->setGeometry(8, 34, 70, 108);
    const char* sentences[6] = {"GGA", "GSV", "GSA", "RMC", "VTG", "RLL"};
    for (int i = 0; i < 6; ++i) {
        auto* item = new QListWidgetItem(sentences[i], clNMEA_);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(i < 4 ? Qt::Checked : Qt::Unchecked);
    }
    Label(nmea, "Label9", "Interval", 86, 18, 50);
    for (int i = 0; i < 6; ++i) {
        auto* interval = new QLineEdit("1", nmea);
        interval->setObjectName(QString("edInterval%1").arg(i + 1));
        interval->setGeometry(86, 34 + i * 18, 34, 17);
    }
    cxPnmea_ = Check(nmea, "cxPnmea", "pNMEA", true, 132, 34, 100);
    cxChkSum_ = Check(nmea, "cxChkSum", "Check Sum", true, 132, 54, 100);
    cxDR_ = Check(page, "cxDR", "Dead-Reckoning", true, 8, 192, 140);
    rgDGPS_ = new TRadioGroup(page, "rgDGPS", "DGPS", {"&NONE", "&RTCM", "&WAAS"}, 0, 3);
    rgDGPS_->setGeometry(8, 214, 240, 40);
}

void TfmTop::BuildTracePage(QWidget* page) {
    tvTraceCmd_ = new QTreeWidget(page);
    tvTraceCmd_->setObjectName("tvTraceCmd");
    tvTraceCmd_->setHeaderHidden(true);
    tvTraceCmd_->setRootIsDecorated(false);
    tvTraceCmd_->setGeometry(0, 0, 88, 100);
    tvTraceCmd_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (const char* action : {"Clear", "Read", "Record", "Convert"})
        new QTreeWidgetItem(tvTraceCmd_, QStringList{action});

    Label(page, "lbTrace", "no action", 92, 4, 180);
    Label(page, "lbTrcStatus", "", 2, 104, 86);
    const struct {
        const char* Name;
        const char* Caption;
        int Y;
    } fields[3] = {{"lbTrcPct", "Percentage", 122},
                   {"lbTrcLogged", "Logged", 158},
                   {"lbTrcReadPos", "Read position", 194}};
    for (const auto& f : fields) ReadOnlyAbove(page, f.Name, f.Caption, 2, f.Y, 84, "0");
    Button(page, "Button1", "Request", 2, 234, 84);

    QWidget* clear = NewPanel(page, "pnTrcClear");
    Button(clear, "btClear", "Clear", 8, 8, 70);

    QWidget* read = NewPanel(page, "pnTrcRead");
    Button(read, "btTrcRead", "Start", 4, 4, 70);
    auto* baud = new TRadioGroup(read, "rdTrcBaud", "Baud rate", WorkingRates, 3, 2);
    baud->setGeometry(4, 32, 172, 54);
    baud->setEnabled(false);
    auto* format = new TRadioGroup(read, "rdTrcFormat", "Format", {"Binary", "NMEA"}, 0, 2);
    format->setGeometry(4, 90, 172, 38);
    format->setEnabled(false);
    auto* start = new TLabeledEdit(read, "lbStartPos", "Start Poisition", "0");
    start->PlaceLeft(4, 136, 80, 60);
    Progress(read, "pbReadProgress", 4, 162, 130)->setTextVisible(false);
    Label(read, "lbProgress", "0", 138, 162, 24);
    Label(read, "Label10", "%", 162, 162, 12);

    QWidget* record = NewPanel(page, "pnTrcRecord");
    Button(record, "btTrcRecord", "Start", 4, 4, 70);
    const struct {
        const char* Name;
        const char* Caption;
        const char* Text;
        int Y;
    } edits[3] = {{"lbTrcDistance", "Distance (Meter)", "0", 34},
                  {"lbTrcPeriod", "Time period (Second)", "0", 72},
                  {"lbTrcTime", "Time to log", "65535", 110}};
    for (const auto& e : edits)
        (new TLabeledEdit(record, e.Name, e.Caption, e.Text))->PlaceAbove(4, e.Y, 120);

    QWidget* convert = NewPanel(page, "pnTrcConvert");
    Button(convert, "btConvert", "Start", 4, 4, 70);
    auto* kind = new TRadioGroup(convert, "rgSelCvt", "Convert type",
                                 {"ECEF(x,y,z) in ASCII", "Geodetic in ASCII"}, 0);
    kind->setGeometry(4, 32, 172, 54);
    Progress(convert, "pbConvert", 4, 94, 172)->setTextVisible(false);

    for (QWidget* p : {clear, read, record, convert}) p->setGeometry(90, 23, 180, 265);
}

QWidget* TfmTop::NewPanel(QWidget* page, const char* name) {
    QFrame* panel = Panel(page, name, 0, 0, 10, 10);
    panel->setVisible(false);
    return panel;
}

}  // namespace vantora
