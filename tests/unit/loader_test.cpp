// The firmware loader: its CRC, the image file, the load fields, what goes on the line, and the
// state machine against the simulated receiver, run pass by pass on a hand-moved clock.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "loader/loader_machine.h"
#include "protocol/loader_crc.h"
#include "sim/receiver.h"
#include "tests/support/loader_recorder.h"
#include "tests/support/sample_stream.h"
#include "tests/support/sim_process.h"
#include "tests/support/view_recorder.h"

namespace vantora {
namespace {

using namespace test;

TEST(LoaderCrc, DocumentedValues) {
    const uint8_t abcd[] = {0x61, 0x62, 0x63, 0x64};
    EXPECT_EQ(LoaderCrc16(abcd, 2, 0), 0x83CA);
    std::vector<uint8_t> ff(64, 0xFF);
    EXPECT_EQ(LoaderCrc16(ff.data(), 32, 0), 0x278E);
    // Sixteen times over the 4-byte filler is the same as once over the 64 bytes.
    uint16_t acc = 0;
    for (int i = 0; i < 16; ++i) acc = LoaderCrc16(ff.data(), 2, acc);
    EXPECT_EQ(acc, 0x278E);
}

TEST(ImageFile, SizesAndRefusals) {
    TempDir dir("vantora-image");
    using enum ImageReadStatus;
    const std::pair<size_t, ImageReadStatus> cases[] = {
        {1, Ok}, {1500, Ok}, {262144, Ok}, {0, Empty}, {262145, TooLarge}};
    for (const auto& [size, status] : cases) {
        SCOPED_TRACE(size);
        const auto bytes = Pattern(size, static_cast<uint32_t>(size));
        FirmwareImage image;
        image.Bytes.fill(0xAA);  // an earlier image
        image.Size = 7;
        WriteFile(dir.Path("f.bin"), std::string(bytes.begin(), bytes.end()));
        const ImageReadResult r = ReadFirmwareFile(dir.Path("f.bin"), image);
        EXPECT_EQ(r.Status, status);
        EXPECT_EQ(r.Ok(), r.Message.empty());
        if (r.Ok()) {
            ASSERT_EQ(image.Size, static_cast<int32_t>(size));
            EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), image.Bytes.begin()));
            EXPECT_TRUE(
                std::all_of(image.Bytes.begin() + size, image.Bytes.end(), [](uint8_t b) { return b == 0; }));
        } else {
            EXPECT_EQ(std::tuple(image.Size, image.Bytes[0]), std::tuple(7, 0xAA)) << "refused: the old image stays";
        }
    }
    FirmwareImage image;
    EXPECT_EQ(ReadFirmwareFile(dir.Path("missing.bin"), image).Status, CannotOpen);
    EXPECT_EQ(ReadFirmwareFile(dir.Dir().string(), image).Status, ReadFailed);
    WriteFile(dir.Path("e.bin"), "");
    EXPECT_TRUE(ReadFirmwareFile(dir.Path("e.bin"), image).FileShown());
}

TEST(LoadFields, ConversionsAndRefusals) {
    struct Case {
        int target;
        const char *address, *size, *crc;
        bool ok;
        uint16_t addressWord = 0, sizeWord = 0, crcWord = 0;
    } cases[] = {
        {TargetDefault, "C0000", "192", "0", true, 0x0300, 192, 0},
        {TargetUsb, "c0000", " 192 ", "ffff", true, 0x0300, 192, 0xFFFF},
        {Target4100, "10000", "0", "0", true, 1, 0, 0},
        {Target4100, "FFFF0000", "65535", "0", true, 0xFFFF, 0xFFFF, 0},
        {TargetDefault, "3FFFFFF", "1", "0", true, 0xFFFF, 1, 0},
        {TargetDefault, "000000C0000", "1", "0", true, 0x0300, 1, 0},  // 11 characters
        // Refused: 12 characters, an address that would wrap to 0, sizes and CRCs out of range.
        {TargetDefault, "0000000C0000", "1", "0", false}, {TargetDefault, "4000000", "1", "0", false},
        {Target4100, "100000000", "1", "0", false},      {TargetDefault, "", "192", "0", false},
        {TargetDefault, "0xC0000", "192", "0", false},   {TargetDefault, "C0000", "65536", "0", false},
        {TargetDefault, "C0000", "1.5", "0", false},     {TargetDefault, "C0000", "192", "10000", false},
        {3, "C0000", "192", "0", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.address) + "|" + c.size + "|" + c.crc);
        std::string error;
        const auto f = ParseLoadFields(c.target, c.address, c.size, c.crc, error);
        ASSERT_EQ(f.has_value(), c.ok) << error;
        if (!c.ok) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(std::tie(f->AddressWord, f->SizeWord, f->ExpectedCrc), std::tie(c.addressWord, c.sizeWord, c.crcWord))
            << error;
    }
}

// What the receiver gets: the image, zeros to the end of its last 64-byte packet, FFh up to the
// load limit; at least one packet; an image longer than the limit is cut.
TEST(LoadStreamTest, ImageSizesAroundPacketAndBlockBoundaries) {
    const size_t sizes[] = {0, 1, 63, 64, 65, 16384, 16385, 100000, 196608, 262144};
    const uint16_t sizeWords[] = {0, 16, 192, 256};
    for (size_t size : sizes) {
        const auto bytes = Pattern(size, static_cast<uint32_t>(size) + 3);
        const auto image = ImageOf(bytes);
        for (uint16_t kib : sizeWords) {
            SCOPED_TRACE(std::to_string(size) + " bytes, " + std::to_string(kib) + " KiB");
            const size_t limit = std::max<size_t>(kib * 1024u, 64);
            const size_t padded = std::min((size + 63) / 64 * 64, limit);
            std::vector<uint8_t> expected(bytes.begin(), bytes.begin() + std::min(size, limit));
            expected.resize(padded, 0x00);
            expected.resize(limit, 0xFF);
            const auto stream = LoadStream(*image, LoadLimitOf(kib));
            ASSERT_EQ(stream.size(), limit);
            EXPECT_EQ(stream, expected);
            EXPECT_EQ(LoadStreamCrc(*image, LoadLimitOf(kib)),
                      LoaderCrc16(expected.data(), expected.size() / 2));
        }
    }
}

// The loader on one end of a pseudo-terminal, the simulated receiver (or nothing) on the other;
// every sleep of the loader moves the clock and lets the receiver run.
class Line {
    Pty pty_;  // the loader's port opens its slave; the master is the receiver's end

public:
    explicit Line(sim::ReceiverOptions options = {}, bool receiver = true) {
        if (receiver) rx.emplace(clock, options);
        port = std::make_shared<TSerialPort>(0, 4800, 8, 0, 0, 2, 4096, 4096, pty_.path, boxes);
        EXPECT_TRUE(port->Open());
        current.Set(port);
        machine.SetStandby();
    }
    ~Line() { current.Release(); }

    // As the Write button does: restart into the loader (unless "4100") and start.
    void Write(LoadJob job) {
        RestartIntoLoader(*port, 4800, job.Target, sleeper_);
        machine.Start(std::move(job));
    }
    // Passes until pred holds or limitMs of clock time have gone. Each pass that waits for the
    // receiver moves the clock stepMs on (a pass that reads nothing also waits out the port's
    // real read time, so small steps make slow tests); passes that send packets move it only
    // by their own pass delay.
    bool RunUntil(const std::function<bool()>& pred, int64_t limitMs, int stepMs = 50) {
        const int64_t end = clock.NowMs() + limitMs;
        while (clock.NowMs() < end) {
            if (pred()) return true;
            Advance(machine.GetState() == StateSending ? 0 : stepMs);
            machine.Pass();
        }
        return pred();
    }
    bool RunToState(int state, int64_t limitMs, int stepMs = 50) {
        return RunUntil([&] { return machine.GetState() == state; }, limitMs, stepMs);
    }
    void Advance(int ms) {
        for (int done = 0; done < ms;) {
            const int step = std::min(10, ms - done);
            clock.SleepMs(step);
            done += step;
            Pump();
        }
        if (ms == 0) Pump();
    }
    std::vector<uint8_t> host;  // what the host wrote, in order

    void Say(const std::string& s) {
        if (s.empty()) return;
        [[maybe_unused]] ssize_t w = ::write(pty_.master, s.data(), s.size());
        atLineEnd_ = s.back() == '\n';
    }

    ManualClock clock;
    std::optional<sim::Receiver> rx;
    NoBoxes boxes;
    CurrentPort current;
    std::shared_ptr<TSerialPort> port;
    LoaderRecorder display;
    InlineRunner runner;
    std::function<void(int ms)> onSleep;  // the main thread acting while a pass sleeps
    LoaderMachine machine{current, display, runner, clock, [this](int ms, bool) {
                              if (onSleep) onSleep(ms);
                              Advance(ms);
                              return true;
                          }};

private:
    void Pump() {
        if (rx) rx->SetHostRate(port->Baud());
        uint8_t buf[8192];
        ssize_t n;
        while ((n = ::read(pty_.master, buf, sizeof buf)) > 0) {
            host.insert(host.end(), buf, buf + n);
            if (rx) rx->Feed(buf, static_cast<size_t>(n));
        }
        if (rx) {
            const std::string out = rx->Tick();
            Say(out);
            if (!out.empty()) return;
        }
        // A quiet line costs each read its full real wait. A lone LF between sentences is line
        // noise that the loader's parser drops without a trace, and keeps the reads short.
        if (atLineEnd_) Say("\n");
    }

    // The clock through which Write's own waits pass.
    class Sleeper : public Clock {
    public:
        explicit Sleeper(Line& l) : line_(l) {}
        int64_t NowSeconds() const override { return line_.clock.NowSeconds(); }
        int64_t NowMs() const override { return line_.clock.NowMs(); }
        int64_t UnixSeconds() const override { return 0; }
        void SleepMs(int ms) const override { line_.Advance(ms); }

    private:
        Line& line_;
    };
    bool atLineEnd_ = true;
    Sleeper sleeper_{*this};
};

TEST(LoaderMachineTest, DefaultLoadOf192KiB) {
    Line line;
    const auto bytes = Pattern(150000);
    line.Write(MakeJob(bytes, TargetDefault, 192));
    ASSERT_TRUE(line.RunToState(StateFirmwareOk, 30000));
    const auto& d = line.display;
    // 3 Wait For response, 5 Erasing, then 12 blocks with a pause after each but the last.
    EXPECT_EQ(d.states.front(), StateWaitResponse);
    EXPECT_EQ(std::tuple(d.Count(StateSending), d.Count(StateProgramming), d.Count(StateStartLoading)),
              std::tuple(12, 11, 0));  // state 2 is never shown
    EXPECT_EQ(std::tie(d.steps, d.lastSent), std::tuple(122, 196608u));  // a step each 1600 bytes
    const std::vector<uint8_t> request = {0x25, 0x25, 0xF1, 0x72, 0x06, 0x00, 0x03, 0xC0, 0x00, 0x46, 0x0D, 0x0A};
    const auto stream = LoadStream(*ImageOf(bytes), 196608);
    const auto at = std::search(line.host.begin(), line.host.end(), request.begin(), request.end());
    ASSERT_NE(at, line.host.end());
    EXPECT_EQ(std::vector<uint8_t>(at + static_cast<long>(request.size()), line.host.end()), stream);
    ASSERT_EQ(d.reports.size(), 1u);
    EXPECT_EQ(d.reports[0].BytesSent, 196608u);
    ASSERT_EQ(d.crcs.size(), 1u);
    const uint16_t crc = LoaderCrc16(stream.data(), stream.size() / 2);
    EXPECT_EQ(std::tie(d.crcs[0].Host, d.crcs[0].Receiver), std::tie(crc, crc));
    EXPECT_EQ(d.results, (std::vector{LoadResultText::None, LoadResultText::Pass}));
}

// Every way a load ends, one row each: the target, the receiver's fault, Auto Load, the factory
// default, the revision check and the CRC field, with what the user does during the load.
TEST(LoaderMachineTest, LoadOutcomes) {
    enum Act { None, Interrupt, Unplug };  // done as soon as the load programs, or sends
    enum Job { Plain = 0, Auto = 1, Factory = 2, Revision = 4, ZeroCrc = 8 };
    constexpr int Untimed = -2;  // the time to Standby depends on the receiver, not on a deadline
    constexpr int Stays = -1;
    sim::ReceiverOptions good, silent, badCrc, nack;
    silent.Loader.Silent = true;
    badCrc.Loader.Crc = 0x1234;
    nack.Loader.Nack = true;
    using enum LoadEnd;
    struct Case {
        const char* name;
        int target;
        sim::ReceiverOptions rx;
        int job;  // Job bits: Auto Load, factory default, revision check, a CRC field of 0
        Act act;
        LoadEnd end;
        int reportState, from, seconds;  // from entering the state from, whole seconds until Standby
        bool armed;                      // armed again in Standby
    };
    // clang-format off
    const Case cases[] = {
        {"Default", TargetDefault, good, Plain, None, Passed, StateCheckCrc, StateFirmwareOk, 2, false},
        {"USB", TargetUsb, good, Plain, None, Passed, StateCheckCrc, StateFirmwareOk, 2, false},
        {"4100", Target4100, good, Plain, None, Passed, StateCheckCrc, StateFirmwareOk, 2, false},
        {"factory default", TargetDefault, good, Factory, None, Passed, StateFactoryDefault, StateFirmwareOk, Untimed, false},
        {"Auto Load", TargetDefault, good, Auto, None, Passed, StateCheckCrc, StateFirmwareOk, 2, true},
        {"silent Default", TargetDefault, silent, Plain, None, TimedOut, StateWaitResponse, StateWaitResponse, 6, false},
        {"silent USB", TargetUsb, silent, Plain, None, TimedOut, StateWaitResponse, StateWaitResponse, 21, false},
        {"silent 4100", Target4100, silent, Plain, None, TimedOut, StateWaitAck, StateWaitAck, 6, false},
        {"receiver's CRC differs", TargetDefault, badCrc, Plain, None, CrcMismatch, StateCheckCrc, StateFailCrc, 2, false},
        {"receiver's CRC differs, Auto Load", TargetDefault, badCrc, Auto, None, CrcMismatch, StateCheckCrc, StateFailCrc, 3, true},
        {"CRC field differs", TargetDefault, good, ZeroCrc, None, CrcMismatch, StateCheckCrc, StateFailCrc, 2, false},
        {"request refused", TargetDefault, nack, Plain, None, Refused, StateErasing, StateErasing, Untimed, true},
        {"revision check", TargetDefault, good, Revision, None, RevisionFailed, StateCheckRevision, StateFailRevision, 3, false},
        {"interrupted", TargetDefault, good, Plain, Interrupt, Interrupted, StateProgramming, StateInterrupt, Stays, false},
        {"interrupted, Auto Load", TargetDefault, good, Auto, Interrupt, Interrupted, StateProgramming, StateInterrupt, Untimed, true},
        {"adapter unplugged", TargetDefault, good, Plain, Unplug, PortFailed, StateSending, StateSending, 0, false},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Line line(c.rx);
        auto job = MakeJob(Pattern(3000), c.target, 64, c.job & ZeroCrc ? std::optional<uint16_t>(0) : std::nullopt);
        job.AutoLoad = c.job & Auto;
        job.FactoryDefault = c.job & Factory;
        job.RevisionCheck = c.job & Revision;
        job.RevisionText = "Rev1000000";
        line.display.job = job;
        line.Write(job);
        std::map<int, int64_t> entered;  // when each state was last entered, in clock seconds
        int last = -1;
        bool acted = false;
        const auto watch = [&] {
            const int state = line.machine.GetState();
            if (state != last) entered[state] = line.clock.NowSeconds(), last = state;
            if (c.act != None && !acted && state == (c.act == Interrupt ? StateProgramming : StateSending)) {
                acted = true;
                if (c.act == Interrupt) line.machine.SetActive(false);
                if (c.act == Unplug) line.port->Close();
            }
            return !line.display.reports.empty() && state == StateStandby;
        };
        const bool standby = line.RunUntil(watch, 40000, 100);
        ASSERT_EQ(line.display.reports.size(), 1u);
        const LoadReport& r = line.display.reports[0];
        EXPECT_EQ(std::tie(r.End, r.State), std::tie(c.end, c.reportState)) << r.Detail;
        if (r.End == LoadEnd::Passed) {
            EXPECT_EQ(line.rx->Flash(), StreamOf(Pattern(3000), 64));
        }
        if (r.End == LoadEnd::Passed || r.End == LoadEnd::CrcMismatch) {
            ASSERT_FALSE(line.display.results.empty());
            EXPECT_EQ(line.display.results.back(),
                      r.End == LoadEnd::Passed ? LoadResultText::Pass : LoadResultText::Fail);
        }
        if (c.seconds == Stays) {
            // Without Auto Load an interrupted load stays where it is, unarmed, until told to leave.
            EXPECT_FALSE(standby || line.machine.Active());
            line.machine.ReturnToStandby();
            ASSERT_TRUE(line.RunToState(StateStandby, 500));
            EXPECT_EQ(line.display.reports.size(), 1u) << "reported once";
            continue;
        }
        ASSERT_TRUE(standby);
        EXPECT_EQ(line.machine.Active(), c.armed);
        EXPECT_GT(line.display.Count(c.from), 0);
        if (c.seconds != Untimed) {
            EXPECT_EQ(entered[StateStandby] - entered.at(c.from), c.seconds);
        }
    }
}

TEST(LoaderMachineTest, WriteDuringAnUnarmedPassStartsTheLoadNextPass) {
    // Write pressed while an unarmed pass runs: the pass keeps the view it began with (a
    // half-seen Start used to be reported "Interrupted"), and the next pass starts the load.
    Line line;
    bool written = false;
    line.onSleep = [&](int ms) {
        if (written || ms != LoaderMachine::IdleMs || line.machine.GetState() != StateStandby) return;
        written = true;
        line.Write(MakeJob(Pattern(3000), TargetDefault, 16));
        EXPECT_TRUE(line.machine.GetState() == StateStandby && !line.machine.Active());
    };
    ASSERT_TRUE(line.RunToState(StateFirmwareOk, 10000));
    ASSERT_EQ(line.display.reports.size(), 1u);
    EXPECT_EQ(line.display.reports[0].End, LoadEnd::Passed);
}

TEST(LoaderMachineTest, AutoLoadLoadsReceiversThatAnnounceThemselves) {
    // Armed in Standby (as after an Auto Load); the receiver restarts into its loader by itself
    // (here: told by hand).
    Line line;
    line.display.job = MakeJob(Pattern(20000), TargetDefault, 16);
    line.display.job->AutoLoad = true;
    line.port->Reset(115200, 8, 0, 0, 2);  // the Reload page's rate
    line.machine.SetActive(true);
    const auto restart = BuildLoaderRestart();
    line.rx->SetHostRate(4800);
    line.rx->Feed(restart.data(), restart.size());
    ASSERT_TRUE(line.RunUntil([&] { return line.display.reports.size() == 1; }, 10000));
    EXPECT_EQ(line.display.reports[0].End, LoadEnd::Passed);
    EXPECT_EQ(line.display.snapshots, 1) << "the page's values are taken when the receiver asks";
    // Without parameters an announcing receiver is left alone.
    line.display.job.reset();
    ASSERT_TRUE(line.RunToState(StateStandby, 3000));
    line.rx->SetHostRate(4800);
    line.rx->Feed(restart.data(), restart.size());
    ASSERT_TRUE(line.RunUntil([&] { return line.display.reports.size() == 2; }, 5000));
    EXPECT_EQ(std::tie(line.display.reports[1].End, line.display.reports[1].Detail),
              std::tuple(LoadEnd::Refused, "no image chosen"));
    EXPECT_EQ(line.machine.GetState(), StateStandby);
}

TEST(LoaderMachineTest, EraseTimeOutGoesOnSending) {
    Line line({}, /*receiver=*/false);
    line.machine.Start(MakeJob(Pattern(3000), TargetDefault, 16));
    line.RunUntil([] { return false; }, 50);
    line.Say(sample::Sentence("PQLN,4D,21,HELLO"));
    ASSERT_TRUE(line.RunToState(StateErasing, 1000));
    const int64_t entered = line.clock.NowSeconds();
    ASSERT_TRUE(line.RunToState(StateSending, 10000, 100));
    EXPECT_EQ(line.clock.NowSeconds() - entered, 6);
    ASSERT_TRUE(line.RunToState(StateCheckCrc, 1000));
    // Nothing reported within 15 s: "FAIL CRC!" without "FAIL!".
    ASSERT_TRUE(line.RunToState(StateFailCrc, 20000, 200));
    EXPECT_EQ(line.display.reports.at(0).End, LoadEnd::TimedOut);
    EXPECT_TRUE(line.display.results.empty() || line.display.results.back() != LoadResultText::Fail);
}

}  // namespace
}  // namespace vantora
