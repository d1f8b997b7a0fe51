// The firmware loader thread ("FWLoad"). It runs for the life of the window and does nothing
// until the Reload page arms it; then it owns the port and runs the loader's passes.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "loader/loader_machine.h"

namespace vantora {

class TLoadTask {
public:
    // Starts the thread at once, unarmed, in state 0. display runs on the main thread through runner.
    TLoadTask(CurrentPort& port, LoaderDisplay& display, MainThreadRunner& runner,
              const Clock& clock = SystemClock());
    ~TLoadTask();
    TLoadTask(const TLoadTask&) = delete;
    TLoadTask& operator=(const TLoadTask&) = delete;

    // Main-thread operations; the thread acts on them at its next pass.
    void SetActive(bool active);
    bool Active() const { return machine_.Active(); }
    // Write: arms the loader with the load's parameters (state 2).
    void Start(LoadJob job);
    // Browse: Standby at the loader's next pass, without a display.
    void SetStandby();
    // Leaves an interrupted load ("Interrupt!") for Standby without a restart of the program.
    void ReturnToStandby();
    int GetState() const { return machine_.GetState(); }
    void SetReconfigure(bool on) { machine_.SetReconfigure(on); }
    bool Reconfigure() const { return machine_.Reconfigure(); }

    // Ends the thread (idempotent): it leaves its sleep or port call and is joined.
    void Stop();

private:
    void Run();
    bool Sleep(int ms, bool wakeable);
    void Wake();

    std::atomic<bool> terminated_{false};
    std::mutex sleepMutex_;
    std::condition_variable sleepCv_;
    uint64_t wakeups_ = 0;
    LoaderMachine machine_;
    std::thread thread_;
};

}  // namespace vantora
