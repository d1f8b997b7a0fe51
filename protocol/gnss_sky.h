// The sky of every constellation, as multi-constellation NMEA receivers report it. It sits
// beside the navigation record, whose 64-entry satellite table the binary blocks fill and
// whose layout stays as it is. Fixed size: parsing never allocates.
#pragma once

#include <cstdint>
#include <type_traits>

namespace vantora {

enum GnssSystem : uint8_t {
    SystemGps = 0,
    SystemGlonass,
    SystemGalileo,
    SystemBeidou,
    SystemQzss,
    SystemNavic,
    SystemSbas,
    GnssSystemCount
};

// "GPS", "GLONASS", "Galileo", "BeiDou", "QZSS", "NavIC", "SBAS"; "" outside the range.
const char* GnssSystemName(int system);
// The usual one-letter prefix: G, R, E, C, J, I, S; '?' outside the range.
char GnssSystemLetter(int system);

// GGA's quality digit as sent, kept so that the states the record's fix codes cannot
// express (RTK fixed and float, dead reckoning, simulation) can be shown.
enum GgaQuality : int8_t {
    GgaNone = -1,  // no GGA yet
    GgaInvalid = 0,
    GgaGps = 1,
    GgaDifferential = 2,
    GgaPps = 3,
    GgaRtk = 4,
    GgaFloat = 5,
    GgaDeadReckoning = 6,
    GgaManual = 7,
    GgaSimulation = 8,
};

// The view's and the decode tool's word for the states of their own: "RTK" (4), "Float" (5),
// "DR" (6), "Sim" (8); "" for every other quality.
const char* GgaQualityName(int quality);

struct SkySatellite {
    uint8_t System;     // GnssSystem
    uint8_t Signal;     // NMEA 4.10 signal ID of the strongest signal this cycle (its Cn0); 0 when none
    uint8_t Used;       // 1 when a GSA lists it
    uint8_t Age;        // report cycles begun since it was last reported (parser bookkeeping)
    int16_t Number;     // satellite number as its talker numbers it
    int16_t Elevation;  // degrees
    int16_t Azimuth;    // degrees
    int16_t Cn0;        // dB-Hz, 0 when not tracked
};

struct GnssSky {
    static constexpr int Capacity = 96;
    int8_t Quality;     // GgaQuality
    uint8_t Systems;    // bit s set when a satellite of system s is in the list
    int16_t Count;      // entries in use: this cycle's in report order, then the last's not yet reported
    int16_t InView;     // satellites in view, all constellations (the record's SatellitesInView)
    int16_t Used;       // satellites in use, all constellations (the record's SatellitesUsed)
    SkySatellite Satellites[Capacity];
};

static_assert(std::is_trivially_copyable_v<GnssSky>);

}  // namespace vantora
