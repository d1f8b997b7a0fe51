// The simulated receiver's engine, driven without a terminal: what it sends must decode
// with the host's own parsers, and the host's own command frames must get their answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/binary.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "protocol/nmea.h"
#include "protocol/platform.h"
#include "protocol/splitter.h"
#include "sim/pty.h"
#include "sim/receiver.h"
#include "sim/replay.h"
#include "tests/support/files.h"
#include "tests/support/sample_stream.h"
#include "view/display_text.h"

using namespace vantora;
using namespace vantora::sim;

namespace {

class Recorder : public NullReplyDisplay {
public:
    void ShowAck(uint8_t c) override { Acks.push_back(c); }
    void ShowNak(uint8_t c) override { Naks.push_back(c); }
    void ShowClockOffset() override { ++Shown; }
    void ShowRevision() override { ++Shown; }
    void ShowBuiltInTest() override { ++Shown; }
    void ShowEphemerisProgress() override { ++Shown; }
    void ShowAlmanacProgress() override { ++Shown; }
    void ShowModuleId() override { ++Shown; }
    void ShowNavigationSetting(const uint8_t* p) override { Nav.assign(p, p + 18), ++Shown; }
    void ShowSystemSetting(const uint8_t* p) override { Sys.assign(p, p + 48), ++Shown; }
    void ShowTraceStatus() override { ++Shown; }
    void TraceRecordReceived() override { ++TraceRecords; }
    std::vector<uint8_t> Acks, Naks, Nav, Sys;
    int Shown = 0, TraceRecords = 0;
};

// The host side: the receive thread's splitter and both parsers over whatever the receiver sent.
struct Host : SplitterSink {
    Recorder display;
    ReceiverTables tables{};
    TBinary binary{display, tables};
    TNmea nmea;
    ManualClock clock;
    TStreamSplitter splitter{nmea, binary, clock, *this};
    std::vector<int> notices;  // non-zero NMEA results other than 1
    int sentences = 0;         // NMEA sentences accepted

    void ItemEnded(const SplitItem& item) override {
        if (item.Type != TLexer::Sentence || item.Result == 0) return;
        if (item.Result == 1)
            ++sentences;
        else
            notices.push_back(item.Result);
    }
    void Take(const std::string& bytes) {
        splitter.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int>(bytes.size()));
    }
};

std::string CommandFrame(uint8_t cmd, const std::vector<uint8_t>& payload) {
    return sample::BinaryFrame(IdCommand, cmd, payload);
}

std::string HostCommand(int cmd, const PanelValues& values) {
    ManualClock clock;
    BuiltCommand built = BuildCommand(cmd, values, clock);
    return std::string(reinterpret_cast<const char*>(built.Frame), built.Length);
}

struct Sim {
    ManualClock clock;
    Receiver rx;
    Host host;
    explicit Sim(ReceiverOptions o = {}) : rx(clock, o) {}

    std::string Run(int ms) {
        std::string all;
        for (int t = 0; t < ms; t += 100) {
            std::string out = rx.Tick();
            host.Take(out);
            all += out;
            clock.SleepMs(100);
        }
        return all;
    }
    std::string Send(const std::string& frame, int ms = 300) {
        rx.Feed(reinterpret_cast<const uint8_t*>(frame.data()), frame.size());
        return Run(ms);
    }
};

int Count(const std::string& s, const std::string& what) {
    int n = 0;
    for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
    return n;
}

}  // namespace

TEST(SimReceiver, DefaultNmeaGoesFromNoFixTo3DAndBack) {
    Sim sim;
    std::vector<int> modes;
    int minView = 99, maxView = 0;
    for (int s = 0; s < 200; ++s) {
        sim.Run(1000);
        const NavRecord& r = sim.host.nmea.Record();
        if (modes.empty() || modes.back() != r.FixMode) modes.push_back(r.FixMode);
        if (s > 2)
            minView = std::min(minView, r.SatellitesInView), maxView = std::max(maxView, r.SatellitesInView);
        if (s != 30) continue;
        EXPECT_EQ(std::tie(r.FixMode, r.FixQuality), std::tuple(Mode3D, QualityGps));
        EXPECT_GE(r.SatellitesUsed, 4);
        EXPECT_NEAR(r.Latitude, 4807.04, 0.5);  // the default site, ddmm.mmmm
        EXPECT_EQ(std::string() + r.LatitudeHemisphere + r.LongitudeHemisphere, "NE");
        EXPECT_EQ(std::tie(r.Year, r.Month, r.Day, r.Hour, r.Minute, r.Second),
                  std::tuple(2024, 5, 17, 8, 0, 30));
        EXPECT_GT(r.Dop1, 0.0f);
        for (int i = 0; i < r.SatellitesInView; ++i) EXPECT_GT(r.Satellites[r.InView[i] - 1].Cn0, 0);
    }
    EXPECT_EQ(sim.host.nmea.ErrorCount(), 0);
    EXPECT_TRUE(minView >= 8 && maxView <= 14) << minView << ".." << maxView;
    // no fix, 2D, 3D, then the outage: 2D, no fix, and a new acquisition.
    ASSERT_GE(modes.size(), 5u);
    EXPECT_EQ(std::vector<int>(modes.begin(), modes.begin() + 5), (std::vector<int>{0, 1, 2, 1, 0}));
}

TEST(SimReceiver, SitesAndSeedsKeepEverySentenceValid) {
    // Southern and western sites, negative zones, all seven sentences with and without checksums,
    // and the multi-constellation forms (NMEA 4.11 with either line end, and 4.0).
    struct Case {
        uint32_t Seed;
        bool Gnss, LfOnly, Nmea40;
    };
    for (Case c : {Case{1, false, false, false}, {2, false, false, false}, {3, false, false, false},
                   {4, false, true, false}, {77, false, false, false}, {1, true, false, false}, {4, true, true, false},
                   {5, true, false, true}}) {
        SCOPED_TRACE("seed " + std::to_string(c.Seed) + (c.Gnss ? " gnss" : "") + (c.LfOnly ? " lf" : "") +
                     (c.Nmea40 ? " 4.0" : ""));
        const bool sums = c.Seed % 2 == 1;
        Sim sim({.Checksum = sums,
                 .Gnss = c.Gnss,
                 .LfOnly = c.LfOnly,
                 .Nmea40 = c.Nmea40,
                 .Seed = c.Seed,
                 .Faults = {},
                 .Loader = {}});
        PanelValues v = PanelValues::Defaults();
        for (const char* ctl : {"lbGLL", "lbVTG", "lbZDA"}) v.SetText(ctl, "1");
        v.SetChecked("cbChkSumd", sums);
        sim.Send(HostCommand(0x04, v));
        sim.Send(CommandFrame(0x19, {1, static_cast<uint8_t>(-5), static_cast<uint8_t>(-30), 0, 1}));
        int before = sim.host.sentences;
        std::string out = sim.Run(40000);
        EXPECT_EQ(sim.host.nmea.ErrorCount(), 0);
        for (int kind = KindGga; kind <= KindZda; ++kind) EXPECT_GT(sim.host.nmea.SentenceCount(kind), 30);
        EXPECT_EQ(sim.host.sentences - before, Count(out, "$G")) << "every sentence accepted";
        EXPECT_EQ(out.find('*') != std::string::npos, sums);
        EXPECT_EQ(Count(out, "\r\n") == Count(out, "\n"), !c.LfOnly);
        const NavRecord& r = sim.host.nmea.Record();
        ScenarioState st = sim.rx.State();
        EXPECT_EQ(std::tie(r.LatitudeHemisphere, r.LongitudeHemisphere),
                  std::tuple(st.LatitudeDeg < 0 ? 'S' : 'N', st.LongitudeDeg < 0 ? 'W' : 'E'));
        if (!c.Gnss) continue;
        // Every system's satellites reach the sky (NMEA 4.0: GPS and GLONASS), and the used
        // count covers them all.
        EXPECT_EQ(sim.host.nmea.Sky().Systems, c.Nmea40 ? 0b11 : 0b1111);
        EXPECT_GT(st.OthersUsed, 0);
        EXPECT_GT(r.SatellitesUsed, st.Used);
    }
}

TEST(SimReceiver, Nmea40GsasAloneCountOneFixAtATime) {
    // An NMEA 4.0 receiver set to send only its GN GSAs, which carry no system ID: nothing
    // comes between the fixes, yet the satellites in use are those of one fix.
    Sim sim({.Gnss = true, .Nmea40 = true, .Faults = {}, .Loader = {}});
    PanelValues v = PanelValues::Defaults();
    for (const char* ctl : {"lbGGA", "lbGSV", "lbRMC"}) v.SetText(ctl, "0");
    sim.Send(HostCommand(0x04, v));
    sim.Run(60000);
    const ScenarioState st = sim.rx.State();
    int glonass = 0, others = 0;
    for (int i = 0; i < st.OthersInView; ++i) glonass += st.Others[i].System == SystemGlonass ? 1 : 0;
    for (int kind = KindGga; kind <= KindZda; ++kind)
        if (kind != KindGsa) others += sim.host.nmea.SentenceCount(kind);
    EXPECT_GT(sim.host.nmea.SentenceCount(KindGsa), 100);
    EXPECT_EQ(others, 0);
    EXPECT_GT(sim.host.nmea.Record().SatellitesUsed, 4);
    EXPECT_LE(sim.host.nmea.Record().SatellitesUsed, st.InView + glonass);
}

TEST(SimReceiver, ReportsCarryWhatTheCommandsSet) {
    Sim sim;
    sim.Run(20000);
    Host& h = sim.host;
    // What the commands set comes back in the settings reports, as the window shows them.
    sim.Send(CommandFrame(0x20, {2}));
    sim.Send(CommandFrame(0x0F, {2, 10, 8, 6}));
    sim.Send(CommandFrame(0x10, {15}));
    sim.Send(CommandFrame(0x17, {0}));
    ASSERT_EQ(h.display.Nav.size(), 18u);
    const auto nav = NavigationSettingLines(h.display.Nav.data());
    EXPECT_EQ(std::tie(nav.at(0), nav.at(2), nav.at(3)),
              std::tuple("Position Update Rate= 2", "GDOP=10, PDOP=8, HDOP=6", "Elevation Mask= 15 degree"));

    sim.Send(CommandFrame(0x05, {1, 1}));
    EXPECT_STREQ(std::string(h.binary.Revision.Label, 12).c_str(), "VSIM 1.80");
    EXPECT_EQ(h.binary.Revision.Date, 0x00240517u);

    sim.Send(CommandFrame(0x0D, {1, 0x39, 0x30, 0, 0, 0, 0, 0, 0}));
    sim.Send(CommandFrame(0x0E, {1}));
    EXPECT_EQ(h.tables.ModuleIds[1], 12345);
    sim.Send(CommandFrame(0x07, {3}));
    EXPECT_EQ(h.binary.TestResults[0], 3);
    sim.Send(CommandFrame(0x06, {}));
    EXPECT_GT(h.binary.ClockOffset, 0);

    sim.Send(CommandFrame(0x09, {0}), 3000);
    int inView = sim.rx.State().InView;
    EXPECT_EQ(std::tuple(h.tables.EphemerisCount, std::popcount(h.tables.EphemerisMask)), std::tuple(inView, inView));
    sim.Send(CommandFrame(0x0B, {0}), 5000);
    EXPECT_EQ(std::tie(h.tables.AlmanacCount, h.tables.AlmanacMask), std::tuple(32, 0xFFFFFFFFu));
    EXPECT_TRUE(h.display.Naks.empty());
}

// Every command the host can send, as its Send button builds it from the form's defaults, is
// acknowledged with the reports it asks for; what the receiver cannot do is refused.
TEST(SimReceiver, CommandsAreAnsweredOrRefused) {
    PanelValues v = PanelValues::Defaults();
    v.SetText("lbElpA", "6378137.0");
    v.SetText("lbElpF", "298.257223563");
    struct Case {
        std::string Frame;
        bool Ack;
        int Reports;  // displays the reply triggers
    };
    std::vector<Case> cases;
    for (auto [cmd, reports] : {std::pair{0x02, 0}, {0x03, 0}, {0x04, 0}, {0x05, 1}, {0x06, 1}, {0x07, 1},
                                {0x08, 0},          {0x0B, 32}, {0x0D, 0}, {0x0E, 1}, {0x0F, 0}, {0x10, 0},
                                {0x11, 0},          {0x12, 0},  {0x13, 0}, {0x17, 1}, {0x18, 1}, {0x19, 0},
                                {0x1B, 0},          {0x1D, 0},  {0x1E, 0}, {0x1F, 1}, {0x20, 0}, {0x01, 0}})
        cases.push_back({HostCommand(cmd, v), true, reports});
    for (const std::string& refused : {
             CommandFrame(0x13, {4}),                        // raw data output
             CommandFrame(0x02, {0, 7, 0, 0, 0, 0, 0, 0}),   // no such rate
             CommandFrame(0x08, {'A', 'B', 'C', 'D'}),       // not the factory-default word
             CommandFrame(0x0E, {2}),                        // no such ID
             CommandFrame(0x20, {0}),                        // update rate 0
             CommandFrame(0x1E, {1, 0, 0, 0, 1, 3, 0}),      // trace read in NMEA form
             CommandFrame(0x03, {99, 0, 0, 0, 0, 0, 0, 0}),  // unknown ellipsoid
             CommandFrame(0x17, {0}).replace(5, 1, 1, '\x18'),  // a wrong checksum
         })
        cases.push_back({refused, false, 0});
    for (const Case& c : cases) {
        SCOPED_TRACE(FormatFrameHex(reinterpret_cast<const uint8_t*>(c.Frame.data()), c.Frame.size()));
        ASSERT_GE(c.Frame.size(), 4u);
        Sim sim;
        sim.Run(1000);
        sim.Send(c.Frame, 6000);
        const std::vector<uint8_t> id = {static_cast<uint8_t>(c.Frame[3])};
        EXPECT_EQ(sim.host.display.Acks, c.Ack ? id : std::vector<uint8_t>{});
        EXPECT_EQ(sim.host.display.Naks, c.Ack ? std::vector<uint8_t>{} : id);
        EXPECT_EQ(sim.host.display.Shown, c.Reports);
    }
    // A frame cut short and followed by a good one is not taken.
    Sim sim;
    sim.Send(CommandFrame(0x17, {0}).substr(0, 4) + CommandFrame(0x18, {0}));
    EXPECT_EQ(sim.host.display.Acks, std::vector<uint8_t>{0x18});
}

TEST(SimReceiver, ConfigureNmeaChangesWhatIsSent) {
    Sim sim;
    sim.Run(20000);
    sim.Send(CommandFrame(
        0x04, {0, 0, 1, 2, 0, 0, 1, 3}));  // no checksum; VTG 1, GGA 2, GLL 1, ZDA 3; no RMC, GSA, GSV
    int before = sim.host.sentences;
    std::string out = sim.Run(6000);
    EXPECT_EQ(out.find('*'), std::string::npos);
    const std::vector<int> counts = {Count(out, "$GPRMC") + Count(out, "$GPGSA") + Count(out, "$GPGSV"),
                                     Count(out, "$GPVTG"), Count(out, "$GPGLL"), Count(out, "$GPGGA"),
                                     Count(out, "$GPZDA")};
    EXPECT_EQ(counts, (std::vector<int>{0, 6, 6, 3, 2}));
    EXPECT_EQ(sim.host.nmea.ErrorCount(), 0);
    EXPECT_EQ(sim.host.sentences - before, 17);
}

TEST(SimReceiver, OutputFormatSwitchesToBinaryBlocks) {
    Sim sim;
    sim.Run(30000);
    sim.Send(CommandFrame(0x13, {2}));
    std::string out = sim.Run(3000);
    EXPECT_EQ(out.find("$GP"), std::string::npos);
    for (uint8_t id : {0xD0, 0xD1, 0xD2, 0xD3, 0xD4})
        EXPECT_EQ(Count(out, std::string("%%\xF2") + static_cast<char>(id)), 3) << std::hex << int(id);
    const NavRecord& r = sim.host.binary.Record();
    ScenarioState st = sim.rx.State();
    double lat = std::fabs(st.LatitudeDeg);
    EXPECT_NEAR(r.Latitude, std::floor(lat) * 100 + (lat - std::floor(lat)) * 60, 0.01);
    EXPECT_EQ(r.LatitudeHemisphere, 'N');
    EXPECT_EQ(std::tie(r.FixMode, r.SatellitesInView), std::tuple(Mode3D, st.InView));
    EXPECT_EQ(r.Year, 24);  // two BCD digits from the converted block
    for (int i = 0; i < std::min(12, st.InView); ++i) {
        const int prn = st.Sats[i].Prn;
        const SatelliteEntry& e = r.Satellites[prn - 1];
        EXPECT_EQ(std::tie(r.InView[i], r.Channels[i].Prn, e.Elevation),
                  std::tie(prn, prn, st.Sats[i].Elevation));
        EXPECT_EQ(e.Used, st.Sats[i].Used ? 1 : 0);
        EXPECT_GT(r.Channels[i].Pseudorange, 19000000);
    }
    EXPECT_GT(r.MeasurementTime, 0.0);
    // "Temporarily": a restart brings NMEA back; "permanently" survives it.
    sim.Send(CommandFrame(0x01, {1, 1, 0xE8, 0x07, 5, 17, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 2000);
    EXPECT_NE(sim.Run(2000).find("$GPGGA"), std::string::npos);
    sim.Send(CommandFrame(0x13, {3}));
    sim.Send(CommandFrame(0x01, {1, 1, 0xE8, 0x07, 5, 17, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 2000);
    EXPECT_EQ(sim.Run(2000).find("$GP"), std::string::npos);
}

TEST(SimReceiver, ConfigureIoMovesTheRateAfterTheAck) {
    Sim sim;
    sim.rx.SetHostRate(4800);
    sim.Run(2000);
    sim.Send(CommandFrame(0x02, {0, 1, 0, 0, 0, 0, 0, 0}), 100);
    EXPECT_EQ(sim.host.display.Acks, std::vector<uint8_t>{0x02});  // still heard at 4800
    EXPECT_EQ(sim.rx.LineRate(), 9600);
    EXPECT_EQ(sim.Run(3000), "");  // the host still listens at 4800
    sim.Send(CommandFrame(0x17, {0}));
    EXPECT_EQ(sim.host.display.Acks.size(), 1u);  // and is not understood either
    sim.rx.SetHostRate(9600);
    EXPECT_NE(sim.Run(2000).find("$GPGGA"), std::string::npos);
    sim.Send(CommandFrame(0x17, {0}));
    EXPECT_EQ(sim.host.display.Acks.size(), 2u);
}

TEST(SimReceiver, PacedOutputKeepsToTheLineRate) {
    Sim sim({.Pace = true, .Faults = {}, .Loader = {}});
    std::string out = sim.Run(20000);
    // 4800 baud carry 480 bytes a second; a full update does not fit, so some are dropped whole.
    EXPECT_TRUE(out.size() >= 15u * 480 && out.size() <= 20u * 480 + 100) << out.size();
    EXPECT_EQ(sim.host.nmea.ErrorCount(), 0);
}

TEST(SimReceiver, FaultsDoWhatTheySay) {
    struct Case {
        FaultKind Kind;
        bool Spoils;  // the faulted sentence is lost
    };
    for (Case c : {Case{FaultKind::Garbage, false}, Case{FaultKind::BadSum, true}, Case{FaultKind::Cut, true},
                   Case{FaultKind::LongField, false}}) {
        Sim sim({.Faults = {.Kinds = {c.Kind}, .Every = 5}, .Loader = {}});
        std::string out = sim.Run(20000);
        int injected = sim.rx.Faults().Injected(c.Kind);
        EXPECT_GE(injected, 15) << FaultName(c.Kind);
        int items = Count(out, "$GP") - (c.Kind == FaultKind::LongField ? injected : 0);
        EXPECT_EQ(sim.host.sentences, c.Spoils ? items - injected : items) << FaultName(c.Kind);
        if (c.Kind == FaultKind::BadSum || c.Kind == FaultKind::LongField) {
            EXPECT_GE(sim.host.splitter.ErrorCount(), injected) << FaultName(c.Kind);
        }
    }
    Sim sim({.Faults = {.Kinds = {FaultKind::Silence}, .Every = 3}, .Loader = {}});
    EXPECT_EQ(Count(sim.Run(1000), "$GP"), 2);  // the third item starts the silence
    EXPECT_EQ(sim.Run(4000), "");
    EXPECT_NE(sim.Run(2000), "");
}

TEST(SimReceiver, TraceIsRecordedAndReadBack) {
    Sim sim;
    sim.Run(20000);  // a 3D fix
    sim.Send(CommandFrame(0x1D, {1, 0, 0, 0, 0, 0, 0xFF, 0xFF}));
    sim.Run(30000);
    sim.Send(CommandFrame(0x1F, {0, 0}));
    EXPECT_TRUE(sim.host.binary.Trace.State == 1 && sim.host.binary.Trace.Logged >= 29) << sim.host.binary.Trace.Logged;
    sim.Send(CommandFrame(0x1D, {0, 0, 0, 0, 0, 0, 0xFF, 0xFF}));
    int logged = sim.rx.TraceCount();

    // Read from record 5 at the link's rate (index 0, 4800): exactly the rest arrives, then it ends.
    std::string out = sim.Send(CommandFrame(0x1E, {2, 1, 5, 0, 1, 0, 0}), 3000);
    EXPECT_EQ(sim.host.display.TraceRecords, logged - 5);
    size_t at = out.find("%%\xF2\x88");
    EXPECT_GT(out.find("$GP"), out.rfind("%%\xF2\x88"));  // navigation output pauses while reading
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(out[at + 24], '\n');
    int32_t xyz[3];
    std::memcpy(xyz, &out[at + 8], sizeof xyz);
    double ex, ey, ez;
    const ScenarioState st = sim.rx.State();
    GeodeticToEcef(st.LatitudeDeg, st.LongitudeDeg, st.AltitudeM, ex, ey, ez);
    EXPECT_LT(std::hypot(xyz[0] - ex, xyz[1] - ey, xyz[2] - ez), 2000.0);  // on the lap around the site
    EXPECT_NE(sim.Run(2000).find("$GPGGA"), std::string::npos);

    sim.Send(CommandFrame(0x1F, {1, 0}));
    sim.Send(CommandFrame(0x1F, {0, 0}));
    EXPECT_EQ(sim.host.binary.Trace.Logged, 0);
}

TEST(SimReceiver, TraceRecordingHonoursDistanceAndReadRate) {
    Sim sim;
    sim.Run(20000);
    sim.Send(CommandFrame(0x1D, {1, 0, 100, 0, 0, 0, 0xFF, 0xFF}));  // every 100 m
    sim.Run(180000);
    double travelled = sim.rx.State().TravelledM;
    EXPECT_TRUE(sim.rx.TraceCount() > 5 && sim.rx.TraceCount() <= travelled / 100 + 2) << sim.rx.TraceCount();
    sim.Send(CommandFrame(0x1D, {0, 0, 0, 0, 0, 0, 0xFF, 0xFF}));
    // A read at 9600 while the host listens at 4800: the records are lost, then the link is back.
    sim.rx.SetHostRate(4800);
    sim.Send(CommandFrame(0x1E, {2, 1, 0, 0, 1, 1, 0}), 5000);
    EXPECT_EQ(std::tuple(sim.host.display.TraceRecords, sim.rx.LineRate()), std::tuple(0, 4800));
    EXPECT_NE(sim.Run(2000).find("$GPGGA"), std::string::npos);
}

TEST(SimReceiver, LongTraceStatusBeyond65535Records) {
    Sim sim({.TraceRecords = 70000, .Faults = {}, .Loader = {}});
    sim.Send(CommandFrame(0x1F, {0, 0}));
    const TraceStatus& t = sim.host.binary.Trace;
    EXPECT_EQ(std::tie(t.Logged, t.UsedPercent), std::tuple(70000, 70000 * 100 / Receiver::TraceCapacity));
}

TEST(SimLoader, RestartIntoLoaderAndProgram) {
    Sim sim;
    sim.rx.SetHostRate(4800);
    sim.Run(2000);
    sim.Send(CommandFrame(0x01, std::vector<uint8_t>(16, 0)), 400);
    EXPECT_EQ(std::tuple(sim.host.display.Acks, sim.rx.LineRate()), std::tuple(std::vector<uint8_t>{0x01}, LoaderRate));
    sim.rx.SetHostRate(LoaderRate);
    sim.Run(1500);
    ASSERT_FALSE(sim.host.notices.empty());
    EXPECT_EQ(sim.host.notices.back(), LoaderHello);

    // 32 KiB at C0000h, as the host's Default target asks.
    sim.host.notices.clear();
    sim.Send(CommandFrame(0x72, {0x06, 0x00, 0x03, 32, 0x00}), 500);
    EXPECT_EQ(sim.host.notices, std::vector<int>{LoadAck});
    std::vector<uint8_t> img(32768);
    for (size_t i = 0; i < img.size(); ++i) img[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
    const auto feedBlock = [&](size_t from) {  // 16 KiB in 64-byte packets
        for (size_t o = from; o < from + 16384; o += 64) sim.rx.Feed(img.data() + o, 64);
    };
    feedBlock(0);
    sim.Run(300);
    EXPECT_EQ(sim.host.notices.back(), LoaderDataRequest);
    feedBlock(16384);
    sim.Run(500);
    EXPECT_EQ(sim.host.notices.back(), LoaderCrcReport);
    EXPECT_EQ(sim.host.nmea.ReportedCrc(), FlashCrc16(img.data(), img.size()));
    EXPECT_EQ(sim.rx.Flash(), img);
    EXPECT_EQ(std::count(sim.host.notices.begin(), sim.host.notices.end(), LoaderDataRequest), 1);

    // Back in the firmware at its own rate, which reports the new image's CRC.
    sim.Run(1500);
    EXPECT_EQ(std::tuple(sim.rx.Phase(), sim.rx.LineRate()), std::tuple(LoaderPhase::Off, 4800));
    sim.rx.SetHostRate(4800);
    sim.Send(CommandFrame(0x05, {1, 1}));
    EXPECT_EQ(sim.host.binary.Revision.Crc, FlashCrc16(img.data(), img.size()));
}

TEST(SimReplay, PacesAtTheLineRate) {
    std::string log(10000, 'x');
    ReplaySource normal(log, 4800, 1.0, 0), twice(log, 4800, 2.0, 0), fast(log, 4800, 0, 0);
    EXPECT_EQ(normal.Take(1000, SIZE_MAX).size(), 480u);
    EXPECT_EQ(twice.Take(1000, SIZE_MAX).size(), 960u);
    EXPECT_EQ(fast.Take(0, 4096).size(), 4096u);
    EXPECT_EQ(fast.Take(0, SIZE_MAX).size(), 10000u - 4096);
    EXPECT_TRUE(fast.Done());
    // Bytes due while the host listens at another rate are lost, not delayed.
    EXPECT_EQ(normal.Take(2000, SIZE_MAX, false), "");
    EXPECT_EQ(normal.Take(3000, SIZE_MAX).size(), 480u);
}

TEST(SimTerminal, ALinkIsRemovedOnlyWhileItNamesItsOwnTerminal) {
    // A simulator that ends after another has taken the link over must leave the new link alone.
    test::TempDir dir("vantora-link");
    const std::string link = dir.Path("tty");
    std::string error;
    ASSERT_TRUE(PointLink(link, "/dev/pts/new", error)) << error;
    UnpointLink(link, "/dev/pts/old");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    UnpointLink(link, "/dev/pts/new");
    EXPECT_FALSE(std::filesystem::is_symlink(link));
}
