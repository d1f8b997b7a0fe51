// The firmware loader thread. It owns the port while the Reload page is shown and armed.
// (For now it only idles; the load itself comes with the Reload page.)
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace vantora {

class TLoadTask {
public:
    TLoadTask();
    ~TLoadTask();
    TLoadTask(const TLoadTask&) = delete;
    TLoadTask& operator=(const TLoadTask&) = delete;

    void SetActive(bool active);
    bool Active() const { return active_.load(); }
    void Stop();

private:
    void Run();

    std::atomic<bool> active_{false};
    std::atomic<bool> terminated_{false};
    std::mutex mutex_;
    std::condition_variable cv_;
    std::thread thread_;
};

}  // namespace vantora
