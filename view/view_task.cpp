#include "view/view_task.h"

#include <pthread.h>

#include <exception>

namespace vantora {

TViewTask::TViewTask(CurrentPort& port, ViewDisplay& display, MainThreadRunner& runner,
                     ReceiverTables& tables, const Clock& clock)
    : port_(port),
      display_(display),
      runner_(runner),
      clock_(clock),
      binary_(*this, tables),
      splitter_(nmea_, binary_, clock, *this) {
    thread_ = std::thread([this] { Run(); });
}

TViewTask::~TViewTask() {
    Stop();
}

void TViewTask::Stop() {
    terminated_.store(true);
    Wake();
    if (thread_.joinable()) thread_.join();
}

void TViewTask::SetNmeaConfig(const int32_t* words) {
    if (!words) return;
    NmeaConfig config;
    std::copy(words, words + config.size(), config.begin());
    std::lock_guard lock(configMutex_);
    pendingConfig_ = config;
}

void TViewTask::ResetSentenceCount() {
    dataReceived_.store(false);
    sentenceSeen_.store(false);
    resetRequested_.fetch_add(1);
}

bool TViewTask::SentenceSeen() const {
    // Nothing counted before the loop has applied the latest reset belongs to this scan.
    return resetApplied_.load() == resetRequested_.load() && sentenceSeen_.load();
}

void TViewTask::StartLog(RawLog&& log) {
    std::lock_guard lock(logMutex_);
    log_.Close();  // a log whose close is still pending is closed here, never leaked
    log_ = std::move(log);
    logCloseRequest_.store(false);
}

bool TViewTask::LogOpen() const {
    std::lock_guard lock(logMutex_);
    return log_.IsOpen();
}

void TViewTask::Wake() {
    std::lock_guard lock(sleepMutex_);
    ++wakeups_;
    sleepCv_.notify_all();
}

// Sleeps ms, or less when switched on or off or stopped meanwhile.
void TViewTask::Sleep(int ms) {
    std::unique_lock lock(sleepMutex_);
    const uint64_t seen = wakeups_;
    sleepCv_.wait_for(lock, std::chrono::milliseconds(ms),
                      [&] { return terminated_.load() || wakeups_ != seen; });
}

void TViewTask::Run() {
    pthread_setname_np(pthread_self(), "SATView");
    while (!terminated_.load()) {
        try {
            Pass();
        } catch (const std::exception&) {
            // A failed port call ends this pass only; the next pass goes on.
        }
    }
    std::lock_guard lock(logMutex_);
    log_.Close();
}

void TViewTask::RequestTables(std::function<void(const ReceiverTables&)> done) {
    {
        std::lock_guard lock(tablesMutex_);
        tablesRequests_.push_back(std::move(done));
    }
    Wake();
}

void TViewTask::ServeTablesRequest() {
    std::vector<std::function<void(const ReceiverTables&)>> requests;
    {
        std::lock_guard lock(tablesMutex_);
        requests.swap(tablesRequests_);
    }
    if (requests.empty()) return;
    tablesCopy_ = binary_.Tables();
    Show([&] {
        for (const auto& done : requests)
            if (done) done(tablesCopy_);
    });
}

void TViewTask::ApplyReplyResets() {
    const unsigned resets = replyResets_.exchange(0);
    if (resets & ResetRevision) binary_.ClearRevision();
    if (resets & ResetClockOffset) binary_.ClearClockOffset();
    if (resets & ResetTestResults) binary_.ClearTestResults();
    ReceiverTables& tables = binary_.Tables();
    if (resets & ResetEphemerisProgress) tables.EphemerisCount = 0, tables.EphemerisMask = 0;
    if (resets & ResetAlmanacProgress) tables.AlmanacCount = 0, tables.AlmanacMask = 0;
}

void TViewTask::Pass() {
    if (logCloseRequest_.load()) {
        std::lock_guard lock(logMutex_);
        // Tested again under the lock: a StartLog in between has cleared it, and its log stays.
        if (logCloseRequest_.exchange(false)) log_.Close();
    }
    // Between two parses: the decoders have written whole records only.
    ApplyReplyResets();
    ServeTablesRequest();
    if (!active_.load()) {
        Sleep(IdleMs);
        return;
    }
    Sleep(PassMs);
    if (terminated_.load()) return;

    // Requests of the main thread take effect here, between parses.
    {
        std::lock_guard lock(configMutex_);
        if (pendingConfig_) {
            nmea_.SetConfig(pendingConfig_->data());
            pendingConfig_.reset();
        }
    }
    if (clearErrors_.exchange(false)) splitter_.ClearErrors();

    std::shared_ptr<TSerialPort> port = port_.Get();
    if (!port) {
        Sleep(PassMs);
        return;
    }

    const uint32_t reset = resetRequested_.load();
    if (reset != resetApplied_.load()) {
        nmea_.Reset();
        nmea_.ClearFix();
        sentenceSeen_.store(false);
        port->Reset(0, 8, 0, 0, 2);
        dataReceived_.store(false);
        // What was already on its way goes too; a bounded number of reads, since a receiver that
        // never pauses would otherwise hold the thread here for good.
        for (int i = 0; i < DrainReads && port->rxData(buffer_, ReadSize) > 0; ++i) {
        }
        resetApplied_.store(reset);
    }

    const int64_t now = clock_.NowSeconds();
    if (now > lastErrorDisplay_ + 1) {
        lastErrorDisplay_ = now;
        const int errors = splitter_.ErrorCount();
        Show([&] { display_.ShowErrorCount(errors); });
    }
    // The error count goes on showing while the device is gone.
    if (!FollowLink(*port)) return;

    const int n = port->rxData(buffer_, ReadSize);
    if (n > 0) {
        dataReceived_.store(true);
        std::string logFailure;
        {
            std::lock_guard lock(logMutex_);
            if (log_.IsOpen() && !log_.Append(buffer_, n)) {
                logFailure = log_.FailureText();
                log_.Close();
            }
        }
        if (!logFailure.empty()) Show([&] { display_.ShowLogFailure(logFailure); });
        ApplyReplyResets();  // a reset asked for before its command was sent precedes the reply
        splitter_.Feed(buffer_, n);
    }
    sentenceSeen_.store(nmea_.SentenceSeen());

    // One record a pass: NMEA first; a binary update waits for the next pass.
    // A record is shown in one wait on the window thread.
    if (nmea_.Record().Updated) {
        nmea_.Record().Updated = 0;
        displayRecord_ = nmea_.Record();
        displaySky_ = nmea_.Sky();
        Show([&] {
            display_.SetMeasurementVisible(false);
            display_.ShowFix(displayRecord_, &displaySky_);
        });
    } else if (binary_.Record().Updated) {
        binary_.Record().Updated = 0;
        displayRecord_ = binary_.Record();
        Show([&] {
            display_.SetMeasurementVisible(true);
            display_.ShowFix(displayRecord_, nullptr);
            display_.ShowMeasurementGrid(displayRecord_);
        });
    }

    if (traceReadActive_.load()) {
        const int read = traceRecordsRead_.load();
        const int logged = binary_.Trace.Logged;
        Show([&] {
            display_.ShowTraceReadProgress(read, logged);
            if (read >= logged) display_.EndTraceRead();
        });
    }
}

bool TViewTask::FollowLink(TSerialPort& port) {
    if (!port.Lost()) return true;
    // The log stays open and the parsers keep their state: after a replug the stream goes on in
    // the same file, and a cut item is abandoned as any other.
    if (!linkLost_) {
        linkLost_ = true;
        Show([&] { display_.ShowLinkState(false, port.DevicePath()); });
    }
    if (!port.Reconnect()) {
        Sleep(ReconnectMs);
        return false;
    }
    linkLost_ = false;
    Show([&] { display_.ShowLinkState(true, port.DevicePath()); });
    return true;
}

void TViewTask::ItemEnded(const SplitItem& item) {
    if (item.Type == TLexer::Garbage) return;  // counted, never shown as data
    sentenceText_.assign(item.Line);
    Show([&] { display_.ShowMessage(sentenceText_); });
}

}  // namespace vantora
