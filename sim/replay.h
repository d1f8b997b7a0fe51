// Plays a raw log back as the receiver would have sent it. A log has no timestamps,
// so it goes out at the line rate (10 bits per byte), times a speed factor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantora::sim {

class ReplaySource {
public:
    // speed 0: as fast as the reader takes it.
    ReplaySource(std::string data, int rate, double speed, int64_t nowMs);

    // The bytes due by now, at most maxBytes. While the host's rate differs from the
    // line's, the bytes due go out all the same but are lost.
    std::string Take(int64_t nowMs, size_t maxBytes, bool hostMatches = true);
    bool Done() const { return sent_ >= data_.size(); }
    size_t Sent() const { return sent_; }

private:
    std::string data_;
    double bytesPerMs_;  // 0: unpaced
    int64_t start_;
    size_t sent_ = 0;
};

}  // namespace vantora::sim
