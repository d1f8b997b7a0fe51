// NMEA 0183 sentences of the simulated receiver (talker GP) and its loader's notices.
#pragma once

#include <string>
#include <vector>

#include "sim/scenario.h"

namespace vantora::sim {

// "$" body ["*" hh] CR LF; the checksum is the XOR of the body, as NMEA 0183 defines it.
std::string MakeSentence(const std::string& body, bool checksum);

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

// ddmm.mmmm / dddmm.mmmm of the absolute value, with 'N'/'S' or 'E'/'W'.
std::string LatitudeText(double deg);
std::string LongitudeText(double deg);

}  // namespace vantora::sim
