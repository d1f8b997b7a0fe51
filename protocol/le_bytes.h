// Little-endian numbers in payloads, assembled byte by byte: fields sit at odd offsets.
#pragma once

#include <cstdint>
#include <cstring>

namespace vantora::le {

inline uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline int16_t S16(const uint8_t* p) { return static_cast<int16_t>(U16(p)); }
inline uint32_t U32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
inline int32_t S32(const uint8_t* p) { return static_cast<int32_t>(U32(p)); }
inline uint64_t U64(const uint8_t* p) { return static_cast<uint64_t>(U32(p)) | static_cast<uint64_t>(U32(p + 4)) << 32; }
inline float F32(const uint8_t* p) {
    const uint32_t bits = U32(p);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}
inline double F64(const uint8_t* p) {
    const uint64_t bits = U64(p);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

}  // namespace vantora::le
