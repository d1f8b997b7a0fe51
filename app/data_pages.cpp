// The window's receiver-data features: the NMEA log button, the Trace page (clear, status
// request, record, read into the raw file, conversion) and the ephemeris and almanac files.
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "app/top_window.h"
#include "logging/raw_log.h"
#include "protocol/commands.h"

namespace vantora {

namespace {

constexpr const char* EphemerisFile = "ephs.dat";
constexpr const char* AlmanacFile = "almc.dat";
constexpr int TraceReadWatchMs = 250;
constexpr int ReadStopPauseMs = 100;
// A progress bar counts in int: larger files are shown in millionths.
constexpr int64_t ConvertScale = 1000000;

// Read Trace's action byte: 2 starts a read from the Trace page, 0 stops it.
constexpr int ReadStart = 2;
constexpr int ReadStop = 0;

const char* const ReadWhileLoggingText =
    "The NMEA log is running. Stop it with \"Stop log\" on the View page before reading the "
    "trace buffer.";
std::string LogWhileReadingText() {
    return std::string("A trace read is writing ") + TraceRawFile() +
           ". Start the log when the read has ended.";
}
const char* const NothingToReadText =
    "The trace buffer holds no records to read. Press \"Request\" to ask for its status.";

std::string Text(const QWidget* w) {
    if (auto* edit = qobject_cast<const QLineEdit*>(w)) return edit->text().toStdString();
    if (auto* label = qobject_cast<const QLabel*>(w)) return label->text().toStdString();
    return {};
}

int ScaledConvert(int64_t done, int64_t total) {
    if (total <= INT_MAX) return static_cast<int>(done);
    return static_cast<int>(done * ConvertScale / total);
}

// Writes the whole table image in one go; false with the path and the cause.
bool WriteImage(const char* name, const std::vector<uint8_t>& bytes, std::string& error) {
    RawLog file;
    if (!file.Open(name, error)) return false;
    const bool written = file.Append(bytes.data(), static_cast<int>(bytes.size()));
    const int cause = errno;
    if (!file.Close() || !written) {
        error = std::string("Cannot write ") + name + ": " + std::strerror(written ? errno : cause);
        return false;
    }
    return true;
}

}  // namespace

void TfmTop::ConnectDataHandlers() {
    connect(Control<QPushButton>("btLog"), &QPushButton::clicked, this, &TfmTop::btLogClick);
    connect(tvTraceCmd_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (item) TraceAction(tvTraceCmd_->indexOfTopLevelItem(item));
    });
    connect(Control<QPushButton>("btClear"), &QPushButton::clicked, this, &TfmTop::btClearClick);
    connect(Control<QPushButton>("Button1"), &QPushButton::clicked, this, &TfmTop::Button1Click);
    connect(Control<QPushButton>("btTrcRecord"), &QPushButton::clicked, this, &TfmTop::btTrcRecordClick);
    connect(Control<QPushButton>("btTrcRead"), &QPushButton::clicked, this, &TfmTop::btTrcReadClick);
    connect(Control<QPushButton>("btConvert"), &QPushButton::clicked, this, &TfmTop::btConvertClick);
    connect(Control<TRadioGroup>("rgSelCvt"), &TRadioGroup::Clicked, this, &TfmTop::rgSelCvtClick);
    connect(Control<QPushButton>("btEphsSave"), &QPushButton::clicked, this, &TfmTop::btEphsSaveClick);
    connect(Control<QPushButton>("btSaveAlmc"), &QPushButton::clicked, this, &TfmTop::btSaveAlmcClick);

    // The receive thread ends a read whose records have all arrived.
    view_->OnEndTraceRead = [this] { TraceReadComplete(); };
    traceReadWatch_ = new QTimer(this);
    traceReadWatch_->setInterval(TraceReadWatchMs);
    connect(traceReadWatch_, &QTimer::timeout, this, &TfmTop::TraceReadWatch);
    convertJob_ = std::make_unique<TraceConvertJob>(this);
}

// ---- NMEA log ----

void TfmTop::btLogClick() {
    auto* button = Control<QPushButton>("btLog");
    if (logUse_ == LogUse::Nmea) {
        // The receive thread closes the file at its next pass, after writing what it read.
        viewTask_->StopLog();
        logUse_ = LogUse::None;
        button->setText("Log");
        status_[2]->clear();
        return;
    }
    // The one log channel is the read's until the read ends.
    if (logUse_ == LogUse::TraceRead) {
        boxes_.Show("Information", LogWhileReadingText(), BoxIcon::Information);
        return;
    }
    const QString chosen = ChooseLogFile ? ChooseLogFile() : RunLogDialog();
    if (chosen.isEmpty()) return;
    const std::string path = QFileInfo(chosen).absoluteFilePath().toStdString();
    RawLog log;
    std::string error;
    if (!log.Open(path, error)) {
        boxes_.Show("Error", "Wrong file!", BoxIcon::Error);
        return;
    }
    viewTask_->StartLog(std::move(log));
    logUse_ = LogUse::Nmea;
    button->setText("Stop log");
    status_[2]->setText(QString::fromStdString("Logged: " + path));
}

QString TfmTop::RunLogDialog() {
    // The dialog is shared with the firmware image's choice: its settings are given back.
    const QFileDialog::AcceptMode mode = openDialog_->acceptMode();
    const QFileDialog::FileMode fileMode = openDialog_->fileMode();
    const QFileDialog::Options options = openDialog_->options();
    openDialog_->setDirectory(".");
    openDialog_->setAcceptMode(QFileDialog::AcceptSave);
    openDialog_->setFileMode(QFileDialog::AnyFile);
    openDialog_->setOption(QFileDialog::DontConfirmOverwrite, true);  // an existing file is replaced
    const bool accepted = openDialog_->exec() == QDialog::Accepted && !openDialog_->selectedFiles().isEmpty();
    const QString chosen = accepted ? openDialog_->selectedFiles().first() : QString();
    openDialog_->setAcceptMode(mode);
    openDialog_->setFileMode(fileMode);
    openDialog_->setOptions(options);
    return chosen;
}

// ---- Trace page: actions, clear, status, record ----

void TfmTop::TraceAction(int row) {
    if (row < 0 || row >= 4) return;
    if (traceActionIndex_ != 0) tracePanels_[static_cast<size_t>(traceActionIndex_)]->hide();
    traceActionIndex_ = row + 1;
    QWidget* panel = tracePanels_[static_cast<size_t>(traceActionIndex_)];
    auto* caption = Control<QLabel>("lbTrace");
    // This caption takes the highlight of its own palette.
    ShowActionPanel(panel, QRect(90, 23, 180, 265), caption, tvTraceCmd_->topLevelItem(row)->text(0),
                    caption->palette().color(QPalette::Highlight));
    panel->raise();
    // The read asks the receiver for the rate the link runs at.
    Control<TRadioGroup>("rdTrcBaud")->SetItemIndex(cbFWbaud_->currentIndex());
}

bool TfmTop::SendDataFrame(const uint8_t* frame, int length) {
    std::shared_ptr<TSerialPort> port = port_.Get();
    if (!port || length <= 0) return false;
    try {
        port->txData(frame, length);
    } catch (const std::exception& e) {
        boxes_.Show("Error", e.what(), BoxIcon::Error);
        return false;
    }
    if (TraceFrameSent) TraceFrameSent(frame, length);
    return true;
}

namespace {

BuiltCommand MaintainTrace(int item, const Clock& clock) {
    PanelValues v;
    v.SetItem("rgTraceStatus", item);  // 0 read status, 1 clear
    v.SetItem("rgPwrOnState", 0);
    return BuildCommand(0x1F, v, clock);
}

}  // namespace

bool TfmTop::SendTraceStatusRequest() {
    const BuiltCommand c = MaintainTrace(0, clock_);
    return SendDataFrame(c.Frame, c.Length);
}

void TfmTop::btClearClick() {
    const BuiltCommand c = MaintainTrace(1, clock_);
    SendDataFrame(c.Frame, c.Length);
}

void TfmTop::Button1Click() {
    SendTraceStatusRequest();
}

void TfmTop::btTrcRecordClick() {
    auto* button = Control<QPushButton>("btTrcRecord");
    if (traceState_ == 1) {
        button->setText("Start");
        traceState_ = 0;
        tvTraceCmd_->setEnabled(true);
    } else {
        button->setText("Stop");
        traceState_ = 1;
        tvTraceCmd_->setEnabled(false);  // no other action while recording
    }
    PanelValues v;
    v.SetItem("rgTraceRecordAction", traceState_);
    v.SetText("lbTraceDist", Text(Control<QWidget>("lbTrcDistance")));
    v.SetText("lbTracePeriod", Text(Control<QWidget>("lbTrcPeriod")));
    v.SetText("lbTraceTime", Text(Control<QWidget>("lbTrcTime")));
    const BuiltCommand c = BuildCommand(0x1D, v, clock_);
    SendDataFrame(c.Frame, c.Length);
}

// ---- Trace page: read ----

void TfmTop::SetTraceReading(bool on) {
    viewTask_->SetTraceReadActive(on);
}

void TfmTop::btTrcReadClick() {
    PanelValues v;
    v.SetItem("rgTraceRdFmt", Control<TRadioGroup>("rdTrcFormat")->ItemIndex());
    v.SetText("lbTracePos", Text(Control<QWidget>("lbStartPos")));
    v.SetItem("rgTraceBaud", Control<TRadioGroup>("rdTrcBaud")->ItemIndex());
    if (traceState_ == 2) {
        StopTraceRead();
        v.SetItem("rgTraceReadAction", ReadStop);
    } else {
        if (!StartTraceRead()) return;
        v.SetItem("rgTraceReadAction", ReadStart);
    }
    const BuiltCommand c = BuildCommand(0x1E, v, clock_);
    // A read whose request cannot go out has nothing to wait for.
    if (!SendDataFrame(c.Frame, c.Length) && traceState_ == 2) StopTraceRead();
}

bool TfmTop::StartTraceRead() {
    const int64_t logged = IntegerOr(Text(Control<QWidget>("lbTrcLogged")), 0);
    if (logged <= 0) {
        boxes_.Show("Information", NothingToReadText, BoxIcon::Information);
        return false;
    }
    // The read never takes the log channel from a running NMEA log: the user ends that log.
    if (logUse_ == LogUse::Nmea) {
        boxes_.Show("Information", ReadWhileLoggingText, BoxIcon::Information);
        return false;
    }
    if (!port_.Get()) return false;
    RawLog raw;
    std::string error;
    if (!raw.Open(TraceRawFile(), error)) {
        boxes_.Show("Error", error, BoxIcon::Error);
        return false;
    }
    // The count starts at 0 before the receive thread may test it against the logged count.
    viewTask_->ResetTraceRecordCount();
    viewTask_->StartLog(std::move(raw));
    logUse_ = LogUse::TraceRead;
    SetTraceReading(true);
    Control<QPushButton>("btTrcRead")->setText("Stop");
    traceState_ = 2;
    tvTraceCmd_->setEnabled(false);
    auto* bar = Control<QProgressBar>("pbReadProgress");
    bar->setMaximum(static_cast<int>(std::min<int64_t>(logged, INT_MAX)));
    bar->setValue(0);
    traceReadSeen_ = 0;
    traceReadDeadline_ = clock_.NowSeconds() + TraceReadTimeoutSeconds;
    traceReadWatch_->start();
    return true;
}

// The window's side of every end of a read: the channel and the page are free again.
void TfmTop::LeaveTraceRead() {
    traceReadWatch_->stop();
    SetTraceReading(false);
    if (logUse_ == LogUse::TraceRead) {
        viewTask_->StopLog();
        logUse_ = LogUse::None;
    }
    if (traceState_ == 2) {
        Control<QPushButton>("btTrcRead")->setText("Start");
        traceState_ = 0;
        tvTraceCmd_->setEnabled(true);
    }
}

void TfmTop::StopTraceRead() {
    LeaveTraceRead();
    SendTraceStatusRequest();
    QThread::msleep(ReadStopPauseMs);
    Control<QProgressBar>("pbReadProgress")->setValue(0);
    Control<QLabel>("lbProgress")->setText("0");
}

void TfmTop::TraceReadComplete() {
    // A read stopped meanwhile (by the user or the time-out) has nothing left to end.
    if (!viewTask_->TraceReadActive()) return;
    LeaveTraceRead();
    SendTraceStatusRequest();
}

void TfmTop::TraceReadWatch() {
    if (traceState_ != 2) {
        traceReadWatch_->stop();
        return;
    }
    // Ended elsewhere (a Read Trace stop sent from the View page): the log is closed here.
    if (!viewTask_->TraceReadActive()) {
        LeaveTraceRead();
        return;
    }
    const int read = viewTask_->TraceRecordsRead();
    const int64_t now = clock_.NowSeconds();
    if (read != traceReadSeen_) {
        traceReadSeen_ = read;
        traceReadDeadline_ = now + TraceReadTimeoutSeconds;
        return;
    }
    if (now <= traceReadDeadline_) return;
    // The receiver has stopped sending: end the read as the Stop button would.
    const int logged = Control<QProgressBar>("pbReadProgress")->maximum();
    btTrcReadClick();
    boxes_.Show("Error",
                QString("No trace record arrived for %1 s: the read stopped after %2 of %3 records. "
                        "%4 holds what arrived.")
                    .arg(TraceReadTimeoutSeconds)
                    .arg(read)
                    .arg(logged)
                    .arg(TraceRawFile())
                    .toStdString(),
                BoxIcon::Error);
}

// ---- Trace page: conversion ----

void TfmTop::rgSelCvtClick() {
    Control<QProgressBar>("pbConvert")->setValue(0);
}

void TfmTop::btConvertClick() {
    if (convertJob_->Running()) return;
    auto* bar = Control<QProgressBar>("pbConvert");
    convertTotal_ = std::max<int64_t>(QFileInfo(TraceRawFile()).size(), 0);
    bar->setRange(0, std::max(1, convertTotal_ <= INT_MAX ? static_cast<int>(convertTotal_)
                                                          : static_cast<int>(ConvertScale)));
    bar->setValue(0);
    const int form = Control<TRadioGroup>("rgSelCvt")->ItemIndex();
    // The raw file must not change under the conversion: no other action until it ends.
    for (const char* name : {"btConvert", "rgSelCvt"}) Control<QWidget>(name)->setEnabled(false);
    tvTraceCmd_->setEnabled(false);
    convertJob_->Start(
        TraceRawFile(), TraceTextFile(), form,
        [this](int64_t done, int64_t total) {
            if (total != convertTotal_) return;  // the file grew: the end sets the bar
            Control<QProgressBar>("pbConvert")->setValue(ScaledConvert(done, total));
        },
        [this](const TraceConvertOutcome& outcome) { ConversionEnded(outcome); });
}

void TfmTop::ConversionEnded(const TraceConvertOutcome& outcome) {
    for (const char* name : {"btConvert", "rgSelCvt"}) Control<QWidget>(name)->setEnabled(true);
    if (traceState_ == 0) tvTraceCmd_->setEnabled(true);
    auto* bar = Control<QProgressBar>("pbConvert");
    if (outcome.Status == TraceConvertOutcome::Ok) bar->setValue(bar->maximum());
    if (outcome.Status == TraceConvertOutcome::Failed) boxes_.Show("Error", outcome.Error, BoxIcon::Error);
}

// ---- Ephemeris and almanac files ----

void TfmTop::btEphsSaveClick() {
    SaveTableFile(true);
}

void TfmTop::btSaveAlmcClick() {
    SaveTableFile(false);
}

void TfmTop::SaveTableFile(bool ephemeris) {
    // The receive thread's decoders fill the tables: it copies them between two parses, so the
    // file holds whole records only.
    viewTask_->RequestTables([this, ephemeris](const ReceiverTables& t) {
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
                if (!WriteImage(ephemeris ? EphemerisFile : AlmanacFile, image, error))
                    boxes_.Show("Error", error, BoxIcon::Error);
            },
            Qt::QueuedConnection);
    });
}

}  // namespace vantora
