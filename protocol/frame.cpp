#include "protocol/frame.h"

#include <cstring>

namespace vantora {

uint8_t XorChecksum(const uint8_t* data, int count) {
    uint8_t x = 0;
    for (int i = 0; i < count; ++i) x ^= data[i];
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
