#include "protocol/frame.h"

#include <cstring>

namespace vantora {

uint8_t XorChecksum(const uint8_t* data, int count) {
    // Eight bytes at a time, folded at the end: frames of a few hundred bytes are common.
    uint64_t wide = 0;
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        uint64_t w;
        std::memcpy(&w, data + i, sizeof w);
        wide ^= w;
    }
    wide ^= wide >> 32;
    wide ^= wide >> 16;
    wide ^= wide >> 8;
    auto x = static_cast<uint8_t>(wide);
    for (; i < count; ++i) x ^= data[i];
    return x;
}

int BuildFrame(uint8_t id1, uint8_t id2, const uint8_t* payload, int payloadLen, uint8_t* out, int cap) {
    if (payloadLen < 0 || payloadLen + 7 > cap) return 0;
    out[0] = FrameMarker;
    out[1] = FrameMarker;
    out[2] = id1;
    out[3] = id2;
    if (payloadLen > 0) std::memcpy(out + 4, payload, payloadLen);
    out[4 + payloadLen] = XorChecksum(out + 2, payloadLen + 2);
    out[5 + payloadLen] = 0x0D;
    out[6 + payloadLen] = 0x0A;
    return payloadLen + 7;
}

std::string FormatFrameHex(const uint8_t* data, int len) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(len > 0 ? len * 3 : 0);
    for (int i = 0; i < len; ++i) {
        s += digits[data[i] >> 4];
        s += digits[data[i] & 15];
        s += ' ';
    }
    return s;
}

}  // namespace vantora
