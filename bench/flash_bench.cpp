// A 192 KiB firmware load against the simulated receiver paced at the loader's 115200 bit/s:
// its time next to what the line allows (10 bits a byte) plus the receiver's own pauses.
//   build/bench/vantora-flash-bench [--runs 3] [--kib 192] [--sim PATH]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "loader/load_task.h"
#include "tests/support/box_recorder.h"

extern char** environ;

namespace vantora {
namespace {

using Steady = std::chrono::steady_clock;
namespace fs = std::filesystem;

// The simulator's pauses in a load: erase 300 ms, 50 ms to program each 16 KiB block but the
// last, 200 ms before the CRC report.
constexpr double EraseS = 0.300, ProgramS = 0.050, ReportS = 0.200;

class Timing : public LoaderDisplay {
public:
    void ShowState(int state, const char*, const char*, bool) override {
        std::lock_guard lock(mutex);
        const auto now = Steady::now();
        if (state == StateErasing && !request) request = now;
        if (state == StateSending && !sending) sending = now;
        if (state == StateCheckCrc) lastPacket = now;
        cv.notify_all();
    }
    void InitProgress(int) override {}
    void StepProgress() override {}
    void ShowResult(LoadResultText) override {}
    void ShowCrc(const LoaderCrcValues&) override {}
    void ShowTransfer(int64_t, uint32_t, uint32_t, double) override {}
    void LoadEnded(const LoadReport& r) override {
        std::lock_guard lock(mutex);
        report = r;
        ended = Steady::now();
        cv.notify_all();
    }
    std::optional<LoadJob> SnapshotJob(std::string&) override { return std::nullopt; }

    std::mutex mutex;
    std::condition_variable cv;
    std::optional<Steady::time_point> request, sending, lastPacket, ended;
    std::optional<LoadReport> report;
};

double Seconds(Steady::time_point a, Steady::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

struct Times {
    double RequestToReport = -1;      // from the load request (its Erasing shown) to the CRC report
    double FirstPacketToReport = -1;  // the image on the line and the receiver's answer
};

// One load; RequestToReport stays negative when it did not pass.
Times RunOnce(const std::string& simPath, int kib, bool verbose) {
    const fs::path dir = fs::temp_directory_path() / ("vantora-flash-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string link = (dir / "tty").string();
    std::vector<std::string> args = {simPath, "--pace", "--link", link};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", simPath.c_str());
        return {};
    }
    posix_spawn_file_actions_destroy(&actions);
    for (int i = 0; i < 100 && !fs::exists(link); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));

    Times result;
    {
        test::PrintedBoxes boxes;
        CurrentPort current;
        auto port = std::make_shared<TSerialPort>(0, 4800, 8, 0, 0, 2, 4096, 4096, link, boxes);
        if (port->Open()) {
            current.Set(port);
            Timing timing;
            InlineRunner runner;
            TLoadTask task(current, timing, runner);
            task.SetStandby();

            auto image = std::make_shared<FirmwareImage>();
            for (int i = 0; i < ImageCapacity; ++i) image->Bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
            image->Size = kib * 1024;
            LoadJob job;
            job.Image = image;
            job.Fields.AddressWord = 0x300;
            job.Fields.SizeWord = static_cast<uint16_t>(kib);
            job.Fields.ExpectedCrc = LoadStreamCrc(*image, LoadLimitOf(job.Fields.SizeWord));

            const auto write = Steady::now();
            RestartIntoLoader(*port, 4800, TargetDefault, SystemClock());
            task.Start(job);
            std::unique_lock lock(timing.mutex);
            timing.cv.wait_for(lock, std::chrono::seconds(120), [&] { return timing.report.has_value(); });
            if (timing.report && timing.report->End == LoadEnd::Passed && timing.request && timing.sending) {
                result.RequestToReport = Seconds(*timing.request, *timing.ended);
                result.FirstPacketToReport = Seconds(*timing.sending, *timing.ended);
                if (verbose) {
                    std::printf(
                        "  write to request %.3f s, request to first packet %.3f s, sending %.3f s, "
                        "last packet to CRC report %.3f s, total %.3f s\n",
                        Seconds(write, *timing.request), Seconds(*timing.request, *timing.sending),
                        Seconds(*timing.sending, *timing.lastPacket),
                        Seconds(*timing.lastPacket, *timing.ended), Seconds(write, *timing.ended));
                }
            } else {
                std::fprintf(stderr, "the load did not pass (%s)\n",
                             timing.report ? LoadEndName(timing.report->End) : "no end");
            }
            lock.unlock();
            task.Stop();
            current.Release();
        } else {
            std::fprintf(stderr, "cannot open %s\n", link.c_str());
        }
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    fs::remove_all(dir);
    return result;
}

}  // namespace
}  // namespace vantora

int main(int argc, char** argv) {
    int runs = 3;
    int kib = 192;
    std::string sim = VANTORA_BINARY_DIR "/tools/vantora-sim";
    CLI::App app{"Times a firmware load against the simulated receiver paced at 115200 bit/s",
                 "vantora-flash-bench"};
    app.add_option("--runs", runs, "Loads to time")->check(CLI::Range(1, 20))->capture_default_str();
    app.add_option("--kib", kib, "KiB to load (a whole number of 16 KiB blocks)")
        ->check(CLI::Range(16, 256))
        ->capture_default_str();
    app.add_option("--sim", sim, "The simulator binary")->capture_default_str();
    CLI11_PARSE(app, argc, argv);

    using namespace vantora;
    const int blocks =
        (kib * 1024 + static_cast<int>(ProgramBlockSize) - 1) / static_cast<int>(ProgramBlockSize);
    const double line = kib * 1024.0 * 10 / 115200;
    const double limit = line + EraseS + (blocks - 1) * ProgramS + ReportS;
    std::printf(
        "%d KiB at 115200 bit/s: line time %.3f s; with the receiver's pauses (erase %.0f ms, %d x %.0f ms "
        "programming, %.0f ms to report) %.3f s\n",
        kib, line, EraseS * 1000, blocks - 1, ProgramS * 1000, ReportS * 1000, limit);
    std::vector<double> times, streams;
    for (int i = 0; i < runs; ++i) {
        const Times t = RunOnce(sim, kib, true);
        if (t.RequestToReport < 0) return 1;
        times.push_back(t.RequestToReport);
        streams.push_back(t.FirstPacketToReport);
        std::printf(
            "run %d: request to CRC report %.3f s (%+.1f %% of the limit); first packet to CRC report "
            "%.3f s (%+.1f %% of the line time plus the report's %.0f ms)\n",
            i + 1, t.RequestToReport, (t.RequestToReport / limit - 1) * 100, t.FirstPacketToReport,
            (t.FirstPacketToReport / (line + ReportS) - 1) * 100, ReportS * 1000);
    }
    std::sort(times.begin(), times.end());
    std::sort(streams.begin(), streams.end());
    const double median = times[times.size() / 2];
    const double stream = streams[streams.size() / 2];
    std::printf(
        "median: request to CRC report %.3f s, %+.1f %% of the limit; first packet to CRC report %.3f s, "
        "%+.1f %% of line time plus report; %.0f bytes/s of image\n",
        median, (median / limit - 1) * 100, stream, (stream / (line + ReportS) - 1) * 100,
        kib * 1024 / median);
    return 0;
}
