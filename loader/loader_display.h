// What the loader thread shows, and where it gets a load's parameters from. Every call runs on
// the main thread (through MainThreadRunner), so the window, the command-line flasher and the
// tests implement it without locks of their own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "loader/load_job.h"

namespace vantora {

constexpr int LoaderStateCount = 16;
// Short state texts (the state label) and status texts (the status bar), by state 0..15.
extern const char* const LoaderStateText[LoaderStateCount];
extern const char* const LoaderStatusText[LoaderStateCount];

enum LoaderState : int {
    StateSetup = 0,
    StateStandby = 1,
    StateStartLoading = 2,
    StateWaitResponse = 3,
    StateWaitAck = 4,
    StateErasing = 5,
    StateErasing4100 = 6,
    StateSending = 7,
    StateProgramming = 8,
    StateCheckCrc = 9,
    StateCheckRevision = 10,
    StateFirmwareOk = 11,
    StateFactoryDefault = 12,
    StateFailCrc = 13,
    StateFailRevision = 14,
    StateInterrupt = 15,
};

// The result label: empty, "PASS!" in green or "FAIL!" in red.
enum class LoadResultText { None, Pass, Fail };
const char* ResultText(LoadResultText r);

struct LoaderCrcValues {
    uint16_t Host = 0;      // of what was sent
    uint16_t Receiver = 0;  // reported by the receiver
    uint16_t Expected = 0;  // the CRC field
};

enum class LoadEnd {
    Passed,          // "F/W OK!"
    CrcMismatch,     // "FAIL CRC!" with "FAIL!": the three CRCs differ
    RevisionFailed,  // "FAIL REV!"
    TimedOut,        // the receiver did not answer in time (State names the wait)
    Refused,         // the receiver refused the load request, or the load could not be started
    Interrupted,     // disarmed during a load
    PortFailed,      // a write to the port failed
};
const char* LoadEndName(LoadEnd e);

// One load's end, reported once per load.
struct LoadReport {
    LoadEnd End = LoadEnd::Passed;
    int State = 0;                       // the state the load was in when it ended
    bool RequestSent = false;            // a load request had gone out (a receiver was being loaded)
    std::string Detail;                  // the port's error text or why the load was not started
    std::optional<LoaderCrcValues> Crc;  // when the receiver reported its CRC
    uint32_t BytesSent = 0;
    int64_t SendingMs = 0;  // from the first packet to the CRC report (or the last packet)
};

// One line for a load's end, as the command-line flasher prints it:
//   "PASS! CRC host H, receiver R, expected E; N bytes in S s (B bytes/s)", "FAIL! CRC host ...",
//   "FAIL! wrong revision", "TIME-OUT: why", "REFUSED: why", "INTERRUPTED in STATE", "PORT ERROR: why".
std::string LoadReportLine(const LoadReport& report);

class LoaderDisplay {
public:
    virtual ~LoaderDisplay() = default;

    // A state change: both texts, and whether the window is locked (every state above Standby).
    virtual void ShowState(int state, const char* stateText, const char* statusText, bool pageLocked) = 0;
    // The progress bar: position 0 in a range 0..maximum; one step.
    virtual void InitProgress(int maximum) = 0;
    virtual void StepProgress() = 0;
    virtual void ShowResult(LoadResultText result) = 0;
    // The host's, the receiver's and the expected CRC when the receiver reports.
    virtual void ShowCrc(const LoaderCrcValues& crc) = 0;
    // While sending: time since the first packet, bytes sent of total, and the rate so far.
    virtual void ShowTransfer(int64_t elapsedMs, uint32_t bytesSent, uint32_t bytesTotal,
                              double bytesPerSecond) = 0;
    virtual void LoadEnded(const LoadReport& report) = 0;
    // The parameters of a load that a receiver asks for without Write having been pressed
    // (Auto Load, or a receiver announcing itself again right after a load): the image and the
    // page's values now. nullopt, with the reason in refusal, leaves that receiver unloaded.
    virtual std::optional<LoadJob> SnapshotJob(std::string& refusal) = 0;
};

}  // namespace vantora
