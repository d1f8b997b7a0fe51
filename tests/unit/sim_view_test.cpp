// End to end over a real pseudo-terminal: vantora-sim <-> TSerialPort <-> TViewTask.
#include "tests/support/sim_process.h"
#include "tests/support/view_recorder.h"
#include "view/view_task.h"

namespace vantora {
namespace {

using namespace test;

// The simulator binary on a pseudo-terminal, recording every byte it hands to the terminal.
class Simulator {
public:
    explicit Simulator(std::vector<std::string> options)
        : proc_(dir_.Path("tty"), WithRecord(dir_.Path("sent.bin"), std::move(options))) {
        EXPECT_TRUE(proc_.Running()) << "the simulator made no terminal";
    }
    void Stop() { proc_.Stop(); }
    const std::string& Link() const { return proc_.Link(); }
    std::string Sent() const { return Slurp(dir_.Path("sent.bin")); }

private:
    static std::vector<std::string> WithRecord(const std::string& record, std::vector<std::string> options) {
        options.insert(options.begin(), {"--record", record, "--seed", "7", "--start-time", "1796688000"});
        return options;
    }
    TempDir dir_{"vantora-sim-view"};
    SimProcess proc_;
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
