// The simulated receiver: a byte-in, byte-out engine that answers the host's command
// frames, sends NMEA sentences or binary navigation blocks, keeps a trace buffer and
// runs the flash loader. No file descriptors: the caller moves the bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/loader_crc.h"
#include "protocol/platform.h"
#include "serial/baud_rates.h"
#include "sim/faults.h"
#include "sim/line.h"
#include "sim/reports.h"
#include "sim/scenario.h"

namespace vantora::sim {

constexpr int LoaderRate = LoaderBaud;

struct LoaderOptions {
    std::optional<uint16_t> Crc;  // report this CRC instead of the one computed
    bool Silent = false;          // the loader announces and answers nothing
    bool Nack = false;            // every load request is refused
};

struct ReceiverOptions {
    int Baud = 4800;       // rate of the receiver's firmware
    bool Pace = false;     // 10 bits per byte at the line rate, both ways
    bool Binary = false;   // start with binary navigation blocks
    bool Checksum = true;  // NMEA checksums
    bool Gnss = false;     // a multi-constellation NMEA 4.11 receiver rather than GPS-only
    bool LfOnly = false;   // sentences end in LF alone
    bool Nmea40 = false;   // with Gnss: NMEA 4.0 of GPS and GLONASS, GSAs without system ID
    uint32_t Seed = 1;
    int64_t StartUnixMs = 1715932800000;  // 2024-05-17 08:00:00 UTC
    int TraceRecords = 0;                 // records in the trace buffer at power-on
    FaultOptions Faults;
    LoaderOptions Loader;
};

// What the commands configure; the settings reports show it.
struct ReceiverSettings {
    int BaudIndex = 0;  // COM1, index into the rate table
    int Com2BaudIndex = 0;
    bool NmeaChecksum = true;
    uint8_t Periods[7] = {1, 0, 1, 1, 1, 0, 0};  // GGA, GLL, GSA, GSV, RMC, VTG, ZDA (update intervals)
    int OutputFormat = 1;                        // 0 off, 1 NMEA, 2 binary until restart, 3 binary
    int UpdateRate = 1;                          // Hz
    int DopMaskMode = 0;
    int Gdop = 25, Pdop = 20, Hdop = 15;
    int ElevationMask = 5;
    int Dgps = 0;  // 0 off, 1 WAAS, 2 RTCM
    int PpsMode = 0, PpsWidth = 1, PpsMultiplier = 1;
    int ZoneHours = 0, ZoneMinutes = 0, ZoneSeconds = 0, DstAdjust = 0;
    bool TimeLocalized = false;
    uint16_t EllipsoidIndex = 0;
    double SemiMajor = 6378137.0, InverseFlattening = 298.257223563;
    int16_t Dx = 0, Dy = 0, Dz = 0;
};

enum NmeaSlot { SlotGga = 0, SlotGll, SlotGsa, SlotGsv, SlotRmc, SlotVtg, SlotZda };

enum class LoaderPhase {
    Off,            // the firmware runs
    Announcing,     // restarted into the loader, waiting for a load request
    Erasing,        // request taken; acknowledges when the area is erased
    AckingRequest,  // direct request ("4100" kind): acknowledge, then wait for the erase command
    WaitErase,
    Erasing4100,
    Receiving,    // image packets
    Programming,  // a 16 KiB block is being written
    Reporting,    // all bytes in; the CRC report follows
    Leaving,      // back to the firmware shortly
};

class Receiver {
public:
    static constexpr int TraceCapacity = 131072;
    static constexpr int FlashKiB = 1024;

    Receiver(const Clock& clock, const ReceiverOptions& options);

    // Bytes from the host. They are taken in (and paced) by Tick.
    void Feed(const uint8_t* data, size_t n);
    // The rate the host set on its end of the line (0: unknown, taken as matching).
    void SetHostRate(int baud) { line_.SetHostRate(baud); }
    // Runs the receiver up to the clock's now; returns at most maxBytes of output.
    std::string Tick(size_t maxBytes = SIZE_MAX);

    int LineRate() const { return line_.Rate(); }
    // True once after a hang-up fault: the caller drops the line as an unplugged adapter would.
    bool TakeHangup() { return faults_.TakeHangup(); }
    const FaultInjector& Faults() const { return faults_; }

    // Flash written by the loader: the bytes programmed by the last load, in order.
    const std::vector<uint8_t>& Flash() const { return flash_; }
    uint64_t FlashGeneration() const { return flashGeneration_; }
    LoaderPhase Phase() const { return phase_; }

    ScenarioState State() const;  // the scenario at the clock's now
    int TraceCount() const { return static_cast<int>(trace_.size()); }

private:
    int64_t Elapsed() const;
    void Send(const std::string& item);
    void SendNavigation(const std::string& item);
    void ProcessInput(const std::string& in);
    void FrameByte(uint8_t b);
    int FrameLength(uint8_t cmd) const;
    void HandleCommand(uint8_t cmd, const uint8_t* p);
    void HandleLoaderFrame(uint8_t cmd, const uint8_t* p);
    void Epoch(int64_t t);
    void RecordTrace(const ScenarioState& st, int64_t t);
    void EmitTraceRecords();
    std::string TraceStatus() const;
    std::string NavigationSetting() const;
    std::string SystemSetting() const;
    std::string Revision() const;
    void Restart(int mode);
    void FactoryDefault();
    void SwitchRate(int rate);
    void LoaderNotice(const char* body);
    void EnterLoader(bool direct, const uint8_t* request);
    void LoaderTick(int64_t t);
    void LoaderData(const uint8_t* data, size_t n);
    void LeaveLoader();
    ScenarioSettings ScenarioView() const;

    const Clock& clock_;
    ReceiverOptions options_;
    int64_t startMs_;
    Scenario scenario_;
    LineModel line_;
    FaultInjector faults_;
    ReceiverSettings settings_;
    int64_t nextEpoch_ = 0;
    int64_t epochIndex_ = 0;
    int32_t moduleIds_[2];

    // Command frame reader.
    int frameState_ = 0;
    uint8_t frame_[64] = {};
    int frameCount_ = 0;
    int frameLength_ = 0;

    // Trace buffer.
    std::vector<TraceEntry> trace_;
    bool traceEnabled_ = true;
    bool tracePowerOn_ = false;
    bool recording_ = false;
    int traceDistance_ = 0, tracePeriod_ = 0, traceTime_ = 0xFFFF;
    int64_t traceStart_ = 0, traceLastMs_ = 0;
    double traceLastTravelled_ = 0;
    bool traceHasLast_ = false;
    bool reading_ = false;
    size_t readPosition_ = 0;

    // Flash loader.
    LoaderPhase phase_ = LoaderPhase::Off;
    int64_t phaseUntil_ = 0;
    int64_t nextHello_ = 0;
    size_t loadExpected_ = 0;
    std::vector<uint8_t> incoming_;
    std::vector<uint8_t> flash_;
    uint64_t flashGeneration_ = 0;
    uint16_t firmwareCrc_ = 0x5A17;
};

// The flash's CRC over a byte count (the loader's own CRC, over size / 2 words).
inline uint16_t FlashCrc16(const uint8_t* data, size_t size, uint16_t acc = 0) {
    return LoaderCrc16(data, size / 2, acc);
}

}  // namespace vantora::sim
