// vantora-sim: a simulated receiver behind a pseudo-terminal. It prints the terminal's
// path, then behaves as the receiver until SIGINT or SIGTERM.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/platform.h"
#include "protocol/text.h"
#include "serial/baud_rates.h"
#include "sim/receiver.h"
#include "sim/replay.h"
#include "sim/terminal.h"
#include "tools/output_check.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) {
    g_stop = 1;
}

struct Options {
    int Baud = 4800;
    bool Pace = false;
    bool Binary = false;
    bool NoChecksum = false;
    bool Gnss = false;
    bool LfOnly = false;
    bool Nmea40 = false;
    uint32_t Seed = 1;
    std::optional<int64_t> StartTime;
    std::string Replay;
    double Speed = 1.0;
    std::vector<std::string> Faults;
    int FaultEvery = 10;
    double HangupAfter = 0;
    std::string Link;
    std::string FlashFile;
    std::string Record;
    std::string RecordInput;
    std::string LoaderCrc;
    bool LoaderSilent = false;
    bool LoaderNack = false;
    int TraceRecords = 0;
};

}  // namespace

int main(int argc, char** argv) {
    using namespace vantora;
    Options o;
    CLI::App app{
        "Simulated GPS receiver behind a pseudo-terminal. Prints the terminal's path on the first\n"
        "line of standard output, then answers the receiver's command frames and sends NMEA\n"
        "sentences (or binary navigation blocks) from a moving, seeded scenario until SIGINT or\n"
        "SIGTERM. The host must set the terminal to the receiver's rate (--baud): at any other\n"
        "rate the receiver stays silent and ignores what it is sent, as a real one would.",
        "vantora-sim"};
    app.add_option("--baud", o.Baud,
                   "Rate the receiver's firmware talks at (4800, 9600, 19200, 38400, 115200)")
        ->check(CLI::IsMember(std::vector<int>(std::begin(BaudRates), std::end(BaudRates))))
        ->capture_default_str();
    app.add_flag("--pace", o.Pace, "Pace output and input at the real line rate (10 bits per byte)");
    app.add_flag("--binary", o.Binary, "Start with binary navigation blocks D0h..D4h instead of NMEA");
    app.add_flag("--no-checksum", o.NoChecksum, "Send NMEA sentences without checksums");
    auto* gnssFlag = app.add_flag("--gnss", o.Gnss,
                 "Speak as a multi-constellation NMEA 4.11 receiver: GPS, GLONASS, Galileo and BeiDou "
                 "satellites; GN talker for GGA, GLL, RMC (navigation status), VTG and ZDA; one GSA per "
                 "system with its system ID; GSV under GP, GL, GA and GB with signal IDs");
    app.add_flag("--nmea40", o.Nmea40,
                 "With --gnss: speak NMEA 4.0 instead, GPS and GLONASS only; one GN GSA per system "
                 "without system ID (GLONASS numbered 65..96), GSV without signal ID, RMC without "
                 "navigation status")
        ->needs(gnssFlag);
    app.add_flag("--lf", o.LfOnly, "End NMEA sentences with LF alone instead of CR LF");
    app.add_option("--seed", o.Seed, "Seed of the scenario (site, path, satellites)")->capture_default_str();
    app.add_option("--start-time", o.StartTime, "UTC of the start, seconds since 1970 (default: now)");
    app.add_option("--trace-records", o.TraceRecords, "Records already in the trace buffer at start")
        ->check(CLI::Range(0, sim::Receiver::TraceCapacity));
    auto* replay =
        app.add_option("--replay", o.Replay,
                       "Play back a raw log instead of simulating; a log has no timestamps, so it "
                       "goes out at the line rate. Input is ignored; the terminal stays open at the end")
            ->check(CLI::ExistingFile);
    app.add_option("--speed", o.Speed, "Replay speed as a multiple of the line rate; 0 = as fast as possible")
        ->check(CLI::NonNegativeNumber)
        ->needs(replay)
        ->capture_default_str();
    app.add_option(
           "--fault", o.Faults,
           "Inject a fault into every Nth output item (repeatable; the kinds take turns): "
           "garbage (junk bytes between items), badsum (a wrong checksum), cut (an item stops half "
           "way), longfield (a sentence with a 40-character field or a 300-byte line), silence (5 s "
           "without output), hangup (the adapter is unplugged and plugged in again 3 s later as a new "
           "terminal, whose path is printed)")
        ->check(CLI::IsMember({"garbage", "badsum", "cut", "longfield", "silence", "hangup"}));
    app.add_option("--fault-every", o.FaultEvery, "N for --fault")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    app.add_option("--hangup-after", o.HangupAfter,
                   "After S seconds close the terminal as an unplugged adapter would, and exit 0")
        ->check(CLI::PositiveNumber);
    app.add_option("--link", o.Link, "Make a symbolic link PATH to the terminal (removed at exit)");
    app.add_option("--flash-file", o.FlashFile, "Write the bytes the flash loader programs to FILE");
    app.add_option("--record", o.Record,
                   "Append every byte sent to the host to FILE (what a host's log should hold)");
    app.add_option("--record-input", o.RecordInput,
                   "Append every byte received from the host to FILE (the frames a host sent)");
    app.add_option("--loader-crc", o.LoaderCrc,
                   "Loader reports this CRC (hexadecimal) instead of the real one");
    app.add_flag("--loader-silent", o.LoaderSilent, "Loader announces and answers nothing");
    app.add_flag("--loader-nack", o.LoaderNack, "Loader refuses every load request");
    app.footer(
        "Commands 01h..20h are answered with ACK or NAK and their reports. The all-zero Restart frame\n"
        "enters the flash loader, which talks at 115200: it announces itself with $PQLN,4D,21,HELLO,\n"
        "takes the load request 72h (and the erase 73h of the directly loaded kind), asks for each\n"
        "16 KiB with DATARQST and reports the CRC of what it programmed.");
    CLI11_PARSE(app, argc, argv);

    sim::ReceiverOptions ro;
    ro.Baud = o.Baud;
    ro.Pace = o.Pace;
    ro.Binary = o.Binary;
    ro.Checksum = !o.NoChecksum;
    ro.Gnss = o.Gnss;
    ro.LfOnly = o.LfOnly;
    ro.Nmea40 = o.Nmea40;
    ro.Seed = o.Seed;
    ro.StartUnixMs = (o.StartTime ? *o.StartTime : SystemClock().UnixSeconds()) * 1000;
    ro.TraceRecords = o.TraceRecords;
    ro.Faults.Every = o.FaultEvery;
    for (const auto& f : o.Faults) ro.Faults.Kinds.push_back(*sim::ParseFaultKind(f));
    ro.Loader.Silent = o.LoaderSilent;
    ro.Loader.Nack = o.LoaderNack;
    if (!o.LoaderCrc.empty()) {
        std::string_view digits = o.LoaderCrc;
        if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
            digits.remove_prefix(2);
        const std::optional<int64_t> v = ParseInteger(digits, 16, 0, 0xFFFF);
        if (!v) {
            std::cerr << "vantora-sim: --loader-crc wants a hexadecimal number up to FFFF\n";
            return 2;
        }
        ro.Loader.Crc = static_cast<uint16_t>(*v);
    }

    std::unique_ptr<sim::ReplaySource> source;
    if (!o.Replay.empty()) {
        std::ifstream f(o.Replay, std::ios::binary);
        std::string data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        source = std::make_unique<sim::ReplaySource>(std::move(data), o.Baud, o.Speed, SystemClock().NowMs());
    }

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const Clock& clock = SystemClock();
    sim::Receiver receiver(clock, ro);
    sim::TerminalOptions to;
    to.Link = o.Link;
    to.FlashFile = o.FlashFile;
    to.Record = o.Record;
    to.RecordInput = o.RecordInput;
    to.HangupAfter = o.HangupAfter;
    sim::TerminalHooks hooks;
    hooks.Plugged = [](const std::string& path) { std::cout << path << std::endl; };
    hooks.Complain = [](const std::string& problem) { std::cerr << "vantora-sim: " << problem << "\n"; };
    return CheckedExit("vantora-sim",
                       sim::RunOnTerminal(receiver, source.get(), o.Baud, to, g_stop, clock, hooks));
}
