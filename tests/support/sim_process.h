// Tests that run the real programs: the simulated receiver behind a symbolic link to its
// pseudo-terminal, the command-line tools, their folders and files.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "protocol/platform.h"
#include "sim/pty.h"
#include "tests/support/files.h"

extern char** environ;

namespace vantora::test {

// Where the build puts the command-line tools.
inline std::string Tool(const std::string& name) {
    return VANTORA_BINARY_DIR "/tools/" + name;
}

// Bytes that look like an image and differ per seed.
inline std::vector<uint8_t> Pattern(size_t n, uint32_t seed = 7) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 16);
    }
    return v;
}

// Starts args[0] with its output into the file out; error output is dropped when quiet. The
// program ends with the test: one that crashed must not leave it holding the runner's output open.
inline pid_t Spawn(std::vector<std::string> args, const std::string& out = "/dev/null", bool quiet = false) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {  // only calls that are safe between fork and exec
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        if (const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644); fd >= 0) dup2(fd, 1);
        if (const int fd = quiet ? open("/dev/null", O_WRONLY | O_CLOEXEC) : -1; fd >= 0) dup2(fd, 2);
        execve(argv[0], argv.data(), environ);
        _exit(127);
    }
    EXPECT_GT(pid, 0) << argv[0];
    return pid;
}

// vantora-sim on a pseudo-terminal reached through link, stopped at the end.
class SimProcess {
public:
    SimProcess(const fs::path& link, const std::vector<std::string>& options,
               const std::string& out = "/dev/null")
        : link_(link.string()) {
        std::vector<std::string> args = {Tool("vantora-sim"), "--link", link_};
        args.insert(args.end(), options.begin(), options.end());
        pid_ = Spawn(args, out);
        for (int i = 0; i < 200 && !fs::exists(link_); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~SimProcess() { Stop(); }
    // Ends the program; its exit status, or -1.
    int Stop() {
        if (pid_ > 0) kill(pid_, SIGTERM);
        for (int t = 0; pid_ > 0 && t < 3000; t += 10) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    bool Running() const { return pid_ > 0 && fs::exists(link_); }
    const std::string& Link() const { return link_; }

private:
    std::string link_;
    pid_t pid_ = -1;
};

// The simulator in a fresh folder, behind the link "tty" there, with what it sends recorded in
// "sent.bin", what its loader programs in "flash.bin" and what it prints in "out".
class Simulator : public TempDir, public SimProcess {
public:
    explicit Simulator(const std::vector<std::string>& options = {})
        : TempDir("vantora-sim"), SimProcess(TempDir::Path("tty"), WithFiles(options), TempDir::Path("out")) {
        EXPECT_TRUE(Running()) << "the simulator made no terminal";
    }
    std::string WriteImage(const std::vector<uint8_t>& bytes, const std::string& name = "image.bin") const {
        WriteFile(Path(name), std::string(bytes.begin(), bytes.end()));
        return Path(name);
    }
    std::vector<uint8_t> Flash() const {
        const std::string s = Slurp(Path("flash.bin"));
        return {s.begin(), s.end()};
    }
    // Everything the receiver sent to the host.
    std::string Sent() const { return Slurp(Path("sent.bin")); }

private:
    std::vector<std::string> WithFiles(std::vector<std::string> options) const {
        options.insert(options.begin(), {"--record", Path("sent.bin"), "--flash-file", Path("flash.bin")});
        return options;
    }
};

// A pseudo-terminal: the port opens the slave by path, the test plays the receiver on the master.
// Termios requests on the master act on the slave, so the master also shows the port's settings.
// observer is the simulator's own descriptor of the slave, for looking at its receive queue.
struct Pty {
    using Bytes = std::vector<uint8_t>;
    sim::Pty pty;
    int master = -1, observer = -1;
    std::string path;

    Pty() {
        std::string error;
        if (!pty.Open(0, error)) return;
        master = pty.Master();
        observer = pty.Slave();
        path = pty.SlavePath();
    }
    bool Ok() const { return master >= 0 && observer >= 0; }
    // The receiver's side goes away, as an unplugged adapter.
    void CloseMaster() {
        pty.Close();
        master = observer = -1;
    }
    void Write(const Bytes& bytes) { Send(bytes.data(), bytes.size()); }
    void Send(const std::string& s) { Send(s.data(), s.size()); }
    void Send(const void* data, size_t size) {
        const auto* p = static_cast<const uint8_t*>(data);
        for (size_t done = 0; done < size;) {
            pollfd pf{master, POLLOUT, 0};
            ASSERT_GT(poll(&pf, 1, 2000), 0);
            done += static_cast<size_t>(std::max<ssize_t>(0, write(master, p + done, size - done)));
        }
    }
    // Reads from the master until count bytes came or two seconds passed.
    Bytes Read(size_t count) {
        Bytes out;
        const Clock& clock = SystemClock();
        for (const int64_t end = clock.NowMs() + 2000; out.size() < count && clock.NowMs() < end;) {
            uint8_t buf[4096];
            pollfd p{master, POLLIN, 0};
            poll(&p, 1, 50);
            const ssize_t n = read(master, buf, std::min(sizeof buf, count - out.size()));
            out.insert(out.end(), buf, buf + std::max<ssize_t>(0, n));
        }
        return out;
    }
    // Waits until the slave's receive queue holds at least count bytes; returns what it holds.
    int WaitQueued(int count) {
        int queued = 0;
        const Clock& clock = SystemClock();
        for (const int64_t end = clock.NowMs() + 2000; clock.NowMs() < end; usleep(2000)) {
            if (ioctl(observer, FIONREAD, &queued) != 0) return -1;
            if (queued >= count) break;
        }
        return queued;
    }
    termios Settings() const {
        termios t{};
        EXPECT_EQ(tcgetattr(master, &t), 0);
        return t;
    }
};

}  // namespace vantora::test
