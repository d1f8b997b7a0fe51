#include "loader/load_task.h"

#include <pthread.h>

#include <chrono>

namespace vantora {

TLoadTask::TLoadTask() { thread_ = std::thread([this] { Run(); }); }

TLoadTask::~TLoadTask() { Stop(); }

void TLoadTask::SetActive(bool active) {
    active_.store(active);
    std::lock_guard lock(mutex_);
    cv_.notify_all();
}

void TLoadTask::Stop() {
    {
        std::lock_guard lock(mutex_);
        terminated_.store(true);
        cv_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
}

void TLoadTask::Run() {
    pthread_setname_np(pthread_self(), "FWLoad");
    std::unique_lock lock(mutex_);
    while (!terminated_.load()) cv_.wait_for(lock, std::chrono::milliseconds(500));
}

}  // namespace vantora
