#include "protocol/platform.h"

#include <chrono>
#include <thread>

namespace vantora {

namespace {

class SteadySystemClock : public Clock {
public:
    int64_t NowSeconds() const override { return NowMs() / 1000; }
    int64_t NowMs() const override {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    int64_t UnixSeconds() const override {
        using namespace std::chrono;
        return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
    }
    void SleepMs(int ms) const override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

}  // namespace

const Clock& SystemClock() {
    static const SteadySystemClock clock;
    return clock;
}

}  // namespace vantora
