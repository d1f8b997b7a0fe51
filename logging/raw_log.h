// A raw log file: the received bytes exactly as read, written unbuffered so the file is
// complete at every moment (a crash or a pulled cable loses nothing already received).
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace vantora {

class RawLog {
public:
    RawLog() = default;
    ~RawLog();
    RawLog(const RawLog&) = delete;
    RawLog& operator=(const RawLog&) = delete;
    RawLog(RawLog&& other) noexcept { *this = std::move(other); }
    RawLog& operator=(RawLog&& other) noexcept {
        if (this != &other) {
            Close();
            fd_ = other.fd_;
            path_ = std::move(other.path_);
            written_ = other.written_;
            errno_ = other.errno_;
            other.fd_ = -1;
        }
        return *this;
    }

    // Creates or truncates path; false with a message naming the path.
    bool Open(const std::string& path, std::string& error);
    // Appends all bytes; false after a write error (the disk full, the file gone).
    bool Append(const uint8_t* data, int n);
    bool Close();
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }
    // Why the last Append failed, with the path and how much the file holds.
    std::string FailureText() const;

private:
    int fd_ = -1;
    std::string path_;
    int64_t written_ = 0;
    int errno_ = 0;
};

}  // namespace vantora
