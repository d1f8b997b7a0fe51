#include "logging/raw_log.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace vantora {

RawLog::~RawLog() { Close(); }

bool RawLog::Open(const std::string& path, std::string& error) {
    Close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        error = "Cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    path_ = path;
    written_ = 0;
    errno_ = 0;
    return true;
}

bool RawLog::Append(const uint8_t* data, int n) {
    if (fd_ < 0) return false;
    while (n > 0) {
        const ssize_t w = ::write(fd_, data, static_cast<size_t>(n));
        if (w < 0) {
            if (errno == EINTR) continue;
            errno_ = errno;
            return false;
        }
        written_ += w;
        data += w;
        n -= static_cast<int>(w);
    }
    return true;
}

std::string RawLog::FailureText() const {
    return "Cannot write " + path_ + ": " + std::strerror(errno_) + ". The log is stopped; the file holds " +
           std::to_string(written_) + " bytes.";
}

bool RawLog::Close() {
    if (fd_ < 0) return true;
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
}

}  // namespace vantora
