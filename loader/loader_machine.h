// The firmware loader's state machine, one pass at a time: TLoadTask runs the passes on its
// thread; tests run them on their own with a hand-moved clock.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "loader/load_job.h"
#include "loader/loader_display.h"
#include "protocol/lexer.h"
#include "protocol/nmea.h"
#include "protocol/platform.h"
#include "serial/current_port.h"

namespace vantora {

class LoaderMachine {
public:
    static constexpr int ReadSize = 2048;
    static constexpr int ProgressMaximum = 128;
    static constexpr int IdleMs = 100;
    static constexpr int RequestSettleMs = 100;  // the request leaves before the rate changes
    static constexpr int AutoReturnMs = 2000;    // an interrupted Auto Load back to Standby

    // Sleeps ms milliseconds on the loader's thread; a wakeable sleep may end early when the
    // main thread arms or starts the loader. False when the loader is being stopped.
    using SleepFn = std::function<bool(int ms, bool wakeable)>;

    LoaderMachine(CurrentPort& port, LoaderDisplay& display, MainThreadRunner& runner, const Clock& clock,
                  SleepFn sleep);
    LoaderMachine(const LoaderMachine&) = delete;
    LoaderMachine& operator=(const LoaderMachine&) = delete;

    // ---- main thread -------------------------------------------------------------------
    // Requests, carried out in order at the start of the loader's next pass: the armed flag and
    // the state change only on the loader thread, so a pass never sees half of a request.
    // Arms or disarms; disarming during a load interrupts it ("Interrupt!").
    void SetActive(bool active) { Request(active ? Arm : Disarm); }
    bool Active() const { return active_.load(); }
    // Write: arms the loader with the job in state 2 (not shown); its first pass moves on.
    void Start(LoadJob job) { Request(StartLoad, std::move(job)); }
    // Browse: Standby directly, without a display.
    void SetStandby() { Request(Standby); }
    // Leaves an interrupted load: an unarmed loader above Standby returns to Standby (shown).
    void ReturnToStandby() { Request(LeaveInterrupt); }
    int GetState() const { return state_.load(); }
    // The reconfigure flag; nothing in the load depends on it.
    void SetReconfigure(bool on) { reconfigure_.store(on); }
    bool Reconfigure() const { return reconfigure_.load(); }

    // ---- loader thread -----------------------------------------------------------------
    // One pass: read what the receiver said, act on it, send what the state asks for.
    void Pass();

private:
    void PassBody(TSerialPort& port);
    void Step(TSerialPort& port, int result);
    void SetState(int state, int seconds);
    void Show(const std::function<void()>& fn) { runner_.RunAndWait(fn); }
    enum RequestKind { Arm, Disarm, StartLoad, Standby, LeaveInterrupt };
    void Request(RequestKind kind, std::optional<LoadJob> job = std::nullopt);
    void TakeRequests();
    bool AutoLoad() const { return job_.AutoLoad; }
    void SendRequest(TSerialPort& port, bool announced);
    void BeginSending();
    void SendPacket(TSerialPort& port);
    void ShowTransfer();
    void CheckCrc(TSerialPort& port);
    void SendFactoryDefault(TSerialPort& port);
    void End(LoadEnd end, int state, std::string detail = {});
    void OnTimeOut(TSerialPort* port);
    void OnUnarmed();
    void OnPortFailure(const char* what);

    CurrentPort& port_;
    LoaderDisplay& display_;
    MainThreadRunner& runner_;
    const Clock& clock_;
    SleepFn sleep_;

    // Read by the main thread, written by the loader thread only.
    std::atomic<bool> active_{false};
    std::atomic<int> state_{StateSetup};
    std::atomic<bool> reconfigure_{false};
    // The main thread's requests.
    std::mutex requestMutex_;
    std::vector<std::pair<RequestKind, std::optional<LoadJob>>> requests_;

    // The loader thread's own.
    LoadJob job_;
    int64_t deadline_ = 0;
    bool standbyRequest_ = false;
    TLexer lexer_;
    TNmea nmea_;
    uint8_t buffer_[ReadSize] = {};
    int passDelay_ = 1;
    bool eraseTimedOut_ = false;
    int loadAnswer_ = 0;   // 1 acknowledged, -1 refused, 0 none
    int eraseAnswer_ = 0;  // 1 acknowledged
    uint32_t loadLimit_ = 0;
    uint32_t progressStep_ = 64;
    uint32_t offset_ = 0;
    uint16_t crc_ = 0;
    std::optional<LoaderCrcValues> crcValues_;  // of the load's CRC check
    bool loadOpen_ = false;                     // a load started and has not reported its end yet
    bool requestSent_ = false;                  // ... and its request went out
    int64_t sendStartMs_ = -1;                  // -1: nothing sent in this load yet
    int64_t sendEndMs_ = -1;
};

}  // namespace vantora
