// Firmware loads end to end over a real pseudo-terminal: the simulated receiver's binary on one
// side, the loader thread (and the vantora-flash binary) on the other.
#include <sstream>

#include "loader/load_task.h"
#include "tests/support/loader_recorder.h"
#include "tests/support/sim_process.h"
#include "tests/support/view_recorder.h"

namespace vantora {
namespace {

using namespace test;

// The simulator binary behind a link in a temporary folder, with the image to load beside it.
class Simulator {
public:
    explicit Simulator(std::vector<std::string> options = {})
        : proc_(dir_.Path("tty"), WithFiles(std::move(options)), dir_.Path("sim.out")) {
        EXPECT_TRUE(proc_.Running()) << "the simulator made no terminal";
    }
    const std::string& Link() const { return proc_.Link(); }
    std::string Path(const std::string& name) const { return dir_.Path(name); }
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
        options.insert(options.begin(), {"--flash-file", Path("flash.bin"), "--record", Path("sent.bin")});
        return options;
    }
    TempDir dir_{"vantora-loader-e2e"};
    SimProcess proc_;
};

// ---- the loader thread ----------------------------------------------------------------------

struct TaskRig {
    explicit TaskRig(std::vector<std::string> options = {}, int baud = 4800)
        : sim(std::move(options)), baud(baud) {
        port = std::make_shared<TSerialPort>(0, baud, 8, 0, 0, 2, 4096, 4096, sim.Link(), boxes);
        EXPECT_TRUE(port->Open());
        current.Set(port);
        port->Reset(115200, 8, 0, 0, 2);  // the Reload page
        task.SetStandby();
    }
    ~TaskRig() {
        task.Stop();
        current.Release();
    }
    LoadJob Job(const std::vector<uint8_t>& bytes, int target, uint16_t kib) const {
        LoadJob job = MakeJob(bytes, target, kib);
        job.WorkingBaud = baud;
        return job;
    }
    void Write(LoadJob job) {
        RestartIntoLoader(*port, baud, job.Target, SystemClock());
        task.Start(std::move(job));
    }
    bool WaitReports(size_t n, std::chrono::milliseconds limit = 10000ms) {
        return display.WaitFor([&] { return display.reports.size() >= n; }, limit);
    }

    Simulator sim;
    int baud;
    NoBoxes boxes;
    CurrentPort current;
    std::shared_ptr<TSerialPort> port;
    LoaderRecorder display;
    InlineRunner runner;
    TLoadTask task{current, display, runner};
};

TEST(LoaderEndToEnd, TaskLoadsEveryTarget) {
    for (int target : {TargetDefault, TargetUsb, Target4100}) {
        SCOPED_TRACE(LoadTargetNames[target]);
        TaskRig rig({"--baud", "9600"}, 9600);
        const auto bytes = Pattern(20000, static_cast<uint32_t>(target));
        rig.Write(rig.Job(bytes, target, 32));
        ASSERT_TRUE(rig.WaitReports(1));
        EXPECT_EQ(rig.display.reports[0].End, LoadEnd::Passed) << rig.display.reports[0].Detail;
        EXPECT_EQ(rig.display.results.back(), LoadResultText::Pass);
        EXPECT_EQ(rig.sim.Flash(), StreamOf(bytes, 32));
        // Back to Standby a second later, unarmed.
        ASSERT_TRUE(rig.display.WaitFor([&] { return rig.display.states.back() == StateStandby; }, 3000ms));
        EXPECT_FALSE(rig.task.Active());
    }
}

TEST(LoaderEndToEnd, TaskOutcomesOfAFaultyReceiver) {
    struct Case {
        const char* option;
        LoadEnd end;
        bool armed;
    } cases[] = {{"--loader-crc=1234", LoadEnd::CrcMismatch, false},
                 {"--loader-nack", LoadEnd::Refused, true},
                 {"--loader-silent", LoadEnd::TimedOut, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        TaskRig rig({c.option});
        rig.Write(rig.Job(Pattern(5000), TargetDefault, 16));
        ASSERT_TRUE(rig.WaitReports(1));
        EXPECT_EQ(rig.display.reports[0].End, c.end);
        ASSERT_TRUE(rig.display.WaitFor([&] { return rig.display.states.back() == StateStandby; }, 3000ms));
        EXPECT_EQ(rig.task.Active(), c.armed);
        if (c.end == LoadEnd::CrcMismatch) {
            EXPECT_EQ(rig.display.results.back(), LoadResultText::Fail);
        }
    }
}

TEST(LoaderEndToEnd, AutoLoadLoadsTwoReceiversInARow) {
    TaskRig rig;
    auto job = rig.Job(Pattern(16384), TargetDefault, 16);
    job.AutoLoad = true;
    rig.display.job = job;
    rig.Write(job);
    ASSERT_TRUE(rig.WaitReports(1));
    ASSERT_TRUE(rig.display.WaitFor([&] { return rig.display.states.back() == StateStandby; }, 3000ms));
    EXPECT_TRUE(rig.task.Active());
    // The next receiver restarts into its loader; nobody presses Write.
    std::this_thread::sleep_for(1500ms);  // the first one is back in its firmware
    RestartIntoLoader(*rig.port, 4800, TargetDefault, SystemClock());
    ASSERT_TRUE(rig.WaitReports(2));
    EXPECT_EQ(rig.display.reports[0].End, LoadEnd::Passed);
    EXPECT_EQ(rig.display.reports[1].End, LoadEnd::Passed);
    EXPECT_EQ(rig.display.snapshots, 1);
}

// ---- the command-line flasher ------------------------------------------------------------------

struct FlashRun {
    int status = -1;
    std::vector<std::string> lines;
    bool Has(const std::string& line) const {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
};

// Runs vantora-flash on the simulator's terminal; with interruptAt, sends SIGINT as soon as
// that text shows up in its output.
FlashRun RunFlash(const Simulator& sim, std::vector<std::string> args, const std::string& interruptAt = "") {
    std::vector<std::string> all = {VANTORA_BINARY_DIR "/loader/vantora-flash", "--port", sim.Link()};
    all.insert(all.end(), args.begin(), args.end());
    const std::string out = sim.Path("flash.out");
    const pid_t pid = Spawn(all, out, /*quiet=*/true);
    if (!interruptAt.empty()) {
        for (int i = 0; i < 400 && Slurp(out).find(interruptAt) == std::string::npos; ++i)
            std::this_thread::sleep_for(50ms);
        kill(pid, SIGINT);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    FlashRun run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream in(Slurp(out));
    for (std::string line; std::getline(in, line);) run.lines.push_back(line);
    return run;
}

TEST(LoaderEndToEnd, FlashToolLoadsEveryTarget) {
    for (const char* target : {"default", "usb", "4100"}) {
        SCOPED_TRACE(target);
        Simulator sim({"--baud", "19200"});
        const auto bytes = Pattern(30000);
        const FlashRun run = RunFlash(sim, {"--image", sim.WriteImage(bytes), "--baud", "19200", "--target",
                                            target, "--size", "32", "--crc", "auto"});
        EXPECT_EQ(run.status, 0);
        ASSERT_FALSE(run.lines.empty());
        EXPECT_EQ(run.lines.front(), "Wait For response...");
        EXPECT_TRUE(run.Has("F/W OK!"));
        EXPECT_EQ(run.lines.back().rfind("PASS! CRC host ", 0), 0u) << run.lines.back();
        EXPECT_EQ(sim.Flash(), StreamOf(bytes, 32));
    }
}

TEST(LoaderEndToEnd, FlashToolOutcomesAndExitStatus) {
    struct Case {
        const char* option;
        int status;
        const char* state;  // a state line that must be there
        const char* last;   // how the last line starts
    } cases[] = {{"--loader-crc=BEEF", 1, "FAIL CRC!", "FAIL! CRC host "},
                 {"--loader-nack", 2, "Standby", "REFUSED: "},
                 {"--loader-silent", 2, "Standby", "TIME-OUT: "}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        Simulator sim({c.option});
        const FlashRun run =
            RunFlash(sim, {"--image", sim.WriteImage(Pattern(5000)), "--size", "16", "--crc", "auto"});
        EXPECT_EQ(run.status, c.status);
        EXPECT_TRUE(run.Has(c.state));
        ASSERT_FALSE(run.lines.empty());
        EXPECT_EQ(run.lines.back().rfind(c.last, 0), 0u) << run.lines.back();
        if (c.status == 1) {
            EXPECT_NE(run.lines.back().find("receiver BEEF"), std::string::npos);
        }
    }
    // The page's default expected CRC is 0: a good load of an image whose CRC is not 0 fails.
    Simulator sim;
    const FlashRun run = RunFlash(sim, {"--image", sim.WriteImage(Pattern(5000)), "--size", "16"});
    EXPECT_EQ(run.status, 1);
}

TEST(LoaderEndToEnd, FlashToolSetsFactoryDefaultAfterAGoodLoad) {
    Simulator sim;
    const FlashRun run = RunFlash(sim, {"--image", sim.WriteImage(Pattern(5000)), "--size", "16", "--crc",
                                        "auto", "--factory-default"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.Has("Factory Default..."));
    // The receiver acknowledged command 08h at its working rate.
    EXPECT_NE(sim.Sent().find("\x25\x25\x06\x08\x0E\x0D\x0A"), std::string::npos);
}

TEST(LoaderEndToEnd, FlashToolAutoLoadUntilInterrupted) {
    Simulator sim;
    // Ctrl-C once the receiver is loaded and the loader waits in Standby for the next one.
    const FlashRun run =
        RunFlash(sim, {"--image", sim.WriteImage(Pattern(5000)), "--size", "16", "--crc", "auto", "--auto"},
                 "Standby");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(std::count_if(run.lines.begin(), run.lines.end(),
                            [](const std::string& l) { return l.rfind("Receiver 1: PASS! ", 0) == 0; }),
              1);
    EXPECT_TRUE(run.Has("Standby"));
}

TEST(LoaderEndToEnd, FlashToolInterruptedDuringALoad) {
    Simulator sim({"--pace"});
    const FlashRun run =
        RunFlash(sim, {"--image", sim.WriteImage(Pattern(5000)), "--size", "64"}, "Programming...");
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(run.Has("Interrupt!"));
    ASSERT_FALSE(run.lines.empty());
    EXPECT_EQ(run.lines.back().rfind("INTERRUPTED in ", 0), 0u) << run.lines.back();
}

TEST(LoaderEndToEnd, FlashToolRefusesBadArguments) {
    Simulator sim;
    const std::string image = sim.WriteImage(Pattern(100));
    const std::vector<std::vector<std::string>> cases = {
        {"--image", sim.Path("missing.bin")},   {"--image", sim.WriteImage({}, "empty.bin")},
        {"--image", image, "--size", "12x"},    {"--image", image, "--address", "4000000"},
        {"--image", image, "--crc", "12345"},   {"--image", image, "--baud", "115200"},
        {"--image", image, "--target", "5000"}, {"--size", "16"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args.back());
        EXPECT_EQ(RunFlash(sim, args).status, 3);
    }
    EXPECT_TRUE(sim.Flash().empty()) << "nothing was loaded";
}

}  // namespace
}  // namespace vantora
