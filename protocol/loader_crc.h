// The flash loader's CRC-16: both ends compute it over everything the host streams, and the
// receiver reports its value when programming ends.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantora {

// Updates acc over wordCount 16-bit little-endian words at data, feeding each word's high byte
// first: polynomial 1021h, most significant bit first, no reflection, no final XOR. From an
// accumulator of 0 this is CRC-16/XMODEM of the data with the bytes of each pair swapped.
uint16_t LoaderCrc16(const uint8_t* data, size_t wordCount, uint16_t acc = 0);

}  // namespace vantora
