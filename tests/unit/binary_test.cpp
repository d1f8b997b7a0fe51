#include "protocol/binary.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/frame.h"

namespace vantora {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Frame(uint8_t id1, uint8_t id2, const Bytes& payload = {}) {
    Bytes out(payload.size() + 7);
    const int n = BuildFrame(id1, id2, payload.data(), static_cast<int>(payload.size()), out.data(),
                             static_cast<int>(out.size()));
    out.resize(n);
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

void PutU16(Bytes& b, int at, uint16_t v) {
    b[at] = v & 0xFF;
    b[at + 1] = v >> 8;
}
void PutU32(Bytes& b, int at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
}
void PutF32(Bytes& b, int at, float f) {
    PutU32(b, at, std::bit_cast<uint32_t>(f));
}
void PutF64(Bytes& b, int at, double d) {
    const uint64_t v = std::bit_cast<uint64_t>(d);
    PutU32(b, at, static_cast<uint32_t>(v));
    PutU32(b, at + 4, static_cast<uint32_t>(v >> 32));
}

std::string Hex(const uint8_t* p, int n) {
    return FormatFrameHex(p, n);
}

// Records each display request with the values the display would read at that moment.
class Recorder : public NullReplyDisplay {
  public:
    const TBinary* bin = nullptr;
    const ReceiverTables* tables = nullptr;
    std::vector<std::string> calls;

    void ShowAck(uint8_t c) override { Add("Ack " + Hex(&c, 1)); }
    void ShowNak(uint8_t c) override { Add("Nak " + Hex(&c, 1)); }
    void ShowClockOffset() override { Add("ClockOffset " + std::to_string(bin->ClockOffset)); }
    void ShowRevision() override {
        std::ostringstream s;
        s << "Revision " << std::string(bin->Revision.Label, 12).c_str() << ' ' << std::hex
          << bin->Revision.Date << ' ' << bin->Revision.Time << ' ' << bin->Revision.Crc;
        Add(s.str());
    }
    void ShowBuiltInTest() override {
        std::ostringstream s;
        s << "BuiltInTest";
        for (int32_t r : bin->TestResults) s << ' ' << r;
        Add(s.str());
    }
    void ShowEphemerisProgress() override {
        Add("Ephemeris " + std::to_string(std::popcount(tables->EphemerisMask)) + " / " +
            std::to_string(tables->EphemerisCount));
    }
    void ShowAlmanacProgress() override {
        Add("Almanac " + std::to_string(std::popcount(tables->AlmanacMask)) + " / " +
            std::to_string(tables->AlmanacCount));
    }
    void ShowModuleId() override {
        Add("ModuleId " + std::to_string(tables->ModuleIds[0]) + " " + std::to_string(tables->ModuleIds[1]));
    }
    void ShowNavigationSetting(const uint8_t* p) override { Add("NavSetting " + Hex(p, 18)); }
    void ShowSystemSetting(const uint8_t* p) override { Add("SystemSetting " + Hex(p, 48)); }
    void ShowTraceStatus() override {
        const TraceStatus& t = bin->Trace;
        Add("Trace " + std::to_string(t.State) + " " + std::to_string(t.UsedPercent) + " " +
            std::to_string(t.Logged) + " " + std::to_string(t.ReadPosition));
    }
    void TraceRecordReceived() override { Add("TraceRecord"); }

  private:
    void Add(std::string s) { calls.push_back(std::move(s)); }
};

struct Rig {
    Recorder rec;
    ReceiverTables tables{};
    TBinary bin{rec, tables};
    Rig() {
        rec.bin = &bin;
        rec.tables = &tables;
    }
    // Feeds like the receive thread: repeated calls until the chunk is used up.
    // Returns the absolute offsets just past each frame end.
    std::vector<size_t> FeedAll(const uint8_t* p, size_t n, size_t base = 0) {
        std::vector<size_t> ends;
        size_t at = 0;
        while (at < n) {
            int ended = 0;
            const int used = bin.Parse(p + at, static_cast<int>(n - at), ended);
            EXPECT_GT(used, 0);
            EXPECT_LE(static_cast<size_t>(used), n - at);
            if (!ended) {
                EXPECT_EQ(static_cast<size_t>(used), n - at);
            }
            at += used;
            if (ended) ends.push_back(base + at);
        }
        return ends;
    }
    std::vector<size_t> FeedAll(const Bytes& b) { return FeedAll(b.data(), b.size()); }
};

using Calls = std::vector<std::string>;

// ---------------------------------------------------------------------------------------------
// Frame parser

struct ParseCase {
    const char* name;
    Bytes input;
    int consumed;
    int ended;
    bool checksumOk;  // looked at only when ended
    Calls calls;
};

TEST(BinaryParser, OneCallOutcomes) {
    const Bytes ack0B = {0x25, 0x25, 0x06, 0x0B, 0x0D, 0x0D, 0x0A};
    const Bytes ack0C = Frame(IdAck, 0x0C);
    const Bytes gga = Text("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n");
    const int n = static_cast<int>(gga.size());
    // clang-format off
    const std::vector<ParseCase> cases = {
        {"clock offset report", {0x25, 0x25, 0xF2, 0x82, 0x12, 0x34, 0x56, 0x0D, 0x0A}, 9, 1, true, {"ClockOffset 13330"}},
        {"bad checksum still ends the frame", {0x25, 0x25, 0xF2, 0x82, 0x12, 0x34, 0x57, 0x0D, 0x0A}, 9, 1, false, {}},
        {"ACK of 0Bh", ack0B, 7, 1, true, {"Ack 0b "}},
        {"ACK with any second byte", Frame(IdAck, 0xE7), 7, 1, true, {"Ack e7 "}},
        {"NAK with any second byte", Frame(IdNak, 0x99), 7, 1, true, {"Nak 99 "}},
        {"F2h 50h notice has no effect", Frame(IdReport, 0x50), 7, 1, true, {}},
        {"F2h 99h dropped at the second identifier", Frame(IdReport, 0x99), 7, 0, false, {}},
        {"unknown report, then a frame", Cat({Frame(IdReport, 0x99), ack0B}), 14, 1, true, {"Ack 0b "}},
        {"command echo dropped at the lookup", Frame(IdCommand, 0x17), 7, 0, false, {}},
        {"bad first identifier", {0x25, 0x25, 0x07, 0x0B, 0x0C, 0x0D, 0x0A}, 7, 0, false, {}},
        {"25 58 25 25 starts at the pair", Cat({{0x25, 0x58}, ack0B}), 9, 1, true, {"Ack 0b "}},
        {"three 25h: third fails as identifier", {0x25, 0x25, 0x25, 0x06, 0x0B, 0x0D, 0x0D, 0x0A}, 8, 0, false, {}},
        {"three 25h, then a pair", Cat({{0x25, 0x25, 0x25}, ack0B}), 10, 1, true, {"Ack 0b "}},
        {"missing CR drops the frame", Cat({{0x25, 0x25, 0x06, 0x0B, 0x0D, 0x0A}, ack0C}), 13, 1, true, {"Ack 0c "}},
        {"missing LF drops the frame", Cat({{0x25, 0x25, 0x06, 0x0B, 0x0D, 0x0D, 0x0D}, ack0C}), 14, 1, true, {"Ack 0c "}},
        {"% in place of CR is not looked at again", Cat({{0x25, 0x25, 0x06, 0x0B, 0x0D}, ack0C}), 12, 0, false, {}},
        {"% in place of LF is not looked at again", Cat({{0x25, 0x25, 0x06, 0x0B, 0x0D, 0x0D}, ack0C}), 13, 0, false, {}},
        {"payload may hold a line end", Frame(IdReport, 0x82, {0x0D, 0x0A}), 9, 1, true, {"ClockOffset 2573"}},
        {"payload may hold markers", Frame(IdReport, 0x82, {0x25, 0x25}), 9, 1, true, {"ClockOffset 9509"}},
        {"checksum byte may be a marker", Frame(IdReport, 0x82, {0x55, 0x00}), 9, 1, true, {"ClockOffset 85"}},
        {"text before the marker is skipped", Cat({Text("junk\r\n"), ack0B}), 13, 1, true, {"Ack 0b "}},
        {"stops right after the line feed", Cat({ack0B, ack0C}), 7, 1, true, {"Ack 0b "}},
        {"sentence after a dropped frame is lost", Cat({Frame(IdReport, 0x99), gga}), 7 + n, 0, false, {}},
        {"sentence lost, next frame returns", Cat({{0x25, 0x25, 0xF2, 0x99}, gga, ack0C}), 4 + n + 7, 1, true, {"Ack 0c "}},
        {"no marker at all", gga, n, 0, false, {}},
    };
    // clang-format on
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        int ended = -1;
        EXPECT_EQ(rig.bin.Parse(c.input.data(), static_cast<int>(c.input.size()), ended), c.consumed);
        EXPECT_EQ(ended, c.ended);
        if (c.ended) {
            EXPECT_EQ(rig.bin.LastChecksumOk(), c.checksumOk);
        }
        EXPECT_EQ(rig.rec.calls, c.calls);
    }
}

TEST(BinaryParser, BadChecksumDecodesNothing) {
    Rig rig;
    rig.bin.ClearTestResults();
    Bytes f = Frame(IdReport, 0x81, Bytes(16, 0x11));
    f[f.size() - 3] ^= 1;
    int ended = 0;
    EXPECT_EQ(rig.bin.Parse(f.data(), static_cast<int>(f.size()), ended), 23);
    EXPECT_EQ(ended, 1);
    EXPECT_FALSE(rig.bin.LastChecksumOk());
    EXPECT_EQ(rig.bin.LastId1(), IdReport);
    EXPECT_EQ(rig.bin.LastId2(), 0x81);
    for (int32_t r : rig.bin.TestResults) EXPECT_EQ(r, -1);
    EXPECT_TRUE(rig.rec.calls.empty());
}

TEST(BinaryParser, NonPositiveLengthConsumesNothing) {
    Rig rig;
    const Bytes ack = Frame(IdAck, 0x21);
    int ended = 1;
    EXPECT_EQ(rig.bin.Parse(ack.data(), 3, ended), 3);
    EXPECT_EQ(ended, 0);
    for (int len : {0, -1, -1000}) {
        ended = 1;
        EXPECT_EQ(rig.bin.Parse(ack.data() + 3, len, ended), 0);
        EXPECT_EQ(ended, 0);
    }
    // The half frame survived the empty calls.
    EXPECT_EQ(rig.bin.Parse(ack.data() + 3, 4, ended), 4);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(rig.rec.calls, (Calls{"Ack 21 "}));
}

// Every row of the table: a frame of the row's length is accepted and reaches its decoder;
// one payload byte too many never ends as a frame.
TEST(BinaryParser, EveryMessageKindAtItsLength) {
    struct Row {
        int index;
        uint8_t id1, id2;
        int length;
        Calls calls;
    };
    // clang-format off
    const std::vector<Row> rows = {
        {0, 0xF2, 0x80, 24, {"Revision \x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01 1010101 1010101 101"}},
        {1, 0xF2, 0x81, 18, {"BuiltInTest 257 257 257 257"}},
        {2, 0xF2, 0x82, 4, {"ClockOffset 257"}},
        {3, 0xF2, 0x83, 124, {"Ephemeris 1 / 1"}},
        {4, 0xF2, 0x84, 52, {"Almanac 1 / 1"}},
        {5, 0xF2, 0x85, 7, {"ModuleId 0 16843009"}},  // kind 1: user key ID
        {6, 0xF2, 0xD0, 43, {}},
        {7, 0xF2, 0xD1, 39, {}},
        {8, 0xF2, 0xD2, 104, {}},
        {9, 0xF2, 0xD3, 154, {}},
        {10, 0xF2, 0xD4, 34, {}},
        {11, 0xF2, 0x88, 20, {"TraceRecord"}},
        {12, 0xF2, 0x89, 9, {"Trace 1 1 257 257"}},
        {13, 0xF2, 0x8A, 13, {"Trace 1 1 16843009 16843009"}},
        {14, 0xF2, 0x86, 20, {"NavSetting " + Hex(Bytes(18, 1).data(), 18)}},
        {15, 0xF2, 0x87, 50, {"SystemSetting " + Hex(Bytes(48, 1).data(), 48)}},
        {16, 0xF2, 0x50, 2, {}},
        {17, 0x06, 0x5A, 2, {"Ack 5a "}},
        {18, 0x15, 0x5A, 2, {"Nak 5a "}},
    };
    // clang-format on
    ASSERT_EQ(rows.size(), 19u);
    EXPECT_EQ(BinaryMessageTable[19].Length, 0);
    for (const Row& r : rows) {
        SCOPED_TRACE("row " + std::to_string(r.index));
        const MessageKind& m = BinaryMessageTable[r.index];
        EXPECT_EQ(m.Id1, r.id1);
        if (r.id1 == 0xF2) {
            EXPECT_EQ(m.Id2, r.id2);
        }
        EXPECT_EQ(m.Length, r.length);
        {
            Rig rig;
            const Bytes f = Frame(r.id1, r.id2, Bytes(r.length - 2, 0x01));
            int ended = 0;
            EXPECT_EQ(rig.bin.Parse(f.data(), static_cast<int>(f.size()), ended), r.length + 5);
            EXPECT_EQ(ended, 1);
            EXPECT_TRUE(rig.bin.LastChecksumOk());
            EXPECT_EQ(rig.bin.LastId1(), r.id1);
            EXPECT_EQ(rig.bin.LastId2(), r.id2);
            EXPECT_EQ(rig.rec.calls, r.calls);
        }
        {
            Rig rig;
            const Bytes f = Frame(r.id1, r.id2, Bytes(r.length - 1, 0x01));
            int ended = 0;
            EXPECT_EQ(rig.bin.Parse(f.data(), static_cast<int>(f.size()), ended), static_cast<int>(f.size()));
            EXPECT_EQ(ended, 0);
            EXPECT_TRUE(rig.rec.calls.empty());
        }
    }
}

// A summary of everything the decoders write, to compare two parses.
std::string Digest(const Rig& rig) {
    const TBinary& b = rig.bin;
    const NavRecord& r = b.Record();
    std::ostringstream s;
    s << b.ClockOffset << ' ' << b.Trace.State << ' ' << b.Trace.Logged << ' ' << b.Revision.Date << ' ';
    for (int32_t t : b.TestResults) s << t << ' ';
    s << int(r.Updated) << ' ' << r.Speed << ' ' << r.Course << ' ' << r.Latitude << r.LatitudeHemisphere
      << ' ' << r.Longitude << r.LongitudeHemisphere << ' ' << r.Altitude << ' ' << r.Year << r.Month << r.Day
      << r.Hour << r.Minute << r.Second << ' ' << r.FixQuality << r.FixMode << ' ' << r.Dop1 << r.Dop2
      << r.Dop3 << ' ' << r.ClockOffset << ' ' << r.MeasurementTime << ' ' << r.Fb << ' ';
    for (int v : r.InView) s << v << ',';
    for (const SatelliteEntry& e : r.Satellites) s << e.Azimuth << e.Cn0 << e.Used << e.Status << ',';
    for (const MeasurementChannel& c : r.Channels) s << c.Prn << c.Pseudorange << c.Doppler << ',';
    s << int(rig.tables.EphemerisCount) << ' ' << rig.tables.EphemerisMask << ' '
      << Hex(rig.tables.EphemerisTable[4], 120);
    for (const std::string& c : rig.rec.calls) s << '|' << c;
    return s.str();
}

Bytes MixedStream() {
    Bytes d3(152), d1(37), d2(102), eph(122);
    for (size_t i = 0; i < d3.size(); ++i) d3[i] = static_cast<uint8_t>(i * 7 + 3);
    for (int i = 0; i < 12; ++i) d2[6 + 8 * i] = static_cast<uint8_t>(i * 6);
    PutU16(d2, 12, 0xFF9C);
    PutF32(d1, 14, -25.5f);
    PutF32(d1, 18, 121.25f);
    d1[8] = 0x05;
    PutU16(d1, 26, 10);
    eph[0] = 9;
    eph[1] = 5;
    eph[60] = 0x25;
    Bytes badCs = Frame(IdReport, 0x82, {0x01, 0x02});
    badCs[6] ^= 0xFF;
    return Cat({Text("$GPRMC,1*00\r\n"),
                Frame(IdReport, 0xD3, d3),
                Frame(IdReport, 0x82, {0x0D, 0x0A}),
                badCs,
                Frame(IdAck, 0x0B),
                Frame(IdReport, 0x99),
                Text("$GPGSA*11\r\n"),
                Frame(IdReport, 0xD1, d1),
                Frame(IdReport, 0xD2, d2),
                Frame(IdReport, 0x83, eph),
                {0x25, 0x25, 0x25},
                Frame(IdNak, 0x17),
                Frame(IdReport, 0x89, {1, 0, 40, 0x10, 0x27, 0, 0})});
}

TEST(BinaryParser, SplitAnywhereMatchesOneCall) {
    const Bytes stream = MixedStream();
    Rig whole;
    const std::vector<size_t> wantEnds = whole.FeedAll(stream);
    ASSERT_EQ(wantEnds.size(), 9u);  // D3 82 bad-82 ACK D1 D2 83 NAK 89
    const std::string want = Digest(whole);

    for (size_t k = 1; k < stream.size(); ++k) {
        SCOPED_TRACE("split at " + std::to_string(k));
        Rig rig;
        std::vector<size_t> ends = rig.FeedAll(stream.data(), k);
        const std::vector<size_t> rest = rig.FeedAll(stream.data() + k, stream.size() - k, k);
        ends.insert(ends.end(), rest.begin(), rest.end());
        EXPECT_EQ(ends, wantEnds);
        EXPECT_EQ(Digest(rig), want);
    }

    Rig bytewise;
    std::vector<size_t> ends;
    for (size_t i = 0; i < stream.size(); ++i) {
        int ended = 0;
        EXPECT_EQ(bytewise.bin.Parse(&stream[i], 1, ended), 1);
        if (ended) ends.push_back(i + 1);
    }
    EXPECT_EQ(ends, wantEnds);
    EXPECT_EQ(Digest(bytewise), want);
}

TEST(BinaryParser, FirstPartOfASplitFrameIsConsumedWhole) {
    Bytes payload(152);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(0x25 + i);
    const Bytes f = Frame(IdReport, 0xD3, payload);
    for (size_t k = 1; k < f.size(); ++k) {
        SCOPED_TRACE("split at " + std::to_string(k));
        Rig rig;
        int ended = -1;
        EXPECT_EQ(rig.bin.Parse(f.data(), static_cast<int>(k), ended), static_cast<int>(k));
        EXPECT_EQ(ended, 0);
        EXPECT_EQ(rig.bin.Parse(f.data() + k, static_cast<int>(f.size() - k), ended),
                  static_cast<int>(f.size() - k));
        EXPECT_EQ(ended, 1);
        EXPECT_TRUE(rig.bin.LastChecksumOk());
        EXPECT_EQ(rig.bin.Record().Updated, 1);
    }
}

// ---------------------------------------------------------------------------------------------
// Decoders

void Send(Rig& rig, uint8_t id2, const Bytes& payload) {
    const Bytes f = Frame(IdReport, id2, payload);
    const std::vector<size_t> ends = rig.FeedAll(f);
    ASSERT_EQ(ends.size(), 1u);
    ASSERT_TRUE(rig.bin.LastChecksumOk());
}

TEST(BinaryDecoders, RecordsStartZeroedAndSendResetsThem) {
    Rig rig;
    for (int32_t r : rig.bin.TestResults) EXPECT_EQ(r, 0);
    EXPECT_EQ(rig.bin.Revision.Date, 0u);
    EXPECT_EQ(rig.bin.ClockOffset, 0);
    EXPECT_EQ(rig.bin.Record().Updated, 0);

    rig.bin.ClearTestResults();
    for (int32_t r : rig.bin.TestResults) EXPECT_EQ(r, -1);
    Send(rig, 0x82, {0x34, 0x12});
    rig.bin.ClearClockOffset();
    EXPECT_EQ(rig.bin.ClockOffset, 0);
}

TEST(BinaryDecoders, RevisionAndTestReports) {
    Rig rig;
    Bytes rev(22);
    std::memcpy(rev.data(), "VTR 1.8 GPS!", 12);
    rev[12] = 0x05, rev[13] = 0x12, rev[14] = 0x07, rev[15] = 0x00;
    PutU32(rev, 16, 0x00153042);
    PutU16(rev, 20, 0xBEEF);
    Send(rig, 0x80, rev);
    EXPECT_EQ(std::string(rig.bin.Revision.Label, 12), "VTR 1.8 GPS!");
    EXPECT_EQ(rig.bin.Revision.Date, 0x00071205u);
    EXPECT_EQ(rig.bin.Revision.Time, 0x00153042u);
    EXPECT_EQ(rig.bin.Revision.Crc, 0xBEEF);

    struct Case {
        uint16_t wire[4];
        int32_t want[4];
    };
    for (const Case& c : {Case{{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}, {65535, 65535, 65535, 65535}},
                          Case{{0, 1, 0x7FFF, 0x8000}, {0, 1, 32767, 32768}}}) {
        rig.bin.ClearTestResults();
        Bytes p(16, 0xEE);  // bytes 8..15 are not results
        for (int k = 0; k < 4; ++k) PutU16(p, 2 * k, c.wire[k]);
        Send(rig, 0x81, p);
        for (int k = 0; k < 4; ++k) EXPECT_EQ(rig.bin.TestResults[k], c.want[k]);
    }
    EXPECT_EQ(rig.rec.calls, (Calls{"Revision VTR 1.8 GPS! 71205 153042 beef",
                                    "BuiltInTest 65535 65535 65535 65535", "BuiltInTest 0 1 32767 32768"}));
}

TEST(BinaryDecoders, EphemerisAndAlmanacRecords) {
    struct Kind {
        uint8_t id2;
        int block;
        const char* show;
        uint8_t (*table)(ReceiverTables&, int, int);
        uint8_t ReceiverTables::*count;
        uint32_t ReceiverTables::*mask;
    };
    const Kind kinds[] = {
        {0x83, 120, "Ephemeris", [](ReceiverTables& t, int s, int i) { return t.EphemerisTable[s][i]; },
         &ReceiverTables::EphemerisCount, &ReceiverTables::EphemerisMask},
        {0x84, 48, "Almanac", [](ReceiverTables& t, int s, int i) { return t.AlmanacTable[s][i]; },
         &ReceiverTables::AlmanacCount, &ReceiverTables::AlmanacMask},
    };
    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.show);
        auto rig = std::make_unique<Rig>();
        auto record = [&](uint8_t count, uint8_t sat, uint8_t fill) {
            Bytes p(k.block + 2, fill);
            p[0] = count;
            p[1] = sat;
            p[2] = 0xA0;            // first byte of the block
            p[k.block + 1] = 0xA1;  // last byte of the block
            Send(*rig, k.id2, p);
        };
        record(9, 3, 0x33);
        record(9, 5, 0x55);
        record(9, 3, 0x77);  // overwrites satellite 3
        EXPECT_EQ(rig->tables.*k.mask, 0x14u);
        EXPECT_EQ(rig->tables.*k.count, 9);
        EXPECT_EQ(k.table(rig->tables, 2, 0), 0xA0);
        EXPECT_EQ(k.table(rig->tables, 2, 1), 0x77);
        EXPECT_EQ(k.table(rig->tables, 2, k.block - 1), 0xA1);
        EXPECT_EQ(k.table(rig->tables, 4, 1), 0x55);
        EXPECT_EQ(k.table(rig->tables, 3, 1), 0);  // neighbours untouched
        record(9, 32, 0x20);
        record(9, 1, 0x01);
        EXPECT_EQ(rig->tables.*k.mask, 0x80000015u);
        EXPECT_EQ(k.table(rig->tables, 31, 1), 0x20);

        // Out-of-range satellites have no block: dropped whole, count included.
        const auto tableBefore = std::make_unique<ReceiverTables>(rig->tables);
        const size_t shown = rig->rec.calls.size();
        for (uint8_t sat : {0, 33, 64, 255}) record(77, sat, 0xEE);
        EXPECT_EQ(std::memcmp(tableBefore->EphemerisTable, rig->tables.EphemerisTable,
                              sizeof rig->tables.EphemerisTable),
                  0);
        EXPECT_EQ(
            std::memcmp(tableBefore->AlmanacTable, rig->tables.AlmanacTable, sizeof rig->tables.AlmanacTable),
            0);
        EXPECT_EQ(rig->tables.*k.count, 9);
        EXPECT_EQ(rig->tables.*k.mask, 0x80000015u);
        EXPECT_EQ(rig->rec.calls.size(), shown);
        const std::string s = k.show;
        EXPECT_EQ(rig->rec.calls,
                  (Calls{s + " 1 / 9", s + " 2 / 9", s + " 2 / 9", s + " 3 / 9", s + " 4 / 9"}));
    }
}

TEST(BinaryDecoders, ModuleIdKinds) {
    Rig rig;
    const auto id = [&](uint8_t kind, uint32_t value) {
        Bytes p(5);
        p[0] = kind;
        PutU32(p, 1, value);
        Send(rig, 0x85, p);
    };
    id(0, 0x12345678);
    id(1, 0xFFFFFFFE);
    for (uint8_t bad : {2, 0x80, 0xFF}) id(bad, 7);  // outside the two IDs: dropped
    EXPECT_EQ(rig.tables.ModuleIds[0], 0x12345678);
    EXPECT_EQ(rig.tables.ModuleIds[1], -2);
    EXPECT_EQ(rig.rec.calls, (Calls{"ModuleId 305419896 0", "ModuleId 305419896 -2"}));
}

TEST(BinaryDecoders, TraceAndSettingReports) {
    Rig rig;
    Send(rig, 0x89, {2, 9, 55, 0x34, 0x12, 0xFF, 0xFF});
    Bytes lng = {1, 0, 100, 0, 0, 0, 0, 0, 0, 0, 0};
    PutU32(lng, 3, 70000);
    PutU32(lng, 7, 0x01020304);
    Send(rig, 0x8A, lng);
    Send(rig, 0x88, Bytes(18, 0x42));
    Send(rig, 0x88, Bytes(18, 0x43));
    Bytes nav(18), sys(48);
    for (int i = 0; i < 18; ++i) nav[i] = static_cast<uint8_t>(i + 1);
    for (int i = 0; i < 48; ++i) sys[i] = static_cast<uint8_t>(0xFF - i);
    Send(rig, 0x86, nav);
    Send(rig, 0x87, sys);
    Send(rig, 0x50, {});
    EXPECT_EQ(rig.rec.calls,
              (Calls{"Trace 2 55 4660 65535", "Trace 1 100 70000 16909060", "TraceRecord", "TraceRecord",
                     "NavSetting " + Hex(nav.data(), 18), "SystemSetting " + Hex(sys.data(), 48)}));
}

TEST(BinaryDecoders, NavD0RawBlock) {
    Rig rig;
    Bytes d1(37);
    PutF32(d1, 14, -1.0f);
    PutF32(d1, 18, -1.0f);
    Send(rig, 0xD1, d1);  // hemispheres S and W
    Bytes p(41, 0x5A);
    p[6] = 31, p[7] = 12;
    PutU16(p, 8, static_cast<uint16_t>(-3));
    p[10] = 58, p[11] = 59, p[12] = 23;
    PutF32(p, 14, 2530.125f);
    PutF32(p, 18, 12115.5f);
    PutU16(p, 22, static_cast<uint16_t>(-12));
    PutU16(p, 24, 359);
    PutU16(p, 26, 1234);
    p[28] = 5, p[29] = 3, p[30] = 11, p[31] = 9, p[33] = 2, p[34] = 17, p[35] = 255;
    Send(rig, 0xD0, p);
    const NavRecord& r = rig.bin.Record();
    EXPECT_EQ(r.Day, 31);
    EXPECT_EQ(r.Month, 12);
    EXPECT_EQ(r.Year, -3);
    EXPECT_EQ(r.Second, 58);
    EXPECT_EQ(r.Minute, 59);
    EXPECT_EQ(r.Hour, 23);
    EXPECT_EQ(r.Latitude, 2530.125f);
    EXPECT_EQ(r.Longitude, 12115.5f);
    EXPECT_EQ(r.LatitudeHemisphere, 'S');
    EXPECT_EQ(r.LongitudeHemisphere, 'W');
    EXPECT_EQ(r.Altitude, -12);
    EXPECT_EQ(r.Course, 359);
    EXPECT_EQ(r.Speed, 1234);
    EXPECT_EQ(r.FixQuality, 5);
    EXPECT_EQ(r.FixMode, 3);
    EXPECT_EQ(r.SatellitesInView, 11);
    EXPECT_EQ(r.SatellitesUsed, 9);
    EXPECT_EQ(r.Dop1, 2.0f);
    EXPECT_EQ(r.Dop2, 17.0f);
    EXPECT_EQ(r.Dop3, 255.0f);
    EXPECT_EQ(r.Updated, 1);
    EXPECT_TRUE(rig.rec.calls.empty());
}

TEST(BinaryDecoders, NavD1Conversions) {
    struct Case {
        const char* name;
        float lat, lon, latOut;
        char latHem;
        float lonOut;
        char lonHem;
        uint8_t bcd[6];  // day, month, year, second, minute, hour
        int32_t date[6];
        int16_t speedMs, speedKmh;
        uint8_t dop;
        float dopOut;
    };
    // clang-format off
    const Case cases[] = {
        {"southern, eastern", -25.5f, 121.25f, 2530.0f, 'S', 12115.0f, 'E',
         {0x31, 0x12, 0x05, 0x00, 0x59, 0x23}, {31, 12, 5, 0, 59, 23}, 10, 36, 15, 1.5f},
        {"zero is north and east", 0.0f, 0.0f, 0.0f, 'N', 0.0f, 'E',
         {0x01, 0x01, 0x99, 0x59, 0x00, 0x00}, {1, 1, 99, 59, 0, 0}, 3, 10, 0, 0.0f},
        {"western, under one degree south", -0.5f, -179.75f, 30.0f, 'S', 17945.0f, 'W',
         {0x15, 0x06, 0x00, 0x30, 0x45, 0x12}, {15, 6, 0, 30, 45, 12}, -3, -10, 255, 25.5f},
        {"northern, just west; speed held at the km/h limit", 45.0f, -0.25f, 4500.0f, 'N', 15.0f, 'W',
         {0x09, 0x09, 0x10, 0x09, 0x10, 0x19}, {9, 9, 10, 9, 10, 19}, 32767, 32767, 1, 0.1f},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        Send(rig, 0xD3, Bytes(152));
        ASSERT_EQ(rig.bin.Record().Updated, 1);
        Bytes p(37);
        p[6] = c.bcd[0], p[7] = c.bcd[1], p[8] = c.bcd[2], p[10] = c.bcd[3], p[11] = c.bcd[4],
        p[12] = c.bcd[5];
        PutF32(p, 14, c.lat);
        PutF32(p, 18, c.lon);
        PutU16(p, 22, 321);
        PutU16(p, 24, 180);
        PutU16(p, 26, static_cast<uint16_t>(c.speedMs));
        p[28] = 1, p[29] = 2, p[30] = 12, p[31] = 7, p[33] = c.dop, p[34] = c.dop, p[35] = c.dop;
        Send(rig, 0xD1, p);
        const NavRecord& r = rig.bin.Record();
        EXPECT_FLOAT_EQ(r.Latitude, c.latOut);
        EXPECT_EQ(r.LatitudeHemisphere, c.latHem);
        EXPECT_FLOAT_EQ(r.Longitude, c.lonOut);
        EXPECT_EQ(r.LongitudeHemisphere, c.lonHem);
        const int32_t got[6] = {r.Day, r.Month, r.Year, r.Second, r.Minute, r.Hour};
        for (int i = 0; i < 6; ++i) EXPECT_EQ(got[i], c.date[i]) << "field " << i;
        EXPECT_EQ(r.Speed, c.speedKmh);
        EXPECT_EQ(r.Altitude, 321);
        EXPECT_EQ(r.Course, 180);
        EXPECT_EQ(r.FixQuality, 1);
        EXPECT_EQ(r.FixMode, 2);
        EXPECT_EQ(r.SatellitesInView, 12);
        EXPECT_EQ(r.SatellitesUsed, 7);
        EXPECT_FLOAT_EQ(r.Dop1, c.dopOut);
        EXPECT_FLOAT_EQ(r.Dop3, c.dopOut);
        EXPECT_EQ(r.Updated, 0);  // D1h alone does not ask for a redraw
    }
}

TEST(BinaryDecoders, NavD2SatelliteStatus) {
    Rig rig;
    auto block = [](Bytes& p, int i, uint8_t sat, uint8_t health, int16_t az, uint8_t elv, uint8_t cn0,
                    uint16_t status) {
        uint8_t* b = p.data() + 6 + 8 * i;
        b[0] = sat, b[1] = health, b[2] = static_cast<uint16_t>(az) & 0xFF,
        b[3] = static_cast<uint16_t>(az) >> 8;
        b[4] = elv, b[5] = cn0, b[6] = status & 0xFF, b[7] = status >> 8;
    };
    Bytes first(102);
    for (int i = 0; i < 12; ++i) block(first, i, static_cast<uint8_t>(20 + i), 0, 10, 10, 40, 0);
    Send(rig, 0xD2, first);

    Bytes p(102);
    block(p, 0, 0, 1, 1, 1, 1, 0x100);  // skipped
    block(p, 1, 5, 0, 270, 45, 42, 0x0100);
    block(p, 2, 64, 1, 1, 1, 1, 0x100);  // skipped
    block(p, 3, 12, 3, -100, 7, 30, 0xFEFF);
    block(p, 4, 0xFF, 1, 1, 1, 1, 0x100);  // skipped
    block(p, 5, 63, 0, 359, 90, 50, 0x0301);
    for (int i = 6; i < 12; ++i) block(p, i, 0, 9, 9, 9, 9, 0xFFFF);
    Send(rig, 0xD3, Bytes(152));
    Send(rig, 0xD2, p);

    const NavRecord& r = rig.bin.Record();
    const int32_t wantView[16] = {5, 12, 63, 23, 24, 25, 26, 27, 28, 29, 30, 31, 0, 0, 0, 0};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(r.InView[i], wantView[i]) << "slot " << i;
    struct Want {
        int sat, health, elv, az, cn0, used;
        uint16_t status;
    };
    for (const Want& w :
         {Want{5, 0, 45, 270, 42, 1, 0x0100}, Want{12, 3, 7, -100, 30, 0, 0xFEFF},
          Want{63, 0, 90, 359, 50, 1, 0x0301}, Want{20, 0, 10, 10, 40, 0, 0}, Want{64, 0, 0, 0, 0, 0, 0}}) {
        SCOPED_TRACE("satellite " + std::to_string(w.sat));
        const SatelliteEntry& s = r.Satellites[w.sat - 1];
        EXPECT_EQ(s.Health, w.health);
        EXPECT_EQ(s.Elevation, w.elv);
        EXPECT_EQ(s.Azimuth, w.az);
        EXPECT_EQ(s.Cn0, w.cn0);
        EXPECT_EQ(s.Used, w.used);
        EXPECT_EQ(s.Status, w.status);
    }
    EXPECT_EQ(r.Updated, 0);
    EXPECT_TRUE(rig.rec.calls.empty());
}

TEST(BinaryDecoders, NavD3AndD4Measurements) {
    Rig rig;
    Bytes d3(152, 0xCC);
    PutU16(d3, 6, 65000);
    for (int i = 0; i < 12; ++i) {
        const int at = 8 + 12 * i;
        d3[at] = static_cast<uint8_t>(i == 11 ? 200 : i + 1);
        PutU32(d3, at + 2, static_cast<uint32_t>(-20000000 - i));
        PutU32(d3, at + 6, static_cast<uint32_t>(1000 * i));
        PutU16(d3, at + 10, static_cast<uint16_t>(-30000 + i));
    }
    Send(rig, 0xD3, d3);
    const NavRecord& r = rig.bin.Record();
    EXPECT_EQ(r.ClockOffset, 65000);
    for (int i = 0; i < 12; ++i) {
        SCOPED_TRACE("channel " + std::to_string(i));
        EXPECT_EQ(r.Channels[i].Prn, i == 11 ? 200 : i + 1);
        EXPECT_EQ(r.Channels[i].Pseudorange, -20000000 - i);
        EXPECT_EQ(r.Channels[i].DeltaRange, 1000 * i);
        EXPECT_EQ(r.Channels[i].Doppler, -30000 + i);
    }
    EXPECT_EQ(r.Updated, 1);

    rig.bin.Record().Updated = 0;
    Bytes d4(32);
    PutF64(d4, 0, 302400.125);
    PutF64(d4, 8, -1.5e-7);
    PutF64(d4, 16, 12345.678);
    PutF32(d4, 24, -0.75f);
    d4[28] = 1, d4[29] = 2, d4[30] = 3, d4[31] = 4;
    Send(rig, 0xD4, d4);
    EXPECT_EQ(r.MeasurementTime, 302400.125);
    EXPECT_EQ(r.Cb, -1.5e-7);
    EXPECT_EQ(r.Tb, 12345.678);
    EXPECT_EQ(r.Fb, -0.75f);
    EXPECT_EQ(Hex(r.Spare, 4), "01 02 03 04 ");
    EXPECT_EQ(r.Updated, 1);
    EXPECT_EQ(r.ClockOffset, 65000);  // D4h leaves D3h's fields alone
    EXPECT_TRUE(rig.rec.calls.empty());
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
