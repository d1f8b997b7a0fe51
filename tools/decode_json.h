// JSON forms of what the decoder sees, shared by vantora-decode and its tests.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "protocol/nav_record.h"
#include "protocol/nmea.h"

namespace vantora {

// Every field of the record, snake_case; satellites as the list of non-zero entries.
nlohmann::ordered_json NavRecordJson(const NavRecord& rec);

// The key of the last sentence in a memo line ("$GPGGA,..." -> "PGGA"), empty when it is none of ours.
std::string SentenceKeyOf(std::string_view line);

// Per-kind counters and the error count of a parser.
nlohmann::ordered_json StatsJson(const TNmea& nmea);

}  // namespace vantora
