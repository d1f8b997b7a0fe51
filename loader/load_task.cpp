#include "loader/load_task.h"

#include <pthread.h>

#include <chrono>
#include <exception>

namespace vantora {

TLoadTask::TLoadTask(CurrentPort& port, LoaderDisplay& display, MainThreadRunner& runner, const Clock& clock)
    : machine_(port, display, runner, clock, [this](int ms, bool wakeable) { return Sleep(ms, wakeable); }) {
    thread_ = std::thread([this] { Run(); });
}

TLoadTask::~TLoadTask() {
    Stop();
}

void TLoadTask::SetActive(bool active) {
    machine_.SetActive(active);
    Wake();
}

void TLoadTask::Start(LoadJob job) {
    machine_.Start(std::move(job));
    Wake();
}

void TLoadTask::SetStandby() {
    machine_.SetStandby();
    Wake();
}

void TLoadTask::ReturnToStandby() {
    machine_.ReturnToStandby();
    Wake();
}

void TLoadTask::Stop() {
    terminated_.store(true);
    Wake();
    if (thread_.joinable()) thread_.join();
}

void TLoadTask::Wake() {
    std::lock_guard lock(sleepMutex_);
    ++wakeups_;
    sleepCv_.notify_all();
}

// Sleeps ms; a stop ends any sleep, arming or starting ends a wakeable one. False when stopping.
bool TLoadTask::Sleep(int ms, bool wakeable) {
    if (ms <= 0) return !terminated_.load();
    std::unique_lock lock(sleepMutex_);
    const uint64_t seen = wakeups_;
    sleepCv_.wait_for(lock, std::chrono::milliseconds(ms),
                      [&] { return terminated_.load() || (wakeable && wakeups_ != seen); });
    return !terminated_.load();
}

void TLoadTask::Run() {
    pthread_setname_np(pthread_self(), "FWLoad");
    while (!terminated_.load()) {
        try {
            machine_.Pass();
        } catch (const std::exception&) {
            // Port write failures end the load inside the pass; anything else ends this pass only.
        }
    }
}

}  // namespace vantora
