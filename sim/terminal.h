// The simulated receiver on a pseudo-terminal, as the vantora-sim program runs it: the link to
// the terminal, the rate the host set, hang-ups and re-plugging, and the files that record what
// went over the line.
#pragma once

#include <csignal>
#include <functional>
#include <string>

#include "protocol/platform.h"
#include "sim/receiver.h"
#include "sim/replay.h"

namespace vantora::sim {

struct TerminalOptions {
    std::string Link;         // a symbolic link kept pointing at the terminal; removed at the end
    std::string FlashFile;    // the bytes the flash loader programmed, rewritten after each load
    std::string Record;       // every byte sent to the host, appended
    std::string RecordInput;  // every byte received from the host, appended
    double HangupAfter = 0;   // seconds until the terminal is closed for good; 0 never
};

struct TerminalHooks {
    std::function<void(const std::string& path)> Plugged;      // a new terminal's path
    std::function<void(const std::string& problem)> Complain;  // what went wrong
};

// Serves the host on a terminal until stop is set or the hang-up time has come. With a replay,
// its bytes go out at replayBaud and the host's input is dropped; otherwise the receiver talks.
// 0 at the end, 1 when a terminal could not be made or a record file not written.
int RunOnTerminal(Receiver& receiver, ReplaySource* replay, int replayBaud, const TerminalOptions& options,
                  const volatile std::sig_atomic_t& stop, const Clock& clock, const TerminalHooks& hooks);

}  // namespace vantora::sim
