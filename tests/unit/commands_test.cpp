#include "protocol/commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "protocol/text.h"

using namespace vantora;

namespace {

// Panel values as "control=value;control=value" over the form's defaults.
BuiltCommand Build(int cmd, const std::string& overrides = "", int64_t unixSeconds = 0) {
    PanelValues v = PanelValues::Defaults();
    for (size_t at = 0; at < overrides.size();) {
        const size_t end = std::min(overrides.find(';', at), overrides.size());
        const size_t eq = overrides.find('=', at);
        std::string error;
        EXPECT_TRUE(v.Assign(overrides.substr(at, eq - at), overrides.substr(eq + 1, end - eq - 1), error))
            << error;
        at = end + 1;
    }
    ManualClock clock;
    clock.SetUnixSeconds(unixSeconds);
    return BuildCommand(cmd, v, clock);
}

}  // namespace

// Every command built from the form's defaults, byte for byte; "" builds nothing.
TEST(Commands, DefaultFrames) {
    // clang-format off
    const std::pair<int, const char*> cases[] = {
        {0x01, "25 25 f1 01 01 01 bc 07 01 01 00 00 00 00 39 13 ea cf 00 00 44 0d 0a "},
        {0x02, "25 25 f1 02 00 00 00 00 00 00 00 00 f3 0d 0a "},
        {0x03, "25 25 f1 03 00 00 00 00 00 00 00 00 f2 0d 0a "},
        {0x04, "25 25 f1 04 01 01 00 01 01 01 00 00 f4 0d 0a "},
        {0x05, "25 25 f1 05 01 01 f4 0d 0a "},
        {0x06, "25 25 f1 06 f7 0d 0a "},
        {0x07, "25 25 f1 07 00 f6 0d 0a "},
        {0x08, "25 25 f1 08 4b 56 44 54 f4 0d 0a "},
        {0x09, "25 25 f1 09 00 f8 0d 0a "},
        {0x0B, "25 25 f1 0b 00 fa 0d 0a "},
        {0x0D, "25 25 f1 0d 01 00 00 00 00 00 00 00 00 fd 0d 0a "},
        {0x0E, "25 25 f1 0e 01 fe 0d 0a "},
        {0x0F, "25 25 f1 0f 01 19 14 0f fd 0d 0a "},
        {0x10, "25 25 f1 10 05 e4 0d 0a "},
        {0x11, "25 25 f1 11 00 00 e0 0d 0a "},
        {0x12, "25 25 f1 12 00 01 01 e3 0d 0a "},
        {0x13, "25 25 f1 13 01 e3 0d 0a "},
        {0x17, "25 25 f1 17 00 e6 0d 0a "},
        {0x18, "25 25 f1 18 00 e9 0d 0a "},
        {0x19, "25 25 f1 19 00 00 00 00 00 e8 0d 0a "},
        {0x1D, "25 25 f1 1d 00 00 00 00 00 00 ff ff ec 0d 0a "},
        {0x1E, "25 25 f1 1e 00 01 00 00 01 03 00 ec 0d 0a "},
        {0x1F, "25 25 f1 1f 00 00 ee 0d 0a "},
        {0x20, "25 25 f1 20 01 d0 0d 0a "},
        {0x0A, ""}, {0x0C, ""}, {0x14, ""}, {0x15, ""}, {0x16, ""}, {0x1A, ""}, {0x1C, ""}, {0x00, ""}, {0x21, ""}, {-1, ""},
        {0x1B, ""},  // the semi-major axis edit starts empty: a failed strict conversion
    };
    // clang-format on
    for (auto [cmd, hex] : cases) {
        const BuiltCommand b = Build(cmd);
        EXPECT_EQ(FormatFrameHex(b.Frame, b.Length), hex) << "command " << cmd;
        EXPECT_EQ(b.Error.has_value(), cmd == 0x1B) << "command " << cmd;
    }
}

// Changed panel values: the bytes from an offset of the frame.
TEST(Commands, FieldEncoding) {
    struct Case {
        const char* what;
        int cmd;
        const char* overrides;
        int offset;
        const char* bytes;
    };
    // clang-format off
    const Case cases[] = {
        {"latitude -0030 is -0.5 degree", 0x01, "RSTLat=-0030", 14, "ce ff "},
        {"year cut to 16 bits", 0x01, "RSTyear=70000", 6, "70 11 "},
        {"cold start", 0x01, "SetStartMode=3", 4, "01 03 "},
        {"port and baud", 0x02, "rgPort=1;rgBaud=3", 4, "01 03 "},
        {"ellipsoid index leading number", 0x03, "lbEdIdx=7x", 4, "07 00 "},
        {"datum deltas", 0x03, "lbDx= -2;lbDy=300m;lbDz=z", 6, "fe ff 2c 01 00 00 "},
        {"RMC period cut to 8 bits", 0x04, "lbRMC=300", 5, "2c "},
        {"NMEA periods in payload order", 0x04,
         "cbChkSumd=0;lbRMC=1;lbVTG=2;lbGGA=3;lbGSA=4;lbGSV=5;lbGLL=6;lbZDA=7", 4, "00 01 02 03 04 05 06 07 "},
        {"user key ID", 0x0D, "edModuleID=305419896", 4, "01 78 56 34 12 00 00 00 00 "},
        {"production ID is the time", 0x0D, "rgID=0;edModuleID=5", 4, "00 00 f1 53 65 "},
        {"PDOP and HDOP defaults", 0x0F, "rgDopMask=3;edPdop=;edHdop=1.5", 4, "03 19 14 0f "},
        {"1PPS", 0x12, "rg1PPS=2;ed1ppsBW=3;ed1ppsMul=x", 4, "02 03 01 "},
        {"zone fields, DST never negated", 0x19,
         "cbUpdateSTime=1;rgGMTsign=1;lbZoneHour=-3;lbZoneMinute=30;lbZoneSecond=bad;lbDstAdjust=1", 4, "01 03 e2 00 01 "},
        {"extended datum", 0x1B, "lbElpA=6378137.0;lbElpF=298.257223563;lbDx=-2;lbDy=7x;lbDz=70000", 4,
         "00 00 00 40 a6 54 58 41 88 6d 74 96 1d a4 72 40 fe ff 00 00 70 11 "},
        {"record trace", 0x1D, "rgTraceRecordAction=1;lbTraceDist=10;lbTracePeriod=600;lbTraceTime=3600", 4,
         "01 00 0a 00 58 02 10 0e "},
        {"time to log not an integer", 0x1D, "lbTraceTime=1h", 10, "ff ff "},
        {"read trace NMEA from 5", 0x1E, "rgTraceReadAction=1;rgTraceRdFmt=1;lbTracePos=5;rgTraceBaud=1", 4,
         "01 00 05 00 01 01 00 "},
        {"clear trace", 0x1F, "rgTraceStatus=1;rgPwrOnState=1", 4, "01 01 "},
        {"disable trace", 0x1F, "rgTraceStatus=3", 4, "0a "},
        {"update rate default", 0x20, "lbUpdateRate=", 4, "01 "},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const BuiltCommand b = Build(c.cmd, c.overrides, 1700000000);
        ASSERT_EQ(b.Length, FindCommand(c.cmd)->FrameLength);
        EXPECT_EQ(FormatFrameHex(b.Frame + c.offset, static_cast<int>(std::strlen(c.bytes) / 3)), c.bytes);
        EXPECT_EQ(b.Frame[b.Length - 3], XorChecksum(b.Frame + 2, b.Length - 5));
    }
}

TEST(Commands, FailedStrictConversionBuildsNothing) {
    const std::tuple<int, std::string, const char*> cases[] = {
        {0x01, "RSTyear=abc", "RSTyear: 'abc' is not a valid integer"},
        // The first field in payload order is the one reported.
        {0x01, "RSTLat=N;RSTmonth=May", "RSTmonth: 'May' is not a valid integer"},
        {0x1B, "lbElpA=x1;lbElpF=298.25", "lbElpA: 'x1' is not a valid number"},
        {0x1B, "lbElpA=6378137", "lbElpF: '' is not a valid number"},
    };
    for (const auto& [cmd, overrides, message] : cases) {
        const BuiltCommand b = Build(cmd, overrides);
        ASSERT_TRUE(b.Error.has_value()) << message;
        EXPECT_EQ(b.Error->Message(), message);
        EXPECT_EQ(b.Length, 0);
    }
}

TEST(Commands, EffectsOfEachCommand) {
    for (int cmd = 0; cmd <= 32; ++cmd) {
        const SendEffects fx = Build(cmd, "lbElpA=1;lbElpF=1").Effects;
        SCOPED_TRACE(cmd);
        EXPECT_EQ(std::tuple(fx.UpdateNmeaConfig, fx.ClearRevision, fx.ClearClockOffset, fx.ClearTestResults,
                             fx.ClearEphemerisProgress, fx.ClearAlmanacProgress, fx.TraceReadActive.has_value()),
                  std::tuple(cmd == 4, cmd == 5, cmd == 6, cmd == 7, cmd == 9, cmd == 0x0B, cmd == 0x1E));
    }
    EXPECT_EQ(std::tuple(Build(0x1E, "rgTraceReadAction=1").Effects.TraceReadActive,
                         Build(0x1E, "rgTraceReadAction=0").Effects.TraceReadActive),
              std::tuple(true, false));
}

TEST(Commands, NmeaConfigKeepsFullPeriods) {
    const BuiltCommand b =
        Build(0x04, "lbRMC=300;lbVTG=2;lbGLL= 3s;lbGSV=4;lbGSA=5;lbGGA=6;lbZDA=-7;cbChkSumd=0");
    NmeaConfig config = {0x7F, 9, 9, 9, 9, 9, 9, 9, 0x55, 0x1201};
    ApplyNmeaEffects(b.Effects, config);
    EXPECT_EQ(config, (NmeaConfig{0x7F, 6, 3, 5, 4, 300, 2, -7, 0x55, 0x1200}));
    EXPECT_EQ(FormatFrameHex(b.Frame + 4, 8),
              "00 2c 02 06 05 04 03 f9 ");  // the frame has them cut to 8 bits

    config[CfgChecksum] = -256;  // high bytes set: only the low byte changes
    ApplyNmeaEffects(Build(0x04).Effects, config);
    EXPECT_EQ(config[CfgChecksum], -255);
    const NmeaConfig before = config;
    ApplyNmeaEffects(Build(0x05).Effects, config);
    EXPECT_EQ(config, before);
}

TEST(Commands, Conversions) {
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    const std::string huge(40, '9');
    // text, StrictInteger (IntegerOr falls back to 99 where it is empty), LeadingNumber
    const std::tuple<std::string, std::optional<int64_t>, int64_t> cases[] = {
        {"+42", 42, 42},     {"-0030", -30, -30}, {"", {}, 0},   {"12x", {}, 12},  {"  -7", {}, -7},
        {"- 7", {}, 0},      {"0x10", {}, 0},     {"9223372036854775807", kMax, kMax},
        {"-9223372036854775808", kMin, kMin},     {"9223372036854775808", {}, kMax},
        {"-9223372036854775809", {}, kMin},       {"-" + huge + "x", {}, kMin}};
    for (const auto& [text, strict, leading] : cases) {
        SCOPED_TRACE("'" + text + "'");
        EXPECT_EQ(StrictInteger(text), strict);
        EXPECT_EQ(IntegerOr(text, 99), strict.value_or(99));
        EXPECT_EQ(LeadingNumber(text), leading);
    }

    // The one strict parser under StrictInteger, the INI reader and the load fields.
    struct Parse {
        std::string text;
        int base;
        int64_t min, max;
        std::optional<int64_t> value;
    };
    const Parse parses[] = {{"C0000", 16, 0, 0xFFFFF, 0xC0000}, {"100000", 16, 0, 0xFFFFF, {}},
                            {"FFFF", 16, 0, 0xFFFF, 0xFFFF},    {"10000", 16, 0, 0xFFFF, {}},
                            {"+1", 16, 0, 0xFFFF, {}},          {"0x10", 16, 0, 0xFFFF, {}},
                            {"65535", 10, 0, 65535, 65535},     {"65536", 10, 0, 65535, {}},
                            {"-1", 10, 0, 65535, {}},           {"+7", 10, -8, 8, 7},
                            {"-9", 10, -8, 8, {}},              {"-", 10, -8, 8, {}},
                            {"5", 10, 6, 8, {}},                {"99999999999999999999", 10, 0, kMax, {}}};
    for (const Parse& p : parses)
        EXPECT_EQ(ParseInteger(p.text, p.base, p.min, p.max), p.value) << "'" << p.text << "' base " << p.base;

    const std::pair<std::string, std::optional<double>> reals[] = {
        {"298.257223563", 298.257223563}, {"+.5", 0.5}, {"1.5E-2", 0.015}, {"", {}}, {" 1", {}},
        {"1e", {}}, {"inf", {}}, {"0x1p3", {}}, {"1e999", {}}, {"+-1", {}}};
    for (const auto& [text, value] : reals) EXPECT_EQ(StrictReal(text), value) << "'" << text << "'";

    // The largest value wraps without overflow.
    const std::pair<int32_t, int32_t> degMin[] = {{4913, 4921}, {-30, -50},     {4960, 5000},
                                                  {59, 98},     {-9959, -9998}, {INT32_MAX, INT32_MIN + 30}};
    for (auto [v, expected] : degMin) EXPECT_EQ(DegMinToHundredths(v), expected) << v;
}

TEST(Commands, PanelValuesAssign) {
    const std::tuple<const char*, const char*, bool> cases[] = {  // control, value, accepted
        {"RSTyear", "anything at all", true}, {"SetStartMode", "4", true},   {"SetStartMode", "5", false},
        {"SetStartMode", "-1", false},        {"SetStartMode", " 1", false}, {"cbChkSumd", "0", true},
        {"cbChkSumd", "TRUE", true},          {"cbChkSumd", "2", false},     {"nosuch", "1", false},
    };
    for (const auto& [control, value, ok] : cases) {
        PanelValues v = PanelValues::Defaults();
        std::string error;
        EXPECT_EQ(v.Assign(control, value, error), ok) << control << "=" << value;
        EXPECT_EQ(error.find(control) != std::string::npos, !ok) << error;
    }
    // Every control a builder reads is a known one.
    for (int cmd = 1; cmd <= 32; ++cmd)
        for (const ControlInfo* c : CommandControls(cmd)) ASSERT_NE(c, nullptr) << cmd;
}
