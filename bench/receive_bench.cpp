// The receive thread under a streaming receiver: its CPU time and the delay from a sentence's
// last byte leaving the receiver to its memo line reaching the display.
//   build/bench/vantora-receive-bench [--seconds 30] [--baud 115200]
// The receiver side writes a 1 Hz receiver's sentences and binary blocks back to back, paced
// at the line rate (a saturated link: the worst case), into a pseudo-terminal.
#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/support/box_recorder.h"
#include "tests/support/sample_stream.h"
#include "view/view_task.h"

namespace vantora {
namespace {

using Clock = std::chrono::steady_clock;

class TimingDisplay : public NullViewDisplay {
public:
    void ShowMessage(const std::string&) override {
        std::lock_guard lock(mutex);
        arrivals.push_back(Clock::now());
    }

    std::mutex mutex;
    std::vector<Clock::time_point> arrivals;
};

// CPU seconds (user + system) used so far by the thread of this process with that name.
double ThreadCpuSeconds(const std::string& name) {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string n;
        std::getline(comm, n);
        if (n != name) continue;
        std::ifstream stat(task.path() / "stat");
        std::string line;
        std::getline(stat, line);
        // Fields after the parenthesised name: state is field 3, utime 14, stime 15.
        std::istringstream rest(line.substr(line.rfind(')') + 2));
        std::string field;
        unsigned long long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14) utime = std::stoull(field);
            if (i == 15) stime = std::stoull(field);
        }
        return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    return -1;
}

// One second of a receiver's output as its items: sentences (split at their LF) and frames.
std::vector<std::string> OneSecond() {
    std::vector<std::string> items;
    const std::string nmea = sample::NmeaSecond(0);
    for (size_t start = 0, lf; (lf = nmea.find('\n', start)) != std::string::npos; start = lf + 1)
        items.push_back(nmea.substr(start, lf + 1 - start));
    for (const std::string& f : sample::BinarySecondFrames(0)) items.push_back(f);
    return items;
}

int Run(int seconds, int baud) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    test::PrintedBoxes boxes;
    CurrentPort port;
    auto p = std::make_shared<TSerialPort>(0, baud, 8, 0, 0, 2, 4096, 4096, ptsname(master), boxes);
    if (!p->Open()) return 1;
    port.Set(p);
    TimingDisplay display;
    InlineRunner runner;
    ReceiverTables tables{};
    TViewTask task(port, display, runner, tables);
    task.SetActive(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    const std::vector<std::string> oneSecond = OneSecond();
    std::vector<Clock::time_point> sent;
    const double cpuStart = ThreadCpuSeconds("SATView");
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    // Pacing: each byte takes 10 bit times on the line.
    const double secondsPerByte = 10.0 / baud;
    double lineTime = 0;
    uint64_t bytes = 0;
    for (int k = 0; Clock::now() < end; ++k) {
        const std::string& item = oneSecond[k % oneSecond.size()];
        lineTime += item.size() * secondsPerByte;
        std::this_thread::sleep_until(
            start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(lineTime)));
        size_t off = 0;
        while (off < item.size()) {
            const ssize_t w = ::write(master, item.data() + off, item.size() - off);
            if (w > 0) off += static_cast<size_t>(w);
        }
        sent.push_back(Clock::now());
        bytes += item.size();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const double cpuEnd = ThreadCpuSeconds("SATView");
    if (cpuStart < 0 || cpuEnd < 0) std::fprintf(stderr, "no thread named SATView\n");
    const double cpu = cpuEnd - cpuStart;
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    task.Stop();
    port.Release();
    close(master);

    std::vector<double> delays;
    {
        std::lock_guard lock(display.mutex);
        const size_t n = std::min(sent.size(), display.arrivals.size());
        for (size_t i = 0; i < n; ++i)
            delays.push_back(
                std::chrono::duration<double, std::milli>(display.arrivals[i] - sent[i]).count());
        std::printf("items sent %zu, memo lines %zu, %.0f bytes/s at %d bit/s\n", sent.size(),
                    display.arrivals.size(), bytes / wall, baud);
    }
    std::sort(delays.begin(), delays.end());
    auto pct = [&](double q) {
        return delays.empty() ? 0.0 : delays[static_cast<size_t>(q * (delays.size() - 1))];
    };
    std::printf("receive thread CPU: %.3f s in %.1f s = %.2f %% of one core\n", cpu, wall,
                100.0 * cpu / wall);
    std::printf("delay last byte sent -> memo line: median %.1f ms, 99th percentile %.1f ms, max %.1f ms\n",
                pct(0.5), pct(0.99), delays.empty() ? 0.0 : delays.back());
    return 0;
}

}  // namespace
}  // namespace vantora

int main(int argc, char** argv) {
    CLI::App app{"Receive thread benchmark: CPU time and sentence delay under a streaming receiver."};
    int seconds = 30, baud = 115200;
    app.add_option("--seconds", seconds, "how long the receiver streams")->capture_default_str();
    app.add_option("--baud", baud, "line rate the stream is paced at")->capture_default_str();
    CLI11_PARSE(app, argc, argv);
    return vantora::Run(seconds, baud);
}
