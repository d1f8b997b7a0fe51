#include "sim/reports.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "protocol/frame.h"
#include "protocol/nav_record.h"

namespace vantora::sim {

namespace {

int FixQualityCode(const ScenarioState& st) {
    if (st.Fix == FixKind::None) return QualityNoFix;
    return st.Differential ? QualityDifferential : QualityGps;
}

int FixModeCode(const ScenarioState& st) {
    if (st.Fix == FixKind::None) return ModeNoFix;
    if (st.Fix == FixKind::Fix2D) return Mode2D;
    return st.Differential ? Mode3DPlus : Mode3D;
}

// ddmm.mmmm of the absolute value, as the record keeps positions.
float DegMinValue(double deg) {
    double a = std::fabs(deg);
    double d = std::floor(a);
    return static_cast<float>(d * 100.0 + (a - d) * 60.0);
}

int Clamp8(double v) {
    return std::clamp(static_cast<int>(std::lround(v)), 0, 255);
}

// GPS week and time of week, which every block carries in its leading bytes.
void PutTime(Payload& p, const ScenarioState& st) {
    UtcTime u = UtcOf(st.UnixMs);
    p.U16(0, static_cast<uint32_t>(u.GpsWeek));
    p.U32(2, static_cast<uint32_t>(u.TowMs));
}

int Doppler(const SimSatellite& s, int64_t unixMs) {
    double t = static_cast<double>(unixMs % 86400000) / 1000.0;
    return static_cast<int>(3500.0 * std::cos(s.Elevation * Pi / 180.0) * std::sin(s.Prn * 1.7 + t / 900.0));
}

int32_t Pseudorange(const SimSatellite& s) {
    const double r = EarthRadius, h = 20200000.0;
    double se = std::sin(s.Elevation * Pi / 180.0);
    double range = std::sqrt((r + h) * (r + h) - r * r * (1.0 - se * se)) - r * se;
    return static_cast<int32_t>(range);
}

uint32_t Word(uint32_t seed, int prn, int kind, int i) {
    return static_cast<uint32_t>(Noise(seed, static_cast<uint64_t>(prn) << 8 | kind, i) * 4294967296.0);
}

}  // namespace

uint8_t Bcd(int v) {
    v = std::clamp(v, 0, 99);
    return static_cast<uint8_t>((v / 10) << 4 | (v % 10));
}

void Payload::Int(int at, uint64_t v, int n) {
    if (at < 0 || at + n > size_ || at + n > static_cast<int>(sizeof bytes_)) return;
    for (int i = 0; i < n; ++i) bytes_[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void Payload::F32(int at, float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    Int(at, bits, 4);
}

void Payload::F64(int at, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    Int(at, bits, 8);
}

std::string Frame(uint8_t id1, uint8_t id2, const Payload& payload) {
    uint8_t buf[MaxFrameLength];
    int n = BuildFrame(id1, id2, payload.Data(), payload.Size(), buf, sizeof buf);
    return std::string(reinterpret_cast<const char*>(buf), static_cast<size_t>(n));
}

std::string AckFrame(uint8_t command) {
    return Frame(IdAck, command, Payload(0));
}
std::string NakFrame(uint8_t command) {
    return Frame(IdNak, command, Payload(0));
}

std::string NavD0(const ScenarioState& st) {
    Payload p(41);
    UtcTime u = UtcOf(st.UnixMs);
    PutTime(p, st);
    p.U8(6, u.Day);
    p.U8(7, u.Month);
    p.U16(8, static_cast<uint32_t>(u.Year));
    p.U8(10, u.Second);
    p.U8(11, u.Minute);
    p.U8(12, u.Hour);
    p.U8(13, u.Millisecond / 10);
    p.F32(14, DegMinValue(st.LatitudeDeg));
    p.F32(18, DegMinValue(st.LongitudeDeg));
    p.U16(22, static_cast<uint16_t>(static_cast<int16_t>(std::lround(st.AltitudeM))));
    p.U16(24, static_cast<uint16_t>(std::lround(st.CourseDeg) % 360));
    p.U16(26, static_cast<uint16_t>(std::lround(st.SpeedMps * 3.6)));
    p.U8(28, FixQualityCode(st));
    p.U8(29, FixModeCode(st));
    p.U8(30, st.InView);
    p.U8(31, st.Used);
    p.U8(32, Clamp8(st.Gdop));
    p.U8(33, Clamp8(st.Pdop));
    p.U8(34, Clamp8(st.Hdop));
    p.U8(35, Clamp8(st.Vdop));
    p.U8(36, st.LatitudeDeg < 0 ? 'S' : 'N');
    p.U8(37, st.LongitudeDeg < 0 ? 'W' : 'E');
    return Frame(IdReport, 0xD0, p);
}

std::string NavD1(const ScenarioState& st) {
    Payload p(37);
    UtcTime u = UtcOf(st.UnixMs);
    PutTime(p, st);
    p.U8(6, Bcd(u.Day));
    p.U8(7, Bcd(u.Month));
    p.U8(8, Bcd(u.Year % 100));
    p.U8(9, Bcd(u.Year / 100));
    p.U8(10, Bcd(u.Second));
    p.U8(11, Bcd(u.Minute));
    p.U8(12, Bcd(u.Hour));
    p.F32(14, static_cast<float>(st.LatitudeDeg));
    p.F32(18, static_cast<float>(st.LongitudeDeg));
    p.U16(22, static_cast<uint16_t>(static_cast<int16_t>(std::lround(st.AltitudeM))));
    p.U16(24, static_cast<uint16_t>(std::lround(st.CourseDeg) % 360));
    p.U16(26, static_cast<uint16_t>(std::lround(st.SpeedMps)));
    p.U8(28, FixQualityCode(st));
    p.U8(29, FixModeCode(st));
    p.U8(30, st.InView);
    p.U8(31, st.Used);
    p.U8(32, Clamp8(st.Gdop * 10));
    p.U8(33, Clamp8(st.Pdop * 10));
    p.U8(34, Clamp8(st.Hdop * 10));
    p.U8(35, Clamp8(st.Vdop * 10));
    return Frame(IdReport, 0xD1, p);
}

std::string NavD2(const ScenarioState& st) {
    Payload p(102);
    PutTime(p, st);
    for (int i = 0; i < 12 && i < st.InView; ++i) {
        const SimSatellite& s = st.Sats[i];
        int at = 6 + 8 * i;
        p.U8(at, s.Prn);
        p.U8(at + 1, 0);  // healthy
        p.U16(at + 2, static_cast<uint16_t>(s.Azimuth));
        p.U8(at + 4, s.Elevation);
        p.U8(at + 5, s.Cn0);
        // bits 0..2 acquired, bit-synchronised, frame-synchronised; bit 8 used in the solution
        p.U16(at + 6, 0x0007u | (s.Used ? 0x0100u : 0u));
    }
    return Frame(IdReport, 0xD2, p);
}

std::string NavD3(const ScenarioState& st) {
    Payload p(152);
    PutTime(p, st);
    p.U16(6, static_cast<uint16_t>(st.ClockDrift));
    for (int i = 0; i < 12 && i < st.InView; ++i) {
        const SimSatellite& s = st.Sats[i];
        int at = 8 + 12 * i;
        int doppler = Doppler(s, st.UnixMs);
        p.U8(at, s.Prn);
        p.U8(at + 1, i);  // channel
        p.U32(at + 2, static_cast<uint32_t>(Pseudorange(s)));
        p.U32(at + 6, static_cast<uint32_t>(-doppler * 190));  // mm/s along the line of sight
        p.U16(at + 10, static_cast<uint16_t>(static_cast<int16_t>(doppler)));
    }
    return Frame(IdReport, 0xD3, p);
}

std::string NavD4(const ScenarioState& st) {
    Payload p(32);
    UtcTime u = UtcOf(st.UnixMs);
    double tow = u.TowMs / 1000.0;
    p.F64(0, tow);
    const double biasM = 95000.0 + st.ClockDrift * 0.2998 * std::fmod(tow, 1000.0);  // clock bias, metres
    p.F64(8, biasM);
    p.F64(16, biasM / 299792458.0);  // seconds
    p.F32(24, static_cast<float>(st.ClockDrift));
    return Frame(IdReport, 0xD4, p);
}

std::string EphemerisRecord(uint32_t seed, int count, int prn) {
    Payload p(122);
    p.U8(0, count);
    p.U8(1, prn);
    // Three subframes of ten 32-bit words; each subframe starts with its telemetry preamble.
    for (int sf = 0; sf < 3; ++sf)
        for (int w = 0; w < 10; ++w)
            p.U32(2 + sf * 40 + w * 4, w == 0 ? 0x8B000000u | (sf + 1) : Word(seed, prn, 1, sf * 10 + w));
    return Frame(IdReport, 0x83, p);
}

std::string AlmanacRecord(uint32_t seed, int count, int prn) {
    Payload p(50);
    p.U8(0, count);
    p.U8(1, prn);
    p.U32(2, static_cast<uint32_t>(prn) << 24 | 0x00400000u);  // satellite id and health word
    for (int w = 1; w < 12; ++w) p.U32(2 + w * 4, Word(seed, prn, 2, w));
    return Frame(IdReport, 0x84, p);
}

TraceEntry MakeTraceEntry(const ScenarioState& st) {
    TraceEntry e{};
    UtcTime u = UtcOf(st.UnixMs);
    e.W = static_cast<uint32_t>(u.GpsWeek % 4096) << 20 | static_cast<uint32_t>(u.TowMs / 1000);
    double x, y, z;
    GeodeticToEcef(st.LatitudeDeg, st.LongitudeDeg, st.AltitudeM + st.GeoidSepM, x, y, z);
    e.X = static_cast<int32_t>(std::lround(x));
    e.Y = static_cast<int32_t>(std::lround(y));
    e.Z = static_cast<int32_t>(std::lround(z));
    e.F = static_cast<uint16_t>(Clamp8(st.SpeedMps * 3.6));
    if (st.Fix == FixKind::Fix3D) e.F |= 1u << 12;
    if (st.Fix != FixKind::None) e.F |= 1u << 13;
    return e;
}

std::string TraceRecordFrame(const TraceEntry& e) {
    Payload p(18);
    p.U32(0, e.W);
    p.U32(4, static_cast<uint32_t>(e.X));
    p.U32(8, static_cast<uint32_t>(e.Y));
    p.U32(12, static_cast<uint32_t>(e.Z));
    p.U16(16, e.F);
    return Frame(IdReport, 0x88, p);
}

}  // namespace vantora::sim
