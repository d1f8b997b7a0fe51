// The serial line between the simulated receiver and the host. A pseudo-terminal carries
// bytes at any speed, so the line model does what the wire would: it paces bytes at
// 10 bits each when asked to, and loses everything while the two ends disagree on the rate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace vantora::sim {

class LineModel {
public:
    static constexpr size_t InputCapacity = 65536;

    LineModel(int rate, bool pace, int64_t nowMs);

    int Rate() const { return rate_; }
    bool Paced() const { return pace_; }
    // The rate the host's side is set to; 0 when unknown, which counts as matching.
    void SetHostRate(int baud) { hostRate_ = baud; }
    bool Matched() const { return hostRate_ == 0 || hostRate_ == rate_; }

    void Queue(const std::string& bytes);
    // The rate changes once everything queued before it has been sent.
    void QueueRateChange(int rate);
    size_t Backlog() const { return backlog_; }
    // Bytes sent since the last call (at most maxBytes); what goes out while the rates
    // differ is lost on the way and not returned.
    std::string Release(int64_t nowMs, size_t maxBytes);
    void DropQueued();

    // Bytes from the host; lost when the rates differ or the receive buffer is full.
    void Receive(const uint8_t* data, size_t n);
    // The bytes the receiver has taken in by now.
    std::string TakeInput(int64_t nowMs);

private:
    struct Chunk {
        std::string Bytes;
        size_t Offset = 0;
        int NewRate = 0;  // non-zero: a rate change, no bytes
    };
    double Budget(double& bits, int64_t& last, int64_t nowMs);

    int rate_;
    int hostRate_ = 0;
    bool pace_;
    std::deque<Chunk> out_;
    size_t backlog_ = 0;
    double outBits_ = 0;
    int64_t outLast_;
    std::string in_;
    double inBits_ = 0;
    int64_t inLast_;
};

}  // namespace vantora::sim
