#include "sim/replay.h"

#include <algorithm>

namespace vantora::sim {

ReplaySource::ReplaySource(std::string data, int rate, double speed, int64_t nowMs)
    : data_(std::move(data)), bytesPerMs_(speed > 0 ? rate / 10.0 / 1000.0 * speed : 0), start_(nowMs) {}

std::string ReplaySource::Take(int64_t nowMs, size_t maxBytes, bool hostMatches) {
    size_t due = data_.size();
    if (bytesPerMs_ > 0) {
        double d = static_cast<double>(std::max<int64_t>(0, nowMs - start_)) * bytesPerMs_;
        due = std::min(due, static_cast<size_t>(d));
    }
    if (due <= sent_) return {};
    size_t n = due - sent_;
    if (!hostMatches) {
        sent_ += n;
        return {};
    }
    n = std::min(n, maxBytes);
    std::string out = data_.substr(sent_, n);
    sent_ += n;
    return out;
}

}  // namespace vantora::sim
