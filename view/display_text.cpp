#include "view/display_text.h"

#include "protocol/le_bytes.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace vantora {

const char* const MeasurementHeadings[10] = {"CHANNEL", "PRN", "STATUS", "PR", "DR",
                                             "DOPPLER", "CN0", "ELV",    "AZ", "HEALTH"};

namespace {

// Every text goes through one bounded buffer. The longest text is "%f" of a huge double
// (about 320 characters); anything longer is cut, never overrun.
constexpr size_t TextBufferSize = 512;

[[gnu::format(printf, 1, 2)]] std::string Format(const char* format, ...) {
    char buffer[TextBufferSize];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0) return {};
    return std::string(buffer, std::min(static_cast<size_t>(n), sizeof buffer - 1));
}

// A hemisphere the parsers never filled is NUL: show a blank so the text keeps its length
// and does not end at the embedded zero.
char HemisphereLetter(char c) {
    return c == '\0' ? ' ' : c;
}

using le::F64;
using le::S16;
using le::U16;

const char* OnOff(int8_t flag) {
    return flag != 0 ? "ON" : "OFF";
}

// The plot point of a satellite far outside the sky still lands on an int.
int TruncateToInt(double v) {
    return static_cast<int>(std::clamp(v, static_cast<double>(INT_MIN), static_cast<double>(INT_MAX)));
}

ProgressTexts Progress(uint32_t mask, uint8_t count) {
    const int n = std::popcount(mask);
    return {count, n, Format("%d / %d", n, static_cast<int>(count))};
}

}  // namespace

Rgb SystemColor(int system) {
    static constexpr Rgb colors[GnssSystemCount] = {
        UsedGreen,           // GPS
        {0xD6, 0x28, 0x28},  // GLONASS
        {0x2F, 0x80, 0xE8},  // Galileo
        {0xC8, 0x78, 0x00},  // BeiDou
        {0x9B, 0x40, 0xD0},  // QZSS
        {0x00, 0x9A, 0x9A},  // NavIC
        {0xB0, 0x30, 0x70},  // SBAS
    };
    return system >= 0 && system < GnssSystemCount ? colors[system] : FixGrey;
}

Rgb SatelliteFill(int system, bool used) {
    return used ? SystemColor(system) : UnusedWhite;
}

Rgb PointOutline(int system, bool used) {
    return used || system != SystemGps ? SystemColor(system) : UnusedWhite;
}

Rgb BarOutline(int system) {
    return system == SystemGps ? UnusedWhite : SystemColor(system);
}

namespace {

bool HasSatellites(const GnssSky* sky) {
    return sky != nullptr && sky->Count > 0;
}

Rgb QualityColor(int quality) {
    if (quality == GgaRtk) return FixRed;
    return quality == GgaFloat ? FixOrange : FixGreyBlue;
}

}  // namespace

FixTexts FormatFix(const NavRecord& rec, const GnssSky* sky) {
    FixTexts t;
    t.Time = Format("%d/%d/%d\n%d:%d:%d", rec.Year, rec.Month, rec.Day, rec.Hour, rec.Minute, rec.Second);
    const std::string quality = sky != nullptr ? GgaQualityName(sky->Quality) : "";
    if (!quality.empty()) {
        t.Fix = {{quality, QualityColor(sky->Quality)}};
    } else {
        switch (rec.FixMode) {
            case ModeNoFix:
                t.Fix = {{"No fix", FixGrey}};
                break;
            case Mode2D:
                t.Fix = {{"2D", FixGreen}};
                break;
            case Mode3D:
                t.Fix = {{"3D", FixRed}};
                break;
            case Mode3DPlus:
                t.Fix = {{"3D+", FixRed}};
                break;
            default:
                break;  // an unknown mode leaves the label as it is
        }
    }
    t.Latitude =
        Format("%9.4f %c", static_cast<double>(rec.Latitude), HemisphereLetter(rec.LatitudeHemisphere));
    t.Longitude =
        Format("%9.4f %c", static_cast<double>(rec.Longitude), HemisphereLetter(rec.LongitudeHemisphere));
    t.Altitude = Format("%d", rec.Altitude);
    t.Pdop = Format("%4.1f", static_cast<double>(rec.Dop1));
    t.Hdop = Format("%4.1f", static_cast<double>(rec.Dop2));
    const bool skyCounts = HasSatellites(sky);
    t.InView = Format("%d", skyCounts ? sky->InView : rec.SatellitesInView);
    t.Used = Format("%d", skyCounts ? sky->Used : rec.SatellitesUsed);
    t.Speed = Format("%d", rec.Speed);
    t.Course = Format("N %d", rec.Course);
    return t;
}

std::pair<int, int> SkyPosition(int elevation, int azimuth) {
    // The plot's own constant: horizon points due north, south and west fall just short of 90.
    const double angle = (90.0 - azimuth) * 3.1415926 / 180;
    const double radius = 90.0 - elevation;
    return {TruncateToInt(std::cos(angle) * radius), TruncateToInt(std::sin(angle) * radius)};
}

namespace {

void AddSatellite(SkyView& view, int system, int number, int elevation, int azimuth, int cn0, bool used) {
    const auto [x, y] = SkyPosition(elevation, azimuth);
    const Rgb fill = SatelliteFill(system, used);
    const std::string label =
        system == SystemGps ? Format("%d", number) : Format("%c%d", GnssSystemLetter(system), number);
    const auto s = static_cast<uint8_t>(system);
    view.Points.push_back({x, y, number, used, s, label, fill, PointOutline(system, used)});
    view.Bars.push_back({cn0, number, used, s, label, fill, BarOutline(system)});
}

}  // namespace

SkyView ComputeSkyView(const NavRecord& rec, const GnssSky* sky, int channelCount) {
    SkyView view;
    if (HasSatellites(sky)) {
        const int count = std::min<int>(sky->Count, GnssSky::Capacity);
        unsigned systems = 0;
        for (int k = 0; k < count; ++k) {
            const SkySatellite& s = sky->Satellites[k];
            AddSatellite(view, s.System, s.Number, s.Elevation, s.Azimuth, s.Cn0, s.Used != 0);
            if (s.System < GnssSystemCount) systems |= 1u << s.System;
        }
        if (std::popcount(systems) > 1)
            for (int s = 0; s < GnssSystemCount; ++s)
                if (systems & (1u << s)) view.Legend.push_back({GnssSystemName(s), SystemColor(s)});
        view.Width = std::max(channelCount, static_cast<int>(view.Bars.size()));
        return view;
    }
    const int count = std::clamp(rec.SatellitesInView, 0, static_cast<int32_t>(std::size(rec.InView)));
    for (int k = 0; k < count; ++k) {
        const int n = rec.InView[k];
        if (n < 1 || n > static_cast<int>(std::size(rec.Satellites))) continue;
        const SatelliteEntry& s = rec.Satellites[n - 1];
        AddSatellite(view, SystemGps, n, s.Elevation, s.Azimuth, s.Cn0, s.Used != 0);
    }
    view.Width = channelCount;  // the receiver's channels; satellites beyond them get no bar
    return view;
}

const char* ActivityMark(uint32_t k) {
    return k % 2 == 0 ? "X" : "O";
}

ControlTexts ClockOffsetTexts(uint16_t clockOffset) {
    return {{"lbClockOffSet", clockOffset != 0 ? Format("%d", clockOffset) : std::string()}};
}

ControlTexts RevisionTexts(const RevisionReport& report) {
    if (report.Date == 0) return {{"lbRevision", ""}, {"lbRevDate", ""}, {"lbRevTime", ""}, {"lbCRC", ""}};
    const char* label = report.Label;
    const char* end = std::find(label, label + sizeof report.Label, '\0');
    // The high part is the whole upper half-word: a non-zero top byte shows as more digits.
    const uint32_t d = report.Date, t = report.Time;
    return {{"lbRevision", std::string(label, end)},
            {"lbRevDate", Format("%02x/%02x/%02x", d >> 16, (d >> 8) & 0xFF, d & 0xFF)},
            {"lbRevTime", Format("%02x:%02x:%02x", t >> 16, (t >> 8) & 0xFF, t & 0xFF)},
            {"lbCRC", Format("%04x", report.Crc)}};
}

ControlTexts BuiltInTestTexts(const int32_t results[4]) {
    ControlTexts texts;
    for (int k = 0; k < 4; ++k)
        texts.emplace_back(Format("lbResult%d", k + 1),
                           results[k] == -1 ? std::string() : Format("%d", results[k]));
    return texts;
}

ProgressTexts EphemerisProgress(const ReceiverTables& tables) {
    return Progress(tables.EphemerisMask, tables.EphemerisCount);
}

ProgressTexts AlmanacProgress(const ReceiverTables& tables) {
    return Progress(tables.AlmanacMask, tables.AlmanacCount);
}

std::string ModuleIdText(const ReceiverTables& tables, int rgIdItem) {
    // No item selected (-1) or a stray index: nothing to show rather than a read past the table.
    if (rgIdItem < 0 || rgIdItem >= static_cast<int>(std::size(tables.ModuleIds))) return {};
    return Format("%d", tables.ModuleIds[rgIdItem]);
}

std::vector<std::string> NavigationSettingLines(const uint8_t* payload18) {
    int8_t p[18];
    std::memcpy(p, payload18, sizeof p);
    static const char* const DopMasks[] = {"No Mask", "Gdop", "Pdop", "Hdop"};
    static const char* const Dgps[] = {"Disable", "WAAS", "RTCM"};
    static const int PulseBase[] = {20000, 1000, 20, 1};
    const char* dopMask = p[1] >= 0 && p[1] < 4 ? DopMasks[p[1]] : "Unknown";
    const char* dgps = p[6] >= 0 && p[6] < 3 ? Dgps[p[6]] : "Unknown";
    const int width = p[8] >= 0 && p[8] < 4 ? p[9] * PulseBase[p[8]] : 0;
    return {
        Format("Position Update Rate= %d", p[0]),
        Format("DOP Mask= %s", dopMask),
        Format("GDOP=%d, PDOP=%d, HDOP=%d", p[2], p[3], p[4]),
        Format("Elevation Mask= %d degree", p[5]),
        Format("DGPS= %s", dgps),
        Format("1PPS= %s, Pulse Width= %d us", OnOff(p[7]), width),
    };
}

std::vector<std::string> SystemSettingLines(const uint8_t* payload48) {
    int8_t p[16];
    std::memcpy(p, payload48, sizeof p);
    static const char* const Outputs[] = {"Disable", "NMEA", "Binary (temporary)", "Binary (Permanent)"};
    const char* output = p[10] >= 0 && p[10] < 4 ? Outputs[p[10]] : "Unknown";
    return {
        Format("Baudrate: COM1=%d, COM2=%d", p[0], p[1]),
        Format("NMEA check sum=%s", OnOff(p[2])),
        Format("Period: RMC=%d, VTG=%d, GGA=%d, GSA=%d", p[3], p[4], p[5], p[6]),
        Format("            GSV=%d, GLL=%d, ZDA=%d", p[7], p[8], p[9]),
        Format("Output= %s", output),
        Format("Locale: H=%d,M=%d,S=%d,Adjust=%d", p[11], p[12], p[13], p[14]),
        Format("            Time Localized=%s", OnOff(p[15])),
        Format("Ellipsoid Index= %d", U16(payload48 + 16)),
        Format("            A= %f", F64(payload48 + 18)),
        Format("            1/F= %f", F64(payload48 + 26)),
        Format("Datum Delta X= %d", S16(payload48 + 34)),
        Format("            Delta Y= %d", S16(payload48 + 36)),
        Format("            Delta Z= %d", S16(payload48 + 38)),
    };
}

TraceStatusTexts FormatTraceStatus(const TraceStatus& status) {
    TraceStatusTexts t;
    switch (status.State) {
        case 0:
            t.Status = "stop";
            break;
        case 1:
            t.Status = "Recording...";
            break;
        case 2:
            t.Status = "Reading...";
            break;
        default:
            break;  // an unknown state leaves the caption as it is
    }
    const std::string readPos = Format("%d", status.ReadPosition);
    const std::string used = Format("%d", status.UsedPercent);
    const std::string logged = Format("%d", status.Logged);
    t.Fields = {{"lbTrcReadPos", readPos}, {"lbTrcPct", used},     {"lbTrcLogged", logged},
                {"lbTraceUsed", used},     {"lbTraceNum", logged}, {"lbReadTrcPos", readPos}};
    return t;
}

TraceReadTexts FormatTraceReadProgress(int recordsRead, int logged) {
    // Nothing logged (or a count that wrapped negative): no percentage rather than a division by zero.
    if (logged <= 0) return {recordsRead, std::string()};
    const long long percent = static_cast<long long>(recordsRead) * 100 / logged;
    return {recordsRead, Format("%lld", percent)};
}

MeasurementTexts FormatMeasurementGrid(const NavRecord& rec) {
    MeasurementTexts t;
    t.Fields = {{"lbClkOff", Format("%d", rec.ClockOffset)},
                {"edMeasUTC", Format("%.15g", rec.MeasurementTime)},
                {"edCB", Format("%.15g", rec.Cb)},
                {"edTB", Format("%.15g", rec.Tb)},
                {"edFB", Format("%.15g", static_cast<double>(rec.Fb))}};
    for (int i = 1; i <= static_cast<int>(t.Rows.size()); ++i) {
        const MeasurementChannel& ch = rec.Channels[i - 1];
        const int n = ch.Prn;
        if (i > rec.SatellitesInView) {
            t.Rows[i - 1] = std::array<std::string, 9>{};
        } else if (n >= 1 && n <= 64) {
            const SatelliteEntry& s = rec.Satellites[n - 1];
            t.Rows[i - 1] = std::array<std::string, 9>{
                Format("%d", n),
                Format("%X", s.Status),
                Format("%d", ch.Pseudorange),
                Format("%d", ch.DeltaRange),
                Format("%d", ch.Doppler),
                Format("%d", s.Cn0),
                Format("%d", s.Elevation),
                Format("%d", s.Azimuth),
                s.Health < 1 ? std::string("good") : Format("%d", s.Health),
            };
        }
    }
    return t;
}

std::string LinkStateText(bool present, const std::string& device) {
    if (present) return "Receiver back on " + device;
    return "Receiver gone: " + device + " was unplugged; reconnecting when it is back";
}

}  // namespace vantora
