// Firmware loads through the loader thread and the vantora-flash program against the simulator
// program; what each kind of receiver makes of a load is in loader_test's outcome table.
#include <sstream>

#include "loader/load_task.h"
#include "tests/support/loader_recorder.h"
#include "tests/support/sim_process.h"
#include "tests/support/view_recorder.h"

namespace vantora {
namespace {

using namespace test;

TEST(LoaderEndToEnd, TaskLoadsThroughTheThread) {
    Simulator sim({"--baud", "9600"});
    NoBoxes boxes;
    CurrentPort current;
    auto port = std::make_shared<TSerialPort>(0, 9600, 8, 0, 0, 2, 4096, 4096, sim.Link(), boxes);
    ASSERT_TRUE(port->Open());
    current.Set(port);
    port->Reset(115200, 8, 0, 0, 2);  // the Reload page
    LoaderRecorder display;
    InlineRunner runner;
    TLoadTask task{current, display, runner};
    task.SetStandby();

    const auto bytes = Pattern(20000);
    LoadJob job = MakeJob(bytes, TargetDefault, 32);
    job.WorkingBaud = 9600;
    RestartIntoLoader(*port, 9600, job.Target, SystemClock());
    task.Start(std::move(job));
    ASSERT_TRUE(display.WaitFor([&] { return !display.reports.empty(); }, 10000ms));
    EXPECT_EQ(display.reports[0].End, LoadEnd::Passed) << display.reports[0].Detail;
    EXPECT_EQ(sim.Flash(), StreamOf(bytes, 32));
    // Back to Standby a second later, unarmed.
    ASSERT_TRUE(display.WaitFor([&] { return display.states.back() == StateStandby; }, 3000ms));
    EXPECT_FALSE(task.Active());
    task.Stop();
    current.Release();
}

// Runs vantora-flash on the simulator's terminal; with interruptAt, sends SIGINT as soon as
// that text shows up in its output. The exit status and the output's lines.
std::pair<int, std::vector<std::string>> RunFlash(const Simulator& sim, std::vector<std::string> args,
                                                  const std::string& interruptAt = "") {
    std::vector<std::string> all = {Tool("vantora-flash"), "--port", sim.Link()};
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
    std::vector<std::string> lines;
    std::istringstream in(Slurp(out));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, lines};
}

TEST(LoaderEndToEnd, FlashToolExitStatus) {
    struct Case {
        std::vector<std::string> simOptions, args;
        int status;
        const char *first, *last;  // the first line (when there is output), how the last line starts
        const char* interruptAt = "";
    } cases[] = {
        {{"--baud", "19200"},
         {"--baud", "19200", "--target", "usb", "--crc", "auto", "--factory-default"},
         0,
         "Wait For response...",
         "PASS! CRC host "},
        {{"--loader-crc=BEEF"}, {"--crc", "auto"}, 1, "Wait For response...", "FAIL! CRC host "},
        {{"--loader-nack"}, {"--crc", "auto"}, 2, "Wait For response...", "REFUSED: "},
        {{"--pace"}, {"--size", "64"}, 2, "Wait For response...", "INTERRUPTED in ", "Programming..."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.simOptions) + ::testing::PrintToString(c.args));
        Simulator sim(c.simOptions);
        std::vector<std::string> args = {"--image", sim.WriteImage(Pattern(5000))};
        args.insert(args.end(), c.args.begin(), c.args.end());
        if (std::find(args.begin(), args.end(), "--size") == args.end())
            args.insert(args.end(), {"--size", "16"});
        const auto [status, lines] = RunFlash(sim, args, c.interruptAt);
        EXPECT_EQ(status, c.status);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.front(), c.first);
        EXPECT_EQ(lines.back().rfind(c.last, 0), 0u) << lines.back();
    }
}

}  // namespace
}  // namespace vantora
