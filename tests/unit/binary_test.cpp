#include "protocol/binary.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "../support/sample_stream.h"

namespace vantora {
namespace {

using Bytes = std::vector<uint8_t>;
using Calls = std::vector<std::string>;
static_assert(std::endian::native == std::endian::little, "payloads are put in host order");

Bytes Frame(uint8_t id1, uint8_t id2, const Bytes& payload = {}) {
    const std::string f = sample::BinaryFrame(id1, id2, payload);
    return Bytes(f.begin(), f.end());
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

template <class T>
void Put(Bytes& b, int at, T v) {
    std::memcpy(&b[at], &v, sizeof v);
}

constexpr auto Hex = FormatFrameHex;

// Records each display request with the values the display would read at that moment.
class Recorder : public NullReplyDisplay {
public:
    const TBinary* bin = nullptr;
    const ReceiverTables* tables = nullptr;
    Calls calls;

    void ShowAck(uint8_t c) override { calls.push_back("Ack " + Hex(&c, 1)); }
    void ShowNak(uint8_t c) override { calls.push_back("Nak " + Hex(&c, 1)); }
    void ShowClockOffset() override { calls.push_back("ClockOffset " + std::to_string(bin->ClockOffset)); }
    void ShowRevision() override {
        std::ostringstream s;
        s << "Revision " << std::string(bin->Revision.Label, 12).c_str() << ' ' << std::hex
          << bin->Revision.Date << ' ' << bin->Revision.Time << ' ' << bin->Revision.Crc;
        calls.push_back(s.str());
    }
    void ShowBuiltInTest() override {
        std::string s = "BuiltInTest";
        for (int32_t r : bin->TestResults) s += ' ' + std::to_string(r);
        calls.push_back(s);
    }
    void ShowEphemerisProgress() override {
        calls.push_back("Ephemeris " + Progress(tables->EphemerisMask, tables->EphemerisCount));
    }
    void ShowAlmanacProgress() override {
        calls.push_back("Almanac " + Progress(tables->AlmanacMask, tables->AlmanacCount));
    }
    void ShowModuleId() override {
        calls.push_back("ModuleId " + std::to_string(tables->ModuleIds[0]) + " " +
                        std::to_string(tables->ModuleIds[1]));
    }
    void ShowNavigationSetting(const uint8_t* p) override { calls.push_back("NavSetting " + Hex(p, 18)); }
    void ShowSystemSetting(const uint8_t* p) override { calls.push_back("SystemSetting " + Hex(p, 48)); }
    void ShowTraceStatus() override {
        const TraceStatus& t = bin->Trace;
        calls.push_back("Trace " + std::to_string(t.State) + " " + std::to_string(t.UsedPercent) + " " +
                        std::to_string(t.Logged) + " " + std::to_string(t.ReadPosition));
    }
    void TraceRecordReceived() override { calls.push_back("TraceRecord"); }

private:
    static std::string Progress(uint32_t mask, int count) {
        return std::to_string(std::popcount(mask)) + " / " + std::to_string(count);
    }
};

struct Rig {
    Recorder rec;
    ReceiverTables tables{};
    TBinary bin{rec, tables};
    Rig() { rec.bin = &bin, rec.tables = &tables; }
    void Send(uint8_t id2, const Bytes& payload) {
        const Bytes f = Frame(IdReport, id2, payload);
        ASSERT_TRUE(bin.DecodeFrame(f.data(), static_cast<int>(f.size())));
    }
};

// Whole frames as the lexer cuts them: the checksum decides, and what it covers is not looked into.
TEST(BinaryDecoders, WholeFramesAndTheirChecksums) {
    Bytes badSum = Frame(IdReport, 0x82, {0x12, 0x34});
    badSum[6] ^= 1;
    const std::pair<Bytes, Calls> rows[] = {
        {Frame(IdReport, 0x82, {0x12, 0x34}), {"ClockOffset 13330"}},
        {badSum, {}},
        {Frame(IdAck, 0xE7), {"Ack e7 "}},  // any second byte
        {Frame(IdNak, 0x99), {"Nak 99 "}},
        {Frame(IdReport, 0x82, {0x0D, 0x0A}), {"ClockOffset 2573"}},
        {Frame(IdReport, 0x82, {0x25, 0x25}), {"ClockOffset 9509"}},
        {Frame(IdReport, 0x99), {}},  // not a kind the host takes
    };
    for (const auto& [frame, calls] : rows) {
        Rig rig;
        EXPECT_EQ(rig.bin.DecodeFrame(frame.data(), static_cast<int>(frame.size())), !calls.empty());
        EXPECT_EQ(rig.rec.calls, calls);
    }
}

// ---------------------------------------------------------------------------------------------
// Decoders

// Each report at its length reaches its display, which sees the decoded values.
TEST(BinaryDecoders, ReportsReachTheirDisplays) {
    const std::string ee(8, '\xEE');  // test report bytes 8..15 are not results
    std::string nav, sys;
    for (int i = 0; i < 48; ++i) sys += static_cast<char>(0xFF - i);
    for (int i = 1; i <= 18; ++i) nav += static_cast<char>(i);
    const std::pair<uint8_t, std::string> rows[] = {
        {0x80, std::string("VTR 1.8 GPS!\x05\x12\x07\x00\x42\x30\x15\x00\xEF\xBE", 22)},
        {0x81, std::string(8, '\xFF') + ee},
        {0x81, std::string("\0\0\x01\0\xFF\x7F\0\x80", 8) + ee},
        {0x85, std::string("\0\x78\x56\x34\x12", 5)},
        {0x85, "\x01\xFE\xFF\xFF\xFF"},
        {0x85, std::string("\x02\x07\0\0\0", 5)},  // outside the two IDs: dropped
        {0x85, std::string("\xFF\x07\0\0\0", 5)},
        {0x89, "\x02\x09\x37\x34\x12\xFF\xFF"},
        {0x8A, std::string("\x01\0\x64\x70\x11\x01\0\x04\x03\x02\x01", 11)},
        {0x88, std::string(18, '\x42')},
        {0x86, nav},
        {0x87, sys},
        {0x50, ""},
    };
    Rig rig;
    rig.bin.ClearTestResults();
    EXPECT_EQ(rig.bin.TestResults[3], -1);  // "no result" until the report comes
    for (const auto& [id2, payload] : rows) rig.Send(id2, Text(payload));
    EXPECT_EQ(
        rig.rec.calls,
        (Calls{"Revision VTR 1.8 GPS! 71205 153042 beef", "BuiltInTest 65535 65535 65535 65535",
               "BuiltInTest 0 1 32767 32768", "ModuleId 305419896 0", "ModuleId 305419896 -2",
               "Trace 2 55 4660 65535", "Trace 1 100 70000 16909060", "TraceRecord",
               "NavSetting " + Hex(Text(nav).data(), 18), "SystemSetting " + Hex(Text(sys).data(), 48)}));
}

TEST(BinaryDecoders, EphemerisAndAlmanacRecords) {
    struct Kind {
        uint8_t id2;
        int block;
        std::string show;
        const uint8_t* (*row)(const ReceiverTables&, int);
        uint32_t ReceiverTables::*mask;
    };
    const Kind kinds[] = {
        {0x83, 120, "Ephemeris",
         [](const ReceiverTables& t, int s) -> const uint8_t* { return t.EphemerisTable[s]; },
         &ReceiverTables::EphemerisMask},
        {0x84, 48, "Almanac",
         [](const ReceiverTables& t, int s) -> const uint8_t* { return t.AlmanacTable[s]; },
         &ReceiverTables::AlmanacMask},
    };
    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.show);
        auto rig = std::make_unique<Rig>();
        const auto record = [&](uint8_t count, uint8_t sat, uint8_t fill) {
            Bytes p(k.block + 2, fill);
            p[0] = count, p[1] = sat, p[2] = 0xA0, p[k.block + 1] = 0xA1;  // first and last byte of the block
            rig->Send(k.id2, p);
        };
        record(9, 3, 0x33);
        record(9, 5, 0x55);
        record(9, 3, 0x77);  // overwrites satellite 3
        record(9, 32, 0x20);
        record(9, 1, 0x01);
        const uint8_t* three = k.row(rig->tables, 2);
        EXPECT_EQ(Hex(three, 2) + Hex(three + k.block - 1, 1), "a0 77 a1 ");
        EXPECT_EQ(std::tuple(k.row(rig->tables, 3)[1], k.row(rig->tables, 31)[1]), std::tuple(0, 0x20));  // 4 as was
        EXPECT_EQ(rig->tables.*k.mask, 0x80000015u);

        // Out-of-range satellites have no block: dropped whole, count included.
        const auto before = std::make_unique<ReceiverTables>(rig->tables);
        for (uint8_t sat : {0, 33, 64, 255}) record(77, sat, 0xEE);
        EXPECT_EQ(std::memcmp(before.get(), &rig->tables, sizeof rig->tables), 0);
        EXPECT_EQ(rig->rec.calls, (Calls{k.show + " 1 / 9", k.show + " 2 / 9", k.show + " 2 / 9",
                                         k.show + " 3 / 9", k.show + " 4 / 9"}));
    }
}

// The fix fields of the record in one line, so that a table row checks them all.
std::string Fix(const NavRecord& r) {
    std::ostringstream s;
    s << r.Year << '-' << r.Month << '-' << r.Day << ' ' << r.Hour << ':' << r.Minute << ':' << r.Second
      << ' ' << r.Latitude << r.LatitudeHemisphere << ' ' << r.Longitude << r.LongitudeHemisphere << " alt "
      << r.Altitude << " crs " << r.Course << " spd " << r.Speed << " q" << r.FixQuality << " m" << r.FixMode
      << " sv " << r.SatellitesInView << '/' << r.SatellitesUsed << " dop " << r.Dop1 << '/' << r.Dop2 << '/'
      << r.Dop3 << " upd " << int(r.Updated);
    return s.str();
}

// D0h (raw values) and D1h (BCD time, degrees, m/s, DOP x 10) on one record, in order.
TEST(BinaryDecoders, NavD0AndD1Blocks) {
    struct Row {
        uint8_t id2;
        uint8_t time[7];  // day, month, year (two bytes), second, minute, hour
        float lat, lon;
        int16_t speed;
        uint8_t dop;
        const char* want;
    };
    // clang-format off
    const Row rows[] = {
        {0xD1, {0x31, 0x12, 0x05, 0, 0x00, 0x59, 0x23}, -25.5f, 121.25f, 10, 15,
         "5-12-31 23:59:0 2530S 12115E alt -12 crs 359 spd 36 q5 m3 sv 11/9 dop 1.5/1.5/1.5 upd 0"},
        // D0h keeps the hemispheres of the last D1h and asks for a redraw.
        {0xD0, {31, 12, 0xFD, 0xFF, 58, 59, 23}, 2530.5f, 12115.5f, 1234, 17,
         "-3-12-31 23:59:58 2530.5S 12115.5E alt -12 crs 359 spd 1234 q5 m3 sv 11/9 dop 17/17/17 upd 1"},
        {0xD1, {0x01, 0x01, 0x99, 0, 0x59, 0x00, 0x00}, 0.0f, 0.0f, 3, 0,
         "99-1-1 0:0:59 0N 0E alt -12 crs 359 spd 10 q5 m3 sv 11/9 dop 0/0/0 upd 0"},
        {0xD1, {0x15, 0x06, 0x00, 0, 0x30, 0x45, 0x12}, -0.5f, -179.75f, -3, 255,
         "0-6-15 12:45:30 30S 17945W alt -12 crs 359 spd -10 q5 m3 sv 11/9 dop 25.5/25.5/25.5 upd 0"},
        // Beyond 9102 m/s the km/h value is held at the limit.
        {0xD1, {0x09, 0x09, 0x10, 0, 0x09, 0x10, 0x19}, 45.0f, -0.25f, 32767, 1,
         "10-9-9 19:10:9 4500N 15W alt -12 crs 359 spd 32767 q5 m3 sv 11/9 dop 0.1/0.1/0.1 upd 0"},
    };
    // clang-format on
    Rig rig;
    for (const Row& r : rows) {
        Bytes p(r.id2 == 0xD0 ? 41 : 37);
        std::copy(r.time, r.time + 7, p.begin() + 6);
        Put(p, 14, r.lat);
        Put(p, 18, r.lon);
        Put<int16_t>(p, 22, -12);
        Put<int16_t>(p, 24, 359);
        Put(p, 26, r.speed);
        const uint8_t fix[8] = {5, 3, 11, 9, 0xEE, r.dop, r.dop, r.dop};
        std::copy(fix, fix + 8, p.begin() + 28);
        rig.Send(r.id2, p);
        EXPECT_EQ(Fix(rig.bin.Record()), r.want);
    }
    EXPECT_TRUE(rig.rec.calls.empty());
}

TEST(BinaryDecoders, NavD2SatelliteStatus) {
    Rig rig;
    const auto block = [](Bytes& p, int i, uint8_t sat, uint8_t health, int16_t az, uint8_t elv, uint8_t cn0,
                          uint16_t status) {
        const int at = 6 + 8 * i;
        p[at] = sat, p[at + 1] = health, p[at + 4] = elv, p[at + 5] = cn0;
        Put(p, at + 2, az);
        Put(p, at + 6, status);
    };
    Bytes first(102), p(102);
    for (int i = 0; i < 12; ++i) block(first, i, static_cast<uint8_t>(20 + i), 0, 10, 10, 40, 0);
    rig.Send(0xD2, first);
    block(p, 0, 0, 1, 1, 1, 1, 0x100);  // skipped
    block(p, 1, 5, 0, 270, 45, 42, 0x0100);
    block(p, 2, 64, 1, 1, 1, 1, 0x100);  // skipped
    block(p, 3, 12, 3, -100, 7, 30, 0xFEFF);
    block(p, 4, 0xFF, 1, 1, 1, 1, 0x100);  // skipped
    block(p, 5, 63, 0, 359, 90, 50, 0x0301);
    rig.Send(0xD3, Bytes(152));
    rig.Send(0xD2, p);  // blocks 6..11 are satellite 0

    const NavRecord& r = rig.bin.Record();
    const int32_t wantView[16] = {5, 12, 63, 23, 24, 25, 26, 27, 28, 29, 30, 31};
    EXPECT_EQ(std::memcmp(r.InView, wantView, sizeof wantView), 0);
    struct Want {
        int sat, health, elv, az, cn0, used;
        uint16_t status;
    };
    for (const Want& w : {Want{5, 0, 45, 270, 42, 1, 0x0100}, Want{12, 3, 7, -100, 30, 0, 0xFEFF},
                          Want{63, 0, 90, 359, 50, 1, 0x0301}, Want{64, 0, 0, 0, 0, 0, 0}}) {
        SCOPED_TRACE("satellite " + std::to_string(w.sat));
        const SatelliteEntry& s = r.Satellites[w.sat - 1];
        EXPECT_EQ(std::tie(s.Health, s.Elevation, s.Azimuth, s.Cn0, s.Used),
                  std::tie(w.health, w.elv, w.az, w.cn0, w.used));
        EXPECT_EQ(s.Status, w.status);
    }
    EXPECT_EQ(r.Updated, 0);
}

TEST(BinaryDecoders, NavD3AndD4Measurements) {
    Rig rig;
    Bytes d3(152, 0xCC), d4(32);
    Put<uint16_t>(d3, 6, 65000);
    for (int i = 0; i < 12; ++i) {
        const int at = 8 + 12 * i;
        d3[at] = static_cast<uint8_t>(i == 11 ? 200 : i + 1);
        Put<int32_t>(d3, at + 2, -20000000 - i);
        Put<int32_t>(d3, at + 6, 1000 * i);
        Put<int16_t>(d3, at + 10, -30000 + i);
    }
    rig.Send(0xD3, d3);
    const NavRecord& r = rig.bin.Record();
    for (int i = 0; i < 12; ++i) {
        const MeasurementChannel& c = r.Channels[i];
        EXPECT_EQ(std::tie(c.Prn, c.Pseudorange, c.DeltaRange),
                  std::tuple(i == 11 ? 200 : i + 1, -20000000 - i, 1000 * i));
        EXPECT_EQ(c.Doppler, -30000 + i) << i;
    }
    EXPECT_EQ(r.Updated, 1);

    rig.bin.Record().Updated = 0;
    Put(d4, 0, 302400.125);
    Put(d4, 8, -1.5e-7);
    Put(d4, 16, 12345.678);
    Put(d4, 24, -0.75f);
    d4[28] = 1, d4[29] = 2, d4[30] = 3, d4[31] = 4;
    rig.Send(0xD4, d4);
    EXPECT_EQ(std::tie(r.MeasurementTime, r.Cb, r.Tb, r.Fb), std::tuple(302400.125, -1.5e-7, 12345.678, -0.75f));
    EXPECT_EQ(Hex(r.Spare, 4), "01 02 03 04 ");
    EXPECT_EQ(std::tie(r.Updated, r.ClockOffset), std::tuple(1, 65000));  // D4h leaves D3h's fields alone
}

TEST(BinaryDecoders, DispatchRefusesWhatIsNotAWholeMessage) {
    Rig rig;
    const uint8_t msg[154] = {0xF2, 0x82, 0x34, 0x12};
    rig.bin.Dispatch(MsgClockOffset, msg, 3);
    rig.bin.Dispatch(-1, msg, 4);
    rig.bin.Dispatch(19, msg, 0);
    rig.bin.Dispatch(MsgClockOffset, nullptr, 4);
    EXPECT_TRUE(rig.rec.calls.empty());
    rig.bin.Dispatch(MsgClockOffset, msg, 4);
    EXPECT_EQ(rig.rec.calls, (Calls{"ClockOffset 4660"}));
}

}  // namespace
}  // namespace vantora
