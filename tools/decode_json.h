// JSON forms of what the decoder sees, shared by vantora-decode and its tests.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "protocol/nav_record.h"
#include "protocol/nmea.h"
#include "protocol/splitter.h"

namespace vantora {

// Every field of the record, snake_case; satellites as the list of non-zero entries.
nlohmann::ordered_json NavRecordJson(const NavRecord& rec);

// Items rejected, garbage and bad frames of the splitter, and the per-kind counters of the parser.
nlohmann::ordered_json StatsJson(const TNmea& nmea, const TStreamSplitter& splitter);

}  // namespace vantora
