#include "sim/sentences.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "protocol/frame.h"

namespace vantora::sim {

namespace {

std::string Format(const char* fmt, auto... args) {
    char buf[128];
    int n = std::snprintf(buf, sizeof buf, fmt, args...);
    if (n < 0) return {};
    return std::string(buf, static_cast<size_t>(std::min<int>(n, sizeof buf - 1)));
}

std::string TimeText(const ScenarioState& st) {
    UtcTime u = UtcOf(st.UnixMs);
    return Format("%02d%02d%02d.%03d", u.Hour, u.Minute, u.Second, u.Millisecond);
}

bool HasFix(const ScenarioState& st) {
    return st.Fix != FixKind::None;
}

// Position fields "lat,N,lon,E", empty while there is no fix.
std::string PositionFields(const ScenarioState& st) {
    if (!HasFix(st)) return ",,,";
    return LatitudeText(st.LatitudeDeg) + "," + (st.LatitudeDeg < 0 ? "S" : "N") + "," +
           LongitudeText(st.LongitudeDeg) + "," + (st.LongitudeDeg < 0 ? "W" : "E");
}

double Knots(const ScenarioState& st) {
    return st.SpeedMps * 3600.0 / 1852.0;
}

std::string DegMin(double deg, int degDigits) {
    long long units = std::llround(std::fabs(deg) * 600000.0);  // 1/10000 minute
    long long d = units / 600000, m = units % 600000;
    return Format("%0*lld%02lld.%04lld", degDigits, d, m / 10000, m % 10000);
}

}  // namespace

std::string LatitudeText(double deg) {
    return DegMin(deg, 2);
}
std::string LongitudeText(double deg) {
    return DegMin(deg, 3);
}

std::string MakeSentence(const std::string& body, bool checksum, bool lfOnly) {
    std::string s = "$" + body;
    if (checksum) {
        uint8_t cs =
            XorChecksum(reinterpret_cast<const uint8_t*>(body.data()), static_cast<int>(body.size()));
        s += Format("*%02X", cs);
    }
    s += lfOnly ? "\n" : "\r\n";
    return s;
}

std::string GgaBody(const ScenarioState& st) {
    bool fix = HasFix(st);
    int quality = !fix ? 0 : st.Differential ? 2 : 1;
    std::string s = "GPGGA," + TimeText(st) + "," + PositionFields(st) + "," + std::to_string(quality) + "," +
                    Format("%02d", st.Used) + ",";
    if (fix)
        s += Format("%.1f,%.1f,M,%.1f,M,", st.Hdop, st.AltitudeM, st.GeoidSepM);
    else
        s += ",,M,,M,";
    s += st.Differential ? "1.0,0000" : ",";
    return s;
}

std::string GllBody(const ScenarioState& st) {
    return "GPGLL," + PositionFields(st) + "," + TimeText(st) + "," + (HasFix(st) ? "A" : "V");
}

std::string GsaBody(const ScenarioState& st) {
    int mode = st.Fix == FixKind::Fix3D ? 3 : st.Fix == FixKind::Fix2D ? 2 : 1;
    std::string s = "GPGSA,A," + std::to_string(mode);
    int listed = 0;
    for (int i = 0; i < st.InView && listed < 12; ++i) {
        if (!st.Sats[i].Used) continue;
        s += Format(",%02d", st.Sats[i].Prn);
        ++listed;
    }
    for (; listed < 12; ++listed) s += ",";
    if (HasFix(st))
        s += Format(",%.1f,%.1f,%.1f", st.Pdop, st.Hdop, st.Vdop);
    else
        s += ",,,";
    return s;
}

std::vector<std::string> GsvBodies(const ScenarioState& st) {
    std::vector<std::string> out;
    int total = (st.InView + 3) / 4;
    for (int m = 0; m < total; ++m) {
        std::string s = Format("GPGSV,%d,%d,%02d", total, m + 1, st.InView);
        for (int i = m * 4; i < st.InView && i < m * 4 + 4; ++i) {
            const SimSatellite& sat = st.Sats[i];
            s += Format(",%02d,%02d,%03d,%02d", sat.Prn, sat.Elevation, sat.Azimuth, sat.Cn0);
        }
        out.push_back(s);
    }
    return out;
}

std::string RmcBody(const ScenarioState& st) {
    UtcTime u = UtcOf(st.UnixMs);
    bool fix = HasFix(st);
    std::string s = "GPRMC," + TimeText(st) + "," + (fix ? "A" : "V") + "," + PositionFields(st) + ",";
    s += fix ? Format("%.2f,%.2f,", Knots(st), st.CourseDeg) : std::string(",,");
    s += Format("%02d%02d%02d,,,", u.Day, u.Month, u.Year % 100);
    s += !fix ? "N" : st.Differential ? "D" : "A";
    return s;
}

std::string VtgBody(const ScenarioState& st) {
    if (!HasFix(st)) return "GPVTG,,T,,M,,N,,K";
    return Format("GPVTG,%.2f,T,,M,%.2f,N,%.2f,K", st.CourseDeg, Knots(st), st.SpeedMps * 3.6);
}

std::string ZdaBody(const ScenarioState& st, const SentenceLocale& locale) {
    UtcTime u = UtcOf(st.UnixMs);
    // The six standard fields, then this receiver's two: zone seconds and daylight-saving hours.
    return "GPZDA," + TimeText(st) +
           Format(",%02d,%02d,%04d,%s%02d,%02d,%02d,%d", u.Day, u.Month, u.Year,
                  locale.ZoneHours < 0 ? "-" : "", std::abs(locale.ZoneHours), std::abs(locale.ZoneMinutes),
                  std::abs(locale.ZoneSeconds), locale.DstAdjust);
}

namespace {

constexpr int SystemCount = 1 + OtherSystemCount;
constexpr const char* GsvTalker[SystemCount] = {"GP", "GL", "GA", "GB"};
// Signal IDs of the signal each system is tracked on: L1 C/A, L1 OF, E1, B1I.
constexpr int SignalId[SystemCount] = {1, 1, 7, 1};

// The satellites in view of one system (0 GPS, then the others in order).
std::vector<SimSatellite> InViewOf(const ScenarioState& st, int system) {
    if (system == 0) return {st.Sats, st.Sats + st.InView};
    std::vector<SimSatellite> out;
    for (int i = 0; i < st.OthersInView; ++i)
        if (st.Others[i].System == system) out.push_back(st.Others[i]);
    return out;
}

std::string AsTalker(std::string body, const char* talker) {
    body.replace(0, 2, talker);
    return body;
}

// The systems a receiver reports: NMEA 4.0 has numbers for GPS and GLONASS only.
int SystemsOf(bool nmea40) {
    return nmea40 ? 2 : SystemCount;
}

const char* ModeIndicator(const ScenarioState& st) {
    return !HasFix(st) ? "N" : st.Differential ? "D" : "A";
}

}  // namespace

std::string GnssGgaBody(const ScenarioState& st, bool nmea40) {
    ScenarioState all = st;
    if (!nmea40)
        all.Used += st.OthersUsed;
    else
        for (const SimSatellite& sat : InViewOf(st, 1)) all.Used += sat.Used ? 1 : 0;  // GLONASS
    return AsTalker(GgaBody(all), "GN");
}

std::string GnssGllBody(const ScenarioState& st) {
    return AsTalker(GllBody(st), "GN") + "," + ModeIndicator(st);
}

std::vector<std::string> GnssGsaBodies(const ScenarioState& st, bool nmea40) {
    const int mode = st.Fix == FixKind::Fix3D ? 3 : st.Fix == FixKind::Fix2D ? 2 : 1;
    std::vector<std::string> out;
    for (int system = 0; system < SystemsOf(nmea40); ++system) {
        std::string s = "GNGSA,A," + std::to_string(mode);
        int listed = 0;
        for (const SimSatellite& sat : InViewOf(st, system)) {
            if (!sat.Used || listed == 12) continue;
            s += Format(",%02d", sat.Prn);
            ++listed;
        }
        for (; listed < 12; ++listed) s += ",";
        s += HasFix(st) ? Format(",%.1f,%.1f,%.1f", st.Pdop, st.Hdop, st.Vdop) : std::string(",,,");
        if (!nmea40) s += Format(",%d", system + 1);  // system IDs 1..4 follow the same order
        out.push_back(s);
    }
    return out;
}

std::vector<std::string> GnssGsvBodies(const ScenarioState& st, bool nmea40) {
    std::vector<std::string> out;
    for (int system = 0; system < SystemsOf(nmea40); ++system) {
        const std::vector<SimSatellite> sats = InViewOf(st, system);
        const int count = static_cast<int>(sats.size());
        const int total = std::max(1, (count + 3) / 4);
        for (int m = 0; m < total; ++m) {
            std::string s = Format("%sGSV,%d,%d,%02d", GsvTalker[system], total, m + 1, count);
            for (int i = m * 4; i < count && i < m * 4 + 4; ++i)
                s += Format(",%02d,%02d,%03d,%02d", sats[i].Prn, sats[i].Elevation, sats[i].Azimuth, sats[i].Cn0);
            out.push_back(nmea40 ? s : s + Format(",%d", SignalId[system]));
        }
    }
    return out;
}

std::string GnssRmcBody(const ScenarioState& st, bool nmea40) {
    return AsTalker(RmcBody(st), "GN") + (nmea40 ? "" : ",V");  // navigation status: no integrity check
}

std::string GnssVtgBody(const ScenarioState& st) {
    return AsTalker(VtgBody(st), "GN") + "," + ModeIndicator(st);
}

std::string GnssZdaBody(const ScenarioState& st, const SentenceLocale& locale) {
    UtcTime u = UtcOf(st.UnixMs);
    return "GNZDA," + TimeText(st) +
           Format(",%02d,%02d,%04d,%s%02d,%02d", u.Day, u.Month, u.Year, locale.ZoneHours < 0 ? "-" : "",
                  std::abs(locale.ZoneHours), std::abs(locale.ZoneMinutes));
}

}  // namespace vantora::sim
