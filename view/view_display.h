// What the receive thread shows: every call runs on the main thread while the thread waits.
// The window implements it with its controls; tests and tools implement it with recorders.
#pragma once

#include <string>

#include "protocol/gnss_sky.h"
#include "protocol/nav_record.h"
#include "protocol/reply_display.h"

namespace vantora {

class ViewDisplay : public ReplyDisplay {
public:
    // One complete sentence or frame for the memo (and the activity mark).
    virtual void ShowMessage(const std::string& text) = 0;
    // sky: the NMEA side's sky of every constellation, taken with the record; null for a
    // snapshot of the binary blocks, which fill the record only.
    virtual void ShowFix(const NavRecord& snapshot, const GnssSky* sky) = 0;
    virtual void ShowErrorCount(int errors) = 0;
    // lbClkOff and sgMeas: shown for binary output, hidden for NMEA.
    virtual void SetMeasurementVisible(bool visible) = 0;
    virtual void ShowMeasurementGrid(const NavRecord& snapshot) = 0;
    virtual void ShowTraceReadProgress(int recordsRead, int logged) = 0;
    // The trace read has all its records: the window ends it.
    virtual void EndTraceRead() = 0;
    // The port's device went away (present false) or is open again (true).
    virtual void ShowLinkState(bool /*present*/, const std::string& /*device*/) {}
    // A write to the log failed; the thread has closed it. text says why (RawLog::FailureText).
    virtual void ShowLogFailure(const std::string& /*text*/) {}
    // Not a display: the receive thread counts trace records itself.
    void TraceRecordReceived() override {}
};

// Shows nothing; a base for displays that care about a few requests.
class NullViewDisplay : public NullReplies<ViewDisplay> {
public:
    void ShowMessage(const std::string&) override {}
    void ShowFix(const NavRecord&, const GnssSky*) override {}
    void ShowErrorCount(int) override {}
    void SetMeasurementVisible(bool) override {}
    void ShowMeasurementGrid(const NavRecord&) override {}
    void ShowTraceReadProgress(int, int) override {}
    void EndTraceRead() override {}
};

}  // namespace vantora
