#include "protocol/loader_crc.h"

#include <array>

namespace vantora {

namespace {

constexpr std::array<uint16_t, 256> MakeTable() {
    std::array<uint16_t, 256> t{};
    for (int i = 0; i < 256; ++i) {
        uint16_t c = static_cast<uint16_t>(i << 8);
        for (int b = 0; b < 8; ++b) c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1);
        t[i] = c;
    }
    return t;
}

constexpr std::array<uint16_t, 256> Table = MakeTable();

inline uint16_t Feed(uint16_t acc, uint8_t x) {
    return static_cast<uint16_t>(Table[((acc >> 8) ^ x) & 0xFF] ^ (acc << 8));
}

}  // namespace

uint16_t LoaderCrc16(const uint8_t* data, size_t wordCount, uint16_t acc) {
    if (data == nullptr) return acc;
    for (size_t i = 0; i < wordCount; ++i) {
        acc = Feed(acc, data[2 * i + 1]);
        acc = Feed(acc, data[2 * i]);
    }
    return acc;
}

}  // namespace vantora
