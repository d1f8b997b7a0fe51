// What a test recorder filled from other threads shares: one lock, and a wait on what it holds.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vantora {

class Guarded {
public:
    // Waits until pred holds (checked under the lock) or the time runs out.
    template <typename Pred>
    bool WaitFor(Pred pred, std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, limit, [&] { return pred(); });
    }
    template <typename Fn>
    auto Read(Fn fn) {
        std::lock_guard lock(mutex);
        return fn();
    }

    std::mutex mutex;
    std::condition_variable cv;

protected:
    // Changes the record under the lock and wakes the waiters.
    template <typename Fn>
    void Add(Fn fn) {
        {
            std::lock_guard lock(mutex);
            fn();
        }
        cv.notify_all();
    }
};

}  // namespace vantora
