#include "app/top_window.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QListWidget>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <atomic>
#include <chrono>
#include <thread>

#include "protocol/commands.h"
#include "view/display_text.h"

namespace vantora {

namespace {

constexpr int NormalWidth = ViewWidgets::NormalWidth;
constexpr int NormalHeight = ViewWidgets::NormalHeight;
constexpr int TraceWidth = 300;
constexpr int ScanRates = 4;    // the working rates; the loader's 115200 is never tried
constexpr int ScanSeconds = 3;  // per rate: 2 to 3 s on the whole-second clock
constexpr int ScanTickMs = 50;
constexpr int MarqueeLength = 11;

const char* const AboutText =
    "      Vantora GPS Viewer\n"
    "\n"
    "\n"
    "Made by the Vantora project team\n"
    "Copyright (C) 2024 the Vantora project team. All rights reserved.";

QString WithoutMnemonic(QString text) {
    // "&NONE" is shown as "NONE"; "&&" stands for one ampersand.
    text.replace("&&", QString(QChar(0xFFFF)));
    text.remove('&');
    text.replace(QChar(0xFFFF), '&');
    return text;
}

}  // namespace

TfmTop::TfmTop(std::string settingsPath, const std::vector<std::string>& args, MessageBoxSink& boxes,
               const Clock& clock, QWidget* parent)
    : QMainWindow(parent), settingsPath_(std::move(settingsPath)), boxes_(boxes), clock_(clock) {
    BuildLayout();
    // No port while the Setup page is shown.
    pgCoder_->setCurrentIndex(tsSetup);

    settings_ = LoadSettings(IniFile::Load(settingsPath_));
    // Level 0: the Trace page's tab stays, its controls cannot be used.
    if (settings_.PrivilegeLevel == 0) pages_[tsTrace]->setEnabled(false);
    ApplyCommandLine(settings_, args, boxes_);

    FillControls();
    ApplyPrivilege();

    view_ = std::make_unique<ViewWidgets>(viewControls_, tables_);
    view_->ResizeWindow = [this](int width, int height) { SetWindowSize(width, height); };
    viewTask_ = std::make_unique<TViewTask>(port_, *view_, runner_, tables_, clock_);
    reload_ = MakeReloadDisplay();
    loadTask_ = std::make_unique<TLoadTask>(port_, *reload_, runner_, clock_);
    viewTask_->SetActive(false);
    loadTask_->SetActive(false);
    viewTask_->SetNmeaConfig(settings_.Nmea.data());
    view_->SetBinary(&viewTask_->Binary());

    InitCommandTree();
    InitTraceActions();
    InitMeasurementGrid();
    SetWindowSize(NormalWidth, NormalHeight);
    SetCaption("Vantora");

    ConnectHandlers();
    ConnectDataHandlers();
    ConnectCommandHandlers();
    ConnectReloadHandlers();
    FormCreate();
}

TfmTop::~TfmTop() {
    Shutdown();
}

// ---- Start-up ----

void TfmTop::FillControls() {
    const Settings& s = settings_;
    cbPort_->setCurrentIndex(s.PortIndex);
    lbPort_->setText(QString::fromLatin1(PortNames[s.PortIndex]));
    ShowReconfigure();
    cxReconfig_->setChecked(s.Reconfigure);
    lbDGPS_->setText(QString::fromLatin1(DgpsNames[s.DgpsMode]));
    rgDGPS_->SetItemIndex(s.DgpsMode);
    lbSetBaud_->setText(QString::number(s.ConfigBaud));
    // The box lists the four working rates only: 115200 selects nothing.
    cbSetBaud_->setCurrentIndex(s.ConfigBaudIndex < cbSetBaud_->count() ? s.ConfigBaudIndex : -1);
    cxDR_->setChecked(s.DeadReckoning != 0);
    lbShowDR_->setVisible(s.DeadReckoning != 0);
    RebuildNmeaLabel();
    cxPnmea_->setChecked(s.ProprietaryNmea != 0);
    cxChkSum_->setChecked((s.Nmea[CfgChecksum] & 0xFF) != 0);
}

void TfmTop::ApplyPrivilege() {
    if (settings_.PrivilegeLevel < 10) {
        for (const char* name : {"RSTyear", "RSTmonth", "RSTday", "RSThour", "RSTminute", "RSTsecond"})
            Control<QWidget>(name)->setVisible(false);
        edError_->setVisible(false);
        lbSentence_->resize(281, lbSentence_->height());
    }
    if (settings_.PrivilegeLevel == 0) rgBaud_->SetItems({"4800", "9600", "19200"});
}

void TfmTop::InitCommandTree() {
    QWidget* nothing = Control<QWidget>("pnNothing");
    commandPanels_.fill(nothing);
    for (const CommandInfo& c : CommandTable)
        if (QWidget* panel = Control<QWidget>(c.Panel)) commandPanels_[static_cast<size_t>(c.Number)] = panel;
    selectedCommand_ = 0;
    cmdTree_->clear();
    treeCommands_.clear();
    for (const CommandInfo& c : CommandTable) {
        if (c.Level > settings_.PrivilegeLevel) continue;
        new QTreeWidgetItem(cmdTree_, QStringList{QString::fromLatin1(c.TreeText)});
        treeCommands_.push_back(c.Number);
    }
}

void TfmTop::InitTraceActions() {
    tracePanels_.fill(Control<QWidget>("pnNothing"));
    const char* panels[4] = {"pnTrcClear", "pnTrcRead", "pnTrcRecord", "pnTrcConvert"};
    for (int i = 0; i < 4; ++i) tracePanels_[static_cast<size_t>(i + 1)] = Control<QWidget>(panels[i]);
    traceActionIndex_ = 0;
}

void TfmTop::InitMeasurementGrid() {
    for (int c = 0; c < 10; ++c) sgMeas_->item(0, c)->setText(QString::fromLatin1(MeasurementHeadings[c]));
    for (int r = 1; r <= 12; ++r) sgMeas_->item(r, 0)->setText(QString::number(r));
    sgMeas_->resize(679, 225);
}

void TfmTop::FormCreate() {
    view_->ClearCn0();
    view_->PlaceCircles();
}

QWidget* TfmTop::CommandPanel(int command) const {
    return command >= 0 && command <= 32 ? commandPanels_[static_cast<size_t>(command)] : nullptr;
}

void TfmTop::ConnectHandlers() {
    pgCoder_->Guard = [this](int page) { return pgBeforeChanging(page); };
    connect(pgCoder_, &QTabWidget::currentChanged, this, &TfmTop::pgCoderChange);
    connect(cbPort_, &QComboBox::currentIndexChanged, this, &TfmTop::cbPortChange);
    connect(cbFWbaud_, &QComboBox::currentIndexChanged, this, &TfmTop::cbFWbaudChange);
    connect(Control<QPushButton>("btScan"), &QPushButton::clicked, this, &TfmTop::btScanClick);
    connect(cbSetBaud_, &QComboBox::currentIndexChanged, this, &TfmTop::cbSetBaudChange);
    connect(rgDGPS_, &TRadioGroup::Clicked, this, &TfmTop::rgDGPSClick);
    connect(cxDR_, &QCheckBox::clicked, this, &TfmTop::cxDRClick);
    connect(clNMEA_, &QListWidget::itemChanged, this, &TfmTop::clNMEAClick);
    connect(cxPnmea_, &QCheckBox::clicked, this, &TfmTop::cxPnmeaClick);
    connect(pnExpand_, &TClickLabel::Clicked, this, &TfmTop::pnExpandClick);
    connect(chCn0_, &TChartView::DoubleClicked, this, &TfmTop::chCn0DblClick);
    edError_->installEventFilter(this);
    scanTimer_.setInterval(ScanTickMs);
    connect(&scanTimer_, &QTimer::timeout, this, &TfmTop::ScanTick);
}

// ---- Pages as the connection switch ----

int TfmTop::CurrentPage() const {
    return pgCoder_->currentIndex();
}

bool TfmTop::RequestPage(int page) {
    return pgCoder_->Request(page);
}

bool TfmTop::pgBeforeChanging(int /*newPage*/) {
    // A scan needs the port at the View page throughout; the page waits until it ends.
    if (shutDown_ || scan_.Running) return false;
    switch (CurrentPage()) {
        case tsSetup: {
            const int index = settings_.PortIndex;
            auto port = std::make_shared<TSerialPort>(
                index, BaudRates[settings_.LinkBaudIndex], 8, 0, 0, 2, 4096, 4096,
                settings_.PortDevices[static_cast<size_t>(index)], boxes_);
            port_.Set(port);
            if (!port->Open()) {
                boxes_.Show("Open com port", "Wrong com!", BoxIcon::Stop);
                // No half-open port is left behind: the next attempt starts afresh.
                port.reset();
                port_.Release();
                return false;
            }
            SetCaption(QString("COM%1-Vantora").arg(index + 1));
            break;
        }
        case tsView:
            viewTask_->SetActive(false);
            SetWindowSize(NormalWidth, NormalHeight);
            pnExpand_->hide();
            break;
        case tsTrace:
            viewTask_->SetActive(false);
            break;
        case tsReload:
            loadTask_->SetActive(false);
            break;
        default:
            break;
    }
    return true;
}

void TfmTop::pgCoderChange(int page) {
    status_[2]->clear();
    if (page == tsReload) {
        ResetPort(BaudRates[LoaderBaudIndex]);
        if (settings_.AutoStart) loadTask_->SetActive(true);
    }
    if (page == tsView || page == tsTrace) {
        if (page == tsView) pnExpand_->show();
        ResetPort(BaudRates[settings_.LinkBaudIndex]);
        viewTask_->SetActive(true);
    }
    if (page == tsSetup) {
        // Closes the device at once: a worker inside a port call gets 0 or an error and never
        // needs this thread to let go of the object.
        port_.Release();
        SetCaption("Vantora");
    }
    if (page != tsTrace) pnExpand_->setText(" =>>");
    SetWindowSize(page == tsTrace ? TraceWidth : NormalWidth, NormalHeight);
    scanAction_->setEnabled(page == tsView && !scan_.Running);
}

void TfmTop::cbPortChange(int index) {
    if (index >= 0) settings_.PortIndex = index;
}

void TfmTop::cbFWbaudChange(int index) {
    if (index >= 0) settings_.LinkBaudIndex = index;
}

void TfmTop::ResetPort(int baud) {
    if (std::shared_ptr<TSerialPort> port = port_.Get()) port->Reset(baud, 8, 0, 0, 2);
}

void TfmTop::SetCaption(const QString& caption) {
    setWindowTitle(caption);
    QGuiApplication::setApplicationDisplayName(caption);
}

void TfmTop::SetWindowSize(int width, int height) {
    setFixedSize(width, height);
}

// ---- Receiver scan ----

void TfmTop::btScanClick() {
    if (shutDown_ || scan_.Running || CurrentPage() != tsView || !port_.Get()) return;
    scan_.Running = true;
    scan_.Marquee = 0;
    pgCoder_->Bar()->setEnabled(false);
    scanAction_->setEnabled(false);
    BeginScanRate(0);
    scanTimer_.start();
}

void TfmTop::BeginScanRate(int rateIndex) {
    scan_.Rate = rateIndex;
    ResetPort(BaudRates[rateIndex]);
    const int64_t now = clock_.NowSeconds();
    scan_.Deadline = now + ScanSeconds;
    scan_.Last = now;
    status_[2]->setText("Start scanning ....");
    viewTask_->ResetSentenceCount();
}

void TfmTop::ScanTick() {
    if (!scan_.Running) return;
    const int64_t now = clock_.NowSeconds();
    if (scan_.Deadline > now) {
        if (now - scan_.Last >= 1) {
            scan_.Last = now;
            QString marquee(MarqueeLength, QLatin1Char(' '));
            marquee[scan_.Marquee] = QLatin1Char('*');
            status_[1]->setText(marquee);
            scan_.Marquee = (scan_.Marquee + 1) % MarqueeLength;
        }
        return;
    }
    if (viewTask_->SentenceSeen()) {
        settings_.LinkBaudIndex = scan_.Rate;
        cbFWbaud_->setCurrentIndex(scan_.Rate);
        EndScan(true);
        return;
    }
    if (scan_.Rate + 1 < ScanRates) {
        BeginScanRate(scan_.Rate + 1);
        return;
    }
    // The port stays at the last rate tried until the next page change.
    scanTimer_.stop();
    boxes_.Show("Information", "Couldn't connect to GPS ", BoxIcon::Information);
    EndScan(false);
}

void TfmTop::EndScan(bool found) {
    scanTimer_.stop();
    status_[2]->clear();
    scan_.Running = false;
    pgCoder_->Bar()->setEnabled(true);
    scanAction_->setEnabled(CurrentPage() == tsView && !shutDown_);
    emit ScanFinished(found);
}

// ---- Configuration page (its values stay in the window) ----

void TfmTop::cbSetBaudChange(int index) {
    if (index >= 0) lbSetBaud_->setText(cbSetBaud_->itemText(index));
}

void TfmTop::rgDGPSClick(int index) {
    const QStringList items = rgDGPS_->Items();
    if (index >= 0 && index < items.size()) lbDGPS_->setText(WithoutMnemonic(items[index]));
}

void TfmTop::cxDRClick() {
    settings_.DeadReckoning = cxDR_->isChecked() ? 1 : 0;
    lbShowDR_->setText(cxDR_->isChecked() ? "Dead-Reckoning" : "");
}

void TfmTop::clNMEAClick() {
    auto ticked = [this](int i) { return clNMEA_->item(i)->checkState() == Qt::Checked ? 1 : 0; };
    NmeaConfig& n = settings_.Nmea;
    n[CfgGga] = ticked(0);
    n[CfgGll] = ticked(1);
    n[CfgRmc] = ticked(2);
    n[CfgGsv] = ticked(3);
    n[CfgGsa] = ticked(4);
    n[CfgVtg] = ticked(5);
    n[CfgZda] = ticked(5);
    RebuildNmeaLabel();
}

void TfmTop::cxPnmeaClick() {
    const int on = cxPnmea_->isChecked() ? 1 : 0;
    settings_.ProprietaryNmea = on;
    settings_.Nmea[CfgChecksum] = on;
    RebuildNmeaLabel();
}

void TfmTop::RebuildNmeaLabel() {
    lbNMEA_->setText(QString::fromStdString(NmeaCaption(settings_.Nmea, settings_.ProprietaryNmea)));
}

void TfmTop::ShowReconfigure() {
    lbReconfig_->setText(settings_.Reconfigure ? "ON" : "OFF");
}

// ---- Menu, toggles, close ----

void TfmTop::About1Click() {
    boxes_.Show("About", AboutText, BoxIcon::None);
}

void TfmTop::Exit1Click() {
    if (!SaveSettings()) return;
    Shutdown();
    QCoreApplication::exit(0);
}

bool TfmTop::SaveSettings() {
    IniFile ini = IniFile::Load(settingsPath_);
    std::string error;
    if (!StoreSettings(ini, settings_))
        error = "Cannot write the port and the firmware path to " + settingsPath_ +
                ": the path holds a line break.";
    else if (ini.Save(settingsPath_, error))
        return true;
    boxes_.Show("Error", error, BoxIcon::Error);
    return false;
}

void TfmTop::Shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    scanTimer_.stop();
    scan_.Running = false;
    if (tmrRepeat_) tmrRepeat_->stop();
    // Workers waiting for the window are let go first, so that they can be joined.
    runner_.Close();
    if (viewTask_) viewTask_->Stop();
    if (loadTask_) loadTask_->Stop();
    port_.Release();
}

void TfmTop::closeEvent(QCloseEvent* event) {
    if (!shutDown_ && !SaveSettings()) {
        event->ignore();
        return;
    }
    Shutdown();
    event->accept();
}

void TfmTop::mouseDoubleClickEvent(QMouseEvent* event) {
    if (CurrentPage() == tsView) view_->ToggleExpand();
    event->accept();
}

void TfmTop::pnExpandClick() {
    if (CurrentPage() == tsView) view_->ToggleExpand();
}

void TfmTop::chCn0DblClick() {
    view_->ToggleChannels();
}

bool TfmTop::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edError_ && event->type() == QEvent::MouseButtonDblClick) {
        viewTask_->ClearErrorCount();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace vantora
