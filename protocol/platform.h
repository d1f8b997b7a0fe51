// Small interfaces through which the Qt-free core reaches the platform and the window.
// The program gives them Qt or system implementations; tests give recorders and fake clocks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vantora {

// The one clock of the program. Time-outs count whole seconds of the process clock,
// sleeps are in milliseconds; calendar time is only needed for the Set ID command.
class Clock {
public:
    virtual ~Clock() = default;
    virtual int64_t NowSeconds() const = 0;   // whole seconds of a monotonic process clock
    virtual int64_t NowMs() const = 0;        // milliseconds of the same clock
    virtual int64_t UnixSeconds() const = 0;  // calendar time, seconds since 1970-01-01 UTC
    virtual void SleepMs(int ms) const = 0;
};

// The real clock (steady clock for time-outs, system clock for calendar time).
const Clock& SystemClock();

// A clock that tests move by hand; SleepMs advances it instead of sleeping.
class ManualClock : public Clock {
public:
    int64_t NowSeconds() const override { return ms_ / 1000; }
    int64_t NowMs() const override { return ms_; }
    int64_t UnixSeconds() const override { return unix_; }
    void SleepMs(int ms) const override { ms_ += ms; }
    void AdvanceSeconds(int64_t s) { ms_ += s * 1000; }
    void SetUnixSeconds(int64_t s) { unix_ = s; }

private:
    mutable int64_t ms_ = 0;
    int64_t unix_ = 0;
};

enum class BoxIcon { None, Error, Stop, Information };

// Task-modal message boxes with one OK button.
class MessageBoxSink {
public:
    virtual ~MessageBoxSink() = default;
    virtual void Show(const std::string& title, const std::string& text, BoxIcon icon) = 0;
};

// Runs a function on the main (window) thread and waits until it has run.
// Must never be called from the main thread itself.
class MainThreadRunner {
public:
    virtual ~MainThreadRunner() = default;
    virtual void RunAndWait(const std::function<void()>& fn) = 0;
};

// Runs the function on the calling thread: for tests and the command-line tools.
class InlineRunner : public MainThreadRunner {
public:
    void RunAndWait(const std::function<void()>& fn) override { fn(); }
};

}  // namespace vantora
