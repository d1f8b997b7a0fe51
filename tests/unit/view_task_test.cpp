// The receive thread over a real pseudo-terminal: TSerialPort <-> TViewTask with a recording display.
#include "view/view_task.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <vector>

#include "tests/support/sample_stream.h"
#include "tests/support/sim_process.h"
#include "tests/support/view_recorder.h"

namespace vantora {
namespace {

using namespace std::chrono_literals;

using test::Pty;

struct Rig {
    Rig() {
        auto p = std::make_shared<TSerialPort>(0, 4800, 8, 0, 0, 2, 4096, 4096, pty.path, boxes);
        EXPECT_TRUE(p->Open());
        port.Set(p);
    }
    ~Rig() {
        task.Stop();
        port.Release();
    }
    Pty pty;
    NoBoxes boxes;
    CurrentPort port;
    Recorder display;
    InlineRunner runner;
    ReceiverTables tables{};
    TViewTask task{port, display, runner, tables};
};

const std::string kGga =
    sample::Sentence("GPGGA,123519.000,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,");
const std::string kAck = sample::BinaryFrame(IdAck, 0x04, {});

TEST(ViewTask, InactiveThreadLeavesThePortAlone) {
    Rig rig;
    rig.pty.Send(kGga);
    std::this_thread::sleep_for(700ms);
    EXPECT_TRUE(rig.display.Read([&] { return rig.display.messages.empty(); }));
    EXPECT_FALSE(rig.task.DataReceived());
    // The bytes are still queued: switched on, the thread finds them.
    rig.task.SetActive(true);
    ASSERT_TRUE(rig.display.WaitFor([&] { return rig.display.messages.size() == 1; }));
    EXPECT_EQ(rig.display.Read([&] { return rig.display.messages[0]; }), kGga.substr(0, kGga.size() - 2));
}

TEST(ViewTask, EverySentenceAndFrameBecomesOneMemoLineAndFixesArrive) {
    Rig rig;
    rig.task.SetActive(true);
    const sample::Stream s = sample::Make(3);
    rig.pty.Send(s.nmea + kAck);
    const size_t expected = static_cast<size_t>(s.sentences) + 1;
    ASSERT_TRUE(rig.display.WaitFor([&] { return rig.display.messages.size() == expected; }));
    ASSERT_TRUE(rig.display.WaitFor([&] { return !rig.display.fixes.empty(); }));
    rig.display.Read([&] {
        EXPECT_EQ(rig.display.fixes.back().Hour, 12);
        EXPECT_EQ(rig.display.fixes.back().SatellitesUsed, 9);
        EXPECT_EQ(rig.display.visibility.back(), false);
        EXPECT_EQ(rig.display.acks, std::vector<uint8_t>{0x04});
        return 0;
    });
    EXPECT_TRUE(rig.task.DataReceived());
    EXPECT_TRUE(Eventually([&] { return rig.task.SentenceSeen(); }));
}

TEST(ViewTask, BinaryBlocksShowTheGridAfterTheNmeaRecord) {
    Rig rig;
    rig.task.SetActive(true);
    // One burst in which both parsers update: NMEA shown in this pass, binary in the next.
    rig.pty.Send(kGga + sample::BinarySecond(0));
    ASSERT_TRUE(rig.display.WaitFor([&] { return rig.display.grids == 1; }));
    rig.display.Read([&] {
        EXPECT_EQ(rig.display.visibility, (std::vector<bool>{false, true}));
        EXPECT_EQ(rig.display.fixes.size(), 2u);
        EXPECT_EQ(rig.display.fixes[1].SatellitesInView, 9);
        return 0;
    });
}

TEST(ViewTask, ResetSentenceCountDropsWhatWasWaiting) {
    Rig rig;
    rig.pty.Send(kGga + kGga);
    std::this_thread::sleep_for(100ms);
    rig.task.ResetSentenceCount();
    EXPECT_FALSE(rig.task.SentenceSeen());
    rig.task.SetActive(true);
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(rig.display.Read([&] { return rig.display.messages.empty(); }));
    EXPECT_FALSE(rig.task.SentenceSeen());
    rig.pty.Send(kGga);
    ASSERT_TRUE(rig.display.WaitFor([&] { return rig.display.messages.size() == 1; }));
    EXPECT_TRUE(Eventually([&] { return rig.task.SentenceSeen(); }));
}

TEST(ViewTask, LogHoldsExactlyWhatWasRead) {
    const test::TempDir tmp("vantora-log");
    const std::filesystem::path& dir = tmp.Dir();
    Rig rig;
    rig.task.SetActive(true);
    RawLog first, second;
    std::string error;
    ASSERT_TRUE(first.Open((dir / "first.log").string(), error)) << error;
    rig.task.StartLog(std::move(first));
    // Noise that the splitter drops still goes to the log.
    const std::string stream = "noise" + sample::Make(2).mixed + "\xff\x00tail";
    rig.pty.Send(stream);
    ASSERT_TRUE(rig.display.WaitFor([&] { return rig.display.messages.size() >= 22; }));
    // The log is written unbuffered: wait until the trailing noise is in it too.
    ASSERT_TRUE(Eventually([&] { return std::filesystem::file_size(dir / "first.log") >= stream.size(); }));
    // A log started at once after a stop: the first file is closed, not leaked.
    rig.task.StopLog();
    ASSERT_TRUE(second.Open((dir / "second.log").string(), error)) << error;
    rig.task.StartLog(std::move(second));
    rig.pty.Send(kGga);
    ASSERT_TRUE(rig.display.WaitFor([&] { return rig.display.messages.size() >= 23; }));
    rig.task.StopLog();
    EXPECT_TRUE(Eventually([&] { return !rig.task.LogOpen(); }));

    EXPECT_EQ(test::Slurp(dir / "first.log"), stream);
    EXPECT_EQ(test::Slurp(dir / "second.log"), kGga);
}

TEST(ViewTask, TablesAreCopiedBetweenParsesWithWholeBlocksOnly) {
    std::mutex m;
    std::condition_variable cv;
    int served = 0;
    ReceiverTables copy{};
    Rig rig;  // stopped before the above go
    auto request = [&] {
        const int before = [&] {
            std::lock_guard l(m);
            return served;
        }();
        rig.task.RequestTables([&](const ReceiverTables& t) {
            {
                std::lock_guard l(m);
                copy = t;
                ++served;
            }
            cv.notify_all();
        });
        std::unique_lock l(m);
        return cv.wait_for(l, 2s, [&] { return served == before + 1; });
    };
    // Served while the thread is switched off as well.
    ASSERT_TRUE(request());
    EXPECT_EQ(copy.EphemerisMask, 0u);

    auto ephemeris = [](uint8_t sat) {
        std::vector<uint8_t> payload = {2, sat};
        for (int i = 0; i < 120; ++i) payload.push_back(static_cast<uint8_t>(sat + i));
        return sample::BinaryFrame(IdReport, 0x83, payload);
    };
    rig.task.SetActive(true);
    const std::string second = ephemeris(17);
    // Asks until the thread has parsed what was sent; a loaded machine may take a while.
    auto requestUntilMask = [&](uint32_t mask) {
        for (auto end = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < end;) {
            if (!request()) return false;
            if (copy.EphemerisMask == mask) return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    };
    rig.pty.Send(ephemeris(3) + second.substr(0, 60));
    ASSERT_TRUE(requestUntilMask(1u << 2)) << copy.EphemerisMask;
    EXPECT_EQ(copy.EphemerisTable[2][119], 3 + 119);
    // Half a record has written nothing yet.
    EXPECT_EQ(copy.EphemerisTable[16][0], 0);
    rig.pty.Send(second.substr(60));
    ASSERT_TRUE(requestUntilMask((1u << 2) | (1u << 16))) << copy.EphemerisMask;
    EXPECT_EQ(copy.EphemerisTable[16][0], 17);
    EXPECT_EQ(copy.EphemerisTable[16][119], static_cast<uint8_t>(17 + 119));
}

TEST(ViewTask, HangupMidStreamIsSurvived) {
    Rig rig;
    rig.task.SetActive(true);
    rig.pty.Send(kGga + kGga.substr(0, 30));
    ASSERT_TRUE(rig.display.WaitFor([&] { return rig.display.messages.size() == 1; }));
    rig.pty.CloseMaster();
    auto port = rig.port.Get();
    EXPECT_EQ(port->rxData(std::vector<uint8_t>(64).data(), 64), 0);
    EXPECT_THROW(port->txData(reinterpret_cast<const uint8_t*>("x"), 1), PortWriteError);
    port.reset();
    // The thread goes on: it keeps showing the error count every two seconds.
    const int before = rig.display.Read([&] { return rig.display.errorDisplays; });
    ASSERT_TRUE(rig.display.WaitFor([&] { return rig.display.errorDisplays > before; }, 3500ms));
}

TEST(ViewTask, StopsPromptlyEvenWhenIdle) {
    Rig rig;
    const auto start = std::chrono::steady_clock::now();
    rig.task.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 400ms);
}

}  // namespace
}  // namespace vantora
