// The Reload page: the firmware image, the Write button, the load parameters and the loader's
// state on the page. The load itself runs on the loader thread (TLoadTask).
#include <QCheckBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <filesystem>

#include "app/layout_util.h"
#include "app/top_window.h"

namespace vantora {

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

std::unique_ptr<ReloadDisplay> TfmTop::MakeReloadDisplay() {
    ReloadControls c;
    c.lbResult = Control<QLabel>("lbResult");
    c.brProgress = Control<QProgressBar>("brProgress");
    // Under the load fields: how fast the image goes out, then the CRCs the receiver reported.
    c.lbTransfer = layout::Label(pages_[tsReload], "lbTransfer", "", 8, 286, 266, 28);
    c.lbTransfer->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    c.Status = status_[2];
    return std::make_unique<ReloadDisplay>(c);
}

void TfmTop::ConnectReloadHandlers() {
    reload_->StateShown = [this](int state) { ShowLoaderState(state); };
    reload_->Snapshot = [this](std::string& refusal) { return TakeLoadJob(refusal); };
    connect(Control<QPushButton>("bbBrowse"), &QPushButton::clicked, this, &TfmTop::bbBrowseClick);
    connect(Control<QPushButton>("sbGo"), &QPushButton::clicked, this, &TfmTop::GoClick);
    connect(Control<QCheckBox>("cxAutoStart"), &QCheckBox::clicked, this, &TfmTop::cxAutoStartClick);
    connect(Control<QCheckBox>("cxRevChk"), &QCheckBox::clicked, this, &TfmTop::cxRevChkClick);
    connect(Control<QLineEdit>("edRevsion"), &QLineEdit::textChanged, this, &TfmTop::edRevsionChange);
    connect(cxReconfig_, &QCheckBox::clicked, this, &TfmTop::cxReconfigClick);
    connect(Control<TRadioGroup>("rgType"), &TRadioGroup::Clicked, this, &TfmTop::rgTypeClick);
    connect(pgCoder_, &QTabWidget::currentChanged, this, &TfmTop::ReloadPageChanged);
    // The box shows the Auto Load that is in force (the settings arm the loader with it).
    Control<QCheckBox>("cxAutoStart")->setChecked(settings_.AutoStart);
    loadTask_->SetReconfigure(settings_.Reconfigure);
}

// ---- The firmware image ----

bool TfmTop::ReadFirmwareFile(const std::string& path) {
    // A fresh image each time: the loader may still hold the previous one.
    auto image = std::make_shared<FirmwareImage>();
    const ImageReadResult read = vantora::ReadFirmwareFile(path, *image);
    if (read.FileShown()) ShowFirmwareFile(path);
    if (!read.Ok()) return false;
    firmware_ = std::move(image);
    return true;
}

void TfmTop::ShowFirmwareFile(const std::string& path) {
    const std::filesystem::path p(path);
    Control<QLineEdit>("edFilePath")->setText(QString::fromStdString(path));
    browseDir_ = p.parent_path().string();
    Control<QLabel>("lbFile")->setText(QString::fromStdString(p.filename().string()));
}

QString TfmTop::RunFirmwareDialog() {
    openDialog_->setAcceptMode(QFileDialog::AcceptOpen);
    openDialog_->setFileMode(QFileDialog::ExistingFile);
    openDialog_->setNameFilter("Binary (*.bin)");
    if (!browseDir_.empty()) openDialog_->setDirectory(QString::fromStdString(browseDir_));
    if (openDialog_->exec() != QDialog::Accepted || openDialog_->selectedFiles().isEmpty()) return {};
    return openDialog_->selectedFiles().first();
}

void TfmTop::bbBrowseClick() {
    BrowseFirmware();
}

void TfmTop::BrowseFirmware() {
    const QString chosen = ChooseFirmwareFile ? ChooseFirmwareFile() : RunFirmwareDialog();
    if (chosen.isEmpty()) return;
    const std::string path = chosen.toStdString();
    if (!ReadFirmwareFile(path)) {
        boxes_.Show("Error", "Wrong file!", BoxIcon::Stop);
        return;
    }
    loadTask_->SetStandby();
    // The label and the Write button's logic agree on Standby, whatever was shown before.
    shownLoaderState_ = StateStandby;
    Control<QLabel>("lbState")->setText(QString::fromLatin1(LoaderStateText[StateStandby]));
    Control<QPushButton>("sbGo")->setEnabled(true);
    settings_.FirmwarePath = path;
    UpdateReloadLock();
}

// ---- Write ----

std::optional<LoadJob> TfmTop::TakeLoadJob(std::string& error) {
    if (!firmware_) {
        error = "no firmware image has been read";
        return std::nullopt;
    }
    const int target = Control<TRadioGroup>("rgType")->ItemIndex();
    const auto fields = ParseLoadFields(target, Control<QLineEdit>("leLoadAddr")->text().toStdString(),
                                        Control<QLineEdit>("leLoadSize")->text().toStdString(),
                                        Control<QLineEdit>("edCRC")->text().toStdString(), error);
    if (!fields) return std::nullopt;
    LoadJob job;
    job.Image = firmware_;
    job.Target = target;
    job.Fields = *fields;
    job.RevisionCheck = revisionCheck_;
    job.RevisionText = settings_.FirmwareRevision;
    job.FactoryDefault = Control<QCheckBox>("cbFactoryDefault")->isChecked();
    job.AutoLoad = settings_.AutoStart;
    jobAutoLoad_ = job.AutoLoad;
    job.WorkingBaud = BaudRates[settings_.LinkBaudIndex];
    return job;
}

void TfmTop::GoClick() {
    QPushButton* go = Control<QPushButton>("sbGo");
    if (restarting_) return;
    if (shownLoaderState_ == StateInterrupt && !ReloadPageLocked()) {
        // An interrupted load left alone: back to Standby; the next Write loads. (Disarmed
        // first: a loader armed by Auto Load meanwhile would stay in "Interrupt!".)
        loadTask_->SetActive(false);
        loadTask_->ReturnToStandby();
        go->setChecked(false);
        return;
    }
    // The file as it is now: one rebuilt since the last load is picked up.
    if (!ReadFirmwareFile(settings_.FirmwarePath)) {
        go->setChecked(false);
        return;
    }
    if (shownLoaderState_ > StateStandby) {
        // A load is shown running: disarming interrupts it.
        loadTask_->SetActive(false);
        return;
    }
    std::string error;
    std::optional<LoadJob> job = TakeLoadJob(error);
    const std::shared_ptr<TSerialPort> port = port_.Get();
    if (!job || !port) {
        go->setChecked(false);
        if (!job) boxes_.Show("Error", error, BoxIcon::Error);
        return;
    }
    restarting_ = true;
    UpdateReloadLock();
    // An armed loader (Auto Load) must not take a receiver's announcement for its own load
    // while the restart is under way; Start arms it again.
    loadTask_->SetActive(false);
    try {
        const ServingClock clock(clock_, [this, port] { return shutDown_ || port_.Get() != port; });
        RestartIntoLoader(*port, job->WorkingBaud, job->Target, clock);
    } catch (const RestartCancelled&) {
        restarting_ = false;
        if (shutDown_) return;
        RestartFailed("");
        return;
    } catch (const PortWriteError& e) {
        restarting_ = false;
        RestartFailed(e.what());
        return;
    }
    restarting_ = false;
    loadTask_->Start(std::move(*job));
    UpdateReloadLock();
}

void TfmTop::RestartFailed(const std::string& why) {
    Control<QPushButton>("sbGo")->setChecked(false);
    if (CurrentPage() == tsReload) loadTask_->SetActive(settings_.AutoStart);
    UpdateReloadLock();
    if (!why.empty()) boxes_.Show("Error", why, BoxIcon::Error);
}

// ---- The loader's state on the page ----

bool TfmTop::ReloadPageLocked() const {
    if (restarting_) return true;
    const int state = loadTask_->GetState();
    // Without Auto Load an interrupted load stays until the user moves on (Write or another
    // page); with it (as the load was started) the loader returns to Standby by itself.
    if (state == StateInterrupt) return jobAutoLoad_;
    return state > StateStandby;
}

void TfmTop::UpdateReloadLock() {
    pgCoder_->setEnabled(!ReloadPageLocked());
}

void TfmTop::ShowLoaderState(int state) {
    UpdateReloadLock();
    if (state != shownLoaderState_) {
        // Write stays pressed while a load runs.
        if (state <= StateStandby || state >= StateFirmwareOk)
            Control<QPushButton>("sbGo")->setChecked(false);
        shownLoaderState_ = state;
        Control<QLabel>("lbState")->setText(QString::fromLatin1(LoaderStateText[state]));
    }
    if (LoaderStateShown) LoaderStateShown(state);
}

void TfmTop::ReloadPageChanged(int page) {
    // Leaving the page disarms the loader (the before-change check); a load it interrupted
    // goes back to Standby rather than waiting in "Interrupt!" for a page nobody sees.
    if (reloadShown_ && page != tsReload && loadTask_->GetState() > StateStandby)
        loadTask_->ReturnToStandby();
    reloadShown_ = page == tsReload;
}

// ---- Check boxes and target ----

void TfmTop::cxAutoStartClick() {
    settings_.AutoStart = Control<QCheckBox>("cxAutoStart")->isChecked();
    loadTask_->SetActive(settings_.AutoStart);
}

void TfmTop::cxRevChkClick() {
    settings_.RevisionCheck = Control<QCheckBox>("cxRevChk")->isChecked();
    revisionCheck_ = settings_.RevisionCheck;
}

void TfmTop::edRevsionChange() {
    // The edit's own text is not the revision the loader gets.
    revisionCheck_ = settings_.RevisionCheck;
}

void TfmTop::cxReconfigClick() {
    settings_.Reconfigure = cxReconfig_->isChecked();
    loadTask_->SetReconfigure(settings_.Reconfigure);
    ShowReconfigure();
}

void TfmTop::rgTypeClick(int index) {
    Control<QLineEdit>("leLoadAddr")->setText(QString::fromLatin1(DefaultAddressText(index)));
    Control<QLineEdit>("leLoadSize")->setText(QString::fromLatin1(DefaultSizeText(index)));
}

}  // namespace vantora
