// The command part of the View page: the tree's selection, the panels' own handlers, Send
// and the repeated restart.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <limits>

#include "app/top_window.h"

namespace vantora {

namespace {

constexpr int RepeatWaitMs = 7000;  // the receiver's restart time before its output is trusted
constexpr int64_t RepeatDefault = 60;
const char* const BoxTitle = "Error";
const char* const NoPortText = "No port is open: show the View page to connect to the receiver first.";

// Runs a function whenever the watched widget's size changes.
class ResizeWatcher : public QObject {
public:
    ResizeWatcher(QObject* parent, std::function<void()> onResize)
        : QObject(parent), onResize_(std::move(onResize)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize) onResize_();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> onResize_;
};

void Uncheck(QAbstractButton* button) {
    // An auto-exclusive radio button cannot be unchecked directly.
    const bool exclusive = button->autoExclusive();
    button->setAutoExclusive(false);
    button->setChecked(false);
    button->setAutoExclusive(exclusive);
}

}  // namespace

void TfmTop::ConnectCommandHandlers() {
    connect(cmdTree_, &QTreeWidget::itemSelectionChanged, this, [this] {
        const QList<QTreeWidgetItem*> selected = cmdTree_->selectedItems();
        if (!selected.isEmpty()) CmdTreeChange(selected.first());
    });
    Control<QWidget>("pnRestart")->installEventFilter(new ResizeWatcher(this, [this] { pnRestartResize(); }));
    connect(Control<TRadioGroup>("SetStartMode"), &TRadioGroup::Clicked, this, &TfmTop::SetStartModeClick);
    connect(Control<TRadioGroup>("rgID"), &TRadioGroup::Clicked, this, &TfmTop::rgIDClick);
    connect(Control<TRadioGroup>("rgOutputFormat"), &TRadioGroup::Clicked, this,
            &TfmTop::rgOutputFormatClick);
    connect(Control<QPushButton>("btSend"), &QPushButton::clicked, this, &TfmTop::btSendClick);
    connect(Control<QPushButton>("btSpecial"), &QPushButton::clicked, this, &TfmTop::btSpecialClick);
    connect(tmrRepeat_, &QTimer::timeout, this, &TfmTop::tmrRepeatTimer);
    repeatWait_ = new QTimer(this);
    repeatWait_->setObjectName("tmrRepeatWait");
    repeatWait_->setSingleShot(true);
    repeatWait_->setInterval(RepeatWaitMs);
    connect(repeatWait_, &QTimer::timeout, this, [this] {
        if (!shutDown_) viewTask_->ResetSentenceCount();
    });
}

// ---- Tree and panels ----

void TfmTop::ShowActionPanel(QWidget* panel, const QRect& place, QLabel* caption, const QString& text,
                             const QColor& highlight) {
    panel->setGeometry(place);
    panel->show();
    caption->setText(text);
    QPalette pal = caption->palette();
    pal.setColor(QPalette::WindowText, highlight);
    caption->setPalette(pal);
}

bool TfmTop::SelectCommand(int cmd) {
    for (size_t i = 0; i < treeCommands_.size(); ++i) {
        if (treeCommands_[i] != cmd) continue;
        cmdTree_->setCurrentItem(cmdTree_->topLevelItem(static_cast<int>(i)));
        return true;
    }
    return false;
}

void TfmTop::CmdTreeChange(QTreeWidgetItem* node) {
    const int position = cmdTree_->indexOfTopLevelItem(node);
    if (position < 0 || position >= static_cast<int>(treeCommands_.size())) return;
    if (selectedCommand_ != 0) CommandPanel(selectedCommand_)->hide();
    selectedCommand_ = treeCommands_[static_cast<size_t>(position)];
    ShowActionPanel(CommandPanel(selectedCommand_), QRect(470, 23, 224, 265), Control<QLabel>("lbCmd"),
                    node->text(0), palette().color(QPalette::Highlight));

    switch (selectedCommand_) {
        case 0x01:
            if (settings_.PrivilegeLevel == 1)
                for (const char* name : {"lbSecond", "lbRepeat", "btSpecial"}) Control<QWidget>(name)->show();
            break;
        case 0x03:
        case 0x1B: {
            const bool extended = selectedCommand_ == 0x1B;
            Control<QWidget>("lbEdIdx")->setVisible(!extended);
            Control<QWidget>("lbElpA")->setVisible(extended);
            Control<QWidget>("lbElpF")->setVisible(extended);
            break;
        }
        case 0x1E:
            Control<TRadioGroup>("rgTraceBaud")->SetItemIndex(cbFWbaud_->currentIndex());
            break;
        default:
            break;
    }
}

void TfmTop::pnRestartResize() {
    const QDateTime now = QDateTime::fromSecsSinceEpoch(clock_.UnixSeconds(), Qt::UTC);
    const QDate d = now.date();
    const QTime t = now.time();
    const std::pair<const char*, int> fields[6] = {{"RSTyear", d.year()},     {"RSTmonth", d.month()},
                                                   {"RSTday", d.day()},       {"RSThour", t.hour()},
                                                   {"RSTminute", t.minute()}, {"RSTsecond", t.second()}};
    for (const auto& [name, value] : fields) Control<QLineEdit>(name)->setText(QString::number(value));
}

void TfmTop::SetStartModeClick() {}

void TfmTop::rgIDClick() {
    auto* group = Control<TRadioGroup>("rgID");
    if (settings_.PrivilegeLevel < 10 && group->ItemIndex() == 0) {
        boxes_.Show("Vantora", "Module ID need preliviledge!", BoxIcon::None);
        group->SetItemIndex(1);
    }
}

void TfmTop::rgOutputFormatClick() {
    auto* group = Control<TRadioGroup>("rgOutputFormat");
    if (settings_.PrivilegeLevel < 10 && group->ItemIndex() == 4) {
        boxes_.Show("Vantora", "Raw Data need preliviledge", BoxIcon::None);
        group->SetItemIndex(1);
    }
}

// ---- Panel values ----

PanelValues TfmTop::CollectPanelValues() const {
    PanelValues values = PanelValues::Defaults();
    for (const ControlInfo& c : ControlTable()) {
        switch (c.Kind) {
            case ControlKind::Text:
                if (auto* edit = Control<QLineEdit>(c.Name))
                    values.SetText(c.Name, edit->text().toStdString());
                break;
            case ControlKind::Item:
                if (auto* group = Control<TRadioGroup>(c.Name)) values.SetItem(c.Name, group->ItemIndex());
                break;
            case ControlKind::Check:
                if (auto* box = Control<QCheckBox>(c.Name)) values.SetChecked(c.Name, box->isChecked());
                break;
        }
    }
    return values;
}

bool TfmTop::SetPanelControl(const std::string& name, const std::string& value, std::string& error) {
    PanelValues parsed;
    if (!parsed.Assign(name, value, error)) return false;
    QWidget* w = Control<QWidget>(name.c_str());
    switch (*PanelValues::KindOf(name)) {
        case ControlKind::Text:
            if (auto* edit = qobject_cast<QLineEdit*>(w)) {
                edit->setText(QString::fromStdString(parsed.Text(name)));
                return true;
            }
            break;
        case ControlKind::Item:
            if (auto* group = qobject_cast<TRadioGroup*>(w)) {
                group->SetItemIndex(parsed.Item(name));
                return true;
            }
            break;
        case ControlKind::Check:
            if (auto* box = qobject_cast<QCheckBox*>(w)) {
                box->setChecked(parsed.Checked(name));
                return true;
            }
            break;
    }
    error = "the window has no control '" + name + "'";
    return false;
}

// ---- Send ----

bool TfmTop::WriteCommand(const BuiltCommand& built, bool showBoxes) {
    if (built.Error) {
        if (showBoxes) boxes_.Show(BoxTitle, built.Error->Message(), BoxIcon::Error);
        return false;
    }
    std::shared_ptr<TSerialPort> port = port_.Get();
    if (!port) {
        if (showBoxes) boxes_.Show(BoxTitle, NoPortText, BoxIcon::Error);
        return false;
    }
    try {
        port->txData(built.Frame, built.Length);
    } catch (const PortWriteError& e) {
        if (showBoxes) boxes_.Show(BoxTitle, e.what(), BoxIcon::Error);
        return false;
    }
    return true;
}

void TfmTop::ApplySendEffects(const SendEffects& fx) {
    if (fx.UpdateNmeaConfig) {
        ApplyNmeaEffects(fx, settings_.Nmea);
        viewTask_->SetNmeaConfig(settings_.Nmea.data());
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
    viewTask_->ResetReplies(resets);
    if (fx.TraceReadActive) viewTask_->SetTraceReadActive(*fx.TraceReadActive);
}

void TfmTop::btSendClick() {
    Uncheck(Control<QAbstractButton>("rbACK"));
    Uncheck(Control<QAbstractButton>("rbNACK"));
    const BuiltCommand built = BuildCommand(selectedCommand_, CollectPanelValues(), clock_);
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

void TfmTop::btSpecialClick() {
    auto* button = Control<QPushButton>("btSpecial");
    if (tmrRepeat_->isActive()) {
        button->setText("Repeat EXE");
        tmrRepeat_->stop();
        return;
    }
    button->setText("Stop EXE");
    repeatFailed_ = false;
    tmrRepeat_->start();
    repeatCountdown_ = 1;
    repeatPhase_ = 2;
}

void TfmTop::tmrRepeatTimer() {
    // The receiver is still restarting: nothing counts until the wait is over.
    if (repeatWait_->isActive()) return;
    const int phase = repeatPhase_;
    if (phase == 0) {
        if (!viewTask_->DataReceived()) return;
        repeatPhase_ = 1;
    }
    if (phase == 0 || phase == 1) {
        if (--repeatCountdown_ > 0) return;
        repeatPhase_ = 2;
    }
    // A failure leaves the phase at 2, so the next tick tries again; its box is shown once
    // per run of failures rather than every second.
    // The flag is set before the box: ticks go on while a box is open.
    const bool showBox = !repeatFailed_;
    repeatFailed_ = true;
    if (!WriteCommand(BuildCommand(0x01, CollectPanelValues(), clock_), showBox)) return;
    repeatFailed_ = false;
    int64_t every = IntegerOr(Control<QLineEdit>("lbRepeat")->text().toStdString(), RepeatDefault);
    if (every < std::numeric_limits<int>::min() || every > std::numeric_limits<int>::max())
        every = RepeatDefault;
    repeatCountdown_ = static_cast<int>(every);
    repeatPhase_ = 0;
    repeatWait_->start();
}

}  // namespace vantora
