// The "&Trace" page: the receiver's trace buffer — clear, status request, record, read into
// the raw file with its end and time-out, and the conversion of a read into positions.
#pragma once

#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/trace_convert_job.h"
#include "app/window_shared.h"
#include "view/display_text.h"

class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace vantora {

class TLabeledEdit;
class TRadioGroup;

class TracePage : public QWidget {
    Q_OBJECT
public:
    explicit TracePage(WindowShared& shared);
    ~TracePage() override;

    // Every frame the page sends, once written (tests and diagnostics).
    std::function<void(const uint8_t* frame, int length)> TraceFrameSent;
    // 0 idle, 1 recording started from this page, 2 reading.
    int TraceState() const { return traceState_; }
    bool ConversionRunning() const { return convertJob_->Running(); }

    // What the receive thread shows here: the read's progress, the buffer's status.
    void ShowReadProgress(const TraceReadTexts& texts);
    void ShowStatus(const std::optional<std::string>& status);
    // A text field of the status by its name in the status texts (lbTrcReadPos, lbTrcPct,
    // lbTrcLogged); null for another name.
    QLineEdit* StatusField(const std::string& name) const;
    // The receive thread has every record of the read.
    void TraceReadComplete();

private:
    void ChooseAction(int row);
    bool SendFrame(const uint8_t* frame, int length);
    bool RequestTraceStatus();
    void ClearTrace();
    void ToggleRecording();
    void ToggleRead();
    bool StartTraceRead();
    void StopTraceRead();
    void LeaveTraceRead();
    void WatchTraceRead();
    void StartConversion();
    void ConversionEnded(const TraceConvertOutcome& outcome);

    WindowShared& shared_;
    QTreeWidget* tvTraceCmd_;
    QLabel* lbTrace_;
    QLabel* lbTrcStatus_;
    TLabeledEdit* lbTrcPct_;
    TLabeledEdit* lbTrcLogged_;
    TLabeledEdit* lbTrcReadPos_;
    std::array<QFrame*, 4> panels_{};  // Clear, Read, Record, Convert
    // Read
    QPushButton* btTrcRead_;
    TRadioGroup* rdTrcBaud_;
    TRadioGroup* rdTrcFormat_;
    TLabeledEdit* lbStartPos_;
    QProgressBar* pbReadProgress_;
    QLabel* lbProgress_;
    // Record
    QPushButton* btTrcRecord_;
    TLabeledEdit* lbTrcDistance_;
    TLabeledEdit* lbTrcPeriod_;
    TLabeledEdit* lbTrcTime_;
    // Convert
    QPushButton* btConvert_;
    TRadioGroup* rgSelCvt_;
    QProgressBar* pbConvert_;

    int action_ = -1;
    int traceState_ = 0;
    QTimer readWatch_;
    int readSeen_ = 0;
    int64_t readDeadline_ = 0;
    int64_t convertTotal_ = 0;
    std::unique_ptr<TraceConvertJob> convertJob_;
};

}  // namespace vantora
