// Binary frames that the simulated receiver sends: acknowledgements, the periodic
// navigation blocks D0h..D4h and the data records, laid out as the host's decoders read them.
#pragma once

#include <cstdint>
#include <string>

#include "sim/scenario.h"

namespace vantora::sim {

// Little-endian writer over a fixed payload; writes outside it are ignored.
class Payload {
public:
    explicit Payload(int size) : size_(size) {}
    void U8(int at, uint32_t v) { Int(at, v, 1); }
    void U16(int at, uint32_t v) { Int(at, v, 2); }
    void U32(int at, uint32_t v) { Int(at, v, 4); }
    void F32(int at, float v);
    void F64(int at, double v);
    const uint8_t* Data() const { return bytes_; }
    int Size() const { return size_; }

private:
    void Int(int at, uint64_t v, int n);
    uint8_t bytes_[160] = {};
    int size_;
};

// One whole frame: %% id1 id2 payload checksum CR LF.
std::string Frame(uint8_t id1, uint8_t id2, const Payload& payload);
std::string AckFrame(uint8_t command);
std::string NakFrame(uint8_t command);

std::string NavD0(const ScenarioState& st);
std::string NavD1(const ScenarioState& st);
std::string NavD2(const ScenarioState& st);
std::string NavD3(const ScenarioState& st);
std::string NavD4(const ScenarioState& st);

// One ephemeris (F2h 83h) or almanac (F2h 84h) record; count is the number announced.
std::string EphemerisRecord(uint32_t seed, int count, int prn);
std::string AlmanacRecord(uint32_t seed, int count, int prn);

// A trace buffer entry and its F2h 88h frame.
struct TraceEntry {
    uint32_t W;       // bits 20..31 GPS week modulo 4096, bits 0..19 seconds into the week
    int32_t X, Y, Z;  // ECEF metres
    uint16_t F;       // bits 0..7 speed km/h, bit 12 3D fix, bit 13 position valid
};
TraceEntry MakeTraceEntry(const ScenarioState& st);
std::string TraceRecordFrame(const TraceEntry& e);

uint8_t Bcd(int v);  // 0..99 as packed BCD

}  // namespace vantora::sim
