#include "app/trace_convert_job.h"

#include <chrono>

#include "logging/trace_convert.h"

namespace vantora {

namespace {

constexpr auto ProgressInterval = std::chrono::milliseconds(15);

}  // namespace

TraceConvertOutcome RunTraceConversion(const std::string& in, const std::string& out, int form,
                                       const std::function<bool(int64_t done, int64_t total)>& progress) {
    std::string error;
    const TraceResult r = ConvertTrace(in, out, static_cast<TraceForm>(form), progress, error);
    TraceConvertOutcome o;
    o.Status = r.Status == ConvertStatus::Ok          ? TraceConvertOutcome::Ok
               : r.Status == ConvertStatus::Cancelled ? TraceConvertOutcome::Cancelled
                                                      : TraceConvertOutcome::Failed;
    o.Records = r.Records;
    if (o.Status == TraceConvertOutcome::Failed) o.Error = error;
    return o;
}

TraceConvertJob::~TraceConvertJob() {
    cancel_.store(true);
    if (thread_.joinable()) thread_.join();
}

bool TraceConvertJob::Start(const std::string& in, const std::string& out, int form, Progress progress,
                            Finished finished) {
    if (running_) return false;
    if (thread_.joinable()) thread_.join();  // the last one has delivered its end already
    running_ = true;
    cancel_.store(false);
    progressQueued_.store(false);
    std::weak_ptr<char> alive = alive_;
    thread_ = std::thread(
        [this, in, out, form, alive, progress = std::move(progress), finished = std::move(finished)] {
            auto last = std::chrono::steady_clock::now() - ProgressInterval;
            auto onProgress = [&](int64_t done, int64_t total) {
                const auto now = std::chrono::steady_clock::now();
                // A window that has not shown the last step yet gets no new one queued behind it.
                if (progress && now - last >= ProgressInterval && !progressQueued_.exchange(true)) {
                    last = now;
                    QMetaObject::invokeMethod(
                        context_,
                        [this, alive, progress, done, total] {
                            if (alive.expired()) return;
                            progressQueued_.store(false);
                            progress(done, total);
                        },
                        Qt::QueuedConnection);
                }
                return !cancel_.load();
            };
            const TraceConvertOutcome outcome = RunTraceConversion(in, out, form, onProgress);
            QMetaObject::invokeMethod(
                context_,
                [this, alive, finished, outcome] {
                    if (alive.expired()) return;
                    thread_.join();
                    running_ = false;
                    if (finished) finished(outcome);
                },
                Qt::QueuedConnection);
        });
    return true;
}

}  // namespace vantora
