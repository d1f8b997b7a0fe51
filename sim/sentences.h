// NMEA 0183 sentences of the simulated receiver and its loader's notices: its own GPS-only
// form (talker GP), or a multi-constellation NMEA 4.11 receiver's.
#pragma once

#include <string>
#include <vector>

#include "sim/scenario.h"

namespace vantora::sim {

// "$" body ["*" hh] CR LF (LF alone when lfOnly); the checksum is the XOR of the body, as
// NMEA 0183 defines it.
std::string MakeSentence(const std::string& body, bool checksum, bool lfOnly = false);

struct SentenceLocale {
    int ZoneHours = 0;    // signed
    int ZoneMinutes = 0;  // signed
    int ZoneSeconds = 0;
    int DstAdjust = 0;
};

// Each returns the body only (no "$", checksum or line end).
std::string GgaBody(const ScenarioState& st);
std::string GllBody(const ScenarioState& st);
std::string GsaBody(const ScenarioState& st);
std::vector<std::string> GsvBodies(const ScenarioState& st);  // one per group of up to 4
std::string RmcBody(const ScenarioState& st);
std::string VtgBody(const ScenarioState& st);
std::string ZdaBody(const ScenarioState& st, const SentenceLocale& locale);

// A multi-constellation NMEA 4.11 receiver: talker GN for the combined solution (GGA with the
// satellites used of every system, GLL and VTG with a mode indicator, RMC with the navigation
// status, ZDA with the six standard fields), one GSA per system with its system ID, and the
// satellites in view under each system's talker (GP, GL, GA, GB) with the signal ID.
// nmea40: an NMEA 4.0 receiver of GPS and GLONASS instead, whose GN GSAs carry no system ID
// (GLONASS told by its numbers 65..96), whose GSVs carry no signal ID and whose RMC has no
// navigation status.
std::string GnssGgaBody(const ScenarioState& st, bool nmea40 = false);
std::string GnssGllBody(const ScenarioState& st);
std::vector<std::string> GnssGsaBodies(const ScenarioState& st, bool nmea40 = false);  // GPS, GLONASS, Galileo, BeiDou
std::vector<std::string> GnssGsvBodies(const ScenarioState& st, bool nmea40 = false);
std::string GnssRmcBody(const ScenarioState& st, bool nmea40 = false);
std::string GnssVtgBody(const ScenarioState& st);
std::string GnssZdaBody(const ScenarioState& st, const SentenceLocale& locale);

// ddmm.mmmm / dddmm.mmmm of the absolute value, with 'N'/'S' or 'E'/'W'.
std::string LatitudeText(double deg);
std::string LongitudeText(double deg);

}  // namespace vantora::sim
