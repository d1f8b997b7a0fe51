// vantora-flash: programs a firmware image into a receiver's flash from the command line, with
// the loader thread of the window, and reports the outcome in its exit status.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "app/file_places.h"
#include "app/settings.h"
#include "loader/load_task.h"
#include "serial/baud_rates.h"
#include "serial/port_list.h"
#include "tools/output_check.h"

namespace vantora {
namespace {

enum ExitStatus { ExitPass = 0, ExitFail = 1, ExitNoLoad = 2, ExitUsage = 3 };

volatile std::sig_atomic_t g_interrupted = 0;
void OnInterrupt(int) {
    g_interrupted = 1;
}

class StderrBoxes : public MessageBoxSink {
public:
    void Show(const std::string& title, const std::string& text, BoxIcon) override {
        std::fprintf(stderr, "vantora-flash: %s: %s\n", title.c_str(), text.c_str());
    }
};

// Prints what the loader shows: state texts on stdout, a progress bar on a terminal's stderr,
// one result line per load. Runs on the loader thread (the runner is inline).
class CliDisplay : public LoaderDisplay {
public:
    CliDisplay(LoadJob job, bool autoMode, bool progressBar)
        : job_(std::move(job)), auto_(autoMode), bar_(progressBar) {}

    void ShowState(int state, const char* stateText, const char*, bool) override {
        std::lock_guard lock(mutex_);
        if (state == shown_) return;
        shown_ = state;
        inLoad_ = state > StateStandby && state != StateFirmwareOk && state != StateFailCrc &&
                  state != StateFailRevision && state != StateInterrupt;
        ClearBar();
        std::printf("%s\n", stateText);
        std::fflush(stdout);
        // While the receiver programs a block the bar stays up with the last figures.
        if (state == StateSending || state == StateProgramming) DrawBar();
    }
    void InitProgress(int) override {}
    void StepProgress() override {}
    void ShowResult(LoadResultText) override {}
    void ShowCrc(const LoaderCrcValues&) override {}
    void ShowTransfer(int64_t elapsedMs, uint32_t sent, uint32_t total, double rate) override {
        std::lock_guard lock(mutex_);
        transfer_ = {elapsedMs, sent, total, rate};
        DrawBar();
    }
    void LoadEnded(const LoadReport& r) override {
        std::lock_guard lock(mutex_);
        ClearBar();
        transfer_ = {};
        inLoad_ = false;
        if (auto_ && !r.RequestSent && r.End == LoadEnd::TimedOut) {
            // Nobody answered the restart: Auto Load waits for receivers that announce their loader.
            std::printf("No receiver answered; waiting for receivers to announce their loader\n");
            std::fflush(stdout);
            return;
        }
        ++loads_;
        const int status = StatusOf(r);
        worst_ = std::max(worst_, status);
        if (auto_) std::printf("Receiver %d: ", loads_);
        std::printf("%s\n", LoadReportLine(r).c_str());
        std::fflush(stdout);
        ended_ = true;
        cv_.notify_all();
    }
    std::optional<LoadJob> SnapshotJob(std::string&) override { return job_; }

    // Waits up to ms for a load to end; true when one has ended since the last call.
    bool WaitEnded(int ms) {
        std::unique_lock lock(mutex_);
        const bool ended = cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return ended_; });
        ended_ = false;
        return ended;
    }
    bool InLoad() {
        std::lock_guard lock(mutex_);
        return inLoad_;
    }
    int Loads() {
        std::lock_guard lock(mutex_);
        return loads_;
    }
    int Worst() {
        std::lock_guard lock(mutex_);
        return worst_;
    }

private:
    static int StatusOf(const LoadReport& r) {
        switch (r.End) {
            case LoadEnd::Passed:
                return ExitPass;
            case LoadEnd::CrcMismatch:
            case LoadEnd::RevisionFailed:
                return ExitFail;
            default:
                return ExitNoLoad;
        }
    }
    void DrawBar() {
        if (!bar_ || transfer_.Total == 0) return;
        constexpr int Width = 32;
        const uint64_t sent = transfer_.Sent;
        const int filled = static_cast<int>(std::min<uint64_t>(sent * Width / transfer_.Total, Width));
        std::string bar(static_cast<size_t>(filled), '#');
        bar.resize(Width, '.');
        std::fprintf(stderr, "\r[%s] %3u%% %7.1f of %.0f KiB %6.1f KiB/s %6.1f s", bar.c_str(),
                     static_cast<unsigned>(sent * 100 / transfer_.Total), sent / 1024.0,
                     transfer_.Total / 1024.0, transfer_.Rate / 1024.0, transfer_.ElapsedMs / 1000.0);
        std::fflush(stderr);
        barShown_ = true;
    }
    void ClearBar() {
        if (!barShown_) return;
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        barShown_ = false;
    }

    const LoadJob job_;
    const bool auto_;
    const bool bar_;
    std::mutex mutex_;
    std::condition_variable cv_;
    int shown_ = -1;
    bool inLoad_ = false;
    bool barShown_ = false;
    struct {
        int64_t ElapsedMs = 0;
        uint32_t Sent = 0, Total = 0;
        double Rate = 0;
    } transfer_;
    bool ended_ = false;
    int loads_ = 0;
    int worst_ = ExitPass;
};

struct Options {
    std::string Port;
    std::string Image;
    int Baud = 4800;
    std::string Target = "default";
    std::string Address;
    std::string Size;
    std::string Crc = "0";
    bool FactoryDefault = false;
    bool Auto = false;
    bool Truncate = false;
};

int TargetIndex(const std::string& name) {
    if (name == "usb") return TargetUsb;
    if (name == "4100") return Target4100;
    return TargetDefault;
}

int Run(const Options& o) {
    auto image = std::make_shared<FirmwareImage>();
    const ImageReadResult read = ReadFirmwareFile(o.Image, *image);
    if (!read.Ok()) {
        std::fprintf(stderr, "vantora-flash: %s\n", read.Message.c_str());
        return ExitUsage;
    }
    const int target = TargetIndex(o.Target);
    const bool autoCrc = o.Crc == "auto" || o.Crc == "AUTO";
    std::string error;
    const auto fields =
        ParseLoadFields(target, o.Address.empty() ? DefaultAddressText(target) : o.Address,
                        o.Size.empty() ? DefaultSizeText(target) : o.Size, autoCrc ? "0" : o.Crc, error);
    if (!fields) {
        std::fprintf(stderr, "vantora-flash: %s\n", error.c_str());
        return ExitUsage;
    }
    const std::string overflow = ImageOverflowText(*image, LoadLimitOf(fields->SizeWord));
    if (!overflow.empty() && !o.Truncate) {
        std::fprintf(stderr, "vantora-flash: %s; raise --size, or give --truncate to program only those\n",
                     overflow.c_str());
        return ExitUsage;
    }
    LoadJob job;
    job.Image = image;
    job.Target = target;
    job.Fields = *fields;
    if (autoCrc) job.Fields.ExpectedCrc = LoadStreamCrc(*image, LoadLimitOf(fields->SizeWord));
    job.FactoryDefault = o.FactoryDefault;
    job.AutoLoad = o.Auto;
    job.WorkingBaud = o.Baud;

    StderrBoxes boxes;
    auto port = std::make_shared<TSerialPort>(0, o.Baud, 8, 0, 0, 2, 4096, 4096, o.Port, boxes);
    if (!port->Open()) {
        const std::string advice = OpenFailureAdvice(o.Port, port->OpenFailure());
        if (advice.empty())
            std::fprintf(stderr, "vantora-flash: cannot open %s (missing, not a terminal, or in use)\n",
                         o.Port.c_str());
        else
            std::fprintf(stderr, "vantora-flash: %s\n", advice.c_str());
        return ExitUsage;
    }
    CurrentPort current;
    current.Set(port);

    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    CliDisplay display(job, o.Auto, isatty(STDERR_FILENO) == 1);
    InlineRunner runner;
    TLoadTask task(current, display, runner);
    task.SetStandby();

    int status = ExitNoLoad;
    try {
        RestartIntoLoader(*port, o.Baud, target, SystemClock());
    } catch (const PortWriteError& e) {
        std::fprintf(stderr, "vantora-flash: PORT ERROR: %s\n", e.what());
        task.Stop();
        current.Release();
        return ExitNoLoad;
    }
    if (!g_interrupted) {
        task.Start(job);
        for (;;) {
            const bool ended = display.WaitEnded(50);
            if (ended && !o.Auto) break;
            if (g_interrupted) {
                // A running load is interrupted and reported; otherwise there is nothing to wait for.
                if (display.InLoad()) {
                    task.SetActive(false);
                    display.WaitEnded(3000);
                }
                break;
            }
        }
        // Auto Load: the worst of the receivers loaded (none loaded is no failure).
        status = o.Auto || display.Loads() > 0 ? display.Worst() : ExitNoLoad;
    }
    task.Stop();
    current.Release();
    return status;
}

}  // namespace
}  // namespace vantora

namespace vantora {
namespace {

// COM1..COM12 as the viewer maps them (its settings file's "Ports" section, found as the viewer
// finds it when it sits beside this program), one line each.
int ListPorts(const char* argv0) {
    std::string folder = ExecutablePath(argv0);
    folder = folder.substr(0, folder.find_last_of('/') + 1);
    const Settings settings =
        LoadSettings(IniFile::Load(ChooseSettingsPath(folder + "vantora", PlaceEnvironment::FromEnvironment())));
    for (int i = 0; i < PortCount; ++i)
        std::printf("%s\n", PortScriptLine(DescribePort("COM" + std::to_string(i + 1),
                                                         settings.PortDevices[static_cast<size_t>(i)]))
                                .c_str());
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? ExitPass : ExitFail;
}

}  // namespace
}  // namespace vantora

int main(int argc, char** argv) {
    using namespace vantora;
    Options o;
    CLI::App app{
        "Programs a firmware image into a GPS receiver's flash through the receiver's loader, as the\n"
        "window's Reload page does. Unless the target is 4100 it first sends the Restart frame that\n"
        "restarts the receiver into its loader (at the working rate, --baud), then moves the port to\n"
        "115200. Each loader state is printed on its own line as it is entered; on a terminal, stderr\n"
        "shows the progress while the image is sent. A last line gives the result:\n"
        "  PASS! CRC host H, receiver R, expected E; N bytes in S s (B bytes/s)\n"
        "  FAIL! CRC host H, receiver R, expected E\n"
        "  TIME-OUT / REFUSED / INTERRUPTED / PORT ERROR: the reason",
        "vantora-flash"};
    bool listPorts = false;
    app.add_option("--port", o.Port, "Serial device of the receiver (a terminal device); required");
    app.add_option("--image", o.Image, "Firmware image: a raw file of 1 to 262144 bytes; required");
    app.add_flag("--list-ports", listPorts,
                 "Print COM1..COM12 as the viewer maps them, one per line: name, device, its name under "
                 "/dev/serial/by-id, and the adapter (or 'not present'), separated by tabs; '-' for none");
    app.add_option("--baud", o.Baud,
                   "The receiver's working rate (the Restart frame and the 4100 request go out at it)")
        ->check(CLI::IsMember(std::vector<int>(BaudRates, BaudRates + WorkingBaudCount)))
        ->capture_default_str();
    app.add_option("--target", o.Target, "Kind of receiver loader: default, usb (waits 20 s for it) or 4100")
        ->transform(CLI::IsMember({"default", "usb", "4100"}, CLI::ignore_case))
        ->capture_default_str();
    app.add_option("--address", o.Address, "Flash address, hexadecimal (default C0000; 0 for 4100)");
    app.add_option("--size", o.Size, "KiB to program, decimal (default 192; 256 for 4100)");
    app.add_option("--crc", o.Crc,
                   "Expected CRC of the programmed area, hexadecimal, as in the page's CRC field; 'auto' "
                   "takes the host's own CRC of what it sends. The load passes only when the host's, the "
                   "receiver's and this CRC agree")
        ->capture_default_str();
    app.add_flag("--factory-default", o.FactoryDefault,
                 "After a good load, wait for the restarted firmware at the working rate and reset its "
                 "settings to factory defaults (command 08h)");
    app.add_flag("--auto", o.Auto,
                 "Auto Load: after the first load stay armed and load every receiver that announces its "
                 "loader, printing one 'Receiver N:' result line each, until Ctrl-C");
    app.add_flag("--truncate", o.Truncate,
                 "Program only the first --size KiB of an image larger than that (refused without it)");
    app.footer(
        "Exit status: 0 F/W OK! (PASS!); 1 FAIL CRC! or FAIL REV!; 2 a time-out, a refusal by the\n"
        "receiver, a port write failure or an interruption (Ctrl-C); 3 bad arguments, an image that\n"
        "cannot be read or is larger than --size without --truncate, a port that cannot be opened or\n"
        "an output that cannot be written. With --auto: the worst result of the\n"
        "receivers loaded (0 when all passed; Ctrl-C between loads is no failure).\n"
        "Example: vantora-flash --port /dev/ttyUSB0 --image fw.bin --baud 9600 --crc auto");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return ExitUsage;
    }
    if (listPorts) return CheckedExit("vantora-flash", ListPorts(argv[0]), ExitUsage);
    if (o.Port.empty() || o.Image.empty()) {
        std::fprintf(stderr, "vantora-flash: --port and --image are required\nRun with --help for more information.\n");
        return ExitUsage;
    }
    o.Target = CLI::detail::to_lower(o.Target);
    return CheckedExit("vantora-flash", Run(o), ExitUsage);
}
