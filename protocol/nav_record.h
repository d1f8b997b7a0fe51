// The navigation record that both parsers fill and the live view draws.
#pragma once

#include <cstdint>
#include <type_traits>

namespace vantora {

struct SatelliteEntry {
    int32_t Health;     // 0 = good
    int32_t Elevation;  // degrees
    int32_t Azimuth;    // degrees
    int32_t Cn0;        // dB-Hz
    int32_t Used;       // 0 or 1: used in the solution
    uint16_t Status;    // status word of the binary D2h block
};

struct MeasurementChannel {
    int32_t Prn;
    int32_t Pseudorange;
    int32_t DeltaRange;
    int16_t Doppler;
};

// Fix quality codes as the record holds them (the NMEA digits are mapped to these).
enum FixQualityCode : int32_t { QualityGps = 0, QualityDifferential = 1, QualityNoFix = 5 };
// Fix dimension codes.
enum FixModeCode : int32_t { ModeNoFix = 0, Mode2D = 1, Mode3D = 2, Mode3DPlus = 3 };

struct NavRecord {
    uint8_t Updated;             // set by a parser, cleared by whoever copies the record
    int16_t Speed;               // km/h
    int16_t Course;              // degrees from north
    float Latitude;              // ddmm.mmmm, unsigned
    char LatitudeHemisphere;     // 'N' / 'S'
    float Longitude;             // dddmm.mmmm, unsigned
    char LongitudeHemisphere;    // 'E' / 'W'
    int16_t Altitude;            // metres
    int32_t Year, Month, Day, Hour, Minute, Second;  // UTC
    int32_t FixQuality;
    int32_t FixMode;
    char Status;                 // 'A' when valid
    float Dop1, Dop2, Dop3;      // PDOP, HDOP, VDOP
    SatelliteEntry Satellites[64];  // entry n-1 for satellite n
    int32_t InView[16];          // satellite numbers in report order, 0 = empty slot
    int32_t SatellitesInView;
    int32_t SatellitesUsed;
    uint16_t ClockOffset;        // binary block D3h
    double MeasurementTime;      // binary block D4h ("UTC")
    double Cb, Tb;
    float Fb;
    uint8_t Spare[4];
    MeasurementChannel Channels[12];  // binary block D3h
};

// A whole-record copy is one assignment: keep the record plain data.
static_assert(std::is_trivially_copyable_v<NavRecord>);
static_assert(std::is_standard_layout_v<NavRecord>);

}  // namespace vantora
