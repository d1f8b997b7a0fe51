// What the simulated receiver "sees": a vehicle driving laps around a site, satellites
// rising and setting, and a fix that is acquired, held and lost again in a cycle.
// Everything is a pure function of the seed and the time since start.
#pragma once

#include <cstdint>

namespace vantora::sim {

constexpr int MaxInView = 14;
// Satellites of each other constellation (GLONASS, Galileo, BeiDou) the sky holds; only
// those above the horizon are in view.
constexpr int OtherSystemCount = 3;
constexpr int OtherPerSystem = 9;
constexpr int MaxOthers = OtherSystemCount * OtherPerSystem;
constexpr double Pi = 3.14159265358979323846;
constexpr double EarthRadius = 6371000.0;  // metres, a sphere is close enough here

enum class FixKind { None = 0, Fix2D = 1, Fix3D = 2 };

// Restart modes as command 01h numbers them.
enum StartMode { StartNoChange = 0, StartHot = 1, StartWarm = 2, StartCold = 3, StartTest = 4 };

struct SimSatellite {
    int Prn;
    int Elevation;  // degrees
    int Azimuth;    // degrees 0..359
    int Cn0;        // dB-Hz
    bool Used;
    int System = 0;  // GnssSystem: 0 GPS
};

// Receiver settings that change what the scenario reports.
struct ScenarioSettings {
    int ElevationMask = 5;
    int DopMaskMode = 0;  // 0 none, 1 GDOP, 2 PDOP, 3 HDOP
    int GdopLimit = 25;
    int PdopLimit = 20;
    int HdopLimit = 15;
    bool Differential = false;  // a correction source is enabled
};

struct ScenarioState {
    int64_t UnixMs;       // UTC of this moment
    double LatitudeDeg;   // signed
    double LongitudeDeg;  // signed
    double AltitudeM;     // above mean sea level
    double GeoidSepM;
    double SpeedMps;
    double CourseDeg;   // 0..360 from north
    double TravelledM;  // path length since start
    FixKind Fix;
    bool Differential;             // a fix with corrections
    SimSatellite Sats[MaxInView];  // in view, highest first
    int InView;                    // 8..14
    int Used;                      // satellites used in the solution (at most 12)
    double Pdop, Hdop, Vdop, Gdop;
    // The other constellations, system by system, each highest first. A GPS-only receiver
    // ignores them; they never change the GPS part of the state.
    SimSatellite Others[MaxOthers];
    int OthersInView;
    int OthersUsed;
    int ClockDrift;  // receiver clock drift, Hz (always positive)
};

class Scenario {
public:
    Scenario(uint32_t seed, int64_t startUnixMs);

    // The state at elapsedMs milliseconds after start.
    ScenarioState At(int64_t elapsedMs, const ScenarioSettings& settings) const;

    // The fix cycle starts again at elapsedMs with the acquisition time of the mode.
    void Restart(int64_t elapsedMs, int mode);
    // Aiding from a Restart: moves the site and sets the clock.
    void SetOrigin(double latDeg, double lonDeg);
    void SetUtc(int64_t elapsedMs, int64_t unixMs);

private:
    FixKind FixAt(int64_t elapsedMs) const;
    void OtherSkyAt(double t, int64_t elapsedMs, const ScenarioSettings& settings, ScenarioState& st) const;

    uint32_t seed_;
    int64_t utcAtZero_;  // UTC at elapsed 0
    double originLat_, originLon_, originAlt_, geoidSep_;
    double radius_;  // lap radius, metres
    int64_t cycleStart_ = 0;
    int acquireNoneMs_ = 5000;
    int acquire2DMs_ = 3000;
    int prns_[MaxInView];
    double elevPhase_[MaxInView], elevRate_[MaxInView], azStart_[MaxInView], azRate_[MaxInView];
    int otherNumbers_[MaxOthers];
};

struct UtcTime {
    int Year, Month, Day, Hour, Minute, Second, Millisecond;
    int GpsWeek;    // weeks since 1980-01-06 (leap seconds ignored)
    int64_t TowMs;  // milliseconds into that week
};
UtcTime UtcOf(int64_t unixMs);

// Deterministic noise: a hash of its inputs mapped to [0, 1).
double Noise(uint64_t a, uint64_t b, uint64_t c);

// WGS-84 geodetic (degrees, metres) to earth-centred earth-fixed metres.
void GeodeticToEcef(double latDeg, double lonDeg, double h, double& x, double& y, double& z);

}  // namespace vantora::sim
