// Receiver output for tests and benchmarks: single sentences and frames with their checksums,
// and a realistic stream where each second holds a 1 Hz receiver's GGA, GSA, three GSV and
// RMC, and the binary D0h..D4h blocks.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "protocol/binary.h"
#include "protocol/frame.h"
#include "protocol/splitter.h"

namespace vantora::sample {

inline std::string Sentence(const std::string& body) {
    const uint8_t cs =
        XorChecksum(reinterpret_cast<const uint8_t*>(body.data()), static_cast<int>(body.size()));
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", cs);
    return "$" + body + tail;
}

inline std::string BinaryFrame(uint8_t id1, uint8_t id2, const std::vector<uint8_t>& payload) {
    uint8_t out[MaxFrameLength];
    const int n = BuildFrame(id1, id2, payload.data(), static_cast<int>(payload.size()), out, sizeof out);
    return std::string(reinterpret_cast<char*>(out), static_cast<size_t>(n));
}

inline std::string NmeaSecond(int s) {
    char b[128];
    std::string out;
    std::snprintf(b, sizeof b, "GPGGA,%02d%02d%02d.000,2503.%04d,N,12138.%04d,E,1,09,0.9,%d.4,M,15.0,M,,", 12,
                  (s / 60) % 60, s % 60, 1000 + s % 9000, 2000 + s % 7000, 40 + s % 20);
    out += Sentence(b);
    out += Sentence("GPGSA,A,3,02,05,07,09,13,17,20,24,28,,,,1.8,0.9,1.5");
    out += Sentence("GPGSV,3,1,11,02,45,123,42,05,30,045,38,07,12,300,33,09,67,210,45");
    out += Sentence("GPGSV,3,2,11,13,22,080,36,17,51,170,44,20,08,250,30,24,35,330,40");
    out += Sentence("GPGSV,3,3,11,28,60,020,46,30,05,110,,31,15,190,28");
    std::snprintf(b, sizeof b, "GPRMC,%02d%02d%02d.000,A,2503.1234,N,12138.5678,E,12.5,%03d.0,071226,,,A", 12,
                  (s / 60) % 60, s % 60, s % 360);
    out += Sentence(b);
    return out;
}

inline std::vector<std::string> BinarySecondFrames(int s) {
    std::vector<uint8_t> d0(41, 0), d1(37, 0), d2(102, 0), d3(152, 0), d4(32, 0);
    d0[6] = 7, d0[7] = 12, d0[8] = 0xEA, d0[9] = 0x07, d0[10] = s % 60, d0[28] = 0, d0[29] = 2, d0[30] = 9,
    d0[31] = 8;
    d1[28] = 0, d1[29] = 2, d1[30] = 9, d1[31] = 8;
    for (int i = 0; i < 12; ++i) {
        d2[6 + 8 * i] = static_cast<uint8_t>(i + 1);
        d2[6 + 8 * i + 4] = static_cast<uint8_t>(10 + i * 6);
        d2[6 + 8 * i + 5] = 40;
        d2[6 + 8 * i + 7] = 1;  // used in solution
        d3[8 + 12 * i] = static_cast<uint8_t>(i + 1);
    }
    return {BinaryFrame(IdReport, 0xD0, d0), BinaryFrame(IdReport, 0xD1, d1), BinaryFrame(IdReport, 0xD2, d2),
            BinaryFrame(IdReport, 0xD3, d3), BinaryFrame(IdReport, 0xD4, d4)};
}

inline std::string BinarySecond(int s) {
    std::string out;
    for (const std::string& f : BinarySecondFrames(s)) out += f;
    return out;
}

// Counts what the splitter ended or abandoned.
class CountingSink : public SplitterSink {
public:
    void ItemEnded(const SplitItem&) override { ++items; }
    int64_t items = 0;
};

struct Stream {
    std::string nmea;
    std::string binary;
    std::string mixed;
    int sentences = 0;
    int frames = 0;
};

// seconds of output of each kind, and both interleaved as a receiver would send them.
inline Stream Make(int seconds) {
    Stream st;
    for (int s = 0; s < seconds; ++s) {
        const std::string n = NmeaSecond(s);
        const std::string b = BinarySecond(s);
        st.nmea += n;
        st.binary += b;
        st.mixed += n + b;
        st.sentences += 6;
        st.frames += 5;
    }
    return st;
}

}  // namespace vantora::sample
