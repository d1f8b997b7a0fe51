#include "sim/scenario.h"

#include <algorithm>
#include <cmath>

namespace vantora::sim {

namespace {

uint64_t Mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

struct Site {
    double Lat, Lon, Alt, Geoid;
};
// Sites in all four quarters of the globe, so both hemisphere letters get exercised.
constexpr Site Sites[] = {
    {49.282700, -123.120700, 70.0, -16.8},
    {48.117300, 11.516667, 545.4, 46.9},
    {25.033000, 121.565400, 12.0, 17.2},
    {-23.550500, -46.633300, 760.0, -5.3},
};

// One lap cycle: stand 20 s, accelerate 10 s, cruise 140 s, brake 10 s.
constexpr double CycleS = 180.0;

void Travel(double t, double vmax, double& s, double& v) {
    double perCycle = vmax * 150.0;
    double n = std::floor(t / CycleS);
    double tc = t - n * CycleS;
    s = n * perCycle;
    if (tc < 20.0) {
        v = 0;
    } else if (tc < 30.0) {
        double u = tc - 20.0;
        s += vmax * u * u / 20.0;
        v = vmax * u / 10.0;
    } else if (tc < 170.0) {
        s += vmax * 5.0 + vmax * (tc - 30.0);
        v = vmax;
    } else {
        double u = tc - 170.0;
        s += vmax * 145.0 + vmax * (u - u * u / 20.0);
        v = vmax * (1.0 - u / 10.0);
    }
}

}  // namespace

double Noise(uint64_t a, uint64_t b, uint64_t c) {
    uint64_t h = Mix(Mix(Mix(a) ^ b) ^ c);
    return static_cast<double>(h >> 11) / 9007199254740992.0;
}

void GeodeticToEcef(double latDeg, double lonDeg, double h, double& x, double& y, double& z) {
    const double a = 6378137.0;
    const double e2 = 0.006694379990141317;
    double lat = latDeg * Pi / 180.0, lon = lonDeg * Pi / 180.0;
    double n = a / std::sqrt(1.0 - e2 * std::sin(lat) * std::sin(lat));
    x = (n + h) * std::cos(lat) * std::cos(lon);
    y = (n + h) * std::cos(lat) * std::sin(lon);
    z = (n * (1.0 - e2) + h) * std::sin(lat);
}

Scenario::Scenario(uint32_t seed, int64_t startUnixMs) : seed_(seed), utcAtZero_(startUnixMs) {
    const Site& site = Sites[seed % (sizeof(Sites) / sizeof(Sites[0]))];
    originLat_ = site.Lat;
    originLon_ = site.Lon;
    originAlt_ = site.Alt;
    geoidSep_ = site.Geoid;
    radius_ = 200.0 + 400.0 * Noise(seed, 1, 0);
    // 14 distinct satellite numbers out of 1..32.
    int pool[32];
    for (int i = 0; i < 32; ++i) pool[i] = i + 1;
    for (int i = 31; i > 0; --i) {
        int j = static_cast<int>(Noise(seed, 2, i) * (i + 1));
        std::swap(pool[i], pool[j]);
    }
    for (int i = 0; i < MaxInView; ++i) {
        prns_[i] = pool[i];
        elevPhase_[i] = 2 * Pi * Noise(seed, 3, i);
        elevRate_[i] = 2 * Pi / (1200.0 + 2400.0 * Noise(seed, 4, i));
        azStart_[i] = 360.0 * Noise(seed, 5, i);
        azRate_[i] = (Noise(seed, 6, i) - 0.5) * 0.08;
    }
    // The other systems number their satellites in NMEA's way: GLONASS 65..88, Galileo 1..36,
    // BeiDou 1..37; nine distinct ones each.
    static constexpr int FirstNumber[OtherSystemCount] = {65, 1, 1};
    static constexpr int PoolSize[OtherSystemCount] = {24, 36, 37};
    for (int sys = 0; sys < OtherSystemCount; ++sys) {
        int numbers[37];
        for (int i = 0; i < PoolSize[sys]; ++i) numbers[i] = FirstNumber[sys] + i;
        for (int i = PoolSize[sys] - 1; i > 0; --i)
            std::swap(numbers[i], numbers[static_cast<int>(Noise(seed, 20 + sys, i) * (i + 1))]);
        std::sort(numbers, numbers + OtherPerSystem);
        for (int i = 0; i < OtherPerSystem; ++i) otherNumbers_[sys * OtherPerSystem + i] = numbers[i];
    }
    Restart(0, StartWarm);
}

void Scenario::Restart(int64_t elapsedMs, int mode) {
    cycleStart_ = elapsedMs;
    switch (mode) {
        case StartHot:
            acquireNoneMs_ = 1000;
            acquire2DMs_ = 1000;
            break;
        case StartCold:
        case StartTest:
            acquireNoneMs_ = 12000;
            acquire2DMs_ = 6000;
            break;
        default:
            acquireNoneMs_ = 5000;
            acquire2DMs_ = 3000;
            break;
    }
}

void Scenario::SetOrigin(double latDeg, double lonDeg) {
    originLat_ = std::clamp(latDeg, -89.0, 89.0);
    originLon_ = std::remainder(lonDeg, 360.0);
}

void Scenario::SetUtc(int64_t elapsedMs, int64_t unixMs) {
    utcAtZero_ = unixMs - elapsedMs;
}

FixKind Scenario::FixAt(int64_t elapsedMs) const {
    int64_t t = std::max<int64_t>(0, elapsedMs - cycleStart_);
    if (t < acquireNoneMs_) return FixKind::None;
    if (t < acquireNoneMs_ + acquire2DMs_) return FixKind::Fix2D;
    // Held for 150 s, then an outage: 2D for 6 s, nothing for 4 s, and a new acquisition.
    int64_t period = 150000 + 6000 + 4000 + acquire2DMs_;
    int64_t u = (t - acquireNoneMs_ - acquire2DMs_) % period;
    if (u < 150000) return FixKind::Fix3D;
    if (u < 156000) return FixKind::Fix2D;
    if (u < 160000) return FixKind::None;
    return FixKind::Fix2D;
}

void Scenario::OtherSkyAt(double t, int64_t elapsedMs, const ScenarioSettings& settings,
                          ScenarioState& st) const {
    // Slower passes than GPS's, some below the horizon, so satellites rise and set in view.
    st.OthersInView = 0;
    st.OthersUsed = 0;
    for (int sys = 0; sys < OtherSystemCount; ++sys) {
        SimSatellite* first = st.Others + st.OthersInView;
        for (int i = 0; i < OtherPerSystem; ++i) {
            const int k = sys * OtherPerSystem + i;
            const double phase = 2 * Pi * Noise(seed_, 30, k);
            const double rate = 2 * Pi / (1800.0 + 3600.0 * Noise(seed_, 31, k));
            const double peak = 35.0 + 52.0 * Noise(seed_, 35, k);  // each pass culminates at its own height
            const int e = static_cast<int>(std::lround(-15.0 + (peak + 15.0) * (0.5 + 0.5 * std::sin(phase + rate * t))));
            if (e < 1) continue;
            double az = std::fmod(360.0 * Noise(seed_, 32, k) + (Noise(seed_, 33, k) - 0.5) * 0.06 * t, 360.0);
            if (az < 0) az += 360.0;
            const double jitter = 6.0 * (Noise(seed_ + 1000 + k, 34, elapsedMs / 4000) - 0.5);
            const int cn0 = std::clamp(static_cast<int>(std::lround(24.0 + 0.22 * e + jitter)), 16, 49);
            const bool used = st.Fix == FixKind::Fix3D && e >= settings.ElevationMask && cn0 >= 28;
            st.Others[st.OthersInView++] = SimSatellite{otherNumbers_[k], e, static_cast<int>(az) % 360, cn0, used, sys + 1};
            st.OthersUsed += used ? 1 : 0;
        }
        std::sort(first, st.Others + st.OthersInView, [](const SimSatellite& a, const SimSatellite& b) {
            return a.Elevation != b.Elevation ? a.Elevation > b.Elevation : a.Prn < b.Prn;
        });
    }
}

ScenarioState Scenario::At(int64_t elapsedMs, const ScenarioSettings& settings) const {
    ScenarioState st{};
    double t = elapsedMs / 1000.0;
    st.UnixMs = utcAtZero_ + elapsedMs;

    // Position: laps on a circle north of the site.
    double vmax = 10.0 + 6.0 * Noise(seed_, 7, 0);
    double s, v;
    Travel(t, vmax, s, v);
    double theta = s / radius_;
    double east = radius_ * std::sin(theta);
    double north = radius_ * (1.0 - std::cos(theta));
    st.LatitudeDeg = originLat_ + north / EarthRadius * 180.0 / Pi;
    st.LongitudeDeg = originLon_ + east / (EarthRadius * std::cos(originLat_ * Pi / 180.0)) * 180.0 / Pi;
    st.AltitudeM = originAlt_ + 8.0 * std::sin(theta);
    st.GeoidSepM = geoidSep_;
    st.SpeedMps = v;
    st.CourseDeg = std::fmod(90.0 - theta * 180.0 / Pi, 360.0);
    if (st.CourseDeg < 0) st.CourseDeg += 360.0;
    st.TravelledM = s;

    // Satellites: the highest n of the 14, n between 8 and 14.
    SimSatellite all[MaxInView];
    for (int i = 0; i < MaxInView; ++i) {
        double el = 5.0 + 80.0 * (0.5 + 0.5 * std::sin(elevPhase_[i] + elevRate_[i] * t));
        double az = std::fmod(azStart_[i] + azRate_[i] * t, 360.0);
        if (az < 0) az += 360.0;
        int e = static_cast<int>(std::lround(el));
        double jitter = 6.0 * (Noise(seed_, prns_[i], elapsedMs / 4000) - 0.5);
        int cn0 = static_cast<int>(std::lround(26.0 + 0.22 * e + jitter));
        all[i] = SimSatellite{prns_[i], e, static_cast<int>(az) % 360, std::clamp(cn0, 18, 50), false};
    }
    std::sort(all, all + MaxInView, [](const SimSatellite& a, const SimSatellite& b) {
        return a.Elevation != b.Elevation ? a.Elevation > b.Elevation : a.Prn < b.Prn;
    });
    double phase = 2 * Pi * Noise(seed_, 8, 0);
    st.InView = 8 + static_cast<int>(3.5 + 3.49 * std::sin(2 * Pi * t / 900.0 + phase));
    for (int i = 0; i < st.InView; ++i) st.Sats[i] = all[i];

    // Which satellites the solution uses, and whether that is enough for the fix wanted.
    FixKind fix = FixAt(elapsedMs);
    int eligible = 0;
    for (int i = 0; i < st.InView; ++i)
        if (st.Sats[i].Elevation >= settings.ElevationMask) ++eligible;
    int want = 0;
    if (fix == FixKind::Fix2D) want = 3;
    if (fix == FixKind::Fix3D) {
        want = 0;
        for (int i = 0; i < st.InView; ++i)
            if (st.Sats[i].Elevation >= settings.ElevationMask && st.Sats[i].Cn0 >= 28) ++want;
        want = std::clamp(want, 4, 12);
    }
    want = std::min(want, eligible);
    if (fix == FixKind::Fix3D && want < 4) fix = want == 3 ? FixKind::Fix2D : FixKind::None;
    if (fix == FixKind::Fix2D && want < 3) fix = FixKind::None;
    if (fix == FixKind::None) want = 0;
    for (int i = 0, n = 0; i < st.InView && n < want; ++i) {
        if (st.Sats[i].Elevation < settings.ElevationMask) continue;
        st.Sats[i].Used = true;
        ++n;
    }
    st.Used = want;

    double u = std::max(want, 3);
    st.Hdop = 0.55 + 3.6 / u + 0.1 * Noise(seed_, 9, elapsedMs / 1000);
    st.Vdop = st.Hdop * 1.45;
    st.Pdop = std::sqrt(st.Hdop * st.Hdop + st.Vdop * st.Vdop);
    st.Gdop = st.Pdop * 1.18;
    double dop = 0, limit = 0;
    switch (settings.DopMaskMode) {
        case 1:
            dop = st.Gdop, limit = settings.GdopLimit;
            break;
        case 2:
            dop = st.Pdop, limit = settings.PdopLimit;
            break;
        case 3:
            dop = st.Hdop, limit = settings.HdopLimit;
            break;
        default:
            break;
    }
    if (settings.DopMaskMode >= 1 && settings.DopMaskMode <= 3 && dop > limit) {
        fix = FixKind::None;
        for (int i = 0; i < st.InView; ++i) st.Sats[i].Used = false;
        st.Used = 0;
    }
    st.Fix = fix;
    st.Differential = settings.Differential && fix == FixKind::Fix3D;
    OtherSkyAt(t, elapsedMs, settings, st);
    st.ClockDrift = 1200 + static_cast<int>(40.0 * std::sin(t / 300.0));
    return st;
}

}  // namespace vantora::sim

namespace vantora::sim {

UtcTime UtcOf(int64_t unixMs) {
    UtcTime u{};
    int64_t days = unixMs >= 0 ? unixMs / 86400000 : (unixMs - 86399999) / 86400000;
    int64_t msOfDay = unixMs - days * 86400000;
    u.Hour = static_cast<int>(msOfDay / 3600000);
    u.Minute = static_cast<int>(msOfDay / 60000 % 60);
    u.Second = static_cast<int>(msOfDay / 1000 % 60);
    u.Millisecond = static_cast<int>(msOfDay % 1000);
    // Civil date from days since 1970-01-01 (proleptic Gregorian).
    int64_t z = days + 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    u.Day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    u.Month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    u.Year = static_cast<int>(yoe + era * 400 + (u.Month <= 2 ? 1 : 0));
    int64_t gpsMs = unixMs - 315964800000ll;
    if (gpsMs < 0) gpsMs = 0;
    u.GpsWeek = static_cast<int>(gpsMs / 604800000ll);
    u.TowMs = gpsMs % 604800000ll;
    return u;
}

}  // namespace vantora::sim
