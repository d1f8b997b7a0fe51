// What the live view and the reply panels show, computed from the records as plain texts,
// colours and plot points. The window's widgets only copy these to the screen; the decode
// tool prints them; tests check them without a window.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "protocol/binary.h"
#include "protocol/gnss_sky.h"
#include "protocol/nav_record.h"

namespace vantora {

struct Rgb {
    uint8_t R, G, B;
    bool operator==(const Rgb&) const = default;
};

constexpr Rgb FixGrey{0x80, 0x80, 0x80};
constexpr Rgb FixGreen{0x00, 0x80, 0x00};
constexpr Rgb FixRed{0xFF, 0x00, 0x00};
constexpr Rgb UsedGreen{0x00, 0x80, 0x00};
constexpr Rgb UnusedWhite{0xFF, 0xFF, 0xFF};
constexpr Rgb CircleYellow{0xFF, 0xFF, 0x80};  // colour value 8454143
// GGA's states beyond the fix modes: RTK is as good as 3D; a float solution is on its way
// there; dead reckoning and simulation are no satellite fix at all.
constexpr Rgb FixOrange{0xFF, 0x8C, 0x00};
constexpr Rgb FixGreyBlue{0x60, 0x78, 0x98};

// Each constellation's colour in the sky plot, the bars and the legend. GPS keeps the
// plot's green; the others are mid-tones that read on the plot's slate and on the page.
Rgb SystemColor(int system);

// The text fields of the View page for one snapshot.
struct FixTexts {
    std::string Time;      // lbTime: "%d/%d/%d\n%d:%d:%d"
    std::optional<std::pair<std::string, Rgb>> Fix;  // lbFix text and colour; nullopt: leave as it is
    std::string Latitude;  // lbLat: "%9.4f %c"
    std::string Longitude; // lbLong
    std::string Altitude;  // lbHigh
    std::string Pdop;      // lpdop: "%4.1f"
    std::string Hdop;      // lhdop
    std::string InView;    // lvisible
    std::string Used;      // lbFixNo
    std::string Speed;     // leSpeed
    std::string Course;    // leDir: "N %d"
};
// sky: the NMEA side's sky beside the record, null for a binary snapshot. GGA's own states
// (RTK, Float, DR, Sim) name the fix; a sky that holds satellites gives the counts.
FixTexts FormatFix(const NavRecord& rec, const GnssSky* sky);

// Markers: a used satellite is a circle filled in its system's colour; an unused one is a
// white triangle outlined in its system's colour. Bars: filled likewise, outlined in the
// system's colour. GPS keeps the plot's look: white triangles and white bar outlines.
// Labels are the number, after the system's letter but for GPS.
Rgb SatelliteFill(int system, bool used);
Rgb PointOutline(int system, bool used);
Rgb BarOutline(int system);
struct SkyPoint {
    int X, Y;        // sky-plot coordinates: north up, east right, zenith at the centre
    int Number;      // satellite number as its system numbers it
    bool Used;       // a circle in the system's used series, else a triangle in its unused one
    uint8_t System;  // GnssSystem
    std::string Label;
    Rgb Fill, Outline;
};
struct Cn0Bar {
    int Value;  // C/N0
    int Number;
    bool Used;
    uint8_t System;
    std::string Label;
    Rgb Fill, Outline;
};
struct LegendEntry {
    std::string Name;  // GnssSystemName
    Rgb Color;
    bool operator==(const LegendEntry&) const = default;
};
struct SkyView {
    std::vector<SkyPoint> Points;
    std::vector<Cn0Bar> Bars;         // in report order
    int Width = 0;                    // bars across the C/N0 chart
    std::vector<LegendEntry> Legend;  // empty unless the sky holds more than one system
};
// (elevation, azimuth) to the plot point, with the plot's own truncation.
std::pair<int, int> SkyPosition(int elevation, int azimuth);
// A sky with satellites draws every constellation in report order, with a bar for each;
// otherwise the record's in-view list, at most channelCount bars wide.
SkyView ComputeSkyView(const NavRecord& rec, const GnssSky* sky, int channelCount);

// The status bar's word on the link: the receiver's device went away, or came back.
std::string LinkStateText(bool present, const std::string& device);

// The activity mark of the k-th memo line: "X" for even k, "O" for odd.
const char* ActivityMark(uint32_t k);

// A control's name and the text it gets, in the order the display writes them.
using ControlTexts = std::vector<std::pair<std::string, std::string>>;

ControlTexts ClockOffsetTexts(uint16_t clockOffset);            // lbClockOffSet
ControlTexts RevisionTexts(const RevisionReport& report);       // lbRevision, lbRevDate, lbRevTime, lbCRC
ControlTexts BuiltInTestTexts(const int32_t results[4]);        // lbResult1..4

struct ProgressTexts {
    int Maximum;
    int Position;
    std::string Label;  // "%d / %d"
};
ProgressTexts EphemerisProgress(const ReceiverTables& tables);  // pbReadEphs, lbReadEphs
ProgressTexts AlmanacProgress(const ReceiverTables& tables);    // pbReadAlmc, lbReadAlmc
std::string ModuleIdText(const ReceiverTables& tables, int rgIdItem);  // edModuleID

std::vector<std::string> NavigationSettingLines(const uint8_t* payload18);  // moShowText
std::vector<std::string> SystemSettingLines(const uint8_t* payload48);      // moShowText

struct TraceStatusTexts {
    std::optional<std::string> Status;  // lbTrcStatus and lbTraceStatus caption; nullopt: leave
    ControlTexts Fields;  // lbTrcReadPos, lbTrcPct, lbTrcLogged, lbTraceUsed, lbTraceNum, lbReadTrcPos
};
TraceStatusTexts FormatTraceStatus(const TraceStatus& status);

struct TraceReadTexts {
    int Position;           // pbReadProgress
    std::string Progress;   // lbProgress: percentage, or "" when nothing is logged
};
TraceReadTexts FormatTraceReadProgress(int recordsRead, int logged);

// The measurement grid: lbClkOff, edMeasUTC, edCB, edTB, edFB and rows 1..12 of sgMeas.
struct MeasurementTexts {
    ControlTexts Fields;
    // Row i (0-based for sgMeas row i+1): columns 1..9; nullopt keeps what the row shows.
    std::array<std::optional<std::array<std::string, 9>>, 12> Rows;
};
MeasurementTexts FormatMeasurementGrid(const NavRecord& rec);
extern const char* const MeasurementHeadings[10];  // "CHANNEL", "PRN", ...

}  // namespace vantora
