#include "app/reload_page.h"

#include <QCheckBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <filesystem>

#include "app/layout_util.h"

namespace vantora {

using namespace layout;

namespace {

// Write's restart steps stopped because the window closed or the port went away meanwhile.
struct RestartCancelled {};

// The program's clock, except that a sleep keeps the window serving its events, so that the
// restart steps of Write (200 ms and 400 ms) neither freeze the window nor the loader thread,
// which may be waiting for the window to show something.
class ServingClock : public Clock {
public:
    ServingClock(const Clock& base, std::function<bool()> cancelled)
        : base_(base), cancelled_(std::move(cancelled)) {}
    int64_t NowSeconds() const override { return base_.NowSeconds(); }
    int64_t NowMs() const override { return base_.NowMs(); }
    int64_t UnixSeconds() const override { return base_.UnixSeconds(); }
    void SleepMs(int ms) const override {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
        if (cancelled_()) throw RestartCancelled{};
    }

private:
    const Clock& base_;
    std::function<bool()> cancelled_;
};

}  // namespace

ReloadPage::ReloadPage(WindowShared& shared) : shared_(shared) {
    setObjectName("tsReload");
    lbState_ = Label(this, "lbState", "Setup!");
    QFont bold = lbState_->font();
    bold.setBold(true);
    lbState_->setFont(bold);
    QPalette green = lbState_->palette();
    green.setColor(QPalette::WindowText, QColor(0x00, 0x80, 0x00));
    lbState_->setPalette(green);
    sbGo_ = Button(this, "sbGo", "Write", 80);
    sbGo_->setFixedHeight(24);
    sbGo_->setCheckable(true);
    sbGo_->setEnabled(false);
    brProgress_ = Progress(this, "brProgress");

    auto* info = new QGroupBox("Information", this);
    info->setObjectName("GroupBox1");
    auto* grid = new QGridLayout(info);
    grid->setContentsMargins(4, 4, 4, 4);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(3);
    QLabel* reconfigCaption = Label(info, "Label1", "Reconfigure");
    lbReconfig_ = Label(info, "lbReconfig", "OFF");
    QLabel* portCaption = Label(info, "Label2", "Port");
    lbPort_ = Label(info, "lbPort", "COM1");
    for (QLabel* l : {reconfigCaption, lbReconfig_, portCaption, lbPort_}) l->setVisible(false);
    grid->addWidget(reconfigCaption, 0, 0);
    grid->addWidget(lbReconfig_, 0, 1);
    grid->addWidget(portCaption, 0, 2);
    grid->addWidget(lbPort_, 0, 3);
    grid->addWidget(Label(info, "Label3", "File"), 1, 0);
    lbFile_ = Label(info, "lbFile", "none");
    grid->addWidget(lbFile_, 1, 1, 1, 3);
    edCRC_ = Field(info, "edCRC", "CRC", "0", grid, 2, 0, 70);
    edCRC_->Label()->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    cxAutoStart_ = Check(info, "cxAutoStart", "Auto Load", false);
    cbFactoryDefault_ = Check(info, "cbFactoryDefault", "Factory Default", false);
    grid->addWidget(cxAutoStart_, 3, 0, 1, 2);
    grid->addWidget(cbFactoryDefault_, 4, 0, 1, 2);
    lbResult_ = Label(info, "lbResult", "");
    QFont big("Arial");
    big.setPixelSize(27);
    big.setBold(true);
    lbResult_->setFont(big);
    lbResult_->setMinimumWidth(130);
    grid->addWidget(lbResult_, 2, 2, 3, 2, Qt::AlignLeft | Qt::AlignVCenter);

    auto* config = new QGroupBox("Configuration", info);
    config->setObjectName("GroupBox2");
    auto* summary = new QGridLayout(config);
    summary->setContentsMargins(6, 0, 2, 2);
    summary->setVerticalSpacing(0);
    summary->addWidget(Label(config, "Label4", "DGPS"), 0, 0);
    lbDGPS_ = Label(config, "lbDGPS", "NONE");
    lbShowDR_ = Label(config, "lbShowDR", "Dead-Reckoning");
    lbSetBaud_ = Label(config, "lbSetBaud", "4800");
    lbNMEA_ = Label(config, "lbNMEA", "GGA,GSV,GSA,RMC,pNMEA");
    summary->addWidget(lbDGPS_, 0, 1);
    summary->addWidget(lbShowDR_, 0, 2);
    summary->addWidget(Label(config, "Label5", "Buad"), 0, 3);
    summary->addWidget(lbSetBaud_, 0, 4);
    summary->addWidget(lbNMEA_, 1, 0, 1, 5);
    config->setVisible(false);
    grid->addWidget(config, 5, 0, 1, 4);
    rgType_ = new TRadioGroup(info, "rgType", "Target", {"Default", "USB", "4100"}, 0, 3);
    grid->addWidget(rgType_, 6, 0, 1, 4);
    grid->setColumnStretch(3, 1);

    auto* browse = Button(this, "bbBrowse", "&Browse", 70);
    edFilePath_ = new QLineEdit(this);
    edFilePath_->setObjectName("edFilePath");
    edFilePath_->setReadOnly(true);
    edFilePath_->setFixedHeight(19);
    auto* fileRow = Nested(new QHBoxLayout());
    fileRow->addWidget(browse);
    fileRow->addWidget(edFilePath_, 1);
    auto* fields = Nested(new QGridLayout());
    fields->setHorizontalSpacing(4);
    leLoadAddr_ = Field(this, "leLoadAddr", "Address", "C0000", fields, 0, 0, 60);
    leLoadSize_ = Field(this, "leLoadSize", "Size (K bytes)", "192", fields, 0, 2, 50);
    fields->setColumnStretch(4, 1);
    // Under the load fields: how fast the image goes out, then the CRCs the receiver reported.
    lbTransfer_ = Label(this, "lbTransfer", "");
    lbTransfer_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lbTransfer_->setMinimumHeight(28);

    auto* top = Nested(new QHBoxLayout());
    top->addWidget(lbState_);
    top->addStretch(1);
    top->addWidget(sbGo_);
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(8, 4, 6, 4);
    page->setSpacing(4);
    page->addLayout(top);
    page->addWidget(brProgress_);
    page->addWidget(info);
    page->addLayout(fileRow);
    page->addLayout(fields);
    page->addWidget(lbTransfer_);
    page->addStretch(1);

    ReloadControls c;
    c.lbResult = lbResult_;
    c.brProgress = brProgress_;
    c.lbTransfer = lbTransfer_;
    c.Status = shared_.Status[2];
    display_ = std::make_unique<ReloadDisplay>(c);
    auto* statusBar = qobject_cast<QStatusBar*>(shared_.Status[2]->parentWidget());
    btCancel_ = new QPushButton("Cancel", statusBar);
    btCancel_->setObjectName("btCancel");
    btCancel_->setShortcut(Qt::Key_Escape);
    btCancel_->hide();
    if (statusBar) statusBar->addPermanentWidget(btCancel_);
    connect(btCancel_, &QPushButton::clicked, this, &ReloadPage::CancelLoad);
    display_->StateShown = [this](int state) { ShowLoaderState(state); };
    display_->Snapshot = [this](std::string& refusal) { return TakeLoadJob(refusal); };

    connect(browse, &QPushButton::clicked, this, &ReloadPage::BrowseFirmware);
    connect(sbGo_, &QPushButton::clicked, this, &ReloadPage::WriteFirmware);
    connect(cxAutoStart_, &QCheckBox::clicked, this, &ReloadPage::ToggleAutoLoad);
    connect(rgType_, &TRadioGroup::Clicked, this, &ReloadPage::ChooseTarget);
}

ReloadPage::~ReloadPage() = default;

void ReloadPage::ShowSettings() {
    // The box shows the Auto Load that is in force (the settings arm the loader with it).
    cxAutoStart_->setChecked(shared_.State.AutoStart);
    shared_.LoadTask->SetReconfigure(shared_.State.Reconfigure);
    ShowPort();
    ShowReconfigure();
}

// ---- Configuration summary ----

void ReloadPage::ShowDgps(const QString& text) {
    lbDGPS_->setText(text);
}

void ReloadPage::ShowConfigBaud(const QString& text) {
    lbSetBaud_->setText(text);
}

void ReloadPage::ShowDeadReckoning(bool shown) {
    lbShowDR_->setVisible(shown);
}

void ReloadPage::ShowDeadReckoningText(const QString& text) {
    lbShowDR_->setText(text);
}

void ReloadPage::ShowNmea(const QString& text) {
    lbNMEA_->setText(text);
}

void ReloadPage::ShowReconfigure() {
    lbReconfig_->setText(shared_.State.Reconfigure ? "ON" : "OFF");
}

void ReloadPage::ShowPort() {
    lbPort_->setText(QString::fromLatin1(PortNames[shared_.State.PortIndex]));
}

// ---- The firmware image ----

bool ReloadPage::ReadFirmwareFile(const std::string& path) {
    // A fresh image each time: the loader may still hold the previous one.
    auto image = std::make_shared<FirmwareImage>();
    const ImageReadResult read = vantora::ReadFirmwareFile(path, *image);
    if (read.FileShown()) ShowFirmwareFile(path);
    if (!read.Ok()) return false;
    firmware_ = std::move(image);
    return true;
}

void ReloadPage::ShowFirmwareFile(const std::string& path) {
    const std::filesystem::path p(path);
    edFilePath_->setText(QString::fromStdString(path));
    browseDir_ = p.parent_path().string();
    lbFile_->setText(QString::fromStdString(p.filename().string()));
}

QString ReloadPage::RunFirmwareDialog() {
    QFileDialog* dialog = shared_.OpenDialog;
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilter("Binary (*.bin)");
    if (!browseDir_.empty()) dialog->setDirectory(QString::fromStdString(browseDir_));
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return {};
    return dialog->selectedFiles().first();
}

void ReloadPage::BrowseFirmware() {
    const QString chosen = ChooseFirmwareFile ? ChooseFirmwareFile() : RunFirmwareDialog();
    if (chosen.isEmpty()) return;
    const std::string path = chosen.toStdString();
    if (!ReadFirmwareFile(path)) {
        shared_.Boxes.Show("Error", "Wrong file!", BoxIcon::Stop);
        return;
    }
    shared_.LoadTask->SetStandby();
    // The label and the Write button's logic agree on Standby, whatever was shown before.
    shownLoaderState_ = StateStandby;
    lbState_->setText(QString::fromLatin1(LoaderStateText[StateStandby]));
    sbGo_->setEnabled(true);
    shared_.State.FirmwarePath = path;
    UpdateLock();
}

// ---- Write ----

std::optional<LoadJob> ReloadPage::TakeLoadJob(std::string& error) {
    if (!firmware_) {
        error = "no firmware image has been read";
        return std::nullopt;
    }
    const int target = rgType_->ItemIndex();
    const auto fields = ParseLoadFields(target, leLoadAddr_->text().toStdString(),
                                        leLoadSize_->text().toStdString(), edCRC_->text().toStdString(), error);
    if (!fields) return std::nullopt;
    LoadJob job;
    job.Image = firmware_;
    job.Target = target;
    job.Fields = *fields;
    job.RevisionCheck = shared_.LoaderRevisionCheck;
    job.RevisionText = shared_.State.FirmwareRevision;
    job.FactoryDefault = cbFactoryDefault_->isChecked();
    job.AutoLoad = shared_.State.AutoStart;
    jobAutoLoad_ = job.AutoLoad;
    job.WorkingBaud = BaudRates[shared_.State.LinkBaudIndex];
    return job;
}

void ReloadPage::WriteFirmware() {
    TLoadTask& loader = *shared_.LoadTask;
    if (restarting_) return;
    if (shownLoaderState_ == StateInterrupt && !Locked()) {
        // An interrupted load left alone: back to Standby; the next Write loads. (Disarmed
        // first: a loader armed by Auto Load meanwhile would stay in "Interrupt!".)
        loader.SetActive(false);
        loader.ReturnToStandby();
        sbGo_->setChecked(false);
        return;
    }
    // The file as it is now: one rebuilt since the last load is picked up.
    if (!ReadFirmwareFile(shared_.State.FirmwarePath)) {
        sbGo_->setChecked(false);
        return;
    }
    if (shownLoaderState_ > StateStandby) {
        // A load is shown running: disarming interrupts it.
        loader.SetActive(false);
        return;
    }
    std::string error;
    std::optional<LoadJob> job = TakeLoadJob(error);
    const std::shared_ptr<TSerialPort> port = shared_.Port.Get();
    if (job) error = ImageOverflowText(*job->Image, LoadLimitOf(job->Fields.SizeWord));
    if (!job || !port || !error.empty()) {
        sbGo_->setChecked(false);
        // A load would leave the image's tail out without a word.
        if (job && !error.empty()) error += ": raise Size (K bytes) or choose a smaller image";
        if (!error.empty()) shared_.Boxes.Show("Error", error, BoxIcon::Error);
        return;
    }
    restarting_ = true;
    cancelled_ = false;
    UpdateLock();
    // An armed loader (Auto Load) must not take a receiver's announcement for its own load
    // while the restart is under way; Start arms it again.
    loader.SetActive(false);
    try {
        const ServingClock clock(shared_.Time, [this, port] {
            return shared_.ShutDown || cancelled_ || shared_.Port.Get() != port;
        });
        RestartIntoLoader(*port, job->WorkingBaud, job->Target, clock);
    } catch (const RestartCancelled&) {
        restarting_ = false;
        if (shared_.ShutDown) return;
        RestartFailed("");
        return;
    } catch (const PortWriteError& e) {
        restarting_ = false;
        RestartFailed(e.what());
        return;
    }
    restarting_ = false;
    loader.Start(std::move(*job));
    UpdateLock();
}

void ReloadPage::RestartFailed(const std::string& why) {
    sbGo_->setChecked(false);
    if (shared_.CurrentPage() == tsReload) shared_.LoadTask->SetActive(shared_.State.AutoStart);
    UpdateLock();
    if (!why.empty()) shared_.Boxes.Show("Error", why, BoxIcon::Error);
}

// ---- The loader's state on the page ----

bool ReloadPage::Locked() const {
    if (restarting_) return true;
    const int state = shared_.LoadTask->GetState();
    // Without Auto Load an interrupted load stays until the user moves on (Write or another
    // page); with it (as the load was started) the loader returns to Standby by itself.
    if (state == StateInterrupt) return jobAutoLoad_;
    return state > StateStandby;
}

void ReloadPage::UpdateLock() {
    const bool locked = Locked();
    shared_.Pages->setEnabled(!locked);
    btCancel_->setVisible(locked);
}

void ReloadPage::CancelLoad() {
    if (!Locked()) return;
    if (restarting_) {
        cancelled_ = true;  // the restart's next wait ends, and the page is as before
        return;
    }
    shared_.LoadTask->SetActive(false);
}

void ReloadPage::ShowLoaderState(int state) {
    UpdateLock();
    if (state != shownLoaderState_) {
        // Write stays pressed while a load runs.
        if (state <= StateStandby || state >= StateFirmwareOk) sbGo_->setChecked(false);
        shownLoaderState_ = state;
        lbState_->setText(QString::fromLatin1(LoaderStateText[state]));
    }
    if (LoaderStateShown) LoaderStateShown(state);
}

void ReloadPage::PageChanged(int page) {
    // Leaving the page disarms the loader (the before-change check); a load it interrupted
    // goes back to Standby rather than waiting in "Interrupt!" for a page nobody sees.
    if (shown_ && page != tsReload && shared_.LoadTask->GetState() > StateStandby)
        shared_.LoadTask->ReturnToStandby();
    shown_ = page == tsReload;
}

// ---- Check boxes and target ----

void ReloadPage::ToggleAutoLoad() {
    shared_.State.AutoStart = cxAutoStart_->isChecked();
    shared_.LoadTask->SetActive(shared_.State.AutoStart);
}

void ReloadPage::ChooseTarget(int index) {
    leLoadAddr_->setText(QString::fromLatin1(DefaultAddressText(index)));
    leLoadSize_->setText(QString::fromLatin1(DefaultSizeText(index)));
}

}  // namespace vantora
