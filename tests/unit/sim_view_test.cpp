// End to end over a real pseudo-terminal: vantora-sim <-> TSerialPort <-> TViewTask.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "view/view_task.h"
#include "tests/support/view_recorder.h"

extern char** environ;

namespace vantora {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// The simulator binary on a pseudo-terminal reached through a symbolic link.
class Simulator {
public:
    explicit Simulator(std::vector<std::string> options) {
        dir_ = fs::temp_directory_path() / ("vantora-sim-view-" + std::to_string(getpid()) + "-" +
                                            std::to_string(counter_++));
        fs::create_directories(dir_);
        link_ = (dir_ / "tty").string();
        record_ = dir_ / "sent.bin";
        std::vector<std::string> args = {VANTORA_BINARY_DIR "/sim/vantora-sim", "--link", link_, "--record",
                                         record_.string(), "--seed", "7", "--start-time", "1796688000"};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        for (int i = 0; i < 100 && !fs::exists(link_); ++i) std::this_thread::sleep_for(20ms);
        EXPECT_TRUE(fs::exists(link_)) << "the simulator made no terminal";
    }
    ~Simulator() {
        Stop();
        fs::remove_all(dir_);
    }
    void Stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    const std::string& Link() const { return link_; }
    // Every byte the simulator handed to the terminal so far.
    std::string Sent() const { return Slurp(record_); }

private:
    static inline int counter_ = 0;
    pid_t pid_ = -1;
    fs::path dir_;
    std::string link_;
    fs::path record_;
};

struct Rig {
    Rig(std::vector<std::string> options, int hostBaud = 4800) : sim(std::move(options)) {
        auto p = std::make_shared<TSerialPort>(0, hostBaud, 8, 0, 0, 2, 4096, 4096, sim.Link(), boxes);
        EXPECT_TRUE(p->Open());
        port.Set(p);
    }
    ~Rig() {
        task.Stop();
        port.Release();
    }
    std::vector<std::string> Messages() {
        return display.Read([&] { return display.messages; });
    }
    Simulator sim;
    NoBoxes boxes;
    CurrentPort port;
    Recorder display;
    InlineRunner runner;
    ReceiverTables tables{};
    TViewTask task{port, display, runner, tables};
};

TEST(SimulatorView, LiveFixesArriveAndEveryItemIsOneMemoLine) {
    Rig rig({});
    rig.task.SetActive(true);
    ASSERT_TRUE(rig.display.WaitFor([&] { return rig.display.fixes.size() >= 3; }, 6000ms));
    rig.task.Stop();
    const std::string sent = rig.sim.Sent();
    const auto messages = rig.Messages();
    ASSERT_GE(messages.size(), 10u);
    // Each memo line is one sentence exactly as sent, CR LF aside, and they follow one another.
    size_t at = sent.find(messages[0] + "\r\n");
    ASSERT_NE(at, std::string::npos);
    for (const std::string& m : messages) {
        ASSERT_EQ(sent.compare(at, m.size() + 2, m + "\r\n"), 0) << m;
        at += m.size() + 2;
    }
    const NavRecord fix = rig.display.Read([&] { return rig.display.fixes.back(); });
    EXPECT_GE(fix.SatellitesInView, 8);
    EXPECT_LE(fix.SatellitesInView, 14);
    EXPECT_EQ(fix.Year, 2026);
}

TEST(SimulatorView, NothingIsParsedAtTheWrongRate) {
    Rig rig({"--baud", "9600"}, 4800);
    rig.task.SetActive(true);
    std::this_thread::sleep_for(2500ms);
    EXPECT_TRUE(rig.Messages().empty());
    EXPECT_FALSE(rig.task.SentenceSeen());
    EXPECT_FALSE(rig.task.DataReceived());
}

TEST(SimulatorView, ResetSentenceCountDropsWhatWasWaiting) {
    Rig rig({});
    std::this_thread::sleep_for(3000ms);  // three seconds of output wait in the terminal
    rig.task.ResetSentenceCount();
    rig.task.SetActive(true);
    ASSERT_TRUE(rig.display.WaitFor([&] { return !rig.display.fixes.empty(); }, 4000ms));
    // The first sentence shown was sent after the reset: its UTC second is 3 or later.
    const auto messages = rig.Messages();
    ASSERT_FALSE(messages.empty());
    const std::string& first = messages.front();
    ASSERT_EQ(first.rfind("$GP", 0), 0u) << first;
    const size_t comma = first.find(',');
    ASSERT_NE(comma, std::string::npos);
    const int second = std::stoi(first.substr(comma + 5, 2));
    EXPECT_GE(second, 3) << first;
}

TEST(SimulatorView, LogHoldsExactlyWhatTheSimulatorSent) {
    const fs::path log = fs::temp_directory_path() / ("vantora-sim-log-" + std::to_string(getpid()));
    Rig rig({});
    rig.task.SetActive(true);
    RawLog file;
    std::string error;
    ASSERT_TRUE(file.Open(log.string(), error)) << error;
    rig.task.StartLog(std::move(file));
    std::this_thread::sleep_for(3500ms);
    rig.task.StopLog();
    std::this_thread::sleep_for(300ms);
    rig.sim.Stop();
    const std::string logged = Slurp(log);
    const std::string sent = rig.sim.Sent();
    ASSERT_GT(logged.size(), 500u);
    // The log is one unbroken run of what was sent: nothing lost, nothing added, nothing reordered.
    EXPECT_NE(sent.find(logged), std::string::npos);
    fs::remove(log);
}

TEST(SimulatorView, HangupMidStreamIsSurvived) {
    Rig rig({"--hangup-after", "1.5"});
    rig.task.SetActive(true);
    ASSERT_TRUE(rig.display.WaitFor([&] { return !rig.display.messages.empty(); }, 3000ms));
    std::this_thread::sleep_for(1500ms);
    auto port = rig.port.Get();
    uint8_t buf[64];
    EXPECT_EQ(port->rxData(buf, sizeof buf), 0);
    EXPECT_THROW(port->txData(buf, 8), PortWriteError);
    port.reset();
    const int before = rig.display.Read([&] { return rig.display.errorDisplays; });
    EXPECT_TRUE(rig.display.WaitFor([&] { return rig.display.errorDisplays > before; }, 3500ms));
}

}  // namespace
}  // namespace vantora
