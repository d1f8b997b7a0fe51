// JSON forms of what the decoder sees, shared by vantora-decode and its tests.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "protocol/gnss_sky.h"
#include "protocol/nav_record.h"
#include "protocol/nmea.h"
#include "protocol/splitter.h"

namespace vantora {

// Every field of the record, snake_case; satellites as the list of non-zero entries.
nlohmann::ordered_json NavRecordJson(const NavRecord& rec);

// The NMEA side's fix in words: "No fix" when fix_mode is 0, else GGA's own name for the
// quality when it has one ("RTK", "Float", "DR", "Sim"), else "2D", "3D" or "3D+".
std::string FixStateName(const NavRecord& rec, const GnssSky& sky);
// Every constellation's satellites in report order.
nlohmann::ordered_json SkyJson(const GnssSky& sky);

// Items rejected, garbage and bad frames of the splitter, and the per-kind counters of the parser.
nlohmann::ordered_json StatsJson(const TNmea& nmea, const TStreamSplitter& splitter);

}  // namespace vantora
