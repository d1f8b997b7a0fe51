// CurrentPort: the one port reference that the window, the receive thread and the loader share.
// A worker takes its own reference for the length of one pass, so the object outlives any call
// a worker is making on it; Release closes the device at once (a worker inside rxData returns 0,
// one inside txData raises) so that the window can open the device again straight away.
#pragma once

#include <memory>
#include <mutex>

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

    // Empties the slot and closes the device; the object goes when its last holder lets go.
    void Release() {
        std::shared_ptr<TSerialPort> port;
        {
            std::lock_guard lock(mutex_);
            port.swap(port_);
        }
        if (!port) return;
        port->Close();
    }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<TSerialPort> port_;
};

}  // namespace vantora
