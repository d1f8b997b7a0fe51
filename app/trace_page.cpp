#include "app/trace_page.h"

#include <QFileInfo>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <climits>

#include "app/layout_util.h"
#include "logging/raw_log.h"
#include "logging/trace_convert.h"
#include "protocol/commands.h"
#include "view/view_task.h"

namespace vantora {

using namespace layout;

namespace {

constexpr int ReadStopPauseMs = 100;
// A progress bar counts in int: larger files are shown in millionths.
constexpr int64_t ConvertScale = 1000000;

// Read Trace's action byte: 2 starts a read from the Trace page, 0 stops it.
constexpr int ReadStart = 2;
constexpr int ReadStop = 0;

const char* const ReadWhileLoggingText =
    "The NMEA log is running. Stop it with \"Stop log\" on the View page before reading the "
    "trace buffer.";
const char* const NothingToReadText =
    "The trace buffer holds no records to read. Press \"Request\" to ask for its status.";

int ScaledConvert(int64_t done, int64_t total) {
    if (total <= INT_MAX) return static_cast<int>(done);
    return static_cast<int>(done * ConvertScale / total);
}

BuiltCommand MaintainTrace(int item, const Clock& clock) {
    PanelValues v;
    v.SetItem("rgTraceStatus", item);  // 0 read status, 1 clear
    v.SetItem("rgPwrOnState", 0);
    return BuildCommand(0x1F, v, clock);
}

}  // namespace

TracePage::TracePage(WindowShared& shared) : shared_(shared) {
    setObjectName("tsTrace");
    tvTraceCmd_ = new QTreeWidget(this);
    tvTraceCmd_->setObjectName("tvTraceCmd");
    tvTraceCmd_->setHeaderHidden(true);
    tvTraceCmd_->setRootIsDecorated(false);
    tvTraceCmd_->setFixedSize(88, 100);
    tvTraceCmd_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (const char* action : {"Clear", "Read", "Record", "Convert"})
        new QTreeWidgetItem(tvTraceCmd_, QStringList{action});

    lbTrace_ = Label(this, "lbTrace", "no action");
    lbTrcStatus_ = Label(this, "lbTrcStatus", "");
    auto* left = Nested(new QGridLayout());
    left->setVerticalSpacing(2);
    left->addWidget(tvTraceCmd_, 0, 0);
    left->addWidget(lbTrcStatus_, 1, 0);
    lbTrcPct_ = ReadOnlyAbove(this, "lbTrcPct", "Percentage", left, 2, 0, 84, "0");
    lbTrcLogged_ = ReadOnlyAbove(this, "lbTrcLogged", "Logged", left, 4, 0, 84, "0");
    lbTrcReadPos_ = ReadOnlyAbove(this, "lbTrcReadPos", "Read position", left, 6, 0, 84, "0");
    auto* request = Button(this, "Button1", "Request", 84);
    left->addWidget(request, 8, 0);
    left->setRowMinimumHeight(8, 40);
    left->setRowStretch(9, 1);

    QFrame* clear = nullptr;
    QGridLayout* g = HiddenPanel(this, "pnTrcClear", &clear);
    auto* clearButton = Button(clear, "btClear", "Clear", 70);
    g->addWidget(clearButton, 0, 0, Qt::AlignLeft);
    g->setRowStretch(1, 1);

    QFrame* read = nullptr;
    g = HiddenPanel(this, "pnTrcRead", &read);
    btTrcRead_ = Button(read, "btTrcRead", "Start", 70);
    rdTrcBaud_ = new TRadioGroup(read, "rdTrcBaud", "Baud rate", WorkingRates, 3, 2);
    rdTrcBaud_->setEnabled(false);
    rdTrcFormat_ = new TRadioGroup(read, "rdTrcFormat", "Format", {"Binary", "NMEA"}, 0, 2);
    rdTrcFormat_->setEnabled(false);
    g->addWidget(btTrcRead_, 0, 0, 1, 4, Qt::AlignLeft);
    g->addWidget(rdTrcBaud_, 1, 0, 1, 4);
    g->addWidget(rdTrcFormat_, 2, 0, 1, 4);
    lbStartPos_ = Field(read, "lbStartPos", "Start Poisition", "0", g, 3, 0, 60);
    pbReadProgress_ = Progress(read, "pbReadProgress");
    pbReadProgress_->setTextVisible(false);
    lbProgress_ = Label(read, "lbProgress", "0");
    auto* progressRow = Nested(new QHBoxLayout());
    progressRow->addWidget(pbReadProgress_, 1);
    progressRow->addWidget(lbProgress_);
    progressRow->addWidget(Label(read, "Label10", "%"));
    g->addLayout(progressRow, 4, 0, 1, 4);
    g->setColumnStretch(3, 1);
    g->setRowStretch(5, 1);

    QFrame* record = nullptr;
    g = HiddenPanel(this, "pnTrcRecord", &record);
    btTrcRecord_ = Button(record, "btTrcRecord", "Start", 70);
    g->addWidget(btTrcRecord_, 0, 0, Qt::AlignLeft);
    auto editAbove = [&](const char* name, const char* caption, const char* text, int row) {
        auto* e = new TLabeledEdit(record, name, caption, text);
        e->setFixedSize(120, 17);
        g->addWidget(e->Label(), row, 0);
        g->addWidget(e, row + 1, 0, Qt::AlignLeft);
        return e;
    };
    lbTrcDistance_ = editAbove("lbTrcDistance", "Distance (Meter)", "0", 1);
    lbTrcPeriod_ = editAbove("lbTrcPeriod", "Time period (Second)", "0", 3);
    lbTrcTime_ = editAbove("lbTrcTime", "Time to log", "65535", 5);
    g->setRowStretch(7, 1);

    QFrame* convert = nullptr;
    g = HiddenPanel(this, "pnTrcConvert", &convert);
    btConvert_ = Button(convert, "btConvert", "Start", 70);
    rgSelCvt_ = new TRadioGroup(convert, "rgSelCvt", "Convert type",
                                {"ECEF(x,y,z) in ASCII", "Geodetic in ASCII"}, 0);
    pbConvert_ = Progress(convert, "pbConvert");
    pbConvert_->setTextVisible(false);
    g->addWidget(btConvert_, 0, 0, Qt::AlignLeft);
    g->addWidget(rgSelCvt_, 1, 0);
    g->addWidget(pbConvert_, 2, 0);
    g->setRowStretch(3, 1);

    panels_ = {clear, read, record, convert};
    // The actions' panels share one place; one at a time is shown.
    auto* right = Nested(new QGridLayout());
    right->setSpacing(2);
    right->addWidget(lbTrace_, 0, 0);
    for (QFrame* p : panels_) {
        p->setFixedWidth(180);
        right->addWidget(p, 1, 0);
    }
    right->setRowStretch(1, 1);
    right->setColumnMinimumWidth(0, 180);

    auto* page = new QHBoxLayout(this);
    page->setContentsMargins(2, 2, 2, 2);
    page->setSpacing(2);
    page->addLayout(left);
    page->addLayout(right);
    page->addStretch(1);

    connect(tvTraceCmd_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (item) ChooseAction(tvTraceCmd_->indexOfTopLevelItem(item));
    });
    connect(clearButton, &QPushButton::clicked, this, &TracePage::ClearTrace);
    connect(request, &QPushButton::clicked, this, &TracePage::RequestTraceStatus);
    connect(btTrcRecord_, &QPushButton::clicked, this, &TracePage::ToggleRecording);
    connect(btTrcRead_, &QPushButton::clicked, this, &TracePage::ToggleRead);
    connect(btConvert_, &QPushButton::clicked, this, &TracePage::StartConversion);
    connect(rgSelCvt_, &TRadioGroup::Clicked, this, [this] { pbConvert_->setValue(0); });
    readWatch_.setInterval(shared_.Timings.TraceReadWatchMs);
    connect(&readWatch_, &QTimer::timeout, this, &TracePage::WatchTraceRead);
    convertJob_ = std::make_unique<TraceConvertJob>(this);
}

TracePage::~TracePage() = default;

// ---- What the receive thread shows ----

void TracePage::ShowReadProgress(const TraceReadTexts& t) {
    pbReadProgress_->setValue(t.Position);
    lbProgress_->setText(QString::fromStdString(t.Progress));
}

void TracePage::ShowStatus(const std::optional<std::string>& status) {
    if (status) lbTrcStatus_->setText(QString::fromStdString(*status));
}

QLineEdit* TracePage::StatusField(const std::string& name) const {
    if (name == "lbTrcReadPos") return lbTrcReadPos_;
    if (name == "lbTrcPct") return lbTrcPct_;
    if (name == "lbTrcLogged") return lbTrcLogged_;
    return nullptr;
}

// ---- Actions, clear, status, record ----

void TracePage::ChooseAction(int row) {
    if (row < 0 || row >= 4) return;
    if (action_ >= 0) panels_[static_cast<size_t>(action_)]->hide();
    action_ = row;
    // This caption takes the highlight of its own palette.
    ShowActionPanel(panels_[static_cast<size_t>(row)], lbTrace_, tvTraceCmd_->topLevelItem(row)->text(0),
                    lbTrace_->palette().color(QPalette::Highlight));
    // The read asks the receiver for the rate the link runs at.
    rdTrcBaud_->SetItemIndex(shared_.State.LinkBaudIndex);
}

bool TracePage::SendFrame(const uint8_t* frame, int length) {
    std::shared_ptr<TSerialPort> port = shared_.Port.Get();
    if (!port || length <= 0) return false;
    try {
        port->txData(frame, length);
    } catch (const std::exception& e) {
        shared_.Boxes.Show("Error", e.what(), BoxIcon::Error);
        return false;
    }
    if (TraceFrameSent) TraceFrameSent(frame, length);
    return true;
}

bool TracePage::RequestTraceStatus() {
    const BuiltCommand c = MaintainTrace(0, shared_.Time);
    return SendFrame(c.Frame, c.Length);
}

void TracePage::ClearTrace() {
    const BuiltCommand c = MaintainTrace(1, shared_.Time);
    SendFrame(c.Frame, c.Length);
}

void TracePage::ToggleRecording() {
    if (traceState_ == 1) {
        btTrcRecord_->setText("Start");
        traceState_ = 0;
        tvTraceCmd_->setEnabled(true);
    } else {
        btTrcRecord_->setText("Stop");
        traceState_ = 1;
        tvTraceCmd_->setEnabled(false);  // no other action while recording
    }
    PanelValues v;
    v.SetItem("rgTraceRecordAction", traceState_);
    v.SetText("lbTraceDist", lbTrcDistance_->text().toStdString());
    v.SetText("lbTracePeriod", lbTrcPeriod_->text().toStdString());
    v.SetText("lbTraceTime", lbTrcTime_->text().toStdString());
    const BuiltCommand c = BuildCommand(0x1D, v, shared_.Time);
    SendFrame(c.Frame, c.Length);
}

// ---- Read ----

void TracePage::ToggleRead() {
    PanelValues v;
    v.SetItem("rgTraceRdFmt", rdTrcFormat_->ItemIndex());
    v.SetText("lbTracePos", lbStartPos_->text().toStdString());
    v.SetItem("rgTraceBaud", rdTrcBaud_->ItemIndex());
    if (traceState_ == 2) {
        StopTraceRead();
        v.SetItem("rgTraceReadAction", ReadStop);
    } else {
        if (!StartTraceRead()) return;
        v.SetItem("rgTraceReadAction", ReadStart);
    }
    const BuiltCommand c = BuildCommand(0x1E, v, shared_.Time);
    // A read whose request cannot go out has nothing to wait for.
    if (!SendFrame(c.Frame, c.Length) && traceState_ == 2) StopTraceRead();
}

bool TracePage::StartTraceRead() {
    const int64_t logged = IntegerOr(lbTrcLogged_->text().toStdString(), 0);
    if (logged <= 0) {
        shared_.Boxes.Show("Information", NothingToReadText, BoxIcon::Information);
        return false;
    }
    // The read never takes the log channel from a running NMEA log: the user ends that log.
    if (shared_.Log == LogUse::Nmea) {
        shared_.Boxes.Show("Information", ReadWhileLoggingText, BoxIcon::Information);
        return false;
    }
    if (!shared_.Port.Get()) return false;
    RawLog raw;
    std::string error;
    if (!raw.Open(shared_.DataFile(TraceRawFileName), error)) {
        shared_.Boxes.Show("Error", error, BoxIcon::Error);
        return false;
    }
    TViewTask& receiver = *shared_.ViewTask;
    // The count starts at 0 before the receive thread may test it against the logged count.
    receiver.ResetTraceRecordCount();
    receiver.StartLog(std::move(raw));
    shared_.Log = LogUse::TraceRead;
    receiver.SetTraceReadActive(true);
    btTrcRead_->setText("Stop");
    traceState_ = 2;
    tvTraceCmd_->setEnabled(false);
    pbReadProgress_->setMaximum(static_cast<int>(std::min<int64_t>(logged, INT_MAX)));
    pbReadProgress_->setValue(0);
    readSeen_ = 0;
    readDeadline_ = shared_.Time.NowSeconds() + shared_.Timings.TraceReadTimeoutSeconds;
    readWatch_.start();
    return true;
}

// The page's side of every end of a read: the channel and the page are free again.
void TracePage::LeaveTraceRead() {
    readWatch_.stop();
    shared_.ViewTask->SetTraceReadActive(false);
    if (shared_.Log == LogUse::TraceRead) {
        shared_.ViewTask->StopLog();
        shared_.Log = LogUse::None;
    }
    if (traceState_ == 2) {
        btTrcRead_->setText("Start");
        traceState_ = 0;
        tvTraceCmd_->setEnabled(true);
    }
}

void TracePage::StopTraceRead() {
    LeaveTraceRead();
    RequestTraceStatus();
    QThread::msleep(ReadStopPauseMs);
    pbReadProgress_->setValue(0);
    lbProgress_->setText("0");
}

void TracePage::TraceReadComplete() {
    // A read stopped meanwhile (by the user or the time-out) has nothing left to end.
    if (!shared_.ViewTask->TraceReadActive()) return;
    LeaveTraceRead();
    RequestTraceStatus();
}

void TracePage::WatchTraceRead() {
    if (traceState_ != 2) {
        readWatch_.stop();
        return;
    }
    // Ended elsewhere (a Read Trace stop sent from the View page): the log is closed here.
    if (!shared_.ViewTask->TraceReadActive()) {
        LeaveTraceRead();
        return;
    }
    const int read = shared_.ViewTask->TraceRecordsRead();
    const int64_t now = shared_.Time.NowSeconds();
    const int timeout = shared_.Timings.TraceReadTimeoutSeconds;
    if (read != readSeen_) {
        readSeen_ = read;
        readDeadline_ = now + timeout;
        return;
    }
    if (now <= readDeadline_) return;
    // The receiver has stopped sending: end the read as the Stop button would.
    const int logged = pbReadProgress_->maximum();
    ToggleRead();
    shared_.Boxes.Show("Error",
                       QString("No trace record arrived for %1 s: the read stopped after %2 of %3 records. "
                               "%4 holds what arrived.")
                           .arg(timeout)
                           .arg(read)
                           .arg(logged)
                           .arg(QString::fromStdString(shared_.DataFile(TraceRawFileName)))
                           .toStdString(),
                       BoxIcon::Error);
}

// ---- Conversion ----

void TracePage::StartConversion() {
    if (convertJob_->Running()) return;
    convertTotal_ = std::max<int64_t>(QFileInfo(QString::fromStdString(shared_.DataFile(TraceRawFileName))).size(), 0);
    pbConvert_->setRange(0, std::max(1, convertTotal_ <= INT_MAX ? static_cast<int>(convertTotal_)
                                                                 : static_cast<int>(ConvertScale)));
    pbConvert_->setValue(0);
    // The raw file must not change under the conversion: no other action until it ends.
    btConvert_->setEnabled(false);
    rgSelCvt_->setEnabled(false);
    tvTraceCmd_->setEnabled(false);
    convertJob_->Start(
        shared_.DataFile(TraceRawFileName), shared_.DataFile(TraceTextFileName), rgSelCvt_->ItemIndex(),
        [this](int64_t done, int64_t total) {
            if (total != convertTotal_) return;  // the file grew: the end sets the bar
            pbConvert_->setValue(ScaledConvert(done, total));
        },
        [this](const TraceConvertOutcome& outcome) { ConversionEnded(outcome); });
}

void TracePage::ConversionEnded(const TraceConvertOutcome& outcome) {
    btConvert_->setEnabled(true);
    rgSelCvt_->setEnabled(true);
    if (traceState_ == 0) tvTraceCmd_->setEnabled(true);
    if (outcome.Status == TraceConvertOutcome::Ok) pbConvert_->setValue(pbConvert_->maximum());
    if (outcome.Status == TraceConvertOutcome::Failed)
        shared_.Boxes.Show("Error", outcome.Error, BoxIcon::Error);
}

}  // namespace vantora
