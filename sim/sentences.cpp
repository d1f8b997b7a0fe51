#include "sim/sentences.h"

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

std::string MakeSentence(const std::string& body, bool checksum) {
    std::string s = "$" + body;
    if (checksum) {
        uint8_t cs =
            XorChecksum(reinterpret_cast<const uint8_t*>(body.data()), static_cast<int>(body.size()));
        s += Format("*%02X", cs);
    }
    s += "\r\n";
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

}  // namespace vantora::sim
