#include "tools/decode_json.h"

#include <cstring>

#include "view/display_text.h"

namespace vantora {

namespace {

std::string CharText(char c) { return c ? std::string(1, c) : std::string(); }

bool IsZero(const SatelliteEntry& s) {
    return s.Health == 0 && s.Elevation == 0 && s.Azimuth == 0 && s.Cn0 == 0 && s.Used == 0 && s.Status == 0;
}

}  // namespace

nlohmann::ordered_json NavRecordJson(const NavRecord& r) {
    using json = nlohmann::ordered_json;
    json sats = json::array();
    for (int i = 0; i < 64; ++i) {
        const SatelliteEntry& s = r.Satellites[i];
        if (IsZero(s)) continue;
        sats.push_back({{"number", i + 1},
                        {"health", s.Health},
                        {"elevation", s.Elevation},
                        {"azimuth", s.Azimuth},
                        {"cn0", s.Cn0},
                        {"used", s.Used},
                        {"status", s.Status}});
    }
    json inView = json::array();
    for (int n : r.InView) inView.push_back(n);
    json channels = json::array();
    for (const MeasurementChannel& c : r.Channels) {
        channels.push_back({{"prn", c.Prn},
                            {"pseudorange", c.Pseudorange},
                            {"delta_range", c.DeltaRange},
                            {"doppler", c.Doppler}});
    }
    return json{{"updated", r.Updated},
                {"speed", r.Speed},
                {"course", r.Course},
                {"latitude", r.Latitude},
                {"latitude_hemisphere", CharText(r.LatitudeHemisphere)},
                {"longitude", r.Longitude},
                {"longitude_hemisphere", CharText(r.LongitudeHemisphere)},
                {"altitude", r.Altitude},
                {"year", r.Year},
                {"month", r.Month},
                {"day", r.Day},
                {"hour", r.Hour},
                {"minute", r.Minute},
                {"second", r.Second},
                {"fix_quality", r.FixQuality},
                {"fix_mode", r.FixMode},
                {"status", CharText(r.Status)},
                {"dop1", r.Dop1},
                {"dop2", r.Dop2},
                {"dop3", r.Dop3},
                {"satellites", sats},
                {"in_view_list", inView},
                {"satellites_in_view", r.SatellitesInView},
                {"satellites_used", r.SatellitesUsed},
                {"clock_offset", r.ClockOffset},
                {"measurement_time", r.MeasurementTime},
                {"cb", r.Cb},
                {"tb", r.Tb},
                {"fb", r.Fb},
                {"spare", {r.Spare[0], r.Spare[1], r.Spare[2], r.Spare[3]}},
                {"channels", channels}};
}

std::string FixStateName(const NavRecord& rec, const GnssSky& sky) {
    // The word the View page shows, so that the two never disagree.
    const FixTexts texts = FormatFix(rec, &sky);
    return texts.Fix ? texts.Fix->first : "";
}

nlohmann::ordered_json SkyJson(const GnssSky& sky) {
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    for (int i = 0; i < sky.Count && i < GnssSky::Capacity; ++i) {
        const SkySatellite& s = sky.Satellites[i];
        out.push_back({{"system", GnssSystemName(s.System)},
                       {"number", s.Number},
                       {"signal", s.Signal},
                       {"elevation", s.Elevation},
                       {"azimuth", s.Azimuth},
                       {"cn0", s.Cn0},
                       {"used", s.Used}});
    }
    return out;
}

nlohmann::ordered_json StatsJson(const TNmea& nmea, const TStreamSplitter& splitter) {
    nlohmann::ordered_json counters = nlohmann::ordered_json::object();
    for (int k = 0; k < SentenceKindCount; ++k) counters[SentenceKeys[k]] = nmea.SentenceCount(k);
    return {{"type", "stats"},
            {"errors", splitter.ErrorCount()},
            {"garbage_bytes", splitter.Lexer().GarbageBytes()},
            {"bad_frames", splitter.Lexer().BadFrames()},
            {"counters", counters}};
}

}  // namespace vantora
