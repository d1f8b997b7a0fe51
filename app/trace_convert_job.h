// The Trace page's conversion on a thread of its own, so that the window stays responsive
// however large the raw file is. Progress and the end are delivered on the window thread.
//
// This header names no type of the conversion library itself: the receiver's trace status
// record and the conversion's status share a name, and the window sees the former.
#pragma once

#include <QObject>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace vantora {

struct TraceConvertOutcome {
    enum Kind { Ok, Cancelled, Failed } Status = Failed;
    int64_t Records = 0;
    std::string Error;  // names the file and the cause when Failed
};

// The Trace page's files in the current folder: the raw bytes of a read, and their text form.

// Converts the raw file in into the text file out with the "Convert type" item form
// (0 ECEF, 1 geodetic; any other writes no lines). progress(done, total) may return false to
// cancel. Runs on the calling thread.
TraceConvertOutcome RunTraceConversion(const std::string& in, const std::string& out, int form,
                                       const std::function<bool(int64_t done, int64_t total)>& progress);

class TraceConvertJob {
public:
    using Progress = std::function<void(int64_t done, int64_t total)>;
    using Finished = std::function<void(const TraceConvertOutcome&)>;

    // progress and finished run on context's thread, through its event queue, and never after
    // the job is gone. context must outlive the job.
    explicit TraceConvertJob(QObject* context) : context_(context) {}
    // Cancels a running conversion and waits for its thread.
    ~TraceConvertJob();
    TraceConvertJob(const TraceConvertJob&) = delete;
    TraceConvertJob& operator=(const TraceConvertJob&) = delete;

    // False when a conversion is still running. Progress reaches the window at most about
    // every 15 ms and never queues up behind a busy window.
    bool Start(const std::string& in, const std::string& out, int form, Progress progress, Finished finished);
    bool Running() const { return running_; }

private:
    QObject* context_;
    std::thread thread_;
    bool running_ = false;  // window thread only
    std::atomic<bool> cancel_{false};
    std::atomic<bool> progressQueued_{false};
    // Deliveries queued for the window hold a weak reference: none runs after the job is gone.
    std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace vantora
