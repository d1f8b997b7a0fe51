#include "app/top_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QStatusBar>
#include <QVBoxLayout>

#include "app/command_panels.h"
#include "app/config_page.h"
#include "app/controls.h"
#include "app/file_places.h"
#include "app/reload_page.h"
#include "app/setup_page.h"
#include "app/trace_page.h"
#include "app/view_page.h"
#include "app/view_widgets.h"
#include "serial/port_list.h"

namespace vantora {

namespace {

constexpr int ScanRates = 4;  // the working rates; the loader's 115200 is never tried
constexpr int MarqueeLength = 11;

const char* const AboutText =
    "      Vantora GPS Viewer\n"
    "\n"
    "\n"
    "Made by the Vantora project team\n"
    "Copyright (C) 2024 the Vantora project team. All rights reserved.";

}  // namespace

int WindowShared::CurrentPage() const {
    return Pages->currentIndex();
}

std::string WindowShared::DataFile(const char* name) const {
    return PlaceIn(DataFolder, name);
}

TfmTop::TfmTop(std::string settingsPath, const std::vector<std::string>& args, MessageBoxSink& boxes,
               const Clock& clock, const WindowTimings& timings, QWidget* parent)
    : QMainWindow(parent), settingsPath_(std::move(settingsPath)), shared_(boxes, clock, timings) {
    BuildFrame();

    Settings& s = shared_.State;
    const IniFile ini = IniFile::Load(settingsPath_);
    s = LoadSettings(ini);
    std::string dataError;
    shared_.DataFolder = ChooseDataFolder(PlaceEnvironment::FromEnvironment(), dataError);
    if (!ini.Problem().empty()) boxes.Show("Settings", ini.Problem(), BoxIcon::Error);
    if (!dataError.empty()) boxes.Show("Settings", dataError, BoxIcon::Error);
    // Level 0: the Trace page's tab stays, its controls cannot be used.
    if (s.PrivilegeLevel == 0) tracePage_->setEnabled(false);
    ApplyCommandLine(s, args, boxes);

    view_ = std::make_unique<ViewWidgets>(*viewPage_, *tracePage_, shared_.Status[0], pnExpand_, tables_);
    view_->Expanded = [this](bool expanded) { Expand(expanded); };
    view_->LinkStateShown = [this](const std::string& text) {
        shared_.Status[2]->setText(QString::fromStdString(text));
    };
    viewTask_ = std::make_unique<TViewTask>(shared_.Port, *view_, runner_, tables_, clock);
    loadTask_ = std::make_unique<TLoadTask>(shared_.Port, reloadPage_->Display(), runner_, clock);
    shared_.ViewTask = viewTask_.get();
    shared_.LoadTask = loadTask_.get();
    viewTask_->SetActive(false);
    loadTask_->SetActive(false);
    viewTask_->SetNmeaConfig(s.Nmea.data());
    view_->SetBinary(&viewTask_->Binary());
    Commands().SetView(view_.get());

    setupPage_->ShowSettings();
    configPage_->ShowSettings();
    reloadPage_->ShowSettings();
    Commands().ApplyPrivilege();
    FitTo(NormalSize);
    SetCaption("Vantora");

    pgCoder_->Guard = [this](int) { return BeforePageChange(); };
    connect(pgCoder_, &QTabWidget::currentChanged, this, &TfmTop::PageChanged);
    connect(pgCoder_, &QTabWidget::currentChanged, reloadPage_, &ReloadPage::PageChanged);
    connect(setupPage_, &SetupPage::ReconfigureChanged, reloadPage_, &ReloadPage::ShowReconfigure);
    connect(&Commands(), &CommandPanels::ScanRequested, this, &TfmTop::StartScan);
    connect(pnExpand_, &TClickLabel::Clicked, this, [this] {
        if (CurrentPage() == tsView) view_->ToggleExpand();
    });
    connect(viewPage_->chCn0, &TChartView::DoubleClicked, this, [this] { view_->ToggleChannels(); });
    scanTimer_.setInterval(shared_.Timings.ScanTickMs);
    connect(&scanTimer_, &QTimer::timeout, this, &TfmTop::ScanTick);
}

TfmTop::~TfmTop() {
    Shutdown();
}

CommandPanels& TfmTop::Commands() {
    return viewPage_->Commands();
}

// ---- The frame: pages, menu, status bar, free-standing controls ----

void TfmTop::BuildFrame() {
    setObjectName("fmTop");
    QFont font("Arial");
    font.setPixelSize(11);
    setFont(font);
    BuildMenu();
    BuildStatusBar();

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
    shared_.Pages = pgCoder_;

    shared_.OpenDialog = new QFileDialog(this);
    shared_.OpenDialog->setObjectName("OpenDialog1");
    shared_.OpenDialog->setNameFilter("Binary (*.bin)");
    shared_.OpenDialog->setDirectory(".");

    setupPage_ = new SetupPage(shared_);
    viewPage_ = new ViewPage(shared_);
    reloadPage_ = new ReloadPage(shared_);
    configPage_ = new ConfigPage(shared_, *reloadPage_);
    tracePage_ = new TracePage(shared_);
    pgCoder_->addTab(setupPage_, "&Setup");
    pgCoder_->addTab(viewPage_, "&View");
    pgCoder_->addTab(reloadPage_, "&Reload");
    pgCoder_->addTab(configPage_, "&Config");
    pgCoder_->addTab(tracePage_, "&Trace");
    pgCoder_->Bar()->setTabVisible(tsConfig, false);
    // No port while the Setup page is shown.
    pgCoder_->setCurrentIndex(tsSetup);

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
    pnExpand_->raise();
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
    connect(exit, &QAction::triggered, this, &TfmTop::Exit);

    // The Scan button stays hidden as designed; the menu offers the scan instead.
    QMenu* link = bar->addMenu("&Link");
    link->setObjectName("Link1");
    link->setFont(font());
    scanAction_ = link->addAction("&Scan for receiver");
    scanAction_->setObjectName("Scan1");
    scanAction_->setEnabled(false);
    connect(scanAction_, &QAction::triggered, this, &TfmTop::StartScan);

    QMenu* help = bar->addMenu("&Help");
    help->setObjectName("Help1");
    help->setFont(font());
    QAction* about = help->addAction("&About");
    about->setObjectName("About1");
    connect(about, &QAction::triggered, this, &TfmTop::ShowAbout);
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
        shared_.Status[static_cast<size_t>(i)] = panel;
    }
}

// ---- Pages as the connection switch ----

int TfmTop::CurrentPage() const {
    return pgCoder_->currentIndex();
}

bool TfmTop::RequestPage(int page) {
    return pgCoder_->Request(page);
}

bool TfmTop::BeforePageChange() {
    // A scan needs the port at the View page throughout; the page waits until it ends.
    if (shared_.ShutDown || scan_.Running) return false;
    const Settings& s = shared_.State;
    switch (CurrentPage()) {
        case tsSetup: {
            const int index = s.PortIndex;
            auto port = std::make_shared<TSerialPort>(index, BaudRates[s.LinkBaudIndex], 8, 0, 0, 2, 4096, 4096,
                                                      s.PortDevices[static_cast<size_t>(index)], shared_.Boxes);
            shared_.Port.Set(port);
            if (!port->Open()) {
                const std::string advice =
                    OpenFailureAdvice(s.PortDevices[static_cast<size_t>(index)], port->OpenFailure());
                shared_.Boxes.Show("Open com port", advice.empty() ? "Wrong com!" : advice, BoxIcon::Stop);
                // No half-open port is left behind: the next attempt starts afresh.
                port.reset();
                shared_.Port.Release();
                return false;
            }
            SetCaption(QString("COM%1-Vantora").arg(index + 1));
            break;
        }
        case tsView:
            viewTask_->SetActive(false);
            // The next visit starts collapsed, as the window's size does.
            view_->Collapse();
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

void TfmTop::PageChanged(int page) {
    shared_.Status[2]->clear();
    const Settings& s = shared_.State;
    if (page == tsReload) {
        ResetPort(BaudRates[LoaderBaudIndex]);
        if (s.AutoStart) loadTask_->SetActive(true);
    }
    if (page == tsView || page == tsTrace) {
        if (page == tsView) pnExpand_->show();
        ResetPort(BaudRates[s.LinkBaudIndex]);
        viewTask_->SetActive(true);
    }
    if (page == tsSetup) {
        // Closes the device at once: a worker inside a port call gets 0 or an error and never
        // needs this thread to let go of the object.
        shared_.Port.Release();
        SetCaption("Vantora");
    }
    if (page != tsTrace) pnExpand_->setText(" =>>");
    FitTo(page == tsTrace ? TraceSize : NormalSize);
    scanAction_->setEnabled(page == tsView && !scan_.Running);
}

void TfmTop::ResetPort(int baud) {
    if (std::shared_ptr<TSerialPort> port = shared_.Port.Get()) port->Reset(baud, 8, 0, 0, 2);
}

void TfmTop::SetCaption(const QString& caption) {
    setWindowTitle(caption);
    QGuiApplication::setApplicationDisplayName(caption);
}

void TfmTop::Expand(bool expanded) {
    viewPage_->SetExpanded(expanded);
    FitTo(expanded ? ExpandedSize : NormalSize);
}

void TfmTop::FitTo(QSize size) {
    // Parts just hidden or shown change the pages' minimum sizes only once the layouts have
    // run; the window may not shrink before that.
    for (int i = 0; i < 4; ++i) QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    resize(size);
}

// ---- Receiver scan ----

void TfmTop::StartScan() {
    if (shared_.ShutDown || scan_.Running || CurrentPage() != tsView || !shared_.Port.Get()) return;
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
    const int64_t now = shared_.Time.NowSeconds();
    scan_.Deadline = now + shared_.Timings.ScanSecondsPerRate;
    scan_.Last = now;
    shared_.Status[2]->setText("Start scanning ....");
    viewTask_->ResetSentenceCount();
}

void TfmTop::ScanTick() {
    if (!scan_.Running) return;
    const int64_t now = shared_.Time.NowSeconds();
    if (scan_.Deadline > now) {
        if (now - scan_.Last >= 1) {
            scan_.Last = now;
            QString marquee(MarqueeLength, QLatin1Char(' '));
            marquee[scan_.Marquee] = QLatin1Char('*');
            shared_.Status[1]->setText(marquee);
            scan_.Marquee = (scan_.Marquee + 1) % MarqueeLength;
        }
        return;
    }
    if (viewTask_->SentenceSeen()) {
        shared_.State.LinkBaudIndex = scan_.Rate;
        setupPage_->ShowLinkRate(scan_.Rate);
        EndScan(true);
        return;
    }
    if (scan_.Rate + 1 < ScanRates) {
        BeginScanRate(scan_.Rate + 1);
        return;
    }
    // The port stays at the last rate tried until the next page change.
    scanTimer_.stop();
    shared_.Boxes.Show("Information", "Couldn't connect to GPS ", BoxIcon::Information);
    EndScan(false);
}

void TfmTop::EndScan(bool found) {
    scanTimer_.stop();
    shared_.Status[2]->clear();
    scan_.Running = false;
    pgCoder_->Bar()->setEnabled(true);
    scanAction_->setEnabled(CurrentPage() == tsView && !shared_.ShutDown);
    emit ScanFinished(found);
}

// ---- Menu, close ----

void TfmTop::ShowAbout() {
    shared_.Boxes.Show("About",
                       std::string(AboutText) + "\n\nVersion 1.8b\nSettings: " + settingsPath_ +
                           "\nData files: " + (shared_.DataFolder.empty() ? "." : shared_.DataFolder),
                       BoxIcon::None);
}

void TfmTop::Exit() {
    SaveSettings();
    Shutdown();
    QCoreApplication::exit(0);
}

bool TfmTop::SaveSettings() {
    if (settingsSaved_) return true;
    // Said once: whatever happens, the window closes after this.
    settingsSaved_ = true;
    IniFile ini = IniFile::Load(settingsPath_);
    std::string error;
    if (!StoreSettings(ini, shared_.State))
        error = "Cannot write the port and the firmware path to " + settingsPath_ +
                ": the path holds a line break.";
    else if (PrepareFolderOf(settingsPath_, error) && ini.Save(settingsPath_, error))
        return true;
    shared_.Boxes.Show("Error", error + ".\n\nThe port and the firmware path were not saved.", BoxIcon::Error);
    return false;
}

void TfmTop::Shutdown() {
    if (shared_.ShutDown) return;
    shared_.ShutDown = true;
    scanTimer_.stop();
    scan_.Running = false;
    Commands().StopRepeat();
    // Workers waiting for the window are let go first, so that they can be joined.
    runner_.Close();
    if (viewTask_) viewTask_->Stop();
    if (loadTask_) loadTask_->Stop();
    shared_.Port.Release();
}

void TfmTop::closeEvent(QCloseEvent* event) {
    // A settings file that cannot be written never holds the window: the box says so once.
    if (!shared_.ShutDown) SaveSettings();
    Shutdown();
    event->accept();
}

void TfmTop::mouseDoubleClickEvent(QMouseEvent* event) {
    if (CurrentPage() == tsView) view_->ToggleExpand();
    event->accept();
}

}  // namespace vantora
