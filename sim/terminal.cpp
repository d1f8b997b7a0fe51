#include "sim/terminal.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <utility>
#include <vector>

#include "sim/pty.h"

namespace vantora::sim {

namespace {

constexpr size_t PendingLimit = 16384;
constexpr int ReplugMs = 3000;

bool WriteWhole(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

// Opens the terminal, points the link at it and announces its path.
bool Plug(Pty& pty, const TerminalOptions& o, int rate, const TerminalHooks& hooks) {
    std::string error;
    if (!pty.Open(rate, error)) {
        hooks.Complain(error);
        return false;
    }
    // The link first: once the path is announced, either name can be opened.
    if (!o.Link.empty() && !PointLink(o.Link, pty.SlavePath(), error)) {
        hooks.Complain(error);
        return false;
    }
    hooks.Plugged(pty.SlavePath());
    return true;
}

}  // namespace

int RunOnTerminal(Receiver& receiver, ReplaySource* replay, int replayBaud, const TerminalOptions& o,
                  const volatile std::sig_atomic_t& stop, const Clock& clock, const TerminalHooks& hooks) {
    Pty pty;
    if (!Plug(pty, o, replay ? replayBaud : receiver.LineRate(), hooks)) return 1;

    const int64_t started = clock.NowMs();
    int64_t replugAt = -1;
    uint64_t flashWritten = 0;
    std::string pending;
    int status = 0;
    std::ofstream record, recordInput;
    const std::string* recordFailed = nullptr;
    int recordErrno = 0;
    for (auto [file, path] : {std::pair{&record, &o.Record}, std::pair{&recordInput, &o.RecordInput}}) {
        if (path->empty()) continue;
        file->open(*path, std::ios::binary | std::ios::app);
        if (!*file) {
            hooks.Complain("cannot write " + *path);
            UnpointLink(o.Link, pty.SlavePath());  // no link left behind to a dead terminal
            return 1;
        }
    }
    while (!stop) {
        int64_t now = clock.NowMs();
        if (o.HangupAfter > 0 && now - started >= static_cast<int64_t>(o.HangupAfter * 1000)) break;
        if (!pty.IsOpen() && replugAt >= 0 && now >= replugAt) {
            replugAt = -1;
            if (!Plug(pty, o, receiver.LineRate(), hooks)) {
                status = 1;
                break;
            }
        }

        pollfd pfd{pty.IsOpen() ? pty.Master() : -1,
                   static_cast<short>(POLLIN | (pending.empty() ? 0 : POLLOUT)), 0};
        poll(&pfd, 1, 10);

        int hostRate = pty.IsOpen() ? pty.HostRate() : 0;
        bool matches = hostRate == 0 || hostRate == (replay ? replayBaud : receiver.LineRate());
        receiver.SetHostRate(hostRate);
        if (pty.IsOpen()) {
            uint8_t buf[4096];
            ssize_t n;
            while ((n = read(pty.Master(), buf, sizeof buf)) > 0) {
                if (recordInput.is_open() &&
                    !recordInput.write(reinterpret_cast<const char*>(buf), n).flush()) {
                    recordFailed = &o.RecordInput;
                    recordErrno = errno;
                }
                if (!replay) receiver.Feed(buf, static_cast<size_t>(n));
            }
        }

        size_t room = PendingLimit - std::min(PendingLimit, pending.size());
        pending += replay ? replay->Take(clock.NowMs(), room, matches) : receiver.Tick(room);
        if (!pty.IsOpen()) pending.clear();  // nothing is connected: the bytes go nowhere
        // Bytes made for one host rate are garbage at another: whatever the host changed its rate
        // under, before or during the write, never reaches it as data.
        if (pty.IsOpen() && pty.HostRate() != hostRate) pending.clear();
        bool wrote = false;
        while (!pending.empty()) {
            ssize_t w = write(pty.Master(), pending.data(), pending.size());
            if (w <= 0) break;
            wrote = true;
            if (record.is_open() && !record.write(pending.data(), w).flush()) {
                recordFailed = &o.Record;
                recordErrno = errno;
            }
            pending.erase(0, static_cast<size_t>(w));
        }
        if (wrote && pty.HostRate() != hostRate) pty.DropUnread();
        if (recordFailed) {
            // A record with a hole in it would pass for what went over the line.
            hooks.Complain("cannot write " + *recordFailed + ": " + std::strerror(recordErrno));
            status = 1;
            break;
        }

        if (!o.FlashFile.empty() && receiver.FlashGeneration() != flashWritten) {
            flashWritten = receiver.FlashGeneration();
            if (!WriteWhole(o.FlashFile, receiver.Flash())) hooks.Complain("cannot write " + o.FlashFile);
        }
        if (receiver.TakeHangup() && pty.IsOpen()) {
            // The link goes while the terminal is still ours, so that its name cannot be reused yet.
            UnpointLink(o.Link, pty.SlavePath());
            pty.Close();
            pending.clear();
            replugAt = clock.NowMs() + ReplugMs;
        }
    }
    UnpointLink(o.Link, pty.SlavePath());
    pty.Close();
    return status;
}

}  // namespace vantora::sim
