// The receive thread over a real pseudo-terminal: TSerialPort <-> TViewTask with a recording
// display, fed by the test (exact bytes) or by the vantora-sim program (a live receiver).
#include "view/view_task.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <chrono>
#include <filesystem>
#include <future>
#include <optional>
#include <vector>

#include "tests/support/sample_stream.h"
#include "tests/support/sim_process.h"
#include "tests/support/view_recorder.h"

namespace vantora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Pty;
using test::Simulator;

// The thread on a port at path; the port is closed and the thread stopped at the end.
struct Task {
    explicit Task(const std::string& path, int baud = 4800) {
        auto p = std::make_shared<TSerialPort>(0, baud, 8, 0, 0, 2, 4096, 4096, path, boxes);
        EXPECT_TRUE(p->Open());
        port.Set(p);
    }
    ~Task() {
        task.Stop();
        port.Release();
    }
    std::vector<std::string> Messages() {
        return display.Read([&] { return display.messages; });
    }
    // The tables as the loop copies them between parses; it serves requests every pass, active or not.
    std::optional<ReceiverTables> Tables() {
        auto copy = std::make_shared<std::promise<ReceiverTables>>();
        task.RequestTables([copy](const ReceiverTables& t) { copy->set_value(t); });
        auto served = copy->get_future();
        if (served.wait_for(2s) != std::future_status::ready) return std::nullopt;
        return served.get();
    }
    // Waits until the loop has gone round n more times.
    bool Passes(int n) {
        for (int i = 0; i < n; ++i)
            if (!Tables()) return false;
        return true;
    }
    NoBoxes boxes;
    CurrentPort port;
    Recorder display;
    InlineRunner runner;
    ReceiverTables tables{};
    TViewTask task{port, display, runner, tables};
};

struct Rig {
    Pty pty;
    Task t{pty.path};
};

const std::string kGga =
    sample::Sentence("GPGGA,123519.000,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,");
const std::string kAck = sample::BinaryFrame(IdAck, 0x04, {});

// Switched off, the thread leaves the port alone; a sentence-count reset drops what was waiting.
TEST(ViewTask, InactiveThreadLeavesThePortAloneAndAResetDropsWhatWaits) {
    Rig rig;
    const int n = static_cast<int>(kGga.size());
    rig.pty.Send(kGga);
    ASSERT_EQ(rig.pty.WaitQueued(n), n);
    ASSERT_TRUE(rig.t.Passes(3));
    EXPECT_TRUE(rig.t.Messages().empty() && !rig.t.task.DataReceived());
    EXPECT_EQ(rig.pty.WaitQueued(0), n) << "the bytes are still queued";
    rig.t.task.SetActive(true);
    ASSERT_TRUE(rig.t.display.WaitFor([&] { return rig.t.display.messages.size() == 1; }));
    EXPECT_TRUE(Eventually([&] { return rig.t.task.SentenceSeen(); }));

    rig.t.task.SetActive(false);
    ASSERT_TRUE(rig.t.Passes(1));  // the pass that served it saw the switch
    rig.pty.Send(kGga + kGga);
    ASSERT_EQ(rig.pty.WaitQueued(2 * n), 2 * n);
    rig.t.task.ResetSentenceCount();
    EXPECT_FALSE(rig.t.task.SentenceSeen());
    rig.t.task.SetActive(true);
    ASSERT_TRUE(rig.t.Passes(3));  // the reset is applied in the first active pass
    const std::string gll = sample::Sentence("GPGLL,4807.038,N,01131.000,E,123519,A");
    rig.pty.Send(gll);
    ASSERT_TRUE(rig.t.display.WaitFor([&] { return rig.t.display.messages.size() >= 2; }));
    EXPECT_TRUE(Eventually([&] { return rig.t.task.SentenceSeen(); }));
    const std::vector<std::string> memo = {kGga.substr(0, kGga.size() - 2), gll.substr(0, gll.size() - 2)};  // no CR LF
    EXPECT_EQ(rig.t.Messages(), memo) << "nothing older";

    // A receiver that never pauses does not hold the thread in the reset's drain.
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        while (flooding) rig.pty.Send(kGga), std::this_thread::sleep_for(5ms);
    });
    rig.t.task.ResetSentenceCount();
    EXPECT_TRUE(rig.t.Passes(3));
    flooding = false;
    flood.join();
}

TEST(ViewTask, EveryItemIsOneMemoLineAndBinaryBlocksShowTheGridAfterTheNmeaRecord) {
    Rig rig;
    auto& d = rig.t.display;
    rig.t.task.SetActive(true);
    const sample::Stream s = sample::Make(3);
    rig.pty.Send(s.nmea + kAck);
    const size_t expected = static_cast<size_t>(s.sentences) + 1;
    ASSERT_TRUE(rig.t.display.WaitFor([&] { return d.messages.size() == expected && !d.fixes.empty(); }));
    EXPECT_TRUE(rig.t.task.DataReceived());
    EXPECT_TRUE(Eventually([&] { return rig.t.task.SentenceSeen(); }));
    // One burst in which both parsers update: NMEA shown in this pass, binary in the next.
    const size_t fixes = d.Read([&] { return d.fixes.size(); });
    rig.pty.Send(kGga + sample::BinarySecond(0));
    ASSERT_TRUE(rig.t.display.WaitFor([&] { return d.grids == 1; }));
    d.Read([&] {
        EXPECT_EQ(std::tie(d.fixes[fixes - 1].Hour, d.fixes[fixes - 1].SatellitesUsed), std::tuple(12, 9));
        EXPECT_EQ(d.acks, std::vector<uint8_t>{0x04});
        EXPECT_EQ(d.fixes.size(), fixes + 2);
        EXPECT_EQ(d.fixes.back().SatellitesInView, 9);
        EXPECT_EQ(std::vector<bool>(d.visibility.end() - 2, d.visibility.end()), (std::vector<bool>{false, true}));
        EXPECT_EQ(std::vector<bool>(d.skies.end() - 2, d.skies.end()), (std::vector<bool>{true, false}));
        return 0;
    });
}

TEST(ViewTask, LogHoldsExactlyWhatWasRead) {
    const test::TempDir tmp("vantora-log");
    const std::filesystem::path& dir = tmp.Dir();
    Rig rig;
    rig.t.task.SetActive(true);
    RawLog first, second;
    std::string error;
    ASSERT_TRUE(first.Open((dir / "first.log").string(), error)) << error;
    rig.t.task.StartLog(std::move(first));
    // Noise that the splitter drops still goes to the log.
    const std::string stream = "noise" + sample::Make(2).mixed + "\xff\x00tail";
    rig.pty.Send(stream);
    ASSERT_TRUE(rig.t.display.WaitFor([&] { return rig.t.display.messages.size() >= 22; }));
    // The log is written unbuffered: wait until the trailing noise is in it too.
    ASSERT_TRUE(Eventually([&] { return std::filesystem::file_size(dir / "first.log") >= stream.size(); }));
    // A log started at once after a stop: the first file is closed, not leaked.
    rig.t.task.StopLog();
    ASSERT_TRUE(second.Open((dir / "second.log").string(), error)) << error;
    rig.t.task.StartLog(std::move(second));
    rig.pty.Send(kGga);
    ASSERT_TRUE(rig.t.display.WaitFor([&] { return rig.t.display.messages.size() >= 23; }));
    rig.t.task.StopLog();
    EXPECT_TRUE(Eventually([&] { return !rig.t.task.LogOpen(); }));

    EXPECT_EQ(std::tuple(test::Slurp(dir / "first.log"), test::Slurp(dir / "second.log")), std::tuple(stream, kGga));
}

TEST(ViewTask, TablesAreCopiedBetweenParsesWithWholeBlocksOnly) {
    Rig rig;
    std::optional<ReceiverTables> copy = rig.t.Tables();  // served while switched off as well
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->EphemerisMask, 0u);
    auto ephemeris = [](uint8_t sat) {
        std::vector<uint8_t> payload = {2, sat};
        for (int i = 0; i < 120; ++i) payload.push_back(static_cast<uint8_t>(sat + i));
        return sample::BinaryFrame(IdReport, 0x83, payload);
    };
    // Asks until the thread has parsed what was sent.
    auto copyWithMask = [&](uint32_t mask) {
        return Eventually([&] { return (copy = rig.t.Tables()) && copy->EphemerisMask == mask; });
    };
    rig.t.task.SetActive(true);
    const std::string second = ephemeris(17);
    rig.pty.Send(ephemeris(3) + second.substr(0, 60));
    ASSERT_TRUE(copyWithMask(1u << 2));
    EXPECT_EQ(copy->EphemerisTable[2][119], 3 + 119);
    EXPECT_EQ(copy->EphemerisTable[16][0], 0) << "half a record has written nothing yet";
    rig.pty.Send(second.substr(60));
    ASSERT_TRUE(copyWithMask((1u << 2) | (1u << 16)));
    EXPECT_EQ(std::tuple(copy->EphemerisTable[16][0], copy->EphemerisTable[16][119]), std::tuple(17, 17 + 119));
}

TEST(ViewTask, HangupMidStreamIsSurvived) {
    Rig rig;
    rig.t.task.SetActive(true);
    rig.pty.Send(kGga + kGga.substr(0, 30));
    ASSERT_TRUE(rig.t.display.WaitFor([&] { return rig.t.display.messages.size() == 1; }));
    rig.pty.CloseMaster();
    // The thread goes on: it keeps showing the error count every two seconds.
    const int before = rig.t.display.Read([&] { return rig.t.display.errorDisplays; });
    ASSERT_TRUE(rig.t.display.WaitFor([&] { return rig.t.display.errorDisplays > before; }, 3500ms));
}

TEST(ViewTask, StopsPromptlyEvenWhenIdle) {
    Rig rig;
    const auto start = std::chrono::steady_clock::now();
    rig.t.task.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 400ms);
}

TEST(SimulatorView, LiveFixesArriveAndEveryItemIsOneMemoLine) {
    Simulator sim({"--seed", "7", "--start-time", "1796688000"});
    // The program prints the terminal's path, which the link names.
    ASSERT_TRUE(Eventually([&] { return test::Slurp(sim.Path("out")).find('\n') != std::string::npos; }));
    EXPECT_EQ(test::Slurp(sim.Path("out")), fs::read_symlink(sim.Link()).string() + "\n");
    Task t(sim.Link());
    t.task.SetActive(true);
    ASSERT_TRUE(t.display.WaitFor([&] { return t.display.fixes.size() >= 3; }, 6000ms));
    const auto messages = t.Messages();
    const std::string sent = sim.Sent();
    ASSERT_GE(messages.size(), 10u);
    // Each memo line is one sentence exactly as sent, CR LF aside, and they follow one another.
    size_t at = sent.find(messages[0] + "\r\n");
    ASSERT_NE(at, std::string::npos);
    for (const std::string& m : messages) {
        ASSERT_EQ(sent.compare(at, m.size() + 2, m + "\r\n"), 0) << m;
        at += m.size() + 2;
    }
    const NavRecord fix = t.display.Read([&] { return t.display.fixes.back(); });
    EXPECT_TRUE(fix.SatellitesInView >= 8 && fix.SatellitesInView <= 14) << fix.SatellitesInView;
    EXPECT_EQ(fix.Year, 2026);
    const std::string query = sample::BinaryFrame(IdCommand, 0x17, {0});
    t.port.Get()->txData(reinterpret_cast<const uint8_t*>(query.data()), static_cast<int>(query.size()));
    EXPECT_TRUE(t.display.WaitFor([&] { return t.display.acks == std::vector<uint8_t>{0x17}; }));
    // Stopped, the program ends well and takes its link away.
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(sim.Link())));
}

TEST(SimulatorView, NothingIsParsedAtTheWrongRate) {
    Simulator sim({"--baud", "9600"});
    Task t(sim.Link(), 4800);
    t.task.SetActive(true);
    // The error count is shown every two seconds: by then the thread has read for two seconds.
    ASSERT_TRUE(t.display.WaitFor([&] { return t.display.errorDisplays > 1; }, 5000ms));
    // What the receiver said before the host opened the port (at the receiver's own rate) was
    // purged by the open; from then on the receiver stays silent.
    const std::string early = sim.Sent();
    ASSERT_TRUE(t.display.WaitFor([&] { return t.display.errorDisplays > 2; }, 5000ms));
    EXPECT_TRUE(t.Messages().empty());
    EXPECT_FALSE(t.task.SentenceSeen() || t.task.DataReceived());
    EXPECT_EQ(sim.Sent(), early) << "a receiver at another rate stays silent";
}

}  // namespace
}  // namespace vantora
