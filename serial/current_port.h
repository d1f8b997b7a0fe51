// CurrentPort: the one port reference that the window, the receive thread and the loader share.
// A worker takes its own reference for the length of one pass; Release empties the slot and
// destroys the port only after every worker has let go of it, so no thread is ever inside a
// call on a destroyed port and the device is closed before the window opens it again.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

#include "serial/serial_port.h"

namespace vantora {

class CurrentPort {
public:
    void Set(std::shared_ptr<TSerialPort> port) {
        std::lock_guard lock(mutex_);
        port_ = std::move(port);
    }

    std::shared_ptr<TSerialPort> Get() const {
        std::lock_guard lock(mutex_);
        return port_;
    }

    explicit operator bool() const { return Get() != nullptr; }

    // Empties the slot, closes the device at once (a worker inside rxData returns 0) and
    // waits until no worker holds the object before it is destroyed.
    void Release() {
        std::shared_ptr<TSerialPort> port;
        {
            std::lock_guard lock(mutex_);
            port.swap(port_);
        }
        if (!port) return;
        port->Close();
        while (port.use_count() > 1) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        port.reset();
    }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<TSerialPort> port_;
};

}  // namespace vantora
