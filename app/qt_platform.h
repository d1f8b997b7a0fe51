// Qt implementations of the core's platform interfaces: message boxes and running a
// function on the window thread.
#pragma once

#include <QObject>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/platform.h"

class QWidget;

namespace vantora {

// Application-modal boxes with one OK button, parented to the window when one is set.
class QtMessageBoxSink : public MessageBoxSink {
public:
    void SetParent(QWidget* parent) { parent_ = parent; }
    void Show(const std::string& title, const std::string& text, BoxIcon icon) override;

private:
    QWidget* parent_ = nullptr;
};

// Records the boxes instead of showing them, so that nothing ever waits for a click.
class RecordingMessageBoxSink : public MessageBoxSink {
public:
    struct Box {
        std::string Title, Text;
        BoxIcon Icon;
    };
    void Show(const std::string& title, const std::string& text, BoxIcon icon) override;
    std::vector<Box> Boxes() const;
    void Clear();

private:
    mutable std::mutex mutex_;
    std::vector<Box> boxes_;
};

// Runs worker requests on the thread that constructed it (the window thread) and makes the
// worker wait for them. Called on the window thread itself it runs the function at once.
//
// The requests are queued here rather than in a blocking queued call so that the window
// thread can serve them while it waits for a worker (RunPending), and so that Close can
// release every waiting worker at shutdown: no combination of waits can deadlock.
class QtMainThreadRunner : public MainThreadRunner {
public:
    QtMainThreadRunner();
    ~QtMainThreadRunner() override;

    void RunAndWait(const std::function<void()>& fn) override;
    // Window thread: runs every queued request now.
    void RunPending();
    // The requests waiting to run (for tests: a worker is inside RunAndWait).
    size_t Pending();
    // Window thread: drops the queued requests (their workers go on without them) and makes
    // every later request return at once.
    void Close();

private:
    struct Call {
        const std::function<void()>* Fn;
        bool Done = false;
    };

    QObject context_;
    std::mutex mutex_;
    std::condition_variable done_;
    std::deque<Call*> queue_;
    bool closed_ = false;
};

}  // namespace vantora
