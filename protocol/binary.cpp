#include "protocol/binary.h"

#include "protocol/le_bytes.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vantora {

constexpr MessageKind BinaryMessageTable[20] = {
    {0xF2, 0x80, 24}, {0xF2, 0x81, 18}, {0xF2, 0x82, 4},  {0xF2, 0x83, 124}, {0xF2, 0x84, 52},
    {0xF2, 0x85, 7},  {0xF2, 0xD0, 43}, {0xF2, 0xD1, 39}, {0xF2, 0xD2, 104}, {0xF2, 0xD3, 154},
    {0xF2, 0xD4, 34}, {0xF2, 0x88, 20}, {0xF2, 0x89, 9},  {0xF2, 0x8A, 13},  {0xF2, 0x86, 20},
    {0xF2, 0x87, 50}, {0xF2, 0x50, 2},  {IdAck, 0, 2},    {IdNak, 0, 2},     {0, 0, 0},
};

namespace {

constexpr int MessageCount = 19;

constexpr bool TableFitsBuffer() {
    for (const MessageKind& m : BinaryMessageTable)
        if (m.Length > TBinary::BufferSize) return false;
    return true;
}
static_assert(TableFitsBuffer(), "every accepted message must fit the frame buffer");
static_assert(BinaryMessageTable[MessageCount].Length == 0, "the table ends with a zero-length row");

using le::F32;
using le::F64;
using le::S16;
using le::S32;
using le::U16;
using le::U32;

inline int32_t Bcd(uint8_t b) {
    return (b >> 4) * 10 + (b & 15);
}

// Signed degrees to degrees x 100 + minutes, still signed.
inline double DegreesToDdmm(double x) {
    const double t = std::trunc(x);
    return t * 100.0 + (x - t) * 60.0;
}

}  // namespace

TBinary::TBinary(ReplyDisplay& owner, ReceiverTables& tables) : owner_(owner), tables_(tables) {}

int TBinary::Lookup(uint8_t id1, uint8_t id2) {
    const bool anySecond = id1 == IdAck || id1 == IdNak;
    for (int i = 0; BinaryMessageTable[i].Length != 0; ++i) {
        const MessageKind& m = BinaryMessageTable[i];
        if (m.Id1 == id1 && (anySecond || m.Id2 == id2)) return i;
    }
    return -1;
}

bool TBinary::DecodeFrame(const uint8_t* frame, int size) {
    lastChecksumOk_ = false;
    if (frame == nullptr || size < 7) return false;
    matched_ = Lookup(frame[2], frame[3]);
    expected_ = size - 5;
    if (matched_ < 0 || expected_ != BinaryMessageTable[matched_].Length) return false;
    // Decoded where the lexer holds it; only the identifiers are kept for LastId1/LastId2.
    lastIds_[0] = frame[2];
    lastIds_[1] = frame[3];
    lastChecksumOk_ = XorChecksum(frame + 2, expected_) == frame[2 + expected_];
    if (lastChecksumOk_) Dispatch(matched_, frame + 2, expected_);
    return lastChecksumOk_;
}

void TBinary::Dispatch(int index, const uint8_t* message, int length) {
    // Public entry: refuse anything but a whole message of a known kind.
    if (message == nullptr || index < 0 || index >= MessageCount ||
        length != BinaryMessageTable[index].Length)
        return;
    const uint8_t* p = message + 2;
    switch (index) {
        case MsgRevision:
            DecodeRevision(p);
            break;
        case MsgBuiltInTest:
            DecodeBuiltInTest(p);
            break;
        case MsgClockOffset:
            ClockOffset = U16(p);
            owner_.ShowClockOffset();
            break;
        case MsgEphemeris:
            DecodeEphemeris(p);
            break;
        case MsgAlmanac:
            DecodeAlmanac(p);
            break;
        case MsgModuleId:
            DecodeModuleId(p);
            break;
        case MsgNavD0:
            DecodeNavD0(p);
            break;
        case MsgNavD1:
            DecodeNavD1(p);
            break;
        case MsgNavD2:
            DecodeNavD2(p);
            break;
        case MsgNavD3:
            DecodeNavD3(p);
            break;
        case MsgNavD4:
            DecodeNavD4(p);
            break;
        case MsgTraceData:
            owner_.TraceRecordReceived();
            break;
        case MsgTraceStatusShort:
            DecodeTraceStatus(p, false);
            break;
        case MsgTraceStatusLong:
            DecodeTraceStatus(p, true);
            break;
        case MsgNavSetting:
            owner_.ShowNavigationSetting(p);
            break;
        case MsgSystemSetting:
            owner_.ShowSystemSetting(p);
            break;
        case MsgNotice50:
            break;
        case MsgAck:
            owner_.ShowAck(message[1]);
            break;
        case MsgNak:
            owner_.ShowNak(message[1]);
            break;
    }
}

void TBinary::DecodeRevision(const uint8_t* p) {
    std::memcpy(Revision.Label, p, sizeof Revision.Label);
    Revision.Date = U32(p + 12);
    Revision.Time = U32(p + 16);
    Revision.Crc = U16(p + 20);
    owner_.ShowRevision();
}

void TBinary::DecodeBuiltInTest(const uint8_t* p) {
    // Zero-extended: no wire value can read as the "none" marker -1.
    for (int k = 0; k < 4; ++k) TestResults[k] = U16(p + 2 * k);
    owner_.ShowBuiltInTest();
}

void TBinary::DecodeEphemeris(const uint8_t* p) {
    const int n = p[1];
    if (n < 1 || n > 32) return;  // no block for it: drop the record whole
    tables_.EphemerisCount = p[0];
    tables_.EphemerisMask |= 1u << (n - 1);
    std::memcpy(tables_.EphemerisTable[n - 1], p + 2, sizeof tables_.EphemerisTable[0]);
    owner_.ShowEphemerisProgress();
}

void TBinary::DecodeAlmanac(const uint8_t* p) {
    const int n = p[1];
    if (n < 1 || n > 32) return;
    tables_.AlmanacCount = p[0];
    tables_.AlmanacMask |= 1u << (n - 1);
    std::memcpy(tables_.AlmanacTable[n - 1], p + 2, sizeof tables_.AlmanacTable[0]);
    owner_.ShowAlmanacProgress();
}

void TBinary::DecodeModuleId(const uint8_t* p) {
    const int kind = static_cast<int8_t>(p[0]);
    if (kind != 0 && kind != 1) return;
    tables_.ModuleIds[kind] = static_cast<int32_t>(U32(p + 1));
    owner_.ShowModuleId();
}

void TBinary::DecodeNavD0(const uint8_t* p) {
    NavRecord& r = nav_;
    r.Day = p[6];
    r.Month = p[7];
    r.Year = S16(p + 8);
    r.Second = p[10];
    r.Minute = p[11];
    r.Hour = p[12];
    r.Latitude = F32(p + 14);
    r.Longitude = F32(p + 18);
    r.Altitude = S16(p + 22);
    r.Course = S16(p + 24);
    r.Speed = S16(p + 26);
    r.FixQuality = p[28];
    r.FixMode = p[29];
    r.SatellitesInView = p[30];
    r.SatellitesUsed = p[31];
    r.Dop1 = p[33];
    r.Dop2 = p[34];
    r.Dop3 = p[35];
    r.Updated = 1;
}

void TBinary::DecodeNavD1(const uint8_t* p) {
    NavRecord& r = nav_;
    r.Day = Bcd(p[6]);
    r.Month = Bcd(p[7]);
    r.Year = Bcd(p[8]);
    r.Second = Bcd(p[10]);
    r.Minute = Bcd(p[11]);
    r.Hour = Bcd(p[12]);
    const double lat = DegreesToDdmm(F32(p + 14));
    r.Latitude = static_cast<float>(std::fabs(lat));
    r.LatitudeHemisphere = lat < 0 ? 'S' : 'N';
    const double lon = DegreesToDdmm(F32(p + 18));
    r.Longitude = static_cast<float>(std::fabs(lon));
    r.LongitudeHemisphere = lon < 0 ? 'W' : 'E';
    r.Altitude = S16(p + 22);
    r.Course = S16(p + 24);
    // m/s to km/h; beyond 9102 m/s the km/h value cannot be held, so it is held at the limit.
    const int kmh = S16(p + 26) * 3600 / 1000;
    r.Speed = static_cast<int16_t>(std::clamp(kmh, -32768, 32767));
    r.FixQuality = p[28];
    r.FixMode = p[29];
    r.SatellitesInView = p[30];
    r.SatellitesUsed = p[31];
    r.Dop1 = static_cast<float>(p[33] * 0.1);
    r.Dop2 = static_cast<float>(p[34] * 0.1);
    r.Dop3 = static_cast<float>(p[35] * 0.1);
    // D1h alone triggers no display; the next block that sets the flag does.
    r.Updated = 0;
}

void TBinary::DecodeNavD2(const uint8_t* p) {
    NavRecord& r = nav_;
    int slot = 0;  // 12 blocks at most, so never past the 16 in-view slots
    for (int i = 0; i < 12; ++i) {
        const uint8_t* b = p + 6 + 8 * i;
        const int n = b[0];
        if (n < 1 || n > 63) continue;
        r.InView[slot++] = n;
        SatelliteEntry& s = r.Satellites[n - 1];
        const uint16_t status = U16(b + 6);
        s.Health = b[1];
        s.Elevation = b[4];
        s.Azimuth = S16(b + 2);
        s.Cn0 = b[5];
        s.Used = (status >> 8) & 1;
        s.Status = status;
    }
    r.Updated = 0;
}

void TBinary::DecodeNavD3(const uint8_t* p) {
    NavRecord& r = nav_;
    r.ClockOffset = U16(p + 6);
    for (int i = 0; i < 12; ++i) {
        const uint8_t* b = p + 8 + 12 * i;
        MeasurementChannel& c = r.Channels[i];
        c.Prn = b[0];
        c.Pseudorange = S32(b + 2);
        c.DeltaRange = S32(b + 6);
        c.Doppler = S16(b + 10);
    }
    r.Updated = 1;
}

void TBinary::DecodeNavD4(const uint8_t* p) {
    NavRecord& r = nav_;
    r.MeasurementTime = F64(p);
    r.Cb = F64(p + 8);
    r.Tb = F64(p + 16);
    r.Fb = F32(p + 24);
    std::memcpy(r.Spare, p + 28, sizeof r.Spare);
    r.Updated = 1;
}

void TBinary::DecodeTraceStatus(const uint8_t* p, bool longForm) {
    Trace.State = p[0];
    Trace.UsedPercent = p[2];
    if (longForm) {
        Trace.Logged = static_cast<int32_t>(U32(p + 3));
        Trace.ReadPosition = static_cast<int32_t>(U32(p + 7));
    } else {
        Trace.Logged = U16(p + 3);
        Trace.ReadPosition = U16(p + 5);
    }
    owner_.ShowTraceStatus();
}

}  // namespace vantora
