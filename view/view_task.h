// The receive thread: every 100 ms it reads what the port holds, logs it, splits it into
// sentences and frames for both parsers, and has the main thread show what changed.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "logging/raw_log.h"
#include "protocol/binary.h"
#include "protocol/nmea.h"
#include "protocol/platform.h"
#include "protocol/splitter.h"
#include "serial/current_port.h"
#include "view/view_display.h"

namespace vantora {

class TViewTask : private ReplyDisplay, private SplitterSink {
public:
    static constexpr int ReadSize = 2048;
    static constexpr int DrainReads = 8;  // reads after a reset's purge, at most
    static constexpr int PassMs = 100;
    static constexpr int IdleMs = 500;
    // How often a lost port's device is looked for.
    static constexpr int ReconnectMs = 400;

    // Starts the thread at once, inactive. display runs on the main thread through runner.
    TViewTask(CurrentPort& port, ViewDisplay& display, MainThreadRunner& runner, ReceiverTables& tables,
              const Clock& clock = SystemClock());
    // Stops the loop in order (it leaves its port call and closes the log) and joins it.
    ~TViewTask();
    TViewTask(const TViewTask&) = delete;
    TViewTask& operator=(const TViewTask&) = delete;

    // Main-thread operations: they set requests that the loop acts on at its next pass.
    void SetActive(bool active) { active_.store(active); Wake(); }
    bool Active() const { return active_.load(); }
    void SetNmeaConfig(const int32_t* words);
    // Purge and drain the port, forget the data-received indication, reset the parser's
    // counters and its position record before anything further is parsed.
    void ResetSentenceCount();
    bool SentenceSeen() const;
    bool DataReceived() const { return dataReceived_.load(); }
    void ClearErrorCount() { clearErrors_.store(true); }
    // Hands over an open log; a log still open (or waiting to close) is closed first.
    void StartLog(RawLog&& log);
    // The loop closes the log at its next pass, after writing what that pass read.
    void StopLog() { logCloseRequest_.store(true); }
    bool LogOpen() const;

    // Trace read (the window's flag): the loop shows progress and ends the read.
    void SetTraceReadActive(bool on) { traceReadActive_.store(on); }
    bool TraceReadActive() const { return traceReadActive_.load(); }
    void ResetTraceRecordCount() { traceRecordsRead_.store(0); }
    int TraceRecordsRead() const { return traceRecordsRead_.load(); }

    // Saves of the ephemeris and almanac tables: the loop copies the tables between two parses,
    // so that every block is whole, and hands the copy to done on the main thread. Requests are
    // served in order at the next pass; none is served once the loop has stopped.
    void RequestTables(std::function<void(const ReceiverTables&)> done);

    // Ends the loop (idempotent); the destructor calls it.
    void Stop();

    // Send's resets of the reply records. The decoders write those records on the loop's thread,
    // so the loop applies the resets itself at its next pass, before it reads the reply.
    enum ReplyReset : unsigned {
        ResetRevision = 1, ResetClockOffset = 2, ResetTestResults = 4, ResetEphemerisProgress = 8,
        ResetAlmanacProgress = 16,
    };
    void ResetReplies(unsigned resets) { replyResets_.fetch_or(resets); }

    // The decoders' records, for the displays that run while the loop waits for them.
    TBinary& Binary() { return binary_; }

private:
    void Run();
    void Pass();
    void ServeTablesRequest();
    // False while the port's device is gone; shows the loss and the return once each.
    bool FollowLink(TSerialPort& port);
    void ApplyReplyResets();
    void Sleep(int ms);
    void Wake();
    void Show(const std::function<void()>& fn) { runner_.RunAndWait(fn); }

    // ReplyDisplay: the decoders' requests, run on the main thread.
    void ShowAck(uint8_t c) override { Show([&] { display_.ShowAck(c); }); }
    void ShowNak(uint8_t c) override { Show([&] { display_.ShowNak(c); }); }
    void ShowClockOffset() override { Show([&] { display_.ShowClockOffset(); }); }
    void ShowRevision() override { Show([&] { display_.ShowRevision(); }); }
    void ShowBuiltInTest() override { Show([&] { display_.ShowBuiltInTest(); }); }
    void ShowEphemerisProgress() override { Show([&] { display_.ShowEphemerisProgress(); }); }
    void ShowAlmanacProgress() override { Show([&] { display_.ShowAlmanacProgress(); }); }
    void ShowModuleId() override { Show([&] { display_.ShowModuleId(); }); }
    void ShowNavigationSetting(const uint8_t* p) override { Show([&] { display_.ShowNavigationSetting(p); }); }
    void ShowSystemSetting(const uint8_t* p) override { Show([&] { display_.ShowSystemSetting(p); }); }
    void ShowTraceStatus() override { Show([&] { display_.ShowTraceStatus(); }); }
    void TraceRecordReceived() override { traceRecordsRead_.fetch_add(1); }
    // SplitterSink: one memo line per ended item.
    void ItemEnded(const SplitItem& item) override;

    CurrentPort& port_;
    ViewDisplay& display_;
    MainThreadRunner& runner_;
    const Clock& clock_;

    // Parser state: touched by the loop only.
    TNmea nmea_;
    TBinary binary_;
    TStreamSplitter splitter_;
    NavRecord displayRecord_{};
    GnssSky displaySky_{};  // taken with an NMEA record
    std::string sentenceText_;
    int64_t lastErrorDisplay_ = 0;
    bool linkLost_ = false;
    uint8_t buffer_[ReadSize] = {};

    // Requests from the main thread.
    std::atomic<bool> active_{false};
    std::atomic<bool> terminated_{false};
    std::atomic<bool> dataReceived_{false};
    std::atomic<bool> clearErrors_{false};
    std::atomic<bool> logCloseRequest_{false};
    std::atomic<bool> traceReadActive_{false};
    std::atomic<int> traceRecordsRead_{0};
    std::atomic<unsigned> replyResets_{0};
    // ResetSentenceCount asks for generation n; the loop applies it before parsing further.
    std::atomic<uint32_t> resetRequested_{0};
    std::atomic<uint32_t> resetApplied_{0};
    std::atomic<bool> sentenceSeen_{false};

    mutable std::mutex configMutex_;
    std::optional<NmeaConfig> pendingConfig_;

    mutable std::mutex logMutex_;
    RawLog log_;

    std::mutex tablesMutex_;
    std::vector<std::function<void(const ReceiverTables&)>> tablesRequests_;
    ReceiverTables tablesCopy_{};  // the loop's; handed out while it waits

    std::mutex sleepMutex_;
    std::condition_variable sleepCv_;
    uint64_t wakeups_ = 0;
    std::thread thread_;
};

}  // namespace vantora
