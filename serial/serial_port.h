// The one serial port object: a terminal device in raw, non-blocking mode, shared by the
// window thread (writes, resets, close), the receive thread and the loader thread (reads, writes).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>
#include <string>

#include "protocol/platform.h"

namespace vantora {

// Raised by txData; what() is one of the fixed texts below.
class PortWriteError : public std::runtime_error {
public:
    using runtime_error::runtime_error;
};

inline constexpr const char* WriteFailedText = "WriteFile Failed 1.";
inline constexpr const char* WaitFailedText = "WaitForSingleObject failed.";
inline constexpr const char* ResultFailedText = "GetOverlappedResult failed.";

// Longest time one rxData call waits for bytes to arrive.
inline constexpr int ReadWaitMs = 50;

// What a device path named when it was opened. After a loss an adapter is taken again under its
// own name; a pseudo-terminal only through a link made anew (a simulator or bridge that came
// back), since its number alone is handed to the next program that asks for a terminal.
struct DeviceIdentity {
    bool PseudoTerminal = false;
    bool Link = false;  // the path is a symbolic link; the link itself:
    uint64_t LinkDevice = 0, LinkInode = 0;
    int64_t LinkChangedNs = 0;
};
// The path's link, and what the open descriptor fd is (-1: not looked at).
DeviceIdentity IdentifyDevice(const std::string& path, int fd);
bool MayReopen(const DeviceIdentity& opened, const DeviceIdentity& now);

class TSerialPort {
public:
    // Settings in the order the callers pass them, then the device path of this port index and
    // the sink for the "Error" boxes of Open and Reset. Opens nothing.
    TSerialPort(int portIndex, int baud, int byteSize, int stopBits, int parity, int spare, int inQueue,
                int outQueue, std::string devicePath, MessageBoxSink& boxes);
    ~TSerialPort();

    TSerialPort(const TSerialPort&) = delete;
    TSerialPort& operator=(const TSerialPort&) = delete;

    // Opens and configures the device. A device that cannot be opened or is held elsewhere
    // gives false with no box (the caller reports it); a failed set-up step shows its box and
    // gives false, leaving the device to Close.
    bool Open();
    // Why the last Open could not open the device: an errno value (EBUSY when another program
    // holds it), 0 when it opened or failed later, in the set-up.
    int OpenFailure() const { return openFailure_.load(std::memory_order_relaxed); }
    // The device went away under an open port (an adapter unplugged): rxData saw the hang-up.
    // Writes fail until Reconnect succeeds.
    bool Lost() const { return lost_.load(std::memory_order_acquire); }
    // After a loss: opens the same device path again with the current line settings, without
    // boxes (it runs on the receive thread). False while the device is not back.
    bool Reconnect();
    const std::string& DevicePath() const { return devicePath_; }
    // Wakes any thread waiting in rxData or txData and closes the device. True when every close
    // succeeded; safe on a port that was never or only partly opened.
    bool Close();
    // New line settings (baud 0 keeps the rate) and a purge of both directions.
    bool Reset(int baud, int byteSize, int stopBits, int parity, int spare);

    // Hands all bytes to the device, waiting as long as that takes. Throws PortWriteError.
    int txData(const uint8_t* data, int length);
    // Bytes already received, at most capacity, waiting at most ReadWaitMs when there are none.
    // 0 when nothing came or on any failure; never throws, never shows a box.
    int rxData(uint8_t* buffer, int capacity);

    int Baud() const;
    int StopBits() const;
    // True between a successful Open and Close.
    bool IsOpen() const { return ready_.load(std::memory_order_acquire); }

private:
    // Open's work; a set-up failure's text goes to failure instead of a box.
    bool OpenDevice(std::string& failure);
    bool CloseDevice();
    // A read saw the device go: the port is lost until Reconnect.
    int HungUp(int64_t deadlineMs);
    // Sleeps the rest of a read's time budget unless Close wakes it first.
    void WaitOutReadBudget(int64_t deadlineMs) const;

    const std::string devicePath_;
    MessageBoxSink& boxes_;

    // Line settings; Reset may run on the window thread and the receive thread at once.
    mutable std::mutex settingsLock_;
    int baud_;
    int byteSize_;
    int stopBits_;
    int parity_;

    // Readers and writers hold fdLock_ shared while they use the descriptors; Open and Close
    // hold it exclusively, so a descriptor is never closed (and its number reused) under a
    // running read or write. wakeFd_ is an eventfd that Close signals to end their waits.
    mutable std::shared_mutex fdLock_;
    std::atomic<int> fd_{-1};
    std::atomic<int> wakeFd_{-1};
    std::atomic<bool> ready_{false};
    std::atomic<int> openFailure_{0};
    std::atomic<bool> lost_{false};
    std::atomic<bool> released_{false};
    DeviceIdentity opened_;  // under settingsLock_
};

}  // namespace vantora
