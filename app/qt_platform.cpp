#include "app/qt_platform.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

namespace vantora {

void QtMessageBoxSink::Show(const std::string& title, const std::string& text, BoxIcon icon) {
    // A worker (the loader resetting the port) must not open a box itself, nor wait for one:
    // the main thread may be waiting for that worker to stop.
    if (QThread::currentThread() != QCoreApplication::instance()->thread()) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [this, title, text, icon] { Show(title, text, icon); },
            Qt::QueuedConnection);
        return;
    }
    QMessageBox::Icon qicon = QMessageBox::NoIcon;
    switch (icon) {
        case BoxIcon::None:
            qicon = QMessageBox::NoIcon;
            break;
        case BoxIcon::Error:
        case BoxIcon::Stop:
            qicon = QMessageBox::Critical;
            break;
        case BoxIcon::Information:
            qicon = QMessageBox::Information;
            break;
    }
    QMessageBox box(qicon, QString::fromStdString(title), QString::fromStdString(text), QMessageBox::Ok,
                    parent_);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

void RecordingMessageBoxSink::Show(const std::string& title, const std::string& text, BoxIcon icon) {
    std::lock_guard lock(mutex_);
    boxes_.push_back({title, text, icon});
}

std::vector<RecordingMessageBoxSink::Box> RecordingMessageBoxSink::Boxes() const {
    std::lock_guard lock(mutex_);
    return boxes_;
}

void RecordingMessageBoxSink::Clear() {
    std::lock_guard lock(mutex_);
    boxes_.clear();
}

QtMainThreadRunner::QtMainThreadRunner() = default;

QtMainThreadRunner::~QtMainThreadRunner() {
    Close();
}

void QtMainThreadRunner::RunAndWait(const std::function<void()>& fn) {
    if (QThread::currentThread() == context_.thread()) {
        fn();
        return;
    }
    Call call{&fn};
    {
        std::lock_guard lock(mutex_);
        if (closed_) return;
        queue_.push_back(&call);
    }
    QMetaObject::invokeMethod(
        &context_, [this] { RunPending(); }, Qt::QueuedConnection);
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return call.Done; });
}

void QtMainThreadRunner::RunPending() {
    for (;;) {
        Call* call = nullptr;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) return;
            call = queue_.front();
            queue_.pop_front();
        }
        (*call->Fn)();
        std::lock_guard lock(mutex_);
        call->Done = true;
        done_.notify_all();
    }
}

size_t QtMainThreadRunner::Pending() {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

void QtMainThreadRunner::Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    for (Call* call : queue_) call->Done = true;
    queue_.clear();
    done_.notify_all();
}

}  // namespace vantora
