// Faults the simulated receiver can inject into what it sends, so that the host's
// resynchronisation, checksum and time-out paths can be exercised on purpose.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantora::sim {

enum class FaultKind { Garbage, BadSum, Cut, LongField, Silence, Hangup };
constexpr int FaultKindCount = 6;

std::optional<FaultKind> ParseFaultKind(std::string_view name);
const char* FaultName(FaultKind kind);

struct FaultOptions {
    std::vector<FaultKind> Kinds;  // taken in turn
    int Every = 10;                // every Nth output item gets the next fault
};

class FaultInjector {
public:
    static constexpr int SilenceMs = 5000;

    FaultInjector(const FaultOptions& options, uint32_t seed);

    // The bytes to send for one output item (a sentence or a frame), fault included.
    std::string Apply(std::string item, int64_t nowMs);
    bool Silenced(int64_t nowMs) const { return nowMs < silentUntil_; }
    // True once after a hang-up fault.
    bool TakeHangup();
    int Injected(FaultKind kind) const { return counts_[static_cast<int>(kind)]; }

private:
    FaultOptions options_;
    uint32_t seed_;
    uint64_t items_ = 0;
    uint64_t longFields_ = 0;
    int64_t silentUntil_ = -1;
    bool hangup_ = false;
    int counts_[FaultKindCount] = {};
};

}  // namespace vantora::sim
