#include "sim/line.h"

#include <algorithm>

namespace vantora::sim {

LineModel::LineModel(int rate, bool pace, int64_t nowMs)
    : rate_(rate), pace_(pace), outLast_(nowMs), inLast_(nowMs) {}

// Bits the line could carry since the last call; an idle line saves up only a little,
// so it never bursts faster than the rate.
double LineModel::Budget(double& bits, int64_t& last, int64_t nowMs) {
    if (nowMs > last) bits += static_cast<double>(nowMs - last) * rate_ / 1000.0;
    last = nowMs;
    bits = std::min(bits, std::max(rate_ / 20.0, 1000.0));
    return bits;
}

void LineModel::Queue(const std::string& bytes) {
    if (bytes.empty()) return;
    out_.push_back(Chunk{bytes, 0, 0});
    backlog_ += bytes.size();
}

void LineModel::QueueRateChange(int rate) {
    out_.push_back(Chunk{{}, 0, rate});
}

void LineModel::DropQueued() {
    // Pending rate changes still apply: the receiver decided on them.
    std::deque<Chunk> keep;
    for (auto& c : out_)
        if (c.NewRate) keep.push_back(c);
    out_.swap(keep);
    backlog_ = 0;
}

std::string LineModel::Release(int64_t nowMs, size_t maxBytes) {
    std::string sent;
    if (pace_) Budget(outBits_, outLast_, nowMs);
    while (!out_.empty()) {
        Chunk& c = out_.front();
        if (c.NewRate) {
            rate_ = c.NewRate;
            out_.pop_front();
            continue;
        }
        size_t n = c.Bytes.size() - c.Offset;
        if (pace_) n = std::min(n, static_cast<size_t>(std::max(0.0, outBits_ / 10.0)));
        if (Matched()) n = std::min(n, maxBytes - sent.size());
        if (n == 0) break;
        if (Matched()) sent.append(c.Bytes, c.Offset, n);  // else lost on the way
        if (pace_) outBits_ -= 10.0 * n;
        c.Offset += n;
        backlog_ -= n;
        if (c.Offset == c.Bytes.size()) out_.pop_front();
    }
    // A rate change right behind the last byte sent applies at once.
    while (!out_.empty() && out_.front().NewRate) {
        rate_ = out_.front().NewRate;
        out_.pop_front();
    }
    return sent;
}

void LineModel::Receive(const uint8_t* data, size_t n) {
    if (!Matched()) return;
    size_t room = InputCapacity - std::min(InputCapacity, in_.size());
    size_t take = std::min(room, n);
    in_.append(reinterpret_cast<const char*>(data), take);
}

std::string LineModel::TakeInput(int64_t nowMs) {
    size_t n = in_.size();
    if (pace_) {
        Budget(inBits_, inLast_, nowMs);
        n = std::min(n, static_cast<size_t>(std::max(0.0, inBits_ / 10.0)));
        inBits_ -= 10.0 * n;
    }
    std::string taken = in_.substr(0, n);
    in_.erase(0, n);
    return taken;
}

}  // namespace vantora::sim
