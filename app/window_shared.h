// What the window's pages share: the settings in force, the port, the worker threads, the
// boxes, the clock and the window's time constants. The window owns it; each page holds a
// reference and reaches nothing else of the window.
#pragma once

#include <array>
#include <string>

#include "app/settings.h"
#include "protocol/platform.h"
#include "serial/current_port.h"

class QFileDialog;
class QLabel;

namespace vantora {

class TLoadTask;
class TPageControl;
class TViewTask;

// The window's waits, injectable so that tests need not wait real seconds for them.
struct WindowTimings {
    int ScanSecondsPerRate = 3;       // per working rate: 2 to 3 s on the whole-second clock
    int ScanTickMs = 50;
    int RepeatTickMs = 1000;          // the repeated restart counts its interval in these ticks
    int RepeatRestartWaitMs = 7000;   // the receiver's restart time before its output is trusted
    int TraceReadTimeoutSeconds = 5;  // no record for this long ends a trace read
    int TraceReadWatchMs = 250;
};

// Who writes the raw log file of the receive thread: the one channel serves the NMEA log or a
// trace read, never both.
enum class LogUse { None, Nmea, TraceRead };

// The page numbers of the page control, in tab order.
enum Page { tsSetup = 0, tsView = 1, tsReload = 2, tsConfig = 3, tsTrace = 4 };

struct WindowShared {
    WindowShared(MessageBoxSink& boxes, const Clock& clock, const WindowTimings& timings)
        : Boxes(boxes), Time(clock), Timings(timings) {}

    MessageBoxSink& Boxes;
    const Clock& Time;
    const WindowTimings Timings;
    Settings State;
    CurrentPort Port;
    // Set once the window has created them; they live as long as the window.
    TViewTask* ViewTask = nullptr;
    TLoadTask* LoadTask = nullptr;
    TPageControl* Pages = nullptr;
    std::array<QLabel*, 3> Status{};  // the status bar's panels
    QFileDialog* OpenDialog = nullptr;  // shared by the firmware image's and the log's choice
    LogUse Log = LogUse::None;
    // The loader's revision check: set only by the Setup page's revision controls.
    bool LoaderRevisionCheck = false;
    bool ShutDown = false;
    // Where tracelog.tmp, tracedata.log, ephs.dat and almc.dat go.
    std::string DataFolder;

    // A data file's full path: every message about it names the file the user can find.
    std::string DataFile(const char* name) const;

    int CurrentPage() const;
};

}  // namespace vantora
